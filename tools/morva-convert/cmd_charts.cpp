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
#include <algorithm>
#include <fstream>
#include <map>

#include "chartdata/chartfile.h"
#include "chartdata/safe_replace.h"
#include "cli.h"
#include "convert/adjust.h"
#include "convert/chart_check.h"
#include "convert/corporate_actions.h"
#include "chartdata/encodings.h"
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

// A date option: yyyymmdd or yyyy-mm-dd, a calendar day.
std::int32_t date_option(const char* name, const std::string& text) {
  std::int32_t d = 0;
  TimeOfDayDates clock;
  bool synthetic = false;
  if (text.empty() || !parse_date(text.c_str(), 0, &d, clock, &synthetic) || synthetic || !is_calendar_date(d))
    throw UsageError{std::string(name) + " '" + text + "': give a date yyyymmdd"};
  return d;
}

class Adjust : public ChartCommand {
 public:
  Adjust(CLI::App& parent, CommonOptions& common) : ChartCommand(common) {
    app = parent.add_subcommand(
        "adjust",
        "Adjust the prices of charts for splits and dividends, by a constant or by date; or apply a file of "
        "corporate actions to the charts of the data directory");
    app->add_option("CHART", sources_, "Source charts; a name holding '!' is a list of names")->type_name("CHART");
    app->add_option("--to,-o", to_,
                    "Chart to write (replaced whole); with several sources or a list, a directory")
        ->type_name("NAME");
    app->add_flag("--in-place", in_place_, "Adjust the charts themselves (with --backup, NAME.bak keeps each one)");
    app->add_option("--op", op_, "Operator: + - * (or x) /; * and / change the volume the other way")
        ->type_name("OP");
    app->add_option("--constant,-k", constant_, "The constant (not 0)")->type_name("K");
    app->add_option("--split", split_, "A split N:M: prices x M/N and volumes x N/M (1:10 is a reverse split)")
        ->type_name("N:M");
    app->add_option("--dividend", dividend_,
                    "A dividend: prices before --before x (1 - AMOUNT / the close of the last bar before it)")
        ->type_name("AMOUNT");
    app->add_option("--before", before_, "Only bars dated before DATE (the ex-date) change")->type_name("DATE");
    app->add_option("--from", from_, "Only bars dated DATE or later change")->type_name("DATE");
    app->add_option("--until", until_, "Only bars dated DATE or earlier change")->type_name("DATE");
    app->add_option("--actions", actions_,
                    "A CSV of symbol,date,split or symbol,date,dividend lines applied to the charts of those "
                    "symbols in the data directory, each chart once; the journal .morva-actions keeps what was "
                    "applied")
        ->type_name("FILE");
    app->add_option("--undo", undo_, "Give the charts of an --actions run back as they were before it")
        ->type_name("RUN");
    add_writing_options(app, common);
    add_location_options(app, common);
  }

  int run() override {
    Run run(common_);
    if (!run.prepare(false)) return run.status();
    const int ways = (!op_.empty() || !constant_.empty()) + !split_.empty() + !dividend_.empty() +
                     !actions_.empty() + !undo_.empty();
    if (ways != 1)
      throw UsageError{ways ? "give one of --op with --constant, --split, --dividend, --actions or --undo"
                            : "say what to do: --op with --constant, --split, --dividend, --actions or --undo"};
    if (!actions_.empty() || !undo_.empty()) {
      if (!sources_.empty() || !to_.empty() || in_place_ || !before_.empty() || !from_.empty() || !until_.empty())
        throw UsageError{std::string(actions_.empty() ? "--undo" : "--actions") +
                         " works on the charts of the data directory: give no CHART, --to, --in-place or dates"};
      return actions_.empty() ? undo(run) : apply_actions(run);
    }
    if (sources_.empty()) throw UsageError{"CHART is required"};
    if (in_place_ == !to_.empty())
      throw UsageError{in_place_ ? "--in-place adjusts the charts themselves: give no --to"
                                 : "--to is required (or --in-place)"};
    AdjustRequest request;
    double dividend = 0;
    if (!split_.empty() || !dividend_.empty()) {
      if (!split_.empty()) {
        int n = 0, m = 0;
        if (!parse_split(split_, &n, &m))
          throw UsageError{"--split '" + split_ + "': give N:M, such as 4:1 or 1:10 (two different whole numbers)"};
        request = split_request(n, m, INT32_MAX);
        request.until = INT32_MAX;
      } else {
        char* end = nullptr;
        dividend = std::strtod(dividend_.c_str(), &end);
        if (dividend_.empty() || *end != '\0' || !(dividend > 0) || !std::isfinite(dividend))
          throw UsageError{"--dividend '" + dividend_ + "': give the amount, a number above 0"};
        if (before_.empty()) throw UsageError{"--dividend needs --before DATE, the ex-date"};
        if (!from_.empty() || !until_.empty())
          throw UsageError{"--dividend changes the bars before its ex-date: give --before only"};
        request.op = kScaleOp;
      }
    } else {
      if (op_.empty() || constant_.empty()) throw UsageError{"--op and --constant go together"};
      char op = 0;
      if (op_ == "+" || op_ == "-" || op_ == "*" || op_ == "/") op = op_[0];
      if (op_ == "x" || op_ == "X") op = '*';
      if (!op) throw UsageError{"--op '" + op_ + "': use + - * or /"};
      if (!parse_constant(constant_.c_str(), &request.k))
        throw UsageError{"--constant '" + constant_ + "': give a number other than 0"};
      request.op = op;
    }
    if (!before_.empty() && !until_.empty()) throw UsageError{"give --before or --until, not both"};
    if (!from_.empty()) request.from = date_option("--from", from_);
    if (!until_.empty()) request.until = date_option("--until", until_);
    if (!before_.empty()) request.until = date_option("--before", before_) - 1;
    if (request.from > request.until)
      throw UsageError{"--from " + from_ + " is after " + (before_.empty() ? "--until " + until_ : "--before " + before_)};
    std::string what = !split_.empty()      ? "split " + split_
                       : !dividend_.empty() ? "dividend " + dividend_
                                            : std::string(1, request.op) + " " + constant_;
    if (!before_.empty()) what += " before " + before_;
    if (!from_.empty()) what += " from " + from_;
    if (!until_.empty()) what += " until " + until_;

    const std::vector<Source> sources = expand_sources(sources_, true);
    const std::vector<Job> jobs = in_place_ ? std::vector<Job>{} : plan(sources);
    for (std::size_t i = 0; i < sources.size(); ++i) {
      if (interrupted()) break;
      const Source& s = sources[i];
      const std::string target = in_place_ ? s.name : jobs[i].target;
      AdjustRequest req = request;
      req.target = target;
      req.index = load_index(s.name, run.dry_run());
      if (run.dry_run() || (dividend > 0 && !in_place_)) {
        unsigned char header[kHeaderSize];
        std::vector<BarRecord> bars;
        if (!read_chart(s.name, header, bars) || !looks_like_chart(header, kHeaderSize)) {
          run.failed(s.name + " is not a chart: no chart header at its start");
          continue;
        }
        if (dividend > 0) {
          const Result d = dividend_request(dividend, req.until + 1, bars, req);
          if (!d.ok()) {
            run.failed(s.name + ": " + d.message + "; nothing was changed");
            continue;
          }
        }
        if (run.dry_run()) {
          std::vector<BarRecord> shown;
          long changed = 0;
          for (const BarRecord& bar : bars) {
            BarRecord b = bar;
            req.index.apply(b);
            changed += req.changes(b.date);
            if (shown.size() < kDryRunBars && req.changes(b.date)) shown.push_back(adjust_request_bar(b, req));
          }
          std::cout << target << ": " << changed << " of " << bars.size() << " bars of " << s.name << ' ' << what
                    << (in_place_ ? " (in place)" : exists(target) ? " (replaces the file)" : " (new chart)") << '\n';
          print_bars(shown, kDryRunBars);
          continue;
        }
      }
      if (in_place_) {
        Y2000_upgrade(s.name.c_str());
        if (!run.keep(s.name)) continue;
        const Result r = adjust_in_place(s.name, req, dividend);
        run.kept(s.name, r.ok());
        if (r.ok())
          run.note(s.name + ": " + std::to_string(r.count) + " bars adjusted in place (" + what + ")");
        else if (r.message == kOutOfRangeMessage)
          run.failed(s.name + ": the bar of " + std::to_string(r.last) +
                     " would not fit a chart after the adjustment; it was left as it was");
        else if (r.status == Status::kRefused)
          run.failed(s.name + ": " + (r.message == kNotChartMessage ? "not a chart" : r.message) +
                     "; it was left as it was");
        else
          run.failed("cannot write " + s.name + "; it was left as it was");
        continue;
      }
      const Job& j = jobs[i];
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
      const std::optional<Result> r =
          write_chart(run, j, fd, [&](std::FILE* src, SafeReplace& out, ChartPassProgress& progress) {
            return adjust_stream(req, src, out, progress);
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
  int apply_actions(Run& run) {
    const std::vector<Source> file = expand_sources({actions_}, false, true);
    std::ifstream in(file[0].where(), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const ActionFile parsed = read_actions(text);
    for (const std::string& p : parsed.problems) {
      complain(actions_ + ": " + p + "; passed over");
      run.skipped();
    }
    // Each chart with all its actions, so that it is written once.
    const SymbolCharts index = charts_by_symbol(".");
    std::map<std::string, std::vector<CorporateAction>> per_chart;
    for (const CorporateAction& a : parsed.actions) {
      const std::vector<std::string> found = charts_of_symbol(index, a.symbol);
      if (found.empty()) {
        complain(actions_ + ": line " + std::to_string(a.line) + ": no chart of " + a.symbol +
                 " in the data directory; passed over");
        run.skipped();
      }
      for (const std::string& c : found) {
        auto& list = per_chart[c];
        const bool twice = std::any_of(list.begin(), list.end(), [&](const CorporateAction& b) {
          return b.date == a.date && b.text() == a.text();
        });
        if (!twice) list.push_back(a);
      }
    }
    std::vector<JournalEntry> journal = read_journal(kJournalName);
    const AppliedActions applied(journal);
    const std::string id = new_run_id();
    long changed = 0;
    const std::size_t before = journal.size();
    for (auto& [chart, actions] : per_chart) {
      if (interrupted()) break;
      std::vector<CorporateAction> todo;
      for (const CorporateAction& a : actions) {
        std::string earlier;
        if (applied.has(chart, a, &earlier))
          run.note(chart + ": " + a.text() + " before " + std::to_string(a.date) + " was applied in run " + earlier +
                   "; not applied again");
        else
          todo.push_back(a);
      }
      if (todo.empty()) continue;
      std::string what;
      for (const CorporateAction& a : todo)
        what += (what.empty() ? "" : ", ") + a.text() + " before " + std::to_string(a.date);
      if (run.dry_run()) {
        std::cout << chart << ": would apply " << what << '\n';
        continue;
      }
      Y2000_upgrade(chart.c_str());  // dates of two-digit years widened first, as every store does
      if (!run.keep(chart)) continue;
      std::string hash;
      const Result r = apply_chart_actions(chart, todo, id, hash);
      run.kept(chart, r.ok());
      if (!r.ok()) {
        run.failed(chart + ": " +
                   (r.message == kOutOfRangeMessage ? "the bar of " + std::to_string(r.last) + " would not fit a chart"
                    : r.status == Status::kRefused ? r.message
                                                   : std::string("cannot write it")) +
                   "; it was left as it was");
        continue;
      }
      ++changed;
      for (const CorporateAction& a : todo) journal.push_back({id, chart, a.text(), a.date, "applied", hash});
      run.note(chart + ": " + what + ": " + std::to_string(r.count) + " bars adjusted (run " + id + ")");
    }
    if (journal.size() > before && !write_journal(kJournalName, journal)) {
      run.failed("cannot write the journal " + absolute_here(kJournalName) +
                 ": the charts named above were adjusted, but a second run would adjust them again");
      return run.status();
    }
    if (!run.dry_run())
      run.note(changed ? "run " + id + ": " + std::to_string(changed) + (changed == 1 ? " chart" : " charts") +
                             " adjusted; morva-convert adjust --undo " + id + " gives them back as they were"
                       : std::string("no chart was changed"));
    return run.status();
  }

  int undo(Run& run) {
    std::vector<JournalEntry> journal = read_journal(kJournalName);
    std::map<std::string, std::string> charts;  // chart -> hash after the run
    for (const JournalEntry& e : journal)
      if (e.run == undo_ && e.state == "applied") charts[e.chart] = e.hash;
    if (charts.empty())
      throw UsageError{"--undo " + undo_ + ": the journal " + absolute_here(kJournalName) +
                       " holds no applied run of that name"};
    long restored = 0;
    for (const auto& [chart, hash] : charts) {
      if (run.dry_run()) {
        std::cout << chart << ": would be given back as it was before run " << undo_ << '\n';
        continue;
      }
      const Result r = undo_chart_actions(chart, undo_, hash);
      if (!r.ok()) {
        run.failed(chart + ": not given back: " + (r.message.empty() ? "cannot write it" : r.message));
        continue;
      }
      ++restored;
      for (JournalEntry& e : journal)
        if (e.run == undo_ && e.chart == chart) e.state = "undone";
      run.note(chart + ": as it was before run " + undo_);
    }
    if (restored && !write_journal(kJournalName, journal))
      run.failed("cannot write the journal " + absolute_here(kJournalName) +
                 ": the charts named above were given back, but the journal still counts their actions as applied");
    return run.status();
  }

  std::string op_, constant_, split_, dividend_, before_, from_, until_, actions_, undo_;
  bool in_place_ = false;
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
      // Texts go where text inputs come from: the directory the program
      // was started in, not the chart's folder.
      std::string name = to_.empty() ? base_name(list_text_name(s.name.c_str())) : to_;
      if (csv_ && to_.empty()) name.replace(name.size() - 2, 2, ".csv");
      name = from_start_dir(name);
      if (std::find(names.begin(), names.end(), name) != names.end())
        throw UsageError{"two charts would both be written to the text " + name + "; convert them one at a time with --to"};
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
