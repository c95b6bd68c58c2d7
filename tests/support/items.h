// Items written and read through the library, for tests of everything that
// needs a store with items in it.
#pragma once

#include <string>

#include "classic.h"

// The work area's data folder and its piece control file and pattern.
extern const std::string kWorkData;
extern const std::string kPieceCtl;
extern const char* const kPiecePattern;

// Creates the piece control file of the work area (and the log's folder).
void make_piece_store();

// Opens name with mode, writes bytes and closes it: the first status that
// is not 1, or 1.
int put_item(const std::string& ctl, const std::string& name, const std::string& bytes,
             short mode = ITEM_WRITE | ITEM_CREATE, const char* pattern = kPiecePattern);

// The bytes of an item read through an open for reading, or "status N".
std::string get_item(const std::string& ctl, const std::string& name,
                     const char* pattern = kPiecePattern);
