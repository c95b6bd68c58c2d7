// What repair must never do (clear a live session, take an area from
// logged-in workstations unasked, lose a committed item, leave a backup
// where a listing finds it), area locks that stopped half-way, and who.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "admin/damage.h"
#include "ctl/session.h"
#include "platform/platform.h"
#include "support/ctl_files.h"
#include "support/helper.h"
#include "support/items.h"

// Opens a session on args[0] and holds it until released.
CLASSIC_HELPER(hold_session) {
  FILE* f = nullptr;
  if (ctl_open(&f, args[0].c_str(), CTL_UPDATE) != CLASSIC_OK) return 10;
  helper_ready();
  helper_wait_release();
  return ctl_close(f, CTL_UPDATE, CLASSIC_OK) == CLASSIC_OK ? 0 : 11;
}

namespace {

// Literal paths: globals of other files may not be made yet.
const std::string kLoginCtl = "C:\\userroot\\storage\\work\\login.ctl";
const std::string kModelCtl = "c:\\userroot\\storage\\work\\data\\model.ctl";

void stale_readers() {
  edit_entries([](Entries& e, CtlTrailer& t) {
    e[4].open_state = 2;
    t.open_count = 2;
  });
}

int lock_state(const std::string& ctl) { return read_trailer(ctl).lock_state; }

std::vector<std::string> found_names(const std::string& pattern) {
  std::vector<std::string> names;
  plat_find_data found;
  plat_find_handle search = plat_find_first(pattern.c_str(), &found);
  for (bool more = search != nullptr; more; more = plat_find_next(search, &found) != 0) names.push_back(found.name);
  if (search) plat_find_close(search);
  return names;
}

using RepairTest = RepairStoreTest;

TEST_F(RepairTest, LiveSessionIsNeverCleared) {
  // A stale reader in another control file of the area needs the area lock.
  ASSERT_EQ(classic_create_control_file(kModelCtl.c_str()), CLASSIC_OK);
  ASSERT_EQ(put_item(kModelCtl, "M", "m", ITEM_WRITE | ITEM_CREATE, "model%c%c%c.mod"), CLASSIC_OK);
  std::vector<CtlEntry> model = read_entries(kModelCtl);
  model[0].open_state = 1;
  CtlTrailer trailer = read_trailer(kModelCtl);
  trailer.open_count = 1;
  write_control_file(kModelCtl, model, trailer);
  std::string model_before = testenv::read_file(kModelCtl);
  std::string piece_before = testenv::read_file(kPieceCtl);

  Helper holder("hold_session", {kPieceCtl});
  ASSERT_TRUE(holder.wait_ready());
  AdminCheckReport found;
  ASSERT_EQ(admin_check(area_scope(), &found), CLASSIC_OK);
  EXPECT_EQ(finding_codes(found), (std::vector<std::string>{"ctl.held", "entry.open"})) << report_text(found);
  AdminWho who;
  ASSERT_EQ(admin_who(kArea, &who), CLASSIC_OK);
  ASSERT_EQ(who.held.size(), 1u);
  EXPECT_TRUE(who.held[0].live);
  ASSERT_EQ(who.open_items.size(), 1u);
  EXPECT_EQ(who.open_items[0].name, "M");
  EXPECT_EQ(who.open_items[0].open_state, 1);

  testenv::pauses.clear();
  AdminRepairReport repaired;
  ASSERT_EQ(admin_repair(area_scope(), {}, &repaired), CLASSIC_OK);
  EXPECT_TRUE(repaired.changes.empty());
  ASSERT_EQ(repaired.refusals.size(), 1u);
  EXPECT_EQ(repaired.refusals[0].file, kArea + "\\DATA\\piece.ctl");
  EXPECT_EQ(testenv::read_file(kModelCtl), model_before);
  EXPECT_EQ(std::count(testenv::pauses.begin(), testenv::pauses.end(), 1162u), 0);

  // The session ends as it began: nobody took its file away.
  EXPECT_EQ(holder.finish(), 0);
  EXPECT_EQ(testenv::read_file(kPieceCtl).substr(0, piece_before.size() - 64), piece_before.substr(0, piece_before.size() - 64));
  ASSERT_EQ(admin_repair(area_scope(), {}, &repaired), CLASSIC_OK);
  EXPECT_TRUE(repaired.after.clean()) << report_text(repaired.after);
  EXPECT_EQ(read_entries(kModelCtl)[0].open_state, 0);
}

TEST_F(RepairTest, LoginsBlockTheAreaLockUnlessForced) {
  ASSERT_EQ(classic_login_area(kArea.c_str(), "1"), CLASSIC_OK);
  stale_readers();
  std::string before = testenv::read_file(kPieceCtl);
  AdminRepairReport repaired;
  ASSERT_EQ(admin_repair(area_scope(), {}, &repaired), CLASSIC_OK);
  ASSERT_EQ(repaired.refusals.size(), 1u);
  EXPECT_EQ(repaired.refusals[0].status, CLASSIC_LOGINS_PRESENT);
  EXPECT_EQ(testenv::read_file(kPieceCtl), before);
  AdminWho who;
  ASSERT_EQ(admin_who(kArea, &who), CLASSIC_OK);
  EXPECT_EQ(who.logins, 1);
  ASSERT_EQ(who.login_files.size(), 1u);
  EXPECT_EQ(who.login_files[0].tag, "1");

  AdminRepairOptions force;
  force.force = true;
  ASSERT_EQ(admin_repair(area_scope(), force, &repaired), CLASSIC_OK);
  EXPECT_EQ(repaired.overridden, std::vector<std::string>{who.login_files[0].file});
  EXPECT_TRUE(repaired.after.clean()) << report_text(repaired.after);
  // The lock repair took is given back.
  EXPECT_EQ(lock_state(kLoginCtl), LOCK_FREE);
  EXPECT_EQ(lock_state(kPieceCtl), LOCK_FREE);
  EXPECT_EQ(read_trailer(kLoginCtl).total_items, 0);
  expect_committed();
}

// Area locks as repair finds them: the keeper's whole lock is kept; a lock
// that stopped half-way is completed; an unlock that did is completed.
TEST_F(RepairTest, AreaLockMarks) {
  struct Case {
    const char* name;
    std::vector<std::string> marked;  // control files carrying lock state 13
    std::vector<std::string> codes;
    uint8_t after;                    // the lock state of every file afterwards
  };
  const Case cases[] = {
      {"keeper's lock", {kLoginCtl, kPieceCtl}, {"entry.open"}, LOCK_AREA},
      {"lock stopped half-way", {kLoginCtl}, {"area.partly-locked", "entry.open"}, LOCK_AREA},
      {"unlock stopped half-way", {kPieceCtl}, {"area.partly-locked", "entry.open"}, LOCK_FREE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    stale_readers();
    for (const std::string& ctl : {kLoginCtl, kPieceCtl}) {
      CtlTrailer t = read_trailer(ctl);
      bool marked = std::find(c.marked.begin(), c.marked.end(), ctl) != c.marked.end();
      t.lock_state = marked ? LOCK_AREA : LOCK_FREE;
      write_control_file(ctl, ctl == kPieceCtl ? read_entries(ctl) : std::vector<CtlEntry>{}, t);
    }
    AdminCheckReport found;
    ASSERT_EQ(admin_check(area_scope(), &found), CLASSIC_OK);
    EXPECT_EQ(finding_codes(found), c.codes) << report_text(found);
    AdminRepairReport repaired;
    ASSERT_EQ(admin_repair(area_scope(), {}, &repaired), CLASSIC_OK);
    EXPECT_TRUE(repaired.after.clean()) << report_text(repaired.after);
    EXPECT_EQ(lock_state(kLoginCtl), c.after);
    EXPECT_EQ(lock_state(kPieceCtl), c.after);
    EXPECT_EQ(read_entries(kPieceCtl)[4].open_state, 0);
    ASSERT_TRUE(classic_area_unlock((kArea + "\\").c_str()) == CLASSIC_OK || c.after == LOCK_FREE);
  }
  expect_committed();
}

TEST_F(RepairTest, BackupsKeepTheOldBytesWhereNoListingLooks) {
  for (const std::string& ctl : {kLoginCtl, kPieceCtl}) {
    CtlTrailer t = read_trailer(ctl);
    t.lock_state = LOCK_SESSION;
    write_control_file(ctl, ctl == kPieceCtl ? read_entries(ctl) : std::vector<CtlEntry>{}, t);
  }
  std::string stale = testenv::read_file(kPieceCtl);
  AdminRepairReport repaired;
  ASSERT_EQ(admin_repair(area_scope(), {}, &repaired), CLASSIC_OK);
  stale_readers();
  std::string readers = testenv::read_file(kPieceCtl);
  ASSERT_EQ(admin_repair(area_scope(), {}, &repaired), CLASSIC_OK);
  ASSERT_TRUE(repaired.after.clean()) << report_text(repaired.after);

  // The listings of the library see the control files and login files alone.
  EXPECT_EQ(found_names(kWorkData + "*.ctl"), std::vector<std::string>{"piece.ctl"});
  EXPECT_EQ(found_names(kArea + "\\log*.*"), std::vector<std::string>{"login.ctl"});
  EXPECT_EQ(found_names(kWorkData + "piece???.pce").size(), 2u);
  // Beside them, the bytes each repair replaced: entries were replaced under
  // the area lock that repair took.
  readers[readers.size() - CTL_RECORD_SIZE + offsetof(CtlTrailer, lock_state)] = LOCK_AREA;
  std::vector<std::string> backups = found_names(kWorkData + "~*");
  ASSERT_EQ(backups.size(), 2u);
  std::sort(backups.begin(), backups.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  EXPECT_EQ(testenv::read_file(kWorkData + backups[0]), stale);
  EXPECT_EQ(testenv::read_file(kWorkData + backups[1]), readers);
  EXPECT_EQ(found_names(kArea + "\\~login.ctl.*.bak").size(), 1u);
}

// Random damage to a random store: repair leaves every committed item as it
// was committed, and a clean store.
class RandomDamageTest : public RepairStoreTest, public ::testing::WithParamInterface<int> {};

TEST_P(RandomDamageTest, RepairLosesNoCommittedItem) {
  std::mt19937 rng(static_cast<unsigned>(GetParam()));
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  for (int op = 0; op < 16; ++op) {
    std::string name = "P" + std::to_string(pick(12));
    std::string bytes(1 + pick(90), static_cast<char>('A' + pick(26)));
    bool live = committed_.count(name) != 0;
    if (live && pick(2)) {
      ASSERT_EQ(classic_delete_item(kPieceCtl.c_str(), name.c_str(), kPiecePattern), CLASSIC_OK);
      committed_.erase(name);
    } else {
      ASSERT_EQ(put_item(kPieceCtl, name, bytes, ITEM_WRITE | ITEM_CREATE | ITEM_REPLACE), CLASSIC_OK);
      committed_[name] = bytes;
    }
  }
  for (int n = 1 + static_cast<int>(pick(4)); n > 0; --n) {
    edit_entries([&](Entries& e, CtlTrailer& t) {
      size_t i = pick(e.size());
      switch (pick(8)) {
        case 0: e[i].open_state = static_cast<int8_t>(pick(4)) - 1; t.open_count = static_cast<uint16_t>(pick(3)); break;
        case 1: std::swap(e[i], e[pick(e.size())]); break;
        case 2: t.total_items = static_cast<int16_t>(pick(40)); break;
        case 3: t.lock_state = LOCK_SESSION; break;
        case 4: e.erase(e.begin() + static_cast<long>(i)); break;
        case 5: e.insert(e.begin() + static_cast<long>(i), e[i]); break;
        case 6: e.insert(e.begin(), e.back()); e.pop_back(); break;
        default: t.next_slot = static_cast<uint8_t>(pick(8)); break;
      }
    });
  }
  AdminRepairReport repaired;
  ASSERT_EQ(admin_repair(area_scope(), {}, &repaired), CLASSIC_OK);
  EXPECT_TRUE(repaired.refusals.empty()) << repaired.refusals[0].why;
  EXPECT_TRUE(repaired.after.clean()) << report_text(repaired.after);
  expect_committed();
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomDamageTest, ::testing::Range(1, 17));

}  // namespace
