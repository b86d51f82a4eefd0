// The real program under Xvfb: F9 on a TechTools file and T on a quick-quote
// file, through the real dialogues, with the charts compared byte for byte
// against charts built here from first principles.
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#include "support/chart_files.h"
#include "support/tempdir.h"
#include "support/x11_harness.h"

namespace {

void put_at(std::string& line, std::size_t col, const std::string& text) {
  if (line.size() < col + text.size()) line.resize(col + text.size(), ' ');
  line.replace(col, text.size(), text);
}
std::string quote(const std::string& sym, const std::string& close, const std::string& vol,
                  const std::string& open, const std::string& high, const std::string& low) {
  std::string l1 = sym, l3 = "Range";
  put_at(l1, 22, close);
  put_at(l1, 66, vol);
  put_at(l3, 42, open);
  put_at(l3, 54, high);
  put_at(l3, 66, low);
  return l1 + "\r\n  Bid 1 Ask 2\r\n" + l3 + "\r\n  52wk 1 9\r\n  16:00\r\n";
}

bool wait_for_size(const std::string& path, std::size_t size, int timeout_ms) {
  for (int waited = 0; waited < timeout_ms; waited += 20) {
    if (file_exists(path) && read_file(path).size() == size) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// A private home (short, so that "<home>/morva" is the start and data
// directory of a first start) and a server with the program's window.
class ImportsE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.ok());
    work_ = home_.mkdirs("morva");
  }
  void start(std::vector<std::string> args = {}) {
    ASSERT_TRUE(app_.start({.cwd = home_.path(), .home = home_.path(), .display = server_.display(),
                            .dump_path = home_.file("shadow.txt"), .args = std::move(args)}));
    ASSERT_TRUE(app_.wait_for_text("convert TECHTOOLS files", 10000)) << app_.output();
    ASSERT_TRUE(drv_.find_window(app_.pid()));
  }
  std::string file(const char* name) const { return work_ + "/" + name; }
  // Waits until the program shows a name or date field (the shadow text is
  // written whenever the screen changed, also while the line editor polls).
  // Keys must not be typed ahead, because the ESC polls between steps take
  // a waiting key.
  void at_prompt(std::string_view text) { ASSERT_TRUE(app_.wait_for_text(text)) << app_.screen(); }
  // Waits until `text` has left the screen.
  void gone(std::string_view text) {
    for (int waited = 0; app_.screen().find(text) != std::string::npos; waited += 20) {
      ASSERT_LT(waited, 5000) << app_.screen();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  xh::Xvfb server_{1024};
  TempDir home_{"mv"};
  std::string work_;
  xh::MorvaProcess app_;
  xh::XDriver drv_{server_.display()};
};

}  // namespace

TEST_F(ImportsE2E, F9ConvertsATechToolsFileAndHandsTheChartOver) {
  // Price type -3 (eighths); serials 36525 and 36526 straddle the year 2000.
  Bytes tt;
  le16(tt, 0xFFFD);
  for (int i = 0; i < 14; ++i) tt.push_back(0);
  const unsigned recs[3][5] = {{36525, 1230, 1237, 1221, 1234}, {36526, 1234, 1240, 1230, 1237}, {36529, 1, 2, 3, 4}};
  for (const auto& r : recs) {
    for (unsigned v : r) le16(tt, v);
    tt.insert(tt.end(), {0x40, 0x42, 0x0F, 0x07, 0x00, 0x00});  // volume 1,000,000, open interest 7
  }
  ASSERT_TRUE(write_file(file("prices.tt"), tt));

  Bytes want = chart_header(20000104);
  put_bar(want, 19991231, 123.0f, 123.875f, 122.125f, 123.5f, 1000000, 7);
  put_bar(want, 20000101, 123.5f, 124.0f, 123.0f, 123.875f, 1000000, 7);
  put_bar(want, 20000104, 0.125f, 0.25f, 0.375f, 0.5f, 1000000, 7);

  start({"charting"});
  drv_.fkey(9);
  at_prompt("Enter a TECHTOOL filename");
  drv_.type("prices.tt\r");
  at_prompt("Enter a target filename");
  // The source's own name is refused and the prompt comes back.
  drv_.type("prices.tt\r");
  ASSERT_TRUE(app_.wait_for_text("Use a name which differs from the source name.")) << app_.screen();
  drv_.enter();
  gone("Use a name which differs from the source name.");
  drv_.type("ibm\r");
  // The last record breaks the bar rules: stored as written, and said.
  ASSERT_TRUE(app_.wait_for_text("1 bar breaks the bar rules; first: 20000104 high below low.", 10000))
      << app_.screen();
  drv_.enter();
  ASSERT_TRUE(app_.wait_for_text("Do you want to graph this new file now? (y/n)->", 10000)) << app_.screen();
  drv_.type("y");
  EXPECT_EQ(app_.wait_exit(10000), 0) << app_.output();

  EXPECT_EQ(read_file(file("ibm")), want);
  EXPECT_EQ(read_file(file("prices.tt")), tt);
  EXPECT_EQ(read_text(file("tmpmorva")), "ibm");
}

TEST_F(ImportsE2E, TImportsQuickQuotesIntoChartsByDate) {
  // ibm already holds 1999 bars and a bar of the update day, which is replaced.
  Bytes old = chart_header(20000105);
  put_bar(old, 19991230, 1, 1, 1, 1, 1, 0);
  put_bar(old, 20000105, 2, 2, 2, 2, 2, 0);
  put_bar(old, 20000110, 3, 3, 3, 3, 3, 0);
  ASSERT_TRUE(write_file(file("ibm"), old));
  const std::string text = std::string(40, '-') + "\r\n" + quote("IBM", "123.4/", "1500", "120", "124", "119.5") +
                           quote("DEC", "101/08", "2000", "100", "102", "99");
  ASSERT_TRUE(write_text(file("quotes.txt"), text));

  Bytes want_ibm = chart_header(20000105);
  put_bar(want_ibm, 19991230, 1, 1, 1, 1, 1, 0);
  put_bar(want_ibm, 20000105, 120.0f, 124.0f, 119.5f, 123.5f, 1500, 0);
  put_bar(want_ibm, 20000110, 3, 3, 3, 3, 3, 0);
  Bytes want_dec = chart_header(20000105);
  put_bar(want_dec, 20000105, 100.0f, 102.0f, 99.0f, 101.5f, 2000, 0);

  start();
  drv_.type("t");
  at_prompt("Enter QUICK-QUOTE filename (Long quote format):");
  drv_.type("quotes.txt\r");
  at_prompt("Enter the date that you are updating (YYMMDD):");
  drv_.type("000105\r");
  ASSERT_TRUE(wait_for_size(file("dec"), want_dec.size(), 10000));
  // Without a command-line argument there is no hand-off question: back at
  // the main menu (redrawn over the dialogue), ESC ends the program.
  ASSERT_TRUE(app_.wait_for_text("<F2> = convert between TEXT (ASCII) and MORVA formats", 10000))
      << app_.screen();
  drv_.esc();
  EXPECT_EQ(app_.wait_exit(10000), 0) << app_.output();

  EXPECT_EQ(read_file(file("ibm")), want_ibm);
  EXPECT_EQ(read_file(file("dec")), want_dec);
  EXPECT_EQ(read_text(file("quotes.txt")), text);
  EXPECT_FALSE(file_exists(file("tmpmorva")));
  EXPECT_FALSE(file_exists(file("tmpmorva.gph")));
}
