// classic_nfs_fuse: a FUSE client of an NFSv4 server, for the NFS tests. Each
// mount of it is one workstation.
//
//   classic_nfs_fuse 'nfs://HOST/EXPORT?version=4&nfsport=PORT' MOUNTPOINT
//                    [--renew SECONDS] [FUSE options, e.g. -f -s]
//
// Every open file has a libnfs context of its own, that is an NFSv4 client of
// its own, so that the server sees the locks of each open file as those of a
// separate lock owner and they conflict there, between opens of one mount as
// between mounts. flock() becomes a whole-file NFSv4 lock (read for LOCK_SH,
// write for LOCK_EX) and fcntl/OFD locks become NFSv4 byte-range locks, as the
// Linux kernel client does; neither ever waits, a conflict answers EAGAIN. A
// rename with flags answers EINVAL, as the kernel client does. Path
// operations go through one context of the mount, which holds no state.
//
// Run it single-threaded (-s): libnfs contexts are not shared between
// threads. The one other thread renews the leases of the open files' clients
// while the client lives, under the same mutex as the FUSE handlers.
#define FUSE_USE_VERSION 35
#include <fuse.h>
#include <nfsc/libnfs.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint64_t kToEnd = UINT64_MAX;  // last byte of a lock "to the end"

std::string g_url;
int g_renew_seconds = 0;
std::mutex g_mutex;
using Guard = std::lock_guard<std::mutex>;
nfs_context* g_paths = nullptr;  // the mount's context for path operations
unsigned g_clients = 0;

struct Range {
  uint64_t first, last;
  int type;  // F_RDLCK or F_WRLCK
};

struct Open {
  nfs_context* nfs = nullptr;
  nfsfh* fh = nullptr;
  std::string path;
  int flags = 0;
  bool locked_once = false;  // a LOCK of this context succeeded
  bool has_owner = false;    // the fcntl lock owner of this open is known
  uint64_t owner = 0;
  pid_t opener = 0;         // the process that opened the file
  std::vector<Range> held;  // what the server holds for this open, disjoint
};
std::set<Open*> g_opens;

// A new NFSv4 client: a unique client name, so that the server never takes
// it for an earlier client of this process restarting.
nfs_context* connect_client() {
  nfs_context* nfs = nfs_init_context();
  if (!nfs) return nullptr;
  std::string name = "classic-nfs-fuse " + std::to_string(getpid()) + "." + std::to_string(++g_clients);
  nfs4_set_client_name(nfs, name.c_str());
  nfs_url* url = nfs_parse_url_dir(nfs, g_url.c_str());
  if (!url || nfs_mount(nfs, url->server, url->path) != 0) {
    std::fprintf(stderr, "classic_nfs_fuse: %s: %s\n", g_url.c_str(), nfs_get_error(nfs));
    if (url) nfs_destroy_url(url);
    nfs_destroy_context(nfs);
    return nullptr;
  }
  nfs_destroy_url(url);
  nfs_set_dircache(nfs, 0);
  return nfs;
}

// Opens path in a client of its own. Write-only opens are read-write at the
// server, so that a one-byte READ can renew the lease.
int open_in_new_client(Open* o, mode_t mode) {
  o->nfs = connect_client();
  if (!o->nfs) return -EIO;
  int flags = o->flags;
  if ((flags & O_ACCMODE) == O_WRONLY) flags = (flags & ~O_ACCMODE) | O_RDWR;
  int r = nfs_open2(o->nfs, o->path.c_str(), flags, static_cast<int>(mode), &o->fh);
  if (r < 0) {
    nfs_destroy_context(o->nfs);
    o->nfs = nullptr;
  }
  return r;
}

Open* of(fuse_file_info* fi) { return reinterpret_cast<Open*>(fi->fh); }

// The process (thread group) of the thread that made a FUSE request.
pid_t process_of(pid_t thread) {
  std::string path = "/proc/" + std::to_string(thread) + "/status";
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return thread;
  char line[256];
  pid_t tgid = thread;
  while (std::fgets(line, sizeof line, f)) {
    if (std::sscanf(line, "Tgid: %d", &tgid) == 1) break;
  }
  std::fclose(f);
  return tgid;
}

// Sets [first, last] to type in the bookkeeping, or clears it for F_UNLCK,
// splitting the ranges it cuts, as POSIX locks of one owner do.
void record(std::vector<Range>& held, uint64_t first, uint64_t last, int type) {
  std::vector<Range> out;
  for (const Range& r : held) {
    if (r.last < first || r.first > last) {
      out.push_back(r);
      continue;
    }
    if (r.first < first) out.push_back({r.first, first - 1, r.type});
    if (r.last > last) out.push_back({last + 1, r.last, r.type});
  }
  if (type != F_UNLCK) out.push_back({first, last, type});
  std::sort(out.begin(), out.end(), [](const Range& a, const Range& b) { return a.first < b.first; });
  held = out;
}

// NFSv4 refuses a length of 0; all ones means "to the end".
uint64_t nfs_length(uint64_t first, uint64_t last) { return last == kToEnd ? kToEnd : last - first + 1; }

// Locks go through nfs_fcntl. Unlocks go through nfs_lockf at the file
// position: only that call keeps the lock stateid that LOCKU returns, and a
// later LOCK with the stale one would fail with NFS4ERR_OLD_STATEID.
int send_lock(Open* o, int type, uint64_t first, uint64_t last) {
  if (type == F_UNLCK) {
    uint64_t at = 0;
    nfs_lseek(o->nfs, o->fh, static_cast<int64_t>(first), SEEK_SET, &at);
    return nfs_lockf(o->nfs, o->fh, NFS4_F_ULOCK, nfs_length(first, last));
  }
  nfs4_flock fl{};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = first;
  fl.l_len = nfs_length(first, last);
  return nfs_fcntl(o->nfs, o->fh, NFS4_F_SETLK, &fl);
}

// Unlocks only what the open holds: libnfs loses step with the server after a
// LOCKU that matches no lock.
int unlock_range(Open* o, uint64_t first, uint64_t last) {
  int result = 0;
  for (const Range& r : o->held) {
    if (r.last < first || r.first > last) continue;
    int e = send_lock(o, F_UNLCK, std::max(first, r.first), std::min(last, r.last));
    if (e < 0) result = e;
  }
  record(o->held, first, last, F_UNLCK);
  return result;
}

int lock_range(Open* o, int type, uint64_t first, uint64_t last) {
  if (type == F_UNLCK) return unlock_range(o, first, last);
  int r = send_lock(o, type, first, last);
  if (r == 0) {
    o->locked_once = true;
    record(o->held, first, last, type);
    return 0;
  }
  bool denied = std::strstr(nfs_get_error(o->nfs), "DENIED") != nullptr;
  if (!o->locked_once) {
    // A refused first LOCK leaves libnfs's open sequence id behind the
    // server's, and every later request of this open would fail: the file is
    // opened again in a fresh client. The open holds no lock yet.
    nfs_destroy_context(o->nfs);
    if (open_in_new_client(o, 0) < 0) return -EIO;
  }
  return denied ? -EAGAIN : -EIO;
}

// libnfs does not count the open's sequence id past a first LOCK either, so
// the CLOSE of an open that locked fails (NFS4ERR_BAD_SEQID) and the server
// drops that open with the lease of its client. It holds no lock by then.
void close_open(Open* o) {
  if (o->nfs) {
    unlock_range(o, 0, kToEnd);
    nfs_close(o->nfs, o->fh);
    nfs_destroy_context(o->nfs);
  }
  g_opens.erase(o);
  delete o;
}

// Any request with an open's stateid renews its client's lease.
void renew_leases() {
  for (;;) {
    std::this_thread::sleep_for(std::chrono::seconds(g_renew_seconds));
    Guard guard(g_mutex);
    char byte;
    for (Open* o : g_opens) {
      if (o->nfs) nfs_pread(o->nfs, o->fh, 0, 1, &byte);
    }
  }
}

void to_stat(const nfs_stat_64& s, struct stat* st) {
  std::memset(st, 0, sizeof *st);
  st->st_ino = s.nfs_ino;
  st->st_mode = static_cast<mode_t>(s.nfs_mode);
  st->st_nlink = s.nfs_nlink;
  st->st_uid = static_cast<uid_t>(s.nfs_uid);
  st->st_gid = static_cast<gid_t>(s.nfs_gid);
  st->st_size = static_cast<off_t>(s.nfs_size);
  st->st_blksize = static_cast<blksize_t>(s.nfs_blksize);
  st->st_blocks = static_cast<blkcnt_t>(s.nfs_blocks);
  st->st_atim = {static_cast<time_t>(s.nfs_atime), static_cast<long>(s.nfs_atime_nsec)};
  st->st_mtim = {static_cast<time_t>(s.nfs_mtime), static_cast<long>(s.nfs_mtime_nsec)};
  st->st_ctim = {static_cast<time_t>(s.nfs_ctime), static_cast<long>(s.nfs_ctime_nsec)};
}

void* op_init(fuse_conn_info*, fuse_config* cfg) {
  // Nothing is cached: each mount sees the other's changes at once.
  cfg->entry_timeout = cfg->negative_timeout = cfg->attr_timeout = 0;
  cfg->direct_io = 1;
  cfg->hard_remove = 1;
  cfg->use_ino = 1;
  if (g_renew_seconds > 0) std::thread(renew_leases).detach();
  return nullptr;
}

int op_getattr(const char* path, struct stat* st, fuse_file_info* fi) {
  Guard guard(g_mutex);
  nfs_stat_64 s{};
  int r = fi && of(fi)->nfs ? nfs_fstat64(of(fi)->nfs, of(fi)->fh, &s) : nfs_stat64(g_paths, path, &s);
  if (r == 0) to_stat(s, st);
  return r;
}

int op_readdir(const char* path, void* buf, fuse_fill_dir_t fill, off_t, fuse_file_info*,
               fuse_readdir_flags) {
  Guard guard(g_mutex);
  nfsdir* dir = nullptr;
  int r = nfs_opendir(g_paths, path, &dir);
  if (r < 0) return r;
  fill(buf, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buf, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  while (nfsdirent* e = nfs_readdir(g_paths, dir)) {
    if (std::strcmp(e->name, ".") && std::strcmp(e->name, "..")) {
      fill(buf, e->name, nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    }
  }
  nfs_closedir(g_paths, dir);
  return 0;
}

int op_mkdir(const char* path, mode_t mode) {
  Guard guard(g_mutex);
  return nfs_mkdir2(g_paths, path, static_cast<int>(mode));
}

int op_unlink(const char* path) { Guard guard(g_mutex); return nfs_unlink(g_paths, path); }

int op_rmdir(const char* path) { Guard guard(g_mutex); return nfs_rmdir(g_paths, path); }

int op_link(const char* from, const char* to) { Guard guard(g_mutex); return nfs_link(g_paths, from, to); }

int op_rename(const char* from, const char* to, unsigned int flags) {
  if (flags) return -EINVAL;  // as the kernel's NFS client answers
  Guard guard(g_mutex);
  return nfs_rename(g_paths, from, to);
}

int op_truncate(const char* path, off_t size, fuse_file_info* fi) {
  Guard guard(g_mutex);
  auto length = static_cast<uint64_t>(size);
  if (fi && of(fi)->nfs) return nfs_ftruncate(of(fi)->nfs, of(fi)->fh, length);
  return nfs_truncate(g_paths, path, length);
}

// Both open and create give the file a client of its own. libnfs 4.0
// creates every file exclusively (EXCLUSIVE4), whatever the flags: an
// existing file answers EEXIST, which a create without O_EXCL takes as an
// open. The exclusive create leaves its verifier in the file's times, which
// are set to now.
int open_file(const char* path, int flags, mode_t mode, fuse_file_info* fi) {
  Guard guard(g_mutex);
  auto* o = new Open;
  o->path = path;
  o->opener = process_of(fuse_get_context()->pid);
  o->flags = (flags & O_CREAT) ? flags | O_EXCL : flags;
  int r = open_in_new_client(o, mode);
  if (r == 0 && (flags & O_CREAT)) {
    timeval now[2];
    gettimeofday(&now[0], nullptr);
    now[1] = now[0];
    nfs_utimes(g_paths, path, now);
  } else if (r == -EEXIST && !(flags & O_EXCL)) {
    o->flags = flags & ~O_CREAT;
    r = open_in_new_client(o, mode);
  }
  o->flags &= ~(O_CREAT | O_EXCL | O_TRUNC);  // for an open again
  if (r < 0) {
    delete o;
    return r;
  }
  g_opens.insert(o);
  fi->fh = reinterpret_cast<uint64_t>(o);
  return 0;
}

int op_open(const char* path, fuse_file_info* fi) { return open_file(path, fi->flags, 0, fi); }

int op_create(const char* path, mode_t mode, fuse_file_info* fi) {
  return open_file(path, fi->flags | O_CREAT, mode, fi);
}

int op_read(const char*, char* buf, size_t size, off_t off, fuse_file_info* fi) {
  Guard guard(g_mutex);
  if (!of(fi)->nfs) return -EIO;
  return nfs_pread(of(fi)->nfs, of(fi)->fh, static_cast<uint64_t>(off), size, buf);
}

// libnfs 4.0 cannot encode an NFSv4 WRITE of much more than 3.8 KiB (it
// fails with a ZDR error, which comes back as -1): writes go in pieces.
constexpr size_t kWritePiece = 2048;

int op_write(const char*, const char* buf, size_t size, off_t off, fuse_file_info* fi) {
  Guard guard(g_mutex);
  if (!of(fi)->nfs) return -EIO;
  size_t done = 0;
  while (done < size) {
    size_t piece = std::min(size - done, kWritePiece);
    int r = nfs_pwrite(of(fi)->nfs, of(fi)->fh, static_cast<uint64_t>(off) + done, piece, buf + done);
    if (r < 0) return done > 0 ? static_cast<int>(done) : (r == -1 ? -EIO : r);
    done += static_cast<size_t>(r);
    if (static_cast<size_t>(r) < piece) break;
  }
  return static_cast<int>(done);
}

int op_fsync(const char*, int, fuse_file_info* fi) {
  Guard guard(g_mutex);
  return of(fi)->nfs ? nfs_fsync(of(fi)->nfs, of(fi)->fh) : -EIO;
}

// The locks go at the close: FUSE sends RELEASE in the background, after
// close() has returned, and another workstation would still find them held
// for a moment. So a close (FLUSH) by the process that opened the file drops
// them at once, as if it were the last close; a close by any other process,
// such as a child closing its close-on-exec copy at exec, leaves them.
int op_flush(const char*, fuse_file_info* fi) {
  Guard guard(g_mutex);
  Open* o = of(fi);
  if (o->nfs && process_of(fuse_get_context()->pid) == o->opener) unlock_range(o, 0, kToEnd);
  return 0;
}

int op_release(const char*, fuse_file_info* fi) {
  Guard guard(g_mutex);
  close_open(of(fi));
  return 0;
}

int op_statfs(const char* path, struct statvfs* out) {
  Guard guard(g_mutex);
  nfs_statvfs_64 s{};
  int r = nfs_statvfs64(g_paths, path, &s);
  if (r < 0) return r;
  std::memset(out, 0, sizeof *out);
  out->f_bsize = s.f_bsize;
  out->f_frsize = s.f_frsize;
  out->f_blocks = s.f_blocks;
  out->f_bfree = s.f_bfree;
  out->f_bavail = s.f_bavail;
  out->f_files = s.f_files;
  out->f_ffree = s.f_ffree;
  out->f_favail = s.f_favail;
  out->f_namemax = s.f_namemax;
  return 0;
}

int op_flock(const char*, fuse_file_info* fi, int op) {
  Guard guard(g_mutex);
  Open* o = of(fi);
  if (!o->nfs) return -EIO;
  int type = (op & LOCK_EX) ? F_WRLCK : (op & LOCK_SH) ? F_RDLCK : F_UNLCK;
  return lock_range(o, type, 0, kToEnd);
}

// fcntl locks. An OFD lock's owner is its open file; FUSE also asks, at every
// close of a descriptor, to unlock the locks of the closing process, which an
// OFD lock survives: unlocks of an owner other than the open's are ignored.
// F_GETLK answers ENOSYS.
int op_lock(const char*, fuse_file_info* fi, int cmd, struct flock* fl) {
  if (cmd == F_GETLK) return -ENOSYS;
  Guard guard(g_mutex);
  Open* o = of(fi);
  if (!o->nfs) return -EIO;
  auto first = static_cast<uint64_t>(fl->l_start);
  uint64_t last = fl->l_len == 0 ? kToEnd : first + static_cast<uint64_t>(fl->l_len) - 1;
  if (fl->l_type == F_UNLCK) {
    if (!o->has_owner || fi->lock_owner != o->owner) return 0;
  } else {
    o->has_owner = true;
    o->owner = fi->lock_owner;
  }
  return lock_range(o, fl->l_type, first, last);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: classic_nfs_fuse 'nfs://HOST/EXPORT?version=4&nfsport=PORT' MOUNTPOINT "
                 "[--renew SECONDS] [FUSE options]\n");
    return 2;
  }
  g_url = argv[1];
  std::vector<char*> args = {argv[0], argv[2]};
  for (int i = 3; i < argc; ++i) {
    if (std::string(argv[i]) == "--renew" && i + 1 < argc) {
      g_renew_seconds = std::atoi(argv[++i]);
    } else {
      args.push_back(argv[i]);
    }
  }
  g_paths = connect_client();
  if (!g_paths) return 1;

  fuse_operations ops{};
  ops.init = op_init;
  ops.getattr = op_getattr;
  ops.readdir = op_readdir;
  ops.mkdir = op_mkdir;
  ops.unlink = op_unlink;
  ops.rmdir = op_rmdir;
  ops.rename = op_rename;
  ops.link = op_link;
  ops.truncate = op_truncate;
  ops.open = op_open;
  ops.create = op_create;
  ops.read = op_read;
  ops.write = op_write;
  ops.fsync = op_fsync;
  ops.flush = op_flush;
  ops.release = op_release;
  ops.statfs = op_statfs;
  ops.flock = op_flock;
  ops.lock = op_lock;
  int status = fuse_main(static_cast<int>(args.size()), args.data(), &ops, nullptr);
  nfs_destroy_context(g_paths);
  return status;
}
