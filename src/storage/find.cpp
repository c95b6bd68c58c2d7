// The process-wide directory search.
#include "storage/find.h"

#include <cstdlib>
#include <cstring>

#include "base/text.h"
#include "platform/platform.h"
#include "storage/state.h"

namespace {

bool has_wildcard(const char* path) { return std::strpbrk(path, "*?") != nullptr; }

// Copies name into the entry; false (entry untouched) when it does not fit.
bool take_name(FindEntry* entry, const char* name) {
  size_t n = std::strlen(name);
  if (n >= FIND_NAME_SIZE) return false;
  std::memcpy(entry->name, name, n + 1);
  return true;
}

bool wanted(const plat_find_data& found) { return (found.attributes & storage_state().search_mask) == storage_state().search_mask; }

// From the entry in storage_state().found on, the first that the mask accepts and whose
// name fits: 0 and its name; -1 and the search ended when none is left.
int take_next_match(FindEntry* entry) {
  for (;;) {
    if (wanted(storage_state().found) && take_name(entry, storage_state().found.name)) return 0;
    if (!plat_find_next(storage_state().search, &storage_state().found)) {
      end_find();
      return -1;
    }
  }
}

}  // namespace

void end_find() {
  if (storage_state().search) {
    plat_find_close(storage_state().search);
    storage_state().search = nullptr;
  }
}

int find_first_entry(const char* path, unsigned mask, FindEntry* entry) {
  if (!path || !entry) return -1;
  end_find();
  if (!has_wildcard(path)) {
    plat_stat st;
    if (plat_stat32(path, &st) != 0) return -1;
    const char* cut = find_last_char(path, '\\');
    return take_name(entry, cut ? cut + 1 : path) ? 0 : -1;
  }
  storage_state().search_mask = mask;
  // Once per process: the end of the process closes a search left open.
  static const bool end_registered = std::atexit(end_find) == 0;
  (void)end_registered;
  storage_state().search = plat_find_first(path, &storage_state().found);
  if (!storage_state().search) return -1;
  return take_next_match(entry);
}

int find_next_entry(FindEntry* entry) {
  if (!storage_state().search || !entry) return -1;
  if (!plat_find_next(storage_state().search, &storage_state().found)) {
    end_find();
    return -1;
  }
  return take_next_match(entry);
}

