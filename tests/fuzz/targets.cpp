#include "fuzz/targets.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "admin/admin.h"
#include "admin/reset.h"
#include "base/names.h"
#include "base/text.h"
#include "classic.h"
#include "ctl/names.h"
#include "ctl/records.h"
#include "errlog/errlog.h"
#include "errlog/log_format.h"
#include "items/datafile.h"
#include "platform/platform.h"
#include "queries/match.h"

namespace fuzz {

namespace {

const char* const kArea = "c:\\userroot\\storage\\fz\\";
const char* const kCtl = "c:\\userroot\\storage\\fz\\data\\piece.ctl";
const char* const kData = "c:\\userroot\\storage\\fz\\data\\pieceaaa.pce";
const char* const kPattern = "piece%c%c%c.pce";
const char* const kLogin = "c:\\userroot\\storage\\fz\\login.ctl";
const char* const kXlatData = "C:\\userroot\\system\\state\\stordir\\netxlaaa.net";
const char* const kStation = "c:\\userroot\\prog\\util\\network.cfg";

void make_folders(const std::string& path) {
  for (size_t i = 3; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '\\') plat_mkdir(path.substr(0, i).c_str());
  }
}

void put_file(const char* path, const std::string& bytes) {
  std::string p = path;
  make_folders(p.substr(0, p.find_last_of('\\')));
  int fd = plat_sopen(path, CLASSIC_O_WRONLY | CLASSIC_O_CREAT | CLASSIC_O_TRUNC | CLASSIC_O_BINARY,
                      PLAT_SH_DENYNO, CLASSIC_S_IREAD | CLASSIC_S_IWRITE);
  if (fd < 0) return;
  if (!bytes.empty()) plat_write(fd, bytes.data(), static_cast<unsigned>(bytes.size()));
  plat_close(fd);
}

std::string as_bytes(const void* p, size_t n) { return std::string(static_cast<const char*>(p), n); }

CtlEntry entry(const char* name, int slot, int32_t size) {
  CtlEntry e;
  std::memset(&e, 0, sizeof e);
  put_field(e.name, ITEM_NAME_SIZE, name);
  std::memcpy(e.suffix, "aaa", 3);
  e.slot = static_cast<int8_t>(slot);
  e.size = size;
  e.version = CTL_VERSION;
  return e;
}

using Names = const char* const[3];
const char* const kItems[3] = {"A", "B", "C"};
const char* const kKeys[3] = {"FZ      A", "OLD     A", "TOOLS   D"};

// A control file of two items (slots 0 and 1 of the data file aaa) and a
// deleted third (slot 2), its trailer at slot 3.
std::string sound_control_file(Names names, int32_t size) {
  std::string bytes;
  for (int i = 0; i < 3; ++i) {
    CtlEntry e = entry(names[i], i, size);
    if (i == 2) e.flags = ENTRY_DELETED;
    bytes += as_bytes(&e, sizeof e);
  }
  CtlTrailer t = new_trailer();
  t.next_slot = 3;
  t.total_items = 2;
  bytes += as_bytes(&t, sizeof t);
  return bytes;
}

// The data file of those three, each holding payload.
std::string sound_data_file(Names names, const std::string& payload) {
  DataHeader h;
  std::memset(&h, 0, sizeof h);
  h.version = CTL_VERSION;
  const uint32_t length = static_cast<uint32_t>(payload.size());
  for (int i = 0; i < 3; ++i) {
    SlotRecord& s = h.slots[i];
    s.data_offset = DATA_HEADER_SIZE + length * static_cast<uint32_t>(i);
    s.data_length = static_cast<int32_t>(length);
    put_field(s.name, ITEM_NAME_SIZE, names[i]);
    if (i == 2) s.flags = ENTRY_DELETED;
  }
  return as_bytes(&h, sizeof h) + payload + payload + payload;
}

void reset() {
  reset_all();
  plat_hooks hooks{};
  hooks.sleep = [](uint32_t) {};
  plat_set_hooks(&hooks);
}

void drain_item(const char* ctl, const char* name, short mode, const char* pattern) {
  FILE* stream = nullptr;
  long size = 0;
  if (classic_open_item(ctl, name, mode, pattern, &stream, &size, nullptr) != CLASSIC_OK) return;
  char buf[64];
  if (mode & ITEM_WRITE) {
    plat_fwrite("written by the fuzzer", 1, 21, stream);
  } else {
    while (plat_fread(buf, 1, sizeof buf, stream) > 0) {
    }
  }
  classic_close_item(ctl, name, stream);
}

// Every operation on items of the piece control file.
void item_operations() {
  CTRL_TRAILER_INFO stats;
  classic_ctl_file_stats(kCtl, &stats);
  int version = 0, lock = 0, total = 0;
  classic_check_trailer_ex(kCtl, 2, &version, &lock, &total);
  CTRL_ENTRY_INFO info{};
  classic_lookup_item(kCtl, "A", &info);
  long offset = 0, position = 0;
  char more = 0;
  int status = 0;
  classic_free_item_list(classic_return_item_list(kCtl, "*", &offset, &position, &more, &status));
  offset = 0;
  long first = 0;
  CTRL_ENTRY_INFO* items = nullptr;
  for (int i = 0; i < 5 && classic_get_blk_items(kCtl, "*", 2, &offset, &first, &items) == CLASSIC_OK; ++i) {
  }
  std::vector<char> raw;
  classic_read_raw_item(kCtl, "B", kPattern, raw);
  drain_item(kCtl, "A", 0, kPattern);
  drain_item(kCtl, "B", ITEM_WRITE, kPattern);
  drain_item(kCtl, "NEW", ITEM_WRITE | ITEM_CREATE, kPattern);
  drain_item(kCtl, "A", ITEM_WRITE | ITEM_CREATE | ITEM_REPLACE, kPattern);
  classic_delete_item(kCtl, "B", kPattern);
  classic_undelete_item(kCtl, "C", kPattern);
  classic_rename_item(kCtl, "NEW", "RENAMED", kPattern);
  classic_set_attribute(kCtl, kPattern, "RENAMED", 3);
  offset = first = 0;
  classic_find_layrule_catgy(kArea, "A*", &offset, &first, &items);
}

std::string seed_control() { return sound_control_file(kItems, 10); }
std::string seed_data() { return sound_data_file(kItems, "0123456789"); }
std::string seed_login() {
  CtlTrailer t = new_trailer();
  t.total_items = 1;
  t.open_count = 1;
  return as_bytes(&t, sizeof t);
}
std::string seed_log() {
  std::string bytes(log_slot_offset(3), 0);
  LOG_HEADER h = {0, 0, 2};
  std::memcpy(bytes.data(), &h, sizeof h);
  return bytes;
}
std::string seed_translation() {
  std::string record(XLAT_RECORD_SIZE, ' ');
  record.replace(XLAT_TARGET_OFFSET, 11, "d:\\areas\\fz");
  return sound_data_file(kKeys, record);
}
std::string seed_names() { return std::string("ITEM10\0I?E*\\*", 14); }

void run_control(const uint8_t* data, size_t size) {
  reset();
  put_file(kCtl, as_bytes(data, size));
  put_file(kData, sound_data_file(kItems, "0123456789"));
  item_operations();
}

void run_data(const uint8_t* data, size_t size) {
  reset();
  put_file(kCtl, sound_control_file(kItems, 10));
  put_file(kData, as_bytes(data, size));
  item_operations();
}

void run_login(const uint8_t* data, size_t size) {
  reset();
  put_file(kLogin, as_bytes(data, size));
  put_file(kCtl, sound_control_file(kItems, 10));
  classic_login_area("c:\\userroot\\storage\\fz", "1");
  classic_logout_area("c:\\userroot\\storage\\fz", "1");
  classic_area_lock(1, kArea);
  classic_area_unlock(kArea);
  classic_login_delete("c:\\userroot\\storage\\fz");
}

void run_log(const uint8_t* data, size_t size) {
  reset();
  put_file(LOG_PATH, as_bytes(data, size));
  log_error_text(LOG_CLASS_EXECUTION, 54000, "a report\nof two lines");
  log_error(LOG_CLASS_EXECUTION, 54001, "%1% and %2%", "one", "two");
  std::vector<AdminLogRecord> records;
  admin_read_log(-1, &records);
  for (const AdminLogRecord& r : records) admin_report_text(r);
}

void run_translation(const uint8_t* data, size_t size) {
  reset();
  std::string station(200, ' ');
  station.replace(0, 4, "NODE");
  station[80] = 'F';
  station.replace(160, 2, "ON");
  put_file(kStation, station);
  put_file(XLAT_CTL_PATH, sound_control_file(kKeys, XLAT_RECORD_SIZE));
  put_file(kXlatData, as_bytes(data, size));
  char out[XLAT_PATH_SIZE];
  for (const char* path : {"c:\\userroot\\storage\\fz\\data\\piece.ctl", "c:\\tools\\x.exe",
                           "c:\\userroot\\storage\\old", "c:\\userroot\\storage\\*", "@:\\userroot\\storage\\fz"}) {
    classic_netxlat(path, out);
  }
  std::vector<AdminTranslation> list;
  admin_list_translations(&list);
}

void run_names(const uint8_t* data, size_t size) {
  std::string input = as_bytes(data, size);
  size_t cut = input.find('\0');
  std::string name = input.substr(0, cut == std::string::npos ? input.size() : cut);
  std::string pattern = cut == std::string::npos ? std::string() : input.substr(cut + 1);
  if (name.size() > 300 || pattern.size() > 300) return;
  for (unsigned cp : {1252u, 932u, 936u}) {
    plat_set_codepage(cp);
    reset_names_state();
    char key[ITEM_NAME_SIZE];
    normalize_item_name(key, name.c_str(), ITEM_NAME_SIZE);
    // Names are compared as the fields of their records: ITEM_NAME_SIZE bytes.
    char a[ITEM_NAME_SIZE] = {0};
    char b[ITEM_NAME_SIZE] = {0};
    std::memcpy(a, name.data(), std::min(name.size(), sizeof a));
    std::memcpy(b, pattern.data(), std::min(pattern.size(), sizeof b));
    compare_item_names(a, b, ITEM_NAME_SIZE);
    compare_item_names(key, b, ITEM_NAME_SIZE);
    char converted[MATCH_PATTERN_SIZE];
    convert_pattern(converted, pattern.c_str());
    char subject[ITEM_NAME_SIZE + 1] = {0};
    std::memcpy(subject, key, ITEM_NAME_SIZE);
    match(subject, converted);
  }
  plat_set_codepage(0);
  reset();
  put_file(kCtl, sound_control_file(kItems, 10));
  put_file(kData, sound_data_file(kItems, "0123456789"));
  drain_item(kCtl, name.c_str(), ITEM_WRITE | ITEM_CREATE, kPattern);
  CTRL_ENTRY_INFO info{};
  classic_lookup_item(kCtl, name.c_str(), &info);
  long offset = 0, position = 0;
  char more = 0;
  int status = 0;
  classic_free_item_list(classic_return_item_list(kCtl, pattern.c_str(), &offset, &position, &more, &status));
}

}  // namespace

const std::vector<TargetInfo>& targets() {
  static const std::vector<TargetInfo> all = {
      {"control", run_control, seed_control}, {"data", run_data, seed_data},
      {"login", run_login, seed_login},       {"log", run_log, seed_log},
      {"translation", run_translation, seed_translation}, {"names", run_names, seed_names},
  };
  return all;
}

const TargetInfo* find_target(const std::string& name) {
  for (const TargetInfo& t : targets()) {
    if (name == t.name) return &t;
  }
  return nullptr;
}

void make_store() {
  make_folders("c:\\userroot\\system\\error");
  make_folders("c:\\userroot\\storage\\fz\\data");
  make_folders("c:\\userroot\\storage\\fz\\param");
  make_folders("d:\\areas\\fz\\data");
}

}  // namespace fuzz
