// The storage layer's process-wide state and its reset.
#include "storage/state.h"

#include "storage/areas.h"
#include "storage/find.h"

namespace {

StorageState fresh_state() {
  StorageState st{};
  st.host = HostInfo{'!', 0, {0}, {0}};
  st.network_flag = 1;
  st.network_drive = '!';
  return st;
}

StorageState g_storage = fresh_state();

}  // namespace

StorageState& storage_state() { return g_storage; }

void reset_storage_state() {
  end_find();
  close_drive_key();
  g_storage = fresh_state();
}
