// The log file on disk (little-endian):
//   0                6 bytes    LOG_HEADER
//   6 + 248 x s      248 bytes  LOG_RECORD in slot s, s = 0 to 999
// The records kept are the slots from oldest up to next - 1, modulo 1000;
// slot next is always free, so the ring holds at most 999 records.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int LOG_SLOTS = 1000;
constexpr int LOG_LINES = 3;
constexpr int LOG_LINE_SIZE = 79;  // 78 characters and a NUL
constexpr int LOG_LINE_CHARS = 78;

#pragma pack(push, 1)

struct LOG_HEADER {
  uint16_t oldest;  // slot of the oldest record kept
  uint16_t mark;    // moves along with oldest when the ring is full
  uint16_t next;    // slot the next record goes to
};

struct LOG_RECORD {
  int32_t time;        //   0  seconds since 1970 (UTC)
  uint8_t error_class; //   4  0 to 5
  uint8_t line_count;  //   5  1 to 3
  uint16_t code;       //   6
  uint16_t task_id;    //   8  always 66
  char lines[LOG_LINES][LOG_LINE_SIZE];  // 10, 89, 168
  uint8_t unused;      // 247
};

#pragma pack(pop)

static_assert(sizeof(LOG_HEADER) == 6);
static_assert(offsetof(LOG_HEADER, oldest) == 0);
static_assert(offsetof(LOG_HEADER, mark) == 2);
static_assert(offsetof(LOG_HEADER, next) == 4);
static_assert(sizeof(LOG_RECORD) == 248);
static_assert(offsetof(LOG_RECORD, time) == 0);
static_assert(offsetof(LOG_RECORD, error_class) == 4);
static_assert(offsetof(LOG_RECORD, line_count) == 5);
static_assert(offsetof(LOG_RECORD, code) == 6);
static_assert(offsetof(LOG_RECORD, task_id) == 8);
static_assert(offsetof(LOG_RECORD, lines) == 10);
static_assert(offsetof(LOG_RECORD, unused) == 247);

constexpr long log_slot_offset(int slot) { return 6 + 248L * slot; }
