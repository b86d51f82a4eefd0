// The real program under Xvfb with hostile surroundings: a file-size limit
// that makes writes fail part-way (SIGXFSZ ignored, so the write returns an
// error as a full disk would), and names typed through the keyboard that a
// shell would take apart.
#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#include "support/chart_files.h"
#include "support/tempdir.h"
#include "support/x11_harness.h"

namespace {

// A daily chart of `n` bars on consecutive days from 1 January 1990 (every
// date a valid yyyymmdd by a simple day-of-month walk).
Bytes daily_chart(int n) {
  Bytes h = chart_header(0, 'D');
  int y = 1990, m = 1, d = 1;
  for (int i = 0; i < n; ++i) {
    const float k = static_cast<float>(i % 7);
    put_bar(h, y * 10000 + m * 100 + d, 10.0f + k, 11.0f + k, 9.0f + k, 10.5f + k, 1000, 0);
    if (++d > 28) {
      d = 1;
      if (++m > 12) {
        m = 1;
        ++y;
      }
    }
  }
  return h;
}

// Runs the program with a limit on the size of the files it writes: the
// limit and the ignored SIGXFSZ are inherited by the program only.
class LimitedStart {
 public:
  LimitedStart(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    old_handler_ = signal(SIGXFSZ, SIG_IGN);
    rlimit lim = old_;
    lim.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lim);
  }
  ~LimitedStart() {
    setrlimit(RLIMIT_FSIZE, &old_);
    signal(SIGXFSZ, old_handler_);
  }

 private:
  rlimit old_{};
  sighandler_t old_handler_ = SIG_DFL;
};

class HostileE2E : public ::testing::Test {
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
  void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }
  void wait(const char* text) { ASSERT_TRUE(app_.wait_for_text(text, 15000)) << app_.screen(); }
  std::string file(const std::string& name) const { return work_ + "/" + name; }
  std::vector<std::string> temporaries(const std::string& dir) const {
    std::vector<std::string> out;
    for (const std::string& n : list_dir(dir))
      if (n == "tmpmorva.gph" || n.rfind(".morva-", 0) == 0) out.push_back(n);
    return out;
  }

  xh::Xvfb server_{1024};
  TempDir home_{"mx"};
  std::string work_;
  xh::MorvaProcess app_;
  xh::XDriver drv_{server_.display()};
};

}  // namespace

TEST_F(HostileE2E, WriteCutShortByAFileSizeLimitLeavesTheChartAndGoesOn) {
  // The chart (about 420 KB) is larger than the program may write (200 KB):
  // the spliced copy fails part-way.
  const Bytes old = daily_chart(15000);
  home_.mkdirs("morva/txt_i");
  ASSERT_TRUE(write_file(file("txt_i/ibm"), old));
  ASSERT_TRUE(write_text(file("ibm.txt"), "19950105,1,2,0.5,1.5,100,0\n19950106,1,2,0.5,1.5,100,0\n"));
  {
    LimitedStart limit(200 * 1024);
    start();
  }
  drv_.fkey(2);
  wait("<F2> to start converting a");
  drv_.fkey(2);
  settle();
  drv_.type("ibm.txt\r");
  settle();
  drv_.type("ibm\r");
  wait("Unable to write to disk");
  EXPECT_EQ(read_file(file("txt_i/ibm")), old) << "the chart is byte for byte as before";
  EXPECT_TRUE(temporaries(file("txt_i")).empty());
  // The program goes on: back to the menus and a normal end.
  drv_.enter();
  settle();
  drv_.esc();
  settle();
  drv_.esc();
  settle();
  drv_.esc();
  EXPECT_EQ(app_.wait_exit(15000), 0) << app_.output();
  EXPECT_EQ(read_file(file("txt_i/ibm")), old);
}

TEST_F(HostileE2E, NamesTypedThroughTheKeyboardAreFileNamesOnly) {
  // A TechTools file named like a command, converted into a chart named
  // like another: both are plain names, nothing runs.
  Bytes tt = {2, 0};
  tt.resize(16, 0);
  for (unsigned serial : {36164u, 36165u}) {
    tt.push_back(static_cast<unsigned char>(serial));
    tt.push_back(static_cast<unsigned char>(serial >> 8));
    for (int k = 0; k < 4; ++k) tt.insert(tt.end(), {0xE8, 0x03});  // 10.00
    tt.insert(tt.end(), {100, 0, 0, 0, 0, 0});
  }
  const std::string source = "$(touch pwned)";
  const std::string target = "a;b `touch pwned`";
  ASSERT_TRUE(write_file(file(source), tt));
  start();
  drv_.fkey(9);
  settle();
  drv_.type(source + "\r");
  settle();
  drv_.type(target + "\r");
  settle();
  drv_.esc();
  settle();
  drv_.esc();
  EXPECT_EQ(app_.wait_exit(15000), 0) << app_.output();
  const Bytes chart = read_file(file(target));
  ASSERT_EQ(chart.size(), 128u + 2 * 28u) << "the chart is written under exactly the typed name";
  EXPECT_EQ(read_file(file(source)), tt);
  for (const std::string& dir : {work_, home_.path()})
    EXPECT_FALSE(file_exists(dir + "/pwned")) << dir;
}
