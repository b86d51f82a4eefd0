// morva-convert against the window: each subcommand and the matching
// window command (its dialogue on the in-memory screen, keys typed as a
// user would) run on the same inputs in two folders, and the two folders
// must end up byte for byte the same.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "chartdata/chartfile.h"
#include "window/commands.h"
#include "window/globals.h"
#include "convert/index_file.h"
#include "convert/ascii_replace.h"
#include "convert/quickquote.h"
#include "convert/techtools.h"
#include "convert/text_to_chart.h"
#include "screen/headless.h"
#include "screen/screen.h"
#include "support/chart_files.h"
#include "support/tempdir.h"
#include "support/batch_support.h"
#include "support/scripted_keys.h"

namespace {

BarRecord bar(std::int32_t date, float price, std::int32_t volume = 1000, std::int32_t oi = 7) {
  return ::bar(date, price, price + 1.25f, price - 0.75f, price + 0.5f, volume, oi);
}

Bytes chart(char type, std::int32_t header_date, const std::vector<BarRecord>& bars) {
  return chart_bytes(type, header_date, bars);
}

// Six weeks of weekdays from Monday 4 January 1999, with a Saturday bar.
std::vector<BarRecord> daily_bars() {
  std::vector<BarRecord> bars;
  float p = 20;
  for (std::int32_t d : {19990104, 19990105, 19990106, 19990107, 19990108, 19990109, 19990111, 19990112,
                         19990113, 19990115, 19990118, 19990119, 19990120, 19990121, 19990122, 19990125,
                         19990126, 19990201, 19990202, 19990203, 19990226, 19990301, 19990302}) {
    p += 0.5f;
    bars.push_back(bar(d, p, 20000000 + static_cast<std::int32_t>(p * 10)));
  }
  return bars;
}

void le16(Bytes& b, unsigned v) {
  b.push_back(static_cast<unsigned char>(v));
  b.push_back(static_cast<unsigned char>(v >> 8));
}

void put_at(std::string& line, std::size_t col, const std::string& text) {
  if (line.size() < col + text.size()) line.resize(col + text.size(), ' ');
  line.replace(col, text.size(), text);
}
std::string quote(const std::string& sym, const std::string& close, const std::string& vol,
                  const std::string& open, const std::string& high, const std::string& low) {
  std::string l1 = sym, l3 = "Range";
  put_at(l1, 22, close);
  put_at(l1, 66, vol);
  put_at(l3, 42, open);
  put_at(l3, 54, high);
  put_at(l3, 66, low);
  return l1 + "\r\n  Bid 1\r\n" + l3 + "\r\n  52wk\r\n  16:00\r\n";
}

int zip_in(const std::string& dir, std::vector<std::string> args) {
  args.insert(args.begin(), {"zip", "-q", "-j"});
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  ScopedChdir cd(dir);
  pid_t pid;
  if (posix_spawnp(&pid, "zip", nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class BatchVersusWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    headless_start();
    set_builtin_format();
    title = "TEST";
    savenm[0] = firstname[0] = exclambuf[0] = '\0';
    exclamfile = 0;
    time_of_day = TimeOfDayDates{};
    old_reporter_ = diskfull_reporter;
    diskfull_reporter = [](const char*) {};
  }
  void TearDown() override {
    diskfull_reporter = old_reporter_;
    exclamfile = 0;
    keys_.stop();
  }

  // The same file in both folders.
  void both(const std::string& name, const Bytes& bytes) {
    if (auto slash = name.rfind('/'); slash != std::string::npos) {
      win_.mkdirs(name.substr(0, slash));
      cli_.mkdirs(name.substr(0, slash));
    }
    ASSERT_TRUE(write_file(win_.file(name), bytes));
    ASSERT_TRUE(write_file(cli_.file(name), bytes));
  }
  void both(const std::string& name, const std::string& text) { both(name, Bytes(text.begin(), text.end())); }

  // Keys for the window, each batch typed when the program next looks for
  // a key and finds none.
  void type_when_waiting(std::vector<std::string> batches) {
    keys_.type_at_empty_polls(std::move(batches));
  }

  // A source as the file chooser hands it over.
  int choose(const std::string& name) {
    std::snprintf(firstname, sizeof firstname, "%s", name.c_str());
    std::snprintf(exclambuf, sizeof exclambuf, "%s", name.c_str());
    exclamfile = 0;
    Y2000_upgrade(name.c_str());
    return ::open(name.c_str(), O_RDONLY);
  }
  // The main menu's index file for the chart now chosen.
  FILE* open_index() {
    char name[sizeof exclambuf + 8];
    convert_nm_to_idx(name, exclambuf);
    return std::fopen(name, "r");
  }

  batch_test::Outcome batch(std::vector<std::string> args) {
    args.insert(args.end(), {"--data-dir", cli_.path(), "--start-dir", start_.path()});
    return batch_test::run(args, start_.path(), cli_.path());  // started where the texts are
  }

  void expect_same_folders() {
    const auto w = batch_test::tree(win_.path());
    const auto c = batch_test::tree(cli_.path());
    EXPECT_EQ(batch_test::names(w), batch_test::names(c));
    for (const auto& [name, bytes] : w) {
      auto it = c.find(name);
      if (it != c.end()) {
        EXPECT_TRUE(bytes == it->second) << name << " differs";
      }
    }
  }

  TempDir win_{"mcv-win"}, cli_{"mcv-cli"}, start_{"mcv-start"};
  ScopedChdir cd_{win_.path()};
  ScriptedKeys keys_;
  DiskFullReporter old_reporter_ = nullptr;
};

TEST_F(BatchVersusWindow, TextWithSymbolsMergesIntoChartsAsF2Does) {
  // A chart that the text updates, with bars before, inside and after the
  // text's range; a bad line and a repeated date in the text.
  both("prn_i/ibm", chart('D', 19990108, {bar(19990101, 5), bar(19990105, 6), bar(19990120, 7)}));
  both("prices.prn",
       "IBM 19990104 10 11 9 10.5 100 1\n"
       "IBM 19990105 11 12 10 11.5 200 2\n"
       "IBM 1999xx06 11 12 10 11.5 200 2\n"
       "IBM 19990105 12 13 11 12.5 300 3\n"
       "IBM 19990107 12 13 11 12.5 300 3\n"
       "MSFT 19990104 50 51 49 50.5 900 0\n"
       "MSFT 19990105 51 52 50 51.5 901 0\n");
  ff.sep = ' ';
  std::memcpy(ff.order, "SDOHLCVI    ", 12);
  const int fd = choose("prices.prn");
  type_when_waiting({});
  char name[80] = "prices.prn";
  ASSERT_EQ(generalTR(fd, name), 1);

  const auto r = batch({"text-to-chart", "prices.prn", "--order", "SDOHLCVI", "--separator", "space"});
  EXPECT_EQ(r.status, 1) << r.err;  // one line skipped
  EXPECT_EQ(r.err, "");
  expect_same_folders();
}

// Today's files the window's settings can describe (ISO dates, a header,
// CRLF, Adj Close skipped by M, a tab, a time after the date): F2 with those
// settings and --auto store the same charts.
TEST_F(BatchVersusWindow, TodaysFilesByTheSettingsAndByAuto) {
  struct Shape {
    const char* file;
    const char* text;
    const char* order;
    char sep;
    std::vector<std::string> keys;   // the window's questions answered
    std::vector<std::string> extra;  // the same answers as options
  } shapes[] = {
      {"web.csv",
       "Date,Open,High,Low,Close,Adj Close,Volume\r\n2024-01-02,187.15,188.44,183.89,185.64,184.73,82488700\r\n"
       "2024-01-03,184.22,185.88,183.43,184.25,183.35,58414500\r\n",
       "DOHLCMV", ',', {"web\r"}, {"--chart", "web"}},
      {"eod.csv",
       "Ticker,Date,Open,High,Low,Close,Volume\nAAPL,2024-01-02,187.15,188.44,183.89,185.64,82488700\n"
       "AAPL,2024-01-03,184.22,185.88,183.43,184.25,58414500\nMSFT,2024-01-02,373.86,375.9,366.77,370.87,25258600\n",
       "SDOHLCV", ',', {}, {}},
      {"tab.txt", "Date\tOpen\tHigh\tLow\tClose\tVolume\n20240102\t10.5\t11\t10\t10.75\t100\n"
                  "20240103\t10.75\t11.5\t10.5\t11.25\t200\n",
       "DOHLCV", '\t', {"tab\r"}, {"--chart", "tab"}},
      {"intra.csv",
       "Date,Open,High,Low,Close,Volume\n2024-01-02 09:30,10,11,9,10.5,100\n2024-01-02 09:31,10.5,11,10,10.75,50\n"
       "2024-01-03 09:30,11,12,10,11.5,70\n",
       "DOHLCV", ',', {"intra\r", "d"}, {"--chart", "intra", "--type", "daily"}},
  };
  for (const Shape& s : shapes) {
    SCOPED_TRACE(s.file);
    both(s.file, s.text);
    std::memset(ff.order, ' ', sizeof ff.order);
    std::memcpy(ff.order, s.order, std::strlen(s.order));
    ff.sep = s.sep;
    const int fd = choose(s.file);
    type_when_waiting(s.keys);
    char name[80];
    std::snprintf(name, sizeof name, "%s", s.file);
    ASSERT_EQ(generalTR(fd, name), 1);
    std::vector<std::string> args = {"text-to-chart", "--auto", s.file};
    args.insert(args.end(), s.extra.begin(), s.extra.end());
    const auto r = batch(args);
    EXPECT_EQ(r.status, 0) << r.err;
  }
  expect_same_folders();
  EXPECT_EQ(read_file(cli_.file("csv_i/intra")).size(), kHeaderSize + 2 * kBarSize);
  EXPECT_FALSE(file_exists(cli_.file("csv_t/ticker")));  // the header names no chart
}

TEST_F(BatchVersusWindow, NamedChartWithTheTypeAnsweredAndAStartDate) {
  both("prices.txt",
       "19981201,1,2,0.5,1.5,10,0\n"
       "19990104,1.5,2,1,1.75,1000,7\n"
       "19990111,1.5,2,1,1.8,1100,7\n"
       "19990118,1.6,2.1,1.1,1.9,1200,7\n");
  std::memcpy(ff.startdate, "19990101", 8);
  const int fd = choose("prices.txt");
  // The type is asked once the text is read: the key the early line's poll
  // takes is not the answer.
  type_when_waiting({"ibm\r", "x", "w"});
  char name[80] = "prices.txt";
  ASSERT_EQ(generalTR(fd, name), 1);

  const auto r =
      batch({"text-to-chart", "prices.txt", "--chart", "ibm", "--type", "weekly", "--start", "19990101"});
  EXPECT_EQ(r.status, 0) << r.err;
  expect_same_folders();
}

TEST_F(BatchVersusWindow, TimesOfDayGetTheSameSyntheticDates) {
  std::string text;
  for (int i = 0; i < 40; ++i) {
    char line[80];
    std::snprintf(line, sizeof line, "%02d:%02d:00,%d.5,%d,%d,%d.25,%d\n", 9 + i / 60, i % 60, 10 + i, 11 + i,
                  9 + i, 10 + i, 100 + i);
    text += line;
  }
  both("intra.txt", text);
  ff.datecode = 2;
  // Time-of-day dates count from 14 September 1948.
  std::memcpy(ff.startdate, "19400101", 8);
  const int fd = choose("intra.txt");
  type_when_waiting({"ibm\r", "n"});
  char name[80] = "intra.txt";
  ASSERT_EQ(generalTR(fd, name), 1);
  ASSERT_EQ(read_file(win_.file("txt_i/ibm")).size(), kHeaderSize + 40 * kBarSize);

  const auto r = batch({"text-to-chart", "intra.txt", "--chart", "ibm", "--type", "n", "--date-format",
                        "mm/dd/yy", "--start", "19400101"});
  EXPECT_EQ(r.status, 0) << r.err;
  expect_same_folders();
}

TEST_F(BatchVersusWindow, ListOfAsciiTextsNamesChartsAndReplacesTheTexts) {
  both("aa.txt", "19990104,1.5,2,1,1.75,12.7,7\n19990105,1.5,2,1,1.8,11,7\n");
  both("bb.txt", "19990104,3,4,2,3.5,5,1\n19990105,3,4,2,3.25,6,1\n");
  both("ASCII.!", "aa.txt\nbb.txt\n^\ncc.txt\n");
  // The main menu's loop over a list of names.
  std::snprintf(firstname, sizeof firstname, "ASCII.!");
  exclamfile = 1;
  for (const char* entry : {"aa.txt", "bb.txt"}) {
    std::snprintf(exclambuf, sizeof exclambuf, "%s", entry);
    savenm[0] = '\0';
    const int fd = ::open(entry, O_RDONLY);
    char name[80];
    std::snprintf(name, sizeof name, "%s", entry);
    ASSERT_EQ(generalTR(fd, name), 1);
    ASSERT_EQ(ascii_replace(entry, savenm), 1);
  }
  exclamfile = 0;

  const auto r = batch({"text-to-chart", "ASCII.!"});
  EXPECT_EQ(r.status, 0) << r.err;
  expect_same_folders();
}

TEST_F(BatchVersusWindow, ChartToTextWithTheSettingsLayout) {
  both("ibm.D", chart('D', 19990113, {bar(19990113, 3), bar(19990104, 1), bar(19990105, 2.125f, -5)}));
  both("old.T", "stale\n");
  const int fd = choose("ibm.D");
  type_when_waiting({"old.T\r", "y", "n"});
  ASSERT_EQ(generalRT(fd), 1);
  const int fd2 = choose("ibm.D");
  ff.datecode = 1;
  ff.sep = ';';
  std::memcpy(ff.order, "MSDCVIH     ", 12);
  type_when_waiting({"ibm.T\r", "n"});
  ASSERT_EQ(generalRT(fd2), 1);

  auto r = batch({"chart-to-text", "ibm.D", "--to", "old.T", "--overwrite"});
  EXPECT_EQ(r.status, 0) << r.err;
  r = batch({"chart-to-text", "ibm.D", "--to", "ibm.T", "--date-format", "ddmonyy", "--separator", ";",
             "--order", "MSDCVIH"});
  EXPECT_EQ(r.status, 0) << r.err;
  expect_same_folders();
}

TEST_F(BatchVersusWindow, WeeklyAndMonthlyWithAnIndexFileMergeIntoTargets) {
  both("ibm", chart('D', 19990302, daily_bars()));
  both("idx/ibm", "990105 1.5\n990120 -2\n990301 4\n");
  both("ibm.W", chart('W', 19981231, {bar(19981225, 1), bar(19990108, 2), bar(19990319, 3)}));
  int fd = choose("ibm");
  FILE* idx = open_index();
  ASSERT_NE(idx, nullptr);
  type_when_waiting({"ibm.W\r"});
  ASSERT_EQ(DAYWK(fd, idx), 1);
  std::fclose(idx);
  fd = choose("ibm");
  idx = open_index();
  type_when_waiting({"ibm.M\r"});
  ASSERT_EQ(DAYMONTH(fd, idx), 1);
  std::fclose(idx);

  auto r = batch({"weekly", "ibm", "--to", "ibm.W"});
  EXPECT_EQ(r.status, 0) << r.err;
  r = batch({"monthly", "ibm", "--to", "ibm.M"});
  EXPECT_EQ(r.status, 0) << r.err;
  expect_same_folders();
}

TEST_F(BatchVersusWindow, CompressAndAdjustWriteTheSameCharts) {
  both("ibm", chart('D', 19990302, daily_bars()));
  both("idx/ibm", "990110 2\n990210 1\n");
  both("ibm.N", chart('N', 101, daily_bars()));  // an older chart of that name
  int fd = choose("ibm");
  type_when_waiting({"5\r", "ibm.N\r"});
  ASSERT_EQ(COMPRESSs(fd), 1);
  fd = choose("ibm");
  FILE* idx = open_index();
  type_when_waiting({});
  headless_push_keys("/0.5\rsplit\r");  // the operator is read without polling
  ASSERT_EQ(addsubmultdiv(fd, idx), 1);
  if (idx) std::fclose(idx);

  auto r = batch({"compress", "ibm", "--count", "5", "--to", "ibm.N"});
  EXPECT_EQ(r.status, 0) << r.err;
  r = batch({"adjust", "ibm", "--op", "/", "--constant", "0.5", "--to", "split"});
  EXPECT_EQ(r.status, 0) << r.err;
  expect_same_folders();
}

TEST_F(BatchVersusWindow, TechToolsFileBecomesTheSameChart) {
  Bytes tt;
  le16(tt, 0xFFFD);
  tt.resize(16, 0);
  const unsigned recs[4][5] = {{36525, 1230, 1237, 1221, 1234},
                               {36526, 1234, 1240, 1230, 1237},
                               {36526, 1, 1, 1, 1},
                               {36529, 1, 2, 3, 4}};
  for (const auto& rec : recs) {
    for (unsigned v : rec) le16(tt, v);
    tt.insert(tt.end(), {0x40, 0x42, 0x0F, 0x07, 0x00, 0x00});
  }
  tt.insert(tt.end(), {1, 2, 3});  // a record cut short
  both("prices.tt", tt);
  const int fd = choose("prices.tt");
  type_when_waiting({"ibm\r"});
  ASSERT_EQ(techsub(fd), 1);

  const auto r = batch({"techtools", "prices.tt", "--to", "ibm"});
  // The repeated date is kept once, as in the window; the last record (high
  // below low) is stored as written, and said.
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("1 bar breaks the bar rules"), std::string::npos) << r.err;
  expect_same_folders();
}

TEST_F(BatchVersusWindow, QuickQuotesUpdateTheSameCharts) {
  both("ibm", chart('D', 19991230, {bar(19991229, 100), bar(19991230, 101), bar(20000104, 102)}));
  both("quotes.txt", std::string(30, '-') + "\r\n" + quote("IBM", "123.4/", "1500", "120", "124", "119") +
                         quote("IBM", "123 1/2", "1600", "121", "125", "118") +
                         quote("DEC", "101/08", "2000", "100", "102", "99") +
                         quote("ibm", "7", "1", "7", "7", "7"));
  const int fd = choose("quotes.txt");
  type_when_waiting({"991231\r"});
  ASSERT_EQ(quickquotesub(fd), 1);

  const auto r = batch({"quickquote", "quotes.txt", "--date", "991231"});
  EXPECT_EQ(r.status, 0) << r.err;
  expect_same_folders();
}

TEST_F(BatchVersusWindow, InvestorLinkArchiveGivesTheSameCharts) {
  both("A.STK", "IBM,1,2,0.5,1.5,100,3\nMSFT,3,4,2.5,3.5,200,0\n");
  both("B.CSF", "XON,5,6,4.5,5.5,300,0\n");
  ASSERT_EQ(zip_in(win_.path(), {"991231S.ZIP", "A.STK", "B.CSF"}), 0);
  ASSERT_EQ(zip_in(cli_.path(), {"991231S.ZIP", "A.STK", "B.CSF"}), 0);
  type_when_waiting({"991231S.ZIP\r", "d", "\r"});
  ASSERT_EQ(investorlink(), 1);

  const auto r = batch({"investorlink", "991231S.ZIP"});
  EXPECT_EQ(r.status, 0) << r.err;
  // The archives were made by zip at different moments; everything else
  // must match.
  ::unlink(win_.file("991231S.ZIP").c_str());
  ::unlink(cli_.file("991231S.ZIP").c_str());
  expect_same_folders();
}

}  // namespace
