// The entry search against a plain linear scan, its hints and its cost.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "classic.h"
#include "ctl/names.h"
#include "ctl/search.h"
#include "platform/platform.h"
#include "ctl/session.h"
#include "support/ctl_files.h"
#include "support/store_test.h"

namespace {

const std::string kDir = "c:\\userroot\\storage\\work\\data\\";

std::string key_of(const std::string& name) {
  char key[ITEM_NAME_SIZE];
  normalize_item_name(key, name.c_str(), ITEM_NAME_SIZE);
  return std::string(key, ITEM_NAME_SIZE);
}

// What the search must answer, by a plain scan: the index of the live entry
// equal to key (found) or the number of live entries key sorts after.
struct Expected {
  bool found;
  long position;  // where the stream must stand afterwards
};

Expected linear_scan(const std::vector<CtlEntry>& entries, const std::string& key) {
  long after = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].flags & ENTRY_DELETED) break;
    int c = compare_item_names(key.data(), entries[i].name, ITEM_NAME_SIZE);
    if (c == 0) return {true, static_cast<long>(i + 1) * 64};
    if (c > 0) after = static_cast<long>(i) + 1;
  }
  return {false, (after + 1) * 64};
}

// Random names of letters, digits and blanks, sorted by the store's order
// with duplicates under it removed.
std::vector<std::string> random_names(std::mt19937& rng, size_t count) {
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 _-";
  std::uniform_int_distribution<size_t> len(1, 20), pick(0, alphabet.size() - 1);
  std::vector<std::string> names;
  for (size_t i = 0; i < count; ++i) {
    std::string n;
    size_t l = len(rng);
    for (size_t j = 0; j < l; ++j) n += alphabet[pick(rng)];
    std::string key = key_of(n);
    if (key[0] != 0) names.push_back(key);  // all blanks: no name at all
  }
  auto less = [](const std::string& a, const std::string& b) {
    return compare_item_names(a.data(), b.data(), ITEM_NAME_SIZE) < 0;
  };
  std::sort(names.begin(), names.end(), less);
  names.erase(std::unique(names.begin(), names.end(),
                          [&](const std::string& a, const std::string& b) { return !less(a, b) && !less(b, a); }),
              names.end());
  return names;
}

class SearchTest : public StoreTest {
 protected:
  std::vector<CtlEntry> make_file(const std::string& path, const std::vector<std::string>& live,
                                  size_t deleted) {
    std::vector<CtlEntry> entries;
    for (const std::string& n : live) entries.push_back(make_entry(n));
    for (size_t i = 0; i < deleted; ++i) entries.push_back(make_entry(live[i % live.size()], true));
    write_control_file(path, entries, make_trailer(static_cast<int>(live.size())));
    return entries;
  }

  // One search inside its own read session.
  int search(const std::string& path, const std::string& key, long* position) {
    FILE* f = nullptr;
    int status = ctl_open(&f, path.c_str(), CTL_READ);
    EXPECT_EQ(status, CLASSIC_OK);
    if (status != CLASSIC_OK) return status;
    int r = ctl_find_entry(f, key.data(), &ctl_entry());
    *position = plat_ftell(f);
    ctl_close(f, CTL_READ, status);
    return r;
  }
};

TEST_F(SearchTest, SmallFile) {
  std::string ctl = kDir + "piece.ctl";
  make_file(ctl, {"B", "D", "F"}, 1);
  long pos = 0;
  EXPECT_EQ(search(ctl, key_of("A"), &pos), CLASSIC_NOT_FOUND);
  EXPECT_EQ(pos, 64);
  EXPECT_EQ(search(ctl, key_of("C"), &pos), CLASSIC_NOT_FOUND);
  EXPECT_EQ(pos, 128);
  EXPECT_EQ(search(ctl, key_of("G"), &pos), CLASSIC_NOT_FOUND);
  EXPECT_EQ(pos, 256);
  EXPECT_EQ(search(ctl, key_of("D"), &pos), CLASSIC_OK);
  EXPECT_EQ(pos, 128);
  EXPECT_EQ(std::string(ctl_entry().name, 1), "D");
  // The deleted entry carries the name B: it is not what is found.
  EXPECT_EQ(search(ctl, key_of("B"), &pos), CLASSIC_OK);
  EXPECT_EQ(pos, 64);
}

TEST_F(SearchTest, DeletedNamesAreNotFound) {
  std::string ctl = kDir + "piece.ctl";
  std::vector<CtlEntry> entries = {make_entry("A"), make_entry("C"), make_entry("B", true)};
  write_control_file(ctl, entries, make_trailer(2));
  long pos = 0;
  EXPECT_EQ(search(ctl, key_of("B"), &pos), CLASSIC_NOT_FOUND);
  EXPECT_EQ(pos, 128);
}

TEST_F(SearchTest, EmptyFile) {
  std::string ctl = kDir + "piece.ctl";
  write_control_file(ctl, {}, make_trailer());
  long pos = 0;
  EXPECT_EQ(search(ctl, key_of("ANY"), &pos), CLASSIC_NOT_FOUND);
  EXPECT_EQ(pos, 64);
}

TEST_F(SearchTest, AgreesWithALinearScan) {
  std::mt19937 rng(20261208);
  std::string a = kDir + "piece.ctl", b = kDir + "model.ctl";
  for (size_t size : {1u, 2u, 31u, 32u, 33u, 64u, 100u, 1000u, 3000u}) {
    std::vector<std::string> live_a = random_names(rng, size);
    std::vector<std::string> live_b = random_names(rng, size / 2 + 1);
    std::vector<CtlEntry> ea = make_file(a, live_a, rng() % 40);
    std::vector<CtlEntry> eb = make_file(b, live_b, rng() % 3);
    std::vector<std::string> probes = live_a;
    for (const std::string& n : random_names(rng, 200)) probes.push_back(n);
    std::shuffle(probes.begin(), probes.end(), rng);
    for (size_t i = 0; i < probes.size(); ++i) {
      // Searches in the other file in between leave hints of their own.
      bool other = i % 3 == 0;
      const std::vector<CtlEntry>& entries = other ? eb : ea;
      const std::string& path = other ? b : a;
      const std::string& key = other ? live_b[i % live_b.size()] : probes[i];
      Expected want = linear_scan(entries, key);
      long pos = 0;
      int r = search(path, key, &pos);
      ASSERT_EQ(r, want.found ? CLASSIC_OK : CLASSIC_NOT_FOUND) << "size " << size << " key " << key;
      ASSERT_EQ(pos, want.position) << "size " << size << " key " << key;
      if (want.found) {
        ASSERT_EQ(std::string(ctl_entry().name, ITEM_NAME_SIZE), key);
      }
    }
  }
}

TEST_F(SearchTest, RepeatedSearchReadsOneWindow) {
  std::mt19937 rng(7);
  std::string ctl = kDir + "piece.ctl";
  std::vector<std::string> live = random_names(rng, 5000);
  make_file(ctl, live, 10);
  long pos = 0;
  ASSERT_EQ(search(ctl, live[4321], &pos), CLASSIC_OK);
  EXPECT_GT(ctl_window_loads(), 1);
  long before = ctl_window_loads();
  ASSERT_EQ(search(ctl, live[4321], &pos), CLASSIC_OK);
  EXPECT_EQ(ctl_window_loads() - before, 1);
  // A search from the start needs few windows even in a large file.
  reset_library_state();
  ASSERT_EQ(search(ctl, live[17], &pos), CLASSIC_OK);
  EXPECT_LE(ctl_window_loads(), 10);
}

TEST_F(SearchTest, DamagedOrderNeverLoopsOrReadsOutside) {
  std::mt19937 rng(99);
  std::string ctl = kDir + "piece.ctl";
  std::vector<std::string> names = random_names(rng, 300);
  std::shuffle(names.begin(), names.end(), rng);
  std::vector<CtlEntry> entries;
  for (size_t i = 0; i < names.size(); ++i) entries.push_back(make_entry(names[i], i % 7 == 0));
  write_control_file(ctl, entries, make_trailer(250));
  for (int i = 0; i < 200; ++i) {
    long pos = 0;
    int r = search(ctl, names[rng() % names.size()], &pos);
    EXPECT_TRUE(r == CLASSIC_OK || r == CLASSIC_NOT_FOUND || r == CLASSIC_IO_ERROR);
  }
}

}  // namespace
