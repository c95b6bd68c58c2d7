// Deleting and undeleting items.
//
// Deletion never removes bytes: the entry leaves the sorted run of live
// entries and becomes the last record of the deleted tail, its deleted bit
// is set in the entry and in its slot record, and the total items go down by
// one.  Undeletion brings back the most recently deleted entry of a name.
// The slot flag is changed first, then the control file in one write (the
// trailer with it when a deletion moves entries); when the control file
// cannot be written the flag goes back, so that a failed call leaves the item
// as it was and the result and the files agree.
#include <cstring>

#include "ctl/names.h"
#include "ctl/search.h"
#include "ctl/session.h"
#include "ctl/window.h"
#include "errlog/errlog.h"
#include "items/datafile.h"
#include "items/items.h"
#include "base/lockfile.h"
#include "platform/platform.h"

namespace {

// Names already normalised compare byte by byte, up to a NUL both share.
bool same_name(const char* a, const char* b) { return std::strncmp(a, b, ITEM_NAME_SIZE) == 0; }

}  // namespace

// Searches the deleted tail backwards from the last record before the
// trailer.  1: found (out holds it, the stream just past it); 1007: not in
// the tail; 1002: a read failed.
int find_deleted_entry(FILE* ctl, const char* key, CtlEntry* out, long* at) {
  // The tail is read backwards a block of the entry window at a time.
  CtlEntry* block = ctl_window();
  for (long end = ctl_trailer_offset(); end > 0;) {
    long begin = end - static_cast<long>(WINDOW_BYTES);
    if (begin < 0) begin = 0;
    size_t n = static_cast<size_t>((end - begin) / CTL_RECORD_SIZE);
    if (plat_fseek(ctl, begin, SEEK_SET) != 0 || plat_fread(block, CTL_RECORD_SIZE, n, ctl) != n) {
      return CLASSIC_IO_ERROR;
    }
    for (size_t i = n; i-- > 0;) {
      if (!(block[i].flags & ENTRY_DELETED)) return CLASSIC_NOT_FOUND;
      if (same_name(block[i].name, key)) {
        *out = block[i];
        *at = begin + static_cast<long>(i) * CTL_RECORD_SIZE;
        return CLASSIC_OK;
      }
    }
    end = begin;
  }
  return CLASSIC_NOT_FOUND;
}

int classic_delete_item(const char* ctl_path, const char* name, const char* pattern) {
  char key[ITEM_NAME_SIZE];
  normalize_item_name(key, name ? name : "", ITEM_NAME_SIZE);
  CtlSession session;
  int r = find_closed_item(session, ctl_path, key, REPORT_DELETE_WRITER, REPORT_DELETE_READERS);
  if (r != CLASSIC_OK) return r;
  FILE* ctl = session.stream();

  const long p = ctl_found_offset();
  r = set_slot_flags(ctl_path, pattern, &ctl_entry(), 0xFF, ENTRY_DELETED);
  if (r != CLASSIC_OK) return r;
  ctl_entry().flags |= ENTRY_DELETED;
  CtlTrailer after = ctl_trailer();
  --after.total_items;
  // An entry that is already the last record before the trailer is flagged
  // in place; the trailer follows it in the same write.
  r = remove_entry(ctl, &ctl_entry(), p, ctl_trailer_offset(), &after);
  if (r != CLASSIC_OK) {
    set_slot_flags(ctl_path, pattern, &ctl_entry(), 0xFF & ~ENTRY_DELETED, 0);
    return r;
  }
  ctl_trailer() = after;
  return session.finish(CLASSIC_OK);
}

int classic_undelete_item(const char* ctl_path, const char* name, const char* pattern) {
  CtlSession session;
  int status = session.open(ctl_path, CTL_UPDATE);
  if (!ctl_opened(status)) return status;
  FILE* ctl = session.stream();
  char key[ITEM_NAME_SIZE];
  normalize_item_name(key, name ? name : "", ITEM_NAME_SIZE);
  int r = ctl_find_entry(ctl, key, &ctl_scratch_entry());
  if (r == CLASSIC_OK) {
    r = CLASSIC_NAME_IN_USE;
  } else if (r == CLASSIC_NOT_FOUND) {
    const long q = ctl_found_offset();
    long d = -1;
    r = find_deleted_entry(ctl, key, &ctl_entry(), &d);
    if (r == CLASSIC_OK) {
      r = set_slot_flags(ctl_path, pattern, &ctl_entry(), 0xFD, 0);
      if (r == CLASSIC_OK) {
        ctl_entry().flags &= static_cast<uint8_t>(~ENTRY_DELETED);
        r = insert_entry(ctl, &ctl_entry(), d, q);
        if (r == CLASSIC_OK) {
          ++ctl_trailer().total_items;
        } else {
          set_slot_flags(ctl_path, pattern, &ctl_entry(), 0xFF, ENTRY_DELETED);
        }
      }
    }
  }
  return session.finish(r);
}
