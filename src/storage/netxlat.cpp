// Path translation for network storage.
//
// The translation table, searched in order (the first prefix that matches
// the completed path wins):
//   1  c:\userroot\storage  translate; no entry is an error       key 'A'
//   2  c:\userroot          never translated
//   3  c:\                  translate; no entry keeps the path    key 'D'
// A translation key is the first component after the prefix (1 to 8
// characters) padded with spaces to 8, then the row's key letter; the
// translation control file maps keys to target folders.  The last two
// translations are cached for the life of the process.
#include "storage/netxlat.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "classic.h"
#include "base/text.h"
#include "storage/hostinfo.h"
#include "storage/state.h"
#include "storage/xlat_lookup.h"

namespace {

struct XlatRow {
  const char* prefix;
  bool pass_through;
  bool falls_back;  // a name without entry keeps the path
  char key_letter;
  const char* listing_dir;
  char listing_drive;
};

const XlatRow kRows[] = {
    {"c:\\userroot\\storage", false, false, 'A', XLAT_AREA_LISTING, 'C'},
    {"c:\\userroot", true, false, 0, nullptr, 0},
    {"c:\\", false, true, 'D', XLAT_DOS_LISTING, 'C'},
};

constexpr size_t kKeyLength = 9;
constexpr size_t kMaxComponent = 8;
constexpr size_t kMaxPatternComponent = 23;

static_assert(sizeof(XlatCacheSlot::key) == kKeyLength + 1);

bool keys_equal(const char* a, const char* b) {
  for (size_t i = 0; i < kKeyLength; ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// Copies text to out when it fits; false when it does not.
bool put(char* out, const char* text) {
  size_t n = std::strlen(text);
  if (n >= XLAT_PATH_SIZE) return false;
  std::memcpy(out, text, n + 1);
  return true;
}

// The body of classic_netxlat after the network flag has been remembered.
int translate(char* w, char* out) {
  // Steps 4 and 5: "@:" forces translation; drive A:, no network drive or
  // the flag off leave the path as it is.
  if (starts_nocase(w, "@:")) {
    classic_enable_network();
    w[0] = 'c';
  } else if (starts_nocase(w, "a:") || storage_state().network_drive == '!' || storage_state().network_flag == 0) {
    return put(out, w) ? CLASSIC_OK : CLASSIC_CANNOT_REMOVE;
  }

  // Step 6: the full path, relative paths taken from c:\userroot.
  char full[XLAT_MAX_PATH + 1];
  const char* rest = w;
  size_t len = 0;
  if (w[1] == ':') {
    full[0] = w[0];
    full[1] = w[1];
    len = 2;
    rest = w + 2;
  } else {
    full[0] = 'c';
    full[1] = ':';
    len = 2;
  }
  const char* middle = rest[0] == '\\' ? "" : "\\userroot\\";
  int n = std::snprintf(full + len, sizeof full - len, "%s%s", middle, rest);
  if (n < 0 || len + static_cast<size_t>(n) > XLAT_MAX_PATH) return CLASSIC_CANNOT_REMOVE;

  if (!starts_nocase(full, "c:")) return put(out, w) ? CLASSIC_OK : CLASSIC_CANNOT_REMOVE;

  const XlatRow* row = nullptr;
  for (const XlatRow& r : kRows) {
    if (starts_nocase(full, r.prefix)) {
      row = &r;
      break;
    }
  }
  if (!row || row->pass_through) return put(out, w) ? CLASSIC_OK : CLASSIC_CANNOT_REMOVE;

  // Step 9: the name component after the prefix.
  const char* comp = full + std::strlen(row->prefix);
  if (*comp == '\\') ++comp;
  const char* end = comp;
  bool pattern = false;
  for (size_t place = 1; *end && *end != '\\'; ++end, ++place) {
    if (*end == '*' || *end == '?') {
      pattern = true;
    } else if (!pattern && (*end == '.' || place > kMaxComponent)) {
      return put(out, w) ? CLASSIC_OK : CLASSIC_CANNOT_REMOVE;
    }
  }
  size_t comp_len = static_cast<size_t>(end - comp);
  const char* tail = end;

  // Step 10: an empty or wildcard component lists the row's directory.
  if (comp_len == 0 || pattern) {
    if (comp_len > kMaxPatternComponent) return CLASSIC_CANNOT_REMOVE;
    char listing[XLAT_PATH_SIZE];
    std::snprintf(listing, sizeof listing, "%c:%s\\%.*s", row->listing_drive, row->listing_dir,
                  static_cast<int>(comp_len), comp);
    return put(out, listing) ? CLASSIC_OK : CLASSIC_CANNOT_REMOVE;
  }

  // Steps 11 and 12: the key, first looked up in the cache.
  char key[kKeyLength + 1];
  std::memset(key, ' ', kMaxComponent);
  std::memcpy(key, comp, comp_len);
  key[kMaxComponent] = row->key_letter;
  key[kKeyLength] = 0;
  const char* target = nullptr;
  for (const XlatCacheSlot& slot : storage_state().cache) {
    if (slot.key[0] && keys_equal(slot.key, key)) {
      target = slot.target;
      break;
    }
  }

  // Steps 13 to 15: the translation control file.
  if (!target) {
    char found[XLAT_PATH_SIZE];
    int r = lookup_translation(key, found);
    if (r == CLASSIC_NOT_FOUND && row->falls_back) return put(out, w) ? CLASSIC_OK : CLASSIC_CANNOT_REMOVE;
    if (r == CLASSIC_IO_ERROR) return CLASSIC_IO_ERROR;
    if (r != CLASSIC_OK) return CLASSIC_CANNOT_REMOVE;
    target = remember_translation(key, found);
  }

  // Step 16: the target followed by the rest of the path.
  char result[XLAT_PATH_SIZE];
  int m = std::snprintf(result, sizeof result, "%s%s", target, tail);
  if (m < 0 || static_cast<size_t>(m) >= sizeof result) return CLASSIC_CANNOT_REMOVE;
  std::memcpy(out, result, static_cast<size_t>(m) + 1);
  return CLASSIC_OK;
}

}  // namespace

const char* remember_translation(const char* key, const char* target) {
  XlatCacheSlot& slot = storage_state().cache[storage_state().cache_next];
  std::memcpy(slot.key, key, kKeyLength);
  slot.key[kKeyLength] = 0;
  std::snprintf(slot.target, sizeof slot.target, "%.*s", static_cast<int>(XLAT_TARGET_MAX), target);
  storage_state().cache_next ^= 1;
  return slot.target;
}

void set_network_drive_letter(char letter) { storage_state().network_drive = letter; }

char network_drive_letter() { return storage_state().network_drive; }

char* translated_path() { return storage_state().translated_path; }

int classic_enable_network(void) {
  int previous = storage_state().network_flag;
  storage_state().network_flag = 1;
  return previous;
}

int classic_disable_network(void) {
  int previous = storage_state().network_flag;
  storage_state().network_flag = 0;
  return previous;
}

int network_translation_active(const char* name) {
  if (storage_state().network_drive != '!' && storage_state().network_flag != 0) return 1;
  return name && name[0] == '@' ? 1 : 0;
}

int classic_netxlat(const char* path, char* out) {
  ensure_host_info();
  if (!path || !out) return CLASSIC_CANNOT_REMOVE;
  size_t len = std::strlen(path);
  if (len > XLAT_MAX_PATH) return CLASSIC_CANNOT_REMOVE;
  char w[XLAT_MAX_PATH + 1];
  for (size_t i = 0; i <= len; ++i) w[i] = path[i] == '/' ? '\\' : path[i];
  // The out buffer is written only on success: translate into a copy.
  char result[XLAT_PATH_SIZE];
  signed char remembered = storage_state().network_flag;
  int status = translate(w, result);
  storage_state().network_flag = remembered;
  if (status == CLASSIC_OK) std::memcpy(out, result, std::strlen(result) + 1);
  return status;
}

int translate_data_file(const char* ctl_path, const char* pattern, const char* suffix) {
  char path[XLAT_PATH_SIZE];
  if (!ctl_path || !pattern || !data_file_path(path, ctl_path, pattern, suffix)) {
    return CLASSIC_IO_ERROR;
  }
  return classic_netxlat(path, translated_path());
}
