// What a store keeper sets up: the folders of a drive's tree and of areas,
// the registration of areas, translation entries and the user id.
#include <cerrno>
#include <cstring>

#include "admin/admin.h"
#include "base/names.h"
#include "platform/platform.h"
#include "storage/areas.h"
#include "storage/hostinfo.h"
#include "storage/xlat_lookup.h"

std::string admin_area_path(char drive, const std::string& name) {
  return std::string(1, drive) + ":" + STORAGE_FOLDER + "\\" + name;
}

std::vector<std::string> admin_tree_folders(char drive) {
  std::vector<std::string> folders;
  std::string root = std::string(1, drive) + ":" + USERROOT_FOLDER;
  for (const char* sub : {"", "\\storage", "\\system", "\\system\\error", "\\system\\state",
                          "\\system\\state\\stordir", "\\system\\state\\dosdir", "\\temp", "\\prog",
                          "\\prog\\util"}) {
    folders.push_back(root + sub);
  }
  return folders;
}

const std::vector<std::string>& admin_area_folders() {
  static const std::vector<std::string> folders = {AREA_DATA_FOLDER, AREA_PARAM_FOLDER};
  return folders;
}

bool admin_drive_exists(char letter) { return (plat_logical_drives() >> (letter - 'A')) & 1ul; }

std::string admin_area_key(char drive, const std::string& area) {
  char key[64];
  format_drive_key(key, sizeof key, drive);
  return std::string(key) + "\\" + area;
}

long admin_area_version(char drive, const std::string& area) {
  return registered_area_version(drive, area.c_str());
}

int admin_register_area(char drive, const std::string& area, uint32_t version) {
  return register_area(drive, area.c_str(), version);
}

int admin_make_folders(const std::string& path) {
  if (plat_access(path.c_str(), 0) == 0) return 0;
  int made = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i != path.size() && path[i] != '\\') continue;
    std::string prefix = path.substr(0, i);
    if (prefix.empty() || (prefix.size() == 2 && prefix[1] == ':')) continue;
    if (plat_access(prefix.c_str(), 0) == 0) continue;
    if (plat_mkdir(prefix.c_str()) != 0) {
      if (errno != EEXIST) return -1;
      continue;
    }
    ++made;
  }
  return made;
}

const char* admin_xlat_ctl_path() { return XLAT_CTL_PATH; }

int admin_add_translation(const std::string& key, const std::string& target, bool replace) {
  if (key.size() != 9 || target.empty() || target.size() > static_cast<size_t>(XLAT_TARGET_MAX)) {
    return CLASSIC_IO_ERROR;
  }
  if (admin_make_folders(XLAT_FOLDER) < 0) return CLASSIC_IO_ERROR;
  if (plat_access(XLAT_CTL_PATH, 0) != 0) {
    int r = classic_net_ctrl_creat();
    if (r != CLASSIC_OK) return r;
  }
  // The record: blanks, the target from byte 21 on.
  std::string record(XLAT_RECORD_SIZE, ' ');
  record.replace(XLAT_TARGET_OFFSET, target.size(), target);
  short mode = ITEM_WRITE | ITEM_CREATE | (replace ? ITEM_REPLACE : 0);
  FILE* stream = nullptr;
  int r = classic_open_item(XLAT_CTL_PATH, key.c_str(), mode, XLAT_DATA_PATTERN, &stream, nullptr, nullptr);
  if (r != CLASSIC_OK) return r;
  bool whole = plat_fwrite(record.data(), 1, record.size(), stream) == record.size();
  int closed = classic_close_item(XLAT_CTL_PATH, key.c_str(), stream);
  if (closed != CLASSIC_OK) return closed;
  return whole ? CLASSIC_OK : CLASSIC_IO_ERROR;
}

int admin_list_translations(std::vector<AdminTranslation>* out) {
  out->clear();
  if (plat_access(XLAT_CTL_PATH, 0) != 0) return CLASSIC_OK;
  long offset = 0, position = 0;
  char more = 0;
  int status = CLASSIC_OK;
  CTRL_ENTRY_INFO* head = classic_return_item_list(XLAT_CTL_PATH, "*", &offset, &position, &more, &status);
  for (CTRL_ENTRY_INFO* e = head; e; e = e->next) {
    AdminTranslation t;
    t.key.assign(e->name, strnlen(e->name, sizeof e->name));
    char target[XLAT_PATH_SIZE];
    // The target as path translation reads it.
    t.status = lookup_translation(t.key.c_str(), target);
    if (t.status == CLASSIC_OK) t.target = target;
    out->push_back(t);
  }
  classic_free_item_list(head);
  if (status == 0) return CLASSIC_IO_ERROR;  // a block of the file could not be read
  return status == CLASSIC_OK_REMOVABLE ? CLASSIC_OK : status;
}

std::string admin_user_id() {
  char id[USER_ID_CHARS + 1];
  read_user_id(id);
  return id;
}

int admin_set_user_id(const std::string& user) {
  if (user.size() > USER_ID_CHARS) return CLASSIC_IO_ERROR;
  return write_user_id(user.c_str());
}
