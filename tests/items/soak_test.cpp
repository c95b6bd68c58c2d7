// A soak: eight processes make a random mix of creations, replacements,
// reads, deletions, undeletions, renames and listings in one area, each on
// names of its own, while the test kills them at random and starts them
// again; after each kill a store keeper's check and repair run.  Each
// process keeps a journal of what it did and, after a failure or a kill,
// finds out from the store whether its last change took effect (it must be
// one or the other).  At the end every item the journals say is live is
// there with its bytes, and nothing else is live.
//
// make test runs a short soak; make soak a long one (CLASSIC_SOAK_OPS
// operations per process, CLASSIC_SOAK_KILLS kills), printing the rate and
// the kills survived.  Pauses of waits are shortened tenfold, so that the
// soak measures the store rather than its pauses.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "admin/admin.h"
#include "classic.h"
#include "platform/platform.h"
#include "platform/testing/testing.h"
#include "support/helper.h"
#include "support/items.h"
#include "support/store_test.h"

namespace {

constexpr int kWorkers = 8;
constexpr int kNamesPerWorker = 12;

std::string name_of(int worker, int i) { return "W" + std::to_string(worker) + "N" + std::to_string(i); }

// The bytes of version v of a name: their length and content follow from both.
std::string bytes_of(const std::string& name, long v) {
  std::mt19937 rng(static_cast<uint32_t>(std::hash<std::string>()(name) + static_cast<size_t>(v)));
  std::string b = name + "#" + std::to_string(v) + ":";
  b.append(rng() % 3000, static_cast<char>('a' + rng() % 26));
  return b;
}

// What one worker's names hold: the live bytes, and the deleted versions of
// each name, the newest last.  A creation or replacement that did not take
// effect may have left its new version behind as a deleted entry, or not:
// kMaybe stands for it, and the worker undeletes no name with kMaybe on top.
const std::string kMaybe = "\x01";

struct Model {
  std::map<std::string, std::string> live;
  std::map<std::string, std::vector<std::string>> deleted;
};

struct Op {
  std::string kind;  // create, replace, delete, undelete, rename
  std::string name, name2;
  long version = 0;
};

void apply(Model& m, const Op& op) {
  if (op.kind == "create") {
    m.live[op.name] = bytes_of(op.name, op.version);
  } else if (op.kind == "replace") {
    m.deleted[op.name].push_back(m.live[op.name]);
    m.live[op.name] = bytes_of(op.name, op.version);
  } else if (op.kind == "delete") {
    m.deleted[op.name].push_back(m.live[op.name]);
    m.live.erase(op.name);
  } else if (op.kind == "undelete") {
    m.live[op.name] = m.deleted[op.name].back();
    m.deleted[op.name].pop_back();
  } else if (op.kind == "rename") {
    m.live[op.name2] = m.live[op.name];
    m.live.erase(op.name);
  }
}

// Records the outcome of op: took effect (1) or not (0).
void settle(Model& m, const Op& op, int took) {
  if (took) {
    apply(m, op);
  } else if (op.kind == "create" || op.kind == "replace") {
    m.deleted[op.name].push_back(kMaybe);
  }
}

// The journal: "op KIND NAME NAME2 VERSION" before a change, then "= new" or
// "= old" once its outcome is known.  A kill may cut the last line short.
Model replay(const std::string& journal, Op* pending, long* last_version) {
  Model m;
  std::ifstream in(journal);
  std::string line;
  bool open = false;
  Op op;
  *last_version = 0;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string first;
    words >> first;
    if (first == "op") {
      Op next;
      if (!(words >> next.kind >> next.name >> next.name2 >> next.version)) break;  // cut short
      op = next;
      open = true;
      *last_version = std::max(*last_version, op.version);
    } else if (first == "=" && open) {
      std::string outcome;
      words >> outcome;
      if (outcome == "new" || outcome == "old") settle(m, op, outcome == "new");
      open = outcome != "new" && outcome != "old";
    }
  }
  if (pending) *pending = open ? op : Op{};
  return m;
}

// The live bytes of a name as the store has them ("" when it is not live),
// waiting out what the keeper does to the area meanwhile.
bool read_live(const std::string& name, std::string* bytes) {
  for (int attempt = 0; attempt < 200; ++attempt) {
    std::vector<char> raw;
    int r = classic_read_raw_item(kPieceCtl.c_str(), name.c_str(), kPiecePattern, raw);
    if (r == CLASSIC_OK || r == CLASSIC_NOT_FOUND) {
      *bytes = r == CLASSIC_OK ? std::string(raw.begin(), raw.end()) : std::string();
      if (r == CLASSIC_OK && bytes->empty()) *bytes = "(empty)";
      return true;
    }
    CTRL_ENTRY_INFO info{};
    if (r == CLASSIC_IO_ERROR && classic_lookup_item(kPieceCtl.c_str(), name.c_str(), &info) == CLASSIC_OK &&
        info.size == 0) {
      *bytes = "(empty)";
      return true;
    }
    plat_sleep(50);
  }
  return false;
}

// Whether op took effect, from the store: its names hold either the old or
// the new state, never anything else.  -1 when they hold neither.
int outcome(const Model& m, const Op& op) {
  Model after = m;
  apply(after, op);
  std::vector<std::string> names = {op.name};
  if (op.kind == "rename") names.push_back(op.name2);
  bool old_state = true, new_state = true;
  for (const std::string& n : names) {
    std::string now;
    if (!read_live(n, &now)) return -1;
    auto was = m.live.find(n);
    auto will = after.live.find(n);
    if (now != (was == m.live.end() ? "" : was->second)) old_state = false;
    if (now != (will == after.live.end() ? "" : will->second)) new_state = false;
  }
  return new_state ? 1 : old_state ? 0 : -1;
}

int run_op(const Op& op) {
  const char* ctl = kPieceCtl.c_str();
  if (op.kind == "create") return put_item(kPieceCtl, op.name, bytes_of(op.name, op.version));
  if (op.kind == "replace") {
    return put_item(kPieceCtl, op.name, bytes_of(op.name, op.version), ITEM_WRITE | ITEM_CREATE | ITEM_REPLACE);
  }
  if (op.kind == "delete") return classic_delete_item(ctl, op.name.c_str(), kPiecePattern);
  if (op.kind == "undelete") return classic_undelete_item(ctl, op.name.c_str(), kPiecePattern);
  return classic_rename_item(ctl, op.name.c_str(), op.name2.c_str(), kPiecePattern);
}

void shortened_pause(uint32_t ms) { plat_test_real_sleep(ms / 10); }

// The gate between the workers and the keeper: a worker holds byte w of the
// gate file while it makes an operation, and the keeper holds every byte
// while it repairs with force.  A forced repair takes an item open for
// writing for one whose writer is gone: it must not meet a live writer.  A
// killed worker's byte goes with it.
const std::string kGate = "d:\\soak.gate";

int open_gate() {
  return plat_sopen(kGate.c_str(), CLASSIC_O_RDWR | CLASSIC_O_CREAT | CLASSIC_O_BINARY, PLAT_SH_DENYNO,
                    CLASSIC_S_IREAD | CLASSIC_S_IWRITE);
}

void hold_gate_byte(int gate, int byte) {
  while (plat_lseek(gate, byte, SEEK_SET) != byte || plat_locking(gate, PLAT_LK_NBLCK, 1) != 0) {
    plat_test_real_sleep(2);
  }
}

void free_gate_byte(int gate, int byte) {
  plat_lseek(gate, byte, SEEK_SET);
  plat_locking(gate, PLAT_LK_UNLCK, 1);
}

}  // namespace

// One worker: args are its number, the operations to make and the journal.
// It picks up where its journal ends, after a kill too.
CLASSIC_HELPER(soak_worker) {
  const int w = std::stoi(args[0]);
  const long ops = std::stol(args[1]);
  const std::string journal = args[2];
  plat_hooks hooks{};
  hooks.sleep = shortened_pause;
  plat_set_hooks(&hooks);
  Op pending;
  long version = 0;
  Model m = replay(journal, &pending, &version);
  // Workers begin together once all have started, however slow starting
  // a process is here.
  helper_ready();
  helper_wait_release();
  std::ofstream out(journal, std::ios::app);
  long done = 0;
  {
    std::ifstream count(journal);
    for (std::string line; std::getline(count, line);) done += line.rfind("= ", 0) == 0;
  }
  const int gate = open_gate();
  if (gate < 0) return 25;
  if (!pending.kind.empty()) {
    hold_gate_byte(gate, w);
    int o = outcome(m, pending);
    if (o < 0) return 20;  // neither old nor new
    settle(m, pending, o);
    out << "= " << (o ? "new" : "old") << "\n" << std::flush;
    free_gate_byte(gate, w);
    ++done;
  }
  std::mt19937 rng(static_cast<uint32_t>(w * 7919 + done));
  for (; done < ops; ++done) {
    free_gate_byte(gate, w);
    hold_gate_byte(gate, w);
    std::string name = name_of(w, static_cast<int>(rng() % kNamesPerWorker));
    bool live = m.live.count(name) != 0;
    int pick = static_cast<int>(rng() % 100);
    Op op;
    op.name = name;
    op.name2 = "-";
    op.version = ++version;
    if (pick < 20) {
      // A read, or a listing of the worker's names: they must agree.
      if (live) {
        std::string now;
        if (read_live(name, &now) && now != m.live[name]) return 21;
      } else {
        long offset = 0, position = 0;
        char more = 0;
        int status = 0;
        std::string pattern = "W" + std::to_string(w) + "N*";
        CTRL_ENTRY_INFO* head =
            classic_return_item_list(kPieceCtl.c_str(), pattern.c_str(), &offset, &position, &more, &status);
        size_t listed = 0;
        for (CTRL_ENTRY_INFO* e = head; e; e = e->next) ++listed;
        classic_free_item_list(head);
        if (status == CLASSIC_OK && listed != m.live.size()) return 22;
      }
      out << "= read\n" << std::flush;
      continue;
    }
    if (!live) {
      bool undeletable = !m.deleted[name].empty() && m.deleted[name].back() != kMaybe;
      op.kind = (pick < 60 || !undeletable) ? "create" : "undelete";
    } else if (pick < 45) {
      op.kind = "replace";
    } else if (pick < 70) {
      op.kind = "delete";
    } else {
      std::string to = name_of(w, static_cast<int>(rng() % kNamesPerWorker));
      if (m.live.count(to)) {
        op.kind = "replace";
      } else {
        op.kind = "rename";
        op.name2 = to;
      }
    }
    out << "op " << op.kind << " " << op.name << " " << op.name2 << " " << op.version << "\n" << std::flush;
    int status = run_op(op);
    int o = status == CLASSIC_OK ? 1 : outcome(m, op);
    if (o < 0) return 23;
    if (status == CLASSIC_OK && outcome(m, op) != 1) {
      std::string now;
      read_live(op.name, &now);
      Model after = m;
      apply(after, op);
      std::fprintf(stderr, "worker %d: %s %s: store has %zu bytes '%.20s', expected %zu '%.20s'\n", w,
                   op.kind.c_str(), op.name.c_str(), now.size(), now.c_str(), after.live[op.name].size(),
                   after.live[op.name].c_str());
      return 24;  // done, yet not in the store
    }
    settle(m, op, o);
    out << "= " << (o ? "new" : "old") << "\n" << std::flush;
  }
  return 0;
}

namespace {

class SoakTest : public StoreTest {};

TEST_F(SoakTest, ProcessesKilledAtRandomLoseNothing) {
  const char* ops_env = std::getenv("CLASSIC_SOAK_OPS");
  const char* kills_env = std::getenv("CLASSIC_SOAK_KILLS");
  const long ops = ops_env ? std::atol(ops_env) : 40;
  const long kills = kills_env ? std::atol(kills_env) : 4;
  make_piece_store();
  ASSERT_EQ(classic_login_create("c:\\userroot\\storage\\work"), CLASSIC_OK);
  const int gate = open_gate();
  ASSERT_GE(gate, 0);
  std::vector<std::string> journals;
  std::vector<std::unique_ptr<Helper>> workers;
  auto start = [&](int w) {
    auto worker = std::make_unique<Helper>(
        "soak_worker", std::vector<std::string>{std::to_string(w), std::to_string(ops), journals[w]});
    EXPECT_TRUE(worker->wait_ready()) << "worker " << w;
    return worker;
  };
  for (int w = 0; w < kWorkers; ++w) {
    journals.push_back(testenv::native("d:\\soak-" + std::to_string(w) + ".journal"));
    workers.push_back(start(w));
  }
  for (auto& worker : workers) worker->release();
  auto started = std::chrono::steady_clock::now();
  std::mt19937 rng(42);
  long killed = 0;
  AdminScope scope;
  scope.area = "c:\\userroot\\storage\\work";
  std::vector<bool> ended(kWorkers, false);
  while (killed < kills) {
    plat_test_real_sleep(50 + rng() % 250);
    std::vector<int> running;
    for (int w = 0; w < kWorkers; ++w)
      if (!ended[w]) running.push_back(w);
    if (running.empty()) break;
    int w = running[rng() % running.size()];
    if (!workers[w]->kill()) {
      ended[w] = true;  // it finished first: its exit code is checked below
      continue;
    }
    ++killed;
    // The keeper's way out: clear what the dead process left behind.  The
    // session mark of the dead goes at once, so that nobody waits on it;
    // then, with every living worker between two operations, the rest.
    AdminRepairReport online;
    admin_repair(scope, AdminRepairOptions{}, &online);
    for (int b = 0; b < kWorkers; ++b) hold_gate_byte(gate, b);
    AdminRepairOptions options;
    options.force = true;
    AdminRepairReport report;
    EXPECT_EQ(admin_repair(scope, options, &report), 1);
    for (int b = 0; b < kWorkers; ++b) free_gate_byte(gate, b);
    workers[w] = start(w);
    workers[w]->release();
  }
  for (int w = 0; w < kWorkers; ++w) EXPECT_EQ(workers[w]->finish(600000), 0) << "worker " << w;
  plat_close(gate);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  // Every name holds what its worker's journal says, and nothing else is live.
  reset_library_state();
  AdminCheckReport check;
  ASSERT_EQ(admin_check(scope, &check), 1);
  EXPECT_TRUE(check.clean());
  for (const AdminFinding& f : check.findings) ADD_FAILURE() << f.code << " " << f.file << " " << f.entry << ": " << f.what;
  std::map<std::string, std::string> expected;
  for (int w = 0; w < kWorkers; ++w) {
    Op pending;
    long version = 0;
    Model m = replay(journals[w], &pending, &version);
    EXPECT_TRUE(pending.kind.empty()) << "worker " << w << " left " << pending.kind << " " << pending.name;
    expected.insert(m.live.begin(), m.live.end());
  }
  long offset = 0, position = 0;
  char more = 0;
  int status = 0;
  CTRL_ENTRY_INFO* head = classic_return_item_list(kPieceCtl.c_str(), "*", &offset, &position, &more, &status);
  std::vector<std::string> listed;
  for (CTRL_ENTRY_INFO* e = head; e; e = e->next) listed.emplace_back(e->name, strnlen(e->name, sizeof e->name));
  classic_free_item_list(head);
  EXPECT_EQ(listed.size(), expected.size());
  for (const std::string& name : listed) EXPECT_TRUE(expected.count(name)) << name << " is live, yet no journal made it";
  for (const auto& [name, bytes] : expected) EXPECT_EQ(get_item(kPieceCtl, name), bytes) << name;
  std::printf("soak: %d processes, %ld operations each, %.0f operations per second, %ld kills survived\n",
              kWorkers, ops, kWorkers * ops / seconds, killed);
}

}  // namespace
