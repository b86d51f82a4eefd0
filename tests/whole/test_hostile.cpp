// Hostile and odd input: names that a shell would take apart, very long
// and binary lines, charts of odd sizes and out of order, a symbolic link
// where the splice makes its temporary file, folders that take no files,
// a missing help file and a full directory listing.  Each case checks that
// the input gets a clear answer, nothing is lost and nothing is run.
#include <fcntl.h>
#include <grp.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

#include "chartdata/chartfile.h"
#include "chartdata/encodings.h"
#include "chartdata/faults.h"
#include "chartdata/linereader.h"
#include "convert/adjust.h"
#include "convert/chart_to_text.h"
#include "window/commands.h"
#include "convert/compress.h"
#include "window/defaults_file.h"
#include "window/globals.h"
#include "convert/investorlink.h"
#include "convert/quickquote.h"
#include "convert/weekly_monthly.h"
#include "screen/backend.h"
#include "screen/headless.h"
#include "screen/screen.h"
#include "setup/environment.h"
#include "setup/setup.h"
#include "support/scripted_keys.h"
#include "support/batch_support.h"
#include "support/chart_files.h"
#include "support/tempdir.h"
#include "widgets/dirlist.h"
#include "widgets/filechooser.h"
#include "widgets/help.h"

extern char** environ;

namespace {

// ---- Helpers ------------------------------------------------------------------

// Keys typed batch by batch when the program waits; ESC once every batch is
// used up and the program still waits; every screen it waited on is kept.
struct ScreenLog {
  explicit ScreenLog(const std::deque<std::string>& batches = {}) {
    for (const std::string& b : batches) keys.then(b);
    keys.keep_screens("MORVA_HOSTILE_TRACE").escape_when_idle();
  }
  bool saw(const std::string& text) const { return keys.saw(text); }
  ScriptedKeys keys;
};

BarRecord bar(std::int32_t date, float price, std::int32_t volume = 100) {
  return ::bar(date, price, price + 1, price - 1, price + 0.5f, volume, 1);
}

Bytes chart(char type, const std::vector<BarRecord>& bars) {
  return chart_bytes(type, bars.empty() ? 0 : bars.front().date, bars);
}

std::vector<BarRecord> bars_of(const Bytes& b) {
  std::vector<BarRecord> out;
  for (std::size_t at = kHeaderSize; at + kBarSize <= b.size(); at += kBarSize)
    out.push_back(decode_bar(b.data() + at));
  return out;
}

std::vector<std::int32_t> dates_of(const Bytes& b) {
  std::vector<std::int32_t> out;
  for (const BarRecord& r : bars_of(b)) out.push_back(r.date);
  return out;
}

bool whole_chart(const Bytes& b) {
  return b.size() >= kHeaderSize && (b.size() - kHeaderSize) % kBarSize == 0;
}

// Every file name below `dir`, relative, folders with a trailing '/'.
void all_names(const std::string& dir, const std::string& rel, std::vector<std::string>& out) {
  for (const std::string& n : list_dir(dir)) {
    struct stat st;
    const std::string path = dir + "/" + n;
    if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      out.push_back(rel + n + "/");
      all_names(path, rel + n + "/", out);
    } else {
      out.push_back(rel + n);
    }
  }
}
class Hostile : public ::testing::Test {
 protected:
  void SetUp() override {
    headless_start();
    set_builtin_format();
    title = "HOSTILE TEST";
    savenm[0] = 0;
    exclamfile = 0;
    get_the_symbol[0] = 0;
    faults_reset();
  }
  int open_source(const std::string& name) {
    std::snprintf(exclambuf, sizeof exclambuf, "%s", name.c_str());
    std::snprintf(firstname, sizeof firstname, "%s", name.c_str());
    return ::open(name.c_str(), O_RDONLY);
  }
  TempDir dir_{"mh"};
  ScopedChdir cd_{dir_.path()};
};

// ---- Names a shell would take apart -------------------------------------------------

// Each name is a plain name to this program: opened, listed and entered as
// it is.
const char* const kHostileNames[] = {
    "name with blanks", "quote'and\"dq", "semi;colon", "$(touch pwned)", "`touch pwned`",
    "star*", "-leading", "a&b>c<d", "123456789012345678901",  // 21 characters
};

// True when something made the file "pwned" below `dir`: a shell ran one of
// the names.
bool shell_ran(const std::string& dir) {
  std::vector<std::string> names;
  all_names(dir, "", names);
  for (const auto& n : names) {
    const std::size_t slash = n.rfind('/');
    if ((slash == std::string::npos ? n : n.substr(slash + 1)) == "pwned") return true;
  }
  return file_exists("/tmp/pwned");
}

TEST_F(Hostile, NamesTypedInTheChooserOpenThatFile) {
  for (const char* name : kHostileNames) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(write_text(name, std::string("content of ") + name));
    headless_start();
    char got[44] = "";
    int fd;
    {
      ScreenLog keys({std::string(name) + "\r"});
      fd = dir_on_1stname("Enter a name:", got);
    }
    ASSERT_GT(fd, 0);
    EXPECT_STREQ(got, name);
    char buf[64] = {};
    EXPECT_GT(::read(fd, buf, sizeof buf - 1), 0);
    EXPECT_EQ(std::string(buf), std::string("content of ") + name);
    ::close(fd);
  }
  EXPECT_FALSE(shell_ran(dir_.path()));
}

TEST_F(Hostile, NamesInAListOfNamesAreOpenedInOrder) {
  // In a list even '|' (which ends a typed name) is part of a name.
  std::vector<std::string> names(std::begin(kHostileNames), std::end(kHostileNames));
  names.push_back("pipe|tee pwned");
  std::string list;
  for (const std::string& name : names) {
    ASSERT_TRUE(write_text(name, name));
    list += name + "\r\n";
  }
  ASSERT_TRUE(write_text("names!", list));
  std::snprintf(firstname, sizeof firstname, "names!");
  int fd = ::open("names!", O_RDONLY);
  ASSERT_GT(fd, 0);
  std::size_t k = 0;
  for (;;) {
    char namebuf[kNameSize];
    int entry = do_all(namebuf, &exclamfile, fd);
    if (!entry) break;
    ASSERT_LT(k, names.size());
    EXPECT_EQ(namebuf, names[k]);
    char buf[64] = {};
    EXPECT_GT(::read(entry, buf, sizeof buf - 1), 0);
    EXPECT_EQ(buf, names[k]);
    ::close(entry);
    ++k;
  }
  EXPECT_EQ(k, names.size());
  EXPECT_FALSE(shell_ran(dir_.path()));
}

TEST_F(Hostile, DirectoryCommandsEnterFoldersOfHostileNames) {
  // "CD " and the name fill the 21-character field: names up to 18 characters.
  for (const char* name : {"name with blanks", "semi;colon", "$(touch pwned)", "-leading", "star*"}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    ASSERT_EQ(mkdir(name, 0700), 0);
    ASSERT_TRUE(write_text(std::string(name) + "/inside", "x"));
    headless_start();
    char got[44] = "";
    int fd;
    {
      // The command opens the listing of the new folder; ESC leaves it.
      ScreenLog keys({"CD " + std::string(name) + "\r", "\x1b", "inside\r"});
      fd = dir_on_1stname("Enter a name:", got);
    }
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(std::string(cwd), dir_.path() + "/" + name);
    EXPECT_GT(fd, 0) << "the file inside the folder opens";
    if (fd > 0) ::close(fd);
  }
  ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  EXPECT_FALSE(shell_ran(dir_.path()));
}

TEST_F(Hostile, ListingShowsHostileNamesInTheirCells) {
  for (const char* name : kHostileNames) ASSERT_TRUE(write_text(name, "x"));
  ASSERT_TRUE(write_text(std::string("ctl\x01\x1b" "name"), "x"));
  std::vector<std::string> names = list_names("*");
  ASSERT_EQ(names.size(), std::size(kHostileNames) + 2);
  for (const char* name : kHostileNames)
    EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
  static char* table[kDirTableEntries];
  static char caption[kDirRowChars] = "Directory";
  table[0] = caption;
  ASSERT_EQ(dir("*", table, 5, 3000), 1);
  int shown = 0;
  for (int row = 1; row < kDirTableEntries && table[row] && table[row][0]; ++row) {
    EXPECT_LT(std::strlen(table[row]), static_cast<std::size_t>(kDirRowChars));
    for (const char* p = table[row]; *p; ++p) EXPECT_GE(static_cast<unsigned char>(*p), 32) << "row " << row;
    for (int cell = 0; cell < 5; ++cell)
      if (!listed_name(row, cell).empty()) ++shown;
  }
  EXPECT_EQ(shown, static_cast<int>(names.size()));
  EXPECT_FALSE(shell_ran(dir_.path()));
}

TEST_F(Hostile, ZipArchivesAndMembersWithHostileNames) {
  // Archives named like options or commands and members named like
  // commands: each name is opened as it is and the members go only to the
  // private text in memory.
  const std::string member = "$(touch pwned);x.STK";
  ASSERT_TRUE(write_text(member, "IBM,990105,1,2,0.5,1.5,100,0\n"));
  for (std::string archive : {"-x.ZIP", "a b;$(touch pwned).ZIP", "`touch pwned`.ZIP", "'q\".ZIP"}) {
    SCOPED_TRACE(archive);
    ASSERT_EQ(run_program({"zip", "-q", "./" + archive, member}), 0);
    PrivateTemp tmp("unzip");
    ASSERT_TRUE(tmp.ok());
    EXPECT_EQ(unpack_members(archive, tmp.fd(), nullptr), 1);
    EXPECT_EQ(read_text(tmp.path()), "IBM,990105,1,2,0.5,1.5,100,0\n");
  }
  EXPECT_FALSE(shell_ran(dir_.path()));
}

// ---- Long, binary and NUL-holding lines ------------------------------------------

// A text whose lines are padded with blanks to 254, 255 and 10,000
// characters before their line feed.
std::string long_lines_text() {
  std::string text;
  const std::pair<std::int32_t, std::size_t> lines[] = {
      {19990104, 254}, {19990105, 255}, {19990106, 10000}, {19990107, 40}};
  for (auto [date, len] : lines) {
    std::string line = std::to_string(date) + ",1,2,0.5,1.5,100,7";
    line.resize(len, ' ');
    text += line + "\n";
  }
  return text;
}

TEST_F(Hostile, LinesOf254And255And10000Characters) {
  ASSERT_TRUE(write_text("long.txt", long_lines_text()));
  int r;
  {
    // The first line fills the line budget, so its line feed reads as an
    // empty second line and the type of chart is asked.
    ScreenLog keys({"long.M\r", "d"});
    r = generalTR(open_source("long.txt"), exclambuf);
  }
  EXPECT_EQ(r, 1);
  // The chart goes to the storage folder of ".txt" texts.
  const Bytes got = read_file("txt_l/long.M");
  ASSERT_TRUE(whole_chart(got));
  // Every line keeps its bar; the rest of a long line is read as lines of
  // blanks, which hold no date and are passed over.
  EXPECT_EQ(dates_of(got), (std::vector<std::int32_t>{19990104, 19990105, 19990106, 19990107}));
  for (const BarRecord& b : bars_of(got)) {
    EXPECT_EQ(b.close, 1.5f);
    EXPECT_EQ(b.volume, 100);
    EXPECT_EQ(b.openint, 7);
  }
}

TEST_F(Hostile, LongLinesInQuotesIndexAndListFiles) {
  // A quote record whose first line runs to 10,000 characters.
  std::string l1 = "IBM";
  l1.resize(22, ' ');
  l1 += "101.5 ";  // a price ends at a blank
  l1.resize(10000, 'x');
  // Two sound quotes after it, so that the file is not mostly bars that
  // break the bar rules (the pieces of the long line give two such bars).
  std::string sound;
  for (const char* sym : {"AA", "BB"}) {
    std::string a = sym, c(42, ' ');
    a.resize(22, ' ');
    a += "10";
    c += "10";
    c.resize(54, ' ');
    c += "11";
    c.resize(66, ' ');
    c += "9";
    sound += a + "\n\n" + c + "\n\n\n";
  }
  ASSERT_TRUE(write_text("quotes.txt", l1 + "\n\n\n\n\n" + sound));
  int r;
  {
    ScreenLog keys({"990105\r"});
    r = quickquotesub(open_source("quotes.txt"));
  }
  EXPECT_NE(r, 0);
  const Bytes ibm = read_file("ibm");
  ASSERT_TRUE(whole_chart(ibm));
  ASSERT_EQ(bars_of(ibm).size(), 1u);
  EXPECT_EQ(bars_of(ibm)[0].close, 101.5f);

  // An index line of 10,000 characters is read in pieces; only usable
  // pieces count.
  const IndexFile idx(std::string("990105 1.25") + std::string(10000, '7') + "\n990301 2\n");
  BarRecord b = bar(19990201, 10);
  idx.apply(b);
  EXPECT_TRUE(std::isfinite(b.close));

  // A list whose first name is 10,000 characters long ends at once.
  ASSERT_TRUE(write_text("names!", std::string(10000, 'n') + "\nother\n"));
  ASSERT_TRUE(write_text("other", "x"));
  std::snprintf(firstname, sizeof firstname, "names!");
  int fd = ::open("names!", O_RDONLY);
  char namebuf[kNameSize];
  EXPECT_EQ(do_all(namebuf, &exclamfile, fd), 0);
}

TEST_F(Hostile, NulBytesAndBinaryFilesTakenAsText) {
  // A NUL ends the line's text: the rest of that line is not read.
  std::string text = "19990104,1,2,0.5,1.5,100,7\n19990105,1,2";
  text += '\0';
  text += ",9,9,9,9\n19990106,3,4,2.5,3.5,300,9\n";
  ASSERT_TRUE(write_file("nul.txt", Bytes(text.begin(), text.end())));
  {
    ScreenLog keys({"nul.M\r"});
    EXPECT_EQ(generalTR(open_source("nul.txt"), exclambuf), 1);
  }
  const Bytes got = read_file("txt_n/nul.M");
  EXPECT_EQ(dates_of(got), (std::vector<std::int32_t>{19990104, 19990105, 19990106}));
  EXPECT_EQ(bars_of(got)[1].low, 0.0f) << "the fields after the NUL are not read";

  // Random bytes as a text, as quotes, as an index file, as a list and as
  // a help file: whatever is made is a whole chart in date order.
  std::mt19937 rng(1234);
  Bytes noise(200000);
  for (auto& c : noise) c = static_cast<unsigned char>(rng());
  ASSERT_TRUE(write_file("noise.bin", noise));
  {
    ScreenLog keys({"noise.M\r", "d", "\r"});
    generalTR(open_source("noise.bin"), exclambuf);
  }
  {
    ScreenLog keys({"990105\r"});
    quickquotesub(open_source("noise.bin"));
  }
  std::vector<std::string> names;
  all_names(dir_.path(), "", names);
  for (const std::string& n : names) {
    if (n == "noise.bin" || n == "nul.txt" || n.back() == '/') continue;
    SCOPED_TRACE(n);
    const Bytes c = read_file(n);
    EXPECT_TRUE(whole_chart(c));
    auto d = dates_of(c);
    EXPECT_TRUE(std::is_sorted(d.begin(), d.end()));
  }
  const IndexFile idx(std::string(noise.begin(), noise.end()));
  BarRecord b = bar(19990201, 10);
  idx.apply(b);
  EXPECT_TRUE(std::isfinite(b.close));
}

// ---- Charts of odd sizes and out of order ---------------------------------------

TEST_F(Hostile, SourceChartsOfOddSizes) {
  const Bytes full = chart('D', {bar(19990104, 1), bar(19990105, 2)});
  struct Case {
    std::size_t size;
    bool is_chart;  // a whole header
    std::size_t bars;
  } cases[] = {{0, false, 0}, {127, false, 0}, {128, true, 0}, {129, true, 0}, {128 + 28, true, 1},
               {128 + 28 + 27, true, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    Bytes src(full.begin(), full.begin() + static_cast<long>(std::min(c.size, full.size())));
    src.resize(c.size, 0);
    ASSERT_TRUE(write_file("src.M", src));
    ChartPassProgress quiet;

    Result cr = compress_chart(::open("src.M", O_RDONLY), {1, "n.M"}, quiet);
    EXPECT_EQ(cr.status, c.is_chart ? Status::kDone : Status::kRefused);
    if (c.is_chart) {
      EXPECT_EQ(bars_of(read_file("n.M")).size(), c.bars);
    } else {
      EXPECT_FALSE(file_exists("n.M"));
    }
    unlink("n.M");

    Result ar = adjust_chart(::open("src.M", O_RDONLY), {'*', 2, IndexFile(), "a.M"}, quiet);
    EXPECT_EQ(ar.status, c.is_chart ? Status::kDone : Status::kRefused);
    if (c.is_chart) {
      EXPECT_EQ(read_file("a.M").size(), kHeaderSize + c.bars * kBarSize);
    } else {
      EXPECT_FALSE(file_exists("a.M"));
    }
    unlink("a.M");

    Result fr = fold_chart(::open("src.M", O_RDONLY), {FoldKind::kWeekly, IndexFile(), "w.M"}, quiet);
    EXPECT_EQ(fr.status, c.bars ? Status::kDone : Status::kNothing);
    EXPECT_EQ(file_exists("w.M"), c.bars > 0);
    unlink("w.M");

    int fd = ::open("src.M", O_RDONLY);
    ::lseek(fd, kHeaderSize, SEEK_SET);
    ChartTextReport report;
    const Result result = chart_to_text(fd, "out.txt", ff, "src.M", report);
    EXPECT_TRUE(result.ok());
    EXPECT_EQ(result.count, static_cast<long>(c.bars));
    ::close(fd);
    EXPECT_EQ(read_file("src.M"), src) << "the source is never written";
  }
}

TEST_F(Hostile, TargetChartsOfOddSizesTakeTheNewBars) {
  // A target shorter than a header gets a new header; a partial record at
  // its end is not a bar.
  const Bytes full = chart('D', {bar(19990104, 1), bar(19990105, 2)});
  for (std::size_t size : {0u, 127u, 128u, 129u, 128u + 28u + 13u}) {
    SCOPED_TRACE(size);
    mkdir("txt_o", 0700);
    Bytes target(full.begin(), full.begin() + static_cast<long>(std::min(size, full.size())));
    target.resize(size, 0);
    ASSERT_TRUE(write_file("txt_o/odd.M", target));
    ASSERT_TRUE(write_text("odd.txt", "19990106,1,2,0.5,1.5,100,7\n19990107,1,2,0.5,1.5,100,7\n"));
    {
      ScreenLog keys({"odd.M\r"});
      EXPECT_EQ(generalTR(open_source("odd.txt"), exclambuf), 1);
    }
    const Bytes got = read_file("txt_o/odd.M");
    ASSERT_TRUE(whole_chart(got));
    std::vector<std::int32_t> want;
    if (size >= 128 + 28) want.push_back(19990104);
    want.insert(want.end(), {19990106, 19990107});
    EXPECT_EQ(dates_of(got), want);
    EXPECT_EQ(got[kHeaderTypeOffset], 'D');
  }
}

TEST_F(Hostile, SourceBarsOutOfOrder) {
  const Bytes src = chart('D', {bar(19990111, 1), bar(19990104, 2), bar(19990118, 3)});
  ASSERT_TRUE(write_file("src.M", src));
  ASSERT_TRUE(write_file("w.M", chart('W', {bar(19981231, 9)})));
  const Bytes old_w = read_file("w.M");
  int r;
  bool told;
  {
    ScreenLog keys({"w.M\r"});
    r = DAYWK(open_source("src.M"), nullptr);
    told = keys.saw("dates go backwards");
  }
  EXPECT_EQ(r, 0);
  EXPECT_TRUE(told) << "the user is told why nothing was stored";
  EXPECT_EQ(read_file("w.M"), old_w);
  // Compression, adjustment and chart to text keep the bars as they come.
  ChartPassProgress quiet;
  EXPECT_EQ(compress_chart(::open("src.M", O_RDONLY), {1, "n.M"}, quiet).status, Status::kDone);
  EXPECT_EQ(bars_of(read_file("n.M")).size(), 3u);
  EXPECT_EQ(read_file("src.M"), src);
}

// ---- Symbolic links ----------------------------------------------------------

TEST_F(Hostile, SymlinkNamedLikeTheSpliceTemporaryIsNeverWrittenThrough) {
  mkdir("txt_i", 0700);
  ASSERT_TRUE(write_file("txt_i/ibm.M", chart('D', {bar(19990104, 1), bar(19990111, 2)})));
  const std::string victim = dir_.file("victim");
  ASSERT_TRUE(write_text(victim, "precious"));
  ASSERT_EQ(symlink(victim.c_str(), "txt_i/tmpmorva.gph"), 0);
  ASSERT_TRUE(write_text("ibm.txt", "19990105,1,2,0.5,1.5,100,7\n"));
  {
    ScreenLog keys({"ibm.M\r", "d"});  // one line: the type of chart is asked
    EXPECT_EQ(generalTR(open_source("ibm.txt"), exclambuf), 1);
  }
  EXPECT_EQ(read_text(victim), "precious");
  EXPECT_EQ(dates_of(read_file("txt_i/ibm.M")), (std::vector<std::int32_t>{19990104, 19990105, 19990111}));
  // The old fixed name means nothing now: the link is neither followed nor
  // taken, and no temporary file of the run is left.
  EXPECT_EQ(list_dir("txt_i"), (std::vector<std::string>{"ibm.M", "tmpmorva.gph"}));
}

TEST_F(Hostile, ChartThatIsASymlinkStaysALink) {
  mkdir("real", 0700);
  mkdir("txt_i", 0700);
  ASSERT_TRUE(write_file("real/ibm.M", chart('D', {bar(19990104, 1)})));
  ASSERT_EQ(symlink((dir_.path() + "/real/ibm.M").c_str(), "txt_i/ibm.M"), 0);
  ASSERT_TRUE(write_text("ibm.txt", "19990105,1,2,0.5,1.5,100,7\n"));
  {
    ScreenLog keys({"ibm.M\r", "d"});  // one line: the type of chart is asked
    EXPECT_EQ(generalTR(open_source("ibm.txt"), exclambuf), 1);
  }
  struct stat st;
  ASSERT_EQ(lstat("txt_i/ibm.M", &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(dates_of(read_file("real/ibm.M")), (std::vector<std::int32_t>{19990104, 19990105}));
}

// ---- Folders that take no files -------------------------------------------------

// Runs `body` in a child process without the power to write where the
// permissions forbid it (as "nobody" when the tests run as root); the
// child's exit status.
int as_plain_user(const std::function<int()>& body) {
  std::fflush(stdout);
  pid_t pid = fork();
  if (pid == 0) {
    if (geteuid() == 0) {
      if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(100);
    }
    _exit(body());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(Hostile, ReadOnlyDataDirectory) {
  ASSERT_EQ(chmod(dir_.path().c_str(), 0777), 0);
  mkdir("txt_i", 0777);
  const Bytes old = chart('D', {bar(19990104, 1), bar(19990111, 2)});
  ASSERT_TRUE(write_file("txt_i/ibm.M", old));
  chmod("txt_i/ibm.M", 0666);
  ASSERT_TRUE(write_text("ibm.txt", "19990105,1,2,0.5,1.5,100,7\n"));
  ASSERT_TRUE(write_file("src.M", old));
  chmod(".", 0555);
  chmod("txt_i", 0555);
  const std::string seen = dir_.path() + "/../" + "mh-seen";
  int code = as_plain_user([&] {
    std::string log;
    int r1, r2;
    {
      ScreenLog keys({"ibm.M\r", "d"});
      r1 = generalTR(open_source("ibm.txt"), exclambuf);
      if (!keys.saw("Disk full")) return 2;
    }
    {
      ScreenLog keys({"w.M\r"});
      r2 = DAYWK(open_source("src.M"), nullptr);
      if (!keys.saw("Disk full")) return 3;
    }
    if (r1 != 0) return 4;
    if (r2 == 1) return 5;
    return 0;
  });
  chmod(".", 0777);
  chmod("txt_i", 0777);
  EXPECT_EQ(code, 0) << "2/3: no message; 4/5: a failure reported as success";
  EXPECT_EQ(read_file("txt_i/ibm.M"), old);
  EXPECT_FALSE(file_exists("w.M"));
  EXPECT_EQ(list_dir("txt_i"), std::vector<std::string>{"ibm.M"});
}

TEST_F(Hostile, OldChartInAReadOnlyFolderIsWidenedWholeOrNotAtAll) {
  // Where no temporary file can be made, the upgrade widens the dates in
  // place; a write that fails part-way must not leave a chart that no
  // longer looks old while later bars still hold yymmdd dates.
  ASSERT_EQ(chmod(dir_.path().c_str(), 0777), 0);
  std::vector<BarRecord> bars;
  for (int i = 0; i < 400; ++i) bars.push_back(bar(980105 + (i % 20) + 100 * (i / 20 % 12), 1));
  const Bytes old = chart('D', bars);
  for (int n = 1; n <= 4; ++n) {
    SCOPED_TRACE(n);
    chmod(".", 0777);
    ASSERT_TRUE(write_file("old.M", old));
    chmod("old.M", 0666);
    chmod(".", 0555);
    int code = as_plain_user([&] {
      g_faults.fail_write = n;
      Y2000_upgrade("old.M");
      // Whatever happened, a second upgrade finishes the work.
      g_faults = FaultPlan{};
      return Y2000_upgrade("old.M") ? 0 : 1;
    });
    EXPECT_EQ(code, 0);
    std::vector<std::int32_t> want;
    for (const BarRecord& b : bars) want.push_back(b.date + 19000000);
    EXPECT_EQ(dates_of(read_file("old.M")), want);
  }
  chmod(".", 0777);
}

TEST_F(Hostile, UnwritableStartDirectory) {
  // The setup file and the defaults file cannot be written: the start-up
  // says so and the program goes on with its built-in settings.
  ASSERT_EQ(chmod(dir_.path().c_str(), 0777), 0);
  mkdir("morva", 0555);
  const std::string out = dir_.file("stdout");
  int code = as_plain_user([&] {
    int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    dup2(fd, 1);
    setenv("HOME", dir_.path().c_str(), 1);
    get_setup(0);
    std::fflush(stdout);
    ScreenLog keys;
    if (loadsave_defaults(0, 0) != 0) return 2;
    if (!keys.saw("Unable to write to disk")) return 3;
    return 0;
  });
  chmod("morva", 0777);
  EXPECT_EQ(code, 0) << "2: defaults reported as written; 3: no message";
  EXPECT_NE(read_text(out).find("Can't write:"), std::string::npos) << read_text(out);
  EXPECT_EQ(list_dir("morva"), std::vector<std::string>{});
}

// ---- Help and listing -------------------------------------------------------------

TEST_F(Hostile, MissingHelpFileIsToldAndLeftWithEsc) {
  ScopedEnv home("HOME", dir_.path().c_str());
  ScopedEnv path("PATH", dir_.path().c_str());
  std::snprintf(startsubdir, sizeof startsubdir, "%s", "/nonexistent");
  bool told;
  {
    ScreenLog keys({"\x1b"});
    new_instructions(1, 1);
    told = keys.saw("M.HLP is missing");
  }
  EXPECT_TRUE(told);
}

TEST_F(Hostile, FullListTableInTheDirectoryListing) {
  // More names than the list table holds: the listing stops at its last
  // row and can be paged and left.
  for (int i = 0; i < 3300; ++i) ASSERT_TRUE(write_text("f" + std::to_string(100000 + i), ""));
  ASSERT_EQ(dir("*", targopnX, 5, 3000), 1);
  int rows = 0;
  while (rows + 1 < kDirTableEntries && targopnX[rows + 1] && targopnX[rows + 1][0]) ++rows;
  EXPECT_GT(rows, 500);
  EXPECT_LT(rows, kDirTableEntries);
  char pattern[48] = "*";
  headless_start();
  int r;
  {
    ScreenLog keys({std::string(40, static_cast<char>(203)), std::string(5, static_cast<char>(31)), "\x1b"});
    r = openselected(pattern, "Directory", 5, 4, 22, 79, 0);
  }
  EXPECT_TRUE(r == 27 || r == 13);
}

// ---- Hostile targets and archives, through the batch tool ----------------------------
//
// Each case sets up its files, runs morva-convert once (killed after 20 s,
// so a run that blocks fails) and checks the exit status and that what
// must stay stayed.

bool truncate_to(const char* path, long long size) {
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const bool ok = fd >= 0 && ::ftruncate(fd, size) == 0;
  if (fd >= 0) ::close(fd);
  return ok;
}

std::size_t le16_at(const Bytes& b, std::size_t at) { return b[at] | b[at + 1] << 8; }

TEST_F(Hostile, TargetsThatAreNoChartsAndArchivesThatAreNoArchives) {
  const std::string notes(13000, 'n');
  write_text("p.txt", "20240102,1,2,0.5,1.5,100,0\n20240103,1,2,0.5,1.5,100,0\n");
  write_file("ibm", chart('D', {bar(20240101, 5)}));
  const Bytes ibm = read_file("ibm");
  TempDir outside("mh-outside");
  struct Case {
    const char* name;
    std::function<bool()> setup;  // false: not possible here (skipped)
    std::vector<std::string> args;
    std::function<bool()> kept;   // what must be as it was
  };
  const std::vector<std::string> store = {"text-to-chart", "-q", "p.txt", "--type", "daily", "--chart"};
  auto with = [](std::vector<std::string> a, std::initializer_list<std::string> more) {
    a.insert(a.end(), more);
    return a;
  };
  const Case cases[] = {
      {"--chart names a text", [&] { return write_text("txt_n/notes.txt", notes); }, with(store, {"notes.txt"}),
       [&] { return read_text("txt_n/notes.txt") == notes; }},
      {"weekly --to a text", [&] { return write_text("notes.txt", notes); }, {"weekly", "ibm", "--to", "notes.txt"},
       [&] { return read_text("notes.txt") == notes; }},
      {"compress --to a text", [&] { return write_text("notes.txt", notes); },
       {"compress", "ibm", "--count", "5", "--to", "notes.txt"}, [&] { return read_text("notes.txt") == notes; }},
      {"a FIFO as store target", [&] { return mkfifo("txt_f/fifo", 0600) == 0; }, with(store, {"fifo"}),
       [&] { struct stat st; return lstat("txt_f/fifo", &st) == 0 && S_ISFIFO(st.st_mode); }},
      {"a FIFO as chart to show", [&] { return mkfifo("fifo", 0600) == 0; }, {"show", "fifo"}, [] { return true; }},
      {"a FIFO as fold source", [&] { return mkfifo("fifo", 0600) == 0; }, {"weekly", "fifo", "--to", "w"},
       [] { return !file_exists("w"); }},
      {"a link to a device as compress target",
       [&] { return mknod("dev", S_IFCHR | 0666, makedev(1, 3)) == 0 && symlink("dev", "devlink") == 0; },
       {"compress", "ibm", "--count", "5", "--to", "devlink"},
       [] { struct stat st; return lstat("dev", &st) == 0 && S_ISCHR(st.st_mode); }},
      {"a root run: a link to a file outside the data folder",
       [&] {
         return geteuid() == 0 && write_file(outside.file("x"), ibm) &&
                symlink(outside.file("x").c_str(), "txt_o/out") == 0;
       },
       with(store, {"out"}), [&] { return read_file(outside.file("x")) == ibm; }},
      {"InvestorLink: 1 GiB of NULs", [] { return truncate_to("991231S.ZIP", 1ll << 30); },
       {"investorlink", "-q", "991231S.ZIP"}, [] { return !file_exists("stk_a"); }},
      {"InvestorLink: a member cut short",
       [] {
         std::string text;
         for (int i = 0; i < 3000; ++i) text += "A" + std::to_string(i) + ",10,11,9,10.5,100,0\n";
         if (!write_text("991231.STK", text) || run_program({"zip", "-q", "991231S.ZIP", "991231.STK"}) != 0)
           return false;
         Bytes zip = read_file("991231S.ZIP");
         const std::size_t data = 30 + le16_at(zip, 26) + le16_at(zip, 28), packed = le32_at(zip, 18);
         std::fill(zip.begin() + data + packed / 2, zip.begin() + data + packed, 0);
         return write_file("991231S.ZIP", zip);
       },
       {"investorlink", "-q", "991231S.ZIP"}, [] { return !file_exists("stk_a"); }},
      {"plot of a chart of 6,000,000 bars (sparse)",
       [] { return truncate_to("big", kHeaderSize + 6000000ll * kBarSize); }, {"plot", "big", "-o", "big.png"},
       [] { return !file_exists("big.png"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* d : {"txt_n", "txt_f", "txt_o"}) mkdir(d, 0755);
    if (!c.setup()) {
      std::cout << "[ skipped  ] " << c.name << ": cannot be set up here\n";
      continue;
    }
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--data-dir", dir_.path(), "--start-dir", dir_.path()});
    auto p = batch_test::start(args, dir_.path(), dir_.path());
    const batch_test::Outcome r = batch_test::finish_within(p, 20000);
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_FALSE(r.err.empty());
    EXPECT_TRUE(c.kept());
    for (const std::string& f : list_dir("/tmp")) EXPECT_NE(f.rfind("991231.STK", 0), 0u) << f;
    for (const char* f : {"notes.txt", "fifo", "txt_f/fifo", "dev", "devlink", "txt_o/out", "991231S.ZIP",
                          "991231.STK", "big", "w"})
      unlink(f);
    remove_tree("stk_a");
  }
}

}  // namespace
