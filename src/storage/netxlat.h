// Path translation: the paths callers give name places under c:\userroot as
// if all storage were on drive C:; on a networked workstation, storage areas
// and other top-level folders of C: may lie elsewhere, and the translation
// control file maps their names to where they are.
#pragma once

#include <cstddef>

#include "base/names.h"


// The process-wide buffer (XLAT_PATH_SIZE bytes) into which operations
// translate the path they then open, remove or rename.
char* translated_path();

// Sets the network drive letter ('!' for none); the host configuration does.
void set_network_drive_letter(char letter);
char network_drive_letter();

// 1 when network translation is in force (a network drive and the network
// flag on), or when name begins with '@'; else 0.
int network_translation_active(const char* name);

// Translates the data-file path of an entry (folder of ctl_path, pattern,
// the entry's suffix) into the process-wide translated-path buffer.  1, or
// the translation status (1002 for a pattern that is not a data-file one).
int translate_data_file(const char* ctl_path, const char* pattern, const char* suffix);

// Keeps a translation (key of 9 characters, target folder) in the older of
// the two cache slots; returns the cached target.
const char* remember_translation(const char* key, const char* target);

