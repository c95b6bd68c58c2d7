// Lock files.
//
// An attempt opens the file denying everybody else and then takes a byte
// lock on byte 0 without waiting.  A file held elsewhere (EACCES, or errno 0)
// or a held byte is retried after a pause; any other error ends at once.
// tries is the attempt budget: tries - 1 attempts are made (none for 1, no
// limit for 0 or less); a spent budget is reported as code 54018.
#include "base/lockfile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "classic.h"
#include "platform/platform.h"

namespace {

// The stream mode and buffering for the open flags (without _O_CREAT).
struct StreamKind {
  const char* mode;
  bool buffered;
};

StreamKind stream_kind(int oflag) {
  switch (oflag & ~CLASSIC_O_CREAT) {
    case CLASSIC_O_TEXT: return {"rt", true};
    case CLASSIC_O_TEXT | CLASSIC_O_RDWR: return {"r+t", true};
    case CLASSIC_O_BINARY: return {"rb", false};
    default: return {"r+b", false};
  }
}

// A folder refuses every open as a held file does; it is no file to wait for.
// A path that ends in a separator or a drive ("c:") names a folder by its
// text alone.
bool is_folder(const char* path) {
  size_t n = std::strlen(path);
  if (n > 0 && (path[n - 1] == '\\' || path[n - 1] == '/' || path[n - 1] == ':')) return true;
  plat_stat st;
  return plat_stat32(path, &st) == 0 && st.is_dir;
}

// The base layer's process-wide state: what the waits are about, and who
// hears of them.
struct BaseState {
  char wait_what[300];
  char wait_holder[200];
  WaitObserver observer;
};

BaseState g_base{};

}  // namespace

void wait_about(const char* what, const char* holder) {
  std::snprintf(g_base.wait_what, sizeof g_base.wait_what, "%s", what ? what : "");
  std::snprintf(g_base.wait_holder, sizeof g_base.wait_holder, "%s", holder ? holder : "");
}

void set_wait_observer(WaitObserver observer) { g_base.observer = observer; }

void reset_base_state() { g_base = BaseState{}; }

int lock_wait(int mode, int ms) {
  if (mode == 1 && g_base.observer) g_base.observer(g_base.wait_what, g_base.wait_holder, ms);
  // A negative pause would be an endless one for the OS.
  if (mode == 1) plat_sleep(ms > 0 ? static_cast<uint32_t>(ms) : 0);
  return 1;
}

FILE* lock_open(const char* path, int oflag, int pmode, int tries, int delay, bool report, bool direct) {
  if (!path || !path[0]) return nullptr;
  // Attempts refused while another program held the file explain nothing
  // once an attempt succeeds: the cause from before is put back then.
  plat_cause before;
  bool had_cause = plat_get_cause(&before);
  int fd = -1;
  for (;;) {
    if (--tries == 0) {
      if (report) report_lock_timeout();
      return nullptr;
    }
    errno = 0;
    fd = plat_sopen(path, oflag, PLAT_SH_DENYRW, pmode);
    if (fd < 0) {
      if (errno != 0 && errno != EACCES) return nullptr;
      if (is_folder(path)) return nullptr;
      wait_about(path, "held by another program");
      lock_wait(1, delay);
      continue;
    }
    if (plat_locking_at(fd, PLAT_LK_NBLCK, 0, 1) != 0) {
      plat_close(fd);
      wait_about(path, "its lock byte is held by another program");
      lock_wait(1, delay);
      continue;
    }
    break;
  }
  StreamKind kind = stream_kind(oflag);
  FILE* stream = direct ? plat_fdopen_direct(fd, kind.mode) : plat_fdopen(fd, kind.mode);
  if (!stream) {
    plat_locking_at(fd, PLAT_LK_UNLCK, 0, 1);
    plat_close(fd);
    return nullptr;
  }
  if (direct) {
    // Such a stream has no buffer to set.
  } else if (kind.buffered) {
    std::setvbuf(stream, nullptr, _IOFBF, 512);
  } else {
    std::setvbuf(stream, nullptr, _IONBF, 0);
  }
  plat_set_cause(had_cause ? &before : nullptr);
  return stream;
}

FILE* classic_lock_open_ex(const char* path, int oflag, int pmode, int tries, int delay) {
  return lock_open(path, oflag, pmode, tries, delay, true);
}

FILE* classic_lock_open(const char* path, int oflag, int pmode) {
  return lock_open(path, oflag, pmode, LOCK_TRIES, LOCK_DELAY_MS, true);
}

void classic_lock_close(FILE* stream) {
  if (!stream) return;
  // Seeking to byte 0 flushes what is buffered and puts the unlock on the
  // lock byte, before the descriptor goes.
  plat_fseek(stream, 0, SEEK_SET);
  plat_locking(plat_fileno(stream), PLAT_LK_UNLCK, 1);
  plat_fclose(stream);
}
