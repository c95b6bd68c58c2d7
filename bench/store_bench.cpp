// The store against SQLite, operation by operation, at 100, 1,000, 10,000
// and 32,000 items of 1 KB.  Each operation opens its store the way a host
// program does: classic through its one session per call, SQLite opening
// its database per operation (synchronous=FULL), in both of its usual
// schemas (a WITHOUT ROWID table keyed by name, and a rowid table with a
// unique index on the name); the better of the two is the one compared.
// Names are taken in a fixed pseudo-random order.
//
// Google Benchmark times each operation by the wall clock (waits for the
// disk count); afterwards a table gives, per operation and size, the rates,
// classic's speed over SQLite's, and the system calls one operation makes
// (counted by tracing a child process that repeats it) against the fewest
// the protocol needs.
//
//   classic_bench [--sizes=100,1000] [google benchmark flags]
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "classic.h"
#include "platform/platform.h"
#include "platform/testing/testing.h"

namespace {

const std::string kArea = "c:\\userroot\\storage\\bench";
const std::string kCtl = kArea + "\\data\\piece.ctl";
const char* kPattern = "piece%c%c%c.pce";
const std::string kItem(1024, 'x');

std::vector<long> g_sizes = {100, 1000, 10000, 32000};

void make_dirs(const std::string& path) {
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '\\') {
      std::string prefix = path.substr(0, i);
      if (prefix.size() > 2) plat_mkdir(prefix.c_str());
    }
  }
}

// The i-th name of a store of n items, in a fixed order that visits every
// one of them once (64-bit arithmetic: 7919 * 32000 overflows no int64).
std::string name_at(long i, long n) {
  int64_t k = (static_cast<int64_t>(i) * 7919 + 13) % n;
  char name[24];
  std::snprintf(name, sizeof name, "ITEM%07lld", static_cast<long long>(k * 2));
  return name;
}

// A name no store holds: between two stored ones.
std::string new_name(long i) {
  char name[24];
  std::snprintf(name, sizeof name, "ITEM%07ld", (i * 7919 % 1000000) * 2 + 1);
  return name;
}

// ---------------------------------------------------------------------------
// classic
// ---------------------------------------------------------------------------

bool classic_put(const std::string& name) {
  FILE* s = nullptr;
  if (classic_open_item(kCtl.c_str(), name.c_str(), ITEM_WRITE | ITEM_CREATE, kPattern, &s, nullptr,
                        nullptr) != CLASSIC_OK) {
    return false;
  }
  std::fwrite(kItem.data(), 1, kItem.size(), s);
  return classic_close_item(kCtl.c_str(), name.c_str(), s) == CLASSIC_OK;
}

bool classic_get(const std::string& name) {
  FILE* s = nullptr;
  if (classic_open_item(kCtl.c_str(), name.c_str(), 0, kPattern, &s, nullptr, nullptr) != CLASSIC_OK) return false;
  char buf[1024];
  bool ok = std::fread(buf, 1, sizeof buf, s) == sizeof buf;
  return classic_close_item(kCtl.c_str(), name.c_str(), s) == CLASSIC_OK && ok;
}

long classic_list() {
  long offset = 0, position = 0, listed = 0;
  char more = 1;
  int status = CLASSIC_OK;
  while (more && status == CLASSIC_OK) {
    CTRL_ENTRY_INFO* head = classic_return_item_list(kCtl.c_str(), "*", &offset, &position, &more, &status);
    for (CTRL_ENTRY_INFO* e = head; e; e = e->next) ++listed;
    classic_free_item_list(head);
  }
  return listed;
}

void classic_store(long n) {
  std::string error;
  if (!plat_test_fresh_root(&error)) std::fprintf(stderr, "%s\n", error.c_str());
  make_dirs(kArea + "\\data");
  make_dirs("c:\\userroot\\system\\error");
  classic_create_control_file(kCtl.c_str());
  for (long i = 0; i < n; ++i) classic_put(name_at(i, n));
}

// ---------------------------------------------------------------------------
// SQLite
// ---------------------------------------------------------------------------

struct Schema {
  const char* name;
  const char* create;
};

const Schema kSchemas[] = {
    {"sqlite-without-rowid", "CREATE TABLE items(name TEXT PRIMARY KEY, data BLOB) WITHOUT ROWID"},
    {"sqlite-rowid-index",
     "CREATE TABLE items(id INTEGER PRIMARY KEY, name TEXT NOT NULL, data BLOB);"
     "CREATE UNIQUE INDEX items_name ON items(name)"},
};

std::string g_db;

sqlite3* db_open() {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(g_db.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "cannot open %s\n", g_db.c_str());
    std::exit(1);
  }
  sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
  return db;
}

// Runs sql with one text parameter (and the item as a blob when asked).
int db_run(sqlite3* db, const char* sql, const std::string& name, bool with_item, long* rows = nullptr) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) return SQLITE_ERROR;
  if (!name.empty()) sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
  if (with_item) sqlite3_bind_blob(st, 2, kItem.data(), static_cast<int>(kItem.size()), SQLITE_STATIC);
  int r;
  long n = 0;
  while ((r = sqlite3_step(st)) == SQLITE_ROW) {
    if (sqlite3_column_count(st) > 0) benchmark::DoNotOptimize(sqlite3_column_blob(st, 0));
    ++n;
  }
  sqlite3_finalize(st);
  if (rows) *rows = n;
  return r == SQLITE_DONE ? SQLITE_OK : r;
}

void sqlite_store(const Schema& schema, long n) {
  std::string error;
  if (!plat_test_fresh_root(&error)) std::fprintf(stderr, "%s\n", error.c_str());
  g_db = plat_native_path("c:\\bench.db");
  sqlite3* db = db_open();
  sqlite3_exec(db, schema.create, nullptr, nullptr, nullptr);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  for (long i = 0; i < n; ++i) db_run(db, "INSERT INTO items(name, data) VALUES(?1, ?2)", name_at(i, n), true);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

bool sqlite_op(const char* sql, const std::string& name, bool with_item, long want_rows = -1) {
  sqlite3* db = db_open();
  long rows = 0;
  bool ok = db_run(db, sql, name, with_item, &rows) == SQLITE_OK && (want_rows < 0 || rows == want_rows);
  sqlite3_close(db);
  return ok;
}

// ---------------------------------------------------------------------------
// The operations
// ---------------------------------------------------------------------------

// One engine's way of doing one operation: a store of n items to start
// from, the i-th operation, and what puts the store back after it (not
// timed; null when nothing need be put back).
struct Work {
  std::function<void(long n)> store;
  std::function<bool(long i, long n)> op;
  std::function<void(long i, long n)> undo;
};

const char* const kOps[] = {"lookup", "read", "create", "delete", "list", "undelete", "rename", "attribute"};

bool classic_work(const std::string& op, Work* w) {
  w->store = classic_store;
  const char* ctl = kCtl.c_str();
  if (op == "lookup") {
    w->op = [ctl](long i, long n) { return classic_lookup_item(ctl, name_at(i, n).c_str(), nullptr) == CLASSIC_OK; };
  } else if (op == "read") {
    w->op = [](long i, long n) { return classic_get(name_at(i, n)); };
  } else if (op == "create") {
    w->op = [](long i, long) { return classic_put(new_name(i)); };
  } else if (op == "delete") {
    w->op = [ctl](long i, long n) {
      return classic_delete_item(ctl, name_at(i, n).c_str(), kPattern) == CLASSIC_OK;
    };
    w->undo = [ctl](long i, long n) { classic_undelete_item(ctl, name_at(i, n).c_str(), kPattern); };
  } else if (op == "undelete") {
    w->op = [ctl](long i, long n) {
      return classic_undelete_item(ctl, name_at(i, n).c_str(), kPattern) == CLASSIC_OK;
    };
    // The item is deleted before each undeletion, untimed.
    w->undo = nullptr;
  } else if (op == "rename") {
    w->op = [ctl](long i, long n) {
      return classic_rename_item(ctl, name_at(i, n).c_str(), new_name(i).c_str(), kPattern) == CLASSIC_OK;
    };
    w->undo = [ctl](long i, long n) {
      classic_rename_item(ctl, new_name(i).c_str(), name_at(i, n).c_str(), kPattern);
    };
  } else if (op == "attribute") {
    w->op = [ctl](long i, long n) {
      return classic_set_attribute(ctl, kPattern, name_at(i, n).c_str(), static_cast<char>(i % 7)) == CLASSIC_OK;
    };
  } else if (op == "list") {
    w->op = [](long, long n) { return classic_list() == n; };
  } else {
    return false;
  }
  return true;
}

bool sqlite_work(const Schema& schema, const std::string& op, Work* w) {
  w->store = [&schema](long n) { sqlite_store(schema, n); };
  if (op == "lookup") {
    w->op = [](long i, long n) { return sqlite_op("SELECT length(data) FROM items WHERE name = ?1", name_at(i, n), false, 1); };
  } else if (op == "read") {
    w->op = [](long i, long n) { return sqlite_op("SELECT data FROM items WHERE name = ?1", name_at(i, n), false, 1); };
  } else if (op == "create") {
    w->op = [](long i, long) { return sqlite_op("INSERT INTO items(name, data) VALUES(?1, ?2)", new_name(i), true); };
  } else if (op == "delete") {
    w->op = [](long i, long n) { return sqlite_op("DELETE FROM items WHERE name = ?1", name_at(i, n), false); };
    w->undo = [](long i, long n) {
      sqlite_op("INSERT INTO items(name, data) VALUES(?1, ?2)", name_at(i, n), true);
    };
  } else if (op == "list") {
    w->op = [](long, long n) { return sqlite_op("SELECT name FROM items ORDER BY name", "", false, n); };
  } else {
    return false;
  }
  return true;
}

// Operations that change the store are repeated this often at most, so
// that the store stays near its size.
long changing_iterations(const std::string& op, long n) {
  if (op == "create") return std::max(50L, std::min(500L, n / 10));
  return std::min(500L, n);
}

bool changes(const std::string& op) { return op != "lookup" && op != "read" && op != "list"; }

void run_work(benchmark::State& state, const Work& w, const std::string& op, long n) {
  w.store(n);
  long i = 0;
  for (auto _ : state) {
    if (op == "undelete") {
      state.PauseTiming();
      classic_delete_item(kCtl.c_str(), name_at(i, n).c_str(), kPattern);
      state.ResumeTiming();
    }
    if (!w.op(i, n)) {
      state.SkipWithError("the operation failed");
      break;
    }
    if (w.undo) {
      state.PauseTiming();
      w.undo(i, n);
      state.ResumeTiming();
    }
    ++i;
  }
  state.SetItemsProcessed(state.iterations());
}

// ---------------------------------------------------------------------------
// System calls
// ---------------------------------------------------------------------------

// The system calls one operation makes: a child process builds the store,
// then repeats the operation under ptrace, which counts the calls (a store
// that changes by reps operations).  -1 when this system lets no process
// trace its child.
double syscalls_per_op(const Work& w, const std::string& op, long n, long reps) {
  pid_t child = fork();
  if (child == 0) {
    w.store(n);
    if (op == "undelete") {
      for (long i = 0; i < reps; ++i) classic_delete_item(kCtl.c_str(), name_at(i, n).c_str(), kPattern);
    }
    if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(2);
    raise(SIGSTOP);
    for (long i = 0; i < reps; ++i) w.op(i, n);
    _exit(0);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFSTOPPED(status)) return -1;
  long stops = 0;
  for (;;) {
    if (ptrace(PTRACE_SYSCALL, child, nullptr, nullptr) != 0) break;
    if (waitpid(child, &status, 0) != child || WIFEXITED(status) || WIFSIGNALED(status)) break;
    if (WIFSTOPPED(status) && WSTOPSIG(status) == SIGTRAP) ++stops;
  }
  // Entry and exit stop alike; the process's own exit is one call more.
  return (stops / 2.0 - 1) / static_cast<double>(reps);
}

// The fewest system calls the protocol needs, on Linux.  A session: open,
// share-mode lock, byte lock, the file's length, the trailer read, the mark
// written, one read per window of the binary search, the trailer written
// back, unlock, close.  An item adds its data file: open, share-mode lock,
// a read of header and data, close; a new item the slot taken (open, lock,
// header read and write, its flush to disk, close), its bytes written and
// its length put in the header.  Moving entries of the control file: a read
// and a write per 320 records.
double floor_of(const std::string& op, long n) {
  double windows = std::ceil(std::log2(std::max(2.0, n / 32.0))) + 1;
  double session = 9 + windows;
  double moves = 2 * std::ceil(n / 320.0 / 2);  // about half the file, on average
  if (op == "lookup" || op == "attribute") return session + (op == "attribute" ? 5 : 0);
  if (op == "read") return 2 * session + 4;
  if (op == "create") return 2 * session + 6 + 4 + 3 + moves;
  if (op == "delete") return session + 5 + moves;
  if (op == "undelete") return session + 1 + 5 + moves;
  if (op == "rename") return session + windows + 5 + moves;
  if (op == "list") return session - windows + std::ceil(n * 64.0 / (256 * 1024)) + 1;
  return 0;
}

// ---------------------------------------------------------------------------
// The table
// ---------------------------------------------------------------------------

struct Result {
  double rate = 0;  // operations per second
  bool ok = false;
};

std::map<std::string, Result> g_results;  // "engine/op/n"

class Collector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      Result& res = g_results[r.benchmark_name()];
      auto it = r.counters.find("items_per_second");
      res.ok = !r.error_occurred;
      res.rate = it != r.counters.end() ? it->second.value : 0;
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

double rate_of(const std::string& engine, const std::string& op, long n) {
  for (const auto& [name, res] : g_results) {
    if (name.rfind(engine + "/" + op + "/" + std::to_string(n), 0) == 0 && res.ok) return res.rate;
  }
  return 0;
}

void print_table() {
  std::printf("\n%-10s %7s %12s %12s %8s %10s %10s %6s\n", "operation", "n", "classic/s", "sqlite/s", "ratio",
              "calls/op", "floor", "x");
  for (const char* op : kOps) {
    for (long n : g_sizes) {
      double c = rate_of("classic", op, n);
      double s = std::max(rate_of("sqlite-without-rowid", op, n), rate_of("sqlite-rowid-index", op, n));
      Work w;
      classic_work(op, &w);
      long reps = std::string(op) == "list" ? 5 : 50;
      double calls = syscalls_per_op(w, op, n, reps);
      double fl = floor_of(op, n);
      char ratio[16] = "-", sq[16] = "-", x[16] = "-", callsText[16] = "-";
      if (s > 0) std::snprintf(ratio, sizeof ratio, "%.2fx", c / s);
      if (s > 0) std::snprintf(sq, sizeof sq, "%.0f", s);
      if (calls > 0) std::snprintf(callsText, sizeof callsText, "%.1f", calls);
      if (calls > 0 && fl > 0) std::snprintf(x, sizeof x, "%.2f", calls / fl);
      std::printf("%-10s %7ld %12.0f %12s %8s %10s %10.0f %6s\n", op, n, c, sq, ratio, callsText, fl, x);
    }
  }
}

void register_all() {
  for (long n : g_sizes) {
    for (const char* op : kOps) {
      Work w;
      if (!classic_work(op, &w)) continue;
      auto* b = benchmark::RegisterBenchmark(("classic/" + std::string(op) + "/" + std::to_string(n)).c_str(),
                                             [w, op = std::string(op), n](benchmark::State& st) {
                                               run_work(st, w, op, n);
                                             });
      if (changes(op)) b->Iterations(changing_iterations(op, n));
      b->Unit(benchmark::kMicrosecond)->UseRealTime();
      for (const Schema& schema : kSchemas) {
        Work sw;
        if (!sqlite_work(schema, op, &sw)) continue;
        auto* sb = benchmark::RegisterBenchmark(
            (std::string(schema.name) + "/" + op + "/" + std::to_string(n)).c_str(),
            [sw, op = std::string(op), n](benchmark::State& st) { run_work(st, sw, op, n); });
        if (changes(op)) sb->Iterations(changing_iterations(op, n));
        sb->Unit(benchmark::kMicrosecond)->UseRealTime();
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--sizes=", 8) == 0) {
      g_sizes.clear();
      for (const char* p = argv[i] + 8; *p;) {
        char* end = nullptr;
        g_sizes.push_back(std::strtol(p, &end, 10));
        p = *end ? end + 1 : end;
      }
      for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
      --argc;
      --i;
    }
  }
  benchmark::Initialize(&argc, argv);
  register_all();
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  print_table();
  benchmark::Shutdown();
  plat_test_drop_root();
  return 0;
}
