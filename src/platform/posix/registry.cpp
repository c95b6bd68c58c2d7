// HKEY_CURRENT_USER on Linux: $CLASSIC_ROOT/registry/HKEY_CURRENT_USER.
//
// A key is a folder (sub-keys are sub-folders, matched without regard to
// case like file names); a value is a file in its key's folder named '='
// followed by the value name, holding the 4-byte little-endian registry type
// followed by the value's bytes as they were set.  Sub-keys enumerate in
// ascending order without regard to case.
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/platform.h"
#include "platform/posix/posix_paths.h"

namespace {

struct Key {
  std::string folder;
};

// The predefined HKEY_CURRENT_USER handle; its folder is looked up afresh on
// every use, since tests move CLASSIC_ROOT.
int g_hkcu_tag;

std::string key_folder(plat_hkey key) {
  if (key == &g_hkcu_tag) return posix_root_folder() + "/registry/HKEY_CURRENT_USER";
  return static_cast<Key*>(key)->folder;
}

bool is_folder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> split_key(const char* subkey) {
  std::vector<std::string> out;
  std::string cur;
  for (const char* p = subkey ? subkey : ""; *p; ++p) {
    if (*p == '\\') {
      if (!cur.empty()) out.push_back(cur);
      cur.clear();
    } else {
      cur += *p;
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

// The folder of parent\subkey; found is false when some key on the way is
// missing (the rest of the path then keeps the case given).
std::string resolve_key(plat_hkey parent, const char* subkey, bool* found) {
  std::string cur = key_folder(parent);
  const std::vector<std::string> parts = split_key(subkey);
  // Keys named in the case they were made in are found in one call.
  std::string whole = cur;
  for (const std::string& part : parts) whole += "/" + part;
  if (!parts.empty() && is_folder(whole)) {
    *found = true;
    return whole;
  }
  *found = is_folder(cur);
  for (const std::string& part : parts) {
    if (*found) {
      std::string actual = posix_find_in_folder(cur, part);
      if (!actual.empty() && is_folder(cur + "/" + actual)) {
        cur += "/" + actual;
        continue;
      }
      *found = false;
    }
    cur += "/" + part;
  }
  return cur;
}

std::vector<std::string> sub_keys(const std::string& folder) {
  std::vector<std::string> out;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return out;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == ".." || name[0] == '=' || name.rfind(".value-", 0) == 0) continue;
    if (is_folder(folder + "/" + e->d_name)) out.push_back(e->d_name);
  }
  closedir(dir);
  std::sort(out.begin(), out.end(), [](const std::string& a, const std::string& b) {
    int c = posix_compare_nocase(a, b);
    return c != 0 ? c < 0 : a < b;
  });
  return out;
}

// The file of a value (existing in any case, or to be made in the case given).
std::string value_file(const std::string& folder, const char* value) {
  std::string name = std::string("=") + (value ? value : "");
  std::string actual = posix_find_in_folder(folder, name);
  return folder + "/" + (actual.empty() ? name : actual);
}

bool read_all(const std::string& path, std::string* out) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[4096];
  out->clear();
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) {
      close(fd);
      return false;
    }
    out->append(buf, static_cast<size_t>(n));
    // A short read of a regular file is its end.
    if (static_cast<size_t>(n) < sizeof buf) break;
  }
  close(fd);
  return true;
}

// Reads the file of a value: named in the case given, it is read at once;
// only a value not there in that case is searched for in any case.
bool read_value(const std::string& folder, const char* value, std::string* out) {
  std::string name = std::string("=") + (value ? value : "");
  if (read_all(folder + "/" + name, out)) return true;
  if (errno != ENOENT) return false;
  std::string actual = posix_find_in_folder(folder, name, false);
  return !actual.empty() && actual != name && read_all(folder + "/" + actual, out);
}

}  // namespace

plat_hkey plat_hkey_current_user() { return &g_hkcu_tag; }

long backend_reg_open_key(plat_hkey parent, const char* subkey, unsigned long, plat_hkey* out) {
  bool found = false;
  std::string folder = resolve_key(parent, subkey, &found);
  if (!found) return PLAT_ERROR_FILE_NOT_FOUND;
  *out = new Key{folder};
  return PLAT_ERROR_SUCCESS;
}

long backend_reg_create_key(plat_hkey parent, const char* subkey, plat_hkey* out) {
  std::string cur = key_folder(parent);
  std::vector<std::string> parts = split_key(subkey);
  // The registry folder itself and every missing key on the way are made.
  std::string root = posix_root_folder();
  for (const std::string& dir : {root, root + "/registry", cur}) {
    if (!is_folder(dir) && mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
      return PLAT_ERROR_ACCESS_DENIED;
    }
  }
  for (const std::string& part : parts) {
    std::string actual = posix_find_in_folder(cur, part);
    if (!actual.empty() && is_folder(cur + "/" + actual)) {
      cur += "/" + actual;
      continue;
    }
    cur += "/" + part;
    if (mkdir(cur.c_str(), 0777) != 0 && errno != EEXIST) return PLAT_ERROR_ACCESS_DENIED;
  }
  *out = new Key{cur};
  return PLAT_ERROR_SUCCESS;
}

long backend_reg_close_key(plat_hkey key) {
  if (key != &g_hkcu_tag) delete static_cast<Key*>(key);
  return PLAT_ERROR_SUCCESS;
}

long backend_reg_delete_key(plat_hkey parent, const char* subkey) {
  bool found = false;
  std::string folder = resolve_key(parent, subkey, &found);
  if (!found || split_key(subkey).empty()) return PLAT_ERROR_FILE_NOT_FOUND;
  if (!sub_keys(folder).empty()) return PLAT_ERROR_ACCESS_DENIED;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return PLAT_ERROR_ACCESS_DENIED;
  std::vector<std::string> values;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] == '=') values.push_back(e->d_name);
  }
  closedir(dir);
  for (const std::string& v : values) unlink((folder + "/" + v).c_str());
  return rmdir(folder.c_str()) == 0 ? PLAT_ERROR_SUCCESS : PLAT_ERROR_ACCESS_DENIED;
}

long backend_reg_enum_key(plat_hkey key, unsigned long index, char* name, unsigned long* length) {
  std::vector<std::string> keys = sub_keys(key_folder(key));
  if (index >= keys.size()) return PLAT_ERROR_NO_MORE_ITEMS;
  const std::string& k = keys[index];
  if (*length <= k.size()) return PLAT_ERROR_MORE_DATA;
  std::memcpy(name, k.c_str(), k.size() + 1);
  *length = static_cast<unsigned long>(k.size());
  return PLAT_ERROR_SUCCESS;
}

long backend_reg_query_value(plat_hkey key, const char* value, unsigned long* type, void* data,
                          unsigned long* size) {
  std::string bytes;
  if (!read_value(key_folder(key), value, &bytes) || bytes.size() < 4) {
    return PLAT_ERROR_FILE_NOT_FOUND;
  }
  const unsigned char* t = reinterpret_cast<const unsigned char*>(bytes.data());
  if (type) *type = t[0] | (t[1] << 8) | (t[2] << 16) | (static_cast<unsigned long>(t[3]) << 24);
  unsigned long length = static_cast<unsigned long>(bytes.size() - 4);
  if (!size) return data ? PLAT_ERROR_MORE_DATA : PLAT_ERROR_SUCCESS;
  if (data && *size < length) {
    *size = length;
    return PLAT_ERROR_MORE_DATA;
  }
  if (data) std::memcpy(data, bytes.data() + 4, length);
  *size = length;
  return PLAT_ERROR_SUCCESS;
}

long backend_reg_set_value(plat_hkey key, const char* value, unsigned long type, const void* data,
                        unsigned long size) {
  std::string folder = key_folder(key);
  std::string path = value_file(folder, value);
  std::string temp = folder + "/.value-" + std::to_string(getpid());
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return PLAT_ERROR_ACCESS_DENIED;
  unsigned char head[4] = {static_cast<unsigned char>(type), static_cast<unsigned char>(type >> 8),
                           static_cast<unsigned char>(type >> 16),
                           static_cast<unsigned char>(type >> 24)};
  bool ok = write(fd, head, 4) == 4;
  if (ok && size > 0) ok = write(fd, data, size) == static_cast<ssize_t>(size);
  ok = close(fd) == 0 && ok;
  // The new value replaces the old one whole, never half written.
  if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
    unlink(temp.c_str());
    return PLAT_ERROR_ACCESS_DENIED;
  }
  return PLAT_ERROR_SUCCESS;
}
