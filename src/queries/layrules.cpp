// Lay-rule queries.
//
// The rules of a category are the live entries whose names match the
// category as a listing pattern; the category's literal prefix (its text
// without the closing wildcard) begins each of their names.  Live entries
// stand in name order, so no rule of the category comes before the first
// entry that begins with that prefix: the category search finds that entry,
// and the listing goes on from there.
#include "queries/layrules.h"

#include <cstdlib>
#include <cstring>

#include "classic.h"
#include "ctl/names.h"
#include "ctl/search.h"
#include "ctl/session.h"
#include "ctl/window.h"
#include "platform/platform.h"

namespace {

// The numbered form of a lay-rule name: '_' at this byte, the number after.
constexpr int kNumberMark = 15;
// The most records a lay-rule block fetch asks for.
constexpr int kBlock = 32;

// The entries of the window now in ctl_window(); empty when start > end.
struct Window {
  long start = 0;
  long end = -1;

  bool holds(long i) const { return i >= start && i <= end; }
  const CtlEntry& at(long i) const { return ctl_window()[i - start]; }
};

// Loads the window that holds entry i: from i rounded down to a multiple of
// 32, but not below lo, to 31 entries further, but not above hi.
bool load_window(FILE* stream, Window* w, long i, long lo, long hi) {
  long start = i & ~static_cast<long>(WINDOW_ENTRIES - 1);
  if (start < lo) start = lo;
  long end = start + WINDOW_ENTRIES - 1;
  if (end > hi) end = hi;
  size_t count = static_cast<size_t>(end - start + 1);
  if (plat_fseek(stream, start * CTL_RECORD_SIZE, SEEK_SET) != 0 ||
      plat_fread(ctl_window(), CTL_RECORD_SIZE, count, stream) != count) {
    *w = Window{};
    return false;
  }
  w->start = start;
  w->end = end;
  count_window_load();
  return true;
}

// The entry is live and sorts before every name that begins with key.  A
// deleted entry counts as sorting after every key.
bool before_key(const CtlEntry& e, const char* key, int keylen) {
  return (e.flags & ENTRY_DELETED) == 0 && compare_item_names(key, e.name, keylen) > 0;
}

bool begins_with_key(const CtlEntry& e, const char* key, int keylen) {
  return (e.flags & ENTRY_DELETED) == 0 && compare_item_names(key, e.name, keylen) == 0;
}

// The lay-rule control file of an area: the area text with "lyrl.ctl" right
// after it.  False when there is no area or the path would be too long.
bool layrule_path(char* path, const char* area) {
  if (!area) return false;
  static const char kName[] = "lyrl.ctl";
  size_t len = strnlen(area, LAYRULE_PATH_MAX + 1);
  if (len + sizeof kName - 1 > LAYRULE_PATH_MAX) return false;
  std::memcpy(path, area, len);
  std::memcpy(path + len, kName, sizeof kName);
  return true;
}

// The search key of a category or prefix: the text without its last byte,
// at most 20 bytes.  Returns the key's length, or -1 for a null or empty
// text, which no lay rule can begin with.
int category_key(char* key, const char* category) {
  if (!category || category[0] == 0) return -1;
  size_t len = strnlen(category, ITEM_NAME_SIZE + 1) - 1;
  int keylen = static_cast<int>(len < ITEM_NAME_SIZE ? len : ITEM_NAME_SIZE);
  std::memcpy(key, category, static_cast<size_t>(keylen));
  key[keylen] = 0;
  return keylen;
}

// Opens the lay-rule file and finds the first entry beginning with key; on
// 1 *offset is that entry's byte offset.  *opened is what the open returned:
// unless it is a plain 1 nothing is searched and that status is returned (a
// file opened on a removable drive is closed again at once).
int locate_category(const char* path, const char* key, int keylen, long* offset, int* opened) {
  CtlSession session;
  *opened = session.open(path, CTL_READ);
  if (*opened != CLASSIC_OK) return *opened;
  int r = find_category_entry(session.stream(), key, keylen, nullptr);
  if (r == CLASSIC_OK) *offset = plat_ftell(session.stream()) - CTL_RECORD_SIZE;
  return r;
}

// The number of a numbered lay-rule name (longer than 16 bytes, '_' at
// byte 15), or false for any other name.
bool rule_number(const CTRL_ENTRY_INFO& record, int* number) {
  char name[ITEM_NAME_SIZE + 1];
  std::memcpy(name, record.name, ITEM_NAME_SIZE);
  name[ITEM_NAME_SIZE] = 0;
  if (std::strlen(name) <= kNumberMark + 1 || name[kNumberMark] != '_') return false;
  *number = std::atoi(name + kNumberMark + 1);
  return true;
}

}  // namespace

int find_category_entry(FILE* stream, const char* key, int keylen, CtlEntry* out) {
  long n = ctl_trailer_offset() / CTL_RECORD_SIZE;
  if (n <= 0) return CLASSIC_NOT_FOUND;
  if (keylen < 0) keylen = 0;
  if (keylen > ITEM_NAME_SIZE) keylen = ITEM_NAME_SIZE;
  // Every entry below lo sorts before the key; the entry at hi does not (or
  // hi is n).  Each window read is examined whole: either it holds the
  // first entry that does not sort before the key, or the search goes on
  // only after it or only before it.
  long lo = 0, hi = n;
  Window w;
  while (lo < hi) {
    long mid = lo + (hi - lo) / 2;
    if (!load_window(stream, &w, mid, lo, hi - 1)) return CLASSIC_IO_ERROR;
    long k = w.start;
    while (k <= w.end && before_key(w.at(k), key, keylen)) ++k;
    if (k > w.end) {
      lo = w.end + 1;
    } else if (k > w.start) {
      lo = hi = k;
    } else {
      hi = w.start;
    }
  }
  if (lo >= n) return CLASSIC_NOT_FOUND;
  if (!w.holds(lo) && !load_window(stream, &w, lo, lo, n - 1)) return CLASSIC_IO_ERROR;
  const CtlEntry& found = w.at(lo);
  if (!begins_with_key(found, key, keylen)) return CLASSIC_NOT_FOUND;
  if (plat_fseek(stream, (lo + 1) * CTL_RECORD_SIZE, SEEK_SET) != 0) return CLASSIC_IO_ERROR;
  if (out) *out = found;
  return CLASSIC_OK;
}

int classic_find_layrule_catgy(const char* area, const char* category, long* offset, long* first,
                               CTRL_ENTRY_INFO** items) {
  char path[LAYRULE_PATH_MAX + 1];
  if (!layrule_path(path, area)) return CLASSIC_CANNOT_REMOVE;
  char key[ITEM_NAME_SIZE + 1];
  int keylen = category_key(key, category);
  if (keylen < 0) return CLASSIC_NOT_FOUND;
  if (!offset || !first || !items) return CLASSIC_IO_ERROR;

  CTRL_TRAILER_INFO stats;
  int r = classic_ctl_file_stats(path, &stats);
  if (r != CLASSIC_OK) return r;
  int max = stats.total_items < kBlock ? static_cast<int>(stats.total_items) : kBlock;

  if (category[0] != '?' && category[0] != '*' && *offset == 0 && *first == 0) {
    long found = 0;
    int opened = 0;
    r = locate_category(path, key, keylen, &found, &opened);
    // A file that cannot be opened here lists nothing, and that is no
    // failure: the caller sees 1 and no records.
    if (opened != CLASSIC_OK) return CLASSIC_OK;
    if (r != CLASSIC_OK) return r;
    *offset = found;
  }
  r = classic_get_blk_items(path, category, max, offset, first, items);
  return r;
}

int classic_find_next_layrule(const char* area, const char* prefix, int* next) {
  if (!next) return CLASSIC_IO_ERROR;
  *next = 1;
  char path[LAYRULE_PATH_MAX + 1];
  if (!layrule_path(path, area)) return CLASSIC_CANNOT_REMOVE;
  char key[ITEM_NAME_SIZE + 1];
  int keylen = category_key(key, prefix);
  if (keylen < 0) return CLASSIC_NOT_FOUND;

  CTRL_TRAILER_INFO stats;
  if (classic_ctl_file_stats(path, &stats) != CLASSIC_OK) return 0;
  long remaining = stats.total_items;
  if (remaining == 0) return 0;

  long offset = 0, first = 0;
  int opened = 0;
  int r = locate_category(path, key, keylen, &offset, &opened);
  if (r != CLASSIC_OK) return r;
  while (remaining > 0) {
    CTRL_ENTRY_INFO* items = nullptr;
    int max = remaining < kBlock ? static_cast<int>(remaining) : kBlock;
    r = classic_get_blk_items(path, prefix, max, &offset, &first, &items);
    if (r != CLASSIC_OK) return r;
    // The rules of the block in name order: the first free number is one
    // past the run that starts at the lowest.
    for (const CTRL_ENTRY_INFO* rec = items; rec; rec = rec->next) {
      int v = 0;
      if (!rule_number(*rec, &v)) continue;
      if (v > *next) break;
      *next = v + 1;
    }
    remaining -= kBlock;
  }
  return CLASSIC_OK;
}
