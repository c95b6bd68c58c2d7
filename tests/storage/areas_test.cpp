// Area listings from the registry and from the storage folder, and the
// directory search under them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "classic.h"
#include "storage/area_helpers.h"
#include "storage/find.h"
#include "storage/hostinfo.h"
#include "support/store_test.h"

namespace {

using Names = std::vector<std::string>;
const std::string kStorage = "c:\\userroot\\storage\\";
const std::string kAll = kStorage + "*";

unsigned long count_of(const std::string& pattern) {
  unsigned long count = 999;
  EXPECT_EQ(classic_get_area_count(pattern.c_str(), &count), CLASSIC_OK);
  return count;
}

// The names stored in capacity slots of width bytes (NUL-filled), sorted:
// directory order differs between file systems.
Names names_of(const std::string& pattern, unsigned long capacity = 20, int width = 200) {
  Names out = testreg::slots(capacity, width, [&](char* buf) {
    unsigned long count = capacity;
    EXPECT_EQ(classic_get_area_names(pattern.c_str(), buf, width, &count), CLASSIC_OK);
    for (unsigned long i = 0; i < count; ++i) {
      const char* slot = buf + i * width;
      EXPECT_TRUE(std::all_of(slot + strnlen(slot, width), slot + width, [](char c) { return c == 0; }));
    }
    return count;
  });
  std::sort(out.begin(), out.end());
  return out;
}

class AreasTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    for (const char* dir : {"work", "wobble", "other", "old.bak"}) testenv::make_dirs(kStorage + dir);
    testenv::write_file(kStorage + "notes", "");
  }
};

TEST_F(AreasTest, RegistryListing) {
  for (const char* name : {"Alpha", "beta", "Gamma", "delta", "longname"}) testreg::area('C', name, 4);
  EXPECT_EQ(count_of(kAll), 5u);
  EXPECT_EQ(names_of(kAll, 3, 8), (Names{"Alpha", "beta", "delta"}));  // the first three
  EXPECT_EQ(count_of("C:\\userroot\\storage\\*"), 5u);  // the first listing stopped early
  EXPECT_EQ(names_of(kStorage + "longname", 5, 8), Names{"longnam"});
  EXPECT_EQ(names_of(kAll, 2, 1), (Names{"", ""}));
  EXPECT_TRUE(names_of(kAll, 2, 0).empty());
  EXPECT_EQ(count_of(kStorage + "missing"), 0u);
  EXPECT_EQ(count_of(kStorage + "wo*"), 0u);  // a wildcard is name text here
}

TEST_F(AreasTest, AreaWithoutVersionEndsTheListingUnlessFirst) {
  for (const char* name : {"a0", "b2"}) testreg::area('c', name, std::nullopt);
  for (const char* name : {"a1", "c3"}) testreg::area('c', name, 1);
  EXPECT_EQ(names_of(kAll), (Names{"a0", "a1"}));
  EXPECT_EQ(count_of(kStorage + "b2"), 1u);
  testreg::area('c', "b2", 0xFFFFFFFFu);  // reads as missing
  EXPECT_EQ(count_of(kAll), 2u);
  testreg::area('c', "b2", 0);
  EXPECT_EQ(count_of(kAll), 4u);
}

TEST_F(AreasTest, RegistryNamesThatDoNotFitArePassedOver) {
  std::string n127(127, 'm'), n128(128, 'n');
  for (const std::string& name : {std::string("a"), n127, n128, std::string("z")}) testreg::area('c', name, 1);
  EXPECT_EQ(names_of(kAll), (Names{"a", n127, "z"}));
  EXPECT_EQ(count_of(kStorage + n128), 0u);
}

TEST_F(AreasTest, DirectoryListingWithoutSystemKey) {
  EXPECT_EQ(count_of(kAll), 3u);
  EXPECT_EQ(names_of(kAll), (Names{"other", "wobble", "work"}));
  EXPECT_EQ(names_of(kStorage + "wo*"), (Names{"wobble", "work"}));
  EXPECT_EQ(names_of(kAll, 2).size(), 2u);
  EXPECT_EQ(count_of(kStorage + "work"), 1u);
  EXPECT_EQ(count_of(kStorage + "gone"), 0u);
  // The system's key alone chooses the registry, which lists nothing.
  testreg::area(0, "", std::nullopt);
  EXPECT_EQ(count_of(kAll), 0u);
}

TEST_F(AreasTest, DirectoryListingUnderNetworkTranslation) {
  testreg::area('c', "registered", 1);
  for (const char* dir : {"netone", "nettwo", "net.old"}) {
    testenv::make_dirs(std::string("C:\\userroot\\system\\state\\stordir\\") + dir);
  }
  testenv::write_file("C:\\userroot\\system\\state\\stordir\\plainfile", "");
  EXPECT_EQ(names_of("@:\\userroot\\storage\\*"), (Names{"netone", "nettwo"}));
  EXPECT_EQ(names_of(kAll), Names{"registered"});

  // A networked workstation; its host information is read once per process.
  reset_library_state();
  std::string station(200, ' ');
  station[80] = 'F';
  station.replace(160, 2, "ON");
  testenv::write_file("c:\\userroot\\prog\\util\\network.cfg", station);
  ensure_host_info();
  EXPECT_EQ(names_of(kAll), (Names{"netone", "nettwo"}));
  EXPECT_EQ(count_of(kStorage + "work"), 0u);  // no translation entry
}

TEST_F(AreasTest, DirectorySearch) {
  std::string data = kStorage + "work\\data\\";
  testenv::write_file(data + "piece.ctl", "");
  testenv::make_dirs(data + "sub.ctl");
  auto all = [](const std::string& path, unsigned mask) {
    Names out;
    FindEntry entry;
    for (int r = find_first_entry(path.c_str(), mask, &entry); r == 0; r = find_next_entry(&entry)) {
      out.push_back(entry.name);
    }
    std::sort(out.begin(), out.end());
    return out;
  };
  EXPECT_EQ(all(data + "*.ctl", 0), (Names{"piece.ctl", "sub.ctl"}));
  EXPECT_EQ(all(data + "*.ctl", PLAT_ATTR_DIRECTORY), Names{"sub.ctl"});
  EXPECT_EQ(all(data + "piece.ctl", PLAT_ATTR_DIRECTORY), Names{"piece.ctl"});

  // One search at a time: a new one, or end_find, ends the open one.
  FindEntry entry;
  ASSERT_EQ(find_first_entry((data + "*").c_str(), 0, &entry), 0);
  EXPECT_EQ(find_first_entry((data + "piece.ctl").c_str(), 0, &entry), 0);
  EXPECT_EQ(find_next_entry(&entry), -1);
  ASSERT_EQ(find_first_entry((data + "*").c_str(), 0, &entry), 0);
  end_find();
  EXPECT_EQ(find_next_entry(&entry), -1);
}

}  // namespace
