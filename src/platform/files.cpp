// The file calls of the seam as the library makes them: each goes to its
// backend, and a failure is noted as the cause of what the library reports
// next (the call, the path the OS saw, the OS error and its text).  The
// streams of control, data and log files are read and written here too, so
// that their failures are noted alike.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "classic.h"
#include "platform/backend.h"
#include "platform/platform.h"
#include "platform/state.h"

namespace {

void copy_text(char* out, size_t size, const char* text) {
  std::snprintf(out, size, "%s", text ? text : "");
}

// Notes the failure of call on path; errno stays as the failed call left it.
void note_failure(const char* call, const char* path, const char* reason) {
  int err = errno;
  PlatformState& st = platform_state();
  plat_cause& c = st.cause;
  copy_text(c.call, sizeof c.call, call);
  copy_text(c.path, sizeof c.path, path ? backend_native_path(path).c_str() : "");
  c.error = err;
  copy_text(c.text, sizeof c.text, reason ? reason : std::strerror(err));
  st.has_cause = true;
  errno = err;
}

void note_file_failure(const char* call, const char* path) {
  note_failure(call, path, backend_failure_reason());
}

void note_registry_failure(const char* call, const char* name, long code) {
  int err = errno;
  note_failure(call, nullptr, backend_registry_error_text(code).c_str());
  plat_cause& c = platform_state().cause;
  copy_text(c.path, sizeof c.path, name);
  errno = err;
}

PlatOpenFile& slot_of(int fd) { return platform_state().open[(fd < 0 ? -fd : fd) % PLAT_OPEN_SLOTS]; }

// The Windows-form path of an open descriptor, or null.
const char* path_of(int fd) {
  PlatOpenFile& f = slot_of(fd);
  return f.fd == fd ? f.path : nullptr;
}

// Drops what was read ahead for stream: its file may change once it is
// closed, and another stream may get its address.
void forget_read_ahead(FILE* stream) {
  PlatReadAhead& a = platform_state().ahead;
  if (a.stream == stream) a.stream = nullptr;
}

// The file of fd may change its length by a call this layer does not follow.
void forget_length(int fd) {
  PlatOpenFile& f = slot_of(fd);
  if (f.fd == fd) f.length = -1;
}

void forget(int fd) {
  PlatOpenFile& f = slot_of(fd);
  if (f.fd == fd) {
    if (f.direct) forget_read_ahead(f.direct);
    f.fd = -1;
    f.direct = nullptr;
  }
}

// The record of a stream of plat_fdopen_direct, or null for any other.
PlatOpenFile* direct_of(FILE* stream) {
  if (!stream) return nullptr;
  int fd = plat_fileno(stream);
  PlatOpenFile& f = slot_of(fd);
  return f.fd == fd && f.direct == stream ? &f : nullptr;
}

// Whether the descriptor was opened for writing: 1, 0, or -1 when unknown.
int writable(int fd) {
  const PlatOpenFile& f = slot_of(fd);
  if (f.fd != fd) return -1;
  return (f.oflag & 3) != CLASSIC_O_RDONLY ? 1 : 0;
}

void note_fd_failure(const char* call, int fd) { note_file_failure(call, path_of(fd)); }

void note_stream_failure(const char* call, FILE* stream) {
  note_fd_failure(call, stream ? plat_fileno(stream) : -1);
}

// Tells the counting hook of a call into this layer.
void counted(const char* call) {
  if (void (*count)(const char*) = platform_state().hooks.count) count(call);
}

// Asks the fault hook about a call that changes a file: true (errno set)
// when the call is to fail without being made.
bool faulted(const char* call) {
  counted(call);
  int (*fault)(const char*) = platform_state().hooks.fault;
  if (!fault) return false;
  int err = fault(call);
  if (err == 0) return false;
  errno = err;
  return true;
}

bool creates(int oflag) { return (oflag & (CLASSIC_O_CREAT | CLASSIC_O_TRUNC)) != 0; }

}  // namespace

bool plat_get_cause(plat_cause* out) {
  const PlatformState& st = platform_state();
  if (st.has_cause && out) *out = st.cause;
  return st.has_cause;
}

void plat_set_cause(const plat_cause* cause) {
  PlatformState& st = platform_state();
  st.has_cause = cause != nullptr;
  st.cause = cause ? *cause : plat_cause{};
}

int plat_sopen(const char* path, int oflag, int shflag, int pmode) {
  bool fails = creates(oflag) ? faulted("open") : (counted("open"), false);
  int64_t length = -1;
  bool alone = false;
  int fd = fails ? -1 : backend_sopen(path, oflag, shflag, pmode, &length, &alone);
  if (fd < 0) {
    note_file_failure("open", path);
    return fd;
  }
  PlatOpenFile& f = slot_of(fd);
  f.fd = fd;
  f.oflag = oflag;
  f.direct = nullptr;
  f.length = alone ? length : -1;
  f.seen = length;
  copy_text(f.path, sizeof f.path, path);
  return fd;
}

int plat_close(int fd) {
  counted("close");
  int r = backend_close(fd);
  if (r != 0) note_fd_failure("close", fd);
  forget(fd);
  return r;
}

int plat_read(int fd, void* buf, unsigned count) {
  counted("read");
  int n = backend_read(fd, buf, count);
  if (n < 0) note_fd_failure("read", fd);
  return n;
}

int plat_write(int fd, const void* buf, unsigned count) {
  forget_length(fd);
  int n = faulted("write") ? -1 : backend_write(fd, buf, count);
  if (n < 0 || static_cast<unsigned>(n) < count) {
    // A short write is a full disk that has not said so yet.
    if (n >= 0) errno = ENOSPC;
    note_fd_failure("write", fd);
  }
  return n;
}

long plat_lseek(int fd, long offset, int whence) {
  long r = faulted("seek") ? -1 : backend_lseek(fd, offset, whence);
  if (r < 0) note_fd_failure("seek", fd);
  return r;
}

int plat_commit(int fd) {
  int r = faulted("commit") ? -1 : backend_commit(fd);
  if (r != 0) note_fd_failure("commit", fd);
  return r;
}

int plat_chsize(int fd, long size) {
  forget_length(fd);
  int r = faulted("truncate") ? -1 : backend_chsize(fd, size);
  if (r != 0) note_fd_failure("truncate", fd);
  return r;
}

int plat_locking(int fd, int mode, long count) {
  // On a direct stream's descriptor the position is the stream's own.
  PlatOpenFile& f = slot_of(fd);
  if (f.fd == fd && f.direct) return plat_locking_at(fd, mode, static_cast<long>(f.where), count);
  counted("lock");
  int r = backend_locking(fd, mode, count);
  if (r != 0) note_fd_failure(mode == PLAT_LK_UNLCK ? "unlock" : "lock", fd);
  return r;
}

long plat_pread(int fd, void* buf, size_t count, long offset) {
  counted("read");
  long n = backend_pread(fd, buf, count, offset);
  if (n < 0) note_fd_failure("read", fd);
  return n;
}

long plat_pwrite(int fd, const void* buf, size_t count, long offset) {
  forget_length(fd);
  long n = faulted("write") ? -1 : backend_pwrite(fd, buf, count, offset);
  if (n < 0 || static_cast<size_t>(n) < count) {
    // A short write is a full disk that has not said so yet.
    if (n >= 0) errno = ENOSPC;
    note_fd_failure("write", fd);
  }
  return n;
}

long plat_file_length(int fd) {
  const PlatOpenFile& f = slot_of(fd);
  if (f.fd == fd && f.length >= 0) return f.length > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<long>(f.length);
  counted("length");
  int64_t n = backend_file_length(fd);
  if (n < 0) note_fd_failure("seek", fd);
  return n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<long>(n);
}

long plat_length_at_open(int fd) {
  const PlatOpenFile& f = slot_of(fd);
  if (f.fd != fd || f.seen < 0) return -1;
  return f.seen > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<long>(f.seen);
}

int plat_locking_at(int fd, int mode, long offset, long count) {
  counted("lock");
  int r = backend_locking_at(fd, mode, offset, count, writable(fd));
  if (r != 0) note_fd_failure(mode == PLAT_LK_UNLCK ? "unlock" : "lock", fd);
  return r;
}

FILE* plat_fdopen(int fd, const char* mode) {
  counted("fdopen");
  FILE* f = backend_fdopen(fd, mode);
  if (!f) note_fd_failure("open", fd);
  return f;
}

int plat_remove(const char* path) {
  int r = faulted("remove") ? -1 : backend_remove(path);
  if (r != 0) note_file_failure("remove", path);
  return r;
}

int plat_unlink(const char* path) {
  int r = faulted("remove") ? -1 : backend_unlink(path);
  if (r != 0) note_file_failure("remove", path);
  return r;
}

int plat_rename(const char* from, const char* to) {
  int r = faulted("rename") ? -1 : backend_rename(from, to);
  if (r != 0) note_file_failure("rename", from);
  return r;
}

int plat_mkdir(const char* path) {
  int r = faulted("mkdir") ? -1 : backend_mkdir(path);
  if (r != 0 && errno != EEXIST) note_file_failure("mkdir", path);
  return r;
}

int plat_remove_directory(const char* path) {
  int r = faulted("rmdir") ? 0 : backend_remove_directory(path);
  if (r == 0) note_file_failure("rmdir", path);
  return r;
}

int plat_access(const char* path, int mode) {
  counted("access");
  return backend_access(path, mode);
}

int plat_stat32(const char* path, plat_stat* out) {
  counted("stat");
  return backend_stat32(path, out);
}

plat_find_handle plat_find_first(const char* pattern, plat_find_data* out) {
  counted("find");
  return backend_find_first(pattern, out);
}

int plat_find_next(plat_find_handle handle, plat_find_data* out) {
  counted("find");
  return backend_find_next(handle, out);
}

void plat_find_close(plat_find_handle handle) {
  counted("find");
  backend_find_close(handle);
}

unsigned long plat_logical_drives() {
  counted("drives");
  return backend_logical_drives();
}

int plat_disk_free_ex(const char* root, uint64_t* available) {
  counted("space");
  return backend_disk_free_ex(root, available);
}

int plat_disk_free(const char* root, uint32_t* sectors_per_cluster, uint32_t* bytes_per_sector,
                   uint32_t* free_clusters, uint32_t* total_clusters) {
  counted("space");
  return backend_disk_free(root, sectors_per_cluster, bytes_per_sector, free_clusters, total_clusters);
}

long plat_reg_open_key(plat_hkey parent, const char* subkey, unsigned long access, plat_hkey* out) {
  counted("registry");
  return backend_reg_open_key(parent, subkey, access, out);
}

long plat_reg_close_key(plat_hkey key) {
  counted("registry");
  return backend_reg_close_key(key);
}

long plat_reg_enum_key(plat_hkey key, unsigned long index, char* name, unsigned long* length) {
  counted("registry");
  return backend_reg_enum_key(key, index, name, length);
}

long plat_reg_query_value(plat_hkey key, const char* value, unsigned long* type, void* data,
                          unsigned long* size) {
  counted("registry");
  return backend_reg_query_value(key, value, type, data, size);
}

long plat_reg_create_key(plat_hkey parent, const char* subkey, plat_hkey* out) {
  long r = faulted("registry") ? PLAT_ERROR_ACCESS_DENIED : backend_reg_create_key(parent, subkey, out);
  if (r != PLAT_ERROR_SUCCESS) note_registry_failure("registry", subkey, r);
  return r;
}

long plat_reg_delete_key(plat_hkey parent, const char* subkey) {
  long r = faulted("registry") ? PLAT_ERROR_ACCESS_DENIED : backend_reg_delete_key(parent, subkey);
  // A key that is not there is gone already.
  if (r != PLAT_ERROR_SUCCESS && r != PLAT_ERROR_FILE_NOT_FOUND) {
    note_registry_failure("registry", subkey, r);
  }
  return r;
}

long plat_reg_set_value(plat_hkey key, const char* value, unsigned long type, const void* data,
                        unsigned long size) {
  long r = faulted("registry") ? PLAT_ERROR_ACCESS_DENIED : backend_reg_set_value(key, value, type, data, size);
  if (r != PLAT_ERROR_SUCCESS) note_registry_failure("registry", value, r);
  return r;
}

FILE* plat_fdopen_direct(int fd, const char* mode) {
  counted("fdopen");
  FILE* stream = backend_fdopen_direct(fd, mode);
  if (!stream) {
    note_fd_failure("open", fd);
    return nullptr;
  }
  std::setvbuf(stream, nullptr, _IONBF, 0);
  // A descriptor that shares its record with another one (far more than
  // PLAT_OPEN_SLOTS files open) stays an ordinary stream: slower, as right.
  PlatOpenFile& f = slot_of(fd);
  if (f.fd == fd) {
    f.direct = stream;
    f.where = 0;
    forget_read_ahead(stream);
  }
  return stream;
}

namespace {

// Reads or writes all of bytes at the direct stream's position, as far as
// the file or the OS allows; the bytes moved (the position moves past them)
// and whether the OS failed.
size_t direct_transfer(PlatOpenFile& f, char* read_to, const char* write_from, size_t bytes, bool* failed) {
  size_t done = 0;
  *failed = false;
  while (done < bytes) {
    long n = read_to ? backend_pread(f.fd, read_to + done, bytes - done, f.where)
                     : backend_pwrite(f.fd, write_from + done, bytes - done, f.where);
    if (n < 0) {
      *failed = true;
      break;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
    f.where += n;
  }
  return done;
}

// Reads bytes at the direct stream's position.  A read that starts where
// the last one ended is served from, or reads, a block ahead; any other is
// made as asked, so that the probes of a binary search read no more than
// their window.  The file cannot change under a direct stream between its
// own writes: its session holds it exclusively.
size_t read_through(PlatOpenFile& f, char* out, size_t bytes, bool* failed) {
  PlatReadAhead& a = platform_state().ahead;
  if (a.stream != f.direct) a = PlatReadAhead{f.direct, a.bytes, 0, 0, -1, 0, false};
  const int64_t held_end = a.start + static_cast<int64_t>(a.length);
  size_t done = 0;
  *failed = false;
  while (done < bytes) {
    if (a.length && f.where >= a.start && f.where < held_end) {
      size_t n = std::min(bytes - done, static_cast<size_t>(held_end - f.where));
      std::memcpy(out + done, a.bytes + (f.where - a.start), n);
      done += n;
      f.where += n;
      continue;
    }
    if (a.length && a.ends_file && f.where >= held_end) break;  // nothing more to read
    const bool sequential = f.where == a.last_end || (a.length && f.where == held_end);
    counted("read");
    if (!sequential || bytes - done >= PLAT_READ_AHEAD_MAX) {
      a.next = 0;
      done += direct_transfer(f, out + done, nullptr, bytes - done, failed);
      break;
    }
    if (!a.bytes && !(a.bytes = static_cast<char*>(std::malloc(PLAT_READ_AHEAD_MAX)))) {
      done += direct_transfer(f, out + done, nullptr, bytes - done, failed);
      break;
    }
    a.next = std::min(PLAT_READ_AHEAD_MAX, std::max(a.next * 2, static_cast<size_t>(16 * 1024)));
    long n = backend_pread(f.fd, a.bytes, a.next, f.where);
    if (n <= 0) {
      *failed = n < 0;
      a.length = 0;
      break;
    }
    a.start = f.where;
    a.length = static_cast<size_t>(n);
    a.ends_file = static_cast<size_t>(n) < a.next;
    if (static_cast<size_t>(n) < a.next && static_cast<size_t>(n) < bytes - done) {
      // The file ends inside this block: serve what there is and stop.
      std::memcpy(out + done, a.bytes, static_cast<size_t>(n));
      done += static_cast<size_t>(n);
      f.where += n;
      break;
    }
    return done + read_through(f, out + done, bytes - done, failed);
  }
  a.last_end = f.where;
  return done;
}

}  // namespace

size_t plat_fread(void* buf, size_t size, size_t count, FILE* stream) {
  // A direct stream counts the reads that reach the OS.
  if (PlatOpenFile* f = direct_of(stream)) {
    if (size == 0 || count == 0) return 0;
    bool failed = false;
    size_t got = read_through(*f, static_cast<char*>(buf), size * count, &failed);
    if (failed) note_stream_failure("read", stream);
    return got / size;
  }
  counted("read");
  size_t n = std::fread(buf, size, count, stream);
  if (n < count && std::ferror(stream)) note_stream_failure("read", stream);
  return n;
}

size_t plat_fwrite(const void* buf, size_t size, size_t count, FILE* stream) {
  if (PlatOpenFile* f = direct_of(stream)) {
    if (faulted("write")) {
      note_stream_failure("write", stream);
      return 0;
    }
    if (size == 0 || count == 0) return 0;
    forget_read_ahead(stream);
    bool failed = false;
    size_t put = direct_transfer(*f, nullptr, static_cast<const char*>(buf), size * count, &failed);
    if (f->length >= 0) f->length = failed ? -1 : std::max(f->length, f->where);
    if (put < size * count) {
      // A short write is a full disk that has not said so yet.
      if (!failed) errno = ENOSPC;
      note_stream_failure("write", stream);
    }
    return put / size;
  }
  forget_length(plat_fileno(stream));
  size_t n = faulted("write") ? 0 : std::fwrite(buf, size, count, stream);
  if (n < count) note_stream_failure("write", stream);
  return n;
}

int plat_fseek(FILE* stream, long offset, int whence) {
  if (PlatOpenFile* f = direct_of(stream)) {
    // Only a seek from the end asks the OS anything: the file's length.
    int64_t from = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? f->where : -1;
    if (whence == SEEK_END && f->length >= 0) {
      from = f->length;
    } else if (whence == SEEK_END) {
      counted("length");
      from = backend_file_length(f->fd);
      if (from < 0) {
        note_stream_failure("seek", stream);
        return -1;
      }
    }
    if (from + offset < 0 || from + offset > 0x7FFFFFFF) {
      errno = EINVAL;
      note_stream_failure("seek", stream);
      return -1;
    }
    f->where = from + offset;
    return 0;
  }
  int r = faulted("seek") ? -1 : std::fseek(stream, offset, whence);
  if (r != 0) note_stream_failure("seek", stream);
  return r;
}

long plat_ftell(FILE* stream) {
  if (const PlatOpenFile* f = direct_of(stream)) return static_cast<long>(f->where);
  counted("tell");
  long r = std::ftell(stream);
  if (r < 0) note_stream_failure("seek", stream);
  return r;
}

int plat_fflush(FILE* stream) {
  if (direct_of(stream)) return 0;  // it buffers nothing
  int r = faulted("flush") ? EOF : std::fflush(stream);
  if (r != 0) note_stream_failure("flush", stream);
  return r;
}

int plat_fclose(FILE* stream) {
  int fd = plat_fileno(stream);
  const char* known = path_of(fd);
  char path[PLAT_CAUSE_PATH_SIZE];
  copy_text(path, sizeof path, known);
  int r = 0;
  if (faulted("close")) {
    // The close fails as one whose flush failed: what the stream still
    // buffers never reaches the file, and the stream is gone all the same.
    int err = errno;
    plat_fdiscard(stream);
    errno = err;
    r = EOF;
  } else {
    r = std::fclose(stream);
  }
  if (r != 0) note_file_failure("close", known ? path : nullptr);
  forget(fd);
  return r;
}

void plat_fdiscard(FILE* stream) {
  // With its descriptor closed first, the stream has nowhere to write what
  // it buffers; closing it then only frees it.
  int fd = plat_fileno(stream);
  int err = errno;
  // A direct stream buffers nothing: closing it closes its descriptor.
  if (!direct_of(stream)) backend_close(fd);
  std::fclose(stream);
  forget(fd);
  errno = err;
}
