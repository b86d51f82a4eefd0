// The screen as the program meets it: start-up messages and statuses of
// morvautl itself, the shadow-text file a driver waits on, window
// placement after an X error or a resize request.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <thread>

#include "screen/backend.h"
#include "screen/screen.h"
#include "support/tempdir.h"
#include "support/x11_harness.h"

namespace {

TEST(Program, NoDisplay) {
  TempDir home;
  xh::MorvaProcess app;
  ASSERT_TRUE(app.start({.cwd = home.path(), .home = home.path(), .display = ":9875"}));
  EXPECT_EQ(app.wait_exit(10000), 0);
  EXPECT_EQ(app.output(), "Can't connect to server.\n");
}

TEST(Program, NeitherFontEndsWithStatus3) {
  xh::Xvfb server(640, 0, {xh::font_dir("misc")});
  ASSERT_TRUE(server.ok());
  TempDir home;
  xh::MorvaProcess app;
  ASSERT_TRUE(app.start({.cwd = home.path(), .home = home.path(), .display = server.display()}));
  EXPECT_EQ(app.wait_exit(10000), 3);
  EXPECT_EQ(app.output(),
            "\nCan't find font named: -*-lucidatypewriter-medium-r-*-*-14-100-100-100-m-80-*. So, try another one."
            "\nAlso can't find font: -*-lucidatypewriter-*-*-*-*-12-120-75-75-m-70-* in /usr/X11/lib/X11/fonts/*. "
            "So, quitting.");
}

TEST(Program, FallbackFontRunsTheMenuAndEscEnds) {
  xh::Xvfb server(800, 0, {xh::font_dir("misc"), xh::font_dir("75dpi")});
  ASSERT_TRUE(server.ok());
  TempDir home;
  xh::MorvaProcess app;
  ASSERT_TRUE(app.start({.cwd = home.path(), .home = home.path(), .display = server.display()}));
  ASSERT_TRUE(app.wait_for_text("ESC = Exit", 10000)) << app.output();
  EXPECT_EQ(app.output().rfind("\nCan't find font named: -*-lucidatypewriter-bold-r-*-*-17-120-100-100-m-100-*. "
                               "So, try another one.", 0),
            0u)
      << app.output();
  // The shadow-text file: maxrow lines of 79 characters.
  const std::string screen = app.screen();
  EXPECT_EQ(screen.size(), 36u * 80u);
  EXPECT_NE(screen.find("MORVA File Converter V5.37"), std::string::npos);

  xh::XDriver drv(server.display());
  ASSERT_TRUE(drv.find_window(app.pid(), "MORVA File Converter V5.37"));
  EXPECT_EQ(drv.window().width, 720);
  EXPECT_EQ(drv.window().height, 540);
  drv.esc();
  EXPECT_EQ(app.wait_exit(10000), 0);
}

// ---- The screen library of this process -------------------------------------

// Owned for the suite: its server and window end with TearDownTestSuite.
std::unique_ptr<xh::InProcessScreen> g_screen;
std::string g_reported;
void reporter(const char* m) { g_reported = m; }

class Placement : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!g_screen) g_screen = std::make_unique<xh::InProcessScreen>(1024, "placement test");
  }
  static void TearDownTestSuite() { g_screen.reset(); }
  void SetUp() override {
    ASSERT_TRUE(g_screen && g_screen->ok());
    alarm(60);
  }
  void TearDown() override { alarm(0); }
  // Where resize_settings puts the window: half a cell in, 1 3/4 rows down
  // (12 x 22 cells), inside a border of 1.
  static constexpr int kX = 6 + 1, kY = 2 * 22 - 22 / 4 + 1;
};

TEST_F(Placement, ProtocolErrorIsReportedAfterTheCallAndTheWindowReplaced) {
  g_reported.clear();
  screen_set_error_reporter(reporter);
  screen_x11_provoke_error();
  EXPECT_EQ(g_reported, "");  // recorded only, inside Xlib
  EXPECT_EQ(scr_csts(), 0);
  EXPECT_EQ(g_reported, "Minor Xwindow error. Is the screen centred? ... attempt to re-centre.");
  screen_set_error_reporter(nullptr);
  usleep(100000);
  const auto w = g_screen->driver().refresh();
  EXPECT_EQ(w.x, kX);
  EXPECT_EQ(w.y, kY);
  EXPECT_EQ(w.width, 960);
}

TEST_F(Placement, ResizeRequestKeepsTheSize) {
  g_screen->driver().request_resize(500, 300);
  for (int i = 0; i < 20; ++i) {
    scr_csts();
    usleep(20000);
  }
  const auto w = g_screen->driver().refresh();
  EXPECT_EQ(w.width, 960);
  EXPECT_EQ(w.height, 682);
  EXPECT_EQ(w.x, kX);
  EXPECT_EQ(w.y, kY);
}

TEST_F(Placement, ShadowTextIsWrittenBeforeAWait) {
  TempDir dir;
  const std::string dump = dir.file("shadow.txt");
  ScopedEnv env("MORVA_SHADOW_DUMP", dump.c_str());
  scr_clr();
  putsn("Enter a name:", 4, 2, -1);
  // The key comes only once the question is in the file, as a driver of
  // the program does it.
  std::thread typist([&] {
    for (int i = 0; i < 300 && read_text(dump).empty(); ++i) usleep(10000);
    g_screen->driver().type("n");
  });
  EXPECT_EQ(scr_getc(1), 'n');
  typist.join();
  const std::string text = read_text(dump);
  ASSERT_EQ(text.size(), 31u * 80u);
  EXPECT_EQ(text.substr(4 * 80, 80),
            "  Enter a name:" + std::string(64, ' ') + "\n");
}

}  // namespace
