#include <gtest/gtest.h>

#include <climits>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

#include "chartdata/chartfile.h"
#include "chartdata/faults.h"
#include "convert/compress.h"
#include "support/chart_files.h"
#include "support/tempdir.h"

namespace {

// Twelve bars whose prices tell them apart: bar i (1-based) has open i,
// high 10 + i (bar 3 the highest of all), low i - 1, close i + 0.5.
std::vector<BarRecord> twelve() {
  std::vector<BarRecord> bars;
  for (int i = 1; i <= 12; ++i)
    bars.push_back(bar(19990100 + i, float(i), float(i == 3 ? 99 : 10 + i), float(i - 1),
                       i + 0.5f, 100 * i, i));
  return bars;
}

// Header date 19990101; `marker` at byte 3 shows that the header is copied.
Bytes chart_bytes(const char type[2], const std::vector<BarRecord>& bars, char marker = ' ') {
  Bytes out = ::chart_bytes(type[0], 19990101, bars);
  out[3] = static_cast<unsigned char>(marker);
  return out;
}

TEST(CompressBars, GroupsByCount) {
  struct Case {
    const char* what;
    int n;
    std::vector<BarRecord> want;
  };
  const std::vector<Case> cases = {
      {"N = 5: bars 1-5, 6-10, 11-12", 5,
       {bar(0, 1, 99, 0, 5.5f, 1500, 15), bar(101, 6, 20, 5, 10.5f, 4000, 40),
        bar(102, 11, 22, 10, 12.5f, 2300, 23)}},
      {"N above the bar count: one bar", 500, {bar(0, 1, 99, 0, 12.5f, 7800, 78)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    expect_bars(compress_bars(twelve(), c.n), c.want);
  }
}

TEST(CompressBars, OneCopiesEveryBarWithSerialDates) {
  std::vector<BarRecord> in(40, bar(19990101, 1, 2, 0.5f, 1.5f, -7, 3));  // negative volumes kept
  auto got = compress_bars(in, 1);
  ASSERT_EQ(got.size(), 40u);
  const std::int32_t serial[] = {0, 101, 102, 103};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(got[i].date, serial[i]);
  EXPECT_EQ(got[31].date, 131);
  EXPECT_EQ(got[32].date, 201);
  EXPECT_EQ(got[0].volume, -7);
  EXPECT_EQ(got[0].close, 1.5f);
}

TEST(CompressBars, SumsSaturateAndCountsBelowOneGiveNothing) {
  std::vector<BarRecord> in(3, bar(1, 1, 1, 1, 1, 2000000000, -2000000000));
  auto got = compress_bars(in, 3);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].volume, INT_MAX);
  EXPECT_EQ(got[0].openint, INT_MIN);
  EXPECT_TRUE(compress_bars(in, 0).empty());
  EXPECT_TRUE(compress_bars(in, -3).empty());
}

class CompressChart : public ChartFolderTest {
 protected:
  ChartPassProgress quiet_;
};

TEST_F(CompressChart, HeaderCopiedWithTypeN) {
  const char daily[2] = {'D', '\n'}, numbered[2] = {'N', '\n'};
  write_file(tmp_.file("out.M"), chart_bytes(daily, twelve()));  // replaced whole
  int fd = source(chart_bytes(daily, twelve(), '#'));
  Result r = compress_chart(fd, {5, "out.M"}, quiet_);
  EXPECT_EQ(r.status, Status::kDone);
  EXPECT_EQ(r.count, 3);
  EXPECT_EQ(read_file(tmp_.file("out.M")), chart_bytes(numbered, compress_bars(twelve(), 5), '#'));
  EXPECT_EQ(fcntl(fd, F_GETFD), -1);
}

TEST_F(CompressChart, EmptySourceGivesHeaderOnly) {
  const char daily[2] = {'D', '\n'}, numbered[2] = {'N', '\n'};
  Result r = compress_chart(source(chart_bytes(daily, {})), {3, "out.M"}, quiet_);
  EXPECT_EQ(r.status, Status::kDone);
  EXPECT_EQ(read_file(tmp_.file("out.M")), chart_bytes(numbered, {}));
}

TEST_F(CompressChart, RefusalsAndFailuresLeaveTargetAsItWas) {
  const char daily[2] = {'D', '\n'};
  Bytes old = chart_bytes(daily, {bar(5, 1, 1, 1, 1, 1, 1)});
  struct Case {
    const char* what;
    Bytes src;
    int n, fail_write, fail_rename;
    Status status;
    const char* message;
  };
  const Case cases[] = {
      {"short header", Bytes(100, ' '), 5, 0, 0, Status::kRefused, kNotChartMessage},
      {"count 0", chart_bytes(daily, twelve()), 0, 0, 0, Status::kRefused, ""},
      {"negative count", chart_bytes(daily, twelve()), -2, 0, 0, Status::kRefused, ""},
      {"header write fails", chart_bytes(daily, twelve()), 5, 1, 0, Status::kFailed,
       kUnableToWriteMessage},
      {"third bar write fails", chart_bytes(daily, twelve()), 5, 4, 0, Status::kFailed,
       kUnableToWriteMessage},
      {"rename fails", chart_bytes(daily, twelve()), 5, 0, 1, Status::kFailed, kUnableToWriteMessage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write_file(tmp_.file("out.M"), old);
    int fd = source(c.src);
    faults_reset();
    g_faults.fail_write = c.fail_write;
    g_faults.fail_rename = c.fail_rename;
    Result r = compress_chart(fd, {c.n, "out.M"}, quiet_);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.message, c.message);
    faults_reset();
    EXPECT_EQ(read_file(tmp_.file("out.M")), old);
    EXPECT_EQ(list_dir(tmp_.path()), (std::vector<std::string>{"out.M", "src.M"}));
  }
}

TEST_F(CompressChart, StopKeepsGroupsWritten) {
  struct Stop : ChartPassProgress {
    int seen = 0;
    bool stop_requested() override { return ++seen == 2; }
  } stop;
  const char daily[2] = {'D', '\n'}, numbered[2] = {'N', '\n'};
  Result r = compress_chart(source(chart_bytes(daily, twelve())), {5, "out.M"}, stop);
  EXPECT_EQ(r.status, Status::kDone);
  EXPECT_TRUE(r.stopped);
  auto two = compress_bars(twelve(), 5);
  two.pop_back();
  EXPECT_EQ(read_file(tmp_.file("out.M")), chart_bytes(numbered, two));
}

}  // namespace
