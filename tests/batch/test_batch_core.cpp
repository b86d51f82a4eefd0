// The pieces under morva-convert: option texts, the window's setup and
// defaults files read without being changed, copies of replaced files,
// line numbers, the read-only passes over quote files and texts, and the
// text-to-chart decisions.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "chartdata/chartfile.h"
#include "chartdata/linereader.h"
#include "tools/morva-convert/batch_backup.h"
#include "tools/morva-convert/batch_env.h"
#include "tools/morva-convert/batch_lines.h"
#include "tools/morva-convert/batch_quotes.h"
#include "tools/morva-convert/batch_text.h"
#include "convert/quickquote.h"
#include "support/tempdir.h"

namespace {

TEST(BatchOptions, TextsOfTheFormatOptions) {
  struct Case {
    const char* text;
    int order_ok;
    const char* order;  // stored 12 characters
  } orders[] = {
      {"DOHLCVI", 1, "DOHLCVI     "},
      {"sdohlcvim", 1, "SDOHLCVIM   "},
      {"DOHLCVIMSDOH", 1, "DOHLCVIMSDOH"},
      {"DOHLCVIMSDOHL", 0, ""},
      {"DOX", 0, ""},
      {"", 0, ""},
      {"D O", 0, ""},
  };
  for (const Case& c : orders) {
    char order[12];
    std::memset(order, '#', sizeof order);
    EXPECT_EQ(parse_order_option(c.text, order), c.order_ok) << c.text;
    if (c.order_ok) {
      EXPECT_EQ(std::string(order, 12), c.order) << c.text;
    }
  }

  struct Sep {
    const char* text;
    int ok;
    char sep;
  } seps[] = {{",", 1, ','},     {";", 1, ';'}, {"space", 1, ' '}, {"TAB", 1, '\t'},
              {"comma", 1, ','}, {"7", 1, ' '}, {"", 0, 0},        {",,", 0, 0}};
  for (const Sep& c : seps) {
    char sep = '#';
    EXPECT_EQ(parse_separator_option(c.text, &sep), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(sep, c.sep) << c.text;
    }
  }

  struct Code {
    const char* text;
    int code;  // -1: refused
  } codes[] = {{"yyyymmdd", 0}, {"0", 0},  {"DDMONYY", 1}, {"mm/dd/yy", 2}, {"3", 3},
               {"yymmdd", 3},   {"4", 4}, {"dd.mm.yyyy", 4}, {"ISO", 0}, {"5", -1}, {"ddmmyy", -1}, {"", -1}};
  for (const Code& c : codes) {
    char code = 9;
    EXPECT_EQ(parse_date_format_option(c.text, &code), c.code >= 0 ? 1 : 0) << c.text;
    if (c.code >= 0) {
      EXPECT_EQ(code, c.code) << c.text;
    }
  }

  char start[8];
  EXPECT_EQ(parse_start_option("19990104", start), 1);
  EXPECT_EQ(std::string(start, 8), "19990104");
  for (const char* bad : {"1999010", "199901041", "1999o104", ""})
    EXPECT_EQ(parse_start_option(bad, start), 0) << bad;

  EXPECT_EQ(parse_chart_type("D"), 'D');
  EXPECT_EQ(parse_chart_type("weekly"), 'W');
  EXPECT_EQ(parse_chart_type("Monthly"), 'M');
  EXPECT_EQ(parse_chart_type("n"), 'N');
  EXPECT_EQ(parse_chart_type("hourly"), 0);
}

TEST(BatchOptions, UpdateDateAsTheWindowTakesIt) {
  struct Case {
    const char* text;
    std::int32_t date;
  } cases[] = {{"991231", 19991231},
               {" 000105 ", 20000105},
               {"105", 20000105},
               {"000229", 20000229},
               {"990229", 0},
               {"991232", 0},
               {"0", 0},
               {"99123a", 0},
               {"", 0},
               {"19991231", 19991231},
               {"240105", 20240105},
               {"-10101", 0}};
  for (const Case& c : cases) EXPECT_EQ(parse_update_date(c.text), c.date) << c.text;
}

TEST(BatchEnvironment, SetupAndDefaultsAreReadNotWritten) {
  TempDir start("mcv-env");
  std::string data;
  EXPECT_EQ(batch_setup_data_dir(start.path(), data), 0);  // no setup file

  Bytes setup(62, 0);
  std::memcpy(&setup[26], "/home/t/morva/data", 18);
  write_file(start.file("setup.mrv"), setup);
  EXPECT_EQ(batch_setup_data_dir(start.path(), data), 1);
  EXPECT_EQ(data, "/home/t/morva/data");
  // All 24 bytes used (no NUL), and a file cut short inside the field.
  std::memcpy(&setup[26], "/abcdefghijklmnopqrstuvw", 24);
  write_file(start.file("setup.mrv"), setup);
  batch_setup_data_dir(start.path(), data);
  EXPECT_EQ(data, "/abcdefghijklmnopqrstuvw");
  write_file(start.file("setup.mrv"), Bytes(setup.begin(), setup.begin() + 30));
  batch_setup_data_dir(start.path(), data);
  EXPECT_EQ(data, "/abc");

  // The older 23-byte defaults: six-digit start date widened with "19".
  FormatSettings f{};
  std::memcpy(f.order, "DOHLCVI     ", 12);
  EXPECT_EQ(batch_load_defaults(start.path(), f), 0);
  Bytes old(23, 0);
  old[0] = 3;
  std::memcpy(&old[1], "SDC", 3);
  old[14] = ';';
  std::memcpy(&old[15], "921231", 6);
  write_file(start.file("morvautl.dat"), old);
  EXPECT_EQ(batch_load_defaults(start.path(), f), 1);
  EXPECT_EQ(f.datecode, 3);
  EXPECT_EQ(std::string(f.order), "SDC");
  EXPECT_EQ(f.sep, ';');
  EXPECT_EQ(std::string(f.startdate, 8), "19921231");
  EXPECT_EQ(read_file(start.file("morvautl.dat")), old);

  EXPECT_EQ(batch_existing_data_dir(start.path()), start.path());
}

TEST(BatchBackupsTest, CopyTakesItsNameOnlyWhenTheFileWasReplaced) {
  TempDir dir("mcv-bak");
  const std::string chart = dir.file("ibm");
  write_text(chart, "version 1");
  write_text(dir.file("ibm.bak"), "version 0");
  {
    BatchBackups keep;
    EXPECT_EQ(keep.prepare(chart), 1);
    write_text(chart, "version 2");
    EXPECT_EQ(keep.settle(chart, false), 1);  // not replaced: the old copy stays
    EXPECT_EQ(read_text(dir.file("ibm.bak")), "version 0");

    EXPECT_EQ(keep.prepare(chart), 1);
    write_text(chart, "version 3");
    EXPECT_EQ(keep.settle(chart, true), 1);
    EXPECT_EQ(read_text(dir.file("ibm.bak")), "version 2");
    // Replaced again in the same run: the copy keeps the version before the run.
    EXPECT_EQ(keep.prepare(chart), 2);
    write_text(chart, "version 4");
    EXPECT_EQ(keep.settle(chart, true), 1);
    EXPECT_EQ(read_text(dir.file("ibm.bak")), "version 2");

    EXPECT_EQ(keep.prepare(dir.file("new")), 2);  // nothing to keep
    EXPECT_EQ(keep.prepare(dir.file("pending")), 2);
    write_text(dir.file("other"), "x");
    EXPECT_EQ(keep.prepare(dir.file("other")), 1);
    EXPECT_EQ(keep.made(), 1);
  }
  // A copy never settled is removed with the object.
  EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"ibm", "ibm.bak", "other"}));
}

TEST(BatchLines, LineNumbersAndTextsByPosition) {
  TempDir dir("mcv-lines");
  write_text(dir.file("t"), "one\r\ntwo\n\nfour without end");
  const int fd = ::open(dir.file("t").c_str(), O_RDONLY);
  LineLocator where(fd);
  ASSERT_TRUE(where.ok());
  struct Case {
    off_t pos;
    long line;
    const char* text;
  } cases[] = {{0, 1, "one"}, {4, 1, "one"}, {5, 2, "two"},
               {8, 2, "two"}, {9, 3, ""},    {10, 4, "four without end"}};
  for (const Case& c : cases) {
    EXPECT_EQ(where.line_at(c.pos), c.line) << c.pos;
    EXPECT_EQ(where.text_of(c.line), c.text) << c.pos;
  }
  EXPECT_EQ(where.text_of(4, 4), "four");
  EXPECT_EQ(where.text_of(5), "");
  ::close(fd);
}

void put_at(std::string& line, std::size_t col, const std::string& text) {
  if (line.size() < col + text.size()) line.resize(col + text.size(), ' ');
  line.replace(col, text.size(), text);
}
std::string quote(const std::string& sym, const std::string& close, const std::string& open) {
  std::string l1 = sym, l3 = "x";
  put_at(l1, 22, close);
  put_at(l1, 66, "100");
  put_at(l3, 42, open);
  put_at(l3, 54, "1000");
  put_at(l3, 66, "0.5");
  return l1 + "\n\n" + l3 + "\n\n\n";
}

TEST(BatchQuotes, ScanFindsTheChartsAndBarsTheImportStores) {
  TempDir dir("mcv-qq");
  ScopedChdir cd(dir.path());
  const std::string text = std::string(25, '-') + "\n\n" + quote("IBM", "10", "9") +
                           quote("IBM", "11", "10") + quote("7", "1", "1") + quote("DEC", "20", "19") +
                           quote("ibm", "12", "11");
  write_text("q.txt", text);
  const int fd = ::open("q.txt", O_RDONLY);
  const QuoteScan scan = scan_quotes(fd, 19991231);
  EXPECT_EQ(linereader_tell(fd), 0);
  EXPECT_EQ(scan.records, 5);
  ASSERT_EQ(scan.runs.size(), 3u);
  EXPECT_EQ(scan.runs[0].name, "ibm");
  EXPECT_EQ(scan.runs[0].records, 2);
  EXPECT_EQ(scan.runs[1].name, "dec");
  EXPECT_EQ(scan.runs[2].name, "ibm");
  ASSERT_EQ(scan.unnamed.size(), 1u);
  LineLocator where(fd);
  EXPECT_EQ(where.line_at(scan.unnamed[0]), 13);
  EXPECT_EQ(where.text_of(13).substr(0, 1), "7");

  QuickQuoteListener quiet;
  std::string first;
  ASSERT_EQ(first_quote_name(fd, &first), 1);
  const Result r = quickquote_import(QuoteRequest{fd, 19991231, first}, quiet);
  EXPECT_EQ(r.count, 3);
  linereader_close(fd);
  // Each chart holds the bar of the run stored last into it.
  for (const char* name : {"ibm", "dec"}) {
    const Bytes b = read_file(name);
    ASSERT_EQ(b.size(), kHeaderSize + kBarSize) << name;
    const BarRecord stored = decode_bar(&b[kHeaderSize]);
    const QuoteRun& run = std::string(name) == "ibm" ? scan.runs[2] : scan.runs[1];
    Bytes want(kBarSize);
    encode_bar(run.bar, want.data());
    EXPECT_TRUE(Bytes(b.begin() + kHeaderSize, b.end()) == want) << name << " close " << stored.close;
  }
}

FormatSettings defaults() {
  FormatSettings f{};
  std::memcpy(f.order, "DOHLCVI     ", 12);
  f.sep = ',';
  std::memcpy(f.startdate, "19600101", 8);
  return f;
}

TEST(BatchText, DecisionsBeforeAnythingIsStored) {
  TempDir dir("mcv-decide");
  ScopedChdir cd(dir.path());
  write_text("daily.txt", "19990104,1,2,0,1\n19990105,1,2,0,1\n");
  write_text("far.txt", "19990104,1,2,0,1\n19990301,1,2,0,1\n");
  write_text("19991231.txt", "x,1,2,0,1\n");
  write_text("nodate.txt", "x,1,2,0,1\n");
  write_text("dash.txt", "--------------------,1\n");
  write_text("SYM.EXE", "19990104,1\n");
  write_text("sym.txt", "IBM 19990104 1\nIBM 19990105 1\n");
  struct Case {
    const char* text;
    const char* order;
    char sep;
    const char* chart;
    char type;
    const char* list;
    Status status;
    const char* message;  // how the refusal begins
    const char* name;
    char planned;
  } cases[] = {
      {"daily.txt", "DOHLC", ',', "ibm", 0, "", Status::kDone, "", "ibm", 'D'},
      {"daily.txt", "DOHLC", ',', "ibm", 'W', "", Status::kDone, "", "ibm", 'D'},  // the dates decide
      {"far.txt", "DOHLC", ',', "ibm", 0, "", Status::kRefused, "far.txt: the dates of the new chart txt_i/ibm do not show a daily chart; give --type", "ibm", 0},
      {"far.txt", "DOHLC", ',', "ibm", 'M', "", Status::kDone, "", "ibm", 'M'},
      {"daily.txt", "DOHLC", ',', "", 0, "", Status::kRefused, "daily.txt: give --chart NAME", "", 0},
      {"daily.txt", "DOHLC", ',', "", 0, "list!", Status::kDone, "", "daily", 'D'},
      {"daily.txt", "DOHLC", ',', "daily.txt", 0, "", Status::kRefused, "daily.txt: the chart would have the source's own name", "daily.txt", 'D'},
      {"19991231.txt", "SOHLC", ',', "", 'D', "", Status::kDone, "", "x", 'D'},
      {"nodate.txt", "SOHLC", ',', "", 'D', "", Status::kRefused, "nodate.txt: no line holds a date in the date format", "x", 'D'},
      {"dash.txt", "SOHLC", ',', "", 'D', "", Status::kNothing, "dash.txt: no line holds a symbol in the S column", "", 0},
      {"SYM.EXE", "DOHLC", ',', "ibm", 'D', "", Status::kNothing, "SYM.EXE: a .EXE file is a program", "", 0},
      {"sym.txt", "SDC", ' ', "", 0, "", Status::kDone, "", "ibm", 'D'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    BatchTextJob job;
    job.format = defaults();
    std::memset(job.format.order, ' ', 12);
    std::memcpy(job.format.order, c.order, std::strlen(c.order));
    job.format.sep = c.sep;
    job.textname = c.text;
    job.chart = c.chart;
    job.type = c.type;
    job.listname = c.list;
    const int fd = ::open(c.text, O_RDONLY);
    BatchTextPlan plan;
    TimeOfDayDates clock;
    const Result r = batch_text_decide(fd, job, plan, clock);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.message.substr(0, std::strlen(c.message)), c.message);
    EXPECT_EQ(plan.name, c.name);
    EXPECT_EQ(plan.type, c.planned);
    if (c.status == Status::kDone) {
      EXPECT_EQ(linereader_tell(fd), 0);
    }
    linereader_close(fd);
  }
  EXPECT_EQ(list_dir(dir.path()).size(), 7u);  // nothing was written
}

// Records the scan's lines and runs.
struct Seen : BatchTextScan {
  void line(long n, std::string_view text, const ParsedLine& what) override {
    lines.push_back(std::to_string(n) + ":" + std::to_string(static_cast<int>(what.kind)) + ":" +
                    std::string(text.substr(0, 8)));
  }
  void run(const ChartPlan& c) override {
    runs.push_back(c.path);
    sizes.push_back(c.bars.size());
  }
  std::vector<std::string> lines, runs;
  std::vector<std::size_t> sizes;
};

TEST(BatchText, ScanShowsTheLinesAndRunsTheStoreThenWrites) {
  TempDir dir("mcv-scan");
  ScopedChdir cd(dir.path());
  const std::string long_line = "IBM 19990106 1 " + std::string(300, '9');
  write_text("s.prn", "IBM 19990104 1 2 0 1\nIBM 1999x105 1\n" + long_line +
                          "\nMSFT 19990104 5\nMSFT 19590104 5\nIBM 19990107 3\n");
  BatchTextJob job;
  job.format = defaults();
  std::memcpy(job.format.order, "SDOHLC      ", 12);
  job.format.sep = ' ';
  job.textname = "s.prn";
  job.type = 'D';  // the second line's date is bad: the dates do not decide
  const int fd = ::open("s.prn", O_RDONLY);
  BatchTextPlan plan;
  TimeOfDayDates clock;
  ASSERT_TRUE(batch_text_decide(fd, job, plan, clock).ok());
  Seen seen;
  batch_text_scan(fd, job, plan, seen, clock);
  EXPECT_TRUE(list_dir(dir.path()) == std::vector<std::string>{"s.prn"});
  // Kinds: 1 bar, 3 bad date, 4 before the start date, 5 a value not read whole.  The line of 315
  // characters is read as two (254 and 61): the second one's "symbol" is
  // its run of nines, a run of its own whose line has no date.
  const std::string nines(21, '9');
  EXPECT_EQ(seen.lines,
            (std::vector<std::string>{"1:1:IBM 1999", "2:3:IBM 1999", "3:5:IBM 1999", "4:3:99999999",
                                      "5:1:MSFT 199", "6:4:MSFT 195", "7:1:IBM 1999"}));
  // One chart per symbol, the lines of its runs gathered; the run of nines
  // gave no bar and makes no chart.
  EXPECT_EQ(seen.runs, (std::vector<std::string>{"stk_i/ibm", "stk_m/msft"}));
  EXPECT_EQ(seen.sizes, (std::vector<std::size_t>{2, 1}));  // 300 digits are no price

  // The store that follows writes exactly the runs the scan found.
  StoreReport quiet;
  std::string last_path;
  ASSERT_TRUE(batch_text_to_chart(fd, job, quiet, clock, &last_path).ok());
  linereader_close(fd);
  const Bytes ibm = read_file("stk_i/ibm");
  EXPECT_EQ(ibm.size(), kHeaderSize + 2 * kBarSize);  // 04, then 07 merged in
  EXPECT_EQ(last_path, "stk_m/msft");  // the last chart written
  for (std::size_t i = 0; i < seen.runs.size(); ++i)
    if (seen.sizes[i] > 0) {
      EXPECT_TRUE(file_exists(seen.runs[i])) << seen.runs[i];
    }
}

}  // namespace
