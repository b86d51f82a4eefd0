#include <gtest/gtest.h>

#include <climits>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

#include "chartdata/chartfile.h"
#include "chartdata/faults.h"
#include "convert/adjust.h"
#include "support/chart_files.h"
#include "support/tempdir.h"

namespace {

// The source charts: header date 4242 and a marker byte that must be kept.
Bytes chart_bytes(char type, const std::vector<BarRecord>& bars) {
  Bytes out = ::chart_bytes(type, 4242, bars);
  out[10] = 'h';
  return out;
}

TEST(AdjustBar, OperatorsOnPricesAndVolume) {
  struct Case {
    const char* what;
    BarRecord in;
    char op;
    float k;
    BarRecord want;
  };
  const Case cases[] = {
      {"divide by 2 doubles the volume", bar(19990105, 10, 12, 9, 11, 1001, 7), '/', 2,
       bar(19990105, 5, 6, 4.5f, 5.5f, 2002, 7)},
      {"multiply by 3: volume 1000 / 3 truncated", bar(1, 1, 2, 0.5f, 1.5f, 1000, 9), '*', 3,
       bar(1, 3, 6, 1.5f, 4.5f, 333, 9)},
      {"multiply by 0.5 on volume 3", bar(1, 4, 4, 4, 4, 3, 9), '*', 0.5f, bar(1, 2, 2, 2, 2, 6, 9)},
      {"add keeps volume and open interest", bar(2, 100, 100, 100, 100, 55, 66), '+', 0.1f,
       bar(2, float(100 + double(0.1f)), float(100 + double(0.1f)), float(100 + double(0.1f)),
           float(100 + double(0.1f)), 55, 66)},
      {"subtract", bar(2, 10, 11, 9, 10.5f, 55, 66), '-', 1.5f, bar(2, 8.5f, 9.5f, 7.5f, 9, 55, 66)},
      {"negative volume: own prices with the operator, volume kept",
       bar(3, 10, 12, 8, 11, -5, 1), '*', 2, bar(3, 20, 24, 16, 22, -5, 1)},
      {"multiply by 0.1 rounds the volume to nearest", bar(5, 1, 1, 1, 1, 1000, 3), '*', 0.1f,
       bar(5, 0.1f, 0.1f, 0.1f, 0.1f, 10000, 3)},
      {"multiply by 0.2", bar(5, 1, 1, 1, 1, 1000, 3), '*', 0.2f, bar(5, 0.2f, 0.2f, 0.2f, 0.2f, 5000, 3)},
      {"volume past the 32-bit range is held at its edge", bar(4, 1, 1, 1, 1, 2000000000, 1), '*',
       0.001f, bar(4, 0.001f, 0.001f, 0.001f, 0.001f, INT_MAX, 1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BarRecord got = adjust_bar(c.in, c.op, c.k);
    EXPECT_EQ(got.date, c.want.date);
    EXPECT_FLOAT_EQ(got.open, c.want.open);
    EXPECT_FLOAT_EQ(got.high, c.want.high);
    EXPECT_FLOAT_EQ(got.low, c.want.low);
    EXPECT_FLOAT_EQ(got.close, c.want.close);
    EXPECT_EQ(got.volume, c.want.volume);
    EXPECT_EQ(got.openint, c.want.openint);
  }
}

TEST(AdjustBar, DoopRoundsToFloatAndIgnoresOtherOperators) {
  EXPECT_EQ(doop(100.0f, '+', double(0.1f)), 100.1f);  // the float nearest 100.1
  EXPECT_EQ(doop(1.0f, '/', 3.0), float(1.0 / 3.0));
  EXPECT_EQ(doop(7.25f, '%', 3.0), 7.25f);
  EXPECT_EQ(doop(7.25f, 0, 3.0), 7.25f);
}

TEST(AdjustConstant, Parsing) {
  struct Case {
    const char* text;
    int ok;
    float k;
  };
  const Case cases[] = {{"2", 1, 2}, {"0.5", 1, 0.5f}, {"-1.25", 1, -1.25f}, {"  3", 1, 3},
                        {"0", 0, 0},  {"0.0", 0, 0},    {"", 0, 0},          {"abc", 0, 0},
                        {"1e99", 0, 0}, {"1e-99", 0, 0}, {"+.", 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    float k = -123;
    EXPECT_EQ(parse_constant(c.text, &k), c.ok);
    if (c.ok) {
      EXPECT_EQ(k, c.k);
    }
  }
}

TEST(AdjustSaveName, RelativeToTheDataDirectory) {
  struct Case {
    const char *cwd, *data, *name, *want;
  };
  const Case cases[] = {
      {"/home/u/data", "/home/u/data", "x.M", "x.M"},
      {"/home/u/data/sub", "/home/u/data", "x.M", "sub/x.M"},
      {"/home/u/data/sub/deeper", "/home/u/data/", "x.M", "sub/deeper/x.M"},
      {"/home/u/database", "/home/u/data", "x.M", "/home/u/database/x.M"},  // a sibling
      {"/home/u", "/home/u/data", "x.M", "/home/u/x.M"},                   // a parent
      {"/home/u/data/sub", "/home/u/data", "/tmp/x.M", "/tmp/x.M"},        // absolute name
      {"/", "/home/u/data", "x.M", "/x.M"},
      {"/home/u/data", "", "x.M", "/home/u/data/x.M"},  // no start-up data directory
  };
  for (const Case& c : cases)
    EXPECT_EQ(name_from_data_dir(c.cwd, c.data, c.name), c.want) << c.cwd << " " << c.name;
}

using AdjustChart = ChartFolderTest;

TEST_F(AdjustChart, HeaderKeptIndexThenOperatorAndProgressEveryFifthBar) {
  struct Watch : ChartPassProgress {
    std::vector<float> shown;
    void progress(float close) override { shown.push_back(close); }
  } watch;
  std::vector<BarRecord> in;
  for (int d = 19990102; d <= 19990112; ++d) in.push_back(bar(d, 1, 2, 0.5f, 1, 1001, 3));
  IndexFile idx("990101 10\n990111 20\n");
  Result r = adjust_chart(source(chart_bytes('W', in)), {'/', 2, idx, "out.M"}, watch);
  ASSERT_EQ(r.status, Status::kDone);
  EXPECT_EQ(r.count, 11);
  std::vector<BarRecord> want;
  for (BarRecord b : in) {
    idx.apply(b);
    want.push_back(adjust_bar(b, '/', 2));
  }
  EXPECT_EQ(read_file(tmp_.file("out.M")), chart_bytes('W', want));
  ASSERT_EQ(watch.shown.size(), 2u);  // after bars 5 and 10
  EXPECT_EQ(watch.shown[0], 12.0f);  // 19990106 raised by 11, before the '/'
  EXPECT_EQ(watch.shown[1], 1.0f);                                 // 19990111: on the index date
}

TEST_F(AdjustChart, RefusalsAndFailuresLeaveTargetAsItWas) {
  std::vector<BarRecord> in(7, bar(19990105, 10, 12, 9, 11, 1001, 7));
  Bytes old = chart_bytes('D', {bar(1, 1, 1, 1, 1, 1, 1)});
  struct Case {
    const char* what;
    Bytes src;
    char op;
    float k;
    int fail_write, fail_rename;
    Status status;
    const char* message;
  };
  const Case cases[] = {
      {"short header", Bytes(127, 0), '+', 1, 0, 0, Status::kRefused, kNotChartMessage},
      {"zero constant", chart_bytes('D', in), '*', 0, 0, 0, Status::kRefused, ""},
      {"unknown operator", chart_bytes('D', in), 'x', 2, 0, 0, Status::kRefused, ""},
      {"a bar write fails", chart_bytes('D', in), '+', 1, 5, 0, Status::kFailed, kUnableToWriteMessage},
      {"rename fails", chart_bytes('D', in), '+', 1, 0, 1, Status::kFailed, kUnableToWriteMessage},
      {"a price overflows to inf", chart_bytes('D', in), '*', 1e38f, 0, 0, Status::kRefused,
       kOutOfRangeMessage},
      {"a volume leaves 32 bits", chart_bytes('D', {bar(1, 1, 1, 1, 1, 2000000000, 1)}), '*', 0.5f,
       0, 0, Status::kRefused, kOutOfRangeMessage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write_file(tmp_.file("out.M"), old);
    int fd = source(c.src);
    faults_reset();
    g_faults.fail_write = c.fail_write;
    g_faults.fail_rename = c.fail_rename;
    ChartPassProgress quiet;
    Result r = adjust_chart(fd, {c.op, c.k, IndexFile(), "out.M"}, quiet);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.message, c.message);
    faults_reset();
    EXPECT_EQ(read_file(tmp_.file("out.M")), old);
    EXPECT_EQ(list_dir(tmp_.path()), (std::vector<std::string>{"out.M", "src.M"}));
  }
}

TEST_F(AdjustChart, StopKeepsBarsWrittenAndEmptySourceGivesHeader) {
  struct Stop : ChartPassProgress {
    bool stop_requested() override { return true; }
  } stop;
  std::vector<BarRecord> in(3, bar(19990105, 10, 12, 9, 11, 1001, 7));
  Result r = adjust_chart(source(chart_bytes('D', in)), {'-', 1, IndexFile(), "out.M"}, stop);
  EXPECT_EQ(r.status, Status::kDone);
  EXPECT_TRUE(r.stopped);
  EXPECT_EQ(read_file(tmp_.file("out.M")), chart_bytes('D', {adjust_bar(in[0], '-', 1)}));

  ChartPassProgress quiet;
  r = adjust_chart(source(chart_bytes('M', {})), {'*', 3, IndexFile(), "out2.M"}, quiet);
  EXPECT_EQ(r.status, Status::kDone);
  EXPECT_EQ(read_file(tmp_.file("out2.M")), chart_bytes('M', {}));
}

}  // namespace
