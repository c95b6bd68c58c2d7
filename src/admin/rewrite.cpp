// Files an administrative change writes.
#include "admin/rewrite.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "admin/admin.h"
#include "platform/platform.h"

namespace {

constexpr int kNewFileFlags = CLASSIC_O_CREAT | CLASSIC_O_EXCL | CLASSIC_O_WRONLY | CLASSIC_O_BINARY;
constexpr int kPermission = CLASSIC_S_IREAD | CLASSIC_S_IWRITE;

// The folder part of a path, with its separator, and the name after it.
std::string folder_of(const std::string& path) { return path.substr(0, path.find_last_of("\\/") + 1); }
std::string base_of(const std::string& path) { return path.substr(path.find_last_of("\\/") + 1); }

std::string stamp() {
  std::tm tm;
  std::memset(&tm, 0, sizeof tm);
  plat_localtime32(plat_time32(), &tm);
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d-%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  return text;
}

}  // namespace

bool write_new_file(const std::string& path, const std::string& bytes) {
  int fd = plat_sopen(path.c_str(), kNewFileFlags, PLAT_SH_DENYRW, kPermission);
  if (fd < 0) return false;
  bool whole = true;
  for (size_t at = 0; whole && at < bytes.size();) {
    unsigned n = static_cast<unsigned>(std::min<size_t>(bytes.size() - at, 1u << 20));
    whole = plat_write(fd, bytes.data() + at, n) == static_cast<int>(n);
    at += n;
  }
  if (whole) plat_commit(fd);
  plat_close(fd);
  if (!whole) plat_unlink(path.c_str());
  return whole;
}

std::string free_name(const std::string& path, const char* ext) {
  std::string head = folder_of(path) + "~" + base_of(path) + "." + stamp();
  for (int n = 1;; ++n) {
    std::string name = head + (n == 1 ? std::string() : "-" + std::to_string(n)) + "." + ext;
    std::string file = admin_translate(name);
    if (file.empty() || plat_access(file.c_str(), 0) != 0) return name;
  }
}

bool replace_control_file(const CtlImage& image, const std::string& bytes, std::string* why) {
  std::string temp = admin_translate(free_name(image.path, "new"));
  if (temp.empty() || !write_new_file(temp, bytes)) {
    *why = "its new version could not be written";
    return false;
  }
  std::string backup;
  if (image.state != FileState::Missing) {
    backup = admin_translate(free_name(image.path, "bak"));
    if (backup.empty() || plat_rename(image.file.c_str(), backup.c_str()) != 0) {
      plat_unlink(temp.c_str());
      *why = "cannot be put aside: left as it is";
      return false;
    }
  }
  if (plat_rename(temp.c_str(), image.file.c_str()) != 0) {
    if (!backup.empty()) plat_rename(backup.c_str(), image.file.c_str());
    plat_unlink(temp.c_str());
    *why = "its new version cannot be put in place: left as it is";
    return false;
  }
  return true;
}
