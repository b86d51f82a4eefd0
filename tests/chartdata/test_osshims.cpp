// DOS-style shims: directories made level by level without a shell, the
// current directory, drives, memory and case helpers, and the home and
// search-path look-ups.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "chartdata/osshims.h"
#include "support/tempdir.h"

namespace {

bool is_dir(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(SysMkdir, CreatesEachMissingLevel) {
  TempDir dir;
  struct Case {
    const char* name;
    std::string relative;       // below the temporary folder
    std::string deepest_made;   // relative; "" = nothing made
    std::string first_missing;  // relative; "" = everything made
  };
  const Case cases[] = {
      {"three levels", "a/b/c", "a/b/c", ""},
      {"blanks, quotes and shell characters", "it's a \"dir\"/x; rm -rf y/$(z)/`w`",
       "it's a \"dir\"/x; rm -rf y/$(z)/`w`", ""},
      {"trailing slash", "t/u/", "t/u", ""},
      {"double slash stops", "d//e", "d", "d/e"},
  };
  for (const Case& c : cases) {
    sys_mkdir(dir.file(c.relative).c_str());
    EXPECT_TRUE(is_dir(dir.file(c.deepest_made))) << c.name;
    if (!c.first_missing.empty()) {
      EXPECT_FALSE(file_exists(dir.file(c.first_missing))) << c.name;
    }
  }
  EXPECT_FALSE(file_exists(dir.file("y")));
}

TEST(SysMkdir, EightFieldLimit) {
  TempDir dir;
  // Absolute: the root's empty field counts, so seven levels in all.  The
  // temporary folder /tmp/morva-test-X takes two of them.
  const std::string abs = dir.path() + "/1/2/3/4/5/6/7";
  sys_mkdir(abs.c_str());
  EXPECT_TRUE(is_dir(dir.path() + "/1/2/3/4/5"));
  EXPECT_FALSE(file_exists(dir.path() + "/1/2/3/4/5/6"));

  // Relative: eight levels of nine.
  ScopedChdir here(dir.path());
  sys_mkdir("r1/r2/r3/r4/r5/r6/r7/r8/r9");
  EXPECT_TRUE(is_dir("r1/r2/r3/r4/r5/r6/r7/r8"));
  EXPECT_FALSE(file_exists("r1/r2/r3/r4/r5/r6/r7/r8/r9"));
}

TEST(SysMkdir, ReportsALevelThatCannotBeMade) {
  TempDir dir;
  write_text(dir.file("plain"), "a file, not a folder");
  const std::string path = dir.file("plain/sub/deeper");
  testing::internal::CaptureStdout();
  sys_mkdir(path.c_str());
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "\nVery odd. Still doesn't exist: " + dir.file("plain/sub"));
  EXPECT_FALSE(file_exists(dir.file("plain/sub/deeper")));

  // Existing or empty paths: nothing to do, nothing printed.
  testing::internal::CaptureStdout();
  sys_mkdir(dir.path().c_str());
  sys_mkdir("");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(StartDir, OneFolderInTheHomeForEveryLength) {
  static std::string existing;
  auto is_dir = [](const std::string& d) { return d == existing; };
  const struct {
    const char* home;
    const char* existing;
    const char* start;
  } cases[] = {
      {"/home/ann", "", "/home/ann/morva"},
      {"/home/abcdefghijkl", "", "/home/abcdefghijkl/morva"},         // 24 characters fit
      {"/home/abcdefghijklm", "", "/home/abcdefghijklm"},             // the home itself
      {"/home/abcdefghijklm", "/home/abcdefghijklm/morv", "/home/abcdefghijklm/morv"},
      {"/home/abcdefghijklmnopqr", "", "/home/abcdefghijklmnopqr"},   // 24 again
      {"/home/abcdefghijklmnopqrs", "", "/home/abcdefghijklmnopqrs"},  // a longer home: itself
      {"/home/abcdefghijklmnopq", "/home/abcdefghijklmnopq/", "/home/abcdefghijklmnopq"},
  };
  for (const auto& c : cases) {
    existing = c.existing;
    EXPECT_EQ(start_dir_in_home(c.home, is_dir), c.start) << c.home;
  }
}

TEST(Getdir, CurrentDirectoryWithoutLeadingSlash) {
  TempDir dir;
  const std::string deep = dir.mkdirs("with blank/and 'quote'");
  ScopedChdir here(deep);
  char buf[200];
  std::memset(buf, 'z', sizeof buf);
  EXPECT_EQ(getdir('C', buf), 1);
  EXPECT_EQ(std::string("/") + buf, deep);

  // Longer paths are cut at 126 characters.
  std::string longer = dir.path();
  while (longer.size() < 200) longer += "/" + std::string(60, 'x');
  sys_mkdir(longer.c_str());  // fewer than eight fields
  ASSERT_TRUE(is_dir(longer));
  ScopedChdir there(longer);
  EXPECT_EQ(getdir(0, buf), 1);
  EXPECT_EQ(std::string(buf), longer.substr(1, 126));
}

TEST(Shims, DrivesExistenceCaseAndMemory) {
  setdrive('D');
  EXPECT_EQ(getdrive(), 65);
  TempDir dir;
  write_text(dir.file("f"), "");
  EXPECT_EQ(exist(dir.file("f").c_str()), 1);
  EXPECT_EQ(exist(dir.path().c_str()), 1);
  EXPECT_EQ(exist(dir.file("none").c_str()), 0);

  char text[] = "MiXeD 123 \xC4Z[@";
  tolowerstr(text);
  EXPECT_STREQ(text, "mixed 123 \xC4z[@");

  unsigned char mem[6] = {9, 9, 9, 9, 9, 9};
  EXPECT_EQ(_setmem(mem, 4, 0x1AB), mem);
  EXPECT_EQ(mem[0], 0xAB);
  EXPECT_EQ(mem[3], 0xAB);
  EXPECT_EQ(mem[4], 9);
  unsigned char dst[4] = {0, 0, 0, 0};
  EXPECT_EQ(_move(3, mem + 2, dst), dst);
  EXPECT_EQ(dst[0], 0xAB);
  EXPECT_EQ(dst[2], 9);
  EXPECT_EQ(dst[3], 0);
}

class HomeAndPath : public ::testing::Test {
 protected:
  void SetUp() override {
    if (getlogin() != nullptr) GTEST_SKIP() << "the login name decides the home directory here";
  }
  TempDir home;
};

TEST_F(HomeAndPath, HomeFromTheEnvironment) {
  {
    ScopedEnv env("HOME", home.path().c_str());
    ASSERT_NE(gethomedir(), nullptr);
    EXPECT_EQ(std::string(gethomedir()), home.path());
  }
  ScopedEnv unset("HOME", nullptr);
  EXPECT_EQ(gethomedir(), nullptr);
}

TEST_F(HomeAndPath, SearchPath) {
  TempDir bin1, bin2;
  write_text(bin2.file("m.hlp"), "help");
  ScopedEnv env("HOME", home.path().c_str());
  char dst[kSearchPathMax];

  {  // Found along PATH, in order; an empty component ends the search.
    ScopedEnv path("PATH", (bin1.path() + ":" + bin2.path()).c_str());
    ASSERT_EQ(searchPATH(dst, "/m.hlp"), 1);
    EXPECT_EQ(std::string(dst), bin2.file("m.hlp"));
  }
  {
    ScopedEnv path("PATH", (bin1.path() + "::" + bin2.path()).c_str());
    EXPECT_EQ(searchPATH(dst, "/m.hlp"), 0);
  }
  {
    ScopedEnv path("PATH", nullptr);
    EXPECT_EQ(searchPATH(dst, "/m.hlp"), 0);
  }
  {  // The product folder in the home directory comes first.
    home.mkdirs("morva");
    write_text(home.file("morva/m.hlp"), "mine");
    ScopedEnv path("PATH", bin2.path().c_str());
    ASSERT_EQ(searchPATH(dst, "/m.hlp"), 1);
    EXPECT_EQ(std::string(dst), home.file("morva/m.hlp"));
  }
}

}  // namespace
