// The line editor and the top-row question against the in-memory screen.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "chartdata/osshims.h"
#include "support/tempdir.h"
#include "widget_fixture.h"
#include "widgets/prompt.h"

namespace {

using PromptTest = WidgetTest;

struct EditCase {
  const char* name;
  char cls;
  int len;
  char arrows;
  char terminate;
  const char* initial;                // buffer before the edit
  std::vector<unsigned char> keys;    // typed keys
  int expect_key;
  const char* expect_buf;             // compared over len characters or to the NUL
};

std::vector<unsigned char> text_keys(const char* s, std::vector<unsigned char> tail) {
  std::vector<unsigned char> v(s, s + std::strlen(s));
  v.insert(v.end(), tail.begin(), tail.end());
  return v;
}

TEST_F(PromptTest, EditCasesEndWithTheRightKeyAndText) {
  const std::string c21(21, 'c');
  const std::vector<EditCase> cases = {
      {"name field Enter", 'a', 21, 'n', 'y', "", text_keys("abc", {13}), 13, "abc"},
      {"name field Esc ends at cursor", 'a', 21, 'n', 'y', "zzzzzz", text_keys("ab", {27}), 27, "ab"},
      {"22nd character refused", 'a', 21, 'n', 'y', "", text_keys((c21 + "x").c_str(), {13}), 13,
       "ccccccccccccccccccccc"},
      {"backspace blanks the cell", 'a', 21, 'n', 'y', "", text_keys("abc", {8, 8, 'x', 13}), 13, "ax"},
      {"backspace at index 0 does nothing", 'a', 21, 'n', 'y', "", {8, 'q', 13}, 13, "q"},
      {"bar ends the edit", 'a', 21, 'n', 'y', "", text_keys("ab|", {}), 124, "ab"},
      {"function key ends the edit", 'a', 21, 'n', 'y', "", text_keys("ab", {218}), 218, "ab"},
      {"left without cursor keys ends", 'a', 21, 'n', 'y', "", text_keys("ab", {29}), 29, "ab"},
      {"date letter refused", 'n', 8, 'y', 'n', "19600101", text_keys("20x01", {13}), 13, "2001    "},
      {"date left at index 0 returns 29", 'n', 8, 'y', 'n', "19600101", {29}, 29, "19600101"},
      {"date left then overwrite", 'n', 8, 'y', 'n', "19600101", {'2', 29, '3', 13}, 13, "3       "},
      {"old order replaced by the typing", 'a', 12, 'y', 'n', "DOHLCMV     ", text_keys("DOHLCV", {13}), 13,
       "DOHLCV      "},
      {"after Home the typing goes over", 'a', 12, 'y', 'n', "DOHLCMV     ", {kKeyHome, 'S', 13}, 13,
       "SOHLCMV     "},
      {"after an arrow the typing goes over", 'a', 12, 'y', 'n', "DOHLCMV     ", {28, 'X', 13}, 13,
       "DXHLCMV     "},
      {"date right moves without change", 'n', 8, 'y', 'n', "19600101", {28, 28, '7', 13}, 13,
       "19700101"},
      {"date right at the end returns 28", 'n', 2, 'y', 'n', "12", {28, 28, 28}, 28, "12"},
      {"ninth digit refused", 'n', 8, 'y', 'n', "19600101", text_keys("200101019", {13}), 13,
       "20010101"},
      {"numeric class keeps signs and blanks", 'n', 8, 'y', 'y', "", text_keys("-1.5 +2", {13}), 13,
       "-1.5 +2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    char buf[64] = {};
    std::strcpy(buf, c.initial);
    for (unsigned char k : c.keys) headless_push_key(k);
    const int key = fgts(nullptr, c.cls, 4, 52, c.len, buf, c.arrows, c.terminate);
    EXPECT_EQ(key, c.expect_key);
    if (c.terminate == 'y')
      EXPECT_STREQ(buf, c.expect_buf);
    else
      EXPECT_EQ(std::string(buf, c.len), c.expect_buf);
    EXPECT_EQ(scr_csts(), 0) << "keys left unread";
    EXPECT_EQ(headless_starved(), 0);
  }
}

// The name field scrolls: a name longer than its cells is typed whole and
// shows its end; a name that would not fit the buffer is refused, never
// cut; a default shown in the field goes at the first character.
TEST_F(PromptTest, NameFieldScrollsOverLongNames) {
  const std::string sixty = "/home/trader/Downloads/a-long-folder/of-vendor-files/AAPL.csv";
  ASSERT_EQ(sixty.size(), 61u);
  char buf[128] = "old";
  headless_push_keys(sixty.c_str());
  headless_push_key(kKeyEnter);
  EXPECT_EQ(edit_name_field(4, 52, 21, buf, sizeof buf), kKeyEnter);
  EXPECT_EQ(std::string(buf), sixty);
  EXPECT_EQ(cells(4, 52, 21), sixty.substr(sixty.size() - 20) + " ");

  char small[8] = "";
  headless_push_keys("abcdefgh");
  headless_push_key(kKeyEnter);
  EXPECT_EQ(edit_name_field(4, 52, 21, small, sizeof small), kKeyEnter);
  EXPECT_STREQ(small, "abcdefg");

  char named[64] = "";
  std::string before;
  hook().on_key_taken = [&] {
    if (before.empty()) before = cells(4, 52, 21);
  };
  headless_push_keys("x");
  headless_push_key(kKeyEnter);
  EXPECT_EQ(edit_name_field(4, 52, 21, named, sizeof named, "sub/inner.txt"), kKeyEnter);
  EXPECT_EQ(before, "sub/inner.txt        ");
  EXPECT_STREQ(named, "x");
  EXPECT_EQ(cells(4, 52, 21), "x                    ");
}

// Row 0: the heading, and the folder at the right end; the home shows as
// "~", a long folder keeps its end, a long heading gives way to it.
TEST_F(PromptTest, TitleRowNamesTheFolder) {
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  struct Row {
    const char* heading;
    std::string folder;
    std::string starts, ends;
  };
  const std::string deep = "/srv/" + std::string(80, 'f') + "/charts";
  const Row rows[] = {
      {" Using this format: 19991231,DOHLCVI      ", "/srv/d", " Using this format: 19991231,DOHLCVI", "/srv/d"},
      {"<F3> = convert a MORVA DAILY to a MORVA WEEKLY or MONTHLY chart", deep, "<F3> = convert a MORVA",
       "fffff/charts"},
      {"T", "", "T", "T"},
  };
  for (const Row& r : rows) {
    const std::string t = title_row_text(r.heading, r.folder);
    EXPECT_LE(t.size(), 79u) << t;
    EXPECT_EQ(t.compare(0, r.starts.size(), r.starts), 0) << t;
    EXPECT_EQ(t.compare(t.size() - r.ends.size(), r.ends.size(), r.ends), 0) << t;
  }
  EXPECT_EQ(title_row_text("x", deep).size(), 79u);
  EXPECT_NE(title_row_text("x", deep).find("..."), std::string::npos);
  if (!home.empty() && home != "/" && gethomedir() && home == gethomedir()) {
    EXPECT_EQ(title_row_text("x", home + "/morva").substr(79 - 7), "~/morva");
  }
}

TEST_F(PromptTest, FieldEchoesTypingAndRemovesTheMarkAtTheEnd) {
  char buf[32] = {};
  headless_push_keys("ibm.txt");
  // The "<" mark is visible while editing: look at it when the last key is read.
  std::string while_editing;
  int taken = 0;
  hook().on_key_taken = [&] {
    if (++taken == 7) while_editing = cells(4, 73, 1);
  };
  headless_push_key(kKeyEnter);
  EXPECT_EQ(fgts(stdin, 'a', 4, 52, 21, buf, 'n', 'y'), 13);
  EXPECT_EQ(while_editing, "<");
  EXPECT_EQ(cells(4, 52, 8), "ibm.txt ");
  EXPECT_EQ(cells(4, 73, 1), " ");
  EXPECT_EQ(scr_srow(), 4);
  EXPECT_EQ(scr_scol(), 52);
}

TEST_F(PromptTest, ClickOnTheMinusButtonAreaIsEscape) {
  set_scr_area(0, 0, 0, 1, 1);
  char buf[32] = {};
  headless_push_keys("ab");
  headless_push_click(1, 0);
  EXPECT_EQ(fgts(nullptr, 'a', 4, 52, 21, buf, 'n', 'y'), 27);
  EXPECT_STREQ(buf, "ab");
}

TEST_F(PromptTest, ClickOnAnotherActiveAreaIsIgnored) {
  set_scr_area(6, 0, 0, 29, 79);
  char buf[32] = {};
  headless_push_click(10, 10);  // 255 from the key reader: ignored
  headless_push_keys("x\r");
  EXPECT_EQ(fgts(nullptr, 'a', 4, 52, 21, buf, 'n', 'y'), 13);
  EXPECT_STREQ(buf, "x");
}

struct MsgCase {
  const char* name;
  unsigned char key;
  char expect;
};

TEST_F(PromptTest, MsgWaitsAndReturnsTheKeyInLowerCase) {
  const MsgCase cases[] = {
      {"capital Y", 'Y', 'y'}, {"small y", 'y', 'y'}, {"Enter", 13, 13},
      {"Esc", 27, 27},         {"F2 unchanged", 211, static_cast<char>(211)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    // The answer is typed once the question is up: keys typed earlier are
    // thrown away.
    const unsigned char k = c.key;
    hook().on_empty_poll = [k] { headless_push_key(k); };
    EXPECT_EQ(msg("Overwrite? (y/n)->", "THE TITLE", 1), c.expect);
    EXPECT_EQ(cells(0, 0, 10), "THE TITLE ");
  }
}

TEST_F(PromptTest, MsgDiscardsKeysTypedBeforeTheQuestion) {
  // Both keys are waiting before the question: both are thrown away, and
  // the in-memory screen answers the empty read with Esc.
  headless_push_key('y');
  headless_push_key('n');
  EXPECT_EQ(msg("Question?", "", 1), 27);
  EXPECT_EQ(headless_starved(), 1);
}

TEST_F(PromptTest, MsgWithoutWaitLeavesTheKeyForTheNextRead) {
  scr_rowcol(7, 11);
  // The answer is typed once the question is up.
  hook().on_empty_poll = [] { headless_push_key('Y'); };
  EXPECT_EQ(msg("Is the screen centred?", "HEADING", 0), 'y');
  EXPECT_EQ(cells(0, 0, 8), "HEADING ");
  EXPECT_EQ(scr_srow(), 7);
  EXPECT_EQ(scr_scol(), 11);
  EXPECT_EQ(scr_getc(1), 'Y');  // still there, not lower-cased
  EXPECT_EQ(scr_csts(), 0);
}

TEST_F(PromptTest, TitleRowIsHighlightedInTheTitleColours) {
  // The folder shown at the row's right end is "/", clear of column 60.
  ScopedChdir root{"/"};
  color[0] = 14;
  colour(color[0]);
  scr_clr();
  hook().on_empty_poll = [] { headless_push_key('x'); };
  msg("Q", "T", 1);
  // A blank cell of row 0 takes the bright shade of the menu colour; a
  // cell of row 1 keeps the dark background.
  const int x = 60 * pixelspercol + 1, y = pixelsperrow / 2;
  EXPECT_EQ(headless_pixel(x, y), colour_seg[0x100 + 14]);
  EXPECT_EQ(headless_pixel(x, pixelsperrow + y), colour_seg[0x400 + 6]);
}

TEST_F(PromptTest, TitleColourNumbers) {
  const struct {
    unsigned char setup;
    int expect;
  } cases[] = {{7, 0x107}, {14, 0x10e}, {127, 0x17f}, {0x87, 0x107}, {0xff, 0x10f}};
  for (const auto& c : cases) {
    color[0] = c.setup;
    EXPECT_EQ(title_colour(), c.expect) << int(c.setup);
  }
}

TEST_F(PromptTest, ScreenErrorsAreShownAsAQuestionThatLeavesTheKey) {
  screen_set_error_reporter(report_screen_error);
  std::string shown;
  hook().on_empty_poll = [&] {
    shown = headless_row(0);
    headless_push_key('k');
  };
  headless_raise_error();
  const unsigned char key = scr_getc(1);  // the error is reported before the read
  screen_set_error_reporter(nullptr);
  EXPECT_EQ(shown.substr(0, 20), "Minor Xwindow error.");
  EXPECT_EQ(key, 'k');
  EXPECT_EQ(headless_placement().count, 1);
}

}  // namespace
