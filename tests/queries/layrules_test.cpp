// Lay-rule queries: the category search and the category listing against a
// linear scan, and the next free number.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "classic.h"
#include "ctl/names.h"
#include "ctl/search.h"
#include "platform/platform.h"
#include "ctl/session.h"
#include "queries/layrules.h"
#include "support/ctl_files.h"
#include "support/store_test.h"

namespace {

const std::string kArea = "c:\\userroot\\storage\\work\\param\\";
const std::string kCtl = kArea + "lyrl.ctl";
using Names = std::vector<std::string>;

bool name_less(const std::string& a, const std::string& b) {
  return compare_item_names(a.c_str(), b.c_str(), ITEM_NAME_SIZE) < 0;
}

// The live names in the store's order, then the deleted ones.
std::vector<CtlEntry> write_rules(Names live, const Names& deleted = {}) {
  std::sort(live.begin(), live.end(), name_less);
  std::vector<CtlEntry> entries;
  for (const std::string& n : live) entries.push_back(make_entry(n));
  for (const std::string& n : deleted) entries.push_back(make_entry(n, true));
  CtlTrailer trailer = make_trailer(1);  // never a fresh one, even when empty
  trailer.total_items = static_cast<int16_t>(live.size());
  write_control_file(kCtl, entries, trailer);
  return entries;
}

int next_rule(const std::string& prefix, int* next) {
  return classic_find_next_layrule(kArea.c_str(), prefix.c_str(), next);
}

class LayRulesTest : public StoreTest {
 protected:
  // The search for key and the listing of key + "*" against a plain scan:
  // the listing starts at the first live name that begins with key and
  // reports every name that does.
  void check_category(const std::vector<CtlEntry>& entries, const std::string& key) {
    long want = -1;
    Names names;
    for (size_t i = 0; i < entries.size(); ++i) {
      const CtlEntry& e = entries[i];
      if ((e.flags & ENTRY_DELETED) ||
          compare_item_names(key.c_str(), e.name, static_cast<int>(key.size())) != 0) {
        continue;
      }
      if (want < 0) want = static_cast<long>(i);
      names.emplace_back(e.name, strnlen(e.name, ITEM_NAME_SIZE));
    }
    FILE* f = nullptr;
    int status = ctl_open(&f, kCtl.c_str(), CTL_READ);
    ASSERT_EQ(status, CLASSIC_OK);
    long loads_before = ctl_window_loads();
    int r = find_category_entry(f, key.c_str(), static_cast<int>(key.size()), nullptr);
    long found = plat_ftell(f) / 64 - 1;
    ctl_close(f, CTL_READ, status);
    ASSERT_EQ(r, want >= 0 ? CLASSIC_OK : CLASSIC_NOT_FOUND) << key;
    if (want >= 0) {
      EXPECT_EQ(found, want) << key;
    }
    // A bisection: no more windows than halvings of the file, and one more.
    EXPECT_LE(ctl_window_loads() - loads_before, 2 + static_cast<long>(std::bit_width(entries.size())));

    long offset = 0, first = 0;
    Names listed;
    CTRL_ENTRY_INFO* items = nullptr;
    std::string category = key + "*";
    while ((r = classic_find_layrule_catgy(kArea.c_str(), category.c_str(), &offset, &first,
                                           &items)) == CLASSIC_OK) {
      if (listed.empty()) {
        EXPECT_EQ(first, want * 64) << key;
      }
      for (const CTRL_ENTRY_INFO* rec = items; rec; rec = rec->next) listed.push_back(rec->name);
    }
    EXPECT_EQ(r, listed.empty() ? CLASSIC_NOT_FOUND : CLASSIC_NO_MORE) << key;
    EXPECT_EQ(listed, names) << key;
  }
};

TEST_F(LayRulesTest, CategoriesAtAndAcrossWindowBoundaries) {
  // 100 entries: A names, then the category KX at [start, start + count),
  // then Z names.  The first probe (49) reads the window 32..63, so a
  // category starting at 32 is approached from above and one at 64 from
  // below; the others straddle one or two window boundaries.
  const int spans[][2] = {{32, 4}, {64, 4}, {0, 4},   {96, 4},  {28, 9},
                          {31, 2}, {60, 10}, {1, 98}, {20, 60}};
  for (const auto& [start, count] : spans) {
    Names live;
    char n[16];
    for (int i = 0; i < 100; ++i) {
      std::snprintf(n, sizeof n, "%s%05d", i < start ? "A" : i < start + count ? "KX" : "Z", i);
      live.push_back(n);
    }
    std::vector<CtlEntry> entries = write_rules(live);
    check_category(entries, "KX");
    check_category(entries, "KY");
  }
}

TEST_F(LayRulesTest, RandomFilesAgreeWithALinearScan) {
  std::mt19937 rng(1207);
  const std::string alphabet = "AB_1";
  auto word = [&](size_t max_len) {
    std::string w;
    for (size_t j = 0, len = 1 + rng() % max_len; j < len; ++j) {
      w += alphabet[rng() % alphabet.size()];
    }
    return w;
  };
  for (size_t size : {1u, 2u, 31u, 33u, 95u, 200u, 1500u}) {
    Names live;
    for (size_t i = 0; i < size; ++i) live.push_back(word(20));
    std::sort(live.begin(), live.end(), name_less);
    auto same = [](const std::string& a, const std::string& b) { return !name_less(a, b); };
    live.erase(std::unique(live.begin(), live.end(), same), live.end());
    Names deleted;
    for (size_t i = 0; i < size / 8; ++i) deleted.push_back(live[rng() % live.size()]);
    std::vector<CtlEntry> entries = write_rules(live, deleted);
    for (int k = 0; k < 40; ++k) {
      const std::string& some = live[rng() % live.size()];
      std::string key = k % 4 == 3 ? word(4) : some.substr(0, 1 + rng() % some.size());
      // A key ending in a digit cuts a digit run, which does not sort whole.
      if (key.back() != '1') check_category(entries, key);
    }
  }
}

TEST_F(LayRulesTest, NextNumberAfterTheLowestRun) {
  const std::string p = "AAAAAAAAAAAAAAA_";
  const std::pair<Names, int> cases[] = {
      {{"1", "2", "4"}, 3},
      {{"1", "2", "3"}, 4},
      {{"2"}, 1},
      {{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12"}, 13},
      {{"1", "2", "X"}, 1},  // '_' and no digit counts as number 0
  };
  for (const auto& [numbers, want] : cases) {
    // Neighbours that share the start of the prefix, and a deleted rule _3.
    Names live = {"AAAAAAAAAAAAAA_9", "AAAAAAAAAAAAAAAB_1", "B_1"};
    for (const std::string& v : numbers) live.push_back(p + v);
    write_rules(live, {p + "3"});
    int next = 0;
    EXPECT_EQ(next_rule(p + "*", &next), CLASSIC_OK);
    EXPECT_EQ(next, want) << numbers.size();
  }
}

TEST_F(LayRulesTest, FewerMatchesThanItemsAndEmptyFiles) {
  Names live;
  for (int i = 0; i < 35; ++i) live.push_back("M" + std::to_string(i));
  for (int i = 1; i <= 5; ++i) live.push_back("RULERULERULERUL_" + std::to_string(i));
  write_rules(live);
  int next = 0;
  // 40 items ask for a second block, which finds no further rule.
  EXPECT_EQ(next_rule("RULERULERULERUL_*", &next), CLASSIC_NO_MORE);
  EXPECT_EQ(next, 6);

  std::vector<CtlEntry> empty = write_rules({}, {"SHIRT_1"});
  check_category(empty, "SHIRT");
  EXPECT_EQ(next_rule("SHIRT*", &next), 0);
  EXPECT_EQ(next, 1);
}

TEST_F(LayRulesTest, ArgumentsThatCannotBeUsed) {
  write_rules({"ABCDEFGHIJKLMNOPQRST", "ABCDEFGHIJKLMNOPQRSU"});
  long offset = 0, first = 0;
  CTRL_ENTRY_INFO* items = nullptr;
  auto list = [&](const char* area, const char* category, long* at = nullptr) {
    offset = first = 0;
    return classic_find_layrule_catgy(area, category, at ? at : &offset, &first, &items);
  };
  int next = 0;
  // A key longer than 20 bytes counts with its first 20.
  ASSERT_EQ(list(kArea.c_str(), "abcdefghijklmnopqrstuv*"), CLASSIC_OK);
  EXPECT_STREQ(items->name, "ABCDEFGHIJKLMNOPQRST");
  EXPECT_EQ(items->next, nullptr);
  EXPECT_EQ(list(kArea.c_str(), ""), CLASSIC_NOT_FOUND);
  EXPECT_EQ(list(kArea.c_str(), nullptr), CLASSIC_NOT_FOUND);
  EXPECT_EQ(list(nullptr, "A*"), CLASSIC_CANNOT_REMOVE);
  EXPECT_EQ(classic_find_layrule_catgy(kArea.c_str(), "A*", nullptr, &first, &items),
            CLASSIC_IO_ERROR);
  EXPECT_EQ(next_rule("", &next), CLASSIC_NOT_FOUND);
  EXPECT_EQ(classic_find_next_layrule(kArea.c_str(), "A*", nullptr), CLASSIC_IO_ERROR);

  // With "lyrl.ctl" the area may take 255 characters, not one more.
  std::string area = "c:\\";
  while (area.size() < 255 - 8) area += "d\\";
  EXPECT_EQ(list(area.c_str(), "A*"), CLASSIC_CANNOT_OPEN);
  area.insert(3, "x");
  EXPECT_EQ(list(area.c_str(), "A*"), CLASSIC_CANNOT_REMOVE);
  EXPECT_EQ(classic_find_next_layrule(area.c_str(), "A*", &next), CLASSIC_CANNOT_REMOVE);
}

}  // namespace
