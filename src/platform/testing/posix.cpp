// Test support on Linux: temporary store roots and second processes.
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/posix_paths.h"
#include "platform/testing/testing.h"

extern char** environ;

namespace {

std::string g_root;
// The folders mounted as drives of their own, unmounted with the root.
std::vector<std::string> g_mounts;

std::string mount_folder(char letter) {
  return g_root + "/mnt-" + static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
}

}  // namespace

bool plat_test_fresh_root(std::string* error) {
  plat_test_drop_root();
  const char* tmp = std::getenv("TMPDIR");
  std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/classic-test-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back(0);
  if (!mkdtemp(buf.data())) {
    if (error) *error = "cannot make a temporary folder from " + templ;
    return false;
  }
  g_root = buf.data();
  setenv("CLASSIC_ROOT", g_root.c_str(), 1);
  for (char c = 'a'; c <= 'z'; ++c) {
    unsetenv((std::string("CLASSIC_DRIVE_") + c).c_str());
    unsetenv((std::string("CLASSIC_DRIVE_") + static_cast<char>(c - 'a' + 'A')).c_str());
  }
  for (const char* drive : {"a", "b", "c", "d"}) {
    if (mkdir((g_root + "/" + drive).c_str(), 0777) != 0) {
      if (error) *error = "cannot make drive folder " + g_root + "/" + drive;
      return false;
    }
  }
  return true;
}

void plat_test_drop_root() {
  for (const std::string& folder : g_mounts) umount2(folder.c_str(), MNT_DETACH);
  g_mounts.clear();
  if (g_root.empty()) return;
  // CLASSIC_TEST_KEEP_ROOT keeps the store of the last test to look into.
  const char* keep = std::getenv("CLASSIC_TEST_KEEP_ROOT");
  std::error_code ec;
  if (keep && *keep) {
    std::filesystem::remove_all(keep, ec);
    std::filesystem::rename(g_root, keep, ec);
  }
  std::filesystem::remove_all(g_root, ec);
  g_root.clear();
}

bool plat_test_remove_drive(char letter) {
  if (g_root.empty()) return false;
  std::error_code ec;
  std::filesystem::remove_all(posix_drive_folder(letter), ec);
  return !ec;
}

bool plat_test_mount_drive(char letter, size_t bytes, std::string* why) {
  std::string folder = mount_folder(letter);
  if (g_root.empty() || mkdir(folder.c_str(), 0777) != 0) {
    *why = "cannot make " + folder;
    return false;
  }
  std::string options = "size=" + std::to_string(bytes);
  if (mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) != 0) {
    *why = "cannot mount a tmpfs on " + folder + ": " + std::strerror(errno) + " (it needs root)";
    return false;
  }
  g_mounts.push_back(folder);
  std::string var = std::string("CLASSIC_DRIVE_") + static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  setenv(var.c_str(), folder.c_str(), 1);
  return true;
}

bool plat_test_drive_read_only(char letter, std::string* why) {
  std::string folder = mount_folder(letter);
  if (mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
    *why = "cannot make " + folder + " read-only: " + std::strerror(errno);
    return false;
  }
  return true;
}

bool plat_test_deny_writes(const char* path) {
  return chmod(posix_map_path(path).c_str(), 0444) == 0;
}

void plat_test_interrupt() { std::raise(SIGINT); }

std::string plat_self_path() {
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : p.string();
}

intptr_t plat_spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, args[0].c_str(), nullptr, nullptr, argv.data(), environ) != 0) return 0;
  return static_cast<intptr_t>(pid);
}

int plat_wait(intptr_t process, uint32_t timeout_ms) {
  pid_t pid = static_cast<pid_t>(process);
  for (uint32_t waited = 0;; waited += 5) {
    int status = 0;
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) {
      if (WIFEXITED(status)) return WEXITSTATUS(status);
      return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    }
    if (r < 0 || waited >= timeout_ms) return -1;
    usleep(5000);
  }
}

void plat_kill(intptr_t process) {
  pid_t pid = static_cast<pid_t>(process);
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
}

void plat_test_real_sleep(uint32_t ms) { usleep(static_cast<useconds_t>(ms) * 1000); }

bool plat_test_under_wine() { return false; }

void plat_exit_now(int code) { _exit(code); }

