// The classic command.
#include <iostream>

#include "admin/admin.h"
#include "classic_tool.h"

int main(int argc, char** argv) {
  admin_binary_console();
  // Ctrl-C and SIGTERM stop a run between two items, never inside a call of
  // the library.
  admin_catch_interrupts();
  ToolConsole console;
  console.in = &std::cin;
  console.terminal = admin_is_terminal(1);
  int status = classic_tool(argc, argv, std::cout, std::cerr, console);
  std::cout.flush();
  return status;
}
