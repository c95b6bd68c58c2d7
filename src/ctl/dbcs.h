// Character routines for text that may hold double-byte characters of the
// system's ANSI code page.  They ask the OS about every byte (they do not use
// the lead-byte table of the name comparison).
#pragma once

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

// ASCII comparisons without regard to case, as file and key names compare.
bool equal_nocase(const char* a, const char* b);
bool starts_nocase(const char* text, const char* prefix);
