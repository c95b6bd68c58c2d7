// Closing items.
//
// A close undoes the two registrations of an open: one reader off the
// item's open state or the writer's -1 cleared, and one off the trailer's
// open count.  When the closing writer created the item (its slot's data
// length is still -1), the item's length becomes the bytes between the
// slot's data offset and the end of the data file.
//
// A writer's bytes must reach the data file before the item counts as
// written: when the stream reports an error, or its flush or its close
// fails, the close reports 1002.  A new item is then not left live: it goes
// to the deleted tail with the bytes that reached the file (undelete brings
// it back); a new version goes there too, and the version it replaced is
// live again.  An item rewritten in place is released as it is.
#include <algorithm>
#include <cstring>
#include <vector>

#include "base/lockfile.h"
#include "ctl/names.h"
#include "ctl/search.h"
#include "ctl/session.h"
#include "items/datafile.h"
#include "items/items.h"
#include "platform/platform.h"
#include "storage/netxlat.h"

namespace {

constexpr int kSessionPause = 500;

// Whether waiting can clear a session that could not be opened or searched:
// a control file that other sessions, an area lock or another process hold,
// or a read or write that failed once.  A file that is missing, of another
// version or whose path cannot be translated stays so however long the close
// waits.  An item whose close gives up stays open, so the close tries as
// long as its budget lasts.
bool worth_waiting(int status, const char* ctl_path) {
  switch (status) {
    case CLASSIC_LOCKED:
    case CLASSIC_AREA_LOCKED:
    case CLASSIC_IO_ERROR:
      return true;
    case CLASSIC_CANNOT_OPEN:
      // Held beyond the opener's attempts, as long as the file is there.
      return classic_netxlat(ctl_path, translated_path()) == CLASSIC_OK &&
             plat_access(translated_path(), 0) == 0;
    default:
      return false;
  }
}

// Ends a writer's stream: its bytes flushed to the data file and, when its
// creator closes the item, the item's length fixed in the header (one
// write).  True when everything reached the file; the stream is closed
// either way, given up without its buffered bytes when they could not be
// written.
bool end_writer(FILE* stream) {
  bool ok = plat_fflush(stream) == 0 && !std::ferror(stream);
  // With nothing buffered, the header is read and written in place.
  const int fd = plat_fileno(stream);
  long end = -1;
  ok = ok && (end = plat_file_length(fd)) >= 0 &&
       plat_pread(fd, &data_header(), sizeof data_header(), 0) == static_cast<long>(sizeof data_header());
  SlotRecord* slot = ok ? slot_of(ctl_entry()) : nullptr;
  ok = ok && slot;
  if (ok && slot->data_length < 0) {
    long length = std::max(0L, end - static_cast<long>(slot->data_offset));
    slot->data_length = static_cast<int32_t>(length);
    ctl_entry().size = slot->data_length;
    ok = plat_pwrite(fd, &data_header(), sizeof data_header(), 0) == static_cast<long>(sizeof data_header());
  }
  if (!ok) {
    plat_fdiscard(stream);
    return false;
  }
  return plat_fclose(stream) == 0;
}

// The deleted entry at the offset the tail search leaves, or -1: the
// version that a creation replaced (its suffix and slot), searched from
// the end of the deleted tail.
long find_replaced(FILE* ctl, const PendingCreation& p) {
  for (long pos = ctl_trailer_offset() - CTL_RECORD_SIZE; pos >= 0; pos -= CTL_RECORD_SIZE) {
    CtlEntry e;
    if (plat_fseek(ctl, pos, SEEK_SET) != 0 || plat_fread(&e, sizeof e, 1, ctl) != 1) return -1;
    if (!(e.flags & ENTRY_DELETED)) return -1;
    if (e.slot == p.old_slot && std::memcmp(e.suffix, p.old_suffix, 3) == 0 &&
        std::memcmp(e.name, p.name, ITEM_NAME_SIZE) == 0) {
      return pos;
    }
  }
  return -1;
}

// Writes an entry at pos; a write that fails is made once more, since an
// entry left open for writing would keep its item from everybody.
bool write_entry_at(FILE* ctl, long pos, const CtlEntry& e) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (plat_fseek(ctl, pos, SEEK_SET) == 0 && plat_fwrite(&e, sizeof e, 1, ctl) == 1) return true;
  }
  return false;
}

// A creation whose bytes did not all reach the file: the new item goes to
// the deleted tail with the bytes that did (its slot flagged deleted, its
// length what the file holds), and a version it replaced is live again in
// its place.  The current entry stands at pos.
int abandon_creation(FILE* ctl, long pos, const PendingCreation& p, const char* ctl_path) {
  const char* pattern = p.pattern;
  CtlEntry& entry = ctl_entry();
  SlotRecord* slot = nullptr;
  int status = CLASSIC_IO_ERROR;
  int fd = open_slot(ctl_path, pattern, &entry, &slot, &status);
  if (fd < 0) return status;
  long size = plat_file_length(fd);
  long length = std::max(0L, size - static_cast<long>(slot->data_offset));
  slot->data_length = static_cast<int32_t>(length);
  slot->flags |= ENTRY_DELETED;
  if (write_slot(fd) != CLASSIC_OK) return CLASSIC_IO_ERROR;
  entry.size = static_cast<int32_t>(length);
  entry.flags |= ENTRY_DELETED;
  entry.open_state = 0;
  if (ctl_trailer().open_count > 0) --ctl_trailer().open_count;

  long old_pos = p.replaced ? find_replaced(ctl, p) : -1;
  if (old_pos < 0) {
    CtlTrailer after = ctl_trailer();
    --after.total_items;
    int r = remove_entry(ctl, &entry, pos, ctl_trailer_offset(), &after);
    if (r == CLASSIC_OK) ctl_trailer() = after;
    return r;
  }
  // The versions change places in one write: the old one live where the new
  // one stood, the new one in the tail where the old one waited.
  long count = (old_pos - pos) / CTL_RECORD_SIZE + 1;
  std::vector<CtlEntry> region(static_cast<size_t>(count));
  if (plat_fseek(ctl, pos, SEEK_SET) != 0 ||
      plat_fread(region.data(), sizeof(CtlEntry), region.size(), ctl) != region.size()) {
    return CLASSIC_IO_ERROR;
  }
  CtlEntry old = region.back();
  old.flags &= static_cast<uint8_t>(~ENTRY_DELETED);
  int r = set_slot_flags(ctl_path, pattern, &old, 0xFF & ~ENTRY_DELETED, 0);
  if (r != CLASSIC_OK) return r;
  region.front() = old;
  region.back() = entry;
  if (plat_fseek(ctl, pos, SEEK_SET) != 0 ||
      plat_fwrite(region.data(), sizeof(CtlEntry), region.size(), ctl) != region.size()) {
    return CLASSIC_IO_ERROR;
  }
  return CLASSIC_OK;
}

}  // namespace

int classic_close_item(const char* ctl_path, const char* name, FILE* stream) {
  if (!stream || !ctl_path) return CLASSIC_IO_ERROR;
  char key[ITEM_NAME_SIZE];
  normalize_item_name(key, name ? name : "", ITEM_NAME_SIZE);

  if (on_removable_drive(ctl_path)) {
    // A reader on a removable drive left no mark: a read session tells.
    CtlSession reader;
    int status = reader.open(ctl_path, CTL_READ);
    if (!ctl_opened(status)) return status;
    int found = ctl_find_entry(reader.stream(), key, &ctl_entry());
    int8_t state = ctl_entry().open_state;
    reader.close();
    if (found != CLASSIC_OK) return found;
    if (state == 0) {
      plat_fclose(stream);
      return CLASSIC_OK;
    }
  }

  CtlSession session;
  int status = CLASSIC_OK;
  long pos = -1;
  for (int attempts = ITEM_ATTEMPTS;; lock_wait(1, kSessionPause)) {
    status = session.open(ctl_path, CTL_UPDATE);
    int found = ctl_opened(status) ? ctl_find_entry(session.stream(), key, &ctl_entry()) : status;
    if (found == CLASSIC_OK) {
      pos = ctl_found_offset();
      break;
    }
    session.close();
    if (!worth_waiting(found, ctl_path) || --attempts == 0) return found;
    wait_about(ctl_path, found == CLASSIC_AREA_LOCKED ? "the area is locked" : "the control file is held");
  }
  FILE* ctl = session.stream();
  bool unmarked = false;
  if (ctl_entry().open_state > 0) {
    --ctl_entry().open_state;
    plat_fclose(stream);
  } else {
    if (ctl_entry().open_state == 0) {
      if (status != CLASSIC_OK_REMOVABLE) return CLASSIC_NOT_OPEN;
      unmarked = true;
    }
    PendingCreation pending{};
    bool created = take_creation(ctl_entry(), &pending);
    if (!end_writer(stream)) {
      if (created) {
        abandon_creation(ctl, pos, pending, ctl_path);
        return CLASSIC_IO_ERROR;
      }
      // Bytes rewritten in place stay as far as they got; the item is
      // released all the same.
      ctl_entry().open_state = 0;
      if (ctl_trailer().open_count > 0) --ctl_trailer().open_count;
      if (!(status == CLASSIC_OK_REMOVABLE && unmarked)) write_entry_at(ctl, pos, ctl_entry());
      return CLASSIC_IO_ERROR;
    }
    ctl_entry().open_state = 0;
  }
  bool written = true;
  if (!(status == CLASSIC_OK_REMOVABLE && unmarked)) written = write_entry_at(ctl, pos, ctl_entry());
  if (ctl_trailer().open_count > 0) --ctl_trailer().open_count;
  return session.finish(written ? CLASSIC_OK : CLASSIC_IO_ERROR);
}
