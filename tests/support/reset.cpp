// Every module's process-wide state back to its value at load, between tests.
#include "ctl/session.h"
#include "ctl/types.h"
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
}
