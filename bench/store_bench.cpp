// Benchmarks of the operations a host program repeats most: looking an item
// up by name in a large control file, creating items, reading a whole
// control file block by block, and opening and closing an item.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "classic.h"
#include "platform/platform.h"
#include "platform/testing/testing.h"

namespace {

const std::string kData = "c:\\userroot\\storage\\bench\\data\\";
const std::string kCtl = kData + "piece.ctl";
const char* kPattern = "piece%c%c%c.pce";

void make_dirs(const std::string& path) {
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '\\') {
      std::string prefix = path.substr(0, i);
      if (prefix.size() > 2) plat_mkdir(prefix.c_str());
    }
  }
}

std::string item_name(long i) {
  char name[24];
  std::snprintf(name, sizeof name, "ITEM%07ld", i);
  return name;
}

bool put(const std::string& name) {
  FILE* s = nullptr;
  if (classic_open_item(kCtl.c_str(), name.c_str(), ITEM_WRITE | ITEM_CREATE, kPattern, &s, nullptr,
                        nullptr) != CLASSIC_OK) {
    return false;
  }
  std::fputs(name.c_str(), s);
  return classic_close_item(kCtl.c_str(), name.c_str(), s) == CLASSIC_OK;
}

// A fresh store with a piece control file of n items.
void fresh_store(long n) {
  std::string error;
  if (!plat_test_fresh_root(&error)) std::fprintf(stderr, "%s\n", error.c_str());
  make_dirs(kData);
  make_dirs("c:\\userroot\\system\\error");
  classic_create_control_file(kCtl.c_str());
  for (long i = 0; i < n; ++i) put(item_name(i * 2));
}

void BM_LookupByName(benchmark::State& state) {
  long n = state.range(0);
  fresh_store(n);
  long i = 0;
  for (auto _ : state) {
    std::string name = item_name((i++ * 7919) % n * 2);
    benchmark::DoNotOptimize(classic_lookup_item(kCtl.c_str(), name.c_str(), nullptr));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LookupByName)->Arg(100)->Arg(2000);

void BM_CreateItems(benchmark::State& state) {
  fresh_store(0);
  long i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(put(item_name(i++)));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CreateItems)->Iterations(500);

void BM_ListAllBlocks(benchmark::State& state) {
  long n = state.range(0);
  fresh_store(n);
  for (auto _ : state) {
    long offset = 0, first = 0, listed = 0;
    CTRL_ENTRY_INFO* items = nullptr;
    while (classic_get_blk_items(kCtl.c_str(), "*", 42, &offset, &first, &items) == CLASSIC_OK) {
      for (CTRL_ENTRY_INFO* r = items; r; r = r->next) ++listed;
    }
    benchmark::DoNotOptimize(listed);
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_ListAllBlocks)->Arg(2000);

void BM_OpenCloseForReading(benchmark::State& state) {
  fresh_store(200);
  for (auto _ : state) {
    FILE* s = nullptr;
    classic_open_item(kCtl.c_str(), "ITEM0000100", 0, kPattern, &s, nullptr, nullptr);
    classic_close_item(kCtl.c_str(), "ITEM0000100", s);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OpenCloseForReading);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  plat_test_drop_root();
  return 0;
}
