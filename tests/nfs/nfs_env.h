// Two workstations on one NFSv4 share, for the tests of NFS behaviour: an
// NFS server (nfs-ganesha, NFSv4 only) on a free port of 127.0.0.1 exporting
// a fresh temporary folder, mounted twice through the project's FUSE client
// (classic_nfs_fuse), each mount one workstation. Linux only; it needs root,
// /dev/fuse, nfs-ganesha with its VFS backend, and the client, which is built
// when libnfs and fuse3 are found (make deps installs them all).
//
// What the mounts do:
// - flock() is a whole-file NFSv4 lock (read for LOCK_SH, write for LOCK_EX)
//   and fcntl/OFD locks are NFSv4 byte-range locks, held at the server per
//   open file, so that they conflict between workstations and between two
//   opens of one workstation. Neither ever waits: a conflict is EAGAIN.
// - flock() and the byte locks of one open file are one lock owner at the
//   server, as with the Linux kernel client: they merge, and a shared flock
//   conflicts with a byte write lock of another open.
// - The locks go when the process that opened the file closes it (or dies);
//   a close by another process, such as a child's close-on-exec copy, leaves
//   them. Tests open with O_CLOEXEC, as the library does.
// - renameat2() with flags answers EINVAL, as the kernel client does (the
//   kernel itself answers EEXIST when RENAME_NOREPLACE finds the target).
// - Nothing is cached: each workstation sees the other's changes at once.
// - The locks of a workstation that dies (kill_workstation) stay at the
//   server until its lease runs out; a live one renews its leases.
//
// To look into a failure: CLASSIC_NFS_KEEP=1 keeps the temporary folder (the
// server's log and configuration, the clients' logs, the exported folder),
// and CLASSIC_NFS_LOG sets the server's log level (DEBUG, FULL_DEBUG).
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <memory>
#include <string>

namespace nfstest {

struct NfsOptions {
  // The server's lease in seconds; 0 keeps the server's default (60 s).
  int lease_seconds = 0;
};

class NfsEnv {
 public:
  // Starts the server and mounts the share twice; failure() says why not.
  explicit NfsEnv(const NfsOptions& options = {});
  // Unmounts, stops the clients and the server, removes the temporary
  // folder: nothing is left behind, whatever the test did.
  ~NfsEnv();
  NfsEnv(const NfsEnv&) = delete;
  NfsEnv& operator=(const NfsEnv&) = delete;

  // Empty when the share is up; otherwise one line saying why it is not.
  const std::string& failure() const { return failure_; }
  // The mount folder of workstation 0 or 1.
  const std::string& mount(int workstation) const { return mounts_[workstation].path; }
  // The exported folder itself, as the server keeps it (a local folder).
  const std::string& exported() const { return exported_; }
  int lease_seconds() const { return lease_seconds_; }
  // Seconds from the server's start until both mounts answered.
  double start_seconds() const { return start_seconds_; }

  // Kills the client of a workstation at once (SIGKILL), as a workstation
  // that crashes or drops off the network: its locks stay at the server
  // until its lease runs out, and its mount answers ENOTCONN from then on.
  void kill_workstation(int workstation);

 private:
  struct Mount {
    std::string path;
    std::string log;
    pid_t client = 0;
  };
  bool start_server(int port, const NfsOptions& options);
  bool start_client(Mount& mount, int port);
  void stop_client(Mount& mount);

  std::string failure_;
  std::string root_;      // the temporary folder that holds everything
  std::string exported_;
  std::string server_log_;
  pid_t server_ = 0;
  Mount mounts_[2];
  int lease_seconds_ = 60;
  double start_seconds_ = 0;
};

// The fixture of the NFS tests: a share and two workstations per test, a
// fresh store root (drive C: stays a local folder) and the drives X: and Y:
// on the share, one per workstation. The test is skipped, with the reason,
// when the share cannot be had here.
class NfsTest : public ::testing::Test {
 protected:
  // A fixture that needs another lease derives and overrides this.
  virtual NfsOptions options() const { return {}; }
  void SetUp() override;
  void TearDown() override;

  NfsEnv& env() { return *env_; }
  // The path of name (relative to the share) on a workstation.
  std::string on(int workstation, const std::string& name) const {
    return env_->mount(workstation) + "/" + name;
  }
  // The drive through which the library of this process sees the share on a
  // workstation: X: for workstation 0, Y: for workstation 1.
  static std::string drive(int workstation) { return workstation == 0 ? "x:" : "y:"; }
  // Makes drive letter (a Windows drive of the library) name the share as
  // workstation sees it, for this process and the helpers it starts next.
  void map_drive(char letter, int workstation);

 private:
  std::unique_ptr<NfsEnv> env_;
};

}  // namespace nfstest
