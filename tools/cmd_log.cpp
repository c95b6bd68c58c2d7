// The error log, newest record first, each shown as the log's own report
// text: its header line (date, time, code, class) and its message lines.
// Filters pick records by code, class and time; --follow then shows the
// records that come, oldest first, until Ctrl-C.
#include <cctype>
#include <ostream>
#include <tuple>

#include "commands.h"

namespace tool {

namespace {

// A pause between two looks at the log while following it.
constexpr uint32_t kFollowPause = 1000;

// The report text with CR LF turned into the line ends of this output.
std::string plain_lines(const std::string& text) {
  std::string out;
  for (char ch : text) {
    if (ch != '\r') out += ch;
  }
  return out;
}

struct Filter {
  long code = -1;
  int error_class = -1;
  uint32_t since = 0;
  uint32_t until = 0;  // 0: no end
  bool keeps(const AdminLogRecord& r) const {
    return (code < 0 || r.code == static_cast<unsigned>(code)) && (error_class < 0 || r.error_class == error_class) &&
           r.time >= since && (until == 0 || r.time < until);
  }
};

// The filter of the arguments, or the reason it is none.
bool make_filter(const Args& a, Filter* f, std::string* why) {
  f->code = a.code;
  if (!a.log_class.empty()) {
    std::string name = a.log_class;
    for (char& ch : name) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    for (int k = 0; k <= 5; ++k) {
      if (name == admin_class_name(k) || name == std::to_string(k)) f->error_class = k;
    }
    if (f->error_class < 0) {
      *why = "log class '" + a.log_class + "' is none of DEBUG, STATE, USER, EXECUTION, POPUP, FATAL (or 0 to 5)";
      return false;
    }
  }
  for (auto [text, out, option] : {std::tuple{&a.since, &f->since, "--since"}, std::tuple{&a.until, &f->until, "--until"}}) {
    if (!text->empty() && !admin_parse_local_time(*text, out)) {
      *why = std::string(option) + " '" + *text + "' is not a local time (YYYY-MM-DD[ HH:MM[:SS]])";
      return false;
    }
  }
  return true;
}

nlohmann::json record_json(const AdminLogRecord& r) {
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
  return j;
}

bool same_record(const AdminLogRecord& a, const AdminLogRecord& b) {
  return a.slot == b.slot && a.time == b.time && a.code == b.code && a.lines == b.lines;
}

// Shows the records that came since newest (the newest record seen), oldest
// first, one JSON object a line with --json; newest becomes the latest.
void show_new(Console& c, const Args& a, const Filter& filter, const std::vector<AdminLogRecord>& records,
              AdminLogRecord* newest, bool* seen) {
  size_t fresh = 0;
  while (fresh < records.size() && !(*seen && same_record(records[fresh], *newest))) ++fresh;
  for (size_t i = fresh; i-- > 0;) {
    if (!filter.keeps(records[i])) continue;
    if (a.json) {
      c.out << record_json(records[i]).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    } else {
      c.out << admin_name_to_utf8(plain_lines(admin_report_text(records[i])));
    }
  }
  c.out.flush();
  if (!records.empty()) {
    *newest = records.front();
    *seen = true;
  }
}

}  // namespace

int cmd_log(Console& c, const Args& a) {
  Filter filter;
  std::string why;
  if (!make_filter(a, &filter, &why)) return usage(c, why);
  std::vector<AdminLogRecord> records;
  if (!admin_read_log(-1, &records)) {
    return fail(c, std::string("log ") + admin_log_path(), "the log cannot be read");
  }
  std::vector<AdminLogRecord> shown_records;
  for (const AdminLogRecord& r : records) {
    if (a.count >= 0 && shown_records.size() >= static_cast<size_t>(a.count)) break;
    if (filter.keeps(r)) shown_records.push_back(r);
  }
  if (a.follow) {
    // The records so far oldest first, as the ones that come after them.
    AdminLogRecord newest;
    bool seen = false;
    std::vector<AdminLogRecord> first(shown_records);
    show_new(c, a, Filter{}, first, &newest, &seen);
    if (!records.empty()) {
      newest = records.front();
      seen = true;
    }
    while (!interrupted()) {
      admin_pause(kFollowPause);
      if (interrupted()) break;
      if (!admin_read_log(-1, &records)) return fail(c, std::string("log ") + admin_log_path(), "the log cannot be read");
      show_new(c, a, filter, records, &newest, &seen);
    }
    return TOOL_OK;
  }
  if (a.json) {
    nlohmann::json list = nlohmann::json::array();
    for (const AdminLogRecord& r : shown_records) list.push_back(record_json(r));
    print_json(c.out, list);
    return TOOL_OK;
  }
  for (const AdminLogRecord& r : shown_records) c.out << admin_name_to_utf8(plain_lines(admin_report_text(r)));
  if (shown_records.empty() && a.count != 0) {
    c.out << (records.empty() ? "the error log holds no records\n" : "no record of the error log is of that kind\n");
  }
  return TOOL_OK;
}

}  // namespace tool
