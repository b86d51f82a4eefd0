// The real program under Xvfb with keys sent through XTest: start-up in a
// fresh home, the hand-off file, a long home, the setup file written back
// byte for byte, the settings menu reaching the defaults file, the file
// chooser, and the hand-off of a stored chart.  Files are checked against
// bytes spelled out here.  Pictures of the main menu and the settings menu
// are left in the build folder (screenshots/).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "support/tempdir.h"
#include "support/x11_harness.h"

namespace {

// The setup file of the built-in values; byte 24 holds the data drive,
// which start-up takes from the start drive when the file had none.
Bytes builtin_setup(unsigned char drive) {
  Bytes b(62, 0);
  const unsigned char head[] = {'P', 1, 1, 'y', 0, 0, '1', 0, 110, 0, 5, 0, 1, 0, 'l',
                                7,   3, 14, 10, 12, 14, 10, 9, 7};
  std::memcpy(b.data(), head, sizeof head);
  b[24] = drive;
  std::memcpy(b.data() + 50, " 18", 4);
  b[54] = 1;
  b[58] = 1;
  return b;
}

Bytes bytes(const char* s, std::size_t n) {
  return Bytes(reinterpret_cast<const unsigned char*>(s),
               reinterpret_cast<const unsigned char*>(s) + n);
}

std::string shots_dir() {
  std::string d = std::string(MORVA_BINARY_DIR) + "/screenshots";
  ::mkdir(d.c_str(), 0777);
  return d;
}

class ProgramE2E : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.ok()); }

  // Starts the program in `cwd` with HOME `home` (defaults: the fixture's).
  void start(std::vector<std::string> args = {}, std::string home = {}, std::string cwd = {}) {
    if (home.empty()) home = home_;
    if (cwd.empty()) cwd = work_;
    ASSERT_TRUE(app_.start({.cwd = cwd, .home = home, .display = server_.display(),
                            .dump_path = root_.file("shadow.txt"), .args = args, .binary = {}}));
    ASSERT_TRUE(app_.wait_for_text("convert TECHTOOLS files", 10000)) << app_.output();
    ASSERT_TRUE(drv_.find_window(app_.pid()));
  }
  // The line editor polls while its cursor blinks and writes no screen
  // dump then: keys typed for it are given a moment to arrive.
  static void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }
  void end_with_esc() {
    drv_.esc();
    ASSERT_EQ(app_.wait_exit(10000), 0) << app_.output();
  }

  xh::Xvfb server_{1024};
  TempDir root_{"m"};  // short: a home of at most 17 characters keeps <home>/morva
  std::string home_ = root_.mkdirs("h");
  std::string start_ = home_ + "/morva";
  std::string work_ = root_.mkdirs("w");
  xh::MorvaProcess app_;
  xh::XDriver drv_{server_.display()};
};

TEST_F(ProgramE2E, FreshHomeStartsWithBuiltinSetupAndEscEndsWithZero) {
  ASSERT_LE(home_.size(), 17u);
  start();
  EXPECT_NE(app_.screen().find("<F2> = convert between TEXT (ASCII) and MORVA formats"),
            std::string::npos);
  EXPECT_NE(app_.screen().find("MORVA File Converter V5.37"), std::string::npos);
  EXPECT_TRUE(drv_.save_png(shots_dir() + "/main_menu.png"));
  end_with_esc();
  EXPECT_EQ(read_file(start_ + "/setup.mrv"), builtin_setup('A'));
  EXPECT_TRUE(file_exists(start_ + "/morvautl.dat"));
  EXPECT_EQ(read_file(start_ + "/morvautl.dat").size(), 0u);
  EXPECT_NE(app_.output().find(">" + start_ + "<-Didn't exist. So, we made this subdir:>" +
                               start_ + "<"),
            std::string::npos)
      << app_.output();
}

TEST_F(ProgramE2E, HandOffFileNamesTheStartDirectoryAndIsDeleted) {
  const std::string x = root_.mkdirs("x");
  ASSERT_TRUE(write_text(work_ + "/exe.mrv", x));
  start();
  end_with_esc();
  EXPECT_FALSE(file_exists(work_ + "/exe.mrv"));
  EXPECT_EQ(read_file(x + "/setup.mrv"), builtin_setup('/'));
  EXPECT_FALSE(file_exists(start_ + "/setup.mrv"));
  EXPECT_TRUE(file_exists(x + "/morvautl.dat"));
}

TEST_F(ProgramE2E, LongHomeKeepsItsSettingsInOneStartDirectory) {
  const std::string longhome = root_.mkdirs("a-home-folder-of-length");
  // The folder earlier versions made, when its name lies in the home.
  const std::string made = (longhome + "/morva").substr(0, 24);
  if (made.size() > longhome.size() + 1) root_.mkdirs(made.substr(root_.path().size() + 1));
  for (int run = 0; run < 2; ++run) {
    start({}, longhome);
    end_with_esc();
  }
  // Nothing is made outside the home, and the second start found the file
  // that the first one wrote.
  EXPECT_FALSE(file_exists(longhome.substr(0, 17) + "/morva"));
  const std::string start_dir = made.size() > longhome.size() + 1 ? made
                                : longhome.size() <= 24         ? longhome
                                                                : work_;
  EXPECT_EQ(read_file(start_dir + "/setup.mrv").size(), 62u) << app_.output();
}

TEST_F(ProgramE2E, SetupFileOfTheChartingProgramIsWrittenBackByteForByte) {
  root_.mkdirs("h/morva");
  const std::string data = root_.mkdirs("d");
  Bytes rec(62);
  for (int i = 0; i < 62; ++i) rec[i] = static_cast<unsigned char>(0x91 + 7 * i);
  rec[0] = 'P';
  for (int i = 15; i < 23; ++i) rec[i] = static_cast<unsigned char>(i - 14);  // colours 1..8
  rec[12] = 1;
  rec[13] = 0;
  std::memset(rec.data() + 26, 0, 24);
  std::memcpy(rec.data() + 26, data.data(), data.size());
  ASSERT_TRUE(write_file(start_ + "/setup.mrv", rec));
  start();
  end_with_esc();
  EXPECT_EQ(read_file(start_ + "/setup.mrv"), rec);
}

TEST_F(ProgramE2E, SettingsMenuEditsReachTheDefaultsFile) {
  start();
  drv_.fkey(2);
  ASSERT_TRUE(app_.wait_for_text("Choose a date format")) << app_.screen();
  drv_.type("4");
  settle();
  drv_.type("dohlc1\r");
  ASSERT_TRUE(app_.wait_for_text("Currently->DOHLC I")) << app_.screen();
  drv_.type("7");
  settle();
  drv_.type("5\r");
  settle();
  drv_.type("7");
  settle();
  drv_.type(";\r");
  ASSERT_TRUE(app_.wait_for_text("Currently->;")) << app_.screen();
  drv_.type("8");
  settle();
  drv_.type("2001\r");
  ASSERT_TRUE(app_.wait_for_text("Currently->20010101")) << app_.screen();
  EXPECT_TRUE(drv_.save_png(shots_dir() + "/format_settings.png"));
  drv_.esc();
  ASSERT_TRUE(app_.wait_for_text("convert TECHTOOLS files")) << app_.screen();
  end_with_esc();
  EXPECT_EQ(read_file(start_ + "/morvautl.dat"), bytes("\0DOHLC I     \0;20010101\0\0", 25));
}

TEST_F(ProgramE2E, F2AtOnceLeavesTheDefaultsFileAsItWas) {
  root_.mkdirs("h/morva");
  const Bytes saved = bytes("\x02SDHLCV      \0 19990101\0\0", 25);
  ASSERT_TRUE(write_file(start_ + "/morvautl.dat", saved));
  start();
  drv_.fkey(2);
  ASSERT_TRUE(app_.wait_for_text("Choose a date format")) << app_.screen();
  drv_.fkey(2);  // start at once: the file prompt
  settle();
  drv_.esc();
  ASSERT_TRUE(app_.wait_for_text("Choose a date format")) << app_.screen();
  drv_.esc();
  ASSERT_TRUE(app_.wait_for_text("convert TECHTOOLS files")) << app_.screen();
  end_with_esc();
  EXPECT_EQ(read_file(start_ + "/morvautl.dat"), saved);
}

TEST_F(ProgramE2E, OldDefaultsFileLoadsWithAFourDigitYear) {
  root_.mkdirs("h/morva");
  const Bytes old = bytes("\x00" "DOHLCVI\0\0\0\0\0\0,921231\0\x00", 23);
  ASSERT_TRUE(write_file(start_ + "/morvautl.dat", old));
  start();
  drv_.fkey(2);
  ASSERT_TRUE(app_.wait_for_text("Currently->19921231")) << app_.screen();
  drv_.esc();
  ASSERT_TRUE(app_.wait_for_text("convert TECHTOOLS files")) << app_.screen();
  end_with_esc();
  EXPECT_EQ(read_file(start_ + "/morvautl.dat"), old);  // nothing changed: not rewritten
}

TEST_F(ProgramE2E, FileChooserWalksFiltersAndOpensOddNamesAsFiles) {
  // A data directory named in the setup file, holding a few files.
  root_.mkdirs("h/morva");
  const std::string data = root_.mkdirs("d");
  Bytes rec = builtin_setup('A');
  std::memcpy(rec.data() + 26, data.data(), data.size());
  ASSERT_TRUE(write_file(start_ + "/setup.mrv", rec));
  const std::string odd = "a b;$(touch P).txt";
  for (const std::string& n : {odd, std::string("apple.txt"), std::string("melon.txt")})
    ASSERT_TRUE(write_text(data + "/" + n, "not prices\n"));
  ASSERT_TRUE(write_text(root_.mkdirs("d/sub") + "/inner.txt", "x\n"));

  start();
  drv_.fkey(2);
  ASSERT_TRUE(app_.wait_for_text("Choose a date format")) << app_.screen();
  drv_.fkey(2);
  settle();
  drv_.fkey(9);
  ASSERT_TRUE(app_.wait_for_text("apple.txt")) << app_.screen();
  // At the data directory the parent cell is blank.
  EXPECT_EQ(app_.screen().find("../"), std::string::npos) << app_.screen();
  EXPECT_TRUE(drv_.save_png(shots_dir() + "/file_chooser.png"));

  drv_.type("m");  // only names starting with M or m
  settle();
  ASSERT_TRUE(app_.wait_for_text("melon.txt")) << app_.screen();
  EXPECT_EQ(app_.screen().find("apple.txt"), std::string::npos) << app_.screen();
  drv_.esc();
  settle();

  drv_.type("CD sub\r");  // moves down and lists there
  ASSERT_TRUE(app_.wait_for_text("inner.txt")) << app_.screen();
  EXPECT_NE(app_.screen().find("../ EXIT"), std::string::npos) << app_.screen();
  drv_.enter();  // the first cell: "../ EXIT" goes back up
  ASSERT_TRUE(app_.wait_for_text("apple.txt")) << app_.screen();
  EXPECT_EQ(app_.screen().find("../ EXIT"), std::string::npos) << app_.screen();

  // F9 already open: Right to the first name (the odd one), Enter, then
  // Enter in the empty field opens it; the conversion asks for the chart
  // name, and ESC there ends it.
  drv_.key(xh::kRight);
  settle();
  drv_.enter();
  settle();
  drv_.enter();
  settle();
  drv_.esc();
  ASSERT_TRUE(app_.wait_for_text("File is missing.1")) << app_.screen();
  EXPECT_NE(app_.screen().find("Source: " + odd), std::string::npos) << app_.screen();
  drv_.type(" ");
  ASSERT_TRUE(app_.wait_for_text("Finished.")) << app_.screen();
  drv_.type(" ");
  ASSERT_TRUE(app_.wait_for_text("Choose a date format")) << app_.screen();

  // Typed, the same name is opened as a file as well.
  drv_.fkey(2);
  settle();
  drv_.type(odd + "\r");
  settle();
  drv_.esc();
  ASSERT_TRUE(app_.wait_for_text("File is missing.1")) << app_.screen();
  EXPECT_NE(app_.screen().find("Source: " + odd), std::string::npos) << app_.screen();
  drv_.type(" ");
  ASSERT_TRUE(app_.wait_for_text("Finished.")) << app_.screen();
  drv_.type(" ");
  ASSERT_TRUE(app_.wait_for_text("Choose a date format")) << app_.screen();
  drv_.esc();
  ASSERT_TRUE(app_.wait_for_text("convert TECHTOOLS files")) << app_.screen();
  end_with_esc();
  EXPECT_FALSE(file_exists(data + "/P"));
  EXPECT_FALSE(file_exists(work_ + "/P"));
  EXPECT_FALSE(file_exists(start_ + "/P"));
}

TEST_F(ProgramE2E, StoredChartIsHandedOverOnYes) {
  root_.mkdirs("h/morva");
  const std::string text = read_text(std::string(MORVA_SOURCE_DIR) + "/samples/ibm.txt");
  ASSERT_FALSE(text.empty());
  ASSERT_TRUE(write_text(start_ + "/ibm.txt", text));
  start({"charting"});
  drv_.fkey(2);
  ASSERT_TRUE(app_.wait_for_text("Choose a date format")) << app_.screen();
  drv_.fkey(2);
  settle();
  drv_.type("ibm.txt\r");
  settle();
  drv_.type("ibm\r");
  ASSERT_TRUE(app_.wait_for_text("Finished.", 10000)) << app_.screen();
  drv_.type(" ");
  ASSERT_TRUE(app_.wait_for_text("Do you want to graph this new file now? (y/n)->")) << app_.screen();
  drv_.type("y");
  ASSERT_EQ(app_.wait_exit(10000), 0) << app_.output();
  // The chart was stored in the storage directory of its text file's
  // extension and first letter; its name is handed over with no line end.
  EXPECT_EQ(read_text(start_ + "/tmpmorva"), "txt_i/ibm");
  const Bytes chart = read_file(start_ + "/txt_i/ibm");
  EXPECT_EQ(chart.size(), 128u + 60u * 28u);
}

}  // namespace
