// The files of an area as check, repair and who see them: a control file
// read whole (in big blocks, never record by record) with the headers of the
// data files of its type, and the other files of an area.  Paths kept here
// are store paths (Windows form, as callers give them); a file is opened at
// its translation.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "admin/check.h"
#include "ctl/records.h"
#include "ctl/types.h"
#include "items/datafile.h"

enum class FileState {
  Read,     // read whole
  Missing,  // no such file
  Held,     // another program holds it open denying others (a live session)
  Failed,   // any other failure
};

// Reads a whole file (a translated path) with the share mode given
// (PLAT_SH_DENYWR: nobody may be writing it; PLAT_SH_DENYNO: whatever others
// do); a file held against that share mode is retried attempts times, a
// short pause apart.
FileState read_whole_file(const std::string& path, int share, int attempts, std::string* bytes);

// Attempts of a read that waits for a session to end: about two seconds.
constexpr int READ_ATTEMPTS = 40;

struct DataImage {
  std::string name;  // the file name
  char suffix[4];    // lower case, terminated
  bool header_ok = false;
  DataHeader header;
  int64_t size = 0;
};

// A slot in use: taken by a creation, whatever its length.
bool slot_used(const SlotRecord& slot);

struct CtlImage {
  std::string path;    // store path of the control file
  std::string folder;  // store path of its folder
  std::string name;    // the file name (piece.ctl)
  std::string file;    // translated path ("" when it has no translation)
  const ItemType* type = nullptr;  // null for login.ctl and unknown files
  FileState state = FileState::Missing;
  std::string cause;  // why it could not be read (the OS's reason)
  int64_t size = 0;
  bool whole = false;  // a whole number of records, the trailer at least
  CtlTrailer trailer;
  std::vector<CtlEntry> entries;
  std::map<int, DataImage> data;  // the data files of its type, by suffix number
  long data_files = 0;

  bool sound() const;  // whole and of a format version the library reads
};

// An image of the control file at path (store path) in folder; the type
// comes from the file name.  Nothing is read yet.
CtlImage control_image(const std::string& folder, const std::string& name);

// Reads the control file (state says how that went) and, for a control file
// of an item type and with_data, the headers of its data files.
void read_image(CtlImage* image, bool with_data = true);
// The same from a stream the caller holds (the control file opened under
// its OS lock): false when it cannot be read.
bool read_image_from(FILE* stream, CtlImage* image, bool with_data);
// Takes the entries and the trailer from the bytes of a control file.
void parse_control_bytes(const std::string& bytes, CtlImage* image);
// The bytes of a control file: the entries, then the trailer.
std::string control_bytes(const std::vector<CtlEntry>& entries, const CtlTrailer& trailer);

// The store path of the data file with suffix of the control file's type.
std::string data_path(const CtlImage& image, const char* suffix);

// The names of the files of a folder (store path) that match pattern, in the
// order of the directory search.
std::vector<std::string> folder_files(const std::string& folder, const char* pattern);
// The control files of an area: login.ctl, then the *.ctl of DATA and PARAM.
std::vector<CtlImage> area_control_files(const std::string& area);

// A suffix number: aaa 0 ... zzz 17575; -1 when the text is not a suffix.
int suffix_number(const char* suffix);

// The holder a trailer names.
AdminHolder trailer_holder(const CtlTrailer& trailer);
// "user U on node N, task T (id I)".
std::string holder_text(const AdminHolder& holder);

// The text of a fixed field of n bytes (NUL-padded, or full).
std::string fixed_text(const char* text, size_t n);
// The text of a name field (at most 20 characters).
std::string item_name(const char* name);
// The store path of a file of folder.
std::string join_path(const std::string& folder, const std::string& name);
