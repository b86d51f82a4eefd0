// The real program under Xvfb: F2 from text to chart (one chart, a second
// file merged into it, several symbols), direction 6 from chart to text,
// and the InvestorLink import of a ZIP archive built here with zip.  Every
// result is compared byte for byte with bytes computed here.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#include "support/chart_files.h"
#include "support/tempdir.h"
#include "support/x11_harness.h"

extern char** environ;

namespace {

struct Bar {
  std::int32_t date;
  float open, high, low, close;
  std::int32_t volume, openint;
};

// A chart: the header of a new chart (blanks, 0 at 0 and 109, '/' at 77,
// type and line feed at 116, the last date at 118) and the bars.
Bytes chart(char type, std::int32_t date, const std::vector<Bar>& bars) {
  Bytes h = chart_header(date, type);
  for (const Bar& b : bars) put_bar(h, b.date, b.open, b.high, b.low, b.close, b.volume, b.openint);
  return h;
}

std::vector<std::string> tmp_entries(const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& n : list_dir("/tmp"))
    if (n.rfind(prefix, 0) == 0) out.push_back(n);
  return out;
}

// True once no entry of /tmp with `prefix` exists beyond `before`.  Other
// programs may make such files for a moment, so a new entry must stay for
// two seconds to count as left behind.
bool none_left(const std::string& prefix, const std::vector<std::string>& before) {
  for (int waited = 0;; waited += 50) {
    std::vector<std::string> now = tmp_entries(prefix);
    bool extra = false;
    for (const std::string& n : now)
      if (std::find(before.begin(), before.end(), n) == before.end()) extra = true;
    if (!extra) return true;
    if (waited >= 2000) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

int run_zip(const std::string& dir, std::vector<std::string> args) {
  args.insert(args.begin(), {"zip", "-q", "-j"});
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  ScopedChdir cd(dir);
  pid_t pid;
  if (posix_spawnp(&pid, "zip", nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class TextConversionsE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.ok());
    work_ = home_.mkdirs("morva");
  }
  void start() {
    ASSERT_TRUE(app_.start({.cwd = home_.path(), .home = home_.path(), .display = server_.display(),
                            .dump_path = home_.file("shadow.txt"), .args = {}, .binary = {}}));
    ASSERT_TRUE(app_.wait_for_text("convert TECHTOOLS files", 10000)) << app_.output();
    ASSERT_TRUE(drv_.find_window(app_.pid()));
  }
  // The line editor polls while its cursor blinks, so keys typed for it may
  // go ahead; questions throw away keys typed ahead and are waited for.
  void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }
  void wait(const char* text) { ASSERT_TRUE(app_.wait_for_text(text, 10000)) << app_.screen(); }
  void to_settings_menu() {
    drv_.fkey(2);
    wait("<F2> to start converting a");
  }
  // From the settings menu: F2, then the text file's name.
  void convert_text(const std::string& name) {
    drv_.fkey(2);
    settle();
    drv_.type(name + "\r");
  }
  void finished() {
    wait(" Finished.");
    drv_.enter();
    wait("<F2> to start converting a");
  }
  void quit_from_settings() {
    drv_.esc();
    wait("convert TECHTOOLS files");
    drv_.esc();
    ASSERT_EQ(app_.wait_exit(10000), 0) << app_.output();
  }
  std::string file(const std::string& name) const { return work_ + "/" + name; }

  xh::Xvfb server_{1024};
  TempDir home_{"mt"};
  std::string work_;
  xh::MorvaProcess app_;
  xh::XDriver drv_{server_.display()};
};

}  // namespace

TEST_F(TextConversionsE2E, DailyTextMergeSymbolsAndBackToText) {
  ASSERT_TRUE(write_text(file("ibm.txt"),
                         "19990104,10.5,11.25,10,11,12000,3\r\n19990105,11,11.5,10.75,11.125,9000,4\r\n"
                         "19990106,11.125,12,11,11.875,15000,5\r\n"));
  ASSERT_TRUE(write_text(file("more.txt"), "19990106,1,2,0.5,1.5,100,1\n19990107,2,3,1.5,2.5,200,2\n"));
  ASSERT_TRUE(write_text(file("quotes.txt"),
                         "IBM,19990104,1,2,0.5,1.5,100,1\nIBM,19990105,2,3,1.5,2.5,200,2\n"
                         "MSFT,19990104,3,4,2.5,3.5,300,3\nMSFT,19990105,4,5,3.5,4.5,400,4\n"
                         "BRK/A,19990104,5,6,4.5,5.5,500,5\nBRK/A,19990105,6,7,5.5,6.5,600,6\n"));
  start();
  to_settings_menu();

  // 1. Default settings: the text becomes txt_i/ibm, daily without a question.
  convert_text("ibm.txt");
  settle();
  drv_.type("ibm\r");
  finished();
  const std::vector<Bar> first = {{19990104, 10.5f, 11.25f, 10, 11, 12000, 3},
                                  {19990105, 11, 11.5f, 10.75f, 11.125f, 9000, 4},
                                  {19990106, 11.125f, 12, 11, 11.875f, 15000, 5}};
  EXPECT_EQ(read_file(file("txt_i/ibm")), chart('D', 19990106, first));

  // 2. A second text merges into it: 19990106 is replaced, 19990107 added.
  convert_text("more.txt");
  settle();
  drv_.type("ibm\r");
  finished();
  std::vector<Bar> merged = {first[0], first[1], {19990106, 1, 2, 0.5f, 1.5f, 100, 1},
                             {19990107, 2, 3, 1.5f, 2.5f, 200, 2}};
  EXPECT_EQ(read_file(file("txt_i/ibm")), chart('D', 19990107, merged));

  // 3. Chart to text (direction 6), code 0 with the date first.
  drv_.type("6");
  settle();
  drv_.fkey(2);
  settle();
  drv_.type("txt_i/ibm\r");
  settle();
  drv_.type("ibm.out\r");
  wait("Do you want to display this TEXT file as it is created? (y/n)->");
  drv_.type("n");
  wait("Press a key.");
  EXPECT_NE(app_.screen().find("4 lines written to ~/morva/ibm.out"), std::string::npos) << app_.screen();
  finished();
  const char* lines[] = {"19990104,10.500,11.250,10.000,11.000,12000,3 ",
                         "19990105,11.000,11.500,10.750,11.125,9000,4 ",
                         "19990106,1.000,2.000,0.500,1.500,100,1 ",
                         "19990107,2.000,3.000,1.500,2.500,200,2 "};
  const std::size_t width = std::strlen(lines[0]) * 7 / 5;
  std::string want;
  for (const char* l : lines) want += l + std::string(width - std::strlen(l), ' ') + "\n";
  EXPECT_EQ(read_text(file("ibm.out")), want);

  // 4. Several symbols: field order SDOHLCVI, one chart per symbol, no name asked.
  drv_.type("5");
  settle();
  drv_.type("4");
  settle();
  drv_.type("SDOHLCVI\r");
  settle();
  convert_text("quotes.txt");
  finished();
  // The header keeps the last date of the bars stored last.
  EXPECT_EQ(read_file(file("txt_i/ibm")),
            chart('D', 19990105, {{19990104, 1, 2, 0.5f, 1.5f, 100, 1}, {19990105, 2, 3, 1.5f, 2.5f, 200, 2},
                                  merged[2], merged[3]}));
  EXPECT_EQ(read_file(file("txt_m/msft")),
            chart('D', 19990105, {{19990104, 3, 4, 2.5f, 3.5f, 300, 3}, {19990105, 4, 5, 3.5f, 4.5f, 400, 4}}));
  EXPECT_EQ(read_file(file("txt_b/brk-a")),
            chart('D', 19990105, {{19990104, 5, 6, 4.5f, 5.5f, 500, 5}, {19990105, 6, 7, 5.5f, 6.5f, 600, 6}}));
  quit_from_settings();
}

TEST_F(TextConversionsE2E, TwoDigitYearsOfThisCenturyUnderCode2) {
  ASSERT_TRUE(write_text(file("y24.txt"), "01/02/24,1,2,0.5,1.5,100,1\n01/03/24,2,3,1.5,2.5,200,2\n"));
  start();
  to_settings_menu();
  drv_.type("2");  // date format 12/31/92
  settle();
  convert_text("y24.txt");
  settle();
  drv_.type("y24\r");
  finished();
  EXPECT_EQ(read_file(file("txt_y/y24")),
            chart('D', 20240103, {{20240102, 1, 2, 0.5f, 1.5f, 100, 1}, {20240103, 2, 3, 1.5f, 2.5f, 200, 2}}));
  quit_from_settings();
}

// A file the settings read no date in: the window shows the layout it found
// and converts with it after "y"; the saved settings stay as they were.
TEST_F(TextConversionsE2E, DetectedLayoutOfferedWhenTheSettingsReadNoDate) {
  ASSERT_TRUE(write_text(file("nasdaq.csv"),
                         "Date,Close/Last,Volume,Open,High,Low\n"
                         "01/03/2024,$184.25,58414460,$184.22,$185.88,$183.43\n"
                         "01/02/2024,$185.64,82488670,$187.15,$188.44,$183.89\n"
                         "12/29/2023,$192.53,42672150,$193.90,$194.40,$191.73\n"));
  start();
  to_settings_menu();
  const Bytes defaults = read_file(home_.file("morvautl.dat"));
  convert_text("nasdaq.csv");
  wait("Convert with what was found? (y/n)");
  EXPECT_NE(app_.screen().find("date=mm/dd/yyyy order=DCVOHL"), std::string::npos) << app_.screen();
  drv_.sync();
  if (const char* dir = std::getenv("MORVA_SCREENSHOT_DIR")) drv_.save_png(std::string(dir) + "/detected_layout_question_1024.png");
  drv_.type("y");
  settle();
  drv_.type("nasdaq\r");
  wait("(N)umber? ->");  // newest first: the first two dates do not show a daily chart
  drv_.type("d");
  wait(" Finished.");
  drv_.sync();
  if (const char* dir = std::getenv("MORVA_SCREENSHOT_DIR")) drv_.save_png(std::string(dir) + "/detected_layout_converted_1024.png");
  drv_.enter();
  wait("<F2> to start converting a");
  EXPECT_EQ(read_file(file("csv_n/nasdaq")),
            chart('D', 20240103, {{20231229, 193.9f, 194.4f, 191.73f, 192.53f, 42672150, 0},
                                  {20240102, 187.15f, 188.44f, 183.89f, 185.64f, 82488670, 0},
                                  {20240103, 184.22f, 185.88f, 183.43f, 184.25f, 58414460, 0}}));
  quit_from_settings();
  EXPECT_EQ(read_file(home_.file("morvautl.dat")), defaults);
}

TEST_F(TextConversionsE2E, InvestorLinkArchive) {
  ASSERT_TRUE(write_text(file("a.STK"), "IBM,10,11,9.5,10.5,1000,0\r\nMSFT,20,21,19.5,20.5,2000,0\r\n"));
  ASSERT_TRUE(write_text(file("b.STK"), "XON,30,31,29.5,30.5,3000,0\r\n"));
  ASSERT_TRUE(write_text(file("notes.txt"), "not a member\n"));
  ASSERT_EQ(run_zip(work_, {"991231S.ZIP", "a.STK", "b.STK", "notes.txt"}), 0);
  ::unlink(file("a.STK").c_str());
  ::unlink(file("b.STK").c_str());
  const auto before = tmp_entries("991231.STK.");
  start();
  drv_.type("i");
  settle();
  drv_.type("991231S.ZIP\r");
  wait("What type of MORVA chart are you creating?");
  drv_.type("d");
  wait(" Finished.");
  drv_.enter();
  wait("convert TECHTOOLS files");
  EXPECT_EQ(read_file(file("stk_i/ibm")), chart('D', 19991231, {{19991231, 10, 11, 9.5f, 10.5f, 1000, 0}}));
  EXPECT_EQ(read_file(file("stk_m/msft")), chart('D', 19991231, {{19991231, 20, 21, 19.5f, 20.5f, 2000, 0}}));
  EXPECT_EQ(read_file(file("stk_x/xon")), chart('D', 19991231, {{19991231, 30, 31, 29.5f, 30.5f, 3000, 0}}));
  EXPECT_TRUE(none_left("991231.STK.", before));
  drv_.esc();
  ASSERT_EQ(app_.wait_exit(10000), 0) << app_.output();
}

// The nightly update: a history under a typed name, then one day of three
// symbols whose charts live in other folders, in other letter cases.  Each
// is merged where it is; no type is asked, no second chart is made.
TEST_F(TextConversionsE2E, NightlyUpdateMergesIntoEachSymbolsChart) {
  ASSERT_TRUE(write_text(file("aapl.csv"), "20240627,1,2,0.5,1.5,100,0\n20240628,2,3,1.5,2.5,200,0\n"));
  ASSERT_TRUE(write_text(file("today.txt"), "AAPL,20240701,3,4,2.5,3.5,300,0\nMSFT,20240701,4,5,3.5,4.5,400,0\n"
                                            "IBM,20240701,5,6,4.5,5.5,500,0\n"));
  const Bar old{20240628, 9, 10, 8.5f, 9.5f, 900, 0};
  home_.mkdirs("morva/csv_m");
  home_.mkdirs("morva/stk_i");
  ASSERT_TRUE(write_file(file("csv_m/msft"), chart('D', 20240628, {old})));
  ASSERT_TRUE(write_file(file("stk_i/IBM"), chart('D', 20240628, {old})));
  start();
  to_settings_menu();
  convert_text("aapl.csv");
  settle();
  drv_.type("AAPL\r");
  finished();
  drv_.type("4");  // field order
  settle();
  drv_.type("SDOHLCVI\r");
  settle();
  convert_text("today.txt");
  wait(" Finished.");
  const std::string screen = app_.screen();
  if (std::getenv("MORVA_E2E_SHOW")) std::printf("%s\n", screen.c_str());
  EXPECT_NE(screen.find("Merging into the MORVA chart: stk_i/IBM"), std::string::npos) << screen;
  drv_.enter();
  wait("<F2> to start converting a");
  EXPECT_EQ(read_file(file("csv_A/AAPL")),
            chart('D', 20240701, {{20240627, 1, 2, 0.5f, 1.5f, 100, 0}, {20240628, 2, 3, 1.5f, 2.5f, 200, 0},
                                  {20240701, 3, 4, 2.5f, 3.5f, 300, 0}}));
  EXPECT_EQ(read_file(file("csv_m/msft")), chart('D', 20240701, {old, {20240701, 4, 5, 3.5f, 4.5f, 400, 0}}));
  EXPECT_EQ(read_file(file("stk_i/IBM")), chart('D', 20240701, {old, {20240701, 5, 6, 4.5f, 5.5f, 500, 0}}));
  for (const char* second : {"txt_a", "txt_m", "txt_i", "csv_a"}) EXPECT_FALSE(file_exists(file(second))) << second;
  quit_from_settings();
}
