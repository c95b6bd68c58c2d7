// The classic command: set a store up, see what is in it, move items in and
// out, and find out what went wrong.
#include "cli.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "classic.h"
#include "errlog/errlog.h"
#include "errlog/log_format.h"
#include "platform/platform.h"
#include "store.h"

using nlohmann::json;

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

struct Tool {
  std::ostream& out;
  std::ostream& err;
  std::string drive = "C";
  bool json = false;
  bool terminal = false;  // progress bars instead of lines

  char drive_letter() const { return drive.empty() ? 'C' : drive[0]; }

  int fail(const std::string& what, int status) {
    err << "classic: " << what << ": " << status_text(status) << " (status " << status << ")\n";
    return kFailed;
  }
  int fail(const std::string& what) {
    err << "classic: " << what << "\n";
    return kFailed;
  }
};

// An area and one of its control files, as a command names them.
struct Target {
  std::string area;  // the area folder
  const ToolType* type = nullptr;
  std::string ctl;
};

// Resolves AREA TYPE; false (and the reason printed) when either is wrong.
bool resolve(Tool& t, const std::string& area, const std::string& type, Target* target) {
  target->area = area_path(area, t.drive_letter());
  char translated[300];
  if (classic_netxlat(target->area.c_str(), translated) != CLASSIC_OK || !path_exists(translated)) {
    t.fail("no area " + target->area);
    return false;
  }
  if (!type.empty()) {
    target->type = find_tool_type(type);
    if (!target->type) {
      t.fail("unknown item type " + type + " (classic types lists them)");
      return false;
    }
    target->ctl = ctl_path(target->area, *target->type);
  }
  return true;
}

json entry_json(const CTRL_ENTRY_INFO& e) {
  return json{{"name", e.name},
              {"size", +e.size},
              {"created", +e.created},
              {"creator", e.creator},
              {"modified", +e.modified},
              {"modifier", e.modifier},
              {"previous_modified", +e.prev_modified},
              {"previous_modifier", e.prev_modifier},
              {"accessed", +e.accessed},
              {"attribute", +e.attribute},
              {"attribute2", +e.attribute2},
              {"open_state", +e.open_state},
              {"flags", +e.flags},
              {"version", +e.version},
              {"creator_task", +e.creator_task},
              {"writer_task", +e.writer_task}};
}

std::string open_text(int state) {
  if (state < 0) return "writing";
  if (state == 0) return "closed";
  return std::to_string(state) + " reading";
}

// Every live item of a control file matching pattern, in store order.
int list_items(Tool& t, const Target& target, const std::string& pattern,
               std::vector<CTRL_ENTRY_INFO>* items) {
  long offset = 0, position = 0;
  char more = 0;
  int status = 0;
  CTRL_ENTRY_INFO* head = classic_return_item_list(target.ctl.c_str(), pattern.c_str(), &offset,
                                                   &position, &more, &status);
  for (CTRL_ENTRY_INFO* r = head; r; r = r->next) items->push_back(*r);
  classic_free_item_list(head);
  if (status != CLASSIC_OK) return t.fail("list " + target.ctl, status);
  return kDone;
}

// The bytes of an item; an empty item has none.
int read_item(Tool& t, const Target& target, const std::string& name, std::vector<char>* bytes) {
  CTRL_ENTRY_INFO info;
  int r = classic_lookup_item(target.ctl.c_str(), name.c_str(), &info);
  if (r != CLASSIC_OK) return t.fail("get " + name + " from " + target.ctl, r);
  bytes->clear();
  if (info.size <= 0) return kDone;
  r = classic_read_raw_item(target.ctl.c_str(), name.c_str(), target.type->pattern.c_str(), *bytes);
  if (r != CLASSIC_OK) return t.fail("get " + name + " from " + target.ctl, r);
  return kDone;
}

int write_item(Tool& t, const Target& target, const std::string& name, const std::string& bytes,
               bool replace) {
  short mode = ITEM_WRITE | ITEM_CREATE | (replace ? ITEM_REPLACE : 0);
  FILE* stream = nullptr;
  int r = classic_open_item(target.ctl.c_str(), name.c_str(), mode, target.type->pattern.c_str(),
                            &stream, nullptr, nullptr);
  if (r != CLASSIC_OK) return t.fail("put " + name + " into " + target.ctl, r);
  bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
  r = classic_close_item(target.ctl.c_str(), name.c_str(), stream);
  if (!written) return t.fail("put " + name + ": the bytes could not all be written");
  if (r != CLASSIC_OK) return t.fail("put " + name + " into " + target.ctl, r);
  return kDone;
}

bool read_input(const std::string& file, std::string* bytes) {
  if (file == "-") {
    bytes->assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    return true;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool write_output(Tool& t, const std::string& file, const std::vector<char>& bytes) {
  if (file == "-") {
    t.out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return true;
  }
  std::ofstream o(file, std::ios::binary | std::ios::trunc);
  o.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return o.good();
}

// The item name of a file: its name without folder and extension.
std::string item_name_of(const std::string& file) {
  size_t slash = file.find_last_of("\\/");
  std::string base = slash == std::string::npos ? file : file.substr(slash + 1);
  size_t dot = base.rfind('.');
  return dot == std::string::npos || dot == 0 ? base : base.substr(0, dot);
}

// A file name for an item: characters that no file system takes become '_'.
std::string file_name_of(const std::string& item, const std::string& extension) {
  std::string out;
  for (char c : item) out += std::strchr("\\/:*?\"<>|", c) ? '_' : c;
  return out + "." + extension;
}

// Progress of a run over many items: a bar on a terminal, lines otherwise.
void progress(Tool& t, const char* verb, size_t done, size_t total, const std::string& name) {
  if (!t.terminal) {
    t.out << verb << " " << name << "\n";
    return;
  }
  constexpr int kWidth = 30;
  int filled = total ? static_cast<int>(kWidth * done / total) : kWidth;
  t.out << "\r[" << std::string(filled, '#') << std::string(kWidth - filled, ' ') << "] " << done << "/"
        << total << " " << std::flush;
  if (done == total) t.out << "\n";
}

// ------------------------------------------------------------------------
// Commands
// ------------------------------------------------------------------------

int cmd_init(Tool& t, const std::string& area_arg) {
  std::string area = area_path(area_arg, t.drive_letter());
  char drive = area.size() > 1 && area[1] == ':' ? area[0] : t.drive_letter();
  std::string root = std::string(1, drive) + ":\\userroot";
  size_t cut = area.find_last_of("\\/");
  std::string name = cut == std::string::npos ? area : area.substr(cut + 1);
  if (name.empty()) return t.fail("init: no area name in " + area);
  bool existed = path_exists(area + "\\login.ctl");
  for (const char* sub : {"\\storage", "\\system\\error", "\\system\\state\\stordir",
                          "\\system\\state\\dosdir", "\\temp", "\\prog\\util"}) {
    make_folders(root + sub);
  }
  make_folders(area + "\\DATA");
  make_folders(area + "\\PARAM");
  if (!path_exists(area + "\\DATA") || !path_exists(area + "\\PARAM")) {
    return t.fail("init: cannot make the folders of " + area);
  }
  if (!register_area(drive, name)) return t.fail("init: cannot register " + name + " in the registry");
  int made = 0;
  if (!existed) {
    int r = classic_login_create(area.c_str());
    if (r != CLASSIC_OK && r != CLASSIC_CANNOT_CREATE) return t.fail("init: login.ctl of " + area, r);
    if (r == CLASSIC_OK) ++made;
  }
  for (const ToolType& type : tool_types()) {
    std::string ctl = ctl_path(area, type);
    if (path_exists(ctl)) continue;
    int r = classic_create_control_file(ctl.c_str());
    if (r != CLASSIC_OK) return t.fail("init: " + ctl, r);
    ++made;
  }
  if (made == 0) {
    t.out << "area " << area << " exists already: nothing changed\n";
  } else {
    t.out << "area " << area << " ready: " << made << " control files made\n";
  }
  return kDone;
}

int cmd_areas(Tool& t) {
  std::string pattern = std::string(1, t.drive_letter()) + ":\\userroot\\storage\\*";
  constexpr int kWidth = 128;
  unsigned long count = 0;
  classic_get_area_count(pattern.c_str(), &count);
  std::vector<char> names(static_cast<size_t>(count ? count : 1) * kWidth);
  classic_get_area_names(pattern.c_str(), names.data(), kWidth, &count);
  json list = json::array();
  for (unsigned long i = 0; i < count; ++i) {
    std::string name(&names[i * kWidth]);
    if (t.json) {
      list.push_back(json{{"name", name}, {"path", area_path(name, t.drive_letter())}});
    } else {
      t.out << name << "\n";
    }
  }
  if (t.json) t.out << list.dump(2) << "\n";
  return kDone;
}

int cmd_types(Tool& t) {
  for (const ToolType& type : tool_types()) {
    t.out << std::left << std::setw(7) << type.name << " " << std::setw(6) << type.folder << " "
          << std::setw(10) << type.ctl << " " << type.pattern << "\n";
  }
  return kDone;
}

int cmd_devices(Tool& t) {
  char names[26 * 3] = {};
  int count = 26;
  classic_get_device_names(names, 3, &count);
  for (int i = 0; i < count; ++i) t.out << &names[i * 3] << "\n";
  return kDone;
}

int cmd_df(Tool& t, const std::string& path) {
  double bytes = classic_amt_free_disk_space(path.empty() ? nullptr : path.c_str());
  t.out << std::fixed << std::setprecision(0) << bytes << " bytes free ("
        << std::setprecision(1) << bytes / (1024.0 * 1024.0 * 1024.0) << " GiB)\n";
  return kDone;
}

int cmd_ls(Tool& t, const std::string& area, const std::string& type, const std::string& pattern,
           bool long_form) {
  Target target;
  if (!resolve(t, area, type, &target)) return kFailed;
  std::vector<CTRL_ENTRY_INFO> items;
  if (int r = list_items(t, target, pattern.empty() ? "*" : pattern, &items)) return r;
  if (t.json) {
    json list = json::array();
    for (const CTRL_ENTRY_INFO& e : items) list.push_back(entry_json(e));
    t.out << list.dump(2) << "\n";
    return kDone;
  }
  for (const CTRL_ENTRY_INFO& e : items) {
    if (!long_form) {
      t.out << e.name << "\n";
      continue;
    }
    t.out << std::left << std::setw(20) << e.name << " " << std::right << std::setw(9) << e.size << "  "
          << time_text(e.created) << "  " << time_text(e.modified) << "  " << std::left << std::setw(3)
          << e.modifier << "  " << std::right << std::setw(5) << e.attribute << "  " << open_text(e.open_state)
          << "\n";
  }
  return kDone;
}

int cmd_info(Tool& t, const std::string& area, const std::string& type, const std::string& name) {
  Target target;
  if (!resolve(t, area, type, &target)) return kFailed;
  CTRL_ENTRY_INFO e;
  std::memset(&e, 0, sizeof e);
  int r = classic_lookup_item(target.ctl.c_str(), name.c_str(), &e);
  if (r != CLASSIC_OK) return t.fail("info " + name + " in " + target.ctl, r);
  if (t.json) {
    t.out << entry_json(e).dump(2) << "\n";
    return kDone;
  }
  t.out << "name:              " << e.name << "\n"
        << "size:              " << e.size << "\n"
        << "created:           " << time_text(e.created) << " by " << e.creator << " (task "
        << int(e.creator_task) << ")\n"
        << "modified:          " << time_text(e.modified) << " by " << e.modifier << " (task "
        << int(e.writer_task) << ")\n"
        << "previous modified: " << time_text(e.prev_modified) << " by " << e.prev_modifier << "\n"
        << "accessed:          " << time_text(e.accessed) << "\n"
        << "attributes:        " << e.attribute << " " << e.attribute2 << "\n"
        << "open:              " << open_text(e.open_state) << "\n"
        << "flags, version:    " << int(e.flags) << " " << int(e.version) << "\n";
  return kDone;
}

int cmd_stat(Tool& t, const std::string& area, const std::string& type) {
  Target target;
  if (!resolve(t, area, type, &target)) return kFailed;
  CTRL_TRAILER_INFO info;
  int r = classic_ctl_file_stats(target.ctl.c_str(), &info);
  if (r != CLASSIC_OK && r != CLASSIC_OK_REMOVABLE) return t.fail("stat " + target.ctl, r);
  int lock = 0;
  classic_check_trailer(target.ctl.c_str(), nullptr, &lock, nullptr);
  // The holder of a lock is named in the trailer itself.
  std::string node, task;
  char translated[300];
  std::string bytes;
  if (lock != 0 && classic_netxlat(target.ctl.c_str(), translated) == CLASSIC_OK &&
      read_store_file(translated, &bytes) && bytes.size() >= 64) {
    const char* trailer = bytes.data() + bytes.size() - 64;
    node.assign(trailer + 26, strnlen(trailer + 26, 16));
    task.assign(trailer + 42, strnlen(trailer + 42, 16));
  }
  std::string suffix(info.suffix, 3);
  std::string lock_text = lock == 0 ? "free" : lock == 12 ? "held by a session" : lock == 13 ? "area lock" : "?";
  if (t.json) {
    t.out << json{{"control_file", target.ctl}, {"items", +info.total_items}, {"open", +info.open_count},
                  {"data_file", suffix}, {"next_slot", +info.next_slot}, {"version", +info.version},
                  {"lock_state", lock}, {"holder_node", node}, {"holder_task", task}}
                 .dump(2)
          << "\n";
    return kDone;
  }
  t.out << "control file: " << target.ctl << "\n"
        << "items:        " << info.total_items << " (" << info.open_count << " open)\n"
        << "filling:      data file " << suffix << ", next slot " << int(info.next_slot) << "\n"
        << "version:      " << int(info.version) << "\n"
        << "lock:         " << lock_text;
  if (lock != 0) t.out << " (node " << node << ", task " << task << ")";
  t.out << "\n";
  return kDone;
}

int cmd_put(Tool& t, const std::string& area, const std::string& type, const std::string& name,
            const std::string& file, bool replace) {
  Target target;
  if (!resolve(t, area, type, &target)) return kFailed;
  std::string bytes;
  if (!read_input(file, &bytes)) return t.fail("put: cannot read " + file);
  if (int r = write_item(t, target, name, bytes, replace)) return r;
  t.out << "put " << name << " (" << bytes.size() << " bytes)\n";
  return kDone;
}

int cmd_get(Tool& t, const std::string& area, const std::string& type, const std::string& name,
            const std::string& file) {
  Target target;
  if (!resolve(t, area, type, &target)) return kFailed;
  std::vector<char> bytes;
  if (int r = read_item(t, target, name, &bytes)) return r;
  if (!write_output(t, file, bytes)) return t.fail("get: cannot write " + file);
  return kDone;
}

int cmd_simple(Tool& t, const char* verb, const std::string& area, const std::string& type,
               const std::string& name, int (*op)(const char*, const char*, const char*)) {
  Target target;
  if (!resolve(t, area, type, &target)) return kFailed;
  int r = op(target.ctl.c_str(), name.c_str(), target.type->pattern.c_str());
  if (r != CLASSIC_OK) return t.fail(std::string(verb) + " " + name + " in " + target.ctl, r);
  t.out << verb << " " << name << "\n";
  return kDone;
}

int cmd_mv(Tool& t, const std::string& area, const std::string& type, const std::string& from,
           const std::string& to) {
  Target target;
  if (!resolve(t, area, type, &target)) return kFailed;
  int r = classic_rename_item(target.ctl.c_str(), from.c_str(), to.c_str(), target.type->pattern.c_str());
  if (r != CLASSIC_OK) return t.fail("mv " + from + " to " + to + " in " + target.ctl, r);
  t.out << "renamed " << from << " to " << to << "\n";
  return kDone;
}

int cmd_attr(Tool& t, const std::string& area, const std::string& type, const std::string& name,
             int value) {
  Target target;
  if (!resolve(t, area, type, &target)) return kFailed;
  int r = classic_set_attribute(target.ctl.c_str(), target.type->pattern.c_str(), name.c_str(),
                                static_cast<short>(value));
  if (r != CLASSIC_OK) return t.fail("attr " + name + " in " + target.ctl, r);
  t.out << "attribute of " << name << " is " << (value & 0xFFFF) << "\n";
  return kDone;
}

int cmd_import(Tool& t, const std::string& area, const std::string& type,
               const std::vector<std::string>& files, bool replace) {
  Target target;
  if (!resolve(t, area, type, &target)) return kFailed;
  size_t failed = 0, bytes_total = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    std::string name = item_name_of(files[i]);
    std::string bytes;
    if (!read_input(files[i], &bytes)) {
      t.fail("import: cannot read " + files[i]);
      ++failed;
    } else if (write_item(t, target, name, bytes, replace) != kDone) {
      ++failed;
    } else {
      bytes_total += bytes.size();
    }
    progress(t, "imported", i + 1, files.size(), name);
  }
  t.out << "imported " << files.size() - failed << " of " << files.size() << " files (" << bytes_total
        << " bytes)";
  if (failed) t.out << ", " << failed << " failed";
  t.out << "\n";
  return failed ? kFailed : kDone;
}

int cmd_export(Tool& t, const std::string& area, const std::string& type, const std::string& pattern,
               const std::string& dir) {
  Target target;
  if (!resolve(t, area, type, &target)) return kFailed;
  std::vector<CTRL_ENTRY_INFO> items;
  if (int r = list_items(t, target, pattern.empty() ? "*" : pattern, &items)) return r;
  size_t failed = 0, bytes_total = 0;
  for (size_t i = 0; i < items.size(); ++i) {
    std::vector<char> bytes;
    std::string name = items[i].name;
    std::string file = dir + "/" + file_name_of(name, target.type->extension);
    if (read_item(t, target, name, &bytes) != kDone) {
      ++failed;
    } else if (!write_output(t, file, bytes)) {
      t.fail("export: cannot write " + file);
      ++failed;
    } else {
      bytes_total += bytes.size();
    }
    progress(t, "exported", i + 1, items.size(), name);
  }
  t.out << "exported " << items.size() - failed << " of " << items.size() << " items (" << bytes_total
        << " bytes)";
  if (failed) t.out << ", " << failed << " failed";
  t.out << "\n";
  return failed ? kFailed : kDone;
}

int report_status(Tool& t, const std::string& what, int r, std::initializer_list<int> good) {
  for (int g : good) {
    if (r == g) {
      t.out << what << ": " << status_text(r) << "\n";
      return kDone;
    }
  }
  return t.fail(what, r);
}

int cmd_log(Tool& t, int count) {
  std::string bytes;
  if (!read_store_file(LOG_PATH, &bytes) || bytes.size() < sizeof(LOG_HEADER)) {
    if (t.json) {
      t.out << "[]\n";
    } else {
      t.out << "the error log is empty\n";
    }
    return kDone;
  }
  LOG_HEADER h;
  std::memcpy(&h, bytes.data(), sizeof h);
  std::vector<LOG_RECORD> records;
  for (int s = h.oldest % LOG_SLOTS; s != h.next % LOG_SLOTS; s = (s + 1) % LOG_SLOTS) {
    size_t at = static_cast<size_t>(log_slot_offset(s));
    if (at + sizeof(LOG_RECORD) > bytes.size()) break;
    LOG_RECORD r;
    std::memcpy(&r, bytes.data() + at, sizeof r);
    records.push_back(r);
  }
  json list = json::array();
  int shown = 0;
  for (auto it = records.rbegin(); it != records.rend() && (count <= 0 || shown < count); ++it, ++shown) {
    const LOG_RECORD& r = *it;
    std::string lines;
    int n = r.line_count < 1 ? 1 : r.line_count > LOG_LINES ? LOG_LINES : r.line_count;
    std::vector<std::string> line_list;
    for (int i = 0; i < n; ++i) {
      std::string line(r.lines[i], strnlen(r.lines[i], LOG_LINE_SIZE));
      line_list.push_back(line);
      lines += (i ? "\n" : "") + line;
    }
    if (t.json) {
      list.push_back(json{{"time", +r.time}, {"class", +r.error_class}, {"code", +r.code},
                          {"task", +r.task_id}, {"lines", line_list}});
    } else {
      std::string text = report_text(static_cast<uint32_t>(r.time), static_cast<int8_t>(r.error_class), r.code, lines);
      for (char c : text) {
        if (c != '\r') t.out << c;
      }
    }
  }
  if (t.json) t.out << list.dump(2) << "\n";
  return kDone;
}

int cmd_net_add(Tool& t, const std::string& key, const std::string& target) {
  const std::string ctl = "C:\\userroot\\system\\state\\stordir\\netxl.ctl";
  if (target.size() > 299 || target.find(' ') != std::string::npos) {
    return t.fail("net add: a target folder has at most 299 characters and no blanks");
  }
  make_folders("C:\\userroot\\system\\state\\stordir");
  int r = classic_net_ctrl_creat();
  if (r != CLASSIC_OK && r != CLASSIC_CANNOT_CREATE) return t.fail("net add: " + ctl, r);
  std::string record(324, ' ');
  record.replace(21, target.size(), target);
  FILE* stream = nullptr;
  r = classic_open_item(ctl.c_str(), key.c_str(), ITEM_WRITE | ITEM_CREATE | ITEM_REPLACE, "netxl%c%c%c.net",
                        &stream, nullptr, nullptr);
  if (r != CLASSIC_OK) return t.fail("net add " + key, r);
  std::fwrite(record.data(), 1, record.size(), stream);
  r = classic_close_item(ctl.c_str(), key.c_str(), stream);
  if (r != CLASSIC_OK) return t.fail("net add " + key, r);
  t.out << "translation " << key << " -> " << target << "\n";
  return kDone;
}

}  // namespace

int classic_tool(int argc, char** argv, std::ostream& out, std::ostream& err) try {
  Tool t{out, err};
  t.terminal = &out == &std::cout && plat_stdout_is_terminal();
  CLI::App app{"classic: set up, inspect and fill the item stores of the CAD host system.\n"
               "AREA is an area name on drive C: (-d X: for another drive) or a full area path;\n"
               "TYPE is an item type such as piece, model, lyrl (classic types lists them)."};
  app.name("classic");
  app.require_subcommand(1);
  app.fallthrough();
  // Paths start with '/' on Linux: they are never options, on any system.
  app.allow_windows_style_options(false);
  app.add_option("-d,--drive", t.drive, "drive of the areas named by name (default C:)");
  int rc = kDone;
  std::string area, type, name, name2, file = "-", pattern, dir, path, key, target, tag;
  bool long_form = false, replace = false, force = false;
  int value = 0, count = 20;
  std::vector<std::string> files;

  auto add = [&](const char* cmd, const char* help, const char* example) {
    CLI::App* c = app.add_subcommand(cmd, help);
    c->footer(std::string("Example: ") + example);
    return c;
  };
  auto json_flag = [&](CLI::App* c) { c->add_flag("--json", t.json, "print JSON for scripts"); };

  CLI::App* c = add("init", "make an area with its folders, registration, login.ctl and control files",
                    "classic init work");
  c->add_option("AREA", area, "area name or path")->required();
  c->callback([&] { rc = cmd_init(t, area); });

  c = add("areas", "list the areas of a drive", "classic -d C: areas --json");
  json_flag(c);
  c->callback([&] { rc = cmd_areas(t); });

  c = add("types", "list the item types with their control files and data-file patterns", "classic types");
  c->callback([&] { rc = cmd_types(t); });

  c = add("devices", "list the storage devices", "classic devices");
  c->callback([&] { rc = cmd_devices(t); });

  c = add("df", "free space on the drive of a path", "classic df d:\\userroot\\storage\\work");
  c->add_option("PATH", path, "a path on the drive (default C:)");
  c->callback([&] { rc = cmd_df(t, path); });

  c = add("ls", "list the items of a type, in store order", "classic ls work piece 'P*' -l");
  c->add_option("AREA", area)->required();
  c->add_option("TYPE", type)->required();
  c->add_option("PATTERN", pattern, "wildcard pattern: * ? + and \\ (default *)");
  c->add_flag("-l,--long", long_form, "size, stamps, modifier, attribute and open state");
  json_flag(c);
  c->callback([&] { rc = cmd_ls(t, area, type, pattern, long_form); });

  c = add("info", "one item's entry in full", "classic info work piece P1");
  c->add_option("AREA", area)->required();
  c->add_option("TYPE", type)->required();
  c->add_option("NAME", name)->required();
  json_flag(c);
  c->callback([&] { rc = cmd_info(t, area, type, name); });

  c = add("stat", "a control file's counters, data file being filled and lock", "classic stat work piece");
  c->add_option("AREA", area)->required();
  c->add_option("TYPE", type)->required();
  json_flag(c);
  c->callback([&] { rc = cmd_stat(t, area, type); });

  c = add("put", "store a file (or standard input) as an item", "classic put work piece P1 p1.dat");
  c->add_option("AREA", area)->required();
  c->add_option("TYPE", type)->required();
  c->add_option("NAME", name)->required();
  c->add_option("FILE", file, "file to read, - for standard input");
  c->add_flag("--replace", replace, "make a new version of an existing item");
  c->callback([&] { rc = cmd_put(t, area, type, name, file, replace); });

  c = add("get", "write an item's bytes to a file (or standard output)", "classic get work piece P1 p1.dat");
  c->add_option("AREA", area)->required();
  c->add_option("TYPE", type)->required();
  c->add_option("NAME", name)->required();
  c->add_option("FILE", file, "file to write, - for standard output");
  c->callback([&] { rc = cmd_get(t, area, type, name, file); });

  c = add("rm", "delete an item (it can be undeleted)", "classic rm work piece P1");
  c->add_option("AREA", area)->required();
  c->add_option("TYPE", type)->required();
  c->add_option("NAME", name)->required();
  c->callback([&] { rc = cmd_simple(t, "deleted", area, type, name, classic_delete_item); });

  c = add("undelete", "bring back the newest deleted version of an item", "classic undelete work piece P1");
  c->add_option("AREA", area)->required();
  c->add_option("TYPE", type)->required();
  c->add_option("NAME", name)->required();
  c->callback([&] { rc = cmd_simple(t, "undeleted", area, type, name, classic_undelete_item); });

  c = add("mv", "rename an item", "classic mv work piece P1 P2");
  c->add_option("AREA", area)->required();
  c->add_option("TYPE", type)->required();
  c->add_option("OLD", name)->required();
  c->add_option("NEW", name2)->required();
  c->callback([&] { rc = cmd_mv(t, area, type, name, name2); });

  c = add("attr", "set an item's attribute (0 to 65535)", "classic attr work piece P1 7");
  c->add_option("AREA", area)->required();
  c->add_option("TYPE", type)->required();
  c->add_option("NAME", name)->required();
  c->add_option("VALUE", value)->required()->check(CLI::Range(-32768, 65535));
  c->callback([&] { rc = cmd_attr(t, area, type, name, value); });

  c = add("import", "store files as items named after the files", "classic import work piece *.dat");
  c->add_option("AREA", area)->required();
  c->add_option("TYPE", type)->required();
  c->add_option("FILE", files)->required();
  c->add_flag("--replace", replace, "make new versions of existing items");
  c->callback([&] { rc = cmd_import(t, area, type, files, replace); });

  c = add("export", "write items to files in a folder", "classic export work piece 'P*' out");
  c->add_option("AREA", area)->required();
  c->add_option("TYPE", type)->required();
  c->add_option("ARGS", files, "[PATTERN] DIR")->required()->expected(1, 2);
  c->callback([&] {
    std::string p = files.size() == 2 ? files[0] : "*";
    rc = cmd_export(t, area, type, p, files.back());
  });

  c = add("lock", "lock an area for maintenance", "classic lock work --force");
  c->add_option("AREA", area)->required();
  c->add_flag("--force", force, "lock even when workstations are logged in");
  c->callback([&] {
    rc = report_status(t, "lock " + area, classic_area_lock(force ? 1 : 0, (area_path(area, t.drive_letter()) + "\\").c_str()),
                       {CLASSIC_OK, CLASSIC_LOCK_FORCED});
  });

  c = add("unlock", "unlock an area", "classic unlock work");
  c->add_option("AREA", area)->required();
  c->callback([&] {
    rc = report_status(t, "unlock " + area, classic_area_unlock((area_path(area, t.drive_letter()) + "\\").c_str()),
                       {CLASSIC_OK});
  });

  c = add("login", "log this workstation in to an area", "classic login work ed");
  c->add_option("AREA", area)->required();
  c->add_option("TAG", tag, "at most 3 characters");
  c->callback([&] {
    int r = classic_login_area(area_path(area, t.drive_letter()).c_str(), tag.c_str());
    rc = r == 0 ? t.fail("login: a tag has at most 3 characters") : report_status(t, "login " + area, r, {CLASSIC_OK});
  });

  c = add("logout", "log this workstation out of an area", "classic logout work ed");
  c->add_option("AREA", area)->required();
  c->add_option("TAG", tag, "at most 3 characters");
  c->callback([&] {
    int r = classic_logout_area(area_path(area, t.drive_letter()).c_str(), tag.c_str());
    rc = r == 0 ? t.fail("logout: a tag has at most 3 characters") : report_status(t, "logout " + area, r, {CLASSIC_OK});
  });

  c = add("log", "the error log, newest first", "classic log -n 5");
  c->add_option("-n", count, "how many records (0 for all; default 20)");
  json_flag(c);
  c->callback([&] { rc = cmd_log(t, count); });

  c = add("xlat", "the path a path translates to", "classic xlat c:\\userroot\\storage\\work");
  c->add_option("PATH", path)->required();
  c->callback([&] {
    char result[300];
    int r = classic_netxlat(path.c_str(), result);
    if (r != CLASSIC_OK) {
      rc = t.fail("xlat " + path, r);
    } else {
      t.out << result << "\n";
    }
  });

  CLI::App* net = add("net", "network translation entries", "classic net add work F:\\areas\\work");
  net->require_subcommand(1);
  CLI::App* net_add = net->add_subcommand("add", "add or replace a translation entry");
  net_add->add_option("KEY", key, "the area or folder name")->required();
  net_add->add_option("TARGET", target, "the folder it lies in")->required();
  net_add->callback([&] {
    // Keys are the name padded to 8 characters and the row's letter: an area.
    std::string padded = key.size() >= 9 ? key : key + std::string(8 - std::min<size_t>(key.size(), 8), ' ') + "A";
    rc = cmd_net_add(t, padded, target);
  });

  c = add("user", "show or set the user id stamped on items", "classic user abc");
  c->add_option("ID", name, "at most 3 characters");
  c->callback([&] {
    if (name.empty()) {
      t.out << (read_user().empty() ? "(no user id)" : read_user()) << "\n";
    } else if (name.size() > 3) {
      rc = t.fail("user: an id has at most 3 characters");
    } else if (!write_user(name)) {
      rc = t.fail("user: cannot write the registry");
    } else {
      t.out << "user id " << name << "\n";
    }
  });

  c = add("help", "show this help", "classic help");
  c->callback([&] { out << app.help(); });

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e, out, err);
    return code == 0 ? kDone : kUsage;
  }
  return rc;
} catch (const std::exception& e) {
  err << "classic: " << e.what() << "\n";
  return kFailed;
}
