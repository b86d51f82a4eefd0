#include "chartdata/encodings.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

const int day_table1[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
const int day_table2[13] = {0, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
const int lastday[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

namespace {

constexpr int kDaysPer400Years = 146097;

// Days in the years 0 .. year-1 (year >= 0): 365 each plus one per leap
// year, year 0 included.
long long days_before_year(int year) {
  if (year <= 0) return 0;
  long long last = year - 1;
  long long leaps = last / 4 - last / 100 + last / 400 + 1;  // +1: year 0
  return 365LL * year + leaps;
}

}  // namespace

bool is_leap_year(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

bool is_calendar_date(int d) {
  const int year = d / 10000, month = d / 100 % 100, day = d % 100;
  if (d <= 0 || month < 1 || month > 12 || day < 1) return false;
  return day <= (is_leap_year(year) ? day_table2 : day_table1)[month];
}

int dton(int date) {
  int year = date / 10000;
  long long sum = days_before_year(year);
  int month = (date % 10000) / 100;
  if (month <= 12) {
    const int* table = is_leap_year(year) ? day_table2 : day_table1;
    for (int m = 1; m < month; ++m) sum += table[m];
  }
  return static_cast<int>(sum + date % 100);
}

int ntod(int n) {
  int year = 0;
  if (n > 366) {
    // The year that holds day n: the last one whose first day is not after
    // n.  400 years hold 146,097 days, so the estimate is at most a year
    // off either way and the two loops move it at most once or twice.
    long long y = (static_cast<long long>(n) - 1) * 400 / kDaysPer400Years;
    while (y > 0 && days_before_year(static_cast<int>(y)) >= n) --y;
    while (days_before_year(static_cast<int>(y) + 1) < n) ++y;
    year = static_cast<int>(y);
    n -= static_cast<int>(days_before_year(year));
  }
  const int* table = is_leap_year(year) ? day_table2 : day_table1;
  int month = 0;
  while (month < 12 && n > table[month]) {
    n -= table[month];
    ++month;
  }
  return year * 10000 + month * 100 + n;
}

int widen_two_digit_year(int year, int current_year) {
  if (year >= 100) return year;
  if (year < 0) return 2000 + year;
  // The hundred years that end kTwoDigitYearsAhead years after this one.
  const int last = current_year + kTwoDigitYearsAhead;
  const int widened = last / 100 * 100 + year;
  return widened > last ? widened - 100 : widened;
}

int calendar_year() {
  // Taken once: a run that spans New Year keeps one window throughout.
  static const int year = [] {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (now == static_cast<std::time_t>(-1) || !localtime_r(&now, &local)) return 2026;
    return local.tm_year + 1900;
  }();
  return year;
}

int Y2000_99to1999(int year) { return widen_two_digit_year(year, calendar_year()); }

int Y2000_add_century_date(int d) {
  if (d > 991231) return d;
  if (d >= 11231) return d + 19000000;
  return d + 20000000;
}

double PriceToDouble(int type, unsigned short code) {
  // Extended precision throughout; the caller stores a float.
  const long double k = code;
  const unsigned whole10 = code / 10u, frac10 = code % 10u;
  const unsigned whole100 = code / 100u, frac100 = code % 100u;
  long double v;
  switch (type) {
    case 0: v = k; break;
    case 1: v = k / 10.0L; break;
    case 2: v = k / 100.0L; break;
    case 3: v = k / 1000.0L; break;
    case 4: v = k / 10000.0L; break;
    case 5: v = k / 100000.0L; break;
    case 100: v = k * 100.0L; break;
    case 1000: v = k * 1000.0L; break;
    // Fractions: the last digit (or two) counts halves .. sixty-fourths.
    case -1: v = whole10 + frac10 / 2.0L; break;
    case -2: v = whole10 + frac10 / 4.0L; break;
    case -3: v = whole10 + frac10 / 8.0L; break;
    case -4: v = whole100 + frac100 / 16.0L; break;
    case -5: v = whole100 + frac100 / 32.0L; break;
    case -6: v = whole100 + frac100 / 64.0L; break;
    default: v = 0; break;
  }
  return static_cast<double>(v);
}

double VolumeToDouble(const unsigned char* p) {
  return static_cast<double>(p[0] + 256.0 * p[1] + 65536.0 * p[2]);
}

float fracs(const char* text) {
  const float v = static_cast<float>(std::strtod(text, nullptr));
  const std::size_t len = std::strlen(text);
  if (len <= 1) return v;
  if (text[len - 1] == '/') {
    // Whole part, '.', one digit of eighths, '/': "101.3/" = 101 3/8.
    const double e = std::strtod(text + len - 2, nullptr);
    return static_cast<float>((v - e / 10.0) + e * 0.125);
  }
  if (len > 2 && text[len - 3] == '/') {
    // Whole part, '/', two digits of sixteenths: "101/08" = 101 8/16.
    const char* digits = text[len - 2] == '0' ? text + len - 1 : text + len - 2;
    const double s = std::strtod(digits, nullptr);
    return static_cast<float>(v + s * 0.0625);
  }
  return v;
}
