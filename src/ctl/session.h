// The control-file session: the process-wide state of the control file last
// opened (its trailer and where the trailer lies).
#pragma once

#include "ctl/records.h"

// The trailer of the control file last opened or read; operations update its
// counters in memory and the session close writes it back.
extern CtlTrailer g_trailer;
// The offset of the trailer in the current control file: 64 x entries.
extern long g_trailer_offset;

void reset_session_state();
