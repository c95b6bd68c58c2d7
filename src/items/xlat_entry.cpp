// Translation entries are items of the translation control file: the
// target folder is read from the first bytes of an entry's data.
#include "storage/xlat_lookup.h"

#include <cstring>

#include "classic.h"
#include "ctl/session.h"
#include "items/datafile.h"
#include "items/items.h"
#include "platform/platform.h"

namespace {

// A look-up runs a session of its own in the middle of another operation's
// path translation: that operation's session state and data-file header are
// kept aside meanwhile (a retained control file goes on with its own trailer
// afterwards).
struct DataHeaderKeeper {
  DataHeader header = data_header();
  ~DataHeaderKeeper() { data_header() = header; }
};

}  // namespace

int lookup_translation(const char* key, char* target) {
  CtlStateKeeper keep_session;
  DataHeaderKeeper keep_header;
  FILE* stream = nullptr;
  int r = classic_open_item(XLAT_CTL_PATH, key, 0, XLAT_DATA_PATTERN, &stream, nullptr, nullptr);
  if (r == CLASSIC_NOT_FOUND) return CLASSIC_NOT_FOUND;
  if (r != CLASSIC_OK) return CLASSIC_CANNOT_REMOVE;
  char record[XLAT_RECORD_SIZE];
  bool whole = plat_fread(record, 1, sizeof record, stream) == sizeof record;
  if (classic_close_item(XLAT_CTL_PATH, key, stream) != CLASSIC_OK || !whole) {
    return CLASSIC_IO_ERROR;
  }
  // The target runs from byte 21 to the first blank or NUL, 299 at most.
  size_t n = 0;
  const char* text = record + XLAT_TARGET_OFFSET;
  while (n < XLAT_TARGET_MAX && text[n] != ' ' && text[n] != 0) ++n;
  std::memcpy(target, text, n);
  target[n] = 0;
  return CLASSIC_OK;
}
