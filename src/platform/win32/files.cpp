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

#include "platform/platform.h"

int plat_sopen(const char* path, int oflag, int shflag, int pmode) {
  // Descriptors are not handed down to child processes.
  return _sopen(path, oflag | _O_NOINHERIT, shflag, pmode);
}

int plat_close(int fd) { return _close(fd); }

int plat_read(int fd, void* buf, unsigned count) { return _read(fd, buf, count); }

int plat_write(int fd, const void* buf, unsigned count) { return _write(fd, buf, count); }

long plat_lseek(int fd, long offset, int whence) { return _lseek(fd, offset, whence); }

int plat_commit(int fd) { return _commit(fd); }

int plat_locking(int fd, int mode, long count) { return _locking(fd, mode, count); }

FILE* plat_fdopen(int fd, const char* mode) { return _fdopen(fd, mode); }

int plat_fileno(FILE* stream) { return _fileno(stream); }

int plat_access(const char* path, int mode) { return _access(path, mode); }

int plat_stat32(const char* path, plat_stat* out) {
  // The 64-bit status call is the one every msvcrt.dll exports; sizes and
  // times are handed on as 32-bit values.
  struct _stat64 st;
  if (_stat64(path, &st) != 0) return -1;
  out->size = static_cast<uint32_t>(st.st_size);
  out->mtime = static_cast<uint32_t>(st.st_mtime);
  out->is_dir = (st.st_mode & _S_IFDIR) != 0;
  return 0;
}

int plat_remove(const char* path) { return remove(path); }

int plat_unlink(const char* path) { return _unlink(path); }

int plat_rename(const char* from, const char* to) { return rename(from, to); }

int plat_mkdir(const char* path) { return _mkdir(path); }

int plat_remove_directory(const char* path) { return RemoveDirectoryA(path) ? 1 : 0; }
