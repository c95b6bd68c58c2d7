// What the classic command needs around the library's calls: where areas
// and control files lie, the item types, the meaning of every status, and a
// few reads of the store's own files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "classic.h"

// What a status of the library means, in a few words.
const char* status_text(int status);

// The folder of an area: a full area path as given, or an area name on a
// drive ("work" on C: is c:\userroot\storage\work).
std::string area_path(const std::string& area, char drive);

// An item type of the store.
struct ToolType {
  std::string name;     // piece, model, lyrl, ...
  std::string ctl;      // piece.ctl
  std::string pattern;  // piece%c%c%c.pce
  std::string folder;   // DATA, or PARAM for the parameter tables
  std::string extension;
};

const std::vector<ToolType>& tool_types();
// The type named name (with or without ".ctl", either case), or null.
const ToolType* find_tool_type(const std::string& name);
std::string ctl_path(const std::string& area, const ToolType& type);

// Makes every missing folder of a Windows-form path.
void make_folders(const std::string& path);
bool path_exists(const std::string& path);

// The bytes of a file of the store (Windows-form path), read shared without
// a lock; false when it cannot be read.
bool read_store_file(const std::string& path, std::string* bytes);

// Seconds since 1970 as the local date and time "YYYY-MM-DD HH:MM:SS".
std::string time_text(uint32_t t);

// The registry value UserId, and setting it; false when it cannot be set.
std::string read_user();
bool write_user(const std::string& id);

// Registers an area of a drive with Version 4; false when it cannot.
bool register_area(char drive, const std::string& area);
