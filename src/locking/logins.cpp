// Logins of workstations to storage areas.
//
// A login leaves two traces in the area's folder: a login file named after
// this workstation's node name and the caller's tag, and one more count in
// the two login counters of login.ctl's trailer (its item count and its open
// count).  The counters are what an area lock looks at; they count calls,
// not files.  login.ctl is changed only inside a control-file session, so
// logins of all workstations are serialized by its lock; the login files
// are written without a lock.
//
// Areas on the floppy drives A: and B: have no logins.
#include <cstring>

#include "classic.h"
#include "ctl/session.h"
#include "base/names.h"
#include "base/text.h"
#include "platform/platform.h"
#include "storage/hostinfo.h"
#include "storage/netxlat.h"

namespace {

constexpr size_t kMaxTag = 3;
constexpr int kNodePlaces = 4;
// "log", four places of node name, ".", a tag of up to three characters.
constexpr size_t kLoginNameSize = 3 + kNodePlaces + 1 + kMaxTag + 1;

// out (XLAT_PATH_SIZE bytes) := area without its trailing white space, a
// backslash, name.  False (out untouched) when the path would be longer than
// path translation accepts.
bool area_file_path(char* out, const char* area, const char* name) {
  size_t n = trimmed_length(area);
  size_t m = std::strlen(name);
  if (n + 1 + m > XLAT_MAX_PATH) return false;
  std::memcpy(out, area, n);
  out[n] = '\\';
  std::memcpy(out + n + 1, name, m + 1);
  return true;
}

// The login file of this workstation for tag: "log", the node name in four
// places ('-' for a blank or a place beyond the name), ".", the tag as the
// caller spelt it.  The host information must have been gathered.
void login_file_name(char* out, const char* tag) {
  const char* node = host_info().node;
  std::memcpy(out, "log", 3);
  bool ended = false;
  for (int i = 0; i < kNodePlaces; ++i) {
    if (node[i] == 0) ended = true;
    out[3 + i] = ended || node[i] == ' ' ? '-' : node[i];
  }
  out[3 + kNodePlaces] = '.';
  std::memcpy(out + 4 + kNodePlaces, tag, std::strlen(tag) + 1);
}

// Translates the path of tag's login file in area into the translated-path
// buffer: 1, or the translation status (1004 for a path too long).
int translate_login_file(const char* area, const char* tag, char* name) {
  login_file_name(name, tag);
  char path[XLAT_PATH_SIZE];
  if (!area_file_path(path, area, name)) return CLASSIC_CANNOT_REMOVE;
  return classic_netxlat(path, translated_path());
}

// Creates the login file (an existing one is kept, not truncated) holding
// its own name.  False when it cannot be opened or written.
bool write_login_file(const char* name) {
  bool existed = plat_access(translated_path(), 0) == 0;
  int fd = plat_sopen(translated_path(), CLASSIC_O_WRONLY | CLASSIC_O_CREAT | CLASSIC_O_BINARY,
                      PLAT_SH_DENYNO, CLASSIC_S_IREAD | CLASSIC_S_IWRITE);
  if (fd < 0) return false;
  int len = static_cast<int>(std::strlen(name));
  bool whole = plat_write(fd, name, static_cast<unsigned>(len)) == len;
  plat_close(fd);
  // A login that failed leaves no file that would count it.
  if (!whole && !existed) plat_unlink(translated_path());
  return whole;
}

// Opens a session on area's login.ctl for update: the session status, or
// 1004 when the path cannot be formed.
int open_login_control(CtlSession& session, const char* area) {
  char path[XLAT_PATH_SIZE];
  if (!area_file_path(path, area, LOGIN_CTL_NAME)) return CLASSIC_CANNOT_REMOVE;
  return session.open(path, CTL_UPDATE);
}

// A login or a logout: checks the arguments, opens a session on area's
// login.ctl, translates the path of tag's login file and lets change act
// on it and on the trailer.  The trailer goes back whatever change did.
template <typename Change>
int change_login(const char* area, const char* tag, Change change) {
  if (!tag) tag = "";
  if (std::strlen(tag) > kMaxTag) return 0;
  if (!area) return CLASSIC_CANNOT_REMOVE;
  if (on_removable_drive(area)) return CLASSIC_OK;

  CtlSession session;
  int status = open_login_control(session, area);
  if (status != CLASSIC_OK) return status;
  char name[kLoginNameSize];
  status = translate_login_file(area, tag, name);
  if (status == CLASSIC_OK) status = change(name);
  return session.finish(status);
}

}  // namespace

int classic_login_area(const char* area, const char* tag) {
  ensure_host_info();
  return change_login(area, tag, [](const char* name) {
    if (!write_login_file(name)) return CLASSIC_IO_ERROR;
    ctl_trailer().total_items = static_cast<int16_t>(ctl_trailer().total_items + 1);
    ctl_trailer().open_count = static_cast<uint16_t>(ctl_trailer().open_count + 1);
    return CLASSIC_OK;
  });
}

// The session's path translation gathers the host information that the
// login file's name needs.
int classic_logout_area(const char* area, const char* tag) {
  return change_login(area, tag, [](const char*) {
    // A workstation that is not logged in has no file: no error.  A file
    // that stays counts the login still, and so do the counters.
    if (plat_access(translated_path(), 0) == 0 && plat_unlink(translated_path()) != 0) {
      return CLASSIC_IO_ERROR;
    }
    if (ctl_trailer().total_items != 0) {
      ctl_trailer().total_items = static_cast<int16_t>(ctl_trailer().total_items - 1);
    }
    if (ctl_trailer().open_count != 0) {
      ctl_trailer().open_count = static_cast<uint16_t>(ctl_trailer().open_count - 1);
    }
    return CLASSIC_OK;
  });
}

int classic_login_create(const char* area) {
  if (!area) return CLASSIC_CANNOT_REMOVE;
  if (on_removable_drive(area)) return CLASSIC_OK;
  char path[XLAT_PATH_SIZE];
  if (!area_file_path(path, area, LOGIN_CTL_NAME)) return CLASSIC_CANNOT_REMOVE;
  return classic_create_control_file(path);
}

int classic_login_delete(const char* area) {
  if (!area) return CLASSIC_CANNOT_REMOVE;
  if (on_removable_drive(area)) return CLASSIC_OK;
  char path[XLAT_PATH_SIZE];
  if (!area_file_path(path, area, LOGIN_CTL_NAME)) return CLASSIC_CANNOT_REMOVE;
  return classic_delete_control_file(path, LOGIN_DATA_PATTERN);
}

int classic_accessable(void) { return 1; }
