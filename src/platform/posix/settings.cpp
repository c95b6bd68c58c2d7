// Where the drives, the registry and the code page of this system come from
// on Linux, and the width of the terminal.
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/backend.h"
#include "platform/platform.h"
#include "platform/posix/posix_paths.h"

namespace {

std::string from_env(const char* name) { return std::string("environment (") + name + ")"; }

bool set(const char* name) {
  const char* v = std::getenv(name);
  return v && *v;
}

bool is_folder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::vector<plat_setting> plat_settings() {
  std::vector<plat_setting> out;
  std::string root = posix_root_folder();
  std::string root_source = set("CLASSIC_ROOT")    ? from_env("CLASSIC_ROOT")
                            : set("XDG_DATA_HOME") ? from_env("XDG_DATA_HOME")
                                                   : "default (~/.local/share/classic)";
  out.push_back({"store root", root, root_source});
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    std::string upper = std::string("CLASSIC_DRIVE_") + letter;
    std::string lower = std::string("CLASSIC_DRIVE_") + static_cast<char>(letter - 'A' + 'a');
    std::string folder = posix_drive_folder(letter);
    bool named = set(upper.c_str()) || set(lower.c_str());
    if (!named && !is_folder(folder)) continue;
    std::string source = named ? from_env(set(upper.c_str()) ? upper.c_str() : lower.c_str()) : "store root";
    if (!is_folder(folder)) source += ", no such folder";
    out.push_back({std::string("drive ") + letter + ":", folder, source});
  }
  out.push_back({"registry", root + "/registry/HKEY_CURRENT_USER", "store root"});
  std::string cp_source = codepage_override()           ? "set by the program"
                          : set("CLASSIC_CODEPAGE") ? from_env("CLASSIC_CODEPAGE")
                                                    : "default";
  out.push_back({"code page", std::to_string(plat_acp()), cp_source});
  return out;
}

int plat_terminal_width(int fd) {
  struct winsize ws;
  if (isatty(fd) == 1 && ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return 0;
}

void plat_console_utf8() {}
