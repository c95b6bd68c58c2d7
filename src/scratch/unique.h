// Scratch files under generated unique names (the exported calls are in
// classic.h).  A unique name is an 8.3 name: the name template and the
// extension template with every '?' replaced by a hexadecimal digit of the
// tick count and of the process's scratch counter.
#pragma once

#include <cstdint>

// Room for a unique name and its NUL: 8 + '.' + 3 + 1.
constexpr int UNIQUE_NAME_SIZE = 13;

// Writes the template (its first width characters) to out with every '?'
// replaced by the hexadecimal digit of value that stands at that position
// when value is written as width digits with leading zeros; other
// characters are copied.  out receives at most width characters and a NUL;
// the number of characters written is returned.
int fill_name_template(char* out, const char* name_template, int width, uint32_t value);

// The scratch layer's process-wide state (the scratch counter) back to its
// value at load.
void reset_scratch_state();
