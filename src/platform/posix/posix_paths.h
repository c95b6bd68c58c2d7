// Mapping of Windows-form paths onto the Linux file system.
//
// Drives: $CLASSIC_ROOT (default $XDG_DATA_HOME/classic, else
// ~/.local/share/classic) holds one folder per drive, named by the lower-case
// letter; CLASSIC_DRIVE_X names the folder of drive X directly.  A path
// without a drive is relative to the current directory; one that starts with
// a single backslash is on drive C:.  Both '\' and '/' separate components.
//
// Names are case-insensitive and case-preserving: a component that exists in
// the given case is used as it is, otherwise its folder is searched without
// regard to case, and a new name keeps the case given.  Trailing dots and
// blanks of a component are dropped, as Windows drops them.
#pragma once

#include <string>

// The folder of drive letter (either case).
std::string posix_drive_folder(char letter);
// The root under which the drive folders and the registry lie.
std::string posix_root_folder();

// The native path for a Windows-form path.
std::string posix_map_path(const char* path);
// The same path with its components in the case given, without asking the
// file system: what an open of an existing file tries first.
std::string posix_map_path_as_given(const char* path);

// Splits a Windows-form path at its last separator: the native folder and the
// last component as given.  A path without separator lies in the current
// directory (or, after "X:", in the drive's root).
void posix_split_path(const char* path, std::string* folder, std::string* last);

// The name of the entry of folder that equals name without regard to case
// (the name itself when it exists in that case), or an empty string;
// try_as_given false when the caller knows that the name is not there in the
// case given.
std::string posix_find_in_folder(const std::string& folder, const std::string& name,
                                 bool try_as_given = true);

// Drops the folder listing kept between searches.
void posix_forget_listings();

// Windows-style wildcard match of a file name against a pattern with '*' and
// '?', without regard to case; "*.*" matches every name, a trailing ".*" also
// matches names without a dot.
bool posix_wildcard_match(const char* pattern, const char* name);

// ASCII comparison without regard to case, as Windows orders names.
int posix_compare_nocase(const std::string& a, const std::string& b);
