// Failed calls: for every operation that changes the store, and for every
// call by which it changes a file, that call fails with a full disk or an
// I/O error.  The operation must then report a failure (or have done its
// whole change), leave what it works on in its old or its new state, leave
// every other item as it was, and leave the store usable at once.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "platform/testing/testing.h"
#include "support/accidents.h"
#include "support/store_test.h"

namespace {

class FaultTest : public StoreTest {};

TEST_F(FaultTest, EveryFailedCallLeavesTheStoreSound) {
  accidents::make_store();
  const accidents::Snapshot base = accidents::take_snapshot();
  long runs = 0;
  for (const accidents::Operation& op : accidents::operations()) {
    const accidents::Start start = accidents::start_operation(op, base);
    const accidents::Model& before = start.model;
    const long calls = start.calls;
    for (int error : {ENOSPC, EIO}) {
      for (long k = 1; k <= calls; ++k) {
        accidents::restore(start.files);
        reset_library_state();
        plat_test_faults(k, error, 0);
        int status = op.run();
        std::string call = k <= plat_test_fault_count() ? plat_test_fault_calls()[k - 1] : "?";
        plat_test_faults(0, 0, 0);
        EXPECT_EQ(accidents::check_after(op, before, status), "")
            << op.name << ": call " << k << " of " << calls << " (" << call << ") failed with "
            << (error == ENOSPC ? "ENOSPC" : "EIO") << ", status " << status;
        ++runs;
      }
    }
  }
  RecordProperty("runs", static_cast<int>(runs));
}

}  // namespace
