// The calls each operation makes into the platform layer, held to a budget:
// a host program pays one control-file session per call, so a change that
// adds a call to a session is paid thousands of times a minute on a busy
// store.  On a control file of 1,000 entries a session is open, its stream,
// byte lock, the file's length, the trailer read, the mark written, six
// window reads of the binary search, the trailer written back, unlock and
// close (15 calls); an item adds its data file's open, stream, header and
// close; the budgets are what the operations make now, so that a change that
// adds a call fails here.  The count is the same natively and under
// Windows; an operation that fails would make fewer calls, so each must
// succeed too.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "classic.h"
#include "platform/testing/testing.h"
#include "support/items.h"
#include "support/store_test.h"

namespace {

std::string name_of(int i) { return "ITEM" + std::to_string(10000 + 2 * i); }

struct Budgeted {
  const char* operation;
  long budget;
  std::function<int()> run;
};

class BudgetTest : public StoreTest {};

TEST_F(BudgetTest, EachOperationStaysWithinItsCalls) {
  make_piece_store();
  const char* ctl = kPieceCtl.c_str();
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(put_item(kPieceCtl, name_of(i), std::string(100, 'x')), CLASSIC_OK);
  ASSERT_EQ(classic_delete_item(ctl, name_of(7).c_str(), kPiecePattern), CLASSIC_OK);

  const std::vector<Budgeted> table = {
      {"lookup", 15, [&] { return classic_lookup_item(ctl, name_of(500).c_str(), nullptr); }},
      {"read", 29, [&] { return get_item(kPieceCtl, name_of(501)).size() == 100 ? CLASSIC_OK : CLASSIC_IO_ERROR; }},
      {"create", 42, [&] { return put_item(kPieceCtl, "ITEM10001", "new bytes"); }},
      {"replace", 47,
       [&] { return put_item(kPieceCtl, name_of(502), "other bytes", ITEM_WRITE | ITEM_CREATE | ITEM_REPLACE); }},
      {"delete", 16, [&] { return classic_delete_item(ctl, name_of(503).c_str(), kPiecePattern); }},
      {"undelete", 21, [&] { return classic_undelete_item(ctl, name_of(7).c_str(), kPiecePattern); }},
      {"rename", 25, [&] { return classic_rename_item(ctl, name_of(504).c_str(), "ITEM10003", kPiecePattern); }},
      {"attribute", 20, [&] { return classic_set_attribute(ctl, kPiecePattern, name_of(505).c_str(), 5); }},
      {"trailer", 9, [&] { return classic_ctl_file_stats(ctl, nullptr); }},
      {"list", 14,
       [&] {
         long offset = 0, position = 0;
         char more = 0;
         int status = -1;
         classic_free_item_list(classic_return_item_list(ctl, "*", &offset, &position, &more, &status));
         return status;
       }},
  };
  for (const Budgeted& b : table) {
    plat_test_count_calls();
    EXPECT_EQ(b.run(), CLASSIC_OK) << b.operation;
    long calls = plat_test_call_count();
    std::map<std::string, int> by_call;
    for (const std::string& c : plat_test_calls()) ++by_call[c];
    std::string detail;
    for (const auto& [call, n] : by_call) detail += " " + call + "=" + std::to_string(n);
    EXPECT_LE(calls, b.budget) << b.operation << ":" << detail;
    std::printf("%-10s %3ld calls (budget %ld):%s\n", b.operation, calls, b.budget, detail.c_str());
  }
}

}  // namespace
