// The help viewer against the in-memory screen, with help files written
// into a temporary start directory.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <string>
#include <vector>

#include "support/tempdir.h"
#include "widget_fixture.h"
#include "widgets/help.h"

namespace {

class HelpTest : public WidgetTest {
 protected:
  TempDir start{"morva-hlp"};
  TempDir empty{"morva-nop"};
  ScopedEnv home{"HOME", nullptr};
  ScopedEnv path{"PATH", nullptr};

  void SetUp() override {
    WidgetTest::SetUp();
    ASSERT_LT(start.path().size(), sizeof startsubdir);
    std::strcpy(startsubdir, start.path().c_str());
    setenv("HOME", empty.path().c_str(), 1);
    setenv("PATH", empty.path().c_str(), 1);
    std::remove(start.file("m.hlp").c_str());
  }
  void write_help(const std::string& text) const { write_text(start.file("m.hlp"), text); }

  // Runs the viewer with `keys` and returns what row `row` showed each time
  // a key was taken.
  std::vector<std::string> run(int page, int npages, const std::vector<unsigned char>& keys,
                               int row = 3) {
    std::vector<std::string> shown;
    hook().forget_taken();
    hook().on_key_taken = [&shown, row] { shown.push_back(headless_row(row)); };
    for (unsigned char k : keys) headless_push_key(k);
    new_instructions(page, npages);
    hook().settle();
    hook().on_key_taken = nullptr;
    return shown;
  }
  // Each time a question has thrown away the keys typed before it, the
  // next of `answers` is typed.
  std::deque<unsigned char> answers_;
  void answer_questions(std::initializer_list<unsigned char> answers) {
    answers_.assign(answers.begin(), answers.end());
    arm();
  }
  void arm() {
    hook().on_empty_poll = [this] {
      if (answers_.empty()) return;
      headless_push_key(answers_.front());
      answers_.pop_front();
      arm();
    };
  }
  static std::string trim(std::string s) {
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
  }
  static std::vector<std::string> trimmed(std::vector<std::string> v) {
    for (auto& s : v) s = trim(s);
    return v;
  }
};

const char* const kPages =
    "#1 ONE\none\n#4 FOUR\nfour text\n#5 FIVE\nfive text\n#6 SIX\nsix\n#7\xff";

TEST_F(HelpTest, KeysPageForwardBackAndOut) {
  const struct {
    const char* name;
    std::vector<unsigned char> keys;
    std::vector<std::string> shown;  // row 3 at each key taken
  } cases[] = {
      {"two pages then out", {'x', 'x', 'z'}, {"   FOUR", "   FIVE"}},
      {"PgUp on the first page", {202, 'x', 'x', 'z'}, {"   FOUR", "   FOUR", "   FIVE"}},
      {"PgUp on the second page", {'x', 202, 'x', 'x', 'z'}, {"   FOUR", "   FIVE", "   FOUR", "   FIVE"}},
      {"Esc at once", {27, 'z'}, {"   FOUR"}},
      {"F10 at once", {219, 'z'}, {"   FOUR"}},
      {"Esc on the second page", {13, 27, 'z'}, {"   FOUR", "   FIVE"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    write_help(kPages);
    EXPECT_EQ(trimmed(run(4, 2, c.keys)), c.shown);
    EXPECT_EQ(scr_csts(), 'z') << "the viewer read too many keys";
    EXPECT_EQ(headless_starved(), 0);
  }
}

TEST_F(HelpTest, PageLayout) {
  write_help(kPages);
  run(4, 2, {27});
  EXPECT_EQ(cells(1, 5, 4), "HELP");
  EXPECT_EQ(trim(cells(3, 0, 20)), "   FOUR");
  EXPECT_EQ(trim(cells(4, 0, 20)), " four text");
  EXPECT_EQ(cells(28, 2, 43), " Press a key to continue or PgUp or ESCape ");
}

TEST_F(HelpTest, EndByteAfterTheNextMarkerEndsTheHelp) {
  write_help("#4 FOUR\nfour\n#5\xff never shown\n#6\n");
  EXPECT_EQ(trimmed(run(4, 2, {'x', 'z'})), std::vector<std::string>{"   FOUR"});
  EXPECT_EQ(scr_csts(), 'z');
  // PgUp still shows the page again before the end.
  EXPECT_EQ(trimmed(run(4, 2, {202, 'x', 'z'})), (std::vector<std::string>{"   FOUR", "   FOUR"}));
}

TEST_F(HelpTest, LongLinesAreCutAtTheScreenEdge) {
  std::string hundred;
  for (int i = 0; i < 100; ++i) hundred += static_cast<char>('a' + i % 10);
  write_help("#4" + hundred + "\nsecond\n" + hundred + "\nafter\n#5\n#6\xff");
  run(4, 2, {27});
  // The first line starts at column 2; its 78th character would fall on
  // column 79, outside the grid.
  EXPECT_EQ(cells(3, 2, 77), hundred.substr(0, 77));
  EXPECT_EQ(trim(cells(4, 0, 79)), " second");
  // Later lines show 78 characters from column 1; the rest is skipped.
  EXPECT_EQ(cells(5, 1, 78), hundred.substr(0, 78));
  EXPECT_EQ(trim(cells(6, 0, 79)), " after");
}

TEST_F(HelpTest, TabShowsAsFiveBlanks) {
  write_help("#4\tX\n\tY\n#5\xff");
  run(4, 2, {27});
  EXPECT_EQ(cells(3, 2, 6), "     X");
  EXPECT_EQ(cells(4, 1, 6), "     Y");
}

TEST_F(HelpTest, PageTooLongForTheScreenGoesOnToTheNextPage) {
  std::string text = "#4 FOUR\n";
  for (int i = 0; i < 40; ++i) text += "line " + std::to_string(i) + "\n";
  text += "#5 FIVE\nfive\n#6\xff";
  write_help(text);
  EXPECT_EQ(trimmed(run(4, 2, {'x', 'x', 'z'})), (std::vector<std::string>{"   FOUR", "   FIVE"}));
  EXPECT_EQ(scr_csts(), 'z');
  // 25 rows of text: rows 3..27, the prompt below.
  run(4, 2, {27});
  EXPECT_EQ(trim(cells(27, 0, 20)), " line 23");
}

TEST_F(HelpTest, MissingPageShowsTheFirstPage) {
  write_help("#2 TWO\ntwo\n#3 THREE\n#9\xff");
  EXPECT_EQ(trimmed(run(4, 2, {'x', 'x', 'z'})), (std::vector<std::string>{"   TWO", "   THREE"}));
}

TEST_F(HelpTest, EndOfFileInsideAPageEndsTheHelp) {
  write_help("#4 FOUR\nno closing marker");
  EXPECT_EQ(trimmed(run(4, 2, {'x', 'z'})), std::vector<std::string>{"   FOUR"});
  EXPECT_EQ(scr_csts(), 'z');
}

TEST_F(HelpTest, MissingFileAsksAgainUntilEsc) {
  const std::string rmissing = "M.HLP is missing. Replace the MORVA disk and press a key or ESCape.";
  answer_questions({'x', 'x', 27});
  const auto shown = run(4, 2, {}, 0);
  ASSERT_EQ(shown.size(), 3u);
  for (const auto& s : shown) EXPECT_EQ(trim(s), rmissing);
  EXPECT_TRUE(answers_.empty());
  EXPECT_EQ(headless_starved(), 0);
}

TEST_F(HelpTest, MissingFileRetriedAfterItAppears) {
  answer_questions({'x'});
  std::vector<std::string> shown;
  hook().on_key_taken = [&] {
    shown.push_back(trim(headless_row(3)));
    if (shown.size() == 1) {
      write_help(kPages);     // the user puts the disk back
      headless_push_key(kKeyEsc);  // and leaves the page that then shows
    }
  };
  new_instructions(4, 2);
  hook().settle();
  hook().on_key_taken = nullptr;
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[1], "   FOUR");
  EXPECT_EQ(headless_starved(), 0);
}

TEST_F(HelpTest, FoundAlongThePathWhenNotInTheStartDirectory) {
  TempDir bin("morva-bin");
  write_text(bin.file("m.hlp"), kPages);
  const std::string p = "/nonexistent-morva:" + bin.path();
  setenv("PATH", p.c_str(), 1);
  char before[PATH_MAX], after[PATH_MAX];
  ASSERT_TRUE(getcwd(before, sizeof before));
  EXPECT_EQ(trimmed(run(4, 2, {27})), std::vector<std::string>{"   FOUR"});
  ASSERT_TRUE(getcwd(after, sizeof after));
  EXPECT_STREQ(before, after) << "the viewer left the working directory elsewhere";
}

TEST_F(HelpTest, TheHelpFileOfTheProgramHasTheChooserPages) {
  write_text(start.file("m.hlp"), read_text(MORVA_SOURCE_DIR "/docs/m.hlp"));
  const auto shown = trimmed(run(4, 2, {'x', 'x', 'z'}));
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_NE(shown[0].find("FILE CHOOSER"), std::string::npos) << shown[0];
  EXPECT_NE(shown[1].find("DIRECTORY LISTING"), std::string::npos) << shown[1];
  EXPECT_EQ(scr_csts(), 'z');
}

TEST(FindPagenum, OffsetsOfMarkers) {
  const struct {
    const char* name;
    std::string text;
    int page;
    long expect;
  } cases[] = {
      {"second marker", "#1\nA\n#4\nB\n", 4, 5},
      {"first marker", "#1\nA\n#4\nB\n", 1, 0},
      {"absent page", "#1\nA\n#4\nB\n", 9, 0},
      {"number is compared whole", "#12\nx\n#1\n", 1, 6},
      {"end byte counts as a marker", "ab\xff" "4\n#4\n", 4, 2},
      {"marker without line end", "x#4", 4, 1},
      {"marker at the end of the file", "abc#", 4, 0},
      {"empty file", "", 1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    std::fwrite(c.text.data(), 1, c.text.size(), f);
    std::rewind(f);
    EXPECT_EQ(find_pagenum(c.page, f), c.expect);
    std::fclose(f);
  }
  EXPECT_EQ(find_pagenum(4, nullptr), 0);
}

}  // namespace
