// Path translation, data-file paths and suffixes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "classic.h"
#include "platform/platform.h"
#include "storage/netxlat.h"
#include "support/store_test.h"

namespace {

// A networked workstation: network drive F.
void networked(char letter = 'F') {
  std::string bytes(200, ' ');
  bytes.replace(0, 4, "NODE");
  bytes[80] = letter;
  bytes[160] = 'O';
  bytes[161] = 'N';
  testenv::write_file("c:\\userroot\\prog\\util\\network.cfg", bytes);
}

// Translates path; the result, or "status N" when the call fails (and then
// out must not have been touched).
std::string xlat(const std::string& path) {
  char out[300];
  std::memset(out, '#', sizeof out);
  out[299] = 0;
  int status = classic_netxlat(path.c_str(), out);
  if (status != CLASSIC_OK) {
    EXPECT_EQ(out[0], '#') << "out written on failure for " << path;
    return "status " + std::to_string(status);
  }
  return out;
}

class NetxlatTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    networked();
    remember_translation("work    A", "F:\\areas\\work");
  }
};

TEST_F(NetxlatTest, WorkedExamples) {
  EXPECT_EQ(xlat("c:\\userroot\\storage\\work\\data\\piece.ctl"), "F:\\areas\\work\\data\\piece.ctl");
  EXPECT_EQ(xlat("c:/userroot/storage/WORK/param"), "F:\\areas\\work\\param");
  EXPECT_EQ(xlat("storage\\work"), "F:\\areas\\work");
  EXPECT_EQ(xlat("\\userroot\\storage\\work"), "F:\\areas\\work");
  EXPECT_EQ(xlat("c:\\userroot\\storage\\wo?"), "C:\\userroot\\system\\state\\stordir\\wo?");
  EXPECT_EQ(xlat("c:\\userroot\\storage\\"), "C:\\userroot\\system\\state\\stordir\\");
  EXPECT_EQ(xlat("c:\\userroot\\storage"), "C:\\userroot\\system\\state\\stordir\\");
  EXPECT_EQ(xlat("c:\\userroot\\storage\\old.bak\\x"), "c:\\userroot\\storage\\old.bak\\x");
  EXPECT_EQ(xlat("c:\\userroot\\system\\error"), "c:\\userroot\\system\\error");
  EXPECT_EQ(xlat("work"), "work");
  EXPECT_EQ(xlat("d:\\data\\x"), "d:\\data\\x");
  EXPECT_EQ(xlat("a:\\userroot\\storage\\work"), "a:\\userroot\\storage\\work");
}

TEST_F(NetxlatTest, NetworkOffLeavesPathsButAtFormIsStillTranslated) {
  EXPECT_EQ(classic_disable_network(), 1);
  EXPECT_EQ(xlat("c:/userroot/storage/work/data"), "c:\\userroot\\storage\\work\\data");
  EXPECT_EQ(xlat("@:\\userroot\\storage\\work\\data"), "F:\\areas\\work\\data");
  EXPECT_EQ(classic_disable_network(), 0);  // the flag was put back
  EXPECT_EQ(classic_enable_network(), 0);
  EXPECT_EQ(classic_enable_network(), 1);
}

TEST_F(NetxlatTest, AtFormWorksWithoutNetworkDrive) {
  networked('c');  // in use, but no network drive
  reset_library_state();
  remember_translation("work    A", "F:\\areas\\work");
  EXPECT_EQ(xlat("c:\\userroot\\storage\\work"), "c:\\userroot\\storage\\work");
  EXPECT_EQ(xlat("@:/userroot/storage/work/x"), "F:\\areas\\work\\x");
  EXPECT_EQ(xlat("@:\\userroot\\system"), "c:\\userroot\\system");
  EXPECT_EQ(network_translation_active("c:\\userroot\\storage\\*"), 0);
  EXPECT_EQ(network_translation_active("@:\\userroot\\storage\\*"), 1);
}

TEST_F(NetxlatTest, UserRootOutsideStorageIsNeverTranslated) {
  EXPECT_EQ(xlat("C:\\userroot\\system\\state\\stordir\\netxl.ctl"),
            "C:\\userroot\\system\\state\\stordir\\netxl.ctl");
  EXPECT_EQ(xlat("c:\\USERROOT\\temp\\x"), "c:\\USERROOT\\temp\\x");
  EXPECT_EQ(network_translation_active("c:\\x"), 1);
}

TEST_F(NetxlatTest, AreaComponentRules) {
  remember_translation("abcdefghA", "F:\\eight");
  EXPECT_EQ(xlat("c:\\userroot\\storage\\abcdefgh\\data"), "F:\\eight\\data");
  EXPECT_EQ(xlat("c:\\userroot\\storage\\abcdefghi\\data"), "c:\\userroot\\storage\\abcdefghi\\data");
  EXPECT_EQ(xlat("c:\\userroot\\storage\\a.b"), "c:\\userroot\\storage\\a.b");
  // No separator is needed after the prefix.
  remember_translation("2       A", "F:\\two");
  EXPECT_EQ(xlat("c:\\userroot\\storage2\\x"), "F:\\two\\x");
  // A pattern component drops the rest; once marked it takes any character.
  EXPECT_EQ(xlat("c:\\userroot\\storage\\ab*\\data"), "C:\\userroot\\system\\state\\stordir\\ab*");
  EXPECT_EQ(xlat("c:\\userroot\\storage\\a*.longname.x"),
            "C:\\userroot\\system\\state\\stordir\\a*.longname.x");
  EXPECT_EQ(xlat("c:\\to*ls\\x"), "C:\\userroot\\system\\state\\dosdir\\to*ls");
}

TEST_F(NetxlatTest, DriveFoldersOfRowThree) {
  remember_translation("tools   D", "G:\\shared\\tools");
  EXPECT_EQ(xlat("c:\\tools\\x.exe"), "G:\\shared\\tools\\x.exe");
  EXPECT_EQ(xlat("c:\\TOOLS"), "G:\\shared\\tools");
}

TEST_F(NetxlatTest, AreaWithoutUsableEntryFails) {
  // The translation control file cannot be read: 1004 for both rows.
  EXPECT_EQ(xlat("c:\\userroot\\storage\\other\\data"), "status 1004");
  EXPECT_EQ(xlat("c:\\misc\\x"), "status 1004");
}

TEST_F(NetxlatTest, CacheKeepsTheLastTwoTranslations) {
  remember_translation("one     A", "F:\\one");
  remember_translation("two     A", "F:\\two");
  // work was the older of the two and is gone.
  EXPECT_EQ(xlat("storage\\work"), "status 1004");
  EXPECT_EQ(xlat("storage\\ONE"), "F:\\one");
  EXPECT_EQ(xlat("storage\\two\\x"), "F:\\two\\x");
}

TEST_F(NetxlatTest, OverlongPathsAreRejectedNotCut) {
  std::string p255 = "d:\\" + std::string(252, 'x');
  EXPECT_EQ(xlat(p255), p255);
  EXPECT_EQ(xlat(p255 + "x"), "status 1004");
  // The full path of a relative name grows by \userroot\.
  std::string rel = "storage\\work\\" + std::string(240, 'y');
  EXPECT_EQ(xlat(rel), "status 1004");
  // A pattern component of 24 characters.
  EXPECT_EQ(xlat("c:\\userroot\\storage\\p*" + std::string(21, 'q')),
            "C:\\userroot\\system\\state\\stordir\\p*" + std::string(21, 'q'));
  EXPECT_EQ(xlat("c:\\userroot\\storage\\p*" + std::string(22, 'q')), "status 1004");
  // A target and the rest together beyond the 300-byte output.
  remember_translation("long    A", ("F:\\" + std::string(200, 't')).c_str());
  EXPECT_EQ(xlat("c:\\userroot\\storage\\long\\" + std::string(90, 'r')),
            "F:\\" + std::string(200, 't') + "\\" + std::string(90, 'r'));
  EXPECT_EQ(xlat("c:\\userroot\\storage\\long\\" + std::string(100, 'r')), "status 1004");
}

class DataFileTest : public StoreTest {};

TEST_F(DataFileTest, DataFilePathJoinsFolderAndPattern) {
  char dst[XLAT_PATH_SIZE];
  ASSERT_TRUE(data_file_path(dst, "c:\\userroot\\storage\\work\\data\\piece.ctl", "piece%c%c%c.pce", "abq"));
  EXPECT_STREQ(dst, "c:\\userroot\\storage\\work\\data\\pieceabq.pce");
  ASSERT_TRUE(data_file_path(dst, "x/y/lay.ctl", "lay%c%c%c.lay", "zzz"));
  EXPECT_STREQ(dst, "x/y/layzzz.lay");
  ASSERT_TRUE(data_file_path(dst, "lay.ctl", "lay%c%c%c.lay", "aab"));
  EXPECT_STREQ(dst, "layaab.lay");
  ASSERT_TRUE(data_file_path(dst, "c:\\d\\x.ctl", "100%%x%c%c%c", "abc"));
  EXPECT_STREQ(dst, "c:\\d\\100%xabc");
}

TEST_F(DataFileTest, PatternsAreNeverUsedAsFormats) {
  char dst[XLAT_PATH_SIZE];
  EXPECT_FALSE(data_file_path(dst, "c:\\d\\x.ctl", "x%s%c%c%c", "abc"));
  EXPECT_FALSE(data_file_path(dst, "c:\\d\\x.ctl", "x%c%c%c%c", "abc"));
  EXPECT_FALSE(data_file_path(dst, "c:\\d\\x.ctl", "x%n", "abc"));
  EXPECT_FALSE(data_file_path(dst, "c:\\d\\x.ctl", "verylongname%c%c%c.ext", "abc"));
  EXPECT_STREQ(dst, "");
}

TEST_F(DataFileTest, DoubleByteTrailBytesAreNotSeparators) {
  plat_set_codepage(932);
  char dst[XLAT_PATH_SIZE];
  // 0x95 0x5C is one character whose trail byte is the code of '\'.
  ASSERT_TRUE(data_file_path(dst, "c:\\dir\\a\x95\x5C" "b.ctl", "p%c%c%c.x", "abc"));
  EXPECT_STREQ(dst, "c:\\dir\\pabc.x");
}

TEST_F(DataFileTest, SuffixSuccessor) {
  auto next = [](const char* s) {
    char buf[4] = {s[0], s[1], s[2], 0};
    next_suffix(buf);
    return std::string(buf);
  };
  EXPECT_EQ(next("aaa"), "aab");
  EXPECT_EQ(next("abz"), "aca");
  EXPECT_EQ(next("azz"), "baa");
  EXPECT_EQ(next("zzz"), "aaa");
}

}  // namespace
