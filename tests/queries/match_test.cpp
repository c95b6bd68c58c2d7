// Wildcard patterns of the item listings: conversion, the entry test and the
// matcher.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ctl/names.h"
#include "ctl/records.h"
#include "platform/platform.h"
#include "queries/match.h"
#include "support/store_test.h"

namespace {

std::string converted(const char* pattern) {
  char out[MATCH_PATTERN_SIZE + 8];
  std::memset(out, '#', sizeof out);
  convert_pattern(out, pattern);
  for (size_t i = std::strlen(out) + 1; i < sizeof out; ++i) {
    EXPECT_EQ(out[i], '#') << "written past the NUL for " << pattern;
  }
  return out;
}

CtlEntry entry_named(const std::string& name, uint8_t flags = 0) {
  CtlEntry e;
  std::memset(&e, 0, sizeof e);
  normalize_item_name(e.name, name.c_str(), ITEM_NAME_SIZE);
  e.flags = flags;
  return e;
}

// Whether a listing with this pattern reports an item of this name.
bool listed(const std::string& name, const char* pattern) {
  std::string p = converted(pattern);
  return entry_matches(entry_named(name), p.c_str());
}

// The matcher's rules written out plainly, without any saving of work: the
// reference the matcher is checked against.  Single-byte text only.
int reference(const char* s, const char* p) {
  if (*p == 0) return 0;
  int count = 0;
  while (*p) {
    if (*s == 0) {
      for (; *p; p += 2) {
        if (p[0] == '\\' || p[1] != '*') return 0;
      }
      return count;
    }
    if (p[0] == '?' && (p[1] == '*' || p[1] == '+')) {
      if (p[1] == '+') {
        ++s;
        ++count;
      }
      if (p[2] == 0) return count + static_cast<int>(std::strlen(s));
      if (*s == 0) return 0;
      int found = -1;
      for (int k = 0; s[k]; ++k) {
        int r = reference(s + k, p + 2);
        if (r) found = k + r;
      }
      return found < 0 ? 0 : count + found;
    }
    if (p[0] == '?') {
      ++s, ++count, ++p;
    } else if (p[0] == '\\') {
      if (p[1] != *s) return 0;
      ++s, ++count, p += 2;
    } else if (p[1] == '*' || p[1] == '+') {
      int times = 0;
      while (*s == p[0]) ++s, ++count, ++times;
      if (p[1] == '+' && times == 0) return 0;
      p += 2;
    } else {
      if (p[0] != *s) return 0;
      ++s, ++count, ++p;
    }
  }
  return count;
}

class MatchTest : public StoreTest {};

TEST_F(MatchTest, PatternConversion) {
  EXPECT_EQ(converted("ab*"), "AB?*");
  EXPECT_EQ(converted("*"), "?*");
  EXPECT_EQ(converted(""), "");
  EXPECT_EQ(converted(nullptr), "");
  EXPECT_EQ(converted("a?+\\x"), "A?+\\X");
  // At most 20 input bytes, at most 20 output bytes.
  EXPECT_EQ(converted("abcdefghijklmnopqrstuvwxyz"), "ABCDEFGHIJKLMNOPQRST");
  EXPECT_EQ(converted("abcdefghijklmnopqrs*"), "ABCDEFGHIJKLMNOPQRS?");
  EXPECT_EQ(converted("abcdefghijklmnopqr*x"), "ABCDEFGHIJKLMNOPQR?*");
  EXPECT_EQ(converted("**********a"), "?*?*?*?*?*?*?*?*?*?*");
}

TEST_F(MatchTest, PrefixSuffixAndAnyName) {
  EXPECT_TRUE(listed("AB", "AB*"));
  EXPECT_TRUE(listed("ABC", "AB*"));
  EXPECT_TRUE(listed("AB1", "AB*"));
  EXPECT_FALSE(listed("XAB", "AB*"));
  EXPECT_TRUE(listed("ABA", "*A"));
  EXPECT_FALSE(listed("AAB", "*A"));
  EXPECT_TRUE(listed("ab", "ab*"));            // names are stored upper-cased
  EXPECT_TRUE(listed("PIECE-12", "piece-1?"));
  EXPECT_FALSE(listed("PIECE-123", "piece-1?"));
  EXPECT_TRUE(listed("A B", "a b"));
  EXPECT_TRUE(listed("AB", "AB   "));          // trailing blanks of the pattern go
  for (const char* name : {"A", "ZZZZZZZZZZZZZZZZZZZZ", "1 2", "X_Y"}) {
    EXPECT_TRUE(listed(name, "*")) << name;
    EXPECT_FALSE(listed(name, "")) << name;
  }
  EXPECT_TRUE(listed("", "*"));
  EXPECT_TRUE(listed("", ""));
}

TEST_F(MatchTest, DeletedEntriesNeverMatch) {
  std::string any = converted("*");
  EXPECT_FALSE(entry_matches(entry_named("ABC", ENTRY_DELETED), any.c_str()));
  EXPECT_FALSE(entry_matches(entry_named("ABC", ENTRY_DELETED | 1), "ABC"));
  EXPECT_TRUE(entry_matches(entry_named("ABC", 1), "ABC"));
}

TEST_F(MatchTest, PatternsCutAtTwentyBytes) {
  std::string name19 = "ABCDEFGHIJKLMNOPQRS";
  // The '*' at the cut becomes a lone '?': exactly one more byte.
  EXPECT_TRUE(listed(name19 + "T", "abcdefghijklmnopqrs*"));
  EXPECT_FALSE(listed(name19, "abcdefghijklmnopqrs*"));
  // Bytes beyond the 20th are not looked at.
  EXPECT_TRUE(listed("ABCDEFGHIJKLMNOPQRST", "abcdefghijklmnopqrstXYZ"));
  // A full 20-byte name without NUL.
  EXPECT_TRUE(listed("ABCDEFGHIJKLMNOPQRST", "ABCDEFGHIJ*"));
}

TEST_F(MatchTest, RepeatsAndEscapes) {
  EXPECT_TRUE(listed("AB", "A+B"));
  EXPECT_TRUE(listed("AAAB", "A+B"));
  EXPECT_FALSE(listed("B", "A+B"));
  EXPECT_TRUE(listed("AB", "A?+"));
  EXPECT_TRUE(listed("ABCD", "A?+"));
  EXPECT_FALSE(listed("A", "A?+"));
  // A run is taken greedily and never given back.
  EXPECT_FALSE(listed("AAA", "A+A"));
  // '\' makes the next character literal.
  EXPECT_TRUE(listed("A+", "A\\+"));
  EXPECT_FALSE(listed("AA", "A\\+"));
  EXPECT_TRUE(listed("A?", "A\\?"));
  EXPECT_FALSE(listed("AB", "A\\?"));
  EXPECT_TRUE(listed("A\\B", "A\\\\B"));
  // A lone '\' at the end matches nothing and reads nothing beyond.
  EXPECT_FALSE(listed("AB", "AB\\"));
  EXPECT_FALSE(listed("ABC", "AB\\"));
  EXPECT_EQ(match("ABC", "AB\\"), 0);
  // What the matcher returns is the bytes consumed when the pattern ends.
  EXPECT_EQ(match("ABCD", "AB"), 2);
  EXPECT_EQ(match("ABCD", "?*C"), 3);
  EXPECT_EQ(match("ACBC", "?*C"), 4);   // the last place that fits wins
  EXPECT_EQ(match("AB", "AB?*X*"), 2);  // leftover "x*" pairs match nothing
  EXPECT_EQ(match("AB", "AB?*X"), 0);
  EXPECT_EQ(match("AB", "AB\\**"), 0);
}

TEST_F(MatchTest, DoubleByteCharacters) {
  plat_set_codepage(932);
  const std::string a = "\x82\xA0";   // two characters of code page 932
  const std::string i = "\x82\xA2";
  const std::string hyo = "\x95\x5C";  // its trail byte is a backslash
  EXPECT_EQ(converted("\x82\x61z"), "\x82\x61Z");  // trail bytes are not upper-cased
  EXPECT_EQ(converted("abcdefghijklmnopqrs\x82\xA0"), "ABCDEFGHIJKLMNOPQRS\x82");
  EXPECT_TRUE(listed(a + i, (a + "*").c_str()));
  EXPECT_FALSE(listed(i + a, (a + "*").c_str()));
  EXPECT_TRUE(listed(a, "??"));                 // '?' takes one byte
  EXPECT_FALSE(listed(a, "?"));
  EXPECT_TRUE(listed(hyo, hyo.c_str()));
  EXPECT_TRUE(listed("X" + hyo, ("X" + hyo).c_str()));
  EXPECT_FALSE(listed("X" + i, ("X" + hyo).c_str()));
  EXPECT_TRUE(listed(hyo + "A", (hyo + "?").c_str()));
  // A repeated character takes every character with the same first byte.
  EXPECT_TRUE(listed(a + i, (a + "+").c_str()));
  EXPECT_TRUE(listed("\\" + a, ("\\\\" + a).c_str()));
  EXPECT_TRUE(listed(a, ("\\" + a).c_str()));
  // A lead byte at the end of the pattern or the name stands alone.
  EXPECT_EQ(match("\x82", "\x82"), 1);
  EXPECT_EQ(match("A\x82", "A?*"), 2);
  EXPECT_EQ(match("\x82", "\\\x82"), 1);
  EXPECT_EQ(match("\x82\xA0", "\x82"), 1);
  EXPECT_FALSE(listed(a, "\x82"));
}

TEST_F(MatchTest, AgreesWithPlainRulesOnEveryShortPattern) {
  const char pattern_bytes[] = {'A', 'B', '?', '*', '+', '\\'};
  const char subject_bytes[] = {'A', 'B', '*'};
  std::vector<std::string> patterns = {""};
  for (size_t from = 0; patterns.back().size() < 5;) {
    size_t to = patterns.size();
    for (size_t k = from; k < to; ++k) {
      for (char c : pattern_bytes) patterns.push_back(patterns[k] + c);
    }
    from = to;
  }
  std::vector<std::string> subjects = {""};
  for (size_t from = 0; subjects.back().size() < 5;) {
    size_t to = subjects.size();
    for (size_t k = from; k < to; ++k) {
      for (char c : subject_bytes) subjects.push_back(subjects[k] + c);
    }
    from = to;
  }
  for (const std::string& p : patterns) {
    for (const std::string& s : subjects) {
      ASSERT_EQ(match(s.c_str(), p.c_str()), reference(s.c_str(), p.c_str()))
          << "subject " << s << " pattern " << p;
    }
  }
}

TEST_F(MatchTest, AgreesWithPlainRulesOnRandomLongerPatterns) {
  std::mt19937 rng(7);
  const char pattern_bytes[] = "AB?*+\\";
  for (int round = 0; round < 20000; ++round) {
    std::string p;
    std::string s;
    for (int k = static_cast<int>(rng() % 11); k > 0; --k) p += pattern_bytes[rng() % 6];
    for (int k = static_cast<int>(rng() % 13); k > 0; --k) s += "AB"[rng() % 2];
    ASSERT_EQ(match(s.c_str(), p.c_str()), reference(s.c_str(), p.c_str()))
        << "subject " << s << " pattern " << p;
  }
}

TEST_F(MatchTest, ManyStarsCostLittle) {
  std::string pattern = converted("*a*a*a*a*a*a*a*a*a*b");
  EXPECT_EQ(pattern, "?*A?*A?*A?*A?*A?*A?*");
  std::string name(ITEM_NAME_SIZE, 'A');
  EXPECT_TRUE(entry_matches(entry_named(name), pattern.c_str()));
  // Against the bound, with a pattern whose stars all fail at the end.
  const std::string hard = "?*A?*A?*A?*A?*A?*A?B";
  unsigned long steps = 0;
  EXPECT_EQ(match_counting(name.c_str(), hard.c_str(), &steps), 0);
  const unsigned long s = name.size();
  const unsigned long p = hard.size();
  EXPECT_LE(steps, (s + 1) * (p + 1) * (p + 2 * s + 1));
  EXPECT_LT(steps, 20000u);
  // Long subjects and patterns are handled too.
  std::string long_name(300, 'A');
  std::string long_pattern;
  for (int k = 0; k < 40; ++k) long_pattern += "?*A";
  long_pattern += "B";
  steps = 0;
  EXPECT_EQ(match_counting(long_name.c_str(), long_pattern.c_str(), &steps), 0);
  EXPECT_LT(steps, 301ul * 122ul * 722ul);
}

}  // namespace
