// The real program under Xvfb and morva-convert side by side: the window
// converts a text with settings changed in its menu and saves them at its
// end; morva-convert then takes those saved settings and the window's setup
// file by itself and must store the same charts, byte for byte.
#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "chartdata/bar.h"
#include "chartdata/safe_replace.h"
#include "support/tempdir.h"
#include "support/x11_harness.h"
#include "support/batch_support.h"

namespace {

std::vector<std::int32_t> dates_of(const Bytes& b) {
  std::vector<std::int32_t> out;
  for (std::size_t at = kHeaderSize; at + kBarSize <= b.size(); at += kBarSize)
    out.push_back(static_cast<std::int32_t>(get_le32(b.data() + at)));
  return out;
}

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

// The window converts a text into a chart while a batch run stores another
// day into the same chart.  The test holds the chart's lock until the
// window shows that it waits, so both writers meet at the lock: afterwards
// the chart holds both days and both say they stored them.
TEST_F(BatchE2E, WindowAndBatchRunIntoOneChartKeepBothDays) {
  // The window's and the batch run's settings: symbol, date, prices.
  ASSERT_TRUE(write_text(work_ + "/w.txt", "IBM,19990201,1,2,0.5,1.5,100,1\r\nIBM,19990202,1,2,0.5,1.5,100,1\r\n"));
  ASSERT_TRUE(write_text(work_ + "/b.txt", "IBM,19990203,3,4,2.5,3.5,200,2\nIBM,19990204,3,4,2.5,3.5,200,2\n"));
  ASSERT_TRUE(write_text(work_ + "/old.txt", "IBM,19990104,1,2,0.5,1.5,100,1\nIBM,19990105,1,2,0.5,1.5,100,1\n"));
  ASSERT_EQ(batch_test::run({"text-to-chart", work_ + "/old.txt", "--order", "SDOHLCVI", "--data-dir", work_,
                             "--start-dir", work_},
                            home_.path())
                .status,
            0);
  const std::string chart = work_ + "/txt_i/ibm";
  ASSERT_TRUE(file_exists(chart));

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

  batch_test::Started batch;
  {
    ChartLock other(chart);  // another program writing the chart
    ASSERT_TRUE(other.held());
    batch = batch_test::start({"text-to-chart", work_ + "/b.txt", "--order", "SDOHLCVI", "--data-dir", work_,
                               "--start-dir", work_},
                              home_.path());
    drv_.fkey(2);
    wait("Enter a TEXT filename");
    settle();
    drv_.type("w.txt\r");
    wait("Waiting for");
  }
  wait(" Finished.");
  const batch_test::Outcome b = batch_test::finish(batch);
  EXPECT_EQ(b.status, 0) << b.err;
  EXPECT_EQ(dates_of(read_file(chart)),
            (std::vector<std::int32_t>{19990104, 19990105, 19990201, 19990202, 19990203, 19990204}));
  drv_.enter();
  wait("<F2> to start converting a");
  drv_.esc();
  wait("convert TECHTOOLS files");
  drv_.esc();
  ASSERT_EQ(app_.wait_exit(10000), 0) << app_.output();
}
