// A store keeper's services: the settings of this system and where they came
// from, copies of items with their stamps, translations removed, local times
// read, and the console's pauses, clock and width.
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "admin/admin.h"
#include "base/names.h"
#include "platform/platform.h"

std::vector<AdminSetting> admin_settings() {
  std::vector<AdminSetting> out;
  for (const plat_setting& s : plat_settings()) out.push_back({s.name, s.value, s.source});
  out.push_back({"error log", std::string(LOG_PATH) + " (" + admin_native_path(LOG_PATH) + ")", "fixed"});
  char network = '!', server = 0, node[5] = {0}, node_copy[5] = {0};
  classic_get_driveinfo(&network, &server, node, node_copy);
  const char* queue = std::getenv("QUEUE");
  std::string source = queue && *queue ? "environment (QUEUE)"
                       : plat_access(STATION_FILE, 0) == 0 ? std::string("station file ") + STATION_FILE
                                                           : "default";
  out.push_back({"node name", node[0] ? node : "(none)", source});
  out.push_back({"network drive", network == '!' ? "(none)" : std::string(1, network) + ":", source});
  out.push_back({"server drive", server ? std::string(1, server) + ":" : "(none)", source});
  std::string user = admin_user_id();
  out.push_back({"user id", user.empty() ? "(none)" : user,
                 std::string("registry (") + USER_KEY + ", " + USER_ID_VALUE + ")"});
  return out;
}

int admin_copy_item(const std::string& from_ctl, const std::string& from_pattern, const std::string& name,
                    const std::string& to_ctl, const std::string& to_pattern, bool replace) {
  CTRL_ENTRY_INFO info;
  std::memset(&info, 0, sizeof info);
  int r = classic_lookup_item(from_ctl.c_str(), name.c_str(), &info);
  if (r != CLASSIC_OK && r != CLASSIC_OK_REMOVABLE) return r;
  std::string bytes;
  if (info.size > 0) {
    FILE* in = nullptr;
    long size = 0;
    r = classic_open_item(from_ctl.c_str(), name.c_str(), 0, from_pattern.c_str(), &in, &size, nullptr);
    if (r != CLASSIC_OK && r != CLASSIC_OK_REMOVABLE) return r;
    bytes.resize(static_cast<size_t>(size));
    bool whole = plat_fread(bytes.data(), 1, bytes.size(), in) == bytes.size();
    r = classic_close_item(from_ctl.c_str(), name.c_str(), in);
    if (r != CLASSIC_OK && r != CLASSIC_OK_REMOVABLE) return r;
    if (!whole) return CLASSIC_IO_ERROR;
  }
  short mode = ITEM_WRITE | ITEM_CREATE | ITEM_GIVEN_STAMPS | (replace ? ITEM_REPLACE : 0);
  FILE* out = nullptr;
  r = classic_open_item(to_ctl.c_str(), name.c_str(), mode, to_pattern.c_str(), &out, nullptr, &info);
  if (r != CLASSIC_OK && r != CLASSIC_OK_REMOVABLE) return r;
  bool whole = bytes.empty() || plat_fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  r = classic_close_item(to_ctl.c_str(), name.c_str(), out);
  if (r != CLASSIC_OK && r != CLASSIC_OK_REMOVABLE) return r;
  return whole ? CLASSIC_OK : CLASSIC_IO_ERROR;
}

int admin_remove_translation(const std::string& key) {
  if (plat_access(XLAT_CTL_PATH, 0) != 0) return CLASSIC_NOT_FOUND;
  int r = classic_delete_item(XLAT_CTL_PATH, key.c_str(), XLAT_DATA_PATTERN);
  return r == CLASSIC_OK_REMOVABLE ? CLASSIC_OK : r;
}

namespace {

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  unsigned yoe = static_cast<unsigned>(y - era * 400);
  unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

int64_t seconds_of(const std::tm& tm) {
  return days_from_civil(tm.tm_year + 1900, static_cast<unsigned>(tm.tm_mon + 1), static_cast<unsigned>(tm.tm_mday)) *
             86400 +
         tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
}

}  // namespace

bool admin_parse_local_time(const std::string& text, uint32_t* out) {
  if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos) {
    unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (text.size() > 10 || v > 0xFFFFFFFFull) return false;
    *out = static_cast<uint32_t>(v);
    return true;
  }
  std::tm tm;
  std::memset(&tm, 0, sizeof tm);
  char rest[8] = {0};
  int n = std::sscanf(text.c_str(), "%4d-%2d-%2d%*[ T]%2d:%2d:%2d%7s", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                      &tm.tm_hour, &tm.tm_min, &tm.tm_sec, rest);
  bool date_only = n == 3 && text.size() == 10;
  bool minutes = n == 5 && text.size() == 16;
  bool seconds = n == 6 && text.size() == 19;
  if (!date_only && !minutes && !seconds) return false;
  if (tm.tm_mon < 1 || tm.tm_mon > 12 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_hour > 23 || tm.tm_min > 59 ||
      tm.tm_sec > 59) {
    return false;
  }
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  int64_t wanted = seconds_of(tm);
  // The local time of a guess tells how far the guess is off; two rounds
  // settle a change of daylight saving time.
  int64_t t = wanted;
  for (int round = 0; round < 2; ++round) {
    if (t < 0 || t > 0xFFFFFFFFll) return false;
    std::tm local;
    if (plat_localtime32(static_cast<uint32_t>(t), &local) != 0) return false;
    t += wanted - seconds_of(local);
  }
  if (t < 0 || t > 0xFFFFFFFFll) return false;
  *out = static_cast<uint32_t>(t);
  return true;
}

uint32_t admin_now() { return plat_time32(); }
uint32_t admin_ticks() { return plat_tick_count(); }
void admin_pause(uint32_t ms) { plat_sleep(ms); }
int admin_terminal_width(int fd) { return plat_terminal_width(fd); }
