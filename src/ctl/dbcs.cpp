#include "ctl/dbcs.h"

#include <cctype>

#include "platform/platform.h"

int upper_unless_lead(int ch) {
  unsigned char c = static_cast<unsigned char>(ch);
  if (plat_is_dbcs_lead_byte(c)) return c;
  return std::toupper(c);
}

int char_width(const char* p) {
  return plat_is_dbcs_lead_byte(static_cast<unsigned char>(*p)) ? 2 : 1;
}

int is_single_byte(int ch) {
  return plat_is_dbcs_lead_byte(static_cast<unsigned char>(ch)) ? 0 : 1;
}

const char* next_char(const char* p) { return plat_char_next(p); }

const char* find_last_char(const char* text, char ch) {
  const char* found = nullptr;
  for (const char* p = text; *p; p = next_char(p)) {
    if (*p == ch) found = p;
  }
  return found;
}

namespace {

int fold(char c) { return std::tolower(static_cast<unsigned char>(c)); }

}  // namespace

bool equal_nocase(const char* a, const char* b) {
  for (; *a && fold(*a) == fold(*b); ++a, ++b) {
  }
  return fold(*a) == fold(*b);
}

bool starts_nocase(const char* text, const char* prefix) {
  for (; *prefix; ++prefix, ++text) {
    if (fold(*text) != fold(*prefix)) return false;
  }
  return true;
}
