// Chart to text: field texts, dates of every code, line width, the sort of
// the finished file, and failures that leave the text file as it was.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "chartdata/faults.h"
#include "convert/chart_to_text.h"
#include "window/globals.h"
#include "convert/text_sort.h"
#include "support/tempdir.h"

namespace {

FormatSettings settings(const char* order, int code = 0, char sep = ',',
                        const char* start = "19600101") {
  FormatSettings f{};
  f.datecode = static_cast<char>(code);
  std::memset(f.order, ' ', sizeof f.order);
  std::memcpy(f.order, order, std::strlen(order));
  f.sep = sep;
  std::memcpy(f.startdate, start, 8);
  return f;
}

BarRecord bar(std::int32_t date, float o, float h, float l, float c, std::int32_t v, std::int32_t i) {
  BarRecord b;
  b.date = date;
  b.open = o;
  b.high = h;
  b.low = l;
  b.close = c;
  b.volume = v;
  b.openint = i;
  return b;
}

void put32(Bytes& out, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) out.push_back(static_cast<unsigned char>(v >> (8 * k)));
}

// A chart file (header of blanks, then 28-byte little-endian records).
Bytes chart_bytes(const std::vector<BarRecord>& bars) {
  Bytes out(128, ' ');
  for (const BarRecord& b : bars) {
    put32(out, static_cast<std::uint32_t>(b.date));
    for (float f : {b.open, b.high, b.low, b.close}) {
      std::uint32_t v;
      std::memcpy(&v, &f, 4);
      put32(out, v);
    }
    put32(out, static_cast<std::uint32_t>(b.volume));
    put32(out, static_cast<std::uint32_t>(b.openint));
  }
  return out;
}

TEST(FieldTexts, FtosLikeTheScreenLibrary) {
  EXPECT_EQ(ftos_text(12.5, 3, 3), " 12.500");
  EXPECT_EQ(ftos_text(123.0, 5, 0), "   123");
  EXPECT_EQ(ftos_text(12345.5, 3, 3), "12345.5");
  EXPECT_EQ(ftos_text(1.5, 6, 3), "     1.500");
  EXPECT_EQ(ftos_text(1000, 9, 0), "      1000");
}

struct DateOut {
  int code;
  std::int32_t date;
  const char* text;
};

TEST(FieldTexts, DatesOfEveryCode) {
  const DateOut cases[] = {
      {0, 20000105, "20000105"}, {1, 20000105, " 5jan 0"}, {2, 20000105, "01/05/00"},
      {3, 20000105, "000105"},   {0, 19991231, "19991231"}, {1, 19921231, "31dec92"},
      {2, 19921231, "12/31/92"}, {3, 19991231, "991231"},   {7, 19991231, ""},
      {1, 101, " 1jan 0"},       {1, 0, " 0??? 0"},        {4, 20240105, "05.01.2024"},
  };
  for (const DateOut& c : cases) EXPECT_EQ(date_text(c.date, c.code), c.text) << c.code << " " << c.date;
}

TEST(FieldTexts, CsvLinesShortestAndUnpadded) {
  struct CsvCase {
    BarRecord bar;
    const char* line;
  } cases[] = {
      {{20240102, 187.15f, 0.1f, -0.0f, 100.0f, 82488700, 0}, "2024-01-02,187.15,0.1,-0,100,82488700,0\n"},
      {{101, 3.4e38f, 1e-45f, 16777217.0f, 0.3f, -1, 7}, "101,3.4e+38,1e-45,16777216,0.3,-1,7\n"},
      {{20001301, std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
        std::numeric_limits<float>::quiet_NaN(), 1.5f, 0, 0},
       "2000-13-01,+inf,-inf,+nan,1.5,0,0\n"},
  };
  std::string line;
  for (const CsvCase& c : cases) {
    csv_line(c.bar, line);
    EXPECT_EQ(line, c.line);
  }
}

TEST(Lines, DefaultSettingsExample) {
  std::string line;
  ASSERT_TRUE(bar_line(bar(19991231, 1.5f, 2, 1, 1.75f, 1000, 7), 1, settings("DOHLCVI"), "ibm", line));
  EXPECT_EQ(line, "19991231,1.500,2.000,1.000,1.750,1000,7 ");
  EXPECT_EQ(line.size(), 40u);
  EXPECT_EQ(line_width(line.size(), 0), 56u);
  EXPECT_EQ(line_width(line.size(), 2), 41u);
}

TEST(Lines, SymbolMarkersAndBlanks) {
  std::string line;
  bar_line(bar(19991231, 1, 2, 3, 4.25f, 5, 6), 7, settings("SDC"), "ibm.M", line);
  EXPECT_EQ(line, "ibm.M,19991231,4.250 ");
  bar_line(bar(20000105, 1, 2, 3, 4, 5, 6), 7, settings("M M D C", 1, ' '), "x", line);
  EXPECT_EQ(line, "7 2 5jan 0 4.000 ");  // counter, cycling digit, date, close
  bar_line(bar(19991231, 1, 2, 3, 4, 5, 6), 12, settings("DMC"), "x", line);
  EXPECT_EQ(line, "19991231,0,4.000 ");
  EXPECT_FALSE(bar_line(bar(19591231, 1, 2, 3, 4, 5, 6), 1, settings("DC"), "x", line));
}

class ChartToText : public ::testing::Test {
 protected:
  void SetUp() override { faults_reset(); }
  void TearDown() override { faults_reset(); }
  int run(const std::vector<BarRecord>& bars, const FormatSettings& f, Result* r,
          ChartTextReport* report = nullptr) {
    write_file(dir.file("ibm"), chart_bytes(bars));
    int fd = ::open(dir.file("ibm").c_str(), O_RDONLY);
    ::lseek(fd, 128, SEEK_SET);
    ChartTextReport none;
    *r = chart_to_text(fd, dir.file("ibm.T"), f, "ibm", report ? *report : none);
    ::close(fd);
    return r->ok() ? 1 : 0;
  }
  TempDir dir;
};

TEST_F(ChartToText, FirstLineFixesTheWidth) {
  Result r;
  ASSERT_EQ(run({bar(19991231, 1.5f, 2, 1, 1.75f, 1000, 7), bar(20000103, 12345.5f, 2, 1, 1, 123456789, 0)},
                settings("DOHLCVI"), &r),
            1);
  const std::string first = "19991231,1.500,2.000,1.000,1.750,1000,7 ";
  const std::string second = "20000103,12345.500,2.000,1.000,1.000,123456789,0 ";
  EXPECT_EQ(read_text(dir.file("ibm.T")),
            first + std::string(16, ' ') + "\n" + second + std::string(56 - second.size(), ' ') + "\n");
  EXPECT_EQ(r.count, 2);
}

TEST_F(ChartToText, OutOfOrderChartIsSortedWhenDatesComeFirst) {
  Result r;
  // The last line is longer than the first line's width: it keeps its bytes.
  run({bar(20000105, 1, 1, 1, 1, 1, 1), bar(19991231, 2, 2, 2, 2, 2, 2),
       bar(20000103, 99999, 99999, 99999, 99999, 2000000000, 2000000000)},
      settings("DOHLCVI"), &r);
  EXPECT_TRUE(text_sorted(settings("DOHLCVI"), r.count));
  const std::string text = read_text(dir.file("ibm.T"));
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t nl = text.find('\n', at);
    lines.push_back(text.substr(at, nl - at));
    at = nl + 1;
  }
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].substr(0, 8), "19991231");
  EXPECT_EQ(lines[1], "20000103,99999.000,99999.000,99999.000,99999.000,2000000000,2000000000 ");
  EXPECT_EQ(lines[2].substr(0, 8), "20000105");
  EXPECT_EQ(lines[2].size(), 37u * 7 / 5);  // "20000105,1.000,1.000,1.000,1.000,1,1 " fixed it
}

TEST_F(ChartToText, OtherLayoutsFollowTheChartsOrder) {
  Result r;
  run({bar(20000105, 1, 1, 1, 1, 1, 1), bar(19991231, 2, 2, 2, 2, 2, 2)}, settings("DC", 2), &r);
  EXPECT_FALSE(text_sorted(settings("DC", 2), r.count));
  EXPECT_EQ(read_text(dir.file("ibm.T")), "01/05/00,1.000  \n12/31/99,2.000  \n");  // width 15 + 1
  run({bar(20000105, 1, 1, 1, 1, 1, 1), bar(19991231, 2, 2, 2, 2, 2, 2)}, settings("OD"), &r);
  EXPECT_EQ(read_text(dir.file("ibm.T")).substr(0, 15), "1.000,20000105 ");
}

TEST_F(ChartToText, StartDateAfterAllBarsAndSingleBar) {
  Result r;
  ASSERT_EQ(run({bar(19991231, 1, 1, 1, 1, 1, 1)}, settings("DC", 0, ',', "20200101"), &r), 1);
  EXPECT_TRUE(file_exists(dir.file("ibm.T")));
  EXPECT_EQ(read_text(dir.file("ibm.T")), "");
  EXPECT_EQ(r.count + r.passed_over, 1);
  run({bar(19991231, 1, 1, 1, 1, 1, 1)}, settings("DC"), &r);
  EXPECT_EQ(read_text(dir.file("ibm.T")), "19991231,1.000 " + std::string(6, ' ') + "\n");
}

TEST_F(ChartToText, StopKeepsWhatWasWritten) {
  struct StopAfterTwo : ChartTextReport {
    int n = 0;
    bool stop() override { return ++n == 2; }
  } stop;
  Result r;
  run({bar(20000105, 1, 1, 1, 1, 1, 1), bar(19991231, 2, 2, 2, 2, 2, 2), bar(19991230, 3, 3, 3, 3, 3, 3)},
      settings("DC"), &r, &stop);
  EXPECT_EQ(r.count, 2);
  EXPECT_TRUE(r.stopped);
  const std::string text = read_text(dir.file("ibm.T"));
  EXPECT_EQ(text.substr(0, 8), "19991231");  // sorted as usual
}

TEST_F(ChartToText, FailedWriteLeavesTheOldTextFile) {
  write_text(dir.file("ibm.T"), "old text\n");
  for (int which = 0; which < 2; ++which) {
    faults_reset();
    if (which == 0) g_faults.fail_write = 1;
    if (which == 1) g_faults.fail_rename = 1;
    Result r;
    EXPECT_EQ(run({bar(19991231, 1, 1, 1, 1, 1, 1)}, settings("DC"), &r), 0);
    EXPECT_EQ(r.status, Status::kFailed);
    EXPECT_EQ(r.message, " Unable to write to disk. Disk full?");
    EXPECT_EQ(read_text(dir.file("ibm.T")), "old text\n");
    EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"ibm", "ibm.T"}));
  }
}

TEST(ListNames, TextNameOfAChart) {
  EXPECT_EQ(list_text_name("ibm.M"), "ibm_M.T");
  EXPECT_EQ(list_text_name("ibm"), "ibm.T");
  EXPECT_EQ(list_text_name("a.b.c"), "a.b_c.T");
  EXPECT_EQ(list_text_name("abcdefghijklmnopqrstuvwxyz.M"), "abcdefghijklmnopqrstu.T");
}

TEST(Sort, RecordsInByteOrderAndFixedRecordsInAStream) {
  std::vector<std::string> r = {"b\n", "a\xff\n", "a\n", "ab\n"};
  sort_records(r);
  EXPECT_EQ(r, (std::vector<std::string>{"a\n", "ab\n", "a\xff\n", "b\n"}));

  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  const char data[] = "30x20y10z20w";
  std::fwrite(data, 1, 12, f);
  auto cmp = [](const void* a, const void* b, std::size_t) { return std::memcmp(a, b, 2); };
  ASSERT_EQ(bsortf(f, 4, 3, cmp), 1);
  char out[13] = {};
  std::fseek(f, 0, SEEK_SET);
  ASSERT_EQ(std::fread(out, 1, 12, f), 12u);
  EXPECT_STREQ(out, "10z20y20w30x");  // equal keys keep their order
  char one[4] = {};
  ASSERT_EQ(bsgetone(f, 3, 2, one), 1);
  EXPECT_STREQ(one, "20w");
  std::fclose(f);
}

}  // namespace
