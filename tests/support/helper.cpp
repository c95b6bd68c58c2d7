#include "support/helper.h"

#include <atomic>
#include <cstdio>
#include <map>
#include <string>

#include "platform/platform.h"
#include "platform/testing/testing.h"

namespace {

std::map<std::string, HelperFunction>& registry() {
  static std::map<std::string, HelperFunction> r;
  return r;
}

std::string g_ready_mark;
std::string g_release_mark;

bool mark_exists(const std::string& path) { return plat_access(path.c_str(), 0) == 0; }

void make_mark(const std::string& path) {
  int fd = plat_sopen(path.c_str(), 0x0001 | 0x0100 | 0x8000, PLAT_SH_DENYNO, 0x0180);
  if (fd >= 0) plat_close(fd);
}

int g_next_mark = 0;

// Marks lie in the root of drive C:, away from the store tree the tests look
// at, and are removed when the helper is done.
std::string new_mark(const char* kind) {
  return "c:\\classic-helper-" + std::to_string(plat_tick_count()) + "-" +
         std::to_string(++g_next_mark) + "." + kind;
}

}  // namespace

HelperRegistration::HelperRegistration(const char* name, HelperFunction fn) {
  registry()[name] = fn;
}

void helper_ready() { make_mark(g_ready_mark); }

void helper_wait_release() {
  for (int i = 0; i < 6000 && !mark_exists(g_release_mark); ++i) plat_sleep(10);
}

void helper_die() { plat_exit_now(3); }

Helper::Helper(const std::string& name, const std::vector<std::string>& args)
    : ready_(new_mark("ready")), release_(new_mark("release")) {
  std::vector<std::string> argv = {plat_self_path(), "--classic-helper", name, ready_, release_};
  argv.insert(argv.end(), args.begin(), args.end());
  process_ = plat_spawn(argv);
}

Helper::~Helper() {
  if (process_) {
    release();
    if (plat_wait(process_, 10000) < 0) plat_kill(process_);
  }
  plat_unlink(ready_.c_str());
  plat_unlink(release_.c_str());
}

bool Helper::wait_ready(uint32_t timeout_ms) {
  if (!process_) return false;
  // Real time passes here, whatever hooks the test has installed.
  for (uint32_t waited = 0; waited < timeout_ms; waited += 5) {
    if (mark_exists(ready_)) return true;
    if ((exit_code_ = plat_wait(process_, 5)) >= 0) {
      process_ = 0;
      return mark_exists(ready_);
    }
  }
  return false;
}

void Helper::release() { make_mark(release_); }

int Helper::finish(uint32_t timeout_ms) {
  if (!process_) return exit_code_;
  release();
  int code = plat_wait(process_, timeout_ms);
  if (code >= 0) process_ = 0;
  return code;
}

bool Helper::kill() {
  if (!process_) return false;
  exit_code_ = plat_wait(process_, 0);
  if (exit_code_ < 0) plat_kill(process_);
  process_ = 0;
  return exit_code_ < 0;
}

int run_helper_if_asked(int argc, char** argv) {
  if (argc < 5 || std::string(argv[1]) != "--classic-helper") return -1;
  auto it = registry().find(argv[2]);
  if (it == registry().end()) {
    std::fprintf(stderr, "no helper named %s\n", argv[2]);
    return 2;
  }
  g_ready_mark = argv[3];
  g_release_mark = argv[4];
  std::vector<std::string> args(argv + 5, argv + argc);
  return it->second(args);
}
