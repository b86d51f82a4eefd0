// The widgets on the real window under Xvfb: keys and clicks through XTest,
// and pictures of a pop-up list, a line edit, a question and a help page.
//
// The widgets run on this thread and block for input, so a helper thread
// (with its own X connection, the driver's) types, clicks and takes the
// pictures while they wait.  Pictures go to the build folder and, when
// MORVA_SCREENSHOT_DIR is set, there as well.
#include <gtest/gtest.h>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "screen/screen.h"
#include "setup/environment.h"
#include "support/tempdir.h"
#include "support/x11_harness.h"
#include "widgets/help.h"
#include "widgets/menu.h"
#include "widgets/prompt.h"

namespace {

// Owned for the suite: its server and window end with TearDownTestSuite.
std::unique_ptr<xh::InProcessScreen> g_screen;

void pause_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Runs `script` on a helper thread while the widget under test runs here.
class Script {
 public:
  explicit Script(std::function<void()> script) : thread_(std::move(script)) {}
  ~Script() { thread_.join(); }

 private:
  std::thread thread_;
};

class WidgetsX11 : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!g_screen) g_screen = std::make_unique<xh::InProcessScreen>(1024, "widget test");
  }
  // Closes the window and stops the private server.
  static void TearDownTestSuite() {
    g_screen.reset();
  }
  void SetUp() override {
    ASSERT_TRUE(g_screen && g_screen->ok());
    alarm(90);  // a lost event must not hang the run
    pause_ms(50);
    while (scr_getc(2) || scr_csts()) {
    }
    for (int i = 0; i <= 6; ++i) unset_scr_area(i);
    mouse_set_motionfunction(nullptr);
    popline = voffset = 0;
    windowfunc_isactive = nullptr;
    color[0] = 3;
    colour(color[0]);
    scr_clr();
  }
  void TearDown() override { alarm(0); }
  xh::XDriver& drv() { return g_screen->driver(); }

  // Saves the window as widgets_<name>.png.
  void picture(const std::string& name) {
    drv().sync();
    pause_ms(300);
    const std::string file = "widgets_" + name + ".png";
    const std::string built = std::string(MORVA_BINARY_DIR) + "/screenshots";
    mkdir(built.c_str(), 0755);
    EXPECT_TRUE(drv().save_png(built + "/" + file));
    if (const char* dir = std::getenv("MORVA_SCREENSHOT_DIR")) drv().save_png(std::string(dir) + "/" + file);
  }
  static std::string row_text(int row, int col, int n) {
    char buf[128] = {};
    scr_readtext(row, col, n, buf);
    return buf;
  }
};

std::vector<std::string> numbered(int n) {
  std::vector<std::string> v;
  for (int i = 1; i <= n; ++i) {
    char b[40];
    std::snprintf(b, sizeof b, "Chart file number %02d", i);
    v.emplace_back(b);
  }
  return v;
}

std::vector<const char*> word_list(const char* word, const std::vector<std::string>& lines) {
  std::vector<const char*> v{word};
  for (const auto& l : lines) v.push_back(l.c_str());
  v.push_back(nullptr);
  return v;
}

TEST_F(WidgetsX11, PageDownThroughAFortyLineList) {
  const auto lines = numbered(40);
  const auto list = word_list("LIST", lines);
  int got = 0;
  {
    Script s([&] {
      pause_ms(300);
      for (int i = 0; i < 4; ++i) drv().key(xh::kPageDown);
      drv().type("q");
    });
    got = popmenu(list.data(), 2, 4, 13, 1, nullptr, 1, 0);
  }
  EXPECT_EQ(got, 'q');
  EXPECT_EQ(voffset, 30);
  EXPECT_EQ(popline, 9);
  EXPECT_EQ(row_text(12, 6, 20), "Chart file number 40");
}

TEST_F(WidgetsX11, PopupWithScrollMarksPicture) {
  const auto lines = numbered(20);
  const auto file = word_list("FILE", lines);
  MenuWindow w;
  w.top = 0;
  w.left = 0;
  w.bottom = 12;
  w.right = 79;
  w.title = "MORVA File Converter V5.37";
  w.colour = 3;
  w.words[0] = file.data();
  w.result[kResultCloseCode] = 10;
  int got = 0;
  {
    Script s([&] {
      pause_ms(300);
      drv().key(xh::kPageDown);
      drv().key(xh::kDown);
      drv().key(xh::kDown);
      picture("popup_scroll_marks");
      drv().enter();
    });
    got = windows(&w);
  }
  // Nine rows: PgDn scrolls by seven, two Downs move the highlight.
  EXPECT_EQ(got, 9);
  EXPECT_STREQ(w.result, "Chart file number 10");
  EXPECT_EQ(row_text(3, detectscrollr + 2, 1), "^");
  EXPECT_EQ(row_text(11, detectscrollr + 2, 1), "Y");
}

TEST_F(WidgetsX11, ArrowsOnASingleWordReopenAndLettersAreAccepted) {
  const auto lines = numbered(12);
  const auto file = word_list("FILE", lines);
  MenuWindow w;
  w.bottom = static_cast<short>(maxrow - 1);
  w.right = 79;
  w.colour = 3;
  w.words[0] = file.data();
  w.result[kResultCloseCode] = 10;
  int got = 0;
  {
    Script s([&] {
      pause_ms(300);
      drv().key(xh::kDown);
      drv().key(xh::kRight);
      drv().key(xh::kDown);
      drv().key(xh::kLeft);
      drv().enter();
    });
    got = windows(&w);
  }
  EXPECT_EQ(got, 2);
  {
    Script s([&] {
      pause_ms(300);
      drv().type("B");
    });
    got = windows(&w);
  }
  EXPECT_EQ(got, 98);
}

TEST_F(WidgetsX11, ClickOnTheMinusButtonClosesTheWindow) {
  const auto lines = numbered(5);
  const auto file = word_list("FILE", lines);
  MenuWindow w;
  w.bottom = static_cast<short>(maxrow - 1);
  w.right = 79;
  w.colour = 3;
  w.words[0] = file.data();
  w.result[kResultCloseCode] = 10;
  int got = 0;
  {
    Script s([&] {
      pause_ms(300);
      drv().click(0, 0);
    });
    got = windows(&w);
  }
  EXPECT_EQ(got, 10);
  EXPECT_EQ(windowfunc_isactive, nullptr);
}

TEST_F(WidgetsX11, ClickOnALineChoosesIt) {
  const auto lines = numbered(8);
  const auto list = word_list("LIST", lines);
  int got = 0;
  {
    Script s([&] {
      pause_ms(300);
      drv().move_to_cell(2 + 1 + 5, 10);
      pause_ms(100);
      drv().click(2 + 1 + 5, 10);
    });
    got = popmenu(list.data(), 2, 4, 20, 1, nullptr, 1, 0);
  }
  EXPECT_EQ(got, 5);
}

TEST_F(WidgetsX11, NameFieldTakesTwentyOneCharactersPicture) {
  putsn(" Enter a MORVA filename (or `.!' name or ESCape):", 4, 0, -1);
  putsn("(Press <F9> for a directory listing)", 6, 27, -1);
  char buf[32] = {};
  int got = 0;
  {
    Script s([&] {
      pause_ms(300);
      drv().type("ibm_weekly");
      picture("line_edit");
      drv().type("abcdefghijkl");  // the 22nd character is refused
      drv().enter();
    });
    got = fgts(nullptr, 'a', 4, 52, 21, buf, 'n', 'y');
  }
  EXPECT_EQ(got, 13);
  EXPECT_STREQ(buf, "ibm_weeklyabcdefghijk");
  EXPECT_EQ(row_text(4, 73, 1), " ");  // the "<" mark is gone
}

TEST_F(WidgetsX11, DateFieldRefusesLettersAndLeftAtTheStartEnds) {
  char buf[16] = "19600101";
  putsn(buf, 14, 48, 8);
  int got = 0;
  {
    Script s([&] {
      pause_ms(300);
      drv().type("x2");
      drv().key(xh::kLeft);
      drv().key(xh::kLeft);
    });
    got = fgts(nullptr, 'n', 14, 48, 8, buf, 'y', 'n');
  }
  EXPECT_EQ(got, 29);
  EXPECT_EQ(std::string(buf, 8), "29600101");
}

TEST_F(WidgetsX11, QuestionWaitsForTheAnswerPicture) {
  const char* heading = " Using this format: 19991231,DOHLCVI        Convert TEXT to MORVA";
  putsn(heading, 0, 0, -1);
  highlight_title_row();
  putsn("Source: ibm.txt", 2, 0, -1);
  char got = 0;
  {
    Script s([&] {
      pause_ms(400);
      picture("question");
      drv().type("Y");
    });
    got = msg("Do you want to graph this new file now? (y/n)->", heading, 1);
  }
  EXPECT_EQ(got, 'y');
  EXPECT_EQ(row_text(0, 0, 19), " Using this format:");
}

TEST_F(WidgetsX11, QuestionWithoutWaitLeavesTheKey) {
  char got = 0;
  {
    Script s([&] {
      pause_ms(400);
      drv().type("n");
    });
    got = msg("Minor Xwindow error. Is the screen centred? ... attempt to re-centre.", "", 0);
  }
  EXPECT_EQ(got, 'n');
  EXPECT_EQ(scr_getc(1), 'n');
}

TEST_F(WidgetsX11, HelpPagesPicture) {
  TempDir start("morva-x11hlp");
  ASSERT_LT(start.path().size(), sizeof startsubdir);
  ASSERT_TRUE(write_text(start.file("m.hlp"), read_text(MORVA_SOURCE_DIR "/docs/m.hlp")));
  std::strcpy(startsubdir, start.path().c_str());
  // F10 reaches the window only as a plain key.
  const int kc = drv().keycode_of(xh::kF1 + 9);
  ASSERT_GT(kc, 0);
  ASSERT_TRUE(drv().remap_keycode(kc, xh::kF1 + 9, xh::kF1 + 9));
  pause_ms(200);
  {
    Script s([&] {
      pause_ms(500);
      picture("help_page");
      drv().type(" ");
      pause_ms(400);
      drv().key(xh::kPageUp);  // back to page 4
      pause_ms(400);
      drv().type(" ");
      pause_ms(400);
      drv().fkey(10);
    });
    new_instructions(4, 2);
  }
  EXPECT_NE(row_text(3, 0, 40).find("DIRECTORY LISTING"), std::string::npos);
  EXPECT_EQ(row_text(maxrow - 2, 2, 43), " Press a key to continue or PgUp or ESCape ");
  startsubdir[0] = '\0';
}

}  // namespace
