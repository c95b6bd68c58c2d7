// What the operating system does on the NFS share, through the two
// workstations of the harness: the facts the library's Linux layer builds on,
// checked here so that the harness itself is known to behave like an NFSv4
// client. The library is not involved; NfsContractTest checks it on the share.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "nfs/nfs_env.h"

using NfsHarnessTest = nfstest::NfsTest;

namespace {

// A descriptor opened read-write and close-on-exec, as the library opens.
class Fd {
 public:
  explicit Fd(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {}
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// 0, or the errno of a refused lock. Neither kind ever waits.
int try_flock(int fd, int how) { return flock(fd, how | LOCK_NB) == 0 ? 0 : errno; }

int try_byte_lock(int fd, short type, off_t start, off_t len) {
  struct flock fl{};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = len;
  return fcntl(fd, F_OFD_SETLK, &fl) == 0 ? 0 : errno;
}

void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

TEST_F(NfsHarnessTest, BothWorkstationsSeeOneFile) {
  write_text(on(0, "item.dat"), "written on ws0");
  EXPECT_EQ(read_text(on(1, "item.dat")), "written on ws0");
  EXPECT_EQ(read_text(env().exported() + "/item.dat"), "written on ws0");
  // Writes larger than one NFS request's worth too.
  std::string big(100000, 'b');
  write_text(on(0, "big.dat"), big);
  EXPECT_TRUE(read_text(on(1, "big.dat")) == big);

  // A write through one open is seen at once through an open elsewhere.
  Fd a(on(0, "item.dat"));
  Fd b(on(1, "item.dat"));
  ASSERT_EQ(pwrite(b.get(), "WS1", 3, 11), 3);
  char buf[32] = {};
  ASSERT_EQ(pread(a.get(), buf, sizeof buf, 0), 14);
  EXPECT_EQ(std::string(buf, 14), "written on WS1");
  struct stat st{};
  ASSERT_EQ(fstat(a.get(), &st), 0);
  EXPECT_EQ(st.st_size, 14);

  ASSERT_EQ(mkdir(on(1, "DATA").c_str(), 0755), 0);
  ASSERT_EQ(rename(on(0, "item.dat").c_str(), on(0, "DATA/moved.dat").c_str()), 0);
  EXPECT_EQ(read_text(on(1, "DATA/moved.dat")), "written on WS1");
  EXPECT_TRUE(std::filesystem::exists(on(1, "DATA/moved.dat")));
  EXPECT_FALSE(std::filesystem::exists(on(1, "item.dat")));
  ASSERT_EQ(unlink(on(1, "DATA/moved.dat").c_str()), 0);
  EXPECT_FALSE(std::filesystem::exists(on(0, "DATA/moved.dat")));
  EXPECT_TRUE(std::filesystem::is_empty(on(0, "DATA")));
}

// OFD byte locks are byte-range locks at the server, per open file; a lock
// "to the end" (length 0) covers every later byte.
TEST_F(NfsHarnessTest, ByteLocksConflict) {
  struct Case {
    int second_ws;
    short first_type;
    off_t first_start, first_len;
    short second_type;
    off_t second_start, second_len;
    bool conflict;
  };
  const Case cases[] = {
      {1, F_WRLCK, 0, 1, F_WRLCK, 0, 1, true},
      {1, F_WRLCK, 0, 1, F_WRLCK, 1, 1, false},
      {1, F_RDLCK, 0, 10, F_RDLCK, 5, 1, false},
      {1, F_RDLCK, 0, 10, F_WRLCK, 5, 1, true},
      {1, F_WRLCK, 100, 0, F_WRLCK, off_t{1} << 40, 1, true},
      {1, F_WRLCK, 100, 0, F_WRLCK, 0, 100, false},
      {0, F_WRLCK, 0, 1, F_WRLCK, 0, 1, true},
      {0, F_WRLCK, 0, 1, F_RDLCK, 0, 1, true},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << n);
    std::string name = "bytes" + std::to_string(n++);
    Fd first(on(0, name));
    Fd second(on(c.second_ws, name));
    ASSERT_EQ(try_byte_lock(first.get(), c.first_type, c.first_start, c.first_len), 0);
    EXPECT_EQ(try_byte_lock(second.get(), c.second_type, c.second_start, c.second_len),
              c.conflict ? EAGAIN : 0);
    // Unlocking lets the other open in; the first then finds it held.
    EXPECT_EQ(try_byte_lock(first.get(), F_UNLCK, c.first_start, c.first_len), 0);
    EXPECT_EQ(try_byte_lock(second.get(), c.second_type, c.second_start, c.second_len), 0);
    EXPECT_EQ(try_byte_lock(first.get(), c.first_type, c.first_start, c.first_len),
              c.conflict ? EAGAIN : 0);
  }
}

// On NFS a shared flock is a whole-file read lock, so it refuses a byte write
// lock of any other open, on this workstation or another; on a local file
// system the two kinds of lock are independent. And flock and byte locks of
// one open file are one owner at the server: a byte unlock in that open cuts
// a hole in its shared flock that another open can then lock.
TEST_F(NfsHarnessTest, SharedFlockRefusesByteWriteLocks) {
  Fd holder(on(0, "share.ctl"));
  Fd other_ws(on(1, "share.ctl"));
  Fd same_ws(on(0, "share.ctl"));
  ASSERT_EQ(try_flock(holder.get(), LOCK_SH), 0);
  EXPECT_EQ(try_byte_lock(other_ws.get(), F_WRLCK, 5, 1), EAGAIN);
  EXPECT_EQ(try_byte_lock(same_ws.get(), F_WRLCK, 5, 1), EAGAIN);
  EXPECT_EQ(try_byte_lock(other_ws.get(), F_RDLCK, 5, 1), 0);
  EXPECT_EQ(try_byte_lock(other_ws.get(), F_UNLCK, 5, 1), 0);

  // (A file of its own: the server's locks are local locks on its files.)
  Fd local_holder(env().exported() + "/local.ctl");
  Fd local_other(env().exported() + "/local.ctl");
  ASSERT_EQ(try_flock(local_holder.get(), LOCK_SH), 0);
  EXPECT_EQ(try_byte_lock(local_other.get(), F_WRLCK, 5, 1), 0);

  EXPECT_EQ(try_byte_lock(holder.get(), F_WRLCK, 5, 1), 0);
  EXPECT_EQ(try_byte_lock(holder.get(), F_UNLCK, 5, 1), 0);
  EXPECT_EQ(try_byte_lock(other_ws.get(), F_WRLCK, 5, 1), 0);
  EXPECT_EQ(try_byte_lock(other_ws.get(), F_WRLCK, 6, 1), EAGAIN);
}

// No rename refuses an existing target by itself on NFS: renameat2 with
// RENAME_NOREPLACE answers EINVAL, unless the kernel's own look-up finds the
// target first (EEXIST). link() onto an existing name fails with EEXIST.
TEST_F(NfsHarnessTest, RenameNoReplaceAndLink) {
  write_text(on(0, "a.pce"), "a");
  write_text(on(0, "b.pce"), "b");
  EXPECT_EQ(renameat2(AT_FDCWD, on(1, "a.pce").c_str(), AT_FDCWD, on(1, "new.pce").c_str(),
                      RENAME_NOREPLACE),
            -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(renameat2(AT_FDCWD, on(1, "a.pce").c_str(), AT_FDCWD, on(1, "b.pce").c_str(),
                      RENAME_NOREPLACE),
            -1);
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(read_text(on(0, "a.pce")), "a");
  EXPECT_EQ(read_text(on(0, "b.pce")), "b");

  EXPECT_EQ(link(on(1, "a.pce").c_str(), on(1, "b.pce").c_str()), -1);
  EXPECT_EQ(errno, EEXIST);
  ASSERT_EQ(link(on(1, "a.pce").c_str(), on(1, "c.pce").c_str()), 0);
  ASSERT_EQ(unlink(on(1, "a.pce").c_str()), 0);
  EXPECT_EQ(read_text(on(0, "c.pce")), "a");
  struct stat st{};
  ASSERT_EQ(stat(on(0, "c.pce").c_str(), &st), 0);
  EXPECT_EQ(st.st_nlink, 1u);
  // A plain rename replaces its target.
  ASSERT_EQ(rename(on(0, "c.pce").c_str(), on(0, "b.pce").c_str()), 0);
  EXPECT_EQ(read_text(on(1, "b.pce")), "a");
}
