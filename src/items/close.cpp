// Closing items.
//
// A close undoes the two registrations of an open: one reader off the
// item's open state or the writer's -1 cleared, and one off the trailer's
// open count.  When the closing writer created the item (its slot's data
// length is still -1), the item's length becomes the bytes between the
// slot's data offset and the end of the data file.
#include <cstring>

#include "ctl/names.h"
#include "ctl/search.h"
#include "ctl/session.h"
#include "items/datafile.h"
#include "items/items.h"
#include "base/lockfile.h"
#include "platform/platform.h"
#include "storage/netxlat.h"

namespace {

constexpr int kSessionPause = 500;

// Whether waiting can clear a session that could not be opened: a control
// file that other sessions, an area lock or another process hold.  A file
// that is missing, unreadable, of another version or whose path cannot be
// translated stays so however long the close waits.
bool worth_waiting(int status, const char* ctl_path) {
  switch (status) {
    case CLASSIC_LOCKED:
    case CLASSIC_AREA_LOCKED:
      return true;
    case CLASSIC_CANNOT_OPEN:
      // Held beyond the opener's attempts, as long as the file is there.
      return classic_netxlat(ctl_path, translated_path()) == CLASSIC_OK &&
             plat_access(translated_path(), 0) == 0;
    default:
      return false;
  }
}

// Fixes the size of an item whose creator closes it; false on a failed seek,
// read or write.
bool finish_writer(FILE* stream) {
  if (plat_fseek(stream, 0, SEEK_END) != 0) return false;
  long end = plat_ftell(stream);
  if (end < 0 || plat_fseek(stream, 0, SEEK_SET) != 0 ||
      plat_fread(&data_header(), sizeof data_header(), 1, stream) != 1) {
    return false;
  }
  SlotRecord* slot = slot_of(ctl_entry());
  if (!slot) return false;
  if (slot->data_length < 0) {
    long length = end - static_cast<long>(slot->data_offset);
    if (length < 0) length = 0;
    slot->data_length = static_cast<int32_t>(length);
    ctl_entry().size = slot->data_length;
    if (!write_data_header(stream)) return false;
  }
  ctl_entry().open_state = 0;
  return true;
}

}  // namespace

int classic_close_item(const char* ctl_path, const char* name, FILE* stream) {
  if (!stream || !ctl_path) return CLASSIC_IO_ERROR;
  char key[ITEM_NAME_SIZE];
  normalize_item_name(key, name ? name : "", ITEM_NAME_SIZE);

  if (on_removable_drive(ctl_path)) {
    // A reader on a removable drive left no mark: a read session tells.
    CtlSession reader;
    int status = reader.open(ctl_path, CTL_READ);
    if (!ctl_opened(status)) return status;
    int found = ctl_find_entry(reader.stream(), key, &ctl_entry());
    int8_t state = ctl_entry().open_state;
    reader.close();
    if (found != CLASSIC_OK) return found;
    if (state == 0) {
      plat_fclose(stream);
      return CLASSIC_OK;
    }
  }

  CtlSession session;
  int status = session.open(ctl_path, CTL_UPDATE);
  while (!ctl_opened(status)) {
    if (!worth_waiting(status, ctl_path)) return status;
    lock_wait(1, kSessionPause);
    status = session.open(ctl_path, CTL_UPDATE);
  }
  FILE* ctl = session.stream();
  int found = ctl_find_entry(ctl, key, &ctl_entry());
  if (found != CLASSIC_OK) return found;
  bool unmarked = false;
  if (ctl_entry().open_state > 0) {
    --ctl_entry().open_state;
  } else {
    if (ctl_entry().open_state == 0) {
      if (status != CLASSIC_OK_REMOVABLE) return CLASSIC_NOT_OPEN;
      unmarked = true;
    }
    if (!finish_writer(stream)) return CLASSIC_IO_ERROR;
  }
  plat_fclose(stream);
  if (plat_fseek(ctl, -CTL_RECORD_SIZE, SEEK_CUR) != 0) return CLASSIC_IO_ERROR;
  bool written = true;
  if (!(status == CLASSIC_OK_REMOVABLE && unmarked)) {
    written = plat_fwrite(&ctl_entry(), sizeof ctl_entry(), 1, ctl) == 1;
  }
  if (ctl_trailer().open_count > 0) --ctl_trailer().open_count;
  session.close();
  return written ? CLASSIC_OK : CLASSIC_IO_ERROR;
}
