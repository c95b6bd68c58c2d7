// Directory search, drives and disk space through KERNEL32.
#include "platform/win32/win32.h"

#include <cstdio>

#include "platform/backend.h"
#include "platform/platform.h"

namespace {

void copy_out(const WIN32_FIND_DATAA& fd, plat_find_data* out) {
  out->attributes = fd.dwFileAttributes;
  std::snprintf(out->name, sizeof out->name, "%s", fd.cFileName);
}

}  // namespace

plat_find_handle backend_find_first(const char* pattern, plat_find_data* out) {
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA(pattern, &fd);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  copy_out(fd, out);
  return h;
}

int backend_find_next(plat_find_handle handle, plat_find_data* out) {
  WIN32_FIND_DATAA fd;
  if (!handle || !FindNextFileA(static_cast<HANDLE>(handle), &fd)) return 0;
  copy_out(fd, out);
  return 1;
}

void backend_find_close(plat_find_handle handle) {
  if (handle) FindClose(static_cast<HANDLE>(handle));
}

unsigned long backend_logical_drives() { return GetLogicalDrives(); }

int backend_disk_free_ex(const char* root, uint64_t* available) {
  ULARGE_INTEGER avail, total, free_bytes;
  if (!GetDiskFreeSpaceExA(root, &avail, &total, &free_bytes)) return 0;
  *available = avail.QuadPart;
  return 1;
}

int backend_disk_free(const char* root, uint32_t* sectors_per_cluster, uint32_t* bytes_per_sector,
                   uint32_t* free_clusters, uint32_t* total_clusters) {
  DWORD spc, bps, fc, tc;
  if (!GetDiskFreeSpaceA(root, &spc, &bps, &fc, &tc)) return 0;
  *sectors_per_cluster = spc;
  *bytes_per_sector = bps;
  *free_clusters = fc;
  *total_clusters = tc;
  return 1;
}
