// The classic command: what a store holds, for the people who look after it.
#include <cstdio>
#include <string>

#include "classic.h"
#include "platform/platform.h"
#include "platform/testing.h"

int main() {
  std::printf("classic store tool\n");
  unsigned long drives = plat_logical_drives();
  for (int i = 0; i < 26; ++i) {
    if (!(drives & (1ul << i))) continue;
    std::string root = std::string(1, static_cast<char>('A' + i)) + ":\\";
    std::string storage = root + "userroot\\storage";
    bool tree = plat_access(storage.c_str(), 0) == 0;
    std::printf("  drive %s  %s  %s\n", root.c_str(), plat_native_path(root.c_str()).c_str(),
                tree ? "storage tree present" : "no storage tree");
  }
  std::printf("accessible: %d\n", classic_accessable());
  return 0;
}
