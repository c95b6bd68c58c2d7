// Second processes that hold something until the test releases them (or
// die holding it): a file opened with a share mode, a lock file, an item.
#include <cstdio>
#include <string>

#include "classic.h"
#include "platform/platform.h"
#include "support/helper.h"

// args: path, share ("rw" or "no"), byte 0 ("lock" or "nolock"), end
// ("release" or "die").
CLASSIC_HELPER(hold_file) {
  int share = args[1] == "rw" ? PLAT_SH_DENYRW : PLAT_SH_DENYNO;
  int fd = plat_sopen(args[0].c_str(), CLASSIC_O_RDWR | CLASSIC_O_BINARY, share,
                      CLASSIC_S_IREAD | CLASSIC_S_IWRITE);
  if (fd < 0) return 10;
  if (args[2] == "lock" && plat_locking(fd, PLAT_LK_NBLCK, 1) != 0) return 11;
  helper_ready();
  if (args[3] == "die") helper_die();
  helper_wait_release();
  plat_close(fd);
  return 0;
}

// args: path, end ("release" or "die").  Holds the file through the
// lock-file opener.
CLASSIC_HELPER(lock_file) {
  FILE* f = classic_lock_open(args[0].c_str(), CLASSIC_O_RDWR | CLASSIC_O_BINARY,
                              CLASSIC_S_IREAD | CLASSIC_S_IWRITE);
  if (!f) return 10;
  helper_ready();
  if (args[1] == "die") helper_die();
  helper_wait_release();
  classic_lock_close(f);
  return 0;
}

// args: control file, item name, mode, pattern, end ("release" or "die").
// Opens the item with the mode (a writer writes one byte) and holds it.
CLASSIC_HELPER(hold_item) {
  const char* ctl = args[0].c_str();
  const char* name = args[1].c_str();
  short mode = static_cast<short>(std::stoi(args[2]));
  FILE* stream = nullptr;
  if (classic_open_item(ctl, name, mode, args[3].c_str(), &stream, nullptr, nullptr) != CLASSIC_OK) {
    return 10;
  }
  if (mode & ITEM_WRITE) std::fputc('h', stream);
  helper_ready();
  if (args[4] == "die") helper_die();
  helper_wait_release();
  return classic_close_item(ctl, name, stream) == CLASSIC_OK ? 0 : 11;
}
