// Directory search on Linux, reporting names as Windows does: "." and ".."
// first (not in a drive's root), then the matches in ascending order without
// regard to case, folders marked with the directory attribute.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/platform.h"
#include "platform/posix/posix_paths.h"

namespace {

struct Found {
  std::string name;
  unsigned attributes;
};

struct Search {
  std::vector<Found> entries;
  size_t next = 0;
};

void copy_out(const Found& f, plat_find_data* out) {
  out->attributes = f.attributes;
  std::snprintf(out->name, sizeof out->name, "%s", f.name.c_str());
}

bool is_drive_root(const char* pattern) {
  // "X:\name" or "\name": the search runs in the root of a drive.
  const char* p = pattern;
  if (p[0] && p[1] == ':') p += 2;
  if (*p != '\\' && *p != '/') return false;
  ++p;
  return std::strpbrk(p, "\\/") == nullptr;
}

}  // namespace

plat_find_handle backend_find_first(const char* pattern, plat_find_data* out) {
  std::string folder, last;
  posix_split_path(pattern, &folder, &last);
  DIR* dir = opendir(folder.c_str());
  if (!dir) return nullptr;
  bool root = is_drive_root(pattern);
  std::vector<Found> dots, rest;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    bool dot = name == "." || name == "..";
    if (dot && root) continue;
    if (!posix_wildcard_match(last.c_str(), name.c_str())) continue;
    struct stat st;
    unsigned attributes = 0;
    if (stat((folder + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      attributes = PLAT_ATTR_DIRECTORY;
    }
    (dot ? dots : rest).push_back(Found{name, attributes});
  }
  closedir(dir);
  std::sort(dots.begin(), dots.end(), [](const Found& a, const Found& b) { return a.name < b.name; });
  std::sort(rest.begin(), rest.end(), [](const Found& a, const Found& b) {
    int c = posix_compare_nocase(a.name, b.name);
    return c != 0 ? c < 0 : a.name < b.name;
  });
  auto* search = new Search;
  search->entries = std::move(dots);
  search->entries.insert(search->entries.end(), rest.begin(), rest.end());
  if (search->entries.empty()) {
    delete search;
    return nullptr;
  }
  copy_out(search->entries[0], out);
  search->next = 1;
  return search;
}

int backend_find_next(plat_find_handle handle, plat_find_data* out) {
  auto* search = static_cast<Search*>(handle);
  if (!search || search->next >= search->entries.size()) return 0;
  copy_out(search->entries[search->next++], out);
  return 1;
}

void backend_find_close(plat_find_handle handle) { delete static_cast<Search*>(handle); }

unsigned long backend_logical_drives() {
  unsigned long mask = 0;
  for (int i = 0; i < 26; ++i) {
    struct stat st;
    std::string folder = posix_drive_folder(static_cast<char>('a' + i));
    if (stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) mask |= 1ul << i;
  }
  return mask;
}

namespace {

bool drive_stats(const char* root, struct statvfs* out) {
  if (!root || !*root) return false;
  return statvfs(posix_map_path(root).c_str(), out) == 0;
}

}  // namespace

int backend_disk_free_ex(const char* root, uint64_t* available) {
  struct statvfs st;
  if (!drive_stats(root, &st)) return 0;
  *available = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
  return 1;
}

int backend_disk_free(const char* root, uint32_t* sectors_per_cluster, uint32_t* bytes_per_sector,
                   uint32_t* free_clusters, uint32_t* total_clusters) {
  struct statvfs st;
  if (!drive_stats(root, &st)) return 0;
  // A cluster is a file-system block; sectors are 512 bytes.
  uint64_t block = st.f_frsize ? st.f_frsize : 512;
  auto cap = [](uint64_t v) { return static_cast<uint32_t>(std::min<uint64_t>(v, 0xFFFFFFFFu)); };
  *bytes_per_sector = 512;
  *sectors_per_cluster = cap(block >= 512 ? block / 512 : 1);
  *free_clusters = cap(st.f_bavail);
  *total_clusters = cap(st.f_blocks);
  return 1;
}
