// Helpers of the area and device tests: area keys, and the names a listing
// call stores in slots.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "storage/areas.h"

namespace testreg {

inline std::string key_of(char drive, const std::string& area) {
  char drive_key[64];
  format_drive_key(drive_key, sizeof drive_key, drive);
  return drive ? std::string(drive_key) + "\\" + area : AREA_SYSTEM_KEY;
}

// Registers area on drive (drive 0: only the system's key).
inline void area(char drive, const std::string& name, std::optional<uint32_t> version) {
  plat_hkey key = nullptr;
  if (plat_reg_create_key(plat_hkey_current_user(), key_of(drive, name).c_str(), &key)) return;
  if (version) plat_reg_set_value(key, "Version", PLAT_REG_DWORD, &*version, 4);  // little-endian
  plat_reg_close_key(key);
}

// "missing", "none" (no Version) or the Version in hex.
inline std::string state(char drive, const std::string& name) {
  plat_hkey key = nullptr;
  if (plat_reg_open_key(plat_hkey_current_user(), key_of(drive, name).c_str(), PLAT_KEY_READ, &key)) {
    return "missing";
  }
  uint32_t version = 0;
  bool has = query_area_version(key, &version);
  plat_reg_close_key(key);
  char text[16];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(version));
  return has ? text : "none";
}

// Calls list(buffer) with capacity slots of width bytes and returns the
// count names it stored.  Each slot must be NUL-terminated within its
// width, and nothing written past the last slot stored.
template <typename List>
std::vector<std::string> slots(size_t capacity, int width, List list) {
  size_t w = width > 0 ? static_cast<size_t>(width) : 0;
  std::vector<char> buf(capacity * w + 8, '#');
  size_t count = list(buf.data());
  std::vector<std::string> out;
  for (size_t i = 0; i < count; ++i) {
    const char* slot = buf.data() + i * w;
    out.emplace_back(slot, strnlen(slot, w));
    EXPECT_LT(out.back().size(), w);
  }
  EXPECT_TRUE(std::all_of(buf.begin() + count * w, buf.end(), [](char c) { return c == '#'; }));
  return out;
}

}  // namespace testreg
