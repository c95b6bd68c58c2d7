// The operations the library needs from the operating system and its C
// runtime, declared once.  The logic above this layer includes only this
// header besides the standard library; it keeps every path in the Windows
// form (drive letter, backslashes) and passes the Windows C runtime's flag
// values.  src/platform/win32 makes the real calls; src/platform/posix maps
// them onto Linux (drives, case-insensitive names, share modes, byte locks
// and the registry, as the README describes).
//
// Calls that fail set errno as the Windows C runtime does; EACCES marks a
// sharing conflict or a held byte lock.  The C streams of the library's
// files are read, written, positioned, flushed and closed through the
// plat_f* calls below; setvbuf is used directly.
//
// Every failure of a call that opens, reads, writes, positions, commits,
// locks, closes, renames or removes a file, or writes the registry, is noted
// as the cause of what the library reports next (plat_get_cause).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------

// Share modes of plat_sopen.
constexpr int PLAT_SH_DENYRW = 0x10;  // nobody else may open the file
constexpr int PLAT_SH_DENYWR = 0x20;  // others may read, not write
constexpr int PLAT_SH_DENYNO = 0x40;  // others may read and write

// Modes of plat_locking.
constexpr int PLAT_LK_UNLCK = 0;  // release the bytes
constexpr int PLAT_LK_NBLCK = 2;  // lock the bytes, fail at once if held

// Opens path with the Windows C runtime's open flags (CLASSIC_O_*), share
// mode and permission (CLASSIC_S_*).  Returns a descriptor, or -1 with errno
// set: EACCES when another open of the file conflicts with the share mode.
// Descriptors are never inherited by child processes.
int plat_sopen(const char* path, int oflag, int shflag, int pmode);
int plat_close(int fd);
int plat_read(int fd, void* buf, unsigned count);
int plat_write(int fd, const void* buf, unsigned count);
long plat_lseek(int fd, long offset, int whence);
// Hands the file's data to the disk.
int plat_commit(int fd);
// Cuts the file (or extends it with zeros) to size bytes.
int plat_chsize(int fd, long size);
// Locks or unlocks count bytes from the descriptor's current position.
// Locks belong to the open file and go with its close or its process.
int plat_locking(int fd, int mode, long count);

// Reads or writes count bytes at offset, wherever the descriptor stands
// (where the OS allows, its position is left alone): the bytes moved, or -1.
// A stream on the descriptor must have nothing buffered.
long plat_pread(int fd, void* buf, size_t count, long offset);
long plat_pwrite(int fd, const void* buf, size_t count, long offset);
// The length of the open file, or -1.
long plat_file_length(int fd);
// The file's length when the open of fd had its share mode, or -1 where the
// open did not learn it.  It costs no call.
long plat_length_at_open(int fd);

// Locks or unlocks count bytes from offset, wherever the descriptor stands.
int plat_locking_at(int fd, int mode, long offset, long count);

// Wraps a descriptor in a C stream; mode letters as the Windows runtime
// takes them ("rb", "r+t", ...).
FILE* plat_fdopen(int fd, const char* mode);
// Wraps a descriptor just opened (standing at byte 0) in a stream without a
// buffer whose reads and writes go to the file at the stream's own position
// in one call each, and whose seeks and tells ask nothing of the OS (a seek
// from the end asks only the file's length); byte locks on its descriptor
// are placed at that position too.  Only the plat_f* calls may use it.  The
// library's sessions on control files use such streams: they read and write
// whole records at known places, many times per session.
FILE* plat_fdopen_direct(int fd, const char* mode);
int plat_fileno(FILE* stream);

// The C stream calls on the library's files: as the C runtime's own, with
// their failures noted.
size_t plat_fread(void* buf, size_t size, size_t count, FILE* stream);
size_t plat_fwrite(const void* buf, size_t size, size_t count, FILE* stream);
int plat_fseek(FILE* stream, long offset, int whence);
long plat_ftell(FILE* stream);
int plat_fflush(FILE* stream);
int plat_fclose(FILE* stream);
// Closes a stream without writing what it still buffers, as when its writes
// are given up.
void plat_fdiscard(FILE* stream);

// 0 when path exists (mode 0) or has the access asked for.
int plat_access(const char* path, int mode);

struct plat_stat {
  uint32_t size;
  uint32_t mtime;
  bool is_dir;
};
// 0 and the file's status, or -1.
int plat_stat32(const char* path, plat_stat* out);

// 0 on success, -1 with errno.  A file that another program holds open
// cannot be removed or renamed, and rename never replaces an existing target
// (file or folder, empty or not).
int plat_remove(const char* path);
int plat_unlink(const char* path);
int plat_rename(const char* from, const char* to);

// Creates one folder; 0 on success, -1 with errno (EEXIST when it exists).
int plat_mkdir(const char* path);
// Removes an empty folder; non-zero on success.
int plat_remove_directory(const char* path);

// The path a Windows-form path stands for on this system.
std::string plat_native_path(const char* path);

// ---------------------------------------------------------------------------
// The cause of a failure
// ---------------------------------------------------------------------------

constexpr size_t PLAT_CAUSE_PATH_SIZE = 512;

// The last failed OS call of the process among those noted: what it was
// ("open", "write", "flush", "rename", ...), the path the OS saw (empty when
// unknown; a value or key name for the registry), the C runtime's error
// number and the OS's text for it ("Permission denied", "No space left on
// device", or "held by another program" for a sharing conflict).
struct plat_cause {
  char call[16];
  char path[PLAT_CAUSE_PATH_SIZE];
  int error;
  char text[128];
};

// True and the cause when a noted call failed since the cause was last set.
bool plat_get_cause(plat_cause* out);
// Sets the cause (null forgets it), so that a caller can put back the cause
// it had before calls whose failures it expected and handled.
void plat_set_cause(const plat_cause* cause);

// ---------------------------------------------------------------------------
// Directory search
// ---------------------------------------------------------------------------

constexpr unsigned PLAT_ATTR_DIRECTORY = 0x10;

struct plat_find_data {
  unsigned attributes;
  char name[260];
};

using plat_find_handle = void*;

// Starts a search for a pattern whose last component may hold '*' and '?'
// (matched without regard to case; "*.*" also matches names without a dot;
// "." and ".." are reported as Windows reports them).  Returns a handle and
// the first match, or null when nothing matches.
plat_find_handle plat_find_first(const char* pattern, plat_find_data* out);
// Next match: 1, or 0 when the search is exhausted.
int plat_find_next(plat_find_handle handle, plat_find_data* out);
void plat_find_close(plat_find_handle handle);

// ---------------------------------------------------------------------------
// Drives and disk space
// ---------------------------------------------------------------------------

// Bit 0 = A: ... bit 25 = Z:.
unsigned long plat_logical_drives();
// Bytes available to the caller on the drive of root; non-zero on success.
int plat_disk_free_ex(const char* root, uint64_t* available);
// Cluster figures of the drive of root; non-zero on success.
int plat_disk_free(const char* root, uint32_t* sectors_per_cluster, uint32_t* bytes_per_sector,
                   uint32_t* free_clusters, uint32_t* total_clusters);

// ---------------------------------------------------------------------------
// Registry (HKEY_CURRENT_USER)
// ---------------------------------------------------------------------------

using plat_hkey = void*;

constexpr long PLAT_ERROR_SUCCESS = 0;
constexpr long PLAT_ERROR_FILE_NOT_FOUND = 2;
constexpr long PLAT_ERROR_ACCESS_DENIED = 5;
constexpr long PLAT_ERROR_MORE_DATA = 234;
constexpr long PLAT_ERROR_NO_MORE_ITEMS = 259;

constexpr unsigned long PLAT_REG_SZ = 1;
constexpr unsigned long PLAT_REG_DWORD = 4;

constexpr unsigned long PLAT_KEY_READ = 0x20019;
constexpr unsigned long PLAT_KEY_WRITE = 0x20006;

plat_hkey plat_hkey_current_user();
long plat_reg_open_key(plat_hkey parent, const char* subkey, unsigned long access, plat_hkey* out);
long plat_reg_create_key(plat_hkey parent, const char* subkey, plat_hkey* out);
long plat_reg_close_key(plat_hkey key);
// Deletes a key that has no sub-keys, with its values.
long plat_reg_delete_key(plat_hkey parent, const char* subkey);
// Sub-key number index in ascending order without regard to case.  On entry
// *length is the size of name; on success it is the length of the name.
long plat_reg_enum_key(plat_hkey key, unsigned long index, char* name, unsigned long* length);
// On entry *size is the size of data (data may be null to ask the size).
long plat_reg_query_value(plat_hkey key, const char* value, unsigned long* type, void* data,
                          unsigned long* size);
long plat_reg_set_value(plat_hkey key, const char* value, unsigned long type, const void* data,
                        unsigned long size);

// ---------------------------------------------------------------------------
// User interface
// ---------------------------------------------------------------------------

constexpr unsigned PLAT_MB_OK_TASKMODAL = 0x2000;

// Shows a message box without owner window; returns when it is dismissed.
int plat_message_box(const char* text, const char* caption, unsigned style);

// ---------------------------------------------------------------------------
// Clocks
// ---------------------------------------------------------------------------

// Milliseconds since the system started, wrapping at 2^32.
uint32_t plat_tick_count();
// Blocks the calling thread for ms milliseconds.
void plat_sleep(uint32_t ms);
// Seconds since 1970-01-01 UTC as an unsigned 32-bit value.
uint32_t plat_time32();
// Breaks t into local time; 0 on success.
int plat_localtime32(uint32_t t, std::tm* out);

// ---------------------------------------------------------------------------
// Code page
// ---------------------------------------------------------------------------

// The system's ANSI code page.
unsigned plat_acp();
// Largest character of the ANSI code page in bytes (1 or 2).
int plat_cp_max_char_size();
// Non-zero when byte is a lead byte of a double-byte character.
int plat_is_dbcs_lead_byte(unsigned char byte);
// The position of the character after the one at p (p itself at a NUL).
const char* plat_char_next(const char* p);

// ---------------------------------------------------------------------------
// Environment
// ---------------------------------------------------------------------------

// Sets (value not null) or removes (value null) an environment variable of
// this process.
int plat_setenv(const char* name, const char* value);

// ---------------------------------------------------------------------------
// Hooks
// ---------------------------------------------------------------------------

// A test may replace the pause, the clocks and the message box, so that a
// wait of 41 attempts runs in no time while the test counts the pauses, and
// so that the text of a pop-up can be read.  Null members keep the real
// call.  Not exported from the shared library.
//
// fault, when set, is asked before every call that changes a file: the
// opens that create or truncate, writes, seeks, flushes, commits, closes of
// streams, renames, removals, folders made or removed, and registry writes
// (call names "open", "write", "seek", "flush", "commit", "truncate",
// "close", "rename", "remove", "mkdir", "rmdir", "registry").  It returns 0 to let
// the call go on, or an errno value with which the call then fails without
// having been made.  The test-support library counts these calls there,
// makes the k-th fail, or ends the process at the k-th as a crash would.
//
// count, when set, hears of every call the library makes into this layer
// (the changing ones too): the benchmarks and the call budgets count them.
struct plat_hooks {
  void (*sleep)(uint32_t ms);
  uint32_t (*time32)();
  uint32_t (*tick_count)();
  int (*localtime32)(uint32_t t, std::tm* out);
  int (*message_box)(const char* text, const char* caption, unsigned style);
  int (*fault)(const char* call);
  void (*count)(const char* call);
};

// Installs hooks (null restores every real call).
void plat_set_hooks(const plat_hooks* hooks);

// Uses code page cp instead of the system's (0 returns to the system's).
void plat_set_codepage(unsigned cp);

// The seam's process-wide state back to its value at load: real calls, the
// system's code page, no cause, no open file remembered.
void plat_reset_state();

// ---------------------------------------------------------------------------
// Console
// ---------------------------------------------------------------------------

// Makes standard output binary (no CR inserted before LF).
void plat_stdout_binary();
// Makes standard input binary (CR LF read as it is).
void plat_stdin_binary();
// True when descriptor fd (0 input, 1 output, 2 errors) is a terminal.
bool plat_isatty(int fd);
// From now on the console's interrupt and termination requests (Ctrl-C,
// SIGINT and SIGTERM; Ctrl-Break and closing the console on Windows) no
// longer end the process: they are counted, and plat_interrupts tells how
// many came, so that a program can stop between two calls of the library.
void plat_catch_interrupts();
int plat_interrupts();

// ---------------------------------------------------------------------------
// Settings of this system
// ---------------------------------------------------------------------------

struct plat_setting {
  std::string name;    // "store root", "drive C:", "registry", "code page"
  std::string value;
  std::string source;  // "environment (CLASSIC_ROOT)", "default", "system", ...
};

// Where this system keeps the drives, the registry and the code page, and
// where each of those came from.
std::vector<plat_setting> plat_settings();
// Columns of the terminal behind descriptor fd; 0 when it is none.
int plat_terminal_width(int fd);
// Text written to the console is UTF-8 (Windows: the console's output code
// page becomes 65001; elsewhere terminals take UTF-8 as it is).
void plat_console_utf8();
