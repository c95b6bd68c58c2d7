// The store on an NFS share: programs on both workstations create, read,
// replace, rename, delete and list items of one area at once, each on items
// of its own, and the area must end as a model of their work says, with no
// operation refused on the way; and a creator whose workstation dies while
// it holds the control file keeps the others out only until its lease ends.
//
// Every program sees the share as its drive N:, through the mount of its
// workstation; drive C: (the error log) is a local folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "admin/reset.h"
#include "classic.h"
#include "nfs/nfs_env.h"
#include "platform/platform.h"
#include "support/helper.h"
#include "support/items.h"
#include "support/store_test.h"

namespace {

using Clock = std::chrono::steady_clock;
using Model = std::map<std::string, std::string>;  // live item name -> bytes

const std::string kArea = "\\userroot\\storage\\work\\data\\";

std::string ctl_on(const std::string& drive) { return drive + kArea + "piece.ctl"; }

struct StoreOp {
  enum Kind { kCreate, kRead, kReplace, kRename, kDelete, kList } kind;
  std::string name;
  std::string to;     // the new name of a rename
  std::string bytes;  // written, or expected by a read; a list's names, one per line
};

// The operations of program `worker` on items of its own (W<worker>-<n>), and
// the items they leave. A pseudo-random mix, the same at every run.
std::vector<StoreOp> plan_of(int worker, int count, Model* left) {
  std::mt19937 rng(7919u * static_cast<unsigned>(worker + 1));
  Model live;
  int next = 0, version = 0;
  auto fresh_name = [&] { return "W" + std::to_string(worker) + "-" + std::to_string(next++); };
  auto any_name = [&] { return std::next(live.begin(), static_cast<long>(rng() % live.size()))->first; };
  auto bytes_for = [&](const std::string& name) {
    std::string tag = name + "/" + std::to_string(++version) + ";", out;
    size_t size = 1 + rng() % 3000;
    while (out.size() < size) out += tag;
    out.resize(size);
    return out;
  };
  std::vector<StoreOp> ops;
  for (int i = 0; i < count; ++i) {
    unsigned roll = rng() % 10;
    StoreOp op{StoreOp::kRead, "", "", ""};
    if (live.size() < 2 || (roll < 3 && live.size() < 8)) {
      op = {StoreOp::kCreate, fresh_name(), "", ""};
      op.bytes = live[op.name] = bytes_for(op.name);
    } else if (roll < 5) {
      op.name = any_name();
      op.bytes = live[op.name];
    } else if (roll < 7) {
      op = {StoreOp::kReplace, any_name(), "", ""};
      op.bytes = live[op.name] = bytes_for(op.name);
    } else if (roll < 8) {
      op = {StoreOp::kRename, any_name(), fresh_name(), ""};
      live[op.to] = live[op.name];
      live.erase(op.name);
    } else if (roll < 9) {
      op = {StoreOp::kDelete, any_name(), "", ""};
      live.erase(op.name);
    } else {
      op.kind = StoreOp::kList;
      for (const auto& [name, bytes] : live) op.bytes += name + "\n";
    }
    ops.push_back(op);
  }
  *left = live;
  return ops;
}

// The names of the live items of ctl that match pattern, one per line, in
// plain order.
std::string list_names(const std::string& ctl, const char* pattern, int* status) {
  long offset = 0, position = 0;
  char more = 0;
  CTRL_ENTRY_INFO* head = classic_return_item_list(ctl.c_str(), pattern, &offset, &position, &more, status);
  std::vector<std::string> found;
  for (CTRL_ENTRY_INFO* e = head; e; e = e->next) found.push_back(e->name);
  classic_free_item_list(head);
  // The file's order is the library's own collation; a model's is plain.
  std::sort(found.begin(), found.end());
  std::string names;
  for (const std::string& name : found) names += name + "\n";
  return names;
}

// Runs op; empty when it did what the plan says, else what went wrong.
std::string run(const StoreOp& op, const std::string& ctl, int worker) {
  int status = CLASSIC_OK;
  std::string got;
  switch (op.kind) {
    case StoreOp::kCreate: status = put_item(ctl, op.name, op.bytes); break;
    case StoreOp::kReplace:
      status = put_item(ctl, op.name, op.bytes, ITEM_WRITE | ITEM_CREATE | ITEM_REPLACE);
      break;
    case StoreOp::kRename:
      status = classic_rename_item(ctl.c_str(), op.name.c_str(), op.to.c_str(), kPiecePattern);
      break;
    case StoreOp::kDelete: status = classic_delete_item(ctl.c_str(), op.name.c_str(), kPiecePattern); break;
    case StoreOp::kRead:
      got = get_item(ctl, op.name);
      if (got != op.bytes) return "read " + op.name + ": " + (got.rfind("status", 0) == 0 ? got : "other bytes");
      return "";
    case StoreOp::kList:
      got = list_names(ctl, ("W" + std::to_string(worker) + "-*").c_str(), &status);
      if (status == CLASSIC_OK && got != op.bytes) return "list: other names";
      break;
  }
  if (status == CLASSIC_OK) return "";
  static const char* const kNames[] = {"create", "read", "replace", "rename", "delete", "list"};
  std::string wrong = std::string(kNames[op.kind]) + " " + op.name + ": status " + std::to_string(status);
  plat_cause cause;
  if (plat_get_cause(&cause)) wrong += std::string(" (") + cause.call + " " + cause.path + ": " + cause.text + ")";
  return wrong;
}

}  // namespace

// args: worker, operations. Runs its plan on the area of drive N:.
CLASSIC_HELPER(nfs_store_worker) {
  int worker = std::stoi(args[0]), count = std::stoi(args[1]);
  Model left;
  std::vector<StoreOp> ops = plan_of(worker, count, &left);
  for (size_t i = 0; i < ops.size(); ++i) {
    std::string wrong = run(ops[i], ctl_on("n:"), worker);
    if (!wrong.empty()) {
      std::fprintf(stderr, "worker %d, operation %zu of %zu: %s\n", worker, i + 1, ops.size(), wrong.c_str());
      return 1;
    }
  }
  return 0;
}

namespace {

long g_calls = 0;
long g_stop_at = 0;
std::vector<std::string> g_names;

int count_call(const char* call) {
  ++g_calls;
  g_names.push_back(call);
  return 0;
}

// Stops the program before the stop_at-th changing call, holding what it
// holds, until the test lets it go.
int stop_at_call(const char*) {
  if (++g_calls == g_stop_at) {
    plat_set_hooks(nullptr);
    helper_ready();
    helper_wait_release();
  }
  return 0;
}

int create_counting(const std::string& ctl, const std::string& name, const std::string& bytes,
                    int (*hook)(const char*)) {
  FILE* stream = nullptr;
  int r = classic_open_item(ctl.c_str(), name.c_str(), ITEM_WRITE | ITEM_CREATE, kPiecePattern, &stream,
                            nullptr, nullptr);
  if (r != CLASSIC_OK) return r;
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
  plat_hooks hooks{};
  hooks.fault = hook;
  g_calls = 0;
  plat_set_hooks(&hooks);
  r = classic_close_item(ctl.c_str(), name.c_str(), stream);
  plat_set_hooks(nullptr);
  return r;
}

}  // namespace

// args: none. Creates WARM on drive N:, noting the changing calls of its
// close; then creates DOOMED and stops its close at the same call as the one
// right after the close's last write, the write that gives the trailer back
// free: the item is whole and the control file free by its trailer, but the
// program still holds the file open, denying others.
CLASSIC_HELPER(nfs_stopped_creator) {
  if (create_counting(ctl_on("n:"), "WARM", "warm bytes", count_call) != CLASSIC_OK) return 10;
  for (size_t i = g_names.size(); i-- > 0;) {
    if (g_names[i] == "write") {
      g_stop_at = i + 1 < g_names.size() ? static_cast<long>(i) + 2 : 0;
      break;
    }
  }
  if (g_stop_at == 0) return 12;
  return create_counting(ctl_on("n:"), "DOOMED", "doomed bytes", stop_at_call) == CLASSIC_OK ? 0 : 11;
}

class NfsStoreTest : public nfstest::NfsTest {
 protected:
  void SetUp() override {
    NfsTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    reset_library_state();
    testenv::make_dirs("c:\\userroot\\system\\error");
    testenv::make_dirs(drive(0) + kArea);
    ASSERT_EQ(classic_create_control_file(ctl_on(drive(0)).c_str()), CLASSIC_OK);
  }
  void TearDown() override {
    reset_all();
    NfsTest::TearDown();
  }

  // Starts program `name` on a workstation, which sees the share as N:.
  std::unique_ptr<Helper> start_on(int workstation, const std::string& name, const std::vector<std::string>& args) {
    map_drive('N', workstation);
    return std::make_unique<Helper>(name, args);
  }

  // Starts `per_workstation` store workers on each workstation, from worker
  // number first on, and adds what they leave to model.
  std::vector<std::unique_ptr<Helper>> start_workers(int first, int per_workstation, int operations,
                                                     Model* model) {
    std::vector<std::unique_ptr<Helper>> workers;
    for (int i = 0; i < 2 * per_workstation; ++i) {
      int worker = first + i;
      Model left;
      plan_of(worker, operations, &left);
      model->insert(left.begin(), left.end());
      workers.push_back(start_on(i % 2, "nfs_store_worker", {std::to_string(worker), std::to_string(operations)}));
    }
    return workers;
  }

  // The area holds exactly the model, seen from the workstations from
  // `first` on, with no item left open and nothing in the error log.
  void expect_area(const Model& model, int first = 0) {
    for (int ws = first; ws < 2; ++ws) {
      SCOPED_TRACE("seen from workstation " + std::to_string(ws));
      std::string ctl = ctl_on(drive(ws)), names;
      size_t i = 0;
      for (const auto& [name, bytes] : model) {
        names += name + "\n";
        // Every item's bytes once, from one workstation or the other.
        if (first == 1 || i++ % 2 == static_cast<size_t>(ws)) {
          std::string got = get_item(ctl, name);
          EXPECT_TRUE(got == bytes) << name << " holds " << got.substr(0, 40) << "...";
        }
      }
      int status = 0;
      EXPECT_EQ(list_names(ctl, "*", &status), names);
      CTRL_TRAILER_INFO trailer{};
      ASSERT_EQ(classic_ctl_file_stats(ctl.c_str(), &trailer), CLASSIC_OK);
      EXPECT_EQ(trailer.total_items, static_cast<int32_t>(model.size()));
      EXPECT_EQ(trailer.open_count, 0);
    }
    EXPECT_EQ(testenv::log_codes(), std::vector<int>{});
  }
};

TEST_F(NfsStoreTest, ProgramsOnBothWorkstationsShareOneArea) {
  constexpr int kPerWorkstation = 3;
  constexpr int kOperations = 30;
  Model model;
  auto started = Clock::now();
  auto workers = start_workers(0, kPerWorkstation, kOperations, &model);
  for (auto& w : workers) EXPECT_EQ(w->finish(600000), 0);
  double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  std::printf("[   NFS    ] %d programs, %d operations on one area in %.1f s, %zu items left\n",
              2 * kPerWorkstation, 2 * kPerWorkstation * kOperations, seconds, model.size());
  expect_area(model);
}

class NfsStoreLeaseTest : public NfsStoreTest {
 protected:
  nfstest::NfsOptions options() const override { return {.lease_seconds = 4}; }
};

// A creator on workstation 0 holds the control file when its workstation
// dies. The programs of workstation 1 find the file held until the dead
// workstation's lease runs out, wait for it within their attempt budget,
// and then do all of their work; the creator's items are whole.
TEST_F(NfsStoreLeaseTest, CreatorKilledWithItsWorkstation) {
  constexpr int kWorkers = 2;
  constexpr int kOperations = 12;
  auto creator = start_on(0, "nfs_stopped_creator", {});
  ASSERT_TRUE(creator->wait_ready());
  env().kill_workstation(0);
  auto killed = Clock::now();
  int fd = plat_sopen(ctl_on(drive(1)).c_str(), CLASSIC_O_RDWR | CLASSIC_O_BINARY, PLAT_SH_DENYRW,
                      CLASSIC_S_IREAD | CLASSIC_S_IWRITE);
  EXPECT_LT(fd, 0) << "the dead workstation's hold was gone at once";
  if (fd >= 0) plat_close(fd);

  Model model = {{"WARM", "warm bytes"}, {"DOOMED", "doomed bytes"}};
  std::vector<std::unique_ptr<Helper>> workers;
  for (int i = 0; i < kWorkers; ++i) {
    Model left;
    plan_of(100 + i, kOperations, &left);
    model.insert(left.begin(), left.end());
    workers.push_back(start_on(1, "nfs_store_worker", {std::to_string(100 + i), std::to_string(kOperations)}));
  }
  for (auto& w : workers) EXPECT_EQ(w->finish(600000), 0);
  double seconds = std::chrono::duration<double>(Clock::now() - killed).count();
  std::printf("[   NFS    ] workstation killed; %d programs, %d operations done %.1f s later (lease %d s)\n",
              kWorkers, kWorkers * kOperations, seconds, env().lease_seconds());
  EXPECT_GE(seconds, env().lease_seconds() / 2.0);

  expect_area(model, 1);  // only workstation 1 is left to look
  // The creator waits on a dead mount; released, it fails there and ends.
  creator->finish(10000);
}
