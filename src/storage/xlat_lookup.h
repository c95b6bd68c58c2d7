// Looking up a translation key in the translation control file.
//
// A translation entry is an item of the translation control file, so the
// items layer implements this look-up; path translation reaches it only
// through this declaration, which it owns.
#pragma once

#include "base/names.h"

// Reads the target folder of key (9 characters) into target (XLAT_PATH_SIZE
// bytes).  Returns 1; 1007 when the file has no entry of that name; 1004 when
// the item cannot be opened for any other reason; 1002 when the record cannot
// be read or its item cannot be closed.
int lookup_translation(const char* key, char* target);
