// Store of text lines into charts: merge ranges, order, one bar per date,
// storage directories, several symbols, and failures that leave the chart
// as it was.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "chartdata/chartfile.h"
#include "chartdata/faults.h"
#include "convert/symbol_names.h"
#include "window/globals.h"
#include "convert/store.h"
#include "convert/text_to_chart.h"
#include "support/tempdir.h"

namespace {

// ---- Charts from first principles ----------------------------------------------

struct Bar {
  std::int32_t date;
  float close;
};

void le32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
void lef(Bytes& b, float f) {
  std::uint32_t v;
  std::memcpy(&v, &f, 4);
  le32(b, v);
}

Bytes header(char type, std::int32_t date) {
  Bytes h(128, ' ');
  h[0] = 0;
  h[77] = '/';
  h[109] = 0;
  h[116] = static_cast<unsigned char>(type);
  h[117] = '\n';
  for (int i = 0; i < 4; ++i) h[118 + i] = static_cast<unsigned char>(static_cast<std::uint32_t>(date) >> (8 * i));
  return h;
}

Bytes chart(char type, std::int32_t hdate, const std::vector<Bar>& bars) {
  Bytes b = header(type, hdate);
  for (const Bar& x : bars) {
    le32(b, static_cast<std::uint32_t>(x.date));
    for (int k = 0; k < 3; ++k) lef(b, x.close);
    lef(b, x.close);
    le32(b, 100);
    le32(b, 0);
  }
  return b;
}

std::int32_t get32(const Bytes& b, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= std::uint32_t(b[at + i]) << (8 * i);
  return static_cast<std::int32_t>(v);
}

std::vector<std::int32_t> dates_of(const Bytes& b) {
  std::vector<std::int32_t> d;
  for (std::size_t at = 128; at + 28 <= b.size(); at += 28) d.push_back(get32(b, at));
  return d;
}

float close_at(const Bytes& b, std::size_t i) {
  std::uint32_t v = static_cast<std::uint32_t>(get32(b, 128 + 28 * i + 16));
  float f;
  std::memcpy(&f, &v, 4);
  return f;
}

FormatSettings settings(const char* order, const char* start = "19600101", int code = 0) {
  FormatSettings f{};
  f.datecode = static_cast<char>(code);
  std::memset(f.order, ' ', sizeof f.order);
  std::memcpy(f.order, order, std::strlen(order));
  f.sep = ',';
  std::memcpy(f.startdate, start, 8);
  return f;
}

struct Stopper : StoreReport {
  int charts = 0;
  int stop_after = -1;
  std::vector<std::string> done;
  void chart_done(const std::string& c, int) override { done.push_back(c); }
  void name_refused(const std::string& n, const std::string&) override { refused.push_back(n); }
  std::vector<std::string> refused;
  bool stop_between_charts() override { return ++charts == stop_after; }
};

class Store : public ::testing::Test {
 protected:
  void SetUp() override {
    faults_reset();
    diskfull_reporter = [](const char*) { ++diskfull_count; };
  }
  void TearDown() override { faults_reset(); }
  static inline int diskfull_count = 0;

  // Runs the store over `text` (file name `textname`) with first chart `name`.
  int run(const std::string& text, const std::string& textname, std::string& name,
          const FormatSettings& f, Stopper* report = nullptr) {
    write_text(dir.file(textname), text);
    int fd = ::open(dir.file(textname).c_str(), O_RDONLY);
    EXPECT_GE(fd, 0);
    Result r;
    {
      LineReader src(fd);
      TextStoreParams p;
      p.format = f;
      p.textname = textname;
      Stopper none;
      TimeOfDayDates clock;
      r = store_text(src, name, p, clock, report ? *report : none);
    }
    ::close(fd);
    return r.status == Status::kFailed || r.status == Status::kRefused ? 0 : 1;
  }

  TempDir dir;
  ScopedChdir cd{dir.path()};
};

TEST_F(Store, MergeReplacesTheRangeOfTheNewBars) {
  dir.mkdirs("i");
  write_file(dir.file("i/ibm"), chart('D', 19991230, {{19991230, 1}, {19991231, 2}, {20000103, 3},
                                                      {20000104, 4}, {20000110, 5}}));
  std::string name = "ibm";
  ASSERT_EQ(run("20000103,0,0,0,13\n20000104,0,0,0,14\n20000105,0,0,0,15\n20000106,0,0,0,16\n"
                "20000107,0,0,0,17\n",
                "prices", name, settings("DOHLC")),
            1);
  EXPECT_EQ(name, "i/ibm");
  const Bytes b = read_file(dir.file("i/ibm"));
  EXPECT_EQ(dates_of(b), (std::vector<std::int32_t>{19991230, 19991231, 20000103, 20000104,
                                                      20000105, 20000106, 20000107, 20000110}));
  EXPECT_EQ(close_at(b, 2), 13.0f);
  EXPECT_EQ(close_at(b, 7), 5.0f);
  EXPECT_EQ(get32(b, 118), 20000107);  // header's last date
  EXPECT_EQ(b[116], 'D');
  EXPECT_FALSE(file_exists(dir.file("i/tmpmorva.gph")));
}

TEST_F(Store, NewChartInTheDirectoryOfTheExtension) {
  struct Case {
    const char* textname;
    const char* path;
  } cases[] = {{"PRICES.PRN", "stk_i/ibm"}, {"PRICES.CSV", "csv_i/ibm"}, {"quotes.txt", "txt_i/ibm"},
               {"prices", "i/ibm"}};
  for (const Case& c : cases) {
    std::string name = "ibm";
    ASSERT_EQ(run("19990104,1,2,0.5,1.5\n19990105,1,2,0.5,1.6\n", c.textname, name,
                  settings("DOHLC")),
              1);
    EXPECT_EQ(name, c.path);
    const Bytes b = read_file(dir.file(c.path));
    ASSERT_EQ(b.size(), 128u + 2 * 28) << c.path;
    EXPECT_EQ(b[116], 'D');
    EXPECT_EQ(b[77], '/');
    EXPECT_EQ(get32(b, 118), 19990105);
    remove_tree(dir.file(std::string(c.path, std::strchr(c.path, '/') - c.path)));  // else the next text would merge into it
  }
}

TEST_F(Store, DescendingAndMixedLinesGiveAscendingDatesOneBarEach) {
  dir.mkdirs("i");
  write_file(dir.file("i/ibm"), chart('D', 19990101, {{19990101, 1}, {19990120, 2}}));
  std::string name = "ibm";
  run("19990108,0,0,0,8\n19990106,0,0,0,6\n19990107,0,0,0,7\n19990106,0,0,0,66\n"
      "19990105,0,0,0,5\n",
      "prices", name, settings("DOHLC"));
  const Bytes b = read_file(dir.file("i/ibm"));
  EXPECT_EQ(dates_of(b), (std::vector<std::int32_t>{19990101, 19990105, 19990106, 19990107,
                                                      19990108, 19990120}));
  EXPECT_EQ(close_at(b, 2), 66.0f);  // the later line of a date wins
  EXPECT_EQ(get32(b, 118), 19990108);
}

TEST_F(Store, LinesSkippedByTheStartDateCostNoStoredBar) {
  dir.mkdirs("i");
  write_file(dir.file("i/ibm"), chart('D', 19990101, {{19990101, 1}, {19990104, 2}, {19990111, 3}}));
  std::string name = "ibm";
  run("19990101,0,0,0,9\n19990102,0,0,0,9\n19990105,0,0,0,5\n19990106,0,0,0,6\n", "prices", name,
      settings("DOHLC", "19990105"));
  const Bytes b = read_file(dir.file("i/ibm"));
  EXPECT_EQ(dates_of(b), (std::vector<std::int32_t>{19990101, 19990104, 19990105, 19990106, 19990111}));
  EXPECT_EQ(close_at(b, 0), 1.0f);
}

TEST_F(Store, RunWithoutBarsLeavesTheChartAsItWas) {
  dir.mkdirs("i");
  const Bytes before = chart('D', 19990104, {{19990101, 1}, {19990104, 2}});
  write_file(dir.file("i/ibm"), before);
  std::string name = "ibm";
  EXPECT_EQ(run("bad date line\n19980101,0,0,0,1\n", "prices", name, settings("DOHLC", "19990101")), 1);
  EXPECT_EQ(read_file(dir.file("i/ibm")), before);
  // A chart that does not exist is not made for no bars.
  name = "msft";
  run("nothing here\n", "prices", name, settings("DOHLC"));
  EXPECT_FALSE(file_exists(dir.file("m/msft")));
}

TEST_F(Store, StartDateAfterAllBars) {
  std::string name = "ibm";
  EXPECT_EQ(run("19990104,0,0,0,1\n19990105,0,0,0,2\n", "prices", name, settings("DOHLC", "20200101")), 1);
  EXPECT_FALSE(file_exists(dir.file("i/ibm")));
}

TEST_F(Store, EmptyChartFileIsReplacedByANewChart) {
  dir.mkdirs("i");
  write_file(dir.file("i/ibm"), Bytes{});
  std::string name = "ibm";
  run("19990104,0,0,0,1\n19990105,0,0,0,2\n", "prices", name, settings("DOHLC"));
  const Bytes b = read_file(dir.file("i/ibm"));
  ASSERT_EQ(b.size(), 128u + 2 * 28);
  EXPECT_EQ(b[116], 'D');
  EXPECT_EQ(dates_of(b), (std::vector<std::int32_t>{19990104, 19990105}));
}

TEST_F(Store, OneChartPerSymbolAndASecondRunMerges) {
  std::string name = "ibm";
  Stopper rep;
  ASSERT_EQ(run("IBM,19990104,1\nIBM,19990105,2\nMSFT,19990104,3\nIBM,19990106,4\nIBM,19990105,22\n",
                "quotes.csv", name, settings("SDC"), &rep),
            1);
  EXPECT_EQ(name, "csv_m/msft");  // the last chart written
  EXPECT_EQ(rep.done, (std::vector<std::string>{"ibm", "msft"}));  // each symbol's lines gathered
  const Bytes ibm = read_file(dir.file("csv_i/ibm"));
  EXPECT_EQ(dates_of(ibm), (std::vector<std::int32_t>{19990104, 19990105, 19990106}));
  EXPECT_EQ(close_at(ibm, 1), 22.0f);
  EXPECT_EQ(dates_of(read_file(dir.file("csv_m/msft"))), (std::vector<std::int32_t>{19990104}));
}

TEST_F(Store, StopBetweenChartsKeepsTheChartJustStored) {
  std::string name = "ibm";
  Stopper rep;
  rep.stop_after = 1;
  run("IBM,19990104,1\nIBM,19990105,2\nMSFT,19990104,3\n", "quotes.csv", name, settings("SDC"), &rep);
  EXPECT_EQ(name, "csv_i/ibm");
  EXPECT_TRUE(file_exists(dir.file("csv_i/ibm")));
  EXPECT_FALSE(file_exists(dir.file("csv_m/msft")));
}

TEST_F(Store, LongSymbolGoesToOneChartUnderItsFirst21Characters) {
  std::string name = "abcdefghijklmnopqrstu";
  const std::string sym = "ABCDEFGHIJKLMNOPQRSTUVWXYZABCD";
  run(sym + ",19990104,1\n" + sym + ",19990105,2\n" + sym + ",19990106,3\n", "quotes.csv", name,
      settings("SDC"));
  EXPECT_EQ(dates_of(read_file(dir.file("csv_a/abcdefghijklmnopqrstu"))).size(), 3u);
}

TEST_F(Store, TimeOfDayBarsAreAllKept) {
  std::string name = "ibm";
  std::string text;
  for (int i = 0; i < 35; ++i) text += "10:" + std::to_string(10 + i) + ":00,1,2,0,1\n";
  run(text, "intra", name, settings("DOHLC", "19000101", 2));
  EXPECT_EQ(dates_of(read_file(dir.file("i/ibm"))).size(), 35u);
}

TEST_F(Store, FailedStoreLeavesTheChartByteForByte) {
  dir.mkdirs("i");
  const Bytes before = chart('D', 19990104, {{19990101, 1}, {19990104, 2}, {19990110, 3}});
  for (int which = 0; which < 3; ++which) {
    write_file(dir.file("i/ibm"), before);
    faults_reset();
    diskfull_count = 0;
    if (which == 0) g_faults.fail_create = 1;
    if (which == 1) g_faults.fail_write = 2;
    if (which == 2) g_faults.fail_rename = 1;
    std::string name = "ibm";
    EXPECT_EQ(run("19990105,0,0,0,5\n19990106,0,0,0,6\n", "prices", name, settings("DOHLC")), 0) << which;
    EXPECT_EQ(read_file(dir.file("i/ibm")), before) << which;
    EXPECT_FALSE(file_exists(dir.file("i/tmpmorva.gph"))) << which;
    // Only a temporary file that cannot be made shows the disk-full line.
    EXPECT_EQ(diskfull_count, which == 0 ? 1 : 0) << which;
  }
  // A new chart whose store fails is not left behind half made, nor
  // diverted into "_".
  for (int which = 0; which < 3; ++which) {
    faults_reset();
    diskfull_count = 0;
    if (which == 0) g_faults.fail_create = 1;
    if (which == 1) g_faults.fail_write = 1;
    if (which == 2) g_faults.fail_rename = 1;
    std::string name = "msft";
    EXPECT_EQ(run("19990105,0,0,0,5\n", "prices", name, settings("DOHLC")), 0) << which;
    EXPECT_EQ(list_dir(dir.file("m")), std::vector<std::string>{}) << which;
    EXPECT_FALSE(file_exists(dir.file("_")));
    EXPECT_EQ(diskfull_count, which == 0 ? 1 : 0) << which;
  }
}

TEST_F(Store, UnusableNamesFallBackToUnderscoreInTheSameDirectory) {
  std::string name = "";
  run(",19990104,1\n", "quotes.csv", name, settings("SDC"));
  EXPECT_EQ(name, "csv_/_");
  EXPECT_TRUE(file_exists(dir.file("csv_/_")));
  // A typed name in a folder that does not exist is refused: nothing is
  // stored under another name, and the store says it failed.
  name = "sub/ibm";
  Stopper rep;
  EXPECT_EQ(run("19990104,0,0,0,1\n", "prices", name, settings("DOHLC"), &rep), 0);
  EXPECT_EQ(name, "");
  EXPECT_EQ(list_dir(dir.file("s")), std::vector<std::string>{});
  EXPECT_EQ(rep.refused, std::vector<std::string>{"sub/ibm"});
  // A symbol with control characters is refused; the next symbol is stored.
  name = "ibm\x01";
  EXPECT_EQ(run("IBM\x01,19990104,1\nMSFT,19990104,3\n", "quotes.csv", name, settings("SDC"), &rep), 0);
  EXPECT_EQ(rep.refused, (std::vector<std::string>{"sub/ibm", "ibm\x01"}));
  EXPECT_TRUE(file_exists(dir.file("csv_m/msft")));
  EXPECT_EQ(list_dir(dir.file("csv_i")), std::vector<std::string>{});
  // A directory in the way of the chart name: the store fails, nothing made.
  dir.mkdirs("csv_x/xyz");
  name = "xyz";
  EXPECT_EQ(run("XYZ,19990104,1\n", "quotes.csv", name, settings("SDC")), 0);
  EXPECT_EQ(list_dir(dir.file("csv_x")), std::vector<std::string>{"xyz"});
}

TEST(OrderRun, StableSortKeepsLastOfEachDate) {
  std::vector<RunBar> bars;
  for (std::int32_t d : {5, 3, 5, 1, 3}) {
    RunBar r;
    r.bar.date = d;
    r.bar.close = static_cast<float>(bars.size());
    bars.push_back(r);
  }
  order_run(bars);
  ASSERT_EQ(bars.size(), 3u);
  EXPECT_EQ(bars[0].bar.date, 1);
  EXPECT_EQ(bars[1].bar.close, 4.0f);
  EXPECT_EQ(bars[2].bar.close, 2.0f);
}

}  // namespace

namespace {

std::vector<RunBar> runbars(std::vector<std::int32_t> dates) {
  std::vector<RunBar> out;
  for (std::int32_t d : dates) {
    RunBar b;
    b.bar.date = d;
    out.push_back(b);
  }
  order_run(out);
  return out;
}

}  // namespace

TEST(ChartType, FromTheSpacingOfAllItsDates) {
  const struct {
    std::vector<std::int32_t> dates;
    char type;
  } cases[] = {
      {{19990105, 19990104}, 'D'},                                   // newest first
      {{19990108, 19990104, 19990106, 19990105, 19990107}, 'D'},     // unordered
      {{19990129, 19990201, 19990202, 19990203}, 'D'},               // a month end among days
      {{19991231, 20000103}, 0},                                     // 8872 apart as numbers
      {{19990104, 19990111, 19990118, 19990125}, 0},                 // weekly: asked
      {{19990104}, 0},                                               // one day: asked
      {{19990104, 19990104}, 0},                                     // one date twice
  };
  for (const auto& c : cases) EXPECT_EQ(chart_type_from_dates(runbars(c.dates)), c.type) << c.dates.size();
  std::vector<RunBar> times = runbars({19480914, 19480915});
  for (RunBar& b : times) b.synthetic = true;
  EXPECT_EQ(chart_type_from_dates(times), 0);
}

// Answers the type question and records what the store told.
struct Planner : StoreReport {
  char answer = 0;
  int asked = 0;
  char new_chart_type(const std::vector<std::string>&) override { return ++asked, answer; }
};

TEST_F(Store, EveryChartFoundWhereItLivesBeforeANewOneIsMade) {
  const struct Case {
    const char* what;
    std::vector<const char*> charts;  // on disk before
    const char* text;
    const char* chart_dir;
    char type;     // --type; 0: asked
    const char* plan;  // per chart: "+path" merged, "path:T" new of type T, "!why" refused
    int asked;
  } cases[] = {
      {"other folder, other case", {"csv_A/AAPL"}, "AAPL,20240701,2\n", "", 0, "+csv_A/AAPL", 0},
      {"the storage folder wins", {"txt_a/aapl", "csv_A/AAPL"}, "AAPL,20240701,2\n", "", 0, "+txt_a/aapl", 0},
      {"several", {"csv_A/AAPL", "csv_a/aapl"}, "AAPL,20240701,2\n", "", 'D',
       "!2 charts of that name were found: csv_A/AAPL csv_a/aapl; keep one of them", 0},
      {"none", {}, "AAPL,20240701,2\nAAPL,20240702,3\n", "", 0, "txt_a/aapl:D", 0},
      {"none, one day: asked", {}, "AAPL,20240701,2\n", "", 0, "txt_a/aapl:W", 1},
      {"--chart-dir", {}, "AAPL,20240701,2\n", "mine", 'N', "mine/aapl:N", 0},
      {"--chart-dir, found elsewhere", {"csv_a/aapl"}, "AAPL,20240701,2\n", "mine", 0, "+csv_a/aapl", 0},
      {"one day of three symbols into their charts", {"csv_A/AAPL", "csv_m/msft", "ibm_i/IBM"},
       "AAPL,20240701,1\nMSFT,20240701,2\nIBM,20240701,3\n", "", 0, "+csv_A/AAPL +csv_m/msft +ibm_i/IBM", 0},
      {"alternating symbols", {}, "IBM,19990105,1\nHP,19990105,2\nIBM,19990104,3\nHP,19990104,4\n", "", 0,
       "txt_i/ibm:D txt_h/hp:D", 0},
      {"a new symbol takes its text's type", {}, "IBM,19990104,1\nIBM,19990105,2\nHP,19990104,5\n", "", 0,
       "txt_i/ibm:D txt_h/hp:D", 0},
      {"two symbols make one name", {}, "AAPL,20240701,1\nAAPL 240119C00150000,20240701,2\n", "", 'D',
       "!the symbols AAPL and AAPL 240119C00150000 both make the chart name aapl; neither is stored", 0},
      {"long symbols cut alike", {}, "ABCDEFGHIJKLMNOPQRSTUVW1,20240701,1\nABCDEFGHIJKLMNOPQRSTUVW2,20240701,2\n",
       "", 'D', "!the symbols ABCDEFGHIJKLMNOPQRSTUVW1 and ABCDEFGHIJKLMNOPQRSTUVW2 both make", 0},
      {"one symbol in two letter cases", {}, "aapl,20240701,1\nAAPL,20240702,2\n", "", 0, "txt_a/aapl:D", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir here;
    ScopedChdir in(here.path());
    for (const char* p : c.charts) {
      here.mkdirs(std::string(p, std::strchr(p, '/') - p));
      write_file(here.file(p), chart('D', 19990104, {{19990104, 1}}));
    }
    here.mkdirs("notes");
    write_text(here.file("notes/aapl"), "not a chart\n");  // a text of that name is no chart
    write_text(here.file("today.txt"), c.text);
    const int fd = ::open("today.txt", O_RDONLY);
    TextPlan plan;
    Planner rep;
    rep.answer = 'W';
    Result r;
    {
      LineReader src(fd);
      TextStoreParams p;
      p.format = settings("SDC");
      p.textname = "today.txt";
      p.chart_type = c.type;
      p.chart_dir = c.chart_dir;
      std::string first;
      TimeOfDayDates clock;
      first = symbol_to_name(std::string_view(c.text).substr(0, std::strcspn(c.text, ",")), ',');
      r = plan_text(src, first, p, clock, rep, plan);
    }
    ::close(fd);
    EXPECT_TRUE(r.ok()) << r.message;
    std::string got;
    for (const ChartPlan& cp : plan.charts) {
      if (cp.bars.empty()) continue;
      if (!got.empty()) got += " ";
      got += !cp.refused.empty() ? "!" + cp.refused
             : cp.exists         ? "+" + cp.path
                                 : cp.path + ":" + std::string(1, cp.type);
    }
    EXPECT_EQ(got.substr(0, std::strlen(c.plan)), c.plan);
    EXPECT_EQ(rep.asked, c.asked);
  }
}

TEST_F(Store, OneDayFileMergesIntoChartsFoundAndRefusesOnlyTheAmbiguous) {
  dir.mkdirs("csv_A");
  dir.mkdirs("stk_m");
  dir.mkdirs("csv_m");
  write_file(dir.file("csv_A/AAPL"), chart('D', 20240628, {{20240627, 1}, {20240628, 2}}));
  write_file(dir.file("stk_m/msft"), chart('D', 20240628, {{20240628, 3}}));
  write_file(dir.file("csv_m/MSFT"), chart('D', 20240628, {{20240628, 3}}));
  const Bytes msft = read_file(dir.file("csv_m/MSFT"));
  std::string name = "aapl";
  Stopper rep;
  // Newest first, a date given twice (the later line wins).
  EXPECT_EQ(run("AAPL,20240702,5\nAAPL,20240701,4\nMSFT,20240701,6\nAAPL,20240702,7\n", "today.txt", name,
                settings("SDC"), &rep),
            0);  // refused: msft has two charts
  EXPECT_EQ(name, "csv_A/AAPL");
  const Bytes aapl = read_file(dir.file("csv_A/AAPL"));
  EXPECT_EQ(dates_of(aapl), (std::vector<std::int32_t>{20240627, 20240628, 20240701, 20240702}));
  EXPECT_EQ(close_at(aapl, 3), 7.0f);
  EXPECT_EQ(rep.refused, std::vector<std::string>{"msft"});
  EXPECT_EQ(read_file(dir.file("csv_m/MSFT")), msft);
  EXPECT_FALSE(file_exists(dir.file("txt_a")));
}
