// Control-file sessions: locking the trailer, version and corruption
// checks, trailer locks left behind, area-lock states, retention.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "classic.h"
#include "ctl/records.h"
#include "ctl/session.h"
#include "platform/platform.h"
#include "support/ctl_files.h"
#include "support/helper.h"
#include "support/items.h"
#include "support/store_test.h"

namespace {

const std::string kDir = "c:\\userroot\\storage\\work\\data\\";
const std::string kCtl = kDir + "piece.ctl";

std::string trailer_bytes(const CtlTrailer& t) {
  return std::string(reinterpret_cast<const char*>(&t), sizeof t);
}

// A control file of n entries ITEM0.. and trailer t.
void control_file(const std::string& path, int n, const CtlTrailer& t) {
  std::vector<CtlEntry> entries;
  for (int i = 0; i < n; ++i) entries.push_back(make_entry("ITEM" + std::to_string(i)));
  write_control_file(path, entries, t);
}

// A sound trailer: a file with n entries in data file "aab", slot 3.
CtlTrailer sound_trailer(int n) {
  CtlTrailer t = new_trailer();
  std::memcpy(t.suffix, "aab", 3);
  t.next_slot = 3;
  t.total_items = static_cast<int16_t>(n);
  return t;
}

class SessionTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    testenv::make_dirs("c:\\userroot\\system\\error");
    control_file(kCtl, 2, sound_trailer(2));
  }
};

TEST_F(SessionTest, SessionLocksTheTrailerAndReleasesIt) {
  plat_setenv("QUEUE", "PEER,ndx");
  FILE* f = nullptr;
  ASSERT_EQ(ctl_open(&f, kCtl.c_str(), CTL_UPDATE), CLASSIC_OK);
  // What the open wrote (the file itself cannot be read while held).
  const CtlTrailer& during = ctl_trailer();
  EXPECT_EQ(during.lock_state, LOCK_SESSION);
  EXPECT_EQ(during.lock_marker, 1);
  EXPECT_STREQ(during.node, "NDX");
  EXPECT_STREQ(during.task_name, "CLASSIC");
  EXPECT_EQ(during.task_id, 66);
  EXPECT_EQ(ctl_trailer_offset(), 128);
  // Nobody else gets the file while the session holds it.
  EXPECT_EQ(classic_check_trailer_ex(kCtl.c_str(), 1, nullptr, nullptr, nullptr),
            CLASSIC_CANNOT_OPEN);
  EXPECT_EQ(ctl_close(f, CTL_UPDATE, CLASSIC_OK), CLASSIC_OK);

  std::string after = testenv::read_file(kCtl).substr(128);
  ASSERT_EQ(after.size(), 64u);
  EXPECT_EQ(after.substr(0, 8), trailer_bytes(sound_trailer(2)).substr(0, 8));
  EXPECT_EQ(after[8], 0);  // lock state
  EXPECT_EQ(after[9], 1);  // lock marker stays
  EXPECT_EQ(after.substr(10, 49), std::string(49, '\0'));
  EXPECT_EQ(after[59], 4);
  EXPECT_EQ(after.substr(60, 4), std::string("\x42\0\0\0", 4));
}

TEST_F(SessionTest, StatisticsOfTheTrailer) {
  CtlTrailer t = sound_trailer(7);
  t.open_count = 3;
  control_file(kCtl, 9, t);
  CTRL_TRAILER_INFO info;
  std::memset(&info, 0xEE, sizeof info);
  ASSERT_EQ(classic_ctl_file_stats(kCtl.c_str(), &info), CLASSIC_OK);
  EXPECT_EQ(std::string(info.suffix, 3), "aab");
  EXPECT_EQ(info.next_slot, 3);
  EXPECT_EQ(info.total_items, 7);
  EXPECT_EQ(info.open_count, 3);
  EXPECT_EQ(info.lock_marker, 1);
  EXPECT_EQ(info.version, 4);
  std::memset(&info, 0xEE, sizeof info);
  EXPECT_EQ(classic_ctl_file_stats((kDir + "none.ctl").c_str(), &info), CLASSIC_CANNOT_OPEN);
  EXPECT_EQ(info.next_slot, 0xEE);
}

TEST_F(SessionTest, RemovableDrives) {
  std::string b = "b:\\userroot\\storage\\work\\data\\piece.ctl";
  control_file(b, 2, sound_trailer(2));
  std::string before = testenv::read_file(b);
  FILE* f = nullptr;
  ASSERT_EQ(ctl_open(&f, b.c_str(), CTL_READ), CLASSIC_OK_REMOVABLE);
  EXPECT_EQ(ctl_close(f, CTL_READ, CLASSIC_OK_REMOVABLE), CLASSIC_OK);
  EXPECT_EQ(testenv::read_file(b), before);

  std::string a = "A:\\userroot\\storage\\work\\data\\piece.ctl";
  control_file(a, 2, sound_trailer(2));
  ASSERT_EQ(ctl_open(&f, a.c_str(), CTL_UPDATE), CLASSIC_OK_REMOVABLE);
  EXPECT_EQ(ctl_close(f, CTL_UPDATE, CLASSIC_OK_REMOVABLE), CLASSIC_OK);
  EXPECT_EQ(read_trailer(a).lock_state, LOCK_FREE);
  EXPECT_EQ(read_trailer(a).lock_marker, 1);  // the open wrote the trailer
}

TEST_F(SessionTest, FormatVersions) {
  CtlTrailer t = sound_trailer(2);
  t.version = 3;
  control_file(kCtl, 2, t);
  FILE* f = nullptr;
  ASSERT_EQ(ctl_open(&f, kCtl.c_str(), CTL_READ), CLASSIC_OK);
  ctl_close(f, CTL_READ, CLASSIC_OK);
  EXPECT_EQ(read_trailer(kCtl).version, 3);
  t.version = 5;
  control_file(kCtl, 2, t);
  std::string before = testenv::read_file(kCtl);
  EXPECT_EQ(ctl_open(&f, kCtl.c_str(), CTL_UPDATE), CLASSIC_BAD_VERSION);
  EXPECT_EQ(f, nullptr);
  EXPECT_EQ(testenv::log_codes(), std::vector<int>{54000});
  EXPECT_STREQ(testenv::log_records()[0].lines[0],
               "Executable database version doesn't match data in current storage area.");
  EXPECT_EQ(ctl_open(&f, kCtl.c_str(), CTL_UPDATE | CTL_QUIET_VERSION), CLASSIC_BAD_VERSION);
  EXPECT_EQ(testenv::log_codes().size(), 1u);
  EXPECT_EQ(testenv::read_file(kCtl), before);
}

TEST_F(SessionTest, CorruptTrailerIsRepaired) {
  control_file(kCtl, 9, new_trailer());  // "aaa", slot 0 with entries
  testenv::write_file(kDir + "pieceaac.pce", "x");
  FILE* f = nullptr;
  ASSERT_EQ(ctl_open(&f, kCtl.c_str(), CTL_UPDATE), CLASSIC_OK);
  EXPECT_EQ(testenv::log_codes(), std::vector<int>{54051});
  EXPECT_EQ(ctl_close(f, CTL_UPDATE, CLASSIC_OK), CLASSIC_OK);
  CtlTrailer t = read_trailer(kCtl);
  EXPECT_EQ(std::string(t.suffix, 3), "aad");  // (9 + 7) / 8 = 2 is taken
  EXPECT_EQ(t.next_slot, 0);
}

TEST_F(SessionTest, CorruptTrailerLeftAloneWithNoRecover) {
  control_file(kCtl, 9, new_trailer());
  std::string before = testenv::read_file(kCtl);
  plat_setenv("NORECOVER", "1");
  FILE* f = nullptr;
  EXPECT_EQ(ctl_open(&f, kCtl.c_str(), CTL_UPDATE), CLASSIC_IO_ERROR);
  EXPECT_EQ(testenv::log_codes(), std::vector<int>{54052});
  EXPECT_STREQ(testenv::log_records()[0].lines[0], "INVARIANT FAILURE. Recover trailer FAILED!");
  EXPECT_EQ(testenv::read_file(kCtl), before);
  // An unknown type cannot be repaired either.
  plat_setenv("NORECOVER", nullptr);
  control_file(kDir + "other.ctl", 9, new_trailer());
  EXPECT_EQ(ctl_open(&f, (kDir + "other.ctl").c_str(), CTL_UPDATE), CLASSIC_IO_ERROR);
}

}  // namespace

// Opens a session on args[0] and dies inside it.
CLASSIC_HELPER(die_in_session) {
  FILE* f = nullptr;
  if (ctl_open(&f, args[0].c_str(), CTL_UPDATE) != CLASSIC_OK) return 10;
  helper_ready();
  helper_die();
}

namespace {

TEST_F(SessionTest, TrailerLockLeftByADeadSession) {
  plat_setenv("QUEUE", "PEER,ndx");  // the helper's node name
  {
    Helper holder("die_in_session", {kCtl});
    ASSERT_TRUE(holder.wait_ready());
    EXPECT_NE(holder.finish(), 0);
  }
  std::string before = testenv::read_file(kCtl);
  FILE* f = nullptr;
  EXPECT_EQ(ctl_open(&f, kCtl.c_str(), CTL_READ), CLASSIC_LOCKED);
  EXPECT_EQ(f, nullptr);
  ASSERT_EQ(testenv::pauses.size(), 40u);
  for (uint32_t p : testenv::pauses) EXPECT_EQ(p, 1162u);
  auto records = testenv::log_records();
  ASSERT_EQ(records.size(), 41u);
  for (const LOG_RECORD& r : records) EXPECT_EQ(r.code, 54000);
  EXPECT_EQ(records[0].line_count, 3);
  EXPECT_STREQ(records[0].lines[0], "Unexpected Lock: Ctl file isn't OS locked, but the trailer is locked");
  EXPECT_EQ(std::string(records[0].lines[1]), "Task  locked out of " + kCtl);
  EXPECT_STREQ(records[0].lines[2], "by user UNKNOWN running CLASSIC (pid = 66) on NDX");
  EXPECT_EQ(testenv::read_file(kCtl), before);
}

TEST_F(SessionTest, AreaLockStates) {
  FILE* f = nullptr;
  ASSERT_EQ(ctl_open(&f, kCtl.c_str(), CTL_UPDATE | CTL_KEEP_LOCK_STATE), CLASSIC_OK);
  ctl_trailer().lock_state = LOCK_AREA;
  ASSERT_EQ(ctl_close(f, CTL_UPDATE | CTL_KEEP_LOCK_STATE, CLASSIC_OK), CLASSIC_OK);
  EXPECT_EQ(read_trailer(kCtl).lock_state, LOCK_AREA);
  EXPECT_EQ(ctl_open(&f, kCtl.c_str(), CTL_READ), CLASSIC_AREA_LOCKED);
  EXPECT_EQ(ctl_open(&f, kCtl.c_str(), CTL_UPDATE | CTL_KEEP_LOCK_STATE), CLASSIC_AREA_LOCKED);
  EXPECT_EQ(read_trailer(kCtl).lock_state, LOCK_AREA);
  ASSERT_EQ(ctl_open(&f, kCtl.c_str(), CTL_UPDATE | CTL_AREA_LOCK), CLASSIC_OK);
  ASSERT_EQ(ctl_close(f, CTL_UPDATE | CTL_AREA_LOCK, CLASSIC_OK), CLASSIC_OK);
  EXPECT_EQ(read_trailer(kCtl).lock_state, LOCK_FREE);
  EXPECT_EQ(ctl_open(&f, kCtl.c_str(), CTL_UPDATE | CTL_AREA_LOCK), CLASSIC_NO_AREA_LOCK);
  EXPECT_TRUE(testenv::log_codes().empty());
}

TEST_F(SessionTest, RetainedControlFileCarriesOnToTheNextSession) {
  FILE* f = nullptr;
  ASSERT_EQ(ctl_open(&f, kCtl.c_str(), CTL_UPDATE), CLASSIC_OK);
  ctl_trailer().open_count = 5;
  ASSERT_EQ(ctl_close(f, CTL_UPDATE | CTL_RETAIN, CLASSIC_OK), CLASSIC_OK);
  // Still open and locked: nobody else gets it.
  EXPECT_EQ(classic_check_trailer_ex(kCtl.c_str(), 1, nullptr, nullptr, nullptr),
            CLASSIC_CANNOT_OPEN);
  ctl_set_trailer_offset(0);
  FILE* again = nullptr;
  ASSERT_EQ(ctl_open(&again, "C:\\USERROOT\\storage\\WORK\\data\\PIECE.CTL", CTL_UPDATE), CLASSIC_OK);
  EXPECT_EQ(again, f);
  EXPECT_EQ(ctl_trailer_offset(), 128);
  EXPECT_EQ(ctl_trailer().open_count, 5);  // the trailer carried over, not reread
  ASSERT_EQ(ctl_close(again, CTL_UPDATE, CLASSIC_OK), CLASSIC_OK);
  CtlTrailer t = read_trailer(kCtl);
  EXPECT_EQ(t.lock_state, LOCK_FREE);
  EXPECT_EQ(t.open_count, 5);
  EXPECT_EQ(classic_check_trailer_ex(kCtl.c_str(), 1, nullptr, nullptr, nullptr),
            CLASSIC_OK);
}

TEST_F(SessionTest, SelfCheckAtClose) {
  FILE* f = nullptr;
  ASSERT_EQ(ctl_open(&f, kCtl.c_str(), CTL_UPDATE), CLASSIC_OK);
  std::memcpy(ctl_trailer().suffix, "aaa", 3);
  ctl_trailer().next_slot = 0;
  plat_setenv("ZELTORA", "1");
  EXPECT_EQ(ctl_close(f, CTL_UPDATE, CLASSIC_OK), CLASSIC_IO_ERROR);
  EXPECT_EQ(testenv::log_codes(), std::vector<int>{54050});
  // Not written, but released: the file can be opened again at once; its
  // trailer still says a session holds it.
  EXPECT_EQ(read_trailer(kCtl).lock_state, LOCK_SESSION);
  int lock = 0;
  EXPECT_EQ(classic_check_trailer_ex(kCtl.c_str(), 1, nullptr, &lock, nullptr),
            CLASSIC_OK);
  EXPECT_EQ(lock, LOCK_SESSION);
  // Without ZELTORA the report is made and the trailer written all the same.
  plat_setenv("ZELTORA", nullptr);
  control_file(kCtl, 2, sound_trailer(2));
  ASSERT_EQ(ctl_open(&f, kCtl.c_str(), CTL_UPDATE), CLASSIC_OK);
  std::memcpy(ctl_trailer().suffix, "aaa", 3);
  ctl_trailer().next_slot = 0;
  EXPECT_EQ(ctl_close(f, CTL_UPDATE, CLASSIC_OK), CLASSIC_OK);
  EXPECT_EQ(testenv::log_codes(), (std::vector<int>{54050, 54050}));
  EXPECT_EQ(read_trailer(kCtl).lock_state, LOCK_FREE);
}

}  // namespace

namespace {

TEST_F(SessionTest, FilesThatCannotBeOpened) {
  FILE* f = nullptr;
  EXPECT_EQ(ctl_open(&f, (kDir + "missing.ctl").c_str(), CTL_READ), CLASSIC_CANNOT_OPEN);
  EXPECT_TRUE(testenv::pauses.empty());
  Helper holder("lock_file", {kCtl, "release"});
  ASSERT_TRUE(holder.wait_ready());
  EXPECT_EQ(ctl_open(&f, kCtl.c_str(), CTL_READ), CLASSIC_CANNOT_OPEN);
  EXPECT_EQ(testenv::pauses.size(), 40u);
  EXPECT_EQ(testenv::log_codes(), std::vector<int>{54018});
  EXPECT_EQ(holder.finish(), 0);
  testenv::write_file(kDir + "short.ctl", "abc");
  EXPECT_EQ(ctl_open(&f, (kDir + "short.ctl").c_str(), CTL_READ), CLASSIC_IO_ERROR);
  // An untranslatable path passes its status on.
  std::string long_path = "c:\\" + std::string(300, 'x');
  EXPECT_EQ(ctl_open(&f, long_path.c_str(), CTL_READ), CLASSIC_CANNOT_REMOVE);
}

}  // namespace

// Every way out of an operation ends its session: after each failure below
// the control file is free on disk and no open of this process holds it.
TEST_F(SessionTest, EveryWayOutReleasesTheControlFile) {
  ASSERT_EQ(plat_remove(kPieceCtl.c_str()), 0);  // a store with real items instead
  make_piece_store();
  ASSERT_EQ(put_item(kPieceCtl, "A", "a"), CLASSIC_OK);
  ASSERT_EQ(put_item(kPieceCtl, "B", "b"), CLASSIC_OK);
  const char* ctl = kPieceCtl.c_str();
  FILE* stream = nullptr;
  std::vector<char> bytes;
  CTRL_ENTRY_INFO info{};
  long offset = 0, first = 0;
  CTRL_ENTRY_INFO* items = nullptr;
  FILE* not_open = std::tmpfile();
  ASSERT_NE(not_open, nullptr);
  struct Case {
    const char* what;
    int want;
    int got;
  };
  const Case cases[] = {
      {"create over a live name", CLASSIC_NAME_IN_USE,
       classic_open_item(ctl, "A", ITEM_WRITE | ITEM_CREATE, kPiecePattern, &stream, nullptr, nullptr)},
      {"open a missing name", CLASSIC_NOT_FOUND,
       classic_open_item(ctl, "X", 0, kPiecePattern, &stream, nullptr, nullptr)},
      {"look up a missing name", CLASSIC_NOT_FOUND, classic_lookup_item(ctl, "X", &info)},
      {"overwrite a missing entry", CLASSIC_NOT_FOUND, classic_overwrite_ctrl_entry(ctl, "X", &info)},
      {"delete a missing name", CLASSIC_NOT_FOUND, classic_delete_item(ctl, "X", kPiecePattern)},
      {"undelete a live name", CLASSIC_NAME_IN_USE, classic_undelete_item(ctl, "A", kPiecePattern)},
      {"rename onto a live name", CLASSIC_NAME_IN_USE, classic_rename_item(ctl, "A", "B", kPiecePattern)},
      {"set the attribute of a missing name", CLASSIC_NOT_FOUND,
       classic_set_attribute(ctl, kPiecePattern, "X", 1)},
      {"read a missing item raw", CLASSIC_NOT_FOUND, classic_read_raw_item(ctl, "X", kPiecePattern, bytes)},
      {"close an item that is not open", CLASSIC_NOT_OPEN, classic_close_item(ctl, "A", not_open)},
      {"list past the end", CLASSIC_NO_MORE, classic_get_blk_items(ctl, "Z*", 5, &offset, &first, &items)},
      {"delete the control file with an open item", CLASSIC_ITEMS_OPEN,
       (classic_open_item(ctl, "B", 0, kPiecePattern, &stream, nullptr, nullptr),
        classic_delete_control_file(ctl, kPiecePattern))},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.got, c.want) << c.what;
    EXPECT_EQ(read_trailer(kPieceCtl).lock_state, LOCK_FREE) << c.what;
    int fd = plat_sopen(ctl, CLASSIC_O_RDWR | CLASSIC_O_BINARY, PLAT_SH_DENYRW, 0);
    EXPECT_GE(fd, 0) << c.what << ": the control file is still held";
    if (fd >= 0) plat_close(fd);
  }
  EXPECT_EQ(classic_close_item(ctl, "B", stream), CLASSIC_OK);
}
