// Data-file naming and the drive keys of the registry.
#include "base/names.h"

#include <cstdio>
#include <cstring>

#include "base/text.h"

void format_drive_key(char* out, size_t size, char letter) {
  std::snprintf(out, size, "%s\\%c:", AREA_SYSTEM_KEY, letter);
}

void suffix_of(int number, char* suffix) {
  suffix[0] = static_cast<char>('a' + number / (26 * 26));
  suffix[1] = static_cast<char>('a' + number / 26 % 26);
  suffix[2] = static_cast<char>('a' + number % 26);
}

void next_suffix(char* suffix) {
  // Letters step within their own case: AAZ is followed by ABA, not AA[.
  for (int i = 2; i >= 0; --i) {
    char last = suffix[i] >= 'A' && suffix[i] <= 'Z' ? 'Z' : 'z';
    char first = last == 'Z' ? 'A' : 'a';
    if (suffix[i] < last) {
      ++suffix[i];
      return;
    }
    suffix[i] = first;
  }
}

bool data_file_path(char* dst, const char* ctl_path, const char* pattern, const char* suffix) {
  dst[0] = 0;
  size_t dir = 0;
  if (const char* cut = find_last_char(ctl_path, '\\')) {
    dir = static_cast<size_t>(cut - ctl_path) + 1;
  } else if (const char* slash = std::strrchr(ctl_path, '/')) {
    dir = static_cast<size_t>(slash - ctl_path) + 1;
  }
  // The pattern is the caller's: only its three %c conversions are filled
  // in, never handed to a printf-style formatter.
  char name[16];
  size_t n = 0;
  int letters = 0;
  for (const char* p = pattern; *p; ++p) {
    char c = *p;
    if (c == '%') {
      if (p[1] == 'c' && letters < 3) {
        c = suffix[letters++];
        ++p;
      } else if (p[1] == '%') {
        ++p;
      } else {
        return false;
      }
    }
    if (n + 1 >= sizeof name) return false;
    name[n++] = c;
  }
  name[n] = 0;
  if (dir + n >= XLAT_PATH_SIZE) return false;
  std::memcpy(dst, ctl_path, dir);
  std::memcpy(dst + dir, name, n + 1);
  return true;
}

int32_t task_id() { return TASK_ID_CLASSIC; }
