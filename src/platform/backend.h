// What the two backends provide to the parts of src/platform that are the
// same on every system: the file calls behind the plat_ ones (the common
// part notes their failures), the hooks and the code-page choice.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "platform/platform.h"

// Opens path with a share mode; *length is the file's length where the open
// learnt it once its share mode was granted (else -1), and *alone whether
// that share mode keeps every other open out.
int backend_sopen(const char* path, int oflag, int shflag, int pmode, int64_t* length, bool* alone);
int backend_close(int fd);
int backend_read(int fd, void* buf, unsigned count);
int backend_write(int fd, const void* buf, unsigned count);
long backend_lseek(int fd, long offset, int whence);
int backend_commit(int fd);
int backend_chsize(int fd, long size);
int backend_locking(int fd, int mode, long count);
// Locks or unlocks count bytes from offset; writable says whether the
// descriptor was opened for writing (-1: unknown, find out).
int backend_locking_at(int fd, int mode, int64_t offset, long count, int writable);
// Reads or writes up to count bytes at offset, leaving the descriptor's
// position alone where the OS can; the bytes moved, or -1.
long backend_pread(int fd, void* buf, size_t count, int64_t offset);
long backend_pwrite(int fd, const void* buf, size_t count, int64_t offset);
// The length of the open file, or -1.
int64_t backend_file_length(int fd);
FILE* backend_fdopen(int fd, const char* mode);
// A stream on fd for plat_fdopen_direct: unbuffered, closing fd when closed.
FILE* backend_fdopen_direct(int fd, const char* mode);
int backend_remove(const char* path);
int backend_unlink(const char* path);
int backend_rename(const char* from, const char* to);
int backend_mkdir(const char* path);
int backend_remove_directory(const char* path);
int backend_access(const char* path, int mode);
int backend_stat32(const char* path, plat_stat* out);
plat_find_handle backend_find_first(const char* pattern, plat_find_data* out);
int backend_find_next(plat_find_handle handle, plat_find_data* out);
void backend_find_close(plat_find_handle handle);
unsigned long backend_logical_drives();
int backend_disk_free_ex(const char* root, uint64_t* available);
int backend_disk_free(const char* root, uint32_t* sectors_per_cluster, uint32_t* bytes_per_sector,
                      uint32_t* free_clusters, uint32_t* total_clusters);
long backend_reg_open_key(plat_hkey parent, const char* subkey, unsigned long access, plat_hkey* out);
long backend_reg_close_key(plat_hkey key);
long backend_reg_enum_key(plat_hkey key, unsigned long index, char* name, unsigned long* length);
long backend_reg_query_value(plat_hkey key, const char* value, unsigned long* type, void* data,
                             unsigned long* size);
long backend_reg_create_key(plat_hkey parent, const char* subkey, plat_hkey* out);
long backend_reg_delete_key(plat_hkey parent, const char* subkey);
long backend_reg_set_value(plat_hkey key, const char* value, unsigned long type, const void* data,
                           unsigned long size);

// Why the last failed call failed, when errno alone would mislead: another
// open holding the file or the byte ("held by another program"), a target
// that exists; null when errno says it.
const char* backend_failure_reason();
// The text of a failed registry call's result.
std::string backend_registry_error_text(long code);
// The path the OS saw for a Windows-form path.
std::string backend_native_path(const char* path);

void backend_sleep(uint32_t ms);
uint32_t backend_time32();
uint32_t backend_tick_count();
int backend_localtime32(uint32_t t, std::tm* out);
int backend_message_box(const char* text, const char* caption, unsigned style);

// Drops what the backend keeps between calls (with plat_reset_state).
void backend_reset_state();

// The code page a test chose with plat_set_codepage, or 0 for the system's.
unsigned codepage_override();
