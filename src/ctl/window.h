// The entry window: one process-wide buffer of 32 consecutive entries (2048
// bytes) of the current control file.  The entry search, the block reader of
// the listings, the entry moves and the raw transfers all use it, and any of
// them may overwrite it.
#pragma once

#include "ctl/records.h"

constexpr int WINDOW_ENTRIES = 32;
constexpr int WINDOW_BYTES = WINDOW_ENTRIES * CTL_RECORD_SIZE;

extern CtlEntry g_window[WINDOW_ENTRIES];

static_assert(sizeof(g_window) == 2048);
