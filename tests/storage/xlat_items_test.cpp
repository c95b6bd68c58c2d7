// Network translation end to end: translation entries kept as items of the
// translation control file, and item operations landing where they point.
#include <gtest/gtest.h>

#include <string>

#include "classic.h"
#include "ctl/names.h"
#include "ctl/search.h"
#include "ctl/session.h"
#include "ctl/window.h"
#include "platform/platform.h"
#include "storage/xlat_lookup.h"
#include "support/items.h"
#include "support/store_test.h"

namespace {

// A translation record: the target folder from byte 21, then blanks.
std::string record(const std::string& target) {
  std::string r(XLAT_RECORD_SIZE, ' ');
  r.replace(XLAT_TARGET_OFFSET, target.size(), target);
  return r;
}

std::string xlat(const std::string& path) {
  char out[300] = {};
  int status = classic_netxlat(path.c_str(), out);
  return status == CLASSIC_OK ? std::string(out) : "status " + std::to_string(status);
}

class XlatItemsTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    std::string station(200, ' ');
    station.replace(0, 4, "NODE");
    station[80] = 'F';
    station.replace(160, 2, "ON");
    testenv::write_file("c:\\userroot\\prog\\util\\network.cfg", station);
    testenv::make_dirs("c:\\userroot\\system\\state\\stordir");
    testenv::make_dirs("c:\\userroot\\system\\error");
    ASSERT_EQ(classic_net_ctrl_creat(), CLASSIC_OK);
    add("work    A", "d:\\areas\\work");
  }
  void add(const std::string& key, const std::string& target) {
    ASSERT_EQ(put_item(XLAT_CTL_PATH, key, record(target), ITEM_WRITE | ITEM_CREATE, XLAT_DATA_PATTERN),
              CLASSIC_OK);
  }
};

TEST_F(XlatItemsTest, ItemOperationsLandInTheTargetFolder) {
  testenv::make_dirs("d:\\areas\\work\\data");
  std::string ctl = "c:\\userroot\\storage\\WORK\\data\\piece.ctl";
  ASSERT_EQ(classic_create_control_file(ctl.c_str()), CLASSIC_OK);
  ASSERT_EQ(put_item(ctl, "P1", "piece bytes"), CLASSIC_OK);
  EXPECT_TRUE(testenv::exists("d:\\areas\\work\\data\\piece.ctl"));
  EXPECT_TRUE(testenv::exists("d:\\areas\\work\\data\\pieceaaa.pce"));
  EXPECT_FALSE(testenv::exists("c:\\userroot\\storage\\work"));
  EXPECT_EQ(get_item("storage\\work\\data\\piece.ctl", "p1"), "piece bytes");
  EXPECT_EQ(xlat("c:/userroot/storage/work/param"), "d:\\areas\\work\\param");
}

TEST_F(XlatItemsTest, CacheServesRepeatedNamesWithoutTheFile) {
  add("tools   D", "g:\\shared\\tools");
  EXPECT_EQ(xlat("c:\\userroot\\storage\\work\\x"), "d:\\areas\\work\\x");
  EXPECT_EQ(xlat("c:\\tools\\x.exe"), "g:\\shared\\tools\\x.exe");
  // Names without entry: row 3 keeps the path, row 1 fails.
  EXPECT_EQ(xlat("c:\\misc\\x"), "c:\\misc\\x");
  EXPECT_EQ(xlat("c:\\userroot\\storage\\other"), "status 1004");
  ASSERT_EQ(plat_remove(XLAT_CTL_PATH), 0);
  EXPECT_EQ(xlat("c:\\userroot\\storage\\work\\y"), "d:\\areas\\work\\y");
  EXPECT_EQ(xlat("c:\\TOOLS"), "g:\\shared\\tools");
  // Without the file, a name outside the cache fails on both rows.
  EXPECT_EQ(xlat("c:\\misc\\x"), "status 1004");
}

TEST_F(XlatItemsTest, TargetTextEndsAtABlankOrAfter299Characters) {
  add("long    A", "e:\\" + std::string(300, 'l'));
  add("blank   A", "e:\\a b");
  std::string cut = xlat("c:\\userroot\\storage\\long");
  EXPECT_EQ(cut, "e:\\" + std::string(296, 'l'));
  EXPECT_EQ(xlat("c:\\userroot\\storage\\blank\\x"), "e:\\a\\x");
  // A target that cannot take the rest of the path is refused, not cut.
  EXPECT_EQ(xlat("c:\\userroot\\storage\\long\\x"), "status 1004");
}

TEST_F(XlatItemsTest, ShortRecordIsAReadFailure) {
  ASSERT_EQ(put_item(XLAT_CTL_PATH, "short   A", "too short", ITEM_WRITE | ITEM_CREATE, XLAT_DATA_PATTERN),
            CLASSIC_OK);
  EXPECT_EQ(xlat("c:\\userroot\\storage\\short"), "status 1002");
}

// A look-up runs a session of its own in the middle of another one: the
// trailer, the entries and the window of that one are as they were after it.
TEST_F(XlatItemsTest, LookUpInsideASessionKeepsItsState) {
  testenv::make_dirs("d:\\areas\\work\\data");
  std::string ctl = "c:\\userroot\\storage\\work\\data\\piece.ctl";
  ASSERT_EQ(classic_create_control_file(ctl.c_str()), CLASSIC_OK);
  ASSERT_EQ(put_item(ctl, "P1", "piece bytes"), CLASSIC_OK);
  CtlSession session;
  ASSERT_EQ(session.open(ctl.c_str(), CTL_UPDATE), CLASSIC_OK);
  char key[ITEM_NAME_SIZE];
  normalize_item_name(key, "P1", ITEM_NAME_SIZE);
  ASSERT_EQ(ctl_find_entry(session.stream(), key, &ctl_entry()), CLASSIC_OK);
  auto bytes = [](const void* p, size_t n) { return std::string(static_cast<const char*>(p), n); };
  const std::string trailer = bytes(&ctl_trailer(), sizeof(CtlTrailer));
  const std::string entry = bytes(&ctl_entry(), sizeof(CtlEntry));
  const std::string window = bytes(ctl_window(), WINDOW_BYTES);
  const long offset = ctl_trailer_offset();

  char target[XLAT_PATH_SIZE];
  ASSERT_EQ(lookup_translation("work    A", target), CLASSIC_OK);
  EXPECT_STREQ(target, "d:\\areas\\work");
  EXPECT_EQ(bytes(&ctl_trailer(), sizeof(CtlTrailer)), trailer);
  EXPECT_EQ(bytes(&ctl_entry(), sizeof(CtlEntry)), entry);
  EXPECT_EQ(bytes(ctl_window(), WINDOW_BYTES), window);
  EXPECT_EQ(ctl_trailer_offset(), offset);
  EXPECT_EQ(session.close(), CLASSIC_OK);
}

}  // namespace
