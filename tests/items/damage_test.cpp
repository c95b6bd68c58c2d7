// Damaged files are refused before anything is written, and the damage does
// not spread to other items: control files that are not whole records, slots
// whose offsets and lengths do not hold, bytes past the last item, missing
// data files, damaged names, too many readers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/lockfile.h"
#include "base/names.h"
#include "classic.h"
#include "ctl/records.h"
#include "items/datafile.h"
#include "platform/platform.h"
#include "support/ctl_files.h"
#include "support/items.h"
#include "support/store_test.h"

namespace {

// The first data file (a function: kWorkData belongs to another file).
std::string aaa() { return kWorkData + "pieceaaa.pce"; }

DataHeader header_of(const std::string& path) {
  DataHeader h;
  std::memset(&h, 0, sizeof h);
  std::string bytes = testenv::read_file(path);
  if (bytes.size() >= sizeof h) std::memcpy(&h, bytes.data(), sizeof h);
  return h;
}

void write_header(const std::string& path, const DataHeader& h) {
  std::string bytes = testenv::read_file(path);
  bytes.replace(0, sizeof h, reinterpret_cast<const char*>(&h), sizeof h);
  testenv::write_file(path, bytes);
}

class DamageTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    make_piece_store();
    for (const char* name : {"A", "B", "C"}) ASSERT_EQ(put_item(kPieceCtl, name, std::string(50, name[0])), CLASSIC_OK);
  }
  // Every item still reads as it was written.
  void expect_intact() {
    for (const char* name : {"A", "B", "C"}) EXPECT_EQ(get_item(kPieceCtl, name), std::string(50, name[0])) << name;
  }
};

TEST_F(DamageTest, ControlFileOfPartRecordsIsRefusedUnwritten) {
  std::string bytes = testenv::read_file(kPieceCtl) + "torn";
  testenv::write_file(kPieceCtl, bytes);
  EXPECT_EQ(put_item(kPieceCtl, "B", "new B", ITEM_WRITE | ITEM_CREATE | ITEM_REPLACE), CLASSIC_IO_ERROR);
  EXPECT_EQ(put_item(kPieceCtl, "D", "new D"), CLASSIC_IO_ERROR);
  EXPECT_EQ(classic_delete_item(kPieceCtl.c_str(), "A", kPiecePattern), CLASSIC_IO_ERROR);
  EXPECT_EQ(testenv::read_file(kPieceCtl), bytes);
}

// Slot records whose offsets and lengths do not follow each other would make
// a new item or a rewrite land on a neighbour or on the slot records.
TEST_F(DamageTest, DamagedSlotPlacesAreRefused) {
  const DataHeader good = header_of(aaa());
  const std::string data = testenv::read_file(aaa());
  struct Case {
    const char* what;
    void (*damage)(DataHeader&);
  } cases[] = {
      {"negative length", [](DataHeader& h) { h.slots[2].data_length = -20; }},
      {"length past the file", [](DataHeader& h) { h.slots[2].data_length = 0x7FFFFFF0; }},
      {"offset inside the header", [](DataHeader& h) { h.slots[1].data_offset = 100; }},
      {"offset past the neighbour", [](DataHeader& h) { h.slots[1].data_offset += 10; }},
  };
  for (const Case& c : cases) {
    DataHeader h = good;
    c.damage(h);
    write_header(aaa(), h);
    const std::string damaged = testenv::read_file(aaa());
    EXPECT_NE(put_item(kPieceCtl, "D", "new D"), CLASSIC_OK) << c.what;
    EXPECT_EQ(testenv::read_file(aaa()), damaged) << c.what;
    testenv::write_file(aaa(), data);
  }
  // Rewrites trust neither an offset inside the header nor a size larger
  // than the slot: the open is refused and the item is left closed.
  for (int which = 0; which < 2; ++which) {
    DataHeader h = good;
    if (which == 0) h.slots[1].data_offset = 16;
    if (which == 1) h.slots[1].data_length = 500;
    write_header(aaa(), h);
    const std::string damaged = testenv::read_file(aaa());
    EXPECT_EQ(put_item(kPieceCtl, "B", std::string(50, 'x'), ITEM_WRITE), CLASSIC_IO_ERROR) << which;
    EXPECT_EQ(testenv::read_file(aaa()), damaged) << which;
    EXPECT_EQ(read_entries(kPieceCtl)[1].open_state, 0) << which;
    testenv::write_file(aaa(), data);
  }
  expect_intact();
}

TEST_F(DamageTest, BytesPastTheLastItemAreNotANewItemsBytes) {
  testenv::write_file(aaa(), testenv::read_file(aaa()) + "fifteen strays!");
  ASSERT_EQ(put_item(kPieceCtl, "D", "four"), CLASSIC_OK);
  EXPECT_EQ(get_item(kPieceCtl, "D"), "four");
  CTRL_ENTRY_INFO info{};
  ASSERT_EQ(classic_lookup_item(kPieceCtl.c_str(), "D", &info), CLASSIC_OK);
  EXPECT_EQ(info.size, 4);
  expect_intact();
}

TEST_F(DamageTest, MissingDataFileLeavesTheItemAsItWas) {
  const std::string ctl_before = testenv::read_file(kPieceCtl);
  const std::string data = testenv::read_file(aaa());
  ASSERT_EQ(plat_remove(aaa().c_str()), 0);
  // Replacing and deleting change nothing and say so.
  EXPECT_EQ(put_item(kPieceCtl, "B", "new B", ITEM_WRITE | ITEM_CREATE | ITEM_REPLACE), CLASSIC_IO_ERROR);
  EXPECT_EQ(classic_delete_item(kPieceCtl.c_str(), "B", kPiecePattern), CLASSIC_IO_ERROR);
  EXPECT_EQ(classic_rename_item(kPieceCtl.c_str(), "B", "BB", kPiecePattern), CLASSIC_IO_ERROR);
  EXPECT_EQ(classic_set_attribute(kPieceCtl.c_str(), kPiecePattern, "B", 3), CLASSIC_IO_ERROR);
  std::string ctl_after = testenv::read_file(kPieceCtl);
  EXPECT_EQ(ctl_after.substr(0, ctl_after.size() - 64), ctl_before.substr(0, ctl_before.size() - 64));
  CtlTrailer t = read_trailer(kPieceCtl);
  EXPECT_EQ(t.total_items, 3);
  EXPECT_EQ(t.lock_state, LOCK_FREE);
  // Once the data file is back, the item and its type work as before.
  testenv::write_file(aaa(), data);
  expect_intact();
  EXPECT_EQ(put_item(kPieceCtl, "D", "new D"), CLASSIC_OK);
}

TEST_F(DamageTest, RawCopyComparesTheSlotName) {
  std::vector<CtlEntry> entries = read_entries(kPieceCtl);
  entries[1].slot = 2;  // B's entry now points at C's slot
  write_control_file(kPieceCtl, entries, read_trailer(kPieceCtl));
  std::vector<char> bytes;
  EXPECT_EQ(classic_read_raw_item(kPieceCtl.c_str(), "B", kPiecePattern, bytes), CLASSIC_NOT_FOUND);
  EXPECT_TRUE(bytes.empty());
  EXPECT_EQ(get_item(kPieceCtl, "B"), "status 1007");
}

TEST_F(DamageTest, The128thReaderIsRefused) {
  std::vector<FILE*> readers;
  for (int i = 0; i < 127; ++i) {
    FILE* s = nullptr;
    ASSERT_EQ(classic_open_item(kPieceCtl.c_str(), "A", 0, kPiecePattern, &s, nullptr, nullptr), CLASSIC_OK);
    readers.push_back(s);
  }
  FILE* s = nullptr;
  EXPECT_EQ(classic_open_item(kPieceCtl.c_str(), "A", 0, kPiecePattern, &s, nullptr, nullptr),
            CLASSIC_READERS_PRESENT);
  EXPECT_EQ(read_entries(kPieceCtl)[0].open_state, 127);
  for (FILE* r : readers) EXPECT_EQ(classic_close_item(kPieceCtl.c_str(), "A", r), CLASSIC_OK);
  EXPECT_EQ(read_entries(kPieceCtl)[0].open_state, 0);
}

// A close ends within its budget on a control file that waiting cannot free.
TEST_F(DamageTest, CloseGivesUpOnAStuckControlFile) {
  FILE* s = nullptr;
  ASSERT_EQ(classic_open_item(kPieceCtl.c_str(), "A", 0, kPiecePattern, &s, nullptr, nullptr), CLASSIC_OK);
  CtlTrailer t = read_trailer(kPieceCtl);
  for (uint8_t state : {LOCK_AREA, LOCK_SESSION}) {
    t.lock_state = state;
    write_control_file(kPieceCtl, read_entries(kPieceCtl), t);
    testenv::pauses.clear();
    EXPECT_NE(classic_close_item(kPieceCtl.c_str(), "A", s), CLASSIC_OK) << int(state);
    EXPECT_LE(testenv::pauses.size(), 41u * 41u) << int(state);
  }
  t.lock_state = LOCK_FREE;
  write_control_file(kPieceCtl, read_entries(kPieceCtl), t);
  EXPECT_EQ(classic_close_item(kPieceCtl.c_str(), "A", s), CLASSIC_OK);
}

// A folder is no locked file: the opener fails at once, whatever its budget.
TEST_F(DamageTest, FoldersAreNoLockedFiles) {
  testenv::make_dirs("c:\\userroot\\folder.ctl");
  for (const char* path : {"c:\\userroot\\folder.ctl", "", "c:"}) {
    testenv::pauses.clear();
    for (int tries : {0, -1, 5}) {
      EXPECT_EQ(classic_lock_open_ex(path, CLASSIC_O_RDWR | CLASSIC_O_BINARY, CLASSIC_S_IREAD | CLASSIC_S_IWRITE,
                                     tries, 0),
                nullptr)
          << path;
    }
    EXPECT_TRUE(testenv::pauses.empty()) << path;
  }
  EXPECT_TRUE(testenv::log_codes().empty());
  EXPECT_EQ(classic_lookup_item("c:\\userroot\\folder.ctl", "A", nullptr), CLASSIC_CANNOT_OPEN);
  EXPECT_TRUE(testenv::pauses.empty());
}

TEST_F(DamageTest, UpperCaseSuffixesStepWithinTheAlphabet) {
  const struct {
    const char* from;
    const char* to;
  } steps[] = {{"AAZ", "ABA"}, {"AZZ", "BAA"}, {"aaz", "aba"}, {"ZZZ", "AAA"}, {"zzz", "aaa"}};
  for (const auto& s : steps) {
    char suffix[4];
    std::memcpy(suffix, s.from, 4);
    next_suffix(suffix);
    EXPECT_STREQ(suffix, s.to) << s.from;
  }
}

}  // namespace
