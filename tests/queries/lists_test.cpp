// Item lists against a plain scan of the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "classic.h"
#include "queries/lists.h"
#include "queries/match.h"
#include "support/ctl_files.h"
#include "support/store_test.h"

namespace {

const std::string kCtl = "c:\\userroot\\storage\\work\\data\\piece.ctl";
using Names = std::vector<std::string>;

std::string name_of(const CtlEntry& e) {
  return std::string(e.name, strnlen(e.name, ITEM_NAME_SIZE));
}

// The names along the next links; the back links must mirror them.
Names walk(const CTRL_ENTRY_INFO* r) {
  Names out;
  for (const CTRL_ENTRY_INFO* prev = nullptr; r; prev = r, r = r->next) {
    EXPECT_EQ(r->prev, prev);
    EXPECT_EQ(r->found, 0);
    out.push_back(r->name);
  }
  return out;
}

Names scan(const std::vector<CtlEntry>& entries, const char* pattern) {
  char converted[MATCH_PATTERN_SIZE];
  convert_pattern(converted, pattern);
  Names out;
  for (const CtlEntry& e : entries) {
    if (entry_matches(e, converted)) out.push_back(name_of(e));
  }
  return out;
}

Names whole_list(const char* pattern, long* offset, char* more, int* status) {
  long position = 0;
  CTRL_ENTRY_INFO* head =
      classic_return_item_list(kCtl.c_str(), pattern, offset, &position, more, status);
  Names out = walk(head);
  EXPECT_EQ(classic_free_item_list(head), CLASSIC_OK);
  return out;
}

// Every block from the start until 999, resumed from the offsets returned;
// only the last block may hold fewer than the most a block may hold.
Names all_blocks(const std::vector<CtlEntry>& entries, const char* pattern, int max) {
  Names out;
  long offset = 0, first = -1;
  CTRL_ENTRY_INFO* items = nullptr;
  size_t full = static_cast<size_t>(std::min(max, BLK_MAX_ITEMS)), last = full;
  while (classic_get_blk_items(kCtl.c_str(), pattern, max, &offset, &first, &items) == CLASSIC_OK) {
    Names block = walk(items);
    EXPECT_EQ(last, full);
    EXPECT_EQ(name_of(entries.at(static_cast<size_t>(first / 64))), block.at(0));
    last = block.size();
    out.insert(out.end(), block.begin(), block.end());
  }
  return out;
}

class ListsTest : public StoreTest {};

TEST_F(ListsTest, PatternsSelectLiveNames) {
  std::vector<CtlEntry> entries;
  for (const char* n : {"A", "AAB", "AB", "AB1", "ABA", "ABC", "XAB"}) {
    entries.push_back(make_entry(n));
  }
  entries.push_back(make_entry("ABD", true));
  write_control_file(kCtl, entries, make_trailer(7));
  const std::pair<const char*, Names> cases[] = {
      {"*", {"A", "AAB", "AB", "AB1", "ABA", "ABC", "XAB"}},
      {"", {}},
      {"AB*", {"AB", "AB1", "ABA", "ABC"}},
      {"ab*", {"AB", "AB1", "ABA", "ABC"}},
      {"*A", {"A", "ABA"}},
      {"*d", {}},  // only the deleted ABD has it
  };
  for (const auto& [pattern, want] : cases) {
    long offset = 0;
    char more = 9;
    int status = 0;
    EXPECT_EQ(whole_list(pattern, &offset, &more, &status), want) << pattern;
    EXPECT_EQ(status, CLASSIC_OK);
    EXPECT_EQ(more, 0);
    EXPECT_EQ(offset, static_cast<long>(64 * want.size()));
    EXPECT_EQ(all_blocks(entries, pattern, 100), want) << pattern;
  }
}

TEST_F(ListsTest, ResumedBlocksAgreeWithAScan) {
  std::mt19937 rng(4242);
  for (size_t size : {1u, 31u, 32u, 33u, 42u, 43u, 63u, 64u, 85u, 700u}) {
    std::vector<CtlEntry> entries;
    for (size_t i = 0; i < size; ++i) {
      std::string n;
      for (size_t j = 0, len = 1 + rng() % 6; j < len; ++j) n += static_cast<char>('A' + rng() % 4);
      // Deleted entries anywhere, and a run of them at the end.
      entries.push_back(make_entry(n + std::to_string(i), rng() % 5 == 0 || i + 4 > size));
    }
    write_control_file(kCtl, entries, make_trailer(static_cast<int>(size)));
    for (const char* pattern : {"*", "A*", "*B*", "?C*1"}) {
      Names want = scan(entries, pattern);
      long offset = 0;
      char more = 0;
      int status = 0;
      EXPECT_EQ(whole_list(pattern, &offset, &more, &status), want) << size << pattern;
      for (int max : {1, 7, 32, 42, 100}) {
        EXPECT_EQ(all_blocks(entries, pattern, max), want) << size << pattern << " max " << max;
      }
    }
  }
}

TEST_F(ListsTest, WholeListStopsAtItsCap) {
  std::vector<CtlEntry> entries;
  for (long i = 0; i < LIST_MAX_ITEMS + 40; ++i) {
    entries.push_back(make_entry("N" + std::to_string(100000 + i)));
  }
  write_control_file(kCtl, entries, make_trailer(0x7FFF));
  long offset = 0;
  char more = 0;
  int status = 0;
  EXPECT_EQ(whole_list("*", &offset, &more, &status).size(), static_cast<size_t>(LIST_MAX_ITEMS));
  EXPECT_EQ(more, 1);
  EXPECT_EQ(offset, LIST_MAX_ITEMS * 64);
  Names rest = whole_list("*", &offset, &more, &status);
  EXPECT_EQ(more, 0);
  ASSERT_EQ(rest.size(), 40u);
  EXPECT_EQ(rest[0], name_of(entries[LIST_MAX_ITEMS]));
}

TEST_F(ListsTest, EmptyFilesCountsAndFailures) {
  long offset = 0, first = 0;
  char more = 5;
  int status = 0;
  CTRL_ENTRY_INFO* items = nullptr;
  auto blocks = [&](const std::string& ctl, const char* pattern, long* at) {
    return classic_get_blk_items(ctl.c_str(), pattern, 42, at, &first, &items);
  };
  write_control_file(kCtl, {}, make_trailer());
  EXPECT_EQ(blocks(kCtl, "*", &offset), CLASSIC_NO_MORE);
  EXPECT_TRUE(whole_list("*", &offset, &more, &status).empty());
  EXPECT_EQ(status, CLASSIC_OK);
  EXPECT_EQ(more, 0);

  // The count of the trailer, also when nothing matches.
  write_control_file(kCtl, {make_entry("A"), make_entry("B", true)}, make_trailer(7));
  EXPECT_EQ(blocks(kCtl, "Z", &offset), CLASSIC_NO_MORE);
  EXPECT_EQ(classic_blk_count, 7);
  offset = -64;
  EXPECT_EQ(blocks(kCtl, "*", &offset), CLASSIC_IO_ERROR);
  EXPECT_TRUE(whole_list("*", &offset, &more, &status).empty());
  EXPECT_EQ(status, CLASSIC_IO_ERROR);

  // A file that cannot be opened leaves the count alone; so do null pointers.
  classic_blk_count = 99;
  offset = 0;
  std::string missing = "c:\\userroot\\storage\\work\\data\\mark.ctl";
  EXPECT_EQ(blocks(missing, "*", &offset), CLASSIC_CANNOT_OPEN);
  EXPECT_EQ(blocks(kCtl, "*", nullptr), CLASSIC_IO_ERROR);
  EXPECT_EQ(classic_blk_count, 99);
  EXPECT_EQ(classic_return_item_list(kCtl.c_str(), "*", &offset, nullptr, &more, &status), nullptr);
  EXPECT_EQ(status, CLASSIC_IO_ERROR);
  EXPECT_EQ(classic_free_item_list(nullptr), CLASSIC_OK);
}

}  // namespace
