// The control-file format: creation, trailer reads and block reads.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "classic.h"
#include "ctl/format.h"
#include "ctl/records.h"
#include "ctl/session.h"
#include "ctl/window.h"
#include "platform/platform.h"
#include "support/ctl_files.h"
#include "support/helper.h"
#include "support/store_test.h"

namespace {

const std::string kDir = "c:\\userroot\\storage\\work\\data\\";
const std::string kCtl = kDir + "piece.ctl";

// A control file of n live entries NAME00000.. and the given trailer.
void control_file(const std::string& path, int n, CtlTrailer t = new_trailer()) {
  std::vector<CtlEntry> entries;
  char name[16];
  for (int i = 0; i < n; ++i) {
    std::snprintf(name, sizeof name, "NAME%05d", i);
    entries.push_back(make_entry(name));
  }
  write_control_file(path, entries, t);
}

}  // namespace

namespace {

class FormatTest : public StoreTest {};

TEST_F(FormatTest, NewControlFileIsOneTrailer) {
  testenv::make_dirs(kDir);
  ASSERT_EQ(classic_create_control_file(kCtl.c_str()), CLASSIC_OK);
  std::string bytes = testenv::read_file(kCtl);
  std::string expected(64, '\0');
  expected.replace(0, 3, "aaa");
  expected[59] = 4;
  EXPECT_EQ(bytes, expected);
}

TEST_F(FormatTest, CreatingAnExistingControlFileLeavesIt) {
  control_file(kCtl, 3);
  std::string before = testenv::read_file(kCtl);
  EXPECT_EQ(classic_create_control_file(kCtl.c_str()), CLASSIC_CANNOT_CREATE);
  EXPECT_EQ(classic_create_control_file("c:\\no\\such\\dir\\piece.ctl"), CLASSIC_CANNOT_CREATE);
  EXPECT_EQ(testenv::read_file(kCtl), before);
}

TEST_F(FormatTest, TranslationControlFileIsMadeOnItsFixedPath) {
  testenv::make_dirs("c:\\userroot\\system\\state\\stordir");
  EXPECT_EQ(classic_net_ctrl_creat(), CLASSIC_OK);
  EXPECT_EQ(testenv::read_file("C:\\userroot\\system\\state\\stordir\\netxl.ctl").size(), 64u);
  EXPECT_EQ(classic_net_ctrl_creat(), CLASSIC_CANNOT_CREATE);
}

TEST_F(FormatTest, CheckTrailerReadsWithoutChangingTheFile) {
  CtlTrailer t = new_trailer();
  t.total_items = 12;
  t.lock_state = LOCK_AREA;
  t.version = 3;
  control_file(kCtl, 15, t);
  std::string before = testenv::read_file(kCtl);
  int version = 0, lock = 0, total = 0;
  EXPECT_EQ(classic_check_trailer(kCtl.c_str(), &version, &lock, &total), CLASSIC_OK);
  EXPECT_EQ(version, 3);
  EXPECT_EQ(lock, 13);
  EXPECT_EQ(total, 12);
  EXPECT_EQ(ctl_trailer().total_items, 12);  // left in the current trailer
  EXPECT_EQ(classic_check_trailer(kCtl.c_str(), nullptr, nullptr, nullptr), CLASSIC_OK);
  EXPECT_EQ(classic_check_trailer_ex(kCtl.c_str(),
                                     1, nullptr, &lock, nullptr),
            CLASSIC_OK);
  EXPECT_EQ(testenv::read_file(kCtl), before);
  EXPECT_TRUE(testenv::pauses.empty());
}

TEST_F(FormatTest, CheckTrailerFailures) {
  EXPECT_EQ(classic_check_trailer((kDir + "missing.ctl").c_str(), nullptr, nullptr, nullptr),
            CLASSIC_CANNOT_OPEN);
  EXPECT_TRUE(testenv::pauses.empty());  // no retry for a missing file
  testenv::write_file(kCtl, "short");
  EXPECT_EQ(classic_check_trailer(kCtl.c_str(), nullptr, nullptr, nullptr), CLASSIC_IO_ERROR);
  control_file(kCtl, 0);
  EXPECT_EQ(classic_check_trailer_ex(kCtl.c_str(), 0, nullptr, nullptr, nullptr), CLASSIC_CANNOT_OPEN);
}

TEST_F(FormatTest, CheckTrailerExGivesUpAtOnceOnAHeldFile) {
  control_file(kCtl, 0);
  Helper holder("hold_file", {kCtl, "rw", "nolock", "release"});
  ASSERT_TRUE(holder.wait_ready());
  int version = -5;
  EXPECT_EQ(classic_check_trailer_ex(kCtl.c_str(), 1, &version, nullptr, nullptr),
            CLASSIC_CANNOT_OPEN);
  EXPECT_EQ(version, -5);
  EXPECT_TRUE(testenv::pauses.empty());
  // Two tries wait once, for the clock's second to change.
  testenv::fixed_time = 1000;
  EXPECT_EQ(classic_check_trailer_ex(kCtl.c_str(), 2, nullptr, nullptr, nullptr), CLASSIC_CANNOT_OPEN);
  EXPECT_FALSE(testenv::pauses.empty());
  EXPECT_EQ(holder.finish(), 0);
  EXPECT_EQ(classic_check_trailer_ex(kCtl.c_str(), 1, &version, nullptr, nullptr), CLASSIC_OK);
  EXPECT_EQ(version, 4);
}

TEST_F(FormatTest, CorruptTrailerRule) {
  CtlTrailer t = new_trailer();
  EXPECT_FALSE(trailer_is_corrupt(t, 0));
  EXPECT_TRUE(trailer_is_corrupt(t, 64));
  std::memcpy(t.suffix, "AaA", 3);
  EXPECT_TRUE(trailer_is_corrupt(t, 640));
  t.next_slot = 1;
  EXPECT_FALSE(trailer_is_corrupt(t, 640));
  t.next_slot = 0;
  std::memcpy(t.suffix, "aab", 3);
  EXPECT_FALSE(trailer_is_corrupt(t, 640));
}

class BlockTest : public StoreTest {
 protected:
  // Reads a control file block by block: the counts and results, in order.
  std::string blocks(int entries) {
    control_file(kCtl, entries);
    FILE* f = std::fopen(testenv::native(kCtl).c_str(), "rb");
    EXPECT_NE(f, nullptr);
    long end = (entries + 1) * 64L;
    std::string out;
    for (int i = 0; i < 6; ++i) {
      int count = -1;
      int r = read_entry_block(f, ctl_window(), &count, end);
      out += std::to_string(count) + ":" + std::to_string(r) + " ";
      if (r == CLASSIC_OK && count > 0) {
        EXPECT_EQ(std::string(ctl_window()[0].name, 4), "NAME");
      }
      if (r != CLASSIC_OK) break;
    }
    std::fclose(f);
    return out;
  }
};

TEST_F(BlockTest, FortyEntries) { EXPECT_EQ(blocks(40), "32:1 8:1 0:999 "); }

TEST_F(BlockTest, OnlyTheTrailer) { EXPECT_EQ(blocks(0), "0:999 "); }

TEST_F(BlockTest, ThirtyOneEntriesFillOneBlockWithTheTrailer) { EXPECT_EQ(blocks(31), "31:1 0:999 "); }

TEST_F(BlockTest, SixtyThreeEntries) { EXPECT_EQ(blocks(63), "32:1 31:1 0:999 "); }

}  // namespace
