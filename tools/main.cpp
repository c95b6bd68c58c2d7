// The classic command.
#include <iostream>

#include "classic_tool.h"
#include "platform/testing.h"

int main(int argc, char** argv) {
  plat_stdout_binary();
  plat_stdin_binary();
  ToolConsole console;
  console.in = &std::cin;
  console.terminal = plat_isatty(1);
  int status = classic_tool(argc, argv, std::cout, std::cerr, console);
  std::cout.flush();
  return status;
}
