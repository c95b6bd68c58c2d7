// Clocks, the message box, the code page and the environment on Linux.
#include <signal.h>
#include <unistd.h>

#include <csignal>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/backend.h"
#include "platform/platform.h"
#include "platform/posix/posix_paths.h"

void backend_sleep(uint32_t ms) {
  struct timespec ts;
  ts.tv_sec = ms / 1000;
  ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

uint32_t backend_time32() { return static_cast<uint32_t>(std::time(nullptr)); }

uint32_t backend_tick_count() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

int backend_localtime32(uint32_t t, std::tm* out) {
  time_t tt = static_cast<time_t>(t);
  return localtime_r(&tt, out) ? 0 : -1;
}

// There is no desktop to show a box on: the caption and the text go to
// standard error and the call returns at once, as if OK had been pressed.
int backend_message_box(const char* text, const char* caption, unsigned) {
  std::fprintf(stderr, "%s\n%s\n", caption ? caption : "", text ? text : "");
  std::fflush(stderr);
  return 1;
}

// ---------------------------------------------------------------------------
// Code page: CLASSIC_CODEPAGE (default 1252, single-byte); 932, 936, 949 and
// 950 are double-byte with the lead-byte ranges Windows gives them.
// ---------------------------------------------------------------------------

namespace {

// The code page from the environment, read once: names are scanned a
// character at a time, and the environment is no place to look that often.
// 0 until read; plat_setenv and backend_reset_state make it read again.
unsigned g_env_codepage = 0;

unsigned current_codepage() {
  if (unsigned cp = codepage_override()) return cp;
  if (g_env_codepage == 0) {
    g_env_codepage = 1252;
    const char* env = std::getenv("CLASSIC_CODEPAGE");
    if (env && *env) {
      long cp = std::strtol(env, nullptr, 10);
      if (cp > 0) g_env_codepage = static_cast<unsigned>(cp);
    }
  }
  return g_env_codepage;
}

}  // namespace

void backend_reset_state() {
  g_env_codepage = 0;
  posix_forget_listings();
}

unsigned plat_acp() { return current_codepage(); }

int plat_cp_max_char_size() {
  switch (current_codepage()) {
    case 932: case 936: case 949: case 950: return 2;
    default: return 1;
  }
}

int plat_is_dbcs_lead_byte(unsigned char byte) {
  switch (current_codepage()) {
    case 932: return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    case 936: case 949: case 950: return byte >= 0x81 && byte <= 0xFE;
    default: return 0;
  }
}

const char* plat_char_next(const char* p) {
  if (*p == 0) return p;
  if (plat_is_dbcs_lead_byte(static_cast<unsigned char>(*p)) && p[1] != 0) return p + 2;
  return p + 1;
}

int plat_setenv(const char* name, const char* value) {
  g_env_codepage = 0;
  return value ? setenv(name, value, 1) : unsetenv(name);
}

std::string plat_native_path(const char* path) { return posix_map_path(path); }

std::string backend_native_path(const char* path) { return posix_map_path(path); }

void plat_stdout_binary() {}

void plat_stdin_binary() {}

bool plat_isatty(int fd) { return isatty(fd) == 1; }

namespace {

// Counted by the signal handler, read by the program: the one piece of
// state a handler may touch.
volatile std::sig_atomic_t g_interrupts = 0;

void count_interrupt(int) { g_interrupts = g_interrupts + 1; }

}  // namespace

void plat_catch_interrupts() {
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = count_interrupt;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;  // calls in progress go on
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

int plat_interrupts() { return static_cast<int>(g_interrupts); }
