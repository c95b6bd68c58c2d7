// OS operations that only the tests and the command-line tool need: a fresh
// store root per test, the native form of a path, a second process, and the
// standard streams.
// Not exported from the shared library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Gives the process an empty store: on Linux a new temporary CLASSIC_ROOT
// holding the drive folders a, b, c and d; on Windows (only inside a test
// sandbox, CLASSIC_TEST_SANDBOX=1) C:\userroot and the roots of A:, B: and
// D: emptied and the library's registry keys removed.  False and a reason
// when it cannot.
bool plat_test_fresh_root(std::string* error);
// Removes what plat_test_fresh_root made (Linux) or leaves it (Windows).
void plat_test_drop_root();

// Takes drive letter away for the rest of the test, where that can be done
// (the drive folders of a test's store root on Linux); false elsewhere.
bool plat_test_remove_drive(char letter);

// The path a Windows-form path stands for on this system.
std::string plat_native_path(const char* path);

// The path of the running program.
std::string plat_self_path();

// Starts program with arguments args (args[0] is the program); returns a
// process handle, or 0 when it cannot be started.
intptr_t plat_spawn(const std::vector<std::string>& args);
// Waits up to timeout_ms for the process; its exit code, or -1 when it did
// not end in time (the handle then stays valid).
int plat_wait(intptr_t process, uint32_t timeout_ms);
// Ends the process at once and releases the handle.
void plat_kill(intptr_t process);
// Ends this process at once, as a crash would: nothing is flushed or closed
// by the program itself.
[[noreturn]] void plat_exit_now(int code);

// Makes standard output binary (no CR inserted before LF).
void plat_stdout_binary();
// Makes standard input binary (CR LF read as it is).
void plat_stdin_binary();
// True when descriptor fd (0 input, 1 output, 2 errors) is a terminal.
bool plat_isatty(int fd);
