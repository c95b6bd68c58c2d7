// The paths of this system, the cause of the last failure and the console.
#include <cstring>
#include <ctime>

#include "admin/admin.h"
#include "base/lockfile.h"
#include "base/names.h"
#include "base/text.h"
#include "platform/platform.h"

std::string admin_translate(const std::string& path) {
  char out[XLAT_PATH_SIZE];
  if (classic_netxlat(path.c_str(), out) != CLASSIC_OK) return std::string();
  return out;
}

bool admin_store_exists(const std::string& path) {
  std::string t = admin_translate(path);
  return !t.empty() && plat_access(t.c_str(), 0) == 0;
}

std::string admin_native_path(const std::string& path) { return plat_native_path(path.c_str()); }

std::string admin_local_time(uint32_t t) {
  char text[64];
  format_local_time(t, text, sizeof text);
  return text;
}

void admin_clear_cause() { plat_set_cause(nullptr); }

std::string admin_cause() {
  plat_cause cause;
  if (!plat_get_cause(&cause)) return std::string();
  std::string text = cause.text;
  if (cause.path[0]) text += std::string(": ") + cause.path;
  return text;
}

int admin_cause_errno() {
  plat_cause cause;
  return plat_get_cause(&cause) ? cause.error : 0;
}

void admin_observe_waits(AdminWaitObserver observer) { set_wait_observer(observer); }

void admin_catch_interrupts() { plat_catch_interrupts(); }

int admin_interrupts() { return plat_interrupts(); }

void admin_binary_console() {
  plat_stdout_binary();
  plat_stdin_binary();
}

bool admin_is_terminal(int fd) { return plat_isatty(fd); }
