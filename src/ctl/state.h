// The process-wide state of the control-file layer, in one record that only
// the files of src/ctl see; other layers reach what they share of it (the
// current trailer, the current entry, the entry window) through the
// functions of the ctl headers.
#pragma once

#include <cstdint>
#include <cstdio>

#include "base/names.h"
#include "ctl/records.h"
#include "ctl/types.h"
#include "ctl/window.h"

// What one session works on; a nested session (a translation look-up in the
// middle of another operation) keeps it aside whole and puts it back.
struct CtlSessionState {
  CtlTrailer trailer;            // the trailer of the control file last opened
  long trailer_offset;           // 64 x entries of that file
  int32_t path_hash;             // hash of its translated path (search hints)
  CtlEntry entry;                // the entry the last search found
  long found_offset;             // its offset, or where the missed name belongs
  CtlEntry scratch_entry;        // where a creation builds its new entry
  CtlEntry window[WINDOW_ENTRIES];  // the entry window
};

struct CtlSearchHint {
  int32_t hash;
  uint16_t index;
};

constexpr int CTL_SEARCH_HINTS = 5;

struct CtlState {
  CtlSessionState session;
  // The control file a session left open and locked for the next one.
  char retained_path[XLAT_PATH_SIZE];
  FILE* retained_stream;
  // Where the last searches of five files found or missed their keys.
  CtlSearchHint hints[CTL_SEARCH_HINTS];
  int next_hint;
  long window_loads;
  // This program's identity in the trailers it locks, once filled.
  bool task_filled;
  TaskIdentity task;
  // The order of names: 0 until the code page was read, then 1 single-byte
  // or 2 double-byte, with the lead bytes of a double-byte code page.
  int name_mode;
  bool lead[256];
};

CtlState& ctl_state();
