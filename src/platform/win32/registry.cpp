// HKEY_CURRENT_USER through ADVAPI32.
#include "platform/win32/win32.h"

#include "platform/backend.h"
#include "platform/platform.h"

namespace {

HKEY key_of(plat_hkey k) { return static_cast<HKEY>(k); }

}  // namespace

plat_hkey plat_hkey_current_user() { return HKEY_CURRENT_USER; }

long backend_reg_open_key(plat_hkey parent, const char* subkey, unsigned long access, plat_hkey* out) {
  HKEY h = nullptr;
  LONG r = RegOpenKeyExA(key_of(parent), subkey, 0, access, &h);
  if (r == ERROR_SUCCESS) *out = h;
  return r;
}

long backend_reg_create_key(plat_hkey parent, const char* subkey, plat_hkey* out) {
  HKEY h = nullptr;
  LONG r = RegCreateKeyA(key_of(parent), subkey, &h);
  if (r == ERROR_SUCCESS) *out = h;
  return r;
}

long backend_reg_close_key(plat_hkey key) { return RegCloseKey(key_of(key)); }

long backend_reg_delete_key(plat_hkey parent, const char* subkey) {
  return RegDeleteKeyA(key_of(parent), subkey);
}

long backend_reg_enum_key(plat_hkey key, unsigned long index, char* name, unsigned long* length) {
  DWORD len = *length;
  LONG r = RegEnumKeyExA(key_of(key), index, name, &len, nullptr, nullptr, nullptr, nullptr);
  if (r == ERROR_SUCCESS) *length = len;
  return r;
}

long backend_reg_query_value(plat_hkey key, const char* value, unsigned long* type, void* data,
                          unsigned long* size) {
  DWORD t = 0;
  DWORD sz = size ? *size : 0;
  LONG r = RegQueryValueExA(key_of(key), value, nullptr, &t, static_cast<BYTE*>(data),
                            size ? &sz : nullptr);
  if (type) *type = t;
  if (size) *size = sz;
  return r;
}

long backend_reg_set_value(plat_hkey key, const char* value, unsigned long type, const void* data,
                        unsigned long size) {
  return RegSetValueExA(key_of(key), value, 0, type, static_cast<const BYTE*>(data), size);
}
