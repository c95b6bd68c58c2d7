// Wildcard patterns of the item listings.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "ctl/names.h"
#include "platform/platform.h"
#include "queries/match.h"
#include "support/store_test.h"

namespace {

std::string converted(const std::string& pattern) {
  char out[MATCH_PATTERN_SIZE];
  convert_pattern(out, pattern.c_str());
  return out;
}

// Whether a listing with this pattern reports a live item of this name.
bool listed(const std::string& name, const std::string& pattern, uint8_t flags = 0) {
  CtlEntry e{};
  normalize_item_name(e.name, name.c_str(), ITEM_NAME_SIZE);
  e.flags = flags;
  return entry_matches(e, converted(pattern).c_str());
}

// The matcher's rules written out plainly, with no saving of work, for
// single-byte text: the reference the matcher must agree with.
int reference(const char* s, const char* p) {
  int count = 0;
  while (*p) {
    if (*s == 0) {  // only pairs of a byte other than '\' and a '*' may be left
      for (; *p; p += 2) {
        if (p[0] == '\\' || p[1] != '*') return 0;
      }
      return count;
    }
    if (p[0] == '?' && (p[1] == '*' || p[1] == '+')) {
      if (p[1] == '+') ++s, ++count;
      if (p[2] == 0) return count + static_cast<int>(std::strlen(s));
      int found = 0;  // from the last place where the rest matches
      for (int k = 0; s[k]; ++k) {
        if (int r = reference(s + k, p + 2)) found = count + k + r;
      }
      return found;
    }
    if (p[0] == '?') {
      ++s, ++count, ++p;
      continue;
    }
    if (p[0] == '\\') {
      ++p;  // the next byte is compared literally
    } else if (p[1] == '*' || p[1] == '+') {
      int times = 0;
      while (*s == p[0]) ++s, ++count, ++times;
      if (p[1] == '+' && times == 0) return 0;
      p += 2;
      continue;
    }
    if (*p != *s) return 0;
    ++s, ++count, ++p;
  }
  return count;
}

class MatchTest : public StoreTest {};

TEST_F(MatchTest, PatternConversion) {
  EXPECT_EQ(converted("ab*?+\\x"), "AB?*?+\\X");
  EXPECT_EQ(converted("abcdefghijklmnopqrstuvwxyz"), "ABCDEFGHIJKLMNOPQRST");
  EXPECT_EQ(converted("abcdefghijklmnopqrs*"), "ABCDEFGHIJKLMNOPQRS?");
  EXPECT_EQ(converted("**********a"), "?*?*?*?*?*?*?*?*?*?*");
}

TEST_F(MatchTest, Listings) {
  const std::string t = "ABCDEFGHIJKLMNOPQRST";
  const struct { std::string name, pattern; bool listed; } cases[] = {
      {"AB", "AB*", true}, {"ABC", "ab*", true}, {"AB1", "AB*", true}, {"XAB", "AB*", false},
      {"ABA", "*A", true}, {"AAB", "*A", false}, {"A B", "a b  ", true}, {"A", "", false},
      {t, "*", true}, {"", "*", true}, {"", "", true}, {t, t + "XYZ", true},
      {t, "abcdefghijklmnopqrs*", true}, {t.substr(0, 19), "abcdefghijklmnopqrs*", false},
      {"AAAB", "A+B", true}, {"B", "A+B", false}, {"AAA", "A+A", false},  // runs never give back
      {"A", "A?+", false}, {"ABC", "A?+", true}, {"A+", "A\\+", true}, {"AA", "A\\+", false},
      {"A\\B", "A\\\\B", true}, {"AB", "AB\\", false}, {"ABC", "AB\\", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(listed(c.name, c.pattern), c.listed) << c.name << " " << c.pattern;
  }
  EXPECT_FALSE(listed("ABC", "*", ENTRY_DELETED));
  EXPECT_EQ(match("ACBC", "?*C"), 4);  // the last place that fits wins
  EXPECT_EQ(match("AB", "AB?*X*"), 2);
}

TEST_F(MatchTest, DoubleByteCharacters) {
  plat_set_codepage(932);
  const std::string a = "\x82\xA0", i = "\x82\xA2", hyo = "\x95\x5C";  // 0x5C: a backslash
  EXPECT_EQ(converted("\x82\x61z"), "\x82\x61Z");
  EXPECT_EQ(converted("abcdefghijklmnopqrs" + a), "ABCDEFGHIJKLMNOPQRS\x82");
  EXPECT_TRUE(listed(a + i, a + "*"));
  EXPECT_FALSE(listed(i + a, a + "*"));
  EXPECT_TRUE(listed(a, "??"));        // '?' takes one byte
  EXPECT_TRUE(listed("X" + hyo + "A", "X" + hyo + "?"));
  EXPECT_TRUE(listed(a + i, a + "+"));  // same first byte repeats
  EXPECT_TRUE(listed(a, "\\" + a));
  EXPECT_EQ(match("\x82", "\\\x82"), 1);  // lone lead bytes stand alone
  EXPECT_EQ(match("A\x82", "A?*"), 2);
}

TEST_F(MatchTest, AgreesWithThePlainRules) {
  std::mt19937 rng(7);
  for (int round = 0; round < 300000; ++round) {
    std::string p, s;
    int pattern_len = static_cast<int>(rng() % (round < 100000 ? 6 : 12));
    for (int k = pattern_len; k > 0; --k) p += "AB?*+\\"[rng() % 6];
    for (int k = static_cast<int>(rng() % 12); k > 0; --k) s += "AB*"[rng() % 3];
    ASSERT_EQ(match(s.c_str(), p.c_str()), reference(s.c_str(), p.c_str())) << s << " " << p;
  }
}

TEST_F(MatchTest, ManyStarsCostLittle) {
  EXPECT_TRUE(listed(std::string(20, 'A'), "*a*a*a*a*a*a*a*a*a*b"));
  for (size_t len : {20u, 300u}) {
    std::string name(len, 'A'), pattern;
    while (pattern.size() + 4 <= (len == 20 ? 20u : 120u)) pattern += "?*A";
    pattern += "?B";
    unsigned long steps = 0;
    EXPECT_EQ(match_counting(name.c_str(), pattern.c_str(), &steps), 0);
    EXPECT_LE(steps, (len + 1) * (pattern.size() + 1) * (pattern.size() + 2 * len + 1));
    if (len == 20) {
      EXPECT_LT(steps, 20000u);  // trying every split would take far more
    }
  }
}

}  // namespace
