// Files on Linux with the sharing rules of Windows.
//
// Share modes and byte locks are both open-file-description locks (fcntl
// F_OFD_SETLK): they belong to the open file, never block, and go with its
// close or with the death of its process.  Byte locks (_locking) lie where
// the caller puts them, within the first 4 GiB.  Share modes lie on a byte
// of their own far past that, the share byte: an open that denies everybody
// else (_SH_DENYRW) holds it with a write lock, every other open with a read
// lock.  So the two kinds never meet, neither on a local file system nor on
// a network file system that carries both to its server as byte-range locks
// (NFS, SMB), where a whole-file lock such as flock() would meet every byte
// lock of every other open.
//
// A write lock needs a descriptor open for writing and a read lock one open
// for reading: an open that denies others but only reads, or that shares
// but only writes, is made for reading and writing underneath when the file
// allows it, and its reads or writes are refused as the access asked for
// would refuse them.
//
// A file is removed or renamed while its share byte is held as an open
// denying others would hold it, so that no open slips in between the check
// and the change; an open checks, once it holds the share byte, that its
// path still names the file it opened.  A rename never replaces its target:
// renameat2(RENAME_NOREPLACE) where the file system has it, otherwise a
// step that the file system (or the server) decides at once: link() to the
// new name and unlink() of the old one for a file, mkdir() of the new name
// and a rename onto that empty folder for a folder.
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "classic.h"
#include "platform/backend.h"
#include "platform/platform.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/posix_paths.h"

namespace {

// Why the last call failed when errno alone would mislead, until it is
// taken; see backend_failure_reason.
const char* g_reason = nullptr;

constexpr const char* kHeldElsewhere = "held by another program";
constexpr const char* kByteHeld = "byte locked by another program";
constexpr const char* kTargetExists = "the new name exists";
constexpr const char* kFolder = "is a folder";

// The share byte: 2^62, past every offset a Windows file reaches and within
// the lock range of every file system and lock protocol.
constexpr off_t kShareByte = off_t{1} << 62;

// An open checks that its path still names its file this many times before
// it takes the file for one that keeps being replaced (EACCES).
constexpr int kOpenAttempts = 4;

// A failure with errno err and its reason.
int refuse(int err, const char* reason) {
  g_reason = reason;
  errno = err;
  return -1;
}

// Closes fd, keeping errno.
void close_quietly(int fd) {
  int err = errno;
  close(fd);
  errno = err;
}

// The access a descriptor was asked for where the OS descriptor grants more,
// by descriptor: kAsOpened, or the one access left.  It describes open
// descriptors, so a reset of the seam's state leaves it as it is.
enum Narrowed : unsigned char { kAsOpened, kReadOnly, kWriteOnly };

std::vector<Narrowed>& narrowed() {
  static auto* table = new std::vector<Narrowed>;  // never destroyed: closes may come late
  return *table;
}

void set_narrowed(int fd, Narrowed n) {
  std::vector<Narrowed>& t = narrowed();
  if (static_cast<size_t>(fd) >= t.size()) {
    if (n == kAsOpened) return;
    t.resize(static_cast<size_t>(fd) + 1, kAsOpened);
  }
  t[static_cast<size_t>(fd)] = n;
}

Narrowed narrowed_of(int fd) {
  const std::vector<Narrowed>& t = narrowed();
  return fd >= 0 && static_cast<size_t>(fd) < t.size() ? t[static_cast<size_t>(fd)] : kAsOpened;
}

// Takes (F_RDLCK, F_WRLCK) or lets go (F_UNLCK) of count bytes from start
// for the open file, without waiting: 0, or -1 with errno.
int lock_bytes(int fd, short type, off_t start, off_t count) {
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = count;
  return fcntl(fd, F_OFD_SETLK, &fl);
}

bool refused_lock(int err) { return err == EAGAIN || err == EACCES; }

// True when an open for more access than asked was refused for want of a
// right that the open asked for would not need.
bool lacks_right(int err) { return err == EACCES || err == EPERM || err == EROFS || err == ETXTBSY; }

bool same_entry(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return lstat(a.c_str(), &sa) == 0 && lstat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

constexpr int kHeld = -2;

// Opens the regular file at native and holds its share byte as an open
// denying everybody else would, so that no other open can begin while the
// file is removed or renamed: the descriptor, kHeld when another open holds
// the file, or -1 with errno when it cannot be opened (nothing is held then).
// A file that may not be written can only be held for reading: other opens
// that deny others are kept out, and one that shares is found where the
// file system answers F_OFD_GETLK.
int hold_exclusively(const std::string& native) {
  short type = F_WRLCK;
  int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
  int fd = open(native.c_str(), flags | O_RDWR);
  if (fd < 0 && lacks_right(errno)) {
    type = F_RDLCK;
    fd = open(native.c_str(), flags | O_RDONLY);
  }
  if (fd < 0) return -1;
  if (type == F_RDLCK) {
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = kShareByte;
    fl.l_len = 1;
    if (fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK) {
      close(fd);
      return kHeld;
    }
  }
  if (lock_bytes(fd, type, kShareByte, 1) != 0) {
    int err = errno;
    close(fd);
    if (refused_lock(err)) return kHeld;
    errno = err;
    return -1;
  }
  return fd;
}

bool is_dir(const std::string& native) {
  struct stat st;
  return stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// "Check, then rename": for file systems that have neither a rename that
// refuses an existing target nor hard links (some SMB servers); not atomic
// between clients.
int check_then_rename(const std::string& src, const std::string& dst) {
  struct stat st;
  if (lstat(dst.c_str(), &st) == 0) return refuse(EACCES, kTargetExists);
  return rename(src.c_str(), dst.c_str()) == 0 ? 0 : -1;
}

// True when dst is src with its last name in another case.
bool case_change(const std::string& src, const std::string& dst) {
  size_t a = src.rfind('/'), b = dst.rfind('/');
  a = a == std::string::npos ? 0 : a + 1;
  b = b == std::string::npos ? 0 : b + 1;
  return src.compare(0, a, dst, 0, b) == 0 && strcasecmp(src.c_str() + a, dst.c_str() + b) == 0;
}

// A target that exists: the source itself when only the case of its name
// changes on a file system that ignores case, which a plain rename renames;
// anything else is refused.
int target_exists(const std::string& src, const std::string& dst) {
  if (case_change(src, dst) && same_entry(src, dst)) return rename(src.c_str(), dst.c_str()) == 0 ? 0 : -1;
  return refuse(EACCES, kTargetExists);
}

// A file: link() to the new name fails at the server when the name exists;
// the old name goes after it.  Without hard links, check, then rename.
int move_file(const std::string& src, const std::string& dst) {
  if (link(src.c_str(), dst.c_str()) == 0) {
    if (unlink(src.c_str()) == 0) return 0;
    int err = errno;
    unlink(dst.c_str());
    errno = err;
    return -1;
  }
  if (errno == EEXIST) return target_exists(src, dst);
  if (errno == EPERM || errno == EOPNOTSUPP || errno == ENOSYS || errno == EMLINK) {
    return check_then_rename(src, dst);
  }
  return -1;
}

// A folder: mkdir() of the new name fails at the server when the name
// exists; the folder is then renamed onto that empty folder of ours, which a
// rename may replace.  Anything put into it meanwhile makes the rename fail
// (the folder of ours is left to its contents).
int move_folder(const std::string& src, const std::string& dst) {
  if (mkdir(dst.c_str(), 0700) != 0) {
    if (errno == EEXIST) return target_exists(src, dst);
    return -1;
  }
  if (rename(src.c_str(), dst.c_str()) == 0) return 0;
  int err = errno;
  rmdir(dst.c_str());
  if (err == ENOTEMPTY || err == EEXIST) return refuse(EACCES, kTargetExists);
  errno = err;
  return -1;
}

int rename_no_replace(const std::string& src, const std::string& dst, bool folder) {
  if (renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno == EEXIST || errno == ENOTEMPTY) return target_exists(src, dst);
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return -1;
  // No such rename here (NFS among others).
  return folder ? move_folder(src, dst) : move_file(src, dst);
}

}  // namespace

const char* backend_failure_reason() {
  const char* reason = g_reason;
  g_reason = nullptr;
  return reason;
}

std::string backend_registry_error_text(long) { return std::strerror(errno); }

int backend_sopen(const char* path, int oflag, int shflag, int pmode, int64_t* length, bool* alone) {
  *length = -1;
  *alone = false;
  // An existing file is most often named in the case it was made in: an open
  // that creates nothing tries that name first and searches for the name in
  // another case only when it is not there.
  bool creates = (oflag & CLASSIC_O_CREAT) != 0;
  std::string native = creates ? posix_map_path(path) : posix_map_path_as_given(path);
  bool searched = creates;
  int asked;
  switch (oflag & 3) {
    case CLASSIC_O_RDONLY: asked = O_RDONLY; break;
    case CLASSIC_O_WRONLY: asked = O_WRONLY; break;
    default: asked = O_RDWR; break;
  }
  int flags = O_CLOEXEC;
  if (oflag & CLASSIC_O_APPEND) flags |= O_APPEND;
  if (oflag & CLASSIC_O_CREAT) {
    flags |= O_CREAT;
    if (oflag & CLASSIC_O_EXCL) flags |= O_EXCL;
  }
  mode_t mode = (pmode & CLASSIC_S_IWRITE) ? 0666 : 0444;
  short share = (shflag == PLAT_SH_DENYRW) ? F_WRLCK : F_RDLCK;
  bool widen = (share == F_WRLCK && asked == O_RDONLY) || (share == F_RDLCK && asked == O_WRONLY);

  for (int attempt = 1;; ++attempt) {
    int fd = widen ? open(native.c_str(), flags | O_RDWR, mode) : -1;
    bool widened = fd >= 0;
    if (!widened && (!widen || lacks_right(errno))) fd = open(native.c_str(), flags | asked, mode);
    if (fd < 0 && !searched && (errno == ENOENT || errno == ENOTDIR)) {
      native = posix_map_path(path);
      searched = true;
      --attempt;
      continue;
    }
    if (fd < 0) {
      if (errno == EISDIR) return refuse(EACCES, kFolder);  // Windows refuses folders so
      return -1;
    }
    // Without the right the share byte needs, the lock this descriptor can
    // take: a read lock keeps out opens denying others, a write lock keeps
    // out every other open.  (A folder opened for reading takes its read
    // lock too, and is refused below.)
    short type = widen && !widened ? (asked == O_RDONLY ? F_RDLCK : F_WRLCK) : share;
    if (lock_bytes(fd, type, kShareByte, 1) != 0) {
      int err = errno;
      close(fd);
      if (refused_lock(err)) return refuse(EACCES, kHeldElsewhere);
      errno = err;
      return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
      close_quietly(fd);
      return -1;
    }
    if (S_ISDIR(st.st_mode)) {
      close(fd);
      return refuse(EACCES, kFolder);
    }
    // Removed or renamed between the open and the lock: the open comes after
    // that change, as on Windows, and is made again.
    struct stat named;
    if (stat(native.c_str(), &named) != 0 || named.st_dev != st.st_dev || named.st_ino != st.st_ino) {
      close(fd);
      if (attempt == kOpenAttempts) return refuse(EACCES, kHeldElsewhere);
      continue;
    }
    // Truncation waits until the share mode is granted, so that a refused
    // open never touches a file that somebody else holds.
    if ((oflag & CLASSIC_O_TRUNC) && ftruncate(fd, 0) != 0) {
      close_quietly(fd);
      return -1;
    }
    *length = (oflag & CLASSIC_O_TRUNC) ? 0 : st.st_size;
    *alone = type == F_WRLCK;
    set_narrowed(fd, !widened ? kAsOpened : asked == O_RDONLY ? kReadOnly : kWriteOnly);
    return fd;
  }
}

int backend_close(int fd) {
  set_narrowed(fd, kAsOpened);
  return close(fd);
}

bool posix_may_read(int fd) {
  if (narrowed_of(fd) != kWriteOnly) return true;
  errno = EBADF;
  return false;
}

bool posix_may_write(int fd) {
  if (narrowed_of(fd) != kReadOnly) return true;
  errno = EBADF;
  return false;
}

int backend_read(int fd, void* buf, unsigned count) {
  if (!posix_may_read(fd)) return -1;
  ssize_t n = read(fd, buf, count);
  return static_cast<int>(n);
}

int backend_write(int fd, const void* buf, unsigned count) {
  if (!posix_may_write(fd)) return -1;
  ssize_t n = write(fd, buf, count);
  return static_cast<int>(n);
}

long backend_lseek(int fd, long offset, int whence) {
  return static_cast<long>(lseek(fd, offset, whence));
}

int backend_commit(int fd) { return fsync(fd); }

int backend_chsize(int fd, long size) {
  if (!posix_may_write(fd)) return -1;
  return ftruncate(fd, static_cast<off_t>(size));
}

int backend_locking(int fd, int mode, long count) {
  off_t pos = lseek(fd, 0, SEEK_CUR);
  if (pos < 0) return -1;
  return backend_locking_at(fd, mode, pos, count, -1);
}

int backend_locking_at(int fd, int mode, int64_t offset, long count, int writable) {
  // The share byte belongs to the share mode.
  if (count < 0 || offset < 0 || offset >= kShareByte || count > kShareByte - offset) {
    errno = EINVAL;
    return -1;
  }
  short type = F_UNLCK;
  if (mode != PLAT_LK_UNLCK) {
    // A write lock needs a descriptor open for writing; a read-only one takes
    // a read lock, which still keeps every writer's lock out.  An open asked
    // for reading only and made for writing too underneath takes write locks
    // as Windows, whose byte locks are all exclusive.
    if (narrowed_of(fd) == kReadOnly) writable = 1;
    if (writable < 0) writable = (fcntl(fd, F_GETFL) & O_ACCMODE) != O_RDONLY;
    type = writable ? F_WRLCK : F_RDLCK;
  }
  if (lock_bytes(fd, type, static_cast<off_t>(offset), count) != 0) {
    if (refused_lock(errno)) return refuse(EACCES, kByteHeld);
    return -1;
  }
  return 0;
}

namespace {

// A stream mode without 't': text and binary are alike here.
struct NativeMode {
  char text[8];
  explicit NativeMode(const char* mode) {
    size_t n = 0;
    for (const char* p = mode; *p && n + 1 < sizeof text; ++p) {
      if (*p != 't') text[n++] = *p;
    }
    text[n] = 0;
  }
};

}  // namespace

FILE* backend_fdopen(int fd, const char* mode) { return fdopen(fd, NativeMode(mode).text); }

namespace {

// The streams of backend_fdopen_direct and their descriptors.  Such a stream
// is made by the C library without asking the OS anything (fdopen asks for
// the descriptor's flags); it reads, writes and seeks its descriptor when
// used as an ordinary stream and closes it when closed.
struct DirectStream {
  FILE* stream;
  int fd;
};
constexpr int kDirectStreams = 16;
// Not part of the layer's resettable state: it follows streams that are open.
DirectStream g_direct[kDirectStreams];

intptr_t fd_of_cookie(void* cookie) { return reinterpret_cast<intptr_t>(cookie); }

ssize_t cookie_read(void* cookie, char* buf, size_t size) {
  return posix_may_read(static_cast<int>(fd_of_cookie(cookie))) ? read(static_cast<int>(fd_of_cookie(cookie)), buf, size)
                                                                : -1;
}

ssize_t cookie_write(void* cookie, const char* buf, size_t size) {
  int fd = static_cast<int>(fd_of_cookie(cookie));
  // A stream reports a failed write by 0 bytes written.
  ssize_t n = posix_may_write(fd) ? write(fd, buf, size) : -1;
  return n < 0 ? 0 : n;
}

int cookie_seek(void* cookie, off64_t* offset, int whence) {
  off_t r = lseek(static_cast<int>(fd_of_cookie(cookie)), static_cast<off_t>(*offset), whence);
  if (r < 0) return -1;
  *offset = r;
  return 0;
}

int cookie_close(void* cookie) {
  int fd = static_cast<int>(fd_of_cookie(cookie));
  for (DirectStream& d : g_direct) {
    if (d.stream && d.fd == fd) d = DirectStream{};
  }
  return backend_close(fd);
}

}  // namespace

FILE* backend_fdopen_direct(int fd, const char* mode) {
  DirectStream* free_entry = nullptr;
  for (DirectStream& d : g_direct) {
    if (!d.stream) {
      free_entry = &d;
      break;
    }
  }
  // More direct streams than kept at once: an ordinary one, which works as
  // well at the cost of a call.
  if (!free_entry) return backend_fdopen(fd, mode);
  cookie_io_functions_t io{cookie_read, cookie_write, cookie_seek, cookie_close};
  FILE* stream = fopencookie(reinterpret_cast<void*>(static_cast<intptr_t>(fd)), NativeMode(mode).text, io);
  if (stream) *free_entry = DirectStream{stream, fd};
  return stream;
}

int plat_fileno(FILE* stream) {
  for (const DirectStream& d : g_direct) {
    if (d.stream == stream && stream) return d.fd;
  }
  return fileno(stream);
}

// Asks about path in the case given first, and after a search for its
// names in any case only when the file system finds nothing there.
template <class Ask>
int given_case_first(const char* path, Ask ask) {
  int r = ask(posix_map_path_as_given(path));
  if (r == 0 || (errno != ENOENT && errno != ENOTDIR)) return r;
  return ask(posix_map_path(path));
}

int backend_access(const char* path, int mode) {
  int how = F_OK;
  if (mode & 2) how |= W_OK;
  if (mode & 4) how |= R_OK;
  return given_case_first(path, [how](const std::string& native) { return access(native.c_str(), how); }) == 0 ? 0
                                                                                                             : -1;
}

int backend_stat32(const char* path, plat_stat* out) {
  struct stat st;
  if (given_case_first(path, [&st](const std::string& native) { return stat(native.c_str(), &st); }) != 0) return -1;
  out->size = static_cast<uint32_t>(st.st_size);
  out->mtime = static_cast<uint32_t>(st.st_mtime);
  out->is_dir = S_ISDIR(st.st_mode);
  return 0;
}

int backend_unlink(const char* path) {
  std::string native = posix_map_path(path);
  if (is_dir(native)) return refuse(EACCES, kFolder);
  struct stat st;
  int hold = lstat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? hold_exclusively(native) : -1;
  if (hold == kHeld) return refuse(EACCES, kHeldElsewhere);
  int r = unlink(native.c_str()) == 0 ? 0 : -1;
  if (hold >= 0) close_quietly(hold);
  return r;
}

int backend_remove(const char* path) { return backend_unlink(path); }

int backend_rename(const char* from, const char* to) {
  std::string src = posix_map_path(from);
  struct stat st;
  if (lstat(src.c_str(), &st) != 0) return -1;
  int hold = S_ISREG(st.st_mode) ? hold_exclusively(src) : -1;
  if (hold == kHeld) return refuse(EACCES, kHeldElsewhere);
  std::string folder, last;
  posix_split_path(to, &folder, &last);
  std::string dst = posix_map_path(to);
  // A change of case only: the target "exists" as the source itself.
  if (dst == src) dst = folder + "/" + last;
  int r = rename_no_replace(src, dst, S_ISDIR(st.st_mode));
  if (hold >= 0) close_quietly(hold);
  return r;
}

int backend_mkdir(const char* path) {
  return mkdir(posix_map_path(path).c_str(), 0777) == 0 ? 0 : -1;
}

int backend_remove_directory(const char* path) {
  return rmdir(posix_map_path(path).c_str()) == 0 ? 1 : 0;
}
