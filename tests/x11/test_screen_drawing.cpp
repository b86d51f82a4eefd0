// Drawing on the real window: text and clears land in the shadow text and
// in the right pixel colours, highlighting twice gives back the very same
// pixels, saved images come back, and a picture of the 16 colours.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>

#include "screen/screen.h"
#include "support/x11_harness.h"

namespace {

// Owned for the suite: its server and window end with TearDownTestSuite.
std::unique_ptr<xh::InProcessScreen> g_screen;

class Drawing : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!g_screen) g_screen = std::make_unique<xh::InProcessScreen>(1024, "drawing test");
  }
  static void TearDownTestSuite() { g_screen.reset(); }
  void SetUp() override {
    ASSERT_TRUE(g_screen && g_screen->ok());
    colour(7);
    scr_clr();
  }
};

std::string text_at(int row, int col, int n) {
  char buf[100];
  scr_readtext(row, col, n, buf);
  return buf;
}

using Image = std::unique_ptr<ScreenImage, void (*)(ScreenImage*)>;
Image grab(int top, int left, int bottom, int right) {
  return Image(imageRect(top, left, bottom, right), freeImage);
}

unsigned long pixel_at(int x, int y) {
  Image img = grab(y, x, y, x);
  return img ? img->at(0, 0) : ~0UL;
}

TEST_F(Drawing, TextGoesToShadowTextAndPixels) {
  colour(12);
  putsn("abc\ndef", 5, 10, -1);
  EXPECT_EQ(text_at(5, 10, 3), "abc");
  EXPECT_EQ(text_at(6, 10, 3), "def");
  EXPECT_EQ(scr_srow(), 6);
  EXPECT_EQ(scr_scol(), 13);
  // The cells of "def" hold glyph pixels in BRIGHT 12 on DARK 4; only a
  // pixel row the font's box does not reach keeps the cleared background.
  Image img = grab(6 * pixelsperrow, 10 * pixelspercol, 7 * pixelsperrow - 1, 13 * pixelspercol - 1);
  ASSERT_TRUE(img);
  int fg = 0, bg = 0, other = 0;
  for (unsigned long p : img->pixels) {
    if (p == colour_seg[BRIGHT * 256 + 12])
      ++fg;
    else if (p == colour_seg[DARK * 256 + 4])
      ++bg;
    else if (p != colour_seg[DARK * 256 + 7])  // cleared in colour(7)
      ++other;
  }
  EXPECT_GT(fg, 10);
  EXPECT_GT(bg, fg);
  EXPECT_EQ(other, 0);

  char buf[20];
  EXPECT_STREQ(ftos(12345.5, buf, 3, 3), "12345.5");
  scr_rowcol(8, 0);
  ftos(12.5, nullptr, 3, 3);
  EXPECT_EQ(text_at(8, 0, 7), " 12.500");
  EXPECT_EQ(scr_scol(), 7);
}

TEST_F(Drawing, ClearsPaintTheAttributeBackground) {
  putsn("xxxxxxxxxx", 3, 0, -1);
  colour(3);  // background DARK 3
  scr_rowcol(3, 4);
  scr_clrl();
  EXPECT_EQ(text_at(3, 0, 10), "xxxx      ");
  EXPECT_EQ(pixel_at(6 * pixelspercol + 2, 3 * pixelsperrow + 2), colour_seg[DARK * 256 + 3]);

  colour(5);
  scr_clr();
  EXPECT_EQ(scr_srow(), 0);
  EXPECT_EQ(text_at(3, 0, 10), "          ");
  EXPECT_EQ(pixel_at(100, 100), colour_seg[DARK * 256 + 5]);

  putsn("zzzzz", 4, 0, -1);
  colour(2);
  scr_scrup(0, 2, 0, 9, 79);
  EXPECT_EQ(text_at(4, 0, 5), "     ");
  EXPECT_EQ(pixel_at(2, 4 * pixelsperrow + 2), colour_seg[DARK * 256 + 2]);
}

struct Highlight {
  int colour_number;
  int text_colour;
};

class HighlightTwice : public Drawing, public ::testing::WithParamInterface<Highlight> {};

TEST_P(HighlightTwice, RestoresEveryPixel) {
  const auto h = GetParam();
  colour(static_cast<unsigned>(h.text_colour));
  putsn(" File  Edit  Options ", 0, 0, -1);
  const int top = 0, bottom = pixelsperrow - 1, right = 21 * pixelspercol - 1;
  Image before = grab(top, 0, bottom, right);
  ASSERT_TRUE(before);
  scr_inverse_atr(0, 0, 21, h.colour_number);
  Image once = grab(top, 0, bottom, right);
  scr_inverse_atr(0, 0, 21, h.colour_number);
  Image twice = grab(top, 0, bottom, right);
  ASSERT_TRUE(once && twice);
  EXPECT_NE(once->pixels, before->pixels);
  EXPECT_EQ(twice->pixels, before->pixels);
  // The shadow text is not touched by highlighting.
  EXPECT_EQ(text_at(0, 0, 21), " File  Edit  Options ");
}

INSTANTIATE_TEST_SUITE_P(Colours, HighlightTwice,
                         ::testing::Values(Highlight{0x100 | 7, 7}, Highlight{0x100 | 14, 14},
                                           Highlight{0x100 | 9, 9}, Highlight{0x100 | 8, 8},
                                           Highlight{0xff00 | 11, 11}));

TEST_F(Drawing, SavedImageComesBackWithItsText) {
  colour(11);
  putsn("under the pop-up", 10, 10, -1);
  Xsave();
  Image before = grab(0, 0, scrheight - 1, scrwidth - 1);
  colour(1);
  scr_scrup(0, 8, 5, 14, 40);
  line(0, 0, scrwidth - 1, scrheight - 1, 0x300 | 4);
  scr_rowcol(2, 3);
  Xfetch();
  Image after = grab(0, 0, scrheight - 1, scrwidth - 1);
  ASSERT_TRUE(before && after);
  EXPECT_EQ(after->pixels, before->pixels);
  EXPECT_EQ(scr_srow(), 2);
  EXPECT_EQ(text_at(10, 10, 16), "under the pop-up");  // the shadow text matches the pixels
}

TEST_F(Drawing, PixelsAndLinesInShades) {
  setpixeg(5, 5, 0x300 | 6);
  EXPECT_EQ(pixel_at(5, 5), colour_seg[DULL * 256 + 6]);
  char flags[6] = {0, 1, 0, 1, 1, 0};
  setpixeg_array(flags, 5, 20, 7, 9);
  EXPECT_EQ(pixel_at(20, 7), colour_seg[BRIGHT * 256 + 9]);
  EXPECT_NE(pixel_at(21, 7), colour_seg[BRIGHT * 256 + 9]);
  EXPECT_EQ(pixel_at(23, 7), colour_seg[BRIGHT * 256 + 9]);
  line(40, 10, 60, 10, 0x200 | 13);
  EXPECT_EQ(pixel_at(50, 10), colour_seg[MEDIUM * 256 + 13]);
  short shade = 0;
  EXPECT_EQ(srchcolour(pixel_at(50, 10), &shade), 13);
  EXPECT_EQ(shade, 0x200 | 13);
}

TEST_F(Drawing, PictureOfTheSixteenColours) {
  static const char* names[16] = {"black", "cyan", "aquamarine", "SkyBlue", "DodgerBlue", "LightSalmon",
                                  "Orange", "tomato", "Violet", "PaleVioletRed", "thistle", "GreenYellow",
                                  "yellow", "pale goldenrod", "bisque", "white"};
  colour(15);
  putsn("Colour  Name             Text in the colour on its own dark shade", 1, 2, -1);
  for (int c = 0; c < 16; ++c) {
    char line_text[80];
    std::snprintf(line_text, sizeof line_text, " %2d     %-16s ", c, names[c]);
    colour(15);
    putsn(line_text, 3 + c, 2, -1);
    colour(static_cast<unsigned>(c));
    putsn(" The quick brown fox jumps 0123456789 ", 3 + c, 28, -1);
  }
  // The shades of every colour as bars: BRIGHT, MEDIUM, DULL, DARK.
  for (int c = 0; c < 16; ++c)
    for (int s = BRIGHT; s <= DARK; ++s)
      for (int y = 0; y < pixelsperrow - 2; ++y)
        line(68 * pixelspercol + (s - 1) * 2 * pixelspercol, (3 + c) * pixelsperrow + y,
             68 * pixelspercol + (s - 1) * 2 * pixelspercol + 2 * pixelspercol - 3, (3 + c) * pixelsperrow + y,
             s * 256 + c);
  colour(14);
  putsn(" Highlighted run in colour 14 ", 21, 2, -1);
  putsn(" The same run, plain ", 21, 40, -1);
  scr_inverse_atr(21, 2, 30, 0x100 | 14);
  pixel_at(0, 0);  // a round trip: everything drawn has reached the server
  const std::string dir = std::string(MORVA_BINARY_DIR) + "/screenshots";
  mkdir(dir.c_str(), 0755);
  const std::string png = dir + "/colours.png";
  ASSERT_TRUE(g_screen->driver().save_png(png));
  struct stat st{};
  ASSERT_EQ(stat(png.c_str(), &st), 0);
  EXPECT_GT(st.st_size, 1000);
}

}  // namespace
