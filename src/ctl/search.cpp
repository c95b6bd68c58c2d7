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
#include "ctl/state.h"
#include "ctl/window.h"
#include "platform/platform.h"

namespace {

// A search of 32767 entries needs about 15 probes and a few window changes;
// a file whose order is damaged could make the bounds cross, so the number
// of probes is capped.
constexpr int kMaxProbes = 256;

bool deleted(const CtlEntry& e) { return (e.flags & ENTRY_DELETED) != 0; }

int hint_for(int32_t hash) {
  for (const CtlSearchHint& h : ctl_state().hints) {
    if (h.hash == hash) return h.index;
  }
  return -1;
}

void store_hint(int32_t hash, uint16_t index) {
  CtlState& st = ctl_state();
  for (CtlSearchHint& h : st.hints) {
    if (h.hash == hash) {
      h.index = index;
      return;
    }
  }
  st.hints[st.next_hint] = CtlSearchHint{hash, index};
  st.next_hint = (st.next_hint + 1) % CTL_SEARCH_HINTS;
}

bool seek_record(FILE* stream, long index) {
  return plat_fseek(stream, index * CTL_RECORD_SIZE, SEEK_SET) == 0;
}

}  // namespace

CtlEntry& ctl_entry() { return ctl_state().session.entry; }

CtlEntry& ctl_scratch_entry() { return ctl_state().session.scratch_entry; }

CtlEntry* ctl_window() { return ctl_state().session.window; }

long ctl_window_loads() { return ctl_state().window_loads; }

long ctl_found_offset() { return ctl_state().session.found_offset; }

void count_window_load() { ++ctl_state().window_loads; }

int ctl_find_entry(FILE* stream, const char* key, CtlEntry* out) {
  const CtlSessionState& session = ctl_state().session;
  CtlEntry* window = ctl_window();
  uint16_t n = static_cast<uint16_t>(session.trailer_offset / CTL_RECORD_SIZE);
  CtlSessionState& found = ctl_state().session;
  found.found_offset = 0;
  if (n == 0) return seek_record(stream, 1) ? CLASSIC_NOT_FOUND : CLASSIC_IO_ERROR;
  uint16_t lo = 0;
  uint16_t hi = static_cast<uint16_t>(n - 1);
  const int32_t hash = session.path_hash;
  int hint = hint_for(hash);
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
          plat_fread(window, CTL_RECORD_SIZE, count, stream) != count) {
        return CLASSIC_IO_ERROR;
      }
      loaded = true;
      count_window_load();
    }
    if (p < ws || p > we) return CLASSIC_IO_ERROR;
    const CtlEntry& e = window[p - ws];
    int c = deleted(e) ? -1 : compare_item_names(key, e.name, ITEM_NAME_SIZE);
    if (c == 0) {
      found.found_offset = p * static_cast<long>(CTL_RECORD_SIZE);
      if (!seek_record(stream, p + 1L)) return CLASSIC_IO_ERROR;
      if (out) *out = e;
      store_hint(hash, p);
      return CLASSIC_OK;
    }
    if (lo == hi) {
      store_hint(hash, p);
      found.found_offset = (p + (c > 0 ? 1L : 0L)) * CTL_RECORD_SIZE;
      return seek_record(stream, p + (c > 0 ? 2L : 1L)) ? CLASSIC_NOT_FOUND : CLASSIC_IO_ERROR;
    }
    if (c > 0) {
      const CtlEntry& last = window[we - ws];
      if (!deleted(last) && compare_item_names(key, last.name, ITEM_NAME_SIZE) > 0) {
        lo = hi > we ? static_cast<uint16_t>(we + 1) : we;
      } else {
        if (hi > we) hi = we;
        lo = hi > p ? static_cast<uint16_t>(p + 1) : p;
      }
    } else {
      const CtlEntry& first = window[0];
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
