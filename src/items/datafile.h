// Data files and entry moves.
//
// A data file holds up to eight items of one type behind a 528-byte header:
//   0          1 byte    format version of the control file at creation
//   1          15 bytes  zero
//   16 + 64 i  64 bytes  slot record i, i = 0..7
//   528        ...       the items' bytes, slot 0's first, each further
//                        slot's directly after those of the slot before it
// Slots are taken in order 0..7; a slot being created has data length -1
// until its creator closes the item.  All integers are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "ctl/records.h"

constexpr int DATA_SLOTS = 8;
constexpr int DATA_HEADER_SIZE = 528;

#pragma pack(push, 1)

struct SlotRecord {
  uint32_t data_offset;   //  0  first byte of the item; 0 in a slot never used
  int32_t data_length;    //  4  bytes of the item; -1 while being created
  char name[ITEM_NAME_SIZE];  //  8  normalised name
  uint8_t zero28;         // 28
  uint8_t flags;          // 29  same bits as the entry's flags
  uint32_t accessed;      // 30
  uint32_t created;       // 34
  uint32_t modified;      // 38
  uint8_t creator_task;   // 42
  uint8_t writer_task;    // 43
  uint16_t attribute;     // 44
  uint16_t attribute2;    // 46
  uint32_t prev_modified; // 48
  char creator[USER_ID_SIZE];        // 52
  char prev_modifier[USER_ID_SIZE];  // 55
  char modifier[USER_ID_SIZE];       // 58
  uint8_t zero61[3];                 // 61
};

struct DataHeader {
  uint8_t version;
  uint8_t zero[15];
  SlotRecord slots[DATA_SLOTS];
};

#pragma pack(pop)

static_assert(sizeof(SlotRecord) == 64);
static_assert(offsetof(SlotRecord, data_length) == 4);
static_assert(offsetof(SlotRecord, name) == 8);
static_assert(offsetof(SlotRecord, zero28) == 28);
static_assert(offsetof(SlotRecord, flags) == 29);
static_assert(offsetof(SlotRecord, accessed) == 30);
static_assert(offsetof(SlotRecord, created) == 34);
static_assert(offsetof(SlotRecord, modified) == 38);
static_assert(offsetof(SlotRecord, creator_task) == 42);
static_assert(offsetof(SlotRecord, writer_task) == 43);
static_assert(offsetof(SlotRecord, attribute) == 44);
static_assert(offsetof(SlotRecord, attribute2) == 46);
static_assert(offsetof(SlotRecord, prev_modified) == 48);
static_assert(offsetof(SlotRecord, creator) == 52);
static_assert(offsetof(SlotRecord, prev_modifier) == 55);
static_assert(offsetof(SlotRecord, modifier) == 58);
static_assert(offsetof(SlotRecord, zero61) == 61);
static_assert(sizeof(DataHeader) == DATA_HEADER_SIZE);
static_assert(offsetof(DataHeader, slots) == 16);

// The header of the data file last read; every operation on a data file
// reads it whole, changes it and writes it back whole.
DataHeader& data_header();

// The slot record of an entry, or null when the entry's slot is not 0..7.
SlotRecord* slot_of(const CtlEntry& entry);

// Copies the flags, stamps, user ids, attributes and task ids of a slot
// record into an entry: what the entry of an item mirrors of its slot.
void mirror_slot(CtlEntry* entry, const SlotRecord& slot);

// Opens the entry's data file and reads its header into the current
// data-file header, for a change of the entry's slot record: the file's
// descriptor with *slot set, or -1 with *status the translation status or
// 1002.  write_slot ends the change.
int open_slot(const char* ctl_path, const char* pattern, const CtlEntry* entry, SlotRecord** slot,
              int* status);

// Whether the current data-file header (read from stream) places the
// entry's bytes soundly: the slot carries the entry's name (else 1007), its
// data lie past the header, end inside the file, hold the entry's size and
// end before the next slot's begin (else 1002).  Data written in place or
// read then stay inside the item.
int check_item_place(FILE* stream, const CtlEntry& entry);

// Writes the current data-file header back over the file that open_slot
// opened and closes it.  1 or 1002.
int write_slot(int fd);

// Sets the flag byte of the entry's slot to (flags & keep) | set.  1, 1002
// or the translation status.
int set_slot_flags(const char* ctl_path, const char* pattern, const CtlEntry* entry,
                   uint8_t keep_mask, uint8_t set_mask);

// The entry moves write everything they change, the trailer too when one is
// given, in one write from the first record changed on: a process that ends
// before that write leaves the control file as it was, one that ends after
// it leaves the change whole, and a write that fails changes nothing.  When
// memory for the whole move is short they move in chunks instead (as many
// as 319 records per read-write pair, else 95, else 31 through the entry
// window).

// Moves the records at insert_pos .. end_pos - 64 one record towards the end
// (the last lands at end_pos), writes record at insert_pos and, when given,
// the trailer at end_pos + 64.  1 or 1002.
int insert_entry(FILE* ctl, const CtlEntry* record, long end_pos, long insert_pos,
                 const CtlTrailer* trailer = nullptr);

// Moves the records at from_pos + 64 .. end_pos - 64 one record towards the
// start, writes record at end_pos - 64 and, when given, the trailer at
// end_pos.  1 or 1002.
int remove_entry(FILE* ctl, const CtlEntry* record, long from_pos, long end_pos,
                 const CtlTrailer* trailer = nullptr);

// A new version: writes record at pos (over the old version's entry), then
// old (the old version, flagged deleted) at end_pos, the first place past the
// last record, and the trailer behind it.  1 or 1002.
int replace_entry(FILE* ctl, const CtlEntry* record, long pos, long end_pos, const CtlEntry* old,
                  const CtlTrailer* trailer);

// Opens the data file named by the translated-path buffer with the
// library's open flags and the stream mode, sharing it with everybody; the
// stream gets a full buffer of buffer_size bytes, or none for 0.  Null when
// it cannot be opened.
FILE* open_data_file(int oflag, const char* mode, size_t buffer_size);

// Closes a data stream and forgets it.
void close_data(FILE** stream);
// Closes a data stream without writing what it still buffers, and forgets it.
void discard_data(FILE** stream);

// Writes the current data-file header at the start of the stream.
bool write_data_header(FILE* stream);

// Writes the current data-file header and makes it durable (flushed and
// committed) before anything refers to what it records; the stream's buffer
// must hold the whole header, so that it reaches the file in one write.  1,
// or 1002 with the stream closed and nothing written (a failed flush is
// reported with flush_report).
int commit_data_header(FILE** stream, uint16_t flush_report);

// A creation of this process that its close has yet to end: the new item's
// slot, and for a new version the slot of the version it replaced, which a
// close whose writes failed puts back live.
struct PendingCreation {
  bool used;
  int32_t path_hash;  // of the translated control-file path
  char pattern[32];   // the type's data-file pattern
  char name[ITEM_NAME_SIZE];
  char suffix[3];
  int8_t slot;
  bool replaced;
  char old_suffix[3];
  int8_t old_slot;
};

// Notes a creation made in the control file of the current session with the
// data-file pattern (old: the version it replaced, or null).
void note_creation(const CtlEntry& entry, const CtlEntry* old, const char* pattern);
// Finds the noted creation of entry in the control file of the current
// session, and forgets it.
bool take_creation(const CtlEntry& entry, PendingCreation* out);

// For tests: refuse the large move buffers, as when memory is short.
void refuse_move_buffers(bool refuse);
// Read-write pairs made by the entry moves so far.
long entry_move_pairs();

// The items layer's process-wide state back to its value at load.
void reset_items_state();
