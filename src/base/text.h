// Text helpers every layer uses: stepping through text that may hold
// double-byte characters of the system's ANSI code page, comparisons without
// regard to case, trailing white space and fixed-width fields.
#pragma once

#include <cstddef>
#include <cstdint>

// ch unchanged when it is a lead byte, else the C runtime's toupper of it.
int upper_unless_lead(int ch);
// 2 when the byte at p is a lead byte, else 1.
int char_width(const char* p);
// 1 when ch is not a lead byte.
int is_single_byte(int ch);
// The position of the next character (p itself at a NUL).
const char* next_char(const char* p);
// The last occurrence of ch in text, stepping by characters so that a trail
// byte is never taken for ch; null when there is none.
const char* find_last_char(const char* text, char ch);
// Upper-cases the single-byte characters of a NUL-terminated text in place.
void upcase_name(char* text);

// ASCII comparisons without regard to case, as file and key names compare.
bool equal_nocase(const char* a, const char* b);
bool starts_nocase(const char* text, const char* prefix);

// Trailing white space of caller texts (area names, item names, patterns):
// callers often pass texts read from a line or a fixed field, with blanks or
// a line end behind them.  The length of text without its trailing white
// space (the C library's isspace); 0 for a null text.
size_t trimmed_length(const char* text);
// Removes the trailing white space of text in place and returns the new
// length; a null text is left alone and gives 0.
size_t trim_trailing_space(char* text);

// Copies text into a fixed field of n bytes as strncpy does: NUL-padded, and
// without terminator when the text fills the field.
void put_field(char* field, size_t n, const char* text);

// "2024-05-01 13:07:00", the local time of t (seconds since 1970), into out
// (n bytes); "-" for 0.
void format_local_time(uint32_t t, char* out, size_t n);
