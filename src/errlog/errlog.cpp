// The error log.
//
// A report is stamped with the local date and time, formatted into a text of
// at most 1024 bytes (a 74-character header line, up to three message lines,
// CR LF), shown in a pop-up when it is fatal, and stored as one 248-byte
// record in the ring file.  The file is opened, locked, updated and closed
// for every report, so reports from many processes continue one ring.
#include "errlog/errlog.h"

#include <boost/format.hpp>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "classic.h"
#include "errlog/log_format.h"
#include "base/lockfile.h"
#include "platform/platform.h"

const char* const g_messages[MSG_COUNT] = {
    MSG_LOCK_TIMEOUT,
    MSG_UNEXPECTED_LOCK,
    MSG_VERSION_MISMATCH,
    MSG_VERSION_MISMATCH,
    MSG_LOG_HEADER,
    "A",
    "P",
    "DEBUG    ",
    "STATE    ",
    "USER     ",
    "EXECUTION",
    "POPUP    ",
    "FATAL    ",
};

namespace {

constexpr int kTextSize = 1024;
constexpr int kHeaderLength = 74;
constexpr int kMorning = 5;
constexpr int kAfternoon = 6;
constexpr int kClassNames = 7;
constexpr int kMaxPlaceholders = 20;
// Room for the message: the header, two inserted CR + two blanks, the
// closing CR LF and the NUL must fit around it.
constexpr size_t kMaxMessage = kTextSize - kHeaderLength - 2 * 3 - 3;

// The header line: the template's inserts %1 to %9 replaced by their fields.
std::string header_line(const std::tm& tm, int8_t error_class, uint16_t code) {
  char fields[10][16];
  int hour12 = tm.tm_hour % 12 == 0 ? 12 : tm.tm_hour % 12;
  std::snprintf(fields[1], sizeof fields[1], "%02d", tm.tm_year % 100);
  std::snprintf(fields[2], sizeof fields[2], "%02d", tm.tm_mon + 1);
  std::snprintf(fields[3], sizeof fields[3], "%02d", tm.tm_mday);
  std::snprintf(fields[4], sizeof fields[4], "%02d", hour12);
  std::snprintf(fields[5], sizeof fields[5], "%02d", tm.tm_min);
  std::snprintf(fields[6], sizeof fields[6], "%02d", tm.tm_sec);
  std::snprintf(fields[7], sizeof fields[7], "%1.1s",
                g_messages[tm.tm_hour >= 12 ? kAfternoon : kMorning]);
  std::snprintf(fields[8], sizeof fields[8], "%05u", static_cast<unsigned>(code));
  const char* name = (error_class >= LOG_CLASS_DEBUG && error_class <= LOG_CLASS_FATAL)
                         ? g_messages[kClassNames + error_class]
                         : "";
  std::snprintf(fields[9], sizeof fields[9], "%-9.9s", name);
  std::string out;
  for (const char* p = MSG_LOG_HEADER; *p; ++p) {
    if (p[0] == '%' && p[1] >= '1' && p[1] <= '9') {
      out += fields[p[1] - '0'];
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

// A positional template fed with C strings, one for each placeholder
// "%n%" present from n = 1 on.  A template that does not format is kept as
// it is.
std::string positional(const char* message, va_list args) {
  try {
    boost::format f(message);
    for (int n = 1; n <= kMaxPlaceholders; ++n) {
      char placeholder[8];
      std::snprintf(placeholder, sizeof placeholder, "%%%d%%", n);
      if (!std::strstr(message, placeholder)) break;
      const char* arg = va_arg(args, const char*);
      f % (arg ? arg : "");
    }
    return f.str();
  } catch (...) {
    return message;
  }
}

struct Report {
  std::string text;           // header, message lines, CR LF
  std::string lines[LOG_LINES];
  int line_count = 1;
};

// Breaks the message into at most three lines; every further line is shown
// indented by two blanks.
Report layout(const std::string& header, const std::string& message) {
  Report r;
  std::string body;
  size_t start = 0;
  for (size_t i = 0; i < message.size(); ++i) {
    if (message[i] != '\n') {
      body += message[i];
      continue;
    }
    if (r.line_count == LOG_LINES) break;  // a fourth line is dropped
    r.lines[r.line_count - 1] = body.substr(start);
    body += "\r\n  ";
    start = body.size();
    ++r.line_count;
  }
  r.lines[r.line_count - 1] = body.substr(start);
  r.text = header + body + "\r\n";
  return r;
}

void store(const Report& report, uint32_t when, int8_t error_class, uint16_t code) {
  FILE* log = lock_open(LOG_PATH, CLASSIC_O_RDWR | CLASSIC_O_CREAT | CLASSIC_O_BINARY,
                        CLASSIC_S_IREAD | CLASSIC_S_IWRITE, LOCK_TRIES, LOCK_DELAY_MS, false);
  if (!log) {
    // Without the header of the file no record can be placed; writing one
    // later would put a header built from nothing over the ring.
    fatal_popup("Error opening error log file");
    return;
  }
  // A new, empty log starts its ring at slot 0; a header that cannot be
  // read is not replaced by one made from nothing.
  LOG_HEADER header = {0, 0, 0};
  if (plat_fseek(log, 0, SEEK_SET) != 0) {
    classic_lock_close(log);
    return;
  }
  if (plat_fread(&header, sizeof header, 1, log) != 1) {
    if (std::ferror(log)) {
      classic_lock_close(log);
      return;
    }
    header = LOG_HEADER{0, 0, 0};
  }
  header.oldest %= LOG_SLOTS;
  header.mark %= LOG_SLOTS;
  header.next %= LOG_SLOTS;
  if ((header.next + 1) % LOG_SLOTS == header.oldest) {
    if (header.mark == header.oldest) header.mark = (header.mark + 1) % LOG_SLOTS;
    header.oldest = (header.oldest + 1) % LOG_SLOTS;
  }
  LOG_RECORD record;
  std::memset(&record, 0, sizeof record);
  record.time = static_cast<int32_t>(when);
  record.error_class = static_cast<uint8_t>(error_class);
  record.line_count = static_cast<uint8_t>(report.line_count);
  record.code = code;
  record.task_id = static_cast<uint16_t>(task_id());
  for (int i = 0; i < report.line_count; ++i) {
    std::snprintf(record.lines[i], LOG_LINE_SIZE, "%.*s", LOG_LINE_CHARS, report.lines[i].c_str());
  }
  // The header counts the record only once the record is written.
  if (plat_fseek(log, log_slot_offset(header.next), SEEK_SET) == 0 &&
      plat_fwrite(&record, sizeof record, 1, log) == 1) {
    header.next = (header.next + 1) % LOG_SLOTS;
    if (plat_fseek(log, 0, SEEK_SET) == 0) plat_fwrite(&header, sizeof header, 1, log);
  }
  classic_lock_close(log);
}

Report make_report(uint32_t when, int8_t error_class, uint16_t code, const std::string& message) {
  std::tm tm;
  std::memset(&tm, 0, sizeof tm);
  plat_localtime32(when, &tm);
  return layout(header_line(tm, error_class, code), message.substr(0, kMaxMessage));
}

void report(int8_t error_class, uint16_t code, const std::string& message) try {
  // The log's own failures are not the cause of what is being reported.
  plat_cause before;
  bool had_cause = plat_get_cause(&before);
  uint32_t now = plat_time32();
  Report r = make_report(now, error_class, code, message);
  if (error_class == LOG_CLASS_FATAL) fatal_popup(r.text.c_str());
  store(r, now, error_class, code);
  plat_set_cause(had_cause ? &before : nullptr);
} catch (...) {
  // A report that cannot even be formatted (memory exhausted) is lost; the
  // caller's operation goes on.
}

}  // namespace

std::string report_text(uint32_t when, int8_t error_class, uint16_t code, const std::string& message) {
  return make_report(when, error_class, code, message).text;
}

void report_lock_timeout() {
  log_error_text(LOG_CLASS_EXECUTION, REPORT_LOCK_TIMEOUT, MSG_LOCK_TIMEOUT);
}

void fatal_popup(const char* text) { plat_message_box(text, "FATAL ERROR", PLAT_MB_OK_TASKMODAL); }

void log_error(int8_t error_class, uint16_t code, const char* message, ...) try {
  if (!message) message = "";
  std::string text;
  va_list args;
  va_start(args, message);
  if (std::strstr(message, "%1%")) {
    text = positional(message, args);
  } else if (std::strstr(message, "%1") || !std::strchr(message, '%')) {
    text = message;
  } else {
    char formatted[kMaxMessage + 1];
    std::vsnprintf(formatted, sizeof formatted, message, args);
    text = formatted;
  }
  va_end(args);
  report(error_class, code, text);
} catch (...) {
}

void log_error_text(int8_t error_class, uint16_t code, const char* text) try {
  report(error_class, code, text ? text : "");
} catch (...) {
}
