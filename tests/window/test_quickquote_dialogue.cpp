// The T command on the in-memory screen: file prompt, update-date question,
// messages, and the charts and globals it leaves behind.
#include <unistd.h>

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "chartdata/chartfile.h"
#include "window/commands.h"
#include "window/globals.h"
#include "screen/headless.h"
#include "screen/screen.h"
#include "support/chart_files.h"
#include "support/scripted_keys.h"
#include "support/tempdir.h"

namespace {

void put_at(std::string& line, std::size_t col, const std::string& text) {
  if (line.size() < col + text.size()) line.resize(col + text.size(), ' ');
  line.replace(col, text.size(), text);
}

// One five-line record: close at column 22 and volume at 66 of the first
// line; open, high, low at 42, 54, 66 of the third.
std::string record(const std::string& sym, const std::string& close, const std::string& vol,
                   const std::string& open, const std::string& high, const std::string& low) {
  std::string l1 = sym, l3;
  put_at(l1, 22, close);
  put_at(l1, 66, vol);
  put_at(l3, 42, open);
  put_at(l3, 54, high);
  put_at(l3, 66, low);
  return l1 + "\n\n" + l3 + "\n\n\n";
}

class QuickQuoteDialogue : public ::testing::Test {
 protected:
  void SetUp() override {
    headless_start();
    set_builtin_format();
    savenm[0] = '\0';
    firstname[0] = '\0';
    const std::string text = std::string(30, '-') + "\n" + record("IBM", "123.4/", "1500", "120", "124", "119") +
                             record("DEC", "101/08", "2000", "100", "102", "99");
    ASSERT_TRUE(write_text(dir_.file("quotes.txt"), text));
  }
  void type_when_waiting(std::vector<std::string> batches) { keys_.type_at_sleeps(std::move(batches)); }

  TempDir dir_{"morva-qqdlg"};
  ScopedChdir cd_{dir_.path()};
  QuietDiskFull quiet_;
  ScriptedKeys keys_;
};

}  // namespace

TEST_F(QuickQuoteDialogue, TypedDateIsWidenedAndEveryChartStored) {
  headless_push_keys("quotes.txt\r000105\r");
  do_quickquote();
  EXPECT_EQ(headless_starved(), 0);
  EXPECT_EQ(headless_queued(), 0);

  const Bytes ibm = read_file(dir_.file("ibm"));
  ASSERT_EQ(ibm.size(), 128u + 28u);
  EXPECT_EQ(ibm[116], 'D');
  EXPECT_EQ(le32_at(ibm, 118), 20000105);
  EXPECT_EQ(le32_at(ibm, 128), 20000105);
  EXPECT_FLOAT_EQ(f32_at(ibm, 128 + 16), 123.5f);
  const Bytes dec = read_file(dir_.file("dec"));
  ASSERT_EQ(dec.size(), 128u + 28u);
  EXPECT_FLOAT_EQ(f32_at(dec, 128 + 16), 101.5f);
  EXPECT_EQ(le32_at(dec, 128 + 20), 2000);

  EXPECT_STREQ(savenm, "dec");
  EXPECT_EQ(std::string(ff.order, 12), "SCVOHL      ");
  EXPECT_EQ(ff.sep, ' ');
  EXPECT_NE(headless_row(0).find("QUICK-QUOTE TO MORVA File Conversion"), std::string::npos);
  EXPECT_NE(headless_row(2).find("Enter the date that you are updating (YYMMDD): 000105"),
            std::string::npos);
}

TEST_F(QuickQuoteDialogue, BarsBreakingTheBarRulesAreSaidAndAFileMostlyOfThemIsRefused) {
  const std::string bad = record("HL", "10", "100", "10", "9", "11");  // high below low
  const struct {
    std::string text;
    const char* said;
    bool stored;
  } cases[] = {
      {read_text(dir_.file("quotes.txt")) + bad, " 1 bar breaks the bar rules; first: hl 20000105 high below low.",
       true},
      {bad + record("ZP", "0", "1", "0", "0", "0") + record("HP", "50", "10", "49", "51", "48"),
       " Not a QUICK-QUOTE file: 2 of its 3 quotes break the bar rules.", false},
  };
  for (const auto& c : cases) {
    headless_start();
    keys_.stop();
    keys_.install();
    keys_.keep_screens();
    ASSERT_TRUE(write_text(dir_.file("q.txt"), c.text));
    headless_push_keys("q.txt\r000105\r");
    do_quickquote();
    EXPECT_EQ(headless_starved(), 1) << c.said;  // the line waited for a key
    EXPECT_TRUE(keys_.saw(c.said)) << c.said;
    EXPECT_EQ(file_exists(dir_.file("hl")), c.stored) << c.said;
    EXPECT_FALSE(file_exists(dir_.file("hp")));
    ::unlink(dir_.file("hl").c_str());
  }
}

TEST_F(QuickQuoteDialogue, ZeroAndInvalidDatesAreAskedAgain) {
  headless_push_keys("quotes.txt\r000000\r991332\r991231\r");
  do_quickquote();
  EXPECT_EQ(headless_starved(), 0);
  const Bytes ibm = read_file(dir_.file("ibm"));
  ASSERT_EQ(ibm.size(), 156u);
  EXPECT_EQ(le32_at(ibm, 128), 19991231);
}

TEST_F(QuickQuoteDialogue, FourDigitYearsAndThisYearsTwoDigitOnes) {
  for (const char* typed : {"20260105", "260105"}) {
    std::remove(dir_.file("ibm").c_str());
    headless_push_keys(std::string("quotes.txt\r") + typed + "\r");
    do_quickquote();
    EXPECT_EQ(headless_starved(), 0);
    const Bytes ibm = read_file(dir_.file("ibm"));
    ASSERT_EQ(ibm.size(), 156u) << typed;
    EXPECT_EQ(le32_at(ibm, 128), 20260105) << typed;
  }
}

TEST_F(QuickQuoteDialogue, EscAtTheDateStoresNothing) {
  std::strcpy(savenm, "earlier");
  headless_push_keys("quotes.txt\r\x1b");
  do_quickquote();
  EXPECT_EQ(headless_starved(), 0);
  EXPECT_EQ(list_dir(dir_.path()), std::vector<std::string>{"quotes.txt"});
  EXPECT_STREQ(savenm, "earlier");
}

TEST_F(QuickQuoteDialogue, EscAtTheFilePromptDoesNothing) {
  headless_push_keys("\x1b");
  do_quickquote();
  EXPECT_EQ(list_dir(dir_.path()), std::vector<std::string>{"quotes.txt"});
  EXPECT_EQ(std::string(ff.order, 7), "DOHLCVI");  // settings untouched
}

TEST_F(QuickQuoteDialogue, QuoteFileNamedLikeItsFirstChartIsRefused) {
  const std::string text = read_text(dir_.file("quotes.txt"));
  ASSERT_TRUE(write_text(dir_.file("ibm"), text));
  headless_push_keys("ibm\r991231\r");
  do_quickquote();
  EXPECT_EQ(headless_starved(), 1);  // the message waited for a key
  EXPECT_EQ(read_text(dir_.file("ibm")), text);
  EXPECT_FALSE(file_exists(dir_.file("dec")));
}

TEST_F(QuickQuoteDialogue, ListOfQuoteFilesAsksADateForEach) {
  ASSERT_TRUE(write_text(dir_.file("q2.txt"), record("HP", "50", "10", "49", "51", "48")));
  ASSERT_TRUE(write_text(dir_.file("all!"), "quotes.txt\nq2.txt\n"));
  headless_push_keys("all!\r");
  type_when_waiting({"991230\r", "991231\r"});
  do_quickquote();
  EXPECT_EQ(headless_starved(), 0);
  EXPECT_EQ(keys_.typed(), 2u);
  EXPECT_EQ(le32_at(read_file(dir_.file("ibm")), 128), 19991230);
  EXPECT_EQ(le32_at(read_file(dir_.file("hp")), 128), 19991231);
  EXPECT_STREQ(savenm, "hp");
}
