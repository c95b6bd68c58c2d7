// Every module's process-wide state back to its value at load, between tests.
#include "ctl/lookup.h"
#include "ctl/names.h"
#include "ctl/search.h"
#include "ctl/session.h"
#include "ctl/types.h"
#include "items/datafile.h"
#include "queries/lists.h"
#include "scratch/unique.h"
#include "storage/areas.h"
#include "storage/devices.h"
#include "storage/find.h"
#include "storage/hostinfo.h"
#include "storage/netxlat.h"
#include "support/store_test.h"

void reset_library_state() {
  reset_areas_state();
  reset_devices_state();
  reset_find_state();
  reset_hostinfo_state();
  reset_netxlat_state();
  reset_types_state();
  reset_session_state();
  reset_datafile_state();
  reset_search_state();
  reset_lookup_state();
  reset_lists_state();
  reset_names_state();
  reset_unique_state();
}
