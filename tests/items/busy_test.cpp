// Items busy in another process, creators that wait for each other, and the
// repairs a crash in the middle of a creation calls for.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "classic.h"
#include "ctl/records.h"
#include "items/datafile.h"
#include "platform/platform.h"
#include "support/ctl_files.h"
#include "support/helper.h"
#include "support/items.h"
#include "support/store_test.h"

namespace {

int open_state_of(const char* name) {
  CTRL_ENTRY_INFO info;
  std::memset(&info, 0, sizeof info);
  if (classic_lookup_item(kPieceCtl.c_str(), name, &info) != CLASSIC_OK) return 99;
  return info.open_state;
}

size_t count(const std::vector<uint32_t>& v, uint32_t x) {
  return static_cast<size_t>(std::count(v.begin(), v.end(), x));
}

class BusyTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    make_piece_store();
    ASSERT_EQ(put_item(kPieceCtl, "SHARED", "shared bytes"), CLASSIC_OK);
  }
  void expect_waited_out(uint16_t code) {
    EXPECT_EQ(testenv::pauses.size(), 40u);
    EXPECT_EQ(count(testenv::pauses, 1162), 40u);
    EXPECT_EQ(testenv::log_codes(), std::vector<int>{code});
  }
};

TEST_F(BusyTest, WriterWaitsOutAReaderOfAnotherProcess) {
  Helper reader("hold_item", {kPieceCtl, "SHARED", "0", kPiecePattern, "release"});
  ASSERT_TRUE(reader.wait_ready());
  EXPECT_EQ(put_item(kPieceCtl, "SHARED", "x", ITEM_WRITE), CLASSIC_READERS_PRESENT);
  expect_waited_out(54012);
  // A second reader goes in at once.
  FILE* stream = nullptr;
  ASSERT_EQ(classic_open_item(kPieceCtl.c_str(), "SHARED", 0, kPiecePattern, &stream, nullptr, nullptr),
            CLASSIC_OK);
  EXPECT_EQ(open_state_of("SHARED"), 2);
  EXPECT_EQ(classic_close_item(kPieceCtl.c_str(), "SHARED", stream), CLASSIC_OK);
  EXPECT_EQ(reader.finish(), 0);
  EXPECT_EQ(open_state_of("SHARED"), 0);
  EXPECT_EQ(put_item(kPieceCtl, "SHARED", "x", ITEM_WRITE), CLASSIC_OK);
}

TEST_F(BusyTest, ReplacementWaitsOutAReader) {
  Helper reader("hold_item", {kPieceCtl, "SHARED", "0", kPiecePattern, "release"});
  ASSERT_TRUE(reader.wait_ready());
  EXPECT_EQ(put_item(kPieceCtl, "SHARED", "x", 7), CLASSIC_READERS_PRESENT);
  expect_waited_out(54014);
  EXPECT_EQ(reader.finish(), 0);
}

TEST_F(BusyTest, ReaderWaitsOutAWriter) {
  Helper writer("hold_item", {kPieceCtl, "SHARED", "1", kPiecePattern, "release"});
  ASSERT_TRUE(writer.wait_ready());
  EXPECT_EQ(get_item(kPieceCtl, "SHARED"), "status 1012");
  expect_waited_out(54011);
  EXPECT_EQ(writer.finish(), 0);
  EXPECT_EQ(get_item(kPieceCtl, "SHARED"), "hhared bytes");
}

TEST_F(BusyTest, CreatorWaitsForThePreviousSlotOfItsDataFile) {
  Helper creator("hold_item", {kPieceCtl, "FIRST", "3", kPiecePattern, "release"});
  ASSERT_TRUE(creator.wait_ready());
  // The helper's item holds slot 1 of the data file; slot 2 must wait for it.
  testenv::on_pause = [&] {
    if (testenv::pauses.size() == 3) {
      EXPECT_EQ(creator.finish(), 0);
    }
  };
  EXPECT_EQ(put_item(kPieceCtl, "SECOND", "two"), CLASSIC_OK);
  EXPECT_EQ(testenv::pauses.size(), 3u);
  EXPECT_TRUE(testenv::log_codes().empty());
  EXPECT_EQ(get_item(kPieceCtl, "FIRST"), "h");
  EXPECT_EQ(get_item(kPieceCtl, "SECOND"), "two");
  std::vector<CtlEntry> entries = read_entries(kPieceCtl);
  EXPECT_EQ(entry_names(entries), (std::vector<std::string>{"FIRST", "SECOND", "SHARED"}));
  EXPECT_EQ(+entries[0].slot, 1);
  EXPECT_EQ(+entries[1].slot, 2);
}

TEST_F(BusyTest, CreatorThatDiedHoldsItsDataFile) {
  Helper creator("hold_item", {kPieceCtl, "FIRST", "3", kPiecePattern, "die"});
  ASSERT_TRUE(creator.wait_ready());
  EXPECT_NE(creator.finish(), 0);
  EXPECT_EQ(put_item(kPieceCtl, "SECOND", "two"), CLASSIC_LOCKED);
  expect_waited_out(54014);
  EXPECT_EQ(open_state_of("FIRST"), -1);
}

class CrashTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    make_piece_store();
  }
  // A data file whose slots up to `taken` are in use (the last one still
  // being created), as a creator that died right after taking it leaves.
  void data_file(const std::string& suffix, int taken, uint32_t previous_offset = 528) {
    DataHeader h;
    std::memset(&h, 0, sizeof h);
    h.version = 4;
    for (int s = 0; s <= taken; ++s) {
      h.slots[s].data_offset = s == 0 ? 528 : previous_offset + s - 1;
      h.slots[s].data_length = s == taken ? -1 : 1;
    }
    testenv::write_file(kWorkData + "piece" + suffix + ".pce",
                        std::string(reinterpret_cast<const char*>(&h), sizeof h));
  }
};

TEST_F(CrashTest, NewDataFileThatExistsAlreadyIsSkipped) {
  data_file("aaa", 0);  // slot 0 taken, no entry, trailer still at aaa/0
  EXPECT_EQ(put_item(kPieceCtl, "NEW", "new"), CLASSIC_OK);
  EXPECT_EQ(testenv::log_codes(), std::vector<int>{54026});
  EXPECT_EQ(testenv::pauses.size(), 1u);
  CtlEntry e = read_entries(kPieceCtl)[0];
  EXPECT_EQ(std::string(e.suffix, 3), "aab");
  EXPECT_EQ(+e.slot, 0);
  CtlTrailer t = read_trailer(kPieceCtl);
  EXPECT_EQ(std::string(t.suffix, 3), "aab");
  EXPECT_EQ(+t.next_slot, 1);
  EXPECT_EQ(get_item(kPieceCtl, "NEW"), "new");
}

TEST_F(CrashTest, NoRecoverLeavesItToTheFileCheck) {
  data_file("aaa", 0);
  plat_setenv("NORECOVER", "1");
  std::string before = testenv::read_file(kPieceCtl);
  EXPECT_EQ(put_item(kPieceCtl, "NEW", "new"), CLASSIC_IO_ERROR);
  EXPECT_EQ(testenv::log_codes(), std::vector<int>{54028});
  EXPECT_STREQ(testenv::log_records()[0].lines[0],
               "INVARIANT FAILURE. Recover trailer FAILED! please run korvisk.");
  EXPECT_TRUE(testenv::pauses.empty());
  EXPECT_EQ(read_entries(kPieceCtl).size(), 0u);
  EXPECT_EQ(std::string(read_trailer(kPieceCtl).suffix, 3), "aaa");
}

TEST_F(CrashTest, TakenSlotOfTheDataFileBeingFilled) {
  ASSERT_EQ(put_item(kPieceCtl, "A", "a"), CLASSIC_OK);
  data_file("aaa", 1);  // slot 1 taken by a creator that died before its entry
  EXPECT_EQ(put_item(kPieceCtl, "B", "b"), CLASSIC_OK);
  EXPECT_EQ(testenv::log_codes(), std::vector<int>{54026});
  EXPECT_EQ(std::string(read_entries(kPieceCtl)[1].suffix, 3), "aab");
  EXPECT_EQ(get_item(kPieceCtl, "B"), "b");

  data_file("aab", 1);
  plat_setenv("NORECOVER", "1");
  EXPECT_EQ(put_item(kPieceCtl, "C", "c"), CLASSIC_IO_ERROR);
  EXPECT_EQ(testenv::log_codes(), (std::vector<int>{54026, 54027}));
}

TEST_F(CrashTest, DataFileOutOfStepWithItsControlFile) {
  ASSERT_EQ(put_item(kPieceCtl, "A", "a"), CLASSIC_OK);
  std::string data = testenv::read_file(kWorkData + "pieceaaa.pce");
  std::memset(&data[16], 0, 4);  // slot 0's data offset lost
  testenv::write_file(kWorkData + "pieceaaa.pce", data);
  EXPECT_EQ(put_item(kPieceCtl, "B", "b"), CLASSIC_LOCKED);
  EXPECT_EQ(testenv::pauses.size(), 40u);
  std::vector<int> codes = testenv::log_codes();
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 54021), 41);
  EXPECT_EQ(codes.back(), 54014);
}

}  // namespace

namespace {

TEST_F(BusyTest, CloseWaitsForABusyControlFile) {
  FILE* stream = nullptr;
  ASSERT_EQ(classic_open_item(kPieceCtl.c_str(), "SHARED", 0, kPiecePattern, &stream, nullptr, nullptr),
            CLASSIC_OK);
  Helper holder("lock_file", {kPieceCtl, "release"});
  ASSERT_TRUE(holder.wait_ready());
  testenv::on_pause = [&] {
    if (testenv::pauses.back() == 500) {
      EXPECT_EQ(holder.finish(), 0);
    }
  };
  EXPECT_EQ(classic_close_item(kPieceCtl.c_str(), "SHARED", stream), CLASSIC_OK);
  EXPECT_EQ(count(testenv::pauses, 500), 1u);
  EXPECT_EQ(open_state_of("SHARED"), 0);
}

TEST_F(BusyTest, CloseGivesUpOnAControlFileThatIsGone) {
  FILE* stream = nullptr;
  ASSERT_EQ(classic_open_item(kPieceCtl.c_str(), "SHARED", 0, kPiecePattern, &stream, nullptr, nullptr),
            CLASSIC_OK);
  ASSERT_EQ(plat_remove(kPieceCtl.c_str()), 0);
  EXPECT_EQ(classic_close_item(kPieceCtl.c_str(), "SHARED", stream), CLASSIC_CANNOT_OPEN);
  EXPECT_TRUE(testenv::pauses.empty());
  std::fclose(stream);
}

}  // namespace
