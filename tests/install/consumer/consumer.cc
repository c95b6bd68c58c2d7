// A C++ user of the installed library: creates an item and reads it back
// whole into a std::vector.
#include <classic.h>

#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const char* ctl = argv[1];
  const char* pattern = "piece%c%c%c.pce";
  const char bytes[] = "front panel";
  if (classic_create_control_file(ctl) != CLASSIC_OK) return 1;
  FILE* stream = nullptr;
  if (classic_open_item(ctl, "FRONT", ITEM_WRITE | ITEM_CREATE, pattern, &stream, nullptr, nullptr) !=
      CLASSIC_OK)
    return 1;
  std::fwrite(bytes, 1, sizeof bytes - 1, stream);
  if (classic_close_item(ctl, "FRONT", stream) != CLASSIC_OK) return 1;
  std::vector<char> back;
  if (classic_read_raw_item(ctl, "FRONT", pattern, back) != CLASSIC_OK) return 1;
  if (back.size() != sizeof bytes - 1 || std::memcmp(back.data(), bytes, back.size()) != 0) return 1;
  std::printf("created FRONT (%zu bytes)\n", back.size());
  return 0;
}
