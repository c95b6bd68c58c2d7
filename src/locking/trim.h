// Trailing white space of caller texts (area names, item names, patterns):
// callers often pass texts read from a line or a fixed field, with blanks or
// a line end behind them.
#pragma once

#include <cstddef>

// The length of text without its trailing white space (the C library's
// isspace); 0 for a null text.
size_t trimmed_length(const char* text);

// Removes the trailing white space of text in place and returns the new
// length; a null text is left alone and gives 0.
size_t trim_trailing_space(char* text);
