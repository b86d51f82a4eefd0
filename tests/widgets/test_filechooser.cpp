// The file-name prompts, the typed directory commands and the directory
// listing, driven by keys on the in-memory screen in real folders.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "setup/environment.h"
#include "support/scripted_keys.h"
#include "support/tempdir.h"
#include "widget_fixture.h"
#include "widgets/dirlist.h"
#include "chartdata/osshims.h"
#include "widgets/filechooser.h"
#include "widgets/title.h"

namespace {

std::string cwd() {
  char buf[4096];
  return getcwd(buf, sizeof buf) ? buf : "";
}

std::string read_fd(int fd) {
  std::string s;
  char buf[256];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<std::size_t>(n));
  return s;
}

class FileChooserTest : public WidgetTest {
 protected:
  TempDir dir{"m"};
  ScopedChdir in_dir{dir.path()};

  void SetUp() override {
    WidgetTest::SetUp();
    // The data directory of the setup is the folder of the test.
    std::snprintf(origdatasubdir, sizeof origdatasubdir, "%s", dir.path().c_str());
    std::snprintf(datasubdir, sizeof datasubdir, "%s", dir.path().c_str());
    title = "A TITLE";
  }
  void make(const std::string& name, const std::string& text = "x") {
    ASSERT_TRUE(write_text(dir.file(name), text));
  }
  // Runs the source prompt; the name ends up in `name`.
  int source(char* name) {
    std::memset(name, 0, 44);
    return dir_on_1stname("               Enter a TEXT filename (or ESCape):", name);
  }
  static bool shown(const std::string& screen, const std::string& text) {
    return screen.find(text) != std::string::npos;
  }
};

TEST_F(FileChooserTest, ListingHasTheParentFirstThenNamesSortedBytewise) {
  make("b");
  make("B");
  make("a b");
  make(".hidden");
  make("zeta");
  dir.mkdirs("sub");
  EXPECT_EQ(list_names("*"), (std::vector<std::string>{"../", "B", "a b", "b", "sub/", "zeta"}));
  EXPECT_EQ(list_names("B* b*"), (std::vector<std::string>{"../", "B", "b"}));
  make("1x");
  EXPECT_EQ(list_names("1* 1*"), (std::vector<std::string>{"../", "1x"}));  // each name once
  EXPECT_EQ(list_names("Q* q*"), (std::vector<std::string>{"../"}));
}

TEST_F(FileChooserTest, TwelveNamesGiveThreeRowsOfFiveCells) {
  std::vector<std::string> names{"../"};
  for (int i = 0; i < 11; ++i) names.push_back("name" + std::to_string(i));
  names.push_back("a-name-of-15-ch");
  char* table[6] = {};
  ASSERT_EQ(columnize_names(names, 5, table, 5, 3000), 3);
  EXPECT_EQ(std::string(table[0]), "../          name0        name1        name2        name3        ");
  EXPECT_EQ(std::string(table[2]).substr(0, 26), "name9        name10       ");
  // At most 12 characters of a name and a blank: a longer one shows 11 and '~'.
  EXPECT_EQ(std::string(table[2]).substr(26), "a-name-of-1~ " + std::string(26, ' '));
  EXPECT_EQ(std::string(table[2]).substr(39, 13), std::string(13, ' '));
  for (char* p : table) std::free(p);
}

TEST_F(FileChooserTest, AHugeDirectoryStaysInsideTheTable) {
  for (int i = 0; i < 3100; ++i) make("f" + std::to_string(10000 + i));
  ASSERT_EQ(::dir("*", targopnX, 5, 3000), 1);
  int rows = 0;
  while (rows + 1 < kDirTableEntries && targopnX[rows + 1] && targopnX[rows + 1][0]) ++rows;
  EXPECT_EQ(rows, 598);  // entry 0 is the caption, the last entry ends the list
  EXPECT_TRUE(targopnX[kDirTableEntries - 1] == nullptr || targopnX[kDirTableEntries - 1][0] == 0);
  EXPECT_EQ(listed_name(1, 1), "f10000");
}

struct CommandCase {
  std::string text;
  int result;
  std::string moves_to;  // where the command leaves us
};

TEST_F(FileChooserTest, DirectoryCommandsAreUpperCaseAndExact) {
  dir.mkdirs("sub/deeper");
  const std::string base = dir.path();
  const std::string parent = base.substr(0, base.rfind('/'));
  const CommandCase cases[] = {
      {"DIR", 1, base},
      {"C:", 1, base},
      {"CD sub", 1, base + "/sub"},
      {"CD..", 1, parent},
      {"CD./sub/deeper", 1, base + "/sub/deeper"},
      {"CD" + base + "/sub", 1, base + "/sub"},
      {"CD nosuch", 1, base},  // nothing changes; the listing shows where we are
      {"CDsub", 0, base},
      {"CD ", 0, base},
      {"cd sub", 0, base},
      {"DIRS", 0, base},
      {"c:", 0, base},
  };
  for (const auto& c : cases) {
    ScopedChdir start(base);
    char name[44];
    std::snprintf(name, sizeof name, "%s", c.text.c_str());
    scr_rowcol(4, 50);
    EXPECT_EQ(chdrive(0, name), c.result) << c.text;
    EXPECT_EQ(cwd(), c.moves_to) << c.text;
  }
  EXPECT_EQ(datadisk, 'A');
}

TEST_F(FileChooserTest, F9ThenEnterOnANameThenEnterOpensIt) {
  make("a.txt", "first");
  make("b.txt", "second");
  ScriptedKeys keys;
  std::string listing;
  keys.then_key(kKeyF9)
      .at_wait([&] { listing = headless_screen(); })
      .then_keys({kKeyRight, kKeyRight, kKeyEnter})
      .then("\r");
  char name[44];
  int fd = source(name);
  ASSERT_GT(fd, 0);
  EXPECT_EQ(std::string(name), "b.txt");
  EXPECT_EQ(read_fd(fd), "second");
  ::close(fd);
  EXPECT_TRUE(keys.done());
  EXPECT_TRUE(shown(listing, "Directory"));
  EXPECT_TRUE(shown(listing, "a.txt        b.txt"));
  // At the data directory the parent cell is blank.
  EXPECT_FALSE(shown(listing, "../"));
  EXPECT_EQ(headless_row(0).substr(0, 7), "A TITLE");
}

TEST_F(FileChooserTest, NamesWithBlanksAndShellCharactersAreOpenedAsFiles) {
  const std::string odd = "a b;$(touch P)";
  make(odd, "odd");
  make("my file;rm -rf x", "picked");
  {
    ScriptedKeys keys;
    keys.then(odd + "\r");
    char name[44];
    int fd = source(name);
    ASSERT_GT(fd, 0);
    EXPECT_EQ(read_fd(fd), "odd");
    ::close(fd);
  }
  {
    // Picked in the listing: the whole name comes back, not the part
    // before the first blank.
    ScriptedKeys keys;
    keys.then_key(kKeyF9).then_keys({kKeyRight, kKeyRight, kKeyEnter}).then("\r");
    char name[44];
    int fd = source(name);
    ASSERT_GT(fd, 0);
    EXPECT_EQ(std::string(name), "my file;rm -rf x");
    EXPECT_EQ(read_fd(fd), "picked");
    ::close(fd);
  }
  EXPECT_FALSE(file_exists(dir.file("P")));
}

TEST_F(FileChooserTest, LongNamesAreShownCutAndReturnedWhole) {
  make("a-name-of-nineteen1", "long");
  ScriptedKeys keys;
  std::string listing;
  keys.then_key(kKeyF9)
      .at_wait([&] { listing = headless_screen(); })
      .then_keys({kKeyRight, kKeyEnter})
      .then("\r");
  char name[44];
  int fd = source(name);
  ASSERT_GT(fd, 0);
  EXPECT_EQ(std::string(name), "a-name-of-nineteen1");
  ::close(fd);
  EXPECT_TRUE(shown(listing, "a-name-of-n~ "));
  EXPECT_FALSE(shown(listing, "eteen1"));
}

TEST_F(FileChooserTest, CdDotDotListsTheParentAndExitGoesBackUp) {
  const std::string sub = dir.mkdirs("sub");
  ASSERT_TRUE(write_text(sub + "/inner.txt", "i"));
  make("outer.txt");
  ScopedChdir in_sub(sub);
  ScriptedKeys keys;
  std::string below, above;
  // In sub the parent cell reads "../ EXIT"; choosing it goes up.
  keys.then_key(kKeyF9)
      .at_wait([&] { below = headless_screen(); })
      .then_key(kKeyEnter)
      .at_wait([&] { above = headless_screen(); })
      .then_key(kKeyEsc)
      .then("\x1b");
  char name[44];
  EXPECT_EQ(source(name), 0);
  EXPECT_TRUE(shown(below, "../ EXIT"));
  EXPECT_TRUE(shown(below, "inner.txt"));
  EXPECT_TRUE(shown(above, "outer.txt"));
  EXPECT_FALSE(shown(above, "../ EXIT"));
  // The listing walked up only while it was open.
  EXPECT_EQ(cwd(), sub);
  EXPECT_EQ(std::string(datasubdir), dir.path());

  // Typed: CD .. moves up and opens the listing there.
  ScopedChdir again(sub);
  ScriptedKeys keys2;
  std::string listing;
  keys2.then("CD ..\r").at_wait([&] { listing = headless_screen(); }).then_key(kKeyEsc).then("\x1b");
  EXPECT_EQ(source(name), 0);
  EXPECT_EQ(cwd(), dir.path());
  EXPECT_TRUE(shown(listing, "outer.txt"));
}

// Picked in a sub-folder, a file is named by its path from the program's
// folder, where the program still is; the listing's title names the folder
// it shows.  A typed "~/" is the home.
TEST_F(FileChooserTest, PickInASubFolderGivesItsPathAndTheFolderStays) {
  const std::string sub = dir.mkdirs("sub");
  ASSERT_TRUE(write_text(sub + "/inner.txt", "i"));
  ScriptedKeys keys;
  std::string inside;
  keys.then_key(kKeyF9)
      .then_keys({kKeyRight, kKeyEnter})
      .at_wait([&] { inside = headless_screen(); })
      .then_keys({kKeyRight, kKeyEnter})
      .then("\r");
  char name[44];
  int fd = source(name);
  ASSERT_GT(fd, 0);
  ::close(fd);
  EXPECT_EQ(std::string(name), "sub/inner.txt");
  EXPECT_EQ(cwd(), dir.path());
  EXPECT_TRUE(shown(inside, sub.substr(sub.size() - 10))) << inside;

  const std::string home = dir.mkdirs("home");
  ASSERT_TRUE(write_text(home + "/h.txt", "h"));
  ScopedEnv env_home{"HOME", home.c_str()};
  if (const char* h = gethomedir(); !h || home != h) GTEST_SKIP() << "the user database names another home";
  ScriptedKeys typed;
  typed.then("~/h.txt\r");
  char big[4096];
  fd = dir_on_1stname("prompt", big, false, sizeof big);
  ASSERT_GT(fd, 0);
  ::close(fd);
  EXPECT_EQ(std::string(big), home + "/h.txt");
}

TEST_F(FileChooserTest, ALetterNarrowsTheListing) {
  for (const char* n : {"apple", "Mango", "melon", "zebra"}) make(n);
  ScriptedKeys keys;
  std::string all, narrowed;
  keys.then_key(kKeyF9)
      .at_wait([&] { all = headless_screen(); })
      .then("m")
      .at_wait([&] { narrowed = headless_screen(); })
      .then_key(kKeyEsc)
      .then("\x1b");
  char name[44];
  EXPECT_EQ(source(name), 0);
  EXPECT_TRUE(shown(all, "apple") && shown(all, "zebra"));
  EXPECT_TRUE(shown(narrowed, "Mango        melon"));
  EXPECT_FALSE(shown(narrowed, "apple"));
  EXPECT_FALSE(shown(narrowed, "zebra"));
}

TEST_F(FileChooserTest, MissingFileIsReported) {
  ScriptedKeys keys;
  std::string top;
  keys.then("nosuch.txt\r").at_wait([&] { top = headless_row(0); }).then(" ");
  char name[44];
  EXPECT_EQ(source(name), 0);
  EXPECT_EQ(top.substr(0, 17), "File is missing.2");
  EXPECT_TRUE(keys.done());
}

TEST_F(FileChooserTest, TargetPromptGivesThePickedNameWithItsFolder) {
  make("chart.M", "c");
  {
    ScriptedKeys keys;
    keys.then_key(kKeyF9).then_keys({kKeyRight, kKeyEnter}).then("\r");
    char name[44] = "";
    EXPECT_EQ(dir_on_2ndname(name), 1);
    EXPECT_EQ(std::string(name), dir.path() + "/chart.M");
  }
  {
    ScriptedKeys keys;
    keys.then("new.M\r");
    char name[44] = "";
    EXPECT_EQ(dir_on_2ndname(name), -1);
    EXPECT_EQ(std::string(name), "new.M");
  }
  {
    ScriptedKeys keys;
    keys.then("\x1b");
    char name[44] = "";
    EXPECT_EQ(dir_on_2ndname(name), 0);
  }
}

TEST_F(FileChooserTest, LeavingTheListingEmptiesThePattern) {
  char pattern[48] = "Q* q*";
  ScriptedKeys keys;
  std::string listing;
  keys.at_wait([&] { listing = headless_screen(); }).then_key(kKeyEsc);
  EXPECT_EQ(openselected(pattern, "Directory", 5, 4, 22, 79, 0), 27);
  EXPECT_EQ(std::string(pattern), "");
  EXPECT_TRUE(shown(listing, "Directory"));
}

}  // namespace
