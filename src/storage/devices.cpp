// Devices and free space.
#include "storage/devices.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "classic.h"
#include "platform/platform.h"
#include "storage/netxlat.h"
#include "storage/state.h"

namespace {

constexpr int kDrives = 26;

bool has_storage_tree(char letter) {
  char path[32];
  std::snprintf(path, sizeof path, "%c:%s", letter, STORAGE_FOLDER);
  return plat_access(path, 0) == 0;
}

}  // namespace

const char* device_first() {
  storage_state().drive_mask = plat_logical_drives();
  storage_state().next_drive = 0;
  if (network_drive_letter() != '!') {
    std::memcpy(storage_state().device, "@:", 3);
    return storage_state().device;
  }
  return device_next();
}

const char* device_next() {
  while (storage_state().next_drive < kDrives) {
    int index = storage_state().next_drive++;
    if (!(storage_state().drive_mask & (1ul << index))) continue;
    char letter = static_cast<char>('A' + index);
    // A: is offered without looking at it: it may hold no disk.
    if (index == 0 || has_storage_tree(letter)) {
      storage_state().device[0] = letter;
      storage_state().device[1] = ':';
      storage_state().device[2] = 0;
      return storage_state().device;
    }
  }
  return nullptr;
}

unsigned long classic_get_device_count(void) {
  unsigned long count = 0;
  for (const char* d = device_first(); d; d = device_next()) ++count;
  return count;
}

unsigned long classic_get_device_names(char* names, int width, int* count) {
  if (!count) return 1;
  int capacity = *count;
  *count = 0;
  // Without a slot of at least one byte nothing can be stored.
  if (!names || width < 1) return 1;
  for (const char* d = device_first(); d && *count < capacity; d = device_next()) {
    char* slot = names + static_cast<size_t>(*count) * static_cast<size_t>(width);
    size_t n = std::strlen(d);
    if (n > static_cast<size_t>(width) - 1) n = static_cast<size_t>(width) - 1;
    std::memcpy(slot, d, n);
    slot[n] = 0;
    ++*count;
  }
  return 1;
}

double classic_amt_free_disk_space(const char* path) {
  char root[4] = "c:\\";
  if (path && path[0] == 0) {
    root[0] = 0;
  } else if (path && path[1] == ':') {
    root[0] = path[0];
  }
  uint64_t available = 0;
  if (!plat_disk_free_ex(root, &available)) return 0.0;
  uint32_t sectors = 0, bytes = 0, free_clusters = 0, total = 0;
  if (plat_disk_free(root, &sectors, &bytes, &free_clusters, &total)) {
    return static_cast<double>(sectors) * static_cast<double>(bytes) * static_cast<double>(free_clusters);
  }
  return static_cast<double>(available);
}
