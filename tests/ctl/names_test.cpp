// Item names: the canonical form and the order of names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "ctl/names.h"
#include "ctl/records.h"
#include "platform/platform.h"
#include "support/store_test.h"

namespace {

std::string padded(std::string s) {
  s.resize(std::max<size_t>(s.size(), ITEM_NAME_SIZE), '\0');
  return s;
}

// The 20-byte key of name; the guard byte behind it must survive.
std::string key_of(const std::string& name) {
  char key[ITEM_NAME_SIZE + 1];
  std::memset(key, '#', sizeof key);
  normalize_item_name(key, name.c_str(), ITEM_NAME_SIZE);
  EXPECT_EQ(key[ITEM_NAME_SIZE], '#') << "key overrun for " << name;
  return std::string(key, ITEM_NAME_SIZE);
}

// -1, 0 or 1; both names NUL-padded to 20 bytes as stored names are.
int order(const std::string& a, const std::string& b, int n = ITEM_NAME_SIZE) {
  int c = compare_item_names(padded(a).c_str(), padded(b).c_str(), n);
  return (c > 0) - (c < 0);
}

class NamesTest : public StoreTest {};

TEST_F(NamesTest, NormalisedNames) {
  EXPECT_EQ(key_of("   ab c\t"), padded("AB C"));
  EXPECT_EQ(key_of("\ta\tb \r\n\v\f"), padded("\tA\tB"));  // only blanks lead away
  EXPECT_EQ(key_of("   abcdefghijklmnopqrstuvwxy"), "ABCDEFGHIJKLMNOPQRST");
  EXPECT_EQ(key_of("abcdefghijklmnopqr  st"), padded("ABCDEFGHIJKLMNOPQR"));
  EXPECT_EQ(key_of(""), padded(""));
  EXPECT_EQ(key_of("     "), padded(""));
  plat_set_codepage(932);
  EXPECT_EQ(key_of("\x82\x61x "), padded("\x82\x61X"));  // a trail byte is no letter
  EXPECT_EQ(key_of(std::string(19, 'a') + "\x82\x61"), std::string(19, 'A') + "\x82");
}

TEST_F(NamesTest, NaturalOrder) {
  // Each name sorts after the one before it.
  const char* ascending[] = {"", "A B", "AB", "AB1", "ITEM9", "ITEM10", "ITEM010", "X10A", "X10B",
                             "Z", "_", "~", "\x7F", "\x80", "\x8E", "\x99", "\x9A", "\xA5"};
  for (size_t i = 0; i + 1 < std::size(ascending); ++i) {
    EXPECT_LT(order(ascending[i], ascending[i + 1]), 0) << ascending[i];
  }
  EXPECT_EQ(order("A1B", "a1b"), 0);
  EXPECT_EQ(order("A\x81", "A\xE0"), 0);  // other high bytes weigh 0
  EXPECT_EQ(order("ABCDEFGHIJKLMNOPQRSTA", "ABCDEFGHIJKLMNOPQRSTB"), 0);
  EXPECT_EQ(order("AB", "AB\x01Z"), 0);  // a NUL in a ends it where b weighs 0
  EXPECT_GT(order("AB\x01Z", "AB"), 0);
  EXPECT_EQ(order("ITEM123", "ITEM124", 6), 0);  // digit runs are cut at n
  EXPECT_LT(order("ITEM123", "ITEM124", 7), 0);
  // Buffers of exactly n bytes: the sanitizer build catches a read behind.
  std::vector<char> a{'I', 'T', '1', '2'}, b = a;
  EXPECT_EQ(compare_item_names(a.data(), b.data(), 4), 0);
}

TEST_F(NamesTest, DoubleByteCodePage) {
  EXPECT_EQ(order("\x82\xA0X", "\x83\xA1X"), 0);  // under 1252 both weigh 0
  plat_set_codepage(932);
  EXPECT_EQ(order("\x82\xA0X", "\x83\xA1X"), 0);  // the mode is kept until reset
  reset_names_state();
  EXPECT_LT(order("\x82\xA0X", "\x83\xA1X"), 0);
  EXPECT_GT(order("\x88\x9F", "\x82\xFC"), 0);    // lead x 256 + trail
  EXPECT_LT(order("Z", "\x82\xA0"), 0);
  EXPECT_GT(order("\xA5", "A"), 0);               // a lone high byte is its own code
  EXPECT_EQ(order("a\x82\xA0" "b", "A\x82\xA0" "B"), 0);
  EXPECT_LT(order("\x82\xA0" "9", "\x82\xA0" "10"), 0);
}

// Random names must sort consistently: antisymmetric and transitive.  Bytes
// weighing 0 are left out: a NUL in the first name ends the comparison
// against them by design.
void check_consistent_order(const std::vector<std::string>& pieces) {
  std::mt19937 rng(1);
  std::vector<std::string> names(300);
  for (std::string& name : names) {
    for (int k = static_cast<int>(rng() % 9); k > 0; --k) {
      const std::string& piece = pieces[rng() % pieces.size()];
      if (name.size() + piece.size() <= ITEM_NAME_SIZE) name += piece;
    }
  }
  for (const std::string& a : names) {
    for (const std::string& b : names) ASSERT_EQ(order(a, b), -order(b, a)) << a << "/" << b;
  }
  std::stable_sort(names.begin(), names.end(),
                   [](const std::string& a, const std::string& b) { return order(a, b) < 0; });
  for (size_t i = 0; i < names.size(); ++i) {
    for (size_t j = i + 1; j < names.size(); ++j) ASSERT_LE(order(names[i], names[j]), 0);
  }
}

TEST_F(NamesTest, OrderIsConsistent) {
  check_consistent_order(
      {"A", "b", "Z", "0", "1", "9", "00", "10", " ", "_", "\x80", "\x9A", "\xA5"});
  plat_set_codepage(932);
  reset_names_state();
  check_consistent_order(
      {"A", "b", "0", "7", "12", " ", "\x82\xA0", "\x82\xA2", "\x88\x9F", "\xA5"});
}

}  // namespace
