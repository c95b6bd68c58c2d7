// The command line of the classic command: its sub-commands, their
// arguments and help texts, and the dispatch to them.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <ostream>

#include "classic_tool.h"
#include "commands.h"

namespace tool {

namespace {

using Command = int (*)(Console&, const Args&);

// The build passes in the project's version and build type.
#ifndef CLASSIC_VERSION
#define CLASSIC_VERSION "(unknown version)"
#endif
#ifndef CLASSIC_BUILD_TYPE
#define CLASSIC_BUILD_TYPE "unknown"
#endif

const char* const kOverview =
    "classic: look after the item stores of the CAD host system.\n"
    "\n"
    "AREA is an area name on drive C: (-d X: for another drive), which names the\n"
    "folder X:\\userroot\\storage\\AREA, or a full area path.  TYPE is an item type\n"
    "(piece, model, mark, lay, lyrl, ...; 'classic types' lists all 26).\n"
    "Exit status: 0 done, 1 an operation failed, 2 wrong arguments.";

const char* const kFooter =
    "A first session:\n"
    "  classic init work\n"
    "  classic import work piece samples/*.pce\n"
    "  classic ls work piece -l\n"
    "  classic get work piece FRONT front.pce\n"
    "'classic help COMMAND' or 'classic COMMAND --help' describes each command.";

class Cli {
 public:
  Cli() : app_(kOverview, "classic") {
    app_.footer(kFooter);
    app_.require_subcommand(1, 1);
    // A path such as /data/front.pce is a file on every system, never an
    // option written the Windows way.
    app_.allow_windows_style_options(false);
    app_.set_version_flag("--version", "classic " CLASSIC_VERSION " (" CLASSIC_BUILD_TYPE " build)");
    build();
  }

  int run(int argc, char** argv, Console& c) {
    if (argc < 2) {
      c.err << full_help();
      return TOOL_USAGE;
    }
    std::string first = argv[1];
    if (first[0] != '-' && std::none_of(top_.begin(), top_.end(),
                                        [&](CLI::App* sub) { return sub->get_name() == first; })) {
      c.err << "classic: no command '" << first << "' ('classic help' lists them)\n";
      return TOOL_USAGE;
    }
    try {
      app_.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
      if (e.get_exit_code() == 0) return app_.exit(e, c.out, c.err);
      c.err << "classic: " << e.what() << "\n";
      CLI::App* sub = selected();
      c.err << (sub == &app_ ? "\n" + full_help() : usage_of(sub));
      return TOOL_USAGE;
    }
    if (help_->parsed()) return help(c);
    CLI::App* sub = selected();
    auto found = commands_.find(sub);
    if (found == commands_.end()) {
      c.err << full_help();
      return TOOL_USAGE;
    }
    clear_cause();
    begin_command(c);
    int status = found->second(c, args_);
    bool stopped = interrupted();
    end_command();
    if (status == TOOL_USAGE) c.err << usage_of(sub);
    // Output that could not be written is a failure, not a result.
    errno = 0;
    c.out.flush();
    if (!c.out) {
      c.err << "classic: standard output cannot be written"
            << (errno ? std::string(": ") + std::strerror(errno) : std::string()) << "\n";
      return TOOL_FAILED;
    }
    if (status == TOOL_OK && stopped) return TOOL_INTERRUPTED;
    return status;
  }

 private:
  // The help of the whole command, whatever sub-command was parsed.
  std::string full_help() { return app_.get_formatter()->make_help(&app_, "classic", CLI::AppFormatMode::Normal); }

  // The deepest sub-command on the command line (the program itself when
  // there is none).
  CLI::App* selected() {
    CLI::App* sub = &app_;
    while (!sub->get_subcommands().empty()) sub = sub->get_subcommands().front();
    return sub;
  }

  // The usage line of a sub-command and where to read more.
  std::string usage_of(CLI::App* sub) {
    std::string name;
    for (CLI::App* a = sub; a && a != &app_; a = a->get_parent()) {
      name = a->get_name() + (name.empty() ? "" : " " + name);
    }
    CLI::Formatter formatter;
    return formatter.make_usage(sub, "classic " + name) + "Run 'classic " + name +
           " --help' for the details.\n";
  }

  CLI::App* command(CLI::App* parent, const char* name, const char* text, const char* example,
                    Command fn) {
    CLI::App* sub = parent->add_subcommand(name, text);
    sub->footer(std::string("Example:\n  ") + example);
    if (parent == &app_) top_.push_back(sub);
    if (fn) commands_[sub] = fn;
    return sub;
  }

  void area(CLI::App* sub) {
    sub->add_option("area", args_.area, "area name, or a full area path")->required();
    sub->add_option("-d,--drive", args_.drive, "drive of an area name (default C:)");
  }

  void type(CLI::App* sub) {
    sub->add_option("type", args_.type, "item type (piece, model, lyrl, ...)")->required();
  }

  void name(CLI::App* sub, const char* what = "item name (at most 20 characters)") {
    sub->add_option("name", args_.name, what)->required();
  }

  void json(CLI::App* sub) { sub->add_flag("--json", args_.json, "print JSON for scripts"); }

  // A run over many items stops by itself on a failure that every further
  // item would meet (a full disk, a locked area, a stuck control file);
  // --max-errors stops it after N other failures too.
  void max_errors(CLI::App* sub) {
    sub->add_option("--max-errors", args_.max_errors, "stop after more than N failed items")
        ->check(CLI::NonNegativeNumber);
  }

  void build() {
    CLI::App* s;

    s = command(&app_, "help", "Describe the commands, or one command", "classic help put", nullptr);
    s->add_option("command", help_command_, "the command to describe");
    help_ = s;

    s = command(&app_, "init", "Set up an area: folders, registration, login.ctl, the 26 control files",
                "classic init work", cmd_init);
    area(s);

    s = command(&app_, "areas", "List the areas of a drive", "classic areas -d D:", cmd_areas);
    s->add_option("-d,--drive", args_.drive, "drive (default C:)");
    json(s);

    s = command(&app_, "types", "List the 26 item types with control file and data-file pattern",
                "classic types", cmd_types);
    json(s);

    command(&app_, "devices", "List the storage devices and this workstation's set-up",
            "classic devices", cmd_devices);

    s = command(&app_, "df", "Show the free space of a drive", "classic df D:\\", cmd_df);
    s->add_option("path", args_.value, "a path on the drive (default C:\\)");

    s = command(&app_, "ls", "List the items of a type, in store order", "classic ls work piece 'F*' -l",
                cmd_ls);
    area(s);
    type(s);
    s->add_option("pattern", args_.pattern, "name pattern: * any run, ? one character (default *)");
    s->add_flag("-l,--long", args_.longform, "size, times, modifier, attribute and open state");
    json(s);

    s = command(&app_, "info", "Show one item's entry in full", "classic info work piece FRONT", cmd_info);
    area(s);
    type(s);
    name(s);
    json(s);

    s = command(&app_, "stat", "Show a control file's trailer: counts, data file, lock and holder",
                "classic stat work piece", cmd_stat);
    area(s);
    type(s);
    json(s);

    s = command(&app_, "put", "Store a file (or standard input) as an item",
                "classic put work piece FRONT front.pce --replace", cmd_put);
    area(s);
    type(s);
    name(s);
    s->add_option("file", args_.file, "file to read; - or nothing for standard input");
    s->add_flag("-r,--replace", args_.replace, "store a new version of an existing item");

    s = command(&app_, "get", "Write an item's bytes to a file (or standard output)",
                "classic get work piece FRONT front.pce", cmd_get);
    area(s);
    type(s);
    name(s);
    s->add_option("file", args_.file, "file to write; - or nothing for standard output");

    s = command(&app_, "rm", "Delete an item (undelete brings it back)", "classic rm work piece FRONT",
                cmd_rm);
    area(s);
    type(s);
    name(s);

    s = command(&app_, "undelete", "Bring back the latest deleted version of an item",
                "classic undelete work piece FRONT", cmd_undelete);
    area(s);
    type(s);
    name(s);

    s = command(&app_, "mv", "Rename an item", "classic mv work piece FRONT BACK", cmd_mv);
    area(s);
    type(s);
    name(s, "current name");
    s->add_option("new", args_.name2, "new name (at most 20 characters)")->required();

    s = command(&app_, "attr", "Set an item's attribute (0 to 65535)", "classic attr work piece FRONT 3",
                cmd_attr);
    area(s);
    type(s);
    name(s);
    s->add_option("value", args_.value, "the attribute, decimal or 0x hexadecimal")->required();

    s = command(&app_, "import", "Store files as items, named after the files without extension",
                "classic import work piece samples/*.pce --replace", cmd_import);
    area(s);
    type(s);
    s->add_option("files", args_.files, "files, or folders whose files are all taken")->required();
    s->add_flag("-r,--replace", args_.replace, "store new versions of existing items");
    max_errors(s);

    s = command(&app_, "export", "Write items to a folder, one file per item (existing files are replaced)",
                "classic export work piece 'F*' out", cmd_export);
    area(s);
    type(s);
    s->add_option("pattern", args_.pattern, "name pattern (default *)");
    s->add_option("folder", args_.file, "folder to write the files to (made when missing)")->required();
    s->positionals_at_end();
    max_errors(s);

    s = command(&app_, "lock", "Lock an area for maintenance", "classic lock work --force", cmd_lock);
    area(s);
    s->add_flag("-f,--force", args_.force, "lock even when workstations are logged in (logs them out)");

    s = command(&app_, "unlock", "Unlock an area", "classic unlock work", cmd_unlock);
    area(s);

    s = command(&app_, "login", "Log this workstation in to an area", "classic login work 1", cmd_login);
    area(s);
    s->add_option("tag", args_.value, "tag of the login (0 to 3 characters)")->required();

    s = command(&app_, "logout", "Log this workstation out of an area", "classic logout work 1", cmd_logout);
    area(s);
    s->add_option("tag", args_.value, "tag of the login (0 to 3 characters)")->required();

    s = command(&app_, "check", "Check a drive's areas, an area or one control file; writes nothing",
                "classic check work piece", cmd_check);
    s->add_option("area", args_.area, "area name, or a full area path (default: every area of the drive)");
    s->add_option("type", args_.type, "item type (default: every type of the area)");
    s->add_option("-d,--drive", args_.drive, "drive (default C:)");
    json(s);

    s = command(&app_, "repair", "Fix what check finds: stale locks at once, entries under an area lock",
                "classic repair work piece --force", cmd_repair);
    s->add_option("area", args_.area, "area name, or a full area path (default: every area of the drive)");
    s->add_option("type", args_.type, "item type (default: every type of the area)");
    s->add_option("-d,--drive", args_.drive, "drive (default C:)");
    s->add_flag("-f,--force", args_.force, "take the area lock even when workstations are logged in (logs them out)");
    s->add_flag("--rebuild", args_.rebuild,
                "make a lost or damaged control file anew from its data files (needs AREA and TYPE)");
    json(s);

    s = command(&app_, "who", "Show logins, control files held, items open and the area lock of an area",
                "classic who work", cmd_who);
    area(s);
    json(s);

    s = command(&app_, "log", "Show the error log, newest record first", "classic log -n 10", cmd_log);
    s->add_option("-n,--count", args_.count, "show at most this many records")
        ->check(CLI::Range(0, std::numeric_limits<int>::max()));
    json(s);

    s = command(&app_, "xlat", "Show where a store path leads after network translation",
                "classic xlat c:\\userroot\\storage\\work\\data\\piece.ctl", cmd_xlat);
    s->add_option("path", args_.value, "store path (drive letter, backslashes)")->required();
    s->add_flag("--native", args_.longform, "show the path on this system");

    CLI::App* net = command(&app_, "net", "Translation entries for network storage",
                            "classic net add work F:\\areas\\work", nullptr);
    net->require_subcommand(1, 1);
    s = command(net, "add", "Add a translation: a name (an area, or with --folder a folder of C:) to a target folder",
                "classic net add work F:\\areas\\work", cmd_net_add);
    s->add_option("key", args_.name, "area or folder name of up to 8 characters, or a whole 9-character key")
        ->required();
    s->add_option("target", args_.value, "the folder it leads to")->required();
    s->add_flag("--folder", args_.folder_key, "the name is a top-level folder of C:, not an area");
    s->add_flag("-r,--replace", args_.replace, "replace an existing translation");
    command(net, "ls", "List the translations", "classic net ls", cmd_net_list);

    s = command(&app_, "user", "Show or set the user id stamped on items (UserId)", "classic user abc",
                cmd_user);
    s->add_option("id", args_.value, "new user id (at most 3 characters)");
  }

  int help(Console& c) {
    if (help_command_.empty()) {
      c.out << full_help();
      return TOOL_OK;
    }
    for (CLI::App* sub : top_) {
      if (sub->get_name() == help_command_) {
        c.out << sub->help("classic");
        return TOOL_OK;
      }
    }
    c.err << "classic: no command '" << help_command_ << "'\n\n" << full_help();
    return TOOL_USAGE;
  }

  CLI::App app_;
  Args args_;
  std::string help_command_;
  CLI::App* help_ = nullptr;
  std::map<CLI::App*, Command> commands_;
  std::vector<CLI::App*> top_;
};

}  // namespace

}  // namespace tool

int classic_tool(int argc, char** argv, std::ostream& out, std::ostream& err, const ToolConsole& console) {
  tool::Console c{out, err, console};
  try {
    tool::Cli cli;
    return cli.run(argc, argv, c);
  } catch (const std::exception& e) {
    err << "classic: " << e.what() << "\n";
  } catch (...) {
    err << "classic: unexpected failure\n";
  }
  return TOOL_FAILED;
}
