// Wildcard patterns of the item listings.
//
// A listing pattern is converted once per call: letters upper-cased, every
// '*' written as "?*", at most 20 bytes.  In a converted pattern '?' stands
// for any one byte, "?*" for any run of bytes and "?+" for a run of at least
// one; a character followed by '*' or '+' stands for a run of characters
// that begin with the same byte (zero or more, one or more); '\' makes the
// character after it literal; everything else is literal.  Double-byte
// characters count as one character wherever a character is meant.
#pragma once

#include "ctl/records.h"

// Room for a converted pattern and its NUL.
constexpr int MATCH_PATTERN_SIZE = ITEM_NAME_SIZE + 1;

// Converts a caller's pattern (the first 20 bytes at most) into out, which
// holds MATCH_PATTERN_SIZE bytes; the result is NUL-terminated and at most
// 20 bytes long.  A null pattern converts to the empty pattern.
void convert_pattern(char* out, const char* pattern);

// True when entry is live and its name matches the converted pattern as a
// whole (trailing white space of both ignored).
bool entry_matches(const CtlEntry& entry, const char* converted);

// The number of subject bytes the pattern consumes when it is used up, 0 for
// no match (and for a match of nothing).  Both are NUL-terminated.
int match(const char* subject, const char* pattern);

// As match, adding the number of steps taken to *steps.  Whatever the
// pattern, each pair of a subject position and a pattern position is worked
// out at most once, in at most pattern length + 2 x subject length + 1
// steps.
int match_counting(const char* subject, const char* pattern, unsigned long* steps);
