// text-to-chart and investorlink: text price files into charts.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <optional>

#include "chartdata/chartfile.h"
#include "chartdata/linereader.h"
#include "cli.h"
#include "tools/morva-convert/batch_env.h"
#include "tools/morva-convert/batch_lines.h"
#include "tools/morva-convert/batch_text.h"
#include "chartdata/encodings.h"
#include "convert/investorlink.h"
#include "convert/ascii_replace.h"
#include "convert/text_layout.h"
#include "convert/text_to_chart.h"

namespace mc {

namespace {

const char* type_word(char t) {
  const char* word = chart_type_word(static_cast<unsigned char>(t));
  return word ? word : "?";
}

bool has_symbol_column(const FormatSettings& f) { return std::memchr(f.order, 'S', 12) != nullptr; }

std::string order_text(const FormatSettings& f) {
  std::string s(f.order, 12);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// The store's reports: skipped lines counted, progress, and the copies of
// the charts settled as each chart is done.
class StoreHooks : public StoreReport {
 public:
  StoreHooks(Run& run, int fd, Progress& progress, std::vector<std::string> planned)
      : run_(run), fd_(fd), progress_(progress), size_(file_size(fd)), planned_(std::move(planned)) {}

  void bad_name_date() override { ++skipped; }
  void bad_value() override { ++skipped; }
  void name_refused(const std::string& name, const std::string& why) override {
    ++failed;
    run_.failed("cannot store the chart " + printable_name(name) + ": " + why);
  }
  void early_date() override { ++early; }
  bool stop_between_charts() override { return interrupted(); }
  void progress(const BarRecord&) override {
    // The reader takes the text in blocks: its position is near enough.
    if (size_ > 0) progress_.show(static_cast<double>(linereader_tell(fd_)) / static_cast<double>(size_));
  }
  void chart_done(const std::string& file, int ok) override {
    // Runs are stored in the order the scan found them.
    if (next_ < planned_.size()) {
      const std::string& path = planned_[next_++];
      run_.kept(path, ok && base_name(path) == file);
    }
    if (!ok) {
      ++failed;
      progress_.done();
      run_.failed("cannot store the chart " + file + "; it was left as it was");
    }
  }

  long skipped = 0, early = 0, failed = 0;

 private:
  Run& run_;
  int fd_;
  Progress& progress_;
  long long size_;
  std::vector<std::string> planned_;
  std::size_t next_ = 0;
};

// The read-only pass: skipped lines logged, the charts a store will touch
// (their copies made first with --backup), and the dry run's description.
class Look : public BatchTextScan {
 public:
  Look(Run& run, std::string shown, char type) : run_(run), shown_(std::move(shown)), type_(type) {}

  void line(long number, std::string_view text, const ParsedLine& what) override {
    if (what.kind == LineKind::kBadDate) {
      ++skipped;
      run_.log(shown_, number, "bad date, and no date in the file name", std::string(text));
    } else if (what.kind == LineKind::kBadValue) {
      ++skipped;
      run_.log(shown_, number, "a value that cannot be stored as written (nan, inf, out of range, "
                               "text) or no number",
               std::string(text));
    } else if (what.kind == LineKind::kEarly) {
      ++early;
    }
  }
  void run(const std::string& path, const std::vector<RunBar>& bars) override {
    paths.push_back(path);
    total += static_cast<long>(bars.size());
    if (!run_.dry_run()) {
      if (!bars.empty() && !run_.keep(path)) copies_failed = true;
      return;
    }
    std::cout << path << ": " << bars.size() << " bars";
    if (!bars.empty()) std::cout << ", " << bars.front().bar.date << " to " << bars.back().bar.date;
    if (bars.empty())
      std::cout << " (nothing to store)";
    else
      std::cout << (::access(path.c_str(), F_OK) == 0 ? " (merged into the chart)"
                                                      : std::string(" (new ") + type_word(type_) + " chart)");
    std::cout << '\n';
    std::vector<BarRecord> shown;
    for (std::size_t i = 0; i < bars.size() && i < kDryRunBars; ++i) shown.push_back(bars[i].bar);
    print_bars(shown, kDryRunBars);
    if (bars.size() > kDryRunBars) std::cout << "  ... " << bars.size() - kDryRunBars << " more\n";
  }

  std::vector<std::string> paths;
  long skipped = 0, early = 0, total = 0;
  bool copies_failed = false;

 private:
  Run& run_;
  std::string shown_;
  char type_;
};

// Converts one text open as fd; returns false when a chart could not be
// stored.  `last` receives the path of the last chart written.
bool convert_text(Run& run, int fd, const BatchTextJob& job, const std::string& shown_name,
                  TimeOfDayDates& clock, std::string* last = nullptr) {
  Progress progress(base_name(shown_name), run.options().quiet);
  BatchTextPlan plan;
  // The first two dates are read as the window reads them, moving the
  // run's time-of-day dates on before the store; the look reads a copy
  // taken before them.
  const TimeOfDayDates before = clock;
  if (const Result planned = batch_text_decide(fd, job, plan, clock); !planned.ok()) {
    clock = before;
    run.failed(planned.message);
    return false;
  }

  // A look first when it is needed: for the dry run, the log, the copies.
  Look look(run, shown_name, plan.type);
  const bool looked = run.dry_run() || run.logging() || run.options().backup;
  if (looked) batch_text_scan(fd, job, plan, look, before);
  if (run.dry_run()) clock = before;  // nothing stored: nothing read
  long skipped = look.skipped, early = look.early, bars = look.total;
  bool ok = true;
  std::string last_path;
  long written = 0;
  if (!run.dry_run()) {
    if (look.copies_failed) {
      clock = before;
      return false;
    }
    StoreHooks hooks(run, fd, progress, look.paths);
    std::string stored_last;
    const Result r = batch_text_store(fd, job, plan, hooks, clock, &stored_last);
    progress.done();
    ok = r.status != Status::kRefused && r.status != Status::kFailed && hooks.failed == 0;
    skipped = hooks.skipped;
    early = hooks.early;
    written = r.count;
    if (written > 0) last_path = stored_last;
    if (!looked) bars = written;  // enough to tell "nothing stored"
  }
  run.skipped(skipped);
  // Lines left out by the start date are wanted, unless they were all the
  // text held: then the settings are probably wrong (a two-digit year past
  // the window is read as 19xx).
  if (early > 0 && bars == 0) {
    const int first19 = (calendar_year() + kTwoDigitYearsAhead + 1) % 100;  // 32 in 2026
    complain(shown_name + ": no bar: all " + std::to_string(early) +
             " dated lines lie before the start date " + std::string(job.format.startdate, 8) +
             " (two-digit years " + std::to_string(first19) + "-99 are read as 19xx)");
    run.skipped();
  }
  if (!run.dry_run()) {
    std::string line = shown_name + ": " + std::to_string(written) + " chart" + (written == 1 ? "" : "s") +
                       " written (" + type_word(plan.type) + ")";
    if (!last_path.empty()) line += ", last " + last_path;
    if (skipped) line += ", " + std::to_string(skipped) + " lines skipped (bad dates or values)";
    if (early) line += ", " + std::to_string(early) + " lines before the start date";
    run.note(line);
  } else if (skipped) {
    std::cout << shown_name << ": " << skipped << " lines would be skipped (bad dates or values)\n";
  }
  if (last) *last = last_path;
  return ok;
}

// ---- text-to-chart ------------------------------------------------------------

class TextToChart : public Command {
 public:
  TextToChart(CLI::App& app, CommonOptions& common) : common_(common) {
    this->app = app.add_subcommand(
        "text-to-chart", "Convert text price files into charts, merged by date into the bars a chart holds");
    this->app->add_option("SOURCE", sources_, "Text files; a name holding '!' is a list of names")
        ->type_name("FILE")
        ->required();
    this->app
        ->add_option("--chart,-c", chart_,
                     "Chart name when the field order has no S column (not for list entries)")
        ->type_name("NAME");
    this->app
        ->add_option("--type,-t", type_,
                     "Chart type for new charts when the first two dates are not 1-4 days "
                     "apart: daily, weekly, monthly or numbered")
        ->type_name("TYPE");
    this->app->add_flag("--auto,-a", auto_,
                        "Find the separator, the columns (from a header line), the date layout and a "
                        "decimal comma from the start of each file; options given win");
    add_format_options(this->app, common);
    add_decimal_comma_option(this->app, common);
    add_errors_option(this->app, common);
    add_writing_options(this->app, common);
    add_location_options(this->app, common);
  }

  int run() override {
    Run run(common_);
    if (!run.prepare(true)) return run.status();
    char type = 0;
    if (!type_.empty() && !(type = parse_chart_type(type_)))
      throw UsageError{"--type '" + type_ + "': use daily, weekly, monthly or numbered (d, w, m, n)"};
    if (has_symbol_column(run.format()) && !chart_.empty() && !(auto_ && common_.order.empty()))
      throw UsageError{"--chart cannot be used with the order " + order_text(run.format()) +
                       ": charts are named after the symbols of the S column"};
    const std::vector<Source> sources = expand_sources(sources_, true, true);

    // The layout of each text: the settings, or what --auto finds under the
    // options given.
    std::vector<FormatSettings> formats(sources.size(), run.format());
    std::vector<bool> commas(sources.size(), common_.decimal_comma);
    std::vector<std::string> shown(sources.size());
    for (std::size_t i = 0; i < sources.size() && auto_; ++i) {
      const Source& s = sources[i];
      const int fd = ::open(s.where().c_str(), O_RDONLY);
      if (fd < 0) throw FileProblem{"cannot read " + s.where() + ": " + std::strerror(errno)};
      const TextLayout layout = detect_layout(fd, layout_hints(common_, run.format()));
      ::close(fd);
      if (!layout.ok) throw UsageError{s.name + ": " + layout.problem};
      apply_layout(layout, common_, formats[i]);
      commas[i] = commas[i] || layout.decimal_comma;
      shown[i] = layout.summary();
      if (has_symbol_column(formats[i]) && !chart_.empty())
        throw UsageError{s.name + ": --chart cannot be used: its charts are named after the symbols of its " +
                         "S column (order " + order_text(formats[i]) + ")"};
    }

    auto job_for = [&](std::size_t i) {
      const Source& s = sources[i];
      BatchTextJob job;
      job.format = formats[i];
      job.textname = s.name;
      job.listname = s.list;
      job.chart = chart_;
      job.type = type;
      job.decimal_comma = commas[i];
      job.detected = auto_;
      return job;
    };
    TimeOfDayDates clock;  // the time-of-day dates of this run

    // Every text is looked at before anything is written, so that a missing
    // answer stops the command with nothing changed.
    for (std::size_t i = 0; i < sources.size(); ++i) {
      const Source& s = sources[i];
      const int fd = ::open(s.where().c_str(), O_RDONLY);
      if (fd < 0) throw FileProblem{"cannot read " + s.where() + ": " + std::strerror(errno)};
      BatchTextPlan plan;
      BatchTextJob job = job_for(i);
      job.times_of_day = shown[i].find("time=") != std::string::npos;
      TimeOfDayDates look_ahead = clock;
      const Result st = batch_text_decide(fd, job, plan, look_ahead);
      linereader_close(fd);
      if (st.ok()) continue;
      if (st.status == Status::kRefused) throw UsageError{st.message};
      throw FileProblem{st.message};
    }

    if (!run.open_log()) return run.status();
    std::string abandoned_list;
    for (std::size_t i = 0; i < sources.size(); ++i) {
      const Source& s = sources[i];
      if (interrupted()) break;
      if (!s.list.empty() && s.list == abandoned_list) continue;
      if (!shown[i].empty()) run.note(s.name + ": " + shown[i]);
      const int fd = open_text_source(s.where());
      if (fd < 0) {
        run.failed("cannot open " + s.where());
        abandoned_list = s.list;
        continue;
      }
      std::string last;
      const bool ok = convert_text(run, fd, job_for(i), s.name, clock, &last);
      linereader_close(fd);
      if (!ok) {
        // As in the window, a text of a list that fails ends that list.
        if (!s.list.empty()) {
          abandoned_list = s.list;
          complain("list " + s.list + ": the entries after " + s.name + " were not converted");
        }
        continue;
      }
      ascii_replacement(run, s, formats[i], last);
    }
    return run.status();
  }

 private:
  // In a list whose name begins with "ASCII" the text is replaced by the
  // chart stored from it, as the window does.
  static void ascii_replacement(Run& run, const Source& s, const FormatSettings& f,
                                const std::string& chart) {
    if (s.list.empty() || run.dry_run() || has_symbol_column(f)) return;
    if (s.list.compare(0, 5, "ASCII") != 0 && s.list.compare(0, 5, "ascii") != 0) return;
    bool replaced = false;
    if (!chart.empty() && run.keep(s.where())) {
      replaced = ascii_replace(s.where().c_str(), chart.c_str()) != 0;
      run.kept(s.where(), replaced);
    }
    run.note(replaced ? s.name + ": replaced by the chart " + chart
                      : s.name + ": the text stays: no complete chart was stored from it alone");
  }

  CommonOptions& common_;
  std::vector<std::string> sources_;
  std::string chart_, type_;
  bool auto_ = false;
};

// ---- investorlink ---------------------------------------------------------------

class InvestorLink : public Command {
 public:
  InvestorLink(CLI::App& app, CommonOptions& common) : common_(common) {
    this->app =
        app.add_subcommand("investorlink",
                           "Convert InvestorLink e-mailed files (991231S.ZIP, 991231F.ZIP or their unpacked "
                           ".STK/.CSF text) into one chart per symbol");
    this->app->add_option("ARCHIVE", sources_, "InvestorLink archives or text files")
        ->type_name("FILE")
        ->required();
    this->app->add_option("--type,-t", type_, "Chart type of new charts (default daily)")
        ->type_name("TYPE")
        ->default_str("daily");
    add_errors_option(this->app, common);
    add_writing_options(this->app, common);
    add_location_options(this->app, common);
  }

  int run() override {
    Run run(common_);
    if (!run.prepare(false)) return run.status();
    const char type = parse_chart_type(type_);
    if (!type)
      throw UsageError{"--type '" + type_ + "': use daily, weekly, monthly or numbered (d, w, m, n)"};
    const std::vector<Source> sources = expand_sources(sources_, false, true);
    // InvestorLink's layout, whatever the saved settings say.
    const FormatSettings layout = investorlink_format();
    if (!run.open_log()) return run.status();

    TimeOfDayDates clock;  // the time-of-day dates of this run
    for (const Source& s : sources) {
      if (interrupted()) break;
      std::string textname = s.name;
      int textfd = -1;
      std::optional<PrivateTemp> tmp;  // the unpacked text, removed afterwards
      if (is_zip_name(s.name.c_str())) {
        textname = investor_text_name(s.name);
        tmp.emplace(textname);
        if (!tmp->ok()) {
          run.failed("cannot make a temporary file for " + s.name);
          continue;
        }
        // Unpacked whole before anything is stored: a damaged or cut-off
        // archive stores nothing.
        const Result unpacked = unpack_investorlink(s.where(), *tmp);
        if (unpacked.status == Status::kFailed) {
          run.failed(s.name + ":" + unpacked.message);
          continue;
        }
        textfd = tmp->release();
        ::lseek(textfd, 0, SEEK_SET);
      } else {
        textfd = open_text_source(s.where());
        if (textfd < 0) {
          run.failed("cannot open " + s.where());
          continue;
        }
      }
      BatchTextJob job;
      job.format = layout;
      job.textname = textname;
      job.shown = s.name;
      job.type = type;
      if (file_size(textfd) == 0) {
        run.note(s.name + ": no prices in it; nothing stored");
        run.skipped();
        linereader_close(textfd);
        continue;
      }
      convert_text(run, textfd, job, s.name, clock);
      linereader_close(textfd);
    }
    return run.status();
  }

 private:
  CommonOptions& common_;
  std::vector<std::string> sources_;
  std::string type_ = "daily";
};

}  // namespace

std::unique_ptr<Command> add_text_to_chart(CLI::App& app, CommonOptions& common) {
  return std::make_unique<TextToChart>(app, common);
}
std::unique_ptr<Command> add_investorlink(CLI::App& app, CommonOptions& common) {
  return std::make_unique<InvestorLink>(app, common);
}

}  // namespace mc
