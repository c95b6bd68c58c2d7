// The deleted versions of items: listed as the deleted tail holds them, one
// of several versions of a name brought back, and dropped for good by purge
// under an area lock.
//
// Purge writes each control file whole without the dropped entries, beside
// the old one, and renames it into place (the old file stays as the backup,
// as repair keeps it); only then does it mark the dropped entries' slots in
// their data files (byte 28 of the slot record, 0 otherwise).  The bytes stay
// where they are: a data file holds its slots in one run.  A repair skips
// marked slots; a slot whose mark could not be written is still a deleted
// item that no entry names, which a repair brings back to the deleted tail,
// so nothing is lost on any way out.
#include <cctype>
#include <cstring>
#include <map>
#include <set>

#include "admin/admin.h"
#include "admin/rewrite.h"
#include "admin/survey.h"
#include "base/lockfile.h"
#include "base/text.h"
#include "ctl/lookup.h"
#include "ctl/names.h"
#include "ctl/session.h"
#include "errlog/errlog.h"
#include "errlog/log_format.h"
#include "items/datafile.h"
#include "locking/arealock.h"
#include "platform/platform.h"
#include "queries/match.h"

namespace {

constexpr int kLockFileFlags = CLASSIC_O_RDWR | CLASSIC_O_BINARY;
constexpr int kPermission = CLASSIC_S_IREAD | CLASSIC_S_IWRITE;
constexpr int kOneAttempt = 2;

bool ok(int status) { return status == CLASSIC_OK || status == CLASSIC_OK_REMOVABLE; }

// Whether a deleted entry's name matches a listing pattern.
bool deleted_matches(const CtlEntry& e, const char* converted) {
  CtlEntry live = e;
  live.flags &= static_cast<uint8_t>(~ENTRY_DELETED);
  return entry_matches(live, converted);
}

// The image of the control file at ctl (a store path), read whole.
CtlImage read_control(const std::string& ctl, bool with_data) {
  size_t cut = ctl.find_last_of("\\/");
  CtlImage image = cut == std::string::npos ? control_image("", ctl)
                                            : control_image(ctl.substr(0, cut), ctl.substr(cut + 1));
  read_image(&image, with_data);
  return image;
}

std::string key_of(const CtlEntry& e) { return std::string(e.name, ITEM_NAME_SIZE); }

}  // namespace

int admin_list_deleted(const std::string& ctl, const std::string& pattern, std::vector<AdminDeleted>* out) {
  out->clear();
  CtlImage image = read_control(ctl, false);
  if (image.state == FileState::Missing) return CLASSIC_CANNOT_OPEN;
  if (!image.sound()) return CLASSIC_IO_ERROR;
  char converted[MATCH_PATTERN_SIZE];
  convert_pattern(converted, pattern.c_str());
  // Versions count from the end of the tail: the latest deletion is 1.
  std::map<std::string, int> seen;
  for (size_t i = image.entries.size(); i-- > 0;) {
    const CtlEntry& e = image.entries[i];
    if (!(e.flags & ENTRY_DELETED) || !deleted_matches(e, converted)) continue;
    AdminDeleted d;
    std::memset(&d.info, 0, sizeof d.info);
    fill_entry_info(&d.info, e, true);
    d.version = ++seen[key_of(e)];
    out->insert(out->begin(), d);
  }
  return CLASSIC_OK;
}

int admin_undelete_version(const std::string& ctl, const std::string& pattern, const std::string& name,
                           int version) {
  if (version < 1) return CLASSIC_NOT_FOUND;
  int r = classic_lookup_item(ctl.c_str(), name.c_str(), nullptr);
  if (ok(r)) return CLASSIC_NAME_IN_USE;
  if (r != CLASSIC_NOT_FOUND) return r;
  if (version > 1) {
    char key[ITEM_NAME_SIZE];
    normalize_item_name(key, name.c_str(), ITEM_NAME_SIZE);
    CtlSession session;
    r = session.open(ctl.c_str(), CTL_UPDATE);
    if (!ctl_opened(r)) return r;
    FILE* f = session.stream();
    long end = ctl_trailer_offset();
    int found = 0;
    long at = end - CTL_RECORD_SIZE;
    CtlEntry e;
    for (; at >= 0; at -= CTL_RECORD_SIZE) {
      if (plat_fseek(f, at, SEEK_SET) != 0 || plat_fread(&e, sizeof e, 1, f) != 1) return CLASSIC_IO_ERROR;
      if (!(e.flags & ENTRY_DELETED)) break;
      if (std::memcmp(e.name, key, ITEM_NAME_SIZE) == 0 && ++found == version) break;
    }
    if (found != version) return CLASSIC_NOT_FOUND;
    // The version goes to the end of the tail, where undeletion looks.
    r = remove_entry(f, &e, at, end);
    if (r != CLASSIC_OK) return r;
    r = session.close();
    if (r != CLASSIC_OK) return r;
  }
  return classic_undelete_item(ctl.c_str(), name.c_str(), pattern.c_str());
}

namespace {

class Purger {
 public:
  Purger(const std::string& area, const AdminPurgeOptions& options, AdminPurgeReport* out)
      : area_(area), options_(options), out_(*out) {}

  int run() {
    if (!admin_store_exists(area_)) return CLASSIC_NOT_FOUND;
    AreaSurvey s = survey_area(area_, options_.type, false, false);
    convert_pattern(converted_, options_.pattern.c_str());
    std::vector<size_t> files;
    for (size_t i = 0; i < s.files.size(); ++i) {
      const CtlImage& image = s.files[i];
      bool in_scope = options_.type.empty() || equal_nocase(image.name.c_str(), options_.type.c_str());
      if (!in_scope || !image.type || !image.sound()) continue;
      size_t before = out_.purged.size();
      collect(image, &out_.purged);
      if (out_.purged.size() > before) files.push_back(i);
    }
    if (options_.dry_run || files.empty()) return CLASSIC_OK;
    out_.purged.clear();

    if (s.logins() > 0 && !options_.force) return CLASSIC_LOGINS_PRESENT;
    bool ours = false;
    if (!s.login_locked) {
      std::vector<AdminLogin> logins = s.login_files;
      int status = set_area_lock(1, options_.force ? 1 : 0, (area_ + "\\").c_str());
      if (status != CLASSIC_OK && status != CLASSIC_LOCK_FORCED && status != CLASSIC_OPEN_ITEMS) {
        if (status != CLASSIC_LOGINS_PRESENT) set_area_lock(0, 0, (area_ + "\\").c_str());
        return status;
      }
      ours = true;
      if (status == CLASSIC_LOCK_FORCED) {
        for (const AdminLogin& l : logins) out_.overridden.push_back(l.file);
      }
    } else if (s.locked != s.lockable) {
      refuse(area_, "the area lock stopped half-way ('classic repair' completes it): nothing was purged");
      return CLASSIC_OK;
    }
    for (size_t i : files) purge(s.files[i]);
    if (ours) set_area_lock(0, 0, (area_ + "\\").c_str());
    return CLASSIC_OK;
  }

 private:
  const std::string& area_;
  const AdminPurgeOptions& options_;
  AdminPurgeReport& out_;
  char converted_[MATCH_PATTERN_SIZE];

  void refuse(const std::string& file, const std::string& why, int status = 0) {
    out_.refusals.push_back({file, why, status, admin_cause()});
    admin_clear_cause();
  }

  bool dropped(const CtlEntry& e) const { return (e.flags & ENTRY_DELETED) && deleted_matches(e, converted_); }

  void collect(const CtlImage& image, std::vector<AdminPurged>* out) const {
    for (const CtlEntry& e : image.entries) {
      if (dropped(e)) out->push_back({image.path, item_name(e.name), e.size});
    }
  }

  // Drops the entries of one control file, then marks their slots.
  void purge(const CtlImage& old) {
    CtlImage image = control_image(old.folder, old.name);
    FILE* f = image.file.empty() ? nullptr
                                 : lock_open(image.file.c_str(), kLockFileFlags, kPermission, kOneAttempt, 0, false);
    if (!f) {
      refuse(image.path, "is held by a program now: left as it is", CLASSIC_LOCKED);
      return;
    }
    bool read = read_image_from(f, &image, true) && image.sound();
    classic_lock_close(f);
    if (!read) {
      refuse(image.path, "cannot be read: left as it is", CLASSIC_IO_ERROR);
      return;
    }
    std::vector<CtlEntry> kept;
    std::vector<AdminPurged> gone;
    std::map<std::string, std::set<int>> slots;  // by suffix
    for (const CtlEntry& e : image.entries) {
      if (!dropped(e)) {
        kept.push_back(e);
        continue;
      }
      gone.push_back({image.path, item_name(e.name), e.size});
      slots[std::string(e.suffix, 3)].insert(e.slot);
    }
    if (gone.empty()) return;
    std::string why;
    if (!replace_control_file(image, control_bytes(kept, image.trailer), &why)) {
      refuse(image.path, why, CLASSIC_IO_ERROR);
      return;
    }
    for (const auto& [suffix, numbers] : slots) mark_slots(image, suffix, numbers, kept);
    out_.purged.insert(out_.purged.end(), gone.begin(), gone.end());
    std::string text = "Purged " + std::to_string(gone.size()) + " deleted entries from " + image.path;
    log_error_text(LOG_CLASS_EXECUTION, REPORT_REPAIRED, text.substr(0, LOG_LINE_CHARS).c_str());
  }

  // Marks the slots of dropped entries in one data file, unless an entry
  // that stays names one of them.
  void mark_slots(const CtlImage& image, const std::string& suffix, const std::set<int>& numbers,
                  const std::vector<CtlEntry>& kept) {
    char lower[4] = {0};
    for (int i = 0; i < 3; ++i) lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(suffix[i])));
    std::string path = data_path(image, lower);
    std::string file = admin_translate(path);
    int fd = file.empty() ? -1 : plat_sopen(file.c_str(), kLockFileFlags, PLAT_SH_DENYNO, kPermission);
    DataHeader h;
    bool done = fd >= 0 && plat_read(fd, &h, DATA_HEADER_SIZE) == DATA_HEADER_SIZE;
    if (done) {
      for (int n : numbers) {
        if (n < 0 || n >= DATA_SLOTS) continue;
        bool named = false;
        for (const CtlEntry& e : kept) named = named || (std::memcmp(e.suffix, suffix.data(), 3) == 0 && e.slot == n);
        if (!named && (h.slots[n].flags & ENTRY_DELETED)) h.slots[n].zero28 = SLOT_PURGED;
      }
      done = plat_lseek(fd, 0, SEEK_SET) == 0 && plat_write(fd, &h, DATA_HEADER_SIZE) == DATA_HEADER_SIZE;
      if (done) plat_commit(fd);
    }
    if (fd >= 0) plat_close(fd);
    if (!done) refuse(path, "its slots could not be marked: a repair brings the purged entries back as deleted ones");
  }
};

}  // namespace

int admin_purge(const std::string& area, const AdminPurgeOptions& options, AdminPurgeReport* out) {
  *out = AdminPurgeReport{};
  return Purger(area, options, out).run();
}
