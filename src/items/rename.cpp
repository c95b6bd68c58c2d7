// Renaming items and setting their attribute.
//
// Both keep the entry and the slot record in step and change neither stamps,
// size, suffix, slot nor the trailer's counters.  The slot record is changed
// first, then the control file in one write; when the control file cannot be
// written the slot record is put back, so that a failed call leaves the item
// as it was.
#include <cstring>

#include "base/lockfile.h"
#include "ctl/names.h"
#include "ctl/search.h"
#include "ctl/session.h"
#include "errlog/errlog.h"
#include "items/datafile.h"
#include "items/items.h"
#include "platform/platform.h"
#include "storage/netxlat.h"

namespace {

// Changes the slot record of entry with change, keeping the record as it was
// in *before: 1, 1002 or the translation status.
template <typename Change>
int change_slot(const char* ctl_path, const char* pattern, const CtlEntry* entry, SlotRecord* before,
                Change change) {
  SlotRecord* slot = nullptr;
  int status = CLASSIC_OK;
  int fd = open_slot(ctl_path, pattern, entry, &slot, &status);
  if (fd < 0) return status;
  *before = *slot;
  change(*slot);
  return write_slot(fd);
}

// Puts a slot record back as change_slot found it.
void restore_slot(const char* ctl_path, const char* pattern, const CtlEntry* entry,
                  const SlotRecord& before) {
  SlotRecord ignored;
  change_slot(ctl_path, pattern, entry, &ignored, [&](SlotRecord& slot) { slot = before; });
}

}  // namespace

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
  const long o = ctl_found_offset();
  int found = ctl_find_entry(ctl, new_key, &ctl_scratch_entry());
  if (found == CLASSIC_OK) return CLASSIC_NAME_IN_USE;
  if (found != CLASSIC_NOT_FOUND) return found;
  const long n = ctl_found_offset();

  SlotRecord before;
  r = change_slot(ctl_path, pattern, &renamed, &before,
                  [&](SlotRecord& slot) { std::memcpy(slot.name, new_key, ITEM_NAME_SIZE); });
  if (r != CLASSIC_OK) return r;
  if (n == o) {
    if (plat_fseek(ctl, o, SEEK_SET) != 0 || plat_fwrite(&renamed, sizeof renamed, 1, ctl) != 1) {
      r = CLASSIC_IO_ERROR;
    }
  } else if (n > o) {
    r = remove_entry(ctl, &renamed, o, n);
  } else {
    r = insert_entry(ctl, &renamed, o, n);
  }
  if (r != CLASSIC_OK) {
    restore_slot(ctl_path, pattern, &renamed, before);
    return r;
  }
  return session.finish(CLASSIC_OK);
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
  CtlEntry& entry = ctl_entry();
  SlotRecord before;
  int r = change_slot(ctl_path, pattern, &entry, &before,
                      [&](SlotRecord& slot) { slot.attribute = static_cast<uint16_t>(attribute); });
  if (r != CLASSIC_OK) return CLASSIC_IO_ERROR;
  entry.attribute = static_cast<uint16_t>(attribute);
  if (plat_fseek(ctl, ctl_found_offset(), SEEK_SET) != 0 || plat_fwrite(&entry, sizeof entry, 1, ctl) != 1) {
    restore_slot(ctl_path, pattern, &entry, before);
    return CLASSIC_IO_ERROR;
  }
  return session.finish(CLASSIC_OK);
}
