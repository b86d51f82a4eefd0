// Start-up of the screen on a real X server: font and window geometry by
// screen width, the fallback font, the failures and their exit statuses,
// and the colour table's shades as the server allocated them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "screen/screen.h"
#include "support/x11_harness.h"

namespace {

// scr_setup in a child process (it may end the process); the child prints
// its geometry and the window's size as the server reports it.
xh::ForkResult setup_in_child(const std::string& display) {
  return xh::run_forked([&] {
    setenv("DISPLAY", display.c_str(), 1);
    scr_setup("geometry test");
    xh::XDriver drv(display);
    if (!drv.find_window(getpid(), "geometry test", 5000)) return 20;
    const auto& w = drv.window();
    std::printf("\n@ maxrow=%d maxcol=%d scr=%dx%d cell=%dx%d window=%dx%d\n", maxrow, maxcol,
                scrwidth, scrheight, pixelspercol, pixelsperrow, w.width, w.height);
    Xclosedis();
    return 0;
  });
}

std::string geometry_line(int maxrow_, int w, int h, int pc, int pr) {
  char buf[160];
  std::snprintf(buf, sizeof buf, "@ maxrow=%d maxcol=79 scr=%dx%d cell=%dx%d window=%dx%d", maxrow_, w,
                h, pc, pr, w, h);
  return buf;
}

struct GeometryCase {
  int screen_width;
  int maxrow, width, height, cellw, cellh;
};

class FirstFont : public ::testing::TestWithParam<GeometryCase> {};

TEST_P(FirstFont, WindowAndCellsFollowTheScreenWidth) {
  const auto& c = GetParam();
  xh::Xvfb server(c.screen_width);
  ASSERT_TRUE(server.ok());
  const auto r = setup_in_child(server.display());
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find(geometry_line(c.maxrow, c.width, c.height, c.cellw, c.cellh)), std::string::npos)
      << r.output;
  EXPECT_EQ(r.output.find("Can't find font"), std::string::npos) << r.output;
}

INSTANTIATE_TEST_SUITE_P(Widths, FirstFont,
                         ::testing::Values(GeometryCase{640, 30, 632, 450, 8, 15},
                                           GeometryCase{800, 30, 790, 540, 10, 18},
                                           GeometryCase{1024, 31, 960, 682, 12, 22},
                                           GeometryCase{1280, 38, 1120, 950, 14, 25},
                                           GeometryCase{1600, 31, 1580, 1116, 20, 36},
                                           GeometryCase{1920, 30, 632, 450, 8, 15}),
                         [](const auto& info) { return std::to_string(info.param.screen_width); });

struct FallbackCase {
  int screen_width;
  const char* font_folder;  // the only lucidatypewriter folder on the font path
  const char* first_font;
  int maxrow, width, height, cellw, cellh;
};

class FallbackFont : public ::testing::TestWithParam<FallbackCase> {};

TEST_P(FallbackFont, MissingFirstFontIsReportedAndTheFallbackUsed) {
  const auto& c = GetParam();
  xh::Xvfb server(c.screen_width, 0, {xh::font_dir("misc"), xh::font_dir(c.font_folder)});
  ASSERT_TRUE(server.ok());
  const auto r = setup_in_child(server.display());
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find(std::string("\nCan't find font named: ") + c.first_font + ". So, try another one."),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find(geometry_line(c.maxrow, c.width, c.height, c.cellw, c.cellh)), std::string::npos)
      << r.output;
}

INSTANTIATE_TEST_SUITE_P(
    Widths, FallbackFont,
    ::testing::Values(
        FallbackCase{640, "75dpi", "-*-lucidatypewriter-medium-r-*-*-14-100-100-100-m-80-*", 33, 560, 429, 7, 13},
        FallbackCase{800, "75dpi", "-*-lucidatypewriter-bold-r-*-*-17-120-100-100-m-100-*", 36, 720, 540, 9, 15},
        FallbackCase{1024, "75dpi", "-*-lucidatypewriter-bold-r-*-*-20-140-*-*-m-120-*", 33, 880, 693, 11, 21},
        FallbackCase{1280, "100dpi", "-*-lucidatypewriter-*-*-*-*-24-240-75-75-m-140-*", 35, 1272, 945, 16, 27},
        FallbackCase{1920, "75dpi", "-*-lucidatypewriter-medium-r-*-*-14-100-100-100-m-80-*", 33, 560, 429, 7, 13}),
    [](const auto& info) { return std::to_string(info.param.screen_width); });

TEST(ScreenSetup, NeitherFontEndsWithStatus3AndTheSecondMessage) {
  xh::Xvfb server(800, 0, {xh::font_dir("misc")});
  ASSERT_TRUE(server.ok());
  const auto r = setup_in_child(server.display());
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.output,
            "\nCan't find font named: -*-lucidatypewriter-bold-r-*-*-17-120-100-100-m-100-*. So, try another one."
            "\nAlso can't find font: -*-lucidatypewriter-*-*-*-*-14-140-75-75-m-90-* in /usr/X11/lib/X11/fonts/*. "
            "So, quitting.");
}

TEST(ScreenSetup, NoDisplayEndsWithStatus0) {
  const auto r = xh::run_forked([] {
    setenv("DISPLAY", ":9876", 1);  // nobody listens there
    scr_setup("no display");
    return 20;
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "Can't connect to server.\n");
}

TEST(ScreenSetup, ModeOtherThan80EndsWithStatus9AndNoOutput) {
  xh::Xvfb server(1024);
  ASSERT_TRUE(server.ok());
  const auto r = xh::run_forked([&] {
    setenv("DISPLAY", server.display().c_str(), 1);
    scr_setup("mode test");
    scr_setmode(80);  // accepted again
    std::printf("still here\n");
    std::fflush(stdout);
    scr_setmode('T');
    return 20;
  });
  EXPECT_EQ(r.status, 9);
  EXPECT_EQ(r.output, "still here\n");
}

TEST(ScreenSetup, ShadesAreAllocatedFromTheNamedColoursInSteps) {
  xh::Xvfb server(1024);
  ASSERT_TRUE(server.ok());
  const auto r = xh::run_forked([&] {
    setenv("DISPLAY", server.display().c_str(), 1);
    scr_setup("colour test");
    xh::XDriver drv(server.display());
    int failures = 0;
    for (int c = 0; c < 16; ++c) {
      unsigned short rgb[5][3];
      for (int s = BRIGHT; s <= DARK; ++s) drv.query_colour(colour_seg[s * 256 + c], rgb[s]);
      // Each shade from the previous shade's allocated values: x 8/10, x 8/10, / 2,
      // to within the visual's 8 bits per channel.
      for (int s = MEDIUM; s <= DARK; ++s)
        for (int k = 0; k < 3; ++k) {
          const unsigned prev = rgb[s - 1][k];
          const unsigned want = s == DARK ? prev >> 1 : prev * 8 / 10;
          const int diff = static_cast<int>(rgb[s][k] >> 8) - static_cast<int>(want >> 8);
          if (diff < -1 || diff > 1) {
            std::printf("colour %d shade %d channel %d: %04x from %04x\n", c, s, k, rgb[s][k], prev);
            ++failures;
          }
        }
      if (c == 15 && (rgb[BRIGHT][0] != 0xffff || rgb[BRIGHT][1] != 0xffff)) ++failures;
      if (c == 12 && (rgb[BRIGHT][0] != 0xffff || rgb[BRIGHT][2] != 0)) ++failures;  // yellow
    }
    short out = -1;
    const char idx = srchcolour(drv.black_pixel(), &out);
    std::printf("black: %d %d\n", idx, out);
    return failures;
  });
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("black: 0 256"), std::string::npos) << r.output;
}

}  // namespace
