// The door through which a store keeper's tool (the classic command) reaches
// the library beyond classic.h: the item types, control files and the error
// log read as they lie, the area registry and the folders of areas, the
// translation entries, the user id, the paths of this system, the cause of
// the last failure, and (admin/check.h) the check and repair of stores and
// who works in an area.  Nothing here takes a record layout from its caller
// or hands one out: records come back parsed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "admin/check.h"
#include "classic.h"

// ---------------------------------------------------------------------------
// Item types
// ---------------------------------------------------------------------------

struct AdminItemType {
  std::string name;       // piece
  std::string ctl;        // piece.ctl
  std::string pattern;    // piece%c%c%c.pce
  std::string extension;  // pce
  bool param = false;     // a parameter table: its control file lies in PARAM
};

// The 26 item types, in the order of the library's table.
const std::vector<AdminItemType>& admin_item_types();
// The folders of an area that hold control files: the usual one of a type
// first.
const char* admin_type_folder(const AdminItemType& type);
const char* admin_other_folder(const AdminItemType& type);
// The data-file name of a pattern for a suffix: piece%c%c%c.pce, "aab" gives
// pieceaab.pce ("?" when the pattern is not a data-file pattern).
std::string admin_data_file_name(const std::string& pattern, const char* suffix);
// The name of the program with a task id ("CLASSIC" for 66, "UNKNOWN" for an
// id of no program).
std::string admin_task_name(int id);

// ---------------------------------------------------------------------------
// Control files read as they lie
// ---------------------------------------------------------------------------

// Lock states of a trailer.
constexpr int ADMIN_LOCK_FREE = 0;
constexpr int ADMIN_LOCK_SESSION = 12;
constexpr int ADMIN_LOCK_AREA = 13;

struct AdminControlFile {
  std::string suffix;       // data file being filled
  int next_slot = 0;
  int total_items = 0;      // live items, as the trailer counts them
  int open_count = 0;
  int lock_state = 0;
  bool ever_locked = false;
  std::string user, node, task_name;  // the holder of a session lock
  int32_t task_id = 0;
  int version = 0;
  long entries = 0;         // live and deleted entries in the file
  long deleted = 0;         // entries flagged deleted
};

// Reads the control file at ctl (a store path, translated) without a
// session: shared with everybody but writers, a writer given a moment to
// finish.  1, or 1002 when it cannot be read or is not a whole number of
// records.
int admin_read_control_file(const std::string& ctl, AdminControlFile* out);

// ---------------------------------------------------------------------------
// The error log
// ---------------------------------------------------------------------------

struct AdminLogRecord {
  uint32_t time = 0;
  int error_class = 0;
  unsigned code = 0;
  unsigned task_id = 0;
  std::vector<std::string> lines;
};

// The path of the log.
const char* admin_log_path();
// The records of the log, newest first, at most max (all when negative).
// True (no records when there is no log), or false when it cannot be read.
bool admin_read_log(int max, std::vector<AdminLogRecord>* out);
// The text of a record as the fatal pop-up shows it (CR LF line ends).
std::string admin_report_text(const AdminLogRecord& record);
// The name of an error class ("EXECUTION"), "UNKNOWN" for others.
const char* admin_class_name(int error_class);

// ---------------------------------------------------------------------------
// Areas, folders and the registry
// ---------------------------------------------------------------------------

// The version registered for new areas.
constexpr uint32_t ADMIN_AREA_VERSION = 4;

// The folder of an area name (or a pattern of names) on a drive:
// X:\userroot\storage\NAME.
std::string admin_area_path(char drive, const std::string& name);
// The folders of a drive's tree, X:\userroot and those below it.
std::vector<std::string> admin_tree_folders(char drive);
// The sub-folders of an area.
const std::vector<std::string>& admin_area_folders();

bool admin_drive_exists(char letter);
// The registry key of an area and its Version (-1 when the key or the value
// is missing).
std::string admin_area_key(char drive, const std::string& area);
long admin_area_version(char drive, const std::string& area);
// Registers an area with a Version: 1, or 1002 when the registry refuses.
int admin_register_area(char drive, const std::string& area, uint32_t version);
// Makes a folder (a path as the OS layer names it) and those above it: the
// number made, or -1.
int admin_make_folders(const std::string& path);

// ---------------------------------------------------------------------------
// Translations
// ---------------------------------------------------------------------------

// The translation control file.
const char* admin_xlat_ctl_path();
// The longest translation target.
constexpr size_t ADMIN_XLAT_TARGET_MAX = 299;

// Adds (or with replace, replaces) the translation of key (9 characters) to
// target, making the translation control file and its folder when missing.
// A status.
int admin_add_translation(const std::string& key, const std::string& target, bool replace);

struct AdminTranslation {
  std::string key;
  std::string target;  // as path translation reads it
  int status = 1;      // 1, or why the target could not be read
};
// The translations, in the file's order: a listing status.
int admin_list_translations(std::vector<AdminTranslation>* out);

// ---------------------------------------------------------------------------
// The user id stamped on items
// ---------------------------------------------------------------------------

std::string admin_user_id();
// At most three characters: 1, or 1002 when the registry refuses it.
int admin_set_user_id(const std::string& user);

// ---------------------------------------------------------------------------
// Paths and files of this system
// ---------------------------------------------------------------------------

// The library's translation of a store path ("" when it has none).
std::string admin_translate(const std::string& path);
// True when the store path (translated) names a file or folder.
bool admin_store_exists(const std::string& path);
// The path a Windows-form path stands for on this system.
std::string admin_native_path(const std::string& path);
// The bytes of a file (a path as the OS layer names it), read while nobody
// writes it (readers are welcome); a writer that holds the file is given
// about two seconds to finish.  False when it cannot be read.
bool admin_read_shared_file(const std::string& path, std::string* bytes);
// "2024-05-01 13:07:00" in local time; "-" for 0.
std::string admin_local_time(uint32_t t);

// ---------------------------------------------------------------------------
// Why the last operation failed
// ---------------------------------------------------------------------------

// Forgets the cause, before an operation whose failure is to be explained.
void admin_clear_cause();
// The last failed OS call since: "Permission denied: /path/of/file", or ""
// when no OS call failed.
std::string admin_cause();
// Its C runtime error number (ENOSPC, EROFS, ...), or 0.
int admin_cause_errno();

// ---------------------------------------------------------------------------
// Waits and interruptions
// ---------------------------------------------------------------------------

// Hears of every pause the library makes while it waits for a file or an
// item: what it waits for and who holds it, as far as is known.
using AdminWaitObserver = void (*)(const char* what, const char* holder, int ms);
void admin_observe_waits(AdminWaitObserver observer);

// Interrupt and termination requests no longer end the process but are
// counted, so that the command can stop between two calls of the library;
// admin_interrupts tells how many came since the process started.
void admin_catch_interrupts();
int admin_interrupts();

// ---------------------------------------------------------------------------
// Console
// ---------------------------------------------------------------------------

// Standard input and output in binary mode (no CR LF translation).
void admin_binary_console();
// True when descriptor fd (0 input, 1 output, 2 errors) is a terminal.
bool admin_is_terminal(int fd);
