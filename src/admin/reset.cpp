// The reset of all process-wide state, layer by layer from the top, so that
// files a layer holds are released before the layers below forget them.
#include "admin/reset.h"

#include "base/lockfile.h"
#include "ctl/session.h"
#include "items/datafile.h"
#include "platform/platform.h"
#include "queries/lists.h"
#include "scratch/unique.h"
#include "storage/hostinfo.h"

void reset_all() {
  reset_queries_state();
  reset_items_state();
  reset_ctl_state();
  reset_storage_state();
  reset_scratch_state();
  reset_base_state();
  plat_reset_state();
}
