// Wildcard patterns of the item listings: conversion, the entry test and the
// matcher.
#include "queries/match.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "base/text.h"
#include "base/text.h"

namespace {

// 2 for a lead byte followed by its trail byte, else 1.  A lead byte at the
// end of the text stands alone, so no step reads past the NUL.
int width_at(const char* p) {
  return (!is_single_byte(static_cast<unsigned char>(p[0])) && p[1] != 0) ? 2 : 1;
}

// width bytes of the subject at s equal the character at c.  The subject
// is read byte by byte and stops at its NUL.
bool same_character(const char* s, const char* c, int width) {
  for (int i = 0; i < width; ++i) {
    if (s[i] != c[i]) return false;
    if (s[i] == 0) return false;
  }
  return true;
}

// One match of a subject against a pattern.  run(si, pi) is the result of
// matching the subject from byte si against the pattern from byte pi; it
// depends on nothing else, so each pair is worked out once and remembered.
// That keeps patterns with many "?*" from trying every split of the subject
// again and again: the work is at most one pass over the pattern and one
// over the subject per pair.
class Matcher {
 public:
  Matcher(const char* subject, size_t subject_len, const char* pattern, size_t pattern_len,
          int* memo, unsigned long* steps)
      : subject_(subject), pattern_(pattern), columns_(pattern_len + 1), memo_(memo),
        steps_(steps) {
    std::fill(memo_, memo_ + (subject_len + 1) * columns_, -1);
  }

  int run(size_t si, size_t pi) {
    int& known = memo_[si * columns_ + pi];
    if (known < 0) known = walk(subject_ + si, pattern_ + pi);
    return known;
  }

 private:
  void step() { ++*steps_; }

  // The pattern steps in order until the pattern is used up, a step fails,
  // the subject runs out or a "?*" / "?+" hands over to star.
  int walk(const char* s, const char* p) {
    if (*p == 0) return 0;
    int count = 0;
    while (*p != 0) {
      step();
      if (*s == 0) return tail(p, count);
      if (p[0] == '?' && (p[1] == '*' || p[1] == '+')) return star(s, p, count);
      if (p[0] == '?') {
        // Any one byte, even the lead byte of a double-byte character.
        ++s;
        ++count;
        ++p;
      } else if (p[0] == '\\') {
        ++p;
        int width = *p != 0 ? width_at(p) : 1;
        if (!same_character(s, p, width)) return 0;
        s += width;
        count += width;
        p += width;
      } else {
        int width = width_at(p);
        char repeat = p[width];
        if (repeat == '*' || repeat == '+') {
          // A run of characters that begin with this byte, taken greedily
          // and never given back.
          int times = 0;
          while (*s == p[0]) {
            step();
            int w = width_at(s);
            s += w;
            count += w;
            ++times;
          }
          if (repeat == '+' && times == 0) return 0;
          p += width + 1;
        } else {
          if (!same_character(s, p, width)) return 0;
          s += width;
          count += width;
          p += width;
        }
      }
    }
    return count;
  }

  // "?*" or "?+" at p with count bytes consumed before s: the rest of the
  // pattern is tried at every later position of the subject and the last
  // position where it matches wins.
  int star(const char* s, const char* p, int count) {
    if (p[1] == '+') {
      ++s;
      ++count;
    }
    const char* rest = p + 2;
    if (*rest == 0) return count + static_cast<int>(std::strlen(s));
    if (*s == 0) return 0;
    size_t from = static_cast<size_t>(s - subject_);
    size_t last = from + std::strlen(s) - 1;
    size_t rest_at = static_cast<size_t>(rest - pattern_);
    for (size_t k = last + 1; k-- > from;) {
      step();
      int r = run(k, rest_at);
      if (r != 0) return count + static_cast<int>(k - from) + r;
    }
    return 0;
  }

  // The subject is used up: the pattern left must be pairs of a byte other
  // than '\' and a '*', each of which can match nothing.
  int tail(const char* p, int count) {
    while (*p != 0) {
      step();
      if (p[0] == '\\' || p[1] != '*') return 0;
      p += 2;
    }
    return count;
  }

  const char* subject_;
  const char* pattern_;
  size_t columns_;
  int* memo_;
  unsigned long* steps_;
};

}  // namespace

void convert_pattern(char* out, const char* pattern) {
  int n = 0;
  if (pattern != nullptr) {
    int i = 0;
    while (i < ITEM_NAME_SIZE && pattern[i] != 0 && n < ITEM_NAME_SIZE) {
      unsigned char c = static_cast<unsigned char>(pattern[i]);
      if (c == '*') {
        // "?*"; only the '?' when the '*' would be the 21st byte.
        out[n++] = '?';
        if (n < ITEM_NAME_SIZE) out[n++] = '*';
        ++i;
      } else if (!is_single_byte(c) && pattern[i + 1] != 0) {
        // A double-byte character is copied whole, except at the cut.
        out[n++] = pattern[i];
        if (n < ITEM_NAME_SIZE) out[n++] = pattern[i + 1];
        i += 2;
      } else {
        out[n++] = static_cast<char>(upper_unless_lead(c));
        ++i;
      }
    }
  }
  out[n] = 0;
}

bool entry_matches(const CtlEntry& entry, const char* converted) {
  if (entry.flags & ENTRY_DELETED) return false;
  char name[ITEM_NAME_SIZE + 1];
  std::memcpy(name, entry.name, ITEM_NAME_SIZE);
  name[ITEM_NAME_SIZE] = 0;
  char pattern[ITEM_NAME_SIZE + 1];
  std::strncpy(pattern, converted, ITEM_NAME_SIZE);
  pattern[ITEM_NAME_SIZE] = 0;
  trim_trailing_space(name);
  trim_trailing_space(pattern);
  return match(name, pattern) == static_cast<int>(std::strlen(name));
}

int match(const char* subject, const char* pattern) {
  unsigned long steps = 0;
  return match_counting(subject, pattern, &steps);
}

int match_counting(const char* subject, const char* pattern, unsigned long* steps) {
  if (subject == nullptr || pattern == nullptr || *pattern == 0) return 0;
  size_t subject_len = std::strlen(subject);
  size_t pattern_len = std::strlen(pattern);
  size_t cells = (subject_len + 1) * (pattern_len + 1);
  // Names and patterns of the listings are at most 20 bytes: their table
  // fits on the stack.
  int local[1024];
  std::vector<int> heap;
  int* memo = local;
  if (cells > sizeof local / sizeof local[0]) {
    try {
      heap.resize(cells);
    } catch (const std::bad_alloc&) {
      return 0;
    }
    memo = heap.data();
  }
  Matcher matcher(subject, subject_len, pattern, pattern_len, memo, steps);
  return matcher.run(0, 0);
}
