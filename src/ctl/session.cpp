// Control-file sessions.
#include "ctl/session.h"

#include <cstring>

CtlTrailer g_trailer;
long g_trailer_offset = 0;

void reset_session_state() {
  std::memset(&g_trailer, 0, sizeof g_trailer);
  g_trailer_offset = 0;
}
