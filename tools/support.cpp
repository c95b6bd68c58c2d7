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
    // A full path: a drive and its folders, or folders of drive C: after a
    // separator; no component that steps elsewhere.
    std::string path = arg;
    std::replace(path.begin(), path.end(), '/', '\\');
    while (path.size() > 3 && path.back() == '\\') path.pop_back();
    bool with_drive = path.size() > 2 && path[1] == ':' && path[2] == '\\' &&
                      std::isalpha(static_cast<unsigned char>(path[0]));
    if (!with_drive && path[0] != '\\') {
      *why = "'" + arg + "' is neither an area name nor a full area path (X:\\...)";
      return false;
    }
    if (with_drive) letter = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
    std::stringstream parts(path.substr(with_drive ? 3 : 1));
    std::string part;
    while (std::getline(parts, part, '\\')) {
      std::string bad = bad_name_reason(part);
      if (!bad.empty()) {
        *why = "'" + arg + "' is not an area path: " + bad;
        return false;
      }
      area->name = part;
    }
    if (area->name.empty()) {
      *why = "'" + arg + "' names no area folder";
      return false;
    }
    area->path = path;
  } else {
    std::string bad = bad_name_reason(arg);
    if (!bad.empty() || arg.find('.') != std::string::npos) {
      *why = "'" + arg + "' is not an area name: " + (bad.empty() ? "no '.' in it" : bad);
      return false;
    }
    area->name = arg;
    area->path = std::string(1, letter) + ":\\userroot\\storage\\" + arg;
  }
  area->drive = letter;
  return true;
}

std::string printable(const std::string& name) {
  std::string out;
  for (unsigned char ch : name) {
    if (ch < 0x20 || ch == 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", ch);
      out += hex;
    } else {
      out += static_cast<char>(ch);
    }
  }
  return out;
}

std::string bad_name_reason(const std::string& name) {
  if (name.find_first_not_of(' ') == std::string::npos) return "an empty name";
  if (name == "." || name == "..") return "'" + name + "' leaves the folder";
  for (unsigned char ch : name) {
    if (ch < 0x20 || ch == 0x7f) return "a control character in it";
    if (std::strchr("\\/:*?\"<>|", ch)) return std::string("'") + static_cast<char>(ch) + "' in a name";
  }
  return std::string();
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

namespace {

// The command in hand: where waits are shown, the interrupts counted before
// it began, the last wait shown.
struct CommandRun {
  Console* console = nullptr;
  int interrupts_before = 0;
  std::string last_wait;
  bool waited_for_control_file = false;
};

CommandRun g_run;

void show_wait(const char* what, const char* holder, int) {
  std::string text = std::string(what) + (holder[0] ? std::string(" (") + holder + ")" : "");
  g_run.waited_for_control_file = std::strncmp(what, "item ", 5) != 0;
  if (!g_run.console || text == g_run.last_wait) return;
  g_run.last_wait = text;
  g_run.console->err << "classic: waiting for " << text << "\n" << std::flush;
}

}  // namespace

void begin_command(Console& c) {
  g_run = CommandRun{};
  g_run.console = &c;
  g_run.interrupts_before = admin_interrupts();
  admin_observe_waits(show_wait);
}

void end_command() {
  admin_observe_waits(nullptr);
  g_run = CommandRun{};
}

bool interrupted() { return admin_interrupts() > g_run.interrupts_before; }

std::string count_text(size_t n) {
  std::string digits = std::to_string(n);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

bool stops_every_item(int status) {
  switch (status) {
    case CLASSIC_LOCKED:
      // A control file marked as held stops every item; one busy item, only
      // itself.
      return g_run.waited_for_control_file;
    case CLASSIC_AREA_LOCKED:
    case CLASSIC_CANNOT_OPEN:
    case CLASSIC_BAD_VERSION:
    case CLASSIC_CTL_FULL:
      return true;
    default: {
      int error = admin_cause_errno();
      return error == ENOSPC || error == EROFS;
    }
  }
}

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
  for (unsigned char ch : name) {
    if (ch < 0x20 || ch == 0x7f) {
      *why = "item name '" + printable(name) + "' holds a control character";
      return false;
    }
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
  // The bytes go to a file of their own beside the target and take its name
  // only when they are all written: a failed write leaves no partial file
  // under the target's name, and no earlier file is lost.
  std::string part = path + ".classic-part";
  std::error_code ec;
  {
    errno = 0;
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    if (!out) {
      *why = "cannot be written: " + std::string(std::strerror(errno));
      return false;
    }
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      *why = "cannot be written: " + std::string(errno ? std::strerror(errno) : "write failure");
      std::filesystem::remove(part, ec);
      return false;
    }
  }
  std::filesystem::rename(part, path, ec);
  if (ec) {
    *why = "cannot be put in place: " + ec.message();
    std::filesystem::remove(part, ec);
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

Progress::Progress(Console& c, size_t total, const char* verb, long max_errors)
    : c_(c), total_(total), verb_(verb), max_errors_(max_errors) {}

bool Progress::go_on() {
  if (stopped_.empty() && interrupted()) stopped_ = "interrupted";
  return stopped_.empty();
}

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

void Progress::step(const std::string& label, uint64_t bytes, const std::string& failure, int status) {
  ++done_;
  if (!failure.empty()) {
    ++failed_;
    clear_bar();
    c_.err << "classic: " << failure << "\n";
    if (status && stops_every_item(status)) {
      stopped_ = "stopped, since every further item would fail the same way";
    } else if (max_errors_ >= 0 && failed_ > static_cast<size_t>(max_errors_)) {
      stopped_ = "stopped after " + count_text(failed_) + " failures (--max-errors " +
                 std::to_string(max_errors_) + ")";
    }
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
  if (!stopped_.empty()) {
    c_.err << "classic: " << stopped_ << ": " << count_text(done_ - failed_) << " of " << count_text(total_)
           << " " << verb_ << "; " << count_text(total_ - done_) << " not tried\n";
  }
  c_.out << verb_ << " " << count_text(done_ - failed_) << " of " << count_text(total_) << " " << where
         << " (" << human_bytes(static_cast<double>(bytes_)) << ")";
  if (failed_) c_.out << ", " << count_text(failed_) << " failed";
  c_.out << "\n";
  if (stopped_ == "interrupted") return TOOL_INTERRUPTED;
  return failed_ || !stopped_.empty() ? TOOL_FAILED : TOOL_OK;
}

}  // namespace tool
