// The settings menu of the F2 conversion driven by keys on the in-memory
// screen: every key rule, the marks on the screen and the summary title.
#include <cstring>
#include <string>

#include "window/format_settings.h"
#include "window/globals.h"
#include "support/scripted_keys.h"
#include "widget_fixture.h"
#include "widgets/title.h"

namespace {

class FormatSettingsTest : public WidgetTest {
 protected:
  void SetUp() override {
    WidgetTest::SetUp();
    set_builtin_format();
  }
  // Runs the menu with `keys` (one batch per wait) and ESC at the end.
  int run(std::initializer_list<std::string> batches, int* changed) {
    ScriptedKeys keys;
    for (const auto& b : batches) keys.then(b);
    keys.then("\x1b");
    int r = format_choices(changed);
    EXPECT_TRUE(keys.done());
    return r;
  }
  static std::string order() { return std::string(ff.order, 12); }
  static std::string date() { return std::string(ff.startdate, 8); }
};

struct KeyCase {
  const char* name;
  std::initializer_list<std::string> keys;
  std::string order, date;
  char sep, code, direction;
};

TEST_F(FormatSettingsTest, KeysChangeTheSettings) {
  const KeyCase cases[] = {
      {"order: letters upper-cased, others blank", {"4", "dohlc1\r"}, "DOHLC       ",
       "19600101", ',', 0, 0},
      {"order: punctuation blank, the old order replaced", {"4", "s.d\r"}, "S D         ", "19600101",
       ',', 0, 0},
      {"separator digit gives a blank", {"7", "5\r"}, "DOHLCVI     ", "19600101", ' ', 0, 0},
      {"separator ';'", {"7", ";\r"}, "DOHLCVI     ", "19600101", ';', 0, 0},
      {"separator: ESC keeps it", {"7", ";\x1b"}, "DOHLCVI     ", "19600101", ',', 0, 0},
      {"separator: empty field keeps it", {"7", "\r"}, "DOHLCVI     ", "19600101", ',', 0, 0},
      {"start date 2001", {"8", "2001\r"}, "DOHLCVI     ", "20010101", ',', 0, 0},
      {"start date 199905: its first day", {"8", "199905\r"}, "DOHLCVI     ", "19990501", ',', 0, 0},
      {"order after Home: typed over", {"4", std::string(1, static_cast<char>(kKeyHome)) + "S\r"}, "SOHLCVI     ",
       "19600101", ',', 0, 0},
      {"start date: non-digits become 0", {"8", "2001-231\r"}, "DOHLCVI     ", "20010231",
       ',', 0, 0},
      {"date formats and direction", {"2", "6"}, "DOHLCVI     ", "19600101", ',', 2, 1},
      {"direction back", {"6", "3", "5"}, "DOHLCVI     ", "19600101", ',', 3, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    int changed = 0;
    EXPECT_EQ(run(c.keys, &changed), 0);
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(order(), c.order);
    EXPECT_EQ(date(), c.date);
    EXPECT_EQ(ff.sep, c.sep);
    EXPECT_EQ(ff.datecode, c.code);
    EXPECT_EQ(ff.direction, c.direction);
    EXPECT_EQ(ff.nul1, 0);
    EXPECT_EQ(ff.nul2, 0);
  }
}

TEST_F(FormatSettingsTest, F2AtOnceStartsWithoutMarkingAChange) {
  int changed = 0;
  ScriptedKeys keys;
  keys.then_key(kKeyF2);
  EXPECT_EQ(format_choices(&changed), 1);
  EXPECT_EQ(changed, 0);
  EXPECT_EQ(headless_row(16), std::string(79, ' '));  // screen cleared
}

TEST_F(FormatSettingsTest, KeysWithoutMeaningStillMarkAChange) {
  int changed = 0;
  ScriptedKeys keys;
  keys.then_key(kKeyF10).then("x").then_key(kKeyF2);
  EXPECT_EQ(format_choices(&changed), 1);
  EXPECT_EQ(changed, 1);
  EXPECT_EQ(std::memcmp(&ff, "\0DOHLCVI     \0,19600101\0\0", 25), 0);
}

TEST_F(FormatSettingsTest, ScreenShowsTheCurrentValues) {
  ff.datecode = 3;
  ff.direction = 1;
  ff.sep = ';';
  std::memcpy(ff.order, "SDOHLCV     ", 12);
  std::memcpy(ff.startdate, "19991231", 8);
  int changed = 0;
  std::string screen;
  ScriptedKeys keys;
  keys.at_wait([&] { screen = headless_screen(); }).then("\x1b");
  format_choices(&changed);
  auto row = [&](int r) { return screen.substr(static_cast<std::size_t>(r) * 80, 79); };
  EXPECT_EQ(row(1).substr(0, 52), " Choose a date format that matches your text file.  ");
  EXPECT_EQ(row(3).substr(0, 12), " <0> [ ]   1");
  EXPECT_EQ(row(6).substr(0, 12), " <3> [X]   9");
  EXPECT_EQ(row(7).substr(66, 12), "SDOHLCV     ");
  EXPECT_EQ(row(10).substr(0, 9), " <5> [ ] ");
  EXPECT_EQ(row(11).substr(0, 30), " <6> [X] Convert MORVA to TEXT");
  EXPECT_EQ(row(13).substr(57, 11), "Currently->");
  EXPECT_EQ(row(13)[68], ';');
  EXPECT_EQ(row(14).substr(48, 8), "19991231");
  EXPECT_EQ(row(16).substr(0, 63),
            "<F2> to start converting a MORVA file using the above settings.");
  EXPECT_EQ(row(22).substr(0, 40), "Examples: InvestorLink: 991231 SOHLCVI, ");
  EXPECT_EQ(row(24), "Warner or Telemet: 12/31/92 SDHLCV. If you need help, send a printout of data. ");

  // The summary that the conversions show on the top row.
  std::string expect = std::string(" Using this format: 921231  ;") + "SDOHLCV     " + "       " +
                       "Convert MORVA to TEXT";
  expect.resize(79, ' ');
  EXPECT_EQ(std::string(title), expect);
  EXPECT_EQ(title, format_title);
}

TEST_F(FormatSettingsTest, FormatMenuReturnsTheRowBelowTheF2Line) {
  EXPECT_EQ(formatmenu(), 17);
  EXPECT_EQ(headless_row(16).substr(0, 62),
            "<F2> to start converting a TEXT file using the above settings.");
}

}  // namespace
