// Areas, their logins and lock marks, the areas of a drive and the error
// log, as check, repair and who look at them.
#include "admin/survey.h"

#include <cctype>
#include <cstring>

#include "admin/admin.h"
#include "base/names.h"
#include "base/text.h"
#include "errlog/log_format.h"
#include "platform/platform.h"
#include "storage/areas.h"

namespace {

std::string plural(long n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The folder a type's control file stands in: PARAM for the parameter
// tables (data-file extension par), else DATA.
const char* usual_folder(const ItemType& type) {
  const char* dot = std::strrchr(type.pattern, '.');
  return dot && equal_nocase(dot, ".par") ? AREA_PARAM_FOLDER : AREA_DATA_FOLDER;
}

bool has_data_files(const std::string& folder, const ItemType& type) {
  char wildcard[XLAT_PATH_SIZE];
  return data_file_path(wildcard, "", type.pattern, "???") && !folder_files(folder, wildcard).empty();
}

// The control files of the types in scope that are gone while their data
// files remain (or the one type named, wherever it is missing).
void add_lost_control_files(AreaSurvey* s, const std::string& type) {
  for (const ItemType& t : g_item_types) {
    if (!type.empty() && !equal_nocase(t.ctl_name, type.c_str())) continue;
    bool present = false;
    for (const CtlImage& image : s->files) present = present || equal_nocase(image.name.c_str(), t.ctl_name);
    if (present) continue;
    std::string folder;
    for (const char* sub : {usual_folder(t), usual_folder(t) == AREA_DATA_FOLDER ? AREA_PARAM_FOLDER : AREA_DATA_FOLDER}) {
      if (folder.empty() && has_data_files(join_path(s->area, sub), t)) folder = join_path(s->area, sub);
    }
    if (folder.empty() && type.empty()) continue;
    if (folder.empty()) folder = join_path(s->area, usual_folder(t));
    s->files.push_back(control_image(folder, t.ctl_name));
  }
}

void area_findings(AreaSurvey* s) {
  const CtlImage& login = s->files[0];
  auto add = [&](int severity, const char* code, const std::string& file, const std::string& what,
                 const std::string& repair, int fix) {
    AdminFinding f;
    f.severity = severity;
    f.code = code;
    f.file = file;
    f.what = what;
    f.repair = repair;
    f.fix = fix;
    s->findings.push_back(f);
  };
  if (login.state == FileState::Missing) {
    add(ADMIN_WARNING, "area.login-missing", login.path, "is missing: logins and area locks of the area fail (1015)",
        "makes it (no logins counted)", ADMIN_FIX_ONLINE);
  }
  if (s->partly_locked()) {
    add(ADMIN_WARNING, "area.partly-locked", s->area,
        "is locked only in part: " + std::to_string(s->locked) + " of " + plural(s->lockable, "control file carries",
                                                                               "control files carry") +
            " the area lock, login.ctl " + (s->login_locked ? "among them" : "not"),
        s->login_locked ? "completes the lock (login.ctl carries it): 'classic unlock' frees the area"
                        : "completes the unlock (login.ctl is free)",
        ADMIN_FIX_OFFLINE);
  } else if (s->locked > 0) {
    add(ADMIN_NOTE, "area.locked", s->area, "is locked as a whole by an area lock ('classic unlock' frees it)",
        "nothing to repair", ADMIN_FIX_NONE);
  }
  int counted = s->logins();
  std::string names;
  for (const AdminLogin& l : s->login_files) names += (names.empty() ? "" : ", ") + l.file;
  if (counted == 0 && !s->login_files.empty()) {
    add(ADMIN_WARNING, "area.login-files", s->area,
        "holds " + plural(static_cast<long>(s->login_files.size()), "login file", "login files") +
            " while no login is counted: " + names,
        "removes them", ADMIN_FIX_OFFLINE);
  } else if (counted > 0 && s->login_files.empty()) {
    add(ADMIN_WARNING, "area.logins", login.path,
        "counts " + plural(counted, "login", "logins") +
            ", but no login file is there (workstations that never logged out?): the area cannot be locked",
        "clears the counts under a forced area lock ('repair --force' only)", ADMIN_FIX_OFFLINE);
  }
}

// The names of the area keys of a drive.
std::vector<std::string> registered_names(char drive) {
  std::vector<std::string> names;
  char key[64];
  format_drive_key(key, sizeof key, drive);
  plat_hkey drive_key = nullptr;
  if (plat_reg_open_key(plat_hkey_current_user(), key, PLAT_KEY_READ, &drive_key) != PLAT_ERROR_SUCCESS) return names;
  for (unsigned long i = 0;; ++i) {
    char name[AREA_NAME_SIZE];
    unsigned long length = sizeof name;
    long r = plat_reg_enum_key(drive_key, i, name, &length);
    if (r == PLAT_ERROR_MORE_DATA) continue;
    if (r != PLAT_ERROR_SUCCESS) break;
    names.push_back(name);
  }
  plat_reg_close_key(drive_key);
  return names;
}

// The area folders of a drive, as the listings of areas find them.
std::vector<std::string> folder_names(char drive) {
  std::vector<std::string> names;
  std::string where = admin_translate(admin_area_path(drive, "*"));
  if (where.empty()) return names;
  plat_find_data found;
  plat_find_handle search = plat_find_first(where.c_str(), &found);
  for (bool more = search != nullptr; more; more = plat_find_next(search, &found) != 0) {
    if ((found.attributes & PLAT_ATTR_DIRECTORY) && !std::strchr(found.name, '.')) names.push_back(found.name);
  }
  if (search) plat_find_close(search);
  return names;
}

DriveArea drive_area(char drive, const std::string& name, const std::vector<std::string>& registered) {
  DriveArea a;
  a.drive = drive;
  a.name = name;
  a.path = admin_area_path(drive, name);
  for (const std::string& r : registered) a.registered = a.registered || equal_nocase(r.c_str(), name.c_str());
  if (a.registered) a.version = admin_area_version(drive, name);
  a.folder = admin_store_exists(a.path);
  return a;
}

}  // namespace

int AreaSurvey::logins() const {
  return files[0].sound() ? files[0].trailer.total_items : 0;
}

void count_lock_marks(AreaSurvey* s) {
  s->lockable = s->locked = 0;
  for (const CtlImage& image : s->files) {
    if (!image.sound()) continue;
    ++s->lockable;
    if (image.trailer.lock_state == LOCK_AREA) ++s->locked;
  }
  s->login_locked = s->files[0].sound() && s->files[0].trailer.lock_state == LOCK_AREA;
}

AreaSurvey survey_area(const std::string& area, const std::string& type, bool rebuild, bool plan) {
  AreaSurvey s;
  s.area = area;
  s.files = area_control_files(area);
  if (plan) add_lost_control_files(&s, type);
  for (CtlImage& image : s.files) {
    bool in = plan && (type.empty() || equal_nocase(image.name.c_str(), type.c_str()));
    s.in_scope.push_back(in);
    read_image(&image, in);
    s.plans.push_back(in ? plan_control_file(image, rebuild) : CtlPlan{});
  }
  s.login_files = login_files_of(area);
  count_lock_marks(&s);
  if (type.empty()) area_findings(&s);
  return s;
}

std::vector<AdminLogin> login_files_of(const std::string& area) {
  std::vector<AdminLogin> logins;
  for (const std::string& name : folder_files(area, LOGIN_FILES)) {
    if (equal_nocase(name.c_str(), LOGIN_CTL_NAME)) continue;
    AdminLogin l;
    l.file = name;
    size_t dot = name.find('.');
    std::string node = name.substr(3, (dot == std::string::npos ? name.size() : dot) - 3);
    while (!node.empty() && node.back() == '-') node.pop_back();
    l.node = node;
    l.tag = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    plat_stat st;
    std::string file = admin_translate(join_path(area, name));
    if (!file.empty() && plat_stat32(file.c_str(), &st) == 0) l.since = st.mtime;
    logins.push_back(l);
  }
  return logins;
}

int scope_areas(const AdminScope& scope, std::vector<DriveArea>* areas) {
  areas->clear();
  if (!scope.area.empty()) {
    const std::string& path = scope.area;
    char drive = path.size() > 1 && path[1] == ':' ? static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])))
                                                   : scope.drive;
    std::string name = path.substr(path.find_last_of("\\/") + 1);
    DriveArea a = drive_area(drive, name, registered_names(drive));
    // An area elsewhere than in the storage folder has no registration.
    if (!equal_nocase(a.path.c_str(), path.c_str())) a.registered = false;
    a.path = path;
    a.folder = admin_store_exists(path);
    if (!a.folder && !a.registered) return CLASSIC_NOT_FOUND;
    areas->push_back(a);
    return CLASSIC_OK;
  }
  std::vector<std::string> registered = registered_names(scope.drive);
  std::vector<std::string> names = registered;
  for (const std::string& f : folder_names(scope.drive)) {
    bool known = false;
    for (const std::string& n : names) known = known || equal_nocase(n.c_str(), f.c_str());
    if (!known) names.push_back(f);
  }
  for (const std::string& name : names) areas->push_back(drive_area(scope.drive, name, registered));
  return CLASSIC_OK;
}

void registration_findings(const DriveArea& a, std::vector<AdminFinding>* out) {
  char drive = a.drive;
  AdminFinding f;
  f.file = admin_area_key(drive, a.name);
  f.fix = ADMIN_FIX_ONLINE;
  if (a.registered && !a.folder) {
    f.code = "area.no-folder";
    f.what = "registers area " + a.name + ", whose folder " + a.path + " is missing";
    f.repair = "removes the registration";
  } else if (!a.registered && a.folder && equal_nocase(a.path.c_str(), admin_area_path(drive, a.name).c_str())) {
    f.code = "area.unregistered";
    f.what = "is missing, so the area listings leave out the folder " + a.path;
    f.repair = "registers it with Version " + std::to_string(ADMIN_AREA_VERSION);
  } else if (a.registered && a.version < 0) {
    f.code = "area.unregistered";
    f.what = "has no Version value";
    f.repair = "sets its Version to " + std::to_string(ADMIN_AREA_VERSION);
  } else {
    return;
  }
  out->push_back(f);
}

void log_findings(std::vector<AdminFinding>* out) {
  std::string bytes;
  FileState state = read_whole_file(LOG_PATH, PLAT_SH_DENYWR, READ_ATTEMPTS, &bytes);
  if (state == FileState::Missing || (state == FileState::Read && bytes.empty())) return;
  AdminFinding f;
  f.file = LOG_PATH;
  f.code = "log.header";
  if (state != FileState::Read) {
    f.what = state == FileState::Held ? "is held by a writer now: not checked" : "cannot be read";
    f.repair = "nothing";
    out->push_back(f);
    return;
  }
  LOG_HEADER h = {0, 0, 0};
  if (bytes.size() < sizeof h) {
    f.severity = ADMIN_ERROR;
    f.what = "is " + plural(static_cast<long>(bytes.size()), "byte", "bytes") + " long, shorter than its header";
    f.repair = "writes an empty header (no records kept)";
    f.fix = ADMIN_FIX_ONLINE;
    out->push_back(f);
    return;
  }
  std::memcpy(&h, bytes.data(), sizeof h);
  if (h.oldest >= LOG_SLOTS || h.mark >= LOG_SLOTS || h.next >= LOG_SLOTS) {
    f.severity = ADMIN_ERROR;
    f.what = "has a header naming slots beyond its " + std::to_string(LOG_SLOTS) + " (oldest " + std::to_string(h.oldest) +
             ", mark " + std::to_string(h.mark) + ", next " + std::to_string(h.next) + ")";
    f.repair = "takes each slot of the header modulo " + std::to_string(LOG_SLOTS);
    f.fix = ADMIN_FIX_ONLINE;
    out->push_back(f);
  }
}
