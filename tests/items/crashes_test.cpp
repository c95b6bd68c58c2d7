// Crashes: for every operation that changes the store, and for every call by
// which it changes a file, a second process runs the operation and ends at
// that call, as a crash would.  Afterwards the store is usable at once, or
// after a repair where the crash left a mark only repair may clear (a session
// mark, an item left open), what the operation worked on is in its old or
// its new state, and every other item is byte for byte as before.
#include <gtest/gtest.h>

#include <string>

#include "admin/admin.h"
#include "platform/platform.h"
#include "platform/testing/testing.h"
#include "support/accidents.h"
#include "support/helper.h"
#include "support/store_test.h"

// Runs the operation args[0] and ends the process at its args[1]-th
// changing call.
CLASSIC_HELPER(crash_operation) {
  const accidents::Operation* op = accidents::find_operation(args[0]);
  if (!op) return 2;
  plat_hooks hooks{};
  hooks.sleep = [](uint32_t) {};
  hooks.fault = plat_test_fault_hook;
  plat_set_hooks(&hooks);
  plat_test_faults(0, 0, std::stol(args[1]));
  op->run();
  return 0;
}

namespace {

class CrashMatrixTest : public StoreTest {};

TEST_F(CrashMatrixTest, EveryCrashLeavesTheStoreSoundOrRepairable) {
  accidents::make_store();
  const accidents::Snapshot base = accidents::take_snapshot();
  long crashes = 0, repairs = 0;
  for (const accidents::Operation& op : accidents::operations()) {
    const accidents::Start start = accidents::start_operation(op, base);
    const accidents::Model& before = start.model;
    const long calls = start.calls;
    for (long k = 1; k <= calls; ++k) {
      accidents::restore(start.files);
      reset_library_state();
      {
        Helper crasher("crash_operation", {op.name, std::to_string(k)});
        int code = crasher.finish(60000);
        ASSERT_TRUE(code == PLAT_TEST_CRASH_EXIT || code == 0) << op.name << " at call " << k << ": " << code;
        if (code == PLAT_TEST_CRASH_EXIT) ++crashes;
      }
      // What a store keeper does after a crash: check, and repair what the
      // check finds.
      AdminScope scope;
      scope.area = "c:\\userroot\\storage\\work";
      AdminCheckReport check;
      ASSERT_EQ(admin_check(scope, &check), 1);
      if (!check.clean()) {
        AdminRepairOptions options;
        options.force = true;
        AdminRepairReport report;
        ASSERT_EQ(admin_repair(scope, options, &report), 1) << op.name << " at call " << k;
        EXPECT_TRUE(report.after.clean()) << op.name << " at call " << k;
        ++repairs;
      }
      reset_library_state();
      EXPECT_EQ(accidents::check_after(op, before, -1), "") << op.name << ": crash at call " << k << " of " << calls;
    }
  }
  RecordProperty("crashes", static_cast<int>(crashes));
  RecordProperty("repairs", static_cast<int>(repairs));
}

}  // namespace
