#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <functional>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

#include "chartdata/chartfile.h"
#include "chartdata/faults.h"
#include "chartdata/encodings.h"
#include "convert/adjust.h"
#include "convert/chart_check.h"
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

// ---- Checks of whole charts, repairs, adjustment by date ----------------------

namespace {

std::uint32_t lcg(std::uint32_t& s) { return s = s * 69069u + 1u; }

// Business days from `first` to `last`, without the fixed holidays (month
// and day) given.
std::vector<std::int32_t> business_days(std::int32_t first, std::int32_t last,
                                        const std::vector<int>& holidays = {}) {
  std::vector<std::int32_t> out;
  for (int n = dton(first); ntod(n) <= last; ++n) {
    const std::int32_t d = ntod(n);
    const int wd = (n + 4) % 7;  // 5 Saturday, 6 Sunday
    if (wd < 5 && std::find(holidays.begin(), holidays.end(), d % 10000) == holidays.end()) out.push_back(d);
  }
  return out;
}

// A random walk of a daily chart on `dates`: moves within 2 %, volumes
// around 1,000,000.  With `split` (an ex-date) the prices before it are 4
// times higher and the volumes a quarter, as a chart never adjusted for a
// 4:1 split holds them.
std::vector<BarRecord> walk(const std::vector<std::int32_t>& dates, std::uint32_t seed, std::int32_t split = 0) {
  std::vector<BarRecord> bars;
  double p = 50;
  for (std::int32_t d : dates) {
    const double c = p * (1 + (static_cast<int>(lcg(seed) % 401) - 200) / 10000.0);
    const double f = split && d < split ? 4 : 1;
    const auto v = static_cast<std::int32_t>((900000 + lcg(seed) % 200000) / f);
    bars.push_back(bar(d, float(p * f), float(std::max(p, c) * 1.005 * f), float(std::min(p, c) * 0.995 * f),
                       float(c * f), v, 0));
    p = c;
  }
  return bars;
}

ChartImage image_of(const std::vector<BarRecord>& bars, char type = 'D') {
  ChartImage c;
  const Bytes b = ::chart_bytes(type, bars.back().date, bars);
  EXPECT_TRUE(chart_from_bytes(b, c));
  return c;
}

std::vector<CheckKind> kinds_of(const std::vector<Finding>& f) {
  std::vector<CheckKind> k;
  for (const Finding& x : f) k.push_back(x.kind);
  return k;
}

}  // namespace

TEST(ChartCheck, EachKindOfFaultIsFoundWhereItWasPlanted) {
  const std::vector<std::int32_t> days = business_days(19990104, 19990331);
  const std::vector<BarRecord> clean = walk(days, 7);
  std::vector<std::int32_t> reference = days;
  struct Case {
    CheckKind kind;
    long bar;  // where it is found; 0: the chart as a whole
    std::function<void(ChartImage&)> plant;
    bool against_reference = false;
  };
  const auto at = [](ChartImage& c, std::size_t i) -> BarRecord& { return c.bars[i]; };
  const Case cases[] = {
      {CheckKind::kPartialRecord, 64, [](ChartImage& c) { c.trailing = 5; }},
      {CheckKind::kHeaderDate, 0, [](ChartImage& c) { put_le32(c.header + kHeaderDateOffset, 19990301); }},
      {CheckKind::kUnknownType, 0, [](ChartImage& c) { c.header[kHeaderTypeOffset] = 'Q'; }},
      {CheckKind::kSixDigitDates, 0,
       [](ChartImage& c) {
         for (BarRecord& b : c.bars) b.date -= 19000000;
       }},
      {CheckKind::kDuplicateDate, 11, [&](ChartImage& c) { at(c, 10).date = at(c, 9).date; }},
      {CheckKind::kOutOfOrder, 12, [&](ChartImage& c) { std::swap(at(c, 10), at(c, 11)); }},
      {CheckKind::kNotCalendar, 31, [&](ChartImage& c) { at(c, 30).date = 19990230; }},
      {CheckKind::kNotCalendar, 1, [&](ChartImage& c) { at(c, 0).date = -4759898; }},  // short, not an old chart
      {CheckKind::kWeekend, 5, [&](ChartImage& c) { at(c, 4).date = 19990109; }},  // Friday -> Saturday
      {CheckKind::kNotNumber, 21, [&](ChartImage& c) { at(c, 20).close = NAN; }},
      {CheckKind::kNotPositive, 21, [&](ChartImage& c) { at(c, 20).low = 0; }},
      {CheckKind::kOutsideRange, 21, [&](ChartImage& c) { at(c, 20).open = at(c, 20).high + 1; }},
      {CheckKind::kHighBelowLow, 21, [&](ChartImage& c) { at(c, 20).high = at(c, 20).low - 0.5f; }},
      {CheckKind::kNegativeCount, 21, [&](ChartImage& c) { at(c, 20).openint = -1; }},
      {CheckKind::kBigMove, 21,
       [&](ChartImage& c) {
         BarRecord& b = at(c, 20);
         b.close *= 1.7f;
         b.high = b.close;
       }},
      {CheckKind::kUnitJump, 21,
       [&](ChartImage& c) {
         for (std::size_t i = 20; i < c.bars.size(); ++i)
           for (float* p : {&c.bars[i].open, &c.bars[i].high, &c.bars[i].low, &c.bars[i].close}) *p *= 100;
       }},
      {CheckKind::kSplit, 21,
       [&](ChartImage& c) {
         for (std::size_t i = 0; i < 20; ++i) c.bars[i] = scale_bar(c.bars[i], 4, 0.25);
       }},
      {CheckKind::kPlaceholder, 16,
       [&](ChartImage& c) {
         const float p = at(c, 14).close;
         at(c, 15) = bar(at(c, 15).date, p, p, p, p, 0, 0);
       }},
      {CheckKind::kMissingDay, 0, [&](ChartImage& c) { c.bars.erase(c.bars.begin() + 12); }, true},
      {CheckKind::kExtraDay, 0, [&](ChartImage& c) { (void)c; }, true},
  };
  EXPECT_TRUE(check_chart(image_of(clean), "c", CheckLimits{}).empty());
  EXPECT_TRUE(check_chart(image_of(clean), "c", CheckLimits{}, &reference).empty());
  for (const Case& k : cases) {
    SCOPED_TRACE(check_kind_name(k.kind));
    ChartImage c = image_of(clean);
    k.plant(c);
    std::vector<std::int32_t> ref = reference;
    if (k.kind == CheckKind::kExtraDay) ref.erase(ref.begin() + 7);
    if (k.kind != CheckKind::kHeaderDate && k.kind != CheckKind::kSixDigitDates && !c.bars.empty())
      put_le32(c.header + kHeaderDateOffset, static_cast<std::uint32_t>(c.bars.back().date));
    const std::vector<Finding> got = check_chart(c, "c", CheckLimits{}, k.against_reference ? &ref : nullptr);
    const auto hit = std::find_if(got.begin(), got.end(), [&](const Finding& f) { return f.kind == k.kind; });
    ASSERT_NE(hit, got.end()) << got.size() << " findings, the first " << (got.empty() ? "" : got[0].detail);
    if (k.bar) EXPECT_EQ(hit->bar, k.bar) << hit->detail;
    // What repair mends leaves no finding of a mended kind behind.
    if (check_kind_mechanical(k.kind)) {
      const RepairPlan plan = plan_repair(c);
      EXPECT_TRUE(plan.changed());
      for (const Finding& f : check_chart(plan.result, "c", CheckLimits{}))
        EXPECT_FALSE(check_kind_mechanical(f.kind)) << check_kind_name(f.kind) << ": " << f.detail;
    }
  }
}

TEST(ChartCheck, ThirtyYearsOfBusinessDaysWithHolidaysAreClean) {
  const std::vector<int> holidays = {101, 704, 1225, 1226, 1111};
  const std::vector<BarRecord> bars = walk(business_days(19950102, 20241231, holidays), 2026);
  ASSERT_GT(bars.size(), 7500u);
  const std::vector<Finding> got = check_chart(image_of(bars), "long", CheckLimits{});
  EXPECT_TRUE(got.empty()) << got.size() << " findings, the first: " << check_kind_name(got[0].kind) << " "
                           << got[0].detail;
  EXPECT_FALSE(plan_repair(image_of(bars)).changed());
}

TEST(ChartCheck, RepairKeepsTheLaterRecordOfADateAndSortsTheRest) {
  ChartImage c = image_of({bar(19990105, 2, 3, 1, 2), bar(19990104, 1, 2, 0.5f, 1), bar(19990105, 5, 6, 4, 5)});
  put_le32(c.header + kHeaderDateOffset, 19990101);
  c.trailing = 3;
  const RepairPlan plan = plan_repair(c);
  EXPECT_EQ(plan.fixes.size(), 4u);
  expect_bars(plan.result.bars, {bar(19990104, 1, 2, 0.5f, 1), bar(19990105, 5, 6, 4, 5)});
  EXPECT_EQ(static_cast<std::int32_t>(get_le32(plan.result.header + kHeaderDateOffset)), 19990105);
  EXPECT_EQ(plan.result.trailing, 0u);
}

TEST_F(AdjustChart, AFourForOneSplitIsFoundAndItsCommandMendsIt) {
  const std::int32_t ex = 20200831;
  const std::vector<std::int32_t> days = business_days(20190102, 20211231, {101, 704, 1225});
  write_file("aapl", ::chart_bytes('D', days.back(), walk(days, 31, ex)));
  ChartImage c;
  std::vector<unsigned char> buf;
  ASSERT_EQ(load_chart("aapl", c, buf), "");
  const std::vector<Finding> got = check_chart(c, "aapl", CheckLimits{});
  ASSERT_EQ(kinds_of(got), std::vector<CheckKind>{CheckKind::kSplit});
  EXPECT_EQ(got[0].date, ex);
  EXPECT_EQ(got[0].fix, "adjust --split 4:1 --before 20200831 --in-place aapl");

  const Result r = adjust_in_place("aapl", split_request(4, 1, ex));
  ASSERT_TRUE(r.ok()) << r.message;
  ASSERT_EQ(load_chart("aapl", c, buf), "");
  const std::vector<BarRecord> want = walk(days, 31);
  ASSERT_EQ(c.bars.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(want[i].date);
    for (auto f : {&BarRecord::open, &BarRecord::high, &BarRecord::low, &BarRecord::close})
      EXPECT_FLOAT_EQ(c.bars[i].*f, want[i].*f);
    EXPECT_NEAR(c.bars[i].volume, want[i].volume, 4);  // a quarter rounded, then times 4
  }
  EXPECT_TRUE(check_chart(c, "aapl", CheckLimits{}).empty());
}

TEST_F(AdjustChart, DatesSplitsAndDividendsChangeOnlyTheBarsBeforeTheExDate) {
  const std::vector<BarRecord> bars = {bar(20240102, 10, 12, 9, 11, 1001, 7), bar(20240103, 20, 22, 18, 20, 300, 7),
                                       bar(20240104, 5, 6, 4, 5, 10, 7)};
  int n = 0, m = 0;
  EXPECT_TRUE(parse_split("1:10", &n, &m) && n == 1 && m == 10);
  EXPECT_TRUE(parse_split("3-for-2", &n, &m) && n == 3 && m == 2);
  for (const char* bad : {"4", "0:1", "2:2", "a:b", "4:"}) EXPECT_FALSE(parse_split(bad, &n, &m)) << bad;
  const AdjustRequest reverse = split_request(1, 10, 20240103);
  EXPECT_FLOAT_EQ(adjust_request_bar(bars[0], reverse).close, 110);
  EXPECT_EQ(adjust_request_bar(bars[0], reverse).volume, 100);  // 100.1 rounded
  EXPECT_EQ(adjust_request_bar(bars[1], reverse).close, 20);    // the ex-date itself is kept
  AdjustRequest d;
  const Result ok = dividend_request(2, 20240104, bars, d);
  ASSERT_TRUE(ok.ok());
  EXPECT_EQ(ok.last, 20240103);
  EXPECT_FLOAT_EQ(adjust_request_bar(bars[0], d).close, 11 * 0.9f);
  EXPECT_EQ(adjust_request_bar(bars[0], d).volume, 1001);
  for (double amount : {20.0, 25.0}) EXPECT_EQ(dividend_request(amount, 20240104, bars, d).status, Status::kRefused);
  EXPECT_EQ(dividend_request(1, 20240102, bars, d).status, Status::kRefused);  // no bar before
  // A volume beyond 32 bits is refused, the chart left as it was.
  write_file("big", ::chart_bytes('D', 20240103, {bar(20240102, 1, 1, 1, 1, 2000000000, 0), bars[1]}));
  const Bytes before = read_file("big");
  const Result r = adjust_in_place("big", split_request(4, 1, 20240103));
  EXPECT_EQ(r.status, Status::kRefused);
  EXPECT_EQ(r.last, 20240102);
  EXPECT_EQ(read_file("big"), before);
}
