// F2 from chart to text on the in-memory screen: the name prompt, the
// overwrite question, the display question, list mode.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "chartdata/chartfile.h"
#include "chartdata/faults.h"
#include "window/commands.h"
#include "window/globals.h"
#include "screen/headless.h"
#include "screen/screen.h"
#include "support/tempdir.h"
#include "support/scripted_keys.h"

namespace {

void put32(Bytes& out, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) out.push_back(static_cast<unsigned char>(v >> (8 * k)));
}

// A chart of bars with the given dates and closes (open = high = low = close).
Bytes chart(const std::vector<std::pair<std::int32_t, float>>& bars) {
  Bytes out(128, ' ');
  for (const auto& [date, close] : bars) {
    put32(out, static_cast<std::uint32_t>(date));
    for (int k = 0; k < 4; ++k) {
      std::uint32_t v;
      std::memcpy(&v, &close, 4);
      put32(out, v);
    }
    put32(out, 1000);
    put32(out, 7);
  }
  return out;
}

bool fd_open(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

class ChartToTextDialogue : public ::testing::Test {
 protected:
  void SetUp() override {
    headless_start();
    set_builtin_format();
    ff.direction = 1;
    exclamfile = 0;
    write_file(dir_.file("ibm"), chart({{20000105, 1.5f}, {19991231, 1.75f}}));
  }
  void TearDown() override {
    exclamfile = 0;
    keys_.stop();
  }
  int open_chart(const char* name) {
    std::snprintf(firstname, sizeof firstname, "%s", name);
    std::snprintf(exclambuf, sizeof exclambuf, "%s", name);
    return ::open(name, O_RDONLY);
  }
  // Batches are typed only when the program finds no key waiting.
  void type_when_waiting(std::vector<std::string> batches) {
    keys_.type_at_empty_polls(std::move(batches));
  }
  // Row 0 each time the program looked for a key: the questions it asked.
  bool asked(const std::string& question) const { return keys_.asked(question); }

  ScriptedKeys keys_;
  TempDir dir_{"morva-rtdlg"};
  ScopedChdir cd_{dir_.path()};
};

const std::string kLine1 = "19991231,1.750,1.750,1.750,1.750,1000,7 ";
const std::string kLine2 = "20000105,1.500,1.500,1.500,1.500,1000,7 ";
// The first line written (20000105's) fixes the width: 40 * 7 / 5.
const std::string kText = kLine1 + std::string(16, ' ') + "\n" + kLine2 + std::string(16, ' ') + "\n";

TEST_F(ChartToTextDialogue, TypedNameWithoutDisplayGivesTheSortedText) {
  const int fd = open_chart("ibm");
  type_when_waiting({"ibm.txt\r", "n"});
  EXPECT_EQ(generalRT(fd), 1);
  EXPECT_EQ(keys_.typed(), 2u);
  EXPECT_FALSE(fd_open(fd));
  EXPECT_EQ(read_text(dir_.file("ibm.txt")), kText);
  EXPECT_EQ(headless_starved(), 0);
}

TEST_F(ChartToTextDialogue, FailedWriteShowsTheWriteError) {
  write_text(dir_.file("ibm.txt"), "keep me\n");
  const int fd = open_chart("ibm");
  faults_reset();
  g_faults.fail_write = 1;
  type_when_waiting({"ibm.txt\r", "y", "n"});
  EXPECT_EQ(generalRT(fd), 1);
  faults_reset();
  EXPECT_TRUE(asked(" Unable to write to disk. Disk full?"));
  EXPECT_FALSE(fd_open(fd));
  EXPECT_EQ(read_text(dir_.file("ibm.txt")), "keep me\n");
}

TEST_F(ChartToTextDialogue, DisplayShowsTheLinesAndWaitsForEnter) {
  const int fd = open_chart("ibm");
  type_when_waiting({"ibm.txt\r", "y", "\r"});
  EXPECT_EQ(generalRT(fd), 1);
  EXPECT_EQ(keys_.typed(), 3u);
  EXPECT_EQ(headless_row(6).substr(0, kLine2.size()), kLine2);  // in the chart's order
  EXPECT_EQ(headless_row(7).substr(0, kLine1.size()), kLine1);
  EXPECT_EQ(headless_row(24).substr(60, 12), "Press enter.");
  EXPECT_EQ(read_text(dir_.file("ibm.txt")), kText);
}

TEST_F(ChartToTextDialogue, ExistingFileIsReplacedOnlyWhenConfirmed) {
  write_text(dir_.file("ibm.txt"), "keep me\n");
  int fd = open_chart("ibm");
  // 'n' refuses (the disk-full line waits for a key), then ESC at the prompt.
  type_when_waiting({"ibm.txt\r", "n", " ", "\x1b"});
  EXPECT_EQ(generalRT(fd), 0);
  EXPECT_FALSE(fd_open(fd));
  EXPECT_EQ(read_text(dir_.file("ibm.txt")), "keep me\n");

  fd = open_chart("ibm");
  type_when_waiting({"ibm.txt\r", "y", "n"});
  EXPECT_EQ(generalRT(fd), 1);
  EXPECT_EQ(read_text(dir_.file("ibm.txt")), kText);
}

TEST_F(ChartToTextDialogue, SourceNameIsRefusedAndAskedAgain) {
  const int fd = open_chart("ibm");
  type_when_waiting({"ibm\r", " ", "out.txt\r", "n"});
  EXPECT_EQ(generalRT(fd), 1);
  EXPECT_EQ(read_text(dir_.file("out.txt")), kText);
  EXPECT_EQ(read_file(dir_.file("ibm")).size(), 128u + 2 * 28);
}

TEST_F(ChartToTextDialogue, ListModeNamesTheTextAfterTheChart) {
  write_file(dir_.file("ibm.M"), chart({{19991231, 1.75f}}));
  exclamfile = 1;
  const int fd = open_chart("ibm.M");
  std::strcpy(firstname, "charts.!");
  EXPECT_EQ(generalRT(fd), 1);
  EXPECT_EQ(headless_starved(), 0);  // nothing asked
  EXPECT_EQ(read_text(dir_.file("ibm_M.T")), kLine1 + std::string(16, ' ') + "\n");
  EXPECT_NE(headless_row(4).find("ibm_M.T"), std::string::npos);
}

}  // namespace
