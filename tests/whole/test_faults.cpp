// Fault injection across every command that writes: each command is run
// once cleanly to count its checked writes, temporary-file creations,
// renames, flushes to the disk and chart locks, then once more for every N
// up to those counts with the N-th call failing (as a full disk, a failed
// rename or flush, or a lock that cannot be had would).  After each faulted
// run every file is byte for byte as before or as the clean run left it
// (a new target absent or complete), no temporary file is left, the user
// saw a failure message unless the result is complete anyway, and the
// dialogue came back to its caller.
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "chartdata/chartfile.h"
#include "chartdata/encodings.h"
#include "chartdata/faults.h"
#include "chartdata/linereader.h"
#include "chartdata/safe_replace.h"
#include "window/commands.h"
#include "window/defaults_file.h"
#include "window/globals.h"
#include "convert/ascii_replace.h"
#include "window/main_menu.h"
#include "window/screen_reporters.h"
#include "convert/chart_check.h"
#include "convert/quickquote.h"
#include "convert/techtools.h"
#include "screen/backend.h"
#include "screen/headless.h"
#include "screen/screen.h"
#include "support/batch_support.h"
#include "setup/environment.h"
#include "setup/setup.h"
#include "support/scripted_keys.h"
#include "support/chart_files.h"
#include "support/tempdir.h"
#include "widgets/filechooser.h"

extern char** environ;

namespace {

// ---- Files ----------------------------------------------------------------

using Tree = std::map<std::string, Bytes>;

// Every file below `dir` by its path relative to `dir` (folders end in '/').
void collect(const std::string& dir, const std::string& rel, Tree& out) {
  for (const std::string& name : list_dir(dir)) {
    const std::string path = dir + "/" + name;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      out[rel + name + "/"] = {};
      collect(path, rel + name + "/", out);
    } else {
      out[rel + name] = read_file(path);
    }
  }
}
Tree snapshot(const std::string& dir) {
  Tree t;
  collect(dir, "", t);
  return t;
}

bool temp_name(const std::string& rel) {
  const std::size_t slash = rel.rfind('/', rel.size() - 2);
  const std::string base = slash == std::string::npos ? rel : rel.substr(slash + 1);
  return base.rfind(".morva-", 0) == 0;
}

BarRecord bar(std::int32_t date, float price, std::int32_t volume = 100) {
  return ::bar(date, price, price + 1, price - 1, price + 0.5f, volume, 2);
}

// Consecutive weekdays from `first` (yyyymmdd), `n` of them.
std::vector<std::int32_t> weekdays(std::int32_t first, int n) {
  std::vector<std::int32_t> out;
  int day = dton(first);
  while (static_cast<int>(out.size()) < n) {
    const int weekday = (day + 5) % 7;  // 0 Monday .. 6 Sunday
    if (weekday < 5) out.push_back(ntod(day));
    ++day;
  }
  return out;
}

Bytes chart(char type, const std::vector<BarRecord>& bars) {
  return chart_bytes(type, bars.empty() ? 0 : bars.front().date, bars);
}

Bytes daily_chart(std::int32_t first, int n, float price = 10) {
  std::vector<BarRecord> bars;
  for (std::int32_t d : weekdays(first, n)) bars.push_back(bar(d, price += 0.25f));
  return chart('D', bars);
}

// ---- The screen: keys typed when the program waits, screens it showed ----

struct ScreenLog {
  explicit ScreenLog(const std::deque<std::string>& batches) {
    for (const std::string& b : batches) keys.then(b);
    keys.keep_screens("MORVA_FAULT_TRACE").escape_when_idle();
  }
  bool saw(const std::string& text) const { return keys.saw(text); }
  ScriptedKeys keys;
};

// ---- The sweep ---------------------------------------------------------------

struct Scenario {
  const char* name;
  std::function<void()> prepare;      // writes the inputs into the working folder
  std::deque<std::string> keys;       // typed batch by batch when the program waits
  std::function<int()> run;           // the command; non-zero = it reports success
  const char* message = "Disk full";  // what the user sees when it failed
  // A run that did not finish may stay silent: the command does not depend
  // on it (the old file stays usable as it is).
  bool silent_ok = false;
  // The command's result tells success from failure (chart to text returns
  // 1 after any name was taken and tells a failed write by its message).
  bool result_is_success = true;
};

struct Counts {
  int writes = 0, creates = 0, renames = 0, flushes = 0, locks = 0;
  int faulted_runs = 0;
};

class FaultSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    work_ = root_.mkdirs("work");
    old_reporter_ = diskfull_reporter;
    old_lock_reporter_ = lock_reporter;
    install_screen_reporters();  // the window's own, as at its start-up
  }
  void TearDown() override {
    faults_reset();
    diskfull_reporter = old_reporter_;
    lock_reporter = old_lock_reporter_;
  }

  // A fresh working folder with the scenario's inputs, the current folder.
  void fresh(const Scenario& s) {
    if (chdir(root_.path().c_str()) != 0) FAIL();
    remove_tree(work_);
    mkdir(work_.c_str(), 0700);
    if (chdir(work_.c_str()) != 0) FAIL();
    headless_start();
    set_builtin_format();
    title = "FAULT TEST";
    savenm[0] = 0;
    exclamfile = 0;
    get_the_symbol[0] = 0;
    s.prepare();
  }

  Counts sweep(const Scenario& s) {
    Counts c;
    fresh(s);
    const Tree before = snapshot(work_);
    faults_reset();
    int ok;
    {
      ScreenLog screen(s.keys);
      ok = s.run();
    }
    c.writes = g_faults.writes;
    c.creates = g_faults.creates;
    c.renames = g_faults.renames;
    c.flushes = g_faults.flushes;
    c.locks = g_faults.locks;
    faults_reset();
    const Tree after = snapshot(work_);
    EXPECT_TRUE(ok != 0 && ok != 27) << s.name << ": the clean run failed; the screen:\n" << headless_screen();
    EXPECT_NE(before, after) << s.name << ": the clean run changed nothing";
    EXPECT_GT(c.writes, 0) << s.name;

    struct Kind {
      const char* what;
      int count;
      int FaultPlan::*fail;
    };
    const Kind kinds[] = {{"write", c.writes, &FaultPlan::fail_write},
                          {"create", c.creates, &FaultPlan::fail_create},
                          {"rename", c.renames, &FaultPlan::fail_rename},
                          {"flush", c.flushes, &FaultPlan::fail_flush},
                          {"lock", c.locks, &FaultPlan::fail_lock}};
    for (const Kind& kind : kinds) {
      for (int n = 1; n <= kind.count; ++n) {
        SCOPED_TRACE(std::string(s.name) + ": " + kind.what + " " + std::to_string(n));
        fresh(s);
        faults_reset();
        g_faults.*kind.fail = n;
        int r;
        bool told;
        {
          ScreenLog screen(s.keys);
          r = s.run();
          // A chart that could not be locked is named as left unwritten.
          told = screen.saw(s.message) || screen.saw("nothing written");
        }
        faults_reset();
        ++c.faulted_runs;
        const Tree got = snapshot(work_);
        bool complete = true;
        std::map<std::string, int> paths;
        for (const auto* t : {&before, &after, &got})
          for (const auto& [p, _] : *t) paths[p] = 1;
        for (const auto& [p, _] : paths) {
          EXPECT_FALSE(temp_name(p)) << "temporary file left: " << p;
          const auto g = got.find(p), b = before.find(p), a = after.find(p);
          const bool as_before = (g == got.end()) == (b == before.end()) &&
                                 (g == got.end() || g->second == b->second);
          const bool as_after = (g == got.end()) == (a == after.end()) &&
                                (g == got.end() || g->second == a->second);
          EXPECT_TRUE(as_before || as_after) << "changed, partial or lost: " << p;
          complete = complete && as_after;
        }
        if (!complete && !s.silent_ok) {
          // 27: the user left the dialogue with ESC after the message.
          if (s.result_is_success) {
            EXPECT_TRUE(r == 0 || r == 27) << "a failure reported as success";
          }
          EXPECT_TRUE(told) << "no message \"" << s.message << "\" was shown";
        }
      }
    }
    std::cout << "[ sweep    ] " << s.name << ": " << c.writes << " writes, " << c.creates
              << " creations, " << c.renames << " renames, " << c.flushes << " flushes, " << c.locks
              << " locks: " << c.faulted_runs << " faulted runs\n";
    return c;
  }

  int open_source(const char* name) {
    std::snprintf(exclambuf, sizeof exclambuf, "%s", name);
    std::snprintf(firstname, sizeof firstname, "%s", name);
    return ::open(name, O_RDONLY);
  }

  TempDir root_{"mf"};  // short: the start directory holds 24 characters
  std::string work_;
  DiskFullReporter old_reporter_ = nullptr;
  LockReporter old_lock_reporter_{};
};

// A text of two symbols, 300 days each; "ibm" already has a chart whose
// bars overlap the text's first half.
std::string two_symbol_text() {
  std::string text;
  for (const char* sym : {"IBM", "AAPL"}) {
    float p = 20;
    for (std::int32_t d : weekdays(19980105, 300)) {
      char line[120];
      std::snprintf(line, sizeof line, "%s,%d,%.2f,%.2f,%.2f,%.2f,%d,0\n", sym, d, p, p + 1, p - 1,
                    p + 0.5, 1000 + d % 97);
      text += line;
      p += 0.125f;
    }
  }
  return text;
}

TEST_F(FaultSweep, TextToChartsMergedBySymbol) {
  Scenario s{"F2 text to charts", [] {
               mkdir("csv_i", 0700);
               write_file("csv_i/ibm", daily_chart(19970601, 400));
               write_text("prices.csv", two_symbol_text());
               std::memcpy(ff.order, "SDOHLCVI    ", 12);
             },
             {}, nullptr};
  s.run = [this] {
    std::memcpy(ff.order, "SDOHLCVI    ", 12);
    int fd = open_source("prices.csv");
    return generalTR(fd, exclambuf);
  };
  sweep(s);
}

// The nightly case: every new bar after the last stored one, so both
// charts are appended to in place (one of them ends in a partial record a
// power cut left, which the store removes).
TEST_F(FaultSweep, NightlyDayAppendedInPlace) {
  Scenario s{"F2 nightly append", [] {
               mkdir("csv_i", 0700);
               mkdir("csv_a", 0700);
               write_file("csv_i/ibm", daily_chart(19970601, 400));
               Bytes aapl = daily_chart(19970601, 40);
               aapl.insert(aapl.end(), 11, 0x5a);
               write_file("csv_a/aapl", aapl);
               write_text("prices.csv",
                          "IBM,19990105,1,2,0.5,1.5,100,0\nIBM,19990106,1,2,0.5,1.5,100,0\n"
                          "AAPL,19990105,3,4,2.5,3.5,200,0\nAAPL,19990106,3,4,2.5,3.5,200,0\n");
               std::memcpy(ff.order, "SDOHLCVI    ", 12);
             },
             {}, nullptr};
  s.run = [this] {
    std::memcpy(ff.order, "SDOHLCVI    ", 12);
    return generalTR(open_source("prices.csv"), exclambuf);
  };
  const Counts c = sweep(s);
  EXPECT_EQ(c.renames, 0) << "appended in place, nothing renamed";
  EXPECT_GE(c.locks, 2);
}

// Another program keeps writing the chart for longer than the wait: the
// store names the chart, writes nothing to it, and reports the failure.
TEST_F(FaultSweep, BusyChartIsNamedAndLeftAlone) {
  Scenario s{"busy chart", [] {
               mkdir("csv_i", 0700);
               write_file("csv_i/ibm", daily_chart(19970601, 400));
               write_text("prices.csv", "IBM,19990105,1,2,0.5,1.5,100,0\nIBM,19990106,1,2,0.5,1.5,100,0\n");
               std::memcpy(ff.order, "SDOHLCVI    ", 12);
             },
             {}, nullptr};
  fresh(s);
  const Bytes before = read_file("csv_i/ibm");
  int ready[2], done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  const pid_t other = fork();
  ASSERT_GE(other, 0);
  if (other == 0) {  // the other program: holds the lock until told
    ChartLock lock("csv_i/ibm");
    char c = lock.held() ? 'y' : 'n';
    (void)!write(ready[1], &c, 1);
    (void)!read(done[0], &c, 1);
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  const int saved_wait = g_lock_wait_ms;
  g_lock_wait_ms = 1200;  // long enough to show the wait once
  int r;
  bool named, waited;
  {
    ScreenLog screen({});
    std::memcpy(ff.order, "SDOHLCVI    ", 12);
    r = generalTR(open_source("prices.csv"), exclambuf);
    named = screen.saw("Chart busy (another program is writing it), nothing written: csv_i/ibm");
    waited = screen.saw("Waiting for csv_i/ibm");
  }
  g_lock_wait_ms = saved_wait;
  (void)!write(done[1], &c, 1);
  int status = 0;
  waitpid(other, &status, 0);
  for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
  EXPECT_NE(r, 1);
  EXPECT_TRUE(named) << headless_screen();
  EXPECT_TRUE(waited) << headless_screen();
  EXPECT_EQ(read_file("csv_i/ibm"), before);
}

TEST_F(FaultSweep, TextToNamedChart) {
  Scenario s{"F2 text to a named chart", [] {
               mkdir("txt_i", 0700);  // the storage folder of "ibm" charts from ".txt" files
               write_file("txt_i/ibm.M", daily_chart(19970601, 500));
               std::string text;
               for (std::int32_t d : weekdays(19980301, 200)) text += std::to_string(d) + ",1,2,0.5,1.5,100,0\n";
               write_text("ibm.txt", text);
             },
             {"ibm.M\r"}, nullptr};
  s.run = [this] { return generalTR(open_source("ibm.txt"), exclambuf); };
  sweep(s);
}

TEST_F(FaultSweep, ChartToTextOverAnOldText) {
  Scenario s{"F2 chart to text", [] {
               write_file("ibm.M", daily_chart(19970601, 700));
               write_text("ibm.txt", "the old text\n");
             },
             {"ibm.txt\r", "y", "n"}, nullptr};
  s.result_is_success = false;
  s.run = [this] { return generalRT(open_source("ibm.M")); };
  sweep(s);
}

TEST_F(FaultSweep, WeeklyIntoAnExistingChart) {
  Scenario s{"F3 weekly", [] {
               write_file("ibm.M", daily_chart(19970601, 900));
               std::vector<BarRecord> weeks;
               for (std::int32_t d = 19960105; d < 19960300; d += 7) weeks.push_back(bar(d, 5));
               write_file("ibm.W", chart('W', weeks));
             },
             {"ibm.W\r"}, nullptr};
  s.run = [this] { return DAYWK(open_source("ibm.M"), nullptr); };
  sweep(s);
}

TEST_F(FaultSweep, MonthlyNewChart) {
  Scenario s{"F3 monthly", [] { write_file("ibm.M", daily_chart(19970601, 900)); },
             {"ibm.MO\r"}, nullptr};
  s.run = [this] { return DAYMONTH(open_source("ibm.M"), nullptr); };
  sweep(s);
}

TEST_F(FaultSweep, NumberedChart) {
  Scenario s{"F4 numbered", [] {
               write_file("ibm.M", daily_chart(19970601, 900));
               write_file("ibm.N", daily_chart(19900101, 3));
             },
             {"3\ribm.N\r"}, nullptr};
  s.run = [this] { return COMPRESSs(open_source("ibm.M")); };
  sweep(s);
}

TEST_F(FaultSweep, AdjustedChart) {
  Scenario s{"F5 adjust", [] {
               write_file("ibm.M", daily_chart(19970601, 900));
               write_file("half.M", daily_chart(19900101, 3));
             },
             {"/2\rhalf.M\r"}, nullptr};
  s.run = [this] {
    std::snprintf(origdatasubdir, sizeof origdatasubdir, "%s", "/");
    return addsubmultdiv(open_source("ibm.M"), nullptr);
  };
  sweep(s);
}

TEST_F(FaultSweep, RepairOfAChartWithRepeatedAndUnsortedBars) {
  Scenario s{"repair", [] {
               std::vector<BarRecord> bars;
               for (std::int32_t d : weekdays(19970601, 400)) bars.push_back(bar(d, 10));
               std::swap(bars[10], bars[11]);
               bars[200].date = bars[199].date;
               Bytes b = chart('D', bars);
               b.insert(b.end(), {1, 2, 3});
               write_file("ibm.M", b);
             },
             {}, nullptr};
  s.run = [] {
    std::vector<std::string> fixes;
    const bool ok = repair_chart("ibm.M", false, fixes).ok();
    if (!ok) diskfull("ibm.M");  // as the batch tool says it
    return ok ? 1 : 0;
  };
  sweep(s);
}

Bytes techtools_file(int records) {
  Bytes out(kTechHeaderSize, 0);
  out[0] = 2;  // prices in hundredths
  for (int i = 0; i < records; ++i) {
    unsigned serial = 36000u + static_cast<unsigned>(i);
    unsigned char rec[kTechRecordSize] = {};
    rec[0] = serial & 0xFF;
    rec[1] = serial >> 8;
    // open, high, low, close: within the day's range
    const unsigned offset[4] = {1, 3, 0, 2};
    for (int k = 0; k < 4; ++k) {
      unsigned price = 1000u + static_cast<unsigned>(i % 50) + offset[k];
      rec[2 + 2 * k] = price & 0xFF;
      rec[3 + 2 * k] = static_cast<unsigned char>(price >> 8);
    }
    rec[10] = static_cast<unsigned char>(i);
    out.insert(out.end(), rec, rec + kTechRecordSize);
  }
  return out;
}

TEST_F(FaultSweep, TechToolsOverAnExistingChart) {
  Scenario s{"F9 TechTools", [] {
               write_file("prices.dat", techtools_file(3000));
               write_file("t.M", daily_chart(19900101, 10));
             },
             {"t.M\r"}, nullptr};
  s.run = [this] { return techsub(open_source("prices.dat")); };
  sweep(s);
}

std::string quote_record(const std::string& sym, double close) {
  std::string l1 = sym, l3;
  auto put = [](std::string& line, std::size_t col, const std::string& t) {
    if (line.size() < col + t.size()) line.resize(col + t.size(), ' ');
    line.replace(col, t.size(), t);
  };
  char num[32];
  std::snprintf(num, sizeof num, "%.2f", close);
  put(l1, 22, num);
  put(l1, 66, "12000");
  put(l3, 42, num);
  put(l3, 54, num);
  put(l3, 66, num);
  return l1 + "\n\n" + l3 + "\n\n\n";
}

TEST_F(FaultSweep, QuickQuotesIntoSeveralCharts) {
  Scenario s{"T quick quotes", [] {
               write_file("ibm", daily_chart(19980601, 300));
               write_file("dec", daily_chart(19980601, 40));
               std::string text = std::string(30, '-') + "\n";
               for (const char* sym : {"IBM", "DEC", "AAPL", "IBM"}) text += quote_record(sym, 101.5);
               write_text("quotes.txt", text);
             },
             {"990105\r"}, nullptr};
  s.run = [this] { return quickquotesub(open_source("quotes.txt")); };
  sweep(s);
}

TEST_F(FaultSweep, InvestorLinkArchive) {
  // The archive is made once: zip stamps its members with the time, and
  // every run must start from the same bytes.
  static Bytes archive;
  if (archive.empty()) {
    std::string text;
    for (const char* sym : {"IBM", "INTC", "AAPL"}) text += std::string(sym) + ",1,2,0.5,1.5,100,0\n";
    ScopedChdir cd(root_.path());
    write_text("991231.STK", text);
    ASSERT_EQ(run_program({"zip", "-q", "991231S.ZIP", "991231.STK"}), 0);
    archive = read_file("991231S.ZIP");
    unlink("991231.STK");
    unlink("991231S.ZIP");
  }
  Scenario s{"I InvestorLink", [] {
               write_file("991231S.ZIP", archive);
               mkdir("stk_i", 0700);
               write_file("stk_i/ibm", daily_chart(19981201, 30));
             },
             {"991231S.ZIP\r", "d", "\r"}, nullptr};
  s.run = [] { return investorlink() && savenm[0] != 0; };
  sweep(s);
}

TEST_F(FaultSweep, DefaultsFileSaved) {
  // The save replaces the file whole; where no new file can be made it
  // rewrites the 25 bytes in place, so the file is always whole.
  Scenario s{"defaults file", [] {
               Bytes old(25, 0);
               std::memcpy(old.data() + 1, "DOHLCVI", 7);
               old.insert(old.end(), {'t', 'a', 'i', 'l'});
               write_file("morvautl.dat", old);
             },
             {}, nullptr};
  s.run = [this] {
    std::snprintf(startsubdir, sizeof startsubdir, "%s", work_.c_str());
    if (!loadsave_defaults(0, 0)) return 0;
    ff.datecode = 3;
    ff.sep = ';';
    return loadsave_defaults(1, 1);
  };
  ASSERT_LT(work_.size(), sizeof startsubdir) << "temporary folder path too long";
  sweep(s);
}

TEST_F(FaultSweep, ExeHandOffFile) {
  Scenario s{"exe.mrv hand-off", [] { write_text("exe.mrv", "/old/start"); }, {}, nullptr};
  s.message = "Can't write: exe.mrv to disk:";
  s.run = [] { return save_exe_mrv("exe.mrv", "/home/trader/morva", 'A'); };
  sweep(s);
}

TEST_F(FaultSweep, AsciiTextReplacedByItsChart) {
  // In an "ASCII" list each text is replaced by the chart stored from it;
  // the main loop tells when the text stays.
  Scenario s{"ASCII text replaced by its chart", [] {
               write_text("ibm.txt", "19990104,1,2,0.5,1.5,100,7\n");
               write_file("ibm.M", daily_chart(19980105, 300));
             },
             {}, nullptr};
  s.silent_ok = true;
  s.run = [] { return ascii_replace("ibm.txt", "ibm.M"); };
  sweep(s);
}

TEST_F(FaultSweep, OldChartUpgradedWhenChosen) {
  // The chooser widens the dates of an old chart before opening it; a
  // failed upgrade leaves the old chart whole (readers widen it on the fly).
  Scenario s{"upgrade of an old chart", [] {
               std::vector<BarRecord> bars;
               for (std::int32_t d : weekdays(19980105, 400)) bars.push_back(bar(d - 19000000, 3));
               write_file("old.M", chart('D', bars));
             },
             {"old.M\r"}, nullptr};
  s.silent_ok = true;
  s.run = [] {
    char name[44] = "";
    int fd = dir_on_1stname("Enter a chart name:", name, true);
    if (fd > 0) ::close(fd);
    return fd > 0 ? 1 : 0;
  };
  sweep(s);
}

// Runs `body` in a child with its standard output in a file; the child's
// exit status (or 128 + signal) and its output.
std::pair<int, std::string> forked(const std::function<void()>& body, const std::string& out) {
  std::fflush(stdout);
  pid_t pid = fork();
  if (pid == 0) {
    int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 1);
    body();
    std::fflush(stdout);
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return {code, read_text(out)};
}

TEST_F(FaultSweep, SetupFileAtStartUp) {
  // At start-up the setup file is written back whole or not at all; a
  // failure is told on standard output, with the other start-up messages.
  const std::string out = root_.file("stdout");
  Scenario s{"setup.mrv", [] {
               Bytes rec(kSetupRecordSize, 0);
               rec[0] = 'P';
               rec.insert(rec.end(), {'n', 'e', 'w', 'e', 'r'});
               write_file("setup.mrv", rec);
             },
             {}, nullptr};
  s.message = "setup.mrv";
  s.run = [this, out] {
    std::snprintf(startsubdir, sizeof startsubdir, "%s", work_.c_str());
    const FaultPlan plan = g_faults;
    auto [code, text] = forked(
        [&] {
          g_faults = plan;
          set_builtin_setup();
          roomforvol = 7;
          std::exit(storesets('n', 'A', startsubdir) ? 0 : 1);
        },
        out);
    // The child's counters come back as the counts of a clean run.
    g_faults.writes = 1;
    g_faults.creates = 1;
    g_faults.renames = 1;
    if (code != 0 && text.find("Can't write:") != std::string::npos) putsn(text.c_str(), 10, 0, -1);
    return code == 0 ? 1 : 0;
  };
  ASSERT_LT(work_.size(), sizeof startsubdir) << "temporary folder path too long";
  sweep(s);
}

TEST_F(FaultSweep, GraphHandOffAtTheEnd) {
  // "tmpmorva" names the chart to graph when the program ends; a failure
  // leaves the old file and is told on standard output.
  const std::string out = root_.file("stdout");
  Scenario s{"tmpmorva hand-off", [] { write_text("tmpmorva", "old.M"); }, {}, nullptr};
  s.message = "tmpmorva";
  s.run = [this, out] {
    std::snprintf(startsubdir, sizeof startsubdir, "%s", work_.c_str());
    const FaultPlan plan = g_faults;
    auto [code, text] = forked(
        [&] {
          g_faults = plan;
          endmorvautl(1, "csv_i/ibm", 0);
        },
        out);
    g_faults.writes = 1;
    g_faults.creates = 1;
    g_faults.renames = 1;
    EXPECT_EQ(code, 0) << "the program ends normally";
    const bool written = read_text("tmpmorva") == "csv_i/ibm";
    if (!written && text.find("Can't write:") != std::string::npos) putsn(text.c_str(), 10, 0, -1);
    return written ? 1 : 0;
  };
  ASSERT_LT(work_.size(), sizeof startsubdir) << "temporary folder path too long";
  sweep(s);
}

// ---- The batch tool under real faults ------------------------------------------
//
// The program itself, killed, cut short by a file-size limit, and run
// beside another holder of a chart's lock (another user, a run whose lock
// file was deleted, a backup, a reader).  Each case returns what went
// wrong, "" when all held.

class RealFaults : public ::testing::Test {
 public:
  // The lines of `n` days of bars from the serial day `from` on.
  static std::string day_text(int from, int n) {
    std::string t;
    for (std::int32_t d : weekdays(20300101, from + n)) {
      if (from-- > 0) continue;
      t += std::to_string(d) + ",10,11,9,10.5,100,0\n";
    }
    return t;
  }
  batch_test::Started start(std::vector<std::string> args, const std::string& binary = batch_test::program()) {
    args.insert(args.end(), {"--data-dir", dir_.path(), "--start-dir", dir_.path()});
    return batch_test::start(args, dir_.path(), dir_.path(), binary);
  }
  std::string chart_path() const { return dir_.file("txt_k/k"); }
  // A chart of 400 days, the text of `more` days after them, and the chart
  // that storing the text gives: the chart is made anew as before.
  Bytes prepare(int more, Bytes* complete) {
    write_text(dir_.file("old.txt"), day_text(0, 400));
    write_text(dir_.file("new.txt"), day_text(400, more));
    remove_tree(dir_.file("txt_k"));
    auto r = finish(start({"text-to-chart", "-q", "old.txt", "--chart", "k", "--type", "daily"}));
    EXPECT_EQ(r.status, 0) << r.err;
    const Bytes before = read_file(chart_path());
    if (complete) {
      r = finish(start({"text-to-chart", "-q", "new.txt", "--chart", "k", "--type", "daily"}));
      EXPECT_EQ(r.status, 0) << r.err;
      *complete = read_file(chart_path());
      write_file(chart_path(), before);
    }
    return before;
  }
  static batch_test::Outcome finish(batch_test::Started p) { return batch_test::finish_within(p, 60000); }
  int temps() const {
    int n = 0;
    for (const std::string& f : list_dir(dir_.file("txt_k"))) n += f.rfind(".morva-", 0) == 0;
    return n;
  }
  TempDir dir_{"real-faults"};
};

TEST_F(RealFaults, KillsLimitsAndOtherHoldersLoseNothing) {
  struct Case {
    const char* name;
    std::function<std::string(RealFaults&)> run;
  };
  const Case cases[] = {
      {"a file-size limit during an append in place: reported, rolled back",
       [](RealFaults& t) -> std::string {
         const Bytes before = t.prepare(100, nullptr);
         const std::string limit = "--fsize=" + std::to_string(before.size() + 1000);
         auto r = t.finish(t.start({limit, batch_test::program(), "text-to-chart", "-q", "new.txt", "--chart", "k",
                                    "--type", "daily"},
                                   "/usr/bin/prlimit"));
         if (r.status != 3 || r.err.empty()) return "status " + std::to_string(r.status) + ", said: " + r.err;
         return read_file(t.chart_path()) == before && t.temps() == 0 ? "" : "the chart changed";
       }},
      {"kills during a 50,000-bar append: old or complete",
       [](RealFaults& t) -> std::string {
         Bytes complete;
         const Bytes before = t.prepare(50000, &complete);
         for (int ms : {0, 5, 15, 30, 60, 120}) {
           auto p = t.start({"text-to-chart", "-q", "new.txt", "--chart", "k", "--type", "daily"});
           usleep(ms * 1000);
           kill(p.pid, SIGKILL);
           (void)t.finish(std::move(p));
           const Bytes got = read_file(t.chart_path());
           if (got != before && got != complete) return "torn after a kill at " + std::to_string(ms) + " ms";
           write_file(t.chart_path(), before);
         }
         return "";
       }},
      {"another user, and a deleted lock file: the second writer waits",
       [](RealFaults& t) -> std::string {
         if (geteuid() != 0) return "skip: needs root to run as a second user";
         const Bytes before = t.prepare(1, nullptr);
         chmod(t.dir_.path().c_str(), 0777);
         chmod(t.dir_.file("txt_k").c_str(), 02777);
         chmod(t.dir_.file("new.txt").c_str(), 0644);
         ChartLock held(t.chart_path());  // this process, as root, is storing
         unlink(t.dir_.file("txt_k/.morva.lock").c_str());
         auto p = t.start({"--reuid=4002", "--regid=4002", "--clear-groups", batch_test::program(), "text-to-chart",
                           "-q", "new.txt", "--chart", "k", "--type", "daily"},
                          "/usr/bin/setpriv");
         const bool waited = batch_test::err_shows(p, "waiting for", 10000);
         held.release();
         auto r = t.finish(std::move(p));
         if (!waited) return "the second user did not wait for the lock";
         if (r.status != 0) return "second user: status " + std::to_string(r.status) + ": " + r.err;
         return read_file(t.chart_path()).size() == before.size() + 28 ? "" : "the second user's day is missing";
       }},
      {"a backup is taken under the lock of the store it guards",
       [](RealFaults& t) -> std::string {
         t.prepare(1, nullptr);
         Bytes other;
         {
           ChartLock held(t.chart_path());
           auto p = t.start({"text-to-chart", "-q", "new.txt", "--chart", "k", "--type", "daily", "--backup"});
           const bool waited = batch_test::err_shows(p, "waiting for", 10000);
           // Another program's store while the backup run waits.
           other = read_file(t.chart_path());
           other.resize(other.size() - 28);
           write_file(t.chart_path(), other);
           held.release();
           auto r = t.finish(std::move(p));
           if (!waited || r.status != 0) return "status " + std::to_string(r.status) + ": " + r.err;
         }
         return read_file(t.chart_path() + ".bak") == other ? "" : "the backup predates the other store";
       }},
      {"a reader waits for a store half-way",
       [](RealFaults& t) -> std::string {
         Bytes complete;
         const Bytes before = t.prepare(3, &complete);
         std::string out;
         {
           ChartLock held(t.chart_path());
           Bytes half = complete;  // the new bars, the header date not yet
           std::copy(before.begin() + 118, before.begin() + 122, half.begin() + 118);
           write_file(t.chart_path(), half);
           auto p = t.start({"show", "txt_k/k"});
           const bool waited = batch_test::err_shows(p, "waiting for", 10000);
           write_file(t.chart_path(), complete);
           held.release();
           auto r = t.finish(std::move(p));
           // Findings of the chart itself (status 1) are not the point here.
           if (!waited || r.status > 1) return "the reader did not wait: " + r.err;
           out = r.out;
         }
         const std::string last = std::to_string(le32_at(complete, 118));
         return out.find("header date: " + last) != std::string::npos ? "" : "the reader saw another header date";
       }},
      {"leftovers of dead runs go, a live run's temporary file stays",
       [](RealFaults& t) -> std::string {
         t.prepare(1, nullptr);
         for (const char* n : {".morva-dead0001.tmp", ".morva-dead0002.tmp"}) write_text(t.dir_.file(std::string("txt_k/") + n), "x");
         const std::string live = t.dir_.file("txt_k/.morva-live0001.tmp");
         const int fd = ::open(live.c_str(), O_RDWR | O_CREAT, 0600);
         flock(fd, LOCK_EX);
         auto r = t.finish(t.start({"text-to-chart", "-q", "new.txt", "--chart", "k", "--type", "daily"}));
         const bool kept = file_exists(live);
         ::close(fd);
         unlink(live.c_str());
         if (r.status != 0) return r.err;
         if (!kept) return "a live temporary file was removed";
         return t.temps() == 0 ? "" : "leftovers stayed";
       }},
  };
  for (const Case& c : cases) {
    const std::string why = c.run(*this);
    if (why.rfind("skip:", 0) == 0) {
      std::cout << "[ skipped  ] " << c.name << ": " << why.substr(6) << "\n";
      continue;
    }
    EXPECT_EQ(why, "") << c.name;
  }
}

}  // namespace
