// Fuzz targets: each takes bytes as one kind of file of a store (or as names
// and patterns), puts them in place beside sound files, and runs the
// library's operations on them.  Whatever the bytes, every operation must
// return, without a crash or a memory error; the library's waits must run
// through hooks that do not sleep.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

using Target = void (*)(const uint8_t* data, size_t size);

struct TargetInfo {
  const char* name;  // control, data, login, log, translation, names
  Target run;
  // A sound input of this kind, the start of every mutation.
  std::string (*seed)();
};

const std::vector<TargetInfo>& targets();
const TargetInfo* find_target(const std::string& name);

// Puts the store's sound files in place (drive C: must exist).
void make_store();

}  // namespace fuzz
