// Control files made and read by the tests, byte for byte.
#pragma once

#include <string>
#include <vector>

#include "ctl/records.h"

// An entry with the given (already normalised) name.
CtlEntry make_entry(const std::string& name, bool deleted = false);

// A trailer as classic_create_control_file writes it, with total items set.
CtlTrailer make_trailer(int total_items = 0);

// Writes entries and trailer as a control file (folders made as needed).
void write_control_file(const std::string& path, const std::vector<CtlEntry>& entries,
                        const CtlTrailer& trailer);

// The entries and the trailer of a control file on disk.
std::vector<CtlEntry> read_entries(const std::string& path);
CtlTrailer read_trailer(const std::string& path);

// The names of entries, a deleted one marked with a trailing '~'.
std::vector<std::string> entry_names(const std::vector<CtlEntry>& entries);
