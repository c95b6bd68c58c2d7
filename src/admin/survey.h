// Areas as check, repair and who look at them: the control files of an area
// with their plans, its logins and area-lock marks, the areas of a drive
// against their registrations, and the error log's header.
#pragma once

#include <string>
#include <vector>

#include "admin/check.h"
#include "admin/image.h"
#include "admin/plan.h"

struct AreaSurvey {
  std::string area;                   // store path of the area's folder
  std::vector<CtlImage> files;        // login.ctl first, then the control files of DATA and PARAM
  std::vector<bool> in_scope;
  std::vector<CtlPlan> plans;         // one per file; empty for files out of scope
  std::vector<AdminLogin> login_files;
  std::vector<AdminFinding> findings;  // of the area as a whole (when no type is named)
  bool login_locked = false;           // login.ctl carries the area lock
  int lockable = 0;                    // sound control files, login.ctl included
  int locked = 0;                      // of them, those carrying the area lock
  // Logins counted in login.ctl (0 when it cannot be read).
  int logins() const;
  bool partly_locked() const { return locked > 0 && locked < lockable; }
};

// Reads an area: every control file's entries and trailer and, for those in
// scope (type a control-file name, or empty for all), its data files, each
// planned; control files lost while their data files remain are part of it.
// plan false reads no data file and plans nothing (who).
AreaSurvey survey_area(const std::string& area, const std::string& type, bool rebuild, bool plan = true);

// The lock marks of an area's control files as the survey read them.
void count_lock_marks(AreaSurvey* survey);

// The login files of an area (log*.* but login.ctl).
std::vector<AdminLogin> login_files_of(const std::string& area);

struct DriveArea {
  char drive = 'C';
  std::string name;
  std::string path;  // store path of its folder
  bool folder = false;
  bool registered = false;
  long version = -1;  // its registered Version (-1 none)
};

// The areas of a check or repair: every area of the drive that has a folder
// or a registration, or the one area named.  1, or 1007 when the area named
// has neither.
int scope_areas(const AdminScope& scope, std::vector<DriveArea>* areas);
// What is wrong with an area's registration.
void registration_findings(const DriveArea& area, std::vector<AdminFinding>* out);
// What is wrong with the error log's header.
void log_findings(std::vector<AdminFinding>* out);
