// The way out of a damaged or stuck store, behind the command's door: what
// a check finds in the control files, data files, logins, area locks and
// registrations of a drive or an area, what a repair changed, and who works
// in an area now.  Everything comes back parsed; nothing here hands out a
// record layout.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// How bad a finding is: a note does not make a store unclean.
constexpr int ADMIN_NOTE = 0;
constexpr int ADMIN_WARNING = 1;
constexpr int ADMIN_ERROR = 2;

// How repair deals with a finding.
constexpr int ADMIN_FIX_NONE = 0;     // it cannot (or must not): the text says why
constexpr int ADMIN_FIX_ONLINE = 1;   // at once, while programs go on working
constexpr int ADMIN_FIX_OFFLINE = 2;  // under an area lock that repair takes itself
constexpr int ADMIN_FIX_REBUILD = 3;  // only with --rebuild AREA TYPE

// The holder a trailer names for its session lock.
struct AdminHolder {
  std::string user, node, task_name;
  int32_t task_id = 0;
};

struct AdminFinding {
  int severity = ADMIN_WARNING;
  std::string code;    // "entry.creation", "trailer.session-lock", ...
  std::string file;    // the store path of the file concerned
  std::string entry;   // the item name, when an entry is concerned
  std::string what;    // what is wrong
  std::string repair;  // what repair does about it (or why it does not)
  int fix = ADMIN_FIX_NONE;
  uint32_t since = 0;  // the stamp that tells since when (0: none)
  bool has_holder = false;
  AdminHolder holder;
};

// What a check or a repair covers: every area of a drive (area empty), one
// area (its folder, a store path), or one item type of an area (its
// control-file name, "piece.ctl").
struct AdminScope {
  char drive = 'C';
  std::string area;
  std::string type;
};

struct AdminCheckReport {
  std::vector<std::string> areas;  // the areas looked at
  long control_files = 0;
  long data_files = 0;
  long entries = 0;
  std::vector<AdminFinding> findings;
  // No warning and no error.
  bool clean() const;
};

// Reads everything in scope and writes nothing; no lock is held longer than
// one read.  1, 1007 when the area has neither a folder nor a registration,
// or 1001 when memory ran out.
int admin_check(const AdminScope& scope, AdminCheckReport* out);

struct AdminRepairOptions {
  bool force = false;    // take the area lock even over logins
  bool rebuild = false;  // rebuild a lost or damaged control file from its data files
};

// One change repair made (each is also one record of the error log).
struct AdminChange {
  std::string file;
  std::string entry;
  std::string text;
};

// Something repair left alone, and why.
struct AdminRefusal {
  std::string file;
  std::string why;
  int status = 0;     // the library's status, when a call failed (0: none)
  std::string cause;  // the OS's reason, when an OS call failed
};

struct AdminRepairReport {
  std::vector<AdminChange> changes;
  std::vector<AdminRefusal> refusals;
  std::vector<std::string> overridden;  // logins a forced area lock removed
  AdminCheckReport after;               // a check made right after
};

// Fixes what a check of the scope finds, nothing a live program may still
// be using: stale session marks at once (their OS lock taken first), all
// that touches entries and open states under an area lock taken (and given
// back) by repair itself.  Every file rewritten is first kept beside it as a
// backup no listing of the library picks up.  1, 1007 or 1001 as
// admin_check.
int admin_repair(const AdminScope& scope, const AdminRepairOptions& options, AdminRepairReport* out);

// The backup name of a file repair rewrites: "~<name>.<local time>.bak"
// beside it (the store path of the file given).
std::string admin_backup_name(const std::string& path);

struct AdminLogin {
  std::string file;  // logNODE.TAG
  std::string node;  // without the '-' filling
  std::string tag;
  uint32_t since = 0;
};

// A control file held now by a live program, or carrying the session mark
// of a program that is gone.
struct AdminHeldFile {
  std::string file;
  bool live = false;
  AdminHolder holder;  // for a stale mark
};

struct AdminOpenItem {
  std::string file;  // control file
  std::string name;
  int open_state = 0;  // -1 a writer, n readers
  bool deleted = false;
  uint32_t since = 0;  // modified time of a writer, accessed time of readers
  std::string user;    // the last modifier
};

struct AdminWho {
  std::string area;
  bool login_ctl = false;  // login.ctl there and readable
  int logins = 0;          // the counters of login.ctl
  int logins2 = 0;
  std::vector<AdminLogin> login_files;
  int control_files = 0;   // control files of the area, login.ctl included
  int locked_files = 0;    // of them, those marked with an area lock
  bool login_locked = false;
  std::vector<AdminHeldFile> held;
  std::vector<AdminOpenItem> open_items;
};

// Who works in the area now: logins, control files held, items open, the
// area lock.  1, 1007 when the area has no folder, or 1001.
int admin_who(const std::string& area, AdminWho* out);
