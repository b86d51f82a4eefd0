// Dates and day numbers, two-digit years, price codes, volumes and quote
// fractions.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

#include "chartdata/bar_checks.h"
#include "chartdata/encodings.h"

namespace {

using namespace std::chrono;

// Days since 1 January of year 0 by the standard library's civil calendar.
long civil_days(int y, unsigned m, unsigned d) {
  static const sys_days origin = year{0} / January / 1;
  return (sys_days(year{y} / month{m} / day{d}) - origin).count();
}

TEST(DayNumbers, MatchCivilCalendarForEveryDateOfYears0To2999) {
  const int base = dton(101);
  ASSERT_EQ(base, 1);
  int previous = 0;
  int failures = 0;
  for (int y = 0; y <= 2999 && failures < 10; ++y) {
    for (unsigned m = 1; m <= 12; ++m) {
      const unsigned last = static_cast<unsigned>((year{y} / month{m} / std::chrono::last).day());
      for (unsigned d = 1; d <= last; ++d) {
        const int date = y * 10000 + static_cast<int>(m * 100 + d);
        const int n = dton(date);
        if (n - base != civil_days(y, m, d) || ntod(n) != date || n != previous + 1) {
          ADD_FAILURE() << "date " << date << " day " << n << " ntod " << ntod(n);
          ++failures;
        }
        previous = n;
      }
    }
  }
  EXPECT_EQ(previous, dton(29991231));
}

TEST(DayNumbers, CalendarDatesAgreeWithTheCivilCalendar) {
  for (int y : {1900, 2000, 2021, 2024, 2026})
    for (unsigned m = 0; m <= 13; ++m)
      for (unsigned d = 0; d <= 32; ++d) {
        const bool civil = m >= 1 && m <= 12 && year_month_day(year{y} / month{m} / day{d}).ok();
        EXPECT_EQ(is_calendar_date(y * 10000 + static_cast<int>(m * 100 + d)), civil) << y << ' ' << m << ' ' << d;
      }
}

TEST(BarRules, EachRuleAndItsWords) {
  const float nan = std::nanf("");
  struct Case {
    BarRecord bar;
    unsigned faults;
  } cases[] = {
      {{20240102, 10, 11, 9, 10.5f, 100, 0}, 0},
      {{20240102, 10, 10, 10, 10, 0, 0}, 0},  // close-only bar
      {{20240102, 10, 9, 11, 10, 100, 0}, kBarHighBelowLow | kBarOutsideRange},
      {{20240102, 12, 11, 9, 10, 100, 0}, kBarOutsideRange},
      {{20240102, 10, 11, 9, 8, 100, 0}, kBarOutsideRange},
      {{20240102, 3.18f, 0, 0, 3.08f, 1870906, 0}, kBarOutsideRange | kBarNotPositive},
      {{20240102, 0, 0, 0, 0, 0, 0}, kBarNotPositive},
      {{20240102, nan, 11, 9, 10, 100, 0}, kBarNotNumber},
      {{20240102, 10, 11, 9, 10, -1, 0}, kBarNegativeCount},
      {{20240102, 10, 11, 9, 10, 1, -5}, kBarNegativeCount},
      {{20241301, 10, 11, 9, 10, 1, 0}, kBarNotCalendar},
      {{20210229, 10, 11, 9, 10, 1, 0}, kBarNotCalendar},
      {{991231, 10, 11, 9, 10, 1, 0}, 0},  // an old yymmdd date is not judged
  };
  BarTally tally;
  for (const Case& c : cases) {
    EXPECT_EQ(bar_value_faults(c.bar), c.faults) << c.bar.date << ' ' << c.bar.open;
    tally.add(c.bar);
  }
  EXPECT_EQ(tally.checked(), std::size(cases));
  EXPECT_EQ(tally.broken(), std::size(cases) - 3);
  EXPECT_EQ(tally.with(kBarOutsideRange), 4u);
  EXPECT_EQ(tally.summary().substr(0, 73),
            "10 bars break the bar rules (1 price not a number, 1 high below low, 4 op");
  EXPECT_NE(tally.summary().find("first: 20240102 high below low, open or close outside high-low, 20240102"),
            std::string::npos)
      << tally.summary();
  EXPECT_EQ(BarTally().summary(), "");
  const BarRecord order[] = {{20240102, 1, 1, 1, 1, 0, 0}, {20240102, 1, 1, 1, 1, 0, 0}, {20240101, 1, 1, 1, 1, 0, 0}};
  const std::vector<BadBar> bad = find_bad_bars(order);
  ASSERT_EQ(bad.size(), 2u);
  EXPECT_EQ(bad[0].faults, unsigned(kBarRepeated));
  EXPECT_EQ(bad[1].faults, unsigned(kBarBackwards));
}

TEST(DayNumbers, FixedPointsAndWeekdays) {
  struct Case {
    int date, day;
  };
  const Case cases[] = {
      {101, 1},       {1231, 366},   {10101, 367},  {19600101, 715876},
      {20000101, 730486},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(dton(c.date), c.day) << c.date;
    EXPECT_EQ(ntod(c.day), c.date) << c.day;
  }
  EXPECT_EQ(ntod(0), 0);
  EXPECT_EQ(ntod(366), 1231);  // year 0 is a leap year
  EXPECT_EQ(ntod(367), 10101);
  EXPECT_EQ(dton(20000229) - dton(20000228), 1);
  EXPECT_EQ(dton(20000301) - dton(20000229), 1);
  EXPECT_EQ(dton(19000301) - dton(19000228), 1);  // 1900 is not a leap year
  // Day number mod 7: 0 on a Friday, 3 on a Monday.
  EXPECT_EQ(dton(20240105) % 7, 0);  // Friday
  EXPECT_EQ(dton(20240108) % 7, 3);  // Monday
  EXPECT_EQ(dton(19600101) % 7, 0);  // Friday
  EXPECT_EQ(dton(20000103) % 7, 3);  // Monday
}

TEST(DayNumbers, NumberedChartSerials) {
  const int serials[][2] = {{1, 101}, {31, 131}, {32, 201}, {60, 229}, {61, 301}, {366, 1231}};
  for (const auto& s : serials) EXPECT_EQ(ntod(s[0]), s[1]) << s[0];
}

TEST(DayNumbers, OddInputsFollowTheArithmetic) {
  EXPECT_EQ(dton(20001301), dton(20000101));  // month 13 adds no month days
  EXPECT_EQ(ntod(-5), -5);
  EXPECT_EQ(dton(0), 0);
}

TEST(TwoDigitYears, Pivot) {
  // Stable for decades from 2026: 24 is this decade, 99 the last century.
  const int cases[][2] = {{0, 2000}, {5, 2005}, {20, 2020}, {24, 2024}, {99, 1999},
                          {-1, 1999}, {100, 100}, {1999, 1999}, {2024, 2024}};
  for (const auto& c : cases) EXPECT_EQ(Y2000_99to1999(c[0]), c[1]) << c[0];
}

TEST(TwoDigitYears, WindowFollowsTheCalendar) {
  // {two-digit year, current year, widened}: in 2026 the window is 1932..2031.
  const int cases[][3] = {{26, 2026, 2026}, {25, 2026, 2025}, {31, 2026, 2031},
                          {32, 2026, 1932}, {21, 2026, 2021}, {0, 2026, 2000},
                          {32, 2027, 2032}, {33, 2027, 1933}, {0, 2095, 2100},
                          {1, 2095, 2001}, {2026, 2026, 2026}};
  for (const auto& c : cases) EXPECT_EQ(widen_two_digit_year(c[0], c[1]), c[2]) << c[0] << " in " << c[1];
}

TEST(TwoDigitYears, StoredDateWidening) {
  const int cases[][2] = {
      {11230, 20011230},  {11231, 19011231}, {101, 20000101},     {991231, 19991231},
      {991232, 991232},   {19991231, 19991231}, {0, 20000000},    {500101, 19500101},
      {20240105, 20240105},
  };
  for (const auto& c : cases) EXPECT_EQ(Y2000_add_century_date(c[0]), c[1]) << c[0];
}

TEST(Prices, EveryPriceType) {
  struct Case {
    int type;
    unsigned short code;
    double value;
  };
  const Case cases[] = {
      {0, 65535, 65535.0},   {0, 1234, 1234.0},      {1, 1234, 123.4},
      {2, 1234, 12.34},      {3, 1234, 1.234},       {4, 1234, 0.1234},
      {5, 1234, 0.01234},    {100, 1234, 123400.0},  {1000, 65535, 65535000.0},
      {-1, 1231, 123.5},     {-2, 1233, 123.75},     {-3, 1237, 123.875},
      {-3, 1239, 124.125},   {-4, 9915, 99.9375},    {-5, 9916, 99.5},
      {-6, 9963, 99 + 63.0 / 64}, {-6, 65535, 655 + 35.0 / 64},
      {6, 1234, 0.0},        {-7, 1234, 0.0},        {10, 1234, 0.0},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(PriceToDouble(c.type, c.code), c.value, 1e-9)
        << "type " << c.type << " code " << c.code;
  }
}

TEST(Volumes, ThreeLittleEndianBytes) {
  const unsigned char zero[3] = {0, 0, 0};
  const unsigned char max[3] = {255, 255, 255};
  const unsigned char mixed[3] = {0x01, 0x02, 0x03};
  EXPECT_EQ(VolumeToDouble(zero), 0.0);
  EXPECT_EQ(VolumeToDouble(max), 16777215.0);
  EXPECT_EQ(VolumeToDouble(mixed), 0x030201);
}

TEST(Fractions, QuoteNotations) {
  struct Case {
    const char* text;
    float value;
  };
  const Case cases[] = {
      {"5", 5.0f},        {"12.5", 12.5f},      {"101.3/", 101.375f}, {"101.0/", 101.0f},
      {"101.7/", 101.875f}, {"101/08", 101.5f},  {"101/12", 101.75f},  {"101/00", 101.0f},
      {"101/15", 101.9375f}, {"  42.25", 42.25f}, {"-3.5", -3.5f},     {"", 0.0f},
      {"abc", 0.0f},
  };
  for (const Case& c : cases) EXPECT_FLOAT_EQ(fracs(c.text), c.value) << c.text;
  // The result is a float: the same rounding as storing it.
  EXPECT_EQ(fracs("0.1"), 0.1f);
}

TEST(Tables, MonthLengths) {
  int common = 0, leap = 0;
  for (int m = 1; m <= 12; ++m) {
    common += day_table1[m];
    leap += day_table2[m];
    EXPECT_EQ(lastday[m - 1], day_table1[m]) << m;
  }
  EXPECT_EQ(day_table1[0], 0);
  EXPECT_EQ(day_table2[0], 0);
  EXPECT_EQ(common, 365);
  EXPECT_EQ(leap, 366);
  EXPECT_EQ(day_table2[2], 29);
}

}  // namespace
