// morva-convert: the window's conversions from the command line.  Shared
// pieces of the subcommands: the options every subcommand has, the run's
// environment (data directory, format settings), the sources of a command
// (lists of names included), the progress bar, the log of skipped lines and
// the exit status.
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "chartdata/bar.h"
#include "chartdata/bar_checks.h"
#include "tools/morva-convert/batch_backup.h"
#include "convert/format.h"
#include "convert/text_layout.h"

namespace mc {

// Exit statuses.
enum Exit : int { kOk = 0, kSkipped = 1, kUsage = 2, kFileFailure = 3 };

// Options that every subcommand takes (some only where they mean something).
struct CommonOptions {
  std::string data_dir;   // --data-dir
  std::string start_dir;  // --start-dir
  std::string errors;     // --errors FILE
  bool dry_run = false;   // --dry-run
  bool backup = false;    // --backup
  bool quiet = false;     // --quiet
  // Format settings; empty = from the converter defaults file.
  std::string order, separator, date_format, start;
  bool decimal_comma = false;  // --decimal-comma
};

// What a subcommand adds: its own options and the function that runs it.
struct Command {
  virtual ~Command() = default;
  virtual int run() = 0;
  CLI::App* app = nullptr;  // the subcommand's parser
};

// Registration of the subcommands (one per file).
std::unique_ptr<Command> add_text_to_chart(CLI::App& app, CommonOptions& common);
std::unique_ptr<Command> add_investorlink(CLI::App& app, CommonOptions& common);
std::unique_ptr<Command> add_chart_to_text(CLI::App& app, CommonOptions& common);
std::unique_ptr<Command> add_weekly(CLI::App& app, CommonOptions& common, bool monthly);
std::unique_ptr<Command> add_compress(CLI::App& app, CommonOptions& common);
std::unique_ptr<Command> add_adjust(CLI::App& app, CommonOptions& common);
std::unique_ptr<Command> add_techtools(CLI::App& app, CommonOptions& common);
std::unique_ptr<Command> add_quickquote(CLI::App& app, CommonOptions& common);
std::unique_ptr<Command> add_show(CLI::App& app, CommonOptions& common);
std::unique_ptr<Command> add_plot(CLI::App& app, CommonOptions& common);  // morva-plot
std::unique_ptr<Command> add_detect(CLI::App& app, CommonOptions& common);
std::unique_ptr<Command> add_check(CLI::App& app, CommonOptions& common);
std::unique_ptr<Command> add_repair(CLI::App& app, CommonOptions& common);
// The subcommands of the program built: every one in morva-convert, `plot`
// alone in the picture program.  `args`: the words after the program's name.
void add_commands(CLI::App& app, CommonOptions& common, std::vector<std::unique_ptr<Command>>& commands,
                  const std::vector<std::string>& args);

// Option groups for a subcommand.
void add_location_options(CLI::App* sub, CommonOptions& common);  // --data-dir, --start-dir
void add_writing_options(CLI::App* sub, CommonOptions& common);   // --dry-run, --backup, --quiet
void add_errors_option(CLI::App* sub, CommonOptions& common);     // --errors
void add_format_options(CLI::App* sub, CommonOptions& common);    // --order ... --start

void add_decimal_comma_option(CLI::App* sub, CommonOptions& common);  // --decimal-comma

// Layout detection under the options given: they are what detection takes
// as known, and they win over what it finds.
LayoutHints layout_hints(const CommonOptions& common, const FormatSettings& f);
void apply_layout(const TextLayout& layout, const CommonOptions& common, FormatSettings& f);

// A usage error found after the options were parsed: one line, status 2.
struct UsageError {
  std::string message;
};

// ---- The run ------------------------------------------------------------

// One line on standard error, prefixed with the program's name.
void complain(const std::string& message);

// SIGINT, SIGTERM and SIGHUP stop a run where the window's ESC would: between
// two charts of a text or quote file and between two sources; the file being
// written is finished first.  A second signal ends the program at once.
void catch_signals();
bool interrupted();

// A file failure: one line, and the status becomes 3.
class Run {
 public:
  explicit Run(CommonOptions& common) : common_(common) {}

  // Finds the start and data directories, loads the format settings
  // (defaults file, then options) and changes into the data directory.
  // Throws UsageError for bad options; returns false after complaining
  // when the data directory cannot be entered.
  bool prepare(bool format_options);

  const CommonOptions& options() const { return common_; }
  const FormatSettings& format() const { return format_; }
  // The window's saved settings were read (their order is used unless --order is given).
  bool saved_settings() const { return saved_settings_; }
  const std::string& data_dir() const { return data_dir_; }
  bool dry_run() const { return common_.dry_run; }

  // Results.
  void skipped(long n = 1) {
    if (n > 0 && status_ < kSkipped) status_ = kSkipped;
  }
  void failed(const std::string& message) {
    complain(message);
    status_ = kFileFailure;
  }
  int status() const { return status_; }
  // A line on standard output unless --quiet.
  void note(const std::string& text) const;

  // The log of skipped lines (--errors): "file:line: reason: text".
  bool open_log();
  void log(const std::string& file, long line, const std::string& reason, const std::string& text);
  bool logging() const { return log_.is_open(); }
  // An import stored bars that break the bar rules: a line on standard
  // error ("SOURCE: 2 bars break the bar rules ..."), the first few in the
  // log, and status 1.  Nothing when none did.
  void bars_broken(const std::string& source, const BarTally& t);
  // An import refused `source` because most of its bars break the bar
  // rules: "SOURCE is not WHAT: 5 of its 8 UNITS break the bar rules (...)",
  // the first few in the log, and status 3.
  void mostly_broken(const std::string& source, const std::string& what, const char* units,
                     const BarTally& t);

  BatchBackups& backups() { return backups_; }
  // Keeps a copy of `path` when --backup is on; false (after complaining)
  // when the copy could not be made.
  bool keep(const std::string& path);
  // The file at `path` was (or was not) replaced.
  void kept(const std::string& path, bool replaced);

 private:
  CommonOptions& common_;
  FormatSettings format_{};
  bool saved_settings_ = false;
  std::string data_dir_;
  std::string errors_path_;
  std::ofstream log_;
  BatchBackups backups_;
  int status_ = kOk;
};

// ---- Sources ------------------------------------------------------------

// One file to work on: its name as given (or as a list holds it) and the
// list it came from ("" when none).  In the window's terms the name is
// exclambuf and the list (or the name itself) is firstname.
struct Source {
  std::string name;
  std::string list;
  std::string path;  // where it is opened: `name` made absolute for text sources
  const std::string& firstname() const { return list.empty() ? name : list; }
  const std::string& where() const { return path.empty() ? name : path; }
};

// Expands the source arguments: a name holding '!' is a list of names, read
// up to an empty line or one beginning with '^' (lines of at most 79
// characters).  Every file must exist and be readable, so that nothing is
// written when one is missing: throws FileProblem otherwise.
struct FileProblem {
  std::string message;
};
// With `from_cwd` (text sources) a relative name is taken from the
// directory the program was started in, and a list's entries from the
// list's own directory; otherwise (charts) from the data directory.
std::vector<Source> expand_sources(const std::vector<std::string>& args, bool lists,
                                   bool from_cwd = false);

// A name relative to the current directory (the data directory once the
// run is prepared) made absolute, for messages.
std::string absolute_here(const std::string& path);
// A relative name of a file the run writes as text, taken from the
// directory the program was started in (where text inputs come from); the
// name itself when that is the current directory.
std::string from_start_dir(const std::string& path);

// Opens a source as the window's file chooser does: an old chart is first
// brought to four-digit years (not in a dry run).  -1 when it cannot be
// opened.
int open_source(const std::string& name, bool dry_run);
// Opens a text, quote or TechTools source, which is only ever read.
int open_text_source(const std::string& name);

// ---- Output -------------------------------------------------------------

// The heading and the text of one bar as `show` and dry runs print them.
std::string bar_heading();
std::string bar_text(const BarRecord& b);
// Prints up to `limit` bars with a heading, indented by two blanks.
void print_bars(const std::vector<BarRecord>& bars, std::size_t limit);
inline constexpr std::size_t kDryRunBars = 10;

// Reads the bars of a chart file (after its header); false when the file
// cannot be read or is shorter than a header.
bool read_chart(const std::string& path, unsigned char header[kHeaderSize], std::vector<BarRecord>& bars,
                std::size_t* trailing = nullptr);

// ---- Progress -------------------------------------------------------------

// A one-line progress bar on standard error, drawn only when standard error
// is a terminal and --quiet is off; redrawn at most ten times a second.
class Progress {
 public:
  Progress(const std::string& label, bool quiet);
  ~Progress();
  void show(double fraction);
  void done();

 private:
  std::string label_;
  bool on_ = false;
  long long last_ms_ = -1;
  int last_percent_ = -1;
};

// Size of an open file (0 when unknown).
long long file_size(int fd);
// The target of a chart-to-chart command for one source: `to` itself for a
// single source (inside it when it is a directory), else `to` must be a
// directory and the target is that directory and `file`.
std::string target_for(const std::string& to, const std::string& file, bool several);
// A file name's part after its last '/'.
std::string base_name(const std::string& path);

}  // namespace mc
