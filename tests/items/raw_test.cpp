// Raw transfers of an item's bytes, and stream-to-stream copies.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "classic.h"
#include "platform/platform.h"
#include "support/ctl_files.h"
#include "support/helper.h"
#include "support/items.h"
#include "support/store_test.h"

namespace {

std::string pattern_bytes(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i * 7 % 26);
  return s;
}

class RawTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    make_piece_store();
    ASSERT_EQ(put_item(kPieceCtl, "FIRST", "first"), CLASSIC_OK);
    ASSERT_EQ(put_item(kPieceCtl, "BIG", pattern_bytes(5000)), CLASSIC_OK);
    ASSERT_EQ(put_item(kPieceCtl, "EMPTY", ""), CLASSIC_OK);
    out_ = "c:\\userroot\\temp\\out.bin";
    testenv::write_file(out_, "");
  }
  // Copies an item into a fresh file: the status and what was written.
  int copy(const std::string& name, std::string* written) {
    FILE* dest = std::fopen(testenv::native(out_).c_str(), "wb");
    int r = classic_copy_raw_item(kPieceCtl.c_str(), name.c_str(), kPiecePattern,
                                  reinterpret_cast<unsigned long*>(dest));
    std::fclose(dest);
    *written = testenv::read_file(out_);
    return r;
  }
  std::string out_;
};

TEST_F(RawTest, CopyAndReadWholeItems) {
  std::string before = testenv::read_file(kPieceCtl);
  std::string written;
  EXPECT_EQ(copy("big", &written), CLASSIC_OK);
  EXPECT_EQ(written, pattern_bytes(5000));
  std::vector<char> bytes;
  EXPECT_EQ(classic_read_raw_item(kPieceCtl.c_str(), "FIRST", kPiecePattern, bytes), CLASSIC_OK);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "first");
  // Nothing of the item or the control file changed.
  EXPECT_EQ(testenv::read_file(kPieceCtl), before);
}

TEST_F(RawTest, EmptyItems) {
  std::string written = "x";
  EXPECT_EQ(copy("EMPTY", &written), CLASSIC_OK);
  EXPECT_EQ(written, "");
  std::vector<char> bytes(100, 'z');
  EXPECT_EQ(classic_read_raw_item(kPieceCtl.c_str(), "EMPTY", kPiecePattern, bytes), CLASSIC_IO_ERROR);
  EXPECT_TRUE(bytes.empty());
  EXPECT_EQ(bytes.capacity(), 0u);
}

TEST_F(RawTest, FailuresReleaseTheControlFile) {
  std::string written;
  EXPECT_EQ(copy("NONE", &written), CLASSIC_NOT_FOUND);
  ASSERT_EQ(plat_remove((kWorkData + "pieceaaa.pce").c_str()), 0);
  EXPECT_EQ(copy("BIG", &written), CLASSIC_IO_ERROR);
  std::vector<char> bytes;
  EXPECT_EQ(classic_read_raw_item(kPieceCtl.c_str(), "BIG", kPiecePattern, bytes), CLASSIC_IO_ERROR);
  int lock = -1;
  EXPECT_EQ(classic_check_trailer_ex(kPieceCtl.c_str(), 1, nullptr, &lock, nullptr), CLASSIC_OK);
  EXPECT_EQ(lock, 0);
  EXPECT_EQ(classic_copy_raw_item(kPieceCtl.c_str(), "FIRST", kPiecePattern, nullptr), CLASSIC_IO_ERROR);
  EXPECT_TRUE(testenv::pauses.empty());
}

TEST_F(RawTest, CopyFileMovesCountBytes) {
  testenv::write_file("c:\\userroot\\temp\\in.bin", pattern_bytes(4100));
  FILE* in = std::fopen(testenv::native("c:\\userroot\\temp\\in.bin").c_str(), "rb");
  FILE* dest = std::fopen(testenv::native(out_).c_str(), "wb");
  auto* src = reinterpret_cast<unsigned long*>(in);
  auto* dst = reinterpret_cast<unsigned long*>(dest);
  EXPECT_EQ(classic_copy_file(src, dst, 0), CLASSIC_OK);
  EXPECT_EQ(classic_copy_file(src, dst, -5), CLASSIC_OK);
  EXPECT_EQ(std::ftell(in), 0);
  EXPECT_EQ(classic_copy_file(src, dst, 4000), CLASSIC_OK);
  EXPECT_EQ(classic_copy_file(src, dst, 200), CLASSIC_IO_ERROR);  // only 100 left
  std::fclose(in);
  std::fclose(dest);
  EXPECT_EQ(testenv::read_file(out_).substr(0, 4000), pattern_bytes(4000));
}

}  // namespace

namespace {

TEST_F(RawTest, ReadersDoNotStopARawCopyWritersDo) {
  {
    Helper reader("hold_item", {kPieceCtl, "BIG", "0", kPiecePattern, "release"});
    ASSERT_TRUE(reader.wait_ready());
    std::string written;
    EXPECT_EQ(copy("BIG", &written), CLASSIC_OK);
    EXPECT_EQ(written.size(), 5000u);
    EXPECT_TRUE(testenv::pauses.empty());
    EXPECT_EQ(reader.finish(), 0);
  }
  Helper writer("hold_item", {kPieceCtl, "BIG", "1", kPiecePattern, "release"});
  ASSERT_TRUE(writer.wait_ready());
  std::string written;
  EXPECT_EQ(copy("BIG", &written), CLASSIC_LOCKED);
  EXPECT_EQ(testenv::pauses.size(), 40u);
  EXPECT_EQ(testenv::log_codes(), std::vector<int>{54011});
  EXPECT_EQ(writer.finish(), 0);
}

}  // namespace
