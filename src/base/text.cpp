// Text helpers.  The double-byte routines ask the OS about every byte (they
// do not use the lead-byte table of the name comparison).
#include "base/text.h"

#include <cctype>
#include <cstdio>
#include <ctime>
#include <cstring>

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

void upcase_name(char* text) {
  for (char* p = text; *p; p = const_cast<char*>(next_char(p))) {
    if (is_single_byte(static_cast<unsigned char>(*p))) {
      *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    }
  }
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

void put_field(char* field, size_t n, const char* text) {
  size_t len = strnlen(text, n);
  std::memcpy(field, text, len);
  std::memset(field + len, 0, n - len);
}

void format_local_time(uint32_t t, char* out, size_t n) {
  std::tm tm;
  std::memset(&tm, 0, sizeof tm);
  if (t == 0 || plat_localtime32(t, &tm) != 0) {
    std::snprintf(out, n, "%s", t == 0 ? "-" : "?");
    return;
  }
  std::snprintf(out, n, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
}
