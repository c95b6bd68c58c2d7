/* A C user of the installed library, built with pkg-config's flags: creates
 * an item and looks its entry up. */
#include <classic.h>

#include <stdio.h>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const char* ctl = argv[1];
  FILE* stream = NULL;
  CTRL_ENTRY_INFO info;
  if (classic_create_control_file(ctl) != CLASSIC_OK) return 1;
  if (classic_open_item(ctl, "BACK", ITEM_WRITE | ITEM_CREATE, "piece%c%c%c.pce", &stream, NULL,
                        NULL) != CLASSIC_OK)
    return 1;
  fputs("back panel", stream);
  if (classic_close_item(ctl, "BACK", stream) != CLASSIC_OK) return 1;
  if (classic_lookup_item(ctl, "BACK", &info) != CLASSIC_OK || info.size != 10) return 1;
  printf("created %s (%d bytes)\n", info.name, (int)info.size);
  return 0;
}
