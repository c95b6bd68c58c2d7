// A store of known items for the tests of accidents (failed calls, crashes,
// kills): the operations that change it, a snapshot of its files, and the
// check that an accident left it sound.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace accidents {

// The items of the store: names A to J (eight in data file aaa, two in aab)
// and E, deleted.  Each item's bytes are its name repeated.
void make_store();

// What the store holds: every live item's bytes and attribute, the area's
// lock and login counts, the number of log records.
using Model = std::map<std::string, std::string>;
Model read_model();

// The files under C:\userroot, byte for byte.
using Snapshot = std::map<std::string, std::string>;
Snapshot take_snapshot();
void restore(const Snapshot& snapshot);

// A change of one key of the model: its new value, "-" (erased), "=KEY"
// (the value KEY had before) or "+1" (a count one up).
struct Change {
  std::string key;
  std::string value;
};

// An operation of the matrices.  prepare (may be null) runs before the
// snapshot; run makes the change and returns its status; changes are what
// it does to the model; recover (may be null) is what a keeper runs after a
// failure that may leave the operation half done (an area lock).
struct Operation {
  const char* name;
  void (*prepare)();
  int (*run)();
  std::vector<Change> changes;
  void (*recover)();
};
const std::vector<Operation>& operations();

// The store put back to base and op prepared: the files and the model as op
// finds them, and the calls op makes that change a file when nothing fails
// (op is run once to count them, and must succeed).
struct Start {
  Snapshot files;
  Model model;
  long calls = 0;
};
Start start_operation(const Operation& op, const Snapshot& base);
const Operation* find_operation(const std::string& name);

// Checks the store after op ran into an accident: the keys op touches hold
// either their old or their new values (the new ones when status is 1), all
// others are unchanged, and the store takes and gives back a new item at
// once.  An empty string when sound, else what is wrong.
std::string check_after(const Operation& op, const Model& before, int status);

}  // namespace accidents
