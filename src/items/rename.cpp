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
  CtlSession session;
  // Readers that stay are not reported.
  int r = find_closed_item(session, ctl_path, old_key, REPORT_RENAME_WRITER, 0);
  if (r != CLASSIC_OK) return r;
  FILE* ctl = session.stream();

  // The entry under its new name goes to the new name's place among the
  // live entries.
  char new_key[ITEM_NAME_SIZE];
  normalize_item_name(new_key, new_name ? new_name : "", ITEM_NAME_SIZE);
  std::memcpy(ctl_entry().name, new_key, ITEM_NAME_SIZE);
  CtlEntry renamed = ctl_entry();
  long o = -1;
  if (plat_fseek(ctl, -CTL_RECORD_SIZE, SEEK_CUR) != 0 || (o = plat_ftell(ctl)) < 0) {
    return CLASSIC_IO_ERROR;
  }
  int found = ctl_find_entry(ctl, new_key, &ctl_scratch_entry());
  if (found == CLASSIC_OK) return CLASSIC_NAME_IN_USE;
  if (found != CLASSIC_NOT_FOUND) return found;
  long n = -1;
  if (plat_fseek(ctl, -CTL_RECORD_SIZE, SEEK_CUR) != 0 || (n = plat_ftell(ctl)) < 0) {
    return CLASSIC_IO_ERROR;
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
  if (r != CLASSIC_OK) return r;

  // Then the slot record's name.
  SlotRecord* slot = nullptr;
  int fd = open_slot(ctl_path, pattern, &renamed, &slot, &r);
  if (fd < 0) return r;
  std::memcpy(slot->name, new_key, ITEM_NAME_SIZE);
  return write_slot(fd);
}

int classic_set_attribute(const char* ctl_path, const char* pattern, const char* name,
                          short attribute) {
  CtlSession session;
  int status = session.open(ctl_path, CTL_UPDATE);
  if (!ctl_opened(status)) return status;
  FILE* ctl = session.stream();
  char key[ITEM_NAME_SIZE];
  normalize_item_name(key, name ? name : "", ITEM_NAME_SIZE);
  if (ctl_find_entry(ctl, key, &ctl_entry()) != CLASSIC_OK) return CLASSIC_NOT_FOUND;
  ctl_entry().attribute = static_cast<uint16_t>(attribute);
  if (plat_fseek(ctl, -CTL_RECORD_SIZE, SEEK_CUR) != 0 || plat_ftell(ctl) < 0 ||
      plat_fwrite(&ctl_entry(), sizeof ctl_entry(), 1, ctl) != 1) {
    return CLASSIC_IO_ERROR;
  }
  int r = set_slot_attribute(ctl_path, pattern, &ctl_entry(), static_cast<uint16_t>(attribute));
  return r == CLASSIC_OK ? CLASSIC_OK : CLASSIC_IO_ERROR;
}
