// Where the drives, the registry and the code page of this system come from
// on Windows, and the width of the console.
#include "platform/win32/win32.h"

#include <io.h>

#include <string>

#include "platform/backend.h"
#include "platform/platform.h"

std::vector<plat_setting> plat_settings() {
  std::vector<plat_setting> out;
  unsigned long drives = GetLogicalDrives();
  for (int i = 0; i < 26; ++i) {
    if (!((drives >> i) & 1ul)) continue;
    std::string root = std::string(1, static_cast<char>('A' + i)) + ":\\";
    out.push_back({"drive " + root.substr(0, 2), root, "system"});
  }
  out.push_back({"registry", "HKEY_CURRENT_USER", "system"});
  out.push_back({"code page", std::to_string(plat_acp()), codepage_override() ? "set by the program" : "system (GetACP)"});
  return out;
}

int plat_terminal_width(int fd) {
  if (!_isatty(fd)) return 0;
  HANDLE h = GetStdHandle(fd == 2 ? STD_ERROR_HANDLE : fd == 0 ? STD_INPUT_HANDLE : STD_OUTPUT_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(h, &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

void plat_console_utf8() { SetConsoleOutputCP(CP_UTF8); }
