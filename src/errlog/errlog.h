// The error log: every failure worth keeping is stored as one record in a
// ring file that all programs of the machine share, and a fatal report is
// first shown in a pop-up.
#pragma once

#include <cstdint>
#include <string>

#include "base/names.h"

// Error classes.
constexpr int8_t LOG_CLASS_DEBUG = 0;
constexpr int8_t LOG_CLASS_STATE = 1;
constexpr int8_t LOG_CLASS_USER = 2;
constexpr int8_t LOG_CLASS_EXECUTION = 3;  // every report this library makes
constexpr int8_t LOG_CLASS_POPUP = 4;
constexpr int8_t LOG_CLASS_FATAL = 5;      // shown in a pop-up, then stored

// The message table, in order.
constexpr int MSG_COUNT = 13;
extern const char* const g_messages[MSG_COUNT];

constexpr const char* MSG_LOCK_TIMEOUT = "Lock_open:  Time out  or  permission denied";
constexpr const char* MSG_UNEXPECTED_LOCK =
    "Unexpected Lock: Ctl file isn't OS locked, but the trailer is locked";
constexpr const char* MSG_VERSION_MISMATCH =
    "Executable database version doesn't match data in current storage area.";
constexpr const char* MSG_LOG_HEADER =
    "> DATE: %1-%2-%3    TIME: %4:%5:%6%7    CODE: %8    CLASS: %9\r\n  ";

// The codes this library reports (all with class EXECUTION).
constexpr uint16_t REPORT_LOCKED_OUT = 54000;       // trailer locked by a session that is gone
constexpr uint16_t REPORT_VERSION = 54000;          // format version mismatch
constexpr uint16_t REPORT_OPEN_WRITER = 54011;      // open or raw read waited out a writer
constexpr uint16_t REPORT_OPEN_READERS = 54012;     // open for writing waited out readers
constexpr uint16_t REPORT_CREATE_BUSY = 54014;      // creation waited out its budget
constexpr uint16_t REPORT_DELETE_WRITER = 54015;
constexpr uint16_t REPORT_DELETE_READERS = 54016;
constexpr uint16_t REPORT_RENAME_WRITER = 54017;
constexpr uint16_t REPORT_LOCK_TIMEOUT = 54018;     // lock-file opener gave up
constexpr uint16_t REPORT_NOT_SYNCED = 54021;       // data file lacks the previous slot
constexpr uint16_t REPORT_FLUSH_OPEN = 54022;       // header flush when opening an item
constexpr uint16_t REPORT_FLUSH_NEW = 54023;        // header flush of a new data file
constexpr uint16_t REPORT_FLUSH_FILL = 54024;       // header flush of the data file being filled
constexpr uint16_t REPORT_STALE_RECOVERED = 54026;  // stale trailer repaired by a creation
constexpr uint16_t REPORT_SLOT_TAKEN = 54027;       // next slot taken, repair failed
constexpr uint16_t REPORT_FILE_EXISTS = 54028;      // new data file exists, repair failed
constexpr uint16_t REPORT_MADE_CORRUPT = 54050;     // a session would write a lost-looking trailer
constexpr uint16_t REPORT_RECOVERED = 54051;        // corrupt trailer repaired at open
constexpr uint16_t REPORT_NOT_RECOVERED = 54052;    // corrupt trailer not repaired
// Reported by the store keeper's repair (src/admin), never by an item
// operation: one record for each change it made to a store, the file in the
// first line and what was changed in the others.
constexpr uint16_t REPORT_REPAIRED = 54060;

constexpr const char* MSG_FLUSH_FAILED = "IO ERROR DURING FFLUSH";
constexpr const char* MSG_NOT_SYNCED = "DATA_DIR NOT SYNCED. RECOVERING.";
constexpr const char* MSG_TRAILER_RECOVERED = "INVARIANT FAILURE. Corrupt trailer recovered.";
constexpr const char* MSG_TRAILER_NOT_RECOVERED = "INVARIANT FAILURE. Recover trailer FAILED!";
constexpr const char* MSG_RUN_KORVISK =
    "INVARIANT FAILURE. Recover trailer FAILED! please run korvisk.";
constexpr const char* MSG_TRAILER_MADE_CORRUPT = "INVARIANT FAILURE. trailer MADE corrupt.";


// Stores a report.  The message is used in one of four ways, tested in this
// order: it holds "%1%" (a positional template, fed with the following C
// string arguments, one per placeholder "%n%" present from n = 1 on); it
// holds "%1" (stored as it is); it holds "%" (a printf template formatted
// from the following arguments); anything else is stored as it is.
void log_error(int8_t error_class, uint16_t code, const char* message, ...);

// Stores a report whose text is already formatted; the text is never taken
// as a template, whatever it holds.
void log_error_text(int8_t error_class, uint16_t code, const char* text);

// The text of a report as the fatal pop-up shows it: the header line made
// from the local time of when, the class and the code, then the message in at
// most three lines (the second and third indented by two blanks), CR LF.
std::string report_text(uint32_t when, int8_t error_class, uint16_t code, const std::string& message);

// Shows text in a task-modal message box captioned "FATAL ERROR".
void fatal_popup(const char* text);
