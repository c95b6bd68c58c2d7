// Item names: the canonical form and the order of names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ctl/names.h"
#include "ctl/records.h"
#include "platform/platform.h"
#include "support/store_test.h"

namespace {

// The 20-byte key of name, with a guard byte behind it that must survive.
std::string key_of(const std::string& name) {
  char key[ITEM_NAME_SIZE + 1];
  std::memset(key, '#', sizeof key);
  normalize_item_name(key, name.c_str(), ITEM_NAME_SIZE);
  EXPECT_EQ(key[ITEM_NAME_SIZE], '#') << "key overrun for " << name;
  return std::string(key, ITEM_NAME_SIZE);
}

std::string padded(const std::string& text) {
  std::string s = text;
  s.resize(std::max<size_t>(s.size(), ITEM_NAME_SIZE), '\0');
  return s;
}

// -1, 0 or 1 as a sorts before, with or after b; both are NUL-padded to 20
// bytes as stored names are.
int order(const std::string& a, const std::string& b, int n = ITEM_NAME_SIZE) {
  int c = compare_item_names(padded(a).c_str(), padded(b).c_str(), n);
  return (c > 0) - (c < 0);
}

class NamesTest : public StoreTest {};

TEST_F(NamesTest, NormalisedNamesLoseOuterSpaceAndBecomeUpperCase) {
  EXPECT_EQ(key_of("   ab c\t"), std::string("AB C") + std::string(16, '\0'));
  EXPECT_EQ(key_of("a\tb"), padded("A\tB"));            // white space inside stays
  EXPECT_EQ(key_of("\tab"), padded("\tAB"));            // only blanks lead away
  EXPECT_EQ(key_of("ab \t\r\n\v\f"), padded("AB"));     // every kind trails away
  EXPECT_EQ(key_of("x1-y_z"), padded("X1-Y_Z"));
  EXPECT_EQ(key_of("abcdefghijklmnopqrstuvwxy"), "ABCDEFGHIJKLMNOPQRST");
  EXPECT_EQ(key_of("   abcdefghijklmnopqrstuvwxy"), "ABCDEFGHIJKLMNOPQRST");
  EXPECT_EQ(key_of(""), std::string(20, '\0'));
  EXPECT_EQ(key_of("     "), std::string(20, '\0'));
  // Trailing white space is cut even where the name is cut at 20 bytes.
  EXPECT_EQ(key_of("abcdefghijklmnopqr  st"), padded("ABCDEFGHIJKLMNOPQR"));
}

TEST_F(NamesTest, NormalisingLeavesDoubleByteCharactersAlone) {
  plat_set_codepage(932);
  // 0x82 0x61 is one character: its trail byte is no letter to upper-case.
  EXPECT_EQ(key_of("\x82\x61x"), padded("\x82\x61X"));
  EXPECT_EQ(key_of("a\x82\x61 "), padded("A\x82\x61"));
  // A lead byte in the last place of the key is kept; nothing is read or
  // written behind the key.
  std::string nineteen(19, 'a');
  EXPECT_EQ(key_of(nineteen + "\x82\x61"), std::string(19, 'A') + "\x82");
}

TEST_F(NamesTest, DigitRunsCompareAsNumbers) {
  EXPECT_LT(order("ITEM9", "ITEM10"), 0);
  EXPECT_LT(order("ITEM10", "ITEM010"), 0);  // the longer run is the larger
  EXPECT_GT(order("ITEM010", "ITEM9"), 0);
  EXPECT_LT(order("ITEM12", "ITEM13"), 0);
  EXPECT_LT(order("X10A", "X10B"), 0);       // equal numbers: the rest decides
  EXPECT_LT(order("2", "10"), 0);
  EXPECT_LT(order("A9Z", "A10"), 0);
}

TEST_F(NamesTest, CaseAndEndsOfNames) {
  EXPECT_EQ(order("A1B", "a1b"), 0);
  EXPECT_EQ(order("item", "ITEM"), 0);
  EXPECT_LT(order("AB", "AB1"), 0);   // NUL weighs 0, the digit 1 weighs 0x12
  EXPECT_LT(order("AB", "ABA"), 0);
  EXPECT_LT(order("A B", "AB"), 0);   // blank weighs 1
  EXPECT_LT(order("A", "B"), 0);
  EXPECT_LT(order("Z", "_"), 0);
  EXPECT_LT(order("_", "{"), 0);
  std::string twenty = "ABCDEFGHIJKLMNOPQRST";
  EXPECT_EQ(order(twenty + "A", twenty + "B"), 0);
  // A NUL in the first name ends the comparison wherever the second holds a
  // byte that also weighs 0.
  EXPECT_EQ(order("AB", "AB\x01Z"), 0);
  EXPECT_GT(order("AB\x01Z", "AB"), 0);
}

TEST_F(NamesTest, OnlyTheFirstNBytesCount) {
  EXPECT_EQ(order("ITEM123", "ITEM124", 6), 0);  // the digit runs are cut at n
  EXPECT_LT(order("ITEM123", "ITEM124", 7), 0);
  EXPECT_EQ(order("ABC", "ABD", 2), 0);
  EXPECT_EQ(order("A", "B", 0), 0);
  EXPECT_EQ(order("A", "B", -3), 0);
  // Names held in buffers of exactly n bytes without a NUL: nothing behind
  // them is read (the sanitizer build catches a read past the end).
  for (const char* text : {"ITE12", "ABCDE", "AB123", "12345"}) {
    std::vector<char> a(text, text + 5);
    std::vector<char> b(text, text + 5);
    EXPECT_EQ(compare_item_names(a.data(), b.data(), 5), 0) << text;
  }
}

TEST_F(NamesTest, HighBytesSortAfterAsciiOrWeighNothing) {
  const std::vector<std::string> high = {"\x80", "\x8E", "\x99", "\x9A", "\xA5"};
  for (size_t i = 0; i < high.size(); ++i) {
    for (int c = 0x20; c <= 0x7F; ++c) {
      EXPECT_GT(order("A" + high[i], "A" + std::string(1, static_cast<char>(c))), 0)
          << i << " " << c;
    }
    if (i + 1 < high.size()) {
      EXPECT_LT(order(high[i], high[i + 1]), 0) << i;
    }
  }
  EXPECT_EQ(order("A\x81", "A"), 0);
  EXPECT_EQ(order("A\xFF", "A\x01"), 0);
  EXPECT_EQ(order("A\xE0Z", "A\x9BZ"), 0);
}

TEST_F(NamesTest, DoubleByteCodePageComparesCharacterCodes) {
  plat_set_codepage(932);
  EXPECT_LT(order("\x82\xA0", "\x82\xA2"), 0);
  EXPECT_GT(order("\x88\x9F", "\x82\xFC"), 0);    // 0x889F after 0x82FC
  EXPECT_LT(order("Z", "\x82\xA0"), 0);           // 0x5A before 0x82A0
  EXPECT_GT(order("\xA5", "A"), 0);               // a single high byte is its code
  EXPECT_LT(order("\xA5", "\x82\xA0"), 0);
  EXPECT_EQ(order("a\x82\xA0" "b", "A\x82\xA0" "B"), 0);  // ASCII still ignores case
  EXPECT_LT(order("\x82\xA0" "9", "\x82\xA0" "10"), 0);   // and numbers still count
  // The trail byte 0x5C of 0x955C is no backslash of its own.
  EXPECT_GT(order("\x95\x5C", "\x95\x40"), 0);
}

TEST_F(NamesTest, CodePageIsReadOnceUntilReset) {
  // Under 1252 both lead bytes weigh 0 and the names are equal.
  EXPECT_EQ(order("\x82\xA0X", "\x83\xA1X"), 0);
  plat_set_codepage(932);
  EXPECT_EQ(order("\x82\xA0X", "\x83\xA1X"), 0);
  reset_names_state();
  EXPECT_LT(order("\x82\xA0X", "\x83\xA1X"), 0);
}

// Random names over an alphabet of pieces; the order must be a total
// preorder: antisymmetric and transitive.  Bytes that weigh 0 are left out:
// by design a NUL in the first name ends the comparison against them.
void check_order_is_consistent(const std::vector<std::string>& pieces, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::string> names;
  for (int i = 0; i < 400; ++i) {
    std::string name;
    int parts = static_cast<int>(rng() % 9);
    for (int k = 0; k < parts; ++k) {
      const std::string& piece = pieces[rng() % pieces.size()];
      if (name.size() + piece.size() > ITEM_NAME_SIZE) break;
      name += piece;
    }
    names.push_back(name);
  }
  for (size_t i = 0; i < names.size(); ++i) {
    for (size_t j = 0; j < names.size(); ++j) {
      ASSERT_EQ(order(names[i], names[j]), -order(names[j], names[i]))
          << names[i] << " / " << names[j];
    }
  }
  std::stable_sort(names.begin(), names.end(),
                   [](const std::string& a, const std::string& b) { return order(a, b) < 0; });
  for (size_t i = 0; i < names.size(); ++i) {
    for (size_t j = i + 1; j < names.size(); ++j) {
      ASSERT_LE(order(names[i], names[j]), 0) << names[i] << " / " << names[j];
    }
  }
}

TEST_F(NamesTest, OrderIsConsistentSingleByte) {
  check_order_is_consistent({"A", "b", "Z", "0", "1", "9", "00", "10", " ", "-", "_", "\x80", "\x9A",
                             "\xA5"},
                            1);
}

TEST_F(NamesTest, OrderIsConsistentDoubleByte) {
  plat_set_codepage(932);
  check_order_is_consistent({"A", "b", "0", "7", "12", " ", "\x82\xA0", "\x82\xA2", "\x88\x9F",
                             "\x95\x5C", "\xA5", "\xB1"},
                            2);
}

}  // namespace
