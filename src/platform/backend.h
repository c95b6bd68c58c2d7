// What the two backends provide to the parts of src/platform that are the
// same on every system (the hooks and the code-page choice).
#pragma once

#include <cstdint>
#include <ctime>

void backend_sleep(uint32_t ms);
uint32_t backend_time32();
uint32_t backend_tick_count();
int backend_localtime32(uint32_t t, std::tm* out);
int backend_message_box(const char* text, const char* caption, unsigned style);

// The code page a test chose with plat_set_codepage, or 0 for the system's.
unsigned codepage_override();
