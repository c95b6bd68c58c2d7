// The sub-commands of the classic command, each run with its arguments
// already parsed.  Each returns the exit status.
#pragma once

#include <string>
#include <vector>

#include "support.h"

namespace tool {

// Arguments that most sub-commands share.
struct Args {
  std::string drive;   // -d: the drive of an area name
  std::string area;
  std::string type;
  std::string name;    // item name, or the old name of mv
  std::string name2;   // new name of mv
  std::string file;    // file argument ("-" or empty: standard streams)
  std::string pattern = "*";
  std::string value;   // attribute, tag, user id, path, key, target
  std::vector<std::string> files;
  bool json = false;
  bool longform = false;
  bool replace = false;
  bool force = false;
  bool folder_key = false;
  bool rebuild = false;
  int count = -1;      // -n of log: all when negative
  long max_errors = -1;  // --max-errors of import and export: no limit when negative
};

// Setting up and looking after areas (cmd_areas.cpp).
int cmd_init(Console& c, const Args& a);
int cmd_areas(Console& c, const Args& a);
int cmd_types(Console& c, const Args& a);
int cmd_devices(Console& c, const Args& a);
int cmd_df(Console& c, const Args& a);
int cmd_lock(Console& c, const Args& a);
int cmd_unlock(Console& c, const Args& a);
int cmd_login(Console& c, const Args& a);
int cmd_logout(Console& c, const Args& a);
int cmd_xlat(Console& c, const Args& a);
int cmd_net_add(Console& c, const Args& a);
int cmd_net_list(Console& c, const Args& a);
int cmd_user(Console& c, const Args& a);

// Items (cmd_items.cpp).
int cmd_ls(Console& c, const Args& a);
int cmd_info(Console& c, const Args& a);
int cmd_stat(Console& c, const Args& a);
int cmd_put(Console& c, const Args& a);
int cmd_get(Console& c, const Args& a);
int cmd_rm(Console& c, const Args& a);
int cmd_undelete(Console& c, const Args& a);
int cmd_mv(Console& c, const Args& a);
int cmd_attr(Console& c, const Args& a);
int cmd_import(Console& c, const Args& a);
int cmd_export(Console& c, const Args& a);

// The error log (cmd_log.cpp).
int cmd_log(Console& c, const Args& a);

// A damaged or stuck store (cmd_check.cpp).
int cmd_check(Console& c, const Args& a);
int cmd_repair(Console& c, const Args& a);
int cmd_who(Console& c, const Args& a);

}  // namespace tool
