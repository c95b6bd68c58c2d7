// OS operations that only the tests and the benchmarks need: a fresh store
// root per test (on Windows: C:\userroot, drives A:, B:, D: and the
// library's registry keys emptied) and second processes started, waited for
// and killed.  They are built into the test-support library alone, never into
// the library or the command: no product binary can empty a store or kill a
// process.
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

// Gives drive letter a file system of its own of the given size (on Linux a
// tmpfs mounted in the test's store root, which needs root); then
// plat_test_drive_read_only makes it read-only.  False and why when that
// cannot be done here.  plat_test_drop_root unmounts it.
bool plat_test_mount_drive(char letter, size_t bytes, std::string* why);
bool plat_test_drive_read_only(char letter, std::string* why);

// Faults: the test-support side of plat_hooks::fault.  plat_test_fault_hook
// counts every call that changes a file; a plan set by plat_test_faults
// makes the fail_at-th counted call fail with error (fail_at > 0), or ends
// the process at the crash_at-th as a crash would, before the call is made
// (crash_at > 0).  Setting a plan starts the count again.
int plat_test_fault_hook(const char* call);
void plat_test_faults(long fail_at, int error, long crash_at);
// The calls counted since the plan was set, by name, in order.
long plat_test_fault_count();
const std::vector<std::string>& plat_test_fault_calls();
// Calls into the platform layer: plat_test_count_hook hears of each (a
// plat_hooks::count); plat_test_count_calls starts the count again.
void plat_test_count_hook(const char* call);
void plat_test_count_calls();
long plat_test_call_count();
// The calls counted, by name, in order.
const std::vector<std::string>& plat_test_calls();

// The exit code of a process ended by a planned crash.
constexpr int PLAT_TEST_CRASH_EXIT = 86;

// An interrupt request to this process, as Ctrl-C sends it.
void plat_test_interrupt();

// Takes the right to write the file at path (a Windows-form path) away;
// false where that cannot be done.
bool plat_test_deny_writes(const char* path);

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
// Pauses for ms milliseconds of real time, whatever sleep hook is installed.
void plat_test_real_sleep(uint32_t ms);
// True when this Windows program runs under wine, whose file system keeps a
// few habits of the Linux one below it.
bool plat_test_under_wine();
// Ends this process at once, as a crash would: nothing is flushed or closed
// by the program itself.
[[noreturn]] void plat_exit_now(int code);

