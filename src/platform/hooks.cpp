// The seam's process-wide state, and the clock, pause and message-box calls
// that a test may replace (see plat_hooks).
#include "platform/backend.h"
#include "platform/platform.h"
#include "platform/state.h"

namespace {

PlatformState fresh_state() {
  PlatformState st{};
  for (PlatOpenFile& f : st.open) f.fd = -1;
  return st;
}

PlatformState g_platform = fresh_state();

}  // namespace

PlatformState& platform_state() { return g_platform; }

void plat_set_hooks(const plat_hooks* hooks) { g_platform.hooks = hooks ? *hooks : plat_hooks{}; }

void plat_set_codepage(unsigned cp) { g_platform.codepage = cp; }

void plat_reset_state() {
  char* ahead = g_platform.ahead.bytes;  // kept for the next stream
  g_platform = fresh_state();
  g_platform.ahead.bytes = ahead;
  backend_reset_state();
}

unsigned codepage_override() { return g_platform.codepage; }

void plat_sleep(uint32_t ms) {
  if (g_platform.hooks.sleep) {
    g_platform.hooks.sleep(ms);
    return;
  }
  backend_sleep(ms);
}

uint32_t plat_time32() { return g_platform.hooks.time32 ? g_platform.hooks.time32() : backend_time32(); }

uint32_t plat_tick_count() {
  return g_platform.hooks.tick_count ? g_platform.hooks.tick_count() : backend_tick_count();
}

int plat_localtime32(uint32_t t, std::tm* out) {
  return g_platform.hooks.localtime32 ? g_platform.hooks.localtime32(t, out) : backend_localtime32(t, out);
}

int plat_message_box(const char* text, const char* caption, unsigned style) {
  if (g_platform.hooks.message_box) return g_platform.hooks.message_box(text, caption, style);
  return backend_message_box(text, caption, style);
}
