// The error log, newest record first, each shown as the log's own report
// text: its header line (date, time, code, class) and its message lines.
#include <cstring>
#include <ostream>

#include "commands.h"
#include "errlog/errlog.h"
#include "errlog/log_format.h"
#include "platform/platform.h"

namespace tool {

namespace {

constexpr long kLogSize = log_slot_offset(LOG_SLOTS);

// The log file's bytes, read without taking its lock byte.  An empty
// string when there is no log; false when it cannot be read.
bool read_log(std::string* bytes) {
  bytes->clear();
  if (plat_access(LOG_PATH, 0) != 0) return true;
  if (!read_shared_file(LOG_PATH, bytes)) return false;
  if (bytes->size() > static_cast<size_t>(kLogSize)) bytes->resize(static_cast<size_t>(kLogSize));
  return true;
}

const char* class_name(int error_class) {
  static const char* const names[] = {"DEBUG", "STATE", "USER", "EXECUTION", "POPUP", "FATAL"};
  return error_class >= 0 && error_class <= 5 ? names[error_class] : "UNKNOWN";
}

// The report text with CR LF turned into the line ends of this output.
std::string plain_lines(const std::string& text) {
  std::string out;
  for (char ch : text) {
    if (ch != '\r') out += ch;
  }
  return out;
}

}  // namespace

int cmd_log(Console& c, const Args& a) {
  std::string bytes;
  if (!read_log(&bytes)) return fail(c, std::string("log ") + LOG_PATH, "the log cannot be read");
  LOG_HEADER header = {0, 0, 0};
  if (bytes.size() >= sizeof header) std::memcpy(&header, bytes.data(), sizeof header);
  header.oldest %= LOG_SLOTS;
  header.next %= LOG_SLOTS;

  // Newest first: from next - 1 back to oldest.
  std::vector<LOG_RECORD> records;
  for (int slot = header.next; slot != header.oldest;) {
    slot = (slot + LOG_SLOTS - 1) % LOG_SLOTS;
    if (a.count >= 0 && records.size() >= static_cast<size_t>(a.count)) break;
    LOG_RECORD r;
    std::memset(&r, 0, sizeof r);
    size_t at = static_cast<size_t>(log_slot_offset(slot));
    if (at + sizeof r <= bytes.size()) std::memcpy(&r, bytes.data() + at, sizeof r);
    records.push_back(r);
  }

  nlohmann::json list = nlohmann::json::array();
  for (const LOG_RECORD& r : records) {
    int lines = r.line_count < 1 ? 1 : (r.line_count > LOG_LINES ? LOG_LINES : r.line_count);
    std::vector<std::string> text;
    std::string message;
    for (int i = 0; i < lines; ++i) {
      text.emplace_back(r.lines[i], strnlen(r.lines[i], LOG_LINE_SIZE));
      message += (i ? "\n" : "") + text.back();
    }
    uint32_t when = static_cast<uint32_t>(r.time);
    if (a.json) {
      nlohmann::json j;
      j["time"] = when;
      j["local"] = local_time(when);
      j["code"] = static_cast<unsigned>(r.code);
      j["class"] = static_cast<unsigned>(r.error_class);
      j["class_name"] = class_name(r.error_class);
      j["task_id"] = static_cast<unsigned>(r.task_id);
      nlohmann::json jl = nlohmann::json::array();
      for (const std::string& t : text) jl.push_back(text_json(t));
      j["lines"] = jl;
      list.push_back(j);
      continue;
    }
    c.out << plain_lines(report_text(when, static_cast<int8_t>(r.error_class), r.code, message));
  }
  if (a.json) {
    print_json(c.out, list);
  } else if (records.empty() && a.count != 0) {
    c.out << "the error log holds no records\n";
  }
  return TOOL_OK;
}

}  // namespace tool
