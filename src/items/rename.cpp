// Renaming items and setting their attribute.
//
// Both keep the entry and the slot record in step and change neither stamps,
// size, suffix, slot nor the trailer's counters.  The control file is
// changed first, then the data file.
#include <cstring>

#include "ctl/names.h"
#include "ctl/search.h"
#include "ctl/session.h"
#include "errlog/errlog.h"
#include "items/datafile.h"
#include "items/items.h"
#include "base/lockfile.h"
#include "platform/platform.h"
#include "storage/netxlat.h"

int set_slot_attribute(const char* ctl_path, const char* pattern, const CtlEntry* entry,
                       uint16_t attribute) {
  SlotRecord* slot = nullptr;
  int status = CLASSIC_OK;
  int fd = open_slot(ctl_path, pattern, entry, &slot, &status);
  if (fd < 0) return status;
  slot->attribute = attribute;
  return write_slot(fd);
}

int classic_rename_item(const char* ctl_path, const char* old_name, const char* new_name,
                        const char* pattern) {
  char old_key[ITEM_NAME_SIZE];
  normalize_item_name(old_key, old_name ? old_name : "", ITEM_NAME_SIZE);
  FILE* ctl = nullptr;
  int status = 0;
  // Readers that stay are not reported.
  int r = find_closed_item(&ctl, &status, ctl_path, old_key, REPORT_RENAME_WRITER, 0);
  if (r != CLASSIC_OK) return r;

  // The entry under its new name goes to the new name's place among the
  // live entries.
  char new_key[ITEM_NAME_SIZE];
  normalize_item_name(new_key, new_name ? new_name : "", ITEM_NAME_SIZE);
  std::memcpy(g_entry.name, new_key, ITEM_NAME_SIZE);
  CtlEntry renamed = g_entry;
  // Every way out of the rename ends the session.
  auto finish = [&](int result) {
    ctl_close(ctl, CTL_UPDATE, status);
    return result;
  };
  long o = -1;
  if (plat_fseek(ctl, -CTL_RECORD_SIZE, SEEK_CUR) != 0 || (o = plat_ftell(ctl)) < 0) {
    return finish(CLASSIC_IO_ERROR);
  }
  int found = ctl_find_entry(ctl, new_key, &g_scratch_entry);
  if (found == CLASSIC_OK) return finish(CLASSIC_NAME_IN_USE);
  if (found != CLASSIC_NOT_FOUND) return finish(found);
  long n = -1;
  if (plat_fseek(ctl, -CTL_RECORD_SIZE, SEEK_CUR) != 0 || (n = plat_ftell(ctl)) < 0) {
    return finish(CLASSIC_IO_ERROR);
  }
  if (n == o) {
    if (plat_fseek(ctl, o, SEEK_SET) != 0 || plat_fwrite(&renamed, sizeof renamed, 1, ctl) != 1) {
      r = CLASSIC_IO_ERROR;
    }
  } else if (n > o) {
    r = remove_entry(ctl, &renamed, o, n);
  } else {
    r = insert_entry(ctl, &renamed, o, n);
  }
  if (r != CLASSIC_OK) return finish(r);

  // Then the slot record's name.
  SlotRecord* slot = nullptr;
  int fd = open_slot(ctl_path, pattern, &renamed, &slot, &r);
  if (fd < 0) return finish(r);
  std::memcpy(slot->name, new_key, ITEM_NAME_SIZE);
  return finish(write_slot(fd));
}

int classic_set_attribute(const char* ctl_path, const char* pattern, const char* name,
                          short attribute) {
  FILE* ctl = nullptr;
  int status = ctl_open(&ctl, ctl_path, CTL_UPDATE);
  if (!ctl_opened(status)) return status;
  char key[ITEM_NAME_SIZE];
  normalize_item_name(key, name ? name : "", ITEM_NAME_SIZE);
  if (ctl_find_entry(ctl, key, &g_entry) != CLASSIC_OK) {
    ctl_close(ctl, CTL_UPDATE, status);
    return CLASSIC_NOT_FOUND;
  }
  g_entry.attribute = static_cast<uint16_t>(attribute);
  if (plat_fseek(ctl, -CTL_RECORD_SIZE, SEEK_CUR) != 0 || plat_ftell(ctl) < 0 ||
      plat_fwrite(&g_entry, sizeof g_entry, 1, ctl) != 1) {
    ctl_close(ctl, CTL_UPDATE, status);
    return CLASSIC_IO_ERROR;
  }
  int r = set_slot_attribute(ctl_path, pattern, &g_entry, static_cast<uint16_t>(attribute));
  ctl_close(ctl, CTL_UPDATE, status);
  return r == CLASSIC_OK ? CLASSIC_OK : CLASSIC_IO_ERROR;
}
