// The real program under Xvfb: F3 weekly and monthly, F4 numbered and F5
// adjusted charts through their real dialogues, with and without an index
// file, each result compared byte for byte with a chart computed here from
// the source bars by calendar arithmetic.
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/chart_files.h"
#include "support/tempdir.h"
#include "support/x11_harness.h"

namespace {

using namespace std::chrono;

struct Bar {
  std::int32_t date;
  float open, high, low, close;
  std::int32_t volume, openint;
};

Bytes chart(char type, std::int32_t hdr_date, const std::vector<Bar>& bars) {
  Bytes b = chart_header(hdr_date, type);
  for (const Bar& x : bars) put_bar(b, x.date, x.open, x.high, x.low, x.close, x.volume, x.openint);
  return b;
}

year_month_day ymd_of(std::int32_t d) {
  return year{d / 10000} / month{unsigned(d / 100 % 100)} / day{unsigned(d % 100)};
}
std::int32_t date_of(year_month_day ymd) {
  return int(ymd.year()) * 10000 + int(unsigned(ymd.month())) * 100 + int(unsigned(ymd.day()));
}
// Days since 1 January of year 0 counted from 1; 0 for the date 0.
int day_count(std::int32_t d) {
  if (d == 0) return 0;
  return int((sys_days{ymd_of(d)} - sys_days{year{0} / 1 / 1}).count()) + 1;
}

// Weekdays from Monday 4 January 1999 to Wednesday 3 February: a leading
// bar with negative volume, one volume above ten million.
std::vector<Bar> source_bars() {
  std::vector<Bar> bars;
  sys_days d = sys_days{year{1999} / 1 / 4};
  for (int i = 0; i < 23; ++i, d += days{1}) {
    while (weekday{d} == Saturday || weekday{d} == Sunday) d += days{1};
    float p = 20.0f + float((i * 7) % 11) * 0.5f;
    bars.push_back({date_of(year_month_day{d}), p, p + 1.25f + (i % 3), p - 0.75f - (i % 2),
                    p + 0.25f, 1000 + 10 * i, 50 + i});
  }
  bars[0].volume = -1;
  bars[6].volume = 50000000;
  return bars;
}

struct IndexLine {
  std::int32_t date;
  float value;
};
// The ramp of an index file of ascending lines: the later line's value
// scaled from 0.1 to 1 across the days between two lines.
Bar with_index(Bar b, const std::vector<IndexLine>& lines) {
  std::int32_t prev = 0;
  for (const IndexLine& l : lines) {
    if (prev < b.date && b.date < l.date) {
      double span = day_count(l.date) - day_count(prev);
      double dist = day_count(l.date) - day_count(b.date);
      float a = float(double(l.value) * (1.0 - 0.9 * dist / span));
      b.open += a;
      b.high += a;
      b.low += a;
      b.close += a;
    }
    prev = l.date;
  }
  return b;
}

std::int32_t scaled_volume(std::int32_t v) {
  while (v > 10000000) v /= 1000;
  return v;
}

// Bars folded by a key: open of the first, extreme high and low, close of
// the last, volume and open interest summed.
template <class Key>
std::vector<Bar> fold_by(const std::vector<Bar>& in, Key key) {
  std::vector<Bar> out;
  std::int32_t last_key = -1;
  for (const Bar& b : in) {
    std::int32_t k = key(b.date);
    Bar v = b;
    v.volume = scaled_volume(b.volume);
    if (out.empty() || k != last_key) {
      v.date = k;
      out.push_back(v);
    } else {
      Bar& g = out.back();
      g.high = std::max(g.high, v.high);
      g.low = std::min(g.low, v.low);
      g.close = v.close;
      g.volume += v.volume;
      g.openint += v.openint;
    }
    last_key = k;
  }
  return out;
}

std::int32_t friday_of_week(std::int32_t d) {
  sys_days s{ymd_of(d)};
  unsigned wd = weekday{s}.iso_encoding();  // 1 Monday .. 7 Sunday
  return date_of(year_month_day{s + days{5 - int(wd)}});
}
std::int32_t month_end(std::int32_t d) {
  year_month_day ymd = ymd_of(d);
  unsigned end = unsigned(year_month_day_last{ymd.year(), month_day_last{ymd.month()}}.day());
  if (end == 29) end = 28;  // February counts 28 days in every year
  return d / 100 * 100 + int(end);
}

class FoldsE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.ok());
    work_ = home_.mkdirs("morva");
    src_ = source_bars();
    ASSERT_TRUE(write_file(file("d.M"), chart('D', src_[0].date, src_)));
  }
  void start() {
    ASSERT_TRUE(app_.start({.cwd = home_.path(), .home = home_.path(), .display = server_.display(),
                            .dump_path = home_.file("shadow.txt"), .args = {"charting"}, .binary = {}}));
    ASSERT_TRUE(app_.wait_for_text("convert TECHTOOLS files", 10000)) << app_.output();
    ASSERT_TRUE(drv_.find_window(app_.pid()));
  }
  // Waits until the program shows `prompt` (the shadow text is written
  // whenever the screen changed, also while the line editor polls).
  void at_prompt(std::string_view prompt) { ASSERT_TRUE(app_.wait_for_text(prompt)) << app_.screen(); }
  // Waits until `text` has left the screen.
  void gone(std::string_view text) {
    for (int waited = 0; app_.screen().find(text) != std::string::npos; waited += 20) {
      ASSERT_LT(waited, 5000) << app_.screen();
      std::this_thread::sleep_for(milliseconds(20));
    }
  }
  void pick_source(int fkey) {
    drv_.fkey(fkey);
    at_prompt("Enter a MORVA filename");
    drv_.type("d.M\r");
  }
  // Answers the hand-off question with y: the program ends and leaves the
  // stored chart's name in "tmpmorva".
  void hand_over() {
    // The chart written is said first.
    ASSERT_TRUE(app_.wait_for_text("Press a key.", 10000)) << app_.screen();
    EXPECT_NE(app_.screen().find(" bars written to ~/morva/"), std::string::npos) << app_.screen();
    drv_.type(" ");
    ASSERT_TRUE(app_.wait_for_text("Do you want to graph this new file now? (y/n)->", 10000))
        << app_.screen();
    drv_.type("y");
    ASSERT_EQ(app_.wait_exit(10000), 0) << app_.output();
  }
  std::string file(const std::string& name) const { return work_ + "/" + name; }
  std::vector<Bar> taken(const std::vector<IndexLine>& idx) const {
    std::vector<Bar> out;
    for (const Bar& b : src_)
      if (!out.empty() || b.volume >= 0) out.push_back(with_index(b, idx));
    return out;
  }

  xh::Xvfb server_{1024};
  TempDir home_{"mv"};
  std::string work_;
  std::vector<Bar> src_;
  xh::MorvaProcess app_;
  xh::XDriver drv_{server_.display()};
};

bool is_dir(const std::string& p) {
  struct stat st{};
  return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

TEST_F(FoldsE2E, F3WeeklyWithoutIndexFile) {
  start();
  pick_source(3);
  ASSERT_TRUE(app_.wait_for_text("To <W>eekly or <M>onthly? ->")) << app_.screen();
  drv_.type("w");
  at_prompt("Enter a MORVA WEEKLY filename (or ESCape):");
  drv_.type("w.M\r");
  hand_over();

  std::vector<Bar> want = fold_by(taken({}), friday_of_week);
  EXPECT_EQ(read_file(file("w.M")), chart('W', want.back().date, want));
  EXPECT_EQ(read_text(file("tmpmorva")), "w.M");
  EXPECT_TRUE(is_dir(file("idx")));
}

TEST_F(FoldsE2E, F3MonthlyWithIndexFile) {
  home_.mkdirs("morva/idx");
  ASSERT_TRUE(write_text(file("idx/d.M"), "990101 10\n990111 20\n990125 -4\n"));
  std::vector<IndexLine> idx = {{19990101, 10}, {19990111, 20}, {19990125, -4}};
  // The target exists: its header (chart type included) and its bars
  // outside the new range stay.
  Bytes old = chart('X', 7, {{19981231, 1, 2, 0.5f, 1.5f, 10, 1}, {19990131, 9, 9, 9, 9, 9, 9},
                             {19990331, 3, 4, 2, 3.5f, 30, 3}});
  ASSERT_TRUE(write_file(file("m.M"), old));
  start();
  pick_source(3);
  ASSERT_TRUE(app_.wait_for_text("To <W>eekly or <M>onthly? ->")) << app_.screen();
  drv_.type("M");
  at_prompt("Enter a MORVA MONTHLY filename (or ESCape):");
  drv_.type("m.M\r");
  hand_over();

  std::vector<Bar> months = fold_by(taken(idx), month_end);
  std::vector<Bar> want = {{19981231, 1, 2, 0.5f, 1.5f, 10, 1}};
  want.insert(want.end(), months.begin(), months.end());
  want.push_back({19990331, 3, 4, 2, 3.5f, 30, 3});
  EXPECT_EQ(read_file(file("m.M")), chart('X', months.back().date, want));
  EXPECT_EQ(read_text(file("tmpmorva")), "m.M");
}

TEST_F(FoldsE2E, F4NumberedChart) {
  start();
  pick_source(4);
  at_prompt("How many calendar days should be compressed into each bar? ->");
  drv_.type("5\r");
  at_prompt("Enter a `compressed' filename (or ESCape):");
  drv_.type("n.M\r");
  hand_over();

  // Serial dates: 0, then 1 January of year 0 onwards as mmdd.
  const std::int32_t serial[] = {0, 101, 102, 103, 104};
  std::vector<Bar> want;
  for (std::size_t i = 0; i < src_.size(); i += 5) {
    Bar g = src_[i];
    std::int64_t vol = g.volume;
    for (std::size_t j = i + 1; j < std::min(i + 5, src_.size()); ++j) {
      g.high = std::max(g.high, src_[j].high);
      g.low = std::min(g.low, src_[j].low);
      g.close = src_[j].close;
      vol += src_[j].volume;
      g.openint += src_[j].openint;
    }
    g.volume = std::int32_t(vol);
    g.date = serial[i / 5];
    want.push_back(g);
  }
  ASSERT_EQ(want.size(), 5u);
  EXPECT_EQ(read_file(file("n.M")), chart('N', src_[0].date, want));
  EXPECT_EQ(read_text(file("tmpmorva")), "n.M");
}

TEST_F(FoldsE2E, F5DivideWithIndexFile) {
  home_.mkdirs("morva/idx");
  ASSERT_TRUE(write_text(file("idx/d.M"), "990108 2\n990120 6\n"));
  std::vector<IndexLine> idx = {{19990108, 2}, {19990120, 6}};
  start();
  pick_source(5);
  ASSERT_TRUE(app_.wait_for_text("Do you want to add + subtract - multiply * or divide / the file? ->"))
      << app_.screen();
  drv_.type("/");
  at_prompt("Enter the size of constant with which you want to do this operation->");
  drv_.type("2\r");
  at_prompt("Enter a target filename (or ESCape):");
  drv_.type("d.M\r");  // the source's own name is refused
  ASSERT_TRUE(app_.wait_for_text("Use a name which differs from the source name.")) << app_.screen();
  EXPECT_NE(app_.screen().find("       Enter a target filename (or ESCape):"), std::string::npos);
  drv_.enter();
  gone("Use a name which differs from the source name.");
  drv_.type("half.M\r");
  hand_over();

  std::vector<Bar> want;
  for (const Bar& s : src_) {
    Bar b = with_index(s, idx);
    Bar o = b;
    o.open = float(double(b.open) / 2.0);
    o.high = float(double(b.high) / 2.0);
    o.low = float(double(b.low) / 2.0);
    o.close = float(double(b.close) / 2.0);
    o.volume = b.volume < 0 ? b.volume : b.volume * 2;
    want.push_back(o);
  }
  EXPECT_EQ(read_file(file("half.M")), chart('D', src_[0].date, want));
  EXPECT_EQ(read_file(file("d.M")), chart('D', src_[0].date, src_));
  // A first start names no data directory: the chart is handed over by its
  // full path.
  EXPECT_EQ(read_text(file("tmpmorva")), file("half.M"));
  EXPECT_TRUE(is_dir(file("idx")));
}

TEST_F(FoldsE2E, F5OnANumberedChartLeavesItByteForByte) {
  // Serials 0, 101, 102 ... look like six-digit dates; widened, bar 732
  // (11231) would become 19011231, before all the bars ahead of it.
  std::vector<Bar> bars;
  for (int k = 0; k < 800; ++k) {
    const std::int32_t serial = k == 0 ? 0 : date_of(year_month_day{sys_days{year{0} / 1 / 1} + days{k - 1}});
    bars.push_back({serial, 10, 11, 9, 10.5f, 100 + k, 0});
  }
  ASSERT_EQ(bars[731].date, 11231);
  const Bytes numbered = chart('N', 0, bars);
  ASSERT_TRUE(write_file(file("n.M"), numbered));
  start();
  drv_.fkey(5);
  at_prompt("Enter a MORVA filename");
  drv_.type("n.M\r");
  ASSERT_TRUE(app_.wait_for_text("Do you want to add + subtract - multiply * or divide / the file? ->"))
      << app_.screen();
  drv_.type("*");
  at_prompt("Enter the size of constant with which you want to do this operation->");
  drv_.type("1\r");
  at_prompt("Enter a target filename (or ESCape):");
  drv_.type("x.M\r");
  hand_over();
  EXPECT_EQ(read_file(file("n.M")), numbered);
  EXPECT_EQ(read_file(file("x.M")), numbered);  // times 1: header and bars as they were
}
