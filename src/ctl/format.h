// Whole control files: creation, trailer reads without a session, and the
// block reader of the listings.
#pragma once

#include <cstdio>

#include "ctl/records.h"

// Reads the entries from the stream's position into buffer (the entry
// window), at most 32, up to the end offset (trailer offset + 64).  Returns
// 1 with *count entries; 999 (count 0) at the end; 0 (count 0) when nothing
// could be read.  A block that reaches the trailer does not count it.
int read_entry_block(FILE* stream, CtlEntry* buffer, int* count, long end_offset);
