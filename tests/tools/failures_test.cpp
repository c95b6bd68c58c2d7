// How every sub-command fails: a missing area, an unknown type, a missing
// item, a locked area, and arguments that make no sense.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/testing/testing.h"
#include "tools/tool_run.h"

namespace {

using Args = std::vector<std::string>;

class ToolFailureTest : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    ASSERT_EQ(run_tool({"init", "work"}).status, 0);
    ASSERT_EQ(run_tool({"put", "work", "piece", "FRONT", "-"}, "front").status, 0);
    testenv::write_file("d:\\in\\back.pce", "back");
  }
};

// Each item command with area and type in front of its own arguments.
const std::vector<Args> kItemCommands = {
    {"ls"},
    {"info", "FRONT"},
    {"stat"},
    {"put", "BACK", "d:\\in\\back.pce"},
    {"get", "FRONT", "d:\\out.pce"},
    {"rm", "FRONT"},
    {"undelete", "FRONT"},
    {"mv", "FRONT", "BACK"},
    {"attr", "FRONT", "7"},
    {"import", "d:\\in\\back.pce"},
    {"export", "d:\\out"},
};

Args with(const Args& command, const std::string& area, const std::string& type) {
  Args args = {command[0], area, type};
  args.insert(args.end(), command.begin() + 1, command.end());
  return args;
}

TEST_F(ToolFailureTest, MissingAreaAndUnknownType) {
  for (const Args& command : kItemCommands) {
    ToolRun r = run_tool(with(command, "nowhere", "piece"));
    EXPECT_EQ(r.status, 1) << command[0];
    EXPECT_EQ(r.err, "classic: " + command[0] +
                         " piece in C:\\userroot\\storage\\nowhere: no such area ('classic init' sets one up)\n");
    r = run_tool(with(command, "work", "pieces"));
    EXPECT_EQ(r.status, 2) << command[0];
    EXPECT_TRUE(contains(r.err, "unknown item type 'pieces'")) << r.err;
    EXPECT_TRUE(contains(r.err, "Usage: classic " + command[0])) << r.err;
  }
  for (std::string command : {"lock", "unlock"}) {
    ToolRun r = run_tool({command, "nowhere"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "no such area")) << r.err;
  }
  for (std::string command : {"login", "logout"}) {
    EXPECT_TRUE(contains(run_tool({command, "-d", "D:", "work", "1"}).err, "D:\\userroot\\storage\\work: no such area"));
  }
  // An area folder without the type's control file.
  testenv::make_dirs("c:\\userroot\\storage\\bare\\data");
  ToolRun r = run_tool({"ls", "bare", "model"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "the area has no model.ctl in DATA or PARAM")) << r.err;
}

TEST_F(ToolFailureTest, MissingItem) {
  for (const Args& command : {Args{"info", "GONE"}, Args{"get", "GONE"}, Args{"rm", "GONE"},
                              Args{"undelete", "GONE"}, Args{"mv", "GONE", "NEW"}, Args{"attr", "GONE", "1"}}) {
    ToolRun r = run_tool(with(command, "work", "piece"));
    EXPECT_EQ(r.status, 1) << command[0];
    EXPECT_TRUE(contains(r.err, ": not found (status 1007)\n")) << r.err;
    EXPECT_TRUE(contains(r.err, command[0] + " piece GONE in C:\\userroot\\storage\\work")) << r.err;
  }
  // The names of existing items are taken too.
  ASSERT_EQ(run_tool({"put", "work", "piece", "BACK", "-"}, "b").status, 0);
  EXPECT_TRUE(contains(run_tool({"mv", "work", "piece", "FRONT", "back"}).err, "name already in use (status 1006)"));
  EXPECT_TRUE(contains(run_tool({"undelete", "work", "piece", "FRONT"}).err, "name already in use (status 1006)"));
}

TEST_F(ToolFailureTest, FilesThatCannotBeReadOrWritten) {
  // Paths beginning with a slash are files, also on Windows.
  ToolRun r = run_tool({"get", "work", "piece", "FRONT", "/no/such/folder/front.pce"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "get piece FRONT in C:\\userroot\\storage\\work: /no/such/folder/front.pce cannot be written"))
      << r.err;
  r = run_tool({"put", "work", "piece", "BACK", "/no/such/back.pce"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "/no/such/back.pce cannot be read")) << r.err;
  r = run_tool({"put", "work", "piece", "BACK", "d:\\in"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "d:\\in is a folder")) << r.err;
  EXPECT_EQ(run_tool({"ls", "work", "piece"}).out, "FRONT\n");
}

// A failure that an OS call explains names the OS's reason and the file.
TEST_F(ToolFailureTest, ReadOnlyStoreSaysWhy) {
  std::string why;
  Args area = {"work"};
  std::string ctl = "c:\\userroot\\storage\\work\\DATA\\piece.ctl";
  std::string reason = "Permission denied";
  if (plat_test_mount_drive('E', 1 << 20, &why)) {
    // A file system of its own, made read-only under the store.
    ASSERT_EQ(run_tool({"init", "-d", "E:", "ro"}).status, 0);
    ASSERT_TRUE(plat_test_drive_read_only('E', &why)) << why;
    area = {"-d", "E:", "ro"};
    ctl = "E:\\userroot\\storage\\ro\\DATA\\piece.ctl";
    reason = "Read-only file system";
  } else if (!plat_test_deny_writes(ctl.c_str())) {
    GTEST_SKIP() << "neither a read-only file system nor a read-only file here: " << why;
  }
  Args put = {"put"};
  put.insert(put.end(), area.begin(), area.end());
  put.insert(put.end(), {"piece", "NEW", "-"});
  ToolRun r = run_tool(put, "new");
  if (r.status == 0) GTEST_SKIP() << "the control file could still be written (file modes do not bind root): " << why;
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, ": control file cannot be opened (status 1015): " + reason + ": " + testenv::native(ctl) + "\n"))
      << r.err;
}

// A full disk is named as such, with the file that could not grow.
TEST_F(ToolFailureTest, FullFileSystemSaysWhy) {
  std::string why;
  if (!plat_test_mount_drive('E', 512 * 1024, &why)) GTEST_SKIP() << why;
  ASSERT_EQ(run_tool({"init", "-d", "E:", "full"}).status, 0);
  {
    std::ofstream filler(testenv::native("E:\\filler"), std::ios::binary);
    std::string block(4096, 'x');
    for (int i = 0; i < 1024 && filler.write(block.data(), static_cast<std::streamsize>(block.size())); ++i) {
    }
  }
  ToolRun r = run_tool({"put", "-d", "E:", "full", "piece", "BIG", "-"}, std::string(8192, 'b'));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "(status 1002): No space left on device: " +
                                  testenv::native("E:\\userroot\\storage\\full\\DATA\\pieceaaa.pce")))
      << r.err;
}

TEST_F(ToolFailureTest, LockedArea) {
  ASSERT_EQ(run_tool({"lock", "work"}).status, 0);
  ToolRun r = run_tool({"lock", "work"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "classic: lock C:\\userroot\\storage\\work: area locked (status 1018)\n");
  for (const Args& command : kItemCommands) {
    if (command[0] == "stat") continue;  // reads the trailer without a session
    r = run_tool(with(command, "work", "piece"));
    EXPECT_EQ(r.status, 1) << command[0];
    EXPECT_TRUE(contains(r.err, "area locked (status 1018)")) << command[0] << ": " << r.err;
  }
  EXPECT_TRUE(contains(run_tool({"login", "work", "1"}).err, "area locked (status 1018)"));
  r = run_tool({"stat", "work", "piece", "--json"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(contains(r.out, "\"lock_state\": 13")) << r.out;

  ASSERT_EQ(run_tool({"unlock", "work"}).status, 0);
  r = run_tool({"unlock", "work"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "area was not locked (status 1022)")) << r.err;
  EXPECT_EQ(run_tool({"get", "work", "piece", "FRONT"}).out, "front");
}

TEST_F(ToolFailureTest, LoginsHoldOffALockUnlessForced) {
  ASSERT_EQ(run_tool({"login", "work", "1"}).status, 0);
  ToolRun r = run_tool({"lock", "work"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "(status 1019)")) << r.err;
  r = run_tool({"lock", "work", "--force"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "locked C:\\userroot\\storage\\work\n");
  EXPECT_TRUE(contains(r.err, "(status 1020)")) << r.err;
  EXPECT_EQ(run_tool({"unlock", "work"}).status, 0);
  EXPECT_EQ(run_tool({"logout", "work", "1"}).status, 0);
}

TEST_F(ToolFailureTest, BadArgumentsGetUsage) {
  const std::vector<Args> bad = {
      {"ls"},
      {"ls", "work"},
      {"put", "work", "piece"},
      {"get", "work", "piece", "A", "b", "c"},
      {"ls", "work", "piece", "--bogus"},
      {"ls", "-d", "12", "work", "piece"},
      {"ls", "wo*k", "piece"},
      {"ls", "", "piece"},
      {"put", "work", "piece", "ABCDEFGHIJKLMNOPQRSTU", "-"},
      {"put", "work", "piece", "  ", "-"},
      {"attr", "work", "piece", "FRONT", "70000"},
      {"attr", "work", "piece", "FRONT", "-1"},
      {"attr", "work", "piece", "FRONT", "seven"},
      {"log", "-n", "-3"},
      {"log", "-n"},
      {"login", "work", "abcd"},
      {"user", "abcd"},
      {"init"},
      {"init", "a.b"},
      {"export", "work", "piece", "a", "b", "c"},
      {"net"},
      {"net", "add", "tenletters", "x"},
      {"net", "add", "work", "with blank"},
      {"xlat"},
      {"help", "nosuch"},
  };
  for (const Args& args : bad) {
    ToolRun r = run_tool(args);
    std::string line;
    for (const std::string& a : args) line += a + " ";
    EXPECT_EQ(r.status, 2) << line << "\n" << r.err;
    EXPECT_TRUE(contains(r.err, "Usage: classic ")) << line << "\n" << r.err;
    EXPECT_EQ(r.out, "") << line;
  }
  ToolRun r = run_tool({});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(contains(r.err, "Subcommands:")) << r.err;
  r = run_tool({"frobnicate"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "classic: no command 'frobnicate' ('classic help' lists them)\n");
  // Nothing was changed by any of them.
  EXPECT_EQ(run_tool({"ls", "work", "piece"}).out, "FRONT\n");
}

TEST_F(ToolFailureTest, HelpForEveryCommand) {
  ToolRun all = run_tool({"help"});
  EXPECT_EQ(all.status, 0);
  for (std::string command : {"init", "areas", "types", "devices", "df", "ls", "info", "stat", "put",
                                     "get", "rm", "undelete", "mv", "attr", "import", "export", "lock",
                                     "unlock", "login", "logout", "log", "xlat", "net", "user"}) {
    EXPECT_TRUE(contains(all.out, "  " + command + " ")) << command;
    ToolRun r = run_tool({command, "--help"});
    EXPECT_EQ(r.status, 0) << command;
    EXPECT_TRUE(contains(r.out, "Example:\n  classic " + command)) << r.out;
    EXPECT_EQ(run_tool({"help", command}).out, r.out) << command;
  }
}

}  // namespace
