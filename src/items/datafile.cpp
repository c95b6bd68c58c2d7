// Data-file slots and the entry moves that keep a control file sorted.
#include "items/datafile.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "classic.h"
#include "ctl/session.h"
#include "ctl/window.h"
#include "errlog/errlog.h"
#include "platform/platform.h"
#include "storage/netxlat.h"

namespace {

// The items layer's process-wide state.
constexpr int kPendingCreations = 16;

struct ItemsState {
  // The creations of this process not yet closed, oldest first replaced.
  PendingCreation pending[kPendingCreations];
  int next_pending;
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

namespace {

bool same_slot(const char* suffix_a, int8_t slot_a, const char* suffix_b, int8_t slot_b) {
  return slot_a == slot_b && std::memcmp(suffix_a, suffix_b, 3) == 0;
}

}  // namespace

void note_creation(const CtlEntry& entry, const CtlEntry* old, const char* pattern) {
  PendingCreation& p = g_items.pending[g_items.next_pending];
  g_items.next_pending = (g_items.next_pending + 1) % kPendingCreations;
  p = PendingCreation{};
  if (std::strlen(pattern) >= sizeof p.pattern) return;  // no data-file pattern is that long
  std::memcpy(p.pattern, pattern, std::strlen(pattern) + 1);
  p.used = true;
  p.path_hash = ctl_path_hash();
  std::memcpy(p.name, entry.name, ITEM_NAME_SIZE);
  std::memcpy(p.suffix, entry.suffix, 3);
  p.slot = entry.slot;
  if (old) {
    p.replaced = true;
    std::memcpy(p.old_suffix, old->suffix, 3);
    p.old_slot = old->slot;
  }
}

bool take_creation(const CtlEntry& entry, PendingCreation* out) {
  int32_t hash = ctl_path_hash();
  for (PendingCreation& p : g_items.pending) {
    if (p.used && p.path_hash == hash && same_slot(p.suffix, p.slot, entry.suffix, entry.slot) &&
        std::memcmp(p.name, entry.name, ITEM_NAME_SIZE) == 0) {
      *out = p;
      p.used = false;
      return true;
    }
  }
  return false;
}

void refuse_move_buffers(bool refuse) { g_items.refuse_move_buffers = refuse; }

long entry_move_pairs() { return g_items.entry_move_pairs; }

void reset_items_state() { std::memset(&g_items, 0, sizeof g_items); }

SlotRecord* slot_of(const CtlEntry& entry) {
  if (entry.slot < 0 || entry.slot >= DATA_SLOTS) return nullptr;
  return &data_header().slots[entry.slot];
}

void mirror_slot(CtlEntry* e, const SlotRecord& slot) {
  e->flags = slot.flags;
  e->created = slot.created;
  e->modified = slot.modified;
  e->accessed = slot.accessed;
  e->prev_modified = slot.prev_modified;
  std::memcpy(e->creator, slot.creator, USER_ID_SIZE);
  std::memcpy(e->prev_modifier, slot.prev_modifier, USER_ID_SIZE);
  std::memcpy(e->modifier, slot.modifier, USER_ID_SIZE);
  e->attribute = slot.attribute;
  e->attribute2 = slot.attribute2;
  e->creator_task = slot.creator_task;
  e->writer_task = slot.writer_task;
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
  if (plat_pread(fd, &data_header(), DATA_HEADER_SIZE, 0) != DATA_HEADER_SIZE) {
    plat_close(fd);
    return -1;
  }
  *status = CLASSIC_OK;
  return fd;
}

int check_item_place(FILE* stream, const CtlEntry& entry) {
  const SlotRecord* slot = slot_of(entry);
  if (!slot) return CLASSIC_IO_ERROR;
  if (std::strncmp(slot->name, entry.name, ITEM_NAME_SIZE) != 0) return CLASSIC_NOT_FOUND;
  int64_t begin = slot->data_offset;
  int64_t end = begin + slot->data_length;
  // The length from the file itself: the stream stays where it is, with
  // what it has read.  Data files grow while others have them open and
  // never shrink, so a length at the open that already holds the item
  // spares asking for the length now.
  const int fd = plat_fileno(stream);
  long size = plat_length_at_open(fd);
  if (size < end) size = plat_file_length(fd);
  if (size < 0) return CLASSIC_IO_ERROR;
  if (begin < DATA_HEADER_SIZE || slot->data_length < 0 || slot->data_length != entry.size || end > size) {
    return CLASSIC_IO_ERROR;
  }
  for (int i = entry.slot + 1; i < DATA_SLOTS; ++i) {
    const SlotRecord& next = data_header().slots[i];
    if (next.data_length == 0 && next.data_offset == 0) break;  // never used
    if (static_cast<int64_t>(next.data_offset) < end) return CLASSIC_IO_ERROR;
    break;
  }
  return CLASSIC_OK;
}

int write_slot(int fd) {
  bool written = plat_pwrite(fd, &data_header(), DATA_HEADER_SIZE, 0) == DATA_HEADER_SIZE;
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

namespace {

// The records of a whole move, with room for `extra` more behind them; null
// when memory is short (the move then goes in chunks).
struct RegionBuffer {
  CtlEntry* records = nullptr;
  explicit RegionBuffer(long count) {
    if (!g_items.refuse_move_buffers) records = new (std::nothrow) CtlEntry[static_cast<size_t>(count)];
  }
  ~RegionBuffer() { delete[] records; }
  RegionBuffer(const RegionBuffer&) = delete;
  RegionBuffer& operator=(const RegionBuffer&) = delete;
};

// Writes count records from pos on in one write: a process that ends
// before it leaves the control file as it was, one that ends after it
// leaves the change whole, and a failed write changes nothing.
bool write_whole(FILE* ctl, long pos, const CtlEntry* records, long count) {
  ++g_items.entry_move_pairs;
  return write_at(ctl, pos, records, count);
}

void put_trailer(CtlEntry* at, const CtlTrailer* trailer) { std::memcpy(at, trailer, sizeof *trailer); }

// The moves of insert_entry in chunks through the move buffer, when no
// buffer for the whole move can be had.
int insert_in_chunks(FILE* ctl, const CtlEntry* record, long end_pos, long insert_pos) {
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
  return write_at(ctl, rd, r, 1) ? CLASSIC_OK : CLASSIC_IO_ERROR;
}

// The moves of remove_entry in chunks through the entry window.
int remove_in_chunks(FILE* ctl, const CtlEntry* record, long from_pos, long end_pos) {
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

}  // namespace

int insert_entry(FILE* ctl, const CtlEntry* record, long end_pos, long insert_pos,
                 const CtlTrailer* trailer) {
  if (!valid_position(insert_pos) || !valid_position(end_pos) || insert_pos > end_pos) {
    return CLASSIC_IO_ERROR;
  }
  long moved = (end_pos - insert_pos) / CTL_RECORD_SIZE;
  RegionBuffer buf(moved + 2);
  if (CtlEntry* r = buf.records) {
    r[0] = *record;
    if (moved > 0 && !read_at(ctl, insert_pos, r + 1, moved)) return CLASSIC_IO_ERROR;
    long count = moved + 1;
    if (trailer) put_trailer(&r[count++], trailer);
    if (!write_whole(ctl, insert_pos, r, count)) return CLASSIC_IO_ERROR;
  } else {
    if (trailer && !write_at(ctl, end_pos + CTL_RECORD_SIZE, reinterpret_cast<const CtlEntry*>(trailer), 1)) {
      return CLASSIC_IO_ERROR;
    }
    int moved_status = insert_in_chunks(ctl, record, end_pos, insert_pos);
    if (moved_status != CLASSIC_OK) return moved_status;
  }
  plat_fflush(ctl);
  return CLASSIC_OK;
}

int remove_entry(FILE* ctl, const CtlEntry* record, long from_pos, long end_pos,
                 const CtlTrailer* trailer) {
  if (!valid_position(from_pos) || !valid_position(end_pos) || from_pos >= end_pos) {
    return CLASSIC_IO_ERROR;
  }
  long moved = (end_pos - from_pos) / CTL_RECORD_SIZE - 1;
  RegionBuffer buf(moved + 2);
  if (CtlEntry* r = buf.records) {
    if (moved > 0 && !read_at(ctl, from_pos + CTL_RECORD_SIZE, r, moved)) return CLASSIC_IO_ERROR;
    r[moved] = *record;
    long count = moved + 1;
    if (trailer) put_trailer(&r[count++], trailer);
    return write_whole(ctl, from_pos, r, count) ? CLASSIC_OK : CLASSIC_IO_ERROR;
  }
  int moved_status = remove_in_chunks(ctl, record, from_pos, end_pos);
  if (moved_status == CLASSIC_OK && trailer &&
      !write_at(ctl, end_pos, reinterpret_cast<const CtlEntry*>(trailer), 1)) {
    return CLASSIC_IO_ERROR;
  }
  return moved_status;
}

int replace_entry(FILE* ctl, const CtlEntry* record, long pos, long end_pos, const CtlEntry* old,
                  const CtlTrailer* trailer) {
  if (!valid_position(pos) || !valid_position(end_pos) || pos >= end_pos) return CLASSIC_IO_ERROR;
  long between = (end_pos - pos) / CTL_RECORD_SIZE - 1;
  RegionBuffer buf(between + 3);
  if (CtlEntry* r = buf.records) {
    r[0] = *record;
    if (between > 0 && !read_at(ctl, pos + CTL_RECORD_SIZE, r + 1, between)) return CLASSIC_IO_ERROR;
    r[between + 1] = *old;
    put_trailer(&r[between + 2], trailer);
    return write_whole(ctl, pos, r, between + 3) ? CLASSIC_OK : CLASSIC_IO_ERROR;
  }
  CtlEntry tail[2];
  tail[0] = *old;
  put_trailer(&tail[1], trailer);
  return write_at(ctl, pos, record, 1) && write_at(ctl, end_pos, tail, 2) ? CLASSIC_OK : CLASSIC_IO_ERROR;
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

void discard_data(FILE** stream) {
  if (*stream) plat_fdiscard(*stream);
  *stream = nullptr;
}

bool write_data_header(FILE* stream) {
  return plat_fseek(stream, 0, SEEK_SET) == 0 &&
         plat_fwrite(&data_header(), sizeof data_header(), 1, stream) == 1;
}

int commit_data_header(FILE** stream, uint16_t flush_report) {
  // The header goes to the file in one write, at the flush: a write or a
  // flush that fails leaves the file as it was, and what the stream still
  // buffers is given up with it.
  if (!write_data_header(*stream)) {
    discard_data(stream);
    return CLASSIC_IO_ERROR;
  }
  if (plat_fflush(*stream) != 0) {
    discard_data(stream);
    log_error_text(LOG_CLASS_EXECUTION, flush_report, MSG_FLUSH_FAILED);
    return CLASSIC_IO_ERROR;
  }
  plat_commit(plat_fileno(*stream));
  return CLASSIC_OK;
}
