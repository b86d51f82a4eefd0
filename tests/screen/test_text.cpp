// Text output on the in-memory screen: putsn's segments, carriage returns
// and line feeds, ftos's field rules, the clears and scrolls, all read back
// from the shadow text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "screen/headless.h"
#include "screen/screen.h"

namespace {

std::string text_at(int row, int col, int n) {
  char buf[100];
  scr_readtext(row, col, n, buf);
  return buf;
}

std::string blank_screen() {
  std::string s;
  for (int r = 0; r < maxrow; ++r) s += std::string(79, ' ') + "\n";
  return s;
}

class Text : public ::testing::Test {
 protected:
  void SetUp() override { headless_start(); }
};

struct PutsCase {
  const char* name;
  const char* text;
  int row, col, n;
  int end_row, end_col;
  // Expected rows of the shadow text: (row, col, text).
  struct Cell {
    int row, col;
    const char* text;
  } cells[3];
};

class Puts : public Text, public ::testing::WithParamInterface<PutsCase> {};

TEST_P(Puts, WritesSegmentsAndMovesThePosition) {
  const auto& c = GetParam();
  scr_rowcol(1, 1);
  putsn(c.text, c.row, c.col, c.n);
  EXPECT_EQ(scr_srow(), c.end_row);
  EXPECT_EQ(scr_scol(), c.end_col);
  for (const auto& cell : c.cells) {
    if (!cell.text) continue;
    EXPECT_EQ(text_at(cell.row, cell.col, static_cast<int>(std::strlen(cell.text))), cell.text)
        << "row " << cell.row << " col " << cell.col;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Puts,
    ::testing::Values(
        PutsCase{"LineFeedKeepsTheStartColumn", "abc\ndef", 5, 10, -1, 6, 13,
                 {{5, 9, " abc "}, {6, 9, " def "}, {}}},
        PutsCase{"CarriageReturnLineFeedStartsAtColumn0", "ab\r\ncd", 2, 30, -1, 3, 2,
                 {{2, 30, "ab"}, {3, 0, "cd "}, {}}},
        PutsCase{"LoneCarriageReturnOverwritesFromColumn0", "hello\rHE", 4, 5, -1, 4, 2,
                 {{4, 0, "HE   hello"}, {}, {}}},
        PutsCase{"OneCharacterKeepsTheColumn", "x", 3, 4, 1, 3, 4, {{3, 4, "x"}, {}, {}}},
        PutsCase{"CountCutsTheText", "abcdef", 7, 0, 3, 7, 3, {{7, 0, "abc "}, {}, {}}},
        PutsCase{"RowBeyondTheGridStoresNothing", "abc", 30, 0, -1, 30, 0, {{29, 0, "   "}, {}, {}}},
        PutsCase{"ColumnStopsAtTheRightEdge", "abcdefgh", 9, 75, -1, 9, 79, {{9, 75, "abcd"}, {}, {}}},
        PutsCase{"LineFeedPastTheLastRowKeepsTheRow", "a\nb\nc", 28, 0, -1, 29, 1,
                 {{28, 0, "a"}, {29, 0, "b"}, {}}},
        PutsCase{"NegativeRowWritesAtTheCurrentPosition", "zz", -1, 40, -1, 1, 3, {{1, 1, "zz"}, {}, {}}},
        PutsCase{"ControlCharacterJustPastTheCountIsNotRead", "abc\ndef", 12, 0, 3, 12, 3,
                 {{12, 0, "abc"}, {13, 0, "   "}, {}}}),
    [](const auto& info) { return std::string(info.param.name); });

struct FtosCase {
  double value;
  int width, precision;
  const char* text;
};

class Ftos : public Text, public ::testing::WithParamInterface<FtosCase> {};

TEST_P(Ftos, FormatsIntoTheField) {
  const auto& c = GetParam();
  char buf[64];
  EXPECT_STREQ(ftos(c.value, buf, static_cast<signed char>(c.width), static_cast<signed char>(c.precision)), c.text);
  // Drawn at the current position, the same text goes to the shadow text.
  scr_rowcol(10, 20);
  EXPECT_EQ(ftos(c.value, nullptr, static_cast<signed char>(c.width), static_cast<signed char>(c.precision)),
            nullptr);
  EXPECT_EQ(text_at(10, 20, static_cast<int>(std::strlen(c.text))), c.text);
  EXPECT_EQ(scr_scol(), 20 + static_cast<int>(std::strlen(c.text)));
}

INSTANTIATE_TEST_SUITE_P(Cases, Ftos,
                         ::testing::Values(FtosCase{12345.5, 3, 3, "12345.5"},  // decimals cut
                                           FtosCase{12.5, 3, 3, " 12.500"},
                                           FtosCase{123.0, 5, 0, "   123"},
                                           FtosCase{-1.25, 4, 2, "  -1.25"},
                                           FtosCase{0.5, 1, 1, "0.5"},
                                           FtosCase{1234567.0, 2, 0, "1234567"},
                                           FtosCase{98765.4321, 6, 2, " 98765.43"}));

TEST_F(Text, FtosStopsAtTheRightEdge) {
  scr_rowcol(3, 76);
  ftos(12.5, nullptr, 3, 3);
  EXPECT_EQ(text_at(3, 76, 3), " 12");
  EXPECT_EQ(scr_scol(), 79);
}

TEST_F(Text, ClearToEndOfLineKeepsThePosition) {
  putsn(std::string(79, 'x').c_str(), 4, 0, -1);
  scr_rowcol(4, 70);
  scr_clrl();
  EXPECT_EQ(text_at(4, 60, 19), "xxxxxxxxxx         ");
  EXPECT_EQ(scr_srow(), 4);
  EXPECT_EQ(scr_scol(), 70);
  scr_rowcol(4, 79);
  scr_clrl();  // nothing left to clear
  EXPECT_EQ(text_at(4, 0, 1), "x");
}

TEST_F(Text, ClearToEndOfScreen) {
  for (int r = 0; r < maxrow; ++r) putsn("row", r, 0, -1);
  scr_rowcol(10, 1);
  scr_cls();
  EXPECT_EQ(text_at(9, 0, 3), "row");
  EXPECT_EQ(text_at(10, 0, 3), "r  ");
  EXPECT_EQ(text_at(11, 0, 3), "   ");
  EXPECT_EQ(text_at(maxrow - 1, 0, 3), "   ");
  EXPECT_EQ(scr_srow(), 10);
  EXPECT_EQ(scr_scol(), 1);
}

TEST_F(Text, ClearScreenHomesAndPaintsTheBackground) {
  putsn("something", 7, 7, -1);
  colour(3);
  scr_clr();
  EXPECT_EQ(headless_screen(), blank_screen());
  EXPECT_EQ(scr_srow(), 0);
  EXPECT_EQ(scr_scol(), 0);
  EXPECT_EQ(headless_pixel(300, 200), colour_seg[DARK * 256 + 3]);
}

TEST_F(Text, ModeResetGivesAFreshBlankGrid) {
  putsn("left over", 2, 2, -1);
  scr_setmode(80);
  scr_setmode(80);
  EXPECT_EQ(headless_screen(), blank_screen());
  EXPECT_EQ(scr_srow(), 0);
}

TEST_F(Text, ScrollWithZeroBlanksTheRegion) {
  for (int r = 0; r < 12; ++r) putsn(std::string(79, 'a' + r).c_str(), r, 0, -1);
  colour(2);
  scr_scrup(0, 2, 0, 9, 79);
  EXPECT_EQ(headless_row(1), std::string(79, 'b'));
  for (int r = 2; r <= 9; ++r) EXPECT_EQ(headless_row(r), std::string(79, ' ')) << r;
  EXPECT_EQ(headless_row(10), std::string(79, 'k'));
  EXPECT_EQ(headless_pixel(600, 5 * pixelsperrow + 3), colour_seg[DARK * 256 + 2]);

  scr_scrdn(0, 10, 5, 10, 9);
  EXPECT_EQ(headless_row(10).substr(3, 8), "kk     k");
  scr_scrup(0, 11, 9, 11, 5);  // right < left: nothing
  EXPECT_EQ(headless_row(11), std::string(79, 'l'));
}

TEST_F(Text, ScrollByRowsMovesTextAndPixels) {
  for (int r = 0; r < 6; ++r) putsn(std::string(10, 'a' + r).c_str(), r, 0, -1);
  const unsigned long glyph_row3 = headless_pixel(4, 3 * pixelsperrow + 5);
  scr_scrup(2, 1, 0, 5, 9);
  EXPECT_EQ(text_at(1, 0, 10), "dddddddddd");
  EXPECT_EQ(text_at(3, 0, 10), "ffffffffff");
  EXPECT_EQ(text_at(4, 0, 10), "          ");
  EXPECT_EQ(text_at(5, 0, 10), "          ");
  EXPECT_EQ(text_at(0, 0, 10), "aaaaaaaaaa");
  EXPECT_EQ(headless_pixel(4, 1 * pixelsperrow + 5), glyph_row3);

  scr_scrdn(1, 0, 0, 3, 9);
  EXPECT_EQ(text_at(0, 0, 10), "          ");
  EXPECT_EQ(text_at(1, 0, 10), "aaaaaaaaaa");
  EXPECT_EQ(text_at(2, 0, 10), "dddddddddd");
}

TEST_F(Text, ScrollRegionBelowTheGridIsClipped) {
  putsn("last", maxrow - 1, 0, -1);
  scr_scrup(0, maxrow - 2, 0, maxrow + 5, 79);  // must not write past the shadow text
  EXPECT_EQ(text_at(maxrow - 1, 0, 4), "    ");
}

}  // namespace
