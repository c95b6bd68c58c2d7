// Damage to a store, made by real means where a test can (a second process
// killed inside a session, a creator or a replacement killed before its
// close, files removed or cut short) and by crafted bytes otherwise: check
// finds exactly it, repair fixes it without waiting for any lock, a second
// check is clean, and every item committed before reads as it did.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "admin/admin.h"
#include "ctl/records.h"
#include "items/datafile.h"
#include "platform/platform.h"
#include "support/ctl_files.h"
#include "support/helper.h"
#include "support/items.h"
#include "support/store_test.h"
#include "admin/damage.h"

namespace {

using Committed = std::map<std::string, std::string>;

struct Damage {
  const char* name;
  std::function<void(Committed&)> make;
  std::vector<std::string> codes;  // what check finds
  bool rebuild = false;            // only a rebuild repairs it
};

// A damage prints as its name (in test names and CTest's list).
void PrintTo(const Damage& damage, std::ostream* out) { *out << damage.name; }

void run_helper(const std::string& name, const std::vector<std::string>& args) {
  Helper helper(name, args);
  ASSERT_TRUE(helper.wait_ready());
  EXPECT_NE(helper.finish(), 0);
}

// The piece store cut to its first n bytes.
void cut_control_file(size_t n) { testenv::write_file(kPieceCtl, testenv::read_file(kPieceCtl).substr(0, n)); }

const Damage kDamages[] = {
    {"SessionKilled", [](Committed&) { run_helper("die_in_session", {kPieceCtl}); }, {"trailer.session-lock"}},
    {"CreatorKilled", [](Committed&) { run_helper("hold_item", {kPieceCtl, "NEW", "3", kPiecePattern, "die"}); },
     {"entry.creation"}},
    {"ReplacementKilled", [](Committed&) { run_helper("hold_item", {kPieceCtl, "ITEM3", "7", kPiecePattern, "die"}); },
     {"entry.replacement"}},
    {"DataFileRemoved",
     [](Committed& c) {
       ASSERT_EQ(plat_unlink((kWorkData + "pieceaab.pce").c_str()), 0);
       c.erase("ITEM8");
       c.erase("ITEM9");
     },
     {"entry.data-file", "entry.data-file", "trailer.filling"}},
    {"ControlFileCut", [](Committed&) { cut_control_file(300); }, {"ctl.size"}, true},
    {"TrailerLost", [](Committed&) { cut_control_file(10 * CTL_RECORD_SIZE); }, {"ctl.version"}, true},
    {"ControlFileLost", [](Committed&) { ASSERT_EQ(plat_unlink(kPieceCtl.c_str()), 0); }, {"ctl.missing"}, true},
    {"OutOfOrder", [](Committed&) { edit_entries([](Entries& e, CtlTrailer&) { std::swap(e[2], e[5]); }); },
     {"entry.order"}},
    {"ReadersGone",
     [](Committed&) {
       edit_entries([](Entries& e, CtlTrailer& t) {
         e[4].open_state = 2;
         t.open_count = 2;
       });
     },
     {"entry.open"}},
    {"SlotFlagUpdateFailed",
     [](Committed& c) {
       ASSERT_EQ(classic_delete_item(kPieceCtl.c_str(), "ITEM2", kPiecePattern), CLASSIC_OK);
       edit_slot("aaa", 2, [](SlotRecord& s) { s.flags = 0; });
       edit_entries([](Entries&, CtlTrailer& t) { ++t.total_items; });
       c.erase("ITEM2");
     },
     {"slot.flag", "trailer.count"}},
    {"EntryLost",
     [](Committed&) {
       edit_entries([](Entries& e, CtlTrailer& t) {
         e.erase(e.begin() + 6);
         --t.total_items;
       });
     },
     {"slot.lost"}},
    {"EntryMoveCutShort", [](Committed&) { edit_entries([](Entries& e, CtlTrailer&) { e.insert(e.begin() + 2, e[1]); }); },
     {"entry.copy", "trailer.count"}},
    {"TrailerNamesATakenSlot", [](Committed&) { edit_entries([](Entries&, CtlTrailer& t) { t.next_slot = 0; }); },
     {"trailer.filling"}},
    {"LoginFileLeftBehind", [](Committed&) { testenv::write_file(kArea + "\\log----.9", "log----.9"); },
     {"area.login-files"}},
    {"RegistrationLost",
     [](Committed&) {
       plat_hkey drive = nullptr;
       ASSERT_EQ(plat_reg_open_key(plat_hkey_current_user(), "Software\\Halvorn\\Quillmere\\C:", PLAT_KEY_WRITE, &drive),
                 PLAT_ERROR_SUCCESS);
       EXPECT_EQ(plat_reg_delete_key(drive, "work"), PLAT_ERROR_SUCCESS);
       plat_reg_close_key(drive);
     },
     {"area.unregistered"}},
};

class DamageTest : public RepairStoreTest, public ::testing::WithParamInterface<Damage> {};

TEST_P(DamageTest, CheckFindsItRepairFixesIt) {
  const Damage& damage = GetParam();
  damage.make(committed_);
  std::string damaged = testenv::read_file(kPieceCtl);

  AdminCheckReport found;
  ASSERT_EQ(admin_check(area_scope(), &found), CLASSIC_OK);
  std::vector<std::string> expected = damage.codes;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(finding_codes(found), expected) << report_text(found);

  testenv::pauses.clear();
  AdminRepairReport repaired;
  ASSERT_EQ(admin_repair(area_scope(), {}, &repaired), CLASSIC_OK);
  if (damage.rebuild) {
    // Without --rebuild a damaged control file is left as it is.
    EXPECT_EQ(finding_codes(repaired.after), expected);
    EXPECT_EQ(testenv::read_file(kPieceCtl), damaged);
    AdminScope piece = area_scope();
    piece.type = "piece.ctl";
    AdminRepairOptions rebuild;
    rebuild.rebuild = true;
    ASSERT_EQ(admin_repair(piece, rebuild, &repaired), CLASSIC_OK);
  }
  EXPECT_TRUE(repaired.refusals.empty()) << repaired.refusals[0].file << ": " << repaired.refusals[0].why;
  EXPECT_TRUE(repaired.after.clean()) << report_text(repaired.after);
  EXPECT_EQ(std::count(testenv::pauses.begin(), testenv::pauses.end(), 1162u), 0) << "repair waited for a lock";

  AdminCheckReport again;
  ASSERT_EQ(admin_check(area_scope(), &again), CLASSIC_OK);
  EXPECT_TRUE(again.clean()) << report_text(again);
  expect_committed();
  std::vector<int> codes = testenv::log_codes();
  EXPECT_EQ(static_cast<size_t>(std::count(codes.begin(), codes.end(), 54060)), repaired.changes.size());
}

INSTANTIATE_TEST_SUITE_P(Damages, DamageTest, ::testing::ValuesIn(kDamages),
                         [](const ::testing::TestParamInfo<Damage>& info) { return std::string(info.param.name); });

}  // namespace
