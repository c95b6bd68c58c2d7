// Drive and host configuration.
//
// Station file (only its first 200 bytes are read):
//   bytes 0-3     node name, ended by the first space or NUL
//   byte 80       network drive letter 'D'..'Z' (either case)
//   bytes 160-161 "ON" (either case) when the network is in use; anything
//                 else makes the whole file count as absent
// QUEUE:
//   "SERV,d:name"  server drive d; name is the node name when the station
//                  file is absent
//   "PEER,name"    peer to peer; name is the node name; no station file
#include "storage/hostinfo.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "classic.h"
#include "base/names.h"
#include "base/text.h"
#include "platform/platform.h"
#include "storage/netxlat.h"
#include "storage/state.h"

namespace {

constexpr int kStationBytes = 200;

// Copies up to four characters of text into a 5-byte node name.
void copy_node(char* node, const char* text) {
  int n = 0;
  while (n < 4 && text[n]) {
    node[n] = text[n];
    ++n;
  }
  node[n] = 0;
}

bool keyword_is(const char* text, const char* keyword) {
  for (int i = 0; i < 4; ++i) {
    if (std::toupper(static_cast<unsigned char>(text[i])) != keyword[i]) return false;
  }
  return true;
}

}  // namespace

const HostInfo& host_info() { return storage_state().host; }

int read_station_file(char* node, char* network_drive) {
  // Most workstations have no station file: its absence explains nothing.
  plat_cause before;
  bool had_cause = plat_get_cause(&before);
  int fd = plat_sopen(STATION_FILE, CLASSIC_O_RDONLY | CLASSIC_O_BINARY, PLAT_SH_DENYWR, 0);
  if (fd < 0) {
    plat_set_cause(had_cause ? &before : nullptr);
    return -1;
  }
  unsigned char buf[kStationBytes];
  int got = plat_read(fd, buf, kStationBytes);
  plat_close(fd);
  if (got < kStationBytes) return -1;
  if (std::toupper(buf[160]) != 'O' || std::toupper(buf[161]) != 'N') return -1;
  int letter = std::toupper(buf[80]);
  if (letter >= 'D' && letter <= 'Z') *network_drive = static_cast<char>(letter);
  int n = 0;
  while (n < 4 && buf[n] != ' ' && buf[n] != 0) {
    node[n] = static_cast<char>(buf[n]);
    ++n;
  }
  node[n] = 0;
  return 0;
}

void classic_get_driveinfo(char* network_drive, char* server_drive, char* node, char* node_copy) {
  char net = '!';
  char server = 0;
  char name[5] = {0};
  const char* queue = std::getenv("QUEUE");
  if (queue && std::strlen(queue) > 5 && queue[4] == ',') {
    if (keyword_is(queue, "SERV")) {
      if (std::strlen(queue) > 7 && queue[6] == ':') {
        server = queue[5];
        if (read_station_file(name, &net) != 0) {
          copy_node(name, queue + 7);
        } else if (net != '!') {
          server = net;
        }
      }
    } else if (keyword_is(queue, "PEER")) {
      copy_node(name, queue + 5);
    }
  } else if (read_station_file(name, &net) == 0 && net != '!') {
    server = net;
  }
  set_network_drive_letter(net);
  upcase_name(name);
  if (network_drive) *network_drive = net;
  if (server_drive) *server_drive = server;
  if (node) std::memcpy(node, name, sizeof name);
  if (node_copy) std::memcpy(node_copy, name, sizeof name);
}

void ensure_host_info() {
  StorageState& st = storage_state();
  if (st.host_known) return;
  st.host_known = true;
  classic_get_driveinfo(&st.host.network_drive, &st.host.server_drive, st.host.node, st.host.node_copy);
}

void read_user_id(char* user) {
  std::memset(user, 0, 4);
  plat_hkey key = nullptr;
  if (plat_reg_open_key(plat_hkey_current_user(), USER_KEY, PLAT_KEY_READ, &key) !=
      PLAT_ERROR_SUCCESS) {
    return;
  }
  unsigned long type = 0;
  unsigned long size = 4;
  long r = plat_reg_query_value(key, USER_ID_VALUE, &type, user, &size);
  plat_reg_close_key(key);
  // A value longer than four bytes (four characters and more with the NUL)
  // gives no user id at all.
  if (r != PLAT_ERROR_SUCCESS) std::memset(user, 0, 4);
  user[3] = 0;
}

int write_user_id(const char* user) {
  plat_hkey key = nullptr;
  if (plat_reg_create_key(plat_hkey_current_user(), USER_KEY, &key) != PLAT_ERROR_SUCCESS) {
    return CLASSIC_IO_ERROR;
  }
  size_t n = strnlen(user, USER_ID_CHARS);
  char value[USER_ID_CHARS + 1] = {0};
  std::memcpy(value, user, n);
  long r = plat_reg_set_value(key, USER_ID_VALUE, PLAT_REG_SZ, value, static_cast<unsigned long>(n + 1));
  plat_reg_close_key(key);
  return r == PLAT_ERROR_SUCCESS ? CLASSIC_OK : CLASSIC_IO_ERROR;
}
