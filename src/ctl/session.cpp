// Control-file sessions.
//
// On disk a control file is free (lock state 0) between sessions and carries
// lock state 12 with the holder's identity during one.  A program that dies
// inside a session leaves 12 behind; the OS lock dies with it, so the next
// session gets the file, sees 12 and is refused until its attempts run out.
#include "ctl/session.h"

#include <cctype>
#include <new>
#include <cstdlib>
#include <cstring>

#include "classic.h"
#include "base/text.h"
#include "ctl/state.h"
#include "ctl/types.h"
#include "errlog/errlog.h"
#include "base/lockfile.h"
#include "platform/platform.h"
#include "storage/netxlat.h"

namespace {

constexpr int kIdentityChars = 15;
constexpr size_t kLockedOutText = 255;

CtlState g_ctl;

void give_up(FILE* stream) { classic_lock_close(stream); }

// Copies at most 15 characters of a trailer's identity field.
void field_text(char* out, const char* field) {
  std::memcpy(out, field, kIdentityChars);
  out[kIdentityChars] = 0;
}

// The report names this program's task as far as a session of this process
// has filled it in: empty before the first trailer was locked.
void report_locked_out(const char* path) {
  char user[kIdentityChars + 1], node[kIdentityChars + 1], task[kIdentityChars + 1];
  field_text(user, g_ctl.session.trailer.user);
  field_text(node, g_ctl.session.trailer.node);
  field_text(task, g_ctl.session.trailer.task_name);
  char text[kLockedOutText + 1];
  std::snprintf(text, sizeof text, "%s\nTask %s locked out of %s\nby user %s running %s (pid = %d) on %s",
                MSG_UNEXPECTED_LOCK, g_ctl.task.name, path, user[0] ? user : "UNKNOWN", task,
                static_cast<int>(g_ctl.session.trailer.task_id), node);
  // The text holds names read from the file: it is stored as it is, never
  // taken as a template.
  log_error_text(LOG_CLASS_EXECUTION, REPORT_LOCKED_OUT, text);
}

// The session that the current trailer names as its holder, in words.
void describe_holder(char* out, size_t n) {
  char user[kIdentityChars + 1], node[kIdentityChars + 1], task[kIdentityChars + 1];
  field_text(user, g_ctl.session.trailer.user);
  field_text(node, g_ctl.session.trailer.node);
  field_text(task, g_ctl.session.trailer.task_name);
  std::snprintf(out, n, "marked as held by a session of %s on node %s, task %s (id %d)",
                user[0] ? user : "an unknown user", node[0] ? node : "-", task[0] ? task : "-",
                static_cast<int>(g_ctl.session.trailer.task_id));
}

// Clears the holder's identity: bytes 10 to 58 of the trailer.
void clear_identity() {
  std::memset(g_ctl.session.trailer.user, 0, sizeof g_ctl.session.trailer.user);
  std::memset(g_ctl.session.trailer.node, 0, sizeof g_ctl.session.trailer.node);
  std::memset(g_ctl.session.trailer.task_name, 0, sizeof g_ctl.session.trailer.task_name);
  g_ctl.session.trailer.zero58 = 0;
}

// Seeks to the trailer at the offset the session knows; false when the
// position is bad.
bool seek_known_trailer(FILE* stream) {
  return plat_fseek(stream, g_ctl.session.trailer_offset, SEEK_SET) == 0;
}

// Seeks to the trailer and notes its offset; false when the position is bad.
bool seek_trailer(FILE* stream) {
  if (plat_fseek(stream, -CTL_RECORD_SIZE, SEEK_END) != 0) return false;
  long pos = plat_ftell(stream);
  if (pos < 0) return false;
  g_ctl.session.trailer_offset = pos;
  return true;
}

enum class Look { Go, Retry, Fail };

// Reads and checks the trailer of a freshly opened file; on Fail the file
// has been given up and *status says why.
Look check_trailer(FILE* f, const char* path, int flags, int* status) {
  // A file that is not a whole number of records is damaged: nothing of it
  // is written until it has been repaired.
  if (!seek_trailer(f) || g_ctl.session.trailer_offset % CTL_RECORD_SIZE != 0 ||
      plat_fread(&g_ctl.session.trailer, sizeof g_ctl.session.trailer, 1, f) != 1) {
    give_up(f);
    *status = CLASSIC_IO_ERROR;
    return Look::Fail;
  }
  if (g_ctl.session.trailer.version != CTL_VERSION && g_ctl.session.trailer.version != CTL_OLD_VERSION) {
    give_up(f);
    if (!(flags & CTL_QUIET_VERSION)) {
      log_error_text(LOG_CLASS_EXECUTION, REPORT_VERSION, MSG_VERSION_MISMATCH);
    }
    *status = CLASSIC_BAD_VERSION;
    return Look::Fail;
  }
  if (trailer_is_corrupt(g_ctl.session.trailer, g_ctl.session.trailer_offset)) {
    if (std::getenv("NORECOVER") || !recover_trailer_suffix(translated_path())) {
      log_error_text(LOG_CLASS_EXECUTION, REPORT_NOT_RECOVERED, MSG_TRAILER_NOT_RECOVERED);
      give_up(f);
      *status = CLASSIC_IO_ERROR;
      return Look::Fail;
    }
    log_error_text(LOG_CLASS_EXECUTION, REPORT_RECOVERED, MSG_TRAILER_RECOVERED);
  }
  if (g_ctl.session.trailer.lock_state == LOCK_SESSION) {
    // The OS lock was ours, yet the trailer says another session holds the
    // file: its holder died inside a session, or is another program that
    // does not take the OS lock.
    give_up(f);
    report_locked_out(path);
    return Look::Retry;
  }
  if (g_ctl.session.trailer.lock_state == LOCK_AREA) {
    if (!(flags & CTL_AREA_LOCK)) {
      give_up(f);
      *status = CLASSIC_AREA_LOCKED;
      return Look::Fail;
    }
  } else if (flags & CTL_AREA_LOCK) {
    give_up(f);
    *status = CLASSIC_NO_AREA_LOCK;
    return Look::Fail;
  }
  return Look::Go;
}

// Marks the current trailer as held by this program.
void lock_trailer() {
  g_ctl.session.trailer.lock_state = LOCK_SESSION;
  g_ctl.session.trailer.lock_marker = 1;
  const TaskIdentity& task = task_identity();
  clear_identity();
  put_field(g_ctl.session.trailer.node, kIdentityChars, task.node);
  put_field(g_ctl.session.trailer.task_name, kIdentityChars, task.name);
  g_ctl.session.trailer.task_id = task.id;
}

}  // namespace

bool on_removable_drive(const char* path) {
  char drive = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
  return (drive == 'A' || drive == 'B') && path[1] == ':';
}

int32_t path_hash(const char* path) {
  uint32_t sum = 0;
  for (int32_t i = 0; path[i]; ++i) {
    int32_t byte = static_cast<signed char>(path[i]);
    sum += static_cast<uint32_t>(byte ^ i);
  }
  return static_cast<int32_t>(sum);
}

void drop_retained_control_file() {
  g_ctl.retained_path[0] = 0;
  g_ctl.retained_stream = nullptr;
}

CtlState& ctl_state() { return g_ctl; }

CtlTrailer& ctl_trailer() { return g_ctl.session.trailer; }

long ctl_trailer_offset() { return g_ctl.session.trailer_offset; }

int32_t ctl_path_hash() { return g_ctl.session.path_hash; }

void ctl_set_trailer_offset(long offset) { g_ctl.session.trailer_offset = offset; }

void reset_ctl_state() {
  if (g_ctl.retained_stream) classic_lock_close(g_ctl.retained_stream);
  std::memset(&g_ctl, 0, sizeof g_ctl);
  classic_blk_count = 0;
}

int CtlSession::open(const char* path, int flags) {
  close();
  flags_ = flags;
  status_ = ctl_open(&stream_, path, flags);
  if (!ctl_opened(status_)) stream_ = nullptr;
  return status_;
}

int CtlSession::close() { return close(flags_); }

int CtlSession::finish(int result) {
  int closed = close();
  return result == CLASSIC_OK && closed != CLASSIC_OK ? closed : result;
}

int CtlSession::close(int flags) {
  if (!stream_) return CLASSIC_OK;
  FILE* stream = stream_;
  stream_ = nullptr;
  return ctl_close(stream, flags, status_);
}

struct CtlStateKeeper::Saved {
  CtlSessionState session;
};

CtlStateKeeper::CtlStateKeeper() : saved_(new (std::nothrow) Saved{g_ctl.session}) {}

CtlStateKeeper::~CtlStateKeeper() {
  if (saved_) g_ctl.session = saved_->session;
  delete saved_;
}

int ctl_open(FILE** stream, const char* path, int flags) {
  *stream = nullptr;
  if (!path) return CLASSIC_CANNOT_REMOVE;
  int attempts = CTL_ATTEMPTS;
  for (;;) {
    int status = CLASSIC_OK;
    FILE* f = nullptr;
    bool removable = on_removable_drive(path);
    if (removable) status = CLASSIC_OK_REMOVABLE;
    int translated = classic_netxlat(path, translated_path());
    if (translated != CLASSIC_OK) return translated;
    if (removable && (flags & CTL_READ)) {
      g_ctl.session.path_hash = path_hash(translated_path());
      f = lock_open(translated_path(), CLASSIC_O_RDONLY | CLASSIC_O_BINARY, CLASSIC_S_IREAD | CLASSIC_S_IWRITE,
                    LOCK_TRIES, LOCK_DELAY_MS, true, true);
    } else {
      if (g_ctl.retained_stream && equal_nocase(translated_path(), g_ctl.retained_path)) {
        // The session that retained the file goes on: its trailer is still
        // the current one.
        FILE* retained = g_ctl.retained_stream;
        drop_retained_control_file();
        if (!seek_trailer(retained)) {
          classic_lock_close(retained);
          return CLASSIC_IO_ERROR;
        }
        *stream = retained;
        return CLASSIC_OK;
      }
      g_ctl.session.path_hash = path_hash(translated_path());
      f = lock_open(translated_path(), CLASSIC_O_RDWR | CLASSIC_O_BINARY, CLASSIC_S_IREAD | CLASSIC_S_IWRITE,
                    LOCK_TRIES, LOCK_DELAY_MS, true, true);
    }
    if (!f) return CLASSIC_CANNOT_OPEN;

    int failure = CLASSIC_OK;
    Look look = check_trailer(f, path, flags, &failure);
    if (look == Look::Fail) return failure;
    if (look == Look::Retry) {
      if (--attempts == 0) return CLASSIC_LOCKED;
      char holder[160];
      describe_holder(holder, sizeof holder);
      wait_about(path, holder);
      lock_wait(1, LOCK_DELAY_MS);
      continue;
    }

    lock_trailer();
    if (!seek_known_trailer(f)) {
      give_up(f);
      return CLASSIC_IO_ERROR;
    }
    if (status == CLASSIC_OK_REMOVABLE && !(flags & CTL_UPDATE)) {
      *stream = f;
      return status;
    }
    if (plat_fwrite(&g_ctl.session.trailer, sizeof g_ctl.session.trailer, 1, f) != 1) {
      give_up(f);
      return CLASSIC_IO_ERROR;
    }
    if (status == CLASSIC_OK && !g_ctl.retained_stream) {
      std::snprintf(g_ctl.retained_path, sizeof g_ctl.retained_path, "%s", translated_path());
      g_ctl.retained_stream = f;
    }
    *stream = f;
    return status;
  }
}

int ctl_close(FILE* stream, int flags, int status) {
  if (!stream) return CLASSIC_IO_ERROR;
  if (stream == g_ctl.retained_stream) {
    if (g_ctl.retained_path[0] && (flags & CTL_RETAIN)) return CLASSIC_OK;
    drop_retained_control_file();
  }
  // The trailer on disk carries this session's lock: a seek or a write of it
  // that fails is made once more, so that one failed call does not leave the
  // file marked as held by a session that is gone.
  if (!seek_known_trailer(stream) && !seek_trailer(stream)) {
    classic_lock_close(stream);
    return CLASSIC_IO_ERROR;
  }
  if (trailer_is_corrupt(g_ctl.session.trailer, g_ctl.session.trailer_offset)) {
    log_error_text(LOG_CLASS_EXECUTION, REPORT_MADE_CORRUPT, MSG_TRAILER_MADE_CORRUPT);
    if (std::getenv("ZELTORA")) {
      // The trailer is not written; the file is still released so that this
      // process can open it again.
      classic_lock_close(stream);
      return CLASSIC_IO_ERROR;
    }
  }
  if (!(flags & CTL_KEEP_LOCK_STATE)) g_ctl.session.trailer.lock_state = LOCK_FREE;
  clear_identity();
  int result = CLASSIC_OK;
  if (status != CLASSIC_OK_REMOVABLE || (flags & CTL_UPDATE)) {
    const CtlTrailer& t = g_ctl.session.trailer;
    if (plat_fwrite(&t, sizeof t, 1, stream) != 1 &&
        !(seek_trailer(stream) && plat_fwrite(&t, sizeof t, 1, stream) == 1)) {
      result = CLASSIC_IO_ERROR;
    }
  }
  classic_lock_close(stream);
  return result;
}

int classic_ctl_file_stats(const char* path, CTRL_TRAILER_INFO* info) {
  CtlSession session;
  int status = session.open(path, CTL_READ);
  if (!ctl_opened(status)) return status;
  if (info) {
    std::memcpy(info->suffix, g_ctl.session.trailer.suffix, 3);
    info->next_slot = g_ctl.session.trailer.next_slot;
    info->total_items = g_ctl.session.trailer.total_items;
    info->open_count = g_ctl.session.trailer.open_count;
    info->lock_marker = g_ctl.session.trailer.lock_marker;
    info->version = g_ctl.session.trailer.version;
  }
  return session.close();
}
