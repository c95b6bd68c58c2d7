// Sub-commands of a store keeper's day beyond single items: the settings of
// this system, statistics over areas, deleted versions dropped for good, and
// items copied between areas with their stamps.
#include <cstring>
#include <iomanip>
#include <ostream>

#include "commands.h"

namespace tool {

namespace {

// The areas of a drive (or the one named): their store paths.
int areas_in_scope(Console& c, const Args& a, std::vector<Area>* out) {
  if (!a.area.empty()) {
    Area area;
    std::string why;
    if (!resolve_area(a.area, a.drive, &area, &why)) return usage(c, why);
    if (!store_exists(area.path)) return fail(c, "stats " + shown(area.path), "no such area ('classic init' sets one up)");
    out->push_back(area);
    return TOOL_OK;
  }
  Area probe;
  std::string why;
  if (!resolve_area("x", a.drive, &probe, &why)) return usage(c, why);
  for (const Area& area : drive_areas(probe.drive)) {
    if (store_exists(area.path)) out->push_back(area);
  }
  return TOOL_OK;
}

}  // namespace

int cmd_env(Console& c, const Args& a) {
  std::vector<AdminSetting> settings = admin_settings();
  if (a.json) {
    nlohmann::json list = nlohmann::json::array();
    for (const AdminSetting& s : settings) {
      list.push_back({{"name", s.name}, {"value", text_json(s.value)}, {"source", s.source}});
    }
    print_json(c.out, list);
    return TOOL_OK;
  }
  for (const AdminSetting& s : settings) {
    c.out << std::left << std::setw(15) << s.name << shown(s.value) << "  (" << s.source << ")\n";
  }
  return TOOL_OK;
}

int cmd_stats(Console& c, const Args& a) {
  const ItemKind* kind = nullptr;
  if (!a.type.empty() && !(kind = find_kind(a.type))) {
    return usage(c, "unknown item type '" + a.type + "' ('classic types' lists the 26 types)");
  }
  std::vector<Area> areas;
  if (int r = areas_in_scope(c, a, &areas)) return r;
  nlohmann::json list = nlohmann::json::array();
  if (!a.json) {
    c.out << std::left << std::setw(12) << "AREA" << std::setw(8) << "TYPE" << std::right << std::setw(8) << "LIVE"
          << std::setw(12) << "BYTES" << std::setw(9) << "DELETED" << std::setw(12) << "BYTES" << std::setw(7)
          << "FILES" << std::setw(12) << "OVERHEAD" << "\n";
  }
  AdminTypeStats total;
  int result = TOOL_OK;
  for (const Area& area : areas) {
    std::vector<AdminTypeStats> stats;
    int status = admin_area_stats(area.path, kind ? kind->ctl : std::string(), &stats);
    if (status != CLASSIC_OK) {
      result = fail_status(c, "stats " + shown(area.path), status);
      continue;
    }
    for (const AdminTypeStats& s : stats) {
      if (!s.readable) report(c, shown(s.file) + ": cannot be read whole ('classic check' tells why)");
      // Types with nothing in them are left out of the table.
      if (s.live + s.deleted + s.data_files == 0 && !kind) continue;
      total.live += s.live;
      total.deleted += s.deleted;
      total.live_bytes += s.live_bytes;
      total.deleted_bytes += s.deleted_bytes;
      total.data_files += s.data_files;
      total.data_bytes += s.data_bytes;
      if (a.json) {
        list.push_back({{"area", text_json(area.path)}, {"type", s.type}, {"control_file", text_json(s.file)},
                        {"readable", s.readable}, {"live", s.live}, {"live_bytes", s.live_bytes},
                        {"deleted", s.deleted}, {"deleted_bytes", s.deleted_bytes}, {"data_files", s.data_files},
                        {"data_bytes", s.data_bytes}, {"overhead", s.overhead()}});
        continue;
      }
      c.out << std::left << std::setw(12) << shown(area.name) << std::setw(8) << s.type << std::right << std::setw(8)
            << s.live << std::setw(12) << s.live_bytes << std::setw(9) << s.deleted << std::setw(12)
            << s.deleted_bytes << std::setw(7) << s.data_files << std::setw(12) << s.overhead() << "\n";
    }
  }
  if (a.json) {
    print_json(c.out, list);
    return result;
  }
  c.out << std::left << std::setw(20) << "total" << std::right << std::setw(8) << total.live << std::setw(12)
        << total.live_bytes << std::setw(9) << total.deleted << std::setw(12) << total.deleted_bytes << std::setw(7)
        << total.data_files << std::setw(12) << total.overhead() << "\n";
  return result;
}

int cmd_purge(Console& c, const Args& a) {
  Area area;
  std::string why;
  if (!resolve_area(a.area, a.drive, &area, &why)) return usage(c, why);
  AdminPurgeOptions options;
  if (!a.type.empty()) {
    const ItemKind* kind = find_kind(a.type);
    if (!kind) return usage(c, "unknown item type '" + a.type + "' ('classic types' lists the 26 types)");
    options.type = kind->ctl;
  }
  options.pattern = a.pattern;
  options.force = a.force;
  std::string what = "purge " + shown(area.path);
  // First what would go, then (confirmed) the purge itself.
  options.dry_run = true;
  AdminPurgeReport plan;
  int status = admin_purge(area.path, options, &plan);
  if (status == CLASSIC_NOT_FOUND) return fail(c, what, "no such area ('classic init' sets one up)");
  if (status != CLASSIC_OK) return fail_status(c, what, status);
  auto print = [&](const AdminPurgeReport& r, const char* verb) {
    if (a.json) {
      nlohmann::json list = nlohmann::json::array();
      for (const AdminPurged& p : r.purged) {
        list.push_back({{"control_file", text_json(p.file)}, {"name", text_json(p.name)}, {"size", p.size}});
      }
      nlohmann::json j = {{"area", text_json(area.path)}, {"dry_run", a.dry_run}, {"purged", list}};
      nlohmann::json refused = nlohmann::json::array();
      for (const AdminRefusal& f : r.refusals) refused.push_back({{"file", text_json(f.file)}, {"why", f.why}});
      j["refused"] = refused;
      print_json(c.out, j);
      return;
    }
    for (const AdminPurged& p : r.purged) {
      c.out << verb << " " << shown(p.file) << "  " << shown(p.name) << " (" << p.size << " bytes)\n";
    }
    for (const std::string& l : r.overridden) c.err << "classic: logged out by the area lock: " << l << "\n";
    if (r.purged.empty()) {
      c.out << "no deleted version to drop in " << shown(area.path) << "\n";
      return;
    }
    c.out << count_text(r.purged.size()) << (r.purged.size() == 1 ? " deleted version " : " deleted versions ")
          << (a.dry_run ? "would be dropped" : "dropped") << " from " << shown(area.path) << "\n";
  };
  if (a.dry_run || plan.purged.empty()) {
    print(plan, "would drop");
    return TOOL_OK;
  }
  if (!a.yes) {
    if (!c.io.input_terminal) {
      return usage(c, "purge drops " + count_text(plan.purged.size()) +
                          " deleted versions for good: give --yes (or --dry-run to see them)");
    }
    if (!confirm(c, "drop " + count_text(plan.purged.size()) + " deleted versions of " + shown(area.path) +
                        " for good?")) {
      return fail(c, what, "not confirmed: nothing dropped");
    }
  }
  options.dry_run = false;
  AdminPurgeReport done;
  clear_cause();
  status = admin_purge(area.path, options, &done);
  if (status != CLASSIC_OK) return fail_status(c, what, status);
  print(done, "dropped");
  int result = TOOL_OK;
  for (const AdminRefusal& r : done.refusals) {
    report(c, shown(r.file) + ": " + r.why + (r.cause.empty() ? "" : ": " + r.cause), r.status);
    result = TOOL_FAILED;
  }
  return result;
}

int cmd_cp(Console& c, const Args& a) {
  Store from, to;
  if (int r = open_store(c, "cp", a.area, a.drive, a.type, &from)) return r;
  if (int r = open_store(c, "cp", a.area2, a.drive, a.type, &to)) return r;
  std::string why;
  if (!valid_item_name(a.name, &why)) return usage(c, why);
  if (from.ctl == to.ctl) return usage(c, "cp copies to another area: " + shown(to.area.path) + " is the same");
  int status = admin_copy_item(from.ctl, from.kind->pattern, a.name, to.ctl, to.kind->pattern, a.replace);
  std::string what = "cp " + from.kind->name + " " + shown(a.name) + " from " + shown(from.area.path) + " to " +
                     shown(to.area.path);
  if (!ok(status)) return fail_status(c, what, status);
  c.out << "copied " << shown(a.name) << " to " << shown(to.where()) << "\n";
  return TOOL_OK;
}

}  // namespace tool
