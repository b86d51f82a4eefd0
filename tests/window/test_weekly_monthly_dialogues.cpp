// The chart-to-chart dialogues (weekly and monthly, numbered, adjusted) on
// the in-memory screen: their prompts, refusals and the files they leave.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "chartdata/chartfile.h"
#include "convert/adjust.h"
#include "window/commands.h"
#include "convert/compress.h"
#include "window/globals.h"
#include "convert/weekly_monthly.h"
#include "screen/headless.h"
#include "screen/screen.h"
#include "setup/environment.h"
#include "support/chart_files.h"
#include "support/scripted_keys.h"
#include "support/tempdir.h"

namespace {

BarRecord bar(std::int32_t date, float price, std::int32_t volume = 100) {
  return ::bar(date, price, price + 1, price - 1, price + 0.5f, volume, 3);
}

// Two weeks of daily bars, Monday 4 January 1999 to Friday 15 January.
std::vector<BarRecord> daily() {
  std::vector<BarRecord> bars;
  const std::int32_t dates[] = {19990104, 19990105, 19990106, 19990107, 19990108,
                                19990111, 19990112, 19990113, 19990114, 19990115};
  float p = 10;
  for (std::int32_t d : dates) bars.push_back(bar(d, p++));
  return bars;
}

const char kF9 = static_cast<char>(218);

class ChartDialogue : public ::testing::Test {
 protected:
  void SetUp() override {
    headless_start();
    title = "TEST TITLE";
    savenm[0] = 0;
    source_bytes_ = chart_bytes('D', 19990104, daily());
    ASSERT_TRUE(write_file(dir_.file("src.M"), source_bytes_));
    std::snprintf(exclambuf, sizeof exclambuf, "src.M");
    std::snprintf(firstname, sizeof firstname, "src.M");
    fd_ = open("src.M", O_RDONLY);
    ASSERT_GT(fd_, 0);
  }
  // The first batch is typed at once; each further batch only when the
  // program waits for input again (its cursor blinks), so that no poll for
  // ESC and no question's flush of waiting keys can take them.
  void type(std::vector<std::string> batches) {
    headless_push_keys(batches.front());
    keys_.type_at_sleeps(std::vector<std::string>(batches.begin() + 1, batches.end()));
  }
  bool source_closed() const { return fcntl(fd_, F_GETFD) == -1; }
  std::vector<std::string> files() const { return list_dir(dir_.path()); }

  TempDir dir_{"mfd"};
  ScopedChdir cd_{dir_.path()};
  Bytes source_bytes_;
  int fd_ = -1;
  QuietDiskFull quiet_;
  ScriptedKeys keys_;
};

TEST_F(ChartDialogue, WeeklyStoresTheFoldAndShowsProgress) {
  type({"w.M\r"});
  EXPECT_EQ(DAYWK(fd_, nullptr), 1);
  auto want = fold_bars(daily(), FoldKind::kWeekly, false);
  EXPECT_EQ(read_file(dir_.file("w.M")), chart_bytes('W', 19990115, want));
  EXPECT_STREQ(savenm, "w.M");
  EXPECT_TRUE(source_closed());
  EXPECT_EQ(headless_row(2).substr(0, 7), " 19.500");  // close of the last bar read
}

TEST_F(ChartDialogue, MonthlyPromptAndIndexFileApplied) {
  std::string idxtext = "981201 1\n990111 4\n";
  write_text(dir_.file("ix"), idxtext);
  FILE* idx = std::fopen("ix", "r");
  type({"m.M\r"});
  EXPECT_EQ(DAYMONTH(fd_, idx), 1);
  std::fclose(idx);
  auto want = fold_bars(daily(), FoldKind::kMonthly, false, IndexFile(idxtext));
  EXPECT_EQ(read_file(dir_.file("m.M")), chart_bytes('M', 19990131, want));
  EXPECT_NE(want[0].open, 10.0f);  // the index moved the prices
}

TEST_F(ChartDialogue, PromptTextAndSameNameRefused) {
  type({"src.M\r", "./src.M\r", "w.M\r"});
  EXPECT_EQ(DAYWK(fd_, nullptr), 1);
  EXPECT_EQ(keys_.typed(), 2u);                 // asked three times
  EXPECT_EQ(headless_starved(), 2);     // each refusal waited for a key
  EXPECT_EQ(read_file(dir_.file("src.M")), source_bytes_);
  EXPECT_TRUE(file_exists(dir_.file("w.M")));
}

TEST_F(ChartDialogue, PromptLayout) {
  type({"\x1b"});
  EXPECT_EQ(DAYMONTH(fd_, nullptr), 27);
  EXPECT_EQ(headless_row(2).substr(0, 40), "Source: src.M Ready to store new file.  ");
  EXPECT_EQ(headless_row(4).substr(0, 49), "      Enter a MORVA MONTHLY filename (or ESCape):");
  EXPECT_EQ(headless_row(6).substr(27, 34), "(Press F9 for a directory listing)");
  EXPECT_EQ(files(), std::vector<std::string>{"src.M"});
  EXPECT_TRUE(source_closed());
  EXPECT_STREQ(savenm, "");
}

TEST_F(ChartDialogue, DirectoryCommandThenNameStoresThere) {
  dir_.mkdirs("sub");
  type({"CD sub\r", "w.M\r"});  // the listing opens and is left (no key: ESC)
  EXPECT_EQ(DAYWK(fd_, nullptr), 1);
  EXPECT_TRUE(file_exists(dir_.file("sub/w.M")));
  EXPECT_STREQ(savenm, "w.M");
}

TEST_F(ChartDialogue, SourceWithoutUsableBarsStoresNothing) {
  close(fd_);
  write_file(dir_.file("neg.M"), chart_bytes('D', 0, {bar(19990104, 1, -1)}));
  fd_ = open("neg.M", O_RDONLY);
  type({"w.M\r"});
  EXPECT_EQ(DAYWK(fd_, nullptr), 0);
  EXPECT_FALSE(file_exists(dir_.file("w.M")));
  EXPECT_NE(headless_row(0).find("TEST TITLE"), std::string::npos);
  EXPECT_STREQ(savenm, "");
}

TEST_F(ChartDialogue, CompressAsksCountThenName) {
  type({"4\rn.M\r"});
  EXPECT_EQ(COMPRESSs(fd_), 1);
  Bytes want = chart_bytes('N', 19990104, compress_bars(daily(), 4));
  EXPECT_EQ(read_file(dir_.file("n.M")), want);
  EXPECT_STREQ(savenm, "n.M");
  EXPECT_TRUE(source_closed());
}

TEST_F(ChartDialogue, CompressCountRefusals) {
  const char* counts[] = {"0\r", "-3\r", "\r", "\x1b"};
  const int results[] = {0, 0, 0, 27};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(counts[i]);
    int fd = open("src.M", O_RDONLY);
    headless_push_keys(counts[i]);
    EXPECT_EQ(COMPRESSs(fd), results[i]);
    EXPECT_EQ(fcntl(fd, F_GETFD), -1);
  }
  close(fd_);
  EXPECT_EQ(files(), std::vector<std::string>{"src.M"});
}

TEST_F(ChartDialogue, CompressAsksTheCountAgainAfterTheListing) {
  // F9 opens the listing; leaving it (no key: ESC) clears the default and
  // the count comes back before the name.
  type({std::string("5\r") + kF9, "3\rn.M\r"});
  EXPECT_EQ(COMPRESSs(fd_), 1);
  EXPECT_EQ(read_file(dir_.file("n.M")), chart_bytes('N', 19990104, compress_bars(daily(), 3)));
}

TEST_F(ChartDialogue, AdjustDividesPricesAndDoublesVolume) {
  dir_.mkdirs("sub");
  std::snprintf(origdatasubdir, sizeof origdatasubdir, "%s", dir_.path().c_str());
  ASSERT_EQ(dir_.path(), origdatasubdir) << "temporary folder path too long for the test";
  ASSERT_EQ(chdir("sub"), 0);
  type({"?/2\rout.M\r"});  // '?' is no operator: the question comes back
  EXPECT_EQ(addsubmultdiv(fd_, nullptr), 1);
  std::vector<BarRecord> want;
  for (const BarRecord& b : daily()) want.push_back(adjust_bar(b, '/', 2));
  EXPECT_EQ(read_file(dir_.file("sub/out.M")), chart_bytes('D', 19990104, want));
  EXPECT_EQ(want[0].volume, 200);
  EXPECT_STREQ(savenm, "sub/out.M");
  EXPECT_TRUE(source_closed());
  EXPECT_EQ(headless_row(4).substr(0, 44), "       Enter a target filename (or ESCape): ");
  EXPECT_EQ(headless_row(6).substr(7, 37 + dir_.path().size() + 4),
            "The current working subdirectory is: " + dir_.path() + "/sub");
}

TEST_F(ChartDialogue, AdjustConstantRefusals) {
  const char* keys[] = {"*0\r", "*0.0\r", "*abc\r", "+\r", "\x1b", "-\x1b"};
  const int results[] = {0, 0, 0, 0, 27, 27};
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(keys[i]);
    int fd = open("src.M", O_RDONLY);
    headless_push_keys(keys[i]);
    EXPECT_EQ(addsubmultdiv(fd, nullptr), results[i]);
    EXPECT_EQ(fcntl(fd, F_GETFD), -1);
  }
  close(fd_);
  EXPECT_EQ(files(), std::vector<std::string>{"src.M"});
}

TEST_F(ChartDialogue, AdjustConstantFieldHoldsSixCharacters) {
  type({"+1.0000009\r", "a.M\r"});  // the 7th and later characters are refused
  EXPECT_EQ(addsubmultdiv(fd_, nullptr), 1);
  std::vector<BarRecord> want;
  for (const BarRecord& b : daily()) want.push_back(adjust_bar(b, '+', 1.0f));
  EXPECT_EQ(read_file(dir_.file("a.M")), chart_bytes('D', 19990104, want));
}

TEST_F(ChartDialogue, AdjustRefusesTheSourceAndUnwritableNames) {
  // The source (by its name and by another spelling), a folder that does
  // not exist and an empty field: each is refused with a message that waits
  // for a key, then the name is asked again.
  type({"*2\rsrc.M\r", "./src.M\r", "nodir/x.M\r", "\r", "x.M\r"});
  EXPECT_EQ(addsubmultdiv(fd_, nullptr), 1);
  EXPECT_EQ(read_file(dir_.file("src.M")), source_bytes_);
  EXPECT_TRUE(file_exists(dir_.file("x.M")));
  EXPECT_EQ(keys_.typed(), 4u);
  EXPECT_EQ(headless_starved(), 4);
}

}  // namespace

namespace {

TEST_F(ChartDialogue, NamePickedInTheListingIsTheDefault) {
  Bytes old = chart_bytes('W', 5, {bar(19981231, 1)});
  write_file(dir_.file("old.M"), old);
  // F9, Right to the first name after the parent entry, Enter picks it;
  // then Enter in the empty field takes it.
  type({std::string(1, kF9) + "\x1c\r", "\r"});
  EXPECT_EQ(DAYWK(fd_, nullptr), 1);
  // The field shows the picked path's end.
  EXPECT_NE(headless_row(4).substr(52, 21).find("old.M"), std::string::npos) << headless_row(4);
  std::vector<BarRecord> want = {bar(19981231, 1)};
  for (const BarRecord& b : fold_bars(daily(), FoldKind::kWeekly, false)) want.push_back(b);
  EXPECT_EQ(read_file(dir_.file("old.M")), chart_bytes('W', 19990115, want));
  EXPECT_EQ(std::string(savenm), dir_.path() + "/old.M");
}

}  // namespace
