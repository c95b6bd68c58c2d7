// A bounded fuzz run in every build: each target gets its sound input and a
// few hundred mutations of it (bits flipped, bytes and numbers set to values
// at the edges, records cut, doubled and appended), deterministically, under
// whatever sanitizers the build has.  CLASSIC_FUZZ_RUNS sets the number of
// mutations per target.  The long run is make fuzz, with libFuzzer.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "fuzz/targets.h"
#include "support/store_test.h"

namespace {

std::string mutate(std::string s, std::mt19937& rng) {
  auto pick = [&](size_t n) { return n ? static_cast<size_t>(rng() % n) : 0; };
  const int32_t edges[] = {0, -1, 1, 0x7FFFFFFF, -0x7FFFFFFF - 1, 528, 527, 0x7FFFFFF0, 64, 32767, -128};
  int changes = 1 + static_cast<int>(rng() % 4);
  for (int c = 0; c < changes; ++c) {
    switch (rng() % 7) {
      case 0:  // a bit
        if (!s.empty()) s[pick(s.size())] ^= static_cast<char>(1 << (rng() % 8));
        break;
      case 1:  // a byte at an edge
        if (!s.empty()) s[pick(s.size())] = static_cast<char>("\x00\xff\x7f\x80\x0d\x02"[rng() % 6]);
        break;
      case 2:  // a number at an edge
        if (s.size() >= 4) {
          int32_t v = edges[rng() % (sizeof edges / sizeof edges[0])];
          std::memcpy(&s[pick(s.size() - 3)], &v, 4);
        }
        break;
      case 3:  // cut
        s.resize(pick(s.size() + 1));
        break;
      case 4:  // bytes appended
        s.append(1 + pick(80), static_cast<char>(rng()));
        break;
      case 5:  // a record doubled
        if (s.size() >= 64) s.insert(pick(s.size() / 64) * 64, s.substr(pick(s.size() / 64) * 64, 64));
        break;
      default:  // a record cut out
        if (s.size() >= 128) s.erase(pick(s.size() / 64 - 1) * 64, 64);
        break;
    }
  }
  return s;
}

class FuzzTest : public StoreTest {};

TEST_F(FuzzTest, DamagedFilesNamesAndPatternsNeverCrash) {
  const char* env = std::getenv("CLASSIC_FUZZ_RUNS");
  const int runs = env ? std::atoi(env) : 100;
  for (const fuzz::TargetInfo& target : fuzz::targets()) {
    std::mt19937 rng(20261208);
    const std::string seed = target.seed();
    fuzz::make_store();
    target.run(reinterpret_cast<const uint8_t*>(seed.data()), seed.size());
    std::string input = seed;
    for (int i = 0; i < runs; ++i) {
      // Mostly from the seed, sometimes from the last mutant, so that damage
      // piles up too.
      input = mutate(rng() % 4 ? seed : input, rng);
      fuzz::make_store();
      target.run(reinterpret_cast<const uint8_t*>(input.data()), input.size());
    }
    SCOPED_TRACE(target.name);
  }
  reset_library_state();
}

}  // namespace
