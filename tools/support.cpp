// What the sub-commands share.
#include "support.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>


namespace tool {

namespace {

std::string upper(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return s;
}

std::string lower(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return s;
}

}  // namespace

// ---------------------------------------------------------------------------
// Statuses and failures
// ---------------------------------------------------------------------------

const char* status_text(int status) {
  switch (status) {
    case CLASSIC_OK: return "done";
    case CLASSIC_NO_MORE: return "no (more) items";
    case CLASSIC_OK_REMOVABLE: return "done (removable drive)";
    case CLASSIC_NO_MEMORY: return "out of memory while building the list";
    case CLASSIC_IO_ERROR: return "read or write failure, or a damaged control file";
    case CLASSIC_CANNOT_CREATE: return "control file cannot be created (it exists)";
    case CLASSIC_CANNOT_REMOVE: return "control file cannot be removed, or no usable translation for the path";
    case CLASSIC_ITEMS_OPEN: return "items of the control file are open";
    case CLASSIC_NAME_IN_USE: return "name already in use";
    case CLASSIC_NOT_FOUND: return "not found";
    case CLASSIC_RETRY: return "busy for now";
    case CLASSIC_NOT_OPEN: return "item is not open";
    case CLASSIC_READERS_PRESENT: return "item stayed open for reading by others";
    case CLASSIC_LOCKED: return "item or control file stayed locked, or its trailer had to be repaired";
    case CLASSIC_BAD_VERSION: return "control file of an unknown format version";
    case CLASSIC_CANNOT_OPEN: return "control file cannot be opened";
    case CLASSIC_AREA_LOCKED: return "area locked";
    case CLASSIC_LOGINS_PRESENT: return "workstations are logged in (--force locks all the same)";
    case CLASSIC_LOCK_FORCED: return "area locked over logins (their login files were removed)";
    case CLASSIC_OPEN_ITEMS: return "a control file had open items";
    case CLASSIC_NO_AREA_LOCK: return "area was not locked";
    case CLASSIC_CTL_FULL: return "control file full (32767 entries)";
    case 0: return "refused";
    default: return "unknown status";
  }
}

std::string status_line(const std::string& what, int status) {
  std::string line = what + ": " + status_text(status) + " (status " + std::to_string(status) + ")";
  std::string cause = admin_cause();
  if (!cause.empty()) line += ": " + cause;
  return line;
}

void clear_cause() { admin_clear_cause(); }

int fail_status(Console& c, const std::string& what, int status) {
  c.err << "classic: " << status_line(what, status) << "\n";
  return TOOL_FAILED;
}

int fail(Console& c, const std::string& what, const std::string& why) {
  c.err << "classic: " << what << ": " << why << "\n";
  return TOOL_FAILED;
}

int usage(Console& c, const std::string& why) {
  c.err << "classic: " << why << "\n";
  return TOOL_USAGE;
}

// ---------------------------------------------------------------------------
// Areas, item types, control files
// ---------------------------------------------------------------------------

bool resolve_area(const std::string& arg, const std::string& drive, Area* area, std::string* why) {
  char letter = 'C';
  if (!drive.empty()) {
    bool letter_only = drive.size() == 1 || (drive.size() == 2 && drive[1] == ':');
    if (!letter_only || !std::isalpha(static_cast<unsigned char>(drive[0]))) {
      *why = "'" + drive + "' is not a drive (give a letter such as D:)";
      return false;
    }
    letter = static_cast<char>(std::toupper(static_cast<unsigned char>(drive[0])));
  }
  if (arg.empty()) {
    *why = "no area given";
    return false;
  }
  if (arg.find_first_of(":\\/") != std::string::npos) {
    std::string path = arg;
    std::replace(path.begin(), path.end(), '/', '\\');
    while (path.size() > 3 && path.back() == '\\') path.pop_back();
    size_t cut = path.find_last_of('\\');
    area->name = cut == std::string::npos ? path : path.substr(cut + 1);
    if (path.size() > 1 && path[1] == ':') {
      if (!std::isalpha(static_cast<unsigned char>(path[0]))) {
        *why = "'" + arg + "' is not an area path";
        return false;
      }
      letter = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
    }
    if (area->name.empty() || area->name.find(':') != std::string::npos) {
      *why = "'" + arg + "' names no area folder";
      return false;
    }
    area->path = path;
  } else {
    if (arg.find_first_of("*?.") != std::string::npos || arg.find_first_not_of(' ') == std::string::npos) {
      *why = "'" + arg + "' is not an area name (no '.', '*' or '?')";
      return false;
    }
    area->name = arg;
    area->path = std::string(1, letter) + ":\\userroot\\storage\\" + arg;
  }
  area->drive = letter;
  return true;
}

const ItemKind* find_kind(const std::string& name) {
  std::string n = lower(name);
  for (const ItemKind& k : item_kinds()) {
    if (n == k.name || n == k.ctl) return &k;
  }
  return nullptr;
}

std::string Store::where() const { return kind->name + " in " + area.path; }

int open_store(Console& c, const std::string& op, const std::string& area_arg,
               const std::string& drive, const std::string& type, Store* store) {
  store->kind = find_kind(type);
  if (!store->kind) {
    return usage(c, "unknown item type '" + type + "' ('classic types' lists the 26 types)");
  }
  std::string why;
  if (!resolve_area(area_arg, drive, &store->area, &why)) return usage(c, why);
  if (!store_exists(store->area.path)) {
    return fail(c, op + " " + store->where(), "no such area ('classic init' sets one up)");
  }
  const char* first = admin_type_folder(*store->kind);
  const char* second = admin_other_folder(*store->kind);
  for (const char* folder : {first, second}) {
    std::string path = store->area.path + "\\" + folder + "\\" + store->kind->ctl;
    if (store_exists(path)) {
      store->ctl = path;
      return TOOL_OK;
    }
  }
  return fail(c, op + " " + store->where(),
              "the area has no " + store->kind->ctl + " in " + first + " or " + second);
}

// ---------------------------------------------------------------------------
// Times and numbers
// ---------------------------------------------------------------------------

std::string human_bytes(double bytes) {
  const char* units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
  int u = 0;
  while (bytes >= 1024.0 && u < 4) {
    bytes /= 1024.0;
    ++u;
  }
  char text[32];
  if (u == 0) {
    std::snprintf(text, sizeof text, "%.0f %s", bytes, units[u]);
  } else {
    std::snprintf(text, sizeof text, "%.1f %s", bytes, units[u]);
  }
  return text;
}

std::string open_state_text(int state) {
  if (state == 0) return "closed";
  if (state < 0) return "writer";
  return std::to_string(state) + (state == 1 ? " reader" : " readers");
}

// ---------------------------------------------------------------------------
// Items and native files
// ---------------------------------------------------------------------------

bool valid_item_name(const std::string& name, std::string* why) {
  if (name.find_first_not_of(" \t\r\n\v\f") == std::string::npos) {
    *why = "an item name cannot be empty";
    return false;
  }
  if (name.size() > 20) {
    *why = "item name '" + name + "' is longer than 20 characters";
    return false;
  }
  return true;
}

int list_items(const std::string& ctl, const std::string& pattern,
               std::vector<CTRL_ENTRY_INFO>* items, bool* cut) {
  long offset = 0;
  long position = 0;
  char more = 0;
  int status = CLASSIC_OK;
  CTRL_ENTRY_INFO* head =
      classic_return_item_list(ctl.c_str(), pattern.c_str(), &offset, &position, &more, &status);
  for (CTRL_ENTRY_INFO* e = head; e; e = e->next) items->push_back(*e);
  classic_free_item_list(head);
  *cut = more != 0;
  if (status == 0) return CLASSIC_IO_ERROR;  // a block of the file could not be read
  return ok(status) ? CLASSIC_OK : status;
}

int read_item(const Store& s, const std::string& name, std::string* bytes) {
  bytes->clear();
  FILE* stream = nullptr;
  long size = 0;
  int r = classic_open_item(s.ctl.c_str(), name.c_str(), 0, s.kind->pattern.c_str(), &stream, &size,
                            nullptr);
  if (r == CLASSIC_IO_ERROR) {
    // An item of no bytes cannot be opened for reading; it reads as empty.
    CTRL_ENTRY_INFO info;
    if (classic_lookup_item(s.ctl.c_str(), name.c_str(), &info) == CLASSIC_OK && info.size == 0 &&
        info.open_state == 0) {
      return CLASSIC_OK;
    }
    return r;
  }
  if (!ok(r)) return r;
  bool whole = true;
  if (size > 0) {
    bytes->resize(static_cast<size_t>(size));
    whole = std::fread(bytes->data(), 1, bytes->size(), stream) == bytes->size();
  }
  int closed = classic_close_item(s.ctl.c_str(), name.c_str(), stream);
  if (!ok(closed)) return closed;
  return whole ? CLASSIC_OK : CLASSIC_IO_ERROR;
}

int write_item(const Store& s, const std::string& name, const std::string& bytes, bool replace) {
  short mode = ITEM_WRITE | ITEM_CREATE | (replace ? ITEM_REPLACE : 0);
  FILE* stream = nullptr;
  int r = classic_open_item(s.ctl.c_str(), name.c_str(), mode, s.kind->pattern.c_str(), &stream,
                            nullptr, nullptr);
  if (!ok(r)) return r;
  bool whole = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
  int closed = classic_close_item(s.ctl.c_str(), name.c_str(), stream);
  if (!ok(closed)) return closed;
  return whole ? CLASSIC_OK : CLASSIC_IO_ERROR;
}

std::string native_file(const std::string& arg) {
  if (arg.size() >= 2 && arg[1] == ':' && std::isalpha(static_cast<unsigned char>(arg[0]))) {
    return admin_native_path(arg);
  }
  return arg;
}

bool read_native(const std::string& path, std::string* bytes, std::string* why) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    *why = "is a folder";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *why = "cannot be read: " + std::string(std::strerror(errno));
    return false;
  }
  std::ostringstream s;
  s << in.rdbuf();
  if (in.bad()) {
    *why = "read failure";
    return false;
  }
  *bytes = s.str();
  return true;
}

bool write_native(const std::string& path, const std::string& bytes, std::string* why) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    *why = "cannot be written: " + std::string(std::strerror(errno));
    return false;
  }
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    *why = "write failure";
    return false;
  }
  return true;
}

namespace {

bool is_device_name(const std::string& stem) {
  std::string u = upper(stem);
  if (u == "CON" || u == "PRN" || u == "AUX" || u == "NUL") return true;
  return u.size() == 4 && (u.compare(0, 3, "COM") == 0 || u.compare(0, 3, "LPT") == 0) &&
         u[3] >= '1' && u[3] <= '9';
}

std::string escaped(unsigned char ch) {
  char text[4];
  std::snprintf(text, sizeof text, "%%%02X", ch);
  return text;
}

int hex_digit(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  return -1;
}

}  // namespace

std::string file_stem_of(const std::string& item) {
  std::string out;
  for (size_t i = 0; i < item.size(); ++i) {
    unsigned char ch = static_cast<unsigned char>(item[i]);
    bool last = i + 1 == item.size();
    bool bad = ch < 0x20 || ch == 0x7f || std::strchr("<>:\"/\\|?*%", ch) != nullptr ||
               (last && (ch == '.' || ch == ' ')) || (i == 0 && is_device_name(item));
    out += bad ? escaped(ch) : std::string(1, static_cast<char>(ch));
  }
  return out;
}

std::string item_name_of(const std::string& file) {
  std::string stem = std::filesystem::path(file).stem().string();
  std::string out;
  for (size_t i = 0; i < stem.size(); ++i) {
    if (stem[i] == '%' && i + 2 < stem.size() && hex_digit(stem[i + 1]) >= 0 &&
        hex_digit(stem[i + 2]) >= 0) {
      out += static_cast<char>(hex_digit(stem[i + 1]) * 16 + hex_digit(stem[i + 2]));
      i += 2;
    } else {
      out += stem[i];
    }
  }
  return out;
}

void print_json(std::ostream& out, const nlohmann::json& j) {
  out << j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

nlohmann::json text_json(const std::string& text) { return nlohmann::json(text); }

// ---------------------------------------------------------------------------
// Progress
// ---------------------------------------------------------------------------

namespace {
constexpr int kBarWidth = 30;
constexpr size_t kLineWidth = 78;
}  // namespace

Progress::Progress(Console& c, size_t total, const char* verb) : c_(c), total_(total), verb_(verb) {}

void Progress::clear_bar() {
  if (!bar_drawn_) return;
  c_.out << '\r' << std::string(kLineWidth, ' ') << '\r';
  bar_drawn_ = false;
}

void Progress::draw(const std::string& label) {
  size_t filled = total_ ? done_ * kBarWidth / total_ : kBarWidth;
  std::ostringstream line;
  line << '[' << std::string(filled, '#') << std::string(kBarWidth - filled, '.') << "] " << done_ << '/'
       << total_ << "  " << label;
  std::string text = line.str();
  if (text.size() > kLineWidth) text.resize(kLineWidth);
  c_.out << '\r' << text << std::string(kLineWidth - text.size(), ' ') << std::flush;
  bar_drawn_ = true;
}

void Progress::step(const std::string& label, uint64_t bytes, const std::string& failure) {
  ++done_;
  if (!failure.empty()) {
    ++failed_;
    clear_bar();
    c_.err << "classic: " << failure << "\n";
  } else {
    bytes_ += bytes;
  }
  if (c_.io.terminal) {
    draw(label);
  } else if (failure.empty()) {
    c_.out << verb_ << " " << label << " (" << bytes << " bytes)\n";
  }
}

int Progress::finish(const std::string& where) {
  clear_bar();
  c_.out << verb_ << " " << (done_ - failed_) << " of " << total_ << " " << where << " ("
         << human_bytes(static_cast<double>(bytes_)) << ")";
  if (failed_) c_.out << ", " << failed_ << " failed";
  c_.out << "\n";
  return failed_ ? TOOL_FAILED : TOOL_OK;
}

}  // namespace tool
