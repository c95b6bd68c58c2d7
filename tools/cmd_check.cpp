// Sub-commands for a damaged or stuck store: check (read only), repair and
// who.  The library finds and fixes; these present what it reports.
#include <iomanip>
#include <ostream>

#include "commands.h"

namespace tool {

namespace {

const char* severity_text(int severity) {
  switch (severity) {
    case ADMIN_ERROR: return "error";
    case ADMIN_WARNING: return "warning";
    default: return "note";
  }
}

const char* fix_text(int fix) {
  switch (fix) {
    case ADMIN_FIX_ONLINE: return "online";
    case ADMIN_FIX_OFFLINE: return "area lock";
    case ADMIN_FIX_REBUILD: return "rebuild";
    default: return "none";
  }
}

nlohmann::json holder_json(const AdminHolder& h) {
  return {{"user", text_json(h.user)}, {"node", text_json(h.node)}, {"task_name", text_json(h.task_name)},
          {"task_id", h.task_id}};
}

nlohmann::json since_json(uint32_t t) { return t ? nlohmann::json(t) : nlohmann::json(); }

nlohmann::json finding_json(const AdminFinding& f) {
  nlohmann::json j;
  j["severity"] = severity_text(f.severity);
  j["code"] = f.code;
  j["file"] = text_json(f.file);
  j["entry"] = f.entry.empty() ? nlohmann::json() : text_json(f.entry);
  j["what"] = text_json(f.what);
  j["repair"] = text_json(f.repair);
  j["fix"] = fix_text(f.fix);
  j["since"] = since_json(f.since);
  j["since_local"] = f.since ? nlohmann::json(local_time(f.since)) : nlohmann::json();
  j["holder"] = f.has_holder ? holder_json(f.holder) : nlohmann::json();
  return j;
}

nlohmann::json check_json(const AdminCheckReport& r) {
  nlohmann::json j;
  j["areas"] = nlohmann::json::array();
  for (const std::string& a : r.areas) j["areas"].push_back(text_json(a));
  j["control_files"] = r.control_files;
  j["data_files"] = r.data_files;
  j["entries"] = r.entries;
  j["clean"] = r.clean();
  j["findings"] = nlohmann::json::array();
  for (const AdminFinding& f : r.findings) j["findings"].push_back(finding_json(f));
  return j;
}

std::string count_of(size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

void print_finding(std::ostream& out, const AdminFinding& f) {
  out << std::left << std::setw(9) << severity_text(f.severity) << f.file << (f.entry.empty() ? "" : "  " + f.entry) << ": " << f.what
      << " -- " << (f.fix == ADMIN_FIX_ONLINE || f.fix == ADMIN_FIX_OFFLINE ? "repair " : "") << f.repair << "\n";
}

void print_summary(std::ostream& out, const AdminCheckReport& r) {
  size_t errors = 0, warnings = 0;
  for (const AdminFinding& f : r.findings) {
    errors += f.severity == ADMIN_ERROR;
    warnings += f.severity == ADMIN_WARNING;
  }
  out << "checked " << count_of(r.areas.size(), "area", "areas") << ", "
      << count_of(static_cast<size_t>(r.control_files), "control file", "control files") << ", "
      << count_of(static_cast<size_t>(r.data_files), "data file", "data files") << ", "
      << count_of(static_cast<size_t>(r.entries), "entry", "entries") << ": ";
  if (r.clean()) {
    out << "clean\n";
  } else {
    out << count_of(errors, "error", "errors") << ", " << count_of(warnings, "warning", "warnings") << "\n";
  }
}

// The scope of check and repair: a drive, an area of it, a type of an area.
int make_scope(Console& c, const Args& a, AdminScope* scope) {
  Area area;
  std::string why;
  if (!resolve_area(a.area.empty() ? std::string("x") : a.area, a.drive, &area, &why)) return usage(c, why);
  scope->drive = area.drive;
  if (!a.area.empty()) scope->area = area.path;
  if (!a.type.empty()) {
    const ItemKind* kind = find_kind(a.type);
    if (!kind) return usage(c, "unknown item type '" + a.type + "' ('classic types' lists the 26 types)");
    scope->type = kind->ctl;
  }
  return TOOL_OK;
}

// The failure of a check or repair that could not start.
int scope_failure(Console& c, const std::string& op, const AdminScope& scope, int status) {
  std::string where = scope.area.empty() ? std::string("drive ") + scope.drive + ":" : scope.area;
  if (status == CLASSIC_NOT_FOUND) return fail(c, op + " " + where, "no such area ('classic init' sets one up)");
  return fail_status(c, op + " " + where, status);
}

}  // namespace

int cmd_check(Console& c, const Args& a) {
  AdminScope scope;
  if (int r = make_scope(c, a, &scope)) return r;
  AdminCheckReport report;
  int status = admin_check(scope, &report);
  if (status != CLASSIC_OK) return scope_failure(c, "check", scope, status);
  if (a.json) {
    print_json(c.out, check_json(report));
  } else {
    for (const AdminFinding& f : report.findings) print_finding(c.out, f);
    print_summary(c.out, report);
  }
  return report.clean() ? TOOL_OK : TOOL_FAILED;
}

int cmd_repair(Console& c, const Args& a) {
  AdminScope scope;
  if (int r = make_scope(c, a, &scope)) return r;
  if (a.rebuild && scope.type.empty()) return usage(c, "--rebuild rebuilds the control file of one type: give AREA and TYPE");
  AdminRepairOptions options;
  options.force = a.force;
  options.rebuild = a.rebuild;
  AdminRepairReport report;
  int status = admin_repair(scope, options, &report);
  if (status != CLASSIC_OK) return scope_failure(c, "repair", scope, status);
  bool done = report.after.clean() && report.refusals.empty();
  if (a.json) {
    nlohmann::json j;
    j["changes"] = nlohmann::json::array();
    for (const AdminChange& ch : report.changes) {
      j["changes"].push_back({{"file", text_json(ch.file)},
                              {"entry", ch.entry.empty() ? nlohmann::json() : text_json(ch.entry)},
                              {"text", text_json(ch.text)}});
    }
    j["refusals"] = nlohmann::json::array();
    for (const AdminRefusal& r : report.refusals) {
      j["refusals"].push_back({{"file", text_json(r.file)}, {"why", text_json(r.why)},
                               {"status", r.status ? nlohmann::json(r.status) : nlohmann::json()},
                               {"cause", r.cause.empty() ? nlohmann::json() : text_json(r.cause)}});
    }
    j["overridden_logins"] = nlohmann::json::array();
    for (const std::string& l : report.overridden) j["overridden_logins"].push_back(text_json(l));
    j["after"] = check_json(report.after);
    print_json(c.out, j);
    return done ? TOOL_OK : TOOL_FAILED;
  }
  for (const AdminChange& ch : report.changes) {
    c.out << "repaired  " << ch.file << (ch.entry.empty() ? "" : "  " + ch.entry) << ": " << ch.text << "\n";
  }
  for (const AdminRefusal& r : report.refusals) {
    c.err << "classic: repair " << r.file << ": " << r.why;
    if (r.status) c.err << " (" << status_text(r.status) << ", status " << r.status << ")";
    c.err << (r.cause.empty() ? "" : ": " + r.cause) << "\n";
  }
  if (report.changes.empty() && report.refusals.empty() && report.after.clean()) {
    c.out << "nothing to repair\n";
    return TOOL_OK;
  }
  if (!report.after.clean()) {
    c.out << "a check after the repair still finds:\n";
    for (const AdminFinding& f : report.after.findings) {
      if (f.severity != ADMIN_NOTE) print_finding(c.out, f);
    }
  }
  c.out << count_of(report.changes.size(), "change", "changes") << " made (each one in the error log)"
        << (report.after.clean() ? "; a check after it finds the store clean" : "") << "\n";
  return done ? TOOL_OK : TOOL_FAILED;
}

int cmd_who(Console& c, const Args& a) {
  Area area;
  std::string why;
  if (!resolve_area(a.area, a.drive, &area, &why)) return usage(c, why);
  AdminWho who;
  int status = admin_who(area.path, &who);
  if (status == CLASSIC_NOT_FOUND) return fail(c, "who " + area.path, "no such area ('classic init' sets one up)");
  if (status != CLASSIC_OK) return fail_status(c, "who " + area.path, status);
  std::string lock = who.locked_files == 0 ? "none"
                     : who.locked_files == who.control_files ? "whole"
                                                             : "partly";
  if (a.json) {
    nlohmann::json j;
    j["area"] = text_json(who.area);
    j["login_ctl"] = who.login_ctl;
    j["logins"] = who.logins;
    j["login_files"] = nlohmann::json::array();
    for (const AdminLogin& l : who.login_files) {
      j["login_files"].push_back({{"file", text_json(l.file)}, {"node", text_json(l.node)}, {"tag", text_json(l.tag)},
                                  {"since", since_json(l.since)}});
    }
    j["area_lock"] = {{"state", lock}, {"locked_files", who.locked_files}, {"control_files", who.control_files},
                      {"login_ctl_locked", who.login_locked}};
    j["held"] = nlohmann::json::array();
    for (const AdminHeldFile& h : who.held) {
      j["held"].push_back({{"file", text_json(h.file)}, {"live", h.live},
                           {"holder", h.live ? nlohmann::json() : holder_json(h.holder)}});
    }
    j["open_items"] = nlohmann::json::array();
    for (const AdminOpenItem& o : who.open_items) {
      j["open_items"].push_back({{"file", text_json(o.file)}, {"name", text_json(o.name)},
                                 {"open_state", o.open_state}, {"deleted", o.deleted}, {"since", since_json(o.since)},
                                 {"user", text_json(o.user)}});
    }
    print_json(c.out, j);
    return TOOL_OK;
  }
  c.out << "area          " << who.area << "\n";
  if (!who.login_ctl) {
    c.out << "logins        login.ctl cannot be read\n";
  } else {
    c.out << "logins        " << who.logins << " counted, " << count_of(who.login_files.size(), "login file", "login files")
          << "\n";
  }
  for (const AdminLogin& l : who.login_files) {
    c.out << "  " << l.file << "  node " << (l.node.empty() ? "-" : l.node) << ", tag '" << l.tag << "', since "
          << local_time(l.since) << "\n";
  }
  c.out << "area lock     " << lock;
  if (lock != "none") {
    c.out << " (" << who.locked_files << " of " << count_of(static_cast<size_t>(who.control_files), "control file", "control files")
          << ", login.ctl " << (who.login_locked ? "locked" : "free") << ")";
  }
  c.out << "\n";
  c.out << "held          " << (who.held.empty() ? std::string("no control file") : count_of(who.held.size(), "control file", "control files")) << "\n";
  for (const AdminHeldFile& h : who.held) {
    c.out << "  " << h.file << "  ";
    if (h.live) {
      c.out << "held now by a live session\n";
    } else {
      c.out << "session mark of user " << (h.holder.user.empty() ? "UNKNOWN" : h.holder.user) << " on node "
            << (h.holder.node.empty() ? "-" : h.holder.node) << ", task " << h.holder.task_name << " (id "
            << h.holder.task_id << "), which no program holds ('classic repair' clears it)\n";
    }
  }
  c.out << "open items    " << (who.open_items.empty() ? std::string("none") : std::to_string(who.open_items.size())) << "\n";
  for (const AdminOpenItem& o : who.open_items) {
    std::string type = o.file.substr(o.file.find_last_of('\\') + 1);
    type = type.substr(0, type.find('.'));
    c.out << "  " << type << " " << o.name << (o.deleted ? " (deleted)" : "") << "  " << open_state_text(o.open_state)
          << (o.open_state < 0 ? " since " : ", last access stamp ") << local_time(o.since)
          << (o.user.empty() ? "" : " (last written by " + o.user + ")") << "\n";
  }
  return TOOL_OK;
}

}  // namespace tool
