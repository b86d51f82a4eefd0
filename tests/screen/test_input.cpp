// Keys, clicks, areas and the waiting rules on the in-memory screen.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "screen/backend.h"
#include "screen/headless.h"
#include "screen/keysyms.h"
#include "screen/screen.h"
#include "support/tempdir.h"

namespace {

class Input : public ::testing::Test {
 protected:
  void SetUp() override { headless_start(); }
};

struct KeyCase {
  unsigned keysym;
  unsigned mods;
  int code;
};

class Decode : public Input, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(Decode, KeyGivesItsCode) {
  const auto& k = GetParam();
  headless_push_keysym(k.keysym, k.mods);
  EXPECT_EQ(scr_csts(), k.code);
  EXPECT_EQ(scr_csts(), 0);  // releases only: nothing more
  EXPECT_EQ(screen_modifier_flags(), 0);
}

std::vector<KeyCase> decode_cases() {
  using namespace keysym;
  std::vector<KeyCase> v = {
      {Escape, 0, 27},   {BackSpace, 0, 8},  {Return, 0, 13},   {KP_Enter, 0, 13},  {Right, 0, 28},
      {Left, 0, 29},     {Up, 0, 30},        {Down, 0, 31},     {KP_Subtract, 0, 45}, {KP_Add, 0, 43},
      {Prior, 0, 202},   {Next, 0, 203},     {Insert, 0, 206},  {Delete, 0, 207},   {Tab, 0, 9},
      {Home, 0, 204},    {End, 0, 205},      {F11, 0, 200},     {F12, 0, 201},
      {F1 + 4, MOD_CONTROL, 194}, {F1 + 4, MOD_ALT, 184}, {F1 + 4, MOD_CONTROL | MOD_ALT, 194},
      {'s', MOD_ALT, 248}, {'q', MOD_ALT, 113}, {'s', MOD_CONTROL | MOD_ALT, 248},
      {'a', MOD_SHIFT, 65}, {'a', MOD_CONTROL, 1}, {'a', MOD_CONTROL | MOD_SHIFT, 1},
      {'z', MOD_CONTROL, 26}, {'7', MOD_SHIFT, '&'}, {'x', 0, 'x'},
      {KP_Home, MOD_NUMLOCK, 183}, {KP_Insert, MOD_NUMLOCK, 176}, {KP_Home, 0, 204}, {KP_End, 0, 205},
      // Keys that only shift others give nothing by themselves.
      {Super_L, 0, 0},   {ISO_Level3_Shift, 0, 0},
  };
  for (unsigned n = 0; n < 10; ++n) {
    v.push_back({F1 + n, 0, static_cast<int>(210 + n)});
    v.push_back({F1 + n, MOD_CONTROL, static_cast<int>(190 + n)});
    v.push_back({F1 + n, MOD_ALT, static_cast<int>(180 + n)});
  }
  for (auto [l, c] : {std::pair{'a', 230}, {'b', 231}, {'c', 232}, {'d', 233}, {'e', 234}, {'f', 235},
                      {'g', 236}, {'h', 237}, {'r', 247}, {'s', 248}, {'u', 250}, {'x', 253}})
    v.push_back({static_cast<unsigned>(l), MOD_ALT, c});
  return v;
}

INSTANTIATE_TEST_SUITE_P(Tables, Decode, ::testing::ValuesIn(decode_cases()));

TEST_F(Input, PushedDosCodesComeBackUnchanged) {
  // Every code the pushing helper can produce, through the whole decoder.
  for (int code = 1; code < 256; ++code) {
    if (code == 10) continue;  // Ctrl+J is the only way to 10, and it is 10
    headless_push_key(static_cast<unsigned char>(code));
    EXPECT_EQ(scr_csts(), code) << code;
    while (scr_csts()) {
    }
  }
  headless_push_keys("Ab1\r");
  EXPECT_EQ(scr_ci(), 'A');
  EXPECT_EQ(scr_ci(), 'b');
  EXPECT_EQ(scr_ci(), '1');
  EXPECT_EQ(scr_ci(), 13);
  EXPECT_EQ(headless_starved(), 0);
}

TEST_F(Input, ModifierFlagsFollowPressAndRelease) {
  headless_push_key_press(keysym::Control_R);
  headless_push_keysym('c', 0);
  headless_push_key_release(keysym::Control_R);
  headless_push_keysym('c', 0);
  headless_push_key_press(keysym::Num_Lock);
  headless_push_key_press(keysym::Alt_R);
  headless_push_keysym(keysym::F1 + 2, 0);
  EXPECT_EQ(scr_csts(), 3);    // Ctrl+c
  EXPECT_EQ(scr_csts(), 'c');  // released
  EXPECT_EQ(scr_csts(), 182);  // Alt+F3 with the right Alt held
  EXPECT_EQ(getshift(0x20), 1);  // Num Lock held down
  EXPECT_EQ(getshift(0x10), 0);
  EXPECT_EQ(screen_modifier_flags(), 32 | 128);
  EXPECT_EQ(chkbreak(), 0);
}

TEST_F(Input, PeekThenTakeGivesTheSameKeyOnce) {
  headless_push_keys("qw");
  EXPECT_EQ(scr_cst(), 'q');
  EXPECT_EQ(scr_cst(), 'q');
  EXPECT_EQ(scr_csts(), 'q');
  EXPECT_EQ(scr_csts(), 'w');
  EXPECT_EQ(scr_csts(), 0);
  EXPECT_EQ(scr_cst(), 0);
}

TEST_F(Input, WaitOnAnEmptyQueueGivesEscAndIsCounted) {
  EXPECT_EQ(scr_ci(), 27);
  EXPECT_EQ(scr_getc(1), 27);
  EXPECT_EQ(headless_starved(), 2);
  EXPECT_EQ(scr_csts(), 0);  // polling never starves
  EXPECT_EQ(headless_starved(), 2);
}

struct ClickCase {
  const char* name;
  int row, col, button, mode;
  int code;
};

class Clicks : public Input, public ::testing::WithParamInterface<ClickCase> {};

TEST_P(Clicks, OnAreas) {
  const auto& c = GetParam();
  set_scr_area(3, 10, 20, 12, 30);
  set_scr_area(0, 0, 0, 1, 1);
  set_scr_area(2, 15, 0, 16, 78);
  set_scr_area(5, 20, 40, 29, 78);
  set_scr_area(1, 20, 0, 29, 78);  // overlaps area 5, which wins
  headless_push_click(c.row, c.col, c.button);
  headless_push_key('k');
  EXPECT_EQ(scr_getc(c.mode), c.code);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Clicks,
    ::testing::Values(ClickCase{"LeftInArea3", 11, 25, 1, 1, 13}, ClickCase{"LeftInArea2", 15, 70, 1, 1, 13},
                      ClickCase{"LeftInArea5OverArea1", 25, 50, 1, 1, 13},
                      ClickCase{"LeftInActiveArea0", 1, 1, 1, 1, 255},
                      ClickCase{"LeftInArea1", 25, 10, 1, 1, 255},
                      ClickCase{"LeftOutsideGivesTheNextKey", 5, 60, 1, 1, 'k'},
                      ClickCase{"RightWaiting", 5, 60, 3, 1, 47}, ClickCase{"MiddleWaiting", 5, 60, 2, 1, 47},
                      ClickCase{"WheelWaiting", 5, 60, 4, 1, 47}, ClickCase{"RightPeeking", 5, 60, 3, 0, 13},
                      ClickCase{"LeftPolling", 11, 25, 1, 2, 13}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Input, InactiveAreasAndBadIndexes) {
  set_scr_area(4, 2, 2, 3, 3);
  EXPECT_EQ(inside_scr_area(4, 2, 3), 1);
  EXPECT_EQ(inside_scr_area(99, 3, 2), 1);
  EXPECT_EQ(inside_scr_area(4, 4, 3), 0);
  unset_scr_area(4);
  EXPECT_EQ(inside_scr_area(4, 2, 3), 0);
  EXPECT_EQ(inside_scr_area(99, 2, 3), 0);
  set_scr_area(7, 0, 0, 29, 78);  // ignored
  EXPECT_EQ(inside_scr_area(7, 1, 1), 0);
  EXPECT_EQ(inside_scr_area(99, 1, 1), 0);
  set_scr_area(6, 0, 0, 29, 78);
  EXPECT_EQ(inside_scr_area(99, -1, 0), 0);  // a negative row is a huge unsigned one
}

TEST_F(Input, WithoutTheMouseOnlyKeysCount) {
  headless_start();
  mousepresent = 0;
  set_scr_area(3, 10, 20, 12, 30);
  headless_push_click(11, 25, 1);
  headless_push_key('k');
  EXPECT_EQ(scr_getc(1), 'k');
}

TEST_F(Input, ButtonPositionIsACell) {
  headless_push_click(7, 33, 3);
  int row = 0, col = 0;
  EXPECT_EQ(mouse_button_where(0, &row, &col), 3);
  EXPECT_EQ(row, 7);
  EXPECT_EQ(col, 33);
  EXPECT_EQ(mouse_button_where(0, &row, &col), 0);  // the release
  EXPECT_EQ(mouse_button_where(0, &row, &col), 0);
}

TEST_F(Input, HeldButtonRepeatsAfterADebounceWait) {
  headless_push_button_press(4, 4, 1);
  int y = 0, x = 0;
  EXPECT_EQ(check_button_event(0, &y, &x), 1);
  EXPECT_EQ(headless_slept_us(), 0);
  EXPECT_EQ(check_button_event(0, &y, &x), 1);  // still held: reported again after the wait
  EXPECT_EQ(headless_slept_us(), 7 * 54945);
  EXPECT_EQ(check_button_event(0, &y, &x), 1);  // no more waits until a new press
  EXPECT_EQ(headless_slept_us(), 7 * 54945);
}

TEST_F(Input, QuickSecondClickIsNotDropped) {
  headless_push_click(11, 25, 1);
  headless_push_click(11, 26, 3);
  int row = 0, col = 0;
  EXPECT_EQ(mouse_button_where(0, &row, &col), 1);
  EXPECT_EQ(mouse_button_where(0, &row, &col), 0);  // release
  EXPECT_EQ(mouse_button_where(0, &row, &col), 3);
  EXPECT_EQ(col, 26);
}

TEST_F(Input, KeysWaitingBehindAClickStayForTheKeyReaders) {
  headless_push_key('a');
  headless_push_click(3, 3, 1);
  int row = 0, col = 0;
  EXPECT_EQ(mouse_button_where(0, &row, &col), 0);  // the key is put back
  EXPECT_EQ(scr_csts(), 'a');
  EXPECT_EQ(mouse_button_where(0, &row, &col), 0);  // the key's release, put back too
  EXPECT_EQ(scr_csts(), 0);
  EXPECT_EQ(mouse_button_where(0, &row, &col), 1);
}

int g_motion_calls = 0;
int g_motion_y = 0, g_motion_x = 0;
int motion(int y, int x) {
  ++g_motion_calls;
  g_motion_y = y;
  g_motion_x = x;
  return x > 400 ? 255 : 0;
}

TEST_F(Input, MotionCallbackSeesOnlyTheNewestPosition) {
  g_motion_calls = 0;
  EXPECT_EQ(mouse_set_motionfunction(motion), motion);
  headless_push_motion(1, 1);
  headless_push_motion(2, 2);
  headless_push_motion(3, 3);
  headless_push_key('z');
  EXPECT_EQ(scr_csts(), 'z');
  EXPECT_EQ(g_motion_calls, 1);
  EXPECT_EQ(g_motion_y, 3 * pixelsperrow + pixelsperrow / 2);

  headless_push_motion(5, 60);  // x > 400: the callback's code is the key
  EXPECT_EQ(scr_csts(), 255);

  mouse_set_motionfunction(nullptr);
  headless_push_motion(5, 60);
  EXPECT_EQ(scr_csts(), 0);
}

TEST_F(Input, ResizeRequestPutsTheWindowBack) {
  headless_push_resize();
  headless_push_key('r');
  EXPECT_EQ(scr_csts(), 'r');
  const auto p = headless_placement();
  EXPECT_EQ(p.count, 1);
  EXPECT_EQ(p.x, 4);  // 8 x 15 cells: x = 8 / 2, y = 30 - 3
  EXPECT_EQ(p.y, 27);
  EXPECT_EQ(p.w, 632);
  EXPECT_EQ(p.h, 450);
}

std::string g_reported;
void reporter(const char* m) { g_reported = m; }

TEST_F(Input, ProtocolErrorIsShownAtTheNextCallAndTheWindowPutBack) {
  g_reported.clear();
  screen_set_error_reporter(reporter);
  headless_raise_error();
  EXPECT_EQ(g_reported, "");  // nothing inside the failing call
  headless_push_key('e');
  EXPECT_EQ(scr_csts(), 'e');
  EXPECT_EQ(g_reported, "Minor Xwindow error. Is the screen centred? ... attempt to re-centre.");
  EXPECT_EQ(headless_placement().count, 1);
  g_reported.clear();
  EXPECT_EQ(scr_csts(), 0);
  EXPECT_EQ(g_reported, "");  // once only
  screen_set_error_reporter(nullptr);
}

TEST_F(Input, TimingAndSound) {
  timedely(18);
  EXPECT_EQ(headless_slept_us(), 1000000);
  timedely(7);
  EXPECT_EQ(headless_slept_us(), 1000000 + 384615);
  tone(1024, 1);
  toner(1024, 1);
}

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST_F(Input, ShadowTextIsDumpedWhenTheProgramWaits) {
  TempDir dir;
  const std::string dump = dir.file("shadow.txt");
  ScopedEnv env("MORVA_SHADOW_DUMP", dump.c_str());
  putsn("Enter a name:", 4, 2, -1);
  headless_push_key('y');
  EXPECT_EQ(scr_ci(), 'y');  // a key was waiting: no dump
  EXPECT_EQ(read_all(dump), "");

  scr_ci();  // about to wait
  const std::string text = read_all(dump);
  ASSERT_EQ(text.size(), static_cast<std::size_t>(maxrow) * 80);
  EXPECT_EQ(text.substr(4 * 80, 80), "  Enter a name:" + std::string(64, ' ') + "\n");

  putsn("Second question", 0, 0, -1);
  scr_getc(1);
  EXPECT_EQ(read_all(dump).substr(0, 15), "Second question");
}

}  // namespace
