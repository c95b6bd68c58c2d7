// The classic command: the scripted session of the demo, its failure paths,
// and a round trip of many files through import and export.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "classic.h"
#include "cli.h"
#include "support/store_test.h"

namespace {

struct Outcome {
  int code;
  std::string out;
  std::string err;
};

Outcome run(std::vector<std::string> args) {
  args.insert(args.begin(), "classic");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  std::ostringstream out, err;
  int code = classic_tool(static_cast<int>(argv.size()), argv.data(), out, err);
  return {code, out.str(), err.str()};
}

class CliTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    testenv::fixed_time = 1700000000;  // 2023-11-14 22:13:20 UTC
  }
  // A file outside the store, by its native path.
  std::string host_file(const std::string& name, const std::string& bytes) {
    std::string path = "c:\\userroot\\temp\\files\\" + name;
    testenv::write_file(path, bytes);
    return testenv::native(path);
  }
};

TEST_F(CliTest, ScriptedSession) {
  Outcome r = run({"init", "work"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "area C:\\userroot\\storage\\work ready: 27 control files made\n");
  EXPECT_EQ(run({"init", "work"}).out, "area C:\\userroot\\storage\\work exists already: nothing changed\n");
  EXPECT_EQ(run({"areas"}).out, "work\n");

  std::string a = host_file("alpha.dat", "alpha bytes");
  std::string b = host_file("beta.dat", "beta");
  r = run({"import", "work", "piece", a, b});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "imported alpha\nimported beta\nimported 2 of 2 files (15 bytes)\n");
  r = run({"ls", "work", "piece", "-l"});
  EXPECT_EQ(r.out,
            "ALPHA                       11  2023-11-14 22:13:20  2023-11-14 22:13:20           0  closed\n"
            "BETA                         4  2023-11-14 22:13:20  2023-11-14 22:13:20           0  closed\n");
  EXPECT_EQ(run({"get", "work", "piece", "alpha", "-"}).out, "alpha bytes");

  std::string c = host_file("gamma.dat", "new alpha");
  EXPECT_EQ(run({"put", "work", "piece", "ALPHA", c, "--replace"}).out, "put ALPHA (9 bytes)\n");
  EXPECT_EQ(run({"mv", "work", "piece", "beta", "delta"}).out, "renamed beta to delta\n");
  EXPECT_EQ(run({"rm", "work", "piece", "delta"}).out, "deleted delta\n");
  EXPECT_EQ(run({"ls", "work", "piece"}).out, "ALPHA\n");
  EXPECT_EQ(run({"undelete", "work", "piece", "delta"}).out, "undeleted delta\n");
  EXPECT_EQ(run({"attr", "work", "piece", "delta", "7"}).out, "attribute of delta is 7\n");
  r = run({"stat", "work", "piece"});
  EXPECT_EQ(r.out,
            "control file: C:\\userroot\\storage\\work\\DATA\\piece.ctl\n"
            "items:        2 (0 open)\n"
            "filling:      data file aaa, next slot 3\n"
            "version:      4\n"
            "lock:         free\n");
  r = run({"ls", "work", "piece", "--json"});
  EXPECT_NE(r.out.find("\"name\": \"DELTA\""), std::string::npos);
  EXPECT_NE(r.out.find("\"attribute\": 7"), std::string::npos);
  EXPECT_EQ(run({"get", "work", "piece", "alpha", "-"}).out, "new alpha");
  EXPECT_EQ(run({"log"}).out, "the error log is empty\n");
}

TEST_F(CliTest, LogShowsRecordsNewestFirst) {
  run({"init", "work"});
  // An opener with a budget of one reports its time-out at once.
  EXPECT_EQ(classic_lock_open_ex("C:\\userroot\\storage\\work\\login.ctl", CLASSIC_O_RDWR, 0x180, 1, 0), nullptr);
  Outcome r = run({"log", "-n", "1"});
  EXPECT_EQ(r.out,
            "> DATE: 23-11-14    TIME: 10:13:20P    CODE: 54018    CLASS: EXECUTION\n"
            "  Lock_open:  Time out  or  permission denied\n");
  r = run({"log", "--json"});
  EXPECT_NE(r.out.find("\"code\": 54018"), std::string::npos);
}

TEST_F(CliTest, FailurePaths) {
  Outcome r = run({"ls", "nowhere", "piece"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "classic: no area C:\\userroot\\storage\\nowhere\n");
  run({"init", "work"});
  r = run({"ls", "work", "widget"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("unknown item type widget"), std::string::npos);
  r = run({"get", "work", "piece", "missing", "-"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "classic: get missing from C:\\userroot\\storage\\work\\DATA\\piece.ctl: not found (status 1007)\n");
  EXPECT_EQ(run({"lock", "work"}).code, 0);
  r = run({"put", "work", "model", "m", host_file("m.dat", "m")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("area is locked (status 1018)"), std::string::npos);
  EXPECT_EQ(run({"lock", "work"}).code, 1);
  EXPECT_EQ(run({"unlock", "work"}).code, 0);
  EXPECT_EQ(run({"unlock", "work"}).code, 1);
  EXPECT_EQ(run({"login", "work", "toolong"}).code, 1);
  EXPECT_EQ(run({"put", "work", "piece", "x", "/no/such/file"}).code, 1);
  // Bad arguments: usage help and status 2, never a crash.
  for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{
           {}, {"frobnicate"}, {"ls"}, {"ls", "work"}, {"attr", "work", "piece", "x", "many"},
           {"attr", "work", "piece", "x", "70000"}, {"log", "-n"}, {"net"}, {"export", "work", "piece"}}) {
    r = run(bad);
    EXPECT_EQ(r.code, 2) << (bad.empty() ? "(none)" : bad[0]);
  }
  r = run({"ls", "--help"});
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("Example: classic ls"), std::string::npos);
}

TEST_F(CliTest, ManyFilesRoundTrip) {
  run({"init", "work"});
  std::vector<std::string> args = {"import", "work", "model"};
  std::vector<std::string> contents;
  for (int i = 0; i < 300; ++i) {
    std::string bytes(static_cast<size_t>(i * 37 % 4000), static_cast<char>('a' + i % 26));
    bytes += std::to_string(i);
    contents.push_back(bytes);
    args.push_back(host_file("m" + std::to_string(i) + ".dat", bytes));
  }
  Outcome r = run(args);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("imported 300 of 300 files"), std::string::npos);
  std::string out_dir = testenv::native("c:\\userroot\\temp\\out");
  std::filesystem::create_directories(out_dir);
  r = run({"export", "work", "model", out_dir});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("exported 300 of 300 items"), std::string::npos);
  for (int i = 0; i < 300; ++i) {
    ASSERT_EQ(testenv::read_file("c:\\userroot\\temp\\out\\M" + std::to_string(i) + ".mod"), contents[i]) << i;
  }
  // A pattern picks a part; a missing folder makes every item fail.
  r = run({"export", "work", "model", "M1?", testenv::native("c:\\userroot\\temp\\none")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("exported 0 of 10 items"), std::string::npos);
}

}  // namespace
