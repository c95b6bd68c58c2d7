// Logins and area locks: login files and counters, floppy areas, refusals,
// marking every control file of an area, forced locks, partial failures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classic.h"
#include "ctl/records.h"
#include "base/text.h"
#include "platform/platform.h"
#include "storage/hostinfo.h"
#include "support/ctl_files.h"
#include "support/store_test.h"

namespace {

const std::string kArea = "c:\\userroot\\storage\\work";  // as the login calls take it
const std::string kDir = kArea + "\\";                     // as the area locks take it
const std::vector<std::string> kFiles = {"login.ctl", "data\\model.ctl", "data\\piece.ctl",
                                         "param\\plot.ctl"};
const std::vector<int> kLocked(4, LOCK_AREA), kFree(4, LOCK_FREE);

// A control file: login.ctl without entries, any other with one entry.
void control_file(const std::string& path, int open_count = 0, uint8_t lock = LOCK_FREE) {
  bool login = path.ends_with("login.ctl");
  CtlTrailer t = make_trailer(login ? 0 : 1);
  t.open_count = static_cast<uint16_t>(open_count);
  t.lock_state = lock;
  write_control_file(path, login ? std::vector<CtlEntry>{} : std::vector{make_entry("A")}, t);
}

class LoginTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    testenv::make_dirs("c:\\userroot\\system\\error");
    plat_setenv("QUEUE", "PEER,NODE");
    for (const std::string& f : kFiles) control_file(kDir + f);
  }
  static std::pair<int, int> counters() {
    CtlTrailer t = read_trailer(kDir + "login.ctl");
    return {+t.total_items, +t.open_count};
  }
  static std::vector<int> states() {
    std::vector<int> out;
    for (const std::string& f : kFiles) out.push_back(read_trailer(kDir + f).lock_state);
    return out;
  }
  static std::string all_bytes() {
    std::string out;
    for (const std::string& f : kFiles) out += testenv::read_file(kDir + f);
    return out;
  }
};

TEST_F(LoginTest, LoginFileNames) {
  // The tag keeps its case; the file holds its own name.
  EXPECT_EQ(classic_login_area(kArea.c_str(), "aBc"), CLASSIC_OK);
  EXPECT_EQ(testenv::read_file(kDir + "logNODE.aBc"), "logNODE.aBc");
  // Node XY from the station file, empty tag: the name ends with its dot,
  // which the file system drops from the file's name.
  plat_setenv("QUEUE", nullptr);
  std::string station(200, ' ');
  station.replace(0, 2, "XY").replace(160, 2, "ON");
  testenv::write_file("c:\\userroot\\prog\\util\\network.cfg", station);
  reset_library_state();
  EXPECT_EQ(classic_login_area(kArea.c_str(), nullptr), CLASSIC_OK);
  EXPECT_EQ(testenv::read_file(kDir + "logXY--"), "logXY--.");
  plat_setenv("QUEUE", "PEER,A B");
  reset_library_state();
  EXPECT_EQ(classic_login_area(kArea.c_str(), "t"), CLASSIC_OK);
  EXPECT_EQ(testenv::read_file(kDir + "logA-B-.t"), "logA-B-.t");
}

TEST_F(LoginTest, CountersCountCallsNotFiles) {
  EXPECT_EQ(classic_login_area(kArea.c_str(), "x"), CLASSIC_OK);
  EXPECT_EQ(classic_login_area(kArea.c_str(), "x"), CLASSIC_OK);
  EXPECT_EQ(counters(), std::make_pair(2, 2));
  EXPECT_EQ(classic_logout_area(kArea.c_str(), "x"), CLASSIC_OK);
  EXPECT_EQ(counters(), std::make_pair(1, 1));
  EXPECT_FALSE(testenv::exists(kDir + "logNODE.x"));
  for (int i = 0; i < 2; ++i) EXPECT_EQ(classic_logout_area(kArea.c_str(), "x"), CLASSIC_OK);
  EXPECT_EQ(counters(), std::make_pair(0, 0));  // never below 0
}

TEST_F(LoginTest, RefusedLoginsTouchNothing) {
  std::string before = all_bytes();
  EXPECT_EQ(classic_login_area(kArea.c_str(), "abcd"), 0);
  EXPECT_EQ(classic_logout_area(kArea.c_str(), "abcd"), 0);
  EXPECT_EQ(classic_login_area(nullptr, "x"), CLASSIC_CANNOT_REMOVE);
  EXPECT_EQ(all_bytes(), before);
  ASSERT_EQ(classic_login_delete(kArea.c_str()), CLASSIC_OK);
  EXPECT_EQ(classic_login_area(kArea.c_str(), "x"), CLASSIC_CANNOT_OPEN);
  control_file(kDir + "login.ctl", 0, LOCK_AREA);
  EXPECT_EQ(classic_login_area(kArea.c_str(), "x"), CLASSIC_AREA_LOCKED);
  EXPECT_EQ(classic_logout_area(kArea.c_str(), "x"), CLASSIC_AREA_LOCKED);
  EXPECT_FALSE(testenv::exists(kDir + "logNODE.x"));
}

TEST_F(LoginTest, FloppyAreasTakePartInNoLogin) {
  testenv::make_dirs("a:\\work");
  testenv::make_dirs("b:\\WORK");
  for (const char* area : {"a:\\work", "B:WORK"}) {
    EXPECT_EQ(classic_login_create(area), CLASSIC_OK);
    EXPECT_EQ(classic_login_area(area, "x"), CLASSIC_OK);
    EXPECT_EQ(classic_logout_area(area, "x"), CLASSIC_OK);
    EXPECT_EQ(classic_login_delete(area), CLASSIC_OK);
  }
  EXPECT_FALSE(testenv::exists("a:\\work\\login.ctl") || testenv::exists("b:\\WORK\\login.ctl"));
}

TEST_F(LoginTest, AreaTextsAsCallersPassThem) {
  char text[] = "ab \t\r\n";
  EXPECT_EQ(trim_trailing_space(text), 2u);
  EXPECT_STREQ(text, "ab");
  EXPECT_EQ(classic_login_area((kArea + "   ").c_str(), "x"), CLASSIC_OK);
  EXPECT_EQ(classic_login_area((kArea + "\n").c_str(), "y"), CLASSIC_OK);
  EXPECT_EQ(counters(), std::make_pair(2, 2));
  EXPECT_TRUE(testenv::exists(kDir + "logNODE.y"));
  // 245 characters of area: login.ctl and a login file with a one-letter
  // tag fill a path of 255 exactly; a three-letter tag does not fit, and
  // the session is closed with the counters unchanged.
  std::string deep = kDir + std::string(245 - kDir.size(), 'd');
  control_file(deep + "\\login.ctl");
  EXPECT_EQ(classic_login_area(deep.c_str(), "abc"), CLASSIC_CANNOT_REMOVE);
  EXPECT_EQ(classic_login_area(deep.c_str(), "a"), CLASSIC_OK);
  EXPECT_EQ(+read_trailer(deep + "\\login.ctl").total_items, 1);
  EXPECT_EQ(+read_trailer(deep + "\\login.ctl").lock_state, LOCK_FREE);
  EXPECT_EQ(classic_login_create((deep + "d").c_str()), CLASSIC_CANNOT_REMOVE);
}

TEST_F(LoginTest, AreaLockAndUnlock) {
  EXPECT_EQ(classic_area_lock(0, kDir.c_str()), CLASSIC_OK);
  EXPECT_EQ(states(), kLocked);
  EXPECT_EQ(classic_login_area(kArea.c_str(), "x"), CLASSIC_AREA_LOCKED);
  std::string before = all_bytes();
  EXPECT_EQ(classic_area_lock(1, kDir.c_str()), CLASSIC_AREA_LOCKED);
  EXPECT_EQ(all_bytes(), before);
  EXPECT_EQ(classic_area_unlock(kDir.c_str()), CLASSIC_OK);
  EXPECT_EQ(states(), kFree);
  before = all_bytes();
  EXPECT_EQ(classic_area_unlock(kDir.c_str()), CLASSIC_NO_AREA_LOCK);
  EXPECT_EQ(all_bytes(), before);
  EXPECT_EQ(classic_area_lock(0, nullptr), CLASSIC_CANNOT_REMOVE);
}

TEST_F(LoginTest, AreaLockForcedOverLogins) {
  ASSERT_EQ(classic_login_area(kArea.c_str(), "x"), CLASSIC_OK);
  std::string before = all_bytes();
  EXPECT_EQ(classic_area_lock(0, kDir.c_str()), CLASSIC_LOGINS_PRESENT);
  EXPECT_EQ(all_bytes(), before);
  EXPECT_TRUE(testenv::exists(kDir + "logNODE.x"));
  for (const char* f : {"logbook.txt", "LOGOTHR.abc", "catalog.txt", "data\\logfile.dat"}) {
    testenv::write_file(kDir + f, "x");
  }
  EXPECT_EQ(classic_area_lock(1, kDir.c_str()), CLASSIC_LOCK_FORCED);
  EXPECT_EQ(states(), kLocked);
  EXPECT_EQ(counters(), std::make_pair(0, 0));
  for (const char* f : {"logNODE.x", "logbook.txt", "LOGOTHR.abc"}) {
    EXPECT_FALSE(testenv::exists(kDir + f)) << f;
  }
  for (const char* f : {"login.ctl", "catalog.txt", "data\\logfile.dat"}) {
    EXPECT_TRUE(testenv::exists(kDir + f)) << f;
  }
}

TEST_F(LoginTest, AreaLockOverOpenItemsAndFailures) {
  // Open items are reported, and the file is marked and cleared all the same.
  control_file(kDir + "data\\piece.ctl", 2);
  EXPECT_EQ(classic_area_lock(0, kDir.c_str()), CLASSIC_OPEN_ITEMS);
  EXPECT_EQ(states(), kLocked);
  EXPECT_EQ(classic_area_unlock(kDir.c_str()), CLASSIC_OPEN_ITEMS);
  EXPECT_EQ(states(), kFree);
  // A file that fails (unknown format version) stays as it was; the files
  // listed after it are still marked.
  control_file(kDir + "data\\piece.ctl");
  CtlTrailer v5 = make_trailer();
  v5.version = 5;
  write_control_file(kDir + "data\\other.ctl", {}, v5);
  std::string bad = testenv::read_file(kDir + "data\\other.ctl");
  EXPECT_EQ(classic_area_lock(0, kDir.c_str()), CLASSIC_BAD_VERSION);
  EXPECT_EQ(states(), kLocked);
  EXPECT_EQ(testenv::read_file(kDir + "data\\other.ctl"), bad);
  ASSERT_EQ(plat_unlink((kDir + "data\\other.ctl").c_str()), 0);
  // A partly locked area can be unlocked: the file never marked reports
  // 1022 and stays free, which wins over the open items of data\.
  control_file(kDir + "param\\new.ctl");
  control_file(kDir + "data\\piece.ctl", 1, LOCK_AREA);
  EXPECT_EQ(classic_area_unlock(kDir.c_str()), CLASSIC_NO_AREA_LOCK);
  EXPECT_EQ(states(), kFree);
  EXPECT_EQ(read_trailer(kDir + "param\\new.ctl").lock_state, LOCK_FREE);
}

TEST_F(LoginTest, AreaLockOnAreasOutOfTheOrdinary) {
  // Removable drive: login.ctl is left free, nothing else is opened.
  control_file("a:\\work\\login.ctl", 0, LOCK_AREA);
  control_file("a:\\work\\data\\piece.ctl");
  EXPECT_EQ(classic_area_unlock("a:\\work\\"), CLASSIC_OK_REMOVABLE);
  EXPECT_EQ(classic_area_lock(0, "a:\\work\\"), CLASSIC_OK_REMOVABLE);
  EXPECT_EQ(read_trailer("a:\\work\\login.ctl").lock_state, LOCK_FREE);
  EXPECT_EQ(read_trailer("a:\\work\\data\\piece.ctl").lock_marker, 0);
  // No data\ or param\: login.ctl alone.
  control_file("c:\\userroot\\storage\\bare\\login.ctl");
  EXPECT_EQ(classic_area_lock(0, "c:\\userroot\\storage\\bare\\"), CLASSIC_OK);
  EXPECT_EQ(classic_area_unlock("c:\\userroot\\storage\\bare\\"), CLASSIC_OK);
  EXPECT_EQ(classic_area_lock(0, "c:\\userroot\\storage\\none\\"), CLASSIC_CANNOT_OPEN);
  // A control file whose path would pass 255 characters is left out.
  std::string deep = kDir + std::string(234 - kDir.size(), 'd') + "\\";
  control_file(deep + "login.ctl");
  control_file(deep + "data\\piece.ctl");
  control_file(deep + "data\\abcdefghijklmn.ctl");  // 258 characters
  EXPECT_EQ(classic_area_lock(0, deep.c_str()), CLASSIC_CANNOT_REMOVE);
  EXPECT_EQ(read_trailer(deep + "data\\piece.ctl").lock_state, LOCK_AREA);
  EXPECT_EQ(read_trailer(deep + "data\\abcdefghijklmn.ctl").lock_state, LOCK_FREE);
}

}  // namespace
