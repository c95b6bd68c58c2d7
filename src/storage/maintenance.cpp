// Area maintenance: deleting and renaming storage areas on the local storage
// tree of a drive.  Neither call translates paths, takes locks or looks at
// logins: the caller makes sure that nobody works in the area.
#include <cstdio>
#include <cstring>

#include "classic.h"
#include "base/names.h"
#include "base/text.h"
#include "platform/platform.h"
#include "storage/areas.h"

namespace {

constexpr size_t kPathSize = 260;

// A name that can stand for one area folder: not empty, not "." or "..",
// no separator.  Anything else would reach outside the storage folder.
bool is_area_name(const char* area) {
  if (!area || !area[0]) return false;
  if (std::strcmp(area, ".") == 0 || std::strcmp(area, "..") == 0) return false;
  return std::strpbrk(area, "\\/") == nullptr;
}

// Removes every file of folder (not its sub-folders), ignoring failures,
// then the folder itself.  True when the folder is gone.
bool empty_and_remove(const char* folder) {
  size_t len = std::strlen(folder);
  const char* join = len > 0 && (folder[len - 1] == '\\' || folder[len - 1] == '/') ? "" : "/";
  char pattern[kPathSize];
  int n = std::snprintf(pattern, sizeof pattern, "%s%s*.*", folder, join);
  if (n > 0 && static_cast<size_t>(n) < sizeof pattern) {
    plat_find_data found;
    plat_find_handle search = plat_find_first(pattern, &found);
    for (bool more = search != nullptr; more; more = plat_find_next(search, &found) != 0) {
      if (std::strcmp(found.name, ".") == 0 || std::strcmp(found.name, "..") == 0) continue;
      char file[kPathSize];
      int m = std::snprintf(file, sizeof file, "%s%s%s", folder, join, found.name);
      if (m > 0 && static_cast<size_t>(m) < sizeof file) plat_remove(file);
    }
    plat_find_close(search);
  }
  return plat_remove_directory(folder) != 0;
}

// The area's registration as it was before a rename changed it.
struct Registration {
  bool present = false;
  bool has_version = false;
  uint32_t version = 0xFFFFFFFFu;
};

Registration read_registration(plat_hkey drive, const char* area) {
  Registration reg;
  plat_hkey key = nullptr;
  if (plat_reg_open_key(drive, area, PLAT_KEY_READ, &key) != PLAT_ERROR_SUCCESS) return reg;
  reg.present = true;
  reg.has_version = query_area_version(key, &reg.version);
  plat_reg_close_key(key);
  return reg;
}

// Makes the area key area (again), with Version when given.
void create_area_key(plat_hkey drive, const char* area, const Registration& reg) {
  write_area_key(drive, area, reg.has_version, reg.version);
}

// What follows the last '\' of path, or the whole path.
const char* after_last_backslash(const char* path) {
  const char* cut = find_last_char(path, '\\');
  return cut ? cut + 1 : path;
}

}  // namespace

int classic_delete_area(const char* drive, const char* area) {
  if (!drive || !drive[0] || !is_area_name(area)) return CLASSIC_IO_ERROR;
  char folder[kPathSize];
  int n = std::snprintf(folder, sizeof folder, "%c:%s\\%s\\", drive[0], STORAGE_FOLDER, area);
  // Room for the longer of the two sub-folder names behind the area folder.
  if (n < 0 || static_cast<size_t>(n) + std::strlen(AREA_PARAM_FOLDER) >= sizeof folder) return CLASSIC_IO_ERROR;

  char drive_key[64];
  format_drive_key(drive_key, sizeof drive_key, drive[0]);
  plat_hkey key = nullptr;
  if (plat_reg_open_key(plat_hkey_current_user(), drive_key, PLAT_KEY_WRITE, &key) == PLAT_ERROR_SUCCESS) {
    plat_reg_delete_key(key, area);
    plat_reg_close_key(key);
  }

  size_t base = static_cast<size_t>(n);
  std::memcpy(folder + base, AREA_DATA_FOLDER, std::strlen(AREA_DATA_FOLDER) + 1);
  bool data = empty_and_remove(folder);
  std::memcpy(folder + base, AREA_PARAM_FOLDER, std::strlen(AREA_PARAM_FOLDER) + 1);
  bool param = empty_and_remove(folder);
  folder[base - 1] = 0;
  bool itself = empty_and_remove(folder);
  return data && param && itself ? CLASSIC_OK : CLASSIC_IO_ERROR;
}

int classic_rename_area(const char* old_path, const char* new_path) {
  if (!old_path || !new_path) return 0;

  // The registration moves first, so that it carries the new name as soon
  // as the folder has it.
  const char* old_cut = find_last_char(old_path, '\\');
  const char* old_area = old_cut ? old_cut + 1 : nullptr;
  const char* new_area = after_last_backslash(new_path);
  char letter = std::strlen(old_path) >= 2 && old_path[1] == ':' ? old_path[0] : 'C';

  plat_hkey drive = nullptr;
  Registration old_reg, new_reg;
  if (old_area && old_area[0] && new_area[0]) {
    char drive_key[64];
    format_drive_key(drive_key, sizeof drive_key, letter);
    if (plat_reg_open_key(plat_hkey_current_user(), drive_key, PLAT_KEY_READ | PLAT_KEY_WRITE, &drive) !=
        PLAT_ERROR_SUCCESS) {
      drive = nullptr;
    }
  }
  if (drive) {
    old_reg = read_registration(drive, old_area);
    if (old_reg.present) {
      new_reg = read_registration(drive, new_area);
      plat_reg_delete_key(drive, old_area);
      // An area without Version gets all bits set under its new name.
      Registration moved = old_reg;
      moved.has_version = true;
      create_area_key(drive, new_area, moved);
    } else {
      plat_reg_close_key(drive);
      drive = nullptr;
    }
  }

  bool moved = plat_rename(old_path, new_path) == 0;

  if (drive) {
    if (!moved) {
      // The folder kept its name: so does the registration.  A key that the
      // new name had before is put back as it was.
      plat_reg_delete_key(drive, new_area);
      if (new_reg.present) create_area_key(drive, new_area, new_reg);
      create_area_key(drive, old_area, old_reg);
    }
    plat_reg_close_key(drive);
  }
  return moved ? 1 : 0;
}
