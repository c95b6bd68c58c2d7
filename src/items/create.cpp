// Creating items and new versions of items.
//
// A creation takes the next free slot of the data file being filled (a new
// data file for slot 0) and writes, in this order:
//   1. the data-file header with the slot taken (data length -1), in one
//      write, flushed and committed;
//   2. for a replacement, the old version's slot flagged deleted in its data
//      file;
//   3. the control file in one write: the new entry moved into its place and
//      the trailer advanced one record further (plain creation), or the new
//      entry over the old one, the old one at the end of the deleted tail and
//      the trailer behind it (replacement).
// A write that fails is undone by the steps before it (the slot given back,
// the flag cleared), so that a failed creation leaves the store as it was.
// A process that ends between the steps leaves a slot taken but named by no
// entry: the next creation there finds the trailer stale, repairs it to a
// fresh data file and tries again.
#include <cstdlib>
#include <cstring>

#include "base/text.h"
#include "ctl/search.h"
#include "ctl/session.h"
#include "ctl/types.h"
#include "errlog/errlog.h"
#include "items/datafile.h"
#include "items/items.h"
#include "platform/platform.h"
#include "storage/netxlat.h"

namespace {

// The stream of a new item holds the whole data-file header, so that the
// header reaches the file in one write.
constexpr size_t kNewItemBuffer = 2048;
static_assert(kNewItemBuffer >= DATA_HEADER_SIZE);

// The stamps of a new slot: from the caller's record, from the old version
// for a replacement, or fresh.
void stamp_new_slot(SlotRecord& slot, int mode, const CTRL_ENTRY_INFO* info, const CtlEntry* old,
                    const char* user, uint32_t now) {
  uint8_t me = static_cast<uint8_t>(task_id());
  if (mode & ITEM_GIVEN_STAMPS) {
    slot.flags = info->flags;
    slot.accessed = info->accessed;
    slot.created = info->created;
    put_field(slot.creator, USER_ID_SIZE, info->creator);
    slot.prev_modified = info->prev_modified;
    put_field(slot.prev_modifier, USER_ID_SIZE, info->prev_modifier);
    slot.modified = info->modified;
    put_field(slot.modifier, USER_ID_SIZE, info->modifier);
    slot.creator_task = info->creator_task;
    slot.writer_task = info->writer_task;
    slot.attribute = info->attribute;
    slot.attribute2 = info->attribute2;
    return;
  }
  slot.flags = 0;
  slot.accessed = now;
  slot.modified = now;
  put_field(slot.modifier, USER_ID_SIZE, user);
  slot.writer_task = me;
  slot.attribute = 0;
  slot.attribute2 = 0;
  if (mode & ITEM_REPLACE) {
    slot.created = old->created;
    std::memcpy(slot.creator, old->creator, USER_ID_SIZE);
    slot.prev_modified = old->modified;
    std::memcpy(slot.prev_modifier, old->modifier, USER_ID_SIZE);
    slot.creator_task = old->creator_task;
  } else {
    slot.created = now;
    put_field(slot.creator, USER_ID_SIZE, user);
    slot.prev_modified = 0;
    std::memset(slot.prev_modifier, 0, USER_ID_SIZE);
    slot.creator_task = me;
  }
}

// The trailer names a slot or a data file that is already taken: repair it
// to a fresh data file (the next attempt creates the item there), or report
// that it cannot be repaired.
int repair_stale_trailer(const char* ctl_path, uint16_t failed_report) {
  int status = classic_netxlat(ctl_path, translated_path());
  if (status != CLASSIC_OK) return status;
  if (!std::getenv("NORECOVER") && recover_trailer_suffix(translated_path())) {
    log_error_text(LOG_CLASS_EXECUTION, REPORT_STALE_RECOVERED, MSG_TRAILER_RECOVERED);
    return CLASSIC_LOCKED;
  }
  log_error_text(LOG_CLASS_EXECUTION, failed_report, MSG_RUN_KORVISK);
  return CLASSIC_IO_ERROR;
}

// Opens the translated data-file path for reading and writing as the new
// item's stream.
bool open_data_stream(FILE** stream) {
  *stream = open_data_file(CLASSIC_O_RDWR | CLASSIC_O_BINARY, "r+b", kNewItemBuffer);
  return *stream != nullptr;
}

// Slot 0: a new data file.
int take_first_slot(FILE** stream, const char* ctl_path, uint32_t now, int mode,
                    const CTRL_ENTRY_INFO* info, const CtlEntry* old, const char* key,
                    const char* user) {
  if (plat_access(translated_path(), 0) == 0) return repair_stale_trailer(ctl_path, REPORT_FILE_EXISTS);
  int fd = plat_sopen(translated_path(),
                      CLASSIC_O_RDWR | CLASSIC_O_CREAT | CLASSIC_O_TRUNC | CLASSIC_O_BINARY,
                      PLAT_SH_DENYNO, CLASSIC_S_IREAD | CLASSIC_S_IWRITE);
  if (fd < 0) return CLASSIC_IO_ERROR;
  plat_close(fd);
  if (!open_data_stream(stream)) {
    plat_remove(translated_path());
    return CLASSIC_IO_ERROR;
  }
  std::memset(&data_header(), 0, sizeof data_header());
  data_header().version = ctl_trailer().version;
  SlotRecord& slot = data_header().slots[0];
  slot.data_length = -1;
  stamp_new_slot(slot, mode, info, old, user, now);
  put_field(slot.name, ITEM_NAME_SIZE, key);
  slot.data_offset = DATA_HEADER_SIZE;
  int r = commit_data_header(stream, REPORT_FLUSH_NEW);
  // A data file that holds no slot is nobody's: it goes again.
  if (r != CLASSIC_OK) plat_remove(translated_path());
  return r;
}

// Whether the slots before slot s of the current header lie as creations
// leave them: each in use from the end of the header on, one after the
// other, none running past where the next begins, the last inside the file
// of file_size bytes.  Damaged offsets and lengths would make the new item
// overwrite its neighbours or the header.
bool slots_in_order(int s, long file_size) {
  int64_t end = DATA_HEADER_SIZE;
  for (int i = 0; i < s; ++i) {
    const SlotRecord& slot = data_header().slots[i];
    if (slot.data_length < 0 || slot.data_offset != end) return false;
    end += slot.data_length;
    if (end > file_size) return false;
  }
  return true;
}

// Slots 1 to 7: the data file being filled.  *before receives the header as
// it was, for giving the slot back.
int take_next_slot(FILE** stream, int s, const char* ctl_path, uint32_t now, int mode,
                   const CTRL_ENTRY_INFO* info, const CtlEntry* old, const char* key,
                   const char* user, DataHeader* before) {
  if (!open_data_stream(stream)) return CLASSIC_IO_ERROR;
  long file_size = -1;
  if (plat_fread(&data_header(), sizeof data_header(), 1, *stream) != 1 ||
      (file_size = plat_file_length(plat_fileno(*stream))) < 0) {
    close_data(stream);
    return CLASSIC_IO_ERROR;
  }
  *before = data_header();
  SlotRecord& slot = data_header().slots[s];
  const SlotRecord& previous = data_header().slots[s - 1];
  if (slot.data_length != 0) {
    close_data(stream);
    return repair_stale_trailer(ctl_path, REPORT_SLOT_TAKEN);
  }
  if (previous.data_length == -1) {
    // The previous item of this data file is still being written.
    close_data(stream);
    return CLASSIC_LOCKED;
  }
  if (previous.data_offset == 0) {
    close_data(stream);
    log_error_text(LOG_CLASS_EXECUTION, REPORT_NOT_SYNCED, MSG_NOT_SYNCED);
    return CLASSIC_LOCKED;
  }
  if (!slots_in_order(s, file_size)) {
    close_data(stream);
    return CLASSIC_IO_ERROR;
  }
  slot.data_length = -1;
  slot.data_offset = previous.data_offset + static_cast<uint32_t>(previous.data_length);
  stamp_new_slot(slot, mode, info, old, user, now);
  put_field(slot.name, ITEM_NAME_SIZE, key);
  // Bytes past the last item (a write torn by a crash) belong to nobody:
  // they go, so that the new item's length is what its creator writes.
  if (file_size > static_cast<long>(slot.data_offset) &&
      plat_chsize(plat_fileno(*stream), static_cast<long>(slot.data_offset)) != 0) {
    close_data(stream);
    return CLASSIC_IO_ERROR;
  }
  int r = commit_data_header(stream, REPORT_FLUSH_FILL);
  if (r != CLASSIC_OK) return r;
  if (plat_fseek(*stream, static_cast<long>(slot.data_offset), SEEK_SET) != 0) {
    close_data(stream);
    return CLASSIC_IO_ERROR;
  }
  return CLASSIC_OK;
}

// Gives slot s back after a later step of the creation failed: a new data
// file is removed, the header of the data file being filled put back as it
// was.  The stream is closed.
void give_back_slot(FILE** stream, int s, const DataHeader& before, const char* ctl_path,
                    const char* pattern, const char* suffix) {
  if (s == 0) {
    discard_data(stream);
    if (translate_data_file(ctl_path, pattern, suffix) == CLASSIC_OK) plat_remove(translated_path());
    return;
  }
  data_header() = before;
  if (commit_data_header(stream, REPORT_FLUSH_FILL) == CLASSIC_OK) close_data(stream);
}

}  // namespace

int create_item(FILE* ctl, FILE** stream, int mode, const char* key, const char* ctl_path,
                const char* pattern, const CTRL_ENTRY_INFO* info, const CtlEntry* old,
                const char* user) {
  if (ctl_trailer_offset() / CTL_RECORD_SIZE >= CTL_MAX_ENTRIES) return CLASSIC_CTL_FULL;
  if ((mode & ITEM_GIVEN_STAMPS) && !info) return CLASSIC_IO_ERROR;
  if (mode & ITEM_REPLACE) {
    if (old->open_state < 0) return CLASSIC_LOCKED;
    if (old->open_state > 0) return CLASSIC_READERS_PRESENT;
  }
  std::memset(&ctl_scratch_entry(), 0, sizeof ctl_scratch_entry());
  int s = ctl_trailer().next_slot;
  if (s >= DATA_SLOTS) return CLASSIC_IO_ERROR;  // a trailer no creation could have written
  int status = translate_data_file(ctl_path, pattern, ctl_trailer().suffix);
  if (status != CLASSIC_OK) return status;

  uint32_t now = plat_time32();
  DataHeader before;
  int r = s == 0 ? take_first_slot(stream, ctl_path, now, mode, info, old, key, user)
                 : take_next_slot(stream, s, ctl_path, now, mode, info, old, key, user, &before);
  if (r != CLASSIC_OK) return r;
  const SlotRecord& slot = data_header().slots[s];

  // The new entry mirrors its slot record.
  CtlEntry& e = ctl_scratch_entry();
  std::memcpy(e.name, key, ITEM_NAME_SIZE);
  std::memcpy(e.suffix, ctl_trailer().suffix, sizeof e.suffix);
  e.slot = static_cast<int8_t>(s);
  e.open_state = -1;
  mirror_slot(&e, slot);
  e.version = ctl_trailer().version;

  const CtlTrailer trailer_before = ctl_trailer();
  const bool replacing = (mode & ITEM_REPLACE) != 0;
  const long end = ctl_trailer_offset();
  // The old entry's offset for a replacement, else where the name belongs.
  const long p = ctl_found_offset();
  {
    if (++ctl_trailer().next_slot == DATA_SLOTS) {
      ctl_trailer().next_slot = 0;
      next_suffix(ctl_trailer().suffix);
    }
    if (replacing) {
      // The new version takes the old one's place; the old one becomes the
      // most recent entry of the deleted tail, its slot flagged first.
      r = set_slot_flags(ctl_path, pattern, old, 0xFF, ENTRY_DELETED);
      if (r == CLASSIC_OK) {
        CtlEntry deleted = *old;
        deleted.flags |= ENTRY_DELETED;
        r = replace_entry(ctl, &e, p, end, &deleted, &ctl_trailer());
        // The flag goes back as it was.
        if (r != CLASSIC_OK) set_slot_flags(ctl_path, pattern, old, 0xFF & ~ENTRY_DELETED, 0);
      }
    } else {
      ++ctl_trailer().total_items;
      r = insert_entry(ctl, &e, end, p, &ctl_trailer());
    }
  }
  if (r != CLASSIC_OK) {
    ctl_trailer() = trailer_before;
    give_back_slot(stream, s, before, ctl_path, pattern, trailer_before.suffix);
    return r;
  }
  ctl_set_trailer_offset(end + CTL_RECORD_SIZE);
  note_creation(e, replacing ? old : nullptr, pattern);
  return CLASSIC_OK;
}
