// Moving many items in and out: import and export round trips byte for
// byte, names that no file name can hold, failures on single items, and the
// progress display.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "classic.h"
#include "tools/tool_run.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> files_in(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(testenv::native(folder))) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class ToolTransferTest : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    ASSERT_EQ(run_tool({"init", "work"}).status, 0);
    ASSERT_EQ(run_tool({"init", "copy"}).status, 0);
  }
};

TEST_F(ToolTransferTest, ImportExportRoundTripOfManyItems) {
  std::mt19937 random(20240501);
  std::vector<std::pair<std::string, std::string>> files;  // item name, bytes
  for (int i = 0; i < 300; ++i) {
    size_t size = i % 50 == 0 ? 0 : (i % 37 == 0 ? 150000 + random() % 50000 : random() % 4000 + 1);
    std::string bytes(size, '\0');
    for (char& ch : bytes) ch = static_cast<char>(random());
    char name[32];
    std::snprintf(name, sizeof name, "p-%04d", i);
    testenv::write_file(std::string("d:\\in\\") + name + ".pce", bytes);
    files.emplace_back(name, bytes);
  }
  ToolRun r = run_tool({"import", "work", "piece", "d:\\in"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "imported 300 of 300 files into piece in C:\\userroot\\storage\\work (")) << r.out;

  // Names that no file name can hold come out escaped and go back in whole.
  const std::vector<std::string> odd = {"A/B", "X*Y?", "CON", "END.", "50%", "LT<GT>", "Q\"", "PIPE|",
                                        "C:D", "BACK\\SLASH"};
  for (const std::string& name : odd) {
    ASSERT_EQ(run_tool({"put", "work", "piece", name, "-"}, "odd " + name).status, 0) << name;
  }

  r = run_tool({"export", "work", "piece", "d:\\out"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "exported 310 of 310 items of piece in C:\\userroot\\storage\\work to d:\\out (")) << r.out;
  std::vector<std::string> out = files_in("d:\\out");
  ASSERT_EQ(out.size(), 310u);
  for (const auto& [name, bytes] : files) {
    std::string upper = name;
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    ASSERT_EQ(testenv::read_file("d:\\out\\" + upper + ".pce"), bytes) << name;
  }
  for (const char* escaped : {"A%2FB.pce", "X%2AY%3F.pce", "%43ON.pce", "END%2E.pce", "50%25.pce",
                              "LT%3CGT%3E.pce", "Q%22.pce", "PIPE%7C.pce", "C%3AD.pce", "BACK%5CSLASH.pce"}) {
    EXPECT_TRUE(std::binary_search(out.begin(), out.end(), escaped)) << escaped;
  }

  // The exported files make the same items in another area.
  r = run_tool({"import", "copy", "piece", "d:\\out"});
  ASSERT_EQ(r.status, 0) << r.err;
  ToolRun left = run_tool({"ls", "work", "piece", "-l"});
  ToolRun right = run_tool({"ls", "copy", "piece", "-l"});
  EXPECT_EQ(left.out, right.out);
  for (const std::string& name : odd) {
    EXPECT_EQ(run_tool({"get", "copy", "piece", name}).out, "odd " + name) << name;
  }
  for (size_t i = 0; i < files.size(); i += 7) {
    EXPECT_EQ(run_tool({"get", "copy", "piece", files[i].first}).out, files[i].second) << files[i].first;
  }

  // A pattern picks what goes out.
  r = run_tool({"export", "work", "piece", "P-00*", "d:\\some"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(files_in("d:\\some").size(), 100u);
}

TEST_F(ToolTransferTest, OneFailureDoesNotStopTheOthers) {
  testenv::write_file("d:\\in\\good1.pce", "one");
  testenv::write_file("d:\\in\\name-far-longer-than-twenty.pce", "long");
  testenv::write_file("d:\\in\\good2.pce", "two");
  ASSERT_EQ(run_tool({"put", "work", "piece", "TAKEN", "-"}, "old").status, 0);
  testenv::write_file("d:\\in\\taken.pce", "new");
  ToolRun r = run_tool({"import", "work", "piece", "d:\\in\\good1.pce", "d:\\in\\name-far-longer-than-twenty.pce",
                        "d:\\in\\missing.pce", "d:\\in\\taken.pce", "d:\\in\\good2.pce"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "is longer than 20 characters")) << r.err;
  EXPECT_TRUE(contains(r.err, "missing.pce: cannot be read")) << r.err;
  EXPECT_TRUE(contains(r.err, "import piece taken in C:\\userroot\\storage\\work from")) << r.err;
  EXPECT_TRUE(contains(r.err, "name already in use (status 1006)")) << r.err;
  EXPECT_TRUE(contains(r.out, "imported 2 of 5 files into piece in C:\\userroot\\storage\\work (6 bytes), 3 failed\n"))
      << r.out;
  EXPECT_EQ(run_tool({"ls", "work", "piece"}).out, "GOOD1\nGOOD2\nTAKEN\n");
  EXPECT_EQ(run_tool({"get", "work", "piece", "TAKEN"}).out, "old");

  r = run_tool({"import", "work", "piece", "d:\\in\\taken.pce", "--replace"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(run_tool({"get", "work", "piece", "TAKEN"}).out, "new");

  // An item that a writer holds open cannot be exported; the rest are.
  FILE* held = nullptr;
  ASSERT_EQ(classic_open_item("c:\\userroot\\storage\\work\\DATA\\piece.ctl", "GOOD1", ITEM_WRITE,
                              "piece%c%c%c.pce", &held, nullptr, nullptr),
            CLASSIC_OK);
  r = run_tool({"export", "work", "piece", "d:\\out"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "export piece GOOD1 in C:\\userroot\\storage\\work: item or control file stayed locked"))
      << r.err;
  EXPECT_EQ(files_in("d:\\out"), (std::vector<std::string>{"GOOD2.pce", "TAKEN.pce"}));
  classic_close_item("c:\\userroot\\storage\\work\\DATA\\piece.ctl", "GOOD1", held);
}

TEST_F(ToolTransferTest, ProgressBarOnATerminal) {
  for (int i = 0; i < 4; ++i) testenv::write_file("d:\\in\\f" + std::to_string(i) + ".pce", "x");
  ToolRun r = run_tool({"import", "work", "piece", "d:\\in"}, "", true);
  EXPECT_EQ(r.status, 0);
  // The bar goes to standard error, each drawing narrower than the terminal
  // (80 columns when it does not say); the results to standard output.
  EXPECT_TRUE(contains(r.err, "\r[##############################] 4/4  4 bytes  f3")) << r.err;
  size_t start = 0;
  for (size_t cr = r.err.find('\r'); cr != std::string::npos; cr = r.err.find('\r', cr + 1)) {
    EXPECT_LE(cr - start, 80u);
    start = cr;
  }
  EXPECT_EQ(r.out, "imported 4 of 4 files into piece in C:\\userroot\\storage\\work (4 bytes)\n");
  // -q draws nothing.
  r = run_tool({"import", "work", "piece", "d:\\in", "-q", "--replace"}, "", true);
  EXPECT_EQ(r.err, "");
}

}  // namespace
