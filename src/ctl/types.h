// Item types, data-file suffixes and the identity this library writes into
// the trailers it locks.
#pragma once

#include <cstdint>

#include "base/names.h"

// One row of the item type table: the control-file name and the data-file
// pattern (the type name, three %c for the suffix, a point, an extension).
struct ItemType {
  const char* ctl_name;
  const char* pattern;
};

constexpr int ITEM_TYPE_COUNT = 26;
extern const ItemType g_item_types[ITEM_TYPE_COUNT];

// The row whose control-file name equals name without regard to case.
const ItemType* find_item_type(const char* ctl_name);

struct TaskIdentity {
  int32_t id;      // this library's task id
  char name[32];   // upper-case name of the program with that id
  char node[32];   // the workstation's node name
};
// This program's identity, filled on first use (the first session that
// locks a trailer).
const TaskIdentity& task_identity();

// The name the task-name table gives a task id ("UNKNOWN" for others).
const char* task_name_of(int32_t id);


// Puts a free data-file suffix and slot 0 into the current trailer, searching
// from the number of data files the control file's entries fill.  path is
// the translated control-file path.  1 on success, 0 when the control file's
// type is unknown or every suffix is taken.
int recover_trailer_suffix(const char* path);

