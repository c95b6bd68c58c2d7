// Storage devices and free disk space.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "classic.h"
#include "platform/platform.h"
#include "platform/testing/testing.h"
#include "storage/area_helpers.h"
#include "storage/hostinfo.h"
#include "support/store_test.h"

namespace {

using Names = std::vector<std::string>;

Names devices(int capacity = 30, int width = 3) {
  return testreg::slots(capacity, width, [&](char* buf) {
    int count = capacity;
    EXPECT_EQ(classic_get_device_names(buf, width, &count), 1u);
    return static_cast<size_t>(count);
  });
}

// The network storage when named, A: when the drive exists (the test
// drives of some systems cannot be taken away), then the rest.
Names expected(const char* network, Names rest) {
  Names out;
  if (network) out.push_back(network);
  if (plat_logical_drives() & 1u) out.push_back("A:");
  out.insert(out.end(), rest.begin(), rest.end());
  EXPECT_EQ(classic_get_device_count(), out.size());
  return out;
}

class DevicesTest : public StoreTest {};

TEST_F(DevicesTest, DriveAAndDrivesWithStorageTrees) {
  EXPECT_EQ(devices(), expected(nullptr, {}));
  for (const char* tree : {"d:\\userroot\\storage", "c:\\userroot\\storage", "b:\\userroot"}) {
    testenv::make_dirs(tree);
  }
  EXPECT_EQ(devices(), expected(nullptr, {"C:", "D:"}));
  testenv::make_dirs("b:\\userroot\\storage");
  EXPECT_EQ(devices(), expected(nullptr, {"B:", "C:", "D:"}));
}

TEST_F(DevicesTest, NothingWithoutDriveAAndStorageTrees) {
  if (!plat_test_remove_drive('a')) GTEST_SKIP() << "drive A: cannot be taken away here";
  EXPECT_EQ(classic_get_device_count(), 0u);
  EXPECT_TRUE(devices().empty());
}

TEST_F(DevicesTest, NetworkStorageComesFirst) {
  std::string station(200, ' ');
  station[80] = 'F';
  station.replace(160, 2, "ON");
  testenv::write_file("c:\\userroot\\prog\\util\\network.cfg", station);
  ensure_host_info();
  testenv::make_dirs("c:\\userroot\\storage");
  Names all = expected("@:", {"C:"});
  EXPECT_EQ(devices(), all);
  EXPECT_EQ(devices(1), Names{"@:"});
  for (std::string& name : all) name.resize(1);
  EXPECT_EQ(devices(30, 2), all);
  EXPECT_EQ(devices(30, 1), Names(all.size(), ""));
  EXPECT_TRUE(devices(4, 0).empty());
  EXPECT_EQ(classic_get_device_names(nullptr, 3, nullptr), 1u);
}

// The free bytes of path must be those of root, give or take 64 MB since
// free space moves while other programs write.
void expect_free_of(const char* path, const char* root) {
  uint32_t spc = 0, bps = 0, clusters = 0, total = 0;
  ASSERT_TRUE(plat_disk_free(root, &spc, &bps, &clusters, &total)) << root;
  EXPECT_NEAR(classic_amt_free_disk_space(path), static_cast<double>(spc) * bps * clusters, 64e6) << path;
}

TEST_F(DevicesTest, FreeSpaceOfThePathsDrive) {
  // Drive D: on a file system of its own where one can be arranged.
  plat_setenv("CLASSIC_DRIVE_D", "/dev/shm");
  if (plat_access("d:\\", 0) != 0) plat_setenv("CLASSIC_DRIVE_D", nullptr);
  expect_free_of("d:\\userroot\\storage\\work", "d:\\");
  expect_free_of("work", "c:\\");
  expect_free_of(nullptr, "c:\\");
  EXPECT_EQ(classic_amt_free_disk_space("q:\\userroot\\storage\\work"), 0.0);
  plat_setenv("CLASSIC_DRIVE_D", nullptr);
}

}  // namespace
