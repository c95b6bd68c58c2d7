// The well-known names and paths of the system: the files and folders every
// workstation finds at the same place, the registry keys, the data-file
// naming of control files, and this library's task id.  Paths are in the
// Windows form on every system.
#pragma once

#include <cstddef>
#include <cstdint>

// Size of every translated path, the process-wide buffer included.
constexpr size_t XLAT_PATH_SIZE = 300;
// Longest path that path translation accepts, given or completed.
constexpr size_t XLAT_MAX_PATH = 255;

// The error log, shared by every program of the machine.
constexpr const char* LOG_PATH = "C:\\USERROOT\\SYSTEM\\ERROR\\LOGFILE.DAT";
// The station file of the host configuration.
constexpr const char* STATION_FILE = "c:\\userroot\\prog\\util\\network.cfg";
// The default folder of unique scratch files.
constexpr const char* SCRATCH_FOLDER = "c:\\userroot\\temp\\";

// The folders under which areas lie ("X:" in front names a drive).
constexpr const char* USERROOT_FOLDER = "\\userroot";
constexpr const char* STORAGE_FOLDER = "\\userroot\\storage";
// The sub-folders of an area: items in DATA, parameter tables in PARAM.
constexpr const char* AREA_DATA_FOLDER = "DATA";
constexpr const char* AREA_PARAM_FOLDER = "PARAM";

// The translation control file, its folder, its data-file pattern, and the
// translation record read from the start of an entry's data.
constexpr const char* XLAT_FOLDER = "C:\\userroot\\system\\state\\stordir";
constexpr const char* XLAT_CTL_PATH = "C:\\userroot\\system\\state\\stordir\\netxl.ctl";
constexpr const char* XLAT_DATA_PATTERN = "netxl%c%c%c.net";
constexpr int XLAT_RECORD_SIZE = 324;
constexpr int XLAT_TARGET_OFFSET = 21;
constexpr int XLAT_TARGET_MAX = 299;
// The folders that list the translated names of areas and of top-level
// folders of C: (both on C:, without the drive).
constexpr const char* XLAT_AREA_LISTING = "\\userroot\\system\\state\\stordir";
constexpr const char* XLAT_DOS_LISTING = "\\userroot\\system\\state\\dosdir";

// The login control file of an area, its data-file pattern, and the
// pattern of the login files beside it.
constexpr const char* LOGIN_CTL_NAME = "login.ctl";
constexpr const char* LOGIN_DATA_PATTERN = "login%c%c%c.log";
constexpr const char* LOGIN_FILES = "log*.*";
// Every control file of a folder.
constexpr const char* CONTROL_FILES = "*.ctl";

// Registry keys under HKEY_CURRENT_USER and their values.
constexpr const char* AREA_SYSTEM_KEY = "Software\\Halvorn\\Quillmere";
constexpr const char* AREA_VERSION_VALUE = "Version";
constexpr const char* USER_KEY = "Software\\Halvorn";
constexpr const char* USER_ID_VALUE = "UserId";
// The longest user id.
constexpr size_t USER_ID_CHARS = 3;

// out := the drive key of letter ("<system key>\<letter>:").
void format_drive_key(char* out, size_t size, char letter);

// Data-file suffixes are base-26 numbers written with the letters a to z,
// most significant first: aaa is 0, zzz is 17575.
constexpr int SUFFIX_COUNT = 17576;
constexpr int SLOTS_PER_DATA_FILE = 8;
// Writes the suffix of number (0 <= number < SUFFIX_COUNT).
void suffix_of(int number, char* suffix);
// Advances a three-letter data-file suffix in place: aaa, aab, ... zzz, aaa;
// upper-case letters step likewise within A to Z.
void next_suffix(char* suffix);

// dst (XLAT_PATH_SIZE bytes) := the folder of the control-file path followed
// by pattern with its three %c conversions taken from suffix.  The result is
// not translated.  False (dst empty) when the pattern is not a data-file
// pattern (more than three conversions, any other conversion, a name over 15
// characters) or the result does not fit.
bool data_file_path(char* dst, const char* ctl_path, const char* pattern, const char* suffix);

// The task id of this library, written into every trailer it locks and
// every report it logs.
constexpr int32_t TASK_ID_CLASSIC = 66;
int32_t task_id();
