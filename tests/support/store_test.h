// The fixture of every test that touches a store: a fresh store root, fresh
// process-wide state of the library, and hooks that count pauses, fix the
// clocks and catch pop-ups instead of showing them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "errlog/log_format.h"

namespace testenv {

// Pauses asked for through the sleep hook (milliseconds), in order.
extern std::vector<uint32_t> pauses;
// Called at every pause after it is counted (a test can end a second
// process's hold there); empty by default.
extern std::function<void()> on_pause;
// Message boxes shown: caption, a newline, then the text.
extern std::vector<std::string> popups;
// The values the clock hooks return; 0 means the real clock.
extern uint32_t fixed_time;
extern uint32_t fixed_ticks;

// The native path of a Windows-form path.
std::string native(const std::string& path);
bool exists(const std::string& path);
// Makes every missing folder of path.
void make_dirs(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);

// The records the error log keeps, oldest first, and just their codes.
std::vector<LOG_RECORD> log_records();
std::vector<int> log_codes();

}  // namespace testenv

// Every layer's process-wide state back to its value at load, with the test
// hooks (counted pauses, fixed clocks, caught pop-ups) installed again.
void reset_library_state();

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};

