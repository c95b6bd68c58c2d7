// Faults planned by a test: the k-th call that changes a file fails with a
// chosen error, or the process ends there as a crash would.
#include <string>
#include <vector>

#include "platform/testing/testing.h"

namespace {

struct FaultPlan {
  long fail_at = 0;
  int error = 0;
  long crash_at = 0;
  std::vector<std::string> calls;
};

FaultPlan g_plan;
std::vector<std::string> g_calls;

}  // namespace

void plat_test_count_hook(const char* call) { g_calls.emplace_back(call); }

void plat_test_count_calls() { g_calls.clear(); }

long plat_test_call_count() { return static_cast<long>(g_calls.size()); }

const std::vector<std::string>& plat_test_calls() { return g_calls; }

int plat_test_fault_hook(const char* call) {
  g_plan.calls.emplace_back(call);
  long k = static_cast<long>(g_plan.calls.size());
  if (k == g_plan.crash_at) plat_exit_now(PLAT_TEST_CRASH_EXIT);
  return k == g_plan.fail_at ? g_plan.error : 0;
}

void plat_test_faults(long fail_at, int error, long crash_at) {
  g_plan = FaultPlan{fail_at, error, crash_at, {}};
}

long plat_test_fault_count() { return static_cast<long>(g_plan.calls.size()); }

const std::vector<std::string>& plat_test_fault_calls() { return g_plan.calls; }
