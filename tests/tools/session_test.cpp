// The session of tools/demo.sh, run in-process: what each command prints
// and its exit status.
#include <gtest/gtest.h>

#include <string>

#include "tools/tool_run.h"

namespace {

const std::string kSamples = "d:\\samples\\";
const std::string kArea = "C:\\userroot\\storage\\work";

// A piece file of the session: a few lines of outline points.
std::string sample(const std::string& piece, int n) {
  std::string text = "PIECE " + piece + "\n";
  for (int i = 0; i < n * 40; ++i) {
    text += "POINT " + std::to_string(i) + " " + std::to_string(i * n % 97) + " " +
            std::to_string(i * 7 % 53) + "\n";
  }
  return text;
}

// "FRONT" and its size as ls -l shows them, times at kToolTime.
std::string long_row(const std::string& name, size_t size) {
  char row[160];
  std::snprintf(row, sizeof row, "%-21s%10zu  %-20s%-20s%-4s%6d  %s\n", name.c_str(), size,
                "2023-11-14 22:13:20", "2023-11-14 22:13:20", "abc", 0, "closed");
  return row;
}

class ToolSessionTest : public ToolTest {};

TEST_F(ToolSessionTest, TheDemoSession) {
  const char* pieces[] = {"front", "back", "sleeve", "collar", "cuff"};
  std::string bytes[5];
  std::vector<std::string> import = {"import", "work", "piece"};
  for (int i = 0; i < 5; ++i) {
    bytes[i] = sample(pieces[i], i + 1);
    testenv::write_file(kSamples + pieces[i] + ".pce", bytes[i]);
    import.push_back(kSamples + pieces[i] + ".pce");
  }

  ToolRun r = run_tool({"init", "work"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "init " + kArea + "\n"
                   "  folders made        13\n"
                   "  registry            Software\\Halvorn\\Quillmere\\C:\\work, Version 4\n"
                   "  login.ctl           made\n"
                   "  control files made  26 (19 in DATA, 7 in PARAM)\n");
  r = run_tool({"init", "work"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "area " + kArea + " is already set up: nothing changed\n");

  r = run_tool(import);
  ASSERT_EQ(r.status, 0) << r.err;
  size_t total = 0;
  std::string expected;
  for (int i = 0; i < 5; ++i) {
    expected += "imported " + std::string(pieces[i]) + " (" + std::to_string(bytes[i].size()) + " bytes)\n";
    total += bytes[i].size();
  }
  EXPECT_EQ(r.out, expected + "imported 5 of 5 files into piece in " + kArea + " (8.8 KiB)\n");
  EXPECT_EQ(total, 8999u);
  EXPECT_EQ(r.err, "");

  r = run_tool({"ls", "work", "piece", "-l"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "NAME                       SIZE  CREATED             MODIFIED            BY    ATTR  OPEN\n" +
                long_row("BACK", bytes[1].size()) + long_row("COLLAR", bytes[3].size()) +
                long_row("CUFF", bytes[4].size()) + long_row("FRONT", bytes[0].size()) +
                long_row("SLEEVE", bytes[2].size()) + "5 items\n");

  r = run_tool({"get", "work", "piece", "FRONT", "d:\\front-copy.pce"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "got FRONT (583 bytes into d:\\front-copy.pce)\n");
  EXPECT_EQ(testenv::read_file("d:\\front-copy.pce"), bytes[0]);

  r = run_tool({"put", "work", "piece", "FRONT", "-"}, "PIECE front, second version\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "classic: put piece FRONT in " + kArea + ": name already in use (status 1006)\n");
  r = run_tool({"put", "work", "piece", "FRONT", "--replace"}, "PIECE front, second version\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "put FRONT (28 bytes from standard input)\n");
  EXPECT_EQ(run_tool({"get", "work", "piece", "FRONT"}).out, "PIECE front, second version\n");

  EXPECT_EQ(run_tool({"mv", "work", "piece", "CUFF", "WRISTBAND"}).out, "renamed CUFF to WRISTBAND\n");
  EXPECT_EQ(run_tool({"rm", "work", "piece", "COLLAR"}).status, 0);
  EXPECT_EQ(run_tool({"ls", "work", "piece"}).out, "BACK\nFRONT\nSLEEVE\nWRISTBAND\n");
  EXPECT_EQ(run_tool({"undelete", "work", "piece", "COLLAR"}).out, "undeleted COLLAR\n");
  r = run_tool({"info", "work", "piece", "COLLAR"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("size           2415 bytes\n"
                       "created        2023-11-14 22:13:20  by abc  task 66 CLASSIC\n"),
            std::string::npos)
      << r.out;

  EXPECT_EQ(run_tool({"lock", "work"}).out, "locked " + kArea + "\n");
  r = run_tool({"put", "work", "piece", "YOKE", "-"}, "x");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "classic: put piece YOKE in " + kArea + ": area locked (status 1018)\n");
  r = run_tool({"stat", "work", "piece"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("lock           area lock\n"), std::string::npos) << r.out;
  EXPECT_EQ(run_tool({"unlock", "work"}).out, "unlocked " + kArea + "\n");

  r = run_tool({"stat", "work", "piece"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "control file   " + kArea + "\\DATA\\piece.ctl\n"
                   "version        4\n"
                   "items          5 live, 1 deleted (6 entries)\n"
                   "open items     0\n"
                   "filling        pieceaaa.pce, next slot 6\n"
                   "lock           free\n");
  r = run_tool({"log"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "the error log holds no records\n");
}

}  // namespace
