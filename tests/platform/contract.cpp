#include "platform/contract.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "classic.h"
#include "platform/platform.h"
#include "platform/testing/testing.h"

namespace contract {

namespace {

constexpr int kPerm = CLASSIC_S_IREAD | CLASSIC_S_IWRITE;
constexpr int RW = CLASSIC_O_RDWR;
constexpr int RO = CLASSIC_O_RDONLY;
constexpr int WO = CLASSIC_O_WRONLY;
constexpr int DENYRW = PLAT_SH_DENYRW;
constexpr int DENYNO = PLAT_SH_DENYNO;

int open_as(const std::string& path, int share, int access) {
  return plat_sopen(path.c_str(), access | CLASSIC_O_BINARY, share, kPerm);
}

void make_file(const std::string& path, const std::string& bytes) {
  int fd = plat_sopen(path.c_str(), WO | CLASSIC_O_CREAT | CLASSIC_O_TRUNC | CLASSIC_O_BINARY, DENYNO, kPerm);
  ASSERT_GE(fd, 0) << path;
  EXPECT_EQ(plat_write(fd, bytes.data(), static_cast<unsigned>(bytes.size())), static_cast<int>(bytes.size()));
  plat_close(fd);
}

std::string read_file(const std::string& path) {
  int fd = open_as(path, DENYNO, RO);
  if (fd < 0) return "(cannot open " + path + ")";
  char buf[256];
  int n = plat_read(fd, buf, sizeof buf);
  plat_close(fd);
  return n < 0 ? "(cannot read " + path + ")" : std::string(buf, static_cast<size_t>(n));
}

bool exists(const std::string& path) { return plat_access(path.c_str(), 0) == 0; }

// The names in folder that equal name without regard to case.
std::vector<std::string> names_like(const std::string& folder, const std::string& name) {
  std::vector<std::string> out;
  plat_find_data found;
  plat_find_handle h = plat_find_first((folder + "\\*").c_str(), &found);
  if (!h) return out;
  do {
    std::string n = found.name;
    std::string a = n, b = name;
    for (char& c : a) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (char& c : b) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (a == b) out.push_back(n);
  } while (plat_find_next(h, &found));
  plat_find_close(h);
  return out;
}

// Locks byte at of fd; 0, or errno of the refusal.
int lock_byte(int fd, long at) {
  if (plat_lseek(fd, at, SEEK_SET) != at) return -1;
  errno = 0;
  return plat_locking(fd, PLAT_LK_NBLCK, 1) == 0 ? 0 : errno;
}

struct OpenAs {
  int share;
  int access;
  bool lock;  // locks byte 0 after the open
};

struct ShareCase {
  const char* what;
  OpenAs first;
  OpenAs second;
  bool opens;  // the second open is let in while the first is open
  bool locks;  // and, when it locks, takes byte 0
};

const ShareCase kShareCases[] = {
    {"exclusive, then exclusive", {DENYRW, RW, true}, {DENYRW, RW, false}, false, false},
    {"exclusive, then sharing reader", {DENYRW, RW, false}, {DENYNO, RO, false}, false, false},
    {"sharing, then exclusive", {DENYNO, RW, false}, {DENYRW, RW, false}, false, false},
    {"exclusive reader, then exclusive reader", {DENYRW, RO, true}, {DENYRW, RO, false}, false, false},
    {"sharing reader, then exclusive reader", {DENYNO, RO, false}, {DENYRW, RO, false}, false, false},
    {"sharing writer, then exclusive", {DENYNO, WO, false}, {DENYRW, RW, false}, false, false},
    // Share modes beside byte locks: only another byte lock meets a byte lock.
    {"sharing, then sharing writer that locks", {DENYNO, RW, false}, {DENYNO, WO, true}, true, true},
    {"sharing reader, then sharing that locks", {DENYNO, RO, false}, {DENYNO, RW, true}, true, true},
    {"sharing that locks, then sharing that locks", {DENYNO, RW, true}, {DENYNO, RW, true}, true, false},
    {"sharing that locks, then sharing reader that locks", {DENYNO, RW, true}, {DENYNO, RO, true}, true, false},
};

}  // namespace

void check_share_modes(const std::string& a, const std::string& b) {
  int n = 0;
  for (const ShareCase& c : kShareCases) {
    SCOPED_TRACE(c.what);
    std::string name = "\\share" + std::to_string(n++) + ".dat";
    make_file(a + name, "0123456789");
    int first = open_as(a + name, c.first.share, c.first.access);
    ASSERT_GE(first, 0);
    if (c.first.lock) {
      ASSERT_EQ(lock_byte(first, 0), 0);
    }

    errno = 0;
    int second = open_as(b + name, c.second.share, c.second.access);
    if (!c.opens) {
      EXPECT_LT(second, 0);
      EXPECT_EQ(errno, EACCES);
      if (second >= 0) plat_close(second);
    } else {
      ASSERT_GE(second, 0);
      if (c.second.lock) {
        int locked = lock_byte(second, 0);
        EXPECT_EQ(locked, c.locks ? 0 : EACCES);
        // The bytes the first does not lock stay free.
        EXPECT_EQ(lock_byte(second, 1), 0);
        // Windows locks a byte a handle holds no second time: both go again.
        EXPECT_EQ(plat_locking(second, PLAT_LK_UNLCK, 1), 0);
        if (locked == 0) {
          ASSERT_EQ(plat_lseek(second, 0, SEEK_SET), 0);
          EXPECT_EQ(plat_locking(second, PLAT_LK_UNLCK, 1), 0);
        }
      }
    }

    // A close frees the share mode and the byte.
    plat_close(first);
    if (!c.opens) second = open_as(b + name, c.second.share, c.second.access);
    ASSERT_GE(second, 0);
    if (c.second.lock) {
      EXPECT_EQ(lock_byte(second, 0), 0);
    }
    plat_close(second);
    int again = open_as(a + name, DENYRW, RW);
    EXPECT_GE(again, 0);
    if (again >= 0) plat_close(again);
  }

  // An open's access is the one asked for, whatever the share mode needs.
  make_file(a + "\\access.dat", "0123456789");
  int reader = open_as(a + "\\access.dat", DENYRW, RO);
  ASSERT_GE(reader, 0);
  char byte = 0;
  EXPECT_EQ(plat_read(reader, &byte, 1), 1);
  EXPECT_LT(plat_write(reader, "x", 1), 0);
  plat_close(reader);
  int writer = open_as(b + "\\access.dat", DENYNO, WO);
  ASSERT_GE(writer, 0);
  EXPECT_LT(plat_read(writer, &byte, 1), 0);
  EXPECT_EQ(plat_write(writer, "x", 1), 1);
  plat_close(writer);
  EXPECT_EQ(read_file(a + "\\access.dat"), "x123456789");
}

void check_renames(const std::string& a, const std::string& b) {
  // A file held through a: not removed, not renamed through b.
  make_file(a + "\\held.dat", "held");
  int holder = open_as(a + "\\held.dat", DENYNO, RO);
  ASSERT_GE(holder, 0);
  EXPECT_NE(plat_remove((b + "\\held.dat").c_str()), 0);
  EXPECT_NE(plat_rename((b + "\\held.dat").c_str(), (b + "\\moved.dat").c_str()), 0);
  plat_close(holder);
  EXPECT_EQ(plat_rename((b + "\\held.dat").c_str(), (b + "\\moved.dat").c_str()), 0);
  EXPECT_EQ(read_file(a + "\\moved.dat"), "held");
  EXPECT_FALSE(exists(a + "\\held.dat"));

  // Never onto a name that exists, whatever it names.
  make_file(a + "\\other.dat", "other");
  const std::string file_in = a + "\\full\\inner.dat";
  EXPECT_EQ(plat_mkdir((a + "\\one").c_str()), 0);
  make_file(a + "\\one\\mine.dat", "one");
  EXPECT_EQ(plat_mkdir((a + "\\empty").c_str()), 0);
  EXPECT_EQ(plat_mkdir((a + "\\full").c_str()), 0);
  make_file(file_in, "full");
  struct Refused {
    const char* from;
    const char* to;
  };
  const Refused refused[] = {
      {"moved.dat", "OTHER.DAT"}, {"moved.dat", "empty"}, {"one", "empty"},
      {"one", "full"},            {"one", "other.dat"},
  };
  for (const Refused& r : refused) {
    SCOPED_TRACE(std::string(r.from) + " onto " + r.to);
    EXPECT_NE(plat_rename((b + "\\" + r.from).c_str(), (b + "\\" + r.to).c_str()), 0);
  }
  EXPECT_EQ(read_file(a + "\\moved.dat"), "held");
  EXPECT_EQ(read_file(a + "\\other.dat"), "other");
  EXPECT_EQ(read_file(a + "\\one\\mine.dat"), "one");
  EXPECT_EQ(read_file(file_in), "full");
  EXPECT_TRUE(exists(a + "\\empty"));

  // Onto a free name, and to another case of the same name.
  EXPECT_EQ(plat_rename((b + "\\one").c_str(), (b + "\\three").c_str()), 0);
  EXPECT_EQ(read_file(a + "\\three\\mine.dat"), "one");
  // (wine keeps a name's old case when a rename changes only that.)
  const bool case_changes = !plat_test_under_wine();
  EXPECT_EQ(plat_rename((b + "\\three").c_str(), (b + "\\Three").c_str()), 0);
  EXPECT_EQ(names_like(a, "three"), std::vector<std::string>{case_changes ? "Three" : "three"});
  EXPECT_EQ(plat_rename((b + "\\moved.dat").c_str(), (b + "\\MOVED.DAT").c_str()), 0);
  EXPECT_EQ(names_like(a, "moved.dat"), std::vector<std::string>{case_changes ? "MOVED.DAT" : "moved.dat"});
  EXPECT_EQ(read_file(a + "\\moved.dat"), "held");
  EXPECT_EQ(plat_remove((b + "\\moved.dat").c_str()), 0);
  EXPECT_FALSE(exists(a + "\\MOVED.DAT"));
}

}  // namespace contract
