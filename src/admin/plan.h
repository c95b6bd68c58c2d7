// What is wrong with one control file and its data files, and the files as
// repair leaves them: check reports the findings of a plan, repair carries
// the plan out, so that a check right after a repair finds nothing more.
#pragma once

#include <map>
#include <vector>

#include "admin/check.h"
#include "admin/image.h"

struct CtlPlan {
  std::vector<AdminFinding> findings;
  bool stale_session = false;  // lock state 12 that no program holds: cleared at once
  bool damaged = false;        // beyond its own repair
  bool offline = false;        // entries, trailer or data-file headers change
  bool rebuilt = false;        // made anew from the slot records
  std::vector<CtlEntry> entries;
  CtlTrailer trailer;
  std::map<int, DataHeader> headers;  // changed data-file headers, by suffix number
};

// The plan of a control file as the image shows it.  With rebuild, a file
// that is missing or damaged beyond its own repair is made anew from the
// slot records of its data files.
CtlPlan plan_control_file(const CtlImage& image, bool rebuild);
