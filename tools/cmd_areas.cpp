// Sub-commands that set up and look after areas, drives and the
// workstation: init, areas, types, devices, df, area locks, logins, path
// translation and the user id.
#include <cerrno>
#include <cstring>
#include <iomanip>
#include <ostream>

#include "commands.h"

namespace tool {

namespace {

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
  if (!admin_drive_exists(area.drive)) {
    return fail(c, std::string("init ") + area.path, std::string("drive ") + area.drive + ": does not exist");
  }
  int failures = 0;
  int folders = 0;
  auto folder = [&](const std::string& path) {
    int r = admin_make_folders(path);
    if (r > 0) folders += r;
    if (r < 0) {
      fail(c, "init " + area.path, "cannot make the folder " + path);
      ++failures;
    }
  };

  // The standard tree of the drive.
  for (const std::string& path : admin_tree_folders(area.drive)) folder(path);
  // The area's folders, where the area's path leads.
  std::vector<std::string> subs = {""};
  for (const std::string& sub : admin_area_folders()) subs.push_back("\\" + sub);
  for (const std::string& sub : subs) {
    std::string path = translated(area.path + sub);
    if (path.empty()) {
      fail_status(c, "init " + area.path, CLASSIC_CANNOT_REMOVE);
      return TOOL_FAILED;
    }
    folder(path);
  }
  if (failures) return TOOL_FAILED;

  // The area's registry key.
  std::string key_path = admin_area_key(area.drive, area.name);
  long version = admin_area_version(area.drive, area.name);
  bool registered = false;
  if (version < 0) {
    int r = admin_register_area(area.drive, area.name, ADMIN_AREA_VERSION);
    if (r != CLASSIC_OK) return fail_status(c, "init " + area.path + ": registry " + key_path, r);
    registered = true;
    version = ADMIN_AREA_VERSION;
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
    std::string here = area.path + "\\" + admin_type_folder(k) + "\\" + k.ctl;
    std::string other = area.path + "\\" + admin_other_folder(k) + "\\" + k.ctl;
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
  std::string pattern = admin_area_path(probe.drive, "*");
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
    area.path = admin_area_path(area.drive, area.name);
    long version = admin_area_version(area.drive, area.name);
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
                      {"folder", admin_type_folder(k)}});
    }
    print_json(c.out, list);
    return TOOL_OK;
  }
  c.out << std::left << std::setw(8) << "TYPE" << std::setw(12) << "CONTROL" << std::setw(7) << "FOLDER"
        << "DATA FILES\n";
  for (const ItemKind& k : item_kinds()) {
    c.out << std::left << std::setw(8) << k.name << std::setw(12) << k.ctl << std::setw(7) << admin_type_folder(k)
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
  c.out << (a.longform ? admin_native_path(out) : std::string(out)) << "\n";
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
  if (target.empty() || target.size() > ADMIN_XLAT_TARGET_MAX || target.find(' ') != std::string::npos) {
    return usage(c, "translation target '" + target + "' must be a folder of at most 299 characters, without blanks");
  }
  int status = admin_add_translation(key, target, a.replace);
  if (status != CLASSIC_OK) return fail_status(c, "net add '" + key + "' in " + admin_xlat_ctl_path(), status);
  c.out << "translation '" << key << "' -> " << target << "\n";
  char network = '!';
  classic_get_driveinfo(&network, nullptr, nullptr, nullptr);
  if (network == '!') c.out << "(this workstation has no network drive: it translates only @: paths)\n";
  return TOOL_OK;
}

int cmd_net_list(Console& c, const Args&) {
  std::vector<AdminTranslation> entries;
  int status = admin_list_translations(&entries);
  if (status != CLASSIC_OK) return fail_status(c, std::string("net ls ") + admin_xlat_ctl_path(), status);
  int result = TOOL_OK;
  for (const AdminTranslation& t : entries) {
    if (t.status != CLASSIC_OK) {
      result = fail_status(c, "net ls '" + t.key + "'", t.status);
      continue;
    }
    c.out << "'" << t.key << "' -> " << t.target << "\n";
  }
  if (entries.empty()) c.out << "no translations\n";
  return result;
}

int cmd_user(Console& c, const Args& a) {
  if (a.value.empty()) {
    // The id as items are stamped with it.
    std::string id = admin_user_id();
    if (!id.empty()) {
      c.out << id << "\n";
    } else {
      c.out << "no user id (items are stamped with none)\n";
    }
    return TOOL_OK;
  }
  if (a.value.size() > 3) return usage(c, "user id '" + a.value + "' is longer than 3 characters");
  int status = admin_set_user_id(a.value);
  if (status != CLASSIC_OK) return fail_status(c, "user " + a.value + ": registry", status);
  c.out << "user id set to " << a.value << "\n";
  return TOOL_OK;
}

}  // namespace tool
