// A store keeper's day behind the command's door: names as people read
// them, the settings of this system and where each came from, the deleted
// versions of items (listed, one of them brought back, dropped for good),
// copies of items with their stamps, statistics over an area, the log's
// times, and small services of the console.  Everything comes back parsed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "admin/check.h"
#include "classic.h"

// ---------------------------------------------------------------------------
// Names as people read them
// ---------------------------------------------------------------------------
//
// The names in a store are bytes of the ANSI code page.  Code page 1252 is
// converted to and from Unicode by its table; of every other code page only
// ASCII is.  A byte that does not convert (one of the five bytes 1252 leaves
// undefined, any byte above 0x7F of another code page, both bytes of a
// double-byte character) becomes the private-use character U+F700 + byte,
// and every character from U+F700 to U+F7FF becomes its byte again, so that
// every name comes back whole.

// The code page the store's names are written in.
unsigned admin_codepage();
// The name as UTF-8.
std::string admin_name_to_utf8(const std::string& bytes);
// The bytes of a name given as UTF-8; text that is not UTF-8 is taken as
// bytes of the code page already.  False (and *bad, the character) when a
// character has no form in the code page.
bool admin_name_from_utf8(const std::string& text, std::string* bytes, std::string* bad = nullptr);

// ---------------------------------------------------------------------------
// Settings of this system
// ---------------------------------------------------------------------------

struct AdminSetting {
  std::string name;    // "store root", "drive C:", "code page", ...
  std::string value;
  std::string source;  // "environment (CLASSIC_ROOT)", "registry", "default", ...
};

// The store root, the drives and where they lie, the registry, the error
// log, the node name, the network drive and the code page.
std::vector<AdminSetting> admin_settings();

// ---------------------------------------------------------------------------
// Deleted versions
// ---------------------------------------------------------------------------

struct AdminDeleted {
  CTRL_ENTRY_INFO info;  // as classic_lookup_item fills it (no links)
  int version = 1;       // 1 the latest deletion of its name, 2 the one before, ...
};

// The deleted entries of a control file whose names match pattern, in the
// order of the deleted tail (the oldest deletion first).  A status.
int admin_list_deleted(const std::string& ctl, const std::string& pattern, std::vector<AdminDeleted>* out);

// Brings back deleted version `version` of name (1 the latest): the entry
// is first moved to the end of the deleted tail, where undeletion takes it.
// 1; 1006 a live item has the name; 1007 no such version; or the library's
// status.
int admin_undelete_version(const std::string& ctl, const std::string& pattern, const std::string& name,
                           int version);

struct AdminPurgeOptions {
  std::string type;     // a control-file name (piece.ctl), or every type when empty
  std::string pattern = "*";
  bool force = false;   // take the area lock over logins
  bool dry_run = false;
};

struct AdminPurged {
  std::string file;  // control file
  std::string name;
  int32_t size = 0;
};

struct AdminPurgeReport {
  std::vector<AdminPurged> purged;
  std::vector<AdminRefusal> refusals;
  std::vector<std::string> overridden;  // logins the area lock removed
};

// Drops the deleted entries whose names match from the control files of an
// area, under an area lock it takes itself (over logins only when forced)
// or under the keeper's own.  Each control file is written whole beside
// itself and put in place by renaming, the old file kept as a backup; then
// the slots of the dropped entries are marked in their data files, so that
// a repair does not bring them back.  1, 1007 when the area has no folder,
// 1019 logins present, or the status of the area lock.
int admin_purge(const std::string& area, const AdminPurgeOptions& options, AdminPurgeReport* out);

// ---------------------------------------------------------------------------
// Copies and translations
// ---------------------------------------------------------------------------

// Copies a live item with its stamps, attributes and flags into another
// control file (replace: as a new version of an item there).  A status.
int admin_copy_item(const std::string& from_ctl, const std::string& from_pattern, const std::string& name,
                    const std::string& to_ctl, const std::string& to_pattern, bool replace);

// Removes the translation of key (9 characters): a status.
int admin_remove_translation(const std::string& key);

// ---------------------------------------------------------------------------
// Statistics
// ---------------------------------------------------------------------------

struct AdminTypeStats {
  std::string type;       // piece
  std::string file;       // the control file
  bool readable = true;   // false when the control file could not be read
  long live = 0, deleted = 0;
  int64_t live_bytes = 0, deleted_bytes = 0;
  long data_files = 0;
  int64_t data_bytes = 0;  // the data files' sizes
  // What the data files hold beyond the items' bytes: headers, unused and
  // torn bytes.
  int64_t overhead() const { return data_bytes - live_bytes - deleted_bytes; }
};

// Every control file of an area with its data files, read once each
// (control files whole, data files' headers and sizes).  1, or 1007.
int admin_area_stats(const std::string& area, const std::string& type, std::vector<AdminTypeStats>* out);

// ---------------------------------------------------------------------------
// Times and the console
// ---------------------------------------------------------------------------

// A local time "YYYY-MM-DD[ HH:MM[:SS]]" (or a bare number of seconds since
// 1970) as the store's clock counts: false when it is not one.
bool admin_parse_local_time(const std::string& text, uint32_t* out);
// Now, and milliseconds of the tick count.
uint32_t admin_now();
uint32_t admin_ticks();
// A pause of ms milliseconds, as the library pauses.
void admin_pause(uint32_t ms);
// Columns of the terminal behind descriptor fd (0 when unknown).
int admin_terminal_width(int fd);
