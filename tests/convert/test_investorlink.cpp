// InvestorLink import: text names of archives, the private temporary file,
// and unpacking without a shell.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "convert/investorlink.h"
#include "support/tempdir.h"

extern char** environ;

namespace {

// Runs a program with an argument vector in `dir`; its exit status.
int run_in(const std::string& dir, std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  ScopedChdir cd(dir);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  int rc = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(InvestorLinkNames, TextNameTable) {
  struct Case {
    const char* archive;
    const char* text;
  } cases[] = {
      {"991231S.ZIP", "991231.STK"}, {"991231F.ZIP", "991231.CSF"}, {"DATA.ZIP", "DATA"},
      {"991231f.zip", "991231f.zip"}, {"a.ZIP.txt", "a.ZIP.txt"},  {"S.ZIP", ".STK"},
      {"mail/991231S.ZIP", "mail/991231.STK"},
  };
  for (const Case& c : cases) EXPECT_EQ(investor_text_name(c.archive), c.text) << c.archive;
  EXPECT_TRUE(is_zip_name("x.y.ZIP"));
  EXPECT_FALSE(is_zip_name("x.ZIP.y"));
  EXPECT_FALSE(is_zip_name("991231S.Zip"));
}

TEST(InvestorLinkNames, SettingsAreInvestorLinksLayout) {
  const FormatSettings f = investorlink_format();
  EXPECT_EQ(f.direction, 0);
  EXPECT_EQ(f.datecode, 3);
  EXPECT_EQ(f.sep, ',');
  EXPECT_EQ(std::string(f.order, 12), "SOHLCVI     ");
  EXPECT_EQ(f.nul1, 0);
  EXPECT_EQ(std::string(f.startdate, 8), "19600101");
  EXPECT_EQ(f.nul2, 0);
}

TEST(PrivateTempFile, NotWorldWritableAndRemovedInEveryCase) {
  // The text lives in memory: no name in /tmp, readable by this process
  // only while its descriptor is open.
  std::string path;
  {
    PrivateTemp t("991231.STK");
    ASSERT_TRUE(t.ok());
    path = t.path();
    ASSERT_EQ(::write(t.fd(), "x", 1), 1);
    EXPECT_EQ(read_text(path), "x");
    for (const std::string& n : list_dir("/tmp")) EXPECT_NE(n.rfind("991231.STK", 0), 0u) << n;
    struct stat st;
    ASSERT_EQ(fstat(t.fd(), &st), 0);
    EXPECT_EQ(st.st_nlink, 0u);  // no name in any folder
    int fd = t.release();
    ::close(fd);
  }
  EXPECT_FALSE(file_exists(path));
}

TEST(Unzip, ArchiveNamesWithBlanksQuotesAndSemicolonsRunNothingElse) {
  TempDir dir;
  write_text(dir.file("991231A.STK"), "IBM,1,2,0.5,1.5,100,0\n");
  write_text(dir.file("991231B.CSF"), "MSFT,3,4,2.5,3.5,200,0\n");
  write_text(dir.file("readme.txt"), "not a member\n");
  const std::vector<std::string> names = {"a b'c;touch PWNED\".ZIP", "-x.ZIP", "$(touch PWNED).ZIP"};
  for (const std::string& name : names) {
    ASSERT_EQ(run_in(dir.path(), {"zip", "-q", "-j", "./" + name, "991231A.STK", "991231B.CSF", "readme.txt"}), 0)
        << name;
    PrivateTemp out("t");
    ASSERT_TRUE(out.ok());
    int status;
    {
      ScopedChdir cd(dir.path());
      status = unpack_members(name, out.fd(), nullptr);
    }
    EXPECT_EQ(status, 1) << name;
    const std::string text = read_text(out.path());
    EXPECT_NE(text.find("IBM,1,2"), std::string::npos) << name;
    EXPECT_NE(text.find("MSFT,3,4"), std::string::npos) << name;
    EXPECT_EQ(text.find("not a member"), std::string::npos) << name;
  }
  EXPECT_FALSE(file_exists(dir.file("PWNED")));
}

TEST(Unzip, MissingArchiveGivesAnEmptyText) {
  TempDir dir;
  PrivateTemp out("t");
  ScopedChdir cd(dir.path());
  EXPECT_LT(unpack_members("nothing.ZIP", out.fd(), nullptr), 0);
  EXPECT_EQ(read_text(out.path()), "");
}

}  // namespace
