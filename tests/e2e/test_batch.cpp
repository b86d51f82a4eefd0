// The real program under Xvfb and morva-convert side by side: the window
// converts a text with settings changed in its menu and saves them at its
// end; morva-convert then takes those saved settings and the window's setup
// file by itself and must store the same charts, byte for byte.
#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "support/tempdir.h"
#include "support/x11_harness.h"
#include "unit/test_batch_support.h"

namespace {

class BatchE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.ok());
    work_ = home_.mkdirs("morva");
  }
  void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }
  void wait(const char* text) { ASSERT_TRUE(app_.wait_for_text(text, 10000)) << app_.screen(); }

  xh::Xvfb server_{1024};
  TempDir home_{"mb"};
  TempDir other_{"mb-cli"};
  std::string work_;
  xh::MorvaProcess app_;
  xh::XDriver drv_{server_.display()};
};

}  // namespace

TEST_F(BatchE2E, SettingsSavedByTheWindowGiveTheSameCharts) {
  const std::string text =
      "IBM,19990104,1,2,0.5,1.5,100,1\r\nIBM,19990105,2,3,1.5,2.5,200,2\r\n"
      "MSFT,19990104,3,4,2.5,3.5,300,3\r\nMSFT,1999x105,4,5,3.5,4.5,400,4\r\n"
      "MSFT,19990106,4,5,3.5,4.5,400,4\r\nBRK/A,19990104,5,6,4.5,5.5,500,5\r\n";
  ASSERT_TRUE(write_text(work_ + "/quotes.txt", text));
  ASSERT_TRUE(write_text(other_.file("quotes.txt"), text));

  ASSERT_TRUE(app_.start({.cwd = home_.path(),
                          .home = home_.path(),
                          .display = server_.display(),
                          .dump_path = home_.file("shadow.txt"),
                          .args = {},
                          .binary = {}}));
  ASSERT_TRUE(app_.wait_for_text("convert TECHTOOLS files", 10000)) << app_.output();
  ASSERT_TRUE(drv_.find_window(app_.pid()));
  drv_.fkey(2);
  wait("<F2> to start converting a");
  drv_.type("4");
  settle();
  drv_.type("SDOHLCVI\r");
  settle();
  drv_.fkey(2);
  settle();
  drv_.type("quotes.txt\r");
  wait(" Finished.");
  drv_.enter();
  wait("<F2> to start converting a");
  drv_.esc();
  wait("convert TECHTOOLS files");
  drv_.esc();
  ASSERT_EQ(app_.wait_exit(10000), 0) << app_.output();
  ASSERT_TRUE(file_exists(work_ + "/txt_m/msft"));
  ASSERT_TRUE(file_exists(work_ + "/morvautl.dat"));

  // No layout options: the field order comes from the window's saved settings.
  const auto r = batch_test::run(
      {"text-to-chart", "quotes.txt", "--start-dir", work_, "--data-dir", other_.path()}, home_.path(),
      other_.path());
  EXPECT_EQ(r.status, 1) << r.err;  // the line with the bad date was skipped
  for (const char* chart : {"txt_i/ibm", "txt_m/msft", "txt_b/brk-a"}) {
    EXPECT_TRUE(read_file(work_ + "/" + chart) == read_file(other_.file(chart))) << chart;
    EXPECT_FALSE(read_file(other_.file(chart)).empty()) << chart;
  }

  // Without --data-dir the window's setup file leads to its directory.
  const auto shown = batch_test::run({"show", "txt_m/msft", "--start-dir", work_}, home_.path());
  EXPECT_EQ(shown.status, 0) << shown.err;
  EXPECT_NE(shown.out.find("dates:       19990104 to 19990106"), std::string::npos) << shown.out;
}
