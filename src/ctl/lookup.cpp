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
// result after the session was closed again.  On 1 the current entry holds
// the entry and the stream stands just after it.
int open_and_find(FILE** stream, const char* path, const char* name, int flags, int* open_status) {
  *open_status = ctl_open(stream, path, flags);
  if (!ctl_opened(*open_status)) return *open_status;
  char key[ITEM_NAME_SIZE];
  normalize_item_name(key, name ? name : "", ITEM_NAME_SIZE);
  int r = ctl_find_entry(*stream, key, &g_entry);
  if (r != CLASSIC_OK) ctl_close(*stream, flags, *open_status);
  return r;
}

}  // namespace

void reset_lookup_state() { classic_blk_count = 0; }

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
  FILE* stream = nullptr;
  int status = 0;
  int r = open_and_find(&stream, path, name, CTL_READ, &status);
  if (r != CLASSIC_OK) return r;
  if (info) fill_entry_info(info, g_entry, true);
  ctl_close(stream, CTL_READ, status);
  return CLASSIC_OK;
}

int classic_overwrite_ctrl_entry(const char* path, const char* name, const CTRL_ENTRY_INFO* info) {
  FILE* stream = nullptr;
  int status = 0;
  int r = open_and_find(&stream, path, name, CTL_UPDATE, &status);
  if (r != CLASSIC_OK) return r;
  if (info) {
    // The caller's name is taken as it stands: the entry keeps its place,
    // so the caller keeps the name equal to the one it replaces.
    put_field(g_entry.name, ITEM_NAME_SIZE, info->name);
    g_entry.flags = info->flags;
    g_entry.created = info->created;
    std::memcpy(g_entry.creator, info->creator, USER_ID_SIZE);
    g_entry.prev_modified = info->prev_modified;
    std::memcpy(g_entry.prev_modifier, info->prev_modifier, USER_ID_SIZE);
    g_entry.modified = info->modified;
    std::memcpy(g_entry.modifier, info->modifier, USER_ID_SIZE);
    g_entry.version = info->version;
    g_entry.attribute = info->attribute;
    g_entry.attribute2 = info->attribute2;
    g_entry.accessed = info->accessed;
    g_entry.creator_task = info->creator_task;
    g_entry.writer_task = info->writer_task;
  }
  if (plat_fseek(stream, -CTL_RECORD_SIZE, SEEK_CUR) != 0 || plat_ftell(stream) < 0 ||
      plat_fwrite(&g_entry, sizeof g_entry, 1, stream) != 1) {
    ctl_close(stream, CTL_UPDATE, status);
    return CLASSIC_IO_ERROR;
  }
  ctl_close(stream, CTL_UPDATE, status);
  return CLASSIC_OK;
}

int classic_delete_control_file(const char* path, const char* pattern) {
  FILE* stream = nullptr;
  int status = ctl_open(&stream, path, CTL_UPDATE);
  if (!ctl_opened(status)) return status;
  if (g_trailer.open_count != 0) {
    ctl_close(stream, CTL_UPDATE, status);
    return CLASSIC_ITEMS_OPEN;
  }
  // The trailer is written back unlocked before the file goes, so that a
  // control file that cannot be removed is not left locked for ever.
  ctl_close(stream, CTL_UPDATE, status);
  int translated = classic_netxlat(path, g_translated_path);
  if (translated != CLASSIC_OK) return translated;
  bool removed = plat_remove(g_translated_path) == 0;
  char suffix[3] = {'a', 'a', 'a'};
  for (int i = 0; i < SUFFIX_COUNT; ++i) {
    int r = translate_data_file(path, pattern, suffix);
    if (r != CLASSIC_OK) return r;
    if (plat_remove(g_translated_path) != 0) break;
    next_suffix(suffix);
  }
  return removed ? CLASSIC_OK : CLASSIC_CANNOT_REMOVE;
}

int classic_getcurrent_total_items(void) { return g_trailer.total_items; }
