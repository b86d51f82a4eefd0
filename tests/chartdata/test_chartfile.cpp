// Chart files: new headers, bar records, the leading and trailing copies,
// replacement, derived names and the upgrade of old two-digit-year charts.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "chartdata/chartfile.h"
#include "chartdata/faults.h"
#include "chartdata/safe_replace.h"
#include "screen/headless.h"
#include "screen/screen.h"
#include "support/tempdir.h"
#include "window/screen_reporters.h"

namespace {

// A header as the charting program expects it, built byte by byte here.
Bytes header_bytes(char type, std::int32_t date, bool upgrade_mark = true) {
  Bytes h(128, ' ');
  h[0] = 0;
  h[77] = upgrade_mark ? '/' : ' ';
  h[109] = 0;
  h[116] = static_cast<unsigned char>(type);
  h[117] = '\n';
  for (int i = 0; i < 4; ++i) h[118 + i] = static_cast<unsigned char>(static_cast<std::uint32_t>(date) >> (8 * i));
  return h;
}

void append_le32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// A bar whose prices are derived from its date, so records are told apart.
void append_bar(Bytes& b, std::int32_t date) {
  append_le32(b, static_cast<std::uint32_t>(date));
  float prices[4] = {1.5f, 2.5f, 0.5f, static_cast<float>(date % 1000) / 4};
  for (float p : prices) {
    std::uint32_t v;
    std::memcpy(&v, &p, 4);
    append_le32(b, v);
  }
  append_le32(b, 1000u + static_cast<std::uint32_t>(date % 97));
  append_le32(b, 7);
}

Bytes chart(const std::vector<std::int32_t>& dates, bool upgrade_mark = true) {
  Bytes b = header_bytes('D', dates.empty() ? 0 : dates.front(), upgrade_mark);
  for (std::int32_t d : dates) append_bar(b, d);
  return b;
}

// The same file with the dates of its records replaced, all else kept.
Bytes with_dates(Bytes file, const std::vector<std::int32_t>& dates) {
  for (std::size_t i = 0; i < dates.size(); ++i) {
    for (int k = 0; k < 4; ++k) {
      file[128 + 28 * i + k] = static_cast<unsigned char>(static_cast<std::uint32_t>(dates[i]) >> (8 * k));
    }
  }
  return file;
}

std::vector<std::int32_t> dates_of(const Bytes& file) {
  std::vector<std::int32_t> out;
  for (std::size_t at = 128; at + 28 <= file.size(); at += 28) {
    out.push_back(static_cast<std::int32_t>(file[at] | file[at + 1] << 8 | file[at + 2] << 16 |
                                            static_cast<std::uint32_t>(file[at + 3]) << 24));
  }
  return out;
}

std::vector<std::string> reported;
void record_report(const char* name) { reported.push_back(name ? name : "<none>"); }

class ChartFile : public ::testing::Test {
 protected:
  void SetUp() override {
    faults_reset();
    reported.clear();
    diskfull_reporter = record_report;
  }
  void TearDown() override {
    faults_reset();
    diskfull_reporter = saved_reporter;
  }
  TempDir dir;
  DiskFullReporter saved_reporter = diskfull_reporter;
};

TEST_F(ChartFile, CreatmorvaWritesTheNewHeader) {
  const std::string path = dir.file("ibm.M");
  ASSERT_EQ(creatmorva(path.c_str(), 'W', 20240105), 1);
  const Bytes got = read_file(path);
  ASSERT_EQ(got.size(), 128u);
  EXPECT_EQ(got, header_bytes('W', 20240105));
  for (std::size_t i = 0; i < got.size(); ++i) {
    bool special = i == 0 || i == 77 || i == 109 || (i >= 116 && i <= 121);
    if (!special) {
      EXPECT_EQ(got[i], ' ') << "byte " << i;
    }
  }
  // An existing chart is emptied to a header.
  write_file(path, chart({20240101, 20240102}));
  ASSERT_EQ(creatmorva(path.c_str(), 'D', 0), 1);
  EXPECT_EQ(read_file(path).size(), 128u);
  EXPECT_TRUE(reported.empty());
  EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"ibm.M"});
}

TEST_F(ChartFile, CreatmorvaFailureReportsAndKeepsTheOldFile) {
  const std::string missing_dir = dir.file("no/such/ibm.M");
  EXPECT_EQ(creatmorva(missing_dir.c_str(), 'D', 0), 0);
  ASSERT_EQ(reported, std::vector<std::string>{missing_dir});

  const std::string path = dir.file("ibm.M");
  const Bytes old = chart({20240101, 20240102});
  write_file(path, old);
  for (int which = 0; which < 3; ++which) {
    faults_reset();
    if (which == 0) g_faults.fail_create = 1;
    if (which == 1) g_faults.fail_write = 1;
    if (which == 2) g_faults.fail_rename = 1;
    EXPECT_EQ(creatmorva(path.c_str(), 'D', 0), 0) << which;
    EXPECT_EQ(read_file(path), old) << which;
    EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"ibm.M"}) << which;
  }
}

TEST_F(ChartFile, WithoutAReporterOfItsOwnAProgramSaysTheDiskFullLineOnStandardError) {
  diskfull_reporter = saved_reporter;
  const std::string path = dir.file("no/such/ibm.M");
  testing::internal::CaptureStderr();
  EXPECT_EQ(creatmorva(path.c_str(), 'D', 0), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Disk full or disk error or filename wrong? Maybe run scandisk or fsck.\n" + path + "\n");
}

TEST_F(ChartFile, DiskFullLineGoesToTheScreenAtTheCursor) {
  const LockReporter saved_lock = lock_reporter;
  install_screen_reporters();  // the window's, as at its start-up
  headless_start();
  scr_rowcol(5, 10);
  const std::string path = dir.file("no/such/ibm.M");
  EXPECT_EQ(creatmorva(path.c_str(), 'D', 0), 0);
  EXPECT_EQ(headless_row(6).substr(0, 70),
            "Disk full or disk error or filename wrong? Maybe run scandisk or fsck.");
  EXPECT_EQ(headless_row(7).substr(0, path.size() + 1), path + " ");
  EXPECT_EQ(scr_srow(), 7);
  EXPECT_EQ(std::string(kDiskFullLine),
            "\r\nDisk full or disk error or filename wrong? Maybe run scandisk or fsck.\r\n");
  lock_reporter = saved_lock;
}

TEST_F(ChartFile, BarRecordsRoundTripAndPartialRecordsEnd) {
  const std::string path = dir.file("bars");
  std::FILE* f = std::fopen(path.c_str(), "wb");
  BarRecord b;
  b.date = 20240105;
  b.open = 1.25f;
  b.high = 2.5f;
  b.low = -0.75f;
  b.close = 100.125f;
  b.volume = -5;
  b.openint = 123456789;
  ASSERT_EQ(write_bar(f, b), 1);
  std::fwrite("abc", 1, 3, f);  // a partial record
  std::fclose(f);
  Bytes raw = read_file(path);
  ASSERT_EQ(raw.size(), 31u);
  EXPECT_EQ(raw[0], 0xE9);  // 20240105 = 0x0134D6E9, little-endian
  EXPECT_EQ(raw[3], 0x01);
  EXPECT_EQ(raw[20], 0xFB);  // -5
  f = std::fopen(path.c_str(), "rb");
  BarRecord r;
  ASSERT_EQ(read_bar(f, &r), 1);
  EXPECT_EQ(r.date, b.date);
  EXPECT_EQ(r.open, b.open);
  EXPECT_EQ(r.high, b.high);
  EXPECT_EQ(r.low, b.low);
  EXPECT_EQ(r.close, b.close);
  EXPECT_EQ(r.volume, b.volume);
  EXPECT_EQ(r.openint, b.openint);
  EXPECT_EQ(read_bar(f, &r), 0);
  std::fclose(f);

  faults_reset();
  g_faults.fail_write = 1;
  f = std::fopen(path.c_str(), "wb");
  EXPECT_EQ(write_bar(f, b), 0);
  std::fclose(f);
}

// The two copies around the new bars, on their own.
TEST_F(ChartFile, LeadingAndTrailingCopies) {
  struct Case {
    const char* name;
    std::vector<std::int32_t> old;
    std::int32_t first, last;
    std::vector<std::int32_t> leading, trailing;
  };
  const Case cases[] = {
      {"middle", {1, 2, 3, 4, 5, 6}, 3, 4, {1, 2}, {5, 6}},
      {"gap", {1, 2, 5, 6}, 3, 4, {1, 2}, {5, 6}},
      {"before all", {5, 6}, 1, 2, {}, {5, 6}},
      {"after all", {1, 2}, 5, 6, {1, 2}, {}},
      {"everything replaced", {1, 2, 3}, 1, 3, {}, {}},
      {"duplicate start date", {1, 3, 3, 4}, 3, 3, {1}, {4}},
      {"more than one block", {}, 0, 0, {}, {}},
  };
  for (Case c : cases) {
    if (std::string(c.name) == "more than one block") {
      for (int d = 1; d <= 300; ++d) c.old.push_back(d);
      c.first = 290;
      c.last = 290;
      c.leading.assign(c.old.begin(), c.old.begin() + 289);
      c.trailing.assign(c.old.begin() + 290, c.old.end());
    }
    const std::string old_path = dir.file("old.M"), tmp_path = dir.file("tmp");
    write_file(old_path, chart(c.old));
    std::FILE* old = std::fopen(old_path.c_str(), "rb");
    std::FILE* tmp = std::fopen(tmp_path.c_str(), "wb");
    EXPECT_EQ(cpyoldtmpstart(old, tmp, c.first), 1) << c.name;
    std::fflush(tmp);
    const Bytes lead = read_file(tmp_path);
    const Bytes whole = read_file(old_path);
    ASSERT_GE(lead.size(), 128u) << c.name;
    EXPECT_TRUE(std::equal(whole.begin(), whole.begin() + 128, lead.begin())) << c.name;
    EXPECT_EQ(dates_of(lead), c.leading) << c.name;
    std::fclose(tmp);
    tmp = std::fopen(tmp_path.c_str(), "wb");
    std::fwrite(lead.data(), 1, 128, tmp);
    EXPECT_EQ(cpyoldtmpend(old, tmp, c.last), 1) << c.name;
    std::fclose(tmp);
    EXPECT_EQ(dates_of(read_file(tmp_path)), c.trailing) << c.name;
    std::fclose(old);
  }
}

TEST_F(ChartFile, LeadingCopyOfAShortFileAndWriteFailures) {
  const std::string old_path = dir.file("old.M"), tmp_path = dir.file("tmp");
  write_file(old_path, Bytes(127, ' '));
  std::FILE* old = std::fopen(old_path.c_str(), "rb");
  std::FILE* tmp = std::fopen(tmp_path.c_str(), "wb");
  EXPECT_EQ(cpyoldtmpstart(old, tmp, 0), -1);
  std::fclose(old);
  std::fclose(tmp);
  EXPECT_TRUE(read_file(tmp_path).empty());

  write_file(old_path, chart({1, 2, 3}));
  for (int n = 1; n <= 2; ++n) {
    faults_reset();
    g_faults.fail_write = n;
    old = std::fopen(old_path.c_str(), "rb");
    tmp = std::fopen(tmp_path.c_str(), "wb");
    EXPECT_EQ(cpyoldtmpstart(old, tmp, 10), 0) << n;
    std::rewind(old);
    faults_reset();
    g_faults.fail_write = 1;
    EXPECT_EQ(cpyoldtmpend(old, tmp, 0), 0) << n;
    std::fclose(old);
    std::fclose(tmp);
  }
}

TEST_F(ChartFile, UnlinkRenameReplacesOnlyOnSuccess) {
  const std::string target = dir.file("ibm.M"), from = dir.file("new");
  write_text(target, "old");
  write_text(from, "new");
  EXPECT_EQ(unlink_rename(target.c_str(), from.c_str()), 1);
  EXPECT_EQ(read_text(target), "new");
  EXPECT_FALSE(file_exists(from));
  // The source is gone: the old target must survive.
  EXPECT_EQ(unlink_rename(target.c_str(), from.c_str()), 0);
  EXPECT_EQ(read_text(target), "new");
  // A chart reached through a symbolic link keeps the link.
  const std::string link = dir.file("link.M");
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  write_text(from, "newer");
  EXPECT_EQ(unlink_rename(link.c_str(), from.c_str()), 1);
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(read_text(target), "newer");
}

TEST(DerivedName, Adddotm) {
  struct Case {
    const char* source;
    const char* name;
  };
  const Case cases[] = {
      {"ibm.txt", "ibm_txt.M"},
      {"prices", "prices.M"},
      {"a.b.c", "a.b_c.M"},
      {"abcdefghijklmnopqrstuvwxyzabcd", "abcdefghijklmnopqrstu.M"},  // 30, no '.'
      {"abcdefghijklmnopqrstuvwxyz.txt", "abcdefghijklmnopqrstu.M"},  // '.' past 21
      {"abcdefghijklmnopq.txt", "abcdefghijklmnopq_txt.M"},           // 21 exactly
      {"data/ibm.csv", "data/ibm_csv.M"},
      {"./ibm", "./ibm.M"},
      {"", ".M"},
      {"msft.prn", "msft_prn.M"},
  };
  for (const Case& c : cases) {
    char buf[24];
    std::memset(buf, 'z', sizeof buf);
    adddotM(buf, c.source);
    EXPECT_STREQ(buf, c.name) << c.source;
  }
}

class Upgrade : public ChartFile {};

TEST_F(Upgrade, OldNewMixedAndForeignFiles) {
  struct Case {
    const char* name;
    Bytes before;
    Bytes after;  // empty: unchanged
  };
  const Bytes mixed_before = chart({991230, 991231, 20000103, 101, 11231});
  const Bytes mixed_after =
      with_dates(mixed_before, {19991230, 19991231, 20000103, 20000101, 19011231});
  const Bytes old_before = chart({11230, 11231, 101, 991231});
  const Bytes old_after = with_dates(old_before, {20011230, 19011231, 20000101, 19991231});
  Bytes partial_before = chart({500101});
  partial_before.insert(partial_before.end(), {1, 2, 3});
  const Bytes partial_after = with_dates(partial_before, {19500101});
  std::vector<std::int32_t> yymmdd, widened;
  for (int i = 0; i < 1000; ++i) {
    yymmdd.push_back(900101 + i);
    widened.push_back(19900101 + i);
  }
  const Bytes big_before = chart(yymmdd);
  const Bytes big_after = with_dates(big_before, widened);
  Bytes numbered = chart({0, 101, 102, 131, 201});
  numbered[116] = 'N';
  // UTF-8 text with '/' at byte 77 and a high byte in the first "date".
  Bytes text(400, 'a');
  text[77] = '/';
  text[131] = 0xc3;
  text[116] = 'D';
  text[117] = '\n';
  const Case cases[] = {
      {"numbered chart", numbered, {}},
      {"text that looks old", text, {}},
      {"old", old_before, old_after},
      {"mixed", mixed_before, mixed_after},
      {"partial last record kept", partial_before, partial_after},
      {"several blocks", big_before, big_after},
      {"already eight digits", chart({19991231, 20000103}), {}},
      {"no mark at 77", chart({991231}, false), {}},
      {"header only", chart({}), {}},
      {"header and partial record", Bytes(150, '/'), {}},
      {"text file", Bytes(400, 'x'), {}},
  };
  for (const Case& c : cases) {
    const std::string path = dir.file("up.M");
    write_file(path, c.before);
    EXPECT_EQ(Y2000_upgrade(path.c_str()), 1) << c.name;
    EXPECT_EQ(read_file(path), c.after.empty() ? c.before : c.after) << c.name;
    EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"up.M"}) << c.name;
  }
  EXPECT_EQ(Y2000_upgrade(dir.file("missing.M").c_str()), 0);
}

TEST_F(Upgrade, FailureLeavesTheFileAsItWas) {
  const std::string path = dir.file("up.M");
  const Bytes before = chart({991230, 991231, 101});
  for (int which = 0; which < 3; ++which) {
    for (int n = 1; n <= 3; ++n) {
      faults_reset();
      (which == 0 ? g_faults.fail_write : which == 1 ? g_faults.fail_create : g_faults.fail_rename) = n;
      write_file(path, before);
      int r = Y2000_upgrade(path.c_str());
      const int calls = which == 0 ? g_faults.writes : which == 1 ? g_faults.creates : g_faults.renames;
      if (calls < n) {
        EXPECT_EQ(r, 1);  // the fault was never reached
        continue;
      }
      EXPECT_EQ(r, 0) << which << " " << n;
      EXPECT_EQ(read_file(path), before) << which << " " << n;
      EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"up.M"}) << which << " " << n;
    }
  }
}

TEST_F(Upgrade, ReadOnlyChartIsLeftAlone) {
  if (geteuid() == 0) GTEST_SKIP() << "root may write any file";
  const std::string path = dir.file("ro.M");
  const Bytes before = chart({991231});
  write_file(path, before);
  chmod(path.c_str(), 0444);
  EXPECT_EQ(Y2000_upgrade(path.c_str()), 0);
  EXPECT_EQ(read_file(path), before);
}

TEST_F(Upgrade, InPlaceWhenNoFileCanBeAddedBesideIt) {
  if (geteuid() == 0) GTEST_SKIP() << "root may write into any folder";
  const std::string sub = dir.mkdirs("locked");
  const std::string path = sub + "/c.M";
  write_file(path, chart({991231, 101}));
  chmod(sub.c_str(), 0555);
  EXPECT_EQ(Y2000_upgrade(path.c_str()), 1);
  chmod(sub.c_str(), 0755);
  EXPECT_EQ(dates_of(read_file(path)), (std::vector<std::int32_t>{19991231, 20000101}));
}

TEST_F(Upgrade, KeepsLinkAndPermissions) {
  const std::string real = dir.file("real.M"), link = dir.file("link.M");
  write_file(real, chart({991231}));
  chmod(real.c_str(), 0640);
  ASSERT_EQ(symlink("real.M", link.c_str()), 0);
  EXPECT_EQ(Y2000_upgrade(link.c_str()), 1);
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(dates_of(read_file(real)), std::vector<std::int32_t>{19991231});
}

TEST_F(Upgrade, AddCenturyOnAStreamFromTheCurrentRecord) {
  const std::string path = dir.file("s.M");
  write_file(path, chart({991230, 991231, 11230, 20000103}));
  std::FILE* f = std::fopen(path.c_str(), "r+b");
  ASSERT_EQ(std::fseek(f, 128 + 2 * 28, SEEK_SET), 0);  // after the second record
  Y2000_add_century(f);
  EXPECT_EQ(std::ftell(f), 128 + 2 * 28);
  std::fclose(f);
  EXPECT_EQ(dates_of(read_file(path)),
            (std::vector<std::int32_t>{991230, 19991231, 20011230, 20000103}));
}

}  // namespace
