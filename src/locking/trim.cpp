// Trailing white space of caller texts.
#include "locking/trim.h"

#include <cctype>
#include <cstring>

size_t trimmed_length(const char* text) {
  if (!text) return 0;
  size_t n = std::strlen(text);
  while (n > 0 && std::isspace(static_cast<unsigned char>(text[n - 1]))) --n;
  return n;
}

size_t trim_trailing_space(char* text) {
  if (!text) return 0;
  size_t n = trimmed_length(text);
  text[n] = 0;
  return n;
}
