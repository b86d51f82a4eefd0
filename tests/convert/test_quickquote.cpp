// Quick-quote import core: field reading, the update date, and the charts
// that an import leaves behind (compared byte for byte with charts built
// here by hand).
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "chartdata/chartfile.h"
#include "chartdata/faults.h"
#include "chartdata/linereader.h"
#include "convert/quickquote.h"
#include "support/chart_files.h"
#include "support/tempdir.h"

namespace {

// ---- Quote text in the long quote format --------------------------------

void put_at(std::string& line, std::size_t col, const std::string& text) {
  if (line.size() < col + text.size()) line.resize(col + text.size(), ' ');
  line.replace(col, text.size(), text);
}

struct Quote {
  std::string symbol, close, volume, open, high, low;
};

// Five lines; words between the columns as a real quote screen has them.
std::string record(const Quote& q) {
  std::string l1 = q.symbol;
  put_at(l1, 12, "Last");
  put_at(l1, 22, q.close);
  put_at(l1, 56, "Vol");
  put_at(l1, 66, q.volume);
  std::string l3 = "Range";
  put_at(l3, 36, "Open");
  put_at(l3, 42, q.open);
  put_at(l3, 50, "Hi");
  put_at(l3, 54, q.high);
  put_at(l3, 62, "Lo");
  put_at(l3, 66, q.low);
  return l1 + "\n" + "  Bid 1.00 Ask 2.00 Chg +0.5\n" + l3 + "\n" + "  52wk 10 99\n" + "  Time 16:00\n";
}

const std::string kDashes(40, '-');

// ---- Expected chart bytes -----------------------------------------------

struct B {
  std::int32_t date;
  float o, h, l, c;
  std::int32_t v;
};
Bytes chart(std::int32_t hdate, std::initializer_list<B> bars) {
  Bytes b = chart_header(hdate);
  for (const B& x : bars) put_bar(b, x.date, x.o, x.h, x.l, x.c, x.v);
  return b;
}

class Recorder : public QuickQuoteListener {
 public:
  void progress(float close) override { closes.push_back(close); }
  void record_read() override { ++records; }
  void chart_done(const std::string& name, bool ok) override {
    done.push_back(name + (ok ? ":ok" : ":failed"));
    if (ok) last_stored = name;
  }
  void chart_refused(const std::string& name) override { refused.push_back(name); }
  bool stop_requested() override { return stop_after_first && !done.empty(); }

  std::vector<float> closes;
  std::vector<std::string> done, refused;
  bool stop_after_first = false;
  long records = 0;         // of the last run
  std::string last_stored;  // of the last run
};

class QuickQuoteCore : public ::testing::Test {
 protected:
  void SetUp() override {
    faults_reset();
  }
  void TearDown() override {
    faults_reset();
  }

  // Writes the quote file into the current folder and imports it.
  Result run(const std::string& text, std::int32_t date, const char* name = "quotes.txt") {
    EXPECT_TRUE(write_text(dir_.file(name), text));
    const int fd = ::open(name, O_RDONLY);
    EXPECT_GT(fd, 0);
    std::string first;
    Result r;
    rec_.records = 0;
    rec_.last_stored.clear();
    if (first_quote_name(fd, &first)) r = quickquote_import(QuoteRequest{fd, date, first}, rec_);
    linereader_close(fd);
    return r;
  }
  Bytes file(const char* name) const { return read_file(dir_.file(name)); }

  TempDir dir_{"morva-quickquote"};
  ScopedChdir cd_{dir_.path()};
  Recorder rec_;
  QuietDiskFull quiet_;
};

const Quote kIbm{"IBM", "123.4/", "1500", "120", "124.1/", "119.5"};
const Quote kDec{"DEC", "101/08", "2000", "100", "102", "99"};

}  // namespace

TEST(QuoteField, NumericTextFromAFixedColumn) {
  struct Case {
    const char* line;
    std::size_t col;
    const char* field;
  };
  const Case cases[] = {
      {"IBM        Last 123.4/ up", 11, "123.4/"},  // words before the number are skipped
      {"x 101/08 y", 0, "101/08"},
      {"abc -1.25+", 0, "-1.25+"},
      {"abc 12,500", 0, "12"},                          // a comma ends the run
      {"short", 66, ""},                                // column beyond the line
      {"abcde", 5, ""},                                 // column at the end of the line
      {"ab 7", 1, "7"},
      {"no number here", 0, ""},
      {"12345678901234567890123", 0, "1234567890123456789"},  // at most 19 characters
      {"/5", 0, "5"},                                   // a slash cannot start a field
  };
  for (const Case& c : cases) EXPECT_EQ(quote_field(c.line, c.col), c.field) << c.line;
}

TEST(WidenUpdateDate, TwoDigitYearsAndInvalidDates) {
  struct Case {
    long typed;
    std::int32_t date;
  };
  const Case cases[] = {
      {991231, 19991231}, {105, 20000105},   {101, 20000101}, {200229, 20200229},
      {210101, 20210101}, {960229, 19960229}, {210229, 0},     {991232, 0},
      {991301, 0},        {990001, 0},       {990100, 0},     {0, 0},
      {-105, 0},          {1231, 20001231},   {1000000, 0},    {260105, 20260105},
      {240229, 20240229}, {20260105, 20260105}, {19240105, 19240105}, {20250229, 0},
      {9991231, 0},       {30000101, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(widen_update_date(c.typed), c.date) << c.typed;
}

TEST(ParseQuote, FieldsOfTheFirstAndThirdLines) {
  const std::string text = record(kIbm);
  const std::string l1 = text.substr(0, text.find('\n'));
  std::string rest = text.substr(text.find('\n') + 1);
  rest = rest.substr(rest.find('\n') + 1);
  const std::string l3 = rest.substr(0, rest.find('\n'));
  const QuoteRecord q = parse_quote(l1.c_str(), l3.c_str());
  EXPECT_EQ(q.name, "ibm");
  EXPECT_FLOAT_EQ(q.close, 123.5f);  // 123.4/ is 123 and 4 eighths
  EXPECT_EQ(q.volume, 1500);
  EXPECT_FLOAT_EQ(q.open, 120.0f);
  EXPECT_FLOAT_EQ(q.high, 124.125f);
  EXPECT_FLOAT_EQ(q.low, 119.5f);

  const QuoteRecord d = parse_quote("DEC                   101/08", "x");
  EXPECT_FLOAT_EQ(d.close, 101.5f);
  EXPECT_EQ(d.volume, 0);  // line shorter than 66 characters
  EXPECT_EQ(d.low, 0.0f);
  EXPECT_EQ(d.open, 0.0f);

  const QuoteRecord cut = parse_quote("DEC                   12", nullptr);
  EXPECT_FLOAT_EQ(cut.close, 12.0f);
  EXPECT_EQ(cut.high, 0.0f);

  const std::string big = "BIG                   1" + std::string(43, ' ') + "99999999999";
  EXPECT_EQ(parse_quote(big.c_str(), "").volume, 2147483647);

  // A price field is a whole number or it is not stored.
  for (const char* close : {"1e39", "nan 10", "12abc", "0x10"})
    EXPECT_FALSE(parse_quote((std::string("BAD                   ") + close).c_str(), "").storable) << close;
  EXPECT_TRUE(parse_quote("DEC                   101/08  ", "").storable);
}

TEST_F(QuickQuoteCore, OneRecordEachForIbmAndDecUpdatesBothCharts) {
  const Result r = run(record(kIbm) + record(kDec), 20000105);
  EXPECT_EQ(r.status, Status::kDone);
  EXPECT_EQ(r.count, 2);
  EXPECT_EQ(rec_.last_stored, "dec");
  EXPECT_EQ(file("ibm"), chart(20000105, {{20000105, 120, 124.125f, 119.5f, 123.5f, 1500}}));
  EXPECT_EQ(file("dec"), chart(20000105, {{20000105, 100, 102, 99, 101.5f, 2000}}));
  EXPECT_EQ(list_dir(dir_.path()), (std::vector<std::string>{"dec", "ibm", "quotes.txt"}));
}

TEST_F(QuickQuoteCore, WidenedDateMergesByDateIntoAnExistingChart) {
  Bytes old = chart(19991231, {{19991230, 1, 1, 1, 1, 1}, {20000105, 2, 2, 2, 2, 2}, {20000110, 3, 3, 3, 3, 3}});
  ASSERT_TRUE(write_file(dir_.file("ibm"), old));
  ASSERT_EQ(run(record(kIbm), 20000105).status, Status::kDone);
  EXPECT_EQ(file("ibm"), chart(20000105, {{19991230, 1, 1, 1, 1, 1},
                                          {20000105, 120, 124.125f, 119.5f, 123.5f, 1500},
                                          {20000110, 3, 3, 3, 3, 3}}));
}

TEST_F(QuickQuoteCore, OldTwoDigitChartIsUpgradedAndTheNewBarFollowsIt) {
  Bytes old = chart(991231, {{991230, 1, 1, 1, 1, 1}, {991231, 2, 2, 2, 2, 2}});
  ASSERT_TRUE(write_file(dir_.file("ibm"), old));
  ASSERT_EQ(run(record(kIbm), widen_update_date(105)).status, Status::kDone);
  EXPECT_EQ(file("ibm"), chart(20000105, {{19991230, 1, 1, 1, 1, 1},
                                          {19991231, 2, 2, 2, 2, 2},
                                          {20000105, 120, 124.125f, 119.5f, 123.5f, 1500}}));
}

TEST_F(QuickQuoteCore, CapitalsAndPunctuationInSymbolsMakeFileSafeNames) {
  const Quote brk{"BRK/A", "1", "1", "1", "1", "1"};
  const Quote prn{"PRN", "2", "2", "2", "2", "2"};
  ASSERT_EQ(run(record(brk) + record(prn), 19991231).status, Status::kDone);
  EXPECT_EQ(list_dir(dir_.path()), (std::vector<std::string>{"brk-a", "prn_", "quotes.txt"}));
}

TEST_F(QuickQuoteCore, OneBarPerDateTheLaterRecordOfTheDayWins) {
  const Quote ibm2{"IBM", "130", "10", "131", "132", "129"};
  ASSERT_EQ(run(record(kIbm) + record(ibm2), 19991231).status, Status::kDone);
  EXPECT_EQ(file("ibm"), chart(19991231, {{19991231, 131, 132, 129, 130, 10}}));

  // A symbol that comes back after others is merged into its chart again.
  ASSERT_EQ(run(record(kIbm) + record(kDec) + record(ibm2), 19991231).status, Status::kDone);
  EXPECT_EQ(file("ibm"), chart(19991231, {{19991231, 131, 132, 129, 130, 10}}));
  EXPECT_EQ(file("dec"), chart(19991231, {{19991231, 100, 102, 99, 101.5f, 2000}}));
}

TEST_F(QuickQuoteCore, DashLinesBlankLinesAndUnusableSymbolsAreNotRecords) {
  const Quote seven{"7", "5", "5", "5", "5", "5"};
  const std::string text = kDashes + "\n" + kDashes + " QUOTES\n" + record(kIbm) + "\n" + kDashes +
                           "\n" + record(seven) + record(kDec) + "\n\n";
  std::string first;
  ASSERT_TRUE(write_text(dir_.file("q2"), text));
  const int fd = ::open("q2", O_RDONLY);
  ASSERT_TRUE(first_quote_name(fd, &first));
  EXPECT_EQ(first, "ibm");
  char line[256];
  ASSERT_NE(mygts(line, 255, fd), nullptr);  // positioned at the first record
  EXPECT_EQ(std::string(line, 3), "IBM");
  linereader_close(fd);

  const Result r = run(text, 19991231);
  EXPECT_EQ(r.status, Status::kDone);
  EXPECT_EQ(r.count, 2);
  EXPECT_EQ(file("dec"), chart(19991231, {{19991231, 100, 102, 99, 101.5f, 2000}}));
  EXPECT_EQ(list_dir(dir_.path()), (std::vector<std::string>{"dec", "ibm", "q2", "quotes.txt"}));
}

TEST_F(QuickQuoteCore, RecordStartingWithABlankIsSkippedWholeAndCounted) {
  const Quote unnamed{"", "5", "5", "5", "5", "5"};  // its first line starts with blanks
  for (const std::string& text : {record(kIbm) + record(unnamed) + record(kDec),
                                  record(unnamed) + record(kIbm) + record(kDec)}) {
    for (const char* f : {"ibm", "dec"}) std::remove(dir_.file(f).c_str());
    const Result r = run(text, 19991231);
    EXPECT_EQ(r.status, Status::kDone);
    EXPECT_EQ(r.count, 2);
    EXPECT_EQ(rec_.records, 3);
    EXPECT_EQ(r.passed_over, 1);
    EXPECT_EQ(file("ibm"), chart(19991231, {{19991231, 120, 124.125f, 119.5f, 123.5f, 1500}}));
    EXPECT_EQ(file("dec"), chart(19991231, {{19991231, 100, 102, 99, 101.5f, 2000}}));
    EXPECT_EQ(list_dir(dir_.path()), (std::vector<std::string>{"dec", "ibm", "quotes.txt"}));
  }
  // A volume beyond 32 bits is skipped the same way, never stored saturated.
  for (const char* f : {"ibm", "dec"}) std::remove(dir_.file(f).c_str());
  const Quote huge{"DEC", "101/08", "3000000000", "100", "102", "99"};
  const Result r = run(record(kIbm) + record(kDec) + record(huge), 19991231);
  EXPECT_EQ(r.passed_over, 1);
  EXPECT_EQ(file("dec"), chart(19991231, {{19991231, 100, 102, 99, 101.5f, 2000}}));
  // A chart whose only record is skipped is not made.
  const Quote huge_only{"XYZ", "101/08", "3000000000", "100", "102", "99"};
  EXPECT_EQ(run(record(huge_only), 19991231).failed, 0);
  EXPECT_FALSE(file_exists(dir_.file("xyz")));
}

TEST_F(QuickQuoteCore, FileWithoutRecordsImportsNothing) {
  ASSERT_TRUE(write_text(dir_.file("q"), kDashes + "\n\n" + kDashes + "\n"));
  const int fd = ::open("q", O_RDONLY);
  std::string first;
  EXPECT_EQ(first_quote_name(fd, &first), 0);
  linereader_close(fd);
}

TEST_F(QuickQuoteCore, RecordCutShortAtTheEndStillGivesABarWithoutStaleFields) {
  const std::string text = record(kIbm) + "DEC                   55.5" + std::string(40, ' ') + "700\n";
  ASSERT_EQ(run(text, 19991231).status, Status::kDone);
  EXPECT_EQ(file("dec"), chart(19991231, {{19991231, 0, 0, 0, 55.5f, 700}}));
}

TEST_F(QuickQuoteCore, ProgressShowsEveryTenthCloseOfAChart) {
  std::string text;
  for (int i = 1; i <= 25; ++i) text += record({"IBM", std::to_string(i), "1", "1", "30", "1"});
  ASSERT_EQ(run(text, 19991231).status, Status::kDone);
  EXPECT_EQ(rec_.closes, (std::vector<float>{10, 20}));
  EXPECT_EQ(file("ibm"), chart(19991231, {{19991231, 1, 30, 1, 25, 1}}));
}

TEST_F(QuickQuoteCore, StopRequestEndsAfterTheChartJustStored) {
  rec_.stop_after_first = true;
  const Result r = run(record(kIbm) + record(kDec), 19991231);
  EXPECT_TRUE(r.stopped);
  EXPECT_EQ(r.count, 1);
  EXPECT_TRUE(file_exists(dir_.file("ibm")));
  EXPECT_FALSE(file_exists(dir_.file("dec")));
}

TEST_F(QuickQuoteCore, FailedChartIsLeftAsItWasAndTheNextChartStillGetsItsOwnBar) {
  // The chart already holds the day: its bar is replaced through the splice.
  const Bytes old = chart(19991230, {{19991230, 1, 1, 1, 1, 1}, {19991231, 1, 1, 1, 1, 1}});
  struct Case {
    const char* what;
    FaultPlan plan;
  };
  const Case cases[] = {
      {"first write", FaultPlan{.fail_write = 1}},
      {"temporary file", FaultPlan{.fail_create = 1}},
      {"rename", FaultPlan{.fail_rename = 1}},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(write_file(dir_.file("ibm"), old));
    ::unlink(dir_.file("dec").c_str());
    g_faults = c.plan;
    const Result r = run(record(kIbm) + record(kDec), 19991231);
    faults_reset();
    EXPECT_EQ(r.status, Status::kFailed) << c.what;
    EXPECT_EQ(r.message, kQuoteWriteFailed) << c.what;
    EXPECT_EQ(r.failed, 1) << c.what;
    EXPECT_EQ(rec_.last_stored, "dec") << c.what;
    EXPECT_EQ(file("ibm"), old) << c.what;
    EXPECT_EQ(file("dec"), chart(19991231, {{19991231, 100, 102, 99, 101.5f, 2000}})) << c.what;
    EXPECT_EQ(list_dir(dir_.path()), (std::vector<std::string>{"dec", "ibm", "quotes.txt"})) << c.what;
  }
}

TEST_F(QuickQuoteCore, ChartThatWouldBeTheQuoteFileItselfIsSkipped) {
  const std::string text = record(kIbm) + record(kDec);
  const Result r = run(text, 19991231, "ibm");
  EXPECT_EQ(rec_.refused.size(), 1u);
  EXPECT_EQ(r.count, 1);
  EXPECT_EQ(rec_.refused, (std::vector<std::string>{"ibm"}));
  EXPECT_EQ(read_text(dir_.file("ibm")), text);
  EXPECT_TRUE(file_exists(dir_.file("dec")));
}
