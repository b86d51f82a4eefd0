// The real program under Xvfb with keys sent through XTest: start-up in a
// fresh home, the hand-off file, a long home, the setup file written back
// byte for byte, the settings menu reaching the defaults file, the file
// chooser, and the hand-off of a stored chart.  Files are checked against
// bytes spelled out here.  Pictures of the main menu and the settings menu
// are left in the build folder (screenshots/).  The window as a user
// meets it: stray keys in the main menu, each command on a cleared screen,
// a closed listing gone, Home and End, a highlighted field still readable.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <set>
#include <sstream>
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
  explicit ProgramE2E(int width = 1024) : server_(width) {}
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

  // A data directory named in the setup file, holding `names`.
  std::string data_dir_with(const std::vector<std::string>& names) {
    root_.mkdirs("h/morva");
    const std::string data = root_.mkdirs("d");
    Bytes rec = builtin_setup('A');
    std::memcpy(rec.data() + 26, data.data(), data.size());
    EXPECT_TRUE(write_file(start_ + "/setup.mrv", rec));
    for (const std::string& n : names) EXPECT_TRUE(write_text(data + "/" + n, "not prices\n"));
    return data;
  }
  // Row 0 ends with the folder `dir` (the title bar's right end).
  static bool ends_with_folder(std::string row0, const std::string& dir) {
    while (!row0.empty() && row0.back() == ' ') row0.pop_back();
    return row0.size() >= dir.size() && row0.compare(row0.size() - dir.size(), dir.size(), dir) == 0;
  }
  // The shadow text's row `r` (empty when there is none).
  std::string row(int r) const {
    std::istringstream in(app_.screen());
    std::string line;
    for (int i = 0; i <= r; ++i)
      if (!std::getline(in, line)) return {};
    return line;
  }

  xh::Xvfb server_;
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
  // An ordinary start (the start directory there, no data directory set)
  // says nothing on the console.
  start();
  end_with_esc();
  EXPECT_EQ(app_.output(), "");
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
  const std::string start_dir = made.size() > longhome.size() + 1 ? made : longhome;
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
  // Typed over the shown DOHLCVI, the order is what was typed: no letter
  // of the old one is left behind.
  drv_.type("4");
  settle();
  drv_.type("dohlcv\r");
  ASSERT_TRUE(app_.wait_for_text("Currently->DOHLCV ")) << app_.screen();
  EXPECT_EQ(app_.screen().find("Currently->DOHLCVI"), std::string::npos) << app_.screen();
  EXPECT_NE(app_.screen().find("M = skip this column"), std::string::npos) << app_.screen();
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
  EXPECT_EQ(read_file(start_ + "/morvautl.dat"), bytes("\0DOHLCV      \0;20010101\0\0", 25));
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
  const std::string odd = "a b;$(touch P).txt";
  const std::string data = data_dir_with({odd, "apple.txt", "melon.txt"});
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
  // Picked above the folder CD moved to, it is named by its whole path.
  EXPECT_NE(app_.screen().find("Source: " + data + "/" + odd), std::string::npos) << app_.screen();
  drv_.type(" ");
  ASSERT_TRUE(app_.wait_for_text("Finished.")) << app_.screen();
  drv_.type(" ");
  ASSERT_TRUE(app_.wait_for_text("Choose a date format")) << app_.screen();

  // Typed, the same name is opened as a file as well (from sub, where CD
  // moved the program).
  drv_.fkey(2);
  settle();
  drv_.type("../" + odd + "\r");
  settle();
  drv_.esc();
  ASSERT_TRUE(app_.wait_for_text("File is missing.1")) << app_.screen();
  EXPECT_NE(app_.screen().find("Source: ../" + odd), std::string::npos) << app_.screen();
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

// Keys without a line in the main menu do nothing: after each, F2 still
// opens the settings (a key that started a command, showed a message or
// ended the program would not get there); after the last, one ESC ends
// the program.
TEST_F(ProgramE2E, StrayKeysInTheMainMenuDoNothing) {
  struct Stray {
    unsigned keysym, mods;
    const char* name;
  };
  const Stray strays[] = {
      {xh::kTab, 0, "Tab"},        {xh::kBackSpace, 0, "BackSpace"}, {'k', xh::kControl, "Ctrl+K"},
      {'j', xh::kControl, "Ctrl+J"}, {'a', xh::kControl, "Ctrl+A"}, {xh::kHome, 0, "Home"},
      {xh::kEnd, 0, "End"},        {xh::kDelete, 0, "Delete"},
      {xh::kF1 + 9, 0, "F10"},     {'x', 0, "x"},                    {'1', 0, "1"},
  };
  start();
  for (const auto& k : strays) {
    drv_.key(k.keysym, k.mods);
    drv_.fkey(2);
    ASSERT_TRUE(app_.wait_for_text("Choose a date format")) << k.name << "\n" << app_.screen();
    drv_.esc();
    ASSERT_TRUE(app_.wait_for_text("convert TECHTOOLS files")) << k.name << "\n" << app_.screen();
  }
  drv_.key(xh::kTab);  // it started the quick-quote import
  end_with_esc();
}

// Each command starts on a cleared screen below its title bar: no line of
// the main menu is left on it.
TEST_F(ProgramE2E, EachCommandStartsOnAClearedScreen) {
  struct Command {
    unsigned keysym;
    const char* shows;  // the command's own text
    const char* title;  // row 0
  };
  const Command commands[] = {
      {xh::kF1 + 2, "Enter a MORVA filename", "<F3> = convert a MORVA DAILY"},
      {'t', "QUICK-QUOTE filename", "   QUICK-QUOTE TO MORVA"},
      {xh::kF1 + 8, "TECHTOOL filename", "   TECHTOOLS TO MORVA"},
      {'b', "execute MORVABL.EXE", " <B> = access BLOOMBERG"},
  };
  start();
  for (const auto& c : commands) {
    drv_.key(c.keysym);
    ASSERT_TRUE(app_.wait_for_text(c.shows)) << c.shows << "\n" << app_.screen();
    const std::string screen = app_.screen();
    for (const char* menu_line : {"STARQUOTE", "COMPRESS a MORVA", " ESC = Exit", "+ - x or /"})
      EXPECT_EQ(screen.find(menu_line), std::string::npos) << c.shows << "\n" << screen;
    EXPECT_EQ(row(0).find(c.title), 0u) << row(0);
    drv_.esc();
    ASSERT_TRUE(app_.wait_for_text("convert TECHTOOLS files")) << app_.screen();
  }
  end_with_esc();
}

// The F9 listing closes without a trace, End and Home reach the last and
// the first entry, and Home and End move inside the name field.
TEST_F(ProgramE2E, ListingClosesCleanlyAndHomeEndMove) {
  data_dir_with({"apple.txt", "kiwi.txt", "melon.txt", "xbc.txt"});
  start();
  drv_.fkey(2);
  ASSERT_TRUE(app_.wait_for_text("Choose a date format")) << app_.screen();
  drv_.fkey(2);
  ASSERT_TRUE(app_.wait_for_text("Enter a TEXT filename")) << app_.screen();
  const std::string hint = "(Press <F9> for a directory listing)";
  struct Pick {
    std::vector<unsigned> keys;
    const char* picked;
  };
  const Pick picks[] = {{{xh::kEnd}, "xbc.txt"}, {{xh::kEnd, xh::kHome, xh::kRight}, "apple.txt"}};
  for (const auto& p : picks) {
    drv_.fkey(9);
    ASSERT_TRUE(app_.wait_for_text("kiwi.txt")) << app_.screen();
    for (unsigned k : p.keys) drv_.key(k);
    drv_.enter();
    // The hint the listing covered is back, the listing's names are gone.
    ASSERT_TRUE(app_.wait_for_text(hint)) << app_.screen();
    EXPECT_NE(row(4).find(p.picked), std::string::npos) << app_.screen();
    EXPECT_EQ(app_.screen().find("kiwi.txt"), std::string::npos) << app_.screen();
  }
  // In the field: "abc.tx", Home, "x", End, "t" is the name xbc.txt.
  drv_.type("abc.tx");
  drv_.key(xh::kHome);
  drv_.type("x");
  drv_.key(xh::kEnd);
  drv_.type("t\r");
  ASSERT_TRUE(app_.wait_for_text("Source: xbc.txt")) << app_.screen();
  EXPECT_EQ(app_.screen().find("kiwi.txt"), std::string::npos) << app_.screen();
  drv_.esc();
  ASSERT_TRUE(app_.wait_for_text("File is missing.1")) << app_.screen();
  drv_.type(" ");
  ASSERT_TRUE(app_.wait_for_text("Finished.")) << app_.screen();
  drv_.type(" ");
  ASSERT_TRUE(app_.wait_for_text("Choose a date format")) << app_.screen();
  drv_.esc();
  ASSERT_TRUE(app_.wait_for_text("convert TECHTOOLS files")) << app_.screen();
  end_with_esc();
}

// A click in a name field highlights it; the letters stay readable in the
// menu colour of the built-in setup (7, below 8: text and background of one
// colour index).
TEST_F(ProgramE2E, ClickedNameFieldStaysReadable) {
  start();
  drv_.fkey(3);
  ASSERT_TRUE(app_.wait_for_text("Enter a MORVA filename")) << app_.screen();
  drv_.type("WWW");
  settle();
  drv_.click(4, 53);
  drv_.type("d");
  ASSERT_TRUE(app_.wait_for_text("WWWd")) << app_.screen();
  drv_.sync();
  int w = 0, h = 0;
  const auto px = drv_.capture(&w, &h);
  ASSERT_FALSE(px.empty());
  const int cw = drv_.cell_width(), ch = drv_.cell_height();
  std::set<std::uint32_t> colours;
  for (int y = 4 * ch + 1; y < 5 * ch - 2; ++y)
    for (int x = 52 * cw; x < 55 * cw; ++x) colours.insert(px[static_cast<std::size_t>(y) * w + x]);
  EXPECT_GE(colours.size(), 2u);  // letters on a highlight, not a solid block
  drv_.esc();
  ASSERT_TRUE(app_.wait_for_text("convert TECHTOOLS files")) << app_.screen();
  end_with_esc();
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

// The listing walks folders only while it is open: a file picked in a
// sub-folder is named by its path, the program stays in its folder (the
// title bar says which), and a name typed afterwards means what it meant.
TEST_F(ProgramE2E, ListingLeavesTheProgramInItsFolder) {
  const std::string data = data_dir_with({"apple.txt"});
  ASSERT_TRUE(write_text(root_.mkdirs("d/sub") + "/inner.txt", "x\n"));
  start();
  drv_.fkey(2);
  ASSERT_TRUE(app_.wait_for_text("Choose a date format")) << app_.screen();
  drv_.fkey(2);
  ASSERT_TRUE(app_.wait_for_text("Enter a TEXT filename")) << app_.screen();
  EXPECT_TRUE(ends_with_folder(row(0), data)) << row(0);
  drv_.fkey(9);
  ASSERT_TRUE(app_.wait_for_text("apple.txt")) << app_.screen();
  drv_.key(xh::kRight);  // apple.txt
  drv_.key(xh::kRight);  // sub/
  drv_.enter();
  ASSERT_TRUE(app_.wait_for_text("inner.txt")) << app_.screen();
  EXPECT_NE(app_.screen().find(data + "/sub"), std::string::npos) << app_.screen();  // its title
  drv_.key(xh::kRight);
  drv_.enter();
  ASSERT_TRUE(app_.wait_for_text("sub/inner.txt")) << app_.screen();
  drv_.enter();
  ASSERT_TRUE(app_.wait_for_text("Source: sub/inner.txt")) << app_.screen();
  drv_.esc();
  ASSERT_TRUE(app_.wait_for_text("File is missing.1")) << app_.screen();
  drv_.type(" ");
  ASSERT_TRUE(app_.wait_for_text("Press a key.")) << app_.screen();
  drv_.type(" ");
  ASSERT_TRUE(app_.wait_for_text("Choose a date format")) << app_.screen();
  // Typed now, the same paths open from the data directory.
  for (const std::string typed : {"sub/inner.txt", "apple.txt"}) {
    drv_.fkey(2);
    settle();
    drv_.type(typed + "\r");
    ASSERT_TRUE(app_.wait_for_text("Source: " + typed)) << app_.screen();
    EXPECT_TRUE(ends_with_folder(row(0), data)) << row(0);
    drv_.esc();
    ASSERT_TRUE(app_.wait_for_text("File is missing.1")) << app_.screen();
    drv_.type(" ");
    ASSERT_TRUE(app_.wait_for_text("Press a key.")) << app_.screen();
    drv_.type(" ");
    ASSERT_TRUE(app_.wait_for_text("Choose a date format")) << app_.screen();
  }
  drv_.esc();
  ASSERT_TRUE(app_.wait_for_text("convert TECHTOOLS files")) << app_.screen();
  end_with_esc();
}

// Started from the build folder with no help file in ~/morva, F1 on the
// main menu finds the one beside the program and opens its first page.
TEST_F(ProgramE2E, F1OnTheMainMenuFindsTheHelpBesideTheProgram) {
  ASSERT_TRUE(file_exists(std::string(MORVA_BINARY_DIR) + "/m.hlp"));
  ASSERT_TRUE(app_.start({.cwd = MORVA_BINARY_DIR, .home = home_, .display = server_.display(),
                          .dump_path = root_.file("shadow.txt"), .args = {}, .binary = {}}));
  ASSERT_TRUE(app_.wait_for_text("convert TECHTOOLS files", 10000)) << app_.output();
  ASSERT_TRUE(drv_.find_window(app_.pid()));
  EXPECT_NE(app_.screen().find("<F1> = Help"), std::string::npos) << app_.screen();
  ASSERT_FALSE(file_exists(start_ + "/m.hlp"));
  drv_.fkey(1);
  ASSERT_TRUE(app_.wait_for_text("Press a key to continue")) << app_.screen();
  EXPECT_NE(app_.screen().find("THE MAIN MENU"), std::string::npos) << app_.screen();
  EXPECT_EQ(app_.screen().find("M.HLP is missing"), std::string::npos) << app_.screen();
  drv_.esc();
  ASSERT_TRUE(app_.wait_for_text("<F1> = Help")) << app_.screen();
  end_with_esc();
}

// A path of 60 characters typed into the 21-cell source field is used
// whole: the field scrolls, and the text is converted.
TEST_F(ProgramE2E, ASixtyCharacterPathIsTypedWhole) {
  root_.mkdirs("h/morva");
  std::string dir = work_ + "/";
  const std::string leaf = "/prices.txt";
  while (dir.size() + leaf.size() < 60) dir += "x";
  ASSERT_TRUE(write_text(root_.mkdirs(dir.substr(root_.path().size() + 1)) + leaf,
                         read_text(std::string(MORVA_SOURCE_DIR) + "/samples/ibm.txt")));
  const std::string path = dir + leaf;
  ASSERT_EQ(path.size(), 60u);
  start();
  drv_.fkey(2);
  ASSERT_TRUE(app_.wait_for_text("Choose a date format")) << app_.screen();
  drv_.fkey(2);
  settle();
  drv_.type(path);
  ASSERT_TRUE(app_.wait_for_text(path.substr(path.size() - 20))) << app_.screen();
  drv_.enter();
  ASSERT_TRUE(app_.wait_for_text("Source: " + path)) << app_.screen();
  settle();
  drv_.type("long\r");
  ASSERT_TRUE(app_.wait_for_text("Press a key.", 10000)) << app_.screen();
  EXPECT_NE(app_.screen().find(" Finished."), std::string::npos) << app_.screen();
  EXPECT_NE(app_.screen().find("60 bars stored in ~/morva/txt_l/long; 0 lines skipped."), std::string::npos)
      << app_.screen();
  EXPECT_EQ(read_file(start_ + "/txt_l/long").size(), 128u + 60u * 28u);
  drv_.type(" ");
  ASSERT_TRUE(app_.wait_for_text("Choose a date format")) << app_.screen();
  drv_.esc();
  ASSERT_TRUE(app_.wait_for_text("convert TECHTOOLS files")) << app_.screen();
  end_with_esc();
}

// Pictures for docs/screenshots at two window widths: the main menu, the
// settings, the file chooser with its listing, a help page and a finished
// conversion.  Written to the build folder's screenshots/ and, when
// MORVA_SCREENSHOT_DIR is set, there too.
class Screenshots : public ProgramE2E, public ::testing::WithParamInterface<int> {
 protected:
  Screenshots() : ProgramE2E(GetParam()) {}
  void shot(const std::string& name) {
    drv_.sync();
    settle();  // a picture, not a check
    const std::string file = name + "_" + std::to_string(GetParam()) + ".png";
    EXPECT_TRUE(drv_.save_png(shots_dir() + "/" + file));
    if (const char* dir = std::getenv("MORVA_SCREENSHOT_DIR")) drv_.save_png(std::string(dir) + "/" + file);
  }
};

TEST_P(Screenshots, MainScreens) {
  const std::string data = data_dir_with({"aapl.txt", "gold_dj.txt", "msft_yahoo.csv"});
  const std::string src = MORVA_SOURCE_DIR;
  ASSERT_TRUE(write_text(data + "/ibm.txt", read_text(src + "/samples/ibm.txt")));
  ASSERT_TRUE(write_text(start_ + "/m.hlp", read_text(src + "/docs/m.hlp")));
  start();
  shot("main_menu");
  drv_.fkey(2);
  ASSERT_TRUE(app_.wait_for_text("Choose a date format")) << app_.screen();
  shot("format_settings");
  drv_.fkey(2);
  ASSERT_TRUE(app_.wait_for_text("Enter a TEXT filename")) << app_.screen();
  drv_.fkey(9);
  ASSERT_TRUE(app_.wait_for_text("gold_dj.txt")) << app_.screen();
  shot("file_chooser");
  drv_.fkey(1);
  ASSERT_TRUE(app_.wait_for_text("Press a key to continue")) << app_.screen();
  shot("help_page");
  drv_.esc();
  ASSERT_TRUE(app_.wait_for_text("gold_dj.txt")) << app_.screen();
  drv_.esc();
  settle();
  drv_.type("ibm.txt\r");
  settle();
  drv_.type("ibm\r");
  ASSERT_TRUE(app_.wait_for_text("Press a key.", 10000)) << app_.screen();
  EXPECT_NE(app_.screen().find(" Finished."), std::string::npos) << app_.screen();
  EXPECT_NE(app_.screen().find("60 bars stored in " + data + "/txt_i/ibm; 0 lines skipped."),
            std::string::npos)
      << app_.screen();
  shot("conversion");
  drv_.type(" ");
  ASSERT_TRUE(app_.wait_for_text("Choose a date format")) << app_.screen();
  drv_.esc();
  ASSERT_TRUE(app_.wait_for_text("convert TECHTOOLS files")) << app_.screen();
  end_with_esc();
}

// The window in daily use: help from the main menu, a German file the
// default settings refuse, the listing in a sub-folder of long names, a
// long path typed into the source field.
TEST_P(Screenshots, DailyUse) {
  const std::string data = data_dir_with({"aapl.txt"});
  const std::string down = root_.mkdirs("d/downloads");
  for (const char* n : {"msft_yahoo_2024_daily.csv", "setup.mrv", "aapl_nasdaq_prices.csv", "gold_dj.txt",
                        "ibm.txt", "dax_xetra_boerse_frankfurt.csv", "x.csv"})
    ASSERT_TRUE(write_text(down + "/" + n, "x\n"));
  ASSERT_TRUE(write_text(data + "/dax.csv",
                         "Datum;Er\xc3\xb6" "ffnung;Hoch;Tief;Schluss;Volumen\n"
                         "15.01.2024;16,50;16,80;16,40;16,75;1200\n16.01.2024;16,75;17,10;16,60;17,00;1500\n"
                         "17.01.2024;17,00;17,20;16,90;17,05;900\n"));
  std::string longdir = data + "/";
  while (longdir.size() + 11 < 60) longdir += "y";
  ASSERT_TRUE(write_text(root_.mkdirs(longdir.substr(root_.path().size() + 1)) + "/prices.txt", "x\n"));
  start();
  drv_.fkey(1);
  ASSERT_TRUE(app_.wait_for_text("THE MAIN MENU")) << app_.screen();
  shot("help_main_menu");
  drv_.esc();
  ASSERT_TRUE(app_.wait_for_text("<F1> = Help")) << app_.screen();

  drv_.fkey(2);
  ASSERT_TRUE(app_.wait_for_text("Choose a date format")) << app_.screen();
  drv_.fkey(2);
  settle();
  drv_.type("dax.csv\r");
  // The layout found in the file is offered; "n" keeps the settings.
  ASSERT_TRUE(app_.wait_for_text("Convert with what was found?")) << app_.screen();
  drv_.type("n");
  ASSERT_TRUE(app_.wait_for_text("Enter a MORVA filename")) << app_.screen();
  drv_.type("dax\r");
  ASSERT_TRUE(app_.wait_for_text("Press a key.")) << app_.screen();
  EXPECT_NE(app_.screen().find(" Nothing was stored."), std::string::npos) << app_.screen();
  EXPECT_EQ(app_.screen().find(" Finished."), std::string::npos) << app_.screen();
  EXPECT_NE(app_.screen().find("No line has a date in the format 19991231 (<0>)"), std::string::npos)
      << app_.screen();
  shot("refused_german_file");
  drv_.type(" ");
  ASSERT_TRUE(app_.wait_for_text("Choose a date format")) << app_.screen();

  drv_.fkey(2);
  settle();
  drv_.fkey(9);
  ASSERT_TRUE(app_.wait_for_text("downloads/")) << app_.screen();
  for (int i = 0; i < 3; ++i) drv_.key(xh::kRight);  // aapl.txt, dax.csv, downloads/
  drv_.enter();
  ASSERT_TRUE(app_.wait_for_text("msft_yahoo_~")) << app_.screen();
  shot("listing_subfolder");
  drv_.esc();
  settle();
  drv_.type(longdir + "/prices.txt");
  ASSERT_TRUE(app_.wait_for_text("yyy/prices.txt")) << app_.screen();
  shot("typed_long_path");
  drv_.esc();
  ASSERT_TRUE(app_.wait_for_text("Choose a date format")) << app_.screen();
  drv_.esc();
  ASSERT_TRUE(app_.wait_for_text("convert TECHTOOLS files")) << app_.screen();
  end_with_esc();
}

INSTANTIATE_TEST_SUITE_P(Widths, Screenshots, ::testing::Values(1024, 1280));

}  // namespace
