// Path translation: the paths callers give name places under c:\userroot as
// if all storage were on drive C:; on a networked workstation, storage areas
// and other top-level folders of C: may lie elsewhere, and the translation
// control file maps their names to where they are.
#pragma once

#include <cstddef>

// Size of every translated path, the process-wide buffer included.
constexpr size_t XLAT_PATH_SIZE = 300;
// Longest path classic_netxlat accepts, given or completed.
constexpr size_t XLAT_MAX_PATH = 255;

// The process-wide buffer into which operations translate the path they then
// open, remove or rename.
extern char g_translated_path[XLAT_PATH_SIZE];

// Sets the network drive letter ('!' for none); the host configuration does.
void set_network_drive_letter(char letter);
char network_drive_letter();

// 1 when network translation is in force (a network drive and the network
// flag on), or when name begins with '@'; else 0.
int network_translation_active(const char* name);

// dst (XLAT_PATH_SIZE bytes) := the folder of the control-file path followed
// by pattern with its three %c conversions taken from suffix.  The result is
// not yet translated.  False (dst empty) when the pattern is not a data-file
// pattern (more than three conversions, any other conversion, a name over 15
// characters) or the result does not fit.
bool data_file_path(char* dst, const char* ctl_path, const char* pattern, const char* suffix);

// Advances a three-letter data-file suffix in place: aaa, aab, ... zzz, aaa.
void next_suffix(char* suffix);

// Keeps a translation (key of 9 characters, target folder) in the older of
// the two cache slots; returns the cached target.
const char* remember_translation(const char* key, const char* target);

void reset_netxlat_state();
