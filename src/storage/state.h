// The process-wide state of the storage layer, in one record that only the
// files of src/storage see; other layers reach what they share of it (the
// translated-path buffer, the host information) through the functions of the
// storage headers.
#pragma once

#include <cstdint>

#include "base/names.h"
#include "platform/platform.h"
#include "storage/hostinfo.h"

// One remembered translation: a key of 9 characters and its target folder.
struct XlatCacheSlot {
  char key[10];
  char target[XLAT_PATH_SIZE];
};

struct StorageState {
  // The host configuration, read on the first path translation.
  HostInfo host;
  bool host_known;
  // Path translation: the network flag (1 at load), the network drive ('!'
  // for none), the last two translations, and the translated-path buffer.
  signed char network_flag;
  char network_drive;
  XlatCacheSlot cache[2];
  int cache_next;
  char translated_path[XLAT_PATH_SIZE];
  // The directory search open between a first and a last entry.
  plat_find_handle search;
  unsigned search_mask;
  plat_find_data found;
  // The registry listing of areas: the drive key open between the first area
  // and the end, and the index of the next area key.
  plat_hkey drive_key;
  unsigned long next_area_index;
  // The device listing: the drive mask taken at its start, the next drive,
  // the name handed out last.
  unsigned long drive_mask;
  int next_drive;
  char device[3];
};

StorageState& storage_state();
