// The InvestorLink command on the in-memory screen: archive prompt, chart
// type question, one chart per symbol dated from the name, and the
// temporary file gone afterwards.
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "chartdata/chartfile.h"
#include "window/commands.h"
#include "window/globals.h"
#include "screen/headless.h"
#include "screen/screen.h"
#include "support/tempdir.h"
#include "support/scripted_keys.h"

extern char** environ;

namespace {

std::int32_t le32_at(const Bytes& b, std::size_t at) {
  return static_cast<std::int32_t>(std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 |
                                   std::uint32_t(b[at + 2]) << 16 | std::uint32_t(b[at + 3]) << 24);
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

// Names in /tmp that start with `prefix`.
std::vector<std::string> tmp_entries(const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& n : list_dir("/tmp"))
    if (n.rfind(prefix, 0) == 0) out.push_back(n);
  return out;
}

// True once no entry of /tmp with `prefix` exists beyond `before`.  Other
// programs may make such files for a moment, so a new entry must stay for
// two seconds to count as left behind.
bool none_left(const std::string& prefix, const std::vector<std::string>& before) {
  for (int waited = 0;; waited += 50) {
    std::vector<std::string> now = tmp_entries(prefix);
    bool extra = false;
    for (const std::string& n : now)
      if (std::find(before.begin(), before.end(), n) == before.end()) extra = true;
    if (!extra) return true;
    if (waited >= 2000) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

class InvestorLinkDialogue : public ::testing::Test {
 protected:
  void SetUp() override {
    headless_start();
    set_builtin_format();
    exclamfile = 0;
    savenm[0] = '\0';
    write_text(dir_.file("A.STK"), "IBM,1,2,0.5,1.5,100,3\nMSFT,3,4,2.5,3.5,200,0\n");
    write_text(dir_.file("B.CSF"), "XON,5,6,4.5,5.5,300,0\n");
    ASSERT_EQ(zip_in(dir_.path(), {"991231S.ZIP", "A.STK", "B.CSF"}), 0);
    ::unlink(dir_.file("A.STK").c_str());
    ::unlink(dir_.file("B.CSF").c_str());
  }
  void TearDown() override {
    keys_.stop();
  }
  void type_when_waiting(std::vector<std::string> batches) {
    keys_.type_at_empty_polls(std::move(batches));
  }

  ScriptedKeys keys_;
  TempDir dir_{"morva-ildlg"};
  ScopedChdir cd_{dir_.path()};
};

TEST_F(InvestorLinkDialogue, ArchiveGivesOneChartPerSymbolDatedFromItsName) {
  const auto before = tmp_entries("991231.STK.");
  type_when_waiting({"991231S.ZIP\r", "d"});
  EXPECT_EQ(investorlink(), 1);
  EXPECT_EQ(keys_.typed(), 2u);
  EXPECT_EQ(headless_starved(), 1);  // the wait after " Finished."
  EXPECT_NE(headless_screen().find(" Finished."), std::string::npos);
  for (const char* path : {"stk_i/ibm", "stk_m/msft", "stk_x/xon"}) {
    const Bytes b = read_file(dir_.file(path));
    ASSERT_EQ(b.size(), 128u + 28u) << path;
    EXPECT_EQ(b[116], 'D');
    EXPECT_EQ(le32_at(b, 128), 19991231) << path;
    EXPECT_EQ(le32_at(b, 118), 19991231) << path;
  }
  EXPECT_EQ(le32_at(read_file(dir_.file("stk_m/msft")), 128 + 20), 200);
  EXPECT_TRUE(none_left("991231.STK.", before));  // the temporary file is gone
  EXPECT_STREQ(firstname, "991231.STK");
  EXPECT_STREQ(savenm, "stk_x/xon");
  EXPECT_EQ(std::string(ff.order, 12), "SOHLCVI     ");
  EXPECT_EQ(ff.datecode, 3);
}

TEST_F(InvestorLinkDialogue, EscAtTheTypeQuestionStillRemovesTheTemporaryFile) {
  const auto before = tmp_entries("991231.STK.");
  type_when_waiting({"991231S.ZIP\r", "\x1b", "\r"});
  EXPECT_EQ(investorlink(), 1);
  EXPECT_FALSE(file_exists(dir_.file("stk_i")));
  EXPECT_TRUE(none_left("991231.STK.", before));
}

TEST_F(InvestorLinkDialogue, LowerCaseZipIsReadAsText) {
  write_text(dir_.file("991231f.zip"), "IBM,1,2,0.5,1.5,100,3\n");
  type_when_waiting({"991231f.zip\r", "d", "\r"});
  EXPECT_EQ(investorlink(), 1);
  // The text name has no '.ZIP': the extension "zip" names the directory,
  // and the date comes from the digits of the name.
  const Bytes b = read_file(dir_.file("zip_i/ibm"));
  ASSERT_EQ(b.size(), 128u + 28u);
  EXPECT_EQ(le32_at(b, 128), 19991231);
}

TEST_F(InvestorLinkDialogue, FailedUnpackingIsSaidAndWaitsForAKey) {
  write_text(dir_.file("x.txt"), "IBM,1,2,0.5,1.5,100,3\n");
  ASSERT_EQ(zip_in(dir_.path(), {"990101S.ZIP", "x.txt"}), 0);
  write_text(dir_.file("990102S.ZIP"), "not an archive at all\n");
  const struct {
    const char* archive;
    const char* said;
  } cases[] = {{"990101S.ZIP", " The archive holds no .STK or .CSF file. Nothing was stored."},
               {"990102S.ZIP", " The archive could not be unpacked: it is not a ZIP archive that can be read"}};
  for (const auto& c : cases) {
    const int starved = headless_starved();
    type_when_waiting({std::string(c.archive) + "\r"});
    EXPECT_EQ(investorlink(), 1);
    EXPECT_EQ(headless_starved(), starved + 1) << c.archive;  // the wait after the message
    EXPECT_NE(headless_screen().find(c.said), std::string::npos) << headless_screen();
    EXPECT_EQ(headless_screen().find(" Finished."), std::string::npos) << c.archive;
  }
  EXPECT_FALSE(file_exists(dir_.file("stk_i")));
}

TEST_F(InvestorLinkDialogue, BarsBreakingTheBarRulesAreSaidUnderTheEndingAndAFileMostlyOfThemIsRefused) {
  const struct {
    const char* text;
    const char* said;
    const char* chart;  // written only when the bars were stored
    bool stored;
  } cases[] = {
      {"IBM,1,2,0.5,1.5,100,3\nHL,10,9,11,10,100,0\nXON,5,6,4.5,5.5,300,0\n",
       " 1 bar breaks the bar rules; first: hl 19991231 high below low.", "stk_h/hl", true},
      {"IBM,1,2,0.5,1.5,100,3\nHL,10,9,11,10,100,0\nZP,0,0,0,0,1,0\n",
       " Not an InvestorLink file: 2 of its 3 lines break the bar rules.", "stk_z/zp", false},
  };
  for (const auto& c : cases) {
    headless_start();
    keys_.stop();
    keys_.install();
    write_text(dir_.file("991231.STK"), c.text);
    const int starved = headless_starved();
    type_when_waiting(c.stored ? std::vector<std::string>{"991231.STK\r", "d"}
                               : std::vector<std::string>{"991231.STK\r"});
    EXPECT_EQ(investorlink(), 1);
    EXPECT_EQ(headless_starved(), starved + 1) << c.said;  // the wait after the line
    const std::string screen = headless_screen();
    EXPECT_NE(screen.find(c.said), std::string::npos) << screen;
    // Under " Finished." when the bars were stored.
    EXPECT_EQ(screen.find(" Finished.") != std::string::npos, c.stored) << screen;
    if (c.stored) EXPECT_LT(screen.find(" Finished."), screen.find(c.said));
    EXPECT_EQ(file_exists(dir_.file(c.chart)), c.stored);
  }
}

TEST_F(InvestorLinkDialogue, EscAtTheArchivePromptKeepsTheNewSettings) {
  type_when_waiting({"\x1b"});
  EXPECT_EQ(investorlink(), 0);
  EXPECT_EQ(std::string(ff.order, 7), "SOHLCVI");
  EXPECT_EQ(ff.sep, ',');
}

}  // namespace
