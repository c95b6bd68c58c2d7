// The plan of a control file: every entry held against its slot record,
// the slots that no entry names, the order and the counts, and the file as
// repair leaves it.
//
// An entry whose slot cannot be found keeps its name in the deleted tail,
// so that undelete brings it back once its bytes are restored; an abandoned
// creation goes to the deleted tail with the bytes that are present, never
// live; an abandoned replacement brings the version it replaced back.
#include "admin/plan.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>

#include "admin/admin.h"
#include "base/names.h"
#include "base/text.h"
#include "ctl/names.h"

namespace {

using Key = std::pair<int, int>;  // suffix number, slot

struct Work {
  CtlEntry e;
  int index = -1;            // its place in the file; -1 for a slot brought back
  bool live = false;         // live after the repair
  bool was_deleted = false;  // deleted in the file
  bool revived = false;      // a replaced version brought back
  bool resolved = false;     // it names its slot
  int number = -1;
  int slot = -1;
  int tail = 0;              // order among the entries newly put in the deleted tail
};

std::string plural(int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string when(uint32_t t) { return admin_local_time(t); }

bool same_name(const char* a, const char* b) { return std::memcmp(a, b, ITEM_NAME_SIZE) == 0; }

// The stored form of a 20-byte name field.
void normal_name(const char* name, char* out) {
  char text[ITEM_NAME_SIZE + 1];
  std::memcpy(text, name, ITEM_NAME_SIZE);
  text[ITEM_NAME_SIZE] = 0;
  normalize_item_name(out, text, ITEM_NAME_SIZE);
}

int open_weight(int8_t state) { return state < 0 ? 1 : state; }

std::string open_text(const CtlEntry& e) {
  if (e.open_state < 0) {
    std::string by = fixed_text(e.modifier, USER_ID_SIZE);
    return "open for writing since " + when(e.modified) + (by.empty() ? "" : " by user " + by);
  }
  return "open for reading by " + plural(e.open_state, "reader", "readers") +
         (e.accessed ? " (last access stamp " + when(e.accessed) + ")" : "");
}

// The entry of an item made from its slot record, as a creation makes it.
CtlEntry entry_of_slot(const SlotRecord& s, const char* suffix, int slot, uint8_t version) {
  CtlEntry e;
  std::memset(&e, 0, sizeof e);
  std::memcpy(e.name, s.name, ITEM_NAME_SIZE);
  std::memcpy(e.suffix, suffix, sizeof e.suffix);
  e.slot = static_cast<int8_t>(slot);
  mirror_slot(&e, s);
  e.size = s.data_length;
  e.version = version;
  return e;
}

class Planner {
 public:
  Planner(const CtlImage& image, CtlPlan* plan) : im_(image), p_(*plan) {}

  void run(bool rebuild) {
    p_.trailer = im_.trailer;
    switch (im_.state) {
      case FileState::Held:
        add(ADMIN_WARNING, "ctl.held", "", "is held by a live program now (a session has it open): not checked",
            "nothing: a live session is never cleared (check again once it has ended)", ADMIN_FIX_NONE);
        return;
      case FileState::Failed:
        add(ADMIN_ERROR, "ctl.unreadable", "", "cannot be read" + (im_.cause.empty() ? "" : ": " + im_.cause),
            "nothing", ADMIN_FIX_NONE);
        return;
      case FileState::Missing:
        if (!im_.type) return;
        damaged(rebuild, "ctl.missing",
                "is missing" + (im_.data_files ? "; " + plural(im_.data_files, "data file", "data files") +
                                                     " of its type are there"
                                               : std::string()));
        return;
      case FileState::Read:
        break;
    }
    if (!im_.whole) {
      damaged(rebuild, "ctl.size",
              "is " + plural(im_.size, "byte", "bytes") + " long, not a whole number of 64-byte records (cut short?)");
      return;
    }
    if (!im_.sound()) {
      damaged(rebuild, "ctl.version",
              "reads format version " + std::to_string(im_.trailer.version) +
                  " (the library reads 3 and 4): its trailer is lost or the file was cut short");
      return;
    }
    check_lock();
    if (!im_.type) return;  // login.ctl and unknown files: the trailer alone
    check_entries(false);
    finish();
  }

 private:
  const CtlImage& im_;
  CtlPlan& p_;
  std::vector<Work> works_;
  std::map<Key, bool> claimed_;
  std::multimap<std::string, Key> unclaimed_;  // used slots no entry names, by name
  int tail_ = 0;
  bool fresh_trailer_ = false;  // a rebuilt file: its trailer is new

  AdminFinding& add(int severity, const char* code, const std::string& entry, const std::string& what,
                    const std::string& repair, int fix, uint32_t since = 0) {
    AdminFinding f;
    f.severity = severity;
    f.code = code;
    f.file = im_.path;
    f.entry = entry;
    f.what = what;
    f.repair = repair;
    f.fix = fix;
    f.since = since;
    if (fix == ADMIN_FIX_OFFLINE) p_.offline = true;
    p_.findings.push_back(f);
    return p_.findings.back();
  }

  // A file beyond its own repair: made anew with rebuild, else reported.
  void damaged(bool rebuild, const char* code, const std::string& what) {
    p_.damaged = true;
    bool login = equal_nocase(im_.name.c_str(), LOGIN_CTL_NAME);
    if (login) {
      add(ADMIN_ERROR, code, "", what, "replaces it with an empty login.ctl (no logins counted; the login files stay)",
          ADMIN_FIX_ONLINE);
      return;
    }
    if (!im_.type) {
      add(ADMIN_ERROR, code, "", what, "nothing: no item type of the library has this control file", ADMIN_FIX_NONE);
      return;
    }
    if (!rebuild) {
      add(ADMIN_ERROR, code, "", what,
          "'classic repair --rebuild AREA TYPE' makes it anew from the slot records of its data files", ADMIN_FIX_REBUILD);
      return;
    }
    p_.trailer = new_trailer();
    fresh_trailer_ = true;
    for (const auto& [number, d] : im_.data) {
      if (d.header_ok && (d.header.version == CTL_VERSION || d.header.version == CTL_OLD_VERSION)) {
        p_.trailer.version = d.header.version;
        break;
      }
    }
    check_entries(true);
    finish();
    long live = std::count_if(works_.begin(), works_.end(), [](const Work& w) { return w.live; });
    add(ADMIN_ERROR, code, "", what,
        "rebuilt from the slot records of " + plural(im_.data_files, "data file", "data files") + ": " +
            plural(live, "live item", "live items") + ", " +
            plural(static_cast<long>(works_.size()) - live, "deleted entry", "deleted entries"),
        ADMIN_FIX_REBUILD);
    p_.rebuilt = true;
    p_.offline = true;
  }

  void check_lock() {
    const CtlTrailer& t = im_.trailer;
    if (t.lock_state == LOCK_SESSION) {
      p_.stale_session = true;
      AdminFinding& f = add(ADMIN_WARNING, "trailer.session-lock", "",
                            "carries the session mark of " + holder_text(trailer_holder(t)) +
                                ", which no program holds now (every session on it waits 46.5 s and fails "
                                "with 1012)",
                            "clears the mark at once, after taking its OS lock (which proves that no session holds it)",
                            ADMIN_FIX_ONLINE);
      f.has_holder = true;
      f.holder = trailer_holder(t);
    } else if (t.lock_state != LOCK_FREE && t.lock_state != LOCK_AREA) {
      add(ADMIN_ERROR, "trailer.lock-state", "", "has lock state " + std::to_string(t.lock_state) + ", none the library knows",
          "sets it free", ADMIN_FIX_OFFLINE);
      p_.trailer.lock_state = LOCK_FREE;
    }
  }

  const DataImage* data(int number) const {
    auto it = im_.data.find(number);
    return it == im_.data.end() ? nullptr : &it->second;
  }

  std::string data_name(int number) const {
    const DataImage* d = data(number);
    if (d) return d->name;
    char suffix[3];
    suffix_of(number, suffix);
    char text[4] = {suffix[0], suffix[1], suffix[2], 0};
    std::string path = data_path(im_, text);
    return path.substr(path.find_last_of('\\') + 1);
  }

  // The slot record as the repair leaves it (null when the data file is
  // missing or too short for its header).
  const SlotRecord* slot_at(int number, int slot) const {
    auto changed = p_.headers.find(number);
    if (changed != p_.headers.end()) return &changed->second.slots[slot];
    const DataImage* d = data(number);
    return d && d->header_ok ? &d->header.slots[slot] : nullptr;
  }

  SlotRecord& change_slot(int number, int slot) {
    auto it = p_.headers.find(number);
    if (it == p_.headers.end()) it = p_.headers.emplace(number, data(number)->header).first;
    return it->second.slots[slot];
  }

  const SlotRecord& slot_of(const Work& w) const { return *slot_at(w.number, w.slot); }
  SlotRecord& change_slot(const Work& w) { return change_slot(w.number, w.slot); }

  std::string place(int number, int slot) const {
    return "slot " + std::to_string(slot) + " of " + data_name(number);
  }

  // The bytes of a slot that are there: up to the next slot's data, or to
  // the end of the file.
  int64_t present_length(int number, int slot) const {
    const DataImage* d = data(number);
    const SlotRecord& s = *slot_at(number, slot);
    if (!d || s.data_offset == 0) return 0;
    int64_t end = d->size;
    for (int j = 0; j < DATA_SLOTS; ++j) {
      const SlotRecord& o = *slot_at(number, j);
      if (j != slot && o.data_offset > s.data_offset && o.data_offset < end) end = o.data_offset;
    }
    return std::max<int64_t>(0, end - s.data_offset);
  }

  bool outside(int number, int slot) const {
    const SlotRecord& s = *slot_at(number, slot);
    return s.data_offset < DATA_HEADER_SIZE || static_cast<int64_t>(s.data_offset) + s.data_length > data(number)->size;
  }

  void claim(Work& w, int number, int slot) {
    w.resolved = true;
    w.number = number;
    w.slot = slot;
    claimed_[{number, slot}] = true;
  }

  // Why an entry does not name its slot; "" when it does (and then claims it).
  std::string resolve(Work& w) {
    int number = suffix_number(w.e.suffix);
    if (number < 0) return "names no data file (its suffix is damaged)";
    if (!data(number)) return "its data file " + data_name(number) + " is missing";
    if (!data(number)->header_ok) {
      return "its data file " + data_name(number) + " is damaged (" + plural(data(number)->size, "byte", "bytes") +
             ", shorter than its header)";
    }
    if (w.e.slot < 0 || w.e.slot >= DATA_SLOTS) return "names slot " + std::to_string(w.e.slot) + ", which no data file has";
    const SlotRecord& s = *slot_at(number, w.e.slot);
    if (!slot_used(s)) return "names " + place(number, w.e.slot) + ", which is empty";
    if (!same_name(s.name, w.e.name)) return "names " + place(number, w.e.slot) + ", which holds " + item_name(s.name);
    if (claimed_.count({number, w.e.slot})) return "names " + place(number, w.e.slot) + ", which another entry names";
    claim(w, number, w.e.slot);
    return std::string();
  }

  // Moves a work to the deleted tail; its slot is marked deleted too.
  void to_tail(Work& w, bool mark_slot) {
    w.live = false;
    w.e.flags |= ENTRY_DELETED;
    w.e.open_state = 0;
    w.tail = ++tail_;
    if (mark_slot && w.resolved) change_slot(w).flags |= ENTRY_DELETED;
  }

  // The entries of the file against their slots; a rebuilt file takes
  // none of them, only the slot records.
  void check_entries(bool rebuild) {
    static const std::vector<CtlEntry> none;
    const std::vector<CtlEntry>& entries = rebuild ? none : im_.entries;
    if (!rebuild) check_counts();
    std::set<std::string> seen;
    for (bool deleted : {false, true}) {
      for (size_t i = 0; i < entries.size(); ++i) {
        const CtlEntry& e = entries[i];
        if (((e.flags & ENTRY_DELETED) != 0) != deleted) continue;
        std::string key(e.name, ITEM_NAME_SIZE);
        key.append(e.suffix, sizeof e.suffix).push_back(static_cast<char>(e.slot));
        if (!seen.insert(key).second) {
          add(ADMIN_ERROR, "entry.copy", item_name(e.name),
              "stands twice in the file (record " + std::to_string(i) + " is a copy: an entry move was cut short)",
              "drops the copy", ADMIN_FIX_OFFLINE);
          continue;
        }
        Work w;
        w.e = e;
        w.index = static_cast<int>(i);
        w.live = !deleted;
        w.was_deleted = deleted;
        resolve(w);
        works_.push_back(w);
      }
    }
    for (const auto& [number, d] : im_.data) {
      if (!d.header_ok) continue;
      for (int s = 0; s < DATA_SLOTS; ++s) {
        if (slot_used(d.header.slots[s]) && !claimed_.count({number, s})) {
          unclaimed_.emplace(std::string(d.header.slots[s].name, ITEM_NAME_SIZE), Key{number, s});
        }
      }
    }
    for (size_t i = 0; i < works_.size(); ++i) {
      if (works_[i].live && !works_[i].revived) check_live(works_[i]);
    }
    for (Work& w : works_) {
      if (w.was_deleted && !w.revived) check_deleted(w);
    }
    check_names_and_order();
    bring_back_slots(rebuild);
  }

  void check_counts() {
    const std::vector<CtlEntry>& entries = im_.entries;
    long live = 0, open = 0, last_live = -1, misplaced = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
      if (!(entries[i].flags & ENTRY_DELETED)) {
        ++live;
        last_live = static_cast<long>(i);
      }
      open += open_weight(entries[i].open_state);
    }
    for (long i = 0; i < last_live; ++i) misplaced += (entries[static_cast<size_t>(i)].flags & ENTRY_DELETED) ? 1 : 0;
    if (im_.trailer.total_items != live) {
      add(ADMIN_ERROR, "trailer.count", "",
          "counts " + plural(im_.trailer.total_items, "live item", "live items") + "; the file holds " +
              std::to_string(live),
          "sets the count to the live items the repair leaves", ADMIN_FIX_OFFLINE);
    }
    if (im_.trailer.open_count != open) {
      add(ADMIN_WARNING, "trailer.open-count", "",
          "counts " + plural(im_.trailer.open_count, "open item", "open items") +
              "; the open states of its entries add up to " + std::to_string(open),
          "sets it to the items left open (none)", ADMIN_FIX_OFFLINE);
    }
    if (misplaced) {
      add(ADMIN_ERROR, "entry.deleted-among-live", "",
          plural(misplaced, "deleted entry stands", "deleted entries stand") + " among the live ones",
          "moves them to the deleted tail", ADMIN_FIX_OFFLINE);
    }
  }

  // Points an entry whose slot is not its own to the slot that no entry
  // names and that holds its name (the one created with it, if any).
  bool relink(Work& w) {
    auto range = unclaimed_.equal_range(std::string(w.e.name, ITEM_NAME_SIZE));
    auto best = range.second;
    for (auto it = range.first; it != range.second; ++it) {
      if (claimed_.count(it->second)) continue;
      if (best == range.second || slot_at(it->second.first, it->second.second)->created == w.e.created) best = it;
    }
    if (best == range.second) return false;
    Key k = best->second;
    unclaimed_.erase(best);
    claim(w, k.first, k.second);
    char suffix[3];
    suffix_of(k.first, suffix);
    std::memcpy(w.e.suffix, suffix, sizeof w.e.suffix);
    w.e.slot = static_cast<int8_t>(k.second);
    return true;
  }

  void check_live(Work& w) {
    char norm[ITEM_NAME_SIZE];
    normal_name(w.e.name, norm);
    std::string name = item_name(w.e.name);
    if (!norm[0]) {
      add(ADMIN_ERROR, "entry.name", name, "has no name", "moves it to the deleted tail", ADMIN_FIX_OFFLINE);
      to_tail(w, false);
      return;
    }
    if (!same_name(norm, w.e.name)) {
      add(ADMIN_ERROR, "entry.name", name, "is not stored in the form of a name (" + item_name(norm) + ")",
          "renames it " + item_name(norm) + " in its entry and its slot", ADMIN_FIX_OFFLINE);
      std::memcpy(w.e.name, norm, ITEM_NAME_SIZE);
      if (w.resolved) std::memcpy(change_slot(w).name, norm, ITEM_NAME_SIZE);
      name = item_name(norm);
    }
    if (!w.resolved) {
      std::string why = resolve(w);
      if (!why.empty()) {
        std::string old = why;
        if (relink(w)) {
          add(ADMIN_ERROR, "entry.slot", name, old, "points it to " + place(w.number, w.slot) + ", which holds its bytes",
              ADMIN_FIX_OFFLINE);
        } else {
          add(ADMIN_ERROR, why.find("data file") != std::string::npos ? "entry.data-file" : "entry.slot", name,
              why + ": its bytes cannot be read",
              "moves it to the deleted tail (undelete brings it back once its bytes are restored)", ADMIN_FIX_OFFLINE);
          to_tail(w, false);
          return;
        }
      }
    }
    const SlotRecord& s = slot_of(w);
    if (s.data_length == -1) {
      abandoned(w);
      return;
    }
    if (outside(w.number, w.slot)) {
      add(ADMIN_ERROR, "entry.data", name,
          "has " + plural(s.data_length, "byte", "bytes") + " at offset " + std::to_string(s.data_offset) + " of " +
              data_name(w.number) + ", which holds " + plural(data(w.number)->size, "byte", "bytes"),
          "moves it to the deleted tail", ADMIN_FIX_OFFLINE);
      to_tail(w, true);
      return;
    }
    if (w.e.open_state != 0) {
      add(ADMIN_WARNING, "entry.open", name, "is " + open_text(w.e), "sets it closed", ADMIN_FIX_OFFLINE,
          w.e.open_state < 0 ? w.e.modified : w.e.accessed);
      w.e.open_state = 0;
    }
    if (w.e.size != s.data_length) {
      add(ADMIN_WARNING, "entry.size", name,
          "has size " + std::to_string(w.e.size) + "; its slot holds " + plural(s.data_length, "byte", "bytes"),
          "sets the size to " + std::to_string(s.data_length), ADMIN_FIX_OFFLINE);
      w.e.size = s.data_length;
    }
    if (s.flags & ENTRY_DELETED) {
      add(ADMIN_WARNING, "slot.flag", name, "is live, but " + place(w.number, w.slot) + " is marked deleted",
          "clears the mark of the slot", ADMIN_FIX_OFFLINE);
      change_slot(w).flags &= static_cast<uint8_t>(~ENTRY_DELETED);
    }
  }

  // The previous version of an item whose new version was never finished:
  // the most recent deleted entry of its name with the stamps the new slot
  // took over from it.
  Work* replaced_version(const Work& w, const SlotRecord& s) {
    Work* found = nullptr;
    for (Work& d : works_) {
      if (d.was_deleted && !d.revived && d.resolved && same_name(d.e.name, w.e.name) &&
          d.e.modified == s.prev_modified && d.e.created == s.created && slot_of(d).data_length >= 0) {
        found = &d;
      }
    }
    return found;
  }

  void abandoned(Work& w) {
    std::string name = item_name(w.e.name);
    const SlotRecord& s = slot_of(w);
    int64_t bytes = present_length(w.number, w.slot);
    uint32_t begun = s.modified;
    Work* previous = replaced_version(w, s);
    if (previous) {
      add(ADMIN_ERROR, "entry.replacement", name,
          "has a new version begun " + when(begun) + " that was never finished (its writer is gone)",
          "brings back the version of " + when(previous->e.modified) + " and moves the new one, with the " +
              plural(bytes, "byte", "bytes") + " present, to the deleted tail",
          ADMIN_FIX_OFFLINE, begun);
      previous->live = true;
      previous->revived = true;
      previous->e.flags &= static_cast<uint8_t>(~ENTRY_DELETED);
      previous->e.open_state = 0;
      change_slot(*previous).flags &= static_cast<uint8_t>(~ENTRY_DELETED);
    } else {
      add(ADMIN_ERROR, "entry.creation", name, "was created " + when(begun) + " and never finished (its creator is gone)",
          "moves it to the deleted tail with the " + plural(bytes, "byte", "bytes") + " present", ADMIN_FIX_OFFLINE, begun);
    }
    change_slot(w).data_length = static_cast<int32_t>(bytes);
    w.e.size = static_cast<int32_t>(bytes);
    to_tail(w, true);
  }

  void check_deleted(Work& w) {
    std::string name = item_name(w.e.name);
    if (w.e.open_state != 0) {
      add(ADMIN_WARNING, "entry.open", name, "is deleted, yet " + open_text(w.e), "sets it closed", ADMIN_FIX_OFFLINE,
          w.e.open_state < 0 ? w.e.modified : w.e.accessed);
      w.e.open_state = 0;
    }
    if (!w.resolved) return;
    if (slot_of(w).data_length == -1) {
      int64_t bytes = present_length(w.number, w.slot);
      add(ADMIN_ERROR, "entry.creation", name, "is deleted, and its creation was never finished",
          "sets its length to the " + plural(bytes, "byte", "bytes") + " present", ADMIN_FIX_OFFLINE, slot_of(w).modified);
      change_slot(w).data_length = static_cast<int32_t>(bytes);
      w.e.size = static_cast<int32_t>(bytes);
    }
    if (!(slot_of(w).flags & ENTRY_DELETED)) {
      add(ADMIN_WARNING, "slot.flag", name,
          "is deleted, but " + place(w.number, w.slot) + " is not marked deleted (a deletion was cut short)",
          "marks the slot deleted", ADMIN_FIX_OFFLINE);
      change_slot(w).flags |= ENTRY_DELETED;
    }
  }

  static bool before(const Work* a, const Work* b) { return compare_item_names(a->e.name, b->e.name, ITEM_NAME_SIZE) < 0; }

  void check_names_and_order() {
    std::vector<Work*> live;
    for (Work& w : works_) {
      if (w.live) live.push_back(&w);
    }
    // The order of the file, the live entries that stay live.
    long breaks = 0;
    std::string first;
    const Work* prev = nullptr;
    for (const Work* w : live) {
      if (w->revived) continue;
      if (prev && compare_item_names(prev->e.name, w->e.name, ITEM_NAME_SIZE) > 0 && ++breaks == 1) {
        first = item_name(w->e.name) + " after " + item_name(prev->e.name);
      }
      prev = w;
    }
    if (breaks) {
      add(ADMIN_ERROR, "entry.order", "",
          "has its live entries out of the order of names at " + plural(breaks, "place", "places") + " (first " +
              first + "): searches miss items",
          "sorts the live entries", ADMIN_FIX_OFFLINE);
    }
    std::stable_sort(live.begin(), live.end(), before);
    for (size_t i = 0; i < live.size();) {
      size_t j = i + 1;
      while (j < live.size() && compare_item_names(live[i]->e.name, live[j]->e.name, ITEM_NAME_SIZE) == 0) ++j;
      Work* keep = live[i];
      for (size_t k = i + 1; k < j; ++k) {
        if (live[k]->e.modified > keep->e.modified) keep = live[k];
      }
      for (size_t k = i; k < j; ++k) {
        if (live[k] == keep) continue;
        add(ADMIN_ERROR, "entry.duplicate", item_name(live[k]->e.name),
            "is live twice (this one modified " + when(live[k]->e.modified) + ", the other " + when(keep->e.modified) + ")",
            "moves the older one to the deleted tail", ADMIN_FIX_OFFLINE);
        to_tail(*live[k], true);
      }
      i = j;
    }
  }

  // Slots in use that no entry names come back: live when nothing speaks
  // against it, else in the deleted tail.
  void bring_back_slots(bool rebuild) {
    std::set<std::string> live_names;
    for (const Work& w : works_) {
      if (w.live) live_names.insert(std::string(w.e.name, ITEM_NAME_SIZE));
    }
    for (const auto& [number, d] : im_.data) {
      if (!d.header_ok) continue;
      for (int slot = 0; slot < DATA_SLOTS; ++slot) {
        if (!slot_used(*slot_at(number, slot)) || claimed_.count({number, slot})) continue;
        Work w;
        claim(w, number, slot);
        w.e = entry_of_slot(*slot_at(number, slot), d.suffix, slot, p_.trailer.version);
        char norm[ITEM_NAME_SIZE];
        normal_name(w.e.name, norm);
        if (!norm[0]) {
          std::string lost = "LOST" + std::string(d.suffix) + std::to_string(slot);
          for (char& c : lost) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
          std::memset(norm, 0, sizeof norm);
          std::memcpy(norm, lost.data(), lost.size());
        }
        if (!same_name(norm, w.e.name)) {
          std::memcpy(w.e.name, norm, ITEM_NAME_SIZE);
          std::memcpy(change_slot(w).name, norm, ITEM_NAME_SIZE);
        }
        const SlotRecord& s = slot_of(w);
        std::string how;
        if (s.data_length == -1) {
          int64_t bytes = present_length(number, slot);
          change_slot(w).data_length = static_cast<int32_t>(bytes);
          w.e.size = static_cast<int32_t>(bytes);
          how = "its creation was never finished: it comes back as a deleted entry with the " +
                plural(bytes, "byte", "bytes") + " present";
        } else if (outside(number, slot)) {
          how = "its bytes reach past the end of the data file: it comes back as a deleted entry";
        } else if (s.flags & ENTRY_DELETED) {
          how = "it comes back as a deleted entry";
        } else if (live_names.count(std::string(norm, ITEM_NAME_SIZE))) {
          how = "a live item has its name: it comes back as a deleted entry";
        } else {
          how = "it comes back as a live item";
          w.live = true;
          live_names.insert(std::string(norm, ITEM_NAME_SIZE));
        }
        if (!w.live) to_tail(w, true);
        if (!rebuild) {
          add(ADMIN_WARNING, "slot.lost", item_name(norm),
              place(number, slot) + " holds an item of " + plural(slot_of(w).data_length, "byte", "bytes") +
                  ", modified " + when(s.modified) + ", that no entry names",
              how, ADMIN_FIX_OFFLINE, s.modified);
        }
        works_.push_back(w);
      }
    }
    if (rebuild) {
      // The deleted tail of a rebuilt file in the order the versions were
      // written.
      std::vector<Work*> tail;
      for (Work& w : works_) {
        if (!w.live) tail.push_back(&w);
      }
      std::stable_sort(tail.begin(), tail.end(), [](const Work* a, const Work* b) { return a->e.modified < b->e.modified; });
      int order = 0;
      for (Work* w : tail) w->tail = ++order;
    }
  }

  // The entries and the trailer as the repair leaves them.
  void finish() {
    std::vector<const Work*> live, tail;
    for (const Work& w : works_) (w.live ? live : tail).push_back(&w);
    std::stable_sort(live.begin(), live.end(), before);
    std::stable_sort(tail.begin(), tail.end(), [](const Work* a, const Work* b) {
      // The tail of the file first, in its order; then the entries moved to it.
      if ((a->tail == 0) != (b->tail == 0)) return a->tail == 0;
      return a->tail == 0 ? a->index < b->index : a->tail < b->tail;
    });
    p_.entries.clear();
    for (const Work* w : live) p_.entries.push_back(w->e);
    for (const Work* w : tail) p_.entries.push_back(w->e);
    p_.trailer.total_items = static_cast<int16_t>(live.size());
    p_.trailer.open_count = 0;
    check_filling();
  }

  // The trailer names the data file being filled and the next slot in it;
  // both must lie after every slot in use, in a place a creation can take.
  void check_filling() {
    int top = -1, last = -1;
    for (const auto& [number, d] : im_.data) {
      if (!d.header_ok) continue;
      for (int s = 0; s < DATA_SLOTS; ++s) {
        if (slot_used(*slot_at(number, s))) {
          top = number;
          last = s;
        }
      }
    }
    // The data files entries name that are gone keep their names, so that
    // they can be restored.
    int lost = -1;
    for (const CtlEntry& e : p_.entries) {
      int n = suffix_number(e.suffix);
      if (n >= 0 && !data(n)) lost = std::max(lost, n);
    }
    bool entries = !p_.entries.empty();
    int number = top < 0 ? (entries ? 1 : 0) : (last < DATA_SLOTS - 1 ? top : top + 1);
    int slot = top < 0 || last == DATA_SLOTS - 1 ? 0 : last + 1;
    if (lost >= number) {
      number = lost + 1;
      slot = 0;
    }
    while (slot == 0 && data(number)) ++number;
    if (number >= SUFFIX_COUNT) return;

    CtlTrailer& t = p_.trailer;
    int current = suffix_number(t.suffix);
    int n = t.next_slot;
    std::string why;
    if (current < 0 || n >= DATA_SLOTS) {
      why = "that is no place a creation can take";
    } else if (top > current) {
      why = data_name(top) + ", which holds items, comes after it";
    } else if (lost >= current) {
      why = "entries name " + data_name(lost) + ", which is missing: a new item would take the name of its data file";
    } else if (n == 0 && data(current)) {
      why = "data file " + data_name(current) + " is there already";
    } else if (n == 0 && current == 0 && entries) {
      why = "it reads as a lost trailer (aaa, slot 0, in a file with entries)";
    } else if (n > 0 && (!data(current) || !data(current)->header_ok)) {
      why = "data file " + data_name(current) + " is missing or damaged";
    } else if (n > 0 && !slot_used(*slot_at(current, n - 1))) {
      why = place(current, n - 1) + " is empty";
    } else if (n > 0) {
      for (int s = n; s < DATA_SLOTS && why.empty(); ++s) {
        if (slot_used(*slot_at(current, s))) why = place(current, s) + " is taken";
      }
    }
    if (why.empty()) return;
    char suffix[3];
    suffix_of(number, suffix);
    std::string now = current < 0 ? std::string("an unreadable data file") : data_name(current);
    if (!fresh_trailer_) add(ADMIN_WARNING, "trailer.filling", "",
        "names " + now + ", slot " + std::to_string(n) + " as the next place for a new item, but " + why,
        "sets it to " + data_name(number) + ", slot " + std::to_string(slot), ADMIN_FIX_OFFLINE);
    std::memcpy(t.suffix, suffix, sizeof t.suffix);
    t.next_slot = static_cast<uint8_t>(slot);
  }
};

}  // namespace

CtlPlan plan_control_file(const CtlImage& image, bool rebuild) {
  CtlPlan plan;
  Planner(image, &plan).run(rebuild);
  return plan;
}
