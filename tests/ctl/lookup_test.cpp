// Entry lookup and overwrite, control-file deletion, the current total.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "classic.h"
#include "ctl/records.h"
#include "support/ctl_files.h"
#include "support/store_test.h"

namespace {

const std::string kDir = "c:\\userroot\\storage\\work\\data\\";
const std::string kCtl = kDir + "piece.ctl";
const char* kPattern = "piece%c%c%c.pce";

class LookupTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    testenv::make_dirs("c:\\userroot\\system\\error");
    CtlEntry item = make_entry("ITEM 1");
    std::memcpy(item.suffix, "abc", 3);
    item.slot = 5;
    item.open_state = 2;
    item.flags = 0x40;
    item.created = 1000;
    item.modified = 2000;
    item.size = 321;
    item.attribute = 7;
    item.attribute2 = 8;
    item.accessed = 3000;
    item.creator_task = 1;
    item.writer_task = 66;
    item.prev_modified = 1500;
    std::memcpy(item.creator, "ABC", 3);
    std::memcpy(item.prev_modifier, "DE", 2);
    std::memcpy(item.modifier, "F", 1);
    write_control_file(kCtl, {make_entry("ALPHA"), item, make_entry("ZED"), make_entry("GONE", true)},
                       make_trailer(3));
  }
};

TEST_F(LookupTest, FindsTheNormalisedName) {
  CTRL_ENTRY_INFO info;
  std::memset(&info, 0xEE, sizeof info);
  ASSERT_EQ(classic_lookup_item(kCtl.c_str(), "  item 1 ", &info), CLASSIC_OK);
  EXPECT_STREQ(info.name, "ITEM 1");
  EXPECT_EQ(info.open_state, 2);
  EXPECT_EQ(info.flags, 0x40);
  EXPECT_EQ(info.version, 4);
  EXPECT_EQ(+info.created, 1000u);
  EXPECT_STREQ(info.creator, "ABC");
  EXPECT_EQ(+info.modified, 2000u);
  EXPECT_STREQ(info.modifier, "F");
  EXPECT_EQ(+info.prev_modified, 1500u);
  EXPECT_STREQ(info.prev_modifier, "DE");
  EXPECT_EQ(+info.size, 321);
  EXPECT_EQ(+info.attribute, 7);
  EXPECT_EQ(+info.attribute2, 8);
  EXPECT_EQ(info.found, 1);
  EXPECT_EQ(+info.accessed, 3000u);
  EXPECT_EQ(info.creator_task, 1);
  EXPECT_EQ(info.writer_task, 66);
  EXPECT_EQ(info.prev, nullptr);
  EXPECT_EQ(info.next, nullptr);
  // Reserved bytes are left as they were.
  EXPECT_EQ(static_cast<unsigned char>(info.reserved21[0]), 0xEE);
  EXPECT_EQ(static_cast<unsigned char>(info.reserved38[37]), 0xEE);
  EXPECT_EQ(static_cast<unsigned char>(info.reserved177), 0xEE);
  EXPECT_EQ(classic_getcurrent_total_items(), 3);
}

TEST_F(LookupTest, MissingDeletedAndNullRecord) {
  EXPECT_EQ(classic_lookup_item(kCtl.c_str(), "ITEM 1", nullptr), CLASSIC_OK);
  EXPECT_EQ(classic_lookup_item(kCtl.c_str(), "NOPE", nullptr), CLASSIC_NOT_FOUND);
  EXPECT_EQ(classic_lookup_item(kCtl.c_str(), "gone", nullptr), CLASSIC_NOT_FOUND);
  EXPECT_EQ(classic_lookup_item((kDir + "none.ctl").c_str(), "x", nullptr), CLASSIC_CANNOT_OPEN);
  // Every way out released the file.
  EXPECT_EQ(read_trailer(kCtl).lock_state, LOCK_FREE);
  EXPECT_EQ(classic_check_trailer_ex(kCtl.c_str(), 1, nullptr, nullptr, nullptr), CLASSIC_OK);
}

TEST_F(LookupTest, OverwriteChangesTheEntryAlone) {
  testenv::write_file(kDir + "pieceabc.pce", std::string(600, 'd'));
  CTRL_ENTRY_INFO info;
  std::memset(&info, 0, sizeof info);
  ASSERT_EQ(classic_lookup_item(kCtl.c_str(), "ITEM 1", &info), CLASSIC_OK);
  info.attribute = 99;
  info.created = 5;
  std::memcpy(info.modifier, "XYZ", 4);
  info.size = 1;          // not taken over
  info.open_state = 0;    // not taken over
  ASSERT_EQ(classic_overwrite_ctrl_entry(kCtl.c_str(), "item 1", &info), CLASSIC_OK);
  std::vector<CtlEntry> entries = read_entries(kCtl);
  ASSERT_EQ(entries.size(), 4u);
  const CtlEntry& e = entries[1];
  EXPECT_EQ(+e.attribute, 99);
  EXPECT_EQ(+e.created, 5u);
  EXPECT_EQ(std::string(e.modifier, 3), "XYZ");
  EXPECT_EQ(std::string(e.suffix, 3), "abc");
  EXPECT_EQ(+e.slot, 5);
  EXPECT_EQ(+e.open_state, 2);
  EXPECT_EQ(+e.size, 321);
  EXPECT_EQ(testenv::read_file(kDir + "pieceabc.pce"), std::string(600, 'd'));
  // A null record rewrites the entry as it is.
  std::string before = testenv::read_file(kCtl).substr(0, 4 * 64);
  ASSERT_EQ(classic_overwrite_ctrl_entry(kCtl.c_str(), "ITEM 1", nullptr), CLASSIC_OK);
  EXPECT_EQ(testenv::read_file(kCtl).substr(0, 4 * 64), before);
  EXPECT_EQ(classic_overwrite_ctrl_entry(kCtl.c_str(), "NOPE", &info), CLASSIC_NOT_FOUND);
}

TEST_F(LookupTest, DeleteControlFileStopsAtTheFirstGap) {
  for (const char* s : {"aaa", "aab", "aad"}) testenv::write_file(kDir + "piece" + s + ".pce", "x");
  ASSERT_EQ(classic_delete_control_file(kCtl.c_str(), kPattern), CLASSIC_OK);
  EXPECT_FALSE(testenv::exists(kCtl));
  EXPECT_FALSE(testenv::exists(kDir + "pieceaaa.pce"));
  EXPECT_FALSE(testenv::exists(kDir + "pieceaab.pce"));
  EXPECT_TRUE(testenv::exists(kDir + "pieceaad.pce"));
  EXPECT_EQ(classic_delete_control_file(kCtl.c_str(), kPattern), CLASSIC_CANNOT_OPEN);
}

TEST_F(LookupTest, DeleteControlFileRefusedWhileItemsAreOpen) {
  CtlTrailer t = make_trailer(3);
  t.open_count = 1;
  std::vector<CtlEntry> entries = read_entries(kCtl);
  write_control_file(kCtl, entries, t);
  testenv::write_file(kDir + "pieceaaa.pce", "x");
  EXPECT_EQ(classic_delete_control_file(kCtl.c_str(), kPattern), CLASSIC_ITEMS_OPEN);
  CtlTrailer after = read_trailer(kCtl);
  EXPECT_EQ(after.lock_state, LOCK_FREE);
  EXPECT_EQ(after.open_count, 1);
  EXPECT_TRUE(testenv::exists(kDir + "pieceaaa.pce"));
}

}  // namespace
