// Sub-commands that set up and look after areas, drives and the
// workstation: init, areas, types, devices, df, area locks, logins, path
// translation and the user id.
#include <cerrno>
#include <cstring>
#include <iomanip>
#include <ostream>

#include "commands.h"
#include "platform/platform.h"
#include "platform/testing.h"
#include "storage/hostinfo.h"
#include "storage/netxlat.h"
#include "storage/xlat_lookup.h"

namespace tool {

namespace {

constexpr const char* kAreaKeys = "Software\\Halvorn\\Quillmere";
constexpr const char* kUserKey = "Software\\Halvorn";
constexpr uint32_t kAreaVersion = 4;

// The folder of the translation control file.
constexpr const char* kXlatFolder = "C:\\userroot\\system\\state\\stordir";
const ItemKind kXlatKind = {"netxl", "netxl.ctl", XLAT_DATA_PATTERN, "net", false};

std::string area_key(const Area& area) {
  return std::string(kAreaKeys) + "\\" + area.drive + ":\\" + area.name;
}

bool drive_exists(char letter) {
  return (plat_logical_drives() >> (letter - 'A')) & 1ul;
}

// The Version of an area key: -1 when the key or the value is missing.
long area_version(const std::string& key_path) {
  plat_hkey key = nullptr;
  if (plat_reg_open_key(plat_hkey_current_user(), key_path.c_str(), PLAT_KEY_READ, &key) !=
      PLAT_ERROR_SUCCESS) {
    return -1;
  }
  unsigned char bytes[4];
  unsigned long type = 0, size = sizeof bytes;
  long r = plat_reg_query_value(key, "Version", &type, bytes, &size);
  plat_reg_close_key(key);
  if (r != PLAT_ERROR_SUCCESS || size != 4) return -1;
  return static_cast<long>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 |
                           static_cast<uint32_t>(bytes[3]) << 24);
}

// Makes folder and the folders above it: how many were made, or -1.
int make_folder(const std::string& path) {
  if (plat_access(path.c_str(), 0) == 0) return 0;
  int made = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i != path.size() && path[i] != '\\') continue;
    std::string prefix = path.substr(0, i);
    if (prefix.empty() || (prefix.size() == 2 && prefix[1] == ':')) continue;
    if (plat_access(prefix.c_str(), 0) == 0) continue;
    if (plat_mkdir(prefix.c_str()) != 0) {
      if (errno != EEXIST) return -1;
      continue;
    }
    ++made;
  }
  return made;
}

// An area whose folder exists, or TOOL_USAGE / TOOL_FAILED after saying why.
int existing_area(Console& c, const std::string& op, const Args& a, Area* area) {
  std::string why;
  if (!resolve_area(a.area, a.drive, area, &why)) return usage(c, why);
  if (!store_exists(area->path)) {
    return fail(c, op + " " + area->path, "no such area ('classic init' sets one up)");
  }
  return TOOL_OK;
}

int check_tag(Console& c, const std::string& tag) {
  if (tag.size() > 3) return usage(c, "login tag '" + tag + "' is longer than 3 characters");
  return TOOL_OK;
}

}  // namespace

int cmd_init(Console& c, const Args& a) {
  Area area;
  std::string why;
  if (!resolve_area(a.area, a.drive, &area, &why)) return usage(c, why);
  if (!drive_exists(area.drive)) {
    return fail(c, std::string("init ") + area.path, std::string("drive ") + area.drive + ": does not exist");
  }
  int failures = 0;
  int folders = 0;
  auto folder = [&](const std::string& path) {
    int r = make_folder(path);
    if (r > 0) folders += r;
    if (r < 0) {
      fail(c, "init " + area.path, "cannot make the folder " + path);
      ++failures;
    }
  };

  // The standard tree of the drive.
  std::string root = std::string(1, area.drive) + ":\\userroot";
  for (const char* sub : {"", "\\storage", "\\system", "\\system\\error", "\\system\\state",
                          "\\system\\state\\stordir", "\\system\\state\\dosdir", "\\temp", "\\prog",
                          "\\prog\\util"}) {
    folder(root + sub);
  }
  // The area's folders, where the area's path leads.
  for (const char* sub : {"", "\\DATA", "\\PARAM"}) {
    std::string path = translated(area.path + sub);
    if (path.empty()) {
      fail_status(c, "init " + area.path, CLASSIC_CANNOT_REMOVE);
      return TOOL_FAILED;
    }
    folder(path);
  }
  if (failures) return TOOL_FAILED;

  // The area's registry key.
  std::string key_path = area_key(area);
  long version = area_version(key_path);
  bool registered = false;
  if (version < 0) {
    plat_hkey key = nullptr;
    uint32_t v = kAreaVersion;
    unsigned char bytes[4] = {static_cast<unsigned char>(v), 0, 0, 0};
    if (plat_reg_create_key(plat_hkey_current_user(), key_path.c_str(), &key) != PLAT_ERROR_SUCCESS ||
        plat_reg_set_value(key, "Version", PLAT_REG_DWORD, bytes, 4) != PLAT_ERROR_SUCCESS) {
      if (key) plat_reg_close_key(key);
      return fail(c, "init " + area.path, "cannot register the area under " + key_path);
    }
    plat_reg_close_key(key);
    registered = true;
    version = kAreaVersion;
  }

  // login.ctl and the control files of all types.
  bool login_made = false;
  if (!store_exists(area.path + "\\login.ctl")) {
    int r = classic_login_create(area.path.c_str());
    if (!ok(r)) return fail_status(c, "init " + area.path + ": login.ctl", r);
    login_made = true;
  }
  int made_data = 0, made_param = 0;
  for (const ItemKind& k : item_kinds()) {
    std::string here = area.path + "\\" + k.folder() + "\\" + k.ctl;
    std::string other = area.path + "\\" + k.other_folder() + "\\" + k.ctl;
    if (store_exists(here) || store_exists(other)) continue;
    int r = classic_create_control_file(here.c_str());
    if (!ok(r)) {
      fail_status(c, "init " + area.path + ": " + k.ctl, r);
      ++failures;
      continue;
    }
    ++(k.param ? made_param : made_data);
  }

  if (folders == 0 && !registered && !login_made && made_data + made_param == 0 && !failures) {
    c.out << "area " << area.path << " is already set up: nothing changed\n";
    return TOOL_OK;
  }
  c.out << "init " << area.path << "\n"
        << "  folders made        " << folders << "\n"
        << "  registry            " << key_path << ", Version " << version
        << (registered ? "" : " (there already)") << "\n"
        << "  login.ctl           " << (login_made ? "made" : "there already") << "\n"
        << "  control files made  " << made_data + made_param << " (" << made_data << " in DATA, "
        << made_param << " in PARAM)\n";
  return failures ? TOOL_FAILED : TOOL_OK;
}

int cmd_areas(Console& c, const Args& a) {
  Area probe;
  std::string why;
  if (!resolve_area("x", a.drive, &probe, &why)) return usage(c, why);
  std::string pattern = std::string(1, probe.drive) + ":\\userroot\\storage\\*";
  unsigned long count = 0;
  classic_get_area_count(pattern.c_str(), &count);
  constexpr int kWidth = 128;
  std::vector<char> names(static_cast<size_t>(count) * kWidth + 1, 0);
  unsigned long stored = count;
  if (count) classic_get_area_names(pattern.c_str(), names.data(), kWidth, &stored);
  nlohmann::json list = nlohmann::json::array();
  if (!a.json && stored) c.out << std::left << std::setw(12) << "AREA" << std::setw(9) << "VERSION" << "FOLDER\n";
  for (unsigned long i = 0; i < stored; ++i) {
    Area area;
    area.drive = probe.drive;
    area.name = std::string(names.data() + i * kWidth, strnlen(names.data() + i * kWidth, kWidth));
    area.path = std::string(1, area.drive) + ":\\userroot\\storage\\" + area.name;
    long version = area_version(area_key(area));
    bool folder = store_exists(area.path);
    if (a.json) {
      nlohmann::json j;
      j["name"] = text_json(area.name);
      j["path"] = text_json(area.path);
      j["version"] = version < 0 ? nlohmann::json() : nlohmann::json(version);
      j["folder"] = folder;
      list.push_back(j);
      continue;
    }
    c.out << std::left << std::setw(12) << area.name << std::setw(9)
          << (version < 0 ? std::string("-") : std::to_string(version)) << area.path
          << (folder ? "" : "  (no folder)") << "\n";
  }
  if (a.json) {
    print_json(c.out, list);
  } else if (stored == 0) {
    c.out << "no areas on drive " << probe.drive << ":\n";
  }
  return TOOL_OK;
}

int cmd_types(Console& c, const Args& a) {
  if (a.json) {
    nlohmann::json list = nlohmann::json::array();
    for (const ItemKind& k : item_kinds()) {
      list.push_back({{"type", k.name}, {"control_file", k.ctl}, {"pattern", k.pattern},
                      {"folder", k.folder()}});
    }
    print_json(c.out, list);
    return TOOL_OK;
  }
  c.out << std::left << std::setw(8) << "TYPE" << std::setw(12) << "CONTROL" << std::setw(7) << "FOLDER"
        << "DATA FILES\n";
  for (const ItemKind& k : item_kinds()) {
    c.out << std::left << std::setw(8) << k.name << std::setw(12) << k.ctl << std::setw(7) << k.folder()
          << k.pattern << "\n";
  }
  return TOOL_OK;
}

int cmd_devices(Console& c, const Args&) {
  int count = static_cast<int>(classic_get_device_count());
  constexpr int kWidth = 8;
  std::vector<char> names(static_cast<size_t>(count) * kWidth + 1, 0);
  if (count) classic_get_device_names(names.data(), kWidth, &count);
  char network = '!', server = 0, node[5] = {0}, node_copy[5] = {0};
  classic_get_driveinfo(&network, &server, node, node_copy);
  c.out << "workstation  node " << (node[0] ? node : "-") << ", network drive "
        << (network == '!' ? std::string("none") : std::string(1, network) + ":") << ", server drive "
        << (server ? std::string(1, server) + ":" : std::string("none")) << "\n";
  for (int i = 0; i < count; ++i) {
    std::string name(names.data() + i * kWidth, strnlen(names.data() + i * kWidth, kWidth));
    c.out << "  " << name;
    if (name[0] == '@') {
      c.out << "  network storage";
    } else {
      double free = classic_amt_free_disk_space((name + "\\").c_str());
      if (free > 0) c.out << "  " << human_bytes(free) << " free";
    }
    c.out << "\n";
  }
  return TOOL_OK;
}

int cmd_df(Console& c, const Args& a) {
  std::string path = a.value.empty() ? std::string("C:\\") : a.value;
  double free = classic_amt_free_disk_space(path.c_str());
  if (free <= 0) return fail(c, "df " + path, "the drive cannot be asked for its free space");
  char exact[32];
  std::snprintf(exact, sizeof exact, "%.0f", free);
  c.out << path << "  " << human_bytes(free) << " free (" << exact << " bytes)\n";
  return TOOL_OK;
}

int cmd_lock(Console& c, const Args& a) {
  Area area;
  if (int r = existing_area(c, "lock", a, &area)) return r;
  int status = classic_area_lock(a.force ? 1 : 0, (area.path + "\\").c_str());
  switch (status) {
    case CLASSIC_OK:
    case CLASSIC_OK_REMOVABLE:
      c.out << "locked " << area.path << "\n";
      return TOOL_OK;
    case CLASSIC_LOCK_FORCED:
    case CLASSIC_OPEN_ITEMS:
      c.out << "locked " << area.path << "\n";
      c.err << "classic: " << status_line("lock " + area.path, status) << "\n";
      return TOOL_OK;
    default:
      return fail_status(c, "lock " + area.path, status);
  }
}

int cmd_unlock(Console& c, const Args& a) {
  Area area;
  if (int r = existing_area(c, "unlock", a, &area)) return r;
  int status = classic_area_unlock((area.path + "\\").c_str());
  if (!ok(status)) return fail_status(c, "unlock " + area.path, status);
  c.out << "unlocked " << area.path << "\n";
  return TOOL_OK;
}

int cmd_login(Console& c, const Args& a) {
  Area area;
  if (int r = existing_area(c, "login", a, &area)) return r;
  if (int r = check_tag(c, a.value)) return r;
  int status = classic_login_area(area.path.c_str(), a.value.c_str());
  if (!ok(status)) return fail_status(c, "login " + area.path + " " + a.value, status);
  c.out << "logged in to " << area.path << " with tag '" << a.value << "'\n";
  return TOOL_OK;
}

int cmd_logout(Console& c, const Args& a) {
  Area area;
  if (int r = existing_area(c, "logout", a, &area)) return r;
  if (int r = check_tag(c, a.value)) return r;
  int status = classic_logout_area(area.path.c_str(), a.value.c_str());
  if (!ok(status)) return fail_status(c, "logout " + area.path + " " + a.value, status);
  c.out << "logged out of " << area.path << " with tag '" << a.value << "'\n";
  return TOOL_OK;
}

int cmd_xlat(Console& c, const Args& a) {
  char out[300];
  int status = classic_netxlat(a.value.c_str(), out);
  if (status != CLASSIC_OK) return fail_status(c, "xlat " + a.value, status);
  c.out << (a.longform ? plat_native_path(out) : std::string(out)) << "\n";
  return TOOL_OK;
}

int cmd_net_add(Console& c, const Args& a) {
  // The key: a name of up to 8 characters padded with blanks to 8 and the
  // letter of what it names (A an area, D a folder of C:), or 9 characters
  // given whole.
  std::string key = a.name;
  if (key.empty() || key.size() > 9 || key.find_first_of("\\/:.*?") != std::string::npos ||
      (key.size() < 9 && key.find(' ') != std::string::npos)) {
    return usage(c, "translation key '" + key + "' is not a name of 1 to 8 characters (or a whole key of 9)");
  }
  if (key.size() < 9) {
    key.resize(8, ' ');
    key += a.folder_key ? 'D' : 'A';
  }
  const std::string& target = a.value;
  if (target.empty() || target.size() > static_cast<size_t>(XLAT_TARGET_MAX) || target.find(' ') != std::string::npos) {
    return usage(c, "translation target '" + target + "' must be a folder of at most 299 characters, without blanks");
  }
  if (make_folder(kXlatFolder) < 0) {
    return fail(c, "net add", std::string("cannot make the folder ") + kXlatFolder);
  }
  if (plat_access(XLAT_CTL_PATH, 0) != 0) {
    int r = classic_net_ctrl_creat();
    if (!ok(r)) return fail_status(c, std::string("net add: ") + XLAT_CTL_PATH, r);
  }
  std::string record(XLAT_RECORD_SIZE, ' ');
  record.replace(XLAT_TARGET_OFFSET, target.size(), target);
  Store s;
  s.kind = &kXlatKind;
  s.ctl = XLAT_CTL_PATH;
  s.area.path = kXlatFolder;
  int status = write_item(s, key, record, a.replace);
  if (status != CLASSIC_OK) return fail_status(c, "net add '" + key + "'", status);
  c.out << "translation '" << key << "' -> " << target << "\n";
  char network = '!';
  classic_get_driveinfo(&network, nullptr, nullptr, nullptr);
  if (network == '!') c.out << "(this workstation has no network drive: it translates only @: paths)\n";
  return TOOL_OK;
}

int cmd_net_list(Console& c, const Args&) {
  if (plat_access(XLAT_CTL_PATH, 0) != 0) {
    c.out << "no translations (no " << XLAT_CTL_PATH << ")\n";
    return TOOL_OK;
  }
  std::vector<CTRL_ENTRY_INFO> entries;
  bool cut = false;
  int status = list_items(XLAT_CTL_PATH, "*", &entries, &cut);
  if (status != CLASSIC_OK) return fail_status(c, std::string("net ls ") + XLAT_CTL_PATH, status);
  int result = TOOL_OK;
  for (const CTRL_ENTRY_INFO& e : entries) {
    std::string key(e.name, strnlen(e.name, sizeof e.name));
    // The target as path translation reads it.
    char target[XLAT_PATH_SIZE];
    int r = lookup_translation(key.c_str(), target);
    if (r != CLASSIC_OK) {
      result = fail_status(c, "net ls '" + key + "'", r);
      continue;
    }
    c.out << "'" << key << "' -> " << target << "\n";
  }
  if (entries.empty()) c.out << "no translations\n";
  return result;
}

int cmd_user(Console& c, const Args& a) {
  if (a.value.empty()) {
    // The id as items are stamped with it.
    char id[4];
    read_user_id(id);
    if (id[0]) {
      c.out << id << "\n";
    } else {
      c.out << "no user id (items are stamped with none)\n";
    }
    return TOOL_OK;
  }
  if (a.value.size() > 3) return usage(c, "user id '" + a.value + "' is longer than 3 characters");
  plat_hkey key = nullptr;
  if (plat_reg_create_key(plat_hkey_current_user(), kUserKey, &key) != PLAT_ERROR_SUCCESS) {
    return fail(c, "user " + a.value, std::string("cannot open the registry key ") + kUserKey);
  }
  long r = plat_reg_set_value(key, "UserId", PLAT_REG_SZ, a.value.c_str(),
                              static_cast<unsigned long>(a.value.size() + 1));
  plat_reg_close_key(key);
  if (r != PLAT_ERROR_SUCCESS) return fail(c, "user " + a.value, "cannot set the registry value UserId");
  c.out << "user id set to " << a.value << "\n";
  return TOOL_OK;
}

}  // namespace tool
