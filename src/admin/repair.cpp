// The repair of a store: what a check finds, fixed in two steps.
//
// At once, while programs go on working: the session mark of a program that
// is gone is cleared after repair has taken the control file's OS lock
// itself (one attempt: a live session holds that lock, and is never
// cleared); a missing or damaged login.ctl is made anew; registrations and
// the error log's header are put right.
//
// Under an area lock that repair takes itself (over logins only when
// forced) and gives back when done: everything that touches entries, open
// states, counts and slot records.  Each control file is then read again
// under its OS lock, planned again, and written whole under a new name
// before it is put in place; the file it replaces stays beside it as the
// backup.  Data-file headers and trailers alone are written in place, as
// the library's own operations write them, after a copy of the file was
// kept as the backup.  Every change is printed and stored in the error log
// (code 54060).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "admin/admin.h"
#include "admin/survey.h"
#include "base/lockfile.h"
#include "base/names.h"
#include "base/text.h"
#include "ctl/session.h"
#include "errlog/errlog.h"
#include "errlog/log_format.h"
#include "locking/arealock.h"
#include "platform/platform.h"

namespace {

constexpr int kLockFileFlags = CLASSIC_O_RDWR | CLASSIC_O_BINARY;
constexpr int kNewFileFlags = CLASSIC_O_CREAT | CLASSIC_O_EXCL | CLASSIC_O_WRONLY | CLASSIC_O_BINARY;
constexpr int kPermission = CLASSIC_S_IREAD | CLASSIC_S_IWRITE;
// One attempt of the lock-file opener, no pause: repair never waits for a
// live program.
constexpr int kOneAttempt = 2;

std::string translate(const std::string& path) { return admin_translate(path); }

// Writes bytes as a new file (a translated path); false when it exists or
// cannot be written whole.
bool write_new_file(const std::string& path, const std::string& bytes) {
  int fd = plat_sopen(path.c_str(), kNewFileFlags, PLAT_SH_DENYRW, kPermission);
  if (fd < 0) return false;
  bool whole = true;
  for (size_t at = 0; whole && at < bytes.size();) {
    unsigned n = static_cast<unsigned>(std::min<size_t>(bytes.size() - at, 1u << 20));
    whole = plat_write(fd, bytes.data() + at, n) == static_cast<int>(n);
    at += n;
  }
  if (whole) plat_commit(fd);
  plat_close(fd);
  if (!whole) plat_unlink(path.c_str());
  return whole;
}

// The folder part of a path, with its separator.
std::string folder_of(const std::string& path) { return path.substr(0, path.find_last_of("\\/") + 1); }
std::string base_of(const std::string& path) { return path.substr(path.find_last_of("\\/") + 1); }

std::string stamp() {
  std::tm tm;
  std::memset(&tm, 0, sizeof tm);
  plat_localtime32(plat_time32(), &tm);
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d-%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  return text;
}

// A name beside path that nothing uses yet: "~<name>.<stamp><n>.<ext>".
std::string free_name(const std::string& path, const char* ext) {
  std::string head = folder_of(path) + "~" + base_of(path) + "." + stamp();
  for (int n = 1;; ++n) {
    std::string name = head + (n == 1 ? std::string() : "-" + std::to_string(n)) + "." + ext;
    std::string file = translate(name);
    if (file.empty() || plat_access(file.c_str(), 0) != 0) return name;
  }
}

// Trailer bytes 10 to 58: the holder's identity.
void clear_holder(CtlTrailer* t) {
  std::memset(t->user, 0, sizeof t->user);
  std::memset(t->node, 0, sizeof t->node);
  std::memset(t->task_name, 0, sizeof t->task_name);
  t->zero58 = 0;
}

// The three lines of a log record: first, then rest broken between words
// into lines of at most 78 characters.
std::string log_lines(const std::string& first, const std::string& rest) {
  std::string text = first.substr(0, LOG_LINE_CHARS);
  size_t at = 0;
  for (int line = 1; line < LOG_LINES && at < rest.size(); ++line) {
    size_t end = std::min(rest.size(), at + LOG_LINE_CHARS);
    if (end < rest.size()) {
      size_t blank = rest.rfind(' ', end);
      if (blank != std::string::npos && blank > at) end = blank;
    }
    text += "\n" + rest.substr(at, end - at);
    at = end < rest.size() && rest[end] == ' ' ? end + 1 : end;
  }
  return text;
}

class Repairer {
 public:
  Repairer(const AdminScope& scope, const AdminRepairOptions& options, AdminRepairReport* report)
      : scope_(scope), options_(options), report_(*report) {}

  int run() {
    std::vector<DriveArea> areas;
    int status = scope_areas(scope_, &areas);
    if (status != CLASSIC_OK) return status;
    admin_clear_cause();
    // The log first: every change is reported into it.
    if (scope_.area.empty()) repair_log();
    for (const DriveArea& area : areas) {
      if (scope_.type.empty()) repair_registration(area);
      if (area.folder) repair_area(area.path);
    }
    return CLASSIC_OK;
  }

 private:
  const AdminScope& scope_;
  const AdminRepairOptions& options_;
  AdminRepairReport& report_;

  void change(const std::string& file, const std::string& entry, const std::string& text) {
    report_.changes.push_back({file, entry, text});
    log_error_text(LOG_CLASS_EXECUTION, REPORT_REPAIRED,
                   log_lines("Repaired " + file, (entry.empty() ? "" : entry + ": ") + text).c_str());
  }

  void refuse(const std::string& file, const std::string& why, int status = 0) {
    report_.refusals.push_back({file, why, status, admin_cause()});
    admin_clear_cause();
  }

  // Keeps a copy of a file (translated path source, store path path) beside
  // it; false when that cannot be done.
  bool keep_copy(const std::string& path, const std::string& bytes) {
    std::string backup = translate(free_name(path, "bak"));
    if (backup.empty() || !write_new_file(backup, bytes)) {
      refuse(path, "no backup could be written beside it: left as it is");
      return false;
    }
    return true;
  }

  // Opens a control file under its OS lock, one attempt; null (and why)
  // when a live program holds it.
  FILE* take(const CtlImage& image) {
    FILE* f = image.file.empty() ? nullptr : lock_open(image.file.c_str(), kLockFileFlags, kPermission, kOneAttempt, 0, false);
    if (!f) refuse(image.path, "is held by a live program now: left as it is");
    return f;
  }

  // --- at once ------------------------------------------------------------

  void clear_stale_mark(CtlImage& image) {
    FILE* f = take(image);
    if (!f) return;
    std::string bytes;
    CtlImage now = image;
    bool still = read_image_from(f, &now, false) && now.sound() && now.trailer.lock_state == LOCK_SESSION;
    if (still) bytes = control_bytes(now.entries, now.trailer);
    if (!still || !keep_copy(image.path, bytes)) {
      classic_lock_close(f);
      return;
    }
    CtlTrailer t = now.trailer;
    AdminHolder holder = trailer_holder(t);
    t.lock_state = LOCK_FREE;
    clear_holder(&t);
    bool written = plat_fseek(f, -CTL_RECORD_SIZE, SEEK_END) == 0 && plat_fwrite(&t, sizeof t, 1, f) == 1;
    classic_lock_close(f);
    if (!written) {
      refuse(image.path, "its trailer could not be written", CLASSIC_IO_ERROR);
      return;
    }
    image.trailer = t;
    change(image.path, "", "cleared the session mark of " + holder_text(holder) + ", which no program held");
  }

  // Makes login.ctl anew: missing, or damaged (then kept as the backup).
  bool renew_login(CtlImage& login, const std::string& area) {
    if (login.state != FileState::Missing) {
      std::string backup = translate(free_name(login.path, "bak"));
      if (backup.empty() || plat_rename(login.file.c_str(), backup.c_str()) != 0) {
        refuse(login.path, "cannot be put aside: left as it is");
        return false;
      }
    }
    int status = classic_login_create(area.c_str());
    if (status != CLASSIC_OK) {
      refuse(login.path, "cannot be made", status);
      return false;
    }
    change(login.path, "", login.state == FileState::Missing ? "made it (no logins counted)"
                                                            : "replaced the damaged file with an empty one (no logins counted)");
    read_image(&login, false);
    return true;
  }

  void repair_registration(const DriveArea& area) {
    std::vector<AdminFinding> found;
    registration_findings(area, &found);
    for (const AdminFinding& f : found) {
      int status = CLASSIC_OK;
      if (f.code == "area.no-folder") {
        char key[64];
        format_drive_key(key, sizeof key, area.drive);
        plat_hkey drive = nullptr;
        status = CLASSIC_IO_ERROR;
        if (plat_reg_open_key(plat_hkey_current_user(), key, PLAT_KEY_WRITE, &drive) == PLAT_ERROR_SUCCESS) {
          if (plat_reg_delete_key(drive, area.name.c_str()) == PLAT_ERROR_SUCCESS) status = CLASSIC_OK;
          plat_reg_close_key(drive);
        }
      } else {
        status = admin_register_area(area.drive, area.name, ADMIN_AREA_VERSION);
      }
      if (status == CLASSIC_OK) {
        change(f.file, "", f.what + "; " + f.repair);
      } else {
        refuse(f.file, "the registry refused the change", status);
      }
    }
  }

  void repair_log() {
    std::vector<AdminFinding> found;
    log_findings(&found);
    if (found.empty() || found[0].fix != ADMIN_FIX_ONLINE) return;
    FILE* f = lock_open(LOG_PATH, kLockFileFlags, kPermission, kOneAttempt, 0, false);
    if (!f) {
      refuse(LOG_PATH, "is held by a writer now: left as it is");
      return;
    }
    std::string bytes;
    std::string block(1u << 16, '\0');
    size_t n = 0;
    while ((n = plat_fread(block.data(), 1, block.size(), f)) > 0) bytes.append(block.data(), n);
    LOG_HEADER h = {0, 0, 0};
    if (bytes.size() >= sizeof h) std::memcpy(&h, bytes.data(), sizeof h);
    h.oldest %= LOG_SLOTS;
    h.mark %= LOG_SLOTS;
    h.next %= LOG_SLOTS;
    bool written = keep_copy(LOG_PATH, bytes) && plat_fseek(f, 0, SEEK_SET) == 0 && plat_fwrite(&h, sizeof h, 1, f) == 1;
    classic_lock_close(f);
    if (written) change(LOG_PATH, "", found[0].what + "; " + found[0].repair);
  }

  // --- under the area lock ----------------------------------------------

  // Re-reads the lock marks of every control file of the area.
  void reread_marks(AreaSurvey& s) {
    for (CtlImage& image : s.files) read_image(&image, false);
    count_lock_marks(&s);
  }

  // Takes the area lock, or completes one that stopped half-way; *ours
  // tells whether repair gives it back.  False (and why) when it cannot.
  bool lock_area(AreaSurvey& s, bool* ours) {
    const std::string& area = s.area;
    *ours = false;
    if (s.login_locked) {
      if (s.locked == s.lockable) return true;  // the keeper's lock: repair works under it
      long marked = 0;
      for (CtlImage& image : s.files) {
        if (!image.sound() || image.trailer.lock_state == LOCK_AREA) continue;
        CtlSession session;
        if (!ctl_opened(session.open(image.path.c_str(), CTL_UPDATE | CTL_KEEP_LOCK_STATE))) continue;
        ctl_trailer().lock_state = LOCK_AREA;
        if (session.close() == CLASSIC_OK) ++marked;
      }
      reread_marks(s);
      if (s.locked != s.lockable) {
        refuse(area, "the area lock that stopped half-way cannot be completed: left as it is");
        return false;
      }
      change(area, "", "completed the area lock that stopped half-way (" + std::to_string(marked) +
                           " control files marked); the area stays locked: 'classic unlock' frees it");
      return true;
    }
    std::vector<AdminLogin> logins = s.login_files;
    int counted = s.logins();
    int status = set_area_lock(1, options_.force ? 1 : 0, (area + "\\").c_str());
    reread_marks(s);
    if (status == CLASSIC_LOGINS_PRESENT || s.locked != s.lockable || s.lockable == 0) {
      if (status != CLASSIC_LOGINS_PRESENT) set_area_lock(0, 0, (area + "\\").c_str());
      refuse(area, "the area lock cannot be taken: entries, open states and counts are left as they are",
             status == CLASSIC_OK ? CLASSIC_IO_ERROR : status);
      return false;
    }
    *ours = true;
    // The lock removes the login files, counted or not.
    std::string text = "took the area lock";
    if (counted > 0) text += " over " + std::to_string(counted) + (counted == 1 ? " login" : " logins");
    std::string names;
    for (const AdminLogin& l : logins) {
      if (counted > 0) report_.overridden.push_back(l.file);
      names += (names.empty() ? "" : ", ") + l.file;
    }
    if (!names.empty()) text += " (login files removed: " + names + ")";
    change(area, "", text);
    return true;
  }

  void unlock_area(AreaSurvey& s) {
    int status = set_area_lock(0, 0, (s.area + "\\").c_str());
    reread_marks(s);
    if (s.locked == 0) {
      change(s.area, "", "gave the area lock back");
    } else {
      refuse(s.area, "the area lock was not given back whole ('classic unlock' frees it)", status);
    }
  }

  // Writes the changed data-file headers of a plan in place, a copy of each
  // data file kept first.
  bool write_headers(const CtlImage& image, const CtlPlan& plan) {
    std::vector<std::pair<std::string, const DataHeader*>> files;
    for (const auto& [number, header] : plan.headers) {
      const DataImage& d = image.data.at(number);
      std::string path = data_path(image, d.suffix);
      std::string bytes;
      if (read_whole_file(translate(path), PLAT_SH_DENYNO, 1, &bytes) != FileState::Read || !keep_copy(path, bytes)) {
        refuse(path, "cannot be read whole for its backup: " + image.path + " is left as it is");
        return false;
      }
      files.emplace_back(path, &header);
    }
    for (const auto& [path, header] : files) {
      int fd = plat_sopen(translate(path).c_str(), kLockFileFlags, PLAT_SH_DENYNO, kPermission);
      bool written = fd >= 0 && plat_write(fd, header, DATA_HEADER_SIZE) == DATA_HEADER_SIZE;
      if (written) plat_commit(fd);
      if (fd >= 0) plat_close(fd);
      if (!written) {
        refuse(path, "its header could not be written: " + image.path + " is left as it is", CLASSIC_IO_ERROR);
        return false;
      }
    }
    return true;
  }

  // Puts the control file of a plan in place: written whole under a new
  // name, the old file renamed to its backup, the new one to its name.
  bool put_in_place(const CtlImage& image, const CtlPlan& plan) {
    CtlTrailer t = plan.trailer;
    t.lock_state = LOCK_AREA;  // the area is locked while repair works
    clear_holder(&t);
    std::string temp = translate(free_name(image.path, "new"));
    if (temp.empty() || !write_new_file(temp, control_bytes(plan.entries, t))) {
      refuse(image.path, "its new version could not be written", CLASSIC_IO_ERROR);
      return false;
    }
    std::string backup;
    if (image.state != FileState::Missing) {
      backup = translate(free_name(image.path, "bak"));
      if (backup.empty() || plat_rename(image.file.c_str(), backup.c_str()) != 0) {
        plat_unlink(temp.c_str());
        refuse(image.path, "cannot be put aside: left as it is", CLASSIC_IO_ERROR);
        return false;
      }
    }
    if (plat_rename(temp.c_str(), image.file.c_str()) != 0) {
      if (!backup.empty()) plat_rename(backup.c_str(), image.file.c_str());
      plat_unlink(temp.c_str());
      refuse(image.path, "its new version cannot be put in place: left as it is", CLASSIC_IO_ERROR);
      return false;
    }
    return true;
  }

  // Plans a control file again under its OS lock and carries the plan out.
  void rewrite(const CtlImage& old) {
    CtlImage image = control_image(old.folder, old.name);
    FILE* f = nullptr;
    if (old.state == FileState::Missing) {
      read_image(&image);
    } else if (!(f = take(image))) {
      return;
    } else if (!read_image_from(f, &image, true)) {
      classic_lock_close(f);
      refuse(image.path, "cannot be read", CLASSIC_IO_ERROR);
      return;
    }
    CtlPlan plan = plan_control_file(image, options_.rebuild);
    bool ready = plan.offline && write_headers(image, plan);
    if (f) classic_lock_close(f);
    if (!ready || !put_in_place(image, plan)) return;
    for (const AdminFinding& done_one : plan.findings) {
      if (done_one.fix == ADMIN_FIX_OFFLINE || done_one.fix == ADMIN_FIX_REBUILD) {
        change(done_one.file, done_one.entry, done_one.what + "; " + done_one.repair);
      }
    }
  }

  void remove_stray_login_files(AreaSurvey& s) {
    if (s.logins() != 0) return;
    for (const AdminLogin& l : login_files_of(s.area)) {
      std::string path = join_path(s.area, l.file);
      if (plat_unlink(translate(path).c_str()) == 0) {
        change(path, "", "removed the login file, for which no login was counted");
      } else {
        refuse(path, "cannot be removed", CLASSIC_IO_ERROR);
      }
    }
  }

  void repair_area(const std::string& area) {
    AreaSurvey s = survey_area(area, scope_.type, options_.rebuild);
    bool whole_area = scope_.type.empty();
    bool offline = false;
    for (size_t i = 0; i < s.files.size(); ++i) offline = offline || (s.in_scope[i] && s.plans[i].offline);
    for (const AdminFinding& f : s.findings) {
      offline = offline || (f.fix == ADMIN_FIX_OFFLINE && (f.code != "area.logins" || options_.force));
    }

    CtlImage& login = s.files[0];
    bool login_bad = login.state == FileState::Missing || (login.state == FileState::Read && !login.sound());
    if (login_bad && (whole_area || offline)) renew_login(login, area);
    // Session marks of programs that are gone: those in scope, and all of
    // the area's when its lock is to be taken.
    for (size_t i = 0; i < s.files.size(); ++i) {
      if ((s.in_scope[i] || offline) && s.files[i].sound() && s.files[i].trailer.lock_state == LOCK_SESSION) {
        clear_stale_mark(s.files[i]);
      }
    }
    if (!offline) return;

    for (const CtlImage& image : s.files) {
      if (image.state == FileState::Held || (image.sound() && image.trailer.lock_state == LOCK_SESSION)) {
        refuse(image.path, "is held by a program now: entries, open states and counts of the area are left as they are");
        return;
      }
    }
    if (s.logins() > 0 && !options_.force) {
      std::string names;
      for (const AdminLogin& l : s.login_files) names += (names.empty() ? "" : ", ") + l.file;
      refuse(area, std::to_string(s.logins()) + (s.logins() == 1 ? " login is" : " logins are") + " counted" +
                       (names.empty() ? "" : " (" + names + ")") +
                       ": entries, open states and counts are left as they are ('repair --force' overrides them)",
             CLASSIC_LOGINS_PRESENT);
      return;
    }
    count_lock_marks(&s);
    bool ours = false;
    if (!lock_area(s, &ours)) return;
    for (size_t i = 0; i < s.files.size(); ++i) {
      if (s.in_scope[i] && s.plans[i].offline) rewrite(s.files[i]);
    }
    if (whole_area) remove_stray_login_files(s);
    if (ours) unlock_area(s);
  }
};

}  // namespace

std::string admin_backup_name(const std::string& path) { return free_name(path, "bak"); }

int admin_repair(const AdminScope& scope, const AdminRepairOptions& options, AdminRepairReport* out) {
  try {
    *out = AdminRepairReport{};
    int status = Repairer(scope, options, out).run();
    if (status != CLASSIC_OK) return status;
    return admin_check(scope, &out->after);
  } catch (const std::bad_alloc&) {
    return CLASSIC_NO_MEMORY;
  }
}
