// The check of a store: every area of a drive, or one area, or one control
// file of an area, read and held against the rules the library keeps; the
// registrations of areas and the error log's header of a whole drive.
// Nothing is written.
#include <new>

#include "admin/admin.h"
#include "admin/survey.h"

bool AdminCheckReport::clean() const {
  for (const AdminFinding& f : findings) {
    if (f.severity != ADMIN_NOTE) return false;
  }
  return true;
}

int admin_check(const AdminScope& scope, AdminCheckReport* out) {
  try {
    *out = AdminCheckReport{};
    std::vector<DriveArea> areas;
    int status = scope_areas(scope, &areas);
    if (status != CLASSIC_OK) return status;
    for (const DriveArea& area : areas) {
      out->areas.push_back(area.path);
      if (scope.type.empty()) registration_findings(area, &out->findings);
      if (!area.folder) continue;
      AreaSurvey s = survey_area(area.path, scope.type, false);
      for (size_t i = 0; i < s.files.size(); ++i) {
        if (!s.in_scope[i]) continue;
        const CtlImage& image = s.files[i];
        if (image.state == FileState::Read) ++out->control_files;
        out->data_files += image.data_files;
        out->entries += static_cast<long>(image.entries.size());
        out->findings.insert(out->findings.end(), s.plans[i].findings.begin(), s.plans[i].findings.end());
      }
      out->findings.insert(out->findings.end(), s.findings.begin(), s.findings.end());
    }
    if (scope.area.empty()) log_findings(&out->findings);
    return CLASSIC_OK;
  } catch (const std::bad_alloc&) {
    return CLASSIC_NO_MEMORY;
  }
}
