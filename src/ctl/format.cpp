// The control-file format: creation, trailer reads, block reads.
#include "ctl/format.h"

#include <cerrno>
#include <cstring>

#include "classic.h"
#include "ctl/session.h"
#include "ctl/window.h"
#include "platform/platform.h"
#include "storage/netxlat.h"

// The exported records belong to the interface: their layout is fixed.
static_assert(offsetof(CTRL_ENTRY_INFO, name) == 0);
static_assert(offsetof(CTRL_ENTRY_INFO, open_state) == 26);
static_assert(offsetof(CTRL_ENTRY_INFO, version) == 27);
static_assert(offsetof(CTRL_ENTRY_INFO, flags) == 28);
static_assert(offsetof(CTRL_ENTRY_INFO, created) == 30);
static_assert(offsetof(CTRL_ENTRY_INFO, creator) == 34);
static_assert(offsetof(CTRL_ENTRY_INFO, modified) == 76);
static_assert(offsetof(CTRL_ENTRY_INFO, modifier) == 80);
static_assert(offsetof(CTRL_ENTRY_INFO, prev_modified) == 122);
static_assert(offsetof(CTRL_ENTRY_INFO, prev_modifier) == 126);
static_assert(offsetof(CTRL_ENTRY_INFO, size) == 168);
static_assert(offsetof(CTRL_ENTRY_INFO, attribute) == 172);
static_assert(offsetof(CTRL_ENTRY_INFO, attribute2) == 174);
static_assert(offsetof(CTRL_ENTRY_INFO, found) == 176);
static_assert(offsetof(CTRL_ENTRY_INFO, accessed) == 178);
static_assert(offsetof(CTRL_ENTRY_INFO, creator_task) == 182);
static_assert(offsetof(CTRL_ENTRY_INFO, writer_task) == 183);
static_assert(offsetof(CTRL_ENTRY_INFO, prev) == 184);
static_assert(offsetof(CTRL_ENTRY_INFO, next) == 184 + sizeof(void*));
static_assert(sizeof(CTRL_ENTRY_INFO) == 184 + 2 * sizeof(void*));
static_assert(sizeof(void*) != 4 || sizeof(CTRL_ENTRY_INFO) == 192);
static_assert(sizeof(void*) != 8 || sizeof(CTRL_ENTRY_INFO) == 200);

static_assert(sizeof(CTRL_TRAILER_INFO) == 12);
static_assert(offsetof(CTRL_TRAILER_INFO, suffix) == 0);
static_assert(offsetof(CTRL_TRAILER_INFO, next_slot) == 3);
static_assert(offsetof(CTRL_TRAILER_INFO, total_items) == 4);
static_assert(offsetof(CTRL_TRAILER_INFO, open_count) == 8);
static_assert(offsetof(CTRL_TRAILER_INFO, lock_marker) == 10);
static_assert(offsetof(CTRL_TRAILER_INFO, version) == 11);

namespace {

constexpr int kCheckTrailerTries = 40;
// A failed attempt of the trailer readers waits for the clock's second to
// change, in short pauses, and for no more than this many of them.
constexpr uint32_t kSecondPause = 20;
constexpr int kSecondPauses = 60;

void wait_for_next_second() {
  uint32_t start = plat_time32();
  for (int i = 0; i < kSecondPauses && plat_time32() == start; ++i) plat_sleep(kSecondPause);
}

// Opens a control file exclusively for a trailer read; attempts as asked,
// with a wait after each failed one (not after the last when
// wait_after_last is false).  The stream, or null.
FILE* open_for_trailer_read(const char* path, int tries, bool wait_after_last) {
  for (int attempt = 1; attempt <= tries; ++attempt) {
    int fd = plat_sopen(path, CLASSIC_O_RDWR | CLASSIC_O_BINARY, PLAT_SH_DENYRW,
                        CLASSIC_S_IREAD | CLASSIC_S_IWRITE);
    if (fd >= 0) {
      FILE* f = plat_fdopen(fd, "r+b");
      if (!f) plat_close(fd);
      return f;
    }
    if (errno != EACCES) return nullptr;
    if (attempt < tries || wait_after_last) wait_for_next_second();
  }
  return nullptr;
}

int read_trailer_of(const char* path, int tries, bool wait_after_last, int* version,
                    int* lock_state, int* total_items) {
  FILE* f = open_for_trailer_read(path, tries, wait_after_last);
  if (!f) return CLASSIC_CANNOT_OPEN;
  std::setvbuf(f, nullptr, _IONBF, 0);
  CtlTrailer t;
  if (plat_fseek(f, -CTL_RECORD_SIZE, SEEK_END) != 0 || plat_fread(&t, sizeof t, 1, f) != 1) {
    plat_fclose(f);
    return CLASSIC_IO_ERROR;
  }
  plat_fclose(f);
  ctl_trailer() = t;
  if (version) *version = static_cast<int8_t>(t.version);
  if (lock_state) *lock_state = static_cast<int8_t>(t.lock_state);
  if (total_items) *total_items = t.total_items;
  return CLASSIC_OK;
}

}  // namespace

bool trailer_is_corrupt(const CtlTrailer& trailer, long trailer_offset) {
  return (trailer.suffix[0] == 'a' || trailer.suffix[0] == 'A') &&
         (trailer.suffix[1] == 'a' || trailer.suffix[1] == 'A') &&
         (trailer.suffix[2] == 'a' || trailer.suffix[2] == 'A') && trailer.next_slot == 0 &&
         trailer_offset != 0;
}

CtlTrailer new_trailer() {
  CtlTrailer t;
  std::memset(&t, 0, sizeof t);
  std::memcpy(t.suffix, "aaa", 3);
  t.version = CTL_VERSION;
  return t;
}

int classic_create_control_file(const char* path) {
  int status = classic_netxlat(path, translated_path());
  if (status != CLASSIC_OK) return status;
  int fd = plat_sopen(translated_path(),
                      CLASSIC_O_CREAT | CLASSIC_O_EXCL | CLASSIC_O_TRUNC | CLASSIC_O_WRONLY |
                          CLASSIC_O_BINARY,
                      PLAT_SH_DENYNO, CLASSIC_S_IREAD | CLASSIC_S_IWRITE);
  if (fd < 0) return CLASSIC_CANNOT_CREATE;
  CtlTrailer t = new_trailer();
  bool whole = plat_write(fd, &t, sizeof t) == static_cast<int>(sizeof t);
  if (whole) plat_commit(fd);
  plat_close(fd);
  if (!whole) {
    // A control file without its whole trailer is of no use to anybody and
    // would stand in the way of a new attempt.
    plat_unlink(translated_path());
    return CLASSIC_IO_ERROR;
  }
  return CLASSIC_OK;
}

int classic_net_ctrl_creat(void) { return classic_create_control_file(XLAT_CTL_PATH); }

int classic_check_trailer(const char* path, int* version, int* lock_state, int* total_items) {
  int status = classic_netxlat(path, translated_path());
  if (status != CLASSIC_OK) return status;
  return read_trailer_of(translated_path(), kCheckTrailerTries, true, version, lock_state,
                         total_items);
}

int classic_check_trailer_ex(const char* path, int tries, int* version, int* lock_state,
                             int* total_items) {
  if (!path) return CLASSIC_CANNOT_OPEN;
  return read_trailer_of(path, tries, false, version, lock_state, total_items);
}

int read_entry_block(FILE* stream, CtlEntry* buffer, int* count, long end_offset) {
  *count = 0;
  if (plat_ftell(stream) == end_offset) return CLASSIC_NO_MORE;
  std::memset(buffer, 0, WINDOW_BYTES);
  size_t got = plat_fread(buffer, CTL_RECORD_SIZE, WINDOW_ENTRIES, stream);
  if (got == 0) return 0;
  if (got < WINDOW_ENTRIES) {
    // The last record read was the trailer.
    *count = static_cast<int>(got) - 1;
    return *count == 0 ? CLASSIC_NO_MORE : CLASSIC_OK;
  }
  *count = WINDOW_ENTRIES;
  if (plat_ftell(stream) == end_offset) *count = WINDOW_ENTRIES - 1;
  return CLASSIC_OK;
}
