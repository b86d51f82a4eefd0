// Throughput suite of the command cores, with references measured in the
// same run on the same files.
//
//   bench_suite gen DIR          writes every input into DIR (the same bytes
//                                every time: prices come from a fixed
//                                linear congruential sequence)
//   bench_suite gen DIR big      writes only the long chart of B3-B5 and B7
//   bench_suite gen DIR history  writes only B2's charts and update (F2, B2,
//                                B6q, Rc, B8c, B8a)
//   bench_suite case NAME DIR    prepares one case (untimed), runs it once
//                                (timed) and prints "seconds cpu items bytes
//                                flush written": flush is the part of the
//                                seconds spent waiting for the disk at the
//                                end, written the bytes the case handed to
//                                write calls (wchar of /proc/self/io)
//   bench_suite run DIR [RUNS]   runs every case RUNS times (default 5),
//                                round by round so that a change in the
//                                machine's load touches all cases alike, and
//                                prints the table; exits 1 when a target is
//                                missed.  BENCH_VERBOSE=1 prints every
//                                round's times too; BENCH_ONLY=F2,B8a
//                                runs only the cases named.
//
// Every case runs in a process of its own (this program again), so its peak
// resident memory is its own.  bench/run builds this in release mode, makes
// a temporary folder, and calls gen and run.
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "chartdata/bar.h"
#include "chartdata/chartfile.h"
#include "chartdata/encodings.h"
#include "chartdata/linereader.h"
#include "chartdata/safe_replace.h"
#include "convert/adjust.h"
#include "convert/chart_check.h"
#include "convert/corporate_actions.h"
#include "convert/chart_to_text.h"
#include "convert/compress.h"
#include "window/globals.h"
#include "convert/index_file.h"
#include "convert/quickquote.h"
#include "convert/store.h"
#include "convert/techtools.h"
#include "convert/text_layout.h"
#include "convert/text_to_chart.h"
#include "convert/weekly_monthly.h"
#include "plot/chart_plot.h"

extern char** environ;

namespace {

// ---- Sizes of the cases ------------------------------------------------------

constexpr int kSymbols = 4000;
constexpr int kFreshDays = 250;       // B1: 4,000 x 250 = 1,000,000 lines
constexpr int kHistoryBars = 2500;    // B2: bars of each existing chart
constexpr int kLongHistoryBars = 25000;  // B2L: the same update into longer charts
constexpr long kBigBars = 700000;     // B3-B5: bars of the long chart
constexpr int kIndexLines = 100;      // B4: lines of the index file
constexpr long kTechRecords = 700000; // B6: TechTools records
constexpr int kCompressN = 5;         // B5
constexpr float kAdjustK = 1.5f;      // B5, operator '*'

const char* const kTextName = "prices.csv";    // B1 text (storage directory csv_s)
const char* const kUpdateName = "update.csv";  // B2 text: one day per symbol
const char* const kQuoteName = "quotes.txt";   // B6 quick quotes: the same day
const char* const kStoreDir = "csv_s";         // where the charts of both texts live

// ---- Small helpers --------------------------------------------------------------

[[noreturn]] void die(const std::string& what) {
  std::fprintf(stderr, "bench_suite: %s (%s)\n", what.c_str(), std::strerror(errno));
  std::exit(2);
}

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double cpu_seconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// A fixed linear congruential sequence: the inputs are the same every time.
struct Lcg {
  std::uint32_t state;
  std::uint32_t next() { return state = state * 69069u + 1u; }
};

void write_file(const std::string& path, const void* data, std::size_t n) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) die("cannot create " + path);
  if (std::fwrite(data, 1, n, f) != n || std::fclose(f) != 0) die("cannot write " + path);
}

void make_dir(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) die("cannot make " + path);
}

std::vector<std::string> entries(const std::string& dir) {
  std::vector<std::string> out;
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return out;
  while (dirent* e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0 &&
        std::strcmp(e->d_name, ".morva.lock") != 0)  // the charts' lock file
      out.emplace_back(e->d_name);
  }
  ::closedir(d);
  std::sort(out.begin(), out.end());
  return out;
}

// Moves a finished case's folder into DIR/trash instead of deleting its
// files: a file system without a journal passes over the inodes freed in
// the last half minute when it allocates new ones, so deleting 4,000 charts
// just before a case creates 4,000 makes every creation scan thousands of
// inodes, and the case would measure that churn instead of its own work.
// bench/run removes the whole folder at the end.
void retire(const std::string& top, const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return;
  make_dir(top + "/trash");
  std::string slot = top + "/trash/old.XXXXXX";
  if (::mkdtemp(slot.data()) == nullptr) die("cannot make " + slot);
  if (::rename(path.c_str(), (slot + "/x").c_str()) != 0) die("cannot move " + path);
}

off_t file_size(const std::string& path);

// Fills `dir` (a new folder) with hard links to the charts of `from`, for
// the floor F2, which renames a new file over each.
void link_charts(const std::string& top, const std::string& from, const std::string& dir) {
  retire(top, dir);
  make_dir(dir);
  for (const std::string& name : entries(from))
    if (::link((from + "/" + name).c_str(), (dir + "/" + name).c_str()) != 0)
      die("cannot link " + name);
}

// Fills `dir` (a new folder) with copies of the charts of `from` (the
// update appends to a chart in place, so a hard link would change the
// original).
void copy_charts(const std::string& top, const std::string& from, const std::string& dir) {
  retire(top, dir);
  make_dir(dir);
  std::vector<char> buf;
  for (const std::string& name : entries(from)) {
    std::FILE* in = std::fopen((from + "/" + name).c_str(), "rb");
    if (in == nullptr) die("cannot read " + name);
    buf.resize(static_cast<std::size_t>(file_size(from + "/" + name)));
    const bool got = std::fread(buf.data(), 1, buf.size(), in) == buf.size();
    std::fclose(in);
    if (!got) die("cannot read " + name);
    write_file(dir + "/" + name, buf.data(), buf.size());
  }
}

// Fills `dir` with charts of kLongHistoryBars bars: the charts of `from`
// (kHistoryBars bars each) as their last bars, after a hole in the file
// for the earlier ones (the first of them a copy of the first bar, so the
// chart is not taken for one with six-digit dates).  The update reads a
// chart's first bytes and its last bar only, so what the earlier bars hold
// does not change its work; the hole keeps the case from writing 2.8 GB
// before it starts.
void long_charts(const std::string& top, const std::string& from, const std::string& dir) {
  retire(top, dir);
  make_dir(dir);
  std::vector<unsigned char> buf;
  const off_t hole = static_cast<off_t>(kLongHistoryBars - kHistoryBars) * kBarSize;
  for (const std::string& name : entries(from)) {
    std::FILE* in = std::fopen((from + "/" + name).c_str(), "rb");
    if (in == nullptr) die("cannot read " + name);
    buf.resize(static_cast<std::size_t>(file_size(from + "/" + name)));
    const bool got = std::fread(buf.data(), 1, buf.size(), in) == buf.size();
    std::fclose(in);
    const int fd = ::open((dir + "/" + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (!got || fd < 0 ||
        ::pwrite(fd, buf.data(), kHeaderSize + kBarSize, 0) != static_cast<ssize_t>(kHeaderSize + kBarSize) ||
        ::pwrite(fd, buf.data() + kHeaderSize, buf.size() - kHeaderSize,
                 static_cast<off_t>(kHeaderSize) + hole) != static_cast<ssize_t>(buf.size() - kHeaderSize) ||
        ::close(fd) != 0)
      die("cannot write " + name);
  }
}

off_t file_size(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// Every file of `dir` is `size` bytes and there are `count` of them.
void expect_files(const std::string& dir, std::size_t count, off_t size) {
  const std::vector<std::string> names = entries(dir);
  if (names.size() != count) {
    errno = 0;
    die(dir + ": " + std::to_string(names.size()) + " files, expected " + std::to_string(count));
  }
  for (const std::string& n : names)
    if (file_size(dir + "/" + n) != size) {
      errno = 0;
      die(dir + "/" + n + ": " + std::to_string(file_size(dir + "/" + n)) + " bytes, expected " +
          std::to_string(size));
    }
}

std::string symbol(int i) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "S%04d", i);
  return buf;
}
std::string chart_name(int i) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "s%04d", i);
  return buf;
}

// Weekday dates (yyyymmdd) from `first` on.
std::vector<std::int32_t> weekdays(std::int32_t first, long count) {
  std::vector<std::int32_t> out;
  out.reserve(static_cast<std::size_t>(count));
  int day = dton(first);
  while (static_cast<long>(out.size()) < count) {
    const int weekday = (day + 4) % 7;  // 5 Saturday, 6 Sunday
    if (weekday != 5 && weekday != 6) out.push_back(ntod(day));
    ++day;
  }
  return out;
}

std::int32_t next_weekday(std::int32_t date) { return weekdays(ntod(dton(date) + 1), 1)[0]; }

constexpr std::int32_t kFreshStart = 19990104;    // B1's first date (a Monday)
constexpr std::int32_t kHistoryStart = 19900101;  // B2's charts
constexpr std::int32_t kBigStart = 19600104;      // B3-B5's chart

std::size_t chart_bytes(long bars) { return kHeaderSize + static_cast<std::size_t>(bars) * kBarSize; }

// ---- Inputs ---------------------------------------------------------------------

void gen_fresh_text(const std::string& dir) {
  const std::vector<std::int32_t> dates = weekdays(kFreshStart, kFreshDays);
  std::string text;
  text.reserve(52u * kSymbols * kFreshDays);
  Lcg rng{12345};
  char line[128];
  for (int s = 0; s < kSymbols; ++s) {
    double price = 10 + s % 90;
    for (int i = 0; i < kFreshDays; ++i) {
      const std::uint32_t r = rng.next();
      const double move = (static_cast<int>(r % 201) - 100) / 1000.0;
      const double o = price;
      double c = std::max(1.0, price + move);
      const double h = std::max(o, c) + 0.125, l = std::min(o, c) - 0.125;
      const int n = std::snprintf(line, sizeof line, "%s,%d,%.3f,%.3f,%.3f,%.3f,%u,%d\n",
                                  symbol(s).c_str(), dates[i], o, h, l, c, 1000 + r % 900000, s % 7);
      text.append(line, static_cast<std::size_t>(n));
      price = c;
    }
  }
  write_file(dir + "/" + kTextName, text.data(), text.size());
}

// B1n: B1's bars written as many downloads write them today: a header,
// each symbol's days newest first, quoted prices with '$' and thousands
// separators, volumes with thousands separators.
const char* const kDownloadName = "prices_dl.csv";

std::string dollars(double v) {
  char buf[48];
  const long whole = static_cast<long>(v);
  const int frac = static_cast<int>((v - static_cast<double>(whole)) * 1000 + 0.5);
  if (whole >= 1000)
    std::snprintf(buf, sizeof buf, "\"$%ld,%03ld.%03d\"", whole / 1000, whole % 1000, frac);
  else
    std::snprintf(buf, sizeof buf, "\"$%ld.%03d\"", whole, frac);
  return buf;
}

void gen_download_text(const std::string& dir) {
  const std::vector<std::int32_t> dates = weekdays(kFreshStart, kFreshDays);
  std::string text = "Symbol,Date,Open,High,Low,Close,Volume\n";
  text.reserve(80u * kSymbols * kFreshDays);
  Lcg rng{12345};
  char line[200];
  std::vector<std::string> days(kFreshDays);
  for (int s = 0; s < kSymbols; ++s) {
    double price = 900 + s % 900;
    for (int i = 0; i < kFreshDays; ++i) {
      const std::uint32_t r = rng.next();
      const double move = (static_cast<int>(r % 201) - 100) / 1000.0;
      const double o = price;
      const double c = std::max(1.0, price + move);
      const double h = std::max(o, c) + 0.125, l = std::min(o, c) - 0.125;
      const unsigned v = 1000 + r % 900000;
      const int n = std::snprintf(line, sizeof line, "%s,%04d-%02d-%02d,%s,%s,%s,%s,\"%u,%03u\"\n",
                                  symbol(s).c_str(), dates[i] / 10000, dates[i] / 100 % 100, dates[i] % 100,
                                  dollars(o).c_str(), dollars(h).c_str(), dollars(l).c_str(), dollars(c).c_str(),
                                  v / 1000, v % 1000);
      days[i].assign(line, static_cast<std::size_t>(n));
      price = c;
    }
    for (int i = kFreshDays - 1; i >= 0; --i) text += days[i];
  }
  write_file(dir + "/" + kDownloadName, text.data(), text.size());
}

// B2's charts (one file each, already in their storage directory), the day
// after them as text (B2) and as quick quotes (B6).
void gen_history(const std::string& dir) {
  const std::vector<std::int32_t> dates = weekdays(kHistoryStart, kHistoryBars);
  const std::int32_t update = next_weekday(dates.back());
  const std::string charts = dir + "/pristine";
  make_dir(charts);
  std::vector<unsigned char> bytes(chart_bytes(kHistoryBars));
  const char daily[2] = {'D', '\n'};
  Lcg rng{777};
  std::string text, quotes = std::string(70, '-') + "\n";
  char line[160];
  for (int s = 0; s < kSymbols; ++s) {
    make_header(bytes.data(), daily, dates.front());
    put_le32(bytes.data() + kHeaderDateOffset, static_cast<std::uint32_t>(dates.back()));
    float price = 20.0f + static_cast<float>(s % 50);
    for (int i = 0; i < kHistoryBars; ++i) {
      const std::uint32_t r = rng.next();
      BarRecord b;
      b.date = dates[static_cast<std::size_t>(i)];
      b.open = price;
      b.close = std::max(1.0f, price + static_cast<float>(static_cast<int>(r % 33) - 16) / 16.0f);
      b.high = std::max(b.open, b.close) + 0.25f;
      b.low = std::min(b.open, b.close) - 0.25f;
      b.volume = static_cast<std::int32_t>(1000 + r % 500000);
      b.openint = 0;
      encode_bar(b, bytes.data() + kHeaderSize + static_cast<std::size_t>(i) * kBarSize);
      price = b.close;
    }
    write_file(charts + "/" + chart_name(s), bytes.data(), bytes.size());

    // The new day: eighths, as quote files write them.
    const int whole = static_cast<int>(price);
    const int eighths = static_cast<int>(rng.next() % 8);
    std::snprintf(line, sizeof line, "%s,%d,%d.%03d,%d.%03d,%d.%03d,%d.%03d,%d,0\n", symbol(s).c_str(),
                  update, whole, 125 * eighths, whole + 1, 0, whole - 1, 0, whole, 125 * eighths,
                  10000 + s);
    text += line;
    // Quote record: symbol at 0, close at 22, volume at 66; open at 42,
    // high at 54, low at 66 of the third line.
    std::string l1 = symbol(s), l3;
    l1.resize(22, ' ');
    l1 += std::to_string(whole) + "." + std::to_string(eighths) + "/";
    l1.resize(66, ' ');
    l1 += std::to_string(10000 + s);
    l3.resize(42, ' ');
    l3 += std::to_string(whole) + "." + std::to_string(eighths) + "/";
    l3.resize(54, ' ');
    l3 += std::to_string(whole + 1);
    l3.resize(66, ' ');
    l3 += std::to_string(whole - 1);
    quotes += l1 + "\n  quote line 2\n" + l3 + "\n  quote line 4\n  quote line 5\n";
  }
  write_file(dir + "/" + kUpdateName, text.data(), text.size());
  write_file(dir + "/" + kQuoteName, quotes.data(), quotes.size());
  const std::string day = std::to_string(update);
  write_file(dir + "/update-date", day.data(), day.size());
}

// The long daily chart of B3-B5 and its index file.
void gen_big_chart(const std::string& dir) {
  const std::vector<std::int32_t> dates = weekdays(kBigStart, kBigBars);
  std::vector<unsigned char> bytes(chart_bytes(kBigBars));
  const char daily[2] = {'D', '\n'};
  make_header(bytes.data(), daily, dates.front());
  put_le32(bytes.data() + kHeaderDateOffset, static_cast<std::uint32_t>(dates.back()));
  Lcg rng{4242};
  float price = 100.0f;
  for (long i = 0; i < kBigBars; ++i) {
    const std::uint32_t r = rng.next();
    BarRecord b;
    b.date = dates[static_cast<std::size_t>(i)];
    b.open = price;
    b.close = std::max(1.0f, price + static_cast<float>(static_cast<int>(r % 65) - 32) / 32.0f);
    b.high = std::max(b.open, b.close) + static_cast<float>(r % 5) * 0.125f;
    b.low = std::min(b.open, b.close) - static_cast<float>(r % 7) * 0.125f;
    b.volume = static_cast<std::int32_t>(1000 + r % 9000000);
    b.openint = static_cast<std::int32_t>(r % 3000);
    encode_bar(b, bytes.data() + chart_bytes(i));
    price = b.close;
    if (price > 400.0f) price = 100.0f;
  }
  write_file(dir + "/big.M", bytes.data(), bytes.size());

  // Index lines spread over 1960-2020 (two-digit years).
  std::string text;
  const int d0 = dton(19600201), d1 = dton(20201201);
  char line[40];
  for (int i = 0; i < kIndexLines; ++i) {
    const int date = ntod(d0 + static_cast<int>(static_cast<long long>(d1 - d0) * i / (kIndexLines - 1)));
    std::snprintf(line, sizeof line, "%06d %.2f\n", date % 1000000, 0.5 + i * 0.01);
    text += line;
  }
  write_file(dir + "/big.idx", text.data(), text.size());
}

// TechTools: 700,000 records.  The 16-bit date serial holds 65,536 days, so
// the dates rise by one day about every 11 records; the import keeps the
// first record of each date.
void gen_techtools(const std::string& dir) {
  std::vector<unsigned char> bytes(kTechHeaderSize + static_cast<std::size_t>(kTechRecords) * kTechRecordSize, 0);
  bytes[0] = 2;  // prices in hundredths
  Lcg rng{99};
  for (long i = 0; i < kTechRecords; ++i) {
    unsigned char* rec = bytes.data() + kTechHeaderSize + static_cast<std::size_t>(i) * kTechRecordSize;
    const std::uint32_t r = rng.next();
    const unsigned serial = static_cast<unsigned>(i * 65535 / kTechRecords) + 1;
    const unsigned base = 1000 + r % 4000;
    const unsigned v[5] = {serial, base, base + r % 50, base - r % 40, base + r % 30 - 15};
    for (int k = 0; k < 5; ++k) {
      rec[2 * k] = static_cast<unsigned char>(v[k]);
      rec[2 * k + 1] = static_cast<unsigned char>(v[k] >> 8);
    }
    const std::uint32_t vol = 1000 + r % 5000000, oi = r % 70000;
    for (int k = 0; k < 3; ++k) {
      rec[10 + k] = static_cast<unsigned char>(vol >> (8 * k));
      rec[13 + k] = static_cast<unsigned char>(oi >> (8 * k));
    }
  }
  write_file(dir + "/prices.tt", bytes.data(), bytes.size());
}

int gen(const std::string& dir) {
  make_dir(dir);
  gen_fresh_text(dir);
  gen_download_text(dir);
  gen_history(dir);
  gen_big_chart(dir);
  gen_techtools(dir);
  return 0;
}

// ---- The cases ------------------------------------------------------------------

struct Measure {
  double seconds = 0, cpu = 0;
  double items = 0, bytes = 0;
  double flush = 0;    // seconds of the final flush to the disk (within seconds)
  double written = 0;  // bytes handed to write calls
};

// Bytes this process has handed to write calls so far.
double bytes_written() {
  std::FILE* f = std::fopen("/proc/self/io", "r");
  if (f == nullptr) return 0;
  char key[64];
  unsigned long long v = 0, wchar = 0;
  while (std::fscanf(f, "%63s %llu", key, &v) == 2)
    if (std::strcmp(key, "wchar:") == 0) wchar = v;
  std::fclose(f);
  return double(wchar);
}

// Writes out what earlier cases left dirty in the page cache, so that no
// case pays for the write-back of the one before it.
void settle() { ::sync(); }

// Runs `body` timed between an untimed preparation and an untimed check.
Measure timed(const std::function<void(Measure&)>& body) {
  Measure m;
  settle();
  const double c0 = cpu_seconds(), t0 = now(), w0 = bytes_written();
  {
    // The run's charts reach the disk together at its end, as in
    // morva-convert; that wait is measured on its own.
    DurableBatch durable;
    body(m);
    const double f0 = now();
    if (durable.publish() != 0) die("the final flush failed");
    m.flush = now() - f0;
  }
  m.seconds = now() - t0;
  m.cpu = cpu_seconds() - c0;
  m.written = bytes_written() - w0;
  return m;
}

int open_or_die(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) die("cannot open " + path);
  return fd;
}

void fail(const std::string& what) {
  errno = 0;
  die(what);
}

struct Quiet : StoreReport {
  long charts = 0, failed = 0;
  void chart_done(const std::string&, int ok) override {
    ++charts;
    if (!ok) ++failed;
  }
};

// B1 and B2: a text into the charts of its symbols, through the store.
Measure text_to_charts(const std::string& work, const std::string& text, const char* textname) {
  if (::chdir(work.c_str()) != 0) die("cannot enter " + work);
  set_builtin_format();
  std::memcpy(ff.order, "SDOHLCVI    ", 12);
  Quiet report;
  Measure m = timed([&](Measure& m) {
    const int fd = open_or_die(text);
    std::string name;
    int ok = 0;
    if (first_symbol(fd, ff, name)) {
      TextStoreParams p;
      p.format = ff;
      p.textname = textname;
      p.chart_type = 'D';
      LineReader src(fd);
      TimeOfDayDates clock;
      ok = store_text(src, name, p, clock, report).ok();
    }
    linereader_close(fd);
    if (!ok || report.charts != kSymbols || report.failed != 0)
      fail("store of " + text + ": " + std::to_string(report.charts) + " charts");
    m.bytes = static_cast<double>(file_size(text));
  });
  return m;
}

// B1a and B1n: the same store after --auto's look at the text: the layout
// found from the text's start (the whole text read into its plain form
// first when the layout needs it), then the store.
Measure auto_text_to_charts(const std::string& work, const std::string& text, const char* textname) {
  if (::chdir(work.c_str()) != 0) die("cannot enter " + work);
  set_builtin_format();
  Quiet report;
  Measure m = timed([&](Measure& m) {
    int fd = open_or_die(text);
    LayoutHints hints;
    hints.order = "SDOHLCVI";  // the order a user of B1's text has saved
    const TextLayout layout = detect_layout(fd, hints);
    if (!layout.ok) fail("layout of " + text + ": " + layout.problem);
    FormatSettings f = ff;
    f.sep = layout.sep;
    f.datecode = static_cast<char>(layout.datecode);
    std::memset(f.order, ' ', sizeof f.order);
    const std::string order = layout.rewrite ? plain_order(layout) : layout.order.empty() ? "SDOHLCVI" : layout.order;
    std::memcpy(f.order, order.data(), order.size());
    if (layout.rewrite) {
      f.sep = ',';
      f.datecode = 0;
      const int plain = ::memfd_create("bench-text", MFD_CLOEXEC);
      RewriteTally tally;
      if (plain < 0 || !rewrite_text(fd, layout, plain, tally)) fail("rewrite of " + text);
      ::close(fd);
      fd = plain;
      ::lseek(fd, 0, SEEK_SET);
    }
    std::string name;
    int ok = 0;
    if (first_symbol(fd, f, name)) {
      TextStoreParams p;
      p.format = f;
      p.textname = textname;
      p.chart_type = 'D';
      p.decimal_comma = !layout.rewrite && layout.decimal_comma;
      LineReader src(fd);
      TimeOfDayDates clock;
      ok = store_text(src, name, p, clock, report).ok();
    }
    linereader_close(fd);
    if (!ok || report.charts != kSymbols || report.failed != 0)
      fail("store of " + text + ": " + std::to_string(report.charts) + " charts");
    m.bytes = static_cast<double>(file_size(text));
  });
  return m;
}

Measure case_b1_auto(const std::string& dir, const char* textname) {
  const std::string work = dir + "/b1a";
  make_dir(work);
  retire(dir, work + "/" + kStoreDir);  // made again by the store
  Measure m = auto_text_to_charts(work, dir + "/" + textname, textname);
  m.items = double(kSymbols) * kFreshDays;
  expect_files(work + "/" + kStoreDir, kSymbols, static_cast<off_t>(chart_bytes(kFreshDays)));
  return m;
}

Measure case_b1(const std::string& dir) {
  const std::string work = dir + "/b1";
  make_dir(work);
  retire(dir, work + "/" + kStoreDir);  // made again by the store
  Measure m = text_to_charts(work, dir + "/" + kTextName, kTextName);
  m.items = double(kSymbols) * kFreshDays;
  expect_files(work + "/" + kStoreDir, kSymbols, static_cast<off_t>(chart_bytes(kFreshDays)));
  return m;
}

Measure case_b2(const std::string& dir) {
  const std::string work = dir + "/b2";
  make_dir(work);
  copy_charts(dir, dir + "/pristine", work + "/" + kStoreDir);
  Measure m = text_to_charts(work, dir + "/" + kUpdateName, kUpdateName);
  m.items = kSymbols;
  m.bytes = double(kSymbols) * double(chart_bytes(kHistoryBars + 1));
  expect_files(work + "/" + kStoreDir, kSymbols, static_cast<off_t>(chart_bytes(kHistoryBars + 1)));
  expect_files(dir + "/pristine", kSymbols, static_cast<off_t>(chart_bytes(kHistoryBars)));
  return m;
}

// B2 into charts ten times as long: the update's cost must not grow with
// the history kept.
Measure case_b2_long(const std::string& dir) {
  const std::string work = dir + "/b2l";
  make_dir(work);
  long_charts(dir, dir + "/pristine", work + "/" + kStoreDir);
  Measure m = text_to_charts(work, dir + "/" + kUpdateName, kUpdateName);
  m.items = kSymbols;
  m.bytes = double(kSymbols) * double(chart_bytes(kLongHistoryBars + 1));
  expect_files(work + "/" + kStoreDir, kSymbols, static_cast<off_t>(chart_bytes(kLongHistoryBars + 1)));
  return m;
}

std::int32_t update_date(const std::string& dir) {
  std::FILE* f = std::fopen((dir + "/update-date").c_str(), "r");
  if (f == nullptr) die("no update date");
  int d = 0;
  if (std::fscanf(f, "%d", &d) != 1) fail("bad update date");
  std::fclose(f);
  return d;
}

Measure case_quotes(const std::string& dir) {
  const std::string work = dir + "/qq";
  make_dir(work);
  copy_charts(dir, dir + "/pristine", work + "/" + kStoreDir);
  const std::string charts = work + "/" + kStoreDir;
  if (::chdir(charts.c_str()) != 0) die("cannot enter " + charts);
  const std::int32_t day = update_date(dir);
  Measure m = timed([&](Measure&) {
    const int fd = open_or_die(dir + "/" + kQuoteName);
    std::string first;
    QuickQuoteListener quiet;
    Result out;
    if (first_quote_name(fd, &first)) out = quickquote_import(QuoteRequest{fd, day, first}, quiet);
    linereader_close(fd);
    if (out.count != kSymbols) fail("quick quotes stored " + std::to_string(out.count));
  });
  m.items = kSymbols;
  m.bytes = double(kSymbols) * double(chart_bytes(kHistoryBars + 1));
  expect_files(charts, kSymbols, static_cast<off_t>(chart_bytes(kHistoryBars + 1)));
  return m;
}

bool write_all(int fd, const unsigned char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

// The I/O floor of B1: the charts of B1's final sizes created in the
// storage directory through a temporary file and a rename each.
Measure case_f1(const std::string& dir) {
  const std::string work = dir + "/f1";
  make_dir(work);
  const std::string charts = work + "/" + kStoreDir;
  retire(dir, charts);
  std::vector<unsigned char> bytes(chart_bytes(kFreshDays), 0x5a);
  Measure m = timed([&](Measure&) {
    make_dir(charts);
    const std::string tmp = charts + "/tmpfile";
    for (int s = 0; s < kSymbols; ++s) {
      const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd < 0 || !write_all(fd, bytes.data(), bytes.size()) || ::close(fd) != 0 ||
          ::rename(tmp.c_str(), (charts + "/" + chart_name(s)).c_str()) != 0)
        die("floor F1");
    }
  });
  m.items = kSymbols;
  m.bytes = double(kSymbols) * double(bytes.size());
  return m;
}

// The I/O floor of B2: every chart read whole, written with one more bar
// to a temporary file and renamed over itself.
Measure case_f2(const std::string& dir) {
  const std::string work = dir + "/f2";
  make_dir(work);
  const std::string charts = work + "/" + kStoreDir;
  link_charts(dir, dir + "/pristine", charts);
  std::vector<std::string> names;
  for (int s = 0; s < kSymbols; ++s) names.push_back(charts + "/" + chart_name(s));
  const std::string tmp = charts + "/tmpfile";
  std::vector<unsigned char> buf;
  Measure m = timed([&](Measure&) {
    for (const std::string& name : names) {
      const int in = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
      struct stat st;
      if (in < 0 || ::fstat(in, &st) != 0) die("floor F2 " + name);
      buf.resize(static_cast<std::size_t>(st.st_size) + kBarSize);
      std::size_t got = 0;
      while (got < static_cast<std::size_t>(st.st_size)) {
        const ssize_t r = ::read(in, buf.data() + got, static_cast<std::size_t>(st.st_size) - got);
        if (r <= 0) die("floor F2 read");
        got += static_cast<std::size_t>(r);
      }
      ::close(in);
      std::memcpy(buf.data() + got, buf.data() + got - kBarSize, kBarSize);
      const int out = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (out < 0 || !write_all(out, buf.data(), buf.size()) || ::close(out) != 0 ||
          ::rename(tmp.c_str(), name.c_str()) != 0)
        die("floor F2 write");
    }
  });
  m.items = kSymbols;
  m.bytes = double(kSymbols) * double(chart_bytes(kHistoryBars + 1));
  return m;
}

// Opens the long chart; `after_header` skips its header for the cores that
// start at the first bar.
int open_big(const std::string& dir, bool after_header) {
  const int fd = open_or_die(dir + "/big.M");
  if (after_header && ::lseek(fd, kHeaderSize, SEEK_SET) != static_cast<off_t>(kHeaderSize))
    die("seek");
  return fd;
}

Measure case_b3(const std::string& dir) {
  const std::string work = dir + "/b3";
  make_dir(work);
  const std::string out = work + "/big.txt";
  ::unlink(out.c_str());
  set_builtin_format();
  Result r;
  Measure m = timed([&](Measure&) {
    const int fd = open_big(dir, true);
    ChartTextReport quiet;
    r = chart_to_text(fd, out, ff, "big", quiet);
    ::close(fd);
    if (!r.ok() || r.count != kBigBars) fail("chart to text wrote " + std::to_string(r.count) + " lines");
  });
  m.items = static_cast<double>(r.count + r.passed_over);
  m.bytes = static_cast<double>(file_size(out));
  return m;
}

Measure case_fold(const std::string& dir, FoldKind kind) {
  const std::string work = dir + "/b4";
  make_dir(work);
  const std::string target = work + (kind == FoldKind::kWeekly ? "/weekly.M" : "/monthly.M");
  ::unlink(target.c_str());
  Result r;
  Measure m = timed([&](Measure&) {
    std::FILE* idxf = std::fopen((dir + "/big.idx").c_str(), "r");
    if (idxf == nullptr) die("no index file");
    const IndexFile idx = IndexFile::load(idxf);
    std::fclose(idxf);
    ChartPassProgress quiet;
    r = fold_chart(open_big(dir, false), {kind, idx, target}, quiet);
    if (!r.ok()) fail("fold status " + std::to_string(static_cast<int>(r.status)));
  });
  m.items = kBigBars;
  m.bytes = double(chart_bytes(kBigBars));
  return m;
}

Measure case_compress(const std::string& dir) {
  const std::string work = dir + "/b5";
  make_dir(work);
  const std::string target = work + "/numbered.M";
  ::unlink(target.c_str());
  Measure m = timed([&](Measure&) {
    ChartPassProgress quiet;
    const Result r = compress_chart(open_big(dir, false), {kCompressN, target}, quiet);
    if (!r.ok()) fail("compression status " + std::to_string(static_cast<int>(r.status)));
  });
  m.items = kBigBars;
  m.bytes = double(chart_bytes(kBigBars));
  if (file_size(target) != static_cast<off_t>(chart_bytes(kBigBars / kCompressN))) fail("compressed size");
  return m;
}

Measure case_adjust(const std::string& dir) {
  const std::string work = dir + "/b5";
  make_dir(work);
  const std::string target = work + "/adjusted.M";
  ::unlink(target.c_str());
  Measure m = timed([&](Measure&) {
    ChartPassProgress quiet;
    const Result r = adjust_chart(open_big(dir, false), {'*', kAdjustK, IndexFile{}, target}, quiet);
    if (!r.ok()) fail("adjustment status " + std::to_string(static_cast<int>(r.status)));
  });
  m.items = kBigBars;
  m.bytes = double(chart_bytes(kBigBars));
  if (file_size(target) != static_cast<off_t>(chart_bytes(kBigBars))) fail("adjusted size");
  return m;
}

Measure case_techtools(const std::string& dir) {
  const std::string work = dir + "/b6";
  make_dir(work);
  const std::string target = work + "/tt.M";
  ::unlink(target.c_str());
  Measure m = timed([&](Measure&) {
    const int fd = open_or_die(dir + "/prices.tt");
    TechToolsListener quiet;
    const Result out = techtools_convert(TechToolsRequest{fd, target}, quiet);
    ::close(fd);
    if (out.status != Status::kDone || out.stopped || out.count < 65000) fail("TechTools import");
  });
  m.items = kTechRecords;
  m.bytes = double(file_size(dir + "/prices.tt"));
  return m;
}

// B7: the long chart drawn as a 1200x700 PNG: read, checked for bad bars,
// reduced to one min/max column per pixel, drawn and written.
Measure case_plot(const std::string& dir) {
  const std::string work = dir + "/b7";
  make_dir(work);
  const std::string target = work + "/big.png";
  ::unlink(target.c_str());
  Measure m = timed([&](Measure&) {
    plot::Chart chart;
    chart.name = "big.M";
    if (!plot::read_chart(dir + "/big.M", chart).empty()) fail("plot: cannot read big.M");
    const plot::Options o;
    const plot::Layout l = plot::lay_out(chart, o);
    if (l.shown.size() != static_cast<std::size_t>(kBigBars) || l.style != plot::Style::kLine)
      fail("plot: layout of " + std::to_string(l.shown.size()) + " bars");
    if (const std::string err = plot::draw(chart, l, o, plot::Format::kPng, target); !err.empty())
      fail("plot: " + err);
  });
  m.items = kBigBars;
  m.bytes = double(chart_bytes(kBigBars));
  if (file_size(target) <= 0) fail("plot: no picture");
  return m;
}

// The reference of B8c: `cat` of B2's 4,000 charts to /dev/null.
Measure case_cat(const std::string& dir) {
  std::vector<std::string> names = {"cat"};
  for (int s = 0; s < kSymbols; ++s) names.push_back(dir + "/pristine/" + chart_name(s));
  std::vector<char*> argv;
  for (std::string& a : names) argv.push_back(a.data());
  argv.push_back(nullptr);
  Measure m = timed([&](Measure&) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawnp(&pid, "cat", &fa, nullptr, argv.data(), environ) != 0) die("cannot start cat");
    posix_spawn_file_actions_destroy(&fa);
    int st = 0;
    if (waitpid(pid, &st, 0) != pid || !WIFEXITED(st) || WEXITSTATUS(st) != 0) fail("cat failed");
  });
  m.items = kSymbols;
  m.bytes = double(kSymbols) * double(chart_bytes(kHistoryBars));
  return m;
}

// B8c: `check` of B2's 4,000 charts: every chart read and checked.
Measure case_check(const std::string& dir) {
  long charts = 0, findings = 0;
  Measure m = timed([&](Measure&) {
    std::vector<std::string> files, unlisted;
    list_charts(dir + "/pristine", files, unlisted);
    ChartImage image;
    std::vector<unsigned char> buffer;
    for (const std::string& f : files) {
      if (!load_chart(f, image, buffer).empty()) fail("not a chart: " + f);
      findings += static_cast<long>(check_chart(image, f, CheckLimits{}).size());
      ++charts;
    }
  });
  if (charts != kSymbols) fail("checked " + std::to_string(charts) + " charts");
  m.items = double(charts);
  m.bytes = double(kSymbols) * double(chart_bytes(kHistoryBars));
  return m;
}

// B8a: `adjust --actions` of a file of 4,000 splits (2:1, one per chart,
// in the middle of its history): the file read, the charts found by their
// symbols, each chart rewritten with its copy for an undo, the journal
// written.
Measure case_actions(const std::string& dir) {
  const std::string work = dir + "/b8";
  make_dir(work);
  retire(dir, work + "/" + kStoreDir);
  ::unlink((work + "/" + kJournalName).c_str());
  link_charts(dir, dir + "/pristine", work + "/" + kStoreDir);
  const std::int32_t ex = weekdays(kHistoryStart, kHistoryBars)[kHistoryBars / 2];
  std::string text = "symbol,date,split\n";
  for (int s = 0; s < kSymbols; ++s) text += symbol(s) + "," + std::to_string(ex) + ",2:1\n";
  if (::chdir(work.c_str()) != 0) die("cannot enter " + work);
  long changed = 0;
  Measure m = timed([&](Measure&) {
    const ActionFile actions = read_actions(text);
    const SymbolCharts charts = charts_by_symbol(".");
    std::vector<JournalEntry> journal = read_journal(kJournalName);
    const AppliedActions applied(journal);
    const std::string run = new_run_id();
    for (const CorporateAction& a : actions.actions)
      for (const std::string& c : charts_of_symbol(charts, a.symbol)) {
        if (applied.has(c, a)) continue;
        std::string hash;
        if (!apply_chart_actions(c, {&a, 1}, run, hash).ok()) fail("actions on " + c);
        journal.push_back({run, c, a.text(), a.date, "applied", hash});
        ++changed;
      }
    if (!write_journal(kJournalName, journal)) fail("journal");
  });
  if (changed != kSymbols) fail("adjusted " + std::to_string(changed) + " charts");
  m.items = kSymbols;
  m.bytes = double(kSymbols) * double(chart_bytes(kHistoryBars));
  return m;
}

const std::map<std::string, std::function<Measure(const std::string&)>>& case_table() {
  static const std::map<std::string, std::function<Measure(const std::string&)>> table = {
      {"F1", case_f1},
      {"F2", case_f2},
      {"B1", case_b1},
      {"B1a", [](const std::string& d) { return case_b1_auto(d, kTextName); }},
      {"B1n", [](const std::string& d) { return case_b1_auto(d, kDownloadName); }},
      {"B2", case_b2},
      {"B2L", case_b2_long},
      {"B3", case_b3},
      {"B4w", [](const std::string& d) { return case_fold(d, FoldKind::kWeekly); }},
      {"B4m", [](const std::string& d) { return case_fold(d, FoldKind::kMonthly); }},
      {"B5c", case_compress},
      {"B5a", case_adjust},
      {"B6t", case_techtools},
      {"B6q", case_quotes},
      {"B7", case_plot},
      {"Rc", case_cat},
      {"B8c", case_check},
      {"B8a", case_actions},
  };
  return table;
}

int run_case(const std::string& name, const std::string& dir) {
  auto it = case_table().find(name);
  if (it == case_table().end()) {
    std::fprintf(stderr, "bench_suite: no case %s\n", name.c_str());
    return 2;
  }
  diskfull_reporter = [](const char* what) {
    std::fprintf(stderr, "disk full or file error: %s\n", what ? what : "(temporary file)");
  };
  const Measure m = it->second(dir);
  std::printf("%.6f %.6f %.0f %.0f %.6f %.0f\n", m.seconds, m.cpu, m.items, m.bytes, m.flush, m.written);
  return 0;
}

// ---- The driver ------------------------------------------------------------------

struct Sample {
  double seconds = 0, cpu = 0, items = 0, bytes = 0, flush = 0, written = 0;
  long peak_kb = 0;
};

// Runs argv with its standard output in a pipe; wall time from the spawn
// to the end, peak memory and CPU time from the child's resource usage.
bool spawn(const std::vector<std::string>& args, std::string& output, Sample& s) {
  int pipefd[2];
  if (::pipe(pipefd) != 0) return false;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, pipefd[1], 1);
  posix_spawn_file_actions_addclose(&fa, pipefd[0]);
  posix_spawn_file_actions_addclose(&fa, pipefd[1]);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  const double t0 = now();
  const int err = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  ::close(pipefd[1]);
  if (err != 0) {
    ::close(pipefd[0]);
    errno = err;
    return false;
  }
  output.clear();
  char buf[4096];
  ssize_t got;
  while ((got = ::read(pipefd[0], buf, sizeof buf)) > 0 || (got < 0 && errno == EINTR))
    if (got > 0) output.append(buf, static_cast<std::size_t>(got));
  ::close(pipefd[0]);
  int status = 0;
  rusage ru{};
  while (::wait4(pid, &status, 0, &ru) < 0 && errno == EINTR) {
  }
  s.seconds = now() - t0;
  s.cpu = double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
          double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  s.peak_kb = ru.ru_maxrss;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct Row {
  std::string name, what, unit;
  std::vector<Sample> samples;
  Sample median() const {
    auto mid = [&](auto field) {
      std::vector<double> v;
      for (const Sample& s : samples) v.push_back(field(s));
      std::sort(v.begin(), v.end());
      return v.empty() ? 0.0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    };
    Sample m;
    m.seconds = mid([](const Sample& s) { return s.seconds; });
    m.cpu = mid([](const Sample& s) { return s.cpu; });
    m.flush = mid([](const Sample& s) { return s.flush; });
    m.written = mid([](const Sample& s) { return s.written; });
    m.items = samples.empty() ? 0 : samples.front().items;
    m.bytes = samples.empty() ? 0 : samples.front().bytes;
    for (const Sample& s : samples) m.peak_kb = std::max(m.peak_kb, s.peak_kb);
    return m;
  }
};

std::string human(double v) {
  char buf[32];
  if (v >= 1e6)
    std::snprintf(buf, sizeof buf, "%.2fM", v / 1e6);
  else if (v >= 1e3)
    std::snprintf(buf, sizeof buf, "%.1fk", v / 1e3);
  else
    std::snprintf(buf, sizeof buf, "%.0f", v);
  return buf;
}

int run_all(const std::string& self, const std::string& dir, int runs) {
  const std::string text = dir + "/" + kTextName;
  struct CaseInfo {
    const char* name;
    const char* what;
    const char* unit;
  };
  const CaseInfo known[] = {
      {"R", "mawk sum of B1's text", "lines"},
      {"F1", "floor: create B1's 4,000 charts", "charts"},
      {"F2", "floor: rewrite 4,000 charts + 1 bar", "charts"},
      {"B1", "text to chart, 1,000,000 lines", "lines"},
      {"B1a", "the same with --auto", "lines"},
      {"B1n", "--auto, newest first, $ and 1,234", "lines"},
      {"B2", "daily update of 4,000 charts", "lines"},
      {"B2L", "the same, charts of 25,000 bars", "lines"},
      {"B6q", "quick quotes into 4,000 charts", "records"},
      {"B3", "chart to text + sort, 700,000 bars", "bars"},
      {"B4w", "weekly fold, 100-line index", "bars"},
      {"B4m", "monthly fold, 100-line index", "bars"},
      {"B5c", "compression N=5", "bars"},
      {"B5a", "adjustment * 1.5", "bars"},
      {"B6t", "TechTools import, 700,000 records", "records"},
      {"B7", "plot 700,000 bars to a 1200x700 PNG", "bars"},
      {"Rc", "cat B2's 4,000 charts to /dev/null", "charts"},
      {"B8c", "check of B2's 4,000 charts", "charts"},
      {"B8a", "adjust --actions, 4,000 splits", "charts"},
  };
  // BENCH_ONLY=F2,Rc,B8c runs only the cases named (and R when named).
  const char* only = std::getenv("BENCH_ONLY");
  std::vector<Row> rows;
  for (const CaseInfo& sp : known)
    if (!only || ("," + std::string(only) + ",").find("," + std::string(sp.name) + ",") != std::string::npos)
      rows.push_back(Row{sp.name, sp.what, sp.unit, {}});

  for (int r = 0; r < runs; ++r) {
    std::fprintf(stderr, "round %d of %d:", r + 1, runs);
    for (Row& row : rows) {
      std::fprintf(stderr, " %s", row.name.c_str());
      std::string out;
      Sample s;
      if (row.name == "R") {
        settle();
        const std::vector<std::string> args = {
            "mawk", "-F,", "{o+=$3;h+=$4;l+=$5;c+=$6;v+=$7;i+=$8} END{print o,h,l,c,v,i}", text};
        if (!spawn(args, out, s) || out.empty()) die("mawk failed");
        s.items = double(kSymbols) * kFreshDays;
        s.bytes = double(file_size(text));
      } else {
        Sample outer;
        if (!spawn({self, "case", row.name, dir}, out, outer)) {
          errno = 0;
          die("case " + row.name + " failed");
        }
        if (std::sscanf(out.c_str(), "%lf %lf %lf %lf %lf %lf", &s.seconds, &s.cpu, &s.items, &s.bytes,
                        &s.flush, &s.written) != 6) {
          errno = 0;
          die("case " + row.name + " printed no measure");
        }
        s.peak_kb = outer.peak_kb;
      }
      row.samples.push_back(s);
    }
    std::fprintf(stderr, "\n");
    if (std::getenv("BENCH_VERBOSE") != nullptr) {
      for (const Row& row : rows)
        std::fprintf(stderr, "  %-4s wall %.3f cpu %.3f peak %.1f MB\n", row.name.c_str(), row.samples.back().seconds,
                     row.samples.back().cpu, double(row.samples.back().peak_kb) / 1024.0);
    }
  }

  std::map<std::string, Sample> med;
  for (const Row& row : rows) med[row.name] = row.median();
  const double R = med["R"].seconds, F1 = med["F1"].seconds, F2 = med["F2"].seconds;
  med["s"].seconds = 1;  // an absolute target: one second

  struct Target {
    const char* ref;
    double factor;
  };
  const std::map<std::string, std::vector<Target>> targets = {
      {"B1", {{"R", 0.8}, {"F1", 2.0}}}, {"B2", {{"F2", 0.15}}},  {"B6q", {{"F2", 0.15}}},
      {"B2L", {{"B2", 1.3}}},            {"B1a", {{"B1", 1.1}}},  {"B1n", {{"B1", 1.5}}},
      {"B3", {{"R", 0.6}}},              {"B4w", {{"R", 0.2}}},  {"B4m", {{"R", 0.2}}},
      {"B5c", {{"R", 0.2}}},             {"B5a", {{"R", 0.2}}},  {"B6t", {{"R", 0.2}}},
      {"B7", {{"s", 1.0}}},
      {"B8c", {{"Rc", 1.5}}},            {"B8a", {{"F2", 1.5}}},
  };
  constexpr double kPeakLimitMb = 100;
  // Bytes written per new bar by the updates (a bar is 28 bytes, the
  // header date 4).
  constexpr double kWrittenPerBar = 64;

  std::printf("median of %d runs; ratios are of median wall times measured in this run\n\n", runs);
  std::printf("%-4s %-36s %8s %7s %7s %10s %7s %7s %9s %6s %6s  %s\n", "case", "what", "wall s", "cpu s",
              "flush s", "per s", "MB/s", "peak MB", "wr B/item", "x R", "x F", "targets");
  int met = 0, missed = 0;
  for (const Row& row : rows) {
    const Sample m = med[row.name];
    const double peak_mb = double(m.peak_kb) / 1024.0;
    const double floor = row.name == "B1"                                          ? F1
                         : (row.name == "B2" || row.name == "B6q" || row.name == "B8a") ? F2
                         : row.name == "B8c"                                         ? med["Rc"].seconds
                                                                                     : 0;
    std::string verdicts;
    auto it = targets.find(row.name);
    if (it != targets.end()) {
      for (const Target& t : it->second) {
        const double ref = med[t.ref].seconds;
        const bool ok = m.seconds <= t.factor * ref;
        (ok ? met : missed)++;
        char buf[64];
        std::snprintf(buf, sizeof buf, "%s<=%.1f%s %s", verdicts.empty() ? "" : " ", t.factor, t.ref,
                      ok ? "met" : "MISSED");
        verdicts += buf;
      }
      const bool ok = peak_mb <= kPeakLimitMb;
      (ok ? met : missed)++;
      verdicts += std::string(" mem ") + (ok ? "met" : "MISSED");
      if (row.name == "B2" || row.name == "B2L" || row.name == "B6q") {
        const bool small = m.written / m.items <= kWrittenPerBar;
        (small ? met : missed)++;
        verdicts += std::string(" bytes ") + (small ? "met" : "MISSED");
      }
    }
    char xr[16] = "", xf[16] = "";
    if (row.name != "R" && R > 0) std::snprintf(xr, sizeof xr, "%.2f", m.seconds / R);
    if (floor > 0) std::snprintf(xf, sizeof xf, "%.2f", m.seconds / floor);
    std::printf("%-4s %-36s %8.3f %7.3f %7.3f %10s %7.1f %7.1f %9.0f %6s %6s  %s\n", row.name.c_str(),
                row.what.c_str(), m.seconds, m.cpu, m.flush,
                (human(m.items / m.seconds) + " " + row.unit).c_str(), m.bytes / 1e6 / m.seconds, peak_mb,
                m.written / m.items, xr, xf, verdicts.c_str());
  }
  std::printf("\n%d targets met, %d missed\n", met, missed);
  return missed == 0 ? 0 : 1;
}

std::string self_path(const char* argv0) {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n > 0) return std::string(buf, static_cast<std::size_t>(n));
  return argv0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  // The cases change directory: the folder is used by its absolute name.
  auto folder = [&](int i) { return std::filesystem::absolute(argv[i]).lexically_normal().string(); };
  if (mode == "gen" && argc == 3) return gen(folder(2));
  if (mode == "gen" && argc == 4 && std::strcmp(argv[3], "texts") == 0) {  // B1's texts alone
    make_dir(folder(2));
    gen_fresh_text(folder(2));
    gen_download_text(folder(2));
    return 0;
  }
  if (mode == "gen" && argc == 4 && std::strcmp(argv[3], "big") == 0) {  // the long chart alone
    make_dir(folder(2));
    gen_big_chart(folder(2));
    return 0;
  }
  if (mode == "gen" && argc == 4 && std::strcmp(argv[3], "history") == 0) {  // B2's charts alone
    make_dir(folder(2));
    gen_history(folder(2));
    return 0;
  }
  if (mode == "case" && argc == 4) return run_case(argv[2], folder(3));
  if (mode == "run" && (argc == 3 || argc == 4)) {
    const int runs = argc == 4 ? std::atoi(argv[3]) : 5;
    return run_all(self_path(argv[0]), folder(2), runs > 0 ? runs : 5);
  }
  std::fprintf(stderr,
               "usage: %s gen DIR [big] | case NAME DIR | run DIR [RUNS]\n"
               "  cases: F1 F2 B1 B1a B1n B2 B2L B3 B4w B4m B5c B5a B6t B6q B7 Rc B8c B8a (R is mawk, run by `run`)\n",
               argv[0]);
  return 2;
}
