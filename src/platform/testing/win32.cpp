// Test support on Windows: an emptied store inside the test sandbox (a wine
// prefix made for the run) and second processes.
#include "platform/win32/win32.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/testing/testing.h"

namespace {

// Removes a tree, read-only files in it too (a test may have made one so
// with plat_test_deny_writes, and Windows removes no read-only file).
void remove_tree(const std::filesystem::path& top) {
  std::error_code ec;
  if (!std::filesystem::exists(top, ec)) return;
  for (auto it = std::filesystem::recursive_directory_iterator(top, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code ignored;
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add, ignored);
  }
  std::filesystem::remove_all(top, ec);
}

void empty_folder(const std::filesystem::path& folder) {
  std::error_code ec;
  if (!std::filesystem::exists(folder, ec)) return;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
    remove_tree(e.path());
  }
}

}  // namespace

bool plat_test_fresh_root(std::string* error) {
  const char* sandbox = std::getenv("CLASSIC_TEST_SANDBOX");
  if (!sandbox || std::string(sandbox) != "1") {
    if (error) *error = "the tests empty C:\\userroot: run them only with CLASSIC_TEST_SANDBOX=1";
    return false;
  }
  remove_tree("C:\\userroot");
  unsigned long drives = GetLogicalDrives();
  for (char d : {'A', 'B', 'D'}) {
    if (drives & (1ul << (d - 'A'))) empty_folder(std::string(1, d) + ":\\");
  }
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Halvorn");
  return true;
}

void plat_test_drop_root() {}

// The drives of the wine prefix belong to the run's set-up.
bool plat_test_remove_drive(char) { return false; }

bool plat_test_mount_drive(char, size_t, std::string* why) {
  *why = "no scratch file systems on Windows";
  return false;
}

bool plat_test_drive_read_only(char, std::string* why) {
  *why = "no scratch file systems on Windows";
  return false;
}

bool plat_test_deny_writes(const char* path) { return _chmod(path, _S_IREAD) == 0; }

void plat_test_interrupt() { std::raise(SIGINT); }

std::string plat_self_path() {
  char buf[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
  return std::string(buf, n);
}

namespace {

// Quotes one argument the way the C runtime splits a command line.
std::string quote(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t slashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++slashes;
      continue;
    }
    if (c == '"') out.append(slashes * 2 + 1, '\\');
    else out.append(slashes, '\\');
    slashes = 0;
    out += c;
  }
  out.append(slashes * 2, '\\');
  out += '"';
  return out;
}

}  // namespace

intptr_t plat_spawn(const std::vector<std::string>& args) {
  std::string cmd;
  for (const std::string& a : args) {
    if (!cmd.empty()) cmd += ' ';
    cmd += quote(a);
  }
  std::vector<char> line(cmd.begin(), cmd.end());
  line.push_back(0);
  STARTUPINFOA si;
  ZeroMemory(&si, sizeof si);
  si.cb = sizeof si;
  PROCESS_INFORMATION pi;
  if (!CreateProcessA(args[0].c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &si, &pi)) {
    return 0;
  }
  CloseHandle(pi.hThread);
  return reinterpret_cast<intptr_t>(pi.hProcess);
}

int plat_wait(intptr_t process, uint32_t timeout_ms) {
  HANDLE h = reinterpret_cast<HANDLE>(process);
  if (WaitForSingleObject(h, timeout_ms) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  GetExitCodeProcess(h, &code);
  CloseHandle(h);
  return static_cast<int>(code);
}

void plat_kill(intptr_t process) {
  HANDLE h = reinterpret_cast<HANDLE>(process);
  TerminateProcess(h, 9);
  WaitForSingleObject(h, INFINITE);
  CloseHandle(h);
}

void plat_test_real_sleep(uint32_t ms) { Sleep(ms); }

bool plat_test_under_wine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void plat_exit_now(int code) {
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
  for (;;) Sleep(1000);
}

