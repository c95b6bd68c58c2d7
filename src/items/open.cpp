// Opening items.
//
// Every successful open is registered twice: in the item's entry (its open
// state: -1 one writer, n > 0 readers) and in the trailer (its open count).
// A busy item is waited for: the whole operation is repeated up to 41 times,
// 1162 ms apart, with the control file unlocked in between.
#include <cstring>

#include "base/text.h"
#include "ctl/lookup.h"
#include "ctl/names.h"
#include "ctl/search.h"
#include "ctl/session.h"
#include "ctl/types.h"
#include "errlog/errlog.h"
#include "items/datafile.h"
#include "items/items.h"
#include "base/lockfile.h"
#include "platform/platform.h"
#include "storage/hostinfo.h"
#include "storage/netxlat.h"

namespace {

constexpr size_t kStreamBuffer = 2048;

// Puts the entry back as it was before a failed open wrote it, so that the
// item is not left marked open for ever.
void restore_entry(FILE* ctl, long at, const CtlEntry& before) {
  ctl_entry() = before;
  if (plat_fseek(ctl, at, SEEK_SET) == 0) plat_fwrite(&ctl_entry(), sizeof ctl_entry(), 1, ctl);
}

// Stamps the writer's time and user, keeping the previous ones.
template <typename Record>
void stamp_writer(Record& r, uint32_t now, const char* user) {
  r.prev_modified = r.modified;
  std::memcpy(r.prev_modifier, r.modifier, USER_ID_SIZE);
  r.modified = now;
  put_field(r.modifier, USER_ID_SIZE, user);
}

}  // namespace

void wait_about_item(const char* ctl_path, const CtlEntry& e) {
  char what[XLAT_PATH_SIZE + 40];
  std::snprintf(what, sizeof what, "item %.*s of %s", ITEM_NAME_SIZE, e.name, ctl_path);
  char holder[120];
  if (e.open_state < 0) {
    char since[32];
    format_local_time(e.modified, since, sizeof since);
    char user[USER_ID_SIZE + 1] = {0};
    std::memcpy(user, e.modifier, USER_ID_SIZE);
    std::snprintf(holder, sizeof holder, "open for writing by %s since %s", user[0] ? user : "an unknown user",
                  since);
  } else {
    std::snprintf(holder, sizeof holder, "open for reading by %d program%s", e.open_state,
                  e.open_state == 1 ? "" : "s");
  }
  wait_about(what, holder);
}

int find_closed_item(CtlSession& session, const char* ctl_path, const char* key,
                     uint16_t writer_report, uint16_t readers_report) {
  for (int attempts = ITEM_ATTEMPTS;; lock_wait(1, LOCK_DELAY_MS)) {
    int status = session.open(ctl_path, CTL_UPDATE);
    if (!ctl_opened(status)) return status;
    int found = ctl_find_entry(session.stream(), key, &ctl_entry());
    if (found != CLASSIC_OK) {
      session.close();
      return found;
    }
    if (ctl_entry().open_state == 0) return CLASSIC_OK;
    bool writer = ctl_entry().open_state < 0;
    session.close();
    wait_about_item(ctl_path, ctl_entry());
    if (--attempts == 0) {
      uint16_t report = writer ? writer_report : readers_report;
      if (report) log_error_text(LOG_CLASS_EXECUTION, report, MSG_LOCK_TIMEOUT);
      return writer ? CLASSIC_LOCKED : CLASSIC_READERS_PRESENT;
    }
  }
}

int open_existing_item(FILE** stream, FILE* ctl, int mode, const char* ctl_path,
                       const char* pattern, const char* user) {
  bool removable = on_removable_drive(ctl_path);
  bool writing = (mode & ITEM_WRITE) != 0;
  bool keep_stamps = (mode & ITEM_GIVEN_STAMPS) && (mode & ITEM_RETURN_INFO);
  const CtlEntry before = ctl_entry();
  if (!writing) {
    // The open state counts at most 127 readers; one more would read as a
    // writer.
    if (before.open_state >= ITEM_MAX_READERS) return CLASSIC_READERS_PRESENT;
    ++ctl_entry().open_state;
    if (ctl_entry().size < 1) return CLASSIC_IO_ERROR;  // nothing was ever written
  }
  uint32_t now = plat_time32();
  if (writing) {
    ctl_entry().open_state = -1;
    if (!keep_stamps) stamp_writer(ctl_entry(), now, user);
    ctl_entry().writer_task = static_cast<uint8_t>(task_id());
  }
  if (mode & ITEM_STAMP_ACCESS) ctl_entry().accessed = now;

  const long entry_at = ctl_found_offset();
  if (plat_fseek(ctl, entry_at, SEEK_SET) != 0) return CLASSIC_IO_ERROR;
  // Readers on removable drives leave no mark in the control file.
  bool marked = !(removable && !writing);
  if (marked && plat_fwrite(&ctl_entry(), sizeof ctl_entry(), 1, ctl) != 1) return CLASSIC_IO_ERROR;

  // From here on a failure puts the entry back as it was.
  auto fail = [&](int status) {
    close_data(stream);
    if (marked) restore_entry(ctl, entry_at, before);
    return status;
  };
  int status = translate_data_file(ctl_path, pattern, ctl_entry().suffix);
  if (status != CLASSIC_OK) return fail(status);
  *stream = open_data_file(CLASSIC_O_RDWR | CLASSIC_O_BINARY, "r+b", kStreamBuffer);
  if (!*stream) return fail(CLASSIC_IO_ERROR);
  SlotRecord* slot = slot_of(ctl_entry());
  if (!slot || plat_fread(&data_header(), sizeof data_header(), 1, *stream) != 1) {
    return fail(CLASSIC_IO_ERROR);
  }
  int placed = check_item_place(*stream, ctl_entry());
  if (placed != CLASSIC_OK) return fail(placed);

  if (writing || (mode & ITEM_STAMP_ACCESS)) {
    if (writing) {
      if (!keep_stamps) stamp_writer(*slot, now, user);
      slot->writer_task = static_cast<uint8_t>(task_id());
    }
    if (mode & ITEM_STAMP_ACCESS) slot->accessed = now;
    int committed = commit_data_header(stream, REPORT_FLUSH_OPEN);
    if (committed != CLASSIC_OK) return fail(committed);
  }
  if (plat_fseek(*stream, static_cast<long>(slot->data_offset), SEEK_SET) != 0) {
    return fail(CLASSIC_IO_ERROR);
  }
  return CLASSIC_OK;
}

int classic_open_item(const char* ctl_path, const char* name, short mode, const char* pattern,
                      FILE** stream, long* size, CTRL_ENTRY_INFO* info) {
  if (!stream) return CLASSIC_IO_ERROR;
  char user[4];
  read_user_id(user);
  int attempts = ITEM_ATTEMPTS;
  const bool creating = (mode & ITEM_WRITE) && (mode & ITEM_CREATE);
  for (;;) {
    *stream = nullptr;
    int flags = (mode & (ITEM_WRITE | ITEM_STAMP_ACCESS)) ? CTL_UPDATE : CTL_READ;
    CtlSession session;
    int status = session.open(ctl_path, flags);
    if (!ctl_opened(status)) return status;
    FILE* ctl = session.stream();
    char key[ITEM_NAME_SIZE];
    normalize_item_name(key, name ? name : "", ITEM_NAME_SIZE);
    int found = ctl_find_entry(ctl, key, &ctl_entry());

    int r = CLASSIC_OK;
    uint16_t report = 0;
    if (creating) {
      if (found == CLASSIC_OK && !(mode & ITEM_REPLACE)) return CLASSIC_NAME_IN_USE;
      // Without a place in the file nothing may be written.
      if (found != CLASSIC_OK && found != CLASSIC_NOT_FOUND) return found;
      if (found != CLASSIC_OK) mode = static_cast<short>(mode & ~ITEM_REPLACE);
      const CtlEntry old = ctl_entry();
      r = create_item(ctl, stream, mode, key, ctl_path, pattern, info, &old, user);
      if (r == CLASSIC_OK) ++ctl_trailer().open_count;
      session.close();
      if (r != CLASSIC_RETRY && r != CLASSIC_READERS_PRESENT && r != CLASSIC_LOCKED) return r;
      report = REPORT_CREATE_BUSY;
    } else if (found != CLASSIC_OK) {
      return CLASSIC_NOT_FOUND;
    } else if (ctl_entry().open_state < 0) {
      session.close();
      r = CLASSIC_LOCKED;
      report = REPORT_OPEN_WRITER;
    } else if ((mode & ITEM_WRITE) && ctl_entry().open_state > 0) {
      session.close();
      r = CLASSIC_READERS_PRESENT;
      report = REPORT_OPEN_READERS;
    } else {
      r = open_existing_item(stream, ctl, mode, ctl_path, pattern, user);
      int close_flags = flags;
      if (r == CLASSIC_OK) {
        if (size) *size = ctl_entry().size;
        ++ctl_trailer().open_count;
        if ((mode & ITEM_RETURN_INFO) && info) fill_entry_info(info, ctl_entry(), true);
        if (mode & ITEM_RETAIN) close_flags |= CTL_RETAIN;
      }
      session.close(close_flags);
      return r;
    }
    // The item is busy: spend one attempt, wait and start again.
    if (--attempts == 0) {
      log_error_text(LOG_CLASS_EXECUTION, report, MSG_LOCK_TIMEOUT);
      return r;
    }
    if (report != REPORT_CREATE_BUSY || ((mode & ITEM_REPLACE) && ctl_entry().open_state != 0)) {
      wait_about_item(ctl_path, ctl_entry());
    } else {
      wait_about(ctl_path, "a new item of this type is still being written, or the trailer was repaired");
    }
    lock_wait(1, LOCK_DELAY_MS);
  }
}
