// The process-wide state of the seam, in one record that only the files of
// src/platform see.
#pragma once

#include "platform/platform.h"

// The paths of the files open through plat_sopen, by descriptor, so that a
// failure on a stream can name its file.  Descriptors are small numbers; a
// slot is shared by descriptors equal modulo the table size, the later one
// winning.
constexpr int PLAT_OPEN_SLOTS = 64;

struct PlatOpenFile {
  int fd;
  int oflag;      // as opened
  FILE* direct;   // the stream of plat_fdopen_direct on it, or null
  int64_t where;  // that stream's position
  int64_t length; // the file's length while only this descriptor changes it, or -1
  int64_t seen;   // its length when opened, or -1
  char path[PLAT_CAUSE_PATH_SIZE];
};

// What a direct stream read ahead: reads that follow one another read more
// of the file at once (twice as much each time, up to PLAT_READ_AHEAD_MAX
// bytes), so that a scan of a whole control file takes a few calls.  Kept
// for one stream at a time; any write through it drops what was read.
constexpr size_t PLAT_READ_AHEAD_MAX = 256 * 1024;

struct PlatReadAhead {
  FILE* stream;
  char* bytes;       // PLAT_READ_AHEAD_MAX of them, allocated when first needed
  int64_t start;     // the file offset of bytes[0]
  size_t length;     // the bytes held
  int64_t last_end;  // where the stream's last read ended
  size_t next;       // how much the next read ahead reads
  bool ends_file;    // the file ends where the bytes held end
};

struct PlatformState {
  // The calls a test replaced (null members keep the real ones).
  plat_hooks hooks;
  // The code page a test chose, 0 for the system's.
  unsigned codepage;
  // The cause of the last noted failure.
  plat_cause cause;
  bool has_cause;
  PlatOpenFile open[PLAT_OPEN_SLOTS];
  PlatReadAhead ahead;
};

PlatformState& platform_state();
