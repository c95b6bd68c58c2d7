#include "support/store_test.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include "admin/reset.h"
#include "errlog/errlog.h"
#include "platform/platform.h"
#include "platform/testing/testing.h"

namespace testenv {

std::vector<uint32_t> pauses;
std::function<void()> on_pause;
std::vector<std::string> popups;
uint32_t fixed_time = 0;
uint32_t fixed_ticks = 0;

namespace {

void count_pause(uint32_t ms) {
  pauses.push_back(ms);
  if (on_pause) on_pause();
}

uint32_t hooked_time() { return fixed_time ? fixed_time : static_cast<uint32_t>(std::time(nullptr)); }

uint32_t hooked_ticks() { return fixed_ticks; }

// Local time is taken as UTC in the tests, whatever the machine's zone.
int utc_localtime(uint32_t t, std::tm* out) {
  std::time_t tt = static_cast<std::time_t>(t);
  std::tm* r = std::gmtime(&tt);
  if (!r) return -1;
  *out = *r;
  return 0;
}

int catch_popup(const char* text, const char* caption, unsigned) {
  popups.push_back(std::string(caption ? caption : "") + "\n" + (text ? text : ""));
  return 1;
}

}  // namespace

std::string native(const std::string& path) { return plat_native_path(path.c_str()); }

bool exists(const std::string& path) { return plat_access(path.c_str(), 0) == 0; }

void make_dirs(const std::string& path) {
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '\\' || path[i] == '/') {
      std::string prefix = path.substr(0, i);
      if (prefix.empty() || (prefix.size() == 2 && prefix[1] == ':')) continue;
      if (!exists(prefix)) plat_mkdir(prefix.c_str());
    }
  }
}

void write_file(const std::string& path, const std::string& bytes) {
  size_t cut = path.find_last_of("\\/");
  if (cut != std::string::npos) make_dirs(path.substr(0, cut));
  std::ofstream out(native(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::string read_file(const std::string& path) {
  std::ifstream in(native(path), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<LOG_RECORD> log_records() {
  std::vector<LOG_RECORD> out;
  std::string bytes = read_file(LOG_PATH);
  if (bytes.size() < sizeof(LOG_HEADER)) return out;
  LOG_HEADER h;
  std::memcpy(&h, bytes.data(), sizeof h);
  for (int s = h.oldest; s != h.next; s = (s + 1) % LOG_SLOTS) {
    LOG_RECORD r;
    std::memset(&r, 0, sizeof r);
    size_t at = static_cast<size_t>(log_slot_offset(s));
    if (at + sizeof r <= bytes.size()) std::memcpy(&r, bytes.data() + at, sizeof r);
    out.push_back(r);
  }
  return out;
}

std::vector<int> log_codes() {
  std::vector<int> codes;
  for (const LOG_RECORD& r : log_records()) codes.push_back(r.code);
  return codes;
}

}  // namespace testenv

void StoreTest::SetUp() {
  std::string error;
  ASSERT_TRUE(plat_test_fresh_root(&error)) << error;
  for (const char* var : {"QUEUE", "NORECOVER", "ZELTORA", "CLASSIC_CODEPAGE"}) {
    plat_setenv(var, nullptr);
  }
  testenv::pauses.clear();
  testenv::on_pause = nullptr;
  testenv::popups.clear();
  testenv::fixed_time = 0;
  testenv::fixed_ticks = 0;
  reset_library_state();
}

void reset_library_state() {
  reset_all();
  plat_hooks hooks{};
  hooks.sleep = testenv::count_pause;
  hooks.time32 = testenv::hooked_time;
  hooks.tick_count = testenv::hooked_ticks;
  hooks.message_box = testenv::catch_popup;
  hooks.localtime32 = testenv::utc_localtime;
  hooks.fault = plat_test_fault_hook;
  hooks.count = plat_test_count_hook;
  plat_set_hooks(&hooks);
  plat_test_faults(0, 0, 0);
}

void StoreTest::TearDown() {
  testenv::on_pause = nullptr;
  reset_all();
  plat_test_drop_root();
}
