// A store keeper's day: names in the store's code page shown as UTF-8 and
// taken back, deleted versions listed, brought back and purged, safe bulk
// work (skip, update, dry runs, confirmations), copies with their stamps,
// statistics, the log's filters and --follow, whole areas, JSON everywhere.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "admin/admin.h"
#include "classic_tool.h"
#include "errlog/errlog.h"
#include "platform/platform.h"
#include "platform/testing/testing.h"
#include "tools/tool_run.h"

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

const std::string kCtl = "c:\\userroot\\storage\\work\\DATA\\piece.ctl";

class ToolKeeperTest : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    ASSERT_EQ(run_tool({"init", "work"}).status, 0);
  }
  void put(const std::string& name, const std::string& bytes, bool replace = false) {
    std::vector<std::string> args = {"put", "work", "piece", name, "-"};
    if (replace) args.push_back("-r");
    ToolRun r = run_tool(args, bytes);
    ASSERT_EQ(r.status, 0) << r.err;
  }
  json listed(std::vector<std::string> args) {
    args.push_back("--json");
    ToolRun r = run_tool(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return json::parse(r.out);
  }
};

// Every name comes out as UTF-8 and goes back in as the same bytes, in the
// single-byte and the double-byte code pages.
TEST_F(ToolKeeperTest, NamesRoundTripThroughUtf8) {
  struct Case {
    unsigned codepage;
    std::string bytes;  // the name in the store
    std::string utf8;   // as JSON and text show it
  };
  const std::vector<Case> cases = {
      {1252, "CAF\xC9", "CAF\xC3\x89"},                     // É
      {1252, "\x80UR\x9C", "\xE2\x82\xAC" "UR\xC5\x93"},    // € and œ by the table
      {1252, "X\x81Y", "X\xEF\x9E\x81Y"},                   // undefined: U+F781
      // Both bytes of each double-byte character: U+F783 U+F765 U+F783 U+F758.
      {932, "\x83\x65\x83\x58", "\xEF\x9E\x83\xEF\x9D\xA5\xEF\x9E\x83\xEF\x9D\x98"},
  };
  for (const Case& k : cases) {
    plat_set_codepage(k.codepage);
    // The bytes given as they are (not UTF-8) are taken as the code page's.
    put(k.bytes, "v");
    json j = listed({"ls", "work", "piece"});
    ASSERT_EQ(j.size(), 1u) << k.codepage;
    std::string name = j[0]["name"];
    EXPECT_EQ(name, k.utf8) << k.codepage;
    EXPECT_EQ(run_tool({"ls", "work", "piece"}).out, k.utf8 + "\n");
    CTRL_ENTRY_INFO info;
    ASSERT_EQ(classic_lookup_item(kCtl.c_str(), k.bytes.c_str(), &info), CLASSIC_OK) << k.codepage;
    // The name read from JSON addresses the item again.
    EXPECT_EQ(run_tool({"get", "work", "piece", name}).out, "v");
    ToolRun r = run_tool({"rm", "work", "piece", name});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "deleted " + k.utf8)) << r.out;
    ASSERT_EQ(run_tool({"purge", "work", "--yes"}).status, 0);
  }
  plat_set_codepage(1252);
  // A character the code page cannot hold is refused, nothing stored.
  ToolRun r = run_tool({"put", "work", "piece", "\xCE\xA9MEGA", "-"}, "x");
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(contains(r.err, "which code page 1252 cannot hold")) << r.err;
  // A file name is Unicode: its item gets the code page's bytes, and export
  // gives the same file name back.
  fs::path in = fs::path(testenv::native("d:\\in"));
  fs::create_directories(in);
  { std::ofstream(in / fs::path(u8"\u00FCmlaut.pce")) << "u"; }
  r = run_tool({"import", "work", "piece", "d:\\in"});
  ASSERT_EQ(r.status, 0) << r.err;
  CTRL_ENTRY_INFO info;
  EXPECT_EQ(classic_lookup_item(kCtl.c_str(), "\xFCMLAUT", &info), CLASSIC_OK);
  ASSERT_EQ(run_tool({"export", "work", "piece", "d:\\out"}).status, 0);
  EXPECT_TRUE(fs::exists(fs::path(testenv::native("d:\\out")) / fs::path(u8"\u00FCMLAUT.pce")));
}

TEST_F(ToolKeeperTest, DeletedVersionsListedBroughtBackAndPurged) {
  put("FRONT", "v1");
  put("FRONT", "v2", true);
  put("FRONT", "v3", true);
  put("BACK", "back");
  ASSERT_EQ(run_tool({"rm", "work", "piece", "FRONT"}).status, 0);
  json d = listed({"ls", "work", "piece", "--deleted"});
  ASSERT_EQ(d.size(), 3u);
  EXPECT_EQ(d[0]["deleted_version"], 3);  // the oldest first
  EXPECT_EQ(d[2]["deleted_version"], 1);
  EXPECT_EQ(d[2]["size"], 2);

  // One of several versions, and the refusals.
  ToolRun r = run_tool({"undelete", "work", "piece", "FRONT", "--version", "2"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(run_tool({"get", "work", "piece", "FRONT"}).out, "v2");
  r = run_tool({"undelete", "work", "piece", "FRONT", "--version", "1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "(status 1006)")) << r.err;
  ASSERT_EQ(run_tool({"rm", "work", "piece", "FRONT"}).status, 0);
  r = run_tool({"undelete", "work", "piece", "FRONT", "--version", "4"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "(status 1007)")) << r.err;
  EXPECT_EQ(run_tool({"undelete", "work", "piece", "FRONT", "--version", "0"}).status, 2);

  // Purge: refused without --yes off a terminal, asked on one, logins need
  // --force; a dry run changes nothing.
  EXPECT_EQ(run_tool({"purge", "work", "piece"}).status, 2);
  r = run_tool({"purge", "work", "piece"}, "n\n", true);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "drop 3 deleted versions of C:\\userroot\\storage\\work for good? [y/N]")) << r.err;
  r = run_tool({"purge", "work", "--dry-run", "--json"});
  EXPECT_EQ(json::parse(r.out)["purged"].size(), 3u);
  ASSERT_EQ(run_tool({"login", "work", "1"}).status, 0);
  r = run_tool({"purge", "work", "--yes"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "(status 1019)")) << r.err;
  EXPECT_EQ(listed({"ls", "work", "piece", "--deleted"}).size(), 3u);
  r = run_tool({"purge", "work", "piece", "FR*", "--yes", "--force"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "3 deleted versions dropped from C:\\userroot\\storage\\work\n")) << r.out;
  EXPECT_EQ(listed({"ls", "work", "piece", "--deleted"}).size(), 0u);
  EXPECT_EQ(run_tool({"get", "work", "piece", "BACK"}).out, "back");
  // The dropped versions stay dropped: a check finds nothing, a repair
  // brings nothing back, and the area is unlocked again.
  EXPECT_EQ(run_tool({"check", "work"}).status, 0);
  ASSERT_EQ(run_tool({"repair", "work"}).status, 0);
  EXPECT_EQ(listed({"ls", "work", "piece", "--deleted"}).size(), 0u);
  put("NEW", "n");
  json st = listed({"stats", "work", "piece"});
  ASSERT_EQ(st.size(), 1u);
  EXPECT_EQ(st[0]["live"], 2);
  EXPECT_EQ(st[0]["deleted"], 0);
  EXPECT_EQ(st[0]["live_bytes"], 5);
  EXPECT_EQ(st[0]["data_files"], 1);
  // Header, and the dropped versions' bytes that stay in their data file.
  EXPECT_EQ(st[0]["overhead"], 528 + 6);
}

TEST_F(ToolKeeperTest, SafeBulkWork) {
  // The items are stamped an hour from now, after the files were written.
  testenv::fixed_time = static_cast<uint32_t>(std::time(nullptr)) + 3600;
  put("KEEP", "old");
  put("SAME", "same");
  testenv::write_file("d:\\in\\keep.pce", "new");
  testenv::write_file("d:\\in\\same.pce", "same");
  testenv::write_file("d:\\in\\fresh.pce", "fresh");
  // KEEP's file, of the same size as the item, is newer than the item.
  fs::path keep = testenv::native("d:\\in\\keep.pce");
  fs::last_write_time(keep, fs::last_write_time(keep) + std::chrono::hours(3));

  ToolRun r = run_tool({"import", "work", "piece", "d:\\in", "--dry-run"});
  EXPECT_EQ(r.status, 1);  // keep and same exist, and --replace is not given
  EXPECT_EQ(run_tool({"ls", "work", "piece"}).out, "KEEP\nSAME\n");
  r = run_tool({"import", "work", "piece", "d:\\in", "--skip-existing", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  json j = json::parse(r.out);
  EXPECT_EQ(j["done"], 1);
  EXPECT_EQ(j["skipped"], 2);
  EXPECT_EQ(run_tool({"get", "work", "piece", "KEEP"}).out, "old");
  r = run_tool({"import", "work", "piece", "d:\\in", "--update"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "skipped fresh (unchanged)\nimported keep (3 bytes)\nskipped same (unchanged)\n"
                   "imported 1 of 3 files into piece in C:\\userroot\\storage\\work (3 bytes), 2 skipped\n");
  EXPECT_EQ(run_tool({"get", "work", "piece", "KEEP"}).out, "new");
  EXPECT_EQ(listed({"ls", "work", "piece", "--deleted"}).size(), 1u);  // the old KEEP
  EXPECT_EQ(run_tool({"import", "work", "piece", "d:\\in", "--update", "--replace"}).status, 2);

  // Export and rm with --dry-run change nothing.
  r = run_tool({"export", "work", "piece", "d:\\out", "--dry-run", "--json"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(json::parse(r.out)["done"], 3) << r.out << r.err;
  EXPECT_FALSE(fs::exists(testenv::native("d:\\out")));
  r = run_tool({"rm", "work", "piece", "*E*", "--dry-run"});
  EXPECT_EQ(r.out, "would delete FRESH\nwould delete KEEP\nwould delete SAME\n");
  // A pattern asks on a terminal, and is refused elsewhere without --yes.
  EXPECT_EQ(run_tool({"rm", "work", "piece", "*E*"}).status, 2);
  r = run_tool({"rm", "work", "piece", "*E*"}, "no\n", true);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(run_tool({"ls", "work", "piece"}).out, "FRESH\nKEEP\nSAME\n");
  r = run_tool({"rm", "work", "piece", "S*"}, "y\n", true);
  EXPECT_EQ(r.status, 0) << r.err;
  r = run_tool({"rm", "work", "piece", "*", "--yes"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "deleted 2 of 2 items of piece in C:\\userroot\\storage\\work")) << r.out;
  EXPECT_EQ(run_tool({"ls", "work", "piece"}).out, "");
}

TEST_F(ToolKeeperTest, CopyKeepsStampsAndAttribute) {
  ASSERT_EQ(run_tool({"init", "arch"}).status, 0);
  put("FRONT", "front bytes");
  ASSERT_EQ(run_tool({"attr", "work", "piece", "FRONT", "42"}).status, 0);
  testenv::fixed_time = kToolTime + 5000;
  ToolRun r = run_tool({"cp", "work", "piece", "FRONT", "arch"});
  ASSERT_EQ(r.status, 0) << r.err;
  json a = listed({"info", "work", "piece", "FRONT"});
  json b = listed({"info", "arch", "piece", "FRONT"});
  for (const char* key : {"created", "modified", "creator", "modifier", "attribute", "size", "accessed"}) {
    EXPECT_EQ(a[key], b[key]) << key;
  }
  EXPECT_EQ(run_tool({"get", "arch", "piece", "FRONT"}).out, "front bytes");
  EXPECT_EQ(run_tool({"cp", "work", "piece", "FRONT", "arch"}).status, 1);  // exists there
  EXPECT_EQ(run_tool({"cp", "work", "piece", "FRONT", "arch", "-r"}).status, 0);
  EXPECT_EQ(run_tool({"cp", "work", "piece", "FRONT", "work"}).status, 2);
  EXPECT_EQ(run_tool({"cp", "work", "piece", "NOPE", "arch"}).status, 1);
}

TEST_F(ToolKeeperTest, LogFiltersAndFollow) {
  // 2024-05-01 10:00:00 UTC and an hour later.
  testenv::fixed_time = 1714557600;
  log_error(LOG_CLASS_EXECUTION, 54018, "first", 0);
  testenv::fixed_time = 1714557600 + 3600;
  log_error(1, 54052, "second", 0);
  struct Case {
    std::vector<std::string> args;
    std::vector<int> codes;  // newest first
  };
  const std::vector<Case> cases = {
      {{"log"}, {54052, 54018}},
      {{"log", "--code", "54018"}, {54018}},
      {{"log", "--class", "state"}, {54052}},
      {{"log", "--class", "3"}, {54018}},
      {{"log", "--since", "2024-05-01 10:30"}, {54052}},
      {{"log", "--until", "2024-05-01 10:30"}, {54018}},
      {{"log", "--since", "2024-05-02"}, {}},
  };
  for (const Case& k : cases) {
    json j = listed(k.args);
    std::vector<int> codes;
    for (const json& rec : j) codes.push_back(rec["code"]);
    EXPECT_EQ(codes, k.codes) << k.args.back();
  }
  for (std::vector<std::string> bad : {std::vector<std::string>{"log", "--class", "NOISY"},
                                       std::vector<std::string>{"log", "--since", "yesterday"}}) {
    EXPECT_EQ(run_tool(bad).status, 2) << bad[2];
  }
  // --follow shows what is there, then each new record, until Ctrl-C.
  admin_catch_interrupts();
  int pauses = 0;
  testenv::on_pause = [&] {
    if (++pauses == 1) {
      log_error(LOG_CLASS_EXECUTION, 54060, "third", 0);
    } else {
      plat_test_interrupt();
    }
  };
  ToolRun r = run_tool({"log", "--follow", "--code", "54060", "--json"});
  testenv::on_pause = nullptr;
  EXPECT_EQ(r.status, TOOL_INTERRUPTED);
  EXPECT_EQ(r.out.find("54018"), std::string::npos);
  json third = json::parse(r.out.substr(0, r.out.find('\n')));
  EXPECT_EQ(third["lines"][0], "third");
}

TEST_F(ToolKeeperTest, AreasTranslationsAndSettings) {
  put("FRONT", "front");
  // Moving an area carries its items; removing it needs --yes.
  ToolRun r = run_tool({"area", "mv", "work", "moved"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(run_tool({"get", "moved", "piece", "FRONT"}).out, "front");
  EXPECT_EQ(run_tool({"area", "mv", "nowhere", "other"}).status, 1);
  EXPECT_EQ(run_tool({"area", "rm", "moved"}).status, 2);
  r = run_tool({"area", "rm", "moved", "--yes"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(run_tool({"ls", "moved", "piece"}).status, 1);
  EXPECT_EQ(run_tool({"area", "rm", "moved", "--yes"}).status, 1);

  ASSERT_EQ(run_tool({"net", "add", "work", "F:\\areas\\work"}).status, 0);
  EXPECT_EQ(listed({"net", "ls"}).size(), 1u);
  EXPECT_EQ(run_tool({"net", "rm", "work"}).status, 0);
  EXPECT_EQ(listed({"net", "ls"}).size(), 0u);
  EXPECT_EQ(run_tool({"net", "rm", "work"}).status, 1);

  json env = listed({"env"});
  bool codepage = false;
  for (const json& s : env) codepage = codepage || (s["name"] == "code page" && s["value"] == "1252");
  EXPECT_TRUE(codepage) << env.dump();
  EXPECT_TRUE(contains(run_tool({"--version"}).out, ", code page 1252)"));
  EXPECT_TRUE(listed({"devices"}).contains("devices"));
  EXPECT_GT(listed({"df"})["free_bytes"].get<double>(), 0);
  EXPECT_TRUE(contains(run_tool({"help"}).out, "CLASSIC_CODEPAGE"));
}

// Failures say what is wrong; with --json as one object on standard error.
TEST_F(ToolKeeperTest, MessagesThatSayWhatIsWrong) {
  put("BIN", std::string("\x01\x02\x00\x03", 4));
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{"ls", "work", "piece", "--bogus"}, 2, "classic: unknown option --bogus for ls"},
      {{"net", "rm"}, 2, "key is required"},
      {{"net", "frob", "x"}, 2, "classic: unknown command 'frob' for net"},
      {{"area", "ls"}, 2, "classic: unknown command 'ls' for area"},
      {{"get", "work", "piece", "BIN"}, 1, "its bytes are binary"},
  };
  for (const Case& k : cases) {
    ToolRun r = run_tool(k.args, "", true);
    EXPECT_EQ(r.status, k.status) << k.args[0];
    EXPECT_TRUE(contains(r.err, k.err)) << r.err;
  }
  EXPECT_EQ(run_tool({"get", "work", "piece", "BIN"}).out.size(), 4u);  // not a terminal
  // -v names the native file of the control file worked on.
  EXPECT_TRUE(contains(run_tool({"ls", "work", "piece", "-v"}).err, "DATA\\piece.ctl is "));
  ToolRun r = run_tool({"info", "work", "piece", "NOPE", "--json"});
  EXPECT_EQ(r.status, 1);
  json e = json::parse(r.err);
  EXPECT_EQ(e["status"], 1007);
  EXPECT_TRUE(contains(e["error"], "info piece NOPE in C:\\userroot\\storage\\work")) << r.err;
  r = run_tool({"ls", "work", "piece", "--bogus", "--json"});
  EXPECT_TRUE(json::parse(r.err.substr(0, r.err.find('\n')))["usage"].get<bool>());
}

}  // namespace
