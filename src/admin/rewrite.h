// Files an administrative change writes: new files written whole, names
// beside a file that nothing uses yet, and control files put in place by
// renaming with the old one kept as the backup.
#pragma once

#include <string>

#include "admin/image.h"

// Writes bytes as a new file (a translated path); false when it exists or
// cannot be written whole (nothing is left then).
bool write_new_file(const std::string& path, const std::string& bytes);

// A name beside path (a store path) that nothing uses yet:
// "~<name>.<local time>[-n].<ext>".
std::string free_name(const std::string& path, const char* ext);

// Puts bytes in place of the control file of image: written whole under a
// new name, the old file renamed to its backup, the new one to its name.
// False and why, with the old file left as it was.
bool replace_control_file(const CtlImage& image, const std::string& bytes, std::string* why);
