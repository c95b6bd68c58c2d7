// Sub-commands on the items of one control file: listing and showing,
// moving bytes in and out, deleting, undeleting, renaming, attributes, and
// import and export of many items at once.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <istream>
#include <ostream>
#include <sstream>

#include "commands.h"

namespace tool {

namespace {

namespace fs = std::filesystem;

// A field of a packed record as a value (JSON takes its arguments by
// reference, which a packed field cannot give).
template <typename T>
T copy(T value) {
  return value;
}

std::string field(const char* text, size_t n) { return std::string(text, strnlen(text, n)); }

std::string by_user(const char* user, size_t n) {
  std::string u = field(user, n);
  return u.empty() ? std::string("-") : u;
}

std::string task_text(int id) { return std::to_string(id) + " " + admin_task_name(id); }

nlohmann::json entry_json(const CTRL_ENTRY_INFO& e) {
  nlohmann::json j;
  j["name"] = text_json(field(e.name, sizeof e.name));
  j["size"] = copy(e.size);
  j["created"] = copy(e.created);
  j["created_local"] = local_time(e.created);
  j["creator"] = text_json(field(e.creator, sizeof e.creator));
  j["creator_task"] = copy(e.creator_task);
  j["modified"] = copy(e.modified);
  j["modified_local"] = local_time(e.modified);
  j["modifier"] = text_json(field(e.modifier, sizeof e.modifier));
  j["writer_task"] = copy(e.writer_task);
  j["previous_modified"] = copy(e.prev_modified);
  j["previous_modifier"] = text_json(field(e.prev_modifier, sizeof e.prev_modifier));
  j["accessed"] = copy(e.accessed);
  j["attribute"] = copy(e.attribute);
  j["attribute2"] = copy(e.attribute2);
  j["open_state"] = copy(e.open_state);
  j["flags"] = copy(e.flags);
  j["version"] = copy(e.version);
  return j;
}

std::string item_what(const char* op, const Store& s, const std::string& name) {
  return std::string(op) + " " + s.kind->name + " " + shown(name) + " in " + shown(s.area.path);
}

bool has_wildcard(const std::string& name) { return name.find_first_of("*?") != std::string::npos; }

// The modification time of a native file, in seconds since 1970 (0 when
// unknown).
uint32_t file_time(const fs::path& path) {
  std::error_code ec;
  auto t = fs::last_write_time(path, ec);
  if (ec) return 0;
  // The file clock's epoch differs by system: measured against now.
  auto since_now = t - fs::file_time_type::clock::now();
  auto sys = std::chrono::system_clock::now() + std::chrono::duration_cast<std::chrono::system_clock::duration>(since_now);
  long long secs = std::chrono::duration_cast<std::chrono::seconds>(sys.time_since_epoch()).count();
  return secs < 0 || secs > 0xFFFFFFFFll ? 0 : static_cast<uint32_t>(secs);
}

// A native path as UTF-8, and back: file names are Unicode on every system.
std::string utf8_of(const fs::path& p) {
  std::u8string u = p.u8string();
  return std::string(u.begin(), u.end());
}
fs::path path_of_utf8(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())); }

// Checks the item name; prints why not and gives TOOL_USAGE, or TOOL_OK.
int check_name(Console& c, const std::string& name) {
  std::string why;
  return valid_item_name(name, &why) ? TOOL_OK : usage(c, why);
}

const char* lock_state_text(int state) {
  switch (state) {
    case ADMIN_LOCK_FREE: return "free";
    case ADMIN_LOCK_SESSION: return "held by a session";
    case ADMIN_LOCK_AREA: return "area lock";
    default: return "unknown";
  }
}

// A file to import: its path, and its name as the messages and the item's
// name take it (UTF-8 for the files of a folder, the argument as given
// otherwise).
struct InFile {
  fs::path path;
  std::string text;
};

// The files of the arguments: every file of a folder, in name order.
std::vector<InFile> expand_files(const std::vector<std::string>& args) {
  std::vector<InFile> files;
  for (const std::string& arg : args) {
    fs::path path(native_file(arg));
    std::error_code ec;
    if (!fs::is_directory(path, ec)) {
      files.push_back({path, native_file(arg)});
      continue;
    }
    std::vector<InFile> inside;
    for (const auto& e : fs::directory_iterator(path, ec)) {
      if (e.is_regular_file(ec)) inside.push_back({e.path(), utf8_of(e.path())});
    }
    std::sort(inside.begin(), inside.end(), [](const InFile& x, const InFile& y) { return x.text < y.text; });
    files.insert(files.end(), inside.begin(), inside.end());
  }
  return files;
}

}  // namespace

namespace {

int list_deleted(Console& c, const Args& a, const Store& s) {
  std::vector<AdminDeleted> items;
  int status = admin_list_deleted(s.ctl, a.pattern, &items);
  if (status != CLASSIC_OK) return fail_status(c, "ls --deleted " + s.where(), status);
  if (a.json) {
    nlohmann::json list = nlohmann::json::array();
    for (const AdminDeleted& d : items) {
      nlohmann::json j = entry_json(d.info);
      j["deleted_version"] = d.version;
      list.push_back(j);
    }
    print_json(c.out, list);
    return TOOL_OK;
  }
  if (!a.longform) {
    for (const AdminDeleted& d : items) c.out << shown(field(d.info.name, sizeof d.info.name)) << "  " << d.version << "\n";
    return TOOL_OK;
  }
  c.out << std::left << std::setw(21) << "NAME" << std::right << std::setw(8) << "VERSION" << std::setw(10) << "SIZE"
        << "  " << std::left << std::setw(20) << "MODIFIED" << "BY\n";
  for (const AdminDeleted& d : items) {
    c.out << std::left << std::setw(21) << shown(field(d.info.name, sizeof d.info.name)) << std::right << std::setw(8)
          << d.version << std::setw(10) << d.info.size << "  " << std::left << std::setw(20)
          << local_time(d.info.modified) << by_user(d.info.modifier, sizeof d.info.modifier) << "\n";
  }
  c.out << items.size() << (items.size() == 1 ? " deleted version\n" : " deleted versions\n");
  return TOOL_OK;
}

}  // namespace

int cmd_ls(Console& c, const Args& a) {
  Store s;
  if (int r = open_store(c, "ls", a.area, a.drive, a.type, &s)) return r;
  if (a.deleted) return list_deleted(c, a, s);
  std::vector<CTRL_ENTRY_INFO> items;
  bool cut = false;
  int status = list_items(s.ctl, a.pattern, &items, &cut);
  if (status != CLASSIC_OK) return fail_status(c, "ls " + s.where(), status);
  if (cut) report(c, "the listing stopped after " + std::to_string(items.size()) + " items");
  if (a.json) {
    nlohmann::json list = nlohmann::json::array();
    for (const CTRL_ENTRY_INFO& e : items) list.push_back(entry_json(e));
    print_json(c.out, list);
    return TOOL_OK;
  }
  if (!a.longform) {
    for (const CTRL_ENTRY_INFO& e : items) c.out << shown(field(e.name, sizeof e.name)) << "\n";
    return TOOL_OK;
  }
  c.out << std::left << std::setw(21) << "NAME" << std::right << std::setw(10) << "SIZE"
        << "  " << std::left << std::setw(20) << "CREATED" << std::setw(20) << "MODIFIED"
        << std::setw(4) << "BY" << std::right << std::setw(6) << "ATTR" << "  OPEN\n";
  for (const CTRL_ENTRY_INFO& e : items) {
    std::string name = shown(field(e.name, sizeof e.name));
    // Columns count characters, not bytes.
    size_t chars = 0;
    for (unsigned char ch : name) chars += (ch & 0xC0) != 0x80;
    c.out << name << std::string(chars < 21 ? 21 - chars : 1, ' ') << std::right << std::setw(10)
          << e.size << "  " << std::left << std::setw(20) << local_time(e.created) << std::setw(20)
          << local_time(e.modified) << std::setw(4) << by_user(e.modifier, sizeof e.modifier)
          << std::right << std::setw(6) << e.attribute << "  " << open_state_text(e.open_state)
          << "\n";
  }
  c.out << std::left << items.size() << (items.size() == 1 ? " item\n" : " items\n");
  return TOOL_OK;
}

int cmd_info(Console& c, const Args& a) {
  Store s;
  if (int r = open_store(c, "info", a.area, a.drive, a.type, &s)) return r;
  if (int r = check_name(c, a.name)) return r;
  CTRL_ENTRY_INFO e;
  std::memset(&e, 0, sizeof e);
  int status = classic_lookup_item(s.ctl.c_str(), a.name.c_str(), &e);
  if (!ok(status)) return fail_status(c, item_what("info", s, a.name), status);
  if (a.json) {
    nlohmann::json j = entry_json(e);
    j["control_file"] = s.ctl;
    print_json(c.out, j);
    return TOOL_OK;
  }
  c.out << "name           " << shown(field(e.name, sizeof e.name)) << "\n"
        << "control file   " << s.ctl << "\n"
        << "size           " << e.size << " bytes\n"
        << "created        " << local_time(e.created) << "  by " << by_user(e.creator, sizeof e.creator)
        << "  task " << task_text(e.creator_task) << "\n"
        << "modified       " << local_time(e.modified) << "  by " << by_user(e.modifier, sizeof e.modifier)
        << "  task " << task_text(e.writer_task) << "\n"
        << "previous       " << local_time(e.prev_modified) << "  by "
        << by_user(e.prev_modifier, sizeof e.prev_modifier) << "\n"
        << "accessed       " << local_time(e.accessed) << "\n"
        << "attribute      " << e.attribute << "  (second " << e.attribute2 << ")\n"
        << "open           " << open_state_text(e.open_state) << "\n"
        << "flags          " << static_cast<int>(e.flags) << "\n"
        << "version        " << static_cast<int>(e.version) << "\n";
  return TOOL_OK;
}

int cmd_stat(Console& c, const Args& a) {
  Store s;
  if (int r = open_store(c, "stat", a.area, a.drive, a.type, &s)) return r;
  int version = 0, lock_state = 0, total = 0;
  int status = classic_check_trailer(s.ctl.c_str(), &version, &lock_state, &total);
  if (!ok(status)) return fail_status(c, "stat " + s.where(), status);
  AdminControlFile raw;
  status = admin_read_control_file(s.ctl, &raw);
  if (status != CLASSIC_OK) return fail_status(c, "stat " + s.where(), status);
  long entries = raw.entries;
  // The trailer counts the live items; the entries' flags should agree.
  bool counts_agree = total + raw.deleted == entries;
  std::string filling = admin_data_file_name(s.kind->pattern, raw.suffix.c_str());
  const std::string& node = raw.node;
  const std::string& task = raw.task_name;
  const std::string& user = raw.user;
  if (a.json) {
    nlohmann::json j;
    j["control_file"] = s.ctl;
    j["version"] = version;
    j["items"] = total;
    j["entries"] = entries;
    j["deleted"] = raw.deleted;
    j["counts_agree"] = counts_agree;
    j["open_items"] = raw.open_count;
    j["data_file"] = text_json(filling);
    j["next_slot"] = raw.next_slot;
    j["lock_state"] = lock_state;
    j["lock"] = lock_state_text(lock_state);
    j["ever_locked"] = raw.ever_locked;
    j["holder"] = {{"user", text_json(user)},
                   {"node", text_json(node)},
                   {"task_name", text_json(task)},
                   {"task_id", raw.task_id}};
    print_json(c.out, j);
    return TOOL_OK;
  }
  c.out << "control file   " << s.ctl << "\n"
        << "version        " << version << "\n"
        << "items          " << total << " live, " << raw.deleted << " deleted (" << entries
        << (entries == 1 ? " entry)" : " entries)")
        << (counts_agree ? "" : "; the trailer's count differs") << "\n"
        << "open items     " << raw.open_count << "\n"
        << "filling        " << filling << ", next slot " << raw.next_slot << "\n"
        << "lock           " << lock_state_text(lock_state);
  // An area lock leaves no holder in the trailer; a session names itself.
  if (lock_state != ADMIN_LOCK_FREE && !(node.empty() && task.empty() && user.empty())) {
    c.out << ": node " << (node.empty() ? "-" : node) << ", task " << (task.empty() ? "-" : task)
          << " (id " << raw.task_id << ")";
    if (!user.empty()) c.out << ", user " << user;
  }
  c.out << "\n";
  return TOOL_OK;
}

int cmd_put(Console& c, const Args& a) {
  Store s;
  if (int r = open_store(c, "put", a.area, a.drive, a.type, &s)) return r;
  if (int r = check_name(c, a.name)) return r;
  std::string bytes;
  std::string source = a.file.empty() || a.file == "-" ? "standard input" : a.file;
  if (a.file.empty() || a.file == "-") {
    if (!c.io.in) return fail(c, item_what("put", s, a.name), "no standard input to read");
    std::ostringstream in;
    in << c.io.in->rdbuf();
    bytes = in.str();
  } else {
    std::string why;
    if (!read_native(native_file(a.file), &bytes, &why)) {
      return fail(c, item_what("put", s, a.name), a.file + " " + why);
    }
  }
  int status = write_item(s, a.name, bytes, a.replace);
  if (status != CLASSIC_OK) return fail_status(c, item_what("put", s, a.name), status);
  c.out << "put " << shown(a.name) << " (" << bytes.size() << " bytes from " << source << ")\n";
  return TOOL_OK;
}

int cmd_get(Console& c, const Args& a) {
  Store s;
  if (int r = open_store(c, "get", a.area, a.drive, a.type, &s)) return r;
  if (int r = check_name(c, a.name)) return r;
  std::string bytes;
  int status = read_item(s, a.name, &bytes);
  if (status != CLASSIC_OK) return fail_status(c, item_what("get", s, a.name), status);
  if (a.file.empty() || a.file == "-") {
    bool binary = std::any_of(bytes.begin(), bytes.end(), [](char ch) {
      unsigned char b = static_cast<unsigned char>(ch);
      return b < 0x20 && b != '\t' && b != '\n' && b != '\r' && b != '\f';
    });
    if (binary && c.io.terminal) {
      return fail(c, item_what("get", s, a.name),
                  "its bytes are binary: not written to the terminal (give a file, or redirect the output)");
    }
    c.out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    c.out.flush();
    return TOOL_OK;
  }
  std::string why;
  if (!write_native(native_file(a.file), bytes, &why)) {
    return fail(c, item_what("get", s, a.name), a.file + " " + why);
  }
  c.out << "got " << shown(a.name) << " (" << bytes.size() << " bytes into " << a.file << ")\n";
  return TOOL_OK;
}

int cmd_rm(Console& c, const Args& a) {
  Store s;
  if (int r = open_store(c, "rm", a.area, a.drive, a.type, &s)) return r;
  if (!has_wildcard(a.name)) {
    if (int r = check_name(c, a.name)) return r;
    if (a.dry_run) {
      CTRL_ENTRY_INFO e;
      int status = classic_lookup_item(s.ctl.c_str(), a.name.c_str(), &e);
      if (!ok(status)) return fail_status(c, item_what("rm", s, a.name), status);
      c.out << "would delete " << shown(a.name) << "\n";
      return TOOL_OK;
    }
    int status = classic_delete_item(s.ctl.c_str(), a.name.c_str(), s.kind->pattern.c_str());
    if (!ok(status)) return fail_status(c, item_what("rm", s, a.name), status);
    if (!c.json) c.out << "deleted " << shown(a.name) << " ('classic undelete' brings it back)\n";
    if (c.json) print_json(c.out, {{"deleted", {text_json(a.name)}}});
    return TOOL_OK;
  }
  // A pattern: the items it matches, confirmed first.
  std::vector<CTRL_ENTRY_INFO> items;
  bool cut = false;
  int status = list_items(s.ctl, a.name, &items, &cut);
  if (status != CLASSIC_OK) return fail_status(c, "rm " + s.where(), status);
  if (items.empty()) return fail(c, "rm " + shown(a.name) + " in " + s.where(), "no item matches");
  if (a.dry_run) {
    for (const CTRL_ENTRY_INFO& e : items) c.out << "would delete " << shown(field(e.name, sizeof e.name)) << "\n";
    return TOOL_OK;
  }
  if (!a.yes) {
    std::string question = "delete " + count_text(items.size()) + (items.size() == 1 ? " item" : " items") +
                           " of " + shown(s.where()) + " that '" + shown(a.name) + "' matches?";
    if (!c.io.input_terminal) {
      return usage(c, "rm '" + shown(a.name) + "' would delete " + count_text(items.size()) +
                          " items: give --yes (or --dry-run to see them)");
    }
    if (!confirm(c, question)) return fail(c, "rm " + shown(a.name), "not confirmed: nothing deleted");
  }
  Progress progress(c, items.size(), "deleted");
  for (const CTRL_ENTRY_INFO& e : items) {
    if (!progress.go_on()) break;
    clear_cause();
    std::string name = field(e.name, sizeof e.name);
    int r = classic_delete_item(s.ctl.c_str(), name.c_str(), s.kind->pattern.c_str());
    progress.step(name, 0, ok(r) ? std::string() : status_line(item_what("rm", s, name), r), ok(r) ? 0 : r);
  }
  return progress.finish("items of " + s.where());
}

int cmd_undelete(Console& c, const Args& a) {
  Store s;
  if (int r = open_store(c, "undelete", a.area, a.drive, a.type, &s)) return r;
  if (int r = check_name(c, a.name)) return r;
  int status = admin_undelete_version(s.ctl, s.kind->pattern, a.name, a.version);
  if (!ok(status)) {
    return fail_status(c, item_what("undelete", s, a.name) + (a.version > 1 ? " (version " + std::to_string(a.version) + ")" : ""),
                       status);
  }
  c.out << "undeleted " << shown(a.name) << (a.version > 1 ? " (deleted version " + std::to_string(a.version) + ")" : "")
        << "\n";
  return TOOL_OK;
}

int cmd_mv(Console& c, const Args& a) {
  Store s;
  if (int r = open_store(c, "mv", a.area, a.drive, a.type, &s)) return r;
  if (int r = check_name(c, a.name)) return r;
  if (int r = check_name(c, a.name2)) return r;
  int status = classic_rename_item(s.ctl.c_str(), a.name.c_str(), a.name2.c_str(),
                                   s.kind->pattern.c_str());
  if (!ok(status)) return fail_status(c, item_what("mv", s, a.name) + " to " + shown(a.name2), status);
  c.out << "renamed " << shown(a.name) << " to " << shown(a.name2) << "\n";
  return TOOL_OK;
}

int cmd_attr(Console& c, const Args& a) {
  Store s;
  if (int r = open_store(c, "attr", a.area, a.drive, a.type, &s)) return r;
  if (int r = check_name(c, a.name)) return r;
  unsigned long value = 0;
  char* end = nullptr;
  errno = 0;
  if (!a.value.empty() && a.value[0] != '-') value = std::strtoul(a.value.c_str(), &end, 0);
  if (a.value.empty() || a.value[0] == '-' || !end || *end || errno || value > 0xFFFF) {
    return usage(c, "attribute '" + a.value + "' is not a number from 0 to 65535");
  }
  int status = classic_set_attribute(s.ctl.c_str(), s.kind->pattern.c_str(), a.name.c_str(),
                                     static_cast<short>(static_cast<uint16_t>(value)));
  if (!ok(status)) return fail_status(c, item_what("attr", s, a.name), status);
  c.out << "attribute of " << shown(a.name) << " set to " << value << "\n";
  return TOOL_OK;
}

int cmd_import(Console& c, const Args& a) {
  Store s;
  if (int r = open_store(c, "import", a.area, a.drive, a.type, &s)) return r;
  if (a.replace + a.skip_existing + a.update > 1) {
    return usage(c, "--replace, --skip-existing and --update exclude each other");
  }
  std::vector<InFile> files = expand_files(a.files);
  Progress progress(c, files.size(), a.dry_run ? "would import" : "imported", a.max_errors);
  for (const InFile& in : files) {
    const std::string& file = in.text;
    if (!progress.go_on()) break;
    clear_cause();
    std::string name, why, bytes;
    // File names are Unicode; the item's name is in the store's code page.
    if (!store_text(item_name_of(file), &name, &why) || !valid_item_name(name, &why)) {
      progress.step(item_name_of(file), 0, "import " + file + ": " + why);
      continue;
    }
    if (!read_native(in.path, &bytes, &why)) {
      progress.step(name, 0, "import " + file + ": " + why);
      continue;
    }
    bool replace = a.replace;
    if (a.skip_existing || a.update || a.dry_run) {
      CTRL_ENTRY_INFO e;
      int found = classic_lookup_item(s.ctl.c_str(), name.c_str(), &e);
      if (ok(found) && a.skip_existing) {
        progress.skip(name, "exists");
        continue;
      }
      if (ok(found) && a.update) {
        if (static_cast<size_t>(e.size) == bytes.size() && file_time(in.path) <= e.modified) {
          progress.skip(name, "unchanged");
          continue;
        }
        replace = true;
      }
      if (!ok(found) && found != CLASSIC_NOT_FOUND) {
        progress.step(name, 0, status_line(item_what("import", s, name) + " from " + file, found), found);
        continue;
      }
      if (a.dry_run) {
        if (ok(found) && !replace) {
          progress.step(name, 0, status_line(item_what("import", s, name) + " from " + file, CLASSIC_NAME_IN_USE));
        } else {
          progress.step(name, bytes.size(), "");
        }
        continue;
      }
    }
    int status = write_item(s, name, bytes, replace);
    if (status != CLASSIC_OK) {
      progress.step(name, 0, status_line(item_what("import", s, name) + " from " + file, status), status);
      continue;
    }
    progress.step(name, bytes.size(), "");
  }
  return progress.finish("files into " + s.where());
}

int cmd_export(Console& c, const Args& a) {
  Store s;
  if (int r = open_store(c, "export", a.area, a.drive, a.type, &s)) return r;
  std::vector<CTRL_ENTRY_INFO> items;
  bool cut = false;
  int status = list_items(s.ctl, a.pattern, &items, &cut);
  if (status != CLASSIC_OK) return fail_status(c, "export " + s.where(), status);
  if (cut) report(c, "the listing stopped after " + std::to_string(items.size()) + " items");
  fs::path dir(native_file(a.file));
  std::error_code ec;
  if (!a.dry_run) fs::create_directories(dir, ec);
  if (!a.dry_run && !fs::is_directory(dir, ec)) {
    return fail(c, "export " + s.where(), "cannot make the folder " + a.file);
  }
  Progress progress(c, items.size(), a.dry_run ? "would export" : "exported", a.max_errors);
  for (const CTRL_ENTRY_INFO& e : items) {
    if (!progress.go_on()) break;
    clear_cause();
    std::string name = field(e.name, sizeof e.name);
    std::string bytes, why;
    fs::path target = dir / path_of_utf8(file_stem_of(admin_name_to_utf8(name)) + "." + s.kind->extension);
    if (a.dry_run) {
      progress.step(name, static_cast<uint64_t>(e.size), "");
      continue;
    }
    int r = read_item(s, name, &bytes);
    if (r != CLASSIC_OK) {
      progress.step(name, 0, status_line(item_what("export", s, name), r), r);
      continue;
    }
    if (!write_native(target, bytes, &why)) {
      progress.step(name, 0, "export " + shown(name) + ": " + utf8_of(target) + " " + why);
      continue;
    }
    progress.step(name, bytes.size(), "");
  }
  return progress.finish("items of " + s.where() + " to " + a.file);
}

}  // namespace tool
