// The seam's sharing contract on an NFS share: between the two workstations
// of the harness and between two opens of one, through the library's own
// calls. Share modes, byte locks and the two side by side; their release on
// a close, on a program's death and, for a workstation that dies, with its
// lease; removals and renames; names in any case; and renames onto one name
// raced by programs on both workstations.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "classic.h"
#include "nfs/nfs_env.h"
#include "platform/contract.h"
#include "platform/platform.h"
#include "support/helper.h"

namespace {

using Clock = std::chrono::steady_clock;
using NfsContractTest = nfstest::NfsTest;

constexpr int kPerm = CLASSIC_S_IREAD | CLASSIC_S_IWRITE;

int open_as(const std::string& path, int share) {
  return plat_sopen(path.c_str(), CLASSIC_O_RDWR | CLASSIC_O_BINARY, share, kPerm);
}

// 0 when an open denying others and a lock of byte 0 are both had at once
// (and given back), else the errno of the refusal.
int take_file(const std::string& path) {
  errno = 0;
  int fd = open_as(path, PLAT_SH_DENYRW);
  if (fd < 0) return errno;
  int err = plat_locking(fd, PLAT_LK_NBLCK, 1) == 0 ? 0 : errno;
  plat_close(fd);
  return err;
}

// 0 when another open may lock byte 0 (and lets go), else its errno.
int take_byte(const std::string& path) {
  int fd = open_as(path, PLAT_SH_DENYNO);
  if (fd < 0) return -1;
  errno = 0;
  int err = plat_locking(fd, PLAT_LK_NBLCK, 1) == 0 ? 0 : errno;
  plat_close(fd);
  return err;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string list(const std::string& pattern) {
  std::string names;
  plat_find_data found;
  plat_find_handle h = plat_find_first(pattern.c_str(), &found);
  if (!h) return names;
  do names += std::string(found.name) + " ";
  while (plat_find_next(h, &found));
  plat_find_close(h);
  return names;
}

}  // namespace

// args: folder, worker, rounds, result file. Once released, renames its
// file f<worker>-<r> to t<r> and its folder d<worker>-<r> to dt<r> for every
// round r, as fast as it can, and writes one line per rename: round, kind,
// start and end (microseconds of the machine's steady clock), result.
// Exits 1 when a refused rename gives any other reason than EACCES.
CLASSIC_HELPER(nfs_rename_race) {
  const std::string& folder = args[0];
  const std::string& w = args[1];
  int rounds = std::stoi(args[2]);
  helper_ready();
  helper_wait_release();
  std::ostringstream out;
  int status = 0;
  auto micros = [] {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
  };
  for (int r = 0; r < rounds; ++r) {
    for (const char* kind : {"f", "d"}) {
      std::string from = folder + "\\" + kind + w + "-" + std::to_string(r);
      std::string to = folder + "\\" + (kind[0] == 'f' ? "t" : "dt") + std::to_string(r);
      auto start = micros();
      errno = 0;
      int result = plat_rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
      out << r << " " << kind << " " << start << " " << micros() << " " << result << "\n";
      if (result != 0 && result != EACCES) status = 1;
    }
  }
  std::ofstream(plat_native_path(args[3].c_str())) << out.str();
  return status;
}

// args: path, share ("rw" denies others, "no" shares), end ("close" or
// "kill"). Opens the file with the share mode and locks byte 0; once
// released, closes it, or dies by SIGKILL holding both.
CLASSIC_HELPER(nfs_hold_file) {
  int fd = open_as(args[0], args[1] == "rw" ? PLAT_SH_DENYRW : PLAT_SH_DENYNO);
  if (fd < 0 || plat_locking(fd, PLAT_LK_NBLCK, 1) != 0) return 10;
  helper_ready();
  helper_wait_release();
  if (args[2] == "kill") raise(SIGKILL);
  plat_close(fd);
  return 0;
}

TEST_F(NfsContractTest, ShareModesAndByteLocks) {
  SCOPED_TRACE("two workstations");
  contract::check_share_modes(drive(0), drive(1));
  SCOPED_TRACE("one workstation");
  ASSERT_EQ(plat_mkdir("x:\\one"), 0);
  contract::check_share_modes("x:\\one", "X:\\ONE");
}

TEST_F(NfsContractTest, RemovalsAndRenames) { contract::check_renames(drive(0), drive(1)); }

// A name made on one workstation is found on the other in any case, and
// listed there in the case it was made in.
TEST_F(NfsContractTest, NamesInAnyCase) {
  ASSERT_EQ(plat_mkdir("x:\\Data"), 0);
  int fd = plat_sopen("x:\\Data\\Piece.Ctl", CLASSIC_O_RDWR | CLASSIC_O_CREAT | CLASSIC_O_BINARY,
                      PLAT_SH_DENYNO, kPerm);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(plat_write(fd, "abc", 3), 3);
  plat_close(fd);
  fd = plat_sopen("y:\\DATA\\PIECE.CTL", CLASSIC_O_RDWR | CLASSIC_O_CREAT | CLASSIC_O_BINARY,
                  PLAT_SH_DENYNO, kPerm);
  ASSERT_GE(fd, 0);
  char buf[8] = {};
  EXPECT_EQ(plat_read(fd, buf, sizeof buf), 3);
  EXPECT_STREQ(buf, "abc");
  plat_close(fd);
  fd = plat_sopen("y:\\data\\Model.Ctl", CLASSIC_O_WRONLY | CLASSIC_O_CREAT | CLASSIC_O_BINARY,
                  PLAT_SH_DENYNO, kPerm);
  ASSERT_GE(fd, 0);
  plat_close(fd);
  EXPECT_EQ(list("x:\\DATA\\*.CTL"), "Model.Ctl Piece.Ctl ");
  EXPECT_EQ(list("y:\\*.*"), "Data ");
}

// What another program holds goes with its close and, at once, with its
// death by SIGKILL; until then it is refused on both workstations.
TEST_F(NfsContractTest, LocksGoWithTheirHolder) {
  struct Case {
    const char* share;  // of the holder: "rw" denies others, "no" shares
    const char* end;    // "close", or "kill" (SIGKILL, holding everything)
  };
  const Case cases[] = {{"rw", "close"}, {"no", "close"}, {"rw", "kill"}, {"no", "kill"}};
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.share) + " " + c.end);
    std::string name = "\\held" + std::to_string(n++) + ".dat";
    std::ofstream(on(0, name.substr(1))) << "0123456789";
    Helper holder("nfs_hold_file", {drive(0) + name, c.share, c.end});
    ASSERT_TRUE(holder.wait_ready());
    EXPECT_EQ(take_file(drive(1) + name), EACCES);
    EXPECT_EQ(take_byte(drive(1) + name), std::string(c.share) == "rw" ? -1 : EACCES);
    EXPECT_EQ(take_file(drive(0) + name), EACCES);
    EXPECT_EQ(holder.finish(), std::string(c.end) == "kill" ? 128 + SIGKILL : 0);
    EXPECT_EQ(take_file(drive(1) + name), 0);
  }
}

// Programs on both workstations rename their own files and folders onto
// the same names at the same time: each name is won once, by one of them,
// and nothing is lost.
TEST_F(NfsContractTest, RenameRacesHaveOneWinner) {
  constexpr int kWorkers = 4;  // two on each workstation
  constexpr int kRounds = 25;
  const std::string race = env().exported() + "/race";
  std::filesystem::create_directory(race);
  for (int w = 0; w < kWorkers; ++w) {
    for (int r = 0; r < kRounds; ++r) {
      std::string id = std::to_string(w) + "-" + std::to_string(r);
      std::ofstream(race + "/f" + id) << "file of " << w;
      std::filesystem::create_directory(race + "/d" + id);
      std::ofstream(race + "/d" + id + "/owner") << w;
    }
  }
  std::vector<std::unique_ptr<Helper>> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.push_back(std::make_unique<Helper>(
        "nfs_rename_race", std::vector<std::string>{drive(w % 2) + "\\race", std::to_string(w),
                                                    std::to_string(kRounds), "c:\\race" + std::to_string(w)}));
  }
  for (auto& w : workers) ASSERT_TRUE(w->wait_ready());
  auto started = Clock::now();
  for (auto& w : workers) w->release();
  for (auto& w : workers) EXPECT_EQ(w->finish(120000), 0);
  double seconds = std::chrono::duration<double>(Clock::now() - started).count();

  // Who won each name, and whether the renames onto it overlapped in time.
  struct Try {
    long long start, end;
    int result;
  };
  std::map<std::string, std::vector<Try>> tries;  // by round and kind
  for (int w = 0; w < kWorkers; ++w) {
    std::istringstream in(slurp(plat_native_path(("c:\\race" + std::to_string(w)).c_str())));
    int r, result;
    std::string kind;
    long long start, end;
    while (in >> r >> kind >> start >> end >> result) tries[kind + std::to_string(r)].push_back({start, end, result});
  }
  EXPECT_EQ(tries.size(), static_cast<size_t>(2 * kRounds));
  int overlapped = 0;
  for (auto& [key, attempts] : tries) {
    ASSERT_EQ(attempts.size(), static_cast<size_t>(kWorkers)) << key;
    int winners = 0;
    for (const Try& t : attempts) winners += t.result == 0;
    EXPECT_EQ(winners, 1) << key;
    bool overlap = false;
    for (size_t i = 0; i < attempts.size(); ++i) {
      for (size_t j = i + 1; j < attempts.size(); ++j) {
        overlap |= attempts[i].start < attempts[j].end && attempts[j].start < attempts[i].end;
      }
    }
    overlapped += overlap;
  }
  for (int r = 0; r < kRounds; ++r) {
    SCOPED_TRACE("round " + std::to_string(r));
    std::string target = slurp(race + "/t" + std::to_string(r));
    std::string owner = slurp(race + "/dt" + std::to_string(r) + "/owner");
    int file_gone = 0, folder_gone = 0;
    for (int w = 0; w < kWorkers; ++w) {
      std::string id = std::to_string(w) + "-" + std::to_string(r);
      if (std::filesystem::exists(race + "/f" + id)) {
        EXPECT_EQ(slurp(race + "/f" + id), "file of " + std::to_string(w));
      } else {
        ++file_gone;
        EXPECT_EQ(target, "file of " + std::to_string(w));
      }
      if (std::filesystem::exists(race + "/d" + id)) {
        EXPECT_EQ(slurp(race + "/d" + id + "/owner"), std::to_string(w));
      } else {
        ++folder_gone;
        EXPECT_EQ(owner, std::to_string(w));
      }
    }
    EXPECT_EQ(file_gone, 1);
    EXPECT_EQ(folder_gone, 1);
  }
  std::printf("[   NFS    ] %d programs, %d renames in %.2f s; %d of %d names raced by overlapping renames\n",
              kWorkers, 2 * kWorkers * kRounds, seconds, overlapped, 2 * kRounds);
}

class NfsContractLeaseTest : public nfstest::NfsTest {
 protected:
  nfstest::NfsOptions options() const override { return {.lease_seconds = 3}; }
};

// A workstation keeps its programs' locks past its lease while it lives, and
// loses them when its lease runs out after it died.
TEST_F(NfsContractLeaseTest, LocksOfADeadWorkstationGoWithItsLease) {
  const int lease = env().lease_seconds();
  std::ofstream(on(0, "held.dat")) << "0123456789";
  Helper holder("nfs_hold_file", {"x:\\held.dat", "no", "close"});
  ASSERT_TRUE(holder.wait_ready());
  std::this_thread::sleep_for(std::chrono::seconds(lease + 2));
  EXPECT_EQ(take_file("y:\\held.dat"), EACCES);
  EXPECT_EQ(take_byte("y:\\held.dat"), EACCES);

  env().kill_workstation(0);
  auto killed = Clock::now();
  int seconds_held = -1;
  while (Clock::now() - killed < std::chrono::seconds(3 * lease + 10)) {
    if (take_file("y:\\held.dat") == 0) {
      seconds_held = static_cast<int>(std::chrono::duration<double>(Clock::now() - killed).count());
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_GE(seconds_held, 0) << "the dead workstation's locks were never released";
  std::printf("[   NFS    ] a dead workstation's locks went after %d s (lease %d s)\n", seconds_held, lease);
  EXPECT_GE(seconds_held, lease / 2);
  // The holder is left waiting on the dead mount; releasing it lets it end.
  holder.finish(10000);
}
