// What every sub-command of the classic command shares: its console, the
// meaning of the library's statuses, areas, item types and control files,
// times, the native files items come from and go to, and reads and writes of
// whole items.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "admin/admin.h"
#include "classic.h"
#include "classic_tool.h"

namespace tool {

struct Console {
  std::ostream& out;
  std::ostream& err;
  const ToolConsole& io;
};

// ---------------------------------------------------------------------------
// Statuses and failures
// ---------------------------------------------------------------------------

// Whether a status is success: 1, or 1000 on a removable drive.
inline bool ok(int status) { return status == CLASSIC_OK || status == CLASSIC_OK_REMOVABLE; }

// What a status of the library means, in a few words.
const char* status_text(int status);

// "<what>: <meaning> (status N)", and the OS's reason when an OS call failed
// since the cause was last cleared: "...: Permission denied: <path>".
std::string status_line(const std::string& what, int status);
// Forgets the OS's reason, before an operation whose failure status_line
// may explain.
void clear_cause();
// Writes "classic: <what>: <meaning> (status N)" to err; returns TOOL_FAILED.
int fail_status(Console& c, const std::string& what, int status);
// Writes "classic: <what>: <why>" to err; returns TOOL_FAILED.
int fail(Console& c, const std::string& what, const std::string& why);
// Writes "classic: <why>" to err; returns TOOL_USAGE.
int usage(Console& c, const std::string& why);

// ---------------------------------------------------------------------------
// Areas, item types, control files
// ---------------------------------------------------------------------------

struct Area {
  std::string path;  // folder, Windows form, no trailing separator
  char drive = 'C';  // upper-case letter
  std::string name;  // last component of the path
};

// The area an argument names: an area name on drive (a letter, "X" or "X:")
// giving X:\userroot\storage\NAME, or a full area path (it holds a drive, a
// '\' or a '/').  False and the reason when neither.
bool resolve_area(const std::string& arg, const std::string& drive, Area* area, std::string* why);

// The path file operations use for a store path: the library's translation
// (empty when it has none).
inline std::string translated(const std::string& path) { return admin_translate(path); }
// True when the store path (translated) names a file or folder.
inline bool store_exists(const std::string& path) { return admin_store_exists(path); }

using ItemKind = AdminItemType;

// The 26 item types, in the order of the library's table.
inline const std::vector<ItemKind>& item_kinds() { return admin_item_types(); }
// The type named name ("piece", "PIECE" or "piece.ctl"), or null.
const ItemKind* find_kind(const std::string& name);

// A control file of an area: its type and its path.
struct Store {
  Area area;
  const ItemKind* kind = nullptr;
  std::string ctl;  // Windows-form path of the control file
  // "piece in C:\userroot\storage\work"
  std::string where() const;
};

// Resolves AREA and TYPE and finds the control file (in DATA, or PARAM for
// the parameter tables, else in the other of the two).  Reports what is
// wrong and returns TOOL_USAGE or TOOL_FAILED; TOOL_OK with *store filled.
int open_store(Console& c, const std::string& op, const std::string& area_arg,
               const std::string& drive, const std::string& type, Store* store);

// ---------------------------------------------------------------------------
// Times and numbers
// ---------------------------------------------------------------------------

// "2024-05-01 13:07:00" in local time; "-" for 0.
inline std::string local_time(uint32_t t) { return admin_local_time(t); }
// "1.2 MiB" and the like.
std::string human_bytes(double bytes);
// The text of a signed 8-bit open state: closed, writer, 2 readers.
std::string open_state_text(int state);

// ---------------------------------------------------------------------------
// Items and native files
// ---------------------------------------------------------------------------

// Why a name cannot stand for one area folder ("." and "..", separators,
// drive colons, wildcards, control characters, blanks only), or "".
std::string bad_name_reason(const std::string& name);
// The name with control characters shown as \xNN.
std::string printable(const std::string& name);

// Checks an item name given on the command line: not empty, at most 20
// characters, no control characters.  False and the reason.
bool valid_item_name(const std::string& name, std::string* why);

// The entries of the control file ctl whose names match pattern, in store
// order; *cut when the library's list stopped short of the end.  A status.
int list_items(const std::string& ctl, const std::string& pattern,
               std::vector<CTRL_ENTRY_INFO>* items, bool* cut);

// Reads an item's bytes (an item of size 0 gives no bytes): a status.
int read_item(const Store& s, const std::string& name, std::string* bytes);
// Writes bytes as a new item, or as a new version of an existing one when
// replace is set: a status.
int write_item(const Store& s, const std::string& name, const std::string& bytes, bool replace);

// The native path of a file argument: a path with a drive letter is taken
// as a store path and mapped, any other is used as it is.
std::string native_file(const std::string& arg);
bool read_native(const std::string& path, std::string* bytes, std::string* why);
bool write_native(const std::string& path, const std::string& bytes, std::string* why);

// The file name of an item (without extension): characters that no file
// name can hold, '%', a trailing point or blank and device names are
// written as %XX.
std::string file_stem_of(const std::string& item);
// The item name of a file: its name without folder and extension, %XX
// turned back into the character.
std::string item_name_of(const std::string& file);

// Writes j to out, indented, strings that are not UTF-8 repaired.
void print_json(std::ostream& out, const nlohmann::json& j);
// A text as JSON takes it (bytes of the code page that are not UTF-8 are
// replaced when printed).
nlohmann::json text_json(const std::string& text);

// The run of one command: interrupts are counted from its start, and the
// library's waits are shown on its error stream, each once.
void begin_command(Console& c);
void end_command();
// Whether an interrupt (Ctrl-C, SIGINT, SIGTERM) came since the command
// started.
bool interrupted();
// Whether a failure status (with the OS's cause) stops every further item
// of a run as well: a full or read-only disk, a locked area, a control file
// that is held, of an unknown version or full.
bool stops_every_item(int status);
// A count with thousands separated: 1,701.
std::string count_text(size_t n);

// A progress display of a run over many items: a bar redrawn on a terminal,
// one line per item elsewhere.  The run stops early on an interrupt, on a
// failure that stops every further item, or after max_errors failures.
class Progress {
 public:
  Progress(Console& c, size_t total, const char* verb, long max_errors = -1);
  // Whether the run goes on with the next item.
  bool go_on();
  // One item done: its label and, when it failed, the reason (shown on err)
  // and the status that failed it (0 for a failure outside the library).
  void step(const std::string& label, uint64_t bytes, const std::string& failure, int status = 0);
  // Ends the bar and prints the summary, and what was not done when the run
  // stopped early; the exit status.
  int finish(const std::string& where);

 private:
  void draw(const std::string& label);
  void clear_bar();
  Console& c_;
  size_t total_;
  size_t done_ = 0;
  size_t failed_ = 0;
  uint64_t bytes_ = 0;
  const char* verb_;
  long max_errors_;
  std::string stopped_;  // why the run stopped early
  bool bar_drawn_ = false;
};

}  // namespace tool
