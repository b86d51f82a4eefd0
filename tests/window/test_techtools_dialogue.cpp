// The F9 command on the in-memory screen: source and target prompts, the
// same-name refusal, progress, lists of names and a failed write.
#include <unistd.h>

#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "chartdata/chartfile.h"
#include "chartdata/faults.h"
#include "window/commands.h"
#include "window/globals.h"
#include "screen/headless.h"
#include "screen/screen.h"
#include "support/chart_files.h"
#include "support/scripted_keys.h"
#include "support/tempdir.h"

namespace {

// A TechTools file of price type 0 with one record per serial (prices = i).
Bytes tech_file(const std::vector<unsigned>& serials) {
  Bytes b(16, 0);
  unsigned i = 0;
  for (unsigned s : serials) {
    ++i;
    const unsigned v[5] = {s, i, i, i, i};
    for (unsigned x : v) {
      b.push_back(static_cast<unsigned char>(x));
      b.push_back(static_cast<unsigned char>(x >> 8));
    }
    for (int k = 0; k < 6; ++k) b.push_back(0);
  }
  return b;
}

class TechToolsDialogue : public ::testing::Test {
 protected:
  void SetUp() override {
    headless_start();
    faults_reset();
    savenm[0] = '\0';
    firstname[0] = '\0';
    // 20000101 .. 20000107
    ASSERT_TRUE(write_file(dir_.file("prices.tt"), tech_file({36526, 36527, 36528, 36529, 36530, 36531, 36532})));
  }
  void TearDown() override {
    faults_reset();
  }

  void type_when_waiting(std::vector<std::string> batches) { keys_.type_at_sleeps(std::move(batches)); }

  TempDir dir_{"morva-ttdlg"};
  ScopedChdir cd_{dir_.path()};
  QuietDiskFull quiet_;
  ScriptedKeys keys_;
};

}  // namespace

TEST_F(TechToolsDialogue, ConvertsIntoTheNamedChartAndShowsProgress) {
  headless_push_keys("prices.tt\r");
  type_when_waiting({"ibm\r"});
  EXPECT_EQ(do_techtools(), 1);
  EXPECT_EQ(headless_starved(), 0);
  EXPECT_EQ(keys_.typed(), 1u);

  const Bytes chart = read_file(dir_.file("ibm"));
  ASSERT_EQ(chart.size(), 128u + 7u * 28u);
  EXPECT_EQ(chart[116], 'D');
  EXPECT_EQ(le32_at(chart, 118), 20000107);
  EXPECT_EQ(le32_at(chart, 128), 20000101);
  EXPECT_STREQ(savenm, "ibm");
  EXPECT_NE(headless_row(0).find("TECHTOOLS TO MORVA File Conversion"), std::string::npos);
  // Progress shows the 1st and the 6th date; the 6th stays.
  EXPECT_EQ(headless_row(2).substr(0, 8), "20000106");
}

TEST_F(TechToolsDialogue, RecordsOutOfOrderAreSortedInAndTheNoticeWaitsForAKey) {
  ASSERT_TRUE(write_file(dir_.file("mixed.tt"), tech_file({36527, 36526, 36528, 36528})));
  headless_push_keys("mixed.tt\r");
  type_when_waiting({"ibm\r"});
  EXPECT_EQ(do_techtools(), 1);
  EXPECT_EQ(headless_starved(), 1);  // the notice waited for a key
  const Bytes chart = read_file(dir_.file("ibm"));
  ASSERT_EQ(chart.size(), 128u + 3u * 28u);
  EXPECT_EQ(le32_at(chart, 128), 20000101);
  EXPECT_EQ(le32_at(chart, 128 + 28), 20000102);
  EXPECT_EQ(le32_at(chart, 128 + 56), 20000103);
}

TEST_F(TechToolsDialogue, BarsBreakingTheBarRulesAreSaidAndAFileMostlyOfThemIsRefused) {
  // Records 2 (and 3): high (code 1) below low (code 3).
  Bytes some = tech_file({36526, 36527, 36528});
  some[32 + 4] = 1;
  some[32 + 6] = 3;
  Bytes most = some;
  most[48 + 4] = 1;
  most[48 + 6] = 3;
  const struct {
    const char* file;
    Bytes bytes;
    const char* said;
    bool stored;
  } cases[] = {
      {"some.tt", some, " 1 bar breaks the bar rules; first: 20000102 high below low.", true},
      {"most.tt", most, " Not a TECHTOOLS file: 2 of its 3 records break the bar rules.", false},
  };
  for (const auto& c : cases) {
    headless_start();
    keys_.stop();
    keys_.install();
    keys_.keep_screens();
    ASSERT_TRUE(write_file(dir_.file(c.file), c.bytes));
    headless_push_keys(std::string(c.file) + "\r");
    type_when_waiting({"ibm\r"});
    EXPECT_EQ(do_techtools(), c.stored ? 1 : 0) << c.file;
    EXPECT_EQ(headless_starved(), 1) << c.file;  // the line waited for a key
    EXPECT_TRUE(keys_.saw(c.said)) << c.file;
    EXPECT_EQ(file_exists(dir_.file("ibm")), c.stored) << c.file;
    if (c.stored) EXPECT_EQ(read_file(dir_.file("ibm")).size(), 128u + 3u * 28u);
    ::unlink(dir_.file("ibm").c_str());
  }
}

TEST_F(TechToolsDialogue, EscAtTheTargetWritesNothing) {
  std::strcpy(savenm, "earlier");
  headless_push_keys("prices.tt\r");
  type_when_waiting({"\x1b"});
  EXPECT_EQ(do_techtools(), 0);
  EXPECT_EQ(list_dir(dir_.path()), std::vector<std::string>{"prices.tt"});
  EXPECT_STREQ(savenm, "earlier");
}

TEST_F(TechToolsDialogue, TargetNamingTheSourceIsRefusedAndAskedAgain) {
  const Bytes source = read_file(dir_.file("prices.tt"));
  for (const char* same : {"prices.tt\r", "./prices.tt\r"}) {
    headless_start();
    headless_push_keys("prices.tt\r");
    type_when_waiting({same, "other\r"});
    EXPECT_EQ(do_techtools(), 1) << same;
    EXPECT_EQ(headless_starved(), 1) << same;  // the refusal waited for a key
    EXPECT_EQ(read_file(dir_.file("prices.tt")), source) << same;
    EXPECT_EQ(read_file(dir_.file("other")).size(), 128u + 7u * 28u) << same;
    keys_.stop();
  }
}

TEST_F(TechToolsDialogue, AfterAListOnlyTheLastEntryCounts) {
  ASSERT_TRUE(write_file(dir_.file("b.tt"), tech_file({36600})));
  ASSERT_TRUE(write_text(dir_.file("all!"), "prices.tt\nb.tt\n"));
  headless_push_keys("all!\r");
  type_when_waiting({"ca\r", "\x1b"});
  do_techtools();
  EXPECT_EQ(keys_.typed(), 2u);
  EXPECT_TRUE(file_exists(dir_.file("ca")));
  EXPECT_STREQ(savenm, "");  // the last entry was not stored

  headless_start();
  keys_.stop();
  headless_push_keys("all!\r");
  type_when_waiting({"ca\r", "cb\r"});
  do_techtools();
  EXPECT_STREQ(savenm, "cb");
  EXPECT_EQ(le32_at(read_file(dir_.file("cb")), 128), 20000315);
}

TEST_F(TechToolsDialogue, FailedWriteLeavesTheOldChartAndReports) {
  Bytes old(128, ' ');
  old[0] = 0;
  old[77] = '/';
  old[116] = 'D';
  old[117] = '\n';
  ASSERT_TRUE(write_file(dir_.file("ibm"), old));
  std::strcpy(savenm, "earlier");
  headless_push_keys("prices.tt\r");
  type_when_waiting({"ibm\r"});
  g_faults.fail_write = 2;
  EXPECT_EQ(do_techtools(), 0);
  faults_reset();
  EXPECT_EQ(headless_starved(), 1);  // the write error waited for a key
  EXPECT_EQ(read_file(dir_.file("ibm")), old);
  EXPECT_STREQ(savenm, "earlier");
  EXPECT_EQ(list_dir(dir_.path()), (std::vector<std::string>{"ibm", "prices.tt"}));
}
