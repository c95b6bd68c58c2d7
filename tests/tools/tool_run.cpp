#include "tools/tool_run.h"

#include <sstream>

#include "classic_tool.h"

ToolRun run_tool(const std::vector<std::string>& args, const std::string& input, bool terminal) {
  std::vector<std::string> words = {"classic"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  std::istringstream in(input);
  std::ostringstream out, err;
  ToolConsole console;
  console.in = &in;
  console.terminal = terminal;
  console.progress = terminal;
  console.input_terminal = terminal;
  ToolRun r;
  r.status = classic_tool(static_cast<int>(words.size()), argv.data(), out, err, console);
  r.out = out.str();
  r.err = err.str();
  return r;
}

void ToolTest::SetUp() {
  StoreTest::SetUp();
  testenv::fixed_time = kToolTime;
  ASSERT_EQ(run_tool({"user", "abc"}).status, 0);
}
