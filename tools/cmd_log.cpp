// The error log, newest record first, each shown as the log's own report
// text: its header line (date, time, code, class) and its message lines.
#include <ostream>

#include "commands.h"

namespace tool {

namespace {

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
  std::vector<AdminLogRecord> records;
  if (!admin_read_log(a.count, &records)) {
    return fail(c, std::string("log ") + admin_log_path(), "the log cannot be read");
  }
  nlohmann::json list = nlohmann::json::array();
  for (const AdminLogRecord& r : records) {
    if (a.json) {
      nlohmann::json j;
      j["time"] = r.time;
      j["local"] = local_time(r.time);
      j["code"] = r.code;
      j["class"] = r.error_class;
      j["class_name"] = admin_class_name(r.error_class);
      j["task_id"] = r.task_id;
      nlohmann::json jl = nlohmann::json::array();
      for (const std::string& t : r.lines) jl.push_back(text_json(t));
      j["lines"] = jl;
      list.push_back(j);
      continue;
    }
    c.out << plain_lines(admin_report_text(r));
  }
  if (a.json) {
    print_json(c.out, list);
  } else if (records.empty() && a.count != 0) {
    c.out << "the error log holds no records\n";
  }
  return TOOL_OK;
}

}  // namespace tool
