// Item types and file naming.
#include "ctl/types.h"

#include <cstdio>
#include <cstring>

#include "base/text.h"
#include "ctl/session.h"
#include "ctl/state.h"
#include "platform/platform.h"
#include "storage/hostinfo.h"
#include "storage/netxlat.h"

const ItemType g_item_types[ITEM_TYPE_COUNT] = {
    {"block.ctl", "block%c%c%c.blk"}, {"lay.ctl", "lay%c%c%c.lay"},
    {"notpt.ctl", "notpt%c%c%c.par"}, {"pplpt.ctl", "pplpt%c%c%c.par"},
    {"pltpt.ctl", "pltpt%c%c%c.par"}, {"annot.ctl", "annot%c%c%c.ann"},
    {"rawpc.ctl", "rawpc%c%c%c.rpc"}, {"match.ctl", "match%c%c%c.mat"},
    {"order.ctl", "order%c%c%c.ord"}, {"mplpt.ctl", "mplpt%c%c%c.par"},
    {"usrpt.ctl", "usrpt%c%c%c.par"}, {"lyrpt.ctl", "lyrpt%c%c%c.par"},
    {"rutab.ctl", "rutab%c%c%c.rtb"}, {"alter.ctl", "alter%c%c%c.alt"},
    {"cutpt.ctl", "cutpt%c%c%c.par"}, {"macro.ctl", "macro%c%c%c.mac"},
    {"model.ctl", "model%c%c%c.mod"}, {"mark.ctl", "mark%c%c%c.mar"},
    {"lyrl.ctl", "lyrl%c%c%c.lru"},   {"piece.ctl", "piece%c%c%c.pce"},
    {"text.ctl", "text%c%c%c.txt"},   {"sizpt.ctl", "sizpt%c%c%c.siz"},
    {"pcels.ctl", "pcels%c%c%c.pls"}, {"plot.ctl", "plot%c%c%c.plo"},
    {"mext.ctl", "mext%c%c%c.mex"},   {"cut.ctl", "cut%c%c%c.cut"},
};

namespace {

struct TaskName {
  int32_t id;
  const char* name;
};

// The programs of the host system by task id.
const TaskName kTaskNames[] = {
    {0, "DESIGNER"},  {1, "GRADER"},    {2, "MARKER"},    {3, "PLOTTER"},
    {4, "CUTTER"},    {5, "DIGITIZER"}, {6, "NESTER"},    {7, "MODELER"},
    {8, "ORDERS"},    {9, "REPORTER"},  {10, "CONVERTER"}, {11, "ANNOTATOR"},
    {64, "MONITOR"},  {65, "SPOOLER"},  {66, "CLASSIC"},  {67, "KORVISK"},
    {68, "BACKUP"},   {69, "SCHEDULER"},
};

}  // namespace

const ItemType* find_item_type(const char* ctl_name) {
  for (const ItemType& t : g_item_types) {
    if (equal_nocase(t.ctl_name, ctl_name)) return &t;
  }
  return nullptr;
}

const char* task_name_of(int32_t id) {
  for (const TaskName& t : kTaskNames) {
    if (t.id == id) return t.name;
  }
  return "UNKNOWN";
}

const TaskIdentity& task_identity() {
  CtlState& st = ctl_state();
  if (!st.task_filled) {
    std::snprintf(st.task.node, sizeof st.task.node, "%s", host_info().node);
    st.task.id = task_id();
    std::snprintf(st.task.name, sizeof st.task.name, "%s", task_name_of(st.task.id));
    st.task_filled = true;
  }
  return st.task;
}

int recover_trailer_suffix(const char* path) {
  const char* base = find_last_char(path, '\\');
  if (!base) base = std::strrchr(path, '/');
  base = base ? base + 1 : path;
  const ItemType* type = find_item_type(base);
  if (!type) return 0;
  long entries = ctl_trailer_offset() / CTL_RECORD_SIZE;
  for (long counter = (entries + SLOTS_PER_DATA_FILE - 1) / SLOTS_PER_DATA_FILE;
       counter < SUFFIX_COUNT; ++counter) {
    char suffix[3];
    suffix_of(static_cast<int>(counter), suffix);
    char data_path[XLAT_PATH_SIZE];
    if (!data_file_path(data_path, path, type->pattern, suffix)) return 0;
    if (plat_access(data_path, 0) == 0) continue;
    std::memcpy(ctl_trailer().suffix, suffix, 3);
    ctl_trailer().next_slot = 0;
    return 1;
  }
  return 0;
}
