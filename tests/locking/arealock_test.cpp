// Area locks: marking and clearing every control file of an area, logins
// in the way, forced locks, partly locked areas, failures on single files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classic.h"
#include "ctl/records.h"
#include "platform/platform.h"
#include "support/ctl_files.h"
#include "support/store_test.h"

namespace {

const std::string kArea = "c:\\userroot\\storage\\work\\";
const std::vector<std::string> kControlFiles = {"login.ctl", "data\\model.ctl", "data\\piece.ctl",
                                                "param\\plot.ctl"};

class AreaLockTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    testenv::make_dirs("c:\\userroot\\system\\error");
    plat_setenv("QUEUE", "PEER,NODE");
    for (size_t i = 1; i < kControlFiles.size(); ++i) {
      write_control_file(kArea + kControlFiles[i], {make_entry("A")}, make_trailer(1));
    }
    ASSERT_EQ(classic_login_create(kArea.c_str()), CLASSIC_OK);
  }
  // The lock states of the area's control files, in the order of kControlFiles.
  static std::vector<int> states() {
    std::vector<int> out;
    for (const std::string& f : kControlFiles) out.push_back(read_trailer(kArea + f).lock_state);
    return out;
  }
  static std::string all_bytes() {
    std::string out;
    for (const std::string& f : kControlFiles) out += testenv::read_file(kArea + f);
    return out;
  }
};

const std::vector<int> kLocked(4, LOCK_AREA);
const std::vector<int> kFree(4, LOCK_FREE);

TEST_F(AreaLockTest, LockAndUnlock) {
  EXPECT_EQ(classic_area_lock(0, kArea.c_str()), CLASSIC_OK);
  EXPECT_EQ(states(), kLocked);
  EXPECT_EQ(classic_login_area(kArea.c_str(), "x"), CLASSIC_AREA_LOCKED);
  std::string before = all_bytes();
  EXPECT_EQ(classic_area_lock(1, kArea.c_str()), CLASSIC_AREA_LOCKED);
  EXPECT_EQ(all_bytes(), before);
  EXPECT_EQ(classic_area_unlock(kArea.c_str()), CLASSIC_OK);
  EXPECT_EQ(states(), kFree);
  EXPECT_EQ(classic_login_area(kArea.c_str(), "x"), CLASSIC_OK);
  // Unlocking a free area is refused at login.ctl.
  before = all_bytes();
  EXPECT_EQ(classic_area_unlock(kArea.c_str()), CLASSIC_NO_AREA_LOCK);
  EXPECT_EQ(all_bytes(), before);
}

TEST_F(AreaLockTest, LoginsStandInTheWayUnlessForced) {
  ASSERT_EQ(classic_login_area(kArea.c_str(), "x"), CLASSIC_OK);
  std::string before = all_bytes();
  EXPECT_EQ(classic_area_lock(0, kArea.c_str()), CLASSIC_LOGINS_PRESENT);
  EXPECT_EQ(all_bytes(), before);
  EXPECT_TRUE(testenv::exists(kArea + "logNODE.x"));

  testenv::write_file(kArea + "logbook.txt", "notes");
  testenv::write_file(kArea + "LOGOTHR.abc", "LOGOTHR.abc");
  testenv::write_file(kArea + "catalog.txt", "stays");
  testenv::write_file(kArea + "data\\logfile.dat", "x");  // not in the area's folder
  EXPECT_EQ(classic_area_lock(1, kArea.c_str()), CLASSIC_LOCK_FORCED);
  EXPECT_EQ(states(), kLocked);
  CtlTrailer t = read_trailer(kArea + "login.ctl");
  EXPECT_EQ(+t.total_items, 0);
  EXPECT_EQ(+t.open_count, 0);
  for (const char* gone : {"logNODE.x", "logbook.txt", "LOGOTHR.abc"}) {
    EXPECT_FALSE(testenv::exists(kArea + gone)) << gone;
  }
  EXPECT_TRUE(testenv::exists(kArea + "catalog.txt"));
  EXPECT_TRUE(testenv::exists(kArea + "login.ctl"));
  EXPECT_TRUE(testenv::exists(kArea + "data\\logfile.dat"));
}

TEST_F(AreaLockTest, OpenItemsAreReportedAndMarkedAllTheSame) {
  CtlTrailer t = make_trailer(1);
  t.open_count = 2;
  write_control_file(kArea + "data\\piece.ctl", {make_entry("A")}, t);
  EXPECT_EQ(classic_area_lock(0, kArea.c_str()), CLASSIC_OPEN_ITEMS);
  EXPECT_EQ(states(), kLocked);
  EXPECT_EQ(classic_area_unlock(kArea.c_str()), CLASSIC_OPEN_ITEMS);
  EXPECT_EQ(states(), kFree);
}

TEST_F(AreaLockTest, FailureOnOneFileLeavesTheOthersDone) {
  // A file of an unknown format version, listed between the other two.
  CtlTrailer bad = make_trailer(1);
  bad.version = 5;
  write_control_file(kArea + "data\\other.ctl", {make_entry("A")}, bad);
  std::string bad_bytes = testenv::read_file(kArea + "data\\other.ctl");
  EXPECT_EQ(classic_area_lock(0, kArea.c_str()), CLASSIC_BAD_VERSION);
  EXPECT_EQ(states(), kLocked);
  EXPECT_EQ(testenv::read_file(kArea + "data\\other.ctl"), bad_bytes);
  ASSERT_EQ(plat_unlink((kArea + "data\\other.ctl").c_str()), 0);

  // A control file made while the area was locked was never marked: the
  // unlock frees the others and reports it, and the "param\" failure wins
  // over the open items of "data\".
  ASSERT_EQ(classic_create_control_file((kArea + "param\\new.ctl").c_str()), CLASSIC_OK);
  CtlTrailer t = make_trailer(1);
  t.open_count = 1;
  t.lock_state = LOCK_AREA;
  write_control_file(kArea + "data\\piece.ctl", {make_entry("A")}, t);
  EXPECT_EQ(classic_area_lock(0, kArea.c_str()), CLASSIC_AREA_LOCKED);
  EXPECT_EQ(classic_area_unlock(kArea.c_str()), CLASSIC_NO_AREA_LOCK);
  EXPECT_EQ(states(), kFree);
  EXPECT_EQ(+read_trailer(kArea + "param\\new.ctl").lock_state, LOCK_FREE);
}

TEST_F(AreaLockTest, AreasOutOfTheOrdinary) {
  // Removable drive: nothing is locked.
  std::string floppy = "a:\\work\\";
  write_control_file(floppy + "login.ctl", {}, make_trailer());
  write_control_file(floppy + "data\\piece.ctl", {make_entry("A")}, make_trailer(1));
  EXPECT_EQ(classic_area_lock(0, floppy.c_str()), CLASSIC_OK_REMOVABLE);
  EXPECT_EQ(+read_trailer(floppy + "login.ctl").lock_state, LOCK_FREE);
  CtlTrailer marked = make_trailer();
  marked.lock_state = LOCK_AREA;
  write_control_file(floppy + "login.ctl", {}, marked);
  EXPECT_EQ(classic_area_unlock(floppy.c_str()), CLASSIC_OK_REMOVABLE);
  EXPECT_EQ(+read_trailer(floppy + "login.ctl").lock_state, LOCK_FREE);
  EXPECT_EQ(+read_trailer(floppy + "data\\piece.ctl").lock_marker, 0);

  // Neither data\ nor param\: login.ctl alone.
  std::string bare = "c:\\userroot\\storage\\bare\\";
  testenv::make_dirs(bare);
  EXPECT_EQ(classic_area_lock(0, bare.c_str()), CLASSIC_CANNOT_OPEN);
  ASSERT_EQ(classic_login_create(bare.c_str()), CLASSIC_OK);
  EXPECT_EQ(classic_area_lock(0, bare.c_str()), CLASSIC_OK);
  EXPECT_EQ(+read_trailer(bare + "login.ctl").lock_state, LOCK_AREA);
  EXPECT_EQ(classic_area_unlock(bare.c_str()), CLASSIC_OK);
  EXPECT_EQ(classic_area_lock(0, nullptr), CLASSIC_CANNOT_REMOVE);

  // A control file whose path would pass 255 characters is left out.
  std::string deep = kArea + std::string(235 - kArea.size() - 1, 'd') + "\\";
  write_control_file(deep + "login.ctl", {}, make_trailer());
  write_control_file(deep + "data\\piece.ctl", {make_entry("A")}, make_trailer(1));
  write_control_file(deep + "data\\abcdefghijklmn.ctl", {make_entry("A")}, make_trailer(1));
  EXPECT_EQ(classic_area_lock(0, deep.c_str()), CLASSIC_CANNOT_REMOVE);
  EXPECT_EQ(+read_trailer(deep + "data\\piece.ctl").lock_state, LOCK_AREA);
  EXPECT_EQ(+read_trailer(deep + "data\\abcdefghijklmn.ctl").lock_state, LOCK_FREE);
}

}  // namespace
