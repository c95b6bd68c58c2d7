// The process-wide directory search.
#include "storage/find.h"

#include <cstdlib>
#include <cstring>

#include "base/text.h"
#include "platform/platform.h"

namespace {

plat_find_handle g_search = nullptr;
unsigned g_mask = 0;
plat_find_data g_found;
// Set once per process: the end of the process closes a search left open.
bool g_end_registered = false;

bool has_wildcard(const char* path) { return std::strpbrk(path, "*?") != nullptr; }

// Copies name into the entry; false (entry untouched) when it does not fit.
bool take_name(FindEntry* entry, const char* name) {
  size_t n = std::strlen(name);
  if (n >= FIND_NAME_SIZE) return false;
  std::memcpy(entry->name, name, n + 1);
  return true;
}

bool wanted(const plat_find_data& found) { return (found.attributes & g_mask) == g_mask; }

// From the entry in g_found on, the first that the mask accepts and whose
// name fits: 0 and its name; -1 and the search ended when none is left.
int take_next_match(FindEntry* entry) {
  for (;;) {
    if (wanted(g_found) && take_name(entry, g_found.name)) return 0;
    if (!plat_find_next(g_search, &g_found)) {
      end_find();
      return -1;
    }
  }
}

}  // namespace

void end_find() {
  if (g_search) {
    plat_find_close(g_search);
    g_search = nullptr;
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
  g_mask = mask;
  if (!g_end_registered) {
    g_end_registered = std::atexit(end_find) == 0;
  }
  g_search = plat_find_first(path, &g_found);
  if (!g_search) return -1;
  return take_next_match(entry);
}

int find_next_entry(FindEntry* entry) {
  if (!g_search || !entry) return -1;
  if (!plat_find_next(g_search, &g_found)) {
    end_find();
    return -1;
  }
  return take_next_match(entry);
}

void reset_find_state() {
  // The end-of-process registration stays: it belongs to the process, and
  // registering again on every reset would pile up handlers.
  end_find();
  g_mask = 0;
  std::memset(&g_found, 0, sizeof g_found);
}
