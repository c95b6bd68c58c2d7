// The entry search.
//
// Indices are 16-bit.  The search reads whole windows of up to 32 entries
// aligned on multiples of 32 (clipped to the bounds still possible) and
// rereads only when a probe leaves the window.  A deleted entry counts as
// sorting after every key: deleted entries all follow the live ones.
#include "ctl/search.h"

#include <cstring>

#include "classic.h"
#include "ctl/names.h"
#include "ctl/session.h"
#include "ctl/window.h"
#include "platform/platform.h"

CtlEntry g_entry;
CtlEntry g_scratch_entry;
long g_window_loads = 0;

namespace {

struct Hint {
  int32_t hash;
  uint16_t index;
};

constexpr int kHints = 5;
// A search of 32767 entries needs about 15 probes and a few window changes;
// a file whose order is damaged could make the bounds cross, so the number
// of probes is capped.
constexpr int kMaxProbes = 256;

Hint g_hints[kHints];
int g_next_hint = 0;

bool deleted(const CtlEntry& e) { return (e.flags & ENTRY_DELETED) != 0; }

int hint_for(int32_t hash) {
  for (const Hint& h : g_hints) {
    if (h.hash == hash) return h.index;
  }
  return -1;
}

void store_hint(int32_t hash, uint16_t index) {
  for (Hint& h : g_hints) {
    if (h.hash == hash) {
      h.index = index;
      return;
    }
  }
  g_hints[g_next_hint] = Hint{hash, index};
  g_next_hint = (g_next_hint + 1) % kHints;
}

bool seek_record(FILE* stream, long index) {
  return plat_fseek(stream, index * CTL_RECORD_SIZE, SEEK_SET) == 0;
}

}  // namespace

void reset_search_state() {
  std::memset(g_hints, 0, sizeof g_hints);
  g_next_hint = 0;
  std::memset(&g_entry, 0, sizeof g_entry);
  std::memset(&g_scratch_entry, 0, sizeof g_scratch_entry);
  g_window_loads = 0;
}

int ctl_find_entry(FILE* stream, const char* key, CtlEntry* out) {
  uint16_t n = static_cast<uint16_t>(g_trailer_offset / CTL_RECORD_SIZE);
  if (n == 0) return seek_record(stream, 1) ? CLASSIC_NOT_FOUND : CLASSIC_IO_ERROR;
  uint16_t lo = 0;
  uint16_t hi = static_cast<uint16_t>(n - 1);
  int hint = hint_for(g_path_hash);
  uint16_t p = (hint >= 0 && hint <= hi) ? static_cast<uint16_t>(hint) : static_cast<uint16_t>(hi / 2);
  bool loaded = false;
  uint16_t ws = 0, we = 0;
  for (int probe = 0; probe < kMaxProbes; ++probe) {
    if (!loaded || p < ws || p > we) {
      ws = static_cast<uint16_t>(p & ~31u);
      if (ws < lo) ws = lo;
      we = static_cast<uint16_t>(ws + 31);
      if (we > hi) we = hi;
      size_t count = static_cast<size_t>(we - ws + 1);
      if (!seek_record(stream, ws) ||
          plat_fread(g_window, CTL_RECORD_SIZE, count, stream) != count) {
        return CLASSIC_IO_ERROR;
      }
      loaded = true;
      ++g_window_loads;
    }
    if (p < ws || p > we) return CLASSIC_IO_ERROR;
    const CtlEntry& e = g_window[p - ws];
    int c = deleted(e) ? -1 : compare_item_names(key, e.name, ITEM_NAME_SIZE);
    if (c == 0) {
      if (!seek_record(stream, p + 1L)) return CLASSIC_IO_ERROR;
      if (out) *out = e;
      store_hint(g_path_hash, p);
      return CLASSIC_OK;
    }
    if (lo == hi) {
      store_hint(g_path_hash, p);
      return seek_record(stream, p + (c > 0 ? 2L : 1L)) ? CLASSIC_NOT_FOUND : CLASSIC_IO_ERROR;
    }
    if (c > 0) {
      const CtlEntry& last = g_window[we - ws];
      if (!deleted(last) && compare_item_names(key, last.name, ITEM_NAME_SIZE) > 0) {
        lo = hi > we ? static_cast<uint16_t>(we + 1) : we;
      } else {
        if (hi > we) hi = we;
        lo = hi > p ? static_cast<uint16_t>(p + 1) : p;
      }
    } else {
      const CtlEntry& first = g_window[0];
      if (!deleted(first) && compare_item_names(key, first.name, ITEM_NAME_SIZE) >= 0) {
        if (lo < ws) lo = ws;
        hi = lo < p ? static_cast<uint16_t>(p - 1) : p;
      } else {
        hi = lo < ws ? static_cast<uint16_t>(ws - 1) : ws;
      }
    }
    if (lo > hi) return CLASSIC_IO_ERROR;  // the order of the file is damaged
    p = static_cast<uint16_t>((lo + hi) / 2);
  }
  return CLASSIC_IO_ERROR;
}
