// Data-file slot flags and the entry moves.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "classic.h"
#include "ctl/records.h"
#include "items/datafile.h"
#include "support/store_test.h"

namespace {

const std::string kDir = "c:\\userroot\\storage\\work\\data\\";
const std::string kCtl = kDir + "piece.ctl";
const char* kPattern = "piece%c%c%c.pce";

CtlEntry numbered(int i) {
  CtlEntry e;
  std::memset(&e, 0, sizeof e);
  std::snprintf(e.name, sizeof e.name, "R%06d", i);
  return e;
}

// A file of n numbered records; returns it open for reading and writing.
FILE* records_file(int n) {
  std::string bytes;
  for (int i = 0; i < n; ++i) {
    CtlEntry e = numbered(i);
    bytes.append(reinterpret_cast<const char*>(&e), sizeof e);
  }
  testenv::write_file(kCtl, bytes);
  return std::fopen(testenv::native(kCtl).c_str(), "r+b");
}

// The names of the records of the file, one per record.
std::vector<std::string> names_on_disk() {
  std::string bytes = testenv::read_file(kCtl);
  std::vector<std::string> out;
  for (size_t at = 0; at + 64 <= bytes.size(); at += 64) out.push_back(bytes.substr(at, 7));
  return out;
}

std::string name_of(int i) { return std::string(numbered(i).name, 7); }

class MoveTest : public StoreTest {};

TEST_F(MoveTest, InsertAtTheFrontOfAThousandRecords) {
  FILE* f = records_file(1000);
  CtlEntry fresh = numbered(999999);
  CtlTrailer trailer = new_trailer();
  std::memcpy(trailer.suffix, "TRL", 3);
  ASSERT_EQ(insert_entry(f, &fresh, 64000, 0, &trailer), CLASSIC_OK);
  std::fclose(f);
  EXPECT_EQ(entry_move_pairs(), 1);  // everything, the trailer too, in one write
  auto names = names_on_disk();
  ASSERT_EQ(names.size(), 1002u);
  EXPECT_EQ(names[0], name_of(999999));
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(names[i + 1], name_of(i)) << i;
  EXPECT_EQ(names[1001].substr(0, 3), "TRL");
}

TEST_F(MoveTest, InsertWithoutTheLargeBuffers) {
  refuse_move_buffers(true);
  FILE* f = records_file(1000);
  CtlEntry fresh = numbered(999999);
  ASSERT_EQ(insert_entry(f, &fresh, 64000, 64 * 10), CLASSIC_OK);
  std::fclose(f);
  EXPECT_EQ(entry_move_pairs(), 32);  // 990 records, 31 at a time
  auto names = names_on_disk();
  ASSERT_EQ(names.size(), 1001u);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(names[i], name_of(i));
  EXPECT_EQ(names[10], name_of(999999));
  for (int i = 10; i < 1000; ++i) ASSERT_EQ(names[i + 1], name_of(i)) << i;
}

TEST_F(MoveTest, InsertAtTheEndWritesOnlyTheRecord) {
  FILE* f = records_file(5);
  CtlEntry fresh = numbered(77);
  ASSERT_EQ(insert_entry(f, &fresh, 320, 320), CLASSIC_OK);
  std::fclose(f);
  EXPECT_EQ(entry_move_pairs(), 1);
  auto names = names_on_disk();
  ASSERT_EQ(names.size(), 6u);
  EXPECT_EQ(names[5], name_of(77));
  EXPECT_EQ(names[4], name_of(4));
}

TEST_F(MoveTest, RemoveTheFirstOfAHundred) {
  FILE* f = records_file(100);
  CtlEntry moved = numbered(0);
  moved.flags = ENTRY_DELETED;
  ASSERT_EQ(remove_entry(f, &moved, 0, 6400), CLASSIC_OK);
  std::fclose(f);
  EXPECT_EQ(entry_move_pairs(), 1);  // the 99 records and the removed one in one write
  auto names = names_on_disk();
  ASSERT_EQ(names.size(), 100u);
  for (int i = 0; i < 99; ++i) ASSERT_EQ(names[i], name_of(i + 1)) << i;
  EXPECT_EQ(names[99], name_of(0));
  EXPECT_EQ(testenv::read_file(kCtl)[99 * 64 + 25], ENTRY_DELETED);
}

TEST_F(MoveTest, RemoveWithoutTheLargeBuffers) {
  refuse_move_buffers(true);
  FILE* f = records_file(100);
  CtlEntry moved = numbered(0);
  ASSERT_EQ(remove_entry(f, &moved, 0, 6400), CLASSIC_OK);
  std::fclose(f);
  EXPECT_EQ(entry_move_pairs(), 4);  // 32, 32, 32 and 3 records through the entry window
  auto names = names_on_disk();
  for (int i = 0; i < 99; ++i) ASSERT_EQ(names[i], name_of(i + 1)) << i;
  EXPECT_EQ(names[99], name_of(0));
}

TEST_F(MoveTest, RemoveTheLastWritesOnlyTheRecord) {
  FILE* f = records_file(3);
  CtlEntry moved = numbered(55);
  ASSERT_EQ(remove_entry(f, &moved, 128, 192), CLASSIC_OK);
  std::fclose(f);
  EXPECT_EQ(entry_move_pairs(), 1);
  EXPECT_EQ(names_on_disk(), (std::vector<std::string>{name_of(0), name_of(1), name_of(55)}));
}

TEST_F(MoveTest, BadPositionsAreRefused) {
  FILE* f = records_file(3);
  CtlEntry e = numbered(9);
  EXPECT_EQ(remove_entry(f, &e, 192, 192), CLASSIC_IO_ERROR);
  EXPECT_EQ(remove_entry(f, &e, 256, 192), CLASSIC_IO_ERROR);
  EXPECT_EQ(insert_entry(f, &e, 64, 128), CLASSIC_IO_ERROR);
  EXPECT_EQ(insert_entry(f, &e, 100, 0), CLASSIC_IO_ERROR);
  // A move past the end of the file reads short.
  EXPECT_EQ(insert_entry(f, &e, 64 * 10, 0), CLASSIC_IO_ERROR);
  std::fclose(f);
}

class SlotFlagsTest : public StoreTest {
 protected:
  CtlEntry entry_ = numbered(1);
  void data_file(uint8_t flags, size_t size = 0) {
    DataHeader h;
    std::memset(&h, 0, sizeof h);
    h.slots[3].flags = flags;
    std::string bytes(reinterpret_cast<const char*>(&h), sizeof h);
    bytes += "item bytes";
    if (size) bytes.resize(size);
    testenv::write_file(kDir + "pieceabc.pce", bytes);
  }
  uint8_t flags_on_disk() {
    return static_cast<uint8_t>(testenv::read_file(kDir + "pieceabc.pce")[16 + 3 * 64 + 29]);
  }
  void SetUp() override {
    StoreTest::SetUp();
    std::memcpy(entry_.suffix, "abc", 3);
    entry_.slot = 3;
  }
};

TEST_F(SlotFlagsTest, SetAndClearTheDeletedBit) {
  data_file(0);
  EXPECT_EQ(set_slot_flags(kCtl.c_str(), kPattern, &entry_, 0xFF, 2), CLASSIC_OK);
  EXPECT_EQ(flags_on_disk(), 2);
  data_file(3);
  EXPECT_EQ(set_slot_flags(kCtl.c_str(), kPattern, &entry_, 0xFD, 0), CLASSIC_OK);
  EXPECT_EQ(flags_on_disk(), 1);
  EXPECT_EQ(testenv::read_file(kDir + "pieceabc.pce").substr(528), "item bytes");
}

TEST_F(SlotFlagsTest, ShortOrMissingDataFiles) {
  data_file(0, 500);
  std::string before = testenv::read_file(kDir + "pieceabc.pce");
  EXPECT_EQ(set_slot_flags(kCtl.c_str(), kPattern, &entry_, 0xFF, 2), CLASSIC_IO_ERROR);
  EXPECT_EQ(testenv::read_file(kDir + "pieceabc.pce"), before);
  std::memcpy(entry_.suffix, "abd", 3);
  EXPECT_EQ(set_slot_flags(kCtl.c_str(), kPattern, &entry_, 0xFF, 2), CLASSIC_IO_ERROR);
  // A slot outside 0..7 in a damaged entry is refused, not followed.
  data_file(0);
  std::memcpy(entry_.suffix, "abc", 3);
  entry_.slot = 8;
  EXPECT_EQ(set_slot_flags(kCtl.c_str(), kPattern, &entry_, 0xFF, 2), CLASSIC_IO_ERROR);
  EXPECT_EQ(set_slot_flags(kCtl.c_str(), "bad%s", &entry_, 0xFF, 2), CLASSIC_IO_ERROR);
}

}  // namespace
