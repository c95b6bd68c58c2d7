// Looking up a translation key in the translation control file.
#pragma once

// The translation control file, its data-file pattern, and the size of the
// translation record read from an entry's data.
constexpr const char* XLAT_CTL_PATH = "C:\\userroot\\system\\state\\stordir\\netxl.ctl";
constexpr const char* XLAT_DATA_PATTERN = "netxl%c%c%c.net";
constexpr int XLAT_RECORD_SIZE = 324;
constexpr int XLAT_TARGET_OFFSET = 21;
constexpr int XLAT_TARGET_MAX = 299;

// Reads the target folder of key (9 characters) into target (300 bytes).
// Returns 1; 1007 when the file has no entry of that name; 1004 when the
// item cannot be opened for any other reason; 1002 when the record cannot be
// read or its item cannot be closed.
int lookup_translation(const char* key, char* target);
