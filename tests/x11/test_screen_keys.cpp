// Keys and clicks on the real window, sent through XTest: every key of the
// tables, the modifier rules, peeking, and clicks on screen areas.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "screen/screen.h"
#include "support/x11_harness.h"

namespace {

// Owned for the suite: its server and window end with TearDownTestSuite.
std::unique_ptr<xh::InProcessScreen> g_screen;

class Keys : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!g_screen) g_screen = std::make_unique<xh::InProcessScreen>(1024, "key test");
  }
  static void TearDownTestSuite() { g_screen.reset(); }
  void SetUp() override {
    ASSERT_TRUE(g_screen && g_screen->ok());
    alarm(60);  // a lost event must not hang the run
    // Whatever an earlier test left queued (releases, motion) goes now.
    usleep(50000);
    while (scr_getc(2) || scr_csts()) {
    }
    for (int i = 0; i < 7; ++i) unset_scr_area(i);
  }
  void TearDown() override { alarm(0); }
  xh::XDriver& drv() { return g_screen->driver(); }
};

struct KeyCase {
  unsigned keysym;
  unsigned mods;
  int code;
};

std::string describe(const KeyCase& k) {
  return "keysym 0x" + std::to_string(k.keysym) + " mods " + std::to_string(k.mods);
}

TEST_F(Keys, EveryKeyGivesItsCode) {
  using namespace xh;
  // The server's keymap turns Ctrl+Alt+F1..F10 into console switches that
  // never reach a window; plain function keys let the program see them.
  for (int n = 0; n < 10; ++n) {
    const int kc = drv().keycode_of(kF1 + n);
    ASSERT_GT(kc, 0);
    ASSERT_TRUE(drv().remap_keycode(kc, kF1 + n, kF1 + n));
  }
  usleep(200000);
  std::vector<KeyCase> cases = {
      {kEscape, 0, 27},       {kBackSpace, 0, 8},     {kReturn, 0, 13},   {kRight, 0, 28},
      {kLeft, 0, 29},         {kUp, 0, 30},           {kDown, 0, 31},     {kKP_Subtract, 0, 45},
      {kKP_Add, 0, 43},       {kPageUp, 0, 202},      {kPageDown, 0, 203}, {kInsert, 0, 206},
      {kDelete, 0, 207},      {kKP_Enter, 0, 13},     {kTab, 0, 9},       {kHome, 0, 204},
      {kEnd, 0, 205},         {kF1 + 10, 0, 200},     {kF1 + 11, 0, 201},
      {kF1 + 4, kControl, 194}, {kF1 + 4, kAlt, 184}, {kF1 + 4, kControl | kAlt, 194},
      {'s', kAlt, 248},       {'q', kAlt, 113},       {'s', kControl | kAlt, 248},
      {'a', kShift, 65},      {'a', kControl, 1},     {'a', kControl | kShift, 1},
      {'z', kControl, 26},    {'a', 0, 97},           {'7', 0, 55},       {'7', kShift, 38},
  };
  for (int n = 0; n < 10; ++n) {
    cases.push_back({kF1 + n, 0, 210 + n});
    cases.push_back({kF1 + n, kControl, 190 + n});
    cases.push_back({kF1 + n, kAlt, 180 + n});
  }
  const std::pair<char, int> alt_letters[] = {{'a', 230}, {'b', 231}, {'c', 232}, {'d', 233},
                                              {'e', 234}, {'f', 235}, {'g', 236}, {'h', 237},
                                              {'r', 247}, {'s', 248}, {'u', 250}, {'x', 253}};
  for (auto [letter, code] : alt_letters) cases.push_back({static_cast<unsigned>(letter), kAlt, code});

  for (const auto& k : cases) {
    drv().key(k.keysym, k.mods);
    EXPECT_EQ(xh::poll_key(), k.code) << describe(k);
  }
}

TEST_F(Keys, TheSameKeysGiveTheSameCodesOnTheOtherKeycodeSet) {
  // Keycodes of the other set (keypad Enter 108, Down 104, Left 100 ...)
  // carrying the same key symbols must decode the same.
  struct Moved {
    int keycode;
    unsigned keysym;
    int code;
  } moved[] = {{108, xh::kKP_Enter, 13}, {104, xh::kDown, 31}, {100, xh::kLeft, 29},
               {102, xh::kRight, 28}, {98, xh::kUp, 30}, {99, xh::kPageUp, 202}};
  ASSERT_TRUE(drv().clear_modifier_keycode(108));  // Alt_R on this server
  for (const auto& m : moved) ASSERT_TRUE(drv().remap_keycode(m.keycode, m.keysym, 0));
  usleep(200000);  // the mapping change reaches our connection
  while (scr_csts()) {
  }
  for (const auto& m : moved) {
    drv().keycode(m.keycode);
    EXPECT_EQ(xh::poll_key(), m.code) << "keycode " << m.keycode;
  }
}

TEST_F(Keys, ModifiersAreTrackedByTheirKeys) {
  drv().key(xh::kF1 + 1, xh::kControl);
  EXPECT_EQ(xh::poll_key(), 191);
  // The release was seen: the same key alone is plain again.
  drv().key(xh::kF1 + 1);
  EXPECT_EQ(xh::poll_key(), 211);
  EXPECT_EQ(getshift(0x20), 0);
}

TEST_F(Keys, PeekThenTakeGivesTheKeyOnce) {
  drv().key('x');
  unsigned char peeked = 0;
  for (int i = 0; i < 300 && !peeked; ++i) {
    peeked = scr_cst();
    if (!peeked) usleep(10000);
  }
  EXPECT_EQ(peeked, 'x');
  EXPECT_EQ(scr_cst(), 'x');
  EXPECT_EQ(scr_csts(), 'x');
  usleep(50000);
  EXPECT_EQ(scr_csts(), 0);
}

TEST_F(Keys, WaitingReadTakesTheKey) {
  drv().type("k");
  EXPECT_EQ(scr_ci(), 'k');
}

TEST_F(Keys, ClicksOnAreas) {
  set_scr_area(3, 10, 20, 12, 30);
  set_scr_area(0, 0, 0, 1, 1);

  drv().click(11, 25, 1);
  EXPECT_EQ(scr_getc(1), 13) << "left click in area 3";

  drv().click(1, 1, 1);
  EXPECT_EQ(scr_getc(1), 255) << "left click in active area 0";

  drv().click(20, 60, 3);
  EXPECT_EQ(scr_getc(1), 47) << "right click, waiting read";

  drv().click(20, 60, 3);
  EXPECT_EQ(xh::poll_getc(0), 13) << "right click, peeking read";
  while (scr_getc(2)) {
  }

  // Outside every area a click gives the next key.
  drv().click(25, 70, 1);
  drv().key('m');
  EXPECT_EQ(scr_getc(1), 'm');
}

TEST_F(Keys, ButtonPositionIsACell) {
  drv().click(7, 33, 1);
  int row = -1, col = -1, b = 0;
  for (int i = 0; i < 300 && b == 0; ++i) {
    b = mouse_button_where(0, &row, &col);
    if (!b) {
      scr_csts();  // the key reader takes the events put back (motion)
      usleep(10000);
    }
  }
  EXPECT_EQ(b, 1);
  EXPECT_EQ(row, 7);
  EXPECT_EQ(col, 33);
  while (scr_getc(2)) {
  }
}

}  // namespace
