// The error log: every failure worth keeping is stored as one record in a
// ring file that all programs of the machine share, and a fatal report is
// first shown in a pop-up.
#pragma once

#include <cstdint>
#include <string>

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

// The shared log file.
constexpr const char* LOG_PATH = "C:\\USERROOT\\SYSTEM\\ERROR\\LOGFILE.DAT";

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
