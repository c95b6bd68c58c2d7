// Deleting and renaming storage areas: folders and registration together.
#include <gtest/gtest.h>

#include <string>

#include "classic.h"
#include "platform/platform.h"
#include "storage/area_helpers.h"
#include "support/store_test.h"

namespace {

const std::string kStorage = "c:\\userroot\\storage\\";

// An area folder with control files in DATA and PARAM and one of its own.
void make_area(const std::string& folder) {
  testenv::write_file(folder + "\\DATA\\piece.ctl", "p");
  testenv::write_file(folder + "\\PARAM\\plot.ctl", "q");
  testenv::write_file(folder + "\\login.ctl", "l");
}

int rename_area(const std::string& from, const std::string& to) {
  return classic_rename_area(from.c_str(), to.c_str());
}

class MaintenanceTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    make_area(kStorage + "keep");
    testreg::area('c', "keep", 3);
  }
  // The bystander area is untouched.
  void TearDown() override {
    EXPECT_TRUE(testenv::exists(kStorage + "keep\\DATA\\piece.ctl"));
    EXPECT_EQ(testreg::state('c', "keep"), "00000003");
    StoreTest::TearDown();
  }
};

TEST_F(MaintenanceTest, DeleteRemovesFoldersAndRegistration) {
  make_area("d:\\userroot\\storage\\work");
  testreg::area('d', "work", 1);
  EXPECT_EQ(classic_delete_area("d:", "work"), CLASSIC_OK);
  EXPECT_FALSE(testenv::exists("d:\\userroot\\storage\\work"));
  EXPECT_EQ(testreg::state('d', "work"), "missing");
  EXPECT_EQ(classic_delete_area("c", "ghost"), CLASSIC_IO_ERROR);
}

TEST_F(MaintenanceTest, DeleteLeavesFoldersThatHoldFolders) {
  make_area(kStorage + "work");
  testenv::write_file(kStorage + "work\\DATA\\sub\\inner.txt", "i");
  testreg::area('c', "work", 3);
  EXPECT_EQ(classic_delete_area("c", "work"), CLASSIC_IO_ERROR);
  EXPECT_FALSE(testenv::exists(kStorage + "work\\DATA\\piece.ctl"));
  EXPECT_FALSE(testenv::exists(kStorage + "work\\login.ctl"));
  EXPECT_FALSE(testenv::exists(kStorage + "work\\PARAM"));
  EXPECT_TRUE(testenv::exists(kStorage + "work\\DATA\\sub\\inner.txt"));
  EXPECT_EQ(testreg::state('c', "work"), "missing");
}

TEST_F(MaintenanceTest, DeleteRefusesNamesOutsideOneAreaFolder) {
  testenv::write_file(kStorage + "notes.txt", "n");
  for (const char* area : {"", ".", "..", "keep\\DATA", "x/y"}) {
    EXPECT_EQ(classic_delete_area("c", area), CLASSIC_IO_ERROR) << area;
  }
  EXPECT_EQ(classic_delete_area("c", std::string(300, 'w').c_str()), CLASSIC_IO_ERROR);
  EXPECT_TRUE(testenv::exists(kStorage + "notes.txt"));
}

TEST_F(MaintenanceTest, RenameCarriesTheVersion) {
  make_area(kStorage + "old");
  testreg::area('c', "old", 7);
  EXPECT_EQ(rename_area(kStorage + "old", kStorage + "new"), 1);
  EXPECT_TRUE(testenv::exists(kStorage + "new\\DATA\\piece.ctl"));
  EXPECT_EQ(testreg::state('c', "old"), "missing");
  EXPECT_EQ(testreg::state('c', "new"), "00000007");

  // A missing Version becomes -1.
  make_area("d:\\userroot\\storage\\bare");
  testreg::area('d', "bare", std::nullopt);
  EXPECT_EQ(rename_area("d:\\userroot\\storage\\bare", "d:\\userroot\\storage\\dry"), 1);
  EXPECT_EQ(testreg::state('d', "dry"), "FFFFFFFF");

  // A path without drive uses the key of C: (a folder under the current
  // one, the only place such a path names alike on every system).
  testenv::make_dirs("rename-test.tmp\\new");
  EXPECT_EQ(rename_area("rename-test.tmp\\new", "rename-test.tmp\\newer"), 1);
  plat_remove_directory("rename-test.tmp\\newer");
  plat_remove_directory("rename-test.tmp");
  EXPECT_EQ(testreg::state('c', "newer"), "00000007");
}

TEST_F(MaintenanceTest, FailedRenameLeavesRegistrationAsItWas) {
  make_area(kStorage + "old");
  testreg::area('c', "old", std::nullopt);
  testenv::make_dirs(kStorage + "empty");
  testenv::make_dirs(kStorage + "bare");
  testreg::area('c', "bare", std::nullopt);
  for (const char* target : {"empty", "keep", "bare"}) {
    EXPECT_EQ(rename_area(kStorage + "old", kStorage + target), 0) << target;
  }
  EXPECT_EQ(rename_area(kStorage + "gone", kStorage + "new"), 0);
  EXPECT_EQ(testreg::state('c', "old"), "none");
  EXPECT_EQ(testreg::state('c', "empty"), "missing");
  EXPECT_EQ(testreg::state('c', "bare"), "none");
  EXPECT_EQ(testreg::state('c', "new"), "missing");
  EXPECT_TRUE(testenv::exists(kStorage + "old\\login.ctl"));
  EXPECT_EQ(classic_rename_area(nullptr, "x"), 0);
}

}  // namespace
