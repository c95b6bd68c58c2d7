// Area locks.
//
// The lock is no open file and nothing in memory: it is lock state 13 in
// the trailer of login.ctl and of every control file in data\ and param\,
// written by one control-file session per file, and it stays until it is
// unlocked, across processes and restarts.  Every session that does not ask
// for area-lock access is refused on a marked file, so item operations,
// logins and logouts stop until the area is unlocked.
//
// Locking respects logins: while login.ctl counts any, the area is locked
// only when forced, and a forced lock deletes the login files and clears
// the counters.  A failure on one control file does not stop the others:
// an area can end up partly locked, and unlocking frees it again (files
// that were never marked then report 1022).
//
// The folders are searched as the caller gave the area, untranslated; the
// control files found are opened by their sessions, which translate.
#include "locking/arealock.h"

#include <cstring>

#include "classic.h"
#include "base/names.h"
#include "base/text.h"
#include "ctl/session.h"
#include "platform/platform.h"
#include "storage/find.h"
#include "storage/netxlat.h"

namespace {

constexpr int kLockFlags = CTL_UPDATE | CTL_KEEP_LOCK_STATE;
constexpr int kUnlockFlags = CTL_UPDATE | CTL_KEEP_LOCK_STATE | CTL_AREA_LOCK;
constexpr const char* kSubfolders[] = {"data\\", "param\\"};

// out (XLAT_PATH_SIZE bytes) := a + b + c.  False when the path would be
// longer than path translation accepts.
bool join(char* out, const char* a, const char* b, const char* c = "") {
  size_t la = std::strlen(a), lb = std::strlen(b), lc = std::strlen(c);
  if (la + lb + lc > XLAT_MAX_PATH) return false;
  std::memcpy(out, a, la);
  std::memcpy(out + la, b, lb);
  std::memcpy(out + la + lb, c, lc + 1);
  return true;
}

// Deletes every entry of area matching log*.* except login.ctl itself.  A
// file that cannot be deleted stays.
void delete_login_files(const char* area) {
  char pattern[XLAT_PATH_SIZE];
  if (!join(pattern, area, LOGIN_FILES)) return;
  FindEntry entry;
  for (int r = find_first_entry(pattern, 0, &entry); r == 0; r = find_next_entry(&entry)) {
    if (equal_nocase(entry.name, LOGIN_CTL_NAME)) continue;
    char path[XLAT_PATH_SIZE];
    if (join(path, area, entry.name)) plat_unlink(path);
  }
}

// Marks (or clears) every control file of one sub-folder.  All files are
// visited whatever fails; the result is 1 or the last failure: a session
// status, 1004 for a path too long, or 1021 for a file with open items
// (which is marked all the same).
int mark_folder(const char* area, const char* subfolder, int lock, int flags) {
  int status = CLASSIC_OK;
  char pattern[XLAT_PATH_SIZE];
  if (!join(pattern, area, subfolder, CONTROL_FILES)) return CLASSIC_CANNOT_REMOVE;
  FindEntry entry;
  for (int r = find_first_entry(pattern, 0, &entry); r == 0; r = find_next_entry(&entry)) {
    char path[XLAT_PATH_SIZE];
    if (!join(path, area, subfolder, entry.name)) {
      status = CLASSIC_CANNOT_REMOVE;
      continue;
    }
    CtlSession session;
    int opened = session.open(path, flags);
    if (!ctl_opened(opened)) {
      status = opened;
      continue;
    }
    if (ctl_trailer().open_count != 0) status = CLASSIC_OPEN_ITEMS;
    ctl_trailer().lock_state = lock ? LOCK_AREA : LOCK_FREE;
    int closed = session.close();
    if (closed != CLASSIC_OK) status = closed;
  }
  return status;
}

}  // namespace

int set_area_lock(int lock, int force, const char* area) {
  if (!area) return CLASSIC_CANNOT_REMOVE;
  int flags = lock ? kLockFlags : kUnlockFlags;
  char path[XLAT_PATH_SIZE];
  if (!join(path, area, LOGIN_CTL_NAME)) return CLASSIC_CANNOT_REMOVE;

  CtlSession session;
  int opened = session.open(path, flags);
  if (!ctl_opened(opened)) return opened;
  // The session marked the trailer as its own; what is written back is
  // decided here.
  ctl_trailer().lock_state = LOCK_FREE;
  if (opened == CLASSIC_OK_REMOVABLE) {
    // Areas on removable drives are never locked.
    return opened;
  }

  int status = CLASSIC_OK;
  if (ctl_trailer().total_items != 0 || ctl_trailer().open_count != 0) {
    if (!force) return CLASSIC_LOGINS_PRESENT;
    status = CLASSIC_LOCK_FORCED;
  }
  if (lock) {
    ctl_trailer().total_items = 0;
    ctl_trailer().open_count = 0;
    ctl_trailer().lock_state = LOCK_AREA;
    delete_login_files(area);
  }
  int closed = session.close();
  if (closed != CLASSIC_OK) return closed;

  int data = mark_folder(area, kSubfolders[0], lock, flags);
  int param = mark_folder(area, kSubfolders[1], lock, flags);
  if (param != CLASSIC_OK) return param;
  if (data != CLASSIC_OK) return data;
  return status;
}

int classic_area_lock(int force, const char* area) { return set_area_lock(1, force, area); }

int classic_area_unlock(const char* area) { return set_area_lock(0, 0, area); }
