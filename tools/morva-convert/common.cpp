// Shared pieces of morva-convert's subcommands.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <chrono>
#include <cmath>
#include <algorithm>
#include <cstring>
#include <iostream>

#include "chartdata/chartfile.h"
#include "chartdata/safe_replace.h"
#include "chartdata/linereader.h"
#include "cli.h"
#include "tools/morva-convert/batch_env.h"

namespace mc {

namespace {

bool is_directory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The directory the program was started in, taken before the data
// directory is entered.
std::string g_invocation_dir;

std::string current_dir() {
  char buf[4096];
  return ::getcwd(buf, sizeof buf) ? std::string(buf) : std::string();
}

std::string absolute(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  const std::string dir = g_invocation_dir.empty() ? current_dir() : g_invocation_dir;
  if (dir.empty()) return path;
  return dir + "/" + path;
}

std::string dir_part(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : path.substr(0, slash);
}

// Why a file cannot be used as a source; "" when it can.
std::string unreadable(const std::string& name) {
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0) return std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return "it is a directory";
  if (::access(name.c_str(), R_OK) != 0) return std::strerror(errno);
  return "";
}

}  // namespace

std::string from_start_dir(const std::string& path) {
  if (path.empty() || path[0] == '/' || g_invocation_dir.empty() || g_invocation_dir == current_dir()) return path;
  return g_invocation_dir + "/" + path;
}

std::string absolute_here(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  const std::string dir = current_dir();
  return dir.empty() ? path : dir + "/" + path;
}

namespace {
volatile std::sig_atomic_t g_signal = 0;
extern "C" void on_signal(int sig) { g_signal = sig; }
}  // namespace

void catch_signals() {
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESETHAND;  // the next one takes its default course
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
}

bool interrupted() { return g_signal != 0; }

void complain(const std::string& message) {
  std::fflush(stdout);
  std::cerr << "morva-convert: " << message << std::endl;
}

// ---- Options --------------------------------------------------------------

void add_location_options(CLI::App* sub, CommonOptions& c) {
  sub->add_option("--data-dir", c.data_dir,
                  "Directory of the charts; relative names are taken from here "
                  "(default: the data directory of the setup file)")
      ->type_name("DIR");
  sub->add_option("--start-dir", c.start_dir,
                  "Directory of setup.mrv and morvautl.dat (default: as the window finds it)")
      ->type_name("DIR");
}

void add_writing_options(CLI::App* sub, CommonOptions& c) {
  sub->add_flag("--dry-run,-n", c.dry_run, "Read and show the first bars; write nothing");
  sub->add_flag("--backup", c.backup, "Keep the previous version of every file replaced as NAME.bak");
  sub->add_flag("--quiet,-q", c.quiet, "No progress bar and no summary lines");
}

void add_errors_option(CLI::App* sub, CommonOptions& c) {
  sub->add_option("--errors", c.errors, "Log every skipped line to FILE: file, line number, reason and text")
      ->type_name("FILE");
}

void add_format_options(CLI::App* sub, CommonOptions& c) {
  sub->add_option("--order", c.order, "Field order, up to 12 of S D O H L C V I M (e.g. DOHLCVI)")
      ->type_name("LETTERS");
  sub->add_option("--separator", c.separator, "Separator between fields: one character, space or tab")
      ->type_name("CHAR");
  sub->add_option("--date-format", c.date_format,
                  "Dates: yyyymmdd (also reads yyyy-mm-dd), ddmonyy, mm/dd/yy, yymmdd or dd.mm.yyyy (0-4)")
      ->type_name("FORMAT");
  sub->add_option("--start", c.start, "First date to convert, yyyymmdd")->type_name("YYYYMMDD");
}

void add_decimal_comma_option(CLI::App* sub, CommonOptions& c) {
  sub->add_flag("--decimal-comma", c.decimal_comma,
                "Read ',' in a price as a decimal point (1,25 is 1.25); the separator must not be ','");
}

LayoutHints layout_hints(const CommonOptions& c, const FormatSettings& f) {
  LayoutHints h;
  if (!c.separator.empty()) h.sep = f.sep;
  if (!c.date_format.empty()) h.datecode = f.datecode;
  h.order.assign(f.order, sizeof f.order);
  while (!h.order.empty() && h.order.back() == ' ') h.order.pop_back();
  return h;
}

void apply_layout(const TextLayout& layout, const CommonOptions& c, FormatSettings& f) {
  if (layout.rewrite) {
    // The text is read in the converter's plain form (ShapeReader).
    std::memset(f.order, ' ', sizeof f.order);
    const char* order = plain_order(layout);
    std::memcpy(f.order, order, std::strlen(order));
    f.sep = ',';
    f.datecode = 0;
    return;
  }
  if (c.order.empty() && !layout.order.empty()) {
    std::memset(f.order, ' ', sizeof f.order);
    std::memcpy(f.order, layout.order.data(), std::min(layout.order.size(), sizeof f.order));
  }
  if (c.separator.empty()) f.sep = layout.sep;
  if (c.date_format.empty()) f.datecode = static_cast<char>(layout.datecode);
}

// ---- The run ------------------------------------------------------------------

bool Run::prepare(bool format_options) {
  if (g_invocation_dir.empty()) g_invocation_dir = current_dir();
  // The log of skipped lines is named from where the program was started
  // and is made anew first, so that a refused run leaves no old log.
  errors_path_ = absolute(common_.errors);
  if (!errors_path_.empty() && !log_.is_open()) {
    log_.open(errors_path_, std::ios::out | std::ios::trunc);
    if (!log_.is_open()) {
      failed("cannot write the log " + errors_path_ + ": " + std::strerror(errno));
      return false;
    }
  }
  if (!common_.start_dir.empty() && !is_directory(common_.start_dir))
    throw UsageError{"--start-dir " + absolute(common_.start_dir) + " is not a directory"};
  const std::string start = common_.start_dir.empty() ? batch_start_dir() : common_.start_dir;

  // Built-in settings, then the window's saved ones, then the options.
  format_ = builtin_format();
  saved_settings_ = batch_load_defaults(start, format_) != 0;
  if (format_options) {
    if (!common_.order.empty() && !parse_order_option(common_.order, format_.order))
      throw UsageError{"--order '" + common_.order + "': use up to 12 of the letters S D O H L C V I M"};
    if (!common_.separator.empty() && !parse_separator_option(common_.separator, &format_.sep))
      throw UsageError{"--separator '" + common_.separator + "': give one character, space or tab"};
    if (!common_.date_format.empty() && !parse_date_format_option(common_.date_format, &format_.datecode))
      throw UsageError{"--date-format '" + common_.date_format +
                       "': use yyyymmdd, ddmonyy, mm/dd/yy, yymmdd or dd.mm.yyyy (or 0-4)"};
    if (!common_.start.empty() && !parse_start_option(common_.start, format_.startdate))
      throw UsageError{"--start '" + common_.start + "': give a date of eight digits, yyyymmdd"};
  }
  format_.nul1 = 0;
  format_.nul2 = 0;

  std::string dir;
  if (!common_.data_dir.empty()) {
    dir = common_.data_dir;
    if (!is_directory(dir)) {
      failed("data directory " + dir + " does not exist");
      return false;
    }
  } else if (batch_setup_data_dir(start, dir)) {
    if (dir.empty()) {
      dir = start;  // the window then works in its start directory
    } else {
      const std::string found = batch_existing_data_dir(dir);
      if (found.empty()) {
        failed("data directory " + dir + " (named in " + start + "/setup.mrv) does not exist");
        return false;
      }
      dir = found;
    }
  } else {
    dir = ".";  // no setup file: the current directory
  }
  if (::chdir(dir.c_str()) != 0) {
    failed("cannot enter the data directory " + dir + ": " + std::strerror(errno));
    return false;
  }
  g_link_root = ".";  // (resolved when a link is met)
  {
    char here[PATH_MAX];
    if (::getcwd(here, sizeof here) != nullptr) g_link_root = here;
  }
  char buf[4096];
  data_dir_ = ::getcwd(buf, sizeof buf) ? buf : dir;
  return true;
}

void Run::note(const std::string& text) const {
  if (!common_.quiet) std::cout << text << '\n';
}

bool Run::open_log() {
  if (errors_path_.empty() || log_.is_open()) return true;
  log_.open(errors_path_, std::ios::out | std::ios::trunc);
  if (!log_.is_open()) {
    failed("cannot write the log " + errors_path_ + ": " + std::strerror(errno));
    return false;
  }
  return true;
}

void Run::log(const std::string& file, long line, const std::string& reason, const std::string& text) {
  if (!log_.is_open()) return;
  log_ << file << ':' << line << ": " << reason << ": " << text << '\n';
  log_.flush();
}

namespace {

// The first broken bars of an import as log lines: where in the source,
// the rules they break, and chart and date.
void log_broken(Run& run, const std::string& source, const BarTally& t, const std::string& reason) {
  for (const BarTally::Example& e : t.first())
    run.log(source, e.at, reason + " (" + bar_fault_text(e.faults) + ")",
            (e.chart.empty() ? "" : e.chart + " ") + std::to_string(e.date));
}

}  // namespace

void Run::bars_broken(const std::string& source, const BarTally& t) {
  if (t.broken() == 0) return;
  complain(source + ": " + t.summary());
  log_broken(*this, source, t, "stored a bar that breaks the bar rules");
  skipped();
}

void Run::mostly_broken(const std::string& source, const std::string& what, const char* units,
                        const BarTally& t) {
  std::string kinds;
  for (unsigned bit = 1; bit <= kBarNotCalendar; bit <<= 1)
    if (const std::size_t n = (bit & kBarValueFaults) ? t.with(static_cast<BarFault>(bit)) : 0; n > 0)
      kinds += (kinds.empty() ? " (" : ", ") + std::to_string(n) + " " + bar_fault_text(bit);
  if (!kinds.empty()) kinds += ")";
  log_broken(*this, source, t, "breaks the bar rules");
  failed(source + " is not " + what + ": " + std::to_string(t.broken()) + " of its " +
         std::to_string(t.checked()) + " " + units + " break the bar rules" + kinds + "; nothing stored");
}

bool Run::keep(const std::string& path) {
  if (!common_.backup || common_.dry_run) return true;
  if (backups_.prepare(path) == 0) {
    failed("cannot keep a copy of " + path + "; it was left as it was");
    return false;
  }
  return true;
}

void Run::kept(const std::string& path, bool replaced) {
  if (!common_.backup || common_.dry_run) return;
  if (!backups_.settle(path, replaced))
    failed(path + " was replaced, but its previous version could not be named " + backup_name(path));
}

// ---- Sources ------------------------------------------------------------------

std::vector<Source> expand_sources(const std::vector<std::string>& args, bool lists, bool from_cwd) {
  // The full path of a name, for opening and for messages.
  auto full = [&](const std::string& name, const std::string& dir) {
    if (name.empty() || name[0] == '/') return name;
    if (!from_cwd) return absolute_here(name);
    return dir.empty() ? absolute(name) : dir + "/" + name;
  };
  std::vector<Source> out;
  for (const std::string& arg : args) {
    const std::string path = full(arg, "");
    if (std::string why = unreadable(path); !why.empty()) {
      std::string hint;
      if (from_cwd && arg[0] != '/' && unreadable(arg).empty())
        hint = " (the data directory holds " + arg + ": text files are named from the current directory)";
      throw FileProblem{"cannot read " + path + ": " + why + hint};
    }
    if (!lists || arg.find('!') == std::string::npos) {
      out.push_back({arg, "", from_cwd ? path : ""});
      continue;
    }
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) throw FileProblem{"cannot read the list " + path + ": " + std::strerror(errno)};
    char line[80];
    std::vector<Source> entries;
    const std::string list_dir = dir_part(path);
    while (mygts(line, 80, fd) && line[0] && line[0] != '^')
      entries.push_back({line, arg, from_cwd ? full(line, list_dir) : ""});
    linereader_close(fd);
    for (const Source& s : entries)
      if (std::string why = unreadable(s.where()); !why.empty())
        throw FileProblem{"list " + path + ": cannot read " + full(s.name, list_dir) + ": " + why};
    out.insert(out.end(), entries.begin(), entries.end());
  }
  return out;
}

int open_source(const std::string& name, bool dry_run) {
  if (!dry_run) Y2000_upgrade(name.c_str());
  return open_regular_for_reading(name);
}

int open_text_source(const std::string& name) { return open_regular_for_reading(name); }

// ---- Output ---------------------------------------------------------------------

namespace {

std::string price_text(float v) {
  char buf[48];
  if (std::isfinite(v) && std::fabs(v) < 1e9f)
    std::snprintf(buf, sizeof buf, "%12.4f", static_cast<double>(v));
  else
    std::snprintf(buf, sizeof buf, "%12.5g", static_cast<double>(v));
  return buf;
}

}  // namespace

std::string bar_heading() {
  char buf[120];
  std::snprintf(buf, sizeof buf, "%8s %12s %12s %12s %12s %11s %11s", "date", "open", "high", "low", "close",
                "volume", "openint");
  return buf;
}

std::string bar_text(const BarRecord& b) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%8d", b.date);
  std::string s = buf;
  for (float v : {b.open, b.high, b.low, b.close}) s += " " + price_text(v);
  std::snprintf(buf, sizeof buf, " %11d %11d", b.volume, b.openint);
  return s + buf;
}

void print_bars(const std::vector<BarRecord>& bars, std::size_t limit) {
  if (bars.empty()) return;
  std::cout << "  " << bar_heading() << '\n';
  for (std::size_t i = 0; i < bars.size() && i < limit; ++i) std::cout << "  " << bar_text(bars[i]) << '\n';
  if (bars.size() > limit) std::cout << "  ... " << bars.size() - limit << " more\n";
}

bool read_chart(const std::string& path, unsigned char header[kHeaderSize], std::vector<BarRecord>& bars,
                std::size_t* trailing) {
  // Under the chart's lock: never a chart half-way through a store.
  ChartLock reading(path, ChartLock::Mode::kRead);
  if (!reading.held()) throw FileProblem{"cannot read " + path + " now; it was not read"};
  std::FILE* f = fopen_regular(path);
  if (!f) return false;
  bool ok = std::fread(header, 1, kHeaderSize, f) == kHeaderSize;
  bars.clear();
  unsigned char rec[kBarSize];
  std::size_t got = 0;
  while (ok && (got = std::fread(rec, 1, kBarSize, f)) == kBarSize) bars.push_back(decode_bar(rec));
  if (std::ferror(f)) ok = false;
  std::fclose(f);
  if (trailing) *trailing = got == kBarSize ? 0 : got;
  return ok;
}

// ---- Progress ---------------------------------------------------------------------

namespace {
long long now_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
}  // namespace

Progress::Progress(const std::string& label, bool quiet) : label_(label), on_(!quiet && ::isatty(2)) {}

Progress::~Progress() { done(); }

void Progress::show(double fraction) {
  if (!on_) return;
  if (fraction < 0) fraction = 0;
  if (fraction > 1) fraction = 1;
  const int percent = static_cast<int>(fraction * 100);
  const long long t = now_ms();
  if (percent == last_percent_ || (last_ms_ >= 0 && t - last_ms_ < 100)) return;
  last_ms_ = t;
  last_percent_ = percent;
  constexpr int kWidth = 30;
  const int filled = static_cast<int>(fraction * kWidth);
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kWidth - filled), '.');
  std::fprintf(stderr, "\r%-24.24s [%s] %3d%%", label_.c_str(), bar.c_str(), percent);
  std::fflush(stderr);
}

void Progress::done() {
  if (!on_ || last_percent_ < 0) return;
  std::fprintf(stderr, "\r%*s\r", 24 + 3 + 30 + 5, "");
  std::fflush(stderr);
  last_percent_ = -1;
  last_ms_ = -1;
}

long long file_size(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

std::string base_name(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string target_for(const std::string& to, const std::string& file, bool several) {
  const bool dir = is_directory(to);
  if (several && !dir)
    throw UsageError{"--to " + to + ": with several sources --to must name an existing directory"};
  if (!dir) return to;
  return (to.back() == '/' ? to : to + "/") + file;
}

}  // namespace mc
