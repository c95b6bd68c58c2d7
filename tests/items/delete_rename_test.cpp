// Deleting, undeleting, renaming and attributes, checked by the order of the
// control file and the slot records afterwards; and a random sequence of
// all item operations against an in-memory model.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "classic.h"
#include "ctl/names.h"
#include "ctl/records.h"
#include "items/datafile.h"
#include "support/ctl_files.h"
#include "support/helper.h"
#include "support/items.h"
#include "support/store_test.h"

namespace {

using Names = std::vector<std::string>;

Names order() { return entry_names(read_entries(kPieceCtl)); }

SlotRecord slot(const std::string& suffix, int s) {
  DataHeader h;
  std::memset(&h, 0, sizeof h);
  std::string bytes = testenv::read_file(kWorkData + "piece" + suffix + ".pce");
  if (bytes.size() >= sizeof h) std::memcpy(&h, bytes.data(), sizeof h);
  return h.slots[s];
}

int del(const std::string& name) { return classic_delete_item(kPieceCtl.c_str(), name.c_str(), kPiecePattern); }
int undel(const std::string& name) {
  return classic_undelete_item(kPieceCtl.c_str(), name.c_str(), kPiecePattern);
}
int ren(const std::string& from, const std::string& to) {
  return classic_rename_item(kPieceCtl.c_str(), from.c_str(), to.c_str(), kPiecePattern);
}

class DeleteTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    make_piece_store();
    for (const char* n : {"A", "B", "C"}) ASSERT_EQ(put_item(kPieceCtl, n, std::string("bytes of ") + n), CLASSIC_OK);
  }
};

TEST_F(DeleteTest, DeletedEntriesMoveToTheTail) {
  ASSERT_EQ(del("a"), CLASSIC_OK);
  EXPECT_EQ(order(), (Names{"B", "C", "A~"}));
  EXPECT_EQ(+read_trailer(kPieceCtl).total_items, 2);
  EXPECT_EQ(slot("aaa", 0).flags & ENTRY_DELETED, ENTRY_DELETED);
  // The last live entry of a file without deleted ones is flagged in place.
  ASSERT_EQ(del("C"), CLASSIC_OK);
  EXPECT_EQ(order(), (Names{"B", "A~", "C~"}));
  EXPECT_EQ(del("C"), CLASSIC_NOT_FOUND);
  EXPECT_EQ(get_item(kPieceCtl, "A"), "status 1007");
  EXPECT_EQ(testenv::read_file(kWorkData + "pieceaaa.pce").substr(528, 11), "bytes of Ab");
}

TEST_F(DeleteTest, UndeleteBringsBackTheNewestVersion) {
  ASSERT_EQ(del("A"), CLASSIC_OK);
  ASSERT_EQ(put_item(kPieceCtl, "A", "second A"), CLASSIC_OK);
  ASSERT_EQ(del("A"), CLASSIC_OK);
  EXPECT_EQ(order(), (Names{"B", "C", "A~", "A~"}));
  ASSERT_EQ(undel("a"), CLASSIC_OK);
  EXPECT_EQ(order(), (Names{"A", "B", "C", "A~"}));
  EXPECT_EQ(get_item(kPieceCtl, "A"), "second A");
  EXPECT_EQ(slot("aaa", 3).flags & ENTRY_DELETED, 0);
  EXPECT_EQ(slot("aaa", 0).flags & ENTRY_DELETED, ENTRY_DELETED);
  EXPECT_EQ(+read_trailer(kPieceCtl).total_items, 3);
  EXPECT_EQ(undel("A"), CLASSIC_NAME_IN_USE);
  EXPECT_EQ(undel("Q"), CLASSIC_NOT_FOUND);
  ASSERT_EQ(del("B"), CLASSIC_OK);
  EXPECT_EQ(undel("Q"), CLASSIC_NOT_FOUND);
  EXPECT_EQ(order(), (Names{"A", "C", "A~", "B~"}));
}

TEST_F(DeleteTest, TwentyCharacterNamesInTheTail) {
  std::string name(20, 'N');
  ASSERT_EQ(put_item(kPieceCtl, name, "long"), CLASSIC_OK);
  ASSERT_EQ(del(name), CLASSIC_OK);
  ASSERT_EQ(undel(name), CLASSIC_OK);
  EXPECT_EQ(get_item(kPieceCtl, name), "long");
}

TEST_F(DeleteTest, ReplacedVersionsCanBeUndeletedOnceTheNameIsFree) {
  ASSERT_EQ(put_item(kPieceCtl, "B", "new B", 7), CLASSIC_OK);
  EXPECT_EQ(order(), (Names{"A", "B", "C", "B~"}));
  EXPECT_EQ(undel("B"), CLASSIC_NAME_IN_USE);
  ASSERT_EQ(del("B"), CLASSIC_OK);
  ASSERT_EQ(undel("B"), CLASSIC_OK);  // the newest deleted one: the new version
  EXPECT_EQ(get_item(kPieceCtl, "B"), "new B");
  EXPECT_EQ(order(), (Names{"A", "B", "C", "B~"}));
}

TEST_F(DeleteTest, RenameMovesTheEntryAndTheSlotName) {
  ASSERT_EQ(ren("A", "D"), CLASSIC_OK);
  EXPECT_EQ(order(), (Names{"B", "C", "D"}));
  EXPECT_EQ(std::string(slot("aaa", 0).name, 2), std::string("D\0", 2));
  EXPECT_EQ(get_item(kPieceCtl, "D"), "bytes of A");
  ASSERT_EQ(ren("C", "AA"), CLASSIC_OK);
  EXPECT_EQ(order(), (Names{"AA", "B", "D"}));
  ASSERT_EQ(ren("B", "AB"), CLASSIC_OK);  // stays in place
  EXPECT_EQ(order(), (Names{"AA", "AB", "D"}));
  ASSERT_EQ(ren("AB", "AC"), CLASSIC_OK);  // a removal that moves nothing
  EXPECT_EQ(order(), (Names{"AA", "AC", "D"}));
  EXPECT_EQ(get_item(kPieceCtl, "AC"), "bytes of B");
  EXPECT_EQ(ren("d", " D "), CLASSIC_NAME_IN_USE);
  EXPECT_EQ(ren("AA", "AC"), CLASSIC_NAME_IN_USE);
  EXPECT_EQ(ren("ZZ", "Y"), CLASSIC_NOT_FOUND);
  EXPECT_EQ(+read_trailer(kPieceCtl).total_items, 3);
}

TEST_F(DeleteTest, AttributesGoToEntryAndSlot) {
  FILE* stream = nullptr;
  ASSERT_EQ(classic_open_item(kPieceCtl.c_str(), "B", ITEM_WRITE, kPiecePattern, &stream, nullptr, nullptr),
            CLASSIC_OK);
  EXPECT_EQ(classic_set_attribute(kPieceCtl.c_str(), kPiecePattern, "b", 7), CLASSIC_OK);
  EXPECT_EQ(classic_close_item(kPieceCtl.c_str(), "B", stream), CLASSIC_OK);
  EXPECT_EQ(+read_entries(kPieceCtl)[1].attribute, 7);
  EXPECT_EQ(+slot("aaa", 1).attribute, 7);
  std::string before = testenv::read_file(kPieceCtl);
  EXPECT_EQ(classic_set_attribute(kPieceCtl.c_str(), kPiecePattern, "nope", 1), CLASSIC_NOT_FOUND);
  EXPECT_EQ(testenv::read_file(kPieceCtl).substr(0, 3 * 64), before.substr(0, 3 * 64));
  EXPECT_EQ(classic_set_attribute(kPieceCtl.c_str(), kPiecePattern, "C", -1), CLASSIC_OK);
  EXPECT_EQ(+read_entries(kPieceCtl)[2].attribute, 0xFFFF);
}

}  // namespace

namespace {

TEST_F(DeleteTest, OpenItemsWaitOutTheirBudget) {
  Helper reader("hold_item", {kPieceCtl, "B", "0", kPiecePattern, "release"});
  ASSERT_TRUE(reader.wait_ready());
  EXPECT_EQ(del("B"), CLASSIC_READERS_PRESENT);
  EXPECT_EQ(testenv::pauses.size(), 40u);
  EXPECT_EQ(testenv::log_codes(), std::vector<int>{54016});
  EXPECT_EQ(ren("B", "X"), CLASSIC_READERS_PRESENT);
  EXPECT_EQ(testenv::pauses.size(), 80u);
  EXPECT_EQ(testenv::log_codes(), std::vector<int>{54016});  // readers are not reported
  EXPECT_EQ(reader.finish(), 0);
  FILE* stream = nullptr;
  ASSERT_EQ(classic_open_item(kPieceCtl.c_str(), "C", ITEM_WRITE, kPiecePattern, &stream, nullptr, nullptr),
            CLASSIC_OK);
  EXPECT_EQ(del("C"), CLASSIC_LOCKED);
  EXPECT_EQ(ren("C", "X"), CLASSIC_LOCKED);
  EXPECT_EQ(testenv::log_codes(), (std::vector<int>{54016, 54015, 54017}));
  EXPECT_EQ(classic_close_item(kPieceCtl.c_str(), "C", stream), CLASSIC_OK);
  EXPECT_EQ(order(), (Names{"A", "B", "C"}));
}

// The store's live names in order and its deleted tail, kept in memory.
struct Model {
  std::map<std::string, std::string> live;  // normalised name -> bytes
  std::vector<std::pair<std::string, std::string>> tail;

  static std::string key(const std::string& name) {
    char k[ITEM_NAME_SIZE];
    normalize_item_name(k, name.c_str(), ITEM_NAME_SIZE);
    return std::string(k, strnlen(k, ITEM_NAME_SIZE));
  }
  Names names() const {
    Names out;
    for (const auto& [name, bytes] : live) out.push_back(name);
    std::sort(out.begin(), out.end(), [](const std::string& a, const std::string& b) {
      return compare_item_names(a.c_str(), b.c_str(), ITEM_NAME_SIZE) < 0;
    });
    for (const auto& [name, bytes] : tail) out.push_back(name + "~");
    return out;
  }
};

TEST_F(DeleteTest, RandomOperationsAgreeWithAModel) {
  Model m;
  for (const char* n : {"A", "B", "C"}) m.live[n] = std::string("bytes of ") + n;
  std::mt19937 rng(1208);
  const Names pool = {"a", "B", "c", "item9", "ITEM10", "x y", "Zed", "k2"};
  auto pick = [&] { return pool[rng() % pool.size()]; };
  for (int step = 0; step < 300; ++step) {
    std::string name = pick();
    std::string k = Model::key(name);
    std::string bytes = "v" + std::to_string(step);
    int op = static_cast<int>(rng() % 5);
    SCOPED_TRACE("step " + std::to_string(step) + " op " + std::to_string(op) + " " + name);
    bool present = m.live.count(k) != 0;
    if (op == 0) {
      ASSERT_EQ(put_item(kPieceCtl, name, bytes), present ? CLASSIC_NAME_IN_USE : CLASSIC_OK);
      if (!present) m.live[k] = bytes;
    } else if (op == 1) {
      ASSERT_EQ(put_item(kPieceCtl, name, bytes, 7), CLASSIC_OK);
      if (present) m.tail.push_back({k, m.live[k]});
      m.live[k] = bytes;
    } else if (op == 2) {
      ASSERT_EQ(del(name), present ? CLASSIC_OK : CLASSIC_NOT_FOUND);
      if (present) {
        m.tail.push_back({k, m.live[k]});
        m.live.erase(k);
      }
    } else if (op == 3) {
      auto it = std::find_if(m.tail.rbegin(), m.tail.rend(), [&](const auto& e) { return e.first == k; });
      int want = present ? CLASSIC_NAME_IN_USE : it == m.tail.rend() ? CLASSIC_NOT_FOUND : CLASSIC_OK;
      ASSERT_EQ(undel(name), want);
      if (want == CLASSIC_OK) {
        m.live[k] = it->second;
        m.tail.erase(std::next(it).base());
      }
    } else {
      std::string to = pick();
      std::string tk = Model::key(to);
      int want = !present ? CLASSIC_NOT_FOUND : m.live.count(tk) ? CLASSIC_NAME_IN_USE : CLASSIC_OK;
      ASSERT_EQ(ren(name, to), want);
      if (want == CLASSIC_OK) {
        m.live[tk] = m.live[k];
        m.live.erase(k);
      }
    }
    ASSERT_EQ(order(), m.names());
    ASSERT_EQ(+read_trailer(kPieceCtl).total_items, static_cast<int>(m.live.size()));
    if (step % 10 == 9) {
      for (const auto& [n, b] : m.live) ASSERT_EQ(get_item(kPieceCtl, n), b) << n;
    }
  }
}

}  // namespace
