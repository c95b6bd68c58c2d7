// Unique scratch files: creating, opening, renaming and removing files whose
// names are made from the tick count and the process's scratch counter.
//
// These calls work on plain paths: no path translation and no lock files.
// Uniqueness across programs and workstations rests on the exclusive create
// (or on a rename never replacing its target) together with the tick count;
// within one process the counter makes successive names differ.
#include "scratch/unique.h"

#include <cstdio>
#include <cstring>

#include "classic.h"
#include "base/names.h"
#include "base/text.h"
#include "platform/platform.h"

namespace {

const char* const kDefaultDirectory = SCRATCH_FOLDER;
const char kDefaultNameTemplate[] = "????????";
const char kDefaultExtTemplate[] = "???";
const char kDefaultCreateMode[] = "w+b";
const char kDefaultOpenMode[] = "r+b";
const char kHexDigits[] = "0123456789abcdef";

constexpr int kNameWidth = 8;
constexpr int kExtWidth = 3;
// The first name and ten more, tried without a pause.
constexpr int kAttempts = 11;
// The longest path: directory, separator and name together.
constexpr size_t kMaxPath = 259;
constexpr size_t kStreamBuffer = 512;
constexpr int kPermissions = CLASSIC_S_IREAD | CLASSIC_S_IWRITE;

// The scratch layer's process-wide state: the counter that makes the
// extensions of successive names differ.
struct ScratchState {
  uint32_t counter;
};

ScratchState g_scratch{};

// Writes the directory of a path (dir and, unless dir is empty or ends
// in ':', '\' or '/', a '\') to path; its length, or -1 when it leaves no
// room for a name within kMaxPath characters.
long directory_part(char* path, const char* dir) {
  const char* last = nullptr;
  for (const char* p = dir; *p != 0; p = next_char(p)) last = p;
  size_t len = std::strlen(dir);
  bool separator = false;
  if (last != nullptr) {
    // The last character, not a trail byte that happens to equal '\'.
    bool single = next_char(last) == last + 1;
    separator = !(single && (*last == ':' || *last == '\\' || *last == '/'));
  }
  if (len + (separator ? 1 : 0) >= kMaxPath) return -1;
  std::memcpy(path, dir, len);
  if (separator) path[len++] = '\\';
  path[len] = 0;
  return static_cast<long>(len);
}

// Puts name after the directory of path; false when the path would be
// longer than kMaxPath.
bool append_name(char* path, long dir_len, const char* name) {
  size_t len = std::strlen(name);
  if (static_cast<size_t>(dir_len) + len > kMaxPath) return false;
  std::memcpy(path + dir_len, name, len + 1);
  return true;
}

// The length of the unique names of these templates (the same for every
// attempt).
size_t template_length(const char* text, size_t width) {
  size_t len = 0;
  while (len < width && text[len] != 0) ++len;
  return len;
}

size_t unique_name_length(const char* name_template, const char* ext_template) {
  return template_length(name_template, kNameWidth) + 1 + template_length(ext_template, kExtWidth);
}

// The next unique name: the name template filled with ticks, a point and the
// extension template filled with the scratch counter, which advances.
void make_unique_name(char* out, const char* name_template, const char* ext_template,
                      uint32_t ticks) {
  int n = fill_name_template(out, name_template, kNameWidth, ticks);
  out[n++] = '.';
  fill_name_template(out + n, ext_template, kExtWidth, g_scratch.counter++);
}

// The open flags of a creating mode: 'w', then at most two of '+', 'b' and
// 't'.  False for anything else.
bool create_flags(const char* mode, int* oflag) {
  if (mode[0] != 'w') return false;
  int flags = CLASSIC_O_CREAT | CLASSIC_O_EXCL;
  bool update = false;
  for (int i = 1; mode[i] != 0; ++i) {
    if (i > 2) return false;
    switch (mode[i]) {
      case '+': update = true; break;
      case 'b': flags |= CLASSIC_O_BINARY; break;
      case 't': flags |= CLASSIC_O_TEXT; break;
      default: return false;
    }
  }
  *oflag = flags | (update ? CLASSIC_O_RDWR : CLASSIC_O_WRONLY);
  return true;
}

// The open flags of a stream mode for an existing file: 'r', 'w' or 'a',
// then any of '+', 'b' and 't'.  False for anything else.
bool open_flags(const char* mode, int* oflag) {
  int flags = 0;
  switch (mode[0]) {
    case 'r': break;
    case 'w': flags = CLASSIC_O_CREAT | CLASSIC_O_TRUNC; break;
    case 'a': flags = CLASSIC_O_CREAT | CLASSIC_O_APPEND; break;
    default: return false;
  }
  bool update = false;
  for (int i = 1; mode[i] != 0; ++i) {
    switch (mode[i]) {
      case '+': update = true; break;
      case 'b': flags |= CLASSIC_O_BINARY; break;
      case 't': flags |= CLASSIC_O_TEXT; break;
      default: return false;
    }
  }
  if (update) {
    flags |= CLASSIC_O_RDWR;
  } else if (mode[0] != 'r') {
    flags |= CLASSIC_O_WRONLY;
  }
  *oflag = flags;
  return true;
}

// Wraps an open descriptor in a stream with a 512-byte buffer; closes the
// descriptor when that fails.
FILE* attach_stream(int fd, const char* mode) {
  FILE* stream = plat_fdopen(fd, mode);
  if (stream == nullptr) {
    plat_close(fd);
    return nullptr;
  }
  std::setvbuf(stream, nullptr, _IOFBF, kStreamBuffer);
  return stream;
}

}  // namespace

int fill_name_template(char* out, const char* name_template, int width, uint32_t value) {
  int i = 0;
  for (; i < width && name_template[i] != 0; ++i) {
    if (name_template[i] == '?') {
      int shift = 4 * (width - 1 - i);
      out[i] = shift < 32 ? kHexDigits[(value >> shift) & 0xF] : '0';
    } else {
      out[i] = name_template[i];
    }
  }
  out[i] = 0;
  return i;
}

void reset_scratch_state() { g_scratch = ScratchState{}; }

FILE* classic_create_unique(const char* dir, const char* name_template, const char* ext_template,
                            char* name_out, const char* mode) {
  if (dir == nullptr) dir = kDefaultDirectory;
  if (name_template == nullptr) name_template = kDefaultNameTemplate;
  if (ext_template == nullptr) ext_template = kDefaultExtTemplate;
  if (mode == nullptr) mode = kDefaultCreateMode;
  int oflag = 0;
  if (!create_flags(mode, &oflag)) return nullptr;

  char path[kMaxPath + 1];
  long dir_len = directory_part(path, dir);
  if (dir_len < 0 || dir_len + unique_name_length(name_template, ext_template) > kMaxPath) {
    return nullptr;
  }

  uint32_t ticks = plat_tick_count();
  char name[UNIQUE_NAME_SIZE];
  int fd = -1;
  for (int attempt = 0; attempt < kAttempts && fd < 0; ++attempt) {
    make_unique_name(name, name_template, ext_template, ticks++);
    append_name(path, dir_len, name);
    fd = plat_sopen(path, oflag, PLAT_SH_DENYRW, kPermissions);
  }
  if (fd < 0) return nullptr;

  // A stream that cannot be attached leaves the new, empty file behind.
  FILE* stream = attach_stream(fd, mode);
  if (stream == nullptr) return nullptr;
  if (name_out != nullptr) std::memcpy(name_out, name, std::strlen(name) + 1);
  return stream;
}

FILE* classic_open_unique(const char* dir, const char* name, const char* mode) {
  if (name == nullptr) return nullptr;
  if (dir == nullptr) dir = kDefaultDirectory;
  if (mode == nullptr) mode = kDefaultOpenMode;
  int oflag = 0;
  if (!open_flags(mode, &oflag)) return nullptr;
  char path[kMaxPath + 1];
  long dir_len = directory_part(path, dir);
  if (dir_len < 0 || !append_name(path, dir_len, name)) return nullptr;
  int fd = plat_sopen(path, oflag, PLAT_SH_DENYRW, kPermissions);
  if (fd < 0) return nullptr;
  return attach_stream(fd, mode);
}

int classic_rename_unique(const char* dir, const char* old_name, const char* name_template,
                          const char* ext_template, char* name_out) {
  if (old_name == nullptr) return -1;
  if (dir == nullptr) dir = kDefaultDirectory;
  if (name_template == nullptr) name_template = kDefaultNameTemplate;
  if (ext_template == nullptr) ext_template = kDefaultExtTemplate;

  char old_path[kMaxPath + 1];
  char new_path[kMaxPath + 1];
  long dir_len = directory_part(old_path, dir);
  if (dir_len < 0 || !append_name(old_path, dir_len, old_name) ||
      dir_len + unique_name_length(name_template, ext_template) > kMaxPath) {
    return -1;
  }
  std::memcpy(new_path, old_path, static_cast<size_t>(dir_len));

  // Every failure counts as an attempt: the old file missing, the new name
  // taken, or anything else.
  uint32_t ticks = plat_tick_count();
  char name[UNIQUE_NAME_SIZE];
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    make_unique_name(name, name_template, ext_template, ticks++);
    append_name(new_path, dir_len, name);
    if (plat_rename(old_path, new_path) == 0) {
      if (name_out != nullptr) std::memcpy(name_out, name, std::strlen(name) + 1);
      return 0;
    }
  }
  return -1;
}

int classic_remove_unique(const char* dir, const char* name) {
  if (name == nullptr) return -1;
  if (dir == nullptr) dir = kDefaultDirectory;
  char path[kMaxPath + 1];
  long dir_len = directory_part(path, dir);
  if (dir_len < 0 || !append_name(path, dir_len, name)) return -1;
  return plat_remove(path);
}
