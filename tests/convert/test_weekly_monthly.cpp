#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "chartdata/chartfile.h"
#include "chartdata/faults.h"
#include "window/globals.h"
#include "convert/weekly_monthly.h"
#include "support/chart_files.h"
#include "support/tempdir.h"

namespace {

// 1 January 1999 was a Friday.
constexpr int kMon = 19990104, kTue = 19990105, kWed = 19990106, kThu = 19990107,
              kFri = 19990108, kSat = 19990109, kNextMon = 19990111, kNextTue = 19990112;

BarRecord flat(std::int32_t date, float p = 10, std::int32_t v = 100, std::int32_t oi = 10) {
  return bar(date, p, p, p, p, v, oi);
}

TEST(FoldWeekly, Groups) {
  struct Case {
    const char* what;
    bool already_weekly;
    std::vector<BarRecord> in;
    std::vector<BarRecord> out;
  };
  const std::vector<Case> cases = {
      {"one bar: its week's Friday", false, {flat(kWed)}, {flat(kFri)}},
      {"Monday to Friday", false,
       {bar(kMon, 10, 12, 9, 11, 100, 5), bar(kTue, 11, 14, 10, 13, 200, 6),
        bar(kWed, 13, 13, 8, 9, 300, 7), bar(kThu, 9, 10, 8.5f, 10, 400, 8),
        bar(kFri, 10, 11, 9.5f, 10.5f, 500, 9)},
       {bar(kFri, 10, 14, 8, 10.5f, 1500, 35)}},
      {"Saturday joins the week before", false,
       {flat(kMon, 10), flat(kFri, 11), flat(kSat, 12)},
       {bar(kFri, 10, 12, 10, 12, 300, 30)}},
      {"weekend bar starting a group goes back to Friday", false,
       {flat(kSat, 12), flat(kNextMon, 13)}, {flat(kFri, 12), flat(19990115, 13)}},
      {"Tuesday to Tuesday without a Monday", false,
       {flat(kTue, 1), flat(kNextTue, 2)}, {flat(kFri, 1), flat(19990115, 2)}},
      {"a Monday closes the group", false,
       {flat(kThu, 1), flat(kNextMon, 2)}, {flat(kFri, 1), flat(19990115, 2)}},
      {"already weekly: one group per bar", true,
       {flat(kThu, 1), flat(kNextTue, 2)}, {flat(kFri, 1), flat(19990115, 2)}},
      {"leading negative volumes skipped, later ones summed", false,
       {flat(kMon, 1, -5), flat(kTue, 2, 100), flat(kWed, 3, -40)},
       {bar(kFri, 2, 3, 2, 3, 60, 20)}},
      {"volumes normalised before summing", false,
       {flat(kMon, 1, 50000000), flat(kTue, 1, 10000001), flat(kWed, 1, 10000000)},
       {bar(kFri, 1, 1, 1, 1, 50000 + 10000 + 10000000, 30)}},
      {"open interest sums beyond 32 bits saturate", false,
       {flat(kMon, 1, 1, 2000000000), flat(kTue, 1, 1, 2000000000)},
       {bar(kFri, 1, 1, 1, 1, 2, INT_MAX)}},
      {"only negative volumes: nothing", false, {flat(kMon, 1, -1)}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    expect_bars(fold_bars(c.in, FoldKind::kWeekly, c.already_weekly), c.out);
  }
}

TEST(FoldWeekly, SundayAfterALongGroupMergesIntoTheSameFriday) {
  // Sunday to Saturday without a Monday is one group dated the Friday; the
  // next Sunday is 7 days on and closes it, but also belongs to that Friday.
  std::vector<BarRecord> in = {flat(19990103, 1), flat(kTue, 2), flat(kSat, 3),
                               flat(19990110, 4)};
  auto out = fold_bars(in, FoldKind::kWeekly, false);
  expect_bars(out, {bar(kFri, 1, 4, 1, 4, 400, 40)});
}

TEST(FoldMonthly, Groups) {
  struct Case {
    const char* what;
    std::vector<BarRecord> in;
    std::vector<BarRecord> out;
  };
  const std::vector<Case> cases = {
      {"29 February is dated the 28th", {flat(20000228, 1), flat(20000229, 2)},
       {bar(20000228, 1, 2, 1, 2, 200, 20)}},
      {"the 31st stays", {flat(19990115), flat(19990131)}, {bar(19990131, 10, 10, 10, 10, 200, 20)}},
      {"the 30th of a 31-day month becomes the 31st", {flat(19990330)}, {flat(19990331)}},
      {"the 30th of a 30-day month stays", {flat(19990430)}, {flat(19990430)}},
      {"first bar alone in its month", {flat(19990129, 1), flat(19990201, 2), flat(19990226, 3)},
       {flat(19990131, 1), bar(19990228, 2, 3, 2, 3, 200, 20)}},
      {"month number outside 1-12 keeps the date", {flat(19991305)}, {flat(19991305)}},
      {"the same month a year later is a new month", {flat(19990115, 1), flat(20000114, 2)},
       {flat(19990131, 1), flat(20000131, 2)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    expect_bars(fold_bars(c.in, FoldKind::kMonthly, false), c.out);
  }
}

TEST(FoldPass, IndexAppliedAndStopAfterAGroup) {
  struct StopAtOnce : ChartPassProgress {
    std::vector<float> shown;
    void progress(float close) override { shown.push_back(close); }
    bool stop_requested() override { return true; }
  } stop;
  IndexFile idx("990101 10\n990111 20\n");
  std::vector<BarRecord> in = {flat(kWed, 1), flat(kNextMon, 2), flat(19990118, 3)};
  bool stopped = false;
  auto out = fold_bars(in, FoldKind::kWeekly, false, idx, &stop, &stopped);
  EXPECT_TRUE(stopped);
  expect_bars(out, {flat(kFri, 12)});  // 1 + 11 from the index ramp
  ASSERT_EQ(stop.shown.size(), 1u);
  EXPECT_EQ(stop.shown[0], 2.0f);  // close of the Monday read last (on an index date)
}

class FoldChart : public ChartFolderTest {
 protected:
  ChartPassProgress quiet_;
};

TEST_F(FoldChart, NewTargetGetsTypeAndLastDate) {
  int fd = source(chart_bytes('D', 0, {flat(kMon, 1), flat(kFri, 2), flat(kNextTue, 3)}));
  Result r = fold_chart(fd, {FoldKind::kWeekly, IndexFile(), "w.M"}, quiet_);
  EXPECT_EQ(r.status, Status::kDone);
  EXPECT_EQ(r.count, 2);
  EXPECT_EQ(read_file(tmp_.file("w.M")),
            chart_bytes('W', 19990115,
                        {bar(kFri, 1, 2, 1, 2, 200, 20), flat(19990115, 3)}));
  EXPECT_EQ(fcntl(fd, F_GETFD), -1);  // the source was closed
}

TEST_F(FoldChart, ExistingTargetKeepsHeaderAndBarsOutsideTheRange) {
  Bytes old = chart_bytes('M', 123, {flat(19981231, 7), flat(19990131, 8), flat(19990331, 9)});
  old[5] = 'X';  // a header byte no conversion interprets
  write_file(tmp_.file("m.M"), old);
  int fd = source(chart_bytes('D', 0, {flat(19990105, 1), flat(19990227, 2)}));
  Result r = fold_chart(fd, {FoldKind::kMonthly, IndexFile(), "m.M"}, quiet_);
  ASSERT_EQ(r.status, Status::kDone);
  Bytes want = chart_bytes('M', 19990228, {flat(19981231, 7), flat(19990131, 1),
                                           flat(19990228, 2), flat(19990331, 9)});
  want[5] = 'X';
  EXPECT_EQ(read_file(tmp_.file("m.M")), want);
}

TEST_F(FoldChart, WeekendFirstBarReplacesTheOldFridayInsteadOfDuplicatingIt) {
  write_file(tmp_.file("w.M"), chart_bytes('W', 0, {flat(19990101, 5), flat(kFri, 6)}));
  int fd = source(chart_bytes('D', 0, {flat(kSat, 1)}));
  Result r = fold_chart(fd, {FoldKind::kWeekly, IndexFile(), "w.M"}, quiet_);
  ASSERT_EQ(r.status, Status::kDone);
  EXPECT_EQ(read_file(tmp_.file("w.M")), chart_bytes('W', kFri, {flat(19990101, 5), flat(kFri, 1)}));
}

TEST_F(FoldChart, SixDigitTargetIsUpgradedBeforeTheSplice) {
  write_file(tmp_.file("w.M"), chart_bytes('W', 0, {flat(981231, 5), flat(990108, 6)}));
  int fd = source(chart_bytes('D', 0, {flat(kNextTue, 1)}));
  ASSERT_EQ(fold_chart(fd, {FoldKind::kWeekly, IndexFile(), "w.M"}, quiet_).status, Status::kDone);
  EXPECT_EQ(read_file(tmp_.file("w.M")),
            chart_bytes('W', 19990115, {flat(19981231, 5), flat(kFri, 6), flat(19990115, 1)}));
}

TEST_F(FoldChart, AlreadyWeeklySourceByItsHeader) {
  int fd = source(chart_bytes('W', 0, {flat(kThu, 1), flat(kNextTue, 2)}));
  ASSERT_EQ(fold_chart(fd, {FoldKind::kWeekly, IndexFile(), "w.M"}, quiet_).status, Status::kDone);
  EXPECT_EQ(read_file(tmp_.file("w.M")),
            chart_bytes('W', 19990115, {flat(kFri, 1), flat(19990115, 2)}));
}

TEST_F(FoldChart, NothingUsableCreatesNothing) {
  const Bytes sources[] = {chart_bytes('D', 0, {}), chart_bytes('D', 0, {flat(kMon, 1, -1)}),
                           Bytes(50, ' ')};
  for (const Bytes& src : sources) {
    int fd = source(src);
    Result r = fold_chart(fd, {FoldKind::kWeekly, IndexFile(), "w.M"}, quiet_);
    EXPECT_EQ(r.status, Status::kNothing);
    EXPECT_EQ(r.message, kUnableToWriteMessage);
    EXPECT_FALSE(file_exists(tmp_.file("w.M")));
  }
}

TEST_F(FoldChart, DatesGoingBackwardsAreRefused) {
  Bytes old = chart_bytes('W', 0, {flat(kFri, 6)});
  write_file(tmp_.file("w.M"), old);
  int fd = source(chart_bytes('D', 0, {flat(kNextTue, 1), flat(kMon, 2)}));
  Result r = fold_chart(fd, {FoldKind::kWeekly, IndexFile(), "w.M"}, quiet_);
  EXPECT_EQ(r.status, Status::kRefused);
  EXPECT_EQ(r.message, kUnsortedMessage);
  EXPECT_EQ(read_file(tmp_.file("w.M")), old);
}

TEST_F(FoldChart, FailedWriteOrRenameLeavesTargetAsItWas) {
  Bytes old = chart_bytes('W', 99, {flat(19981231, 5), flat(19990129, 6)});
  Bytes src = chart_bytes('D', 0, {flat(kMon, 1), flat(kNextTue, 2), flat(19990118, 3)});
  for (int which = 0; which < 6; ++which) {
    SCOPED_TRACE(which);
    write_file(tmp_.file("w.M"), old);
    faults_reset();
    if (which < 4) g_faults.fail_write = which + 1;
    else if (which == 4) g_faults.fail_rename = 1;
    else g_faults.fail_create = 1;
    int fd = source(src);
    Result r = fold_chart(fd, {FoldKind::kWeekly, IndexFile(), "w.M"}, quiet_);
    EXPECT_EQ(r.status, Status::kFailed);
    EXPECT_EQ(r.message, kUnableToWriteMessage);
    EXPECT_EQ(read_file(tmp_.file("w.M")), old);
    EXPECT_EQ(list_dir(tmp_.path()), (std::vector<std::string>{"src.M", "w.M"}));
  }
}

TEST_F(FoldChart, StopKeepsGroupsSoFarAndLaterOldBars) {
  struct StopAtOnce : ChartPassProgress {
    bool stop_requested() override { return true; }
  } stop;
  write_file(tmp_.file("w.M"), chart_bytes('W', 0, {flat(19990101, 5), flat(19990129, 9)}));
  int fd = source(chart_bytes('D', 0, {flat(kMon, 1), flat(kNextTue, 2)}));
  Result r = fold_chart(fd, {FoldKind::kWeekly, IndexFile(), "w.M"}, stop);
  EXPECT_EQ(r.status, Status::kDone);
  EXPECT_TRUE(r.stopped);
  EXPECT_EQ(read_file(tmp_.file("w.M")),
            chart_bytes('W', kFri, {flat(19990101, 5), flat(kFri, 1), flat(19990129, 9)}));
}

}  // namespace
