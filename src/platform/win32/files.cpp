// Files through the Windows C runtime: share modes, byte locks and streams
// are the runtime's own.
#include "platform/win32/win32.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/locking.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <direct.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/backend.h"
#include "platform/platform.h"

// The runtime's OS error of the last failed call tells a sharing conflict
// from a missing right; it is cleared before each call so that an old one is
// never taken for the new one's.
namespace {

void begin() { _doserrno = 0; }

}  // namespace

const char* backend_failure_reason() {
  unsigned long os_error = _doserrno;
  _doserrno = 0;
  switch (os_error) {
    case ERROR_SHARING_VIOLATION: return "held by another program";
    case ERROR_LOCK_VIOLATION: return "byte locked by another program";
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return "the new name exists";
    default: return nullptr;
  }
}

int backend_sopen(const char* path, int oflag, int shflag, int pmode, int64_t* length, bool* alone) {
  *length = -1;
  *alone = false;
  begin();
  // Descriptors are not handed down to child processes.
  return _sopen(path, oflag | _O_NOINHERIT, shflag, pmode);
}

int backend_close(int fd) {
  begin();
  return _close(fd);
}

int backend_read(int fd, void* buf, unsigned count) {
  begin();
  return _read(fd, buf, count);
}

int backend_write(int fd, const void* buf, unsigned count) {
  begin();
  return _write(fd, buf, count);
}

long backend_lseek(int fd, long offset, int whence) {
  begin();
  return _lseek(fd, offset, whence);
}

int backend_commit(int fd) {
  begin();
  return _commit(fd);
}

int backend_chsize(int fd, long size) {
  begin();
  return _chsize(fd, size);
}

int backend_locking(int fd, int mode, long count) {
  begin();
  errno = 0;
  int r = _locking(fd, mode, count);
  // Some runtimes refuse a lock without saying why: a refusal is a held byte.
  if (r != 0 && errno == 0) errno = EACCES;
  return r;
}

int backend_locking_at(int fd, int mode, int64_t offset, long count, int) {
  begin();
  if (_lseeki64(fd, offset, SEEK_SET) < 0) return -1;
  return backend_locking(fd, mode, count);
}

// Positioned reads and writes by the runtime's own calls, so that its view
// of the descriptor stays right: a seek and the transfer.
long backend_pread(int fd, void* buf, size_t count, int64_t offset) {
  begin();
  if (_lseeki64(fd, offset, SEEK_SET) < 0) return -1;
  return _read(fd, buf, static_cast<unsigned>(count));
}

long backend_pwrite(int fd, const void* buf, size_t count, int64_t offset) {
  begin();
  if (_lseeki64(fd, offset, SEEK_SET) < 0) return -1;
  return _write(fd, buf, static_cast<unsigned>(count));
}

int64_t backend_file_length(int fd) {
  begin();
  return _filelengthi64(fd);
}

FILE* backend_fdopen(int fd, const char* mode) { return _fdopen(fd, mode); }

FILE* backend_fdopen_direct(int fd, const char* mode) { return _fdopen(fd, mode); }

int plat_fileno(FILE* stream) { return _fileno(stream); }

int backend_access(const char* path, int mode) { return _access(path, mode); }

int backend_stat32(const char* path, plat_stat* out) {
  // The 64-bit status call is the one every msvcrt.dll exports; sizes and
  // times are handed on as 32-bit values.
  struct _stat64 st;
  if (_stat64(path, &st) != 0) return -1;
  out->size = static_cast<uint32_t>(st.st_size);
  out->mtime = static_cast<uint32_t>(st.st_mtime);
  out->is_dir = (st.st_mode & _S_IFDIR) != 0;
  return 0;
}

int backend_remove(const char* path) {
  begin();
  return remove(path);
}

int backend_unlink(const char* path) {
  begin();
  return _unlink(path);
}

int backend_rename(const char* from, const char* to) {
  begin();
  return rename(from, to);
}

int backend_mkdir(const char* path) {
  begin();
  return _mkdir(path);
}

int backend_remove_directory(const char* path) {
  if (RemoveDirectoryA(path)) return 1;
  _doserrno = GetLastError();
  errno = EACCES;
  return 0;
}

std::string backend_registry_error_text(long code) {
  char text[256];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.')) --n;
  return n ? std::string(text, n) : "registry error " + std::to_string(code);
}
