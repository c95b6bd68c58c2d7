#include "store.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "ctl/types.h"
#include "platform/platform.h"

const char* status_text(int status) {
  switch (status) {
    case CLASSIC_OK: return "done";
    case CLASSIC_NO_MORE: return "no (more) items";
    case CLASSIC_OK_REMOVABLE: return "done, on a removable drive";
    case CLASSIC_NO_MEMORY: return "memory exhausted";
    case CLASSIC_IO_ERROR: return "read, write or open failure (or a damaged control file)";
    case CLASSIC_CANNOT_CREATE: return "control file cannot be created (it may exist already)";
    case CLASSIC_CANNOT_REMOVE: return "cannot be removed, or the path has no usable translation";
    case CLASSIC_ITEMS_OPEN: return "items of the control file are open";
    case CLASSIC_NAME_IN_USE: return "name already in use";
    case CLASSIC_NOT_FOUND: return "not found";
    case CLASSIC_RETRY: return "busy, try again";
    case CLASSIC_NOT_OPEN: return "item is not open";
    case CLASSIC_READERS_PRESENT: return "item stayed open for reading by others";
    case CLASSIC_LOCKED: return "item or control file stayed locked";
    case CLASSIC_BAD_VERSION: return "control file of another format version";
    case CLASSIC_CANNOT_OPEN: return "control file cannot be opened (missing or held by another program)";
    case CLASSIC_AREA_LOCKED: return "area is locked";
    case CLASSIC_LOGINS_PRESENT: return "logins present; lock not forced";
    case CLASSIC_LOCK_FORCED: return "area locked over logins (login files removed)";
    case CLASSIC_OPEN_ITEMS: return "a control file had open items";
    case CLASSIC_NO_AREA_LOCK: return "area is not locked";
    case CLASSIC_CTL_FULL: return "control file full";
    default: return "unknown status";
  }
}

std::string area_path(const std::string& area, char drive) {
  if (area.find_first_of("\\/:") != std::string::npos) return area;
  return std::string(1, drive) + ":\\userroot\\storage\\" + area;
}

const std::vector<ToolType>& tool_types() {
  static const std::vector<ToolType> types = [] {
    std::vector<ToolType> out;
    for (const ItemType& t : g_item_types) {
      std::string ctl = t.ctl_name, pattern = t.pattern;
      std::string ext = pattern.substr(pattern.rfind('.') + 1);
      out.push_back({ctl.substr(0, ctl.size() - 4), ctl, pattern, ext == "par" ? "PARAM" : "DATA", ext});
    }
    return out;
  }();
  return types;
}

const ToolType* find_tool_type(const std::string& name) {
  std::string n;
  for (char c : name) n += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (n.size() > 4 && n.compare(n.size() - 4, 4, ".ctl") == 0) n.resize(n.size() - 4);
  for (const ToolType& t : tool_types()) {
    if (t.name == n) return &t;
  }
  return nullptr;
}

std::string ctl_path(const std::string& area, const ToolType& type) {
  return area + "\\" + type.folder + "\\" + type.ctl;
}

bool path_exists(const std::string& path) { return plat_access(path.c_str(), 0) == 0; }

void make_folders(const std::string& path) {
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i != path.size() && path[i] != '\\' && path[i] != '/') continue;
    std::string prefix = path.substr(0, i);
    if (prefix.empty() || (prefix.size() == 2 && prefix[1] == ':')) continue;
    if (!path_exists(prefix)) plat_mkdir(prefix.c_str());
  }
}

bool read_store_file(const std::string& path, std::string* bytes) {
  int fd = plat_sopen(path.c_str(), CLASSIC_O_RDONLY | CLASSIC_O_BINARY, PLAT_SH_DENYNO, 0);
  if (fd < 0) return false;
  bytes->clear();
  char buf[8192];
  int n;
  while ((n = plat_read(fd, buf, sizeof buf)) > 0) bytes->append(buf, static_cast<size_t>(n));
  plat_close(fd);
  return n == 0;
}

std::string time_text(uint32_t t) {
  if (t == 0) return "-";
  std::tm tm;
  std::memset(&tm, 0, sizeof tm);
  if (plat_localtime32(t, &tm) != 0) return "?";
  char buf[80];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

namespace {

constexpr const char* kUserKey = "Software\\Halvorn";

}  // namespace

std::string read_user() {
  plat_hkey key = nullptr;
  if (plat_reg_open_key(plat_hkey_current_user(), kUserKey, PLAT_KEY_READ, &key) != PLAT_ERROR_SUCCESS) {
    return "";
  }
  char buf[64] = {};
  unsigned long type = 0, size = sizeof buf - 1;
  long r = plat_reg_query_value(key, "UserId", &type, buf, &size);
  plat_reg_close_key(key);
  return r == PLAT_ERROR_SUCCESS ? std::string(buf, strnlen(buf, size)) : "";
}

bool write_user(const std::string& id) {
  plat_hkey key = nullptr;
  if (plat_reg_create_key(plat_hkey_current_user(), kUserKey, &key) != PLAT_ERROR_SUCCESS) return false;
  long r = plat_reg_set_value(key, "UserId", PLAT_REG_SZ, id.c_str(),
                              static_cast<unsigned long>(id.size() + 1));
  plat_reg_close_key(key);
  return r == PLAT_ERROR_SUCCESS;
}

bool register_area(char drive, const std::string& area) {
  std::string path = std::string("Software\\Halvorn\\Quillmere\\") + drive + ":\\" + area;
  plat_hkey key = nullptr;
  if (plat_reg_create_key(plat_hkey_current_user(), path.c_str(), &key) != PLAT_ERROR_SUCCESS) return false;
  uint32_t version = 4;
  long r = plat_reg_set_value(key, "Version", PLAT_REG_DWORD, &version, sizeof version);
  plat_reg_close_key(key);
  return r == PLAT_ERROR_SUCCESS;
}
