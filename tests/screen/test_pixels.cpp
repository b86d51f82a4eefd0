// Colour table, pixels, highlighting and saved images on the in-memory
// screen (a 24-bit true-colour visual with the X colour database's values).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "screen/headless.h"
#include "screen/screen.h"

namespace {

class Pixels : public ::testing::Test {
 protected:
  void SetUp() override { headless_start(); }
};

std::vector<unsigned long> region(int x0, int y0, int w, int h) {
  std::vector<unsigned long> v;
  for (int y = y0; y < y0 + h; ++y)
    for (int x = x0; x < x0 + w; ++x) v.push_back(headless_pixel(x, y));
  return v;
}

struct ShadeCase {
  int colour;
  unsigned long bright, medium, dull, dark;
};

class Shades : public Pixels, public ::testing::WithParamInterface<ShadeCase> {};

TEST_P(Shades, EachShadeFromThePreviousAllocatedValues) {
  const auto& c = GetParam();
  EXPECT_EQ(colour_seg[BRIGHT * 256 + c.colour], c.bright);
  EXPECT_EQ(colour_seg[MEDIUM * 256 + c.colour], c.medium);
  EXPECT_EQ(colour_seg[DULL * 256 + c.colour], c.dull);
  EXPECT_EQ(colour_seg[DARK * 256 + c.colour], c.dark);
}

// 0xff -> 0xcccc (x 8/10) -> 0xcc; 0xcccc -> 0xa3d6 -> 0xa3; 0xa3a3 >> 1 -> 0x51.
INSTANTIATE_TEST_SUITE_P(Colours, Shades,
                         ::testing::Values(ShadeCase{0, 0, 0, 0, 0},
                                           ShadeCase{1, 0x00ffff, 0x00cccc, 0x00a3a3, 0x005151},
                                           ShadeCase{12, 0xffff00, 0xcccc00, 0xa3a300, 0x515100},
                                           ShadeCase{15, 0xffffff, 0xcccccc, 0xa3a3a3, 0x515151},
                                           // tomato 255 99 71
                                           ShadeCase{7, 0xff6347, 0xcc4f39, 0xa33f2d, 0x511f16}));

TEST_F(Pixels, OnlyTheSixteenEntriesOfEachShadeAreFilled) {
  for (int i = 0; i < 1280; ++i) {
    const int shade = i / 256, c = i % 256;
    if (shade == 0 || c >= 16) {
      EXPECT_EQ(colour_seg[i], 0UL) << i;
    }
  }
}

TEST_F(Pixels, UnknownColourNameIsWhiteInAllShades) {
  static const char* const missing[] = {"thistle", nullptr};
  headless_set_missing_colours(missing);
  testing::internal::CaptureStdout();
  headless_start();
  const std::string out = testing::internal::GetCapturedStdout();
  headless_set_missing_colours(nullptr);
  EXPECT_EQ(out, "\nXLookupColor failed: thistle. So, using white instead.");
  for (int s = BRIGHT; s <= DARK; ++s) EXPECT_EQ(colour_seg[s * 256 + 10], 0xffffffUL);
  EXPECT_EQ(colour_seg[DARK * 256 + 11], 0x37510eUL);  // GreenYellow unaffected
}

TEST_F(Pixels, ReverseLookupTakesTheFirstShadeThatMatches) {
  short out = -1;
  EXPECT_EQ(srchcolour(0, &out), 0);  // black: BRIGHT 0, though DARK 0 is black too
  EXPECT_EQ(out, 0x100);
  EXPECT_EQ(srchcolour(colour_seg[DULL * 256 + 5], &out), 5);
  EXPECT_EQ(out, 0x305);
  out = 77;
  EXPECT_EQ(srchcolour(0x123456, &out), 16);
  EXPECT_EQ(out, 77);
}

TEST_F(Pixels, PointsAndLinesTakeColourNumbers) {
  setpixeg(3, 3, 5);
  EXPECT_EQ(headless_pixel(3, 3), colour_seg[BRIGHT * 256 + 5]);
  setpixeg(4, 3, 0x405);
  EXPECT_EQ(headless_pixel(4, 3), colour_seg[DARK * 256 + 5]);
  setpixeg(5, 3, 0xff05);  // past the table: the BRIGHT shade of the low bits
  EXPECT_EQ(headless_pixel(5, 3), colour_seg[BRIGHT * 256 + 5]);
  const char flags[] = {1, 1, 0, 1};  // entry 0 is not used
  setpixeg_array(flags, 3, 10, 10, 0x20c);
  EXPECT_EQ(headless_pixel(9, 10), 0UL);  // the black of the screen after set-up
  EXPECT_EQ(headless_pixel(10, 10), colour_seg[MEDIUM * 256 + 12]);
  EXPECT_NE(headless_pixel(11, 10), colour_seg[MEDIUM * 256 + 12]);
  EXPECT_EQ(headless_pixel(12, 10), colour_seg[MEDIUM * 256 + 12]);
  line(20, 30, 20, 40, 3);
  for (int y = 30; y <= 40; ++y) EXPECT_EQ(headless_pixel(20, y), colour_seg[BRIGHT * 256 + 3]);
}

TEST_F(Pixels, ImagesReadColoursAndTheCacheIsReleased) {
  setpixeg(7, 9, 0x30a);
  std::unique_ptr<ScreenImage, void (*)(ScreenImage*)> img(imageRect(5, 5, 10, 10), freeImage);
  ASSERT_TRUE(img);
  EXPECT_EQ(img->width, 6);
  EXPECT_EQ(getpixeg(img.get(), 2, 4), 10);
  EXPECT_EQ(getpixeg(img.get(), 6, 0), 16);  // outside the image
  EXPECT_EQ(full_getpixeg_rect(5, 5, 10, 10, 2, 4), 0x30a);
  setpixeg(7, 9, 0x101);
  EXPECT_EQ(full_getpixeg_rect(5, 5, 10, 10, 2, 4), 0x30a);  // still the cached image
  EXPECT_EQ(full_getpixeg_rect(0, -1, 0, 0, 0, 0), 0);
  EXPECT_EQ(full_getpixeg_rect(5, 5, 10, 10, 2, 4), 0x101);
  full_getpixeg_rect(0, -1, 0, 0, 0, 0);
}

struct HighlightCase {
  int text_colour;
  int colour_number;
};

class HighlightTwice : public Pixels, public ::testing::WithParamInterface<HighlightCase> {};

TEST_P(HighlightTwice, RestoresEveryPixel) {
  const auto& h = GetParam();
  colour(static_cast<unsigned>(h.text_colour));
  putsn(" Convert  Settings  Quit ", 2, 3, -1);
  const int x0 = 3 * pixelspercol, y0 = 2 * pixelsperrow, w = 25 * pixelspercol;
  const auto before = region(x0, y0, w, pixelsperrow);
  scr_inverse_atr(2, 3, 25, h.colour_number);
  const auto once = region(x0, y0, w, pixelsperrow);
  scr_inverse_atr(2, 3, 25, h.colour_number);
  EXPECT_NE(once, before);
  EXPECT_EQ(region(x0, y0, w, pixelsperrow), before);
  // The last pixel row of the cells is never touched.
  EXPECT_EQ(region(x0, y0 + pixelsperrow - 1, w, 1), std::vector<unsigned long>(before.end() - w, before.end()));
}

INSTANTIATE_TEST_SUITE_P(Colours, HighlightTwice,
                         ::testing::Values(HighlightCase{7, 0x107}, HighlightCase{14, 0x10e},
                                           HighlightCase{8, 0x108},  // DARK 0 is the black of BRIGHT 0
                                           HighlightCase{3, 0x103}, HighlightCase{11, 0xff0b}));

TEST_F(Pixels, HighlightSwapsTextAndBackground) {
  colour(14);
  putsn("W", 0, 0, -1);
  // Find a glyph pixel and a background pixel of the cell.
  int gx = -1, bx = -1, y = 5;
  for (int x = 0; x < pixelspercol; ++x) {
    if (headless_pixel(x, y) == colour_seg[BRIGHT * 256 + 14]) gx = x;
    if (headless_pixel(x, y) == colour_seg[DARK * 256 + 6]) bx = x;
  }
  ASSERT_GE(gx, 0);
  ASSERT_GE(bx, 0);
  scr_inverse_atr(0, 0, 1, 0x10e);
  EXPECT_EQ(headless_pixel(gx, y), colour_seg[DARK * 256 + 6]);
  EXPECT_EQ(headless_pixel(bx, y), colour_seg[BRIGHT * 256 + 14]);
}

TEST_F(Pixels, HighlightStaysReadableInEveryColour) {
  // A field highlighted in the colour it was drawn in (text c on DARK
  // c & 7): the cells turn to the text colour and the glyphs keep a colour
  // of their own, also where text and background share a colour index.
  // (Colour 0 is black on black before any highlight.)
  for (int c = 1; c < 16; ++c) {
    colour(static_cast<unsigned>(c));
    putsn("WWW", 5, 5, -1);
    scr_inverse_atr(5, 5, 3, c);
    const auto px = region(5 * pixelspercol, 5 * pixelsperrow, 3 * pixelspercol, pixelsperrow - 1);
    std::size_t cells = 0;
    for (unsigned long p : px) cells += p == colour_seg[BRIGHT * 256 + c];
    EXPECT_GT(cells, px.size() / 2) << "colour " << c;  // the highlight is there
    EXPECT_LT(cells, px.size()) << "colour " << c;      // and the letters too
  }
}

TEST_F(Pixels, HighlightIsClippedToTheWindow) {
  colour(9);
  putsn(std::string(79, '=').c_str(), maxrow - 1, 0, -1);
  const auto before = region(0, 0, scrwidth, scrheight);
  scr_inverse_atr(maxrow + 3, 0, 80, 0x109);  // below the grid: the last row; 80 cells: 79
  scr_inverse_atr(maxrow + 3, 0, 80, 0x109);
  EXPECT_EQ(region(0, 0, scrwidth, scrheight), before);
  scr_inverse_atr(maxrow - 1, 0, 80, 0x109);
  EXPECT_NE(region(0, 0, scrwidth, scrheight), before);
}

TEST_F(Pixels, NoHighlightOutsideThePixelMode) {
  colour(9);
  putsn("text", 1, 1, -1);
  const auto before = region(0, 0, 100, 40);
  scr_mode = 'T';
  scr_ch_atr(1, 1, 4, 0x109);
  scr_mode = 'P';
  EXPECT_EQ(region(0, 0, 100, 40), before);
}

TEST_F(Pixels, ClearsAndTheTitleBarReachTheRightEdge) {
  // 1280 wide: 79 cells of 14 pixels and a 14-pixel strip, the 80th cell.
  headless_start(1280);
  ASSERT_GT(scrwidth, maxcol * pixelspercol);
  const int x = scrwidth - 1;
  colour(3);
  scr_clr();
  EXPECT_EQ(headless_pixel(x, 2 * pixelsperrow + 3), colour_seg[DARK * 256 + 3]);
  colour(5);
  scr_rowcol(2, 10);
  scr_clrl();
  EXPECT_EQ(headless_pixel(x, 2 * pixelsperrow + 3), colour_seg[DARK * 256 + 5]);
  scr_scrup(0, 4, 0, 6, 79);
  EXPECT_EQ(headless_pixel(x, 5 * pixelsperrow + 3), colour_seg[DARK * 256 + 5]);
  // The title row highlighted over 80 cells: the last one too.
  scr_rowcol(0, 0);
  scr_clrl();
  scr_inverse_atr(0, 0, 80, 0x105);
  EXPECT_EQ(headless_pixel(x, 3), colour_seg[BRIGHT * 256 + 5]);
}

TEST_F(Pixels, SavedImageComesBackWithItsText) {
  Xfetch();  // nothing saved: nothing happens
  colour(4);
  putsn("under the pop-up", 6, 6, -1);
  const auto before = region(0, 0, scrwidth, scrheight);
  Xsave();
  scr_scrup(0, 5, 5, 8, 30);
  line(0, 0, 300, 300, 0x401);
  scr_rowcol(1, 2);
  Xfetch();
  EXPECT_EQ(region(0, 0, scrwidth, scrheight), before);
  EXPECT_EQ(headless_row(6).substr(6, 16), "under the pop-up");
  EXPECT_EQ(scr_srow(), 1);
  EXPECT_EQ(scr_scol(), 2);
}

}  // namespace
