// The storage areas of a drive, as registered under HKEY_CURRENT_USER or as
// found in the (translated) storage folder.
//
//   Software\Halvorn\Quillmere            the system's key
//     <letter>:                           one drive key per drive
//       <area>                            one area key per area
//         Version                         REG_DWORD
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/names.h"
#include "platform/platform.h"
#include "storage/find.h"

// Room for an area name read from the registry and its NUL.
constexpr size_t AREA_NAME_SIZE = 128;

// The Version value of an open area key: true and *version, or false when
// the value is missing or is not four bytes.
bool query_area_version(plat_hkey area_key, uint32_t* version);
// The same as a number: -1 when the value is missing or unreadable.
int read_area_version(plat_hkey area_key);
// The Version of area on the drive of letter: -1 when the key or the value is
// missing.
long registered_area_version(char letter, const char* area);

// Makes the area key area under the open drive key (or opens it when it
// exists) and sets its Version when has_version.  False when the registry
// refuses either.
bool write_area_key(plat_hkey drive_key, const char* area, bool has_version, uint32_t version);
// Registers area on the drive of letter with version, making the drive key
// when missing: 1, or 1002 when the registry refuses.
int register_area(char letter, const char* area, uint32_t version);

// Starts a registry listing for pattern (drive letter first; last component
// "*" for all areas or one area name) and reports its first area in name
// (size bytes).  Returns -2 when the system's key is missing or the first
// area key cannot be opened; -1 when the drive key is missing, there is no
// area, or the named area is not registered; else the area's Version (-1
// when it has none).  name is empty whenever no area is reported.
int registry_first_area(const char* pattern, char* name, size_t size);
// The next area of the listing: its Version, or -1 with name empty at the
// end (a missing Version ends the listing too).  A pattern that names one
// area has no next area: 0 and name empty.
int registry_next_area(const char* pattern, char* name, size_t size);

// Translates pattern into the translated-path buffer and starts a
// directory search there: -1 when it cannot be translated, else the
// result of find_first_entry.
int area_search_first(FindEntry* entry, const char* pattern, unsigned mask);
int area_search_next(FindEntry* entry);

// Ends the registry listing, if one is open.
void close_drive_key();
