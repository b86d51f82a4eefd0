// Start-up environment: the start directory (hand-off file, "xmorva", home),
// the setup file written back byte for byte, the second setup file, the
// directory checks and their messages, and the small writers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "chartdata/osshims.h"
#include "screen/headless.h"
#include "screen/screen.h"
#include "setup/environment.h"
#include "setup/setup.h"
#include "support/tempdir.h"
#include "support/scripted_keys.h"

namespace {

// The 62 bytes of a setup file holding the built-in values, with the data
// drive `drive` (start-up stores the start drive there when none is set).
Bytes builtin_setup_bytes(unsigned char drive) {
  Bytes b(62, 0);
  const unsigned char head[] = {'P', 1, 1, 'y', 0, 0, '1', 0, 110, 0, 5, 0, 1, 0, 'l',
                                7,   3, 14, 10, 12, 14, 10, 9, 7};
  std::memcpy(b.data(), head, sizeof head);
  b[24] = drive;
  b[25] = 0;
  std::memcpy(b.data() + 50, " 18", 4);
  b[54] = 1;  // redraw
  b[58] = 1;  // osc_pred value byte, three zero bytes after it
  return b;
}

class SetupTest : public ::testing::Test {
 protected:
  // Short folder names: a home of up to 17 characters keeps "<home>/morva".
  TempDir root{"m"};
  std::string home = root.mkdirs("h");
  std::string work = root.mkdirs("w");
  ScopedEnv env_home{"HOME", home.c_str()};
  ScopedChdir in_work{work};

  void SetUp() override {
    const char* h = gethomedir();
    if (!h || home != h) GTEST_SKIP() << "the user database names another home directory";
    headless_start();
    startsubdir[0] = 0;
    std::memset(datasubdir, 0, sizeof datasubdir);
  }

  std::string cwd() const {
    char buf[4096];
    return getcwd(buf, sizeof buf) ? buf : "";
  }
};

TEST_F(SetupTest, FreshHomeCreatesStartDirectoryAndBuiltinSetupFile) {
  ASSERT_LE(home.size(), 17u);
  testing::internal::CaptureStdout();
  EXPECT_EQ(get_setup(1), 0);
  std::string out = testing::internal::GetCapturedStdout();

  std::string start = home + "/morva";
  EXPECT_EQ(std::string(startsubdir), start);
  EXPECT_EQ(startdisk, 'A');
  EXPECT_EQ(read_file(start + "/setup.mrv"), builtin_setup_bytes('A'));
  EXPECT_NE(out.find("\n>" + start + "<-Didn't exist."), std::string::npos) << out;
  EXPECT_NE(out.find(" So, we made this subdir:>" + start + "<\n"), std::string::npos) << out;
  // No data directory yet: the work happens in the start directory, and
  // no message names a folder without a name.
  EXPECT_EQ(out.find("><-Didn't exist."), std::string::npos) << out;
  EXPECT_EQ(cwd(), start);
  EXPECT_EQ(std::string(holidayFnam), start + "/holiday ");
  EXPECT_EQ(origdatadisk, 'A');
}

TEST_F(SetupTest, HandOffFileNamesTheStartDirectoryAndIsDeleted) {
  std::string x = root.mkdirs("x");
  ASSERT_TRUE(write_text(work + "/exe.mrv", x));
  EXPECT_EQ(get_setup(1), 0);
  EXPECT_EQ(std::string(startsubdir), x);
  EXPECT_EQ(startdisk, '/');
  EXPECT_FALSE(file_exists(work + "/exe.mrv"));
  EXPECT_EQ(read_file(x + "/setup.mrv"), builtin_setup_bytes('/'));

  // A second start finds no hand-off file and falls back to the home.
  ScopedChdir back(work);
  get_setup(1);
  EXPECT_EQ(std::string(startsubdir), home + "/morva");
}

TEST_F(SetupTest, HandOffFileIsIgnoredWithoutHandOff) {
  std::string x = root.mkdirs("x");
  ASSERT_TRUE(write_text(work + "/exe.mrv", x));
  get_setup(0);
  EXPECT_EQ(std::string(startsubdir), home + "/morva");
  EXPECT_TRUE(file_exists(work + "/exe.mrv"));
}

TEST_F(SetupTest, ExecutableXmorvaMakesTheCurrentDirectoryTheStart) {
  ASSERT_TRUE(write_text(work + "/xmorva", "#!/bin/sh\n"));
  ::chmod((work + "/xmorva").c_str(), 0755);
  get_setup(1);
  EXPECT_EQ(std::string(startsubdir), work.substr(0, 24));
  EXPECT_TRUE(file_exists(work + "/setup.mrv"));
}

TEST_F(SetupTest, LongHomeKeepsOneStartDirectoryInTheHome) {
  std::string longhome = root.mkdirs("a-home-folder-of-length");
  ASSERT_GT(longhome.size(), 17u);
  ScopedEnv h("HOME", longhome.c_str());
  if (longhome != gethomedir()) GTEST_SKIP();
  // Made by earlier versions: the name cut to 24 characters, in the home.
  const std::string made = (longhome + "/morva").substr(0, 24);
  if (made.size() > longhome.size() + 1) root.mkdirs(made.substr(root.path().size() + 1));
  testing::internal::CaptureStdout();
  get_setup(1);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(std::string(startsubdir), home_start_dir());
  EXPECT_TRUE(file_exists(std::string(startsubdir) + "/setup.mrv"));
  // Nothing is made outside the home (the old 17-character cut).
  struct stat st{};
  EXPECT_NE(::stat((longhome.substr(0, 17) + "/morva").c_str(), &st), 0);
}

TEST_F(SetupTest, SettingsOfTheChartingProgramAreWrittenBackByteForByte) {
  std::string start = root.mkdirs("h/morva");
  std::string data = root.mkdirs("d");
  ASSERT_LE(data.size(), 24u);
  Bytes rec(62);
  for (int i = 0; i < 62; ++i) rec[i] = static_cast<unsigned char>(0x80 + 3 * i);
  rec[0] = 'P';
  rec[12] = 1;  // roomforvol: set to 1 at every start
  rec[13] = 0;
  std::memset(rec.data() + 26, 0, 24);
  std::memcpy(rec.data() + 26, data.data(), data.size());
  std::memcpy(rec.data() + 50, "7\0\xEE\xDD", 4);  // text, NUL, two odd bytes
  // A newer charting program may write more than 62 bytes: kept as well.
  Bytes file = rec;
  file.push_back(0x42);
  file.push_back(0x00);
  ASSERT_TRUE(write_file(start + "/setup.mrv", file));

  get_setup(1);
  EXPECT_EQ(read_file(start + "/setup.mrv"), file);
  EXPECT_EQ(std::string(datasubdir), data);
  EXPECT_EQ(cwd(), data);
  EXPECT_EQ(std::string(origdatasubdir), data);
}

TEST_F(SetupTest, RoomForVolumeIsSetToOneAtEveryStart) {
  std::string start = root.mkdirs("h/morva");
  Bytes rec = builtin_setup_bytes('A');
  rec[12] = 7;
  rec[13] = 2;
  ASSERT_TRUE(write_file(start + "/setup.mrv", rec));
  get_setup(1);
  Bytes back = read_file(start + "/setup.mrv");
  ASSERT_EQ(back.size(), 62u);
  EXPECT_EQ(back[12], 1);
  EXPECT_EQ(back[13], 0);
}

struct LineFeedCase {
  char gmode;
  const char* setup2;  // 19 bytes or null
  const char* expect;  // 4 bytes of howmanyLFs after start-up
};

TEST_F(SetupTest, LineFeedCountFollowsModeEightAndTheSecondSetupFile) {
  const LineFeedCase cases[] = {
      {'P', nullptr, " 18\0"},
      {8, nullptr, "8\0" "8\0"},  // "8" and its NUL over " 18": the last byte stays
      {8, "Q" "EPSON       \0" "12\0\0" "2", "12\0\0"},
  };
  std::string start = root.mkdirs("h/morva");
  for (const auto& c : cases) {
    Bytes rec = builtin_setup_bytes('A');
    rec[0] = static_cast<unsigned char>(c.gmode);
    ASSERT_TRUE(write_file(start + "/setup.mrv", rec));
    ::unlink((work + "/setup2.mrv").c_str());
    if (c.setup2) {
      ASSERT_TRUE(write_file(work + "/setup2.mrv", Bytes(c.setup2, c.setup2 + 19)));
    }
    ScopedChdir again(work);
    int read2 = get_setup(1);
    EXPECT_EQ(read2, c.setup2 ? 1 : 0);
    EXPECT_EQ(std::memcmp(howmanyLFs, c.expect, 4), 0) << "mode " << int(c.gmode);
    if (c.setup2) {
      EXPECT_EQ(justcloses, '2');
      EXPECT_EQ(std::string(holidayFnam), start + "/holidayQ");
      EXPECT_EQ(std::string(prnname, 12), "EPSON       ");
    }
  }
}

TEST_F(SetupTest, MissingDirectoryIsMadeInTheHome) {
  struct Case {
    std::string dir;
    int result;
    std::string after;
  };
  std::string there = root.mkdirs("there");
  const Case cases[] = {
      {there, 1, there},
      {"/nowhere/at/all/charts", 1, home + "/charts"},
      {"c:\\old\\charts", 1, home + "/charts"},
      {"plainname", 0, "plainname"},
  };
  for (const auto& c : cases) {
    char dir[25];
    std::snprintf(dir, sizeof dir, "%s", c.dir.c_str());
    testing::internal::CaptureStdout();
    EXPECT_EQ(if_not_exist_makeinhomedir(dir), c.result) << c.dir;
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::string(dir), c.after);
    if (c.dir == there) {
      EXPECT_EQ(out, "");
    } else {  // reported
      EXPECT_NE(out.find(">" + c.dir + "<-Didn't exist."), std::string::npos);
    }
    if (c.result && c.dir != there) {
      struct stat st{};
      EXPECT_EQ(::stat(c.after.c_str(), &st), 0) << c.after;
    }
  }
}

TEST_F(SetupTest, GeometryComesFromTheCellSize) {
  EXPECT_EQ(presetfuncs(0, 0), 3);
  const int r = pixelsperrow, c = pixelspercol;
  EXPECT_EQ(HPX, scrwidth);
  EXPECT_EQ(VPX, maxrow * r);
  EXPECT_EQ(BTOP, r + r / 16 + 1);
  EXPECT_EQ(BBOT, maxrow * r - r - r / 2);
  EXPECT_EQ(BLF, 8 * c - 4);
  EXPECT_EQ(BRT, scrwidth - 1);
  EXPECT_EQ(WIDTHOSC, 21 * r / 4);
  EXPECT_EQ(tmode, 'P');
}

TEST_F(SetupTest, StoringAsksFirstWhenToldTo) {
  set_builtin_setup();
  std::string dir = root.mkdirs("s");
  ScriptedKeys keys;
  keys.then("n");
  EXPECT_EQ(storesets('y', 'A', dir.c_str()), 0);
  EXPECT_FALSE(file_exists(dir + "/setup.mrv"));

  keys.then("y");
  EXPECT_EQ(storesets('y', 'A', dir.c_str()), 1);
  EXPECT_TRUE(keys.done());
  EXPECT_EQ(read_file(dir + "/setup.mrv"), builtin_setup_bytes(0));
  EXPECT_EQ(headless_row(0).substr(0, 7), "STORING");
}

TEST_F(SetupTest, HandOffWriterHasNoLineEndAndReportsFailure) {
  std::string path = work + "/exe.mrv";
  EXPECT_EQ(save_exe_mrv(path.c_str(), "/opt/x", 'A'), 1);
  EXPECT_EQ(read_text(path), "/opt/x");

  ScriptedKeys keys;
  keys.at_wait([] { EXPECT_EQ(headless_row(0).substr(0, 42), "Can't write: /no/such/dir/exe.mrv to disk:"); })
      .then(" ");
  int starved = headless_starved();
  EXPECT_EQ(save_exe_mrv("/no/such/dir/exe.mrv", "/opt/x", 'A'), 0);
  EXPECT_TRUE(keys.done());  // the message waited for the key
  EXPECT_EQ(headless_starved(), starved);
  EXPECT_FALSE(file_exists("/no/such/dir/exe.mrv"));
}

}  // namespace
