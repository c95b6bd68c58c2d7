// What a store keeper looks at: the item types, control files and the error
// log as they lie on disk, read without holding anybody up.
#include <cstring>

#include "admin/admin.h"
#include "admin/image.h"
#include "base/names.h"
#include "ctl/records.h"
#include "ctl/types.h"
#include "errlog/errlog.h"
#include "errlog/log_format.h"
#include "platform/platform.h"

const std::vector<AdminItemType>& admin_item_types() {
  static const std::vector<AdminItemType> types = [] {
    std::vector<AdminItemType> v;
    for (const ItemType& t : g_item_types) {
      AdminItemType k;
      k.ctl = t.ctl_name;
      k.pattern = t.pattern;
      k.name = k.ctl.substr(0, k.ctl.find('.'));
      k.extension = k.pattern.substr(k.pattern.rfind('.') + 1);
      k.param = k.extension == "par";
      v.push_back(k);
    }
    return v;
  }();
  return types;
}

const char* admin_type_folder(const AdminItemType& type) {
  return type.param ? AREA_PARAM_FOLDER : AREA_DATA_FOLDER;
}

const char* admin_other_folder(const AdminItemType& type) {
  return type.param ? AREA_DATA_FOLDER : AREA_PARAM_FOLDER;
}

std::string admin_data_file_name(const std::string& pattern, const char* suffix) {
  char name[XLAT_PATH_SIZE];
  // Without a folder in the control-file path the data-file path is the bare
  // file name.
  if (!data_file_path(name, "", pattern.c_str(), suffix)) return "?";
  return name;
}

std::string admin_task_name(int id) { return task_name_of(id); }

bool admin_read_shared_file(const std::string& path, std::string* bytes) {
  return read_whole_file(path, PLAT_SH_DENYWR, READ_ATTEMPTS, bytes) == FileState::Read;
}

int admin_read_control_file(const std::string& ctl, AdminControlFile* out) {
  std::string path = admin_translate(ctl);
  std::string bytes;
  if (path.empty() || !admin_read_shared_file(path, &bytes)) return CLASSIC_IO_ERROR;
  CtlImage image;
  parse_control_bytes(bytes, &image);
  if (!image.whole) return CLASSIC_IO_ERROR;
  const CtlTrailer& t = image.trailer;
  AdminHolder holder = trailer_holder(t);
  *out = AdminControlFile{};
  out->entries = static_cast<long>(image.entries.size());
  out->suffix.assign(t.suffix, sizeof t.suffix);
  out->next_slot = t.next_slot;
  out->total_items = t.total_items;
  out->open_count = t.open_count;
  out->lock_state = static_cast<int8_t>(t.lock_state);
  out->ever_locked = t.lock_marker != 0;
  out->user = holder.user;
  out->node = holder.node;
  out->task_name = holder.task_name;
  out->task_id = t.task_id;
  out->version = static_cast<int8_t>(t.version);
  for (const CtlEntry& e : image.entries) out->deleted += (e.flags & ENTRY_DELETED) ? 1 : 0;
  return CLASSIC_OK;
}

const char* admin_log_path() { return LOG_PATH; }

bool admin_read_log(int max, std::vector<AdminLogRecord>* out) {
  out->clear();
  if (plat_access(LOG_PATH, 0) != 0) return true;
  std::string bytes;
  if (!admin_read_shared_file(LOG_PATH, &bytes)) return false;
  LOG_HEADER header = {0, 0, 0};
  if (bytes.size() >= sizeof header) std::memcpy(&header, bytes.data(), sizeof header);
  header.oldest %= LOG_SLOTS;
  header.next %= LOG_SLOTS;
  // Newest first: from next - 1 back to oldest.
  for (int slot = header.next; slot != header.oldest;) {
    slot = (slot + LOG_SLOTS - 1) % LOG_SLOTS;
    if (max >= 0 && out->size() >= static_cast<size_t>(max)) break;
    LOG_RECORD r;
    std::memset(&r, 0, sizeof r);
    size_t at = static_cast<size_t>(log_slot_offset(slot));
    if (at + sizeof r <= bytes.size()) std::memcpy(&r, bytes.data() + at, sizeof r);
    AdminLogRecord record;
    record.time = static_cast<uint32_t>(r.time);
    record.error_class = r.error_class;
    record.code = r.code;
    record.task_id = r.task_id;
    record.slot = slot;
    int lines = r.line_count < 1 ? 1 : (r.line_count > LOG_LINES ? LOG_LINES : r.line_count);
    for (int i = 0; i < lines; ++i) record.lines.push_back(fixed_text(r.lines[i], LOG_LINE_SIZE));
    out->push_back(record);
  }
  return true;
}

std::string admin_report_text(const AdminLogRecord& record) {
  std::string message;
  for (size_t i = 0; i < record.lines.size(); ++i) message += (i ? "\n" : "") + record.lines[i];
  return report_text(record.time, static_cast<int8_t>(record.error_class),
                     static_cast<uint16_t>(record.code), message);
}

const char* admin_class_name(int error_class) {
  static const char* const names[] = {"DEBUG", "STATE", "USER", "EXECUTION", "POPUP", "FATAL"};
  return error_class >= 0 && error_class <= 5 ? names[error_class] : "UNKNOWN";
}
