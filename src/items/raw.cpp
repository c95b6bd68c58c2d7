// Raw item transfer: an item's bytes copied to a stream or read into memory
// under a read session held for the whole transfer, without registering as
// a reader; and stream-to-stream copies.  Copies move their bytes through
// the entry window, at most 2048 bytes per read-write pair; a read into
// memory takes the item in one block.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "ctl/names.h"
#include "ctl/search.h"
#include "ctl/session.h"
#include "ctl/window.h"
#include "errlog/errlog.h"
#include "items/datafile.h"
#include "items/items.h"
#include "base/lockfile.h"
#include "platform/platform.h"
#include "storage/netxlat.h"

namespace {

char* transfer_buffer() { return reinterpret_cast<char*>(ctl_window()); }

// Moves count bytes from src to dst in blocks of the transfer buffer.
int transfer(FILE* src, FILE* dst, long count) {
  while (count > 0) {
    size_t chunk = static_cast<size_t>(std::min<long>(count, WINDOW_BYTES));
    if (plat_fread(transfer_buffer(), chunk, 1, src) != 1 ||
        plat_fwrite(transfer_buffer(), chunk, 1, dst) != 1) {
      return CLASSIC_IO_ERROR;
    }
    count -= static_cast<long>(chunk);
  }
  return CLASSIC_OK;
}

}  // namespace

int open_raw_item(CtlSession& session, const char* ctl_path, const char* name, const char* pattern,
                  FILE** data) {
  char key[ITEM_NAME_SIZE];
  normalize_item_name(key, name ? name : "", ITEM_NAME_SIZE);
  for (int attempts = ITEM_ATTEMPTS;; lock_wait(1, LOCK_DELAY_MS)) {
    int open_status = session.open(ctl_path, CTL_READ);
    if (!ctl_opened(open_status)) return open_status;
    if (ctl_find_entry(session.stream(), key, &ctl_entry()) != CLASSIC_OK) return CLASSIC_NOT_FOUND;
    if (ctl_entry().open_state >= 0) break;  // readers do not stop a raw read
    session.close();
    wait_about_item(ctl_path, ctl_entry());
    if (--attempts == 0) {
      log_error_text(LOG_CLASS_EXECUTION, REPORT_OPEN_WRITER, MSG_LOCK_TIMEOUT);
      return CLASSIC_LOCKED;
    }
  }
  int r = translate_data_file(ctl_path, pattern, ctl_entry().suffix);
  if (r != CLASSIC_OK) return r;
  FILE* f = open_data_file(CLASSIC_O_RDONLY | CLASSIC_O_BINARY, "rb", 0);
  if (!f) return CLASSIC_IO_ERROR;
  *data = f;
  SlotRecord* slot = slot_of(ctl_entry());
  if (!slot || plat_fread(&data_header(), sizeof data_header(), 1, f) != 1) return CLASSIC_IO_ERROR;
  // The bytes are another item's when the slot does not carry the name.
  int placed = check_item_place(f, ctl_entry());
  if (placed != CLASSIC_OK) return placed;
  if (plat_fseek(f, static_cast<long>(slot->data_offset), SEEK_SET) != 0) return CLASSIC_IO_ERROR;
  return CLASSIC_OK;
}

int classic_copy_raw_item(const char* ctl_path, const char* name, const char* pattern,
                          unsigned long* dest) {
  CtlSession session;
  FILE* data = nullptr;
  int r = open_raw_item(session, ctl_path, name, pattern, &data);
  if (r == CLASSIC_OK) {
    r = dest ? transfer(data, reinterpret_cast<FILE*>(dest), ctl_entry().size) : CLASSIC_IO_ERROR;
  }
  close_data(&data);
  return r;
}

int classic_read_raw_item(const char* ctl_path, const char* name, const char* pattern,
                          std::vector<char>& out) {
  CtlSession session;
  FILE* data = nullptr;
  int r = open_raw_item(session, ctl_path, name, pattern, &data);
  if (r == CLASSIC_OK) {
    try {
      int32_t size = ctl_entry().size;
      out.assign(static_cast<size_t>(size > 0 ? size : 0), 0);
      if (out.empty() || plat_fread(out.data(), out.size(), 1, data) != 1) r = CLASSIC_IO_ERROR;
    } catch (...) {
      r = CLASSIC_IO_ERROR;  // memory for the item's bytes could not be had
    }
    if (r != CLASSIC_OK) std::vector<char>().swap(out);
  }
  close_data(&data);
  return r;
}

int classic_copy_file(unsigned long* src, unsigned long* dst, long count) {
  if (count < 1) return CLASSIC_OK;
  if (!src || !dst) return CLASSIC_IO_ERROR;
  return transfer(reinterpret_cast<FILE*>(src), reinterpret_cast<FILE*>(dst), count);
}
