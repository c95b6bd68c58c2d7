#include "nfs/nfs_env.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/testing/testing.h"

// The FUSE client's path, given by the build; empty when it was not built.
#ifndef CLASSIC_NFS_FUSE
#define CLASSIC_NFS_FUSE ""
#endif

namespace nfstest {

namespace {

constexpr const char* kServer = "/usr/bin/ganesha.nfsd";
constexpr long kFuseMagic = 0x65735546;
constexpr auto kStartLimit = std::chrono::seconds(15);

using Clock = std::chrono::steady_clock;

int free_port() {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
    port = ntohs(a.sin_port);
  }
  close(s);
  return port;
}

bool accepts(int port) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(s);
  return ok;
}

std::string read_all(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string last_line(const std::string& log) {
  std::istringstream in(read_all(log));
  std::string line, last;
  while (std::getline(in, line)) {
    if (!line.empty()) last = line;
  }
  return last;
}

// The server's first complaint, less the time stamp. A start that works
// complains too, of the missing D-Bus and Kerberos: those are passed over.
std::string server_complaint(const std::string& log) {
  std::istringstream in(read_all(log));
  std::string line;
  while (std::getline(in, line)) {
    bool serious = line.find(":CRIT :") != std::string::npos || line.find(":FATAL :") != std::string::npos;
    if (!serious || line.find(":DBUS :") != std::string::npos || line.find("krb5") != std::string::npos) continue;
    size_t from = line.find("] ");
    return from == std::string::npos ? line : line.substr(from + 2);
  }
  return last_line(log);
}

// Starts argv[0] with its output in log. The child gets death_signal when
// the test program ends, so that it never outlives a test that crashed.
pid_t spawn(const std::vector<std::string>& argv, const std::string& log, int death_signal) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid != 0) return pid < 0 ? 0 : pid;
  prctl(PR_SET_PDEATHSIG, death_signal);
  if (getppid() != parent) _exit(126);
  int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
  int in = open("/dev/null", O_RDONLY);
  if (out >= 0) dup2(out, 1), dup2(out, 2);
  if (in >= 0) dup2(in, 0);
  execv(args[0], args.data());
  _exit(127);
}

bool exited(pid_t pid) {
  int status = 0;
  return waitpid(pid, &status, WNOHANG) == pid;
}

// Ends a process: signal, then SIGKILL when it has not ended in time.
void stop(pid_t pid, int signal, std::chrono::milliseconds patience) {
  kill(pid, signal);
  for (auto end = Clock::now() + patience; Clock::now() < end;) {
    if (exited(pid)) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
}

bool mounted(const std::string& path) {
  std::istringstream in(read_all("/proc/self/mountinfo"));
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, dev, root, point;
    fields >> id >> parent >> dev >> root >> point;
    if (point == path) return true;
  }
  return false;
}

std::string config(int port, const NfsOptions& options, const std::string& root) {
  std::ostringstream c;
  c << "NFS_CORE_PARAM {\n"
       "  Protocols = 4;\n"
       "  NFS_Port = " << port << ";\n"
       "  Bind_Addr = 127.0.0.1;\n"
       "  Enable_NLM = false;\n"
       "  Enable_RQUOTA = false;\n"
       "  Enable_UDP = false;\n"
       "}\n"
       "NFSv4 {\n"
       "  Graceless = true;\n";
  if (options.lease_seconds > 0) c << "  Lease_Lifetime = " << options.lease_seconds << ";\n";
  c << "  Only_Numeric_Owners = true;\n"
       "  RecoveryBackend = fs;\n"
       "  RecoveryRoot = " << root << "/recovery;\n"
       "}\n"
       // No Kerberos, and its credential cache in the temporary folder too.
       "NFS_KRB5 {\n"
       "  Active_krb5 = false;\n"
       "  CCacheDir = " << root << "/ccache;\n"
       "}\n"
       "EXPORT {\n"
       "  Export_Id = 1;\n"
       "  Path = " << root << "/export;\n"
       "  Pseudo = /export;\n"
       "  Access_Type = RW;\n"
       "  Squash = No_Root_Squash;\n"
       "  Protocols = 4;\n"
       "  Transports = TCP;\n"
       "  SecType = sys;\n"
       "  FSAL { Name = VFS; }\n"
       "}\n";
  const char* level = std::getenv("CLASSIC_NFS_LOG");
  c << "LOG { Default_Log_Level = " << (level && *level ? level : "EVENT") << "; }\n";
  return c.str();
}

}  // namespace

NfsEnv::NfsEnv(const NfsOptions& options) {
  if (geteuid() != 0) {
    failure_ = "they need root (the NFS server and the FUSE mounts)";
    return;
  }
  if (access("/dev/fuse", R_OK | W_OK) != 0) {
    failure_ = "they need /dev/fuse";
    return;
  }
  if (access(kServer, X_OK) != 0) {
    failure_ = std::string("they need nfs-ganesha (") + kServer + "; make deps installs it)";
    return;
  }
  if (std::string(CLASSIC_NFS_FUSE).empty() || access(CLASSIC_NFS_FUSE, X_OK) != 0) {
    failure_ = "they need classic_nfs_fuse, built when libnfs and fuse3 are found (make deps)";
    return;
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/classic-nfs-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back(0);
  if (!mkdtemp(buf.data())) {
    failure_ = "cannot make a temporary folder from " + templ;
    return;
  }
  root_ = buf.data();
  exported_ = root_ + "/export";
  server_log_ = root_ + "/server.log";
  for (int i = 0; i < 2; ++i) {
    mounts_[i].path = root_ + "/ws" + std::to_string(i);
    mounts_[i].log = root_ + "/client" + std::to_string(i) + ".log";
  }
  for (const char* dir : {"export", "recovery", "ccache", "ws0", "ws1"}) {
    std::filesystem::create_directory(root_ + "/" + dir);
  }
  lease_seconds_ = options.lease_seconds > 0 ? options.lease_seconds : 60;

  auto started = Clock::now();
  // The port is free when chosen but may be taken before the server binds
  // it: a second port is tried then.
  int port = 0;
  for (int attempt = 0; attempt < 3 && !port; ++attempt) {
    port = free_port();
    if (!start_server(port, options)) port = 0;
  }
  if (port && start_client(mounts_[0], port) && start_client(mounts_[1], port)) failure_.clear();
  start_seconds_ = std::chrono::duration<double>(Clock::now() - started).count();
}

bool NfsEnv::start_server(int port, const NfsOptions& options) {
  if (server_) stop(server_, SIGKILL, std::chrono::seconds(5));
  server_ = 0;
  std::string conf = root_ + "/ganesha.conf";
  std::ofstream(conf) << config(port, options, root_);
  std::filesystem::remove(server_log_);
  server_ = spawn({kServer, "-F", "-f", conf, "-L", server_log_, "-p", root_ + "/ganesha.pid"},
                  root_ + "/server.out", SIGKILL);
  if (!server_) {
    failure_ = "cannot start the NFS server";
    return false;
  }
  for (auto end = Clock::now() + kStartLimit; Clock::now() < end;) {
    if (exited(server_)) {
      server_ = 0;
      failure_ = "the NFS server stopped at its start: " + server_complaint(server_log_);
      return false;
    }
    if (read_all(server_log_).find("NFS SERVER INITIALIZED") != std::string::npos && accepts(port)) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  failure_ = "the NFS server did not answer on port " + std::to_string(port);
  return false;
}

bool NfsEnv::start_client(Mount& mount, int port) {
  stop_client(mount);
  std::string url = "nfs://127.0.0.1/export?version=4&nfsport=" + std::to_string(port);
  // Leases are renewed three times per lease.
  std::string renew = std::to_string(std::max(1, lease_seconds_ / 3));
  mount.client = spawn({CLASSIC_NFS_FUSE, url, mount.path, "--renew", renew, "-f", "-s", "-o",
                        "fsname=classic-nfs,subtype=classic-nfs"},
                       mount.log, SIGTERM);
  if (!mount.client) {
    failure_ = "cannot start the FUSE client";
    return false;
  }
  for (auto end = Clock::now() + kStartLimit; Clock::now() < end;) {
    if (exited(mount.client)) {
      mount.client = 0;
      failure_ = "the FUSE client did not mount " + mount.path + ": " + last_line(mount.log);
      return false;
    }
    struct statfs fs{};
    if (statfs(mount.path.c_str(), &fs) == 0 && fs.f_type == kFuseMagic) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  failure_ = "the FUSE client did not mount " + mount.path + " in time";
  return false;
}

void NfsEnv::stop_client(Mount& mount) {
  // SIGTERM lets the client unmount; a mount it leaves (a killed client's)
  // is detached here.
  if (mount.client) stop(mount.client, SIGTERM, std::chrono::seconds(5));
  mount.client = 0;
  if (!mount.path.empty() && mounted(mount.path)) umount2(mount.path.c_str(), MNT_DETACH);
}

void NfsEnv::kill_workstation(int workstation) {
  Mount& mount = mounts_[workstation];
  if (!mount.client) return;
  kill(mount.client, SIGKILL);
  int status = 0;
  waitpid(mount.client, &status, 0);
  mount.client = 0;
}

NfsEnv::~NfsEnv() {
  for (Mount& mount : mounts_) stop_client(mount);
  if (server_) stop(server_, SIGTERM, std::chrono::seconds(10));
  if (root_.empty()) return;
  for (Mount& mount : mounts_) {
    // Never remove through a mount that could not be taken away.
    if (mounted(mount.path)) return;
  }
  if (std::getenv("CLASSIC_NFS_KEEP")) return;
  std::error_code ec;
  std::filesystem::remove_all(root_, ec);
}

void NfsTest::SetUp() {
  std::string error;
  ASSERT_TRUE(plat_test_fresh_root(&error)) << error;
  env_ = std::make_unique<NfsEnv>(options());
  if (!env_->failure().empty()) GTEST_SKIP() << "NFS tests skipped: " << env_->failure();
  std::printf("[   NFS    ] server and two mounts up in %.2f s (lease %d s)\n", env_->start_seconds(),
              env_->lease_seconds());
  map_drive('X', 0);
  map_drive('Y', 1);
}

void NfsTest::map_drive(char letter, int workstation) {
  std::string var = std::string("CLASSIC_DRIVE_") + letter;
  setenv(var.c_str(), env_->mount(workstation).c_str(), 1);
}

void NfsTest::TearDown() {
  env_.reset();
  plat_test_drop_root();
}

}  // namespace nfstest
