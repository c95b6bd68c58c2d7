// The command in the accidents of a store keeper's day: full disks, writes
// that fail, interrupted runs, stuck control files, names that would lead
// out of the store.  Nothing partial is left under a final name, no failed
// write is reported as done, and a run says what it did not do.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <sstream>
#include <filesystem>
#include <streambuf>
#include <string>
#include <vector>

#include "admin/admin.h"
#include "base/text.h"
#include "classic.h"
#include "classic_tool.h"
#include "platform/platform.h"
#include "platform/testing/testing.h"
#include "support/ctl_files.h"
#include "tools/tool_run.h"

namespace {

namespace fs = std::filesystem;

class ToolAccidentTest : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    ASSERT_EQ(run_tool({"init", "work"}).status, 0);
    for (int i = 0; i < 10; ++i) {
      testenv::write_file("d:\\in\\F" + std::to_string(i) + ".pce", std::string(3000 + i, 'a' + i));
    }
  }
  // The names the store lists.
  std::vector<std::string> listed(const std::vector<std::string>& where = {"work"}) {
    std::vector<std::string> args = {"ls"};
    args.insert(args.end(), where.begin(), where.end());
    args.push_back("piece");
    std::vector<std::string> names;
    std::string out = run_tool(args).out, line;
    for (char ch : out) {
      if (ch != '\n') {
        line += ch;
      } else {
        names.push_back(line);
        line.clear();
      }
    }
    return names;
  }
};

// A full disk: the run stops at the first item that meets it and says what it
// did not do; what it reported done reads back whole, and nothing else is
// live.  Made by a failure injected at a write, so that it runs everywhere.
TEST_F(ToolAccidentTest, ImportStopsWhenTheDiskIsFull) {
  // The disk fills up at the first flush of the fourth item: each import of
  // one item makes as many flushes as the next.
  static long flushes = 0, fail_at = 0;
  plat_hooks hooks{};
  hooks.sleep = [](uint32_t) {};
  hooks.fault = [](const char* call) {
    if (std::string(call) != "flush") return 0;
    return ++flushes == fail_at ? ENOSPC : 0;
  };
  plat_set_hooks(&hooks);
  flushes = 0;
  ASSERT_EQ(run_tool({"import", "work", "piece", "d:\\in\\F9.pce"}).status, 0);
  const long per_item = flushes;
  ASSERT_EQ(run_tool({"rm", "work", "piece", "F9"}).status, 0);
  flushes = 0;
  fail_at = 3 * per_item + 1;
  ToolRun r = run_tool({"import", "work", "piece", "d:\\in"});
  reset_library_state();
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "(status 1002): No space left on device")) << r.err;
  EXPECT_TRUE(contains(r.err, "classic: stopped, since every further item would fail the same way: 3 of 10 "
                              "imported; 6 not tried\n"))
      << r.err;
  EXPECT_EQ(listed(), (std::vector<std::string>{"F0", "F1", "F2"}));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(run_tool({"get", "work", "piece", "F" + std::to_string(i)}).out, std::string(3000 + i, 'a' + i));
  }
}

TEST_F(ToolAccidentTest, ImportStopsInALockedAreaAndAfterMaxErrors) {
  ASSERT_EQ(run_tool({"lock", "work"}).status, 0);
  ToolRun r = run_tool({"import", "work", "piece", "d:\\in"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "0 of 10 imported; 9 not tried")) << r.err;
  ASSERT_EQ(run_tool({"unlock", "work"}).status, 0);
  // Names no item can have fail one by one; --max-errors 2 stops at the third.
  for (int i = 0; i < 5; ++i) testenv::write_file("d:\\bad\\" + std::string(21 + i, 'N') + ".pce", "x");
  r = run_tool({"import", "work", "piece", "d:\\bad", "--max-errors", "2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "stopped after 3 failures (--max-errors 2): 0 of 5 imported; 2 not tried")) << r.err;
  EXPECT_EQ(run_tool({"import", "work", "piece", "d:\\bad", "--max-errors", "-1"}).status, 2);
}

// Ctrl-C in the middle of a run: the item in hand is finished, the run says
// how far it got and ends with 130.
TEST_F(ToolAccidentTest, InterruptedImportFinishesTheItemInHand) {
  admin_catch_interrupts();
  static long calls = 0;
  calls = 0;
  plat_hooks hooks{};
  hooks.sleep = [](uint32_t) {};
  hooks.fault = [](const char*) {
    if (++calls == 30) plat_test_interrupt();  // somewhere in the second item
    return 0;
  };
  plat_set_hooks(&hooks);
  ToolRun r = run_tool({"import", "work", "piece", "d:\\in"});
  reset_library_state();
  EXPECT_EQ(r.status, TOOL_INTERRUPTED);
  // The item in hand when the interrupt came was finished, and no other.
  std::vector<std::string> done = listed();
  ASSERT_FALSE(done.empty());
  EXPECT_LT(done.size(), 10u);
  EXPECT_TRUE(contains(r.err, "classic: interrupted: " + std::to_string(done.size()) + " of 10 imported; " +
                                  std::to_string(10 - done.size()) + " not tried\n"))
      << r.err;
  EXPECT_EQ(read_trailer("c:\\userroot\\storage\\work\\DATA\\piece.ctl").lock_state, LOCK_FREE);
}

// Output that cannot be written is a failure, with the reason.
TEST_F(ToolAccidentTest, FullStandardOutputFails) {
  struct Full : std::streambuf {
    int overflow(int) override { return traits_type::eof(); }
  } full;
  std::ostream out(&full);
  std::ostringstream err;
  std::vector<std::string> words = {"classic", "ls", "work", "piece"};
  ASSERT_EQ(run_tool({"put", "work", "piece", "A", "-"}, "a").status, 0);
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  EXPECT_EQ(classic_tool(static_cast<int>(argv.size()), argv.data(), out, err), TOOL_FAILED);
  EXPECT_TRUE(contains(err.str(), "classic: standard output cannot be written")) << err.str();
}

// get and export write beside the target and take its name only when whole:
// a target that cannot be written keeps what it was, and no partial file is
// left under any name.
TEST_F(ToolAccidentTest, GetAndExportLeaveNoPartialFiles) {
  ASSERT_EQ(run_tool({"put", "work", "piece", "A", "-"}, std::string(5000, 'x')).status, 0);
  testenv::write_file("d:\\out\\A.pce", "old bytes");
  // The target's place holds a folder that cannot be replaced by a file.
  testenv::make_dirs("d:\\out\\held.pce\\inside");
  ToolRun r = run_tool({"get", "work", "piece", "A", "d:\\out\\held.pce"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "d:\\out\\held.pce cannot be put in place")) << r.err;
  EXPECT_EQ(run_tool({"get", "work", "piece", "A", "d:\\out\\A.pce"}).status, 0);
  EXPECT_EQ(testenv::read_file("d:\\out\\A.pce"), std::string(5000, 'x'));
  for (const auto& e : fs::directory_iterator(testenv::native("d:\\out"))) {
    EXPECT_EQ(e.path().string().find(".classic-part"), std::string::npos) << e.path();
  }
  // A real full disk, where the test may make one.
  std::string why;
  if (!plat_test_mount_drive('E', 64 * 1024, &why)) GTEST_SKIP() << why;
  testenv::write_file("E:\\old.pce", "old");
  ASSERT_EQ(run_tool({"put", "work", "piece", "BIG", "-"}, std::string(200 * 1024, 'b')).status, 0);
  r = run_tool({"get", "work", "piece", "BIG", "E:\\old.pce"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "No space left on device")) << r.err;
  EXPECT_EQ(testenv::read_file("E:\\old.pce"), "old");
  r = run_tool({"export", "work", "piece", "E:\\out"});
  EXPECT_EQ(r.status, 1);
  for (const auto& e : fs::recursive_directory_iterator(testenv::native("E:\\"))) {
    if (e.is_regular_file() && e.path().filename() != "old.pce") {
      EXPECT_EQ(e.file_size(), e.path().filename() == "BIG.pce" ? 204800u : 5000u) << e.path();
    }
  }
}

// A control file left marked by a session that is gone: the command says at
// once what it waits for and who holds it.
TEST_F(ToolAccidentTest, WaitsSayWhatTheyWaitFor) {
  const std::string ctl = "C:\\userroot\\storage\\work\\DATA\\piece.ctl";
  CtlTrailer t = read_trailer(ctl);
  t.lock_state = LOCK_SESSION;
  put_field(t.node, sizeof t.node, "WS7");
  put_field(t.task_name, sizeof t.task_name, "DESIGNER");
  t.task_id = 0;
  write_control_file(ctl, {}, t);
  ToolRun r = run_tool({"ls", "work", "piece"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.find("classic: waiting for " + ctl +
                       " (marked as held by a session of an unknown user on node WS7, task DESIGNER (id 0))\n"),
            0u)
      << r.err;
  EXPECT_EQ(r.err.find("classic: waiting for", 1), std::string::npos) << "shown once: " << r.err;
}

// Names that lead out of the store, or hold control characters, are refused
// in one line, and nothing is made.
TEST_F(ToolAccidentTest, NamesThatLeaveTheStoreAreRefused) {
  const std::vector<std::vector<std::string>> refused = {
      {"init", "../evil"}, {"init", "..\\evil"}, {"init", ".."}, {"init", "a/b"},
      {"init", "C:\\userroot\\storage\\..\\evil"}, {"init", "wo\x01rk"}, {"init", "ar*a"},
      {"ls", "work\\..\\..", "piece"}, {"put", "work", "piece", "BAD\x07NAME", "-"},
  };
  for (const auto& args : refused) {
    ToolRun r = run_tool(args);
    EXPECT_EQ(r.status, 2) << args[1];
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n') >= 1 && r.err.rfind("classic: ", 0) == 0, true) << r.err;
  }
  EXPECT_FALSE(testenv::exists("c:\\userroot\\evil"));
  EXPECT_FALSE(testenv::exists("c:\\userroot\\storage\\evil"));
  EXPECT_EQ(listed(), std::vector<std::string>{});
}

}  // namespace
