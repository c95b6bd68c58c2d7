// The classic command as a function, so that a program (the command's own
// main, or the tests) can run it in-process on streams of its choice.
#pragma once

#include <iosfwd>

// Where the command reads and how it may draw.
struct ToolConsole {
  std::istream* in = nullptr;  // what "-" reads (nothing when null)
  bool terminal = false;       // output is a terminal: progress bars are drawn
};

// Exit statuses of the command.
constexpr int TOOL_OK = 0;       // everything asked for was done
constexpr int TOOL_FAILED = 1;   // an operation failed (its reason was shown)
constexpr int TOOL_USAGE = 2;    // the arguments were wrong (usage was shown)
constexpr int TOOL_INTERRUPTED = 130;  // stopped by an interrupt after the item in hand

// Runs the command line argv (argv[0] is the program); results go to out,
// messages to err.  Returns the exit status; never throws.
int classic_tool(int argc, char** argv, std::ostream& out, std::ostream& err,
                 const ToolConsole& console = {});
