// The fast paths of the conversions against straightforward versions of the
// same work written here with printf, plain vectors and whole-file reads:
// on varied data (ties in rounding, signs, zero, huge and non-finite
// values, every date code, lines out of order) the bytes must be the same.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "chartdata/bar.h"
#include "chartdata/chartfile.h"
#include "chartdata/encodings.h"
#include "chartdata/linereader.h"
#include "chartdata/splice.h"
#include "convert/chart_to_text.h"
#include "window/globals.h"
#include "convert/quickquote.h"
#include "convert/store.h"
#include "convert/symbol_names.h"
#include "convert/text_to_chart.h"
#include "support/tempdir.h"

namespace {

FormatSettings settings(const char* order, int code, char sep = ',', const char* start = "00000000") {
  FormatSettings f{};
  f.datecode = static_cast<char>(code);
  std::memset(f.order, ' ', sizeof f.order);
  std::memcpy(f.order, order, std::strlen(order));
  f.sep = sep;
  std::memcpy(f.startdate, start, 8);
  return f;
}

// ---- Varied bars ------------------------------------------------------------

float price_from(std::mt19937& rng) {
  static const float specials[] = {0.0f,       -0.0f,      0.0005f,   -0.0005f,   0.0625f,   2.0625f,
                                   1.0005f,    0.125f,     99999.5f,  1e-7f,      -1e-7f,    123456.789f,
                                   3.4e38f,    -3.4e38f,   1e10f,     0.9995f,    -2.5f,     1048576.0625f,
                                   std::numeric_limits<float>::infinity(),
                                   -std::numeric_limits<float>::infinity(),
                                   std::numeric_limits<float>::quiet_NaN(),
                                   -std::numeric_limits<float>::quiet_NaN(),
                                   std::numeric_limits<float>::denorm_min()};
  switch (rng() % 4) {
    case 0: return specials[rng() % (sizeof specials / sizeof specials[0])];
    case 1: return static_cast<float>(rng() % 200000) / 16.0f;  // exact eighths and sixteenths
    case 2: {
      std::uint32_t bits = rng();
      float f;
      std::memcpy(&f, &bits, 4);
      return f;  // anything a damaged chart may hold
    }
    default: return static_cast<float>(rng() % 1000000) / 1000.0f - 100.0f;
  }
}

std::int32_t int_from(std::mt19937& rng) {
  static const std::int32_t specials[] = {0, 1, -1, 999999999, 1000000000, -1000000000,
                                          std::numeric_limits<std::int32_t>::max(),
                                          std::numeric_limits<std::int32_t>::min()};
  if (rng() % 3 == 0) return specials[rng() % (sizeof specials / sizeof specials[0])];
  return static_cast<std::int32_t>(rng() % 20000000) - 1000;
}

std::int32_t date_from(std::mt19937& rng) {
  static const std::int32_t specials[] = {0, 101, 1231, 50101, 991231, 19991231, 20000229, 99991231,
                                          123456789, -20000101, 19601399, 2147483647};
  if (rng() % 4 == 0) return specials[rng() % (sizeof specials / sizeof specials[0])];
  return 19000101 + static_cast<std::int32_t>(rng() % 1500000);
}

std::vector<BarRecord> varied_bars(unsigned seed, std::size_t n) {
  std::mt19937 rng(seed);
  std::vector<BarRecord> bars(n);
  for (BarRecord& b : bars) {
    b.date = date_from(rng);
    b.open = price_from(rng);
    b.high = price_from(rng);
    b.low = price_from(rng);
    b.close = price_from(rng);
    b.volume = int_from(rng);
    b.openint = int_from(rng);
  }
  return bars;
}

// ---- Chart to text, the straightforward way -----------------------------------

std::string ref_ftos(double value, int width, int precision) {
  char work[512];
  std::snprintf(work, sizeof work, "%*.*f", width, precision, value);
  const std::string printed = work;
  const std::size_t dot = printed.find('.');
  const std::size_t d = dot == std::string::npos ? printed.size() : dot;
  std::size_t len = static_cast<std::size_t>(width + precision + 1);
  if (d > len) len = d;
  std::string s = printed.substr(0, len);
  return std::string(len - s.size(), ' ') + s;
}

std::string ref_two(int v, bool zero_fill) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%2d", v);
  if (zero_fill && buf[0] == ' ') buf[0] = '0';
  return buf;
}

std::string ref_date(std::int32_t date, int code) {
  const int year = date / 10000, month = (date % 10000) / 100, day = date % 100;
  char buf[32];
  switch (code) {
    case 0:
      std::snprintf(buf, sizeof buf, "%4d", year);
      return buf + ref_two(month, true) + ref_two(day, true);
    case 1:
      return ref_two(day, false) +
             ((month >= 1 && month <= 12) ? std::string("janfebmaraprmayjunjulaugsepoctnovdec", 3 * (month - 1), 3)
                                          : std::string("???")) +
             ref_two(year % 100, false);
    case 2:
      return ref_two(month, true) + "/" + ref_two(day, true) + "/" + ref_two(year % 100, true);
    case 3:
      return ref_two(year % 100, true) + ref_two(month, true) + ref_two(day, true);
    default:
      return "";
  }
}

std::string unblank(const std::string& s) { return s.substr(std::min(s.find_first_not_of(' '), s.size())); }

bool ref_line(const BarRecord& b, long counter, const FormatSettings& f, const std::string& name,
              std::string& line) {
  line.clear();
  if (b.date < std::atoi(std::string(f.startdate, 8).c_str())) return false;
  for (int place = 0; place < 12; ++place) {
    std::string field;
    switch (f.order[place]) {
      case 'S': field = name; break;
      case 'D': field = ref_date(b.date, f.datecode); break;
      case 'O': field = ref_ftos(b.open, 6, 3).substr(0, 10); break;
      case 'H': field = ref_ftos(b.high, 6, 3).substr(0, 10); break;
      case 'L': field = ref_ftos(b.low, 6, 3).substr(0, 10); break;
      case 'C': field = ref_ftos(b.close, 6, 3).substr(0, 10); break;
      case 'V': field = ref_ftos(b.volume, 9, 0).substr(0, 10); break;
      case 'I': field = ref_ftos(b.openint, 9, 0).substr(0, 10); break;
      case 'M':
        field = place == 0 ? ref_ftos(static_cast<double>(counter), 2, 0)
                : place == 2 ? std::string(1, static_cast<char>('1' + (counter - 1) % 5))
                             : std::string("0");
        break;
      default: continue;
    }
    line += unblank(field) + f.sep;
  }
  if (!line.empty()) line.back() = ' ';
  return true;
}

// The whole text: padded lines in chart order, then sorted as whole records
// when the dates are yyyymmdd in the first column.
std::string ref_text(const std::vector<BarRecord>& bars, const FormatSettings& f, const std::string& name) {
  std::vector<std::string> records;
  std::size_t width = 0;
  std::string line;
  for (std::size_t i = 0; i < bars.size(); ++i) {
    if (!ref_line(bars[i], static_cast<long>(i) + 1, f, name, line)) continue;
    if (records.empty()) width = f.datecode == 0 ? line.size() * 7 / 5 : line.size() + 1;
    if (line.size() < width) line.append(width - line.size(), ' ');
    records.push_back(line + "\n");
  }
  if (f.datecode == 0 && f.order[0] == 'D')
    std::stable_sort(records.begin(), records.end(), [](const std::string& a, const std::string& b) {
      return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
      });
    });
  std::string text;
  for (const std::string& r : records) text += r;
  return text;
}

Bytes chart_of(const std::vector<BarRecord>& bars) {
  Bytes out(kHeaderSize, ' ');
  for (const BarRecord& b : bars) {
    unsigned char rec[kBarSize];
    encode_bar(b, rec);
    out.insert(out.end(), rec, rec + kBarSize);
  }
  return out;
}

TEST(ChartToTextEquivalence, FieldsOfVariedBarsInEveryLayout) {
  const FormatSettings layouts[] = {
      settings("DOHLCVI", 0), settings("SDOHLCVI", 0, ';'), settings("M M D C", 1, ' '),
      settings("DMCVI", 2),   settings("IVCLHOD", 3, '\t'), settings("MDOHLCVIM", 0, ','),
  };
  const std::vector<BarRecord> bars = varied_bars(1, 4000);
  std::string fast, slow;
  int layout = 0;
  for (const FormatSettings& f : layouts) {
    for (std::size_t i = 0; i < bars.size(); ++i) {
      const long counter = static_cast<long>(i) + 1;
      const bool a = bar_line(bars[i], counter, f, "  ibm.M", fast);
      const bool b = ref_line(bars[i], counter, f, "  ibm.M", slow);
      ASSERT_EQ(a, b) << "layout " << layout << " bar " << i;
      ASSERT_EQ(fast, slow) << "layout " << layout << " bar " << i << " close " << bars[i].close;
    }
    ++layout;
  }
}

TEST(ChartToTextEquivalence, WholeTextsSortedOrNot) {
  TempDir dir;
  struct Case {
    const char* what;
    std::vector<BarRecord> bars;
    FormatSettings f;
  };
  std::vector<BarRecord> ascending = varied_bars(2, 30000);
  for (std::size_t i = 0; i < ascending.size(); ++i)
    ascending[i].date = ntod(dton(19600104) + static_cast<int>(i));
  std::vector<BarRecord> one_late = ascending;
  std::swap(one_late[100], one_late[29000]);
  std::vector<BarRecord> repeated = ascending;
  for (std::size_t i = 0; i < repeated.size(); i += 7) repeated[i] = repeated[i / 2];
  const Case cases[] = {
      {"ascending", ascending, settings("DOHLCVI", 0)},
      {"ascending, start date inside", ascending, settings("DOHLCVI", 0, ',', "19990101")},
      {"two bars swapped", one_late, settings("DOHLCVI", 0)},
      {"repeated bars", repeated, settings("DCV", 0, ' ')},
      {"varied", varied_bars(3, 30000), settings("DOHLCVI", 0)},
      {"varied, not sorted", varied_bars(4, 5000), settings("ODHLC", 0)},
      {"varied, other date code", varied_bars(5, 5000), settings("DOHLC", 2)},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(write_file(dir.file("chart"), chart_of(c.bars)));
    const int fd = ::open(dir.file("chart").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ::lseek(fd, kHeaderSize, SEEK_SET);
    ChartTextReport quiet;
    ASSERT_TRUE(chart_to_text(fd, dir.file("out.T"), c.f, "ibm", quiet).ok()) << c.what;
    ::close(fd);
    const std::string expected = ref_text(c.bars, c.f, "ibm");
    const std::string got = read_text(dir.file("out.T"));
    ASSERT_EQ(got.size(), expected.size()) << c.what;
    EXPECT_TRUE(got == expected) << c.what;
    EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"chart", "out.T"})) << c.what;
  }
}

// ---- Day numbers ------------------------------------------------------------

// Day number -> date by counting whole years one at a time.
int ref_ntod(int n) {
  auto leap = [](int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; };
  int year = 0;
  while (n > (leap(year) ? 366 : 365)) {
    n -= leap(year) ? 366 : 365;
    ++year;
  }
  static const int days[2][13] = {{0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                                  {0, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};
  int month = 0;
  while (month < 12 && n > days[leap(year)][month]) n -= days[leap(year)][month++];
  return year * 10000 + month * 100 + n;
}

TEST(DayNumberEquivalence, YearBoundariesAndSamplesFarBeyondTheUsualCalendar) {
  std::vector<int> days = {-400, -1, 0, 1, 365, 366, 367, 731, 146097, 146098, 146097 * 2 + 1};
  for (int y = 1; y < 20000; y += (y < 3200 ? 1 : 37)) {
    const int first = dton(y * 10000 + 101);
    for (int d : {first - 2, first - 1, first, first + 1, first + 59, first + 60}) days.push_back(d);
  }
  std::mt19937 rng(7);
  for (int i = 0; i < 20000; ++i) days.push_back(static_cast<int>(rng() % 7000000u));
  int cached_n = 0, cached = 0;  // the reference counts years, so sort and walk on
  std::sort(days.begin(), days.end());
  for (int n : days) {
    const int want = n <= 0 ? ref_ntod(n) : (n == cached_n ? cached : ref_ntod(n));
    cached_n = n;
    cached = want;
    ASSERT_EQ(ntod(n), want) << "day " << n;
  }
}

// ---- The store splice ----------------------------------------------------------

// What the splice leaves: the old header with the last new date at offset
// 118, the old bars before the first bar dated on or after the first new
// date (one dated exactly that date is dropped), the new bars, then every
// later old bar dated after the last new one.
Bytes ref_splice(const Bytes& old, const std::vector<BarRecord>& add, std::int32_t first) {
  Bytes out(old.begin(), old.begin() + kHeaderSize);
  const std::size_t n = (old.size() - kHeaderSize) / kBarSize;
  auto date_at = [&](std::size_t i) {
    std::int32_t d;
    std::memcpy(&d, old.data() + kHeaderSize + i * kBarSize, 4);
    return d;
  };
  std::size_t i = 0;
  for (; i < n && date_at(i) < first; ++i)
    out.insert(out.end(), old.begin() + kHeaderSize + i * kBarSize, old.begin() + kHeaderSize + (i + 1) * kBarSize);
  if (i < n && date_at(i) == first) ++i;
  std::int32_t last = first;
  for (const BarRecord& b : add) {
    unsigned char rec[kBarSize];
    encode_bar(b, rec);
    out.insert(out.end(), rec, rec + kBarSize);
    last = b.date;
  }
  for (; i < n; ++i)
    if (date_at(i) > last)
      out.insert(out.end(), old.begin() + kHeaderSize + i * kBarSize, old.begin() + kHeaderSize + (i + 1) * kBarSize);
  if (last >= 101 && last <= 99999999) std::memcpy(out.data() + kHeaderDateOffset, &last, 4);
  return out;
}

TEST(SpliceEquivalence, OldBarsAroundTheNewOnesForVariedCharts) {
  TempDir dir;
  std::mt19937 rng(11);
  for (int round = 0; round < 300; ++round) {
    // Old charts of up to 1,500 bars (several copy blocks), mostly ascending
    // with some dates repeated or out of order, sometimes a partial record.
    const std::size_t bars = rng() % 1500;
    std::vector<BarRecord> old = varied_bars(100 + round, bars);
    std::int32_t d = 19900101;
    for (BarRecord& b : old) {
      d += static_cast<std::int32_t>(rng() % 3);
      b.date = rng() % 50 == 0 ? d - static_cast<std::int32_t>(rng() % 40) : d;
    }
    const char daily[2] = {'D', '\n'};
    Bytes bytes(kHeaderSize);
    make_header(bytes.data(), daily, 19900101);
    for (const BarRecord& b : old) {
      unsigned char rec[kBarSize];
      encode_bar(b, rec);
      bytes.insert(bytes.end(), rec, rec + kBarSize);
    }
    if (rng() % 5 == 0) bytes.resize(bytes.size() + 1 + rng() % (kBarSize - 1), 0x33);

    // New bars from a date inside, before or after the old ones.
    const std::int32_t first = 19900101 + static_cast<std::int32_t>(rng() % (bars + 20)) - 10;
    std::vector<BarRecord> add = varied_bars(9000 + round, rng() % 40);
    std::int32_t nd = first;
    for (BarRecord& b : add) {
      b.date = nd;
      nd += 1 + static_cast<std::int32_t>(rng() % 3);
    }
    ASSERT_TRUE(write_file(dir.file("c.M"), bytes));
    std::string target = dir.file("c.M");
    SpliceRange range{'D', first, first};
    ASSERT_EQ(store_splice(target, range,
                           [&](std::FILE* tmp) {
                             for (const BarRecord& b : add)
                               if (!write_bar(tmp, b)) return 0;
                             if (!add.empty()) range.last = add.back().date;
                             return 1;
                           }),
              1);
    const Bytes want = ref_splice(bytes, add, first);
    const Bytes got = read_file(dir.file("c.M"));
    ASSERT_EQ(got.size(), want.size()) << "round " << round;
    ASSERT_TRUE(got == want) << "round " << round;
  }
}

// ---- Reading texts ---------------------------------------------------------------

std::string number_text(std::mt19937& rng) {
  static const char* const odd[] = {"5.", ".5", "-.25", "1.2.3", "1e5", "2E-3", "-0", "+7", " 12.5",
                                    "0.000000000000000000000123", "123456789012345.6", "1234567890123456",
                                    "9007199254740993", "0x1p3", "inf", "-nan", ".", "-", "00012.50",
                                    "99999999999999999999999", "0.1000000000000000055511151231257827",
                                    "1.00000000000000000000000000001", "3.4028235677973366e38", "1e-320"};
  if (rng() % 4 == 0) return odd[rng() % (sizeof odd / sizeof odd[0])];
  char t[48];
  std::size_t n = 0;
  if (rng() % 5 == 0) t[n++] = '-';
  const int whole = static_cast<int>(rng() % 12), frac = static_cast<int>(rng() % 25);
  for (int i = 0; i < whole; ++i) t[n++] = static_cast<char>('0' + rng() % 10);
  if (frac > 0 || rng() % 2) t[n++] = '.';
  for (int i = 0; i < frac; ++i) t[n++] = static_cast<char>('0' + rng() % 10);
  if (n == 0 || (n == 1 && t[0] == '-')) t[n++] = '0';
  return std::string(t, n);
}

TEST(TextEquivalence, PricesReadAsStrtodReadsThem) {
  std::mt19937 rng(5);
  for (int i = 0; i < 200000; ++i) {
    const std::string t = number_text(rng);
    if (t.find_first_of("0123456789") == std::string::npos) continue;  // no number at all: 0
    const float want = static_cast<float>(std::strtod(t.c_str(), nullptr));
    const float got = read_price(t.c_str());
    std::uint32_t a, b;
    std::memcpy(&a, &want, 4);
    std::memcpy(&b, &got, 4);
    if (std::isnan(want)) {
      ASSERT_TRUE(std::isnan(got)) << t;
    } else {
      ASSERT_EQ(a, b) << "\"" << t << "\"";
    }
  }
}

// One line the straightforward way: the field walk into slots, then each
// slot read on its own.
ParsedLine ref_parse(std::string_view line, const std::string& cursym, const FormatSettings& f,
                     const char* textname, int factor, bool& dated) {
  ParsedLine out;
  if (line.size() <= 6) return out;
  if (!dated && is_header_line(line, f.sep)) return out;  // a header before the first date
  bool has_s = false, has_d = false;
  for (char c : f.order) {
    has_s = has_s || c == 'S';
    has_d = has_d || c == 'D';
  }
  FieldSlots s;
  if (walk_fields(line, f, has_s ? &cursym : nullptr, s) == 1) {
    out.kind = LineKind::kSymbolChange;
    out.symbol = s.symbol;
    return out;
  }
  std::int32_t date = 0;
  TimeOfDayDates clock;  // the layouts compared carry no times of day
  if (!(has_d && parse_date(s.slot[4], f.datecode, &date, clock)) &&
      !parse_date(textname, f.datecode, &date, clock)) {
    out.kind = LineKind::kBadDate;
    return out;
  }
  dated = true;
  if (date < start_date_of(f)) {
    out.kind = LineKind::kEarly;
    return out;
  }
  out.kind = LineKind::kBar;
  out.bar.date = date;
  out.bar.open = read_price(s.slot[5]);
  out.bar.high = read_price(s.slot[6]);
  out.bar.low = read_price(s.slot[7]);
  out.bar.close = read_price(s.slot[8]);
  // A count with an exponent is its value, else its digits before a point.
  auto count = [](const char* slot) -> long long {
    return std::strpbrk(slot, "eE") ? static_cast<long long>(std::trunc(std::strtod(slot, nullptr)))
                                    : std::strtoll(slot, nullptr, 10);
  };
  const std::int64_t v = std::clamp<long long>(count(s.slot[9]), INT32_MIN, INT32_MAX) * factor;
  out.bar.volume = static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
  out.bar.openint = static_cast<std::int32_t>(std::clamp<long long>(count(s.slot[10]), INT32_MIN, INT32_MAX));
  // Values that cannot be stored as written, or no value at all.
  auto fits = [&](const char* slot, std::int64_t factor) {
    const long long raw = count(slot);
    return raw >= INT32_MIN && raw <= INT32_MAX && raw * factor >= INT32_MIN && raw * factor <= INT32_MAX;
  };
  bool any = false, wants = false;
  for (int place = 0; place < 12; ++place) {
    const int slot = slot_of(f.order[place], place);
    if (slot >= 5 && slot <= 10) wants = true;
  }
  for (int slot = 5; slot <= 10; ++slot) any = any || s.slot[slot][0] != '\0';
  // A value is read only when its whole slot is a number.
  for (int slot = 5; slot <= 10; ++slot)
    if (s.slot[slot][0] != '\0' && !whole_number(s.slot[slot], nullptr, slot >= 9)) any = false, wants = true;
  if (s.bad_field || !std::isfinite(out.bar.open) || !std::isfinite(out.bar.high) ||
      !std::isfinite(out.bar.low) || !std::isfinite(out.bar.close) || !fits(s.slot[9], factor) ||
      !fits(s.slot[10], 1) || (wants && !any))
    out.kind = LineKind::kBadValue;
  return out;
}

std::string field_text(std::mt19937& rng, int kind) {
  static const char* const junk[] = {"", " ", "x", "1e5", "12abc", "--3", "+.", "5:30", "1.2.3", "-0",
                                     "12345678901234567890", "0000000000000000001.5", "\t7", "9-9",
                                     "3.25 ", "+4", "1,", ".", "99999999999999999"};
  if (rng() % 6 == 0) return junk[rng() % (sizeof junk / sizeof junk[0])];
  char buf[40];
  switch (kind) {
    case 0: {  // a date, a third of them ISO (yyyy-mm-dd, sometimes with a time or a slip)
      const int d = 19590101 + static_cast<int>(rng() % 600000);
      if (rng() % 3)
        std::snprintf(buf, sizeof buf, "%d", d);
      else
        std::snprintf(buf, sizeof buf, "%04d-%02d-%0*d%s", d / 10000, d / 100 % 100, rng() % 8 ? 2 : 3,
                      d % 100, rng() % 4 ? "" : rng() % 2 ? "T16:00" : "-7");
      return buf;
    }
    case 1:  // a price
      return number_text(rng);
    default:  // a count
      std::snprintf(buf, sizeof buf, "%s%u", rng() % 9 == 0 ? "-" : "", static_cast<unsigned>(rng() % 4000000000u));
      return buf;
  }
}

TEST(TextEquivalence, LinesParsedAsTheFieldWalkReadsThem) {
  struct Layout {
    FormatSettings f;
    int factor;
  };
  const Layout layouts[] = {
      {settings("SDOHLCVI", 0, ',', "19600101"), 1}, {settings("DOHLCVI", 0, ' ', "19800101"), 100},
      {settings("SDOHLCVIM", 0, ';', "00000000"), 1}, {settings("SDCCV", 0, ',', "19600101"), 1},
      {settings("MSDOHLC", 0, ',', "19600101"), 1},  {settings("SDOHLCVI", 3, ',', "19600101"), 1},
      {settings("SOHLCVI", 0, ',', "19600101"), 1},
  };
  const char* const symbols[] = {"IBM", "ibm", "MSFT", "8XYZ", "IBM "};
  std::mt19937 rng(21);
  for (const Layout& l : layouts) {
    TextReport quiet;
    TimeOfDayDates clock;
    LineParser parser(l.f, "prices.csv", l.factor, quiet, clock);
    std::string cursym = "ibm";
    bool dated = false;
    for (int i = 0; i < 30000; ++i) {
      std::string line;
      for (int place = 0; place < 12 && l.f.order[place] != ' '; ++place) {
        const char c = l.f.order[place];
        std::string field = c == 'S'   ? std::string(symbols[rng() % 8 < 6 ? 0 : rng() % 5])
                            : c == 'D' ? field_text(rng, 0)
                            : c == 'V' || c == 'I' || c == 'M' ? field_text(rng, 2)
                                                               : field_text(rng, 1);
        if (rng() % 50 == 0) field.clear();  // an empty column
        line += field;
        if (rng() % 40 != 0) line += l.f.sep;  // sometimes a missing separator
      }
      if (rng() % 30 == 0) line.resize(rng() % (line.size() + 1));  // a short line
      if (i == 0) line = "Date,Open,High";  // a header first
      ParsedLine got;
      parser.parse(line, cursym, got);
      const ParsedLine want = ref_parse(line, cursym, l.f, "prices.csv", l.factor, dated);
      ASSERT_EQ(static_cast<int>(got.kind), static_cast<int>(want.kind)) << line;
      if (want.kind == LineKind::kSymbolChange) {
        ASSERT_EQ(got.symbol, want.symbol) << line;
        if (rng() % 2) cursym = got.symbol;  // the next chart begins
      }
      if (want.kind == LineKind::kBar) {
        unsigned char a[kBarSize], b[kBarSize];
        encode_bar(got.bar, a);
        encode_bar(want.bar, b);
        ASSERT_EQ(0, std::memcmp(a, b, kBarSize)) << line;
      }
    }
  }
}

TEST(TextEquivalence, SymbolOfEveryLineAsIfMadeAfresh) {
  const FormatSettings f = settings("SDOHLCVI", 0);
  const FormatSettings g = settings("SDC", 0, ';');
  const char* const lines[] = {"IBM,19991231,1,2,3,4,5,6", "IBM,19991231,1,2,3,4,5,6", "ibm,20000103,1,2,3,4,5,6",
                               "IBM;20000103;1", "IBM ,20000104,1", "CON,20000105,1", "72ab,20000106,1",
                               "IBM,20000107,1", "8xyz/1,20000108,1", "8xyz/1,20000108,1", ",20000109,1"};
  FieldSlots kept;  // one set of slots over all lines, as a conversion uses it
  for (int pass = 0; pass < 2; ++pass)
    for (const char* line : lines) {
      const FormatSettings& fs = std::strchr(line, ';') ? g : f;
      FieldSlots fresh;
      walk_fields(line, fs, nullptr, kept);
      walk_fields(line, fs, nullptr, fresh);
      EXPECT_EQ(kept.symbol, fresh.symbol) << line;
      EXPECT_EQ(kept.symbol, symbol_to_name(line, fs.sep)) << line;
    }
}

// ---- A whole text into new charts ------------------------------------------------

TEST(StoreEquivalence, MultiSymbolTextIntoNewChartsAsLineByLineReadingGives) {
  // Several symbols, most lines plain, some that only the field walk reads,
  // some bad, dates out of order and repeated.
  std::mt19937 rng(33);
  const FormatSettings f = settings("SDOHLCVI", 0, ',', "19600101");
  std::string text;
  const char* const names[] = {"AAA", "BBB", "CCC", "DDD"};
  for (const char* sym : names) {
    for (int i = 0; i < 700; ++i) {
      std::string line = std::string(sym) + "," + std::to_string(19900101 + static_cast<int>(rng() % 400));
      for (int k = 0; k < 4; ++k) line += "," + (rng() % 10 ? std::to_string(rng() % 9000) + "." + std::to_string(rng() % 1000) : field_text(rng, 1));
      line += "," + field_text(rng, 2) + "," + field_text(rng, 2);
      text += line + (rng() % 20 ? "\n" : "\r\n");
    }
  }
  TempDir dir;
  ScopedChdir here(dir.path());
  ASSERT_TRUE(write_text("prices.csv", text));
  const int fd = ::open("prices.csv", O_RDONLY);
  ASSERT_GE(fd, 0);
  std::string name;
  ASSERT_EQ(first_symbol(fd, f, name), 1);
  TextStoreParams params;
  params.format = f;
  params.textname = "prices.csv";
  StoreReport quiet;
  Result ok;
  {
    LineReader src(fd);
    TimeOfDayDates clock;
    ok = store_text(src, name, params, clock, quiet);
  }
  ::close(fd);
  ASSERT_TRUE(ok.ok());

  // The same charts line by line: the walk, every bar kept in date order,
  // the last line of a date winning.
  std::size_t at = 0;
  bool dated = false;
  for (const char* sym : names) {
    std::vector<BarRecord> bars;
    std::string lower(sym);
    for (char& c : lower) c = static_cast<char>(c - 'A' + 'a');
    while (at < text.size()) {
      const std::size_t nl = text.find('\n', at);
      std::string line = text.substr(at, nl - at);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const ParsedLine p = ref_parse(line, lower, f, "prices.csv", 1, dated);
      if (p.kind == LineKind::kSymbolChange) break;
      at = nl + 1;
      if (p.kind == LineKind::kBar) bars.push_back(p.bar);
    }
    std::stable_sort(bars.begin(), bars.end(), [](const BarRecord& a, const BarRecord& b) { return a.date < b.date; });
    std::vector<BarRecord> kept;
    for (const BarRecord& b : bars) {
      if (!kept.empty() && kept.back().date == b.date)
        kept.back() = b;
      else
        kept.push_back(b);
    }
    ASSERT_FALSE(kept.empty());
    const char daily[2] = {'D', '\n'};
    Bytes want(kHeaderSize);
    make_header(want.data(), daily, kept.front().date);
    const std::int32_t last = kept.back().date;
    std::memcpy(want.data() + kHeaderDateOffset, &last, 4);
    for (const BarRecord& b : kept) {
      unsigned char rec[kBarSize];
      encode_bar(b, rec);
      want.insert(want.end(), rec, rec + kBarSize);
    }
    const std::string path = dir.file(std::string("csv_") + lower[0] + "/" + lower);
    EXPECT_TRUE(read_file(path) == want) << path;
  }
  EXPECT_EQ(list_dir(dir.file("csv_a")), std::vector<std::string>{"aaa"});  // nothing else left
}

// ---- Bars read a block at a time -----------------------------------------------

TEST(BarBlockEquivalence, SameBarsAsOneReadPerBar) {
  std::mt19937 rng(8);
  for (std::size_t bytes : {std::size_t(0), std::size_t(27), std::size_t(28), std::size_t(29),
                            std::size_t(512 * 28), std::size_t(512 * 28 + 5), std::size_t(1500 * 28 + 27)}) {
    Bytes data(bytes);
    for (unsigned char& c : data) c = static_cast<unsigned char>(rng());
    std::FILE* a = std::tmpfile();
    std::FILE* b = std::tmpfile();
    ASSERT_TRUE(a && b);
    if (!data.empty()) {  // no null data pointer into fwrite
      std::fwrite(data.data(), 1, data.size(), a);
      std::fwrite(data.data(), 1, data.size(), b);
    }
    std::rewind(a);
    std::rewind(b);
    BarBlocks blocks(a);
    std::size_t count = 0;
    for (;;) {
      BarRecord x, y;
      const bool got = blocks.next(&x);
      const bool want = read_bar(b, &y) == 1;
      ASSERT_EQ(got, want) << bytes << " bytes, bar " << count;
      if (!want) break;
      unsigned char ex[kBarSize], ey[kBarSize];
      encode_bar(x, ex);
      encode_bar(y, ey);
      ASSERT_EQ(0, std::memcmp(ex, ey, kBarSize));
      ++count;
    }
    EXPECT_EQ(count, bytes / kBarSize);
    std::fclose(a);
    std::fclose(b);
  }
}

// ---- Quick quotes ------------------------------------------------------------

// A quote file with the odd lines real ones have: carriage returns, lines
// longer than the line buffer, NULs, blank and dash lines, unusable
// symbols, runs of one symbol, a record cut short at the end.
std::string varied_quotes(unsigned seed) {
  std::mt19937 rng(seed);
  const char* const symbols[] = {"IBM", "MSFT", "72", "8ABC", "IBM", "T", "GE"};
  std::string text = std::string(30, '-') + "\n\n";
  for (int r = 0; r < 400; ++r) {
    // Prices within their high and low: a file of sound quotes.
    const unsigned base = 1 + rng() % 200;
    std::string l1 = symbols[rng() % 7], l3;
    l1.resize(22, ' ');
    l1 += std::to_string(base) + "." + std::to_string(rng() % 8) + "/";
    l1.resize(66, ' ');
    l1 += std::to_string(rng() % 100000);
    l3.resize(42, ' ');
    l3 += std::to_string(base) + "/" + std::to_string(rng() % 16);
    l3.resize(54, ' ');
    l3 += std::to_string(base + 1 + rng() % 100);
    l3.resize(66, ' ');
    l3 += std::to_string(rng() % base);
    std::string l2 = "  x";
    switch (rng() % 8) {
      case 0: l2.assign(300 + rng() % 200, 'y'); break;  // split into two lines
      case 1: l1 += "\r"; l3 += "\r"; break;
      case 2: l3[10] = '\0'; break;
      case 3: text += std::string(25, '-') + "\n"; break;
      case 4: text += "\n"; break;
      default: break;
    }
    text += l1 + "\n" + l2 + "\n" + l3 + "\n  4\n  5\n";
  }
  text += "IBM                   12.5/\n  cut short\n";
  return text;
}

TEST(QuoteEquivalence, LargeAndSmallBlocksStoreTheSameCharts) {
  for (unsigned seed = 1; seed <= 4; ++seed) {
    const std::string quotes = varied_quotes(seed);
    std::vector<Bytes> results;
    for (int way = 0; way < 2; ++way) {
      TempDir dir;
      ScopedChdir here(dir.path());
      ASSERT_TRUE(write_text("q.txt", quotes));
      const char daily[2] = {'D', '\n'};
      Bytes ibm(kHeaderSize);
      make_header(ibm.data(), daily, 19990104);
      ASSERT_TRUE(write_file("ibm", ibm));  // one chart exists already
      const int fd = ::open("q.txt", O_RDONLY);
      ASSERT_GE(fd, 0);
      std::string first;
      ASSERT_EQ(first_quote_name(fd, &first), 1);
      QuickQuoteListener quiet;
      if (way == 0) {
        quickquote_import(QuoteRequest{fd, 19990105, first}, quiet);
      } else {
        // The loop over charts on its own, reading through small blocks.
        LineReader src(fd, 61);
        QuoteImport imp;
        imp.source = &src;
        imp.update_date = 19990105;
        imp.listener = &quiet;
        char name[kMaxSymbol + 1];
        std::snprintf(name, sizeof name, "%s", first.c_str());
        send_quickq_tomorva(imp, name);
      }
      linereader_close(fd);
      Bytes all;
      for (const std::string& f : list_dir(dir.path())) {
        const Bytes b = read_file(dir.file(f));
        all.insert(all.end(), f.begin(), f.end());
        all.push_back(0);
        all.insert(all.end(), b.begin(), b.end());
      }
      results.push_back(all);
    }
    EXPECT_TRUE(results[0] == results[1]) << "seed " << seed;
    EXPECT_GT(results[0].size(), 6 * kHeaderSize);
  }
}

}  // namespace
