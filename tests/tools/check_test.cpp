// check, repair and who as a store keeper runs them: a type stuck by a
// program killed inside its session, an area whose lock workstations hold
// up, and arguments that make no sense.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "support/ctl_files.h"
#include "support/helper.h"
#include "tools/tool_run.h"

namespace {

using json = nlohmann::json;

const std::string kCtl = "C:\\userroot\\storage\\work\\DATA\\piece.ctl";

class ToolCheckTest : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    ASSERT_EQ(run_tool({"init", "work"}).status, 0);
    ASSERT_EQ(run_tool({"put", "work", "piece", "FRONT", "-"}, "front").status, 0);
    ASSERT_EQ(run_tool({"put", "work", "piece", "BACK", "-"}, "back").status, 0);
  }
};

TEST_F(ToolCheckTest, TypeStuckByAKilledProgram) {
  {
    Helper killed("die_in_session", {kCtl});
    ASSERT_TRUE(killed.wait_ready());
    EXPECT_NE(killed.finish(), 0);
  }
  ToolRun r = run_tool({"check"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.out, "warning  " + kCtl + ": carries the session mark of user UNKNOWN on node -, task CLASSIC "
                                                   "(id 66), which no program holds now")) << r.out;
  EXPECT_TRUE(contains(r.out, "checked 1 area, 27 control files, 1 data file, 2 entries: 0 errors, 1 warning\n")) << r.out;
  json found = json::parse(run_tool({"check", "work", "piece", "--json"}).out);
  ASSERT_EQ(found["findings"].size(), 1u);
  EXPECT_EQ(found["findings"][0]["code"], "trailer.session-lock");
  EXPECT_EQ(found["findings"][0]["fix"], "online");
  EXPECT_EQ(found["findings"][0]["holder"]["task_name"], "CLASSIC");
  EXPECT_EQ(found["clean"], false);
  EXPECT_TRUE(contains(run_tool({"who", "work"}).out, kCtl + "  session mark of user UNKNOWN on node -, task CLASSIC (id 66)"));
  json who = json::parse(run_tool({"who", "work", "--json"}).out);
  ASSERT_EQ(who["held"].size(), 1u);
  EXPECT_EQ(who["held"][0]["live"], false);
  EXPECT_EQ(who["held"][0]["holder"]["task_id"], 66);

  r = run_tool({"repair", "work"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "repaired  " + kCtl + ": cleared the session mark of user UNKNOWN on node -, task CLASSIC (id 66), "
                   "which no program held\n1 change made (each one in the error log); a check after it finds the store "
                   "clean\n");
  EXPECT_EQ(run_tool({"repair", "work"}).out, "nothing to repair\n");
  r = run_tool({"check"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(contains(r.out, ": clean\n")) << r.out;
  EXPECT_EQ(json::parse(run_tool({"log", "-n", "1", "--json"}).out)[0]["code"], 54060);
  testenv::pauses.clear();
  EXPECT_EQ(run_tool({"get", "work", "piece", "FRONT"}).out, "front");
  EXPECT_TRUE(testenv::pauses.empty());
}

TEST_F(ToolCheckTest, LoggedInWorkstationsHoldTheAreaUnlessForced) {
  ASSERT_EQ(run_tool({"login", "work", "1"}).status, 0);
  std::vector<CtlEntry> entries = read_entries(kCtl);
  entries[1].open_state = -1;  // FRONT, left open for writing
  CtlTrailer trailer = read_trailer(kCtl);
  trailer.open_count = 1;
  write_control_file(kCtl, entries, trailer);
  ToolRun who = run_tool({"who", "work"});
  EXPECT_TRUE(contains(who.out, "logins        1 counted, 1 login file\n")) << who.out;
  EXPECT_TRUE(contains(who.out, "  piece FRONT  writer since 2023-11-14 22:13:20 (last written by abc)\n")) << who.out;

  ToolRun r = run_tool({"repair", "work"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "1 login is counted")) << r.err;
  EXPECT_TRUE(contains(r.out, "a check after the repair still finds:\n")) << r.out;
  r = run_tool({"repair", "work", "--force"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "took the area lock over 1 login (login files removed: log----.1)")) << r.out;
  EXPECT_TRUE(contains(r.out, "FRONT: is open for writing since 2023-11-14 22:13:20 by user abc; sets it closed")) << r.out;
  EXPECT_TRUE(contains(r.out, "gave the area lock back")) << r.out;
  EXPECT_EQ(run_tool({"put", "work", "piece", "FRONT", "-", "--replace"}, "new front").status, 0);
}

TEST_F(ToolCheckTest, WrongArgumentsAndMissingAreas) {
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* says;
  };
  const Case cases[] = {
      {{"check", "work", "pieces"}, 2, "unknown item type 'pieces'"},
      {{"check", "-d", "1"}, 2, "is not a drive"},
      {{"repair", "--rebuild"}, 2, "--rebuild rebuilds the control file of one type"},
      {{"repair", "work", "--rebuild"}, 2, "give AREA and TYPE"},
      {{"who"}, 2, "Usage: classic who"},
      {{"check", "nowhere"}, 1, "check C:\\userroot\\storage\\nowhere: no such area"},
      {{"who", "nowhere"}, 1, "no such area"},
  };
  for (const Case& c : cases) {
    ToolRun r = run_tool(c.args);
    EXPECT_EQ(r.status, c.status) << c.args[0];
    EXPECT_TRUE(contains(r.err, c.says)) << r.err;
  }
  std::string help = run_tool({"help"}).out;
  for (const char* command : {"check", "repair", "who"}) EXPECT_TRUE(contains(help, command)) << command;
  EXPECT_TRUE(contains(run_tool({"help", "repair"}).out, "Example:\n  classic repair work piece --force"));
}

}  // namespace
