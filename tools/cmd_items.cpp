// Sub-commands on the items of one control file: listing and inspecting,
// moving bytes in and out, deleting, undeleting, renaming, attributes, and
// import and export of many items at once.
#include <algorithm>
#include <cerrno>
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
  return std::string(op) + " " + s.kind->name + " " + name + " in " + s.area.path;
}

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

// The files of the arguments: every file of a folder, in name order.
std::vector<std::string> expand_files(const std::vector<std::string>& args) {
  std::vector<std::string> files;
  for (const std::string& arg : args) {
    std::string path = native_file(arg);
    std::error_code ec;
    if (!fs::is_directory(path, ec)) {
      files.push_back(path);
      continue;
    }
    std::vector<std::string> inside;
    for (const auto& e : fs::directory_iterator(path, ec)) {
      if (e.is_regular_file(ec)) inside.push_back(e.path().string());
    }
    std::sort(inside.begin(), inside.end());
    files.insert(files.end(), inside.begin(), inside.end());
  }
  return files;
}

}  // namespace

int cmd_ls(Console& c, const Args& a) {
  Store s;
  if (int r = open_store(c, "ls", a.area, a.drive, a.type, &s)) return r;
  std::vector<CTRL_ENTRY_INFO> items;
  bool cut = false;
  int status = list_items(s.ctl, a.pattern, &items, &cut);
  if (status != CLASSIC_OK) return fail_status(c, "ls " + s.where(), status);
  if (cut) c.err << "classic: the listing stopped after " << items.size() << " items\n";
  if (a.json) {
    nlohmann::json list = nlohmann::json::array();
    for (const CTRL_ENTRY_INFO& e : items) list.push_back(entry_json(e));
    print_json(c.out, list);
    return TOOL_OK;
  }
  if (!a.longform) {
    for (const CTRL_ENTRY_INFO& e : items) c.out << field(e.name, sizeof e.name) << "\n";
    return TOOL_OK;
  }
  c.out << std::left << std::setw(21) << "NAME" << std::right << std::setw(10) << "SIZE"
        << "  " << std::left << std::setw(20) << "CREATED" << std::setw(20) << "MODIFIED"
        << std::setw(4) << "BY" << std::right << std::setw(6) << "ATTR" << "  OPEN\n";
  for (const CTRL_ENTRY_INFO& e : items) {
    c.out << std::left << std::setw(21) << field(e.name, sizeof e.name) << std::right << std::setw(10)
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
  c.out << "name           " << field(e.name, sizeof e.name) << "\n"
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
  c.out << "put " << a.name << " (" << bytes.size() << " bytes from " << source << ")\n";
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
    c.out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    c.out.flush();
    return TOOL_OK;
  }
  std::string why;
  if (!write_native(native_file(a.file), bytes, &why)) {
    return fail(c, item_what("get", s, a.name), a.file + " " + why);
  }
  c.out << "got " << a.name << " (" << bytes.size() << " bytes into " << a.file << ")\n";
  return TOOL_OK;
}

int cmd_rm(Console& c, const Args& a) {
  Store s;
  if (int r = open_store(c, "rm", a.area, a.drive, a.type, &s)) return r;
  if (int r = check_name(c, a.name)) return r;
  int status = classic_delete_item(s.ctl.c_str(), a.name.c_str(), s.kind->pattern.c_str());
  if (!ok(status)) return fail_status(c, item_what("rm", s, a.name), status);
  c.out << "deleted " << a.name << " ('classic undelete' brings it back)\n";
  return TOOL_OK;
}

int cmd_undelete(Console& c, const Args& a) {
  Store s;
  if (int r = open_store(c, "undelete", a.area, a.drive, a.type, &s)) return r;
  if (int r = check_name(c, a.name)) return r;
  int status = classic_undelete_item(s.ctl.c_str(), a.name.c_str(), s.kind->pattern.c_str());
  if (!ok(status)) return fail_status(c, item_what("undelete", s, a.name), status);
  c.out << "undeleted " << a.name << "\n";
  return TOOL_OK;
}

int cmd_mv(Console& c, const Args& a) {
  Store s;
  if (int r = open_store(c, "mv", a.area, a.drive, a.type, &s)) return r;
  if (int r = check_name(c, a.name)) return r;
  if (int r = check_name(c, a.name2)) return r;
  int status = classic_rename_item(s.ctl.c_str(), a.name.c_str(), a.name2.c_str(),
                                   s.kind->pattern.c_str());
  if (!ok(status)) return fail_status(c, item_what("mv", s, a.name) + " to " + a.name2, status);
  c.out << "renamed " << a.name << " to " << a.name2 << "\n";
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
  c.out << "attribute of " << a.name << " set to " << value << "\n";
  return TOOL_OK;
}

int cmd_import(Console& c, const Args& a) {
  Store s;
  if (int r = open_store(c, "import", a.area, a.drive, a.type, &s)) return r;
  std::vector<std::string> files = expand_files(a.files);
  Progress progress(c, files.size(), "imported", a.max_errors);
  for (const std::string& file : files) {
    if (!progress.go_on()) break;
    clear_cause();
    std::string name = item_name_of(file);
    std::string why, bytes;
    if (!valid_item_name(name, &why)) {
      progress.step(name, 0, "import " + file + ": " + why);
      continue;
    }
    if (!read_native(file, &bytes, &why)) {
      progress.step(name, 0, "import " + file + ": " + why);
      continue;
    }
    int status = write_item(s, name, bytes, a.replace);
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
  if (cut) c.err << "classic: the listing stopped after " << items.size() << " items\n";
  fs::path dir(native_file(a.file));
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (!fs::is_directory(dir, ec)) {
    return fail(c, "export " + s.where(), "cannot make the folder " + a.file);
  }
  Progress progress(c, items.size(), "exported", a.max_errors);
  for (const CTRL_ENTRY_INFO& e : items) {
    if (!progress.go_on()) break;
    clear_cause();
    std::string name = field(e.name, sizeof e.name);
    std::string bytes, why;
    int r = read_item(s, name, &bytes);
    if (r != CLASSIC_OK) {
      progress.step(name, 0, status_line(item_what("export", s, name), r), r);
      continue;
    }
    fs::path target = dir / (file_stem_of(name) + "." + s.kind->extension);
    if (!write_native(target.string(), bytes, &why)) {
      progress.step(name, 0, "export " + name + ": " + target.string() + " " + why);
      continue;
    }
    progress.step(name, bytes.size(), "");
  }
  return progress.finish("items of " + s.where() + " to " + a.file);
}

}  // namespace tool
