// F2 from text to chart on the in-memory screen: the name prompt, the chart
// type question, messages on row 1, several symbols with ESC between
// charts, lists of names, and what is left on disk.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "chartdata/chartfile.h"
#include "chartdata/faults.h"
#include "window/globals.h"
#include "window/commands.h"
#include "window/summary.h"
#include "window/globals.h"
#include "screen/headless.h"
#include "screen/screen.h"
#include "support/tempdir.h"
#include "support/scripted_keys.h"

namespace {

std::int32_t le32_at(const Bytes& b, std::size_t at) {
  return static_cast<std::int32_t>(std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 |
                                   std::uint32_t(b[at + 2]) << 16 | std::uint32_t(b[at + 3]) << 24);
}

std::vector<std::int32_t> dates_of(const Bytes& b) {
  std::vector<std::int32_t> d;
  for (std::size_t at = 128; at + 28 <= b.size(); at += 28) d.push_back(le32_at(b, at));
  return d;
}

bool fd_open(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

class TextToChartDialogue : public ::testing::Test {
 protected:
  void SetUp() override {
    headless_start();
    set_builtin_format();
    savenm[0] = '\0';
    firstname[0] = '\0';
    exclamfile = 0;
    old_reporter_ = diskfull_reporter;
    diskfull_reporter = [](const char*) {};
  }
  void TearDown() override {
    diskfull_reporter = old_reporter_;
    exclamfile = 0;
    keys_.stop();
  }

  // Opens the text as the main loop would after the file chooser.
  int open_text(const std::string& name, const std::string& text) {
    write_text(dir_.file(name), text);
    std::snprintf(firstname, sizeof firstname, "%s", name.c_str());
    std::snprintf(exclambuf, sizeof exclambuf, "%s", name.c_str());
    return ::open(name.c_str(), O_RDONLY);
  }

  // Each batch is typed only when the program looks for a key and finds
  // none, never ahead: msg throws away keys typed ahead of its question,
  // and the ESC polls between charts would take them.
  void type_when_waiting(std::vector<std::string> batches) {
    keys_.type_at_empty_polls(std::move(batches));
  }
  // Row 0 each time the program looked for a key: the questions it asked.
  bool asked(const std::string& question) const { return keys_.asked(question); }

  ScriptedKeys keys_;
  TempDir dir_{"morva-trdlg"};
  ScopedChdir cd_{dir_.path()};
  DiskFullReporter old_reporter_ = nullptr;
};

TEST_F(TextToChartDialogue, DefaultSettingsDailyTextNamedChart) {
  const int fd = open_text("prices.txt", "19990104,1.5,2,1,1.75,1000,7\n19990105,1.5,2,1,1.8,1100,7\n");
  type_when_waiting({"ibm\r"});
  char name[80] = "prices.txt";
  EXPECT_EQ(generalTR(fd, name), 1);
  EXPECT_EQ(headless_starved(), 0);
  EXPECT_FALSE(fd_open(fd));
  EXPECT_STREQ(savenm, "txt_i/ibm");
  const Bytes b = read_file(dir_.file("txt_i/ibm"));
  ASSERT_EQ(b.size(), 128u + 2 * 28);
  EXPECT_EQ(b[116], 'D');
  EXPECT_EQ(le32_at(b, 118), 19990105);
  EXPECT_EQ(dates_of(b), (std::vector<std::int32_t>{19990104, 19990105}));
  EXPECT_NE(headless_row(2).find("           Creating a MORVA DAILY chart: txt_i/ibm"), std::string::npos)
      << headless_row(2);
  EXPECT_EQ(headless_row(4).substr(0, 49), "                          Enter a MORVA filename:");
}

TEST_F(TextToChartDialogue, DatesFarApartAskTheTypeAndEscStoresNothing) {
  const std::string text = "19991231,1,1,1,1\n20000103,1,1,1,1\n";
  int fd = open_text("prices.txt", text);
  type_when_waiting({"ibm\r", "w"});
  char name[80] = "prices.txt";
  EXPECT_EQ(generalTR(fd, name), 1);
  EXPECT_EQ(read_file(dir_.file("txt_i/ibm"))[116], 'W');
  EXPECT_NE(headless_row(2).find("Creating a MORVA WEEKLY chart:"), std::string::npos);

  fd = open_text("other.txt", text);
  type_when_waiting({"msft\r", "x", "\x1b"});  // any other key asks again; ESC ends
  char name2[80] = "other.txt";
  EXPECT_EQ(generalTR(fd, name2), 0);
  EXPECT_EQ(keys_.typed(), 3u);
  EXPECT_FALSE(file_exists(dir_.file("txt_m")));
  EXPECT_FALSE(fd_open(fd));
}

TEST_F(TextToChartDialogue, EscAtTheNamePromptClosesTheText) {
  const int fd = open_text("prices.txt", "19990104,1\n19990105,1\n");
  headless_push_keys("\x1b");
  char name[80] = "prices.txt";
  EXPECT_EQ(generalTR(fd, name), 0);
  EXPECT_EQ(headless_starved(), 1);  // "File is missing.1" waited for a key
  EXPECT_FALSE(fd_open(fd));
  EXPECT_EQ(list_dir(dir_.path()), std::vector<std::string>{"prices.txt"});
}

TEST_F(TextToChartDialogue, SeveralSymbolsOneChartEachAndEscBetweenCharts) {
  std::memcpy(ff.order, "SDC         ", 12);
  const std::string text =
      "IBM,19990104,1\nIBM,19990105,2\nMSFT,19990104,3\nMSFT,19990105,4\nHP,19990104,5\n";
  int fd = open_text("quotes.csv", text);
  char name[80] = "quotes.csv";
  EXPECT_EQ(generalTR(fd, name), 1);  // daily from the first two dates: nothing asked
  EXPECT_EQ(headless_starved(), 0);
  EXPECT_EQ(dates_of(read_file(dir_.file("csv_i/ibm"))), (std::vector<std::int32_t>{19990104, 19990105}));
  EXPECT_EQ(dates_of(read_file(dir_.file("csv_m/msft"))).size(), 2u);
  EXPECT_EQ(dates_of(read_file(dir_.file("csv_h/hp"))).size(), 1u);
  EXPECT_STREQ(savenm, "csv_h/hp");

  // ESC waiting when the first chart is done stops the run there.
  remove_tree(dir_.file("csv_i"));
  remove_tree(dir_.file("csv_m"));
  remove_tree(dir_.file("csv_h"));
  fd = open_text("quotes.csv", text);
  headless_push_keys("\x1b");
  EXPECT_EQ(generalTR(fd, name), 1);
  EXPECT_TRUE(file_exists(dir_.file("csv_i/ibm")));
  EXPECT_FALSE(file_exists(dir_.file("csv_m")));
  EXPECT_STREQ(savenm, "csv_i/ibm");
}

TEST_F(TextToChartDialogue, BadLinesShowTheirMessageOnRowOne) {
  const int fd = open_text("prices.txt", "19990104,1\n19990105,2\nno date on this line\n");
  type_when_waiting({"ibm\r"});
  char name[80] = "prices.txt";
  EXPECT_EQ(generalTR(fd, name), 1);
  const std::string m = " Bad date format in the source filename too. So, skip it.";
  EXPECT_EQ(headless_row(1).substr(7), m + std::string(79 - 7 - m.size(), ' '));
  EXPECT_EQ(dates_of(read_file(dir_.file("txt_i/ibm"))).size(), 2u);
}

TEST_F(TextToChartDialogue, EarlyDatesAreSkippedWithTheirMessage) {
  std::memcpy(ff.startdate, "19990105", 8);
  const int fd = open_text("prices.txt", "19990101,1\n19990104,1\n19990105,2\n19990106,3\n");
  type_when_waiting({"ibm\r", "d"});
  char name[80] = "prices.txt";
  EXPECT_EQ(generalTR(fd, name), 1);
  EXPECT_EQ(dates_of(read_file(dir_.file("txt_i/ibm"))), (std::vector<std::int32_t>{19990105, 19990106}));
  EXPECT_EQ(headless_row(1).substr(37).find_first_not_of(' '), std::string::npos);  // cleared again
}

TEST_F(TextToChartDialogue, ListEntryIsNamedAfterTheTextAndAsciiListsScaleVolume) {
  exclamfile = 1;
  const int fd = open_text("ibm.txt", "19990104,1,1,1,1,12.7\n19990105,1,1,1,1,3\n");
  std::strcpy(firstname, "ASCII.!");
  char name[80] = "ibm.txt";
  EXPECT_EQ(generalTR(fd, name), 1);
  EXPECT_EQ(headless_starved(), 0);
  const Bytes b = read_file(dir_.file("txt_i/ibm"));
  ASSERT_EQ(b.size(), 128u + 2 * 28);
  EXPECT_EQ(le32_at(b, 128 + 20), 1200);
  EXPECT_EQ(le32_at(b, 128 + 28 + 20), 300);
  EXPECT_NE(headless_row(4).find("ibm"), std::string::npos);
}

TEST_F(TextToChartDialogue, RefusalsAndEmptyTexts) {
  // A chart name equal to the source name.
  int fd = open_text("ibm", "19990104,1\n19990105,1\n");
  type_when_waiting({"ibm\r"});
  char name[80] = "ibm";
  EXPECT_EQ(generalTR(fd, name), 0);
  EXPECT_EQ(list_dir(dir_.path()), std::vector<std::string>{"ibm"});
  // An executable.
  fd = open_text("ABCDEFG.EXE", "x");
  char exe[80] = "ABCDEFG.EXE";
  const int starved = headless_starved();
  EXPECT_EQ(generalTR(fd, exe), 0);
  EXPECT_EQ(headless_starved(), starved + 1);  // the uncompress message waited
  EXPECT_FALSE(fd_open(fd));
  fd = open_text("AB.EXE", "x");
  char exe2[80] = "AB.EXE";
  EXPECT_EQ(generalTR(fd, exe2), 0);
  EXPECT_EQ(headless_starved(), starved + 1);
  // A symbol text without one usable symbol line.
  std::memcpy(ff.order, "SDC         ", 12);
  fd = open_text("q.csv", "------------------------,1\n");
  char q[80] = "q.csv";
  EXPECT_EQ(generalTR(fd, q), 0);
  EXPECT_FALSE(fd_open(fd));
}

TEST_F(TextToChartDialogue, FailedStoreShowsTheWriteErrorAndStoresNothing) {
  std::strcpy(savenm, "earlier");
  const int fd = open_text("prices.txt", "19990104,1\n19990105,2\n");
  faults_reset();
  g_faults.fail_rename = 1;  // the new chart cannot take its name
  type_when_waiting({"ibm\r"});
  char name[80] = "prices.txt";
  EXPECT_EQ(generalTR(fd, name), 0);
  faults_reset();
  EXPECT_TRUE(asked(" Unable to write to disk. Disk full?"));
  EXPECT_FALSE(fd_open(fd));
  EXPECT_FALSE(file_exists(dir_.file("txt_i/ibm")));
  EXPECT_STREQ(savenm, "earlier");
}

TEST_F(TextToChartDialogue, NothingStoredLeavesSavenm) {
  std::strcpy(savenm, "earlier");
  std::memcpy(ff.startdate, "20200101", 8);
  const int fd = open_text("prices.txt", "19990104,1\n19990105,2\n");
  type_when_waiting({"ibm\r"});
  char name[80] = "prices.txt";
  EXPECT_EQ(generalTR(fd, name), 1);
  EXPECT_STREQ(savenm, "earlier");
  EXPECT_FALSE(file_exists(dir_.file("txt_i/ibm")));
  // Said (" No bar was stored: ..."), and a key is waited for.
  EXPECT_EQ(headless_starved(), 1);
}

TEST_F(TextToChartDialogue, NightlyUpdateMergesIntoEachSymbolsChartWithoutAQuestion) {
  // The history, with a typed name.
  int fd = open_text("aapl.csv", "20240627,1,2,0.5,1.5,10\n20240628,1,2,0.5,1.5,10\n");
  type_when_waiting({"AAPL\r"});
  char name[80] = "aapl.csv";
  ASSERT_EQ(generalTR(fd, name), 1);
  EXPECT_STREQ(savenm, "csv_A/AAPL");
  dir_.mkdirs("csv_m");
  dir_.mkdirs("stk_i");
  write_file(dir_.file("csv_m/msft"), read_file(dir_.file("csv_A/AAPL")));
  write_file(dir_.file("stk_i/IBM"), read_file(dir_.file("csv_A/AAPL")));
  // One day of three symbols: each chart found where it lives, none asked.
  std::memcpy(ff.order, "SDC         ", 12);
  fd = open_text("today.txt", "AAPL,20240701,1\nMSFT,20240701,2\nIBM,20240701,3\n");
  char today[80] = "today.txt";
  EXPECT_EQ(generalTR(fd, today), 1);
  EXPECT_EQ(headless_starved(), 0);
  EXPECT_FALSE(asked("again"));
  for (const char* chart : {"csv_A/AAPL", "csv_m/msft", "stk_i/IBM"})
    EXPECT_EQ(dates_of(read_file(dir_.file(chart))), (std::vector<std::int32_t>{20240627, 20240628, 20240701}))
        << chart;
  EXPECT_FALSE(file_exists(dir_.file("txt_a")));
  EXPECT_STREQ(savenm, "stk_i/IBM");
  EXPECT_NE(headless_row(2).find("           Merging into the MORVA chart: stk_i/IBM"), std::string::npos)
      << headless_row(2);
  // The same day once more, newest first with a date given twice: said once.
  fd = open_text("again.txt", "IBM,20240702,4\nIBM,20240701,5\nIBM,20240702,6\n");
  char again[80] = "again.txt";
  type_when_waiting({""});
  EXPECT_EQ(generalTR(fd, again), 1);
  EXPECT_TRUE(asked(" 1 line gave a date again: the later line of each date was kept."));
  EXPECT_EQ(dates_of(read_file(dir_.file("stk_i/IBM"))),
            (std::vector<std::int32_t>{20240627, 20240628, 20240701, 20240702}));
}

}  // namespace

// What the screen says under " Finished.": bars stored in which chart,
// lines skipped, bars that break the bar rules; and why a file whose dates
// the settings cannot read stored nothing.
TEST(TextToChartSummary, SaysWhatWasStoredSkippedAndWhy) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> keys;
    int result;
    std::vector<std::string> lines;  // each line's start
  };
  const std::string good = "19990104,1.5,2,1,1.75,1000,7\n";
  const std::string broken = "19990105,5,2,1,1.8,1100,7\n19990106,5,2,1,1.8,1,1\n"
                             "19990107,5,2,1,1.8,1,1\n19990108,5,2,1,1.8,1,1\n";
  const Case cases[] = {
      {"sound bars", good + "19990105,1.5,2,1,1.8,1100,7\n", {"ibm\r"}, 1, {"2 bars stored in @/txt_i/ibm; 0 lines skipped."}},
      {"a bad line, many broken bars", good + broken + "no,date,here,at,all\n", {"ibm\r"}, 1,
       {"5 bars stored in @/txt_i/ibm; 1 line skipped.", "Check the field order against the file: 4 bars",
        "close outside high-low); first: 19990105"}},
      {"German dates under the defaults", "15.01.2024;16,50;16,80;16,40;16,75;1200\n16.01.2024;16,75;17,1;16,6;17;1500\n",
       {"dax\r", "d"}, 0, {"No line has a date in the format 19991231 (<0>) with ','", "nor has the file's name: set them in F2."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    headless_start();
    set_builtin_format();
    savenm[0] = firstname[0] = '\0';
    exclamfile = 0;
    TempDir dir{"morva-sum"};
    ScopedChdir cd{dir.path()};
    char here[4096];
    ASSERT_TRUE(::getcwd(here, sizeof here));
    write_text(dir.file("prices.txt"), c.text);
    std::snprintf(firstname, sizeof firstname, "prices.txt");
    std::snprintf(exclambuf, sizeof exclambuf, "prices.txt");
    summary_begin(false);
    ScriptedKeys keys;
    keys.type_at_empty_polls(c.keys);
    char name[80] = "prices.txt";
    EXPECT_EQ(generalTR(::open("prices.txt", O_RDONLY), name), c.result);
    keys.stop();
    const std::vector<std::string> lines = summary_lines(run_summary());
    ASSERT_EQ(lines.size(), c.lines.size());
    EXPECT_EQ(summary_stored(run_summary()), c.result == 1);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      std::string want = c.lines[i];
      if (const std::size_t at = want.find('@'); at != std::string::npos) want.replace(at, 1, here);
      EXPECT_EQ(lines[i].compare(0, want.size(), want), 0) << lines[i];
      EXPECT_LE(lines[i].size(), 79u);
    }
  }
}
