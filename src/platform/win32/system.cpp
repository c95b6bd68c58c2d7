// Clocks, the message box, the code page and the environment on Windows.
#include "platform/win32/win32.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/backend.h"
#include "platform/platform.h"

void backend_sleep(uint32_t ms) { Sleep(ms); }

// The 32-bit clock of the runtime, read through the 64-bit call that every
// msvcrt.dll exports.
uint32_t backend_time32() { return static_cast<uint32_t>(_time64(nullptr)); }

uint32_t backend_tick_count() { return GetTickCount(); }

int backend_localtime32(uint32_t t, std::tm* out) {
  __time64_t tt = static_cast<__time64_t>(t);
  std::tm* r = _localtime64(&tt);
  if (!r) return -1;
  *out = *r;
  return 0;
}

int backend_message_box(const char* text, const char* caption, unsigned style) {
  return MessageBoxA(nullptr, text, caption, style);
}

// A code page chosen by plat_set_codepage is served by the *Ex calls; the
// system's own by the plain ones.
unsigned plat_acp() {
  unsigned cp = codepage_override();
  return cp ? cp : GetACP();
}

int plat_cp_max_char_size() {
  CPINFO info;
  unsigned cp = codepage_override();
  if (!GetCPInfo(cp ? cp : CP_ACP, &info)) return 1;
  return static_cast<int>(info.MaxCharSize);
}

int plat_is_dbcs_lead_byte(unsigned char byte) {
  unsigned cp = codepage_override();
  return cp ? IsDBCSLeadByteEx(cp, byte) : IsDBCSLeadByte(byte);
}

const char* plat_char_next(const char* p) {
  unsigned cp = codepage_override();
  return cp ? CharNextExA(static_cast<WORD>(cp), p, 0) : CharNextA(p);
}

void backend_reset_state() {}

int plat_setenv(const char* name, const char* value) {
  std::string text = std::string(name) + "=" + (value ? value : "");
  return _putenv(text.c_str());
}

std::string plat_native_path(const char* path) { return path; }

std::string backend_native_path(const char* path) { return path; }

void plat_stdout_binary() {
  std::fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
}

void plat_stdin_binary() { _setmode(_fileno(stdin), _O_BINARY); }

bool plat_isatty(int fd) { return _isatty(fd) != 0; }

namespace {

// Counted by the handlers (the console's runs on a thread of its own, the
// C runtime's on the thread that raised the signal); read by the program.
volatile LONG g_interrupts = 0;

BOOL WINAPI count_console_event(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      InterlockedIncrement(&g_interrupts);
      return TRUE;
    default:
      return FALSE;
  }
}

void count_signal(int sig) {
  InterlockedIncrement(&g_interrupts);
  std::signal(sig, count_signal);  // the runtime restores the default after each signal
}

}  // namespace

void plat_catch_interrupts() {
  SetConsoleCtrlHandler(count_console_event, TRUE);
  for (int sig : {SIGINT, SIGTERM, SIGBREAK}) std::signal(sig, count_signal);
}

int plat_interrupts() { return static_cast<int>(InterlockedCompareExchange(&g_interrupts, 0, 0)); }
