// The paths of this system, the cause of the last failure and the console.
#include <cstring>
#include <ctime>

#include "admin/admin.h"
#include "base/names.h"
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
  if (t == 0) return "-";
  std::tm tm;
  std::memset(&tm, 0, sizeof tm);
  if (plat_localtime32(t, &tm) != 0) return "?";
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
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

void admin_binary_console() {
  plat_stdout_binary();
  plat_stdin_binary();
}

bool admin_is_terminal(int fd) { return plat_isatty(fd); }
