// Entries as callers see them.
#pragma once

#include "classic.h"
#include "ctl/records.h"

// Fills the named fields of info from an entry: the name (20 bytes and a
// NUL), stamps, users (3 characters and a NUL each), size, version,
// attributes, tasks, the found byte and null list links.  Reserved bytes of
// info are left as they were.
void fill_entry_info(CTRL_ENTRY_INFO* info, const CtlEntry& entry, bool found);

