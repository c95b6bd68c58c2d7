// How this workstation is set up: its network storage drive, its server's
// drive and its node name, read once per process from the station file
// c:\userroot\prog\util\network.cfg and the variable QUEUE.
#pragma once

struct HostInfo {
  char network_drive;  // 'D' to 'Z', or '!' for none
  char server_drive;   // a drive letter, or NUL for none
  char node[5];        // 0 to 4 characters, upper-cased
  char node_copy[5];   // the same text again
};

// The record, filled by the first ensure_host_info of the process.
const HostInfo& host_info();

// Fills the host information record once per process.
void ensure_host_info();

// Reads the station file: 0 when it is in use (node name and network drive
// stored), -1 otherwise.
int read_station_file(char* node, char* network_drive);

// The user id stamped on items: the registry value UserId under
// Software\Halvorn, at most three characters (empty when missing or
// longer).  user holds 4 bytes.
void read_user_id(char* user);
// Sets the user id (at most three characters) for the items this user
// stamps from now on: 1, or 1002 when the registry refuses it.
int write_user_id(const char* user);

// The storage layer's process-wide state (host information, translations,
// the translated-path buffer, open listings) back to its value at load; open
// listings are ended.
void reset_storage_state();
