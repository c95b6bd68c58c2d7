// The control-file session: every operation that reads or changes a control
// file opens it with ctl_open (translated, opened under the exclusive lock,
// trailer read, checked, repaired, locked with this program's identity) and
// ends with ctl_close (trailer written back with the lock released).  A
// session may leave its file open and locked for the next session on the
// same file (the retained control file).
#pragma once

#include <cstdint>
#include <cstdio>

#include "classic.h"
#include "ctl/records.h"

// Session flags.
constexpr int CTL_READ = 1;             // read access (read-only on A: and B:)
constexpr int CTL_UPDATE = 2;           // update access
constexpr int CTL_QUIET_VERSION = 4;    // a version mismatch is not logged
constexpr int CTL_KEEP_LOCK_STATE = 8;  // ctl_close writes the lock state as left
constexpr int CTL_AREA_LOCK = 16;       // only a file held by an area lock opens
constexpr int CTL_RETAIN = 32;          // ctl_close keeps the file open and locked

// The attempt budget of a session held out by a trailer lock.
constexpr int CTL_ATTEMPTS = 41;

// The trailer of the control file last opened or read; operations update its
// counters in memory and the session close writes it back.
CtlTrailer& ctl_trailer();
// The offset of the trailer in the current control file: 64 x entries.
long ctl_trailer_offset();
// The hash of the current control file's translated path.
int32_t ctl_path_hash();
void ctl_set_trailer_offset(long offset);

// Opens a session on the control file at path (as the caller gave it).
// Returns 1, or 1000 on drive A: or B: (both success), else 1002, 1012,
// 1014, 1015, 1018, 1022 or a translation status, holding nothing then.
int ctl_open(FILE** stream, const char* path, int flags);

// Whether a ctl_open status (1, or 1000 on a removable drive) opened the
// session.
inline bool ctl_opened(int status) {
  return status == CLASSIC_OK || status == CLASSIC_OK_REMOVABLE;
}

// Ends a session: writes the current trailer with the lock released and
// closes the file, unless it is retained.  status is what ctl_open returned.
// 1 or 1002.
int ctl_close(FILE* stream, int flags, int status);

// Drives A: and B: are removable: their sessions answer 1000, and readers
// there leave no mark in the control file.  A relative path whose first
// folder merely begins with a or b is not on a removable drive.
bool on_removable_drive(const char* path);

// The hash of a translated path: the sum of each byte, taken as a signed
// 8-bit value, XOR its position.
int32_t path_hash(const char* path);

// Drops the retained control file without writing (the caller releases it).
void drop_retained_control_file();

// A control-file session owned by one object: open() starts it, close() or,
// on every other way out of the object's scope, the destructor ends it, so
// that no path can leave a control file locked in this process.
class CtlSession {
 public:
  CtlSession() = default;
  ~CtlSession() { close(); }
  CtlSession(const CtlSession&) = delete;
  CtlSession& operator=(const CtlSession&) = delete;

  // ctl_open's status; the session is open when it is 1 or 1000.
  int open(const char* path, int flags);
  bool is_open() const { return stream_ != nullptr; }
  // What open returned (1000 on drive A: or B:).
  int status() const { return status_; }
  FILE* stream() const { return stream_; }
  // Ends the session with the flags it was opened with, or with flags:
  // ctl_close's result, or 1 when it was not open.
  int close();
  int close(int flags);
  // Ends the session and gives result, or the close's failure when result
  // is 1 and the trailer could not be written back.
  int finish(int result);

 private:
  FILE* stream_ = nullptr;
  int status_ = 0;
  int flags_ = 0;
};

// Keeps the whole state of the current session (trailer, its offset, the
// path hash, the current and scratch entries, the entry window) aside for
// the life of the object, for a session nested in the middle of another
// operation (a translation look-up); the destructor puts it back.
class CtlStateKeeper {
 public:
  CtlStateKeeper();
  ~CtlStateKeeper();
  CtlStateKeeper(const CtlStateKeeper&) = delete;
  CtlStateKeeper& operator=(const CtlStateKeeper&) = delete;

 private:
  struct Saved;
  Saved* saved_;
};

// The control-file layer's process-wide state back to its value at load: a
// retained control file is released, the trailer, entries, window, hints,
// task identity and code-page tables forgotten, classic_blk_count 0.
void reset_ctl_state();
