// The program's main loop on the in-memory screen: each run starts the way
// main() does, in a forked child (the program ends with exit), with keys
// typed when it waits; the test then looks at the files it left.  Also the
// list of names, the name check, the ASCII replacement and the choice codes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "chartdata/osshims.h"
#include "window/commands.h"
#include "window/defaults_file.h"
#include "window/globals.h"
#include "convert/ascii_replace.h"
#include "window/main_menu.h"
#include "screen/headless.h"
#include "screen/screen.h"
#include "setup/environment.h"
#include "setup/setup.h"
#include "support/scripted_keys.h"
#include "support/tempdir.h"
#include "support/x11_harness.h"
#include "widgets/title.h"

namespace {

constexpr unsigned char kF2 = 211, kF6 = 215, kF9 = 218, kF10 = 219, kEsc = 27;

struct ChoiceCase {
  unsigned char key;
  bool line;  // a line chosen with Enter or the mouse, not a key
  int code;
};

TEST(ChoiceCodes, KeysAndLinesMapToTheirCommands) {
  constexpr bool L = true, K = false;
  const ChoiceCase cases[] = {
      {211, K, 11}, {212, K, 12}, {213, K, 13}, {214, K, 14}, {215, K, 15}, {216, K, 16},
      {217, K, 17}, {218, K, 18},
      {0, L, 11},   {1, L, 12},   {7, L, 18},   {8, L, 19},   {9, L, 20},   {10, L, 21},
      {11, L, 22},
      {'b', K, 19}, {'B', K, 19}, {'t', K, 20}, {'T', K, 20}, {'i', K, 21}, {'I', K, 21},
      {27, K, 22},
      // Nothing: F1, F10, the menu's close code (clicks outside the list),
      // other letters and keys; key codes that equal line indices
      // (BackSpace 8, Tab 9, Ctrl+J 10, Ctrl+K 11, Ctrl+A 1).
      {210, K, 0},  {219, K, 0},  {0xFE, K, 0}, {'x', K, 0},  {12, K, 0},   {13, K, 0},
      {255, K, 0},  {8, K, 0},    {9, K, 0},    {10, K, 0},   {11, K, 0},   {1, K, 0},
      {0, K, 0},    {12, L, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(choice_code(c.key, c.line), c.code) << int(c.key);
}

class ProgramMenuTest : public ::testing::Test {
 protected:
  TempDir root{"m"};
  std::string home = root.mkdirs("h");
  std::string start = home + "/morva";
  std::string work = root.mkdirs("w");

  // Starts the program as main() does (in-memory screen), runs the main
  // loop with the keys set up by `script`, and returns the exit status.
  xh::ForkResult run(const std::function<void(ScriptedKeys&)>& script, int handoff = 0,
                     const std::function<void()>& before = {}) {
    return xh::run_forked([&]() -> int {
      setenv("HOME", home.c_str(), 1);
      if (chdir(work.c_str()) != 0) return 90;
      if (gethomedir() == nullptr || home != gethomedir()) return 91;
      set_builtin_format();
      headless_start();
      get_setup(1);
      ff.datecode = 0;
      loadsave_defaults(0, 0);
      if (before) before();
      ScriptedKeys keys;
      script(keys);
      main_loop(handoff);
    });
  }
  std::string dat() const { return start + "/morvautl.dat"; }
};

// Checked in the child: a failed check ends it with status 7.
void expect_on_screen(const char* text) {
  if (headless_screen().find(text) == std::string::npos) _exit(7);
}

TEST_F(ProgramMenuTest, F10AndClicksOutsideTheListStartNothing) {
  auto r = run([&](ScriptedKeys& k) {
    k.then_key(kF10);
    k.at_wait([] { expect_on_screen("<F2> = convert between TEXT"); });
    k.then_click(maxrow - 2, 2);  // below the list, inside the window
    k.at_wait([] { expect_on_screen("<F2> = convert between TEXT"); });
    k.then_key(kEsc);
  });
  EXPECT_EQ(r.status, 0);
  // Had the InvestorLink import run, it would have set its own settings and
  // they would not reach the file; nothing else may have been written.
  EXPECT_EQ(read_file(dat()).size(), 0u);
  EXPECT_FALSE(file_exists(start + "/exe.mrv"));
}

TEST_F(ProgramMenuTest, SiblingToolWritesTheHandOffFileAndSavesTheDefaults) {
  // The tool is present: the defaults are saved at once (and only then).
  ASSERT_TRUE(write_text(root.mkdirs("h/morva") + "/MORVACSI.EXE", "tool"));
  auto r = run([](ScriptedKeys& k) {
    k.then_key(kF6).then(" ").then_key(kF2).then("6").then("\x1b").then("\x1b");
  });
  EXPECT_EQ(r.status, 0);
  // exe.mrv is written where the program works (the start directory here).
  EXPECT_EQ(read_text(start + "/exe.mrv"), start);
  const char builtin[] = "\0DOHLCVI     \0,19600101\0\0";
  // Saved when the tool was prepared; the change made afterwards is not.
  EXPECT_EQ(read_file(dat()), Bytes(builtin, builtin + 25));
}

TEST_F(ProgramMenuTest, HandOffQuestionWritesTmpmorvaWithoutLineEnd) {
  // A chart stored earlier in the run (savenm) is offered after a command.
  auto r = run(
      [](ScriptedKeys& k) {
        k.then_key(kF9).then("\x1b").then("y");
      },
      1, [] { std::snprintf(savenm, sizeof savenm, "stk_i/ibm"); });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(read_text(start + "/tmpmorva"), "stk_i/ibm");
}

TEST_F(ProgramMenuTest, WithoutAnArgumentTheHandOffQuestionIsNeverAsked) {
  auto r = run([](ScriptedKeys& k) { k.then_key(kF9).then("\x1b").then("y").then_key(kEsc); }, 0,
               [] { std::snprintf(savenm, sizeof savenm, "stk_i/ibm"); });
  EXPECT_EQ(r.status, 0);
  EXPECT_FALSE(file_exists(start + "/tmpmorva"));
}

TEST_F(ProgramMenuTest, BloombergLineShowsItsMessage) {
  auto r = run([&](ScriptedKeys& k) {
    k.then("B")
        .at_wait([] { expect_on_screen("In MSwindows, execute MORVABL.EXE from its own shortcut icon."); })
        .then(" ")
        .then_key(kEsc);
  });
  EXPECT_EQ(r.status, 0);
}

TEST_F(ProgramMenuTest, AsciiListReplacesEachTextFileByItsStoredChartOnly) {
  root.mkdirs("h/morva");
  const std::string ibm = read_text(std::string(MORVA_SOURCE_DIR) + "/samples/ibm.txt");
  ASSERT_TRUE(write_text(start + "/ibm.txt", ibm));
  // Every bar lies before the start date: no chart is stored from it.
  const std::string old = "19500102,1,2,0.5,1.5,100,0\n19500103,1,2,0.5,1.5,100,0\n";
  ASSERT_TRUE(write_text(start + "/old.txt", old));
  ASSERT_TRUE(write_text(start + "/ASCII!.lst", "ibm.txt\nold.txt\n"));
  auto r = run([](ScriptedKeys& k) {
    k.then_key(kF2).then_key(kF2).then("ASCII!.lst\r");
    // old.txt stores no bar: said, and a key is waited for.
    k.at_wait([] { expect_on_screen("No bar was stored"); }).then(" ");
    k.at_wait([] { expect_on_screen("Erasing the ASCII file and replacing it with the MORVA format."); });
    k.then(" ").then("\x1b").then("\x1b");
  });
  EXPECT_EQ(r.status, 0);
  const Bytes chart = read_file(start + "/txt_i/ibm");
  ASSERT_EQ(chart.size(), 128u + 60u * 28u);
  EXPECT_EQ(read_file(start + "/ibm.txt"), chart);
  EXPECT_EQ(read_text(start + "/old.txt"), old);
}

// ---- The list of names, the name check, the ASCII replacement ----------

class ListTest : public ::testing::Test {
 protected:
  TempDir dir{"m"};
  ScopedChdir in{dir.path()};
  void SetUp() override {
    headless_start();
    exclamfile = 0;
  }
  int open_list(const std::string& name, const std::string& text) {
    EXPECT_TRUE(write_text(dir.file(name), text));
    std::snprintf(firstname, sizeof firstname, "%s", name.c_str());
    return ::open(name.c_str(), O_RDONLY);
  }
  // Names do_all yields until it stops.
  std::vector<std::string> drain(int fd) {
    std::vector<std::string> got;
    for (int i = 0; i < 20; ++i) {
      int f = do_all(exclambuf, &exclamfile, fd);
      if (!f) break;
      got.emplace_back(exclambuf);
      ::close(f);
    }
    return got;
  }
};

struct ListCase {
  const char* name;
  const char* text;
  std::vector<std::string> yields;
};

TEST_F(ListTest, ListsEndAtCaretEmptyLineEndOfFileOrAMissingEntry) {
  for (const char* f : {"a.txt", "b.txt", "c.txt"}) ASSERT_TRUE(write_text(dir.file(f), f));
  const ListCase cases[] = {
      {"all!.lst", "a.txt\nb.txt\nc.txt\n", {"a.txt", "b.txt", "c.txt"}},
      {"caret!", "a.txt\n^\nb.txt\n", {"a.txt"}},
      {"empty!", "a.txt\n\nb.txt\n", {"a.txt"}},
      {"crlf!", "a.txt\r\nb.txt\r\n", {"a.txt", "b.txt"}},
      {"missing!", "a.txt\nnosuch.txt\nb.txt\n", {"a.txt"}},
      {"no-end!", "c.txt", {"c.txt"}},
      {"my!names.lst", "b.txt\n", {"b.txt"}},  // '!' anywhere makes a list
  };
  for (const auto& c : cases) {
    int fd = open_list(c.name, c.text);
    ASSERT_GT(fd, 0);
    EXPECT_EQ(drain(fd), c.yields) << c.name;
    EXPECT_EQ(exclamfile, 1) << c.name;
    EXPECT_STREQ(exclambuf, "") << c.name;
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1) << c.name << ": the list is closed at its end";
  }
}

TEST_F(ListTest, EscWaitingBeforeTheNextEntryEndsTheList) {
  ASSERT_TRUE(write_text(dir.file("a.txt"), "a"));
  int fd = open_list("l!", "a.txt\na.txt\n");
  int f = do_all(exclambuf, &exclamfile, fd);
  ASSERT_GT(f, 0);
  ::close(f);
  headless_push_key(kEsc);
  EXPECT_EQ(do_all(exclambuf, &exclamfile, fd), 0);
}

TEST_F(ListTest, APlainNameIsPassedThrough) {
  int fd = open_list("plain.txt", "text");
  EXPECT_EQ(do_all(exclambuf, &exclamfile, fd), fd);
  EXPECT_EQ(exclamfile, 0);
  EXPECT_STREQ(exclambuf, "plain.txt");
  ::close(fd);
}

TEST_F(ListTest, EqualNamesAreRefused) {
  title = "HEADING";
  ScriptedKeys keys;
  std::string top;
  keys.at_wait([&] { top = headless_row(0); }).then(" ");
  EXPECT_EQ(not_differ("ibm.M", "ibm.M"), 1);
  EXPECT_EQ(top.substr(0, 46), "Use a name which differs from the source name.");
  EXPECT_EQ(headless_row(0).substr(0, 7), "HEADING");
  EXPECT_EQ(not_differ("ibm.M", "IBM.M"), 0);
  EXPECT_EQ(not_differ("ibm.M", "ibm.M "), 0);
}

TEST_F(ListTest, AsciiFileIsReplacedOnlyByACompleteChart) {
  Bytes chart(128 + 2 * 28, 0x20);
  for (std::size_t i = 128; i < chart.size(); ++i) chart[i] = static_cast<unsigned char>(i);
  struct Case {
    const char* name;
    Bytes chart;  // empty: no chart file
    bool replaced;
  };
  const Case cases[] = {
      {"complete", chart, true},
      {"partial bar", Bytes(chart.begin(), chart.end() - 5), false},
      {"header only", Bytes(chart.begin(), chart.begin() + 128), false},
      {"no chart", {}, false},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(write_text(dir.file("ascii.txt"), "20240102,1,2,0.5,1.5,100,0\n"));
    ::unlink(dir.file("stk_a/ascii").c_str());
    dir.mkdirs("stk_a");
    if (!c.chart.empty()) {
      ASSERT_TRUE(write_file(dir.file("stk_a/ascii"), c.chart));
    }
    EXPECT_EQ(ascii_replace("ascii.txt", "stk_a/ascii"), c.replaced ? 1 : 0) << c.name;
    if (c.replaced) {
      EXPECT_EQ(read_file(dir.file("ascii.txt")), chart) << c.name;
      EXPECT_EQ(read_file(dir.file("stk_a/ascii")), chart) << "the stored chart stays";
    } else {
      EXPECT_EQ(read_text(dir.file("ascii.txt")), "20240102,1,2,0.5,1.5,100,0\n") << c.name;
    }
  }
  EXPECT_EQ(ascii_replace("same", "same"), 0);
}

}  // namespace
