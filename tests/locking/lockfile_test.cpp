// The lock-file opener: exclusive opens with a byte lock, the attempt
// budget, the stream kinds.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "classic.h"
#include "errlog/errlog.h"
#include "base/lockfile.h"
#include "platform/platform.h"
#include "support/helper.h"
#include "support/store_test.h"

namespace {

const std::string kFile = "c:\\userroot\\shared.dat";
constexpr int kRdwrBinary = CLASSIC_O_RDWR | CLASSIC_O_BINARY;
constexpr int kPerm = CLASSIC_S_IREAD | CLASSIC_S_IWRITE;

}  // namespace

namespace {

class LockFileTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    testenv::make_dirs("c:\\userroot\\system\\error");
    testenv::write_file(kFile, "content");
  }
};

TEST_F(LockFileTest, FreeFileOpensAtOnce) {
  FILE* f = classic_lock_open(kFile.c_str(), kRdwrBinary, kPerm);
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(testenv::pauses.empty());
  char buf[8] = {};
  EXPECT_EQ(std::fread(buf, 1, 7, f), 7u);
  EXPECT_STREQ(buf, "content");
  // A second open, even from this process, is refused.
  EXPECT_EQ(classic_lock_open_ex(kFile.c_str(), kRdwrBinary, kPerm, 3, 50), nullptr);
  EXPECT_EQ(testenv::pauses, (std::vector<uint32_t>{50, 50}));
  classic_lock_close(f);
  EXPECT_EQ(testenv::log_codes(), std::vector<int>{54018});
  f = classic_lock_open(kFile.c_str(), kRdwrBinary, kPerm);
  EXPECT_NE(f, nullptr);
  classic_lock_close(f);
}

TEST_F(LockFileTest, FileHeldByAnotherProcessTimesOut) {
  Helper holder("lock_file", {kFile, "release"});
  ASSERT_TRUE(holder.wait_ready());
  EXPECT_EQ(classic_lock_open(kFile.c_str(), kRdwrBinary, kPerm), nullptr);
  ASSERT_EQ(testenv::pauses.size(), 40u);
  for (uint32_t p : testenv::pauses) EXPECT_EQ(p, 1162u);
  auto records = testenv::log_records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].code, 54018);
  EXPECT_EQ(records[0].error_class, 3);
  EXPECT_STREQ(records[0].lines[0], MSG_LOCK_TIMEOUT);
  // Free again the moment the holder closes.
  EXPECT_EQ(holder.finish(), 0);
  FILE* f = classic_lock_open(kFile.c_str(), kRdwrBinary, kPerm);
  EXPECT_NE(f, nullptr);
  classic_lock_close(f);
}

TEST_F(LockFileTest, LockGoesWithAHolderThatDies) {
  Helper holder("lock_file", {kFile, "die"});
  ASSERT_TRUE(holder.wait_ready());
  EXPECT_NE(holder.finish(), 0);
  FILE* f = classic_lock_open(kFile.c_str(), kRdwrBinary, kPerm);
  EXPECT_NE(f, nullptr);
  EXPECT_TRUE(testenv::pauses.empty());
  classic_lock_close(f);
}

TEST_F(LockFileTest, BudgetCounting) {
  // One try makes no attempt at all: the time-out is reported at once.
  EXPECT_EQ(classic_lock_open_ex(kFile.c_str(), kRdwrBinary, kPerm, 1, 1162), nullptr);
  EXPECT_TRUE(testenv::pauses.empty());
  EXPECT_EQ(testenv::log_codes(), std::vector<int>{54018});
  // Two tries make one attempt, which succeeds on a free file.
  FILE* f = classic_lock_open_ex(kFile.c_str(), kRdwrBinary, kPerm, 2, 1162);
  ASSERT_NE(f, nullptr);
  classic_lock_close(f);
  // A negative pause is no pause.
  f = classic_lock_open(kFile.c_str(), kRdwrBinary, kPerm);
  EXPECT_EQ(classic_lock_open_ex(kFile.c_str(), kRdwrBinary, kPerm, 3, -1), nullptr);
  EXPECT_EQ(testenv::pauses, (std::vector<uint32_t>{0, 0}));
  classic_lock_close(f);
}

TEST_F(LockFileTest, MissingFileFailsAtOnceUnlessCreated) {
  std::string missing = "c:\\userroot\\missing.dat";
  EXPECT_EQ(classic_lock_open(missing.c_str(), kRdwrBinary, kPerm), nullptr);
  EXPECT_EQ(classic_lock_open("c:\\no\\folder\\x", kRdwrBinary | CLASSIC_O_CREAT, kPerm), nullptr);
  EXPECT_TRUE(testenv::pauses.empty());
  EXPECT_TRUE(testenv::log_codes().empty());
  FILE* f = classic_lock_open(missing.c_str(), kRdwrBinary | CLASSIC_O_CREAT, kPerm);
  ASSERT_NE(f, nullptr);
  classic_lock_close(f);
  EXPECT_TRUE(testenv::exists(missing));
  EXPECT_EQ(classic_lock_open(nullptr, kRdwrBinary, kPerm), nullptr);
}

TEST_F(LockFileTest, StreamKinds) {
  // Where the descriptor stands after a write tells whether the stream
  // buffered it (the file itself cannot be read while it is held).
  auto descriptor_position = [](FILE* f) { return plat_lseek(plat_fileno(f), 0, SEEK_CUR); };
  // Binary read and write, unbuffered: a write goes to the file at once.
  FILE* f = classic_lock_open(kFile.c_str(), kRdwrBinary, kPerm);
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite("NEW", 1, 3, f), 3u);
  EXPECT_EQ(descriptor_position(f), 3);
  classic_lock_close(f);
  EXPECT_EQ(testenv::read_file(kFile), "NEWtent");
  // Text read and write, buffered: the write waits.
  f = classic_lock_open(kFile.c_str(), CLASSIC_O_RDWR | CLASSIC_O_TEXT, kPerm);
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite("old", 1, 3, f), 3u);
  EXPECT_EQ(descriptor_position(f), 0);
  classic_lock_close(f);
  EXPECT_EQ(testenv::read_file(kFile), "oldtent");
  // Binary read-only: no writes.
  f = classic_lock_open(kFile.c_str(), CLASSIC_O_BINARY, kPerm);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(std::fwrite("x", 1, 1, f), 0u);
  classic_lock_close(f);
  EXPECT_EQ(testenv::read_file(kFile), "oldtent");
}

TEST_F(LockFileTest, WaitPausesOnlyInModeOne) {
  EXPECT_EQ(lock_wait(1, 1162), 1);
  EXPECT_EQ(lock_wait(0, 1162), 1);
  EXPECT_EQ(testenv::pauses, std::vector<uint32_t>{1162});
}

}  // namespace
