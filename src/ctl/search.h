// The entry search: one windowed binary search over the sorted live entries
// of a control file, starting at the entry last found or missed in the same
// file (a hint kept for five files at once).
#pragma once

#include <cstdint>
#include <cstdio>

#include "ctl/records.h"

// The entry the last search found (kept when a search finds nothing).
CtlEntry& ctl_entry();
// A process-wide record in which item creation builds a new entry, and which
// searches that must not disturb the current entry fill.
CtlEntry& ctl_scratch_entry();

// Searches the normalised 20-byte key among the entries of the control file
// of the open session.  1: found, copied to out, the stream just after it.
// 1007: not found, the stream at 64 x (insertion index + 1).  1002: a seek
// or read failed (or the file's order is too damaged to search).
int ctl_find_entry(FILE* stream, const char* key, CtlEntry* out);

// The offset of the entry the last search found, or of the place where the
// name it missed belongs (the stream stands one record further).
long ctl_found_offset();

// Windows of entries read by the searches so far.
long ctl_window_loads();
// Counts one window read (the lay-rule search reads windows too).
void count_window_load();
