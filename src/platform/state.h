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
  char path[PLAT_CAUSE_PATH_SIZE];
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
};

PlatformState& platform_state();
