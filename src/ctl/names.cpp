// Item names: normalisation and the natural order of names.
#include "ctl/names.h"

#include <array>
#include <cctype>
#include <cstring>

#include "base/text.h"
#include "ctl/state.h"
#include "platform/platform.h"

namespace {

// The weight of every byte value in the order of names.  Control characters
// weigh 0 like NUL; printable ASCII keeps its order with a to z folded onto
// A to Z; five high bytes sort after all of ASCII; every other high byte
// weighs 0.
constexpr std::array<unsigned char, 256> make_collation() {
  std::array<unsigned char, 256> w{};
  for (int b = 0x20; b <= 0x7F; ++b) w[b] = static_cast<unsigned char>(b - 0x1F);
  for (int b = 'a'; b <= 'z'; ++b) w[b] = w[b - 'a' + 'A'];
  w[0x80] = 0x61;
  w[0x8E] = 0x62;
  w[0x99] = 0x63;
  w[0x9A] = 0x64;
  w[0xA5] = 0x65;
  return w;
}

constexpr std::array<unsigned char, 256> kCollation = make_collation();

static_assert(kCollation[' '] == 0x01 && kCollation['0'] == 0x11 && kCollation['A'] == 0x22);
static_assert(kCollation['z'] == 0x3B && kCollation['`'] == 0x41 && kCollation[0x7F] == 0x60);

// Which routine compares names, chosen from the code page on the first
// comparison of the process and kept until reset.
constexpr int kModeUnknown = 0;
constexpr int kSingleByte = 1;
constexpr int kDoubleByte = 2;

void ensure_code_page_tables() {
  CtlState& st = ctl_state();
  if (st.name_mode != kModeUnknown) return;
  if (plat_cp_max_char_size() <= 1) {
    std::memset(st.lead, 0, sizeof st.lead);
    st.name_mode = kSingleByte;
    return;
  }
  for (int b = 0; b < 256; ++b) {
    st.lead[b] = plat_is_dbcs_lead_byte(static_cast<unsigned char>(b)) != 0;
  }
  st.name_mode = kDoubleByte;
}

bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// Length of the run of digits at p, at most limit.
int digit_run(const unsigned char* p, int limit) {
  int len = 0;
  while (len < limit && is_digit(p[len])) ++len;
  return len;
}

// The code of the character at p with n bytes left: a lead byte with a
// trail byte inside those n bytes makes lead x 256 + trail and is two bytes
// wide; every other byte is its own code.  A lead byte whose trail would lie
// beyond n, or is NUL, stands alone, so the comparison never reads past n
// or past the end of a name.
unsigned character_code(const bool* lead, const unsigned char* p, int n, int* width) {
  if (lead[p[0]] && n >= 2 && p[1] != 0) {
    *width = 2;
    return p[0] * 256u + p[1];
  }
  *width = 1;
  return p[0];
}

}  // namespace

void reset_names_state() {
  CtlState& st = ctl_state();
  st.name_mode = kModeUnknown;
  std::memset(st.lead, 0, sizeof st.lead);
}

void normalize_item_name(char* key, const char* name, int length) {
  if (length <= 0) return;
  const char* p = name ? name : "";
  while (*p == ' ') p = next_char(p);
  std::strncpy(key, p, static_cast<size_t>(length));

  // Walk the key a character at a time, upper-casing single-byte characters
  // and remembering where the last run of white space began.
  int pos = 0;
  int space_run = -1;
  while (pos < length && key[pos] != 0) {
    unsigned char c = static_cast<unsigned char>(key[pos]);
    if (std::isspace(c)) {
      if (space_run < 0) space_run = pos;
    } else {
      space_run = -1;
    }
    key[pos] = static_cast<char>(upper_unless_lead(c));
    // A character's trail byte is only looked at inside the key.
    int width = pos + 1 < length ? static_cast<int>(next_char(key + pos) - (key + pos)) : 1;
    pos += width;
  }
  int end = space_run >= 0 ? space_run : (pos < length ? pos : length);
  std::memset(key + end, 0, static_cast<size_t>(length - end));
}

int compare_item_names(const char* a, const char* b, int n) {
  ensure_code_page_tables();
  const auto* pa = reinterpret_cast<const unsigned char*>(a);
  const auto* pb = reinterpret_cast<const unsigned char*>(b);
  const CtlState& st = ctl_state();
  const bool dbcs = st.name_mode == kDoubleByte;
  const bool* lead = st.lead;

  while (n >= 1) {
    if (is_digit(*pa) && is_digit(*pb)) {
      // Numbers: the shorter run of digits is the smaller number; runs of
      // equal length compare digit by digit.
      int run_a = digit_run(pa, n);
      int run_b = digit_run(pb, n);
      if (run_a != run_b) return run_a - run_b;
      for (int i = 0; i < run_a; ++i) {
        if (pa[i] != pb[i]) return pa[i] - pb[i];
        if (--n == 0) return 0;
      }
      pa += run_a;
      pb += run_a;
      continue;
    }
    if (!dbcs || (!lead[*pa] && !lead[*pb] && *pa < 0x80 && *pb < 0x80)) {
      if (kCollation[*pa] != kCollation[*pb]) return kCollation[*pa] - kCollation[*pb];
      if (*pa == 0) return 0;
      ++pa;
      ++pb;
      --n;
      continue;
    }
    int width_a = 1;
    int width_b = 1;
    unsigned code_a = character_code(lead, pa, n, &width_a);
    unsigned code_b = character_code(lead, pb, n, &width_b);
    if (code_a != code_b) return static_cast<int>(code_a) - static_cast<int>(code_b);
    if (*pa == 0) return 0;
    pa += width_a;
    pb += width_b;
    n -= width_a;
  }
  return 0;
}
