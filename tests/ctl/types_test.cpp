// Item types, suffixes, the task identity and the trailer-suffix repair.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ctl/session.h"
#include "ctl/types.h"
#include "support/store_test.h"

namespace {

class TypesTest : public StoreTest {};

TEST_F(TypesTest, ItemTypeTable) {
  ASSERT_NE(find_item_type("PIECE.CTL"), nullptr);
  EXPECT_STREQ(find_item_type("PIECE.CTL")->pattern, "piece%c%c%c.pce");
  EXPECT_STREQ(find_item_type("lyrl.ctl")->pattern, "lyrl%c%c%c.lru");
  EXPECT_EQ(find_item_type("login.ctl"), nullptr);
  int par = 0;
  for (const ItemType& t : g_item_types) {
    std::string ctl = t.ctl_name, pattern = t.pattern;
    std::string type = ctl.substr(0, ctl.size() - 4);
    EXPECT_EQ(pattern.substr(0, type.size() + 6), type + "%c%c%c") << ctl;
    if (pattern.substr(pattern.size() - 4) == ".par") ++par;
  }
  EXPECT_EQ(par, 7);
}

TEST_F(TypesTest, SuffixNumbers) {
  char s[4] = {};
  suffix_of(0, s);
  EXPECT_STREQ(s, "aaa");
  suffix_of(1, s);
  EXPECT_STREQ(s, "aab");
  suffix_of(26, s);
  EXPECT_STREQ(s, "aba");
  suffix_of(17575, s);
  EXPECT_STREQ(s, "zzz");
}

TEST_F(TypesTest, TaskIdentity) {
  EXPECT_EQ(task_id(), 66);
  EXPECT_EQ(task_identity().id, 66);
  EXPECT_STREQ(task_identity().name, "CLASSIC");
  EXPECT_STREQ(task_name_of(12), "UNKNOWN");
  EXPECT_STREQ(task_name_of(63), "UNKNOWN");
  for (int id : {0, 5, 11, 64, 66, 69}) {
    std::string name = task_name_of(id);
    EXPECT_NE(name, "UNKNOWN");
    EXPECT_LE(name.size(), 9u);
    for (char c : name) EXPECT_TRUE(c >= 'A' && c <= 'Z') << name;
  }
}

class RecoverTest : public StoreTest {
 protected:
  const std::string dir_ = "c:\\userroot\\storage\\work\\data\\";
  std::string recover(long entries) {
    ctl_set_trailer_offset(entries * 64);
    std::memcpy(ctl_trailer().suffix, "aaa", 3);
    ctl_trailer().next_slot = 5;
    if (!recover_trailer_suffix((dir_ + "PIECE.CTL").c_str())) return "failed";
    EXPECT_EQ(ctl_trailer().next_slot, 0);
    return std::string(ctl_trailer().suffix, 3);
  }
};

TEST_F(RecoverTest, StartsAtTheDataFilesTheEntriesFill) {
  testenv::make_dirs(dir_);
  EXPECT_EQ(recover(0), "aaa");
  EXPECT_EQ(recover(9), "aac");
  EXPECT_EQ(recover(16), "aac");
  EXPECT_EQ(recover(17), "aad");
}

TEST_F(RecoverTest, SkipsDataFilesThatExist) {
  testenv::write_file(dir_ + "pieceaac.pce", "x");
  testenv::write_file(dir_ + "pieceaad.pce", "x");
  EXPECT_EQ(recover(9), "aae");
  EXPECT_EQ(recover(24), "aae");
  EXPECT_EQ(recover(25), "aae");
}

TEST_F(RecoverTest, FailsForUnknownTypesAndPastTheLastSuffix) {
  testenv::make_dirs(dir_);
  ctl_set_trailer_offset(0);
  EXPECT_EQ(recover_trailer_suffix((dir_ + "login.ctl").c_str()), 0);
  // 17576 data files' worth of entries: no suffix is left, and the disk is
  // not looked at (the folder does not even exist).
  ctl_set_trailer_offset((17575L * 8 + 1) * 64);
  EXPECT_EQ(recover_trailer_suffix("c:\\missing\\piece.ctl"), 0);
  ctl_set_trailer_offset(17575L * 8 * 64);
  EXPECT_EQ(recover_trailer_suffix("c:\\missing\\piece.ctl"), 1);
  EXPECT_EQ(std::string(ctl_trailer().suffix, 3), "zzz");
}

}  // namespace
