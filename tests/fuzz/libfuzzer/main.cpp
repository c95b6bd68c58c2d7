// A libFuzzer program for one target (CLASSIC_FUZZ_TARGET names it), for
// the long runs of make fuzz.  Each program works in a store root of its
// own, and the library's waits pass without sleeping.  With
// CLASSIC_FUZZ_SEED set to a file name it writes the target's sound input
// there and ends, to start a corpus.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/targets.h"
#include "platform/testing/testing.h"

namespace {

const fuzz::TargetInfo* g_target = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_target = fuzz::find_target(CLASSIC_FUZZ_TARGET);
  if (!g_target) std::abort();
  if (const char* seed_file = std::getenv("CLASSIC_FUZZ_SEED")) {
    std::string seed = g_target->seed();
    FILE* f = std::fopen(seed_file, "wb");
    if (!f || std::fwrite(seed.data(), 1, seed.size(), f) != seed.size() || std::fclose(f) != 0) std::exit(1);
    std::exit(0);
  }
  std::string why;
  if (!plat_test_fresh_root(&why)) {
    std::fprintf(stderr, "%s\n", why.c_str());
    std::abort();
  }
  fuzz::make_store();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  g_target->run(data, size);
  return 0;
}
