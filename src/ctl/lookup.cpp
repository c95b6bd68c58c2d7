// Entry lookup, overwrite, control-file deletion and the item count.
#include "base/text.h"
#include "ctl/lookup.h"

#include <cstring>

#include "ctl/names.h"
#include "ctl/search.h"
#include "ctl/session.h"
#include "ctl/types.h"
#include "base/lockfile.h"
#include "platform/platform.h"
#include "storage/netxlat.h"

int32_t classic_blk_count = 0;

namespace {

void user_text(char* out, const char* field) {
  std::memcpy(out, field, USER_ID_SIZE);
  out[USER_ID_SIZE] = 0;
}

// Opens a session and finds name in it: the session status, or the search
// result (the session is closed again unless it is 1).  On 1 the current
// entry holds the entry and the stream stands just after it.
int open_and_find(CtlSession& session, const char* path, const char* name, int flags) {
  int status = session.open(path, flags);
  if (!ctl_opened(status)) return status;
  char key[ITEM_NAME_SIZE];
  normalize_item_name(key, name ? name : "", ITEM_NAME_SIZE);
  int r = ctl_find_entry(session.stream(), key, &ctl_entry());
  if (r != CLASSIC_OK) session.close();
  return r;
}

}  // namespace

void fill_entry_info(CTRL_ENTRY_INFO* info, const CtlEntry& e, bool found) {
  std::memcpy(info->name, e.name, ITEM_NAME_SIZE);
  info->name[ITEM_NAME_SIZE] = 0;
  info->open_state = e.open_state;
  info->flags = e.flags;
  info->created = e.created;
  user_text(info->creator, e.creator);
  info->modified = e.modified;
  user_text(info->modifier, e.modifier);
  info->prev_modified = e.prev_modified;
  user_text(info->prev_modifier, e.prev_modifier);
  info->size = e.size;
  info->version = e.version;
  info->attribute = e.attribute;
  info->attribute2 = e.attribute2;
  info->accessed = e.accessed;
  info->creator_task = e.creator_task;
  info->writer_task = e.writer_task;
  info->found = found ? 1 : 0;
  info->prev = nullptr;
  info->next = nullptr;
}

int classic_lookup_item(const char* path, const char* name, CTRL_ENTRY_INFO* info) {
  CtlSession session;
  int r = open_and_find(session, path, name, CTL_READ);
  if (r != CLASSIC_OK) return r;
  if (info) fill_entry_info(info, ctl_entry(), true);
  return session.finish(CLASSIC_OK);
}

int classic_overwrite_ctrl_entry(const char* path, const char* name, const CTRL_ENTRY_INFO* info) {
  CtlSession session;
  int r = open_and_find(session, path, name, CTL_UPDATE);
  if (r != CLASSIC_OK) return r;
  FILE* stream = session.stream();
  CtlEntry& entry = ctl_entry();
  if (info) {
    // The caller's name is taken as it stands: the entry keeps its place,
    // so the caller keeps the name equal to the one it replaces.
    put_field(entry.name, ITEM_NAME_SIZE, info->name);
    entry.flags = info->flags;
    entry.created = info->created;
    std::memcpy(entry.creator, info->creator, USER_ID_SIZE);
    entry.prev_modified = info->prev_modified;
    std::memcpy(entry.prev_modifier, info->prev_modifier, USER_ID_SIZE);
    entry.modified = info->modified;
    std::memcpy(entry.modifier, info->modifier, USER_ID_SIZE);
    entry.version = info->version;
    entry.attribute = info->attribute;
    entry.attribute2 = info->attribute2;
    entry.accessed = info->accessed;
    entry.creator_task = info->creator_task;
    entry.writer_task = info->writer_task;
  }
  if (plat_fseek(stream, ctl_found_offset(), SEEK_SET) != 0 ||
      plat_fwrite(&entry, sizeof entry, 1, stream) != 1) {
    return CLASSIC_IO_ERROR;
  }
  return session.finish(CLASSIC_OK);
}

int classic_delete_control_file(const char* path, const char* pattern) {
  CtlSession session;
  int status = session.open(path, CTL_UPDATE);
  if (!ctl_opened(status)) return status;
  if (ctl_trailer().open_count != 0) return CLASSIC_ITEMS_OPEN;
  // The trailer is written back unlocked before the file goes, so that a
  // control file that cannot be removed is not left locked for ever.
  session.close();
  int translated = classic_netxlat(path, translated_path());
  if (translated != CLASSIC_OK) return translated;
  bool removed = plat_remove(translated_path()) == 0;
  char suffix[3] = {'a', 'a', 'a'};
  for (int i = 0; i < SUFFIX_COUNT; ++i) {
    int r = translate_data_file(path, pattern, suffix);
    if (r != CLASSIC_OK) return r;
    if (plat_remove(translated_path()) != 0) break;
    next_suffix(suffix);
  }
  return removed ? CLASSIC_OK : CLASSIC_CANNOT_REMOVE;
}

int classic_getcurrent_total_items(void) { return ctl_trailer().total_items; }
