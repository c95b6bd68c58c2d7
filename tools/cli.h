// The classic command: everything but main, so that the tests run it in
// their own process.
#pragma once

#include <ostream>

// Runs the command with argv; what it prints goes to out and err.  The exit
// status: 0 done, 1 an operation failed, 2 bad arguments.
int classic_tool(int argc, char** argv, std::ostream& out, std::ostream& err);
