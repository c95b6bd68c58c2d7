// Creating, writing, closing, reopening and reading items; the bytes of the
// control file and the data files afterwards; stamps and user ids.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "classic.h"
#include "ctl/records.h"
#include "items/datafile.h"
#include "platform/platform.h"
#include "support/ctl_files.h"
#include "support/items.h"
#include "support/store_test.h"

namespace {

DataHeader data_header(const std::string& suffix) {
  DataHeader h;
  std::memset(&h, 0, sizeof h);
  std::string bytes = testenv::read_file(kWorkData + "piece" + suffix + ".pce");
  if (bytes.size() >= sizeof h) std::memcpy(&h, bytes.data(), sizeof h);
  return h;
}

void set_user(const char* value, unsigned long size) {
  plat_hkey key = nullptr;
  ASSERT_EQ(plat_reg_create_key(plat_hkey_current_user(), "Software\\Halvorn", &key), PLAT_ERROR_SUCCESS);
  plat_reg_set_value(key, "UserId", PLAT_REG_SZ, value, size);
  plat_reg_close_key(key);
}

class OpenTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    make_piece_store();
    testenv::fixed_time = 1700000000;
  }
};

TEST_F(OpenTest, FirstItemFullCycle) {
  set_user("ABC", 4);
  FILE* stream = nullptr;
  ASSERT_EQ(classic_open_item(kPieceCtl.c_str(), "first", ITEM_WRITE | ITEM_CREATE, kPiecePattern,
                              &stream, nullptr, nullptr),
            CLASSIC_OK);
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(std::fwrite(std::string(100, 'x').data(), 1, 100, stream), 100u);
  ASSERT_EQ(classic_close_item(kPieceCtl.c_str(), "FIRST", stream), CLASSIC_OK);

  std::vector<CtlEntry> entries = read_entries(kPieceCtl);
  ASSERT_EQ(entries.size(), 1u);
  const CtlEntry& e = entries[0];
  EXPECT_EQ(std::string(e.name, 20), std::string("FIRST") + std::string(15, '\0'));
  EXPECT_EQ(std::string(e.suffix, 3), "aaa");
  EXPECT_EQ(+e.slot, 0);
  EXPECT_EQ(+e.open_state, 0);
  EXPECT_EQ(+e.size, 100);
  EXPECT_EQ(+e.created, 1700000000u);
  EXPECT_EQ(+e.modified, 1700000000u);
  EXPECT_EQ(+e.accessed, 1700000000u);
  EXPECT_EQ(+e.prev_modified, 0u);
  EXPECT_EQ(std::string(e.creator, 3), "ABC");
  EXPECT_EQ(std::string(e.modifier, 3), "ABC");
  EXPECT_EQ(std::string(e.prev_modifier, 3), std::string(3, '\0'));
  EXPECT_EQ(+e.creator_task, 66);
  EXPECT_EQ(+e.writer_task, 66);
  EXPECT_EQ(+e.version, 4);
  CtlTrailer t = read_trailer(kPieceCtl);
  EXPECT_EQ(std::string(t.suffix, 3), "aaa");
  EXPECT_EQ(+t.next_slot, 1);
  EXPECT_EQ(+t.total_items, 1);
  EXPECT_EQ(+t.open_count, 0);
  EXPECT_EQ(+t.lock_state, LOCK_FREE);

  std::string data = testenv::read_file(kWorkData + "pieceaaa.pce");
  ASSERT_EQ(data.size(), 628u);
  EXPECT_EQ(data.substr(528), std::string(100, 'x'));
  DataHeader h = data_header("aaa");
  EXPECT_EQ(+h.version, 4);
  EXPECT_EQ(+h.slots[0].data_offset, 528u);
  EXPECT_EQ(+h.slots[0].data_length, 100);
  EXPECT_EQ(std::string(h.slots[0].name, 5), "FIRST");
  EXPECT_EQ(+h.slots[0].created, 1700000000u);
  EXPECT_EQ(std::string(h.slots[0].creator, 3), "ABC");
  EXPECT_EQ(+h.slots[1].data_length, 0);

  EXPECT_EQ(get_item(kPieceCtl, "first"), std::string(100, 'x'));
  EXPECT_EQ(+read_entries(kPieceCtl)[0].open_state, 0);
}

TEST_F(OpenTest, SlotsFillOneDataFileThenTheNext) {
  for (int i = 0; i < 9; ++i) {
    ASSERT_EQ(put_item(kPieceCtl, "P" + std::to_string(i), std::string(10 + i, 'a' + i)), CLASSIC_OK);
  }
  DataHeader h = data_header("aaa");
  uint32_t offset = 528;
  for (int s = 0; s < 8; ++s) {
    EXPECT_EQ(+h.slots[s].data_offset, offset) << s;
    EXPECT_EQ(+h.slots[s].data_length, 10 + s) << s;
    offset += 10 + s;
  }
  EXPECT_EQ(testenv::read_file(kWorkData + "pieceaaa.pce").size(), offset);
  DataHeader next = data_header("aab");
  EXPECT_EQ(+next.slots[0].data_offset, 528u);
  EXPECT_EQ(+next.slots[0].data_length, 18);
  CtlTrailer t = read_trailer(kPieceCtl);
  EXPECT_EQ(std::string(t.suffix, 3), "aab");
  EXPECT_EQ(+t.next_slot, 1);
  EXPECT_EQ(+t.total_items, 9);
  EXPECT_EQ(entry_names(read_entries(kPieceCtl)),
            (std::vector<std::string>{"P0", "P1", "P2", "P3", "P4", "P5", "P6", "P7", "P8"}));
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(get_item(kPieceCtl, "p" + std::to_string(i)), std::string(10 + i, 'a' + i));
  }
}

TEST_F(OpenTest, EntriesStayInNameOrder) {
  for (const char* n : {"M", "ITEM10", "B", "ITEM9", "Z", "A"}) ASSERT_EQ(put_item(kPieceCtl, n, n), CLASSIC_OK);
  EXPECT_EQ(entry_names(read_entries(kPieceCtl)),
            (std::vector<std::string>{"A", "B", "ITEM9", "ITEM10", "M", "Z"}));
  EXPECT_EQ(get_item(kPieceCtl, "item10"), "ITEM10");
}

TEST_F(OpenTest, RewritingInPlaceKeepsTheSize) {
  ASSERT_EQ(put_item(kPieceCtl, "A", "12345"), CLASSIC_OK);
  ASSERT_EQ(put_item(kPieceCtl, "B", "bbb"), CLASSIC_OK);
  set_user("XY", 3);
  testenv::fixed_time = 1700000500;
  ASSERT_EQ(put_item(kPieceCtl, "A", "abcde-more", ITEM_WRITE), CLASSIC_OK);
  CtlEntry a = read_entries(kPieceCtl)[0];
  EXPECT_EQ(+a.size, 5);
  EXPECT_EQ(+a.modified, 1700000500u);
  EXPECT_EQ(+a.prev_modified, 1700000000u);
  EXPECT_EQ(std::string(a.modifier, 2), "XY");
  EXPECT_EQ(+a.created, 1700000000u);
  DataHeader h = data_header("aaa");
  EXPECT_EQ(+h.slots[0].data_length, 5);
  EXPECT_EQ(+h.slots[0].modified, 1700000500u);
  EXPECT_EQ(std::string(h.slots[0].modifier, 2), "XY");
  EXPECT_EQ(get_item(kPieceCtl, "A"), "abcde");
}

TEST_F(OpenTest, ModesAndTheirFailures) {
  EXPECT_EQ(get_item(kPieceCtl, "missing"), "status 1007");
  ASSERT_EQ(put_item(kPieceCtl, "A", "x"), CLASSIC_OK);
  EXPECT_EQ(put_item(kPieceCtl, "a", "y"), CLASSIC_NAME_IN_USE);
  EXPECT_TRUE(testenv::pauses.empty());
  // ITEM_CREATE without ITEM_WRITE opens for reading.
  FILE* stream = nullptr;
  EXPECT_EQ(classic_open_item(kPieceCtl.c_str(), "nope", ITEM_CREATE, kPiecePattern, &stream, nullptr,
                              nullptr),
            CLASSIC_NOT_FOUND);
  long size = 0;
  ASSERT_EQ(classic_open_item(kPieceCtl.c_str(), "A", ITEM_CREATE | ITEM_RETURN_INFO, kPiecePattern,
                              &stream, &size, nullptr),
            CLASSIC_OK);
  EXPECT_EQ(size, 1);
  EXPECT_EQ(classic_close_item(kPieceCtl.c_str(), "A", stream), CLASSIC_OK);
  // An item never written has size 0 and cannot be read; its entry stays.
  ASSERT_EQ(put_item(kPieceCtl, "EMPTY", ""), CLASSIC_OK);
  std::string before = testenv::read_file(kPieceCtl);
  EXPECT_EQ(get_item(kPieceCtl, "EMPTY"), "status 1002");
  EXPECT_EQ(testenv::read_file(kPieceCtl), before);
  EXPECT_EQ(classic_open_item(kPieceCtl.c_str(), "A", 0, kPiecePattern, nullptr, nullptr, nullptr),
            CLASSIC_IO_ERROR);
  // Modes 7, 0x47 and 0x87 on a missing name create a plain item.
  EXPECT_EQ(put_item(kPieceCtl, "R7", "7", 7), CLASSIC_OK);
  EXPECT_EQ(put_item(kPieceCtl, "R47", "47", 0x47), CLASSIC_OK);
  EXPECT_EQ(put_item(kPieceCtl, "R87", "87", static_cast<short>(0x87)), CLASSIC_OK);
  EXPECT_EQ(+read_trailer(kPieceCtl).total_items, 5);
  EXPECT_EQ(get_item(kPieceCtl, "R87"), "87");
}

TEST_F(OpenTest, ReturnInfoAndReaders) {
  ASSERT_EQ(put_item(kPieceCtl, "A", "abc"), CLASSIC_OK);
  CTRL_ENTRY_INFO info;
  std::memset(&info, 0, sizeof info);
  FILE* r1 = nullptr;
  FILE* r2 = nullptr;
  FILE* r3 = nullptr;
  ASSERT_EQ(classic_open_item(kPieceCtl.c_str(), "A", ITEM_RETURN_INFO, kPiecePattern, &r1, nullptr, &info),
            CLASSIC_OK);
  EXPECT_STREQ(info.name, "A");
  EXPECT_EQ(info.open_state, 1);
  EXPECT_EQ(info.found, 1);
  ASSERT_EQ(classic_open_item(kPieceCtl.c_str(), "A", 0, kPiecePattern, &r2, nullptr, nullptr), CLASSIC_OK);
  ASSERT_EQ(classic_open_item(kPieceCtl.c_str(), "A", 0, kPiecePattern, &r3, nullptr, nullptr), CLASSIC_OK);
  EXPECT_EQ(+read_trailer(kPieceCtl).open_count, 3);
  ASSERT_EQ(classic_close_item(kPieceCtl.c_str(), "A", r1), CLASSIC_OK);
  EXPECT_EQ(+read_entries(kPieceCtl)[0].open_state, 2);
  ASSERT_EQ(classic_close_item(kPieceCtl.c_str(), "A", r2), CLASSIC_OK);
  ASSERT_EQ(classic_close_item(kPieceCtl.c_str(), "A", r3), CLASSIC_OK);
  EXPECT_EQ(+read_entries(kPieceCtl)[0].open_state, 0);
  EXPECT_EQ(+read_trailer(kPieceCtl).open_count, 0);
}

TEST_F(OpenTest, ClosingWhatIsNotOpen) {
  ASSERT_EQ(put_item(kPieceCtl, "A", "abc"), CLASSIC_OK);
  FILE* stray = std::fopen(testenv::native(kWorkData + "pieceaaa.pce").c_str(), "rb");
  ASSERT_NE(stray, nullptr);
  EXPECT_EQ(classic_close_item(kPieceCtl.c_str(), "A", stray), CLASSIC_NOT_OPEN);
  EXPECT_EQ(classic_close_item(kPieceCtl.c_str(), "B", stray), CLASSIC_NOT_FOUND);
  std::fclose(stray);  // still the caller's
  EXPECT_EQ(classic_close_item(kPieceCtl.c_str(), "A", nullptr), CLASSIC_IO_ERROR);
  EXPECT_EQ(+read_trailer(kPieceCtl).open_count, 0);
}

TEST_F(OpenTest, ReplacementKeepsTheOldVersionAsDeleted) {
  set_user("OLD", 4);
  ASSERT_EQ(put_item(kPieceCtl, "A", "a"), CLASSIC_OK);
  ASSERT_EQ(put_item(kPieceCtl, "M", "old version"), CLASSIC_OK);
  ASSERT_EQ(put_item(kPieceCtl, "Z", "z"), CLASSIC_OK);
  set_user("NEW", 4);
  testenv::fixed_time = 1700000900;
  ASSERT_EQ(put_item(kPieceCtl, "m", "new", ITEM_WRITE | ITEM_CREATE | ITEM_REPLACE), CLASSIC_OK);
  std::vector<CtlEntry> entries = read_entries(kPieceCtl);
  EXPECT_EQ(entry_names(entries), (std::vector<std::string>{"A", "M", "Z", "M~"}));
  EXPECT_EQ(+read_trailer(kPieceCtl).total_items, 3);
  const CtlEntry& fresh = entries[1];
  EXPECT_EQ(+fresh.slot, 3);
  EXPECT_EQ(+fresh.created, 1700000000u);
  EXPECT_EQ(std::string(fresh.creator, 3), "OLD");
  EXPECT_EQ(+fresh.prev_modified, 1700000000u);
  EXPECT_EQ(std::string(fresh.prev_modifier, 3), "OLD");
  EXPECT_EQ(+fresh.modified, 1700000900u);
  EXPECT_EQ(std::string(fresh.modifier, 3), "NEW");
  EXPECT_EQ(+fresh.size, 3);
  EXPECT_EQ(+entries[3].slot, 1);
  EXPECT_EQ(+entries[3].size, 11);
  DataHeader h = data_header("aaa");
  EXPECT_EQ(h.slots[1].flags & ENTRY_DELETED, ENTRY_DELETED);
  EXPECT_EQ(h.slots[3].flags & ENTRY_DELETED, 0);
  EXPECT_EQ(get_item(kPieceCtl, "M"), "new");
  EXPECT_EQ(get_item(kPieceCtl, "Z"), "z");
}

TEST_F(OpenTest, GivenStampsComeFromTheCallersRecord) {
  CTRL_ENTRY_INFO info;
  std::memset(&info, 0, sizeof info);
  info.flags = 0x40;
  info.created = 11;
  info.modified = 22;
  info.prev_modified = 33;
  info.accessed = 44;
  std::memcpy(info.creator, "CRE", 4);
  std::memcpy(info.modifier, "MOD", 4);
  std::memcpy(info.prev_modifier, "PRV", 4);
  info.creator_task = 3;
  info.writer_task = 4;
  info.attribute = 5;
  info.attribute2 = 6;
  FILE* stream = nullptr;
  ASSERT_EQ(classic_open_item(kPieceCtl.c_str(), "G", ITEM_WRITE | ITEM_CREATE | ITEM_GIVEN_STAMPS,
                              kPiecePattern, &stream, nullptr, &info),
            CLASSIC_OK);
  std::fputs("g", stream);
  ASSERT_EQ(classic_close_item(kPieceCtl.c_str(), "G", stream), CLASSIC_OK);
  CtlEntry e = read_entries(kPieceCtl)[0];
  EXPECT_EQ(+e.flags, 0x40);
  EXPECT_EQ(+e.created, 11u);
  EXPECT_EQ(+e.modified, 22u);
  EXPECT_EQ(+e.prev_modified, 33u);
  EXPECT_EQ(+e.accessed, 44u);
  EXPECT_EQ(std::string(e.creator, 3) + std::string(e.modifier, 3) + std::string(e.prev_modifier, 3),
            "CREMODPRV");
  EXPECT_EQ(+e.creator_task, 3);
  EXPECT_EQ(+e.writer_task, 4);
  EXPECT_EQ(+e.attribute, 5);
  EXPECT_EQ(+e.attribute2, 6);
  EXPECT_EQ(+data_header("aaa").slots[0].attribute2, 6);
  // The record is required.
  EXPECT_EQ(classic_open_item(kPieceCtl.c_str(), "H", ITEM_WRITE | ITEM_CREATE | ITEM_GIVEN_STAMPS,
                              kPiecePattern, &stream, nullptr, nullptr),
            CLASSIC_IO_ERROR);
}

TEST_F(OpenTest, UserIdIsAtMostThreeCharacters) {
  set_user("ABCD", 5);
  ASSERT_EQ(put_item(kPieceCtl, "A", "a"), CLASSIC_OK);
  EXPECT_EQ(std::string(read_entries(kPieceCtl)[0].creator, 3), std::string(3, '\0'));
  set_user("AB", 3);
  ASSERT_EQ(put_item(kPieceCtl, "B", "b"), CLASSIC_OK);
  EXPECT_EQ(std::string(read_entries(kPieceCtl)[1].creator, 3), std::string("AB\0", 3));
}

TEST_F(OpenTest, FullControlFileRefusesCreation) {
  std::vector<CtlEntry> entries;
  for (int i = 0; i < CTL_MAX_ENTRIES; ++i) entries.push_back(make_entry("E" + std::to_string(100000 + i)));
  write_control_file(kPieceCtl, entries, make_trailer(CTL_MAX_ENTRIES));
  std::string before = testenv::read_file(kPieceCtl);
  EXPECT_EQ(put_item(kPieceCtl, "NEW", "x"), CLASSIC_CTL_FULL);
  std::string after = testenv::read_file(kPieceCtl);
  EXPECT_EQ(after.size(), before.size());
  EXPECT_TRUE(after.compare(0, before.size() - 64, before, 0, before.size() - 64) == 0);
  EXPECT_FALSE(testenv::exists(kWorkData + "pieceaab.pce"));
  EXPECT_FALSE(testenv::exists(kWorkData + "pieceaab.pce"));
}

TEST_F(OpenTest, FailedOpenLeavesTheItemClosed) {
  ASSERT_EQ(put_item(kPieceCtl, "A", "a"), CLASSIC_OK);
  std::string data = testenv::read_file(kWorkData + "pieceaaa.pce");
  ASSERT_EQ(plat_remove((kWorkData + "pieceaaa.pce").c_str()), 0);
  std::string before = testenv::read_file(kPieceCtl);
  EXPECT_EQ(put_item(kPieceCtl, "A", "b", ITEM_WRITE), CLASSIC_IO_ERROR);
  EXPECT_EQ(get_item(kPieceCtl, "A"), "status 1002");
  // The entry reads as before: no writer or reader is left marked.
  EXPECT_EQ(testenv::read_file(kPieceCtl), before);
  testenv::write_file(kWorkData + "pieceaaa.pce", data);
  EXPECT_EQ(get_item(kPieceCtl, "A"), "a");
  EXPECT_TRUE(testenv::pauses.empty());
}

TEST_F(OpenTest, SlotNameMustMatchTheEntry) {
  ASSERT_EQ(put_item(kPieceCtl, "A", "a"), CLASSIC_OK);
  std::string data = testenv::read_file(kWorkData + "pieceaaa.pce");
  data[16 + 8] = 'Q';  // slot 0's name
  testenv::write_file(kWorkData + "pieceaaa.pce", data);
  EXPECT_EQ(get_item(kPieceCtl, "A"), "status 1007");
  EXPECT_EQ(+read_entries(kPieceCtl)[0].open_state, 0);
}

TEST_F(OpenTest, ReadersOnRemovableDrivesLeaveNoMark) {
  std::string ctl = "A:\\userroot\\storage\\work\\data\\piece.ctl";
  testenv::make_dirs("a:\\userroot\\storage\\work\\data");
  ASSERT_EQ(classic_create_control_file(ctl.c_str()), CLASSIC_OK);
  ASSERT_EQ(put_item(ctl, "R", "removable"), CLASSIC_OK);
  std::string before = testenv::read_file(ctl);
  FILE* stream = nullptr;
  ASSERT_EQ(classic_open_item(ctl.c_str(), "R", 0, kPiecePattern, &stream, nullptr, nullptr), CLASSIC_OK);
  EXPECT_EQ(testenv::read_file(ctl), before);
  EXPECT_EQ(classic_close_item(ctl.c_str(), "R", stream), CLASSIC_OK);
  EXPECT_EQ(testenv::read_file(ctl), before);
  // Writers are marked there as anywhere.
  ASSERT_EQ(classic_open_item(ctl.c_str(), "R", ITEM_WRITE, kPiecePattern, &stream, nullptr, nullptr),
            CLASSIC_OK);
  EXPECT_EQ(+read_entries(ctl)[0].open_state, -1);
  EXPECT_EQ(classic_close_item(ctl.c_str(), "R", stream), CLASSIC_OK);
  EXPECT_EQ(+read_entries(ctl)[0].open_state, 0);
}

TEST_F(OpenTest, RetainedControlFileCarriesOnToTheClose) {
  ASSERT_EQ(put_item(kPieceCtl, "A", "abc"), CLASSIC_OK);
  FILE* stream = nullptr;
  ASSERT_EQ(classic_open_item(kPieceCtl.c_str(), "A", ITEM_RETAIN, kPiecePattern, &stream, nullptr, nullptr),
            CLASSIC_OK);
  EXPECT_EQ(classic_check_trailer_ex(kPieceCtl.c_str(), 1, nullptr, nullptr, nullptr), CLASSIC_CANNOT_OPEN);
  EXPECT_EQ(classic_close_item(kPieceCtl.c_str(), "A", stream), CLASSIC_OK);
  int lock = -1;
  EXPECT_EQ(classic_check_trailer_ex(kPieceCtl.c_str(), 1, nullptr, &lock, nullptr), CLASSIC_OK);
  EXPECT_EQ(lock, 0);
  EXPECT_EQ(+read_trailer(kPieceCtl).open_count, 0);
  EXPECT_EQ(+read_entries(kPieceCtl)[0].open_state, 0);
}

}  // namespace
