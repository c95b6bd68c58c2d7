// The error log: the text of a report, the ring file and its failure modes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "classic.h"
#include "errlog/errlog.h"
#include "errlog/log_format.h"
#include "base/lockfile.h"
#include "platform/platform.h"
#include "support/helper.h"
#include "support/store_test.h"

namespace {

// 2009-03-03 21:05:09 UTC (the tests take local time as UTC).
constexpr uint32_t kMarch3 = 1236114309;

void make_log_folder() { testenv::make_dirs("c:\\userroot\\system\\error"); }

LOG_HEADER log_header() {
  LOG_HEADER h = {0, 0, 0};
  std::string bytes = testenv::read_file(LOG_PATH);
  if (bytes.size() >= sizeof h) std::memcpy(&h, bytes.data(), sizeof h);
  return h;
}

void put_log_header(uint16_t oldest, uint16_t mark, uint16_t next) {
  std::string bytes = testenv::read_file(LOG_PATH);
  if (bytes.size() < 6) bytes.resize(6);
  LOG_HEADER h = {oldest, mark, next};
  std::memcpy(&bytes[0], &h, sizeof h);
  testenv::write_file(LOG_PATH, bytes);
}

class ErrlogTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    make_log_folder();
  }
};

TEST_F(ErrlogTest, HeaderLine) {
  std::string text = report_text(kMarch3, LOG_CLASS_EXECUTION, 54018, "message");
  EXPECT_EQ(text.substr(0, 74),
            "> DATE: 09-03-03    TIME: 09:05:09P    CODE: 54018    CLASS: EXECUTION\r\n  ");
  EXPECT_EQ(text.substr(74), "message\r\n");
  EXPECT_EQ(report_text(kMarch3, LOG_CLASS_DEBUG, 7, "").substr(35, 39),
            "    CODE: 00007    CLASS: DEBUG    \r\n  ");
}

TEST_F(ErrlogTest, TwelveHourClock) {
  uint32_t midnight = 1236038400;  // 2009-03-03 00:00:00
  auto time_of = [&](uint32_t seconds) { return report_text(midnight + seconds, 3, 1, "").substr(26, 9); };
  EXPECT_EQ(time_of(5 * 60 + 9), "12:05:09A");
  EXPECT_EQ(time_of(12 * 3600), "12:00:00P");
  EXPECT_EQ(time_of(13 * 3600 + 7 * 60), "01:07:00P");
  EXPECT_EQ(time_of(11 * 3600 + 59 * 60 + 59), "11:59:59A");
}

TEST_F(ErrlogTest, MessageLinesAreCutAtThree) {
  EXPECT_EQ(report_text(kMarch3, 3, 1, "one\ntwo\nthree").substr(74), "one\r\n  two\r\n  three\r\n");
  EXPECT_EQ(report_text(kMarch3, 3, 1, "one\ntwo\nthree\nfour\nfive").substr(74),
            "one\r\n  two\r\n  three\r\n");
  testenv::fixed_time = kMarch3;
  log_error(LOG_CLASS_EXECUTION, 54000, "first\nsecond\nthird\nfourth", 0);
  log_error(LOG_CLASS_EXECUTION, 54001, (std::string(100, 'x') + "\n").c_str(), 0);
  auto records = testenv::log_records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].line_count, 3);
  EXPECT_EQ(records[0].time, static_cast<int32_t>(kMarch3));
  EXPECT_EQ(records[0].error_class, 3);
  EXPECT_EQ(records[0].task_id, 66);
  EXPECT_STREQ(records[0].lines[0], "first");
  EXPECT_STREQ(records[0].lines[2], "third");
  EXPECT_EQ(records[1].line_count, 2);
  EXPECT_EQ(std::string(records[1].lines[0]), std::string(78, 'x'));
  EXPECT_STREQ(records[1].lines[1], "");
}

TEST_F(ErrlogTest, FourWaysOfFormatting) {
  log_error(3, 1, "%1% and %2%", "alpha", "beta");
  log_error(3, 2, "stays %1 as it is", 0);
  log_error(3, 3, "count %d", 42);
  log_error(3, 4, "plain text", 0);
  log_error(3, 5, "gap %1% %3%", "a", "b");  // cannot format: kept as it is
  auto records = testenv::log_records();
  ASSERT_EQ(records.size(), 5u);
  EXPECT_STREQ(records[0].lines[0], "alpha and beta");
  EXPECT_STREQ(records[1].lines[0], "stays %1 as it is");
  EXPECT_STREQ(records[2].lines[0], "count 42");
  EXPECT_STREQ(records[3].lines[0], "plain text");
  EXPECT_STREQ(records[4].lines[0], "gap %1% %3%");
}

TEST_F(ErrlogTest, OverlongMessagesNeverOverrunTheText) {
  std::string huge(5000, 'y');
  log_error(3, 1, ("%1%" + huge).c_str(), huge.c_str());
  log_error(3, 2, ("%s" + huge).c_str(), huge.c_str());
  log_error_text(3, 3, huge.c_str());
  log_error(LOG_CLASS_FATAL, 4, (huge + "\n" + huge + "\n" + huge).c_str(), 0);
  ASSERT_EQ(testenv::popups.size(), 1u);
  EXPECT_LE(testenv::popups[0].size(), std::string("FATAL ERROR\n").size() + 1023);
  auto records = testenv::log_records();
  ASSERT_EQ(records.size(), 4u);
  for (const LOG_RECORD& r : records) EXPECT_EQ(std::strlen(r.lines[0]), 78u);
}

TEST_F(ErrlogTest, PreformattedTextIsNeverATemplate) {
  log_error_text(3, 1, "node %s%s%n %1% stays");
  auto records = testenv::log_records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_STREQ(records[0].lines[0], "node %s%s%n %1% stays");
}

TEST_F(ErrlogTest, FirstReportCreatesTheFile) {
  EXPECT_FALSE(testenv::exists(LOG_PATH));
  log_error(LOG_CLASS_EXECUTION, 54018, MSG_LOCK_TIMEOUT, 0);
  LOG_HEADER h = log_header();
  EXPECT_EQ(h.oldest, 0);
  EXPECT_EQ(h.mark, 0);
  EXPECT_EQ(h.next, 1);
  EXPECT_EQ(testenv::read_file(LOG_PATH).size(), 6u + 248u);
  EXPECT_EQ(testenv::log_codes(), std::vector<int>{54018});
  EXPECT_STREQ(testenv::log_records()[0].lines[0], "Lock_open:  Time out  or  permission denied");
}

TEST_F(ErrlogTest, RingKeeps999Records) {
  for (int i = 0; i < 999; ++i) log_error(3, static_cast<uint16_t>(i), "r", 0);
  LOG_HEADER h = log_header();
  EXPECT_EQ(h.oldest, 0);
  EXPECT_EQ(h.next, 999);
  log_error(3, 999, "r", 0);
  h = log_header();
  EXPECT_EQ(h.oldest, 1);
  EXPECT_EQ(h.mark, 1);  // it stood at oldest and moves with it
  EXPECT_EQ(h.next, 0);
  EXPECT_EQ(testenv::read_file(LOG_PATH).size(), 248006u);
  auto codes = testenv::log_codes();
  ASSERT_EQ(codes.size(), 999u);
  EXPECT_EQ(codes.front(), 1);
  EXPECT_EQ(codes.back(), 999);
}

TEST_F(ErrlogTest, MarkMovesOnlyWhenItStandsAtOldest) {
  log_error(3, 1, "r", 0);
  put_log_header(500, 7, 499);
  log_error(3, 2, "r", 0);
  LOG_HEADER h = log_header();
  EXPECT_EQ(h.oldest, 501);
  EXPECT_EQ(h.mark, 7);
  EXPECT_EQ(h.next, 500);
  put_log_header(0, 0, 999);
  log_error(3, 3, "r", 0);
  h = log_header();
  EXPECT_EQ(h.oldest, 1);
  EXPECT_EQ(h.mark, 1);
  EXPECT_EQ(h.next, 0);
}

TEST_F(ErrlogTest, FatalReportPopsUpBeforeTheLogIsTouched) {
  // No folder for the log: it cannot be opened.
  plat_remove_directory("c:\\userroot\\system\\error");
  log_error(LOG_CLASS_FATAL, 7, "it broke", 0);
  ASSERT_EQ(testenv::popups.size(), 2u);
  EXPECT_EQ(testenv::popups[0].substr(0, 12), "FATAL ERROR\n");
  EXPECT_NE(testenv::popups[0].find("CLASS: FATAL    \r\n  it broke\r\n"), std::string::npos);
  EXPECT_EQ(testenv::popups[1], "FATAL ERROR\nError opening error log file");
  EXPECT_TRUE(testenv::pauses.empty());
  EXPECT_FALSE(testenv::exists(LOG_PATH));
}

}  // namespace

namespace {

TEST_F(ErrlogTest, BusyLogNeverReportsAboutItself) {
  log_error(3, 1, "before", 0);
  {
    Helper holder("lock_file", {LOG_PATH, "release"});
    ASSERT_TRUE(holder.wait_ready());
    log_error(3, 2, "while held", 0);
    EXPECT_EQ(testenv::pauses.size(), 40u);
    ASSERT_EQ(testenv::popups.size(), 1u);
    EXPECT_EQ(testenv::popups[0], "FATAL ERROR\nError opening error log file");
    EXPECT_EQ(holder.finish(), 0);
  }
  EXPECT_EQ(testenv::log_codes(), std::vector<int>{1});
}

}  // namespace
