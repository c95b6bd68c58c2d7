// Translation entries are items of the translation control file.
#include "storage/xlat_lookup.h"

#include "classic.h"

int lookup_translation(const char*, char*) {
  // Items cannot be opened yet: every look-up fails as when the translation
  // control file cannot be opened.
  return CLASSIC_CANNOT_REMOVE;
}
