// Running the classic command in-process, as the tests of the command do.
#pragma once

#include <string>
#include <vector>

#include "support/store_test.h"

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs "classic args..." with input as its standard input.
ToolRun run_tool(const std::vector<std::string>& args, const std::string& input = "",
                 bool terminal = false);

// Whether text holds wanted somewhere.
inline bool contains(const std::string& text, const std::string& wanted) {
  return text.find(wanted) != std::string::npos;
}

// A fresh store whose clock stands at kToolTime (local time is UTC in the
// tests), with the user id abc.
class ToolTest : public StoreTest {
 protected:
  void SetUp() override;
};

// 2023-11-14 22:13:20 UTC.
constexpr uint32_t kToolTime = 1700000000;
