// The directory search shared by the area listings and the area locks.
//
// One search at a time per process: a new find_first_entry ends the search
// before it.  A search stays open until it runs out, until end_find, until
// the next find_first_entry, or until the process ends.
#pragma once

#include <cstddef>

// Room for a found name and its NUL; longer names are passed over.
constexpr size_t FIND_NAME_SIZE = 256;

// The caller's record of one found entry: only the name is filled in.
struct FindEntry {
  char name[FIND_NAME_SIZE];
};

// Starts a search for path.  A path without '*' or '?' names one entry: 0
// and the last component of path when it exists (whatever its attributes),
// else -1; no further entries follow it.  A pattern reports its first entry
// whose attributes include every bit of mask (0 accepts everything): 0 and
// its name, or -1 when none does.
int find_first_entry(const char* path, unsigned mask, FindEntry* entry);
// 0 and the next entry of the open search that has every bit of its mask,
// or -1 when there is none (the search is then ended) or no search is open.
int find_next_entry(FindEntry* entry);
// Ends the open search, if any.
void end_find();

