// The entry window: one process-wide buffer of 32 consecutive entries (2048
// bytes) of the current control file.  The entry search, the block reader of
// the listings, the entry moves and the raw transfers all use it, and any of
// them may overwrite it.
#pragma once

#include "ctl/records.h"

constexpr int WINDOW_ENTRIES = 32;
constexpr int WINDOW_BYTES = WINDOW_ENTRIES * CTL_RECORD_SIZE;

// The window's first entry.
CtlEntry* ctl_window();

static_assert(WINDOW_BYTES == 2048);
