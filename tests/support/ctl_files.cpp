#include "base/text.h"
#include "support/ctl_files.h"

#include <cstring>

#include "support/store_test.h"

CtlEntry make_entry(const std::string& name, bool deleted) {
  CtlEntry e;
  std::memset(&e, 0, sizeof e);
  put_field(e.name, sizeof e.name, name.c_str());
  std::memcpy(e.suffix, "aaa", 3);
  e.version = CTL_VERSION;
  if (deleted) e.flags = ENTRY_DELETED;
  return e;
}

CtlTrailer make_trailer(int total_items) {
  CtlTrailer t = new_trailer();
  if (total_items > 0) {
    // A trailer of a file with entries names some data file other than a
    // fresh one, or it would count as lost.
    std::memcpy(t.suffix, "aab", 3);
    t.next_slot = 1;
  }
  t.total_items = static_cast<int16_t>(total_items);
  return t;
}

void write_control_file(const std::string& path, const std::vector<CtlEntry>& entries,
                        const CtlTrailer& trailer) {
  std::string bytes;
  bytes.reserve((entries.size() + 1) * sizeof(CtlEntry));
  for (const CtlEntry& e : entries) bytes.append(reinterpret_cast<const char*>(&e), sizeof e);
  bytes.append(reinterpret_cast<const char*>(&trailer), sizeof trailer);
  testenv::write_file(path, bytes);
}

std::vector<CtlEntry> read_entries(const std::string& path) {
  std::string bytes = testenv::read_file(path);
  std::vector<CtlEntry> out;
  for (size_t at = 0; at + 2 * sizeof(CtlEntry) <= bytes.size(); at += sizeof(CtlEntry)) {
    CtlEntry e;
    std::memcpy(&e, bytes.data() + at, sizeof e);
    out.push_back(e);
  }
  return out;
}

CtlTrailer read_trailer(const std::string& path) {
  std::string bytes = testenv::read_file(path);
  CtlTrailer t;
  std::memset(&t, 0, sizeof t);
  if (bytes.size() >= sizeof t) std::memcpy(&t, bytes.data() + bytes.size() - sizeof t, sizeof t);
  return t;
}

std::vector<std::string> entry_names(const std::vector<CtlEntry>& entries) {
  std::vector<std::string> out;
  for (const CtlEntry& e : entries) {
    std::string name(e.name, strnlen(e.name, sizeof e.name));
    if (e.flags & ENTRY_DELETED) name += "~";
    out.push_back(name);
  }
  return out;
}
