// Clock, pause and message-box calls go through here so that a test can
// replace them; everything else of the seam calls the OS directly.
#include "platform/backend.h"
#include "platform/platform.h"

namespace {

plat_hooks g_hooks{};
unsigned g_codepage = 0;

}  // namespace

void plat_set_hooks(const plat_hooks* hooks) { g_hooks = hooks ? *hooks : plat_hooks{}; }

void plat_set_codepage(unsigned cp) { g_codepage = cp; }

void plat_reset_state() {
  g_hooks = plat_hooks{};
  g_codepage = 0;
  plat_reset_files();
}

unsigned codepage_override() { return g_codepage; }

void plat_sleep(uint32_t ms) {
  if (g_hooks.sleep) {
    g_hooks.sleep(ms);
    return;
  }
  backend_sleep(ms);
}

uint32_t plat_time32() { return g_hooks.time32 ? g_hooks.time32() : backend_time32(); }

uint32_t plat_tick_count() {
  return g_hooks.tick_count ? g_hooks.tick_count() : backend_tick_count();
}

int plat_localtime32(uint32_t t, std::tm* out) {
  return g_hooks.localtime32 ? g_hooks.localtime32(t, out) : backend_localtime32(t, out);
}

int plat_message_box(const char* text, const char* caption, unsigned style) {
  if (g_hooks.message_box) return g_hooks.message_box(text, caption, style);
  return backend_message_box(text, caption, style);
}
