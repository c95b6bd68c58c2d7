// A store of ten committed pieces in a registered area with its login.ctl,
// and the means to damage it byte for byte, for the tests of check, repair
// and who.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "admin/admin.h"
#include "ctl/records.h"
#include "items/datafile.h"
#include "support/store_test.h"

extern const std::string kArea;

using Entries = std::vector<CtlEntry>;

// Rewrites the piece control file after change has had its entries and trailer.
void edit_entries(const std::function<void(Entries&, CtlTrailer&)>& change);
// Rewrites slot of the piece data file with suffix after change has had it.
void edit_slot(const std::string& suffix, int slot, const std::function<void(SlotRecord&)>& change);

// The whole work area, or its piece control file.
AdminScope area_scope();
AdminScope piece_scope();
// The codes of the findings that are not notes, sorted.
std::vector<std::string> finding_codes(const AdminCheckReport& report);
// The findings one a line, for failure messages.
std::string report_text(const AdminCheckReport& report);

class RepairStoreTest : public StoreTest {
 protected:
  void SetUp() override;
  // Every committed item reads as it was written.
  void expect_committed();
  std::map<std::string, std::string> committed_;
};
