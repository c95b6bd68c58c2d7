// Item lists: the records of one control file whose names match a wildcard
// pattern, as a linked list the caller owns or block by block in an array
// the library owns.
#pragma once

#include "classic.h"

// The most records one block listing returns.
constexpr int BLK_MAX_ITEMS = 42;
// The most records a whole-file list collects in one call.
constexpr long LIST_MAX_ITEMS = 35552;

// The queries layer's process-wide state (the result array of
// classic_get_blk_items, cleared at the start of every call that reaches the
// scan) back to its value at load.
void reset_queries_state();
