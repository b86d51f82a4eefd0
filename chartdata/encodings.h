// Value encodings of chart data: calendar dates and day numbers, two-digit
// years, the scaled 16-bit price codes and 24-bit volumes of packed foreign
// records, and fraction notations written in quote text.  Pure functions.
#pragma once

// Month lengths indexed by month 1..12 (entry 0 is 0): common and leap year.
extern const int day_table1[13];
extern const int day_table2[13];
// Last day of each month indexed by month - 1, February always 28.
extern const int lastday[12];

// Gregorian leap-year rule, applied to every year (year 0 is a leap year).
bool is_leap_year(int year);
// A date yyyymmdd that names a day of the calendar: month 1..12 and a day
// of that month (29 February in leap years only).
bool is_calendar_date(int yyyymmdd);

// Calendar date yyyymmdd -> day number counted from 1 January of year 0
// (day 1).  A month above 12 adds no month days; years at or below 0 add
// no year days, so dton(101) == 1.
int dton(int date);
// Day number -> calendar date yyyymmdd; the exact inverse of dton for valid
// dates.  ntod(0) == 0, ntod(366) == 1231, ntod(367) == 10101; numbers at or
// below 0 come back unchanged.
int ntod(int n);

// Two-digit year -> four digits.  The window follows the calendar: the
// hundred years that end kTwoDigitYearsAhead years after the current year
// (in 2026: 00..31 -> 2000..2031, 32..99 -> 1932..1999).  Years >= 100 are
// kept whole; negative values give 2000 + y.
constexpr int kTwoDigitYearsAhead = 5;
int widen_two_digit_year(int year, int current_year);
// The current calendar year (local time), read once per run.
int calendar_year();
int Y2000_99to1999(int year);
// Widening of one stored yymmdd date of an old chart file:
// 11231..991231 -> + 19000000, <= 11230 -> + 20000000, larger unchanged.
int Y2000_add_century_date(int yymmdd);

// Price code of a packed record -> price; see the price types in the .cpp
// (0..5 decimal places, 100 and 1000 multipliers, -1..-6 fractions).
// Unknown types give 0.
double PriceToDouble(int type, unsigned short code);
// Three-byte little-endian volume at p -> value 0..16777215.
double VolumeToDouble(const unsigned char* p);

// Quote price that may be written in eighths ("101.3/" = 101 3/8) or
// sixteenths ("101/08" = 101 8/16); otherwise its leading number.
float fracs(const char* text);
