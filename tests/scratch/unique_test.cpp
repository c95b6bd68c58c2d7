// Unique scratch files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "classic.h"
#include "platform/platform.h"
#include "scratch/unique.h"
#include "support/helper.h"
#include "support/store_test.h"

namespace {

const std::string kTemp = "c:\\userroot\\temp\\";

class UniqueTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    testenv::make_dirs("c:\\userroot\\temp");
    testenv::fixed_ticks = 0x0012abcd;
  }

  // The name of a new scratch file (its stream closed), or "null".
  std::string create(const char* dir = nullptr, const char* name_template = nullptr,
                     const char* ext_template = nullptr, const char* mode = nullptr) {
    char name[UNIQUE_NAME_SIZE + 4];
    std::memset(name, '#', sizeof name);
    FILE* f = classic_create_unique(dir, name_template, ext_template, name, mode);
    if (f == nullptr) return name[0] == '#' ? "null" : "null, name written";
    std::fclose(f);
    EXPECT_EQ(std::string(name + UNIQUE_NAME_SIZE, 4), "####");
    return name;
  }
};

TEST_F(UniqueTest, NamesFromTicksAndCounter) {
  char out[16];
  EXPECT_EQ(fill_name_template(out, "x??", 8, 0x12345678), 3);
  EXPECT_STREQ(out, "x23");
  fill_name_template(out, "?z?x", 3, 0xfedcba98);  // low 12 bits, cut at 3
  EXPECT_STREQ(out, "az8");
  for (int i = 0; i < 5; ++i) ASSERT_EQ(create("d:"), "0012abcd.00" + std::to_string(i));
  EXPECT_TRUE(testenv::exists("d:0012abcd.000"));
  FILE* f = classic_create_unique(nullptr, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(f, nullptr);  // "w+b": written bytes read back
  char back[4] = {0};
  EXPECT_GE(std::fputs("abc", f), 0);
  std::rewind(f);
  EXPECT_EQ(std::fread(back, 1, 3, f), 3u);
  std::fclose(f);
  EXPECT_EQ(testenv::read_file(kTemp + "0012abcd.005"), "abc");
  testenv::write_file(kTemp + "0012abcd.006", "taken");
  EXPECT_EQ(create(), "0012abce.007");  // a taken name moves both values on
  testenv::make_dirs("d:\\tmp");
  EXPECT_EQ(create("d:\\tmp", "ab??", "x?"), "ab12.x0");
  EXPECT_TRUE(testenv::exists("d:\\tmp\\ab12.x0"));
  EXPECT_EQ(create("d:/tmp/", "long??xyz", "text"), "longabxy.tex");  // cut at 8 and 3
  EXPECT_EQ(create(nullptr, "fixed", "tmp"), "fixed.tmp");
  EXPECT_EQ(create(nullptr, "fixed", "tmp"), "null");  // eleven attempts
  EXPECT_EQ(create(), "0012abcd.016");
}

TEST_F(UniqueTest, ModesAreCheckedBeforeAnythingIsCreated) {
  for (const char* mode : {"wb", "wt", "w+", "w+b", "wb+", "w+t"}) {
    EXPECT_NE(create(nullptr, nullptr, nullptr, mode), "null") << mode;
  }
  for (const char* mode : {"r+b", "wx", "w+bx", "wb+t", ""}) {
    EXPECT_EQ(create(nullptr, "no", nullptr, mode), "null") << mode;
  }
  plat_find_data found;
  EXPECT_EQ(plat_find_first((kTemp + "no*").c_str(), &found), nullptr);
  EXPECT_EQ(create(), "0012abcd.006");
}

TEST_F(UniqueTest, Rename) {
  testenv::write_file("d:\\old", "old");
  testenv::write_file("d:\\0012abcd.000", "keep");
  char name[UNIQUE_NAME_SIZE] = "untouched";
  EXPECT_EQ(classic_rename_unique("d:\\", "old", nullptr, nullptr, name), 0);
  EXPECT_STREQ(name, "0012abce.001");  // never onto a taken name
  EXPECT_EQ(testenv::read_file("d:\\0012abcd.000"), "keep");
  EXPECT_EQ(testenv::read_file("d:\\0012abce.001"), "old");
  std::strcpy(name, "untouched");
  EXPECT_EQ(classic_rename_unique(nullptr, "missing", nullptr, nullptr, name), -1);
  EXPECT_STREQ(name, "untouched");
  EXPECT_EQ(create(), "0012abcd.00d");  // 2 + 11 attempts
}

TEST_F(UniqueTest, OpenAndRemoveWhileHeld) {
  std::string name = create();
  FILE* f = classic_open_unique(nullptr, name.c_str(), nullptr);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(classic_open_unique(nullptr, name.c_str(), "rb"), nullptr);
  EXPECT_NE(classic_remove_unique(nullptr, name.c_str()), 0);
  std::fclose(f);
  {
    Helper h("hold_file", {kTemp + name, "rw", "nolock", "release"});
    ASSERT_TRUE(h.wait_ready());
    EXPECT_EQ(classic_open_unique(kTemp.c_str(), name.c_str(), nullptr), nullptr);
    h.release();
    EXPECT_EQ(h.finish(), 0);
  }
  EXPECT_EQ(classic_remove_unique(nullptr, name.c_str()), 0);
  EXPECT_EQ(classic_remove_unique(nullptr, name.c_str()), -1);
  EXPECT_EQ(classic_open_unique(nullptr, name.c_str(), nullptr), nullptr);
}

TEST_F(UniqueTest, OverlongPathsAreRejected) {
  std::string dir = "d:\\" + std::string(243, 'p');       // + '\' + 8.3 = 259
  EXPECT_EQ(create(dir.c_str()), "null");                 // tried: no such folder
  EXPECT_EQ(create((dir + "p").c_str()), "null");         // not tried
  std::string huge(5000, 'x');
  char name[UNIQUE_NAME_SIZE] = "untouched";
  EXPECT_EQ(classic_rename_unique((dir + "p").c_str(), "a", nullptr, nullptr, name), -1);
  EXPECT_EQ(classic_rename_unique(nullptr, huge.c_str(), nullptr, nullptr, name), -1);
  EXPECT_STREQ(name, "untouched");
  EXPECT_EQ(create(), "0012abcd.00b");
  EXPECT_EQ(classic_open_unique(huge.c_str(), "a", nullptr), nullptr);
  EXPECT_EQ(classic_remove_unique(nullptr, huge.c_str()), -1);
}

}  // namespace
