// The converter defaults file: both layouts, short and long files, and the
// open-until-saved lifecycle (one save per run, settings written only when
// asked, bytes after the settings kept).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "window/defaults_file.h"
#include "window/globals.h"
#include "screen/headless.h"
#include "setup/environment.h"
#include "support/scripted_keys.h"
#include "support/tempdir.h"

namespace {

Bytes ff_bytes() {
  auto* p = reinterpret_cast<const unsigned char*>(&ff);
  return Bytes(p, p + sizeof ff);
}

Bytes bytes_of(const char* s, std::size_t n) {
  return Bytes(reinterpret_cast<const unsigned char*>(s),
               reinterpret_cast<const unsigned char*>(s) + n);
}

const Bytes kBuiltin = bytes_of("\0DOHLCVI     \0,19600101\0\0", 25);

TEST(DefaultsLayout, BuiltinSettingsAreTheDocumentedTwentyFiveBytes) {
  set_builtin_format();
  EXPECT_EQ(ff_bytes(), kBuiltin);
}

struct DecodeCase {
  const char* name;
  Bytes file;
  Bytes expect;
};

TEST(DefaultsLayout, DecodesCurrentOldShortAndLongFiles) {
  const Bytes current = bytes_of("\x02SDHLCV      \0;20010315\0\x01", 25);
  Bytes longer = current;
  longer.insert(longer.end(), {'x', 'y', 'z'});
  const DecodeCase cases[] = {
      {"current layout", current, current},
      {"longer file: first 25 bytes", longer, current},
      {"empty file keeps the built-in values", {}, kBuiltin},
      {"short file overwrites what it holds", bytes_of("\x03XY", 3),
       bytes_of("\x03XYHLCVI     \0,19600101\0\0", 25)},
      // Older layout: code, order string (13), separator, yymmdd + NUL, direction.
      {"older 23-byte layout", bytes_of("\x03SDOHLC\0\0\0\0\0\0\0 921231\0\x01", 23),
       bytes_of("\x03SDOHLC\0     \0 19921231\0\x01", 25)},
      {"older layout with a full order", bytes_of("\x00OHLCDVIMSOHL\0;600101\0\x00", 23),
       bytes_of("\x00OHLCDVIMSOHL\0;19600101\0\x00", 25)},
  };
  for (const auto& c : cases) {
    set_builtin_format();
    decode_defaults(c.file, ff);
    EXPECT_EQ(ff_bytes(), c.expect) << c.name;
  }
}

class DefaultsFileTest : public ::testing::Test {
 protected:
  TempDir dir{"m"};
  std::string path = dir.file("morvautl.dat");

  void SetUp() override {
    headless_start();
    loadsave_defaults(1, 0);  // close whatever an earlier test left open
    std::snprintf(startsubdir, sizeof startsubdir, "%s", dir.path().c_str());
    set_builtin_format();
  }
  void TearDown() override { loadsave_defaults(1, 0); }
};

TEST_F(DefaultsFileTest, MissingFileIsCreatedEmptyAndWrittenOnlyWhenChanged) {
  ASSERT_EQ(loadsave_defaults(0, 0), 1);
  EXPECT_TRUE(file_exists(path));
  EXPECT_EQ(read_file(path).size(), 0u);
  EXPECT_EQ(ff_bytes(), kBuiltin);
  EXPECT_EQ(defaults_file_open(), 1);

  ff.sep = ';';
  loadsave_defaults(1, 0);  // not changed in the menu: nothing written
  EXPECT_EQ(read_file(path).size(), 0u);
  EXPECT_EQ(defaults_file_open(), 0);
}

TEST_F(DefaultsFileTest, OneSavePerRun) {
  ASSERT_EQ(loadsave_defaults(0, 0), 1);
  ff.sep = ';';
  EXPECT_EQ(loadsave_defaults(1, 1), 1);
  Bytes first = ff_bytes();
  EXPECT_EQ(read_file(path), first);

  // Closed now: a later save (the end of the program after a sibling tool
  // was prepared) changes nothing.
  ff.sep = '|';
  EXPECT_EQ(loadsave_defaults(1, 1), 0);
  EXPECT_EQ(read_file(path), first);
}

TEST_F(DefaultsFileTest, SavingKeepsBytesAfterTheSettings) {
  Bytes file = bytes_of("\x01SDOHLCVI    \0 19991231\0\x01tail-of-file", 37);
  ASSERT_TRUE(write_file(path, file));
  ASSERT_EQ(loadsave_defaults(0, 0), 1);
  EXPECT_EQ(ff.datecode, 1);
  EXPECT_EQ(std::string(ff.startdate, 8), "19991231");

  ff.datecode = 2;
  loadsave_defaults(1, 1);
  Bytes expect = file;
  expect[0] = 2;
  EXPECT_EQ(read_file(path), expect);
}

TEST_F(DefaultsFileTest, OldLayoutLoadsWidenedAndIsSavedInTheCurrentOne) {
  ASSERT_TRUE(write_file(path, bytes_of("\x00" "DOHLCVI\0\0\0\0\0\0,921231\0\x00", 23)));
  ASSERT_EQ(loadsave_defaults(0, 0), 1);
  EXPECT_EQ(std::string(ff.startdate, 8), "19921231");
  loadsave_defaults(1, 1);
  Bytes saved = read_file(path);
  ASSERT_EQ(saved.size(), 25u);
  EXPECT_EQ(std::string(saved.begin() + 15, saved.begin() + 23), "19921231");
}

TEST_F(DefaultsFileTest, UnwritableStartDirectoryIsReportedAndLaterSavesDoNothing) {
  std::string missing = dir.path() + "/no/such";
  std::snprintf(startsubdir, sizeof startsubdir, "%s", missing.c_str());
  ScriptedKeys keys;
  std::string shown;
  keys.at_wait([&] { shown = headless_row(0); }).then(" ");
  EXPECT_EQ(loadsave_defaults(0, 0), 0);
  EXPECT_TRUE(keys.done());
  EXPECT_EQ(shown.substr(0, missing.size() + 49),
            missing + "/morvautl.dat Unable to write to disk. Disk full?");
  EXPECT_EQ(loadsave_defaults(1, 1), 0);
  EXPECT_FALSE(file_exists(missing + "/morvautl.dat"));
}

}  // namespace
