// Files on Linux with the sharing rules of Windows.
//
// Share modes are flock() locks on the open file: an open that denies
// everybody else (_SH_DENYRW) takes an exclusive flock, every other open a
// shared one, both without waiting, so a conflicting open fails at once with
// EACCES, from another process and from a second open in the same process.
// Byte locks (_locking) are open-file-description locks (F_OFD_SETLK): they
// belong to the open file, never block, and go with its close or with the
// death of its process.  On Linux the two kinds of lock do not interact.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "classic.h"
#include "platform/backend.h"
#include "platform/platform.h"
#include "platform/posix/posix_paths.h"

namespace {

// Why the last call failed when errno alone would mislead, until it is
// taken; see backend_failure_reason.
const char* g_reason = nullptr;

constexpr const char* kHeldElsewhere = "held by another program";
constexpr const char* kByteHeld = "byte locked by another program";
constexpr const char* kTargetExists = "the new name exists";
constexpr const char* kFolder = "is a folder";

// A failure with errno err and its reason.
int refuse(int err, const char* reason) {
  g_reason = reason;
  errno = err;
  return -1;
}

// True when another open of the regular file at native holds it in a way
// that Windows would not let us remove or rename it past.
bool held_elsewhere(const std::string& native) {
  int fd = open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return false;
  bool held = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(fd);
  return held;
}

bool is_dir(const std::string& native) {
  struct stat st;
  return stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool is_file(const std::string& native) {
  struct stat st;
  return stat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

const char* backend_failure_reason() {
  const char* reason = g_reason;
  g_reason = nullptr;
  return reason;
}

std::string backend_registry_error_text(long) { return std::strerror(errno); }

int backend_sopen(const char* path, int oflag, int shflag, int pmode) {
  std::string native = posix_map_path(path);
  int flags = O_CLOEXEC;
  switch (oflag & 3) {
    case CLASSIC_O_RDONLY: flags |= O_RDONLY; break;
    case CLASSIC_O_WRONLY: flags |= O_WRONLY; break;
    default: flags |= O_RDWR; break;
  }
  if (oflag & CLASSIC_O_APPEND) flags |= O_APPEND;
  if (oflag & CLASSIC_O_CREAT) {
    flags |= O_CREAT;
    if (oflag & CLASSIC_O_EXCL) flags |= O_EXCL;
  }
  mode_t mode = (pmode & CLASSIC_S_IWRITE) ? 0666 : 0444;
  int fd = open(native.c_str(), flags, mode);
  if (fd < 0) {
    if (errno == EISDIR) return refuse(EACCES, kFolder);  // Windows refuses folders so
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    close(fd);
    return refuse(EACCES, kFolder);
  }
  int how = (shflag == PLAT_SH_DENYRW) ? LOCK_EX : LOCK_SH;
  if (flock(fd, how | LOCK_NB) != 0) {
    int err = errno;
    close(fd);
    if (err == EWOULDBLOCK) return refuse(EACCES, kHeldElsewhere);
    errno = err;
    return -1;
  }
  // Truncation waits until the share mode is granted, so that a refused open
  // never touches a file that somebody else holds.
  if ((oflag & CLASSIC_O_TRUNC) && ftruncate(fd, 0) != 0) {
    int err = errno;
    close(fd);
    errno = err;
    return -1;
  }
  return fd;
}

int backend_close(int fd) { return close(fd); }

int backend_read(int fd, void* buf, unsigned count) {
  ssize_t n = read(fd, buf, count);
  return static_cast<int>(n);
}

int backend_write(int fd, const void* buf, unsigned count) {
  ssize_t n = write(fd, buf, count);
  return static_cast<int>(n);
}

long backend_lseek(int fd, long offset, int whence) {
  return static_cast<long>(lseek(fd, offset, whence));
}

int backend_commit(int fd) { return fsync(fd); }

int backend_chsize(int fd, long size) { return ftruncate(fd, static_cast<off_t>(size)); }

int backend_locking(int fd, int mode, long count) {
  off_t pos = lseek(fd, 0, SEEK_CUR);
  if (pos < 0) return -1;
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_whence = SEEK_SET;
  fl.l_start = pos;
  fl.l_len = count;
  if (mode == PLAT_LK_UNLCK) {
    fl.l_type = F_UNLCK;
  } else {
    // A write lock needs a descriptor open for writing; a read-only one takes
    // a read lock, which still keeps every writer's lock out.
    int access = fcntl(fd, F_GETFL) & O_ACCMODE;
    fl.l_type = (access == O_RDONLY) ? F_RDLCK : F_WRLCK;
  }
  if (fcntl(fd, F_OFD_SETLK, &fl) != 0) {
    if (errno == EAGAIN) return refuse(EACCES, kByteHeld);
    return -1;
  }
  return 0;
}

FILE* backend_fdopen(int fd, const char* mode) {
  char native[8];
  size_t n = 0;
  for (const char* p = mode; *p && n + 1 < sizeof native; ++p) {
    if (*p != 't') native[n++] = *p;  // text and binary are alike here
  }
  native[n] = 0;
  return fdopen(fd, native);
}

int plat_fileno(FILE* stream) { return fileno(stream); }

int plat_access(const char* path, int mode) {
  int how = F_OK;
  if (mode & 2) how |= W_OK;
  if (mode & 4) how |= R_OK;
  return access(posix_map_path(path).c_str(), how) == 0 ? 0 : -1;
}

int plat_stat32(const char* path, plat_stat* out) {
  struct stat st;
  if (stat(posix_map_path(path).c_str(), &st) != 0) return -1;
  out->size = static_cast<uint32_t>(st.st_size);
  out->mtime = static_cast<uint32_t>(st.st_mtime);
  out->is_dir = S_ISDIR(st.st_mode);
  return 0;
}

int backend_unlink(const char* path) {
  std::string native = posix_map_path(path);
  if (is_dir(native)) return refuse(EACCES, kFolder);
  if (is_file(native) && held_elsewhere(native)) return refuse(EACCES, kHeldElsewhere);
  return unlink(native.c_str()) == 0 ? 0 : -1;
}

int backend_remove(const char* path) { return backend_unlink(path); }

int backend_rename(const char* from, const char* to) {
  std::string src = posix_map_path(from);
  struct stat st;
  if (lstat(src.c_str(), &st) != 0) return -1;
  if (S_ISREG(st.st_mode) && held_elsewhere(src)) return refuse(EACCES, kHeldElsewhere);
  std::string folder, last;
  posix_split_path(to, &folder, &last);
  std::string dst = posix_map_path(to);
  // A change of case only: the target "exists" as the source itself.
  if (dst == src) dst = folder + "/" + last;
  if (renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno == EINVAL || errno == ENOSYS) {
    // File systems without no-replace renames (NFS among them).
    if (lstat(dst.c_str(), &st) == 0) return refuse(EACCES, kTargetExists);
    return rename(src.c_str(), dst.c_str()) == 0 ? 0 : -1;
  }
  if (errno == EEXIST || errno == ENOTEMPTY) return refuse(EACCES, kTargetExists);
  return -1;
}

int backend_mkdir(const char* path) {
  return mkdir(posix_map_path(path).c_str(), 0777) == 0 ? 0 : -1;
}

int backend_remove_directory(const char* path) {
  return rmdir(posix_map_path(path).c_str()) == 0 ? 1 : 0;
}
