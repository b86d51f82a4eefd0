// chart-to-text, weekly, monthly, compress and adjust: commands whose
// source is a chart.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>

#include "chartdata/chartfile.h"
#include "chartdata/safe_replace.h"
#include "cli.h"
#include "convert/adjust.h"
#include "convert/chart_output.h"
#include "convert/chart_to_text.h"
#include "convert/compress.h"
#include "convert/index_file.h"
#include "convert/text_to_chart.h"
#include "convert/weekly_monthly.h"

namespace mc {

namespace {

bool same_file(const std::string& a, const std::string& b) {
  struct stat x {
  }, y{};
  if (::stat(a.c_str(), &x) != 0 || ::stat(b.c_str(), &y) != 0) return false;
  return x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// Progress of a pass over a chart open as fd: how far the reader is.
class PassProgress : public ChartPassProgress {
 public:
  PassProgress(Progress& bar, int fd) : bar_(bar), fd_(fd), size_(file_size(fd)) {}
  void progress(float) override {
    if (size_ <= 0) return;
    const off_t at = ::lseek(fd_, 0, SEEK_CUR);
    if (at >= 0) bar_.show(static_cast<double>(at) / static_cast<double>(size_));
  }

 private:
  Progress& bar_;
  int fd_;
  long long size_;
};

// The index file of a chart as the window names it.  Like the window this
// makes the "idx" directory; a dry run only looks.
IndexFile load_index(const std::string& chart, bool dry_run) {
  std::FILE* f = std::fopen(index_file_name(chart, !dry_run).c_str(), "r");
  IndexFile idx = IndexFile::load(f);
  if (f) std::fclose(f);
  return idx;
}

// What the chart-to-chart commands share: sources that are charts, a
// target per source from --to, the refusals of the target prompt.
class ChartCommand : public Command {
 protected:
  ChartCommand(CommonOptions& common) : common_(common) {}

  void add_sources_and_target(const char* to_help) {
    app->add_option("CHART", sources_, "Source charts; a name holding '!' is a list of names")
        ->type_name("CHART")
        ->required();
    app->add_option("--to,-o", to_, to_help)->type_name("NAME")->required();
  }

  struct Job {
    Source source;
    std::string target;
  };

  // Sources and targets, all checked before anything is written.
  std::vector<Job> plan(const std::vector<Source>& sources, bool strip_extension = false) {
    bool several = sources.size() > 1;
    for (const Source& s : sources) several = several || !s.list.empty();
    std::vector<Job> jobs;
    for (const Source& s : sources) {
      std::string file = base_name(s.name);
      if (strip_extension) file = file.substr(0, file.find('.'));
      const std::string target = target_for(to_, file, several);
      if (target == s.name || same_file(target, s.name))
        throw UsageError{"the target " + target + " is the source itself; give another --to"};
      jobs.push_back({s, target});
    }
    return jobs;
  }

  // Writes the new chart of `j` from the chart open as `fd` (always
  // closed) by `pass`, with a progress bar.  Nothing when the target could
  // not be made; otherwise how the pass ended.  Every failure but a result
  // out of range is reported here.
  std::optional<Result> write_chart(Run& run, const Job& j, int fd, const ChartPass& pass) {
    std::optional<SafeReplace> out;
    if (!open_new_chart(fd, j.target, out).ok()) {
      ::close(fd);
      run.kept(j.target, false);
      run.failed("cannot create " + j.target);
      return std::nullopt;
    }
    Progress bar(base_name(j.source.name), common_.quiet);
    PassProgress progress(bar, fd);
    Result r = write_new_chart(fd, *out, pass, progress);
    bar.done();
    run.kept(j.target, r.ok());
    if (r.message == kNotChartMessage)
      run.failed(j.source.name + " is not a chart: it is shorter than a chart header");
    else if (!r.ok() && r.message != kOutOfRangeMessage)
      run.failed("cannot write " + j.target + "; it was left as it was");
    return r;
  }

  CommonOptions& common_;
  std::vector<std::string> sources_;
  std::string to_;
};

// ---- weekly and monthly -------------------------------------------------------

class Fold : public ChartCommand {
 public:
  Fold(CLI::App& parent, CommonOptions& common, bool monthly) : ChartCommand(common), monthly_(monthly) {
    app = parent.add_subcommand(
        monthly ? "monthly" : "weekly",
        monthly ? "Fold daily charts into monthly bars, merged by date into the target chart"
                : "Fold daily charts into weekly bars (dated Fridays), merged by date into the target chart");
    add_sources_and_target(
        "Target chart; with several sources or a list, a directory that receives charts of the "
        "sources' names");
    add_writing_options(app, common);
    add_location_options(app, common);
  }

  int run() override {
    Run run(common_);
    if (!run.prepare(false)) return run.status();
    const std::vector<Job> jobs = plan(expand_sources(sources_, true));
    const FoldKind kind = monthly_ ? FoldKind::kMonthly : FoldKind::kWeekly;
    const char* what = monthly_ ? "monthly" : "weekly";
    for (const Job& j : jobs) {
      if (interrupted()) break;
      if (run.dry_run()) {
        unsigned char header[kHeaderSize];
        std::vector<BarRecord> bars;
        if (!read_chart(j.source.name, header, bars)) {
          run.failed(j.source.name + " is not a chart: it is shorter than a chart header");
          continue;
        }
        const bool already_weekly = kind == FoldKind::kWeekly && header[kHeaderTypeOffset] == 'W';
        const std::vector<BarRecord> groups =
            fold_bars(bars, kind, already_weekly, load_index(j.source.name, true));
        std::cout << j.target << ": " << groups.size() << ' ' << what << " bars from " << j.source.name;
        if (!groups.empty()) std::cout << ", " << groups.front().date << " to " << groups.back().date;
        std::cout << (exists(j.target) ? " (merged into the chart)" : " (new chart)") << '\n';
        print_bars(groups, kDryRunBars);
        continue;
      }
      // The source is read under its lock: never half-way through a store.
      ChartLock reading(j.source.name, ChartLock::Mode::kRead);
      if (!reading.held()) {
        run.failed("cannot read " + absolute_here(j.source.name) + " now; nothing stored from it");
        continue;
      }
      const int fd = open_source(j.source.name, false);
      if (fd < 0) {
        run.failed("cannot open " + absolute_here(j.source.name));
        continue;
      }
      FoldRequest request{kind, load_index(j.source.name, false), j.target};
      if (!run.keep(j.target)) {
        ::close(fd);
        continue;
      }
      Progress bar(base_name(j.source.name), common_.quiet);
      PassProgress progress(bar, fd);
      const Result r = fold_chart(fd, request, progress);  // closes fd
      bar.done();
      run.kept(j.target, r.ok());
      switch (r.status) {
        case Status::kDone:
          run.note(j.source.name + ": " + std::to_string(r.count) + ' ' + what + " bars stored in " +
                   j.target + ", " + std::to_string(r.first) + " to " + std::to_string(r.last));
          break;
        case Status::kNothing:
          run.failed(j.source.name + ": no bar with a volume of 0 or more; nothing stored");
          break;
        case Status::kRefused:
          run.failed(j.source.name + ": its dates go backwards; nothing stored (sort the chart first)");
          break;
        default:
          run.failed("cannot store " + j.target + "; it was left as it was");
          break;
      }
    }
    return run.status();
  }

 private:
  bool monthly_;
};

// ---- compress --------------------------------------------------------------------

class Compress : public ChartCommand {
 public:
  Compress(CLI::App& parent, CommonOptions& common) : ChartCommand(common) {
    app = parent.add_subcommand("compress",
                                "Fold every N bars of a chart into one bar of a new numbered chart");
    add_sources_and_target(
        "Numbered chart to write (replaced whole); with several sources or a list, a directory");
    app->add_option("--count,-N", count_, "Bars of the source per bar of the numbered chart (1 or more)")
        ->type_name("N")
        ->required();
    add_writing_options(app, common);
    add_location_options(app, common);
  }

  int run() override {
    Run run(common_);
    if (!run.prepare(false)) return run.status();
    char* end = nullptr;
    const long n = std::strtol(count_.c_str(), &end, 10);
    if (count_.empty() || *end != '\0' || n < 1 || n > 1000000000L)
      throw UsageError{"--count '" + count_ + "': give a whole number of bars, 1 or more"};
    const std::vector<Job> jobs = plan(expand_sources(sources_, true));
    for (const Job& j : jobs) {
      if (interrupted()) break;
      if (run.dry_run()) {
        unsigned char header[kHeaderSize];
        std::vector<BarRecord> bars;
        if (!read_chart(j.source.name, header, bars)) {
          run.failed(j.source.name + " is not a chart: it is shorter than a chart header");
          continue;
        }
        const std::vector<BarRecord> groups = compress_bars(bars, static_cast<int>(n));
        std::cout << j.target << ": " << groups.size() << " numbered bars from " << bars.size() << " bars of "
                  << j.source.name << (exists(j.target) ? " (replaces the file)" : " (new chart)") << '\n';
        print_bars(groups, kDryRunBars);
        continue;
      }
      // The source is read under its lock: never half-way through a store.
      ChartLock reading(j.source.name, ChartLock::Mode::kRead);
      if (!reading.held()) {
        run.failed("cannot read " + absolute_here(j.source.name) + " now; nothing stored from it");
        continue;
      }
      const int fd = open_source(j.source.name, false);
      if (fd < 0) {
        run.failed("cannot open " + absolute_here(j.source.name));
        continue;
      }
      if (!run.keep(j.target)) {
        ::close(fd);
        continue;
      }
      const CompressRequest request{static_cast<int>(n), j.target};
      const std::optional<Result> r =
          write_chart(run, j, fd, [&](std::FILE* src, SafeReplace& out, ChartPassProgress& progress) {
            return compress_stream(request, src, out, progress);
          });
      if (r && r->ok())
        run.note(j.source.name + ": " + std::to_string(r->count) + " numbered bars written to " + j.target);
    }
    return run.status();
  }

 private:
  std::string count_;
};

// ---- adjust ------------------------------------------------------------------------

class Adjust : public ChartCommand {
 public:
  Adjust(CLI::App& parent, CommonOptions& common) : ChartCommand(common) {
    app = parent.add_subcommand(
        "adjust",
        "Add, subtract, multiply or divide the prices of a chart by a constant (splits, dividends)");
    add_sources_and_target("Chart to write (replaced whole); with several sources or a list, a directory");
    app->add_option("--op", op_, "Operator: + - * (or x) /; * and / change the volume the other way")
        ->type_name("OP")
        ->required();
    app->add_option("--constant,-k", constant_, "The constant (not 0)")->type_name("K")->required();
    add_writing_options(app, common);
    add_location_options(app, common);
  }

  int run() override {
    Run run(common_);
    if (!run.prepare(false)) return run.status();
    char op = 0;
    if (op_ == "+" || op_ == "-" || op_ == "*" || op_ == "/") op = op_[0];
    if (op_ == "x" || op_ == "X") op = '*';
    if (!op) throw UsageError{"--op '" + op_ + "': use + - * or /"};
    float k = 0;
    if (!parse_constant(constant_.c_str(), &k))
      throw UsageError{"--constant '" + constant_ + "': give a number other than 0"};
    const std::vector<Job> jobs = plan(expand_sources(sources_, true));
    for (const Job& j : jobs) {
      if (interrupted()) break;
      if (run.dry_run()) {
        unsigned char header[kHeaderSize];
        std::vector<BarRecord> bars;
        if (!read_chart(j.source.name, header, bars)) {
          run.failed(j.source.name + " is not a chart: it is shorter than a chart header");
          continue;
        }
        const IndexFile idx = load_index(j.source.name, true);
        std::vector<BarRecord> shown;
        for (std::size_t i = 0; i < bars.size() && i < kDryRunBars; ++i) {
          BarRecord b = bars[i];
          idx.apply(b);
          shown.push_back(adjust_bar(b, op, k));
        }
        std::cout << j.target << ": " << bars.size() << " bars of " << j.source.name << ' ' << op << ' '
                  << constant_ << (exists(j.target) ? " (replaces the file)" : " (new chart)") << '\n';
        print_bars(shown, kDryRunBars);
        if (bars.size() > kDryRunBars) std::cout << "  ... " << bars.size() - kDryRunBars << " more\n";
        continue;
      }
      // The source is read under its lock: never half-way through a store.
      ChartLock reading(j.source.name, ChartLock::Mode::kRead);
      if (!reading.held()) {
        run.failed("cannot read " + absolute_here(j.source.name) + " now; nothing stored from it");
        continue;
      }
      const int fd = open_source(j.source.name, false);
      if (fd < 0) {
        run.failed("cannot open " + absolute_here(j.source.name));
        continue;
      }
      const AdjustRequest request{op, k, load_index(j.source.name, false), j.target};
      if (!run.keep(j.target)) {
        ::close(fd);
        continue;
      }
      const std::optional<Result> r =
          write_chart(run, j, fd, [&](std::FILE* src, SafeReplace& out, ChartPassProgress& progress) {
            return adjust_stream(request, src, out, progress);
          });
      if (r && r->ok())
        run.note(j.source.name + ": " + std::to_string(r->count) + " bars adjusted into " + j.target);
      else if (r && r->message == kOutOfRangeMessage)
        run.failed(j.source.name + ": the bar of " + std::to_string(r->last) +
                   " would not fit a chart after the adjustment; " + j.target + " was left as it was");
    }
    return run.status();
  }

 private:
  std::string op_, constant_;
};

// ---- chart-to-text ---------------------------------------------------------------------

class ChartReport : public ChartTextReport {
 public:
  ChartReport(Progress& bar, long total) : bar_(bar), total_(total) {}
  void bar_read(long n, const BarRecord&) override {
    if (total_ > 0 && n % 64 == 0) bar_.show(static_cast<double>(n) / static_cast<double>(total_));
  }

 private:
  Progress& bar_;
  long total_;
};

class ChartToText : public Command {
 public:
  ChartToText(CLI::App& parent, CommonOptions& common) : common_(common) {
    app = parent.add_subcommand("chart-to-text",
                                "Write charts out as text files in the format settings' layout");
    app->add_option("CHART", sources_, "Charts; a name holding '!' is a list of names")
        ->type_name("CHART")
        ->required();
    app->add_option("--to,-o", to_,
                    "Text file to write (one chart only); without it the text is named as in a list: "
                    "ibm.M gives ibm_M.T")
        ->type_name("NAME");
    app->add_flag("--overwrite", overwrite_, "Replace a text file that exists (the window asks)");
    app->add_flag("--csv", csv_,
                  "Write CSV for other tools: a header line, ISO dates, the stored numbers "
                  "unpadded (ibm.M gives ibm_M.csv); only --start of the layout options applies");
    add_format_options(app, common);
    add_writing_options(app, common);
    add_location_options(app, common);
  }

  int run() override {
    Run run(common_);
    if (!run.prepare(true)) return run.status();
    const std::vector<Source> sources = expand_sources(sources_, true);
    if (!to_.empty() && (sources.size() != 1 || !sources[0].list.empty()))
      throw UsageError{"--to names one text file: give one chart, not several or a list"};
    std::vector<std::string> names;
    for (const Source& s : sources) {
      std::string name = to_.empty() ? list_text_name(s.name.c_str()) : to_;
      if (csv_ && to_.empty()) name.replace(name.size() - 2, 2, ".csv");
      if (name == s.firstname() || name == s.name || same_file(name, s.name))
        throw UsageError{"the text " + name + " would be the source itself; give another --to"};
      if (exists(name) && !overwrite_ && !run.dry_run())
        throw UsageError{name + " exists; give --overwrite to replace it"};
      struct stat st {};
      if (::stat(s.name.c_str(), &st) == 0 && st.st_size < static_cast<off_t>(kHeaderSize))
        throw FileProblem{s.name + " is not a chart: it is shorter than a chart header"};
      names.push_back(name);
    }

    for (std::size_t i = 0; i < sources.size(); ++i) {
      if (interrupted()) break;
      const Source& s = sources[i];
      const std::string& name = names[i];
      if (run.dry_run()) {
        unsigned char header[kHeaderSize];
        std::vector<BarRecord> bars;
        if (!read_chart(s.name, header, bars)) {
          run.failed(s.name + " is not a chart: it is shorter than a chart header");
          continue;
        }
        std::vector<std::string> lines;
        long count = 0;
        std::string line;
        if (csv_) lines.push_back(std::string(kCsvHeader, std::strlen(kCsvHeader) - 1));
        for (std::size_t b = 0; b < bars.size(); ++b)
          if (csv_ ? bars[b].date >= csv_start(run) && (csv_line(bars[b], line), line.pop_back(), true)
                   : bar_line(bars[b], static_cast<long>(b) + 1, run.format(), s.name, line)) {
            ++count;
            if (lines.size() < kDryRunBars) lines.push_back(line);
          }
        std::cout << name << ": " << count << " lines from " << s.name
                  << (exists(name) ? " (replaces the file)" : "") << '\n';
        for (const std::string& l : lines) std::cout << "  " << l << '\n';
        if (count > static_cast<long>(lines.size()))
          std::cout << "  ... " << count - static_cast<long>(lines.size()) << " more\n";
        continue;
      }
      // The source is read under its lock: never half-way through a store.
      ChartLock reading(s.name, ChartLock::Mode::kRead);
      if (!reading.held()) {
        run.failed("cannot read " + absolute_here(s.name) + " now; nothing stored from it");
        continue;
      }
      const int fd = open_source(s.name, false);
      if (fd < 0) {
        run.failed("cannot open " + absolute_here(s.name));
        continue;
      }
      ::lseek(fd, static_cast<off_t>(kHeaderSize), SEEK_SET);
      if (!run.keep(name)) {
        ::close(fd);
        continue;
      }
      SafeReplace out(name, SafeReplace::Locking::kNone);  // a text
      if (!out.ok()) {
        ::close(fd);
        run.kept(name, false);
        run.failed("cannot create " + name);
        continue;
      }
      const long total = static_cast<long>((file_size(fd) - static_cast<long long>(kHeaderSize)) /
                                           static_cast<long long>(kBarSize));
      Progress bar(base_name(s.name), common_.quiet);
      ChartReport report(bar, total);
      const Result result = csv_ ? chart_to_csv(fd, out, csv_start(run), report)
                                 : chart_to_text(fd, out, run.format(), s.name, report);
      ::close(fd);
      bar.done();
      run.kept(name, result.ok());
      if (!result.ok())
        run.failed("cannot write " + name + "; it was left as it was");
      else
        run.note(s.name + ": " + std::to_string(result.count) + " lines written to " + name +
                 (!csv_ && text_sorted(run.format(), result.count) ? " (sorted by date)" : ""));
    }
    return run.status();
  }

 private:
  CommonOptions& common_;
  std::vector<std::string> sources_;
  // CSV leaves out early bars only when --start is given: the saved
  // settings' start date is the window's, for its own layout.
  std::int32_t csv_start(const Run& run) const {
    return common_.start.empty() ? INT32_MIN : start_date_of(run.format());
  }

  std::string to_;
  bool overwrite_ = false;
  bool csv_ = false;
};

}  // namespace

std::unique_ptr<Command> add_weekly(CLI::App& app, CommonOptions& common, bool monthly) {
  return std::make_unique<Fold>(app, common, monthly);
}
std::unique_ptr<Command> add_compress(CLI::App& app, CommonOptions& common) {
  return std::make_unique<Compress>(app, common);
}
std::unique_ptr<Command> add_adjust(CLI::App& app, CommonOptions& common) {
  return std::make_unique<Adjust>(app, common);
}
std::unique_ptr<Command> add_chart_to_text(CLI::App& app, CommonOptions& common) {
  return std::make_unique<ChartToText>(app, common);
}

}  // namespace mc
