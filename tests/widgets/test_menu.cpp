// Menu windows and pop-up lists against the in-memory screen.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "widget_fixture.h"
#include "widgets/menu.h"

namespace {

// A word list that owns its texts: element 0 is the word, then the lines.
class Words {
 public:
  Words(std::string word, std::vector<std::string> lines) : texts_(std::move(lines)) {
    texts_.insert(texts_.begin(), std::move(word));
    for (const auto& t : texts_) ptrs_.push_back(t.c_str());
    ptrs_.push_back(nullptr);
  }
  WordList list() const { return ptrs_.data(); }
  const std::string& line(int i) const { return texts_[static_cast<std::size_t>(i) + 1]; }

 private:
  std::vector<std::string> texts_;
  std::vector<const char*> ptrs_;
};

Words numbered(int n, const char* word = "LIST") {
  std::vector<std::string> v;
  for (int i = 1; i <= n; ++i) {
    char b[16];
    std::snprintf(b, sizeof b, "line %02d", i);
    v.emplace_back(b);
  }
  return Words(word, v);
}

class MenuTest : public WidgetTest {
 protected:
  // A pop-up at rows 2.. with room for `rows` lines, left column 4.
  int run_popup(const Words& w, int rows, const std::vector<unsigned char>& keys, int accept = 1,
                char* result = nullptr, int columns = 1) {
    for (unsigned char k : keys) headless_push_key(k);
    return popmenu(w.list(), 2, 4, 2 + rows + 1, accept, result, columns, 0);
  }
  static constexpr int kLeft = 4;
  static constexpr int kTop = 2;
  // Column of the scroll marks for lines of `longest` characters.
  static int mark_col(int longest) { return kLeft + longest + 3; }
};

TEST_F(MenuTest, ShortListShowsAllLinesWithoutMarksAndReturnsTheIndex) {
  const Words w = numbered(5);
  for (int downs = 0; downs <= 6; ++downs) {
    SCOPED_TRACE(downs);
    SetUp();
    std::vector<unsigned char> keys(static_cast<std::size_t>(downs), 31);
    keys.push_back(13);
    char result[96] = {};
    EXPECT_EQ(run_popup(w, 10, keys, 1, result), std::min(downs, 4));
    EXPECT_STREQ(result, w.line(std::min(downs, 4)).c_str());
    for (int i = 0; i < 5; ++i) EXPECT_EQ(cells(kTop + 1 + i, kLeft + 2, 7), w.line(i));
    EXPECT_EQ(cells(kTop + 6, kLeft + 2, 7), std::string(7, ' '));
    EXPECT_EQ(cells(kTop + 1, mark_col(7), 1), " ");
    EXPECT_EQ(cells(kTop + 5, mark_col(7), 1), " ");
    EXPECT_EQ(maxvoffset, -5);
  }
}

TEST_F(MenuTest, PageDownScrollsByTheRowsLessTwoAndStopsAtTheEnd) {
  const Words w = numbered(40);
  const struct {
    int presses, voffset, popline;
  } cases[] = {{0, 0, 0}, {1, 8, 0}, {2, 16, 0}, {3, 24, 0}, {4, 30, 9}, {5, 30, 9}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.presses);
    SetUp();
    std::vector<unsigned char> keys(static_cast<std::size_t>(c.presses), 203);
    keys.push_back('q');
    EXPECT_EQ(run_popup(w, 10, keys), 'q');
    EXPECT_EQ(voffset, c.voffset);
    EXPECT_EQ(popline, c.popline);
    EXPECT_EQ(maxvoffset, 30);
    EXPECT_EQ(cells(kTop + 1, kLeft + 2, 7), w.line(c.voffset));
    EXPECT_EQ(cells(kTop + 10, kLeft + 2, 7), w.line(c.voffset + 9));
    EXPECT_EQ(cells(kTop + 1, mark_col(7), 1), c.voffset > 0 ? "^" : " ");
    EXPECT_EQ(cells(kTop + 10, mark_col(7), 1), c.voffset < 30 ? "Y" : " ");
  }
}

TEST_F(MenuTest, EnterAtTheEndOfAScrolledListReturnsTheLastIndex) {
  const Words w = numbered(40);
  char result[96] = {};
  EXPECT_EQ(run_popup(w, 10, {203, 203, 203, 203, 13}, 1, result), 39);
  EXPECT_STREQ(result, "line 40");
}

TEST_F(MenuTest, PageUpReturnsToTheTopAndTheFirstLine) {
  const Words w = numbered(40);
  EXPECT_EQ(run_popup(w, 10, {203, 203, 203, 203, 202, 'q'}), 'q');
  EXPECT_EQ(voffset, 22);
  EXPECT_EQ(popline, 9);
  EXPECT_EQ(run_popup(w, 10, {202, 202, 202, 'q'}), 'q');
  EXPECT_EQ(voffset, 0);
  EXPECT_EQ(popline, 0);
}

TEST_F(MenuTest, ArrowsScrollOneLineAtTheEdges) {
  const Words w = numbered(40);
  std::vector<unsigned char> keys(12, 31);  // 9 moves, then 3 scrolls
  keys.push_back(13);
  EXPECT_EQ(run_popup(w, 10, keys), 12);
  EXPECT_EQ(voffset, 3);
  // Up from the first visible row scrolls back one line.
  std::vector<unsigned char> up(11, 30);  // 9 moves, then 2 scrolls
  up.push_back(13);
  EXPECT_EQ(run_popup(w, 10, up), 1);
}

TEST_F(MenuTest, ReopeningKeepsTheHighlightedLineAndEscResetsIt) {
  const Words w = numbered(5);
  EXPECT_EQ(run_popup(w, 10, {31, 31, 13}), 2);
  EXPECT_EQ(run_popup(w, 10, {13}), 2);
  EXPECT_EQ(run_popup(w, 10, {31, 27}), 27);
  EXPECT_EQ(popline, 0);
  EXPECT_EQ(run_popup(w, 10, {13}), 0);
}

TEST_F(MenuTest, HighlightLeftFromATallerListStaysInsideTheBox) {
  const Words w = numbered(40);
  popline = 15;  // left by a list with more visible rows
  EXPECT_EQ(run_popup(w, 10, {13}), 0);
}

TEST_F(MenuTest, AcceptKeysReturnLetterKeysInLowerCaseAndOtherKeysUnchanged) {
  const Words w = numbered(5);
  const struct {
    unsigned char key;
    int accept;
    int expect;
  } cases[] = {
      {'B', 1, 98}, {'b', 1, 98}, {214, 1, 214}, {211, 1, 211}, {206, 1, 206},
      {'T', 1, 't'}, {'8', 1, 0},  // '8' moves up: then Enter chooses line 0
      {'B', 0, 0},                 // ignored without accept-keys, Enter chooses
      {207, 1, 207},               // Del copies the cell and returns 207
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.key) << " accept " << c.accept);
    SetUp();
    char result[96] = {};
    EXPECT_EQ(run_popup(w, 10, {c.key, 13}, c.accept, result), c.expect);
  }
}

TEST_F(MenuTest, SeveralColumnsMoveByCellAndReturnTheCellText) {
  auto row = [](const char* a, const char* b, const char* c, const char* d, const char* e) {
    char buf[80];
    std::snprintf(buf, sizeof buf, "%-13.13s%-13.13s%-13.13s%-13.13s%-13.13s", a, b, c, d, e);
    return std::string(buf);
  };
  const Words w("Directory", {row("../ EXIT", "alpha.txt", "beta/", "gamma.M", "delta"),
                              row("eps", "zeta", "", "", "")});
  const struct {
    std::vector<unsigned char> keys;
    int expect;
    const char* text;
  } cases[] = {
      {{13}, 13, "../ EXIT     "},
      {{28, 28, 13}, 13, "beta/        "},
      {{28, 28, 28, 28, 28, 28, 13}, 13, "delta        "},  // stops in the last cell
      {{29, 13}, 13, "../ EXIT     "},                      // stops in the first cell
      {{31, 28, 207}, 207, "zeta         "},
      {{28, 27}, 27, ""},
  };
  for (const auto& c : cases) {
    SetUp();
    char result[96] = {};
    EXPECT_EQ(run_popup(w, 10, c.keys, 1, result, 5), c.expect);
    EXPECT_STREQ(result, c.text);
  }
}

TEST_F(MenuTest, ClickOnALineChoosesTheLineUnderThePointer) {
  const Words w = numbered(5);
  headless_push_motion(kTop + 1 + 3, kLeft + 4);
  headless_push_click(kTop + 1 + 3, kLeft + 4);
  EXPECT_EQ(popmenu(w.list(), kTop, kLeft, 13, 1, nullptr, 1, 0), 3);
}

TEST_F(MenuTest, HoldingTheButtonOnTheDownMarkScrollsToTheEnd) {
  const Words w = numbered(40);
  const int markrow = kTop + 10, markcol = mark_col(7);
  headless_push_motion(markrow, markcol);
  headless_push_button_press(markrow, markcol);
  bool typed = false;
  hook().on_sleep = [&] {
    if (!typed && voffset == maxvoffset) {
      typed = true;
      headless_push_key('q');  // the user lets go and types
    }
  };
  EXPECT_EQ(popmenu(w.list(), kTop, kLeft, kTop + 11, 1, nullptr, 1, 0), 'q');
  EXPECT_EQ(voffset, 30);
}

TEST_F(MenuTest, PopupLeavesOnlyArea5Set) {
  const Words w = numbered(5);
  run_popup(w, 10, {13});
  for (int a : {2, 3, 4, 6}) EXPECT_FALSE(inside_scr_area(a, kTop + 1, kLeft + 2)) << a;
  EXPECT_TRUE(inside_scr_area(5, kTop, kLeft));
  EXPECT_TRUE(inside_scr_area(5, maxrow - 1, 79));
  EXPECT_FALSE(inside_scr_area(5, kTop - 1, kLeft));
}

// ---- Menu windows -------------------------------------------------------------

class WindowTest : public MenuTest {
 protected:
  MenuWindow win;
  void SetUp() override {
    MenuTest::SetUp();
    win = MenuWindow{};
    win.top = 0;
    win.left = 0;
    win.bottom = static_cast<short>(maxrow - 1);
    win.right = 79;
    win.colour = 7;
    win.columns = 1;
    win.result[kResultCloseCode] = 10;
  }
};

TEST_F(WindowTest, ArrowsOnASingleWordReopenTheSamePopup) {
  const Words file = numbered(12, "FILE");
  win.words[0] = file.list();
  for (unsigned char arrow : {28, 29}) {
    SetUp();
    win.words[0] = file.list();
    headless_push_key(kKeyDown);
    headless_push_key(arrow);
    headless_push_key(kKeyDown);
    headless_push_key(kKeyEnter);
    EXPECT_EQ(windows(&win), 2) << int(arrow);
    EXPECT_EQ(win.curword, 0);
    EXPECT_EQ(windowfunc_isactive, nullptr);
    EXPECT_EQ(cells(1, 5, 4), "FILE");
    EXPECT_EQ(cells(3, 6, 7), "line 01");  // the pop-up under the word
  }
}

TEST_F(WindowTest, ArrowsMoveBetweenWords) {
  const Words file = numbered(3, "FILE"), edit = numbered(4, "EDIT"), help = numbered(2, "HELP");
  win.words[0] = file.list();
  win.words[1] = edit.list();
  win.words[2] = help.list();
  headless_push_key(kKeyRight);
  headless_push_key(kKeyRight);
  headless_push_key(kKeyRight);  // on the last word: the same pop-up again
  headless_push_key(kKeyLeft);
  headless_push_key(kKeyEnter);
  EXPECT_EQ(windows(&win), 0);
  EXPECT_EQ(win.curword, 1);
  EXPECT_STREQ(win.result, "line 01");
  EXPECT_EQ(cells(1, 0, 21), "     FILE  EDIT  HELP");
}

TEST_F(WindowTest, ClicksOnTheMinusButtonOrOutsideReturnTheCloseCode) {
  const Words file = numbered(5, "FILE");
  const struct {
    int row, col;
  } clicks[] = {{0, 0}, {1, 1}, {25, 70}, {0, 40}};
  for (const auto& c : clicks) {
    SetUp();
    win.words[0] = file.list();
    headless_push_click(c.row, c.col);
    EXPECT_EQ(windows(&win), 10) << c.row << "," << c.col;
    EXPECT_EQ(windowfunc_isactive, nullptr);
  }
}

TEST_F(WindowTest, PointerOverAnotherWordOpensItsPopup) {
  const Words file = numbered(3, "FILE"), edit = numbered(4, "EDIT");
  win.words[0] = file.list();
  win.words[1] = edit.list();
  headless_push_motion(1, 12);  // over EDIT
  headless_push_key(kKeyDown);
  headless_push_key(kKeyEnter);
  EXPECT_EQ(windows(&win), 1);
  EXPECT_EQ(win.curword, 1);
  EXPECT_STREQ(win.result, "line 02");
}

TEST_F(WindowTest, WordWithoutLinesReturnsAtOnce) {
  const char* const help[] = {"HELP", nullptr};
  win.words[0] = help;
  std::strcpy(win.result, "old");
  EXPECT_EQ(windows(&win), 13);
  EXPECT_STREQ(win.result, "");
  EXPECT_EQ(cells(1, 5, 4), "HELP");
}

TEST_F(WindowTest, TitlePlacementDependsOnItsLength) {
  const char* const help[] = {"HELP", nullptr};
  const std::string t40(40, 'a'), t60(60, 'b'), t90 = std::string(73, 'c') + "DDDDDDDDDDDDDDDDD";
  const struct {
    const std::string* title;
    int offset, length;
  } cases[] = {{&t40, 24, 40}, {&t60, 18, 60}, {&t90, 2, 73}};
  for (const auto& c : cases) {
    SetUp();
    win.words[0] = help;
    win.title = c.title->c_str();
    windows(&win);
    const std::string row = headless_row(0);
    EXPECT_EQ(row.find_first_not_of(' '), static_cast<std::size_t>(c.offset));
    EXPECT_EQ(row.find_last_not_of(' '), static_cast<std::size_t>(c.offset + c.length - 1));
  }
}

TEST_F(WindowTest, WhichWordIsBeingPointed) {
  const Words a = numbered(1, "FILE"), b = numbered(1, "EDIT"), c = numbered(1, "X");
  win.left = 2;
  win.words[0] = a.list();
  win.words[1] = b.list();
  win.words[2] = c.list();
  // Words at offsets 5 (FILE), 11 (EDIT), 17 (X); each hit from one column
  // before to one after.
  const struct {
    int column, word, offset;
  } cases[] = {{6, 0, 5},  {11, 0, 5}, {12, 1, 11}, {17, 1, 11},
               {18, 2, 17}, {20, 2, 17}, {70, 2, 17}, {0, 2, 17}};
  for (const auto& k : cases) {
    EXPECT_EQ(which_word_is_being_pointed(&win, k.column), k.offset) << k.column;
    EXPECT_EQ(win.curword, k.word) << k.column;
  }
}

// ---- Highlight bar --------------------------------------------------------------

TEST_F(MenuTest, UnhighlightRestoresEveryPixelTheHighlightChanged) {
  for (int c : {7, 14, 3}) {
    SetUp();
    color[0] = static_cast<unsigned char>(c);
    colour(c);
    scr_clr();
    putsn("first line above", 4, 2, -1);
    putsn("The word gypsy jumps", 5, 2, -1);
    putsn("next line below", 6, 2, -1);
    auto snapshot = [] {
      std::vector<unsigned long> px;
      for (int y = 3 * pixelsperrow; y < 8 * pixelsperrow; ++y)
        for (int x = 0; x < 30 * pixelspercol; ++x) px.push_back(headless_pixel(x, y));
      return px;
    };
    const auto before = snapshot();
    highlightword(5, 2, 20, c);
    EXPECT_NE(snapshot(), before) << c;
    unhighlightword(5, 2, 20, c);
    EXPECT_EQ(snapshot(), before) << c;
  }
}

TEST_F(MenuTest, SaveFlagRestoresTheScreenAndStartsAtTheTop) {
  const Words w = numbered(40);
  voffset = 12;
  putsn("underneath", 5, 6, -1);
  auto snapshot = [] {
    std::vector<unsigned long> px;
    for (int y = 0; y < 15 * pixelsperrow; ++y)
      for (int x = 0; x < 20 * pixelspercol; ++x) px.push_back(headless_pixel(x, y));
    return px;
  };
  const auto before = snapshot();
  headless_push_key(kKeyEnter);
  EXPECT_EQ(popmenu(w.list(), kTop, kLeft, kTop + 11, 1, nullptr, 1, 1), 0);
  EXPECT_EQ(voffset, 0);
  EXPECT_EQ(snapshot(), before);
}

}  // namespace
