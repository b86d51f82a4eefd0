// Text-to-chart core: dates of every code, the field walk, symbol names,
// storage directories, and lines turned into bars.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "window/globals.h"
#include "convert/symbol_names.h"
#include "convert/text_layout.h"
#include "convert/text_to_chart.h"
#include "chartdata/linereader.h"
#include "support/tempdir.h"

namespace {

FormatSettings settings(int code, const char* order, char sep = ',', const char* start = "19600101") {
  FormatSettings f{};
  f.datecode = static_cast<char>(code);
  std::memset(f.order, ' ', sizeof f.order);
  std::memcpy(f.order, order, std::strlen(order));
  f.sep = sep;
  std::memcpy(f.startdate, start, 8);
  return f;
}

struct DateCase {
  int code;
  const char* text;
  int expected;  // 0: bad
};

class Dates : public ::testing::TestWithParam<DateCase> {};

TEST_P(Dates, ParseAsTheCodeSays) {
  const DateCase& c = GetParam();
  std::int32_t d = -1;
  bool synthetic = true;
  TimeOfDayDates clock;
  const int ok = parse_date(c.text, c.code, &d, clock, &synthetic);
  EXPECT_EQ(ok, c.expected != 0) << c.text;
  if (c.expected) {
    EXPECT_EQ(d, c.expected) << c.text;
  }
  EXPECT_FALSE(synthetic);
}

INSTANTIATE_TEST_SUITE_P(
    AllCodes, Dates,
    ::testing::Values(
        DateCase{0, "20000229", 20000229}, DateCase{0, "20001332", 0},
        DateCase{0, "20001301", 0}, DateCase{0, "20240230", 0}, DateCase{0, "20210229", 0}, DateCase{0, "20240229", 20240229}, DateCase{0, "9991231", 0},
        DateCase{0, "  19991231", 19991231}, DateCase{0, "19991231,1.5", 19991231},
        DateCase{0, "19990100", 0}, DateCase{0, "30000101", 0}, DateCase{0, "", 0},
        DateCase{0, "1e300", 0}, DateCase{0, "nan", 0},
        DateCase{1, "31dec92", 19921231}, DateCase{1, "31-Dec-00", 20001231},
        DateCase{1, "1 Jan 2005", 20050101}, DateCase{1, "31 Dec 92", 19921231},
        DateCase{1, "31xyz92", 0}, DateCase{1, "5JAN05", 20050105}, DateCase{1, "31de", 0},
        DateCase{2, "12/31/92", 19921231}, DateCase{2, "12\\31\\2005", 20051231},
        DateCase{2, "12/31/9", 0}, DateCase{2, "12-31-92", 0}, DateCase{2, "01/05/00", 20000105},
        DateCase{2, "12/31", 0}, DateCase{2, "no date", 0},
        DateCase{3, "991231", 19991231}, DateCase{3, "000101", 20000101},
        DateCase{3, "000100", 0}, DateCase{3, "991231.STK", 19991231},
        DateCase{3, "STK", 0}, DateCase{3, "19991231", 19991231},
        DateCase{0, "2024-01-02", 20240102}, DateCase{0, "2024/1/2", 20240102},
        DateCase{0, " 2024-01-02T16:00:00", 20240102}, DateCase{0, "2024-01-02 16:00", 20240102},
        DateCase{0, "2024-01-021", 0}, DateCase{0, "2024-01", 0}, DateCase{0, "2024-01/02", 0},
        DateCase{0, "2024-00-10", 0}, DateCase{0, "+2024-01-02", 0},
        DateCase{4, "31.12.2019", 20191231}, DateCase{4, "1/2/2024 16:00", 20240201},
        DateCase{4, "31.12.19", 20191231}, DateCase{4, "31.13.2024", 0}, DateCase{4, "31.12-2024", 0},
        DateCase{4, "32.01.2024", 0}, DateCase{4, "31.12.202", 0},
        DateCase{4, "19991231", 0}, DateCase{5, "19991231", 0}, DateCase{-1, "19991231", 0},
        // This year's two-digit dates are this century's; four digits stay whole.
        DateCase{3, "240102", 20240102}, DateCase{3, "260101", 20260101},
        DateCase{2, "01/02/24", 20240102}, DateCase{2, "01/02/2024", 20240102},
        DateCase{2, "01/02/1924", 19240102}, DateCase{2, "01/02/124", 0},
        DateCase{1, "2-Jan-24", 20240102}, DateCase{1, "2 Jan 1924", 19240102},
        DateCase{4, "02.01.24", 20240102}));

TEST(TimeOfDay, ThirtyLinesShareASyntheticDay) {
  TimeOfDayDates clock;
  std::vector<std::int32_t> got;
  for (int i = 0; i < 60; ++i) {
    std::int32_t d = 0;
    bool synthetic = false;
    ASSERT_TRUE(parse_date("23:00:00", 2, &d, clock, &synthetic));
    EXPECT_TRUE(synthetic);
    got.push_back(d);
  }
  EXPECT_EQ(got[0], 19480914);
  EXPECT_EQ(got[28], 19480914);
  EXPECT_EQ(got[29], 19480915);
  EXPECT_EQ(got[58], 19480915);
  EXPECT_EQ(got[59], 19480916);
}

TEST(Helpers, FinddigitAndMonthSearch) {
  EXPECT_EQ(finddigit("abc"), nullptr);
  const char* t = "ab,-3";
  EXPECT_EQ(finddigit(t), t + 3);
  const char* u = "x.5";
  EXPECT_EQ(finddigit(u), u + 1);
  char a[] = "DEC92", b[] = "anf", c[] = "ja";
  EXPECT_EQ(search(a), 12);
  EXPECT_STREQ(a, "dec92");  // lowered in place
  EXPECT_EQ(search(b), 0);   // names are three-letter cells, not substrings
  EXPECT_EQ(search(c), 0);
}

TEST(Helpers, NumbersReadAsTheCLibraryDoes) {
  EXPECT_FLOAT_EQ(read_price(" 1.75"), 1.75f);
  EXPECT_EQ(read_price("12 1/2"), 12.0f);
  EXPECT_EQ(read_price("12'16"), 12.0f);
  EXPECT_EQ(read_price(""), 0.0f);
  EXPECT_EQ(read_price("-0x10"), -16.0f);
  // The double is rounded to float, exactly as strtod then a float cast.
  for (const char* s : {"0.1", "123.456", "99999.99", "1.0000000596046448", "3.4e39", "7e-46"})
    EXPECT_EQ(read_price(s), static_cast<float>(std::strtod(s, nullptr))) << s;
  EXPECT_EQ(read_integer("12.7"), 12);
  EXPECT_EQ(read_integer("  -42x"), -42);
  EXPECT_EQ(read_integer("99999999999"), 2147483647);
  EXPECT_EQ(volume_factor(true, "ASCIIlist.!"), 100);
  EXPECT_EQ(volume_factor(true, "ascii.!"), 100);
  EXPECT_EQ(volume_factor(true, "Ascii.!"), 1);
  EXPECT_EQ(volume_factor(false, "ASCII.!"), 1);
}

struct NameCase {
  const char* symbol;
  const char* name;
};

TEST(SymbolNames, MadeUsableAsFileNames) {
  const NameCase cases[] = {
      {"IBM", "ibm"},       {"BRK/A", "brk-a"}, {"PRN", "prn_"},   {"A.B.C", "a`b.c"},
      {"MSFT US", "msft"},  {"8xyz12", "xyz"},  {"72", ""},        {"7", ""},
      {" IBM", "`ibm"},     {"CON", "con"},     {"a.b", "a.b"},    {".DJI", "_dji"},
      {".morva-ab12cd34.tmp", "`morva-ab12cd34.tmp"}, {".", "_"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZABCD", "abcdefghijklmnopqrstu"},
  };
  for (const NameCase& c : cases) EXPECT_EQ(symbol_to_name(c.symbol, ','), c.name) << c.symbol;
  EXPECT_EQ(symbol_to_name("IBM,19991231", ','), "ibm");
  char dev[8] = "COM1";
  illegal_dos(dev);
  EXPECT_STREQ(dev, "COM1_");
  char hyper[] = "8AB CD/9";
  fix_hypermart_names(hyper);
  EXPECT_STREQ(hyper, "abcd");
}

TEST(SymbolNames, StorageDirectoryFromExtensionAndFirstLetter) {
  EXPECT_EQ(storage_dir("PRICES.PRN", "ibm"), "stk_i");
  EXPECT_EQ(storage_dir("PRICES.CSV", "ibm"), "csv_i");
  EXPECT_EQ(storage_dir("quotes.csv", "ibm"), "csv_i");
  EXPECT_EQ(storage_dir("991231.STK", "msft"), "stk_m");
  EXPECT_EQ(storage_dir("prices", "ibm"), "i");
  EXPECT_EQ(storage_dir("a.longext", "x"), "lon_x");
  EXPECT_EQ(storage_dir("../data/prices", "ibm"), "i");  // a dot of a folder is no extension
  EXPECT_EQ(storage_dir("my.dir/quotes.txt", "ibm"), "txt_i");
}

TEST(FieldWalk, DefaultLine) {
  const FormatSettings f = settings(0, "DOHLCVI");
  FieldSlots s;
  EXPECT_EQ(walk_fields("19991231,1.5,2,1,1.75,1000,7", f, nullptr, s), 0);
  EXPECT_STREQ(s.slot[4], "19991231");
  EXPECT_STREQ(s.slot[5], "1.5");
  EXPECT_STREQ(s.slot[8], "1.75");
  EXPECT_STREQ(s.slot[9], "1000");
  EXPECT_STREQ(s.slot[10], "7");
}

TEST(FieldWalk, EmptyColumnsKeepTheirPlacesAndBlanksFillOrder) {
  const FormatSettings f = settings(0, "DOHLC");
  FieldSlots s;
  walk_fields(",,1.5", f, nullptr, s);
  EXPECT_STREQ(s.slot[4], "");  // two adjacent separators enclose an empty field
  EXPECT_STREQ(s.slot[5], "");
  EXPECT_STREQ(s.slot[6], "1.5");
  // {separator, line, open, high, close slots}: tab as any other separator;
  // a run of blanks is one blank separator.
  const struct {
    char sep;
    const char* line;
    const char *open, *high, *close;
  } cases[] = {{'\t', "20240102\t\t2\t0.5\t1", "", "2", "1"},
               {',', "20240102,,2,0.5,1", "", "2", "1"},
               {';', "20240102; ;2;0.5;1", "", "2", "1"},
               {' ', "20240102   1  2   0.5 1", "1", "2", "1"},
               {',', "20240102,$1.5,2,0.5,1", "1.5", "2", "1"}};
  for (const auto& c : cases) {
    walk_fields(c.line, settings(0, "DOHLC", c.sep), nullptr, s);
    EXPECT_STREQ(s.slot[4], "20240102") << c.line;
    EXPECT_STREQ(s.slot[5], c.open) << c.line;
    EXPECT_STREQ(s.slot[6], c.high) << c.line;
    EXPECT_STREQ(s.slot[8], c.close) << c.line;
    EXPECT_FALSE(s.bad_field) << c.line;
  }
  // A code other than 0 takes six characters of the date whatever they are.
  const FormatSettings f1 = settings(1, "DC");
  walk_fields("31 Dec 92,4.5", f1, nullptr, s);
  EXPECT_STREQ(s.slot[4], "31 Dec 92");
  EXPECT_STREQ(s.slot[8], "4.5");
  // Markers: slot 12 first, 13 third, 11 elsewhere; long fields keep 19 chars.
  const FormatSettings fm = settings(0, "MDMCM");
  walk_fields("1,19991231,2,12345678901234567890123,3", fm, nullptr, s);
  EXPECT_STREQ(s.slot[12], "1");
  EXPECT_STREQ(s.slot[13], "2");
  EXPECT_STREQ(s.slot[8], "1234567890123456789");
  EXPECT_STREQ(s.slot[11], "3");
}

TEST(FieldWalk, SymbolChangeStopsTheWalk) {
  const FormatSettings f = settings(0, "SDC");
  FieldSlots s;
  const std::string ibm = "ibm";
  EXPECT_EQ(walk_fields("IBM,19991231,5", f, &ibm, s), 0);
  EXPECT_STREQ(s.slot[4], "19991231");
  EXPECT_EQ(walk_fields("MSFT,19991231,5", f, &ibm, s), 1);
  EXPECT_EQ(s.symbol, "msft");
  // A symbol with digits does not lend them to the date.
  const std::string com = "com1_";
  EXPECT_EQ(walk_fields("COM1,19991231,5", f, &com, s), 1);  // "com1" is not a device (case)
  const std::string brk = "brk2";
  EXPECT_EQ(walk_fields("BRK2,19991231,5", f, &brk, s), 0);
  EXPECT_STREQ(s.slot[4], "19991231");
  // A word right after the symbol is passed over; a word in a price's place
  // is a column of text.
  const FormatSettings fb = settings(0, "SDOHLCV", ' ');
  EXPECT_EQ(walk_fields("MSFT US 19990104 3 4 2 3.5 30000", fb, nullptr, s), 0);
  EXPECT_EQ(s.symbol, "msft");
  EXPECT_STREQ(s.slot[4], "19990104");
  EXPECT_STREQ(s.slot[5], "3");
  EXPECT_STREQ(s.slot[8], "3.5");
  EXPECT_STREQ(s.slot[9], "30000");
  EXPECT_FALSE(s.bad_field);
  walk_fields("MSFT 19990104 abc 4 2 3.5 30000", fb, nullptr, s);
  EXPECT_TRUE(s.bad_field);
}

struct Recorder : TextReport {
  TimeOfDayDates clock;
  int bad = 0, bad_name = 0, early = 0, done = 0, progress_calls = 0, bad_value_calls = 0;
  void bad_date() override { ++bad; }
  void bad_value() override { ++bad_value_calls; }
  void bad_name_date() override { ++bad_name; }
  void early_date() override { ++early; }
  void early_dates_done() override { ++done; }
  void progress(const BarRecord&) override { ++progress_calls; }
};

TEST(LineParser, LinesIntoBars) {
  Recorder r;
  LineParser p(settings(0, "DOHLCVI"), "prices.txt", 1, r, r.clock);
  ParsedLine out;
  p.parse("19991231,1.5,2,1,1.75,1000,7", "", out);
  ASSERT_EQ(out.kind, LineKind::kBar);
  EXPECT_EQ(out.bar.date, 19991231);
  EXPECT_EQ(out.bar.open, 1.5f);
  EXPECT_EQ(out.bar.high, 2.0f);
  EXPECT_EQ(out.bar.low, 1.0f);
  EXPECT_EQ(out.bar.close, 1.75f);
  EXPECT_EQ(out.bar.volume, 1000);
  EXPECT_EQ(out.bar.openint, 7);

  p.parse("991231", "", out);  // six characters: ignored without a message
  EXPECT_EQ(out.kind, LineKind::kIgnored);
  EXPECT_EQ(r.bad, 0);

  p.parse(",,1.5,2,3,4", "", out);  // the date moves onto 1.5: bad, and so is the name
  EXPECT_EQ(out.kind, LineKind::kBadDate);
  EXPECT_EQ(r.bad, 2);
  EXPECT_EQ(r.bad_name, 1);
}

TEST(LineParser, HeaderLinesBeforeTheFirstDateAndDecimalComma) {
  Recorder r;
  LineParser p(settings(0, "DOHLCMV"), "prices.csv", 1, r, r.clock);
  ParsedLine out;
  p.parse("Date,Open,High,Low,Close,Adj Close,Volume", "", out);
  EXPECT_EQ(out.kind, LineKind::kIgnored);
  EXPECT_EQ(r.bad, 0);
  p.parse("2024-01-02,1.5,2,1,1.75,1.7,100", "", out);
  ASSERT_EQ(out.kind, LineKind::kBar);
  EXPECT_EQ(out.bar.date, 20240102);
  EXPECT_EQ(out.bar.close, 1.75f);
  EXPECT_EQ(out.bar.volume, 100);  // Adj Close passed over by M
  p.parse("Date,Open,High,Low,Close", "", out);  // after a date: a bad line
  EXPECT_EQ(out.kind, LineKind::kBadDate);

  LineParser q(settings(4, "DOHLCV", ';'), "x", 1, r, r.clock, true);
  q.parse("\"Datum\";\"Eroffnung\"", "", out);
  EXPECT_EQ(out.kind, LineKind::kIgnored);
  q.parse("02.01.2024;16,50;16,8;16,40;16,75;1200", "", out);
  ASSERT_EQ(out.kind, LineKind::kBar);
  EXPECT_EQ(out.bar.date, 20240102);
  EXPECT_EQ(out.bar.open, 16.5f);
  EXPECT_EQ(out.bar.high, 16.8f);
  EXPECT_EQ(out.bar.volume, 1200);
}

struct LayoutCase {
  const char* text;
  const char* summary;  // or a piece of the problem when refused
  const char* order;
  int datecode;
};

TEST(Layout, FoundFromTheHeaderAndTheFirstLines) {
  const LayoutCase cases[] = {
      {"Date,Open,High,Low,Close,Adj Close,Volume\r\n2024-01-02,1,2,0.5,1.5,1.4,100\r\n",
       "date=ISO order=DOHLC-V sep=, header=yes", "DOHLCMV", 0},
      {"Ticker,Date,Open,High,Low,Close,Volume\nAAPL,20240102,1,2,0.5,1.5,100\n",
       "date=yyyymmdd order=SDOHLCV sep=, header=yes", "SDOHLCV", 0},
      {"Datum;Open;High;Low;Close;Volume\n02.01.2024;16,5;17;16;16,75;1200\n15.01.2024;1;2;1;2;3\n",
       "date=dd.mm.yyyy order=DOHLCV sep=; header=yes decimal=comma", "DOHLCV", 4},
      {"<DATE>\t<TIME>\t<OPEN>\t<CLOSE>\tName\tOI\n20240131\t09:30\t1\t2\tACME Corp\t5\n",
       "no High, Low column", "", -1},
      {"date,close\n2024-01-02 09:30,1\n2024-01-02 09:31,2\n",
       "date=ISO order=DC sep=, header=yes time=ignored close-only", "DC", 0},
      {"12/31/2023|1|2\n01/02/2024|1|2\n", "date=mm/dd/yyyy sep=| header=no", "", 2},
      {"Date Close\n31/12/19 1\n02/01/20 2\n", "date=dd/mm/yy order=DC sep=space header=yes close-only", "DC", 0},
      {"02-Jan-24 1 4 0.5 3\n03-Jan-24 1 4 0.5 3\n", "date=dd-Mon-yy sep=space header=no", "", 1},
      {"Date,Close\n01/02/2024,1\n02/03/2024,2\n", "--date-format mm/dd/yy or --date-format dd.mm.yyyy", "",
       -1},
      {"Open,Close\n1,2\n", "no Date column", "", -1},
      {"Date,Close\n", "no line of prices", "", -1},
      {"1,2,3\n4,5,6\n", "no date", "", -1},
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.text);
    const TextLayout l = detect_layout(c.text, LayoutHints{});
    if (c.datecode < 0) {
      EXPECT_FALSE(l.ok);
      EXPECT_NE(l.problem.find(c.summary), std::string::npos) << l.problem;
      continue;
    }
    ASSERT_TRUE(l.ok) << l.problem;
    EXPECT_EQ(l.summary(), c.summary);
    EXPECT_EQ(l.order, c.order);
    EXPECT_EQ(l.datecode, c.datecode);
  }
  // What the caller gives is taken: no refusal for the ambiguous dates.
  LayoutHints given;
  given.datecode = 2;
  given.sep = ',';
  const TextLayout l = detect_layout("Date,Close\n01/02/2024,1\n", given);
  ASSERT_TRUE(l.ok);
  EXPECT_EQ(l.datecode, 2);
}

TEST(LineParser, ValuesThatCannotBeStoredAsWrittenSkipTheLine) {
  const std::string digits = "20240102,1,2,1," + std::string(240, '1') + ",100";  // 240 digits: no price
  const struct {
    char sep;
    const char* line;
    int factor;
  } cases[] = {
      {',', "20240102,nan,2,1,1.5,100,7", 1},   {',', "20240102,+inf,2,1,1.5,100,7", 1},
      {',', "20240102,1e40,2,1,1.5,100,7", 1},  {',', "20240102,1,-1e39,1,1.5,100,7", 1},
      {',', "20240102,1,2,1,-nan,100,7", 1},    {',', "20240102,1,2,1,1.5,2147483648,7", 1},
      {',', "20240102,1,2,1,1.5,100,-2147483649", 1}, {',', "20240102,1,2,1,1.5,21474837,7", 100},
      {' ', "20240102\t1\t2\t1\t1.5\t100\t7", 1},  // the wrong separator: no usable number
      {',', "20240102,n/a,2,1,1.5,100,7", 1},   {'\t', "20240102\tx\t2\t1\t1.5\t100\t7", 1},
      // Only a whole field that is a number is read.
      {',', "20240102,0x10,2,1,1.5,100,7", 1},  {',', "20240102,1.5.5,2,1,1.5,100,7", 1},
      {',', "20240102,1e,2,1,1.5,100,7", 1},    {',', "20240102,nan(123),2,1,1.5,100,7", 1},
      {',', "20240102,--1,2,1,1.5,100,7", 1},   {',', "20240102,1e-50,2,1,1.5,100,7", 1},
      {',', "20240102,1,2,1,1.5,1e12,7", 1},    {',', "20240102,1,2,1,1.5abc,100,7", 1},
      {',', digits.c_str(), 1},
  };
  for (const auto& c : cases) {
    Recorder r;
    LineParser p(settings(0, "DOHLCVI", c.sep), "prices.txt", c.factor, r, r.clock);
    ParsedLine out;
    p.parse(c.line, "", out);
    EXPECT_EQ(out.kind, LineKind::kBadValue) << c.line;
    EXPECT_EQ(r.bad_value_calls, 1) << c.line;
  }
  // The largest values that fit are stored as written.
  Recorder r;
  LineParser p(settings(0, "DOHLCVI", '\t'), "prices.txt", 1, r, r.clock);
  ParsedLine out;
  p.parse("20240102\t\t2\t0.5\t1\t2147483647\t-2147483648", "", out);
  ASSERT_EQ(out.kind, LineKind::kBar);
  EXPECT_EQ(out.bar.open, 0.0f);
  EXPECT_EQ(out.bar.high, 2.0f);
  EXPECT_EQ(out.bar.volume, 2147483647);
  EXPECT_EQ(out.bar.openint, -2147483647 - 1);
}

TEST(LineParser, VolumeFactorAndFileNameDate) {
  Recorder r;
  LineParser p(settings(3, "SOHLCVI"), "991231.STK", 100, r, r.clock);
  ParsedLine out;
  p.parse("IBM,1,2,0.5,1.5,12.7,3", "ibm", out);
  ASSERT_EQ(out.kind, LineKind::kBar);
  EXPECT_EQ(out.bar.date, 19991231);  // no date column: from the name
  EXPECT_EQ(out.bar.volume, 1200);
  EXPECT_EQ(r.bad, 0);

  LineParser q(settings(3, "SOHLCVI"), "DATA", 1, r, r.clock);
  q.parse("IBM,1,2,0.5,1.5,12,3", "ibm", out);
  EXPECT_EQ(out.kind, LineKind::kBadDate);
  EXPECT_EQ(r.bad_name, 1);
}

TEST(LineParser, EarlyDatesAreSkippedAndReported) {
  Recorder r;
  LineParser p(settings(0, "DC", ',', "20000101"), "x", 1, r, r.clock);
  ParsedLine out;
  p.parse("19991230,1", "", out);
  EXPECT_EQ(out.kind, LineKind::kEarly);
  p.parse("19991231,1", "", out);
  EXPECT_EQ(out.kind, LineKind::kEarly);
  p.parse("20000103,1", "", out);
  EXPECT_EQ(out.kind, LineKind::kBar);
  p.parse("20000104,1", "", out);
  EXPECT_EQ(r.early, 2);
  EXPECT_EQ(r.done, 1);
}

class TextFile {
 public:
  explicit TextFile(const std::string& text) {
    path_ = dir_.file("t.txt");
    write_text(path_, text);
    fd_ = ::open(path_.c_str(), O_RDONLY);
  }
  ~TextFile() { ::close(fd_); }
  int fd() const { return fd_; }

 private:
  TempDir dir_;
  std::string path_;
  int fd_ = -1;
};

TEST(FirstLines, FirstSymbolSkipsDashLines) {
  TextFile t("--------------------x,1\n------------------------,2\nBRK/A,19991231,5\nIBM,1\n");
  std::string name;
  ASSERT_EQ(first_symbol(t.fd(), settings(0, "SDC"), name), 1);
  EXPECT_EQ(name, "brk-a");
  char buf[64];
  ASSERT_NE(mygts(buf, sizeof buf, t.fd()), nullptr);  // left at the start of that line
  EXPECT_STREQ(buf, "BRK/A,19991231,5");

  TextFile none("----------------------,1\n");
  EXPECT_EQ(first_symbol(none.fd(), settings(0, "SDC"), name), 0);
  TextFile empty("");
  EXPECT_EQ(first_symbol(empty.fd(), settings(0, "SDC"), name), 0);
}

TEST(FirstLines, FirstTwoDates) {
  Recorder r;
  std::int32_t d[2];
  int n = 0;
  // A header line of words is passed over without a message.
  TextFile daily("Date,Close\nbad line 7 here\n19990104,1\n2000-01-05,2\n");
  first_two_dates(daily.fd(), settings(0, "DC"), false, d, &n, r, r.clock);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(d[0], 19990104);
  EXPECT_EQ(d[1], 20000105);
  EXPECT_EQ(r.bad, 1);

  // With a symbol, code 0 and ',' the first date is read from the digits
  // after the ',' (read from the ',' itself it could never be good).
  TextFile sym("IBM,19990104,1\nIBM,19990105,2\n");
  first_two_dates(sym.fd(), settings(0, "SDC"), true, d, &n, r, r.clock);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(d[0], 19990104);
  // Code 3 skips to the digits.
  TextFile sym3("IBM,990104,1\nIBM,990105,2\n");
  first_two_dates(sym3.fd(), settings(3, "SDC"), true, d, &n, r, r.clock);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(d[1], 19990105);
  // No date column: nothing is read.
  TextFile nod("IBM,1,2\n");
  first_two_dates(nod.fd(), settings(3, "SOHLC"), true, d, &n, r, r.clock);
  EXPECT_EQ(n, 0);
}

TEST(Save28r, RunEndsAtTheNextSymbolWhichIsReadAgain) {
  TextFile t("IBM,19990104,1\nIBM,19990105,2\nMSFT,19990104,3\nMSFT,19990105,4\n");
  Recorder r;
  const FormatSettings f = settings(0, "SDC");
  LineParser p(f, "t.txt", 1, r, r.clock);
  LineReader src(t.fd());
  std::vector<RunBar> bars;
  std::string next;
  save28r(bars, "ibm", src, p, next, r);
  ASSERT_EQ(bars.size(), 2u);
  EXPECT_EQ(next, "msft");
  bars.clear();
  save28r(bars, next, src, p, next, r);
  ASSERT_EQ(bars.size(), 2u);
  EXPECT_EQ(bars[0].bar.close, 3.0f);
  EXPECT_EQ(next, "");
}

}  // namespace
