// Names as people read them: the bytes of the ANSI code page to UTF-8 and
// back, with a private-use character for every byte that has no Unicode form
// here, so that no name is ever changed on its way out and in.
#include <cstring>

#include "admin/admin.h"
#include "platform/platform.h"

namespace {

// The escape of a byte that does not convert (and of both bytes of a
// double-byte character): U+F700 + byte.
constexpr uint32_t kEscapeBase = 0xF700;

// Code page 1252 from 0x80 to 0x9F (0: undefined); 0xA0 to 0xFF are
// U+00A0 to U+00FF.
constexpr uint16_t k1252[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// The Unicode form of a byte, or 0 when it has none here.
uint32_t unicode_of(unsigned char byte, unsigned cp) {
  if (byte < 0x80) return byte;
  if (cp != 1252) return 0;
  if (byte >= 0xA0) return byte;
  return k1252[byte - 0x80];
}

// The byte of a character, or -1.
int byte_of(uint32_t ch, unsigned cp) {
  if (ch < 0x80) return static_cast<int>(ch);
  if (ch >= kEscapeBase && ch <= kEscapeBase + 0xFF) return static_cast<int>(ch - kEscapeBase);
  if (cp != 1252) return -1;
  if (ch >= 0xA0 && ch <= 0xFF) return static_cast<int>(ch);
  for (int i = 0; i < 32; ++i) {
    if (k1252[i] == ch) return 0x80 + i;
  }
  return -1;
}

void put_utf8(uint32_t ch, std::string* out) {
  if (ch < 0x80) {
    *out += static_cast<char>(ch);
  } else if (ch < 0x800) {
    *out += static_cast<char>(0xC0 | (ch >> 6));
    *out += static_cast<char>(0x80 | (ch & 0x3F));
  } else {
    *out += static_cast<char>(0xE0 | (ch >> 12));
    *out += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (ch & 0x3F));
  }
}

// Decodes UTF-8 into code points; false when text is not UTF-8 (overlong
// forms and surrogates included).
bool decode_utf8(const std::string& text, std::vector<uint32_t>* out) {
  for (size_t i = 0; i < text.size();) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    int n = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
    if (n < 0) return false;
    uint32_t ch = n == 0 ? b : b & (0x3F >> n);
    for (int k = 1; k <= n; ++k) {
      if (i + k >= text.size()) return false;
      unsigned char c = static_cast<unsigned char>(text[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      ch = (ch << 6) | (c & 0x3F);
    }
    static const uint32_t kLeast[4] = {0, 0x80, 0x800, 0x10000};
    if (ch < kLeast[n] || ch > 0x10FFFF || (ch >= 0xD800 && ch <= 0xDFFF)) return false;
    out->push_back(ch);
    i += static_cast<size_t>(n) + 1;
  }
  return true;
}

}  // namespace

unsigned admin_codepage() { return plat_acp(); }

std::string admin_name_to_utf8(const std::string& bytes) {
  unsigned cp = plat_acp();
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    // Both bytes of a double-byte character are escaped.
    if (plat_is_dbcs_lead_byte(b) && i + 1 < bytes.size()) {
      put_utf8(kEscapeBase + b, &out);
      put_utf8(kEscapeBase + static_cast<unsigned char>(bytes[++i]), &out);
      continue;
    }
    uint32_t ch = unicode_of(b, cp);
    put_utf8(ch || !b ? ch : kEscapeBase + b, &out);
  }
  return out;
}

bool admin_name_from_utf8(const std::string& text, std::string* bytes, std::string* bad) {
  std::vector<uint32_t> chars;
  if (!decode_utf8(text, &chars)) {
    *bytes = text;
    return true;
  }
  unsigned cp = plat_acp();
  std::string out;
  for (uint32_t ch : chars) {
    int b = byte_of(ch, cp);
    if (b < 0) {
      if (bad) {
        bad->clear();
        put_utf8(ch, bad);
      }
      return false;
    }
    out += static_cast<char>(b);
  }
  *bytes = out;
  return true;
}
