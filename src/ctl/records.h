// The control file on disk.
//
// A control file is a run of 64-byte entries closed by one 64-byte trailer;
// there is no header.  Entry i lies at offset 64 x i; the trailer offset is
// the file length minus 64, so the number of entries (live and deleted) is
// the trailer offset / 64, at most 32767.  Live entries come first, in
// ascending order of name (compare_item_names over 20 bytes); deleted
// entries follow in the order they were deleted, the most recent last.
// All integers are little-endian.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

static_assert(std::endian::native == std::endian::little,
              "records are read and written as they lie in memory");

constexpr int CTL_RECORD_SIZE = 64;
constexpr int CTL_MAX_ENTRIES = 32767;
constexpr int ITEM_NAME_SIZE = 20;
constexpr int USER_ID_SIZE = 3;

// Entry flags: the deleted bit; the other bits come from the item's slot.
constexpr uint8_t ENTRY_DELETED = 2;

// Lock states of the trailer.
constexpr uint8_t LOCK_FREE = 0;
constexpr uint8_t LOCK_SESSION = 12;  // held by a control-file session
constexpr uint8_t LOCK_AREA = 13;     // held by an area lock

// Format versions: 4 is written, 3 and 4 are accepted.
constexpr uint8_t CTL_VERSION = 4;
constexpr uint8_t CTL_OLD_VERSION = 3;

#pragma pack(push, 1)

struct CtlEntry {
  char name[ITEM_NAME_SIZE];   //  0  normalised, NUL-padded (no NUL when 20 long)
  char suffix[3];              // 20  data-file suffix
  int8_t slot;                 // 23  0..7
  int8_t open_state;           // 24  -1 writer, 0 closed, n readers
  uint8_t flags;               // 25  ENTRY_DELETED and the slot's flag bits
  uint32_t created;            // 26
  uint32_t modified;           // 30
  int32_t size;                // 34  bytes of data, set when the creator closes
  uint8_t version;             // 38  format version when written
  uint8_t zero39;              // 39
  uint16_t attribute;          // 40
  uint16_t attribute2;         // 42
  uint32_t accessed;           // 44
  uint8_t creator_task;        // 48
  uint8_t writer_task;         // 49
  uint32_t prev_modified;      // 50
  char creator[USER_ID_SIZE];  // 54
  char prev_modifier[USER_ID_SIZE];  // 57
  char modifier[USER_ID_SIZE];       // 60
  uint8_t zero63;                    // 63
};

struct CtlTrailer {
  char suffix[3];      //  0  data file being filled ("aaa" in a new file)
  uint8_t next_slot;   //  3  0..7
  int16_t total_items; //  4  live entries
  uint16_t open_count; //  6  items now open
  uint8_t lock_state;  //  8  LOCK_FREE, LOCK_SESSION or LOCK_AREA
  uint8_t lock_marker; //  9  1 once any session locked the file
  char user[16];       // 10  lock holder's user (written empty)
  char node[16];       // 26  lock holder's node name
  char task_name[16];  // 42  lock holder's task name
  uint8_t zero58;      // 58
  uint8_t version;     // 59  format version
  int32_t task_id;     // 60  lock holder's task id ("pid")
};

#pragma pack(pop)

static_assert(sizeof(CtlEntry) == CTL_RECORD_SIZE);
static_assert(offsetof(CtlEntry, suffix) == 20);
static_assert(offsetof(CtlEntry, slot) == 23);
static_assert(offsetof(CtlEntry, open_state) == 24);
static_assert(offsetof(CtlEntry, flags) == 25);
static_assert(offsetof(CtlEntry, created) == 26);
static_assert(offsetof(CtlEntry, modified) == 30);
static_assert(offsetof(CtlEntry, size) == 34);
static_assert(offsetof(CtlEntry, version) == 38);
static_assert(offsetof(CtlEntry, zero39) == 39);
static_assert(offsetof(CtlEntry, attribute) == 40);
static_assert(offsetof(CtlEntry, attribute2) == 42);
static_assert(offsetof(CtlEntry, accessed) == 44);
static_assert(offsetof(CtlEntry, creator_task) == 48);
static_assert(offsetof(CtlEntry, writer_task) == 49);
static_assert(offsetof(CtlEntry, prev_modified) == 50);
static_assert(offsetof(CtlEntry, creator) == 54);
static_assert(offsetof(CtlEntry, prev_modifier) == 57);
static_assert(offsetof(CtlEntry, modifier) == 60);
static_assert(offsetof(CtlEntry, zero63) == 63);

static_assert(sizeof(CtlTrailer) == CTL_RECORD_SIZE);
static_assert(offsetof(CtlTrailer, next_slot) == 3);
static_assert(offsetof(CtlTrailer, total_items) == 4);
static_assert(offsetof(CtlTrailer, open_count) == 6);
static_assert(offsetof(CtlTrailer, lock_state) == 8);
static_assert(offsetof(CtlTrailer, lock_marker) == 9);
static_assert(offsetof(CtlTrailer, user) == 10);
static_assert(offsetof(CtlTrailer, node) == 26);
static_assert(offsetof(CtlTrailer, task_name) == 42);
static_assert(offsetof(CtlTrailer, zero58) == 58);
static_assert(offsetof(CtlTrailer, version) == 59);
static_assert(offsetof(CtlTrailer, task_id) == 60);

// A trailer is corrupt when it reads as freshly created ("aaa", next slot 0)
// in a file that holds entries: a file with entries cannot have that trailer
// unless its trailer was lost.
bool trailer_is_corrupt(const CtlTrailer& trailer, long trailer_offset);

// A new, empty trailer: "aaa", version 4, everything else zero.
CtlTrailer new_trailer();
