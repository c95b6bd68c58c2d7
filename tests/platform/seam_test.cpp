// The operating-system seam: share modes, byte locks, names, directory
// search, the registry, the code page and the hooks, on whichever system the
// tests run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "classic.h"
#include "platform/contract.h"
#include "platform/platform.h"
#include "platform/testing/testing.h"
#include "support/helper.h"
#include "support/store_test.h"

using testenv::exists;
using testenv::native;
using testenv::read_file;
using testenv::write_file;

namespace {

constexpr int kRdwrBinary = CLASSIC_O_RDWR | CLASSIC_O_BINARY;
constexpr int kPerm = CLASSIC_S_IREAD | CLASSIC_S_IWRITE;

int open_shared(const std::string& path, int share) {
  return plat_sopen(path.c_str(), kRdwrBinary, share, kPerm);
}

}  // namespace

class SeamTest : public StoreTest {
 protected:
  const std::string path_ = "c:\\userroot\\held.dat";
  void SetUp() override {
    StoreTest::SetUp();
    write_file(path_, "0123456789");
  }
};

// The table of share modes and byte locks, and the rules of renames, with
// both opens in this process (on NFS they run between two workstations).
TEST_F(SeamTest, ShareModesAndByteLocks) {
  testenv::make_dirs("c:\\userroot\\shared");
  contract::check_share_modes("c:\\userroot\\shared", "C:\\USERROOT\\SHARED");
}

TEST_F(SeamTest, RemovalsAndRenames) {
  testenv::make_dirs("c:\\userroot\\shared");
  contract::check_renames("c:\\userroot\\shared", "C:\\USERROOT\\SHARED");
}

TEST_F(SeamTest, ExclusiveOpenRefusedWhileAnotherProcessHoldsTheFile) {
  Helper holder("hold_file", {path_, "rw", "nolock", "release"});
  ASSERT_TRUE(holder.wait_ready());
  errno = 0;
  EXPECT_LT(open_shared(path_, PLAT_SH_DENYRW), 0);
  EXPECT_EQ(errno, EACCES);
  EXPECT_LT(open_shared(path_, PLAT_SH_DENYNO), 0);
  EXPECT_EQ(holder.finish(), 0);
  int fd = open_shared(path_, PLAT_SH_DENYRW);
  EXPECT_GE(fd, 0);
  plat_close(fd);
}

TEST_F(SeamTest, RefusedTruncatingOpenLeavesTheFileAlone) {
  int fd = open_shared(path_, PLAT_SH_DENYRW);
  ASSERT_GE(fd, 0);
  EXPECT_LT(plat_sopen(path_.c_str(), kRdwrBinary | CLASSIC_O_TRUNC | CLASSIC_O_CREAT,
                       PLAT_SH_DENYRW, kPerm),
            0);
  plat_close(fd);
  EXPECT_EQ(read_file(path_), "0123456789");
}

// A stream that holds its file alone knows its length without asking while
// only it changes the file, and reads again what its own writes added after
// it had read to the end.
TEST_F(SeamTest, DirectStreamFollowsItsOwnLengthAndWrites) {
  int fd = open_shared(path_, PLAT_SH_DENYRW);
  ASSERT_GE(fd, 0);
  FILE* f = plat_fdopen_direct(fd, "r+b");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(plat_fileno(f), fd);
  auto length = [&] { return plat_fseek(f, 0, SEEK_END) == 0 ? plat_ftell(f) : -1L; };
  auto read_from = [&](long at) {
    char buf[64] = {0};
    plat_fseek(f, at, SEEK_SET);
    size_t n = plat_fread(buf, 1, sizeof buf, f);
    return std::string(buf, n);
  };
  EXPECT_EQ(read_from(0), "0123456789");
  struct Step {
    const char* what;
    std::function<bool()> change;
    long length;
  };
  const std::vector<Step> steps = {
      {"written past the end", [&] { return plat_fseek(f, 12, SEEK_SET) == 0 && plat_fwrite("ab", 1, 2, f) == 2; }, 14},
      {"written inside", [&] { return plat_fseek(f, 1, SEEK_SET) == 0 && plat_fwrite("X", 1, 1, f) == 1; }, 14},
      {"cut short", [&] { return plat_chsize(fd, 5) == 0; }, 5},
      {"written by descriptor", [&] { return plat_pwrite(fd, "tail", 4, 5) == 4; }, 9},
      {"appended after a read to the end", [&] { return length() == 9 && plat_fwrite("++", 1, 2, f) == 2; }, 11},
  };
  for (const Step& step : steps) {
    ASSERT_TRUE(step.change()) << step.what;
    EXPECT_EQ(length(), step.length) << step.what;
  }
  EXPECT_EQ(read_from(5), "tail++");
  EXPECT_EQ(read_from(9), "++");
  EXPECT_EQ(plat_fclose(f), 0);
  EXPECT_EQ(read_file(path_), std::string("0X234tail++"));
}

TEST_F(SeamTest, ByteLockOfAnotherProcessIsSeenAndGoesWhenItDies) {
  Helper holder("hold_file", {path_, "no", "lock", "die"});
  ASSERT_TRUE(holder.wait_ready());
  EXPECT_NE(holder.finish(), 0);  // it died holding the lock
  int fd = open_shared(path_, PLAT_SH_DENYRW);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(plat_locking(fd, PLAT_LK_NBLCK, 1), 0);
  plat_close(fd);
}

TEST_F(SeamTest, ByteLockHeldByAnotherProcessRefusesOurs) {
  Helper holder("hold_file", {path_, "no", "lock", "release"});
  ASSERT_TRUE(holder.wait_ready());
  int fd = open_shared(path_, PLAT_SH_DENYNO);
  ASSERT_GE(fd, 0);
  EXPECT_NE(plat_locking(fd, PLAT_LK_NBLCK, 1), 0);
  EXPECT_EQ(holder.finish(), 0);
  EXPECT_EQ(plat_locking(fd, PLAT_LK_NBLCK, 1), 0);
  plat_close(fd);
}

TEST_F(SeamTest, ExclusiveOpenGoesWhenItsHolderDies) {
  Helper holder("hold_file", {path_, "rw", "lock", "die"});
  ASSERT_TRUE(holder.wait_ready());
  EXPECT_NE(holder.finish(), 0);
  int fd = open_shared(path_, PLAT_SH_DENYRW);
  EXPECT_GE(fd, 0);
  plat_close(fd);
}

TEST_F(SeamTest, NamesAreFoundInAnyCaseAndMadeInTheCaseGiven) {
  testenv::make_dirs("c:\\UserRoot\\Storage\\Work\\DATA");
  int fd = plat_sopen("C:\\USERROOT\\storage\\WORK\\data\\Piece.Ctl",
                      CLASSIC_O_RDWR | CLASSIC_O_CREAT | CLASSIC_O_BINARY, PLAT_SH_DENYNO, kPerm);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(plat_write(fd, "abc", 3), 3);
  plat_close(fd);
  EXPECT_EQ(read_file("c:/userroot/storage/work/data/PIECE.CTL"), "abc");
  plat_find_data found;
  plat_find_handle h = plat_find_first("c:\\userroot\\storage\\work\\data\\*.ctl", &found);
  ASSERT_NE(h, nullptr);
  EXPECT_STREQ(found.name, "Piece.Ctl");
  plat_find_close(h);
  h = plat_find_first("c:\\userroot\\storage\\*", &found);
  ASSERT_NE(h, nullptr);
  std::vector<std::string> names;
  do {
    names.push_back(std::string(found.name) + ((found.attributes & PLAT_ATTR_DIRECTORY) ? "/" : ""));
  } while (plat_find_next(h, &found));
  plat_find_close(h);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"../", "./", "Work/"}));
}

// Names asked for in random case find the one file of that name, while
// files come and go in the folder by other ways than the library's: a folder
// the library has just searched is searched again once it changed.
TEST_F(SeamTest, NamesInAnyCaseFindTheirFileWhileTheFolderChanges) {
  std::mt19937 rng(20261208);
  auto random_case = [&](std::string s) {
    for (char& c : s) c = static_cast<char>(rng() % 2 ? std::toupper(c) : std::tolower(c));
    return s;
  };
  const std::string folder = "c:\\userroot\\Case\\Sub\\";
  testenv::make_dirs(folder);
  std::map<std::string, std::string> files;  // upper-case name -> name as made
  for (int step = 0; step < 300; ++step) {
    std::string name = "file" + std::to_string(rng() % 30) + ".dat";
    std::string key = name;
    for (char& c : key) c = static_cast<char>(std::toupper(c));
    std::string query = (step % 4 ? folder : random_case(folder)) + random_case(name);
    auto it = files.find(key);
    if (it != files.end()) {
      ASSERT_EQ(read_file(query), it->second) << query;
      if (rng() % 3 == 0) {
        ASSERT_EQ(plat_unlink(query.c_str()), 0) << query;
        files.erase(it);
        ASSERT_FALSE(exists(query)) << query;
      }
      continue;
    }
    // Now and then the folder stays unchanged for a while, long enough for
    // a search of it to be kept.
    if (step % 10 == 0) plat_test_real_sleep(12);
    ASSERT_FALSE(exists(query)) << query;
    // Another program makes the file, in a case of its own.
    std::string made = random_case(name);
    std::ofstream(native(folder + made), std::ios::binary) << made;
    files[key] = made;
    ASSERT_EQ(read_file(query), made) << query;
  }
}

TEST_F(SeamTest, DirectorySearchFollowsWindowsPatterns) {
  write_file("c:\\userroot\\area\\logAB--", "x");
  write_file("c:\\userroot\\area\\logbook.txt", "x");
  write_file("c:\\userroot\\area\\login.ctl", "x");
  write_file("c:\\userroot\\area\\piece.ctl", "x");
  // The order of a search is the file system's: compare sorted lists.
  auto list = [](const char* pattern) {
    std::vector<std::string> names;
    plat_find_data found;
    plat_find_handle h = plat_find_first(pattern, &found);
    if (h) {
      do names.push_back(found.name);
      while (plat_find_next(h, &found));
      plat_find_close(h);
    }
    std::sort(names.begin(), names.end());
    std::string out;
    for (const std::string& n : names) out += n + " ";
    return out;
  };
  EXPECT_EQ(list("c:\\userroot\\area\\log*.*"), "logAB-- logbook.txt login.ctl ");
  EXPECT_EQ(list("c:\\userroot\\area\\*.CTL"), "login.ctl piece.ctl ");
  EXPECT_EQ(list("c:\\userroot\\area\\p?ece.*"), "piece.ctl ");
  EXPECT_EQ(list("c:\\userroot\\area\\*.*"), ". .. logAB-- logbook.txt login.ctl piece.ctl ");
  EXPECT_EQ(list("c:\\userroot\\area\\none*"), "");
  EXPECT_EQ(list("c:\\userroot\\missing\\*"), "");
}

TEST_F(SeamTest, TrailingDotOfAFileNameIsDropped) {
  int fd = plat_sopen("c:\\userroot\\logXY--.", CLASSIC_O_WRONLY | CLASSIC_O_CREAT, PLAT_SH_DENYNO,
                      kPerm);
  ASSERT_GE(fd, 0);
  plat_close(fd);
  EXPECT_TRUE(exists("c:\\userroot\\logXY--"));
}

// ".." is resolved by the text, as Windows does: at a drive's root it stays
// there, so that no path reaches outside its drive.
TEST_F(SeamTest, DotDotStaysInsideItsDrive) {
  testenv::make_dirs("c:\\userroot\\area");
  const struct {
    const char* given;
    const char* lands;
  } cases[] = {
      {"c:\\..\\..\\esc1", "c:\\esc1"},
      {"c:\\userroot\\..\\..\\..\\esc2", "c:\\esc2"},
      {"c:\\userroot\\area\\..\\esc3", "c:\\userroot\\esc3"},
      {"c:\\userroot\\.\\area\\.\\esc4", "c:\\userroot\\area\\esc4"},
      {"d:/../esc6", "d:\\esc6"},
  };
  for (const auto& c : cases) {
    int fd = plat_sopen(c.given, CLASSIC_O_WRONLY | CLASSIC_O_CREAT, PLAT_SH_DENYNO, kPerm);
    ASSERT_GE(fd, 0) << c.given;
    plat_close(fd);
    EXPECT_TRUE(exists(c.lands)) << c.given;
  }
  // Renames resolve ".." the same way.
  ASSERT_EQ(plat_rename("c:\\esc1", "c:\\userroot\\area\\..\\esc7"), 0);
  EXPECT_TRUE(exists("c:\\userroot\\esc7"));
}

TEST_F(SeamTest, RegistryRoundTripAndEnumerationOrder) {
  plat_hkey key = nullptr;
  ASSERT_EQ(plat_reg_open_key(plat_hkey_current_user(), "Software\\Halvorn", PLAT_KEY_READ, &key),
            PLAT_ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(plat_reg_create_key(plat_hkey_current_user(), "Software\\Halvorn\\Quillmere\\C:", &key),
            PLAT_ERROR_SUCCESS);
  for (const char* area : {"work", "Alpha", "beta", "ZED"}) {
    plat_hkey sub = nullptr;
    ASSERT_EQ(plat_reg_create_key(key, area, &sub), PLAT_ERROR_SUCCESS);
    uint32_t version = 4;
    EXPECT_EQ(plat_reg_set_value(sub, "Version", PLAT_REG_DWORD, &version, 4), PLAT_ERROR_SUCCESS);
    plat_reg_close_key(sub);
  }
  plat_reg_close_key(key);

  // The drive key is one key whatever the case of its letter.
  ASSERT_EQ(plat_reg_open_key(plat_hkey_current_user(), "software\\HALVORN\\quillmere\\c:",
                              PLAT_KEY_READ, &key),
            PLAT_ERROR_SUCCESS);
  std::string order;
  char name[128];
  for (unsigned long i = 0;; ++i) {
    unsigned long len = sizeof name;
    long r = plat_reg_enum_key(key, i, name, &len);
    if (r == PLAT_ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(r, PLAT_ERROR_SUCCESS);
    EXPECT_EQ(len, std::strlen(name));
    order += std::string(name) + " ";
  }
  EXPECT_EQ(order, "Alpha beta work ZED ");
  unsigned long small = 3;
  EXPECT_EQ(plat_reg_enum_key(key, 0, name, &small), PLAT_ERROR_MORE_DATA);

  plat_hkey work = nullptr;
  ASSERT_EQ(plat_reg_open_key(key, "WORK", PLAT_KEY_READ, &work), PLAT_ERROR_SUCCESS);
  unsigned long type = 0, size = 4;
  uint32_t value = 0;
  EXPECT_EQ(plat_reg_query_value(work, "version", &type, &value, &size), PLAT_ERROR_SUCCESS);
  EXPECT_EQ(type, PLAT_REG_DWORD);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(value, 4u);
  size = 2;
  EXPECT_EQ(plat_reg_query_value(work, "Version", &type, &value, &size), PLAT_ERROR_MORE_DATA);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(plat_reg_query_value(work, "Missing", &type, &value, &size), PLAT_ERROR_FILE_NOT_FOUND);
  plat_reg_close_key(work);

  // A key with sub-keys cannot be deleted; an empty one goes with its values.
  EXPECT_NE(plat_reg_delete_key(plat_hkey_current_user(), "Software\\Halvorn\\Quillmere"),
            PLAT_ERROR_SUCCESS);
  EXPECT_EQ(plat_reg_delete_key(key, "work"), PLAT_ERROR_SUCCESS);
  EXPECT_EQ(plat_reg_open_key(key, "work", PLAT_KEY_READ, &work), PLAT_ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(plat_reg_delete_key(key, "work"), PLAT_ERROR_FILE_NOT_FOUND);
  plat_reg_close_key(key);
}

TEST_F(SeamTest, StringValuesKeepTheirBytes) {
  plat_hkey key = nullptr;
  ASSERT_EQ(plat_reg_create_key(plat_hkey_current_user(), "Software\\Halvorn", &key),
            PLAT_ERROR_SUCCESS);
  ASSERT_EQ(plat_reg_set_value(key, "UserId", PLAT_REG_SZ, "ABC", 4), PLAT_ERROR_SUCCESS);
  char buf[8] = {};
  unsigned long type = 0, size = sizeof buf;
  EXPECT_EQ(plat_reg_query_value(key, "UserId", &type, buf, &size), PLAT_ERROR_SUCCESS);
  EXPECT_EQ(type, PLAT_REG_SZ);
  EXPECT_EQ(size, 4u);
  EXPECT_STREQ(buf, "ABC");
  plat_reg_close_key(key);
}

TEST_F(SeamTest, DoubleByteCodePage932) {
  plat_set_codepage(932);
  EXPECT_EQ(plat_acp(), 932u);
  EXPECT_EQ(plat_cp_max_char_size(), 2);
  EXPECT_TRUE(plat_is_dbcs_lead_byte(0x81));
  EXPECT_TRUE(plat_is_dbcs_lead_byte(0x9F));
  EXPECT_FALSE(plat_is_dbcs_lead_byte(0xA0));
  EXPECT_FALSE(plat_is_dbcs_lead_byte(0xDF));
  EXPECT_TRUE(plat_is_dbcs_lead_byte(0xE0));
  EXPECT_TRUE(plat_is_dbcs_lead_byte(0xFC));
  EXPECT_FALSE(plat_is_dbcs_lead_byte('A'));
  const char text[] = "\x82\xA0" "A\xB1" "\x81";  // lead+trail, A, half-width kana, lone lead
  const char* p = text;
  p = plat_char_next(p);
  EXPECT_EQ(p, text + 2);
  p = plat_char_next(p);
  EXPECT_EQ(p, text + 3);
  p = plat_char_next(p);
  EXPECT_EQ(p, text + 4);
  p = plat_char_next(p);  // a lead byte before the NUL is one character
  EXPECT_EQ(p, text + 5);
  EXPECT_EQ(plat_char_next(p), p);

  plat_set_codepage(1252);
  EXPECT_EQ(plat_cp_max_char_size(), 1);
  EXPECT_FALSE(plat_is_dbcs_lead_byte(0x81));
  EXPECT_EQ(plat_char_next(text), text + 1);
}

TEST_F(SeamTest, SleepAndClockHooksReplaceTheRealCalls) {
  plat_sleep(1162);
  plat_sleep(500);
  ASSERT_EQ(testenv::pauses.size(), 2u);
  EXPECT_EQ(testenv::pauses[0], 1162u);
  EXPECT_EQ(testenv::pauses[1], 500u);
  testenv::fixed_time = 1236114309;
  EXPECT_EQ(plat_time32(), 1236114309u);
  testenv::fixed_ticks = 0x0012abcd;
  EXPECT_EQ(plat_tick_count(), 0x0012abcdu);
  plat_message_box("text", "FATAL ERROR", PLAT_MB_OK_TASKMODAL);
  ASSERT_EQ(testenv::popups.size(), 1u);
  EXPECT_EQ(testenv::popups[0], "FATAL ERROR\ntext");
}

TEST_F(SeamTest, DrivesWithAFolderAreReported) {
  unsigned long drives = plat_logical_drives();
  EXPECT_TRUE(drives & (1ul << 2));  // C:
  uint64_t avail = 0;
  EXPECT_NE(plat_disk_free_ex("c:\\", &avail), 0);
  EXPECT_GT(avail, 0u);
  uint32_t spc = 0, bps = 0, fc = 0, tc = 0;
  EXPECT_NE(plat_disk_free("c:\\", &spc, &bps, &fc, &tc), 0);
  EXPECT_GT(static_cast<double>(spc) * bps * fc, 0.0);
}
