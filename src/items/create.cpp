// Creating items and new versions of items.
//
// A creation takes the next free slot of the data file being filled (a new
// data file for slot 0) and writes, in this order, so that a crash at any
// point can be recovered by the next creation:
//   1. the data-file header with the slot taken (data length -1), flushed
//      and committed;
//   2. the trailer, advanced, one record past the old one (plain creation),
//      or the new entry over the old one and the old slot flagged deleted
//      (replacement);
//   3. the new entry moved into its place (plain creation), or the old entry
//      and the trailer appended (replacement).
// A slot that is taken but named by no entry makes the next creation find
// the trailer stale, repair it to a fresh data file and try again.
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

constexpr size_t kNewItemBuffer = 512;

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
  if (!open_data_stream(stream)) return CLASSIC_IO_ERROR;
  std::memset(&data_header(), 0, sizeof data_header());
  data_header().version = ctl_trailer().version;
  SlotRecord& slot = data_header().slots[0];
  slot.data_length = -1;
  stamp_new_slot(slot, mode, info, old, user, now);
  put_field(slot.name, ITEM_NAME_SIZE, key);
  slot.data_offset = DATA_HEADER_SIZE;
  return commit_data_header(stream, REPORT_FLUSH_NEW);
}

// Slots 1 to 7: the data file being filled.
int take_next_slot(FILE** stream, int s, const char* ctl_path, uint32_t now, int mode,
                   const CTRL_ENTRY_INFO* info, const CtlEntry* old, const char* key,
                   const char* user) {
  if (!open_data_stream(stream)) return CLASSIC_IO_ERROR;
  if (plat_fread(&data_header(), sizeof data_header(), 1, *stream) != 1) {
    close_data(stream);
    return CLASSIC_IO_ERROR;
  }
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
  slot.data_length = -1;
  slot.data_offset = previous.data_offset + static_cast<uint32_t>(previous.data_length);
  stamp_new_slot(slot, mode, info, old, user, now);
  put_field(slot.name, ITEM_NAME_SIZE, key);
  int r = commit_data_header(stream, REPORT_FLUSH_FILL);
  if (r != CLASSIC_OK) return r;
  if (plat_fseek(*stream, static_cast<long>(slot.data_offset), SEEK_SET) != 0) {
    close_data(stream);
    return CLASSIC_IO_ERROR;
  }
  return CLASSIC_OK;
}

bool write_record_at(FILE* ctl, long pos, const void* record) {
  return plat_fseek(ctl, pos, SEEK_SET) == 0 && plat_fwrite(record, CTL_RECORD_SIZE, 1, ctl) == 1;
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
  int r = s == 0 ? take_first_slot(stream, ctl_path, now, mode, info, old, key, user)
                 : take_next_slot(stream, s, ctl_path, now, mode, info, old, key, user);
  if (r != CLASSIC_OK) return r;
  const SlotRecord& slot = data_header().slots[s];

  // The new entry mirrors its slot record.
  CtlEntry& e = ctl_scratch_entry();
  std::memcpy(e.name, key, ITEM_NAME_SIZE);
  std::memcpy(e.suffix, ctl_trailer().suffix, sizeof e.suffix);
  e.slot = static_cast<int8_t>(s);
  e.open_state = -1;
  e.flags = slot.flags;
  e.created = slot.created;
  e.modified = slot.modified;
  e.accessed = slot.accessed;
  e.prev_modified = slot.prev_modified;
  std::memcpy(e.creator, slot.creator, USER_ID_SIZE);
  std::memcpy(e.prev_modifier, slot.prev_modifier, USER_ID_SIZE);
  std::memcpy(e.modifier, slot.modifier, USER_ID_SIZE);
  e.attribute = slot.attribute;
  e.attribute2 = slot.attribute2;
  e.creator_task = slot.creator_task;
  e.writer_task = slot.writer_task;
  e.version = ctl_trailer().version;

  long p = -1;
  if (plat_fseek(ctl, -CTL_RECORD_SIZE, SEEK_CUR) != 0 || (p = plat_ftell(ctl)) < 0) {
    close_data(stream);
    return CLASSIC_IO_ERROR;
  }
  if (++ctl_trailer().next_slot == DATA_SLOTS) {
    ctl_trailer().next_slot = 0;
    next_suffix(ctl_trailer().suffix);
  }

  if (mode & ITEM_REPLACE) {
    // The new version takes the old one's place; the old one becomes the
    // most recent entry of the deleted tail.
    if (!write_record_at(ctl, p, &e)) {
      close_data(stream);
      return CLASSIC_IO_ERROR;
    }
    r = set_slot_flags(ctl_path, pattern, old, 0xFF, ENTRY_DELETED);
    if (r != CLASSIC_OK) {
      close_data(stream);
      return r;
    }
    CtlEntry deleted = *old;
    deleted.flags |= ENTRY_DELETED;
    if (plat_fseek(ctl, -CTL_RECORD_SIZE, SEEK_END) != 0) {
      close_data(stream);
      return CLASSIC_IO_ERROR;
    }
    long end = plat_ftell(ctl);
    ctl_set_trailer_offset(end);
    if (end < 0 || plat_fwrite(&deleted, sizeof deleted, 1, ctl) != 1 ||
        plat_fwrite(&ctl_trailer(), sizeof ctl_trailer(), 1, ctl) != 1) {
      close_data(stream);
      return CLASSIC_IO_ERROR;
    }
    ctl_set_trailer_offset(end + CTL_RECORD_SIZE);
    return CLASSIC_OK;
  }

  ++ctl_trailer().total_items;
  if (plat_fseek(ctl, 0, SEEK_END) != 0) {
    close_data(stream);
    return CLASSIC_IO_ERROR;
  }
  long end = plat_ftell(ctl);
  ctl_set_trailer_offset(end);
  if (end < 0 || plat_fwrite(&ctl_trailer(), sizeof ctl_trailer(), 1, ctl) != 1) {
    close_data(stream);
    return CLASSIC_IO_ERROR;
  }
  r = insert_entry(ctl, &e, ctl_trailer_offset() - CTL_RECORD_SIZE, p);
  if (r != CLASSIC_OK) close_data(stream);
  return r;
}
