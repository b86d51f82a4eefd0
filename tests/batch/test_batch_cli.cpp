// morva-convert as a script sees it: exit statuses, one-line complaints
// that leave every file as it was, the log of skipped lines, dry runs,
// backups, and the setup and defaults files of the window.
#include <signal.h>

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "chartdata/chartfile.h"
#include "chartdata/encodings.h"
#include "support/chart_files.h"
#include "support/tempdir.h"
#include "support/batch_support.h"

namespace {

BarRecord bar(std::int32_t date, float price, std::int32_t volume = 1000) {
  return ::bar(date, price, price + 1, price - 1, price + 0.5f, volume, 2);
}

Bytes chart(char type, const std::vector<BarRecord>& bars) {
  return chart_bytes(type, bars.empty() ? 0 : bars.back().date, bars);
}

std::vector<std::int32_t> dates_of(const Bytes& b) {
  std::vector<std::int32_t> d;
  for (std::size_t at = kHeaderSize; at + kBarSize <= b.size(); at += kBarSize)
    d.push_back(decode_bar(&b[at]).date);
  return d;
}

int lines_of(const std::string& s) { return static_cast<int>(std::count(s.begin(), s.end(), '\n')); }

class BatchCli : public ::testing::Test {
 protected:
  void SetUp() override {
    write_text(data_.file("prices.txt"), "19990104,10,11,9,10.5,100,1\n19990105,11,12,10,11.5,200,2\n");
    write_text(data_.file("far.txt"), "19990104,10,11,9,10.5,100,1\n19990301,11,12,10,11.5,200,2\n");
    write_file(data_.file("ibm"), chart('D', {bar(19990104, 10), bar(19990105, 11), bar(19990111, 12)}));
    write_text(data_.file("exists.txt"), "keep me\n");
    write_text(data_.file("noquotes.txt"), "-------------------------\n\n");
    write_text(data_.file("short"), "0123456789");
    write_text(data_.file("dashes.txt"), "--------------------,19990104,1\n");
    write_text(data_.file("list!"), "prices.txt\nmissing.txt\n");
    write_text(data_.file("dayormonth.csv"), "Date,Close\n01/02/2024,1\n02/03/2024,2\n");
    data_.mkdirs("adir");
  }
  // Started in the data directory, where the texts are; run_from starts
  // elsewhere.
  batch_test::Outcome run(std::vector<std::string> args) { return run_from(data_.path(), std::move(args)); }
  batch_test::Outcome run_from(const std::string& cwd, std::vector<std::string> args) {
    args.insert(args.end(), {"--data-dir", data_.path(), "--start-dir", start_.path()});
    return batch_test::run(args, start_.path(), cwd);
  }

  TempDir data_{"mcv-data"}, start_{"mcv-start"}, elsewhere_{"mcv-cwd"};
};

struct Refusal {
  std::vector<std::string> args;
  int status;
  const char* says;  // a piece of the one line on standard error
};

TEST_F(BatchCli, BadCallsAndUnreadableInputsSayOneLineAndChangeNothing) {
  const Refusal cases[] = {
      {{"weekly", "ibm"}, 2, "--to is required"},
      {{"frobnicate"}, 2, "frobnicate"},
      {{"text-to-chart", "prices.txt", "--chart", "x", "--bogus"}, 2, "--bogus"},
      {{"text-to-chart", "prices.txt"}, 2, "--chart NAME"},
      {{"text-to-chart", "far.txt", "--chart", "x"}, 2, "--type"},
      {{"text-to-chart", "prices.txt", "--chart", "x", "--type", "hourly"}, 2, "--type 'hourly'"},
      {{"text-to-chart", "prices.txt", "--chart", "x", "--order", "DOHLQ"}, 2, "--order"},
      {{"text-to-chart", "prices.txt", "--chart", "x", "--separator", "ab"}, 2, "--separator"},
      {{"text-to-chart", "prices.txt", "--chart", "x", "--date-format", "ddmmyy"}, 2, "--date-format"},
      {{"text-to-chart", "prices.txt", "--chart", "x", "--start", "1999"}, 2, "--start"},
      {{"text-to-chart", "prices.txt", "--chart", "prices.txt"}, 2, "source's own name"},
      {{"text-to-chart", "prices.txt", "--to", "prices.txt"}, 2, "source's own name"},
      {{"plot", "ibm", "--to", "19990105"}, 2, "-o (or --to) is required"},
      {{"text-to-chart", "prices.txt", "--order", "SDOHLC", "--chart", "x"}, 2, "--chart cannot"},
      {{"compress", "ibm", "--to", "n", "--count", "0"}, 2, "--count"},
      {{"compress", "ibm", "--to", "n", "--count", "3x"}, 2, "--count"},
      {{"adjust", "ibm", "--to", "a", "--op", "%", "--constant", "2"}, 2, "--op"},
      {{"adjust", "ibm", "--to", "a", "--op", "+", "--constant", "0.0"}, 2, "--constant"},
      {{"quickquote", "prices.txt", "--date", "991232"}, 2, "--date"},
      {{"chart-to-text", "ibm", "--to", "exists.txt"}, 2, "--overwrite"},
      {{"chart-to-text", "ibm", "ibm", "--to", "x.txt"}, 2, "one chart"},
      {{"weekly", "ibm", "--to", "ibm"}, 2, "source itself"},
      {{"weekly", "ibm", "ibm", "--to", "notadir"}, 2, "existing directory"},
      {{"techtools", "ibm", "--to", "./ibm"}, 2, "source itself"},
      {{"weekly", "missing", "--to", "w"}, 3, "/missing: No such file"},
      {{"weekly", "adir", "--to", "w"}, 3, "directory"},
      {{"text-to-chart", "list!"}, 3, "missing.txt"},
      {{"chart-to-text", "short", "--to", "s.txt"}, 3, "not a chart"},
      {{"quickquote", "noquotes.txt", "--date", "991231"}, 3, "no quotes"},
      {{"show", "missing"}, 3, "/missing: No such file"},
      {{"text-to-chart", "dashes.txt", "--order", "SDOHLC"}, 3, "no line holds a symbol"},
      {{"plot", "ibm", "-o", "ibm.jpg"}, 2, ".png, .svg or .pdf"},
      {{"plot", "ibm", "ibm", "-o", "two.png"}, 2, "existing directory"},
      {{"plot", "ibm", "-o", "i.png", "--format", "pdf"}, 2, "does not match"},
      {{"plot", "ibm", "-o", "i.png", "--size", "1200x50"}, 2, "--size"},
      {{"plot", "ibm", "-o", "i.png", "--from", "20000101", "--to", "19990101"}, 2, "after --to"},
      {{"plot", "ibm", "-o", "i.png", "--from", "1999"}, 2, "give a date yyyymmdd"},
      {{"plot", "missing", "-o", "i.png"}, 3, "/missing: No such file"},
      {{"plot", "short", "-o", "i.png"}, 3, "not a chart"},
      {{"text-to-chart", "exists.txt", "--chart", "x"}, 2, "no line holds a date"},
      {{"text-to-chart", "dayormonth.csv", "--auto", "--chart", "x"}, 2, "--date-format mm/dd/yy"},
      {{"text-to-chart", "exists.txt", "--auto", "--chart", "x"}, 2, "no line of prices"},
      {{"detect", "missing.csv"}, 3, "/missing.csv: No such file"},
  };
  const auto before = batch_test::tree(data_.path());
  for (const Refusal& c : cases) {
    std::string call;
    for (const std::string& a : c.args) call += a + " ";
    SCOPED_TRACE(call);
    const auto r = run(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(lines_of(r.err), 1) << r.err;
    EXPECT_EQ(r.err.rfind("morva-convert: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(batch_test::tree(data_.path()) == before)
        << batch_test::names(batch_test::tree(data_.path()));
  }
  EXPECT_TRUE(batch_test::tree(elsewhere_.path()).empty());
}

TEST_F(BatchCli, MissingDataDirectoryIsAFileFailure) {
  const auto r = batch_test::run(
      {"show", "ibm", "--data-dir", data_.file("nowhere"), "--start-dir", start_.path()}, start_.path());
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(lines_of(r.err), 1);
  EXPECT_NE(r.err.find("does not exist"), std::string::npos) << r.err;
}

TEST_F(BatchCli, SkippedLinesGiveStatusOneAndTheLogNamesEach) {
  write_text(data_.file("bad.txt"),
             "19990104,10,11,9,10.5,100,1\r\n"
             "1999x105,11,12,10,11.5,200,2\r\n"
             "short\r\n"
             "19990106,11,12,10,11.5,200,2\r\n"
             "xx,12,13,11,12.5,300,3\r\n");
  // The log is named from where the program was started.
  // The second line's date is bad, so the first two dates do not decide
  // the type.
  const auto r =
      run({"text-to-chart", "bad.txt", "--chart", "ibm", "--type", "d", "--errors", "skipped.log"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(read_text(data_.file("skipped.log")),
            "bad.txt:2: bad date, and no date in the file name: 1999x105,11,12,10,11.5,200,2\n"
            "bad.txt:5: bad date, and no date in the file name: xx,12,13,11,12.5,300,3\n");
  EXPECT_EQ(dates_of(read_file(data_.file("txt_i/ibm"))), (std::vector<std::int32_t>{19990104, 19990106}));

  // A clean run empties the log and ends with 0.
  const auto clean = run({"text-to-chart", "prices.txt", "--chart", "ibm", "--errors", "skipped.log"});
  EXPECT_EQ(clean.status, 0) << clean.err;
  EXPECT_EQ(read_text(data_.file("skipped.log")), "");
  // So does a refused one.
  write_text(data_.file("skipped.log"), "stale\n");
  const auto refused = run({"text-to-chart", "far.txt", "--chart", "x", "--errors", "skipped.log"});
  EXPECT_EQ(refused.status, 2) << refused.err;
  EXPECT_EQ(read_text(data_.file("skipped.log")), "");
  write_text(data_.file("skipped.log"), "stale\n");
  const auto bad = run({"text-to-chart", "prices.txt", "--errors", "skipped.log", "--bogus"});
  EXPECT_EQ(bad.status, 2) << bad.err;
  EXPECT_EQ(read_text(data_.file("skipped.log")), "");
}

TEST_F(BatchCli, TextsAreNamedFromTheCurrentDirectoryAndChartsFromTheDataDirectory) {
  write_text(elsewhere_.file("here.txt"), "19990104,1,2,0.5,1.5,10,0\n19990105,1,2,0.5,1.5,10,0\n");
  const auto r = run_from(elsewhere_.path(), {"text-to-chart", "here.txt", "--chart", "h"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(file_exists(data_.file("txt_h/h")));
  // A text only the data directory holds: the full path tried, and a hint.
  const auto missing = run_from(elsewhere_.path(), {"text-to-chart", "prices.txt", "--chart", "p"});
  EXPECT_EQ(missing.status, 3);
  EXPECT_NE(missing.err.find("cannot read " + elsewhere_.file("prices.txt") + ": No such file"),
            std::string::npos)
      << missing.err;
  EXPECT_NE(missing.err.find("the data directory holds prices.txt"), std::string::npos) << missing.err;
  // A start directory that does not exist is a usage error.
  const auto start = batch_test::run({"show", "ibm", "--data-dir", data_.path(), "--start-dir",
                                      data_.file("nowhere")},
                                     start_.path(), data_.path());
  EXPECT_EQ(start.status, 2);
  EXPECT_NE(start.err.find("--start-dir " + data_.file("nowhere") + " is not a directory"), std::string::npos)
      << start.err;
}

std::vector<std::string> words(const std::string& line);

std::string bar_text_of(const BarRecord& b) {
  char buf[200];
  std::snprintf(buf, sizeof buf, "%d %.9g %.9g %.9g %.9g %d %d", b.date, b.open, b.high, b.low, b.close, b.volume,
                b.openint);
  return buf;
}

BarRecord bar_at(const Bytes& chart, std::size_t i) { return decode_bar(&chart[kHeaderSize + i * kBarSize]); }

TEST_F(BatchCli, TodaysFilesAreReadWithAuto) {
  struct Shape {
    const char* file;
    const char* text;
    std::vector<std::string> extra;  // options besides --auto
    const char* shown;               // the layout line
    const char* chart;
    std::vector<std::int32_t> dates;
    float close0;  // close of the first bar
    std::int32_t volume0;
    bool utf16 = false;  // the text is written as UTF-16 with a byte-order mark
  } shapes[] = {
      {"AAPL.csv",
       "Date,Open,High,Low,Close,Adj Close,Volume\r\n"
       "2024-01-02,187.15,188.44,183.89,185.64,184.73,82488700\r\n"
       "2024-01-03,184.22,185.88,183.43,184.25,183.35,58414500\r\n",
       {"--chart", "aapl"}, "date=ISO order=DOHLC-V sep=, header=yes", "csv_a/aapl", {20240102, 20240103},
       185.64f, 82488700},
      {"eod.csv",
       "Ticker,Date,Open,High,Low,Close,Volume\n"
       "AAPL,2024-01-02,187.15,188.44,183.89,185.64,82488700\n"
       "AAPL,2024-01-03,184.22,185.88,183.43,184.25,58414500\n"
       "MSFT,2024-01-02,373.86,375.90,366.77,370.87,25258600\n"
       "MSFT,2024-01-03,369.01,373.26,368.51,370.60,23083500\n",
       {}, "date=ISO order=SDOHLCV sep=, header=yes", "csv_m/msft", {20240102, 20240103}, 370.87f, 25258600},
      {"dax.csv",
       "Datum;Er\xc3\xb6" "ffnung;Hoch;Tief;Schluss;Volumen\n"
       "15.01.2024;16,50;16,80;16,40;16,75;1.200\n"
       "16.01.2024;16,75;17,00;16,60;16,90;1500\n",
       {"--chart", "dax"}, "date=dd.mm.yyyy order=DOHLCV sep=; header=yes decimal=comma thousands=.", "csv_d/dax",
       {20240115, 20240116}, 16.75f, 1200},
      {"tab.txt", "Date\tOpen\tHigh\tLow\tClose\tVolume\n20240102\t10.5\t11\t10\t10.75\t100\n"
                  "20240103\t10.75\t11.5\t10.5\t11.25\t200\n",
       {"--chart", "tab"}, "date=yyyymmdd order=DOHLCV sep=tab header=yes", "txt_t/tab", {20240102, 20240103},
       10.75f, 100},
      {"intra.csv",
       "Date,Open,High,Low,Close,Volume\n2024-01-02 09:30,10,11,9,10.5,100\n"
       "2024-01-02 09:31,10.5,11,10,10.75,50\n2024-01-03 09:30,11,12,10,11.5,70\n",
       {"--chart", "intra", "--type", "daily"}, "date=ISO order=DOHLCV sep=, header=yes time=ignored",
       "csv_i/intra", {20240102, 20240103}, 10.75f, 50},  // the day's last line
      // ---- Today's sources, as each writes its files
      // Yahoo web download: a byte-order mark, quotes, CRLF
      {"yahoo_web.csv",
       "\xef\xbb\xbf\"Date\",\"Open\",\"High\",\"Low\",\"Close\",\"Adj Close\",\"Volume\"\r\n"
       "\"2024-01-02\",\"187.15\",\"188.44\",\"183.89\",\"185.64\",\"184.73\",\"82488700\"\r\n"
       "\"2024-01-03\",\"184.22\",\"185.88\",\"183.43\",\"184.25\",\"183.35\",\"58414500\"\r\n",
       {"--chart", "yahooweb", "--type", "daily"}, "date=ISO order=DOHLC-V sep=, header=yes bom=yes", "csv_y/yahooweb", {20240102, 20240103}, 185.6400f, 82488700},
      // yfinance to_csv: three header lines
      {"yfinance.csv",
       "Price,Adj Close,Close,High,Low,Open,Volume\n"
       "Ticker,AAPL,AAPL,AAPL,AAPL,AAPL,AAPL\n"
       "Date,,,,,,\n"
       "2024-01-02,184.73,185.64,188.44,183.89,187.15,82488700\n"
       "2024-01-03,183.35,184.25,185.88,183.43,184.22,58414500\n",
       {"--chart", "yfinance", "--type", "daily"}, "date=ISO order=D-CHLOV sep=, header=yes", "csv_y/yfinance", {20240102, 20240103}, 185.6400f, 82488700},
      // Stooq
      {"stooq.csv",
       "Date,Open,High,Low,Close,Volume\n"
       "2024-01-02,187.15,188.44,183.89,185.64,82488700\n"
       "2024-01-03,184.22,185.88,183.43,184.25,58414500\n",
       {"--chart", "stooq", "--type", "daily"}, "date=ISO order=DOHLCV sep=, header=yes", "csv_s/stooq", {20240102, 20240103}, 185.6400f, 82488700},
      // Stooq bulk: <TICKER>,<PER>,...
      {"stooq_bulk.txt",
       "<TICKER>,<PER>,<DATE>,<TIME>,<OPEN>,<HIGH>,<LOW>,<CLOSE>,<VOL>,<OPENINT>\n"
       "AAPL.US,D,20240102,000000,187.15,188.44,183.89,185.64,82488700,0\n"
       "AAPL.US,D,20240103,000000,184.22,185.88,183.43,184.25,58414500,0\n"
       "MSFT.US,D,20240102,000000,373.86,375.9,366.77,370.87,25258600,0\n",
       {"--type", "daily"}, "date=yyyymmdd order=S-D-OHLCVI sep=, header=yes", "txt_a/aapl.us", {20240102, 20240103}, 185.6400f, 82488700},
      // Nasdaq.com: Close/Last, $ prices, newest first
      {"nasdaq.csv",
       "Date,Close/Last,Volume,Open,High,Low\n"
       "01/03/2024,$184.25,58414460,$184.22,$185.88,$183.43\n"
       "01/02/2024,$185.64,82488670,$187.15,$188.44,$183.89\n"
       "12/29/2023,$192.53,42672150,$193.90,$194.40,$191.73\n",
       {"--chart", "nasdaq", "--type", "daily"}, "date=mm/dd/yyyy order=DCVOHL sep=, header=yes", "csv_n/nasdaq", {20231229, 20240102, 20240103}, 192.5300f, 42672150},
      // Investing.com: Price, M volumes, Change %
      {"investing.csv",
       "\"Date\",\"Price\",\"Open\",\"High\",\"Low\",\"Vol.\",\"Change %\"\n"
       "\"01/03/2024\",\"184.25\",\"184.22\",\"185.88\",\"183.43\",\"58.41M\",\"-0.75%\"\n"
       "\"01/02/2024\",\"185.64\",\"187.15\",\"188.44\",\"183.89\",\"82.49M\",\"-3.58%\"\n"
       "\"12/29/2023\",\"192.53\",\"193.90\",\"194.40\",\"191.73\",\"42.67M\",\"-0.54%\"\n",
       {"--chart", "investing", "--type", "daily"}, "date=mm/dd/yyyy order=DCOHLV sep=, header=yes", "csv_i/investing", {20231229, 20240102, 20240103}, 192.5300f, 42670000},
      // MarketWatch: quoted thousands separators
      {"marketwatch.csv",
       "Date,Open,High,Low,Close,Volume\n"
       "01/03/2024,184.22,185.88,183.43,184.25,\"58,414,460\"\n"
       "01/02/2024,187.15,188.44,183.89,185.64,\"82,488,670\"\n"
       "12/29/2023,193.90,194.40,191.73,192.53,\"42,672,150\"\n",
       {"--chart", "marketwatch", "--type", "daily"}, "date=mm/dd/yyyy order=DOHLCV sep=, header=yes thousands=,", "csv_m/marketwatch", {20231229, 20240102, 20240103}, 192.5300f, 42672150},
      // MarketWatch/WSJ: Apr 09, 2020 and $
      {"wsj.csv",
       "Date,Open,High,Low,Close,Volume\n"
       "\"Apr 09, 2020\",\"$268.70\",\"$270.07\",\"$264.70\",\"$267.99\",\"40,529,123\"\n"
       "\"Apr 08, 2020\",\"$262.74\",\"$267.37\",\"$261.23\",\"$266.07\",\"42,223,820\"\n",
       {"--chart", "wsj", "--type", "daily"}, "date=Mon dd, yyyy order=DOHLCV sep=, header=yes thousands=,", "csv_w/wsj", {20200408, 20200409}, 266.0700f, 42223820},
      // Google Sheets: m/d/yyyy with a time
      {"sheets.csv",
       "Date,Open,High,Low,Close,Volume\n"
       "1/2/2024 16:00:00,187.15,188.44,183.89,185.64,82488700\n"
       "1/3/2024 16:00:00,184.22,185.88,183.43,184.25,58414500\n"
       "1/16/2024 16:00:00,182.16,184.26,180.93,183.63,65603000\n",
       {"--chart", "sheets", "--type", "daily"}, "date=mm/dd/yyyy order=DOHLCV sep=, header=yes time=ignored", "csv_s/sheets", {20240102, 20240103, 20240116}, 185.6400f, 82488700},
      // TradingView: unix seconds, indicators
      {"tradingview.csv",
       "time,open,high,low,close,Volume,MA,RSI\n"
       "1704205800,187.15,188.44,183.89,185.64,82488700,180.1,55.2\n"
       "1704292200,184.22,185.88,183.43,184.25,58414500,180.5,50.1\n",
       {"--chart", "tradingview", "--type", "daily"}, "date=unix time order=DOHLCV sep=, header=yes", "csv_t/tradingview", {20240102, 20240103}, 185.6400f, 82488700},
      // MetaTrader 4: yyyy.mm.dd, no header
      {"mt4.csv",
       "2024.01.02,00:00,1.10420,1.10450,1.09380,1.09410,95211\n"
       "2024.01.03,00:00,1.09410,1.09520,1.09010,1.09200,88120\n",
       {"--chart", "mt4", "--type", "daily"}, "date=yyyy.mm.dd sep=, header=no time=ignored", "csv_m/mt4", {20240102, 20240103}, 1.0941f, 0},
      // MetaTrader 5: UTF-16, tabs, <TICKVOL> <VOL> <SPREAD>
      {"mt5.csv",
       "<DATE>\t<OPEN>\t<HIGH>\t<LOW>\t<CLOSE>\t<TICKVOL>\t<VOL>\t<SPREAD>\r\n"
       "2024.01.02\t1.10420\t1.10450\t1.09380\t1.09410\t95211\t0\t2\r\n"
       "2024.01.03\t1.09410\t1.09520\t1.09010\t1.09200\t88120\t0\t2\r\n",
       {"--chart", "mt5", "--type", "daily"}, "date=yyyy.mm.dd order=DOHLCV sep=tab header=yes encoding=UTF-16LE", "csv_m/mt5", {20240102, 20240103}, 1.0941f, 95211, true},  // <VOL> all 0: the tick volume
      // Alpha Vantage: timestamp, newest first
      {"alphavantage.csv",
       "timestamp,open,high,low,close,volume\n"
       "2024-01-03,184.2200,185.8800,183.4300,184.2500,58414460\n"
       "2024-01-02,187.1500,188.4400,183.8900,185.6400,82488670\n",
       {"--chart", "alphavantage", "--type", "daily"}, "date=ISO order=DOHLCV sep=, header=yes", "csv_a/alphavantage", {20240102, 20240103}, 185.6400f, 82488670},
      // Tiingo: ISO with T and Z, adjusted columns
      {"tiingo.csv",
       "date,close,high,low,open,volume,adjClose,adjHigh,adjLow,adjOpen,adjVolume,divCash,splitFactor\n"
       "2024-01-02T00:00:00.000Z,185.64,188.44,183.89,187.15,82488674,184.7,187.5,182.9,186.2,82488674,0.0,1.0\n"
       "2024-01-03T00:00:00.000Z,184.25,185.88,183.43,184.22,58414460,183.3,184.9,182.5,183.3,58414460,0.0,1.0\n",
       {"--chart", "tiingo", "--type", "daily"}, "date=ISO order=DCHLOV sep=, header=yes time=ignored", "csv_t/tiingo", {20240102, 20240103}, 185.6400f, 82488674},
      // Polygon: ticker per row, window_start in ns
      {"polygon.csv",
       "ticker,volume,open,close,high,low,window_start,transactions\n"
       "AAPL,82488674,187.15,185.64,188.44,183.89,1704171600000000000,1008871\n"
       "AAPL,58414460,184.22,184.25,185.88,183.43,1704258000000000000,656853\n",
       {"--type", "daily"}, "date=unix time order=SVOCHLD sep=, header=yes", "csv_a/aapl", {20240102, 20240103}, 185.6400f, 82488674},
      // EOD Historical Data: Adjusted_close
      {"eodhd.csv",
       "Date,Open,High,Low,Close,Adjusted_close,Volume\n"
       "2024-01-02,187.15,188.44,183.89,185.64,184.7353,82488700\n"
       "2024-01-03,184.22,185.88,183.43,184.25,183.3521,58414500\n",
       {"--chart", "eodhd", "--type", "daily"}, "date=ISO order=DOHLC-V sep=, header=yes", "csv_e/eodhd", {20240102, 20240103}, 185.6400f, 82488700},
      // Interactive Brokers: average, barCount
      {"ib.csv",
       "date,open,high,low,close,volume,average,barCount\n"
       "20240102,187.15,188.44,183.89,185.64,824887,185.9,41234\n"
       "20240103,184.22,185.88,183.43,184.25,584145,184.6,30112\n",
       {"--chart", "ib", "--type", "daily"}, "date=yyyymmdd order=DOHLCV sep=, header=yes", "csv_i/ib", {20240102, 20240103}, 185.6400f, 824887},
      // Kibot: no header
      {"kibot.txt",
       "01/02/2024,187.15,188.44,183.89,185.64,82488700\n"
       "01/03/2024,184.22,185.88,183.43,184.25,58414500\n"
       "01/16/2024,182.16,184.26,180.93,183.63,65603000\n",
       {"--chart", "kibot", "--type", "daily"}, "date=mm/dd/yyyy sep=, header=no", "txt_k/kibot", {20240102, 20240103, 20240116}, 185.6400f, 82488700},
      // Dukascopy: Gmt time dd.mm.yyyy hh:mm:ss.mmm, float volume
      {"dukascopy.csv",
       "Gmt time,Open,High,Low,Close,Volume\n"
       "02.01.2024 00:00:00.000,1.10420,1.10450,1.09380,1.09410,95211.25\n"
       "03.01.2024 00:00:00.000,1.09410,1.09520,1.09010,1.09200,88120.5\n",
       {"--chart", "dukascopy", "--type", "daily"}, "date=dd.mm.yyyy order=DOHLCV sep=, header=yes time=ignored", "csv_d/dukascopy", {20240102, 20240103}, 1.0941f, 95211},
      // HistData: yyyymmdd hhmmss;
      {"histdata.csv",
       "20240102 000000;1.104200;1.104500;1.093800;1.094100;0\n"
       "20240103 000000;1.094100;1.095200;1.090100;1.092000;0\n",
       {"--chart", "histdata", "--type", "daily"}, "date=yyyymmdd sep=; header=no time=ignored", "csv_h/histdata", {20240102, 20240103}, 1.0941f, 0},
      // Quandl WIKI: Adj. columns, float volume, newest first
      {"quandl.csv",
       "Date,Open,High,Low,Close,Volume,Ex-Dividend,Split Ratio,Adj. Open,Adj. High,Adj. Low,Adj. Close,Adj. Volume\n"
       "2018-03-27,173.68,175.15,166.92,168.34,38962839.0,0.0,1.0,173.68,175.15,166.92,168.34,38962839.0\n"
       "2018-03-26,168.07,173.1,166.44,172.77,36272617.0,0.0,1.0,168.07,173.1,166.44,172.77,36272617.0\n",
       {"--chart", "quandl", "--type", "daily"}, "date=ISO order=DOHLCV sep=, header=yes", "csv_q/quandl", {20180326, 20180327}, 172.7700f, 36272617},
      // German exchange: title and blank line, Latin-1, St\u00fccke beside turnover
      {"boerse.csv",
       "Historische Kurse SAP SE\n"
       "\n"
       "Datum;Er\xf6" "ffnung;Hoch;Tief;Schlusskurs;St\xfc" "cke;Volumen\n"
       "02.01.2024;139,50;140,20;138,10;139,86;1.234.567;172.345.678,50\n"
       "03.01.2024;139,90;141,00;139,00;140,44;6.881.789;966.543.210,00\n",
       {"--chart", "boerse", "--type", "daily"}, "date=dd.mm.yyyy order=DOHLCV sep=; header=yes decimal=comma thousands=.", "csv_b/boerse", {20240102, 20240103}, 139.8600f, 1234567},
      // French broker: Haut, Bas, Cl\u00f4ture
      {"french.csv",
       "Date;Ouverture;Haut;Bas;Cl\xc3\xb4ture;Volume\n"
       "02/01/1985;3,18;3,18;3,08;3,08;1870906\n"
       "03/01/1985;3,08;3,12;3,05;3,10;1234567\n"
       "14/01/1985;3,10;3,20;3,10;3,15;998877\n",
       {"--chart", "french", "--type", "daily"}, "date=dd/mm/yyyy order=DOHLCV sep=; header=yes decimal=comma", "csv_f/french", {19850102, 19850103, 19850114}, 3.0800f, 1870906},
      // Austrian exchange: title line, quoted 123.456
      {"vienna.csv",
       "Wiener B\xf6rse - Kurshistorie\n"
       "Datum;Er\xf6" "ffnung;Hoch;Tief;Schluss;Volumen\n"
       "02.01.2024;32,10;32,50;31,90;32,40;\"123.456\"\n"
       "03.01.2024;32,40;32,80;32,20;32,60;\"98.765\"\n",
       {"--chart", "vienna", "--type", "daily"}, "date=dd.mm.yyyy order=DOHLCV sep=; header=yes decimal=comma thousands=.", "csv_v/vienna", {20240102, 20240103}, 32.4000f, 123456},
      // Stooq in Polish
      {"stooq_pl.csv",
       "Data,Otwarcie,Najwyzszy,Najnizszy,Zamkniecie,Wolumen\n"
       "2024-01-02,187.15,188.44,183.89,185.64,82488700\n"
       "2024-01-03,184.22,185.88,183.43,184.25,58414500\n",
       {"--chart", "stooqpl", "--type", "daily"}, "date=ISO order=DOHLCV sep=, header=yes", "csv_s/stooqpl", {20240102, 20240103}, 185.6400f, 82488700},
      // close only
      {"closeonly.csv",
       "Date,Close\n"
       "2024-01-02,185.64\n"
       "2024-01-03,184.25\n",
       {"--chart", "closeonly", "--type", "daily"}, "date=ISO order=DC sep=, header=yes close-only", "csv_c/closeonly", {20240102, 20240103}, 185.6400f, 0},
  };
  for (const Shape& s : shapes) {
    SCOPED_TRACE(s.file);
    std::string bytes = s.text;
    if (s.utf16) {
      bytes = "\xff\xfe";
      for (char c : std::string(s.text)) {
        bytes.push_back(c);
        bytes.push_back('\0');
      }
    }
    write_file(data_.file(s.file), Bytes(bytes.begin(), bytes.end()));
    std::vector<std::string> args = {"text-to-chart", "--auto", s.file};
    args.insert(args.end(), s.extra.begin(), s.extra.end());
    const auto r = run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind(std::string(s.file) + ": " + s.shown + "\n", 0), 0u) << r.out;
    const Bytes chart = read_file(data_.file(s.chart));
    EXPECT_EQ(dates_of(chart), s.dates);
    ASSERT_FALSE(chart.size() < kHeaderSize + kBarSize);
    EXPECT_EQ(bar_at(chart, 0).close, s.close0);
    EXPECT_EQ(bar_at(chart, 0).volume, s.volume0);  // "1.200" beside decimal commas is 1200
    // detect prints the options that give the same charts without --auto.
    const auto d = run({"detect", s.file});
    ASSERT_EQ(d.status, 0) << d.err;
    const std::string options = d.out.substr(d.out.find(": ") + 2, d.out.find("   #") - d.out.find(": ") - 2);
    std::vector<std::string> pinned = {"text-to-chart", s.file};
    for (const std::string& w : words(options)) pinned.push_back(w);
    pinned.insert(pinned.end(), s.extra.begin(), s.extra.end());
    TempDir again("mcv-pinned");
    const auto p = batch_test::run(
        [&] {
          pinned.insert(pinned.end(), {"--data-dir", again.path(), "--start-dir", start_.path()});
          return pinned;
        }(),
        start_.path(), data_.path());
    EXPECT_EQ(p.status, 0) << options << "\n" << p.err;
    EXPECT_TRUE(read_file(again.file(s.chart)) == chart) << options;
  }
  // Files that --auto refuses, with nothing written: what it could not
  // place, dates that may be day or month first, bodies that are not prices.
  const struct {
    const char* file;
    const char* text;
    const char* says;
  } refused[] = {
      {"nohigh.csv", "Date,Open,Close,Volume\n2024-01-02,187.15,185.64,82488700\n", "no High, Low column"},
      {"haut.csv", "Date;Ouverture;Hautx;Basx;Cl\xc3\xb4ture;Volume\n02/01/1985;3,18;3,18;3,08;3,08;1870906\n",
       "the columns 'Hautx', 'Basx' are not known; give --order with the letters"},
      {"ambiguous.csv", "Date,Close\n01/02/2024,1\n02/03/2024,2\n", "may be day or month first"},
      {"swapped.csv",  // high and low read from each other's columns
       "Date,Open,Low,High,Close\n2024-01-02,10,11,9,10.5\n2024-01-03,10,11,9,10.5\n2024-01-04,10,11,9,10.5\n",
       "suspect columns: 'High' read as high, 'Low' read as low"},
      {"page.csv", "<!DOCTYPE html>\n<html><body>Not found</body></html>\n", "an HTML page, not prices"},
      {"note.csv", "{\n \"Note\": \"Our standard API call frequency is 5 calls per minute.\"\n}\n", "a JSON message"},
      {"limit.csv", "Exceeded the daily hits limit\n", "the daily hits limit was exceeded"},
      {"nul.csv", "Date,Close\n2024-01-02,1\0\n", "NUL bytes"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.file);
    write_file(data_.file(c.file), Bytes(c.text, c.text + std::strlen(c.text) + (c.file[0] == 'n' && c.file[1] == 'u' ? 3 : 0)));
    const auto before = batch_test::tree(data_.path());
    const auto r = run({"text-to-chart", "--auto", c.file, "--chart", "r"});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_TRUE(batch_test::tree(data_.path()) == before);
    const auto d = run({"detect", c.file});
    EXPECT_NE(d.err.find(c.says), std::string::npos) << d.err;
  }
  // Missing values: a line without a price is skipped and counted, a missing
  // volume is 0 and said once.
  write_text(data_.file("missing.csv"), "Date,Open,High,Low,Close,Volume\n2024-01-02,1,2,0.5,1.5,N/A\n"
                                        "2024-01-03,1,2,0.5,null,100\n2024-01-04,1,2,0.5,1.5,200\n");
  const auto missing = run({"text-to-chart", "--auto", "missing.csv", "--chart", "miss"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.out.find("missing.csv: 1 line has no volume: stored with volume 0"), std::string::npos) << missing.out;
  EXPECT_NE(missing.out.find("missing.csv: 1 line lacks a price"), std::string::npos) << missing.out;
  EXPECT_EQ(dates_of(read_file(data_.file("csv_m/miss"))), (std::vector<std::int32_t>{20240102, 20240104}));
  // Given options: a byte-order mark before the header is no skipped line;
  // bars that break the bar rules are stored as told, said, and exit 1.
  write_text(data_.file("bom.csv"), "\xef\xbb\xbf" "Date,Open,High,Low,Close,Volume\n20240102,1,2,0.5,1.5,100\n");
  EXPECT_EQ(run({"text-to-chart", "bom.csv", "--chart", "bom", "--order", "DOHLCV", "--type", "daily"}).status, 0);
  write_text(data_.file("told.csv"), "20240102,1,0.5,2,1.5,100\n20240103,1,2,0.5,1.5,100\n");
  const auto told = run({"text-to-chart", "told.csv", "--chart", "told", "--order", "DOHLCV"});
  EXPECT_EQ(told.status, 1);
  EXPECT_NE(told.err.find("stored as told, but 1 bar breaks the bar rules"), std::string::npos) << told.err;
  EXPECT_EQ(dates_of(read_file(data_.file("csv_t/told"))), (std::vector<std::int32_t>{20240102, 20240103}));
  // Options given win over what is found: the date column read as yymmdd
  // finds no date.
  const auto r = run({"text-to-chart", "--auto", "tab.txt", "--chart", "t2", "--date-format", "yymmdd"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(dates_of(read_file(data_.file("txt_t/t2"))), (std::vector<std::int32_t>{20240102, 20240103}));
}

// chart -> chart-to-text --csv -> text-to-chart --auto gives the chart back
// byte for byte: the samples, and a long chart of awkward numbers.
TEST_F(BatchCli, CsvExportReadsBackIntoTheSameChart) {
  const std::string samples = std::string(MORVA_SOURCE_DIR) + "/samples/";
  for (const char* f : {"ibm.txt", "msft_yahoo.csv", "gold_dj.txt"})
    write_file(data_.file(f), read_file(samples + f));
  ASSERT_EQ(run({"text-to-chart", "ibm.txt", "--chart", "s1"}).status, 0);
  ASSERT_EQ(run({"text-to-chart", "msft_yahoo.csv", "--chart", "s2", "--date-format", "ddmonyy", "--order",
                 "DOHLCV"})
                .status,
            0);
  ASSERT_EQ(run({"text-to-chart", "gold_dj.txt", "--chart", "s3", "--date-format", "mm/dd/yy", "--separator",
                 "space", "--order", "DHLCV"})
                .status,
            0);
  std::vector<BarRecord> bars;
  std::mt19937 rng(17);
  for (int y = 1000; bars.size() < 700000; ++y)
    for (int m = 1; m <= 12; ++m)
      for (int d = 1; d <= 31 && bars.size() < 700000; ++d) {
        float v[4];
        for (float& x : v) {
          std::uint32_t bits;
          do bits = static_cast<std::uint32_t>(rng());
          while (((bits >> 23) & 0xff) == 0xff);  // finite values
          std::memcpy(&x, &bits, 4);
          if (rng() % 2) x = static_cast<float>(rng() % 10000000) / 1000.0f;
        }
        if (!is_calendar_date(y * 10000 + m * 100 + d)) continue;  // only days of the calendar are dates
        BarRecord b;
        b.date = y * 10000 + m * 100 + d;
        b.open = v[0];
        b.high = v[1];
        b.low = v[2];
        b.close = v[3];
        b.volume = static_cast<std::int32_t>(rng());
        b.openint = static_cast<std::int32_t>(rng());
        bars.push_back(b);
      }
  write_file(data_.file("long"), chart('D', bars));
  for (const char* c : {"txt_s/s1", "csv_s/s2", "txt_s/s3", "long"}) {
    SCOPED_TRACE(c);
    const auto out = run({"chart-to-text", "--csv", c, "--to", "back.csv", "--overwrite"});
    ASSERT_EQ(out.status, 0) << out.err;
    const std::string text = read_text(data_.file("back.csv"));
    EXPECT_EQ(text.rfind("Date,Open,High,Low,Close,Volume,OpenInterest\n", 0), 0u);
    EXPECT_EQ(text.find(' '), std::string::npos);  // no padding
    ::unlink(data_.file("csv_r/rt").c_str());
    // Random bars break the bar rules: --auto refuses such columns, the
    // given options store them as told and say so.
    const bool random = std::string(c) == "long";
    std::vector<std::string> args = {"text-to-chart", "back.csv", "--chart", "rt", "--start", "10000101"};
    if (random)
      args.insert(args.end(), {"--order", "DOHLCVI", "--separator", "comma", "--date-format", "yyyymmdd"});
    else
      args.push_back("--auto");
    const auto in = run(args);
    ASSERT_EQ(in.status, random ? 1 : 0) << in.err;
    if (random) {
      EXPECT_NE(in.err.find("stored as told, but"), std::string::npos) << in.err;
    }
    const Bytes got = read_file(data_.file("csv_r/rt")), want = read_file(data_.file(c));
    EXPECT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < std::min(got.size(), want.size()); ++i)
      if (got[i] != want[i]) {
        const std::size_t b = i < kHeaderSize ? 0 : (i - kHeaderSize) / kBarSize;
        ADD_FAILURE() << "byte " << i << " bar " << b << ": " << bar_text_of(bar_at(got, b)) << " vs "
                      << bar_text_of(bar_at(want, b));
        break;
      }
  }
}

TEST_F(BatchCli, TextSourcesAreNeverUpgraded) {
  // A text that has the bytes an old chart is known by: '/' at 77, "D\n" at
  // 116 and a yymmdd "date" (991231) at 128.
  std::string text(128, ' ');
  text[77] = '/';
  text[116] = 'D';
  text[117] = '\n';
  text += std::string("\xff\x1f\x0f\x00", 4) + "\n19990104,10,11,9,10.5,100,1\n19990105,11,12,10,11.5,200,2\n";
  write_text(data_.file("looks_old.txt"), text);
  const auto r = run({"text-to-chart", "looks_old.txt", "--chart", "lo"});
  EXPECT_EQ(read_text(data_.file("looks_old.txt")), text) << r.err;
}

TEST_F(BatchCli, EveryLineBeforeTheStartDateIsReported) {
  write_text(data_.file("old.txt"), "19590104,10,11,9,10.5,100,1\n19590105,11,12,10,11.5,200,2\n");
  const auto r = run({"text-to-chart", "old.txt", "--chart", "old"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("all 2 dated lines lie before the start date 19600101"), std::string::npos) << r.err;
  // Some lines before the start date are what --start is for.
  const auto partly = run({"text-to-chart", "prices.txt", "--chart", "p", "--start", "19990105"});
  EXPECT_EQ(partly.status, 0) << partly.err;
}

TEST_F(BatchCli, TechToolsRecordsOutOfOrderAreSortedIn) {
  Bytes tt(16, 0);
  tt[0] = 0xFD;
  tt[1] = 0xFF;
  for (unsigned serial : {36527u, 36526u, 36526u, 36530u}) {
    Bytes rec(16, 0);
    rec[0] = static_cast<unsigned char>(serial);
    rec[1] = static_cast<unsigned char>(serial >> 8);
    for (int k = 2; k < 10; k += 2) rec[k] = 8;  // open, high, low and close 1.0
    tt.insert(tt.end(), rec.begin(), rec.end());
  }
  write_file(data_.file("f.tt"), tt);
  const auto r = run({"techtools", "f.tt", "--to", "f", "--errors", data_.file("tt.log")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("sorted by date (2 records out of order, 1 of a repeated date)"), std::string::npos)
      << r.out;
  EXPECT_EQ(dates_of(read_file(data_.file("f"))), (std::vector<std::int32_t>{20000101, 20000102, 20000105}));
}

// A TechTools file of price type 0 (whole units): serial, open, high, low,
// close; volume 1000.
Bytes techtools(const std::vector<std::vector<unsigned>>& recs) {
  Bytes tt(16, 0);
  for (const auto& r : recs) {
    for (unsigned v : r) tt.insert(tt.end(), {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8)});
    tt.insert(tt.end(), {0xE8, 0x03, 0, 0, 0, 0});
  }
  return tt;
}

// A five-line quote record: close and volume on the first line, open, high
// and low on the third.
std::string quote(const std::string& sym, const char* close, const char* vol, const char* open,
                  const char* high, const char* low) {
  std::string l1 = sym, l3;
  l1.resize(22, ' ');
  l1 += close;
  l1.resize(66, ' ');
  l1 += vol;
  l3.resize(42, ' ');
  l3 += open;
  l3.resize(54, ' ');
  l3 += high;
  l3.resize(66, ' ');
  l3 += low;
  return l1 + "\n\n" + l3 + "\n\n\n";
}

TEST_F(BatchCli, ImportsStoreBarsThatBreakTheBarRulesButSaySoAndRefuseFilesMostlyOfThem) {
  // Each import: sound records and one breaking each rule its format can
  // break; then a file where most records break them.
  write_file(data_.file("some.tt"), techtools({{36526, 10, 11, 9, 10},
                                               {36527, 10, 9, 11, 10},  // high below low
                                               {36528, 12, 13, 11, 14},  // close above the high
                                               {36529, 0, 0, 0, 0},      // prices of 0
                                               {36530, 10, 11, 9, 10},
                                               {36531, 10, 11, 9, 10},
                                               {36532, 10, 11, 9, 10}}));
  write_file(data_.file("most.tt"), techtools({{36526, 10, 9, 11, 10}, {36527, 0, 0, 0, 0}, {36528, 10, 11, 9, 10}}));
  write_text(data_.file("some.q"), quote("AA", "10", "100", "10", "11", "9") +
                                       quote("HL", "10", "100", "10", "9", "11") +     // high below low
                                       quote("OR", "12", "100", "10", "11", "9") +     // close above the high
                                       quote("ZP", "10", "100", "10", "11", "") +      // no low: 0
                                       quote("NV", "10", "-5", "10", "11", "9") +      // negative volume
                                       quote("BB", "10", "100", "10", "11", "9") +
                                       quote("CC", "10", "100", "10", "11", "9") +
                                       quote("DD", "10", "100", "10", "11", "9"));
  write_text(data_.file("most.q"), quote("MA", "10", "100", "10", "11", "9") +
                                       quote("HL", "10", "100", "10", "9", "11") + quote("ZP", "0", "1", "0", "0", "0"));
  write_text(data_.file("991231.STK"),
             "AA,10,11,9,10,100,0\nHL,10,9,11,10,100,0\nOR,8,11,9,10,100,0\nNP,10,11,-1,10,100,0\n"
             "NI,10,11,9,10,100,-3\nBB,10,11,9,10,100,0\nCC,10,11,9,10,100,0\nDD,10,11,9,10,100,0\n");
  write_text(data_.file("991230.STK"), "MA,10,11,9,10,100,0\nHL,10,9,11,10,100,0\nOR,12,11,9,10,100,0\n");
  struct Row {
    std::vector<std::string> args;
    int status;
    const char* says;    // the line on standard error, from after the source's name
    const char* logged;  // the first line of the --errors log
    const char* chart;   // a chart the import writes; refused: it is not there
  };
  const Row rows[] = {
      {{"techtools", "some.tt", "--to", "some"},
       1,
       "some.tt: 3 bars break the bar rules (1 high below low, 2 open or close outside high-low, 1 price of 0 "
       "or less); first: 20000102 high below low, open or close outside high-low, 20000103 open or close "
       "outside high-low, 20000104 price of 0 or less",
       "some.tt:2: stored a bar that breaks the bar rules (high below low, open or close outside high-low): "
       "20000102",
       "some"},
      {{"quickquote", "some.q", "--date", "991231"},
       1,
       "some.q: 4 bars break the bar rules (1 high below low, 2 open or close outside high-low, 1 price of 0 "
       "or less, 1 negative volume or open interest); first: hl 19991231 high below low, open or close outside "
       "high-low, or 19991231 open or close outside high-low, zp 19991231 price of 0 or less",
       "some.q:6: stored a bar that breaks the bar rules (high below low, open or close outside high-low): hl "
       "19991231",
       "hl"},
      {{"investorlink", "991231.STK"},
       1,
       "991231.STK: 4 bars break the bar rules (1 high below low, 2 open or close outside high-low, 1 price of "
       "0 or less, 1 negative volume or open interest); first: hl 19991231 high below low, open or close "
       "outside high-low, or 19991231 open or close outside high-low, np 19991231 price of 0 or less",
       "991231.STK:2: stored a bar that breaks the bar rules (high below low, open or close outside high-low): "
       "hl 19991231",
       "stk_h/hl"},
      {{"techtools", "most.tt", "--to", "most"},
       3,
       "most.tt is not a TechTools file: 2 of its 3 records break the bar rules (1 high below low, 1 open or "
       "close outside high-low, 1 price of 0 or less); nothing stored",
       "most.tt:1: breaks the bar rules (high below low, open or close outside high-low): 20000101",
       "most"},
      {{"quickquote", "most.q", "--date", "991231"},
       3,
       "most.q is not a quick-quote file: 2 of its 3 quotes break the bar rules (1 high below low, 1 open or "
       "close outside high-low, 1 price of 0 or less); nothing stored",
       "most.q:6: breaks the bar rules (high below low, open or close outside high-low): hl 19991231",
       "ma"},
      {{"investorlink", "991230.STK"},
       3,
       "991230.STK is not an InvestorLink file: 2 of its 3 lines break the bar rules (1 high below low, 2 open "
       "or close outside high-low); nothing stored",
       "991230.STK:2: breaks the bar rules (high below low, open or close outside high-low): hl 19991230",
       "stk_m/ma"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args[1]);
    std::vector<std::string> args = row.args;
    args.insert(args.end(), {"--errors", data_.file("bars.log")});
    const auto r = run(args);
    EXPECT_EQ(r.status, row.status) << r.err;
    EXPECT_EQ(r.err, std::string("morva-convert: ") + row.says + "\n");
    const std::string log = read_text(data_.file("bars.log"));
    EXPECT_EQ(log.substr(0, log.find('\n')), row.logged) << log;
    EXPECT_EQ(lines_of(log), row.status == 1 ? 3 : 2);  // the first few
    EXPECT_EQ(file_exists(data_.file(row.chart)), row.status == 1);
  }
}

TEST_F(BatchCli, DryRunShowsTheFirstBarsAndWritesNothing) {
  std::string text;
  for (int d = 1; d <= 28; ++d)
    text += "199902" + std::string(d < 10 ? "0" : "") + std::to_string(d) + ",1,2,0.5,1.5,10,0\n";
  write_text(data_.file("feb.txt"), text);
  const auto before = batch_test::tree(data_.path());
  const auto r = run({"text-to-chart", "feb.txt", "--chart", "feb", "--dry-run"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(batch_test::tree(data_.path()) == before) << batch_test::names(batch_test::tree(data_.path()));
  EXPECT_NE(r.out.find("feb.txt: new chart txt_f/feb (daily): 28 bars, 19990201 to 19990228"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("19990210"), std::string::npos);
  EXPECT_EQ(r.out.find("19990211"), std::string::npos);  // only the first ten
  EXPECT_NE(r.out.find("... 18 more"), std::string::npos);

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"weekly", "ibm", "--to", "w", "-n"},
        {"compress", "ibm", "--to", "n", "--count", "2", "-n"},
        {"adjust", "ibm", "--to", "a", "--op", "*", "--constant", "2", "-n"},
        {"chart-to-text", "ibm", "--to", "exists.txt", "-n"}}) {
    const auto d = run(args);
    EXPECT_EQ(d.status, 0) << args[0] << ": " << d.err;
    EXPECT_NE(d.out.find("ibm"), std::string::npos) << d.out;
    EXPECT_TRUE(batch_test::tree(data_.path()) == before) << args[0];
  }
}

// Lines stamped with a time of day get synthetic dates, a day per 30 lines
// of the whole run: the second text goes on where the first (its first two
// dates read for the chart type, then its 20 lines) left the count.
TEST_F(BatchCli, TimeOfDayDatesGoOnFromTextToText) {
  for (const char* sym : {"a", "b"}) {
    std::string text;
    for (int i = 0; i < 20; ++i) text += std::string(sym) + ",10:" + std::to_string(10 + i) + ":00,1,2,0.5,1\n";
    write_text(data_.file(std::string(sym) + ".txt"), text);
  }
  const auto r = run({"text-to-chart", "a.txt", "b.txt", "--order", "SDOHLC", "--date-format", "mm/dd/yy",
                      "--type", "daily", "--start", "19000101"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(dates_of(read_file(data_.file("txt_a/a"))), std::vector<std::int32_t>(20, 19480914));
  std::vector<std::int32_t> b(9, 19480914);  // a's 20 lines, then b's first 9 make 29
  b.resize(20, 19480915);
  EXPECT_EQ(dates_of(read_file(data_.file("txt_b/b"))), b);
}

// The index file of a chart is looked up beside it, whatever the length of
// its path.
TEST_F(BatchCli, FoldsOfAChartDeepInFolders) {
  const std::string deep = std::string(60, 'd') + "/" + std::string(60, 'e');
  data_.mkdirs(deep + "/idx");
  write_file(data_.file(deep + "/ibm"), read_file(data_.file("ibm")));
  write_text(data_.file(deep + "/idx/ibm"), "990101 2\n");
  const auto r = run({"weekly", deep + "/ibm", "--to", "w"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(dates_of(read_file(data_.file("w"))).size(), 2u);
}

TEST_F(BatchCli, BackupKeepsTheVersionBeforeTheRun) {
  data_.mkdirs("txt_i");
  const Bytes old = chart('D', {bar(19981231, 5)});
  write_file(data_.file("txt_i/ibm"), old);
  auto r = run({"text-to-chart", "prices.txt", "--chart", "ibm", "--backup"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(data_.file("txt_i/ibm.bak")), old);
  const Bytes second = read_file(data_.file("txt_i/ibm"));
  EXPECT_EQ(dates_of(second), (std::vector<std::int32_t>{19981231, 19990104, 19990105}));

  r = run({"text-to-chart", "far.txt", "--chart", "ibm", "--type", "d", "--backup"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(data_.file("txt_i/ibm.bak")), second);
  // No stray copies are left beside the chart.
  EXPECT_EQ(list_dir(data_.file("txt_i")), (std::vector<std::string>{"ibm", "ibm.bak"}));

  // A target that did not exist has nothing to keep; one that did is kept.
  r = run({"compress", "ibm", "--to", "n", "--count", "2", "--backup"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(file_exists(data_.file("n.bak")));
  const Bytes numbered = read_file(data_.file("n"));
  r = run({"compress", "ibm", "--to", "n", "--count", "3", "--backup"});
  EXPECT_EQ(read_file(data_.file("n.bak")), numbered);
}

TEST_F(BatchCli, WindowSetupAndDefaultsChooseTheDirectoryAndLayout) {
  // setup.mrv names the data directory; morvautl.dat holds the layout
  // SDOHLCVI with blanks.
  TempDir data("mcvd");
  ASSERT_LE(data.path().size(), 24u);
  Bytes setup(62, 0);
  setup[0] = 'P';
  std::memcpy(&setup[26], data.path().data(), data.path().size());
  write_file(start_.file("setup.mrv"), setup);
  Bytes defaults(25, 0);
  std::memcpy(&defaults[1], "SDOHLCVI    ", 12);
  defaults[14] = ' ';
  std::memcpy(&defaults[15], "19600101", 8);
  write_file(start_.file("morvautl.dat"), defaults);
  write_text(data.file("q.prn"), "IBM 19990104 1 2 0.5 1.5 10 0\nIBM 19990105 1 2 0.5 1.5 10 0\n"
                                 "MSFT US 19990104 3 4 2 3.5 30000\n");
  const Bytes setup_before = read_file(start_.file("setup.mrv"));

  const auto r = batch_test::run({"text-to-chart", data.file("q.prn"), "--start-dir", start_.path()},
                                 start_.path(), elsewhere_.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(dates_of(read_file(data.file("stk_i/ibm"))), (std::vector<std::int32_t>{19990104, 19990105}));
  // The word after the symbol is passed over.
  EXPECT_EQ(dates_of(read_file(data.file("stk_m/msft"))), (std::vector<std::int32_t>{19990104}));
  // A refusal of the order says where it came from.
  const auto named = batch_test::run({"text-to-chart", data.file("q.prn"), "--chart", "x", "--start-dir",
                                      start_.path()}, start_.path(), elsewhere_.path());
  EXPECT_EQ(named.status, 2);
  EXPECT_NE(named.err.find("order SDOHLCVI (from the saved settings morvautl.dat)"), std::string::npos)
      << named.err;
  // The window's files are only read.
  EXPECT_EQ(read_file(start_.file("setup.mrv")), setup_before);
  EXPECT_EQ(read_file(start_.file("morvautl.dat")), defaults);

  // Without a setup file the current directory is the data directory.
  write_text(elsewhere_.file("p.txt"), "19990104,1,2,0.5,1.5,10,0\n19990105,1,2,0.5,1.5,10,0\n");
  TempDir empty_start("mcv-none");
  const auto here =
      batch_test::run({"text-to-chart", "p.txt", "--chart", "p", "--start-dir", empty_start.path()},
                      empty_start.path(), elsewhere_.path());
  EXPECT_EQ(here.status, 0) << here.err;
  EXPECT_TRUE(file_exists(elsewhere_.file("txt_p/p")));
}

TEST_F(BatchCli, ShowPrintsTheBarsAndWhatLooksWrong) {
  auto r = run({"show", "ibm", "--last", "1"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("type:        D (daily)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("dates:       19990104 to 19990111"), std::string::npos);
  EXPECT_NE(
      r.out.find(
          "       3 19990111      12.0000      13.0000      11.0000      12.5000        1000           2"),
      std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find(" 19990104      10.0000"), std::string::npos);
  EXPECT_NE(r.out.find("problems:    none"), std::string::npos);

  Bytes bad = chart('Q', {bar(19990105, 1), bar(19990104, 2), bar(19990104, 3)});
  bad.insert(bad.end(), {1, 2, 3});
  write_file(data_.file("bad"), bad);
  r = run({"show", "bad"});
  EXPECT_EQ(r.status, 1);
  for (const char* says : {"not D, W, M or N", "3 bytes after the last whole bar",
                           "bar 2 (19990104) is not after bar 1", "bar 3 (19990104) is not after bar 2"})
    EXPECT_NE(r.out.find(says), std::string::npos) << says << "\n" << r.out;
}

TEST_F(BatchCli, PlotDrawsEachChartAndListsItsBadBars) {
  write_file(data_.file("bad"), chart('D', {bar(19990105, 5), bar(19990104, 6), bar(19990104, 7)}));
  auto r = run({"plot", "ibm", "bad", "-o", "adir", "--format", "svg"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.err,
            "morva-convert: bad: 2 bad bars, marked where shown: bar 2 (19990104) out of order; "
            "bar 3 (19990104) same date as the bar before\n");
  EXPECT_EQ(r.out, "adir/ibm.svg: 3 bars of ibm\nadir/bad.svg: 3 bars of bad\n");
  for (const char* picture : {"adir/ibm.svg", "adir/bad.svg"})
    EXPECT_EQ(read_text(data_.file(picture)).rfind("<?xml", 0), 0u) << picture;
  // A picture never replaces a chart nor another picture of the same run.
  write_file(data_.file("c.png"), chart('D', {bar(19990105, 1)}));
  data_.mkdirs("other");
  write_file(data_.file("other/ibm"), chart('D', {bar(19990105, 1)}));
  for (const auto& args : {std::vector<std::string>{"plot", "c.png", "-o", "c.png"},
                           std::vector<std::string>{"plot", "ibm", "other/ibm", "-o", "adir"}}) {
    r = run(args);
    EXPECT_EQ(r.status, 2) << args[1];
    EXPECT_NE(r.err.find("would"), std::string::npos) << r.err;
  }
  EXPECT_EQ(read_file(data_.file("c.png")), chart('D', {bar(19990105, 1)}));
  r = run({"plot", "ibm", "-o", "ibm.png", "--from", "19990201"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("ibm: no bars in the range asked; nothing drawn"), std::string::npos) << r.err;
  EXPECT_FALSE(file_exists(data_.file("ibm.png")));
  // What the chart check finds beyond the marked bars is named too.
  write_file(data_.file("units"), chart('D', {bar(19990104, 10), bar(19990105, 11), bar(19990106, 1150)}));
  r = run({"plot", "units", "-o", "adir/u.png"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "morva-convert: units: 1 unit-jump (bar 3, 19990106); morva-convert check units lists them "
                   "with the commands that mend them\n");
  // --to names the picture; a date there is the last date, with a warning.
  r = run({"plot", "ibm", "--to", "adir/t.png", "--until", "19990105"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "adir/t.png: 2 bars of ibm\n");
  r = run({"plot", "ibm", "-o", "adir/t.png", "--to", "19990105"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "morva-convert: --to 19990105 is read as --until 19990105: --to names the picture now\n");
  EXPECT_EQ(r.out, "adir/t.png: 2 bars of ibm\n");
  r = run({"plot", "ibm", "-o", "ibm.png", "--size", "300x200", "--log", "-q"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_GT(read_file(data_.file("ibm.png")).size(), 8u);
}

// A chart whose path is longer than any name field of the window: the
// commands that read its index file build that name whole.
TEST_F(BatchCli, ChartsWithLongPathsAreFoldedAndAdjusted) {
  const std::string chart = std::string(120, 'd') + "/ibm";
  data_.mkdirs(std::string(120, 'd'));
  write_file(data_.file(chart), read_file(data_.file("ibm")));
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"weekly", chart, "--to", "w"}, {"monthly", chart, "--to", "m"},
        {"adjust", chart, "--to", "a", "--op", "+", "--constant", "1"}}) {
    const auto r = run(args);
    EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
  }
  EXPECT_EQ(list_dir(data_.file(std::string(120, 'd'))), (std::vector<std::string>{"ibm", "idx"}));
}

TEST_F(BatchCli, PlotWithoutThePictureProgramBesideItFailsAndDrawsNothing) {
  const std::string alone = elsewhere_.file("morva-convert");
  ASSERT_TRUE(write_file(alone, read_file(batch_test::program())));
  ASSERT_EQ(::chmod(alone.c_str(), 0700), 0);
  batch_test::Started p = batch_test::start(
      {"plot", "ibm", "-o", "ibm.png", "--data-dir", data_.path(), "--start-dir", start_.path()},
      start_.path(), data_.path(), alone);
  const batch_test::Outcome r = batch_test::finish(p);
  EXPECT_EQ(r.status, 3);
  // Looked for beside the copy (its folder as the system resolves it).
  EXPECT_EQ(r.err.rfind("morva-convert: cannot start the picture program /", 0), 0u) << r.err;
  const std::string folder = elsewhere_.path().substr(elsewhere_.path().rfind('/'));
  EXPECT_TRUE(r.err.ends_with(folder + "/morva-plot: No such file or directory\n")) << r.err;
  EXPECT_FALSE(file_exists(data_.file("ibm.png")));
}

TEST_F(BatchCli, ListsWorkAsInTheWindow) {
  write_text(data_.file("aa.txt"), "19990104,1,2,0.5,1.5,10,0\n19990105,1,2,0.5,1.5,10,0\n");
  write_text(data_.file("two!"), "aa.txt\nprices.txt\n^\nmissing.txt\n");
  const auto r = run({"text-to-chart", "two!"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(file_exists(data_.file("txt_a/aa")));
  EXPECT_TRUE(file_exists(data_.file("txt_p/prices")));
  // A list of charts into a directory, each under its own name.
  data_.mkdirs("weeks");
  write_text(data_.file("charts!"), "ibm\ntxt_a/aa\n");
  const auto w = run({"weekly", "charts!", "--to", "weeks"});
  EXPECT_EQ(w.status, 0) << w.err;
  EXPECT_EQ(list_dir(data_.file("weeks")), (std::vector<std::string>{"aa", "ibm"}));
}

}  // namespace

TEST_F(BatchCli, SignalStopsBetweenChartsAndLeavesOnlyWholeCharts) {
  std::string text;
  char line[64];
  for (int i = 0; i < 30000; ++i) {
    std::snprintf(line, sizeof line, "S%05d,19990104,1,2,0.5,1.5,100,1\n", i);
    text += line;
  }
  write_text(data_.file("many.txt"), text);
  TempDir capture("mcv-sig");
  std::vector<std::string> args_s = {
      batch_test::program(), "text-to-chart", data_.file("many.txt"), "--order", "SDOHLCVI", "--type", "d", "-q",
      "--data-dir",          data_.path(),    "--start-dir", start_.path()};
  std::vector<char*> argv;
  for (std::string& a : args_s) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 2, capture.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&fa);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  ::kill(pid, SIGTERM);
  int st = 0;
  ASSERT_EQ(waitpid(pid, &st, 0), pid);
  ASSERT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 3);
  const std::string err = read_text(capture.file("err"));
  EXPECT_EQ(lines_of(err), 1);
  EXPECT_NE(err.find("stopped by a signal"), std::string::npos) << err;
  const std::vector<std::string> charts = list_dir(data_.file("txt_s"));
  EXPECT_LT(charts.size(), 30000u);
  for (const std::string& c : charts)
    ASSERT_EQ(read_file(data_.file("txt_s/" + c)).size(), kHeaderSize + kBarSize) << c;
}

// Two runs storing different days into one chart at the same moment, 200
// times: no run's bar is ever lost, and a run that exits 0 has its bar in
// the chart.  The later day sometimes lands first, so both the append in
// place and the splice meet the other run.
TEST_F(BatchCli, TwoRunsIntoOneChartLoseNoUpdate) {
  write_text(data_.file("a.txt"), "IBM,19990201,1,2,0.5,1.5,100,1\n");
  write_text(data_.file("b.txt"), "IBM,19990202,3,4,2.5,3.5,200,2\n");
  data_.mkdirs("txt_i");
  const Bytes base = chart('D', {bar(19990104, 10), bar(19990105, 11)});
  auto args = [&](const char* text) {
    return std::vector<std::string>{"text-to-chart", data_.file(text), "--order", "SDOHLCVI", "--type", "d", "-q",
                                    "--data-dir", data_.path(), "--start-dir", start_.path()};
  };
  int lost = 0, told_wrongly = 0, failed = 0;
  for (int trial = 0; trial < 200; ++trial) {
    ASSERT_TRUE(write_file(data_.file("txt_i/ibm"), base));
    batch_test::Started a = batch_test::start(args("a.txt"), start_.path(), elsewhere_.path());
    batch_test::Started b = batch_test::start(args("b.txt"), start_.path(), elsewhere_.path());
    const batch_test::Outcome oa = batch_test::finish(a), ob = batch_test::finish(b);
    const std::vector<std::int32_t> dates = dates_of(read_file(data_.file("txt_i/ibm")));
    const bool has_a = std::count(dates.begin(), dates.end(), 19990201) == 1;
    const bool has_b = std::count(dates.begin(), dates.end(), 19990202) == 1;
    if (!has_a || !has_b) ++lost;
    if ((oa.status == 0 && !has_a) || (ob.status == 0 && !has_b)) ++told_wrongly;
    if (oa.status != 0 || ob.status != 0) ++failed;
    EXPECT_TRUE(std::is_sorted(dates.begin(), dates.end())) << trial;
  }
  EXPECT_EQ(lost, 0);
  EXPECT_EQ(told_wrongly, 0);
  EXPECT_EQ(failed, 0);  // the second run waits for the first: neither fails
}

// An update of many charts killed at any moment leaves every chart whole
// (its old bars, or its old bars and the new one) and the next run
// completes it.  (By hand the same ran with 4,000 charts, 100 times.)
TEST_F(BatchCli, KilledUpdateLeavesWholeChartsAndTheNextRunCompletesIt) {
  constexpr int kCharts = 200;
  std::string text;
  char line[64];
  for (int i = 0; i < kCharts; ++i) {
    std::snprintf(line, sizeof line, "S%05d,19990301,1,2,0.5,1.5,100,1\n", i);
    text += line;
  }
  write_text(data_.file("day.txt"), text);
  const Bytes base = chart('D', {bar(19990104, 10), bar(19990105, 11)});
  auto name = [](int i) {
    char n[16];
    std::snprintf(n, sizeof n, "txt_s/s%05d", i);
    return std::string(n);
  };
  const std::vector<std::string> args = {"text-to-chart", data_.file("day.txt"), "--order", "SDOHLCVI", "--type", "d", "-q",
                                         "--data-dir", data_.path(), "--start-dir", start_.path()};
  data_.mkdirs("txt_s");
  for (int trial = 0; trial < 3; ++trial) {
    for (int i = 0; i < kCharts; ++i) ASSERT_TRUE(write_file(data_.file(name(i)), base));
    batch_test::Started run = batch_test::start(args, start_.path(), elsewhere_.path());
    // Where the kill lands differs from trial to trial; the verdict does not.
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + 20 * trial));
    ::kill(run.pid, SIGKILL);
    batch_test::finish(run);
    for (int i = 0; i < kCharts; ++i) {
      const Bytes got = read_file(data_.file(name(i)));
      ASSERT_TRUE(got.size() == base.size() || got.size() == base.size() + kBarSize) << name(i);
      // The old bars and header (the header's last date may be new).
      EXPECT_TRUE(std::equal(base.begin() + kHeaderSize, base.end(), got.begin() + kHeaderSize)) << name(i);
      EXPECT_TRUE(std::equal(base.begin(), base.begin() + kHeaderDateOffset, got.begin())) << name(i);
      if (got.size() > base.size()) {
        EXPECT_EQ(dates_of(got).back(), 19990301) << name(i);
      }
    }
    const batch_test::Outcome again = batch_test::run(args, start_.path(), elsewhere_.path());
    EXPECT_EQ(again.status, 0) << again.err;
    for (int i = 0; i < kCharts; ++i)
      ASSERT_EQ(dates_of(read_file(data_.file(name(i)))), (std::vector<std::int32_t>{19990104, 19990105, 19990301}))
          << name(i);
  }
}

namespace {

// The words of a shell line as the README writes them: blanks separate,
// single quotes group, '#' starts a comment.
std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> out;
  std::string w;
  bool quoted = false, any = false;
  for (char c : line) {
    if (quoted) {
      if (c == '\'')
        quoted = false;
      else
        w += c;
    } else if (c == '\'') {
      quoted = any = true;
    } else if (c == '#') {
      break;
    } else if (c == ' ') {
      if (any) out.push_back(w);
      w.clear();
      any = false;
    } else {
      w += c;
      any = true;
    }
  }
  if (any) out.push_back(w);
  return out;
}

TEST(BatchReadme, SampleCommandsConvertTheShippedSamples) {
  const std::string readme = read_text(std::string(MORVA_SOURCE_DIR) + "/README.md");
  const std::size_t at = readme.find("convert the shipped samples");
  ASSERT_NE(at, std::string::npos);
  TempDir data("mcv-readme"), start("mcv-rstart");
  for (const std::string& name : list_dir(std::string(MORVA_SOURCE_DIR) + "/samples"))
    write_file(data.file(name), read_file(std::string(MORVA_SOURCE_DIR) + "/samples/" + name));
  int commands = 0;
  std::size_t pos = readme.find('\n', at);
  while (pos != std::string::npos && pos + 1 < readme.size()) {
    const std::size_t end = readme.find('\n', pos + 1);
    const std::string line = readme.substr(pos + 1, end - pos - 1);
    pos = end;
    if (line.rfind("    $M ", 0) != 0) {
      if (commands > 0 && line.rfind("    ", 0) != 0 && !line.empty()) break;
      continue;
    }
    std::vector<std::string> args = words(line.substr(7));
    args.insert(args.begin(), {"--data-dir", data.path(), "--start-dir", start.path()});
    const auto r = batch_test::run(args, start.path(), data.path());
    EXPECT_EQ(r.status, 0) << line << "\n" << r.err;
    ++commands;
  }
  EXPECT_GE(commands, 6);
  for (const char* chart : {"txt_i/ibm", "txt_a/aapl", "csv_m/msft", "txt_g/gold", "stk_a/abc", "ibm.W"}) {
    const Bytes b = read_file(data.file(chart));
    EXPECT_GT(b.size(), kHeaderSize) << chart;
    EXPECT_EQ((b.size() - kHeaderSize) % kBarSize, 0u) << chart;
  }
}

}  // namespace

namespace {

// Weekdays from 19990104 on, a walk within 1 %, volumes near 10,000.
std::vector<BarRecord> quiet_walk(int n, float from = 40) {
  std::vector<BarRecord> bars;
  std::uint32_t s = 5;
  int day = dton(19990104);
  for (float p = from; static_cast<int>(bars.size()) < n; ++day) {
    if ((day + 4) % 7 >= 5) continue;
    s = s * 69069u + 1u;
    const float c = p * (1 + (static_cast<int>(s % 201) - 100) / 10000.0f);
    bars.push_back(::bar(ntod(day), p, std::max(p, c) + 0.1f, std::min(p, c) - 0.1f, c, 10000 + s % 100, 0));
    p = c;
  }
  return bars;
}

}  // namespace

TEST_F(BatchCli, CheckReportsEveryChartOfTheTreeAndWritesNothing) {
  data_.mkdirs("tree/csv_a");
  data_.mkdirs("tree/csv_b");
  write_file(data_.file("tree/csv_a/clean"), chart('D', quiet_walk(60)));
  std::vector<BarRecord> faulty = quiet_walk(60);
  faulty[30].high = faulty[30].low - 1;
  faulty[40].date = faulty[39].date;
  write_file(data_.file("tree/csv_b/faulty"), chart('D', faulty));
  write_text(data_.file("tree/csv_b/notes.txt"), "Date,Close\n2024-01-02,1\n");
  const auto before = batch_test::tree(data_.path());

  auto r = run({"check", "tree"});
  EXPECT_EQ(r.status, 1) << r.err;
  for (const char* says : {"tree/csv_b/faulty: bar 31: 19990215: high-below-low: high below low",
                           "tree/csv_b/faulty: bar 41: 19990226: duplicate-date: is not after bar 40: the same date; "
                           "fix: morva-convert --data-dir ",
                           "tree/csv_b/notes.txt: bar -: -: not-a-chart: it is not a chart",
                           "checked 2 charts: 4 findings", "  structure not-a-chart: 1", "  order duplicate-date: 1"})
    EXPECT_NE(r.out.find(says), std::string::npos) << says << "\n" << r.out;
  EXPECT_EQ(r.out.find("csv_a/clean:"), std::string::npos) << r.out;
  r = run({"check", "tree/csv_b/faulty", "--json"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("{\"chart\":\"tree/csv_b/faulty\",\"bar\":31,\"date\":19990215,\"kind\":\"high-below-low\","
                       "\"group\":\"values\""),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("{\"summary\":{\"charts\":1,\"findings\":3,\"kinds\":{"), std::string::npos) << r.out;
  EXPECT_EQ(run({"check", "tree/csv_a"}).status, 0);
  // A chart that cannot be read: status 3, the others still checked.
  ASSERT_EQ(symlink("nowhere", data_.file("tree/csv_a/gone").c_str()), 0);
  r = run({"check", "tree/csv_a"});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.out.find("checked 1 chart: no findings"), std::string::npos) << r.out;
  ::unlink(data_.file("tree/csv_a/gone").c_str());
  EXPECT_TRUE(batch_test::tree(data_.path()) == before);

  // show takes several charts and refuses what is no chart.
  r = run({"show", "tree/csv_a/clean", "tree/csv_b/notes.txt", "tree/csv_b/faulty", "--first", "1"});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("tree/csv_b/notes.txt is not a chart"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("bar 31 (19990215) high below low"), std::string::npos) << r.out;
  EXPECT_EQ(run({"show", "tree"}).status, 3);

  // repair mends the repeated date only; the value stays for the user.
  r = run({"repair", "tree", "--dry-run"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("tree/csv_b/faulty: would be mended: dropped 1 earlier bar "), std::string::npos) << r.out;
  EXPECT_TRUE(batch_test::tree(data_.path()) == before);
  r = run({"repair", "tree", "--backup"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("mended 1 chart"), std::string::npos) << r.out;
  EXPECT_EQ(read_file(data_.file("tree/csv_b/faulty.bak")), before.at("tree/csv_b/faulty"));
  EXPECT_EQ(dates_of(read_file(data_.file("tree/csv_b/faulty"))).size(), 59u);
  r = run({"check", "tree/csv_b/faulty"});
  EXPECT_NE(r.out.find("checked 1 chart: 2 findings"), std::string::npos) << r.out;
}

TEST_F(BatchCli, CorporateActionsAreAppliedOnceAndUndoneByTheirRun) {
  data_.mkdirs("csv_a");
  std::vector<BarRecord> a = quiet_walk(40), b = quiet_walk(40, 80);
  write_file(data_.file("csv_a/aapl"), chart('D', a));
  write_file(data_.file("csv_a/msft.M"), chart('D', b));
  write_text(elsewhere_.file("actions.csv"),
             "\xEF\xBB\xBFSymbol;Ex-Date;Split;Dividend\r\nAAPL;1999-02-01;4:1;\r\nmsft;19990201;;0,8\r\n"
             "MSFT;01.02.1999;2;\r\nIBMX;19990201;2:1;\r\naapl;19990201;x;\r\n");
  const auto before = batch_test::tree(data_.path());
  auto r = run_from(elsewhere_.path(), {"adjust", "--actions", "actions.csv"});
  EXPECT_EQ(r.status, 1) << r.err;  // the unknown symbol and the bad ratio are passed over
  EXPECT_NE(r.err.find("line 5: no chart of IBMX"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("line 6: 'x' is not a split ratio"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("csv_a/msft.M: dividend 0.8 before 19990201, split 2:1 before 19990201: 20 bars adjusted"),
            std::string::npos)
      << r.out;
  const Bytes aapl = read_file(data_.file("csv_a/aapl"));
  EXPECT_FLOAT_EQ(f32_at(aapl, kHeaderSize + 16), a[0].close / 4);
  EXPECT_EQ(le32_at(aapl, kHeaderSize + 20), a[0].volume * 4);
  EXPECT_EQ(decode_bar(&aapl[kHeaderSize + 20 * kBarSize]).close, a[20].close);  // the ex-date
  const std::size_t run_at = r.out.find("adjust --undo ");
  ASSERT_NE(run_at, std::string::npos) << r.out;
  const std::string id = r.out.substr(run_at + 14, r.out.find_first_of(" \n", run_at + 14) - run_at - 14);

  // The second run finds every action in the journal and changes nothing.
  const auto once = batch_test::tree(data_.path());
  r = run_from(elsewhere_.path(), {"adjust", "--actions", "actions.csv"});
  EXPECT_NE(r.out.find("csv_a/aapl: split 4:1 before 19990201 was applied in run " + id + "; not applied again"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("no chart was changed"), std::string::npos) << r.out;
  EXPECT_TRUE(batch_test::tree(data_.path()) == once);

  // --undo gives back the bytes from before the run; a second undo has nothing to do.
  r = run({"adjust", "--undo", id});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(data_.file("csv_a/aapl")), before.at("csv_a/aapl"));
  EXPECT_EQ(read_file(data_.file("csv_a/msft.M")), before.at("csv_a/msft.M"));
  EXPECT_EQ(run({"adjust", "--undo", id}).status, 2);
  // Undone actions may be applied again; a chart changed after its run is not given back.
  r = run_from(elsewhere_.path(), {"adjust", "--actions", "actions.csv"});
  const std::size_t again = r.out.find("adjust --undo ");
  ASSERT_NE(again, std::string::npos) << r.out;
  write_file(data_.file("csv_a/aapl"), chart('D', a));
  r = run({"adjust", "--undo", r.out.substr(again + 14, r.out.find_first_of(" \n", again + 14) - again - 14)});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("csv_a/aapl: not given back: it changed after the run"), std::string::npos) << r.err;
  EXPECT_EQ(read_file(data_.file("csv_a/msft.M")), before.at("csv_a/msft.M"));
}

TEST_F(BatchCli, AdjustByDateInPlaceAndItsRefusals) {
  std::vector<BarRecord> a = quiet_walk(10);
  write_file(data_.file("aapl"), chart('D', a));
  const Bytes before = read_file(data_.file("aapl"));
  const Refusal cases[] = {
      {{"adjust", "aapl", "--in-place", "--split", "4"}, 2, "--split '4'"},
      {{"adjust", "aapl", "--in-place", "--split", "4:1", "--before", "1999-13-01"}, 2, "--before"},
      {{"adjust", "aapl", "--in-place", "--dividend", "1"}, 2, "--before DATE"},
      {{"adjust", "aapl", "--in-place", "--to", "x", "--split", "2:1"}, 2, "no --to"},
      {{"adjust", "aapl", "--split", "2:1"}, 2, "--in-place"},
      {{"adjust", "aapl", "--in-place", "--split", "2:1", "--op", "+", "-k", "1"}, 2, "give one of"},
      {{"adjust", "aapl", "--in-place", "--dividend", "100", "--before", "19990108"}, 3, "not between 0 and 1"},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.args[3]);
    const auto r = run(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(read_file(data_.file("aapl")), before);
  }
  auto r = run({"adjust", "aapl", "--in-place", "--backup", "--dividend", "0.4", "--before", "19990108"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(data_.file("aapl.bak")), before);
  const Bytes after = read_file(data_.file("aapl"));
  EXPECT_FLOAT_EQ(f32_at(after, kHeaderSize + 16), float(a[0].close * (1 - 0.4 / a[3].close)));
  EXPECT_EQ(decode_bar(&after[kHeaderSize + 4 * kBarSize]).close, a[4].close);
  r = run({"adjust", "aapl", "--to", "a2", "--op", "*", "-k", "2", "--from", "19990106", "--until", "19990107"});
  EXPECT_EQ(r.status, 0) << r.err;
  const Bytes a2 = read_file(data_.file("a2"));
  EXPECT_EQ(decode_bar(&a2[kHeaderSize + kBarSize]).close, decode_bar(&after[kHeaderSize + kBarSize]).close);
  EXPECT_FLOAT_EQ(decode_bar(&a2[kHeaderSize + 2 * kBarSize]).close, 2 * decode_bar(&after[kHeaderSize + 2 * kBarSize]).close);
}

TEST_F(BatchCli, NightlyUpdateMergesIntoEachSymbolsChartWhereverItLives) {
  write_text(data_.file("aapl.csv"), "Date,Open,High,Low,Close,Volume\n2024-06-26,1,2,0.5,1.5,10\n"
                                     "2024-06-27,1,2,0.5,1.5,10\n2024-06-28,1,2,0.5,1.5,10\n");
  auto r = run({"text-to-chart", "--auto", "aapl.csv", "--chart", "AAPL"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("aapl.csv: new chart csv_A/AAPL (daily): 3 bars"), std::string::npos) << r.out;
  data_.mkdirs("csv_m");
  data_.mkdirs("stk_i");
  write_file(data_.file("csv_m/msft"), chart('D', {bar(20240628, 400)}));
  write_file(data_.file("stk_i/IBM"), chart('D', {bar(20240628, 170)}));
  // One day of three symbols, newest first within a symbol, a date given twice.
  write_text(data_.file("today.txt"), "Symbol,Date,Open,High,Low,Close,Volume\n"
                                      "AAPL,2024-07-02,2,3,1,2.5,20\nAAPL,2024-07-01,2,3,1,2.5,20\n"
                                      "MSFT,2024-07-01,4,5,3,4.5,40\nIBM,2024-07-01,6,7,5,6.5,60\n"
                                      "AAPL,2024-07-02,2,3,1,2.75,20\n");
  const auto dry = run({"text-to-chart", "--auto", "today.txt", "--dry-run"});
  EXPECT_EQ(dry.status, 0) << dry.err;
  EXPECT_NE(dry.out.find("today.txt: merged into csv_A/AAPL: 2 bars, 20240701 to 20240702, 1 line for a date "
                         "given again later (the later line kept)"),
            std::string::npos)
      << dry.out;
  r = run({"text-to-chart", "--auto", "today.txt"});
  EXPECT_EQ(r.status, 0) << r.err;
  for (const char* said : {"today.txt: merged into csv_A/AAPL: 2 bars", "today.txt: merged into csv_m/msft: 1 bar",
                           "today.txt: merged into stk_i/IBM: 1 bar", "today.txt: 3 charts written, last stk_i/IBM"})
    EXPECT_NE(r.out.find(said), std::string::npos) << said << "\n" << r.out;
  EXPECT_EQ(dates_of(read_file(data_.file("csv_A/AAPL"))),
            (std::vector<std::int32_t>{20240626, 20240627, 20240628, 20240701, 20240702}));
  EXPECT_EQ(dates_of(read_file(data_.file("stk_i/IBM"))), (std::vector<std::int32_t>{20240628, 20240701}));
  EXPECT_FALSE(file_exists(data_.file("txt_a")));
  EXPECT_FALSE(file_exists(data_.file("txt_m")));

  // A new symbol with --chart-dir; two symbols making one name are refused,
  // both named, and the run says only the charts it wrote.
  write_text(data_.file("opt.txt"), "AAPL,20240703,1,2,0.5,1.5\nAAPL 240119C00150000,20240703,1,2,0.5,1.5\n"
                                    "XYZ,20240703,1,2,0.5,1.5\n");
  r = run({"text-to-chart", "opt.txt", "--order", "SDOHLC", "--type", "daily", "--chart-dir", "mine"});
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("the symbols AAPL and AAPL 240119C00150000 both make the chart name aapl"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.out.find("opt.txt: new chart mine/xyz (daily): 1 bar"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("opt.txt: 1 chart written, last mine/xyz"), std::string::npos) << r.out;
  EXPECT_EQ(dates_of(read_file(data_.file("csv_A/AAPL"))).size(), 5u);
}

