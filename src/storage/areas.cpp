// Area registry and enumeration.
//
// Both listing calls choose their source the same way: the registry, unless
// the system's key is missing (or its first area key cannot be opened) or
// network translation is in force for the pattern; then the sub-folders
// found by a directory search of the translated pattern.  Neither listing
// sorts: names come in the order the registry or the file system gives.
#include "storage/areas.h"

#include <cstdio>
#include <cstring>

#include "classic.h"
#include "base/le.h"
#include "base/text.h"
#include "platform/platform.h"
#include "storage/netxlat.h"
#include "storage/state.h"

namespace {


void clear(char* name, size_t size) {
  if (size > 0) name[0] = 0;
}

// Enumerates the next area key of the open drive key into name.  Keys whose
// names do not fit are passed over.  False at the end.
bool enum_next_area(char* name, size_t size) {
  for (;;) {
    unsigned long length = static_cast<unsigned long>(size);
    long r = plat_reg_enum_key(storage_state().drive_key, storage_state().next_area_index++, name, &length);
    if (r == PLAT_ERROR_SUCCESS) return true;
    if (r != PLAT_ERROR_MORE_DATA) return false;
  }
}

// The Version of the area key name under the open drive key; -1 when the
// key cannot be opened or has no Version.  *opened tells which.
int area_version(const char* name, bool* opened) {
  plat_hkey area = nullptr;
  *opened = plat_reg_open_key(storage_state().drive_key, name, PLAT_KEY_READ, &area) == PLAT_ERROR_SUCCESS;
  if (!*opened) return -1;
  int version = read_area_version(area);
  plat_reg_close_key(area);
  return version;
}

// The last component of pattern (after its last '\'), or null without '\'.
const char* last_component(const char* pattern) {
  const char* cut = find_last_char(pattern, '\\');
  return cut ? cut + 1 : nullptr;
}

bool usable(const char* pattern) { return pattern && pattern[0]; }

// Fills a slot of width bytes with name, cut to width - 1 characters, and
// NULs after it.
void store_slot(char* slot, int width, const char* name) {
  size_t w = static_cast<size_t>(width);
  size_t n = std::strlen(name);
  if (n > w - 1) n = w - 1;
  std::memcpy(slot, name, n);
  std::memset(slot + n, 0, w - n);
}

bool choose_registry(const char* pattern, char* first, size_t size) {
  int r = registry_first_area(pattern, first, size);
  return r != -2 && network_translation_active(pattern) == 0;
}

bool has_dot(const char* name) { return std::strchr(name, '.') != nullptr; }

}  // namespace

bool query_area_version(plat_hkey area_key, uint32_t* version) {
  unsigned char bytes[4];
  unsigned long type = 0;
  unsigned long size = sizeof bytes;
  if (plat_reg_query_value(area_key, AREA_VERSION_VALUE, &type, bytes, &size) != PLAT_ERROR_SUCCESS ||
      size != sizeof bytes) {
    return false;
  }
  *version = get_le32(bytes);
  return true;
}

int read_area_version(plat_hkey area_key) {
  uint32_t version = 0;
  return query_area_version(area_key, &version) ? static_cast<int>(version) : -1;
}

long registered_area_version(char letter, const char* area) {
  char drive_key[64];
  format_drive_key(drive_key, sizeof drive_key, letter);
  plat_hkey drive = nullptr;
  if (plat_reg_open_key(plat_hkey_current_user(), drive_key, PLAT_KEY_READ, &drive) != PLAT_ERROR_SUCCESS) {
    return -1;
  }
  plat_hkey key = nullptr;
  uint32_t version = 0;
  bool found = plat_reg_open_key(drive, area, PLAT_KEY_READ, &key) == PLAT_ERROR_SUCCESS;
  if (found) {
    found = query_area_version(key, &version);
    plat_reg_close_key(key);
  }
  plat_reg_close_key(drive);
  return found ? static_cast<long>(version) : -1;
}

bool write_area_key(plat_hkey drive_key, const char* area, bool has_version, uint32_t version) {
  plat_hkey key = nullptr;
  if (plat_reg_create_key(drive_key, area, &key) != PLAT_ERROR_SUCCESS) return false;
  bool ok = true;
  if (has_version) {
    unsigned char bytes[4];
    put_le32(bytes, version);
    ok = plat_reg_set_value(key, AREA_VERSION_VALUE, PLAT_REG_DWORD, bytes, sizeof bytes) ==
         PLAT_ERROR_SUCCESS;
  }
  plat_reg_close_key(key);
  return ok;
}

int register_area(char letter, const char* area, uint32_t version) {
  char drive_key[64];
  format_drive_key(drive_key, sizeof drive_key, letter);
  plat_hkey drive = nullptr;
  if (plat_reg_create_key(plat_hkey_current_user(), drive_key, &drive) != PLAT_ERROR_SUCCESS) {
    return CLASSIC_IO_ERROR;
  }
  bool ok = write_area_key(drive, area, true, version);
  plat_reg_close_key(drive);
  return ok ? CLASSIC_OK : CLASSIC_IO_ERROR;
}

int registry_first_area(const char* pattern, char* name, size_t size) {
  clear(name, size);
  close_drive_key();
  if (!usable(pattern) || size == 0) return -2;

  char drive_key[64];
  format_drive_key(drive_key, sizeof drive_key, pattern[0]);
  plat_hkey root = plat_hkey_current_user();
  if (plat_reg_open_key(root, drive_key, PLAT_KEY_READ, &storage_state().drive_key) != PLAT_ERROR_SUCCESS) {
    storage_state().drive_key = nullptr;
    plat_hkey system = nullptr;
    if (plat_reg_open_key(root, AREA_SYSTEM_KEY, PLAT_KEY_READ, &system) != PLAT_ERROR_SUCCESS) {
      return -2;
    }
    plat_reg_close_key(system);
    return -1;
  }
  storage_state().next_area_index = 0;

  bool opened = false;
  const char* last = last_component(pattern);
  if (last && std::strcmp(last, "*") != 0) {
    // One named area; the drive key stays open.  A name too long for the
    // buffer cannot be a registered area.
    size_t n = std::strlen(last);
    if (n >= size) return -1;
    std::memcpy(name, last, n + 1);
    int version = area_version(name, &opened);
    if (!opened) clear(name, size);
    return version;
  }

  if (!enum_next_area(name, size)) {
    close_drive_key();
    clear(name, size);
    return -1;
  }
  int version = area_version(name, &opened);
  if (!opened) {
    close_drive_key();
    clear(name, size);
    return -2;
  }
  return version;
}

int registry_next_area(const char* pattern, char* name, size_t size) {
  clear(name, size);
  if (!usable(pattern) || pattern[std::strlen(pattern) - 1] != '*') return 0;
  if (!storage_state().drive_key || size == 0) return -1;
  if (!enum_next_area(name, size)) {
    close_drive_key();
    clear(name, size);
    return -1;
  }
  bool opened = false;
  int version = area_version(name, &opened);
  if (version == -1) {
    close_drive_key();
    clear(name, size);
  }
  return version;
}

int area_search_first(FindEntry* entry, const char* pattern, unsigned mask) {
  if (classic_netxlat(pattern, translated_path()) != CLASSIC_OK) return -1;
  return find_first_entry(translated_path(), mask, entry);
}

int area_search_next(FindEntry* entry) { return find_next_entry(entry); }

void close_drive_key() {
  plat_hkey& key = storage_state().drive_key;
  if (key) {
    plat_reg_close_key(key);
    key = nullptr;
  }
}

int classic_get_area_count(const char* pattern, unsigned long* count) {
  if (!count) return CLASSIC_OK;
  *count = 0;
  if (!usable(pattern)) return CLASSIC_OK;

  char name[AREA_NAME_SIZE];
  if (choose_registry(pattern, name, sizeof name)) {
    while (name[0]) {
      ++*count;
      registry_next_area(pattern, name, sizeof name);
    }
    return CLASSIC_OK;
  }

  FindEntry entry;
  for (int r = area_search_first(&entry, pattern, PLAT_ATTR_DIRECTORY); r == 0;
       r = area_search_next(&entry)) {
    if (!has_dot(entry.name)) ++*count;
  }
  return CLASSIC_OK;
}

int classic_get_area_names(const char* pattern, char* names, int width, unsigned long* count) {
  if (!count) return CLASSIC_OK;
  unsigned long capacity = *count;
  *count = 0;
  // Without a slot of at least one byte nothing can be stored.
  if (!usable(pattern) || !names || width < 1 || capacity == 0) return CLASSIC_OK;

  auto slot = [&](unsigned long i) { return names + static_cast<size_t>(i) * static_cast<size_t>(width); };

  char name[AREA_NAME_SIZE];
  if (choose_registry(pattern, name, sizeof name)) {
    while (name[0] && *count < capacity) {
      store_slot(slot(*count), width, name);
      ++*count;
      registry_next_area(pattern, name, sizeof name);
    }
    return CLASSIC_OK;
  }

  FindEntry entry;
  for (int r = area_search_first(&entry, pattern, PLAT_ATTR_DIRECTORY); r == 0;
       r = area_search_next(&entry)) {
    if (has_dot(entry.name)) continue;
    store_slot(slot(*count), width, entry.name);
    if (++*count == capacity) break;
  }
  return CLASSIC_OK;
}
