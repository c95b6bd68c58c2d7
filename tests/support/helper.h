// A second process for the cross-process cases: the test program started
// again in helper mode, running one named helper function that can hold a
// file or a lock until released, or die while holding it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using HelperFunction = int (*)(const std::vector<std::string>& args);

struct HelperRegistration {
  HelperRegistration(const char* name, HelperFunction fn);
};

// Defines a helper: CLASSIC_HELPER(hold_file) { ... return 0; }
#define CLASSIC_HELPER(name)                                                   \
  static int helper_##name(const std::vector<std::string>& args);              \
  static const HelperRegistration helper_registration_##name(#name, helper_##name); \
  static int helper_##name([[maybe_unused]] const std::vector<std::string>& args)

// Inside a helper: tells the test that the helper holds what it should.
void helper_ready();
// Inside a helper: waits until the test releases it (at most a minute).
void helper_wait_release();
// Inside a helper: ends the process at once, as a crash would.
[[noreturn]] void helper_die();

// In a test: the running helper process.
class Helper {
 public:
  Helper(const std::string& name, const std::vector<std::string>& args);
  ~Helper();
  Helper(const Helper&) = delete;
  Helper& operator=(const Helper&) = delete;

  // Waits until the helper reports ready; false when it ended or timed out.
  bool wait_ready(uint32_t timeout_ms = 30000);
  // Lets the helper go on past helper_wait_release.
  void release();
  // Waits for the end; the exit code, or -1 on time-out.
  int finish(uint32_t timeout_ms = 30000);
  // Ends the helper at once, as a crash would; false when it had ended by
  // itself (finish then gives its exit code).
  bool kill();

 private:
  intptr_t process_ = 0;
  int exit_code_ = -1;  // once the process has ended by itself
  std::string ready_;
  std::string release_;
};

// Runs a helper when argv asks for one; returns -1 when it does not.
int run_helper_if_asked(int argc, char** argv);
