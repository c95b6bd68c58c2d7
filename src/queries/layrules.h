// Lay-rule queries: the items of an area's lyrl.ctl listed by category and
// numbered by prefix, both starting at the category's first rule, which the
// category search finds.
#pragma once

#include <cstdio>

#include "ctl/records.h"

// The longest lay-rule control-file path: the area text and "lyrl.ctl".
constexpr int LAYRULE_PATH_MAX = 255;

// Finds the first live entry of the control file of the open session whose
// name begins with key, compared over keylen bytes (0 to 20) by the order of
// names.  1: found, copied to out (when given), the stream just after it.
// 1007: no entry begins with key.  1002: a seek or read failed.
//
// The entries are read through the entry window, at most 32 at a time and
// never across a multiple of 32, and every window is examined whole before
// the next is read.
int find_category_entry(FILE* stream, const char* key, int keylen, CtlEntry* out);
