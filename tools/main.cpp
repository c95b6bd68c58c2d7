// The classic command.
#include <iostream>

#include "cli.h"

int main(int argc, char** argv) { return classic_tool(argc, argv, std::cout, std::cerr); }
