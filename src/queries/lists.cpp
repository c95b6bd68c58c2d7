// Item lists.  Both listings read the control file in blocks of 32 entries
// through the entry window, in file order, and test each live entry against
// the converted pattern; deleted entries are never listed.
#include "queries/lists.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "ctl/format.h"
#include "ctl/lookup.h"
#include "ctl/session.h"
#include "ctl/window.h"
#include "queries/match.h"
#include "platform/platform.h"

namespace {

// The queries layer's process-wide state: the result array of the block
// listing, overwritten by each call.
struct QueriesState {
  CTRL_ENTRY_INFO blk_items[BLK_MAX_ITEMS];
};

QueriesState g_queries;

// The end offset of the block reads: the length of the file.
long end_offset() { return ctl_trailer_offset() + CTL_RECORD_SIZE; }

// A zero-filled record of its own, or null when memory is exhausted.
CTRL_ENTRY_INFO* new_node() { return new (std::nothrow) CTRL_ENTRY_INFO[1](); }

void free_nodes(CTRL_ENTRY_INFO* head) {
  while (head) {
    CTRL_ENTRY_INFO* next = head->next;
    delete[] head;
    head = next;
  }
}

// The list built so far by classic_return_item_list.
struct NodeList {
  CTRL_ENTRY_INFO* head = nullptr;
  CTRL_ENTRY_INFO* tail = nullptr;
  long count = 0;

  void append(CTRL_ENTRY_INFO* node) {
    node->prev = tail;
    if (tail) {
      tail->next = node;
    } else {
      head = node;
    }
    tail = node;
    ++count;
  }
};

}  // namespace

void reset_queries_state() { std::memset(&g_queries, 0, sizeof g_queries); }

CTRL_ENTRY_INFO* classic_return_item_list(const char* ctl, const char* pattern, long* offset,
                                          long* position, char* more, int* status) {
  if (!offset || !position || !more || !status) {
    if (status) *status = CLASSIC_IO_ERROR;
    return nullptr;
  }
  *more = 0;
  CtlSession session;
  int open_status = session.open(ctl, CTL_READ);
  if (!ctl_opened(open_status)) {
    *status = open_status;
    return nullptr;
  }
  FILE* stream = session.stream();
  if (plat_fseek(stream, *offset, SEEK_SET) != 0) {
    *status = CLASSIC_IO_ERROR;
    return nullptr;
  }
  char converted[MATCH_PATTERN_SIZE];
  convert_pattern(converted, pattern);

  NodeList list;
  long block_start = plat_ftell(stream);
  int in_block = 0;
  int r = read_entry_block(stream, ctl_window(), &in_block, end_offset());
  while (r != CLASSIC_NO_MORE) {
    if (r != CLASSIC_OK) {
      // A block that cannot be read ends the listing with nothing: the
      // records collected so far go back to the heap.
      free_nodes(list.head);
      *status = 0;
      return nullptr;
    }
    for (int i = 0; i < in_block && list.count < LIST_MAX_ITEMS; ++i) {
      if (!entry_matches(ctl_window()[i], converted)) continue;
      CTRL_ENTRY_INFO* node = new_node();
      if (!node) {
        free_nodes(list.head);
        *status = CLASSIC_NO_MEMORY;
        return nullptr;
      }
      fill_entry_info(node, ctl_window()[i], false);
      list.append(node);
    }
    if (list.count >= LIST_MAX_ITEMS) {
      *more = 1;
      break;
    }
    if (in_block < WINDOW_ENTRIES) break;  // the block reached the trailer
    block_start = plat_ftell(stream);
    r = read_entry_block(stream, ctl_window(), &in_block, end_offset());
  }
  *offset += CTL_RECORD_SIZE * list.count;
  *position = block_start / CTL_RECORD_SIZE + list.count;
  *status = CLASSIC_OK;
  return list.head;
}

int classic_get_blk_items(const char* ctl, const char* pattern, int max, long* offset, long* first,
                          CTRL_ENTRY_INFO** items) {
  if (!offset || !first || !items) return CLASSIC_IO_ERROR;
  CtlSession session;
  int open_status = session.open(ctl, CTL_READ);
  if (!ctl_opened(open_status)) return open_status;
  FILE* stream = session.stream();
  classic_blk_count = ctl_trailer().total_items;
  if (plat_fseek(stream, *offset, SEEK_SET) != 0) {
    return CLASSIC_IO_ERROR;
  }
  char converted[MATCH_PATTERN_SIZE];
  convert_pattern(converted, pattern);
  CTRL_ENTRY_INFO* blk_items = g_queries.blk_items;
  std::memset(blk_items, 0, sizeof g_queries.blk_items);

  long block_start = plat_ftell(stream);
  int in_block = 0;
  if (read_entry_block(stream, ctl_window(), &in_block, end_offset()) != CLASSIC_OK) {
    return CLASSIC_NO_MORE;
  }
  int count = 0;
  // Entries of the last block the scan has passed: the resume offset lies
  // just after them.  A block scanned to its end counts its trailer (or the
  // end of the file) as well, so that the next call starts past the end.
  int consumed = 0;
  for (;;) {
    bool full = false;
    for (int i = 0; i < in_block; ++i) {
      const CtlEntry& e = ctl_window()[i];
      if (e.flags & ENTRY_DELETED) continue;
      if (entry_matches(e, converted)) {
        CTRL_ENTRY_INFO* record = &blk_items[count];
        fill_entry_info(record, e, false);
        if (count == 0) {
          *first = block_start + static_cast<long>(CTL_RECORD_SIZE) * i;
        } else {
          record->prev = &blk_items[count - 1];
          blk_items[count - 1].next = record;
        }
        ++count;
      }
      if (count == max || count == BLK_MAX_ITEMS) {
        consumed = i + 1;
        full = true;
        break;
      }
    }
    if (full) break;
    consumed = in_block + 1;
    if (in_block < WINDOW_ENTRIES) break;  // the block reached the trailer
    block_start = plat_ftell(stream);
    int r = read_entry_block(stream, ctl_window(), &in_block, end_offset());
    if (r == CLASSIC_NO_MORE) {
      consumed = 1;
      break;
    }
    if (r != CLASSIC_OK) {
      return CLASSIC_NO_MORE;
    }
  }
  if (count == 0) {
    return CLASSIC_NO_MORE;
  }
  *offset = block_start + static_cast<long>(CTL_RECORD_SIZE) * consumed;
  *items = &blk_items[0];
  return CLASSIC_OK;
}

int classic_free_item_list(CTRL_ENTRY_INFO* head) {
  free_nodes(head);
  return CLASSIC_OK;
}
