// Windows-form paths on Linux: drives, case-insensitive names, wildcards.
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <cctype>
#include <ctime>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/posix_paths.h"

namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// Windows drops trailing dots and blanks of a name ("logXY--." is logXY--),
// except for the names "." and "..".
std::string windows_component(std::string c) {
  if (c == "." || c == "..") return c;
  size_t end = c.size();
  while (end > 0 && (c[end - 1] == '.' || c[end - 1] == ' ')) --end;
  if (end == 0) return c;
  c.resize(end);
  return c;
}

// Splits the text after the drive into components, skipping empty ones.
std::vector<std::string> components(const std::string& text) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : text) {
    if (is_separator(c)) {
      if (!cur.empty()) out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

// The native folder a path starts from, and where its components begin;
// *rooted tells a drive's folder from the current directory.
std::string path_base(const char* path, size_t* rest, bool* rooted) {
  *rooted = true;
  if (std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') {
    *rest = 2;
    return posix_drive_folder(path[0]);
  }
  *rest = 0;
  if (is_separator(path[0])) return posix_drive_folder('c');
  *rooted = false;
  return ".";
}

bool only_dots(const std::string& c) { return c.find_first_not_of('.') == std::string::npos; }

// Resolves "." and ".." as Windows does, by the text alone: ".." takes the
// component before it away, and at a drive's root it stays at the root, so
// that no path reaches outside its drive's folder.  A name of three or more
// dots counts as ".".
std::vector<std::string> lexical(const std::vector<std::string>& parts, bool rooted) {
  std::vector<std::string> out;
  for (const std::string& part : parts) {
    if (only_dots(part) && part != "..") continue;
    if (part == "..") {
      if (!out.empty() && out.back() != "..") {
        out.pop_back();
      } else if (!rooted) {
        out.push_back(part);  // above the current directory, as given
      }
      continue;
    }
    out.push_back(part);
  }
  return out;
}

// Walks the components from base, resolving each without regard to case as
// long as the folders exist.  Names in the case given are the common case:
// the whole path is tried first, then its folder, so that an existing file
// costs one status call and a new one a search of its own folder only.
std::vector<std::string> windows_components(const std::vector<std::string>& raw) {
  std::vector<std::string> parts;
  for (const std::string& r : raw) {
    std::string part = windows_component(r);
    if (part != ".") parts.push_back(part);
  }
  return parts;
}

// The path with every component in the case given, found by the text alone.
std::string as_given(const std::string& base, const std::vector<std::string>& parts) {
  std::string whole = base;
  for (const std::string& part : parts) whole += "/" + part;
  return whole;
}

std::string resolve(const std::string& base, const std::vector<std::string>& raw) {
  std::vector<std::string> parts = windows_components(raw);
  if (parts.empty()) return base;
  std::string whole = as_given(base, parts);
  if (exists(whole)) return whole;
  std::string folder = whole.substr(0, whole.size() - parts.back().size() - 1);
  if (exists(folder)) {
    std::string actual = posix_find_in_folder(folder, parts.back(), false);
    return folder + "/" + (actual.empty() ? parts.back() : actual);
  }
  std::string cur = base;
  bool found = exists(cur);
  for (const std::string& part : parts) {
    if (found) {
      std::string actual = posix_find_in_folder(cur, part);
      if (!actual.empty()) {
        cur += "/" + actual;
        continue;
      }
      found = false;
    }
    cur += "/" + part;
  }
  return cur;
}

// The names of the last folder searched, kept for as long as the folder is
// unchanged: a new file is looked for more than once by one operation (is it
// there, then create it), and the folders of big stores hold thousands of
// data files.  The folder's identity, size and change times tell whether it
// changed; a listing is kept only when it was read after the clock that the
// file system stamps changes with had moved past the folder's last change,
// so that a change made after the reading cannot carry the same times.
struct FolderListing {
  std::string folder;
  dev_t dev = 0;
  ino_t ino = 0;
  timespec mtime{};
  timespec ctime{};
  off_t size = 0;
  std::vector<std::string> names;
  bool valid = false;
};

FolderListing g_listing;

bool same_time(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

bool later(const timespec& a, const timespec& b) {
  return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

// The names in folder, from the kept listing while it holds; null when the
// folder cannot be read.
const std::vector<std::string>* folder_names(const std::string& folder) {
  struct stat st;
  if (stat(folder.c_str(), &st) != 0) return nullptr;
  FolderListing& l = g_listing;
  if (l.valid && l.folder == folder && l.dev == st.st_dev && l.ino == st.st_ino && l.size == st.st_size &&
      same_time(l.mtime, st.st_mtim) && same_time(l.ctime, st.st_ctim)) {
    return &l.names;
  }
  timespec before{};
  clock_gettime(CLOCK_REALTIME_COARSE, &before);
  DIR* dir = opendir(folder.c_str());
  if (!dir) return nullptr;
  l.valid = false;
  l.names.clear();
  while (dirent* e = readdir(dir)) l.names.emplace_back(e->d_name);
  closedir(dir);
  l.folder = folder;
  l.dev = st.st_dev;
  l.ino = st.st_ino;
  l.size = st.st_size;
  l.mtime = st.st_mtim;
  l.ctime = st.st_ctim;
  l.valid = later(before, st.st_mtim) && later(before, st.st_ctim);
  return &l.names;
}

}  // namespace

std::string posix_root_folder() {
  const char* root = std::getenv("CLASSIC_ROOT");
  if (root && *root) return root;
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && *xdg) return std::string(xdg) + "/classic";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.local/share/classic";
}

std::string posix_drive_folder(char letter) {
  char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
  for (char c : {upper, lower}) {
    std::string var = std::string("CLASSIC_DRIVE_") + c;
    const char* folder = std::getenv(var.c_str());
    if (folder && *folder) return folder;
  }
  return posix_root_folder() + "/" + lower;
}

void posix_forget_listings() { g_listing = FolderListing{}; }

std::string posix_find_in_folder(const std::string& folder, const std::string& name, bool try_as_given) {
  if (try_as_given && exists(folder + "/" + name)) return name;
  const std::vector<std::string>* names = folder_names(folder);
  if (!names) return std::string();
  std::string best;
  for (const std::string& n : *names) {
    if (strcasecmp(n.c_str(), name.c_str()) == 0) {
      // Of several names that differ only in case, take the first in order
      // so that every call picks the same one.
      if (best.empty() || n < best) best = n;
    }
  }
  return best;
}

std::string posix_map_path(const char* path) {
  size_t rest = 0;
  bool rooted = true;
  std::string base = path_base(path, &rest, &rooted);
  return resolve(base, lexical(components(path + rest), rooted));
}

std::string posix_map_path_as_given(const char* path) {
  size_t rest = 0;
  bool rooted = true;
  std::string base = path_base(path, &rest, &rooted);
  return as_given(base, windows_components(lexical(components(path + rest), rooted)));
}

void posix_split_path(const char* path, std::string* folder, std::string* last) {
  size_t rest = 0;
  bool rooted = true;
  std::string base = path_base(path, &rest, &rooted);
  std::vector<std::string> parts = lexical(components(path + rest), rooted);
  if (parts.empty()) {
    *folder = base;
    last->clear();
    return;
  }
  *last = parts.back();
  parts.pop_back();
  *folder = resolve(base, parts);
}

namespace {

bool glob(const char* p, const char* n) {
  // Iterative '*' matching with one back-tracking point: linear in practice.
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*n) {
    if (*p == '?') {
      ++p;
      ++n;
    } else if (*p == '*') {
      star = p++;
      resume = n;
    } else if (*p && std::toupper(static_cast<unsigned char>(*p)) ==
                          std::toupper(static_cast<unsigned char>(*n))) {
      ++p;
      ++n;
    } else if (star) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (*p == '*') ++p;
  return *p == 0;
}

}  // namespace

bool posix_wildcard_match(const char* pattern, const char* name) {
  if (std::strcmp(pattern, "*.*") == 0 || std::strcmp(pattern, "*") == 0) return true;
  size_t len = std::strlen(pattern);
  if (len >= 2 && pattern[len - 2] == '.' && pattern[len - 1] == '*' &&
      std::strchr(name, '.') == nullptr) {
    std::string head(pattern, len - 2);
    return glob(head.c_str(), name);
  }
  return glob(pattern, name);
}

int posix_compare_nocase(const std::string& a, const std::string& b) {
  return strcasecmp(a.c_str(), b.c_str());
}
