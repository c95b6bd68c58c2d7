// What the commands that show a store print: the error log, a trailer's holder,
// the JSON forms, translation entries, areas and the user id.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstring>
#include <string>

#include "base/text.h"
#include "errlog/errlog.h"
#include "errlog/log_format.h"
#include "support/ctl_files.h"
#include "tools/tool_run.h"

namespace {

using nlohmann::json;

// 2009-03-03 21:05:09 UTC.
constexpr uint32_t kMarch3 = 1236114309;

class ToolShowTest : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    ASSERT_EQ(run_tool({"init", "work"}).status, 0);
  }
};

TEST_F(ToolShowTest, LogNewestFirstAsTheLogShowsIt) {
  testenv::fixed_time = kMarch3;
  log_error(LOG_CLASS_EXECUTION, 54018, MSG_LOCK_TIMEOUT, 0);
  testenv::fixed_time = kMarch3 + 3600;
  log_error(LOG_CLASS_EXECUTION, 54052, "first\nsecond", 0);
  std::string before = testenv::read_file(LOG_PATH);

  ToolRun r = run_tool({"log"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "> DATE: 09-03-03    TIME: 10:05:09P    CODE: 54052    CLASS: EXECUTION\n"
            "  first\n"
            "  second\n"
            "> DATE: 09-03-03    TIME: 09:05:09P    CODE: 54018    CLASS: EXECUTION\n"
            "  Lock_open:  Time out  or  permission denied\n");
  EXPECT_EQ(run_tool({"log", "-n", "1"}).out,
            "> DATE: 09-03-03    TIME: 10:05:09P    CODE: 54052    CLASS: EXECUTION\n"
            "  first\n"
            "  second\n");
  json j = json::parse(run_tool({"log", "--json"}).out);
  ASSERT_EQ(j.size(), 2u);
  EXPECT_EQ(j[0]["code"], 54052);
  EXPECT_EQ(j[0]["lines"], json({"first", "second"}));
  EXPECT_EQ(j[0]["time"], kMarch3 + 3600);
  EXPECT_EQ(j[1]["class_name"], "EXECUTION");
  EXPECT_EQ(j[1]["task_id"], 66);
  // Reading leaves the log as it was.
  EXPECT_EQ(testenv::read_file(LOG_PATH), before);
}

TEST_F(ToolShowTest, LogRingThatWrapped) {
  // Slots 998, 999 and 0 hold records, oldest first.
  std::string bytes(static_cast<size_t>(log_slot_offset(LOG_SLOTS)), '\0');
  LOG_HEADER h = {998, 998, 1};
  std::memcpy(&bytes[0], &h, sizeof h);
  int code = 100;
  for (int slot : {998, 999, 0}) {
    LOG_RECORD rec;
    std::memset(&rec, 0, sizeof rec);
    rec.time = static_cast<int32_t>(kMarch3);
    rec.error_class = 3;
    rec.line_count = 1;
    rec.code = static_cast<uint16_t>(code++);
    std::snprintf(rec.lines[0], LOG_LINE_SIZE, "slot %d", slot);
    std::memcpy(&bytes[static_cast<size_t>(log_slot_offset(slot))], &rec, sizeof rec);
  }
  testenv::write_file(LOG_PATH, bytes);
  json j = json::parse(run_tool({"log", "--json"}).out);
  ASSERT_EQ(j.size(), 3u);
  EXPECT_EQ(j[0]["lines"][0], "slot 0");
  EXPECT_EQ(j[1]["lines"][0], "slot 999");
  EXPECT_EQ(j[2]["lines"][0], "slot 998");
  EXPECT_EQ(j[2]["code"], 100);
}

TEST_F(ToolShowTest, StatNamesTheHolderFromTheTrailer) {
  const std::string ctl = "c:\\userroot\\storage\\work\\DATA\\piece.ctl";
  CtlTrailer t = make_trailer(1);  // two live entries and a deleted one
  t.lock_state = LOCK_SESSION;
  t.lock_marker = 1;
  put_field(t.node, sizeof t.node, "NODE");
  put_field(t.task_name, sizeof t.task_name, "DESIGNER");
  t.task_id = 0;
  write_control_file(ctl, {make_entry("A"), make_entry("B"), make_entry("C", true)}, t);
  ToolRun r = run_tool({"stat", "work", "piece"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "items          1 live, 1 deleted (3 entries); the trailer's count differs\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "lock           held by a session: node NODE, task DESIGNER (id 0)\n")) << r.out;
  json j = json::parse(run_tool({"stat", "work", "piece", "--json"}).out);
  EXPECT_EQ(j["lock_state"], 12);
  EXPECT_EQ(j["holder"]["node"], "NODE");
  EXPECT_EQ(j["holder"]["task_name"], "DESIGNER");
  EXPECT_EQ(j["items"], 1);
  EXPECT_EQ(j["deleted"], 1);
  EXPECT_EQ(j["counts_agree"], false);
  // Nothing was written: the holder is still there.
  EXPECT_EQ(std::memcmp(read_trailer(ctl).node, "NODE", 5), 0);
}

TEST_F(ToolShowTest, JsonOfItemsAndAreas) {
  ToolRun put = run_tool({"put", "work", "lyrl", "RULE_1", "-"}, "rule");
  ASSERT_EQ(put.status, 0) << put.err;
  ASSERT_EQ(run_tool({"put", "work", "cutpt", "CUTS", "-"}, "cut parameters").status, 0);
  ASSERT_EQ(run_tool({"attr", "work", "lyrl", "RULE_1", "0x1F"}).status, 0);
  ToolRun listed = run_tool({"ls", "work", "lyrl", "--json"});
  ASSERT_EQ(listed.status, 0) << listed.err;
  json items = json::parse(listed.out);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0]["name"], "RULE_1");
  EXPECT_EQ(items[0]["size"], 4);
  EXPECT_EQ(items[0]["attribute"], 31);
  EXPECT_EQ(items[0]["modifier"], "abc");
  EXPECT_EQ(items[0]["created"], kToolTime);
  ToolRun shown = run_tool({"info", "work", "cutpt", "cuts", "--json"});
  ASSERT_EQ(shown.status, 0) << shown.err;
  json info = json::parse(shown.out);
  EXPECT_EQ(info["control_file"], "C:\\userroot\\storage\\work\\PARAM\\cutpt.ctl");
  EXPECT_EQ(info["size"], 14);
  EXPECT_EQ(info["open_state"], 0);

  ASSERT_EQ(run_tool({"init", "-d", "d", "spare"}).status, 0);
  json areas = json::parse(run_tool({"areas", "--json"}).out);
  ASSERT_EQ(areas.size(), 1u);
  EXPECT_EQ(areas[0]["name"], "work");
  EXPECT_EQ(areas[0]["version"], 4);
  EXPECT_EQ(areas[0]["folder"], true);
  EXPECT_EQ(run_tool({"areas", "-d", "D:"}).out,
            "AREA        VERSION  FOLDER\nspare       4        D:\\userroot\\storage\\spare\n");
  json types = json::parse(run_tool({"types", "--json"}).out);
  ASSERT_EQ(types.size(), 26u);
  int in_param = 0;
  for (const json& t : types) in_param += t["folder"] == "PARAM";
  EXPECT_EQ(in_param, 7);
}

TEST_F(ToolShowTest, TranslationEntriesLeadWherePathsGo) {
  // A networked workstation: network drive F.
  std::string station(200, ' ');
  station.replace(0, 4, "NODE");
  station[80] = 'F';
  station.replace(160, 2, "ON");
  testenv::write_file("c:\\userroot\\prog\\util\\network.cfg", station);
  reset_library_state();

  ToolRun r = run_tool({"net", "add", "work", "F:\\areas\\work"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "translation 'work    A' -> F:\\areas\\work\n");
  EXPECT_EQ(run_tool({"net", "add", "tools", "G:\\shared\\tools", "--folder"}).status, 0);
  EXPECT_EQ(run_tool({"xlat", "c:\\userroot\\storage\\work\\data\\piece.ctl"}).out, "F:\\areas\\work\\data\\piece.ctl\n");
  EXPECT_EQ(run_tool({"xlat", "c:\\tools\\x.exe"}).out, "G:\\shared\\tools\\x.exe\n");
  r = run_tool({"xlat", "c:\\userroot\\storage\\other\\data"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "(status 1004)")) << r.err;

  r = run_tool({"net", "add", "work", "H:\\elsewhere"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "name already in use (status 1006)")) << r.err;
  EXPECT_EQ(run_tool({"net", "add", "work", "H:\\elsewhere", "--replace"}).status, 0);
  EXPECT_EQ(run_tool({"net", "ls"}).out, "'TOOLS   D' -> G:\\shared\\tools\n'WORK    A' -> H:\\elsewhere\n");
  EXPECT_TRUE(contains(run_tool({"devices"}).out, "node NODE, network drive F:")) ;
}

TEST_F(ToolShowTest, UserIdIsStampedOnItems) {
  EXPECT_EQ(run_tool({"user"}).out, "abc\n");
  ASSERT_EQ(run_tool({"user", "XY"}).status, 0);
  EXPECT_EQ(run_tool({"user"}).out, "XY\n");
  ASSERT_EQ(run_tool({"put", "work", "piece", "FRONT", "-"}, "f").status, 0);
  EXPECT_EQ(json::parse(run_tool({"info", "work", "piece", "FRONT", "--json"}).out)["creator"], "XY");
}

}  // namespace
