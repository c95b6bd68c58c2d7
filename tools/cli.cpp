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
#include <cctype>

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
#ifndef CLASSIC_COMMIT
#define CLASSIC_COMMIT "unknown"
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
    "'classic help COMMAND' or 'classic COMMAND --help' describes each command.\n"
    "\n"
    "Environment:\n"
    "  CLASSIC_ROOT      the folder of the drive folders and the registry (Linux;\n"
    "                    default $XDG_DATA_HOME/classic, else ~/.local/share/classic)\n"
    "  CLASSIC_DRIVE_X   the folder of drive X:, for example a network mount (Linux)\n"
    "  CLASSIC_CODEPAGE  the code page of the store's names (Linux; default 1252;\n"
    "                    932, 936, 949, 950 double-byte)\n"
    "  QUEUE             node name and network set-up (SERV,d:name or PEER,name)\n"
    "  NORECOVER         do not repair damaged trailers\n"
    "  ZELTORA           do not write a trailer that looks damaged\n"
    "  'classic env' shows what they give here.\n"
    "\n"
    "Names are shown and taken as UTF-8 (JSON too); a byte of the code page that\n"
    "has no Unicode form is the character U+F700 + byte, and is taken back as such.";

class Cli {
 public:
  Cli() : app_(kOverview, "classic") {
    app_.footer(kFooter);
    app_.require_subcommand(1, 1);
    // A path such as /data/front.pce is a file on every system, never an
    // option written the Windows way.
    app_.allow_windows_style_options(false);
    app_.set_version_flag("--version", [] {
      return "classic " CLASSIC_VERSION " (commit " CLASSIC_COMMIT ", " CLASSIC_BUILD_TYPE " build, code page " +
             std::to_string(admin_codepage()) + ")";
    });
    app_.add_flag("-q,--quiet", args_.quiet, "no progress and no line per item");
    app_.add_flag("-v,--verbose", args_.verbose, "every wait, and the native paths of what is worked on");
    build();
  }

  int run(int argc, char** argv, Console& c) {
    if (argc < 2) {
      c.err << full_help();
      return TOOL_USAGE;
    }
    for (int i = 1; i < argc; ++i) c.json = c.json || std::string(argv[i]) == "--json";
    std::string first = argv[1];
    if (first[0] != '-' && std::none_of(top_.begin(), top_.end(),
                                        [&](CLI::App* sub) { return sub->get_name() == first; })) {
      return usage(c, "no command '" + first + "' ('classic help' lists them)");
    }
    CLI::App* where = &app_;
    std::string wrong = unknown_word(argc, argv, &where);
    if (!wrong.empty()) {
      usage(c, wrong);
      c.err << (where == &app_ ? "\n" + full_help() : usage_of(where));
      return TOOL_USAGE;
    }
    try {
      app_.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
      if (e.get_exit_code() == 0) return app_.exit(e, c.out, c.err);
      usage(c, e.what());
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
    c.verbosity = args_.quiet ? -1 : args_.verbose ? 1 : 0;
    if (!export_words_.empty()) {
      args_.file = export_words_.back();
      if (export_words_.size() == 2) args_.pattern = export_words_.front();
    }
    // Names, patterns and areas reach the store as bytes of its code page.
    for (std::string* text : {&args_.name, &args_.name2, &args_.pattern, &args_.area, &args_.area2}) {
      std::string why;
      if (!store_text(*text, text, &why)) {
        usage(c, why);
        c.err << usage_of(sub);
        return TOOL_USAGE;
      }
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
  // An option or sub-command that the command line names and no command
  // has: "unknown option --bogus for ls", "unknown command 'rm' for net".
  std::string unknown_word(int argc, char** argv, CLI::App** where) {
    CLI::App*& sub = *where;
    std::string path;
    int i = 1;
    auto all = [](CLI::App*) { return true; };
    while (!sub->get_subcommands(all).empty()) {
      while (i < argc && argv[i][0] == '-') ++i;
      if (i >= argc) return std::string();
      std::string word = argv[i++];
      CLI::App* next = nullptr;
      for (CLI::App* child : sub->get_subcommands(all)) {
        if (child->get_name() == word) next = child;
      }
      if (!next) return "unknown command '" + word + "' for " + path + " ('classic " + path + " --help' lists them)";
      sub = next;
      path += (path.empty() ? "" : " ") + word;
    }
    for (int k = 1; k < argc; ++k) {
      std::string word = argv[k];
      if (word == "--") break;
      if (word.size() < 2 || word[0] != '-' || std::isdigit(static_cast<unsigned char>(word[1]))) continue;
      std::string name = word[1] == '-' ? word.substr(0, word.find('=')) : word.substr(0, 2);
      const CLI::Option* opt = nullptr;
      for (CLI::App* a = sub; a && !opt; a = a->get_parent()) opt = a->get_option_no_throw(name);
      if (!opt) return "unknown option " + name + " for " + path + " ('classic " + path + " --help' lists them)";
      bool inline_value = word.find('=') != std::string::npos || (word[1] != '-' && word.size() > 2);
      if (opt->get_type_size_max() > 0 && !inline_value) ++k;  // its value
    }
    return std::string();
  }

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
    sub->fallthrough();  // -q and -v after the command too
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

  void json(CLI::App* sub) { sub->add_flag("--json", args_.json, "print JSON for scripts (failures too, on standard error)"); }

  void translation_key(CLI::App* sub) {
    sub->add_option("key", args_.name, "area or folder name of up to 8 characters, or a whole 9-character key")
        ->required();
    sub->add_flag("--folder", args_.folder_key, "the name is a top-level folder of C:, not an area");
  }

  void yes(CLI::App* sub, const char* what) { sub->add_flag("-y,--yes", args_.yes, what); }

  void dry_run(CLI::App* sub) { sub->add_flag("--dry-run", args_.dry_run, "say what would be done, change nothing"); }

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

    s = command(&app_, "devices", "List the storage devices and this workstation's set-up",
                "classic devices", cmd_devices);
    json(s);

    s = command(&app_, "df", "Show the free space of a drive", "classic df D:\\", cmd_df);
    s->add_option("path", args_.value, "a path on the drive (default C:\\)");
    json(s);

    s = command(&app_, "env", "Show the store root, drives, registry, log, node, network drive and code page, "
                "each with where it came from", "classic env", cmd_env);
    json(s);

    s = command(&app_, "stats", "Count live and deleted items, bytes and data files per area and type",
                "classic stats work", cmd_stats);
    s->add_option("area", args_.area, "area name, or a full area path (default: every area of the drive)");
    s->add_option("type", args_.type, "item type (default: every type)");
    s->add_option("-d,--drive", args_.drive, "drive (default C:)");
    json(s);

    s = command(&app_, "ls", "List the items of a type, in store order", "classic ls work piece 'F*' -l",
                cmd_ls);
    area(s);
    type(s);
    s->add_option("pattern", args_.pattern, "name pattern: * any run, ? one character (default *)");
    s->add_flag("-l,--long", args_.longform, "size, times, modifier, attribute and open state");
    s->add_flag("--deleted", args_.deleted, "the deleted versions instead, each with its version number");
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

    s = command(&app_, "rm", "Delete an item, or the items a pattern matches (undelete brings each back)",
                "classic rm work piece 'OLD*' --yes", cmd_rm);
    area(s);
    type(s);
    name(s, "item name, or a pattern with * and ?");
    yes(s, "delete what a pattern matches without asking");
    dry_run(s);
    json(s);

    s = command(&app_, "undelete", "Bring back a deleted version of an item (the latest, or --version N)",
                "classic undelete work piece FRONT --version 2", cmd_undelete);
    area(s);
    type(s);
    name(s);
    s->add_option("--version", args_.version, "which deleted version: 1 the latest ('ls --deleted' numbers them)")
        ->check(CLI::PositiveNumber);

    s = command(&app_, "purge", "Drop deleted versions for good, under an area lock",
                "classic purge work piece --yes", cmd_purge);
    area(s);
    s->add_option("type", args_.type, "item type (default: every type)");
    s->add_option("pattern", args_.pattern, "name pattern (default *)");
    s->add_flag("-f,--force", args_.force, "take the area lock even when workstations are logged in (logs them out)");
    yes(s, "purge without asking");
    dry_run(s);
    json(s);

    s = command(&app_, "cp", "Copy an item to another area, with its stamps and attribute",
                "classic cp work piece FRONT archive", cmd_cp);
    area(s);
    type(s);
    name(s);
    s->add_option("target", args_.area2, "the area to copy to (name or full path)")->required();
    s->add_flag("-r,--replace", args_.replace, "store a new version of an item there");

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
    s->add_flag("--skip-existing", args_.skip_existing, "leave items that exist alone");
    s->add_flag("--update", args_.update,
                "a new version only where the size differs or the file is newer than the item");
    dry_run(s);
    max_errors(s);
    json(s);

    s = command(&app_, "export", "Write items to a folder, one file per item (existing files are replaced)",
                "classic export work piece 'F*' out", cmd_export);
    area(s);
    type(s);
    // [PATTERN] FOLDER: one word is the folder.
    s->add_option("pattern-and-folder", export_words_,
                  "name pattern (default *), then the folder to write the files to (made when missing)")
        ->required()
        ->expected(1, 2);
    dry_run(s);
    max_errors(s);
    json(s);

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
    s->add_flag("-f,--follow", args_.follow, "then show new records as they come, until Ctrl-C");
    s->add_option("--code", args_.code, "only records of this code")->check(CLI::Range(0, 65535));
    s->add_option("--class", args_.log_class, "only records of this class (EXECUTION, FATAL, ... or 0 to 5)");
    s->add_option("--since", args_.since, "only records from this local time on (YYYY-MM-DD[ HH:MM[:SS]])");
    s->add_option("--until", args_.until, "only records before this local time");
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
    translation_key(s);
    s->add_option("target", args_.value, "the folder it leads to")->required();
    s->add_flag("-r,--replace", args_.replace, "replace an existing translation");
    s = command(net, "ls", "List the translations", "classic net ls", cmd_net_list);
    json(s);
    s = command(net, "rm", "Remove a translation", "classic net rm work", cmd_net_remove);
    translation_key(s);

    CLI::App* areas = command(&app_, "area", "Remove or move a whole area",
                              "classic area mv work D:\\userroot\\storage\\work", nullptr);
    areas->require_subcommand(1, 1);
    s = command(areas, "rm", "Remove an area: its registration, its files and folders (items are lost)",
                "classic area rm old --yes", cmd_area_remove);
    area(s);
    yes(s, "remove without asking");
    s = command(areas, "mv", "Move an area's folder elsewhere, with its registration",
                "classic area mv work D:\\userroot\\storage\\work", cmd_area_move);
    area(s);
    s->add_option("target", args_.area2, "the new area path (X:\\...), or a new name on the same drive")->required();

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
  std::vector<std::string> export_words_;
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
