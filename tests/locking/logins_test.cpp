// Logins: login files, the counters of login.ctl, floppy areas, refusals,
// area texts as callers pass them.
#include <gtest/gtest.h>

#include <string>

#include "classic.h"
#include "ctl/records.h"
#include "locking/trim.h"
#include "platform/platform.h"
#include "support/ctl_files.h"
#include "support/store_test.h"

namespace {

const std::string kArea = "c:\\userroot\\storage\\work";
const std::string kLoginCtl = kArea + "\\login.ctl";

class LoginTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    testenv::make_dirs("c:\\userroot\\system\\error");
    // Made without the library, so that the host information is gathered
    // by the test's first call, after it has set the node name.
    write_control_file(kLoginCtl, {}, make_trailer());
  }
  // The two login counters (item count, open count) on disk.
  static std::pair<int, int> counters() {
    CtlTrailer t = read_trailer(kLoginCtl);
    return {+t.total_items, +t.open_count};
  }
};

TEST_F(LoginTest, LoginFileCarriesNodeNameAndTag) {
  plat_setenv("QUEUE", "PEER,node");
  EXPECT_EQ(classic_login_area(kArea.c_str(), "aBc"), CLASSIC_OK);
  EXPECT_EQ(testenv::read_file(kArea + "\\logNODE.aBc"), "logNODE.aBc");
  EXPECT_EQ(read_trailer(kLoginCtl).lock_state, LOCK_FREE);
}

TEST_F(LoginTest, ShortNodeNameAndEmptyTag) {
  // Node XY from the station file (no network drive); the name ends with
  // its dot, which the file system drops from the file's name.
  std::string station(200, ' ');
  station.replace(0, 2, "XY");
  station.replace(160, 2, "ON");
  testenv::write_file("c:\\userroot\\prog\\util\\network.cfg", station);
  EXPECT_EQ(classic_login_area(kArea.c_str(), ""), CLASSIC_OK);
  EXPECT_EQ(testenv::read_file(kArea + "\\logXY--"), "logXY--.");
  // A null tag is the empty tag.
  EXPECT_EQ(classic_logout_area(kArea.c_str(), nullptr), CLASSIC_OK);
  EXPECT_FALSE(testenv::exists(kArea + "\\logXY--"));
}

TEST_F(LoginTest, BlankInNodeName) {
  plat_setenv("QUEUE", "PEER,A B");
  EXPECT_EQ(classic_login_area(kArea.c_str(), "t"), CLASSIC_OK);
  EXPECT_EQ(testenv::read_file(kArea + "\\logA-B-.t"), "logA-B-.t");
}

TEST_F(LoginTest, CountersCountCallsNotFiles) {
  plat_setenv("QUEUE", "PEER,NODE");
  EXPECT_EQ(classic_login_area(kArea.c_str(), "x"), CLASSIC_OK);
  EXPECT_EQ(classic_login_area(kArea.c_str(), "x"), CLASSIC_OK);
  EXPECT_EQ(counters(), std::make_pair(2, 2));
  EXPECT_EQ(classic_logout_area(kArea.c_str(), "x"), CLASSIC_OK);
  EXPECT_EQ(counters(), std::make_pair(1, 1));
  EXPECT_FALSE(testenv::exists(kArea + "\\logNODE.x"));
  // Never below 0.
  EXPECT_EQ(classic_logout_area(kArea.c_str(), "x"), CLASSIC_OK);
  EXPECT_EQ(classic_logout_area(kArea.c_str(), "x"), CLASSIC_OK);
  EXPECT_EQ(counters(), std::make_pair(0, 0));
}

TEST_F(LoginTest, RefusalsTouchNothing) {
  plat_setenv("QUEUE", "PEER,NODE");
  std::string before = testenv::read_file(kLoginCtl);
  EXPECT_EQ(classic_login_area(kArea.c_str(), "abcd"), 0);
  EXPECT_EQ(classic_logout_area(kArea.c_str(), "abcd"), 0);
  EXPECT_EQ(classic_login_area("a:\\work", "abcd"), 0);  // the tag is looked at first
  EXPECT_EQ(testenv::read_file(kLoginCtl), before);
  EXPECT_FALSE(testenv::exists(kArea + "\\logNODE.abc"));
  EXPECT_EQ(classic_login_area(nullptr, "x"), CLASSIC_CANNOT_REMOVE);

  // No login.ctl at all.
  EXPECT_EQ(classic_login_delete(kArea.c_str()), CLASSIC_OK);
  EXPECT_FALSE(testenv::exists(kLoginCtl));
  EXPECT_EQ(classic_login_area(kArea.c_str(), "x"), CLASSIC_CANNOT_OPEN);
  EXPECT_FALSE(testenv::exists(kArea + "\\logNODE.x"));

  // Locked area: the session's refusal, no login file.
  CtlTrailer t = make_trailer();
  t.lock_state = LOCK_AREA;
  write_control_file(kLoginCtl, {}, t);
  EXPECT_EQ(classic_login_area(kArea.c_str(), "x"), CLASSIC_AREA_LOCKED);
  EXPECT_EQ(classic_logout_area(kArea.c_str(), "x"), CLASSIC_AREA_LOCKED);
  EXPECT_FALSE(testenv::exists(kArea + "\\logNODE.x"));
}

TEST_F(LoginTest, FloppyAreasTakePartInNoLogin) {
  testenv::make_dirs("a:\\work");
  testenv::make_dirs("b:\\WORK");
  for (const char* area : {"a:\\work", "B:WORK"}) {
    EXPECT_EQ(classic_login_create(area), CLASSIC_OK) << area;
    EXPECT_EQ(classic_login_area(area, "x"), CLASSIC_OK) << area;
    EXPECT_EQ(classic_logout_area(area, "x"), CLASSIC_OK) << area;
    EXPECT_EQ(classic_login_delete(area), CLASSIC_OK) << area;
  }
  EXPECT_FALSE(testenv::exists("a:\\work\\login.ctl"));
  EXPECT_FALSE(testenv::exists("b:\\WORK\\login.ctl"));
}

TEST_F(LoginTest, AreaTextsAsCallersPassThem) {
  char text[] = "ab \t\r\n";
  EXPECT_EQ(trim_trailing_space(text), 2u);
  EXPECT_STREQ(text, "ab");
  char blanks[] = "  ";
  EXPECT_EQ(trim_trailing_space(blanks), 0u);

  plat_setenv("QUEUE", "PEER,NODE");
  EXPECT_EQ(classic_login_area((kArea + "   ").c_str(), "x"), CLASSIC_OK);
  EXPECT_EQ(classic_login_area((kArea + "\n").c_str(), "y"), CLASSIC_OK);
  EXPECT_EQ(counters(), std::make_pair(2, 2));
  EXPECT_TRUE(testenv::exists(kArea + "\\logNODE.y"));

  // An area of 245 characters: the path of login.ctl and of a login file
  // with a one-letter tag fill the 255 characters of a path exactly, one
  // with a three-letter tag does not fit.  The session is closed with the
  // counters as they were.
  std::string deep = kArea + "\\" + std::string(245 - kArea.size() - 1, 'd');
  testenv::make_dirs(deep);
  ASSERT_EQ(classic_login_create(deep.c_str()), CLASSIC_OK);
  EXPECT_EQ(classic_login_area(deep.c_str(), "abc"), CLASSIC_CANNOT_REMOVE);
  EXPECT_EQ(classic_login_area(deep.c_str(), "a"), CLASSIC_OK);
  CtlTrailer t = read_trailer(deep + "\\login.ctl");
  EXPECT_EQ(+t.total_items, 1);
  EXPECT_EQ(+t.lock_state, LOCK_FREE);
  EXPECT_EQ(classic_login_create((deep + "d").c_str()), CLASSIC_CANNOT_REMOVE);
  EXPECT_EQ(classic_login_area((deep + "d").c_str(), ""), CLASSIC_CANNOT_REMOVE);
}

}  // namespace
