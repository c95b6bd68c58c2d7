// Data-file slots and the entry moves that keep a control file sorted.
#include "items/datafile.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "classic.h"
#include "ctl/window.h"
#include "errlog/errlog.h"
#include "platform/platform.h"
#include "storage/netxlat.h"

namespace {

// The items layer's process-wide state.
struct ItemsState {
  // The header of the data file last read.
  DataHeader data_header;
  // Set by tests: the large move buffers are refused, as when memory is short.
  bool refuse_move_buffers;
  // Read-write pairs made by the entry moves so far.
  long entry_move_pairs;
};

ItemsState g_items;

constexpr int kLargeBuffer = 320;  // records
constexpr int kSmallBuffer = 96;

// A move buffer of records: the large one, else the small one, else the
// entry window, so that a move never fails for lack of memory.
struct MoveBuffer {
  CtlEntry* records = nullptr;
  long count = 0;
  bool allocated = false;

  MoveBuffer() {
    if (!g_items.refuse_move_buffers) {
      for (int n : {kLargeBuffer, kSmallBuffer}) {
        records = new (std::nothrow) CtlEntry[n]();
        if (records) {
          count = n;
          allocated = true;
          return;
        }
      }
    }
    records = ctl_window();
    count = WINDOW_ENTRIES;
  }
  ~MoveBuffer() {
    if (allocated) delete[] records;
  }
  MoveBuffer(const MoveBuffer&) = delete;
  MoveBuffer& operator=(const MoveBuffer&) = delete;
};

bool valid_position(long pos) { return pos >= 0 && pos % CTL_RECORD_SIZE == 0; }

bool read_at(FILE* f, long pos, CtlEntry* records, long n) {
  return plat_fseek(f, pos, SEEK_SET) == 0 &&
         plat_fread(records, CTL_RECORD_SIZE, static_cast<size_t>(n), f) == static_cast<size_t>(n);
}

bool write_at(FILE* f, long pos, const CtlEntry* records, long n) {
  return plat_fseek(f, pos, SEEK_SET) == 0 &&
         plat_fwrite(records, CTL_RECORD_SIZE, static_cast<size_t>(n), f) == static_cast<size_t>(n);
}

}  // namespace

DataHeader& data_header() { return g_items.data_header; }

void refuse_move_buffers(bool refuse) { g_items.refuse_move_buffers = refuse; }

long entry_move_pairs() { return g_items.entry_move_pairs; }

void reset_items_state() { std::memset(&g_items, 0, sizeof g_items); }

SlotRecord* slot_of(const CtlEntry& entry) {
  if (entry.slot < 0 || entry.slot >= DATA_SLOTS) return nullptr;
  return &data_header().slots[entry.slot];
}

int open_slot(const char* ctl_path, const char* pattern, const CtlEntry* entry, SlotRecord** slot,
              int* status) {
  *status = translate_data_file(ctl_path, pattern, entry->suffix);
  if (*status != CLASSIC_OK) return -1;
  *status = CLASSIC_IO_ERROR;
  *slot = slot_of(*entry);
  if (!*slot) return -1;
  int fd = plat_sopen(translated_path(), CLASSIC_O_RDWR | CLASSIC_O_BINARY, PLAT_SH_DENYNO,
                      CLASSIC_S_IREAD | CLASSIC_S_IWRITE);
  if (fd < 0) return -1;
  if (plat_read(fd, &data_header(), DATA_HEADER_SIZE) != DATA_HEADER_SIZE) {
    plat_close(fd);
    return -1;
  }
  *status = CLASSIC_OK;
  return fd;
}

int write_slot(int fd) {
  bool written = plat_lseek(fd, 0, SEEK_SET) == 0 &&
                 plat_write(fd, &data_header(), DATA_HEADER_SIZE) == DATA_HEADER_SIZE;
  plat_close(fd);
  return written ? CLASSIC_OK : CLASSIC_IO_ERROR;
}

int set_slot_flags(const char* ctl_path, const char* pattern, const CtlEntry* entry,
                   uint8_t keep_mask, uint8_t set_mask) {
  SlotRecord* slot = nullptr;
  int status = CLASSIC_OK;
  int fd = open_slot(ctl_path, pattern, entry, &slot, &status);
  if (fd < 0) return status;
  slot->flags = static_cast<uint8_t>((slot->flags & keep_mask) | set_mask);
  return write_slot(fd);
}

int insert_entry(FILE* ctl, const CtlEntry* record, long end_pos, long insert_pos) {
  if (!valid_position(insert_pos) || !valid_position(end_pos) || insert_pos > end_pos) {
    return CLASSIC_IO_ERROR;
  }
  CtlEntry carried = *record;  // the record may lie in the entry window
  MoveBuffer buf;
  CtlEntry* r = buf.records;
  r[0] = carried;
  long size = buf.count * CTL_RECORD_SIZE;
  long rd = insert_pos;
  long wr = insert_pos;
  while (wr < end_pos) {
    long chunk = std::min(size - CTL_RECORD_SIZE, end_pos - rd);
    long n = chunk / CTL_RECORD_SIZE;
    if (!read_at(ctl, rd, r + 1, n) || !write_at(ctl, wr, r, n)) return CLASSIC_IO_ERROR;
    ++g_items.entry_move_pairs;
    wr += chunk;
    r[0] = r[n];  // the last record read is carried to the next chunk
    rd = wr;
  }
  if (!write_at(ctl, rd, r, 1)) return CLASSIC_IO_ERROR;
  plat_fflush(ctl);
  return CLASSIC_OK;
}

int remove_entry(FILE* ctl, const CtlEntry* record, long from_pos, long end_pos) {
  if (!valid_position(from_pos) || !valid_position(end_pos) || from_pos >= end_pos) {
    return CLASSIC_IO_ERROR;
  }
  CtlEntry kept = *record;  // the moves below overwrite the entry window
  long last = end_pos - CTL_RECORD_SIZE;
  for (long cur = from_pos; cur < last;) {
    long chunk = std::min<long>(last - cur, WINDOW_BYTES);
    long n = chunk / CTL_RECORD_SIZE;
    if (!read_at(ctl, cur + CTL_RECORD_SIZE, ctl_window(), n) || !write_at(ctl, cur, ctl_window(), n)) {
      return CLASSIC_IO_ERROR;
    }
    ++g_items.entry_move_pairs;
    cur += chunk;
  }
  return write_at(ctl, last, &kept, 1) ? CLASSIC_OK : CLASSIC_IO_ERROR;
}

FILE* open_data_file(int oflag, const char* mode, size_t buffer_size) {
  int fd = plat_sopen(translated_path(), oflag, PLAT_SH_DENYNO, CLASSIC_S_IREAD | CLASSIC_S_IWRITE);
  if (fd < 0) return nullptr;
  FILE* f = plat_fdopen(fd, mode);
  if (!f) {
    plat_close(fd);
    return nullptr;
  }
  if (buffer_size) {
    std::setvbuf(f, nullptr, _IOFBF, buffer_size);
  } else {
    std::setvbuf(f, nullptr, _IONBF, 0);
  }
  return f;
}

void close_data(FILE** stream) {
  if (*stream) plat_fclose(*stream);
  *stream = nullptr;
}

bool write_data_header(FILE* stream) {
  return plat_fseek(stream, 0, SEEK_SET) == 0 &&
         plat_fwrite(&data_header(), sizeof data_header(), 1, stream) == 1;
}

int commit_data_header(FILE** stream, uint16_t flush_report) {
  if (!write_data_header(*stream)) {
    close_data(stream);
    return CLASSIC_IO_ERROR;
  }
  if (plat_fflush(*stream) != 0) {
    close_data(stream);
    log_error_text(LOG_CLASS_EXECUTION, flush_report, MSG_FLUSH_FAILED);
    return CLASSIC_IO_ERROR;
  }
  plat_commit(plat_fileno(*stream));
  return CLASSIC_OK;
}
