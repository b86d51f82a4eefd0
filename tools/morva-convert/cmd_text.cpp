// text-to-chart and investorlink: text price files into charts.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <iostream>
#include <optional>

#include "chartdata/bar_checks.h"
#include "chartdata/chartfile.h"
#include "chartdata/linereader.h"
#include "chartdata/osshims.h"
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

// What a chart's line says: "merged into PATH" or "new chart PATH (TYPE)",
// then its bars and the lines of a date given twice.
std::string chart_said(const ChartPlan& c) {
  std::string line = c.exists ? "merged into " + c.path
                              : "new chart " + c.path + " (" + type_word(c.type) + ")";
  line += ": " + std::to_string(c.bars.size()) + (c.bars.size() == 1 ? " bar, " : " bars, ") +
          std::to_string(c.bars.front().bar.date) + " to " + std::to_string(c.bars.back().bar.date);
  if (c.duplicates)
    line += ", " + std::to_string(c.duplicates) + (c.duplicates == 1 ? " line" : " lines") +
            " for a date given again later (the later line kept)";
  return line;
}

// The reports of a conversion: skipped lines counted and progress while
// the text is read, each chart said and the copies of the charts settled
// as it is stored.
class StoreHooks : public StoreReport {
 public:
  StoreHooks(Run& run, int fd, Progress& progress, std::string shown)
      : run_(run), fd_(fd), progress_(progress), size_(file_size(fd)), shown_(std::move(shown)) {}

  void bad_name_date() override { ++skipped; }
  void bad_value() override { ++skipped; }
  void name_refused(const std::string& name, const std::string& why) override {
    ++failed;
    progress_.done();
    run_.failed(shown_ + ": cannot store the chart " + printable_name(name) + ": " + why);
  }
  void early_date() override { ++early; }
  void bar_faults(const BarRecord& b, unsigned) override {
    // Prices the layout found not given (a column of zeros) are judged as
    // the others say.
    BarRecord c = b;
    if (!judged[0]) c.open = judged[3] ? c.close : judged[1] ? c.high : c.low;
    if (!judged[3]) c.close = c.open;
    if (!judged[1]) c.high = std::max(c.open, c.close);
    if (!judged[2]) c.low = std::min(c.open, c.close);
    tally.add(c);
  }
  bool judged[4] = {true, true, true, true};
  bool stop_between_charts() override { return interrupted(); }
  void progress(const BarRecord&) override {
    // The reader takes the text in blocks: its position is near enough.
    if (size_ > 0) progress_.show(static_cast<double>(linereader_tell(fd_)) / static_cast<double>(size_));
  }
  void chart_start(const ChartPlan& c) override { current_ = &c; }
  void chart_done(const std::string& file, int ok) override {
    if (current_) {
      const std::string& path = current_->path;
      run_.kept(path, ok && base_name(path) == file);
      if (ok) {
        progress_.done();
        run_.note(shown_ + ": " + chart_said(*current_));
      }
    }
    if (!ok) {
      ++failed;
      progress_.done();
      run_.failed("cannot store the chart " + file + "; it was left as it was");
    }
    current_ = nullptr;
  }

  long skipped = 0, early = 0, failed = 0;
  BarTally tally;  // stored bars that break the bar rules

 private:
  Run& run_;
  int fd_;
  Progress& progress_;
  long long size_;
  std::string shown_;
  const ChartPlan* current_ = nullptr;
};

// The read-only pass: skipped lines logged, the charts a store will touch
// (their copies made first with --backup), and the dry run's description.
class Look : public BatchTextScan {
 public:
  Look(Run& run, std::string shown) : run_(run), shown_(std::move(shown)) {}

  // The text was read in its plain form: logged lines are shown as the
  // file itself holds them.
  void original(const std::string& path) {
    original_fd_ = ::open(path.c_str(), O_RDONLY);
    if (original_fd_ >= 0) locator_.emplace(original_fd_);
  }
  ~Look() override {
    locator_.reset();
    if (original_fd_ >= 0) ::close(original_fd_);
  }
  std::string shown_line(long number, std::string_view text) const {
    return locator_ && locator_->ok() ? locator_->text_of(number) : std::string(text);
  }

  void line(long number, std::string_view text_in, const ParsedLine& what) override {
    const std::string text = what.kind == LineKind::kBar || what.kind == LineKind::kEarly ? std::string()
                                                                                          : shown_line(number, text_in);
    if (what.kind == LineKind::kBadDate) {
      run_.log(shown_, number, "bad date, and no date in the file name", std::string(text));
    } else if (what.kind == LineKind::kBadValue) {
      run_.log(shown_, number, "a value that cannot be stored as written (nan, inf, out of range, "
                               "text) or no number",
               std::string(text));
    }
  }
  void run(const ChartPlan& c) override {
    if (!run_.dry_run()) return;
    if (!c.refused.empty()) {
      std::cout << shown_ << ": would not store the chart " << printable_name(c.name) << ": " << c.refused
                << '\n';
      return;
    }
    std::cout << shown_ << ": " << chart_said(c) << '\n';
    std::vector<BarRecord> shown;
    for (std::size_t i = 0; i < c.bars.size() && i < kDryRunBars; ++i) shown.push_back(c.bars[i].bar);
    print_bars(shown, kDryRunBars);
    if (c.bars.size() > kDryRunBars) std::cout << "  ... " << c.bars.size() - kDryRunBars << " more\n";
  }

 private:
  Run& run_;
  std::string shown_;
  int original_fd_ = -1;
  std::optional<LineLocator> locator_;
};

// Converts one text open as fd; returns false when a chart could not be
// stored.  `last` receives the path of the last chart written.
bool convert_text(Run& run, int fd, const BatchTextJob& job, const std::string& shown_name,
                  TimeOfDayDates& clock, std::string* last = nullptr) {
  Progress progress(base_name(shown_name), run.options().quiet);
  BatchTextPlan plan;
  StoreHooks hooks(run, fd, progress, shown_name);
  std::copy(job.judged, job.judged + 4, hooks.judged);
  // The text is read once, into the plan; the dry run reads a copy of the
  // run's time-of-day dates.
  const TimeOfDayDates before = clock;
  if (const Result planned = batch_text_decide(fd, job, plan, clock, &hooks); !planned.ok()) {
    clock = before;
    progress.done();
    run.failed(planned.message);
    return false;
  }
  progress.done();

  // A look when it is needed: for the dry run and the log.
  Look look(run, shown_name);
  if (!job.original.empty()) look.original(job.original);
  if (run.dry_run() || run.logging()) batch_text_scan(fd, job, plan, look, before);
  long bars = 0;
  for (const ChartPlan& c : plan.charts.charts) bars += static_cast<long>(c.bars.size());
  if (run.dry_run()) clock = before;  // nothing stored: nothing read
  const long skipped = hooks.skipped, early = hooks.early;
  bool ok = true;
  std::string last_path;
  long written = 0;
  if (!run.dry_run()) {
    // Copies first (--backup) of every chart the store will change.
    for (const ChartPlan& c : plan.charts.charts)
      if (!c.bars.empty() && c.refused.empty() && !run.keep(c.path)) {
        clock = before;
        return false;
      }
    std::string stored_last;
    const Result r = batch_text_store(fd, job, plan, hooks, clock, &stored_last);
    progress.done();
    ok = r.status != Status::kRefused && r.status != Status::kFailed && hooks.failed == 0;
    if (hooks.tally.broken() > 0 && !job.bars_judged_before) {
      // Stored as told; the run says so and does not end as clean.
      complain(shown_name + ": stored as told, but " + hooks.tally.summary() +
               " (give --auto, or check --order)");
      run.skipped();
    }
    written = r.count;
    if (written > 0) last_path = stored_last;
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
                       " written";
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
        ->add_option("--chart,-c,--to,-o", chart_,
                     "Chart name when the field order has no S column (not for list entries)")
        ->type_name("NAME");
    this->app
        ->add_option("--type,-t", type_,
                     "Chart type for new charts whose own dates do not show a daily chart: daily, "
                     "weekly, monthly or numbered (charts found keep their type)")
        ->type_name("TYPE");
    this->app
        ->add_option("--chart-dir", chart_dir_,
                     "Folder of new charts (charts found in the data directory are merged where they are)")
        ->type_name("DIR");
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
    // Where the order of the settings came from, for the messages that refuse it.
    const std::string settings_from = !common_.order.empty() ? std::string("from --order")
                                      : run.saved_settings()  ? std::string("from the saved settings ") + kDefaultsFileName
                                                              : std::string("built in");
    if (has_symbol_column(run.format()) && !chart_.empty() && !(auto_ && common_.order.empty()))
      throw UsageError{"--chart cannot be used with the order " + order_text(run.format()) + " (" +
                       settings_from + "): charts are named after the symbols of the S column"};
    // New charts never go elsewhere than the folder asked for.
    if (!chart_dir_.empty() && !run.dry_run()) {
      while (chart_dir_.size() > 1 && chart_dir_.back() == '/') chart_dir_.pop_back();
      struct stat st {};
      if (::stat(chart_dir_.c_str(), &st) != 0) sys_mkdir(chart_dir_.c_str());
      if (::stat(chart_dir_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw FileProblem{"--chart-dir " + chart_dir_ + ": not a folder, and it cannot be made"};
    }
    const std::vector<Source> sources = expand_sources(sources_, true, true);

    // The layout of each text: the settings, or what --auto finds under the
    // options given.
    std::vector<FormatSettings> formats(sources.size(), run.format());
    std::vector<bool> commas(sources.size(), common_.decimal_comma);
    std::vector<std::string> shown(sources.size());
    std::vector<std::vector<std::string>> notes(sources.size());
    std::vector<std::array<bool, 4>> judged(sources.size(), {true, true, true, true});
    rewritten_.assign(sources.size(), -1);
    for (std::size_t i = 0; i < sources.size() && auto_; ++i) {
      const Source& s = sources[i];
      const int fd = ::open(s.where().c_str(), O_RDONLY);
      if (fd < 0) throw FileProblem{"cannot read " + s.where() + ": " + std::strerror(errno)};
      const TextLayout layout = detect_layout(fd, layout_hints(common_, run.format()));
      if (!layout.ok) {
        ::close(fd);
        throw UsageError{s.name + ": " + layout.problem};
      }
      if (layout.rewrite) {
        // Read once by the layout into the plain form, which the store then
        // reads as it reads any text; nothing is written before that.
        const int plain = ::memfd_create("morva-text", MFD_CLOEXEC);
        RewriteTally tally;
        if (plain < 0 || !rewrite_text(fd, layout, plain, tally)) {
          ::close(fd);
          if (plain >= 0) ::close(plain);
          throw FileProblem{"cannot read " + s.where() + ": " + std::strerror(errno)};
        }
        rewritten_[i] = plain;
        if (tally.missing_volume)
          notes[i].push_back(s.name + ": " + std::to_string(tally.missing_volume) +
                             (tally.missing_volume == 1 ? " line has" : " lines have") +
                             " no volume: stored with volume 0");
        if (tally.missing_price)
          notes[i].push_back(s.name + ": " + std::to_string(tally.missing_price) +
                             (tally.missing_price == 1 ? " line lacks" : " lines lack") +
                             " a price (N/A, -, null or empty): skipped");
      }
      ::close(fd);
      if (layout.close_only) notes[i].push_back(s.name + ": only a close in it: stored as open = high = low = close");
      std::copy(layout.judged, layout.judged + 4, judged[i].begin());
      apply_layout(layout, common_, formats[i]);
      commas[i] = !layout.rewrite && (commas[i] || layout.decimal_comma);
      shown[i] = layout.summary();
      if (has_symbol_column(formats[i]) && !chart_.empty())
        throw UsageError{s.name + ": --chart cannot be used: its charts are named after the symbols of its " +
                         "S column (order " + order_text(formats[i]) + ", found by --auto)"};
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
      job.chart_dir = chart_dir_;
      job.order_from = !common_.order.empty() ? "from --order"
                       : auto_                ? "found by --auto"
                                              : settings_from;
      std::copy(judged[i].begin(), judged[i].end(), job.judged);
      if (rewritten_[i] >= 0) job.original = s.where();
      return job;
    };
    TimeOfDayDates clock;  // the time-of-day dates of this run

    // Every text is looked at before anything is written, so that a missing
    // answer stops the command with nothing changed.
    for (std::size_t i = 0; i < sources.size(); ++i) {
      const Source& s = sources[i];
      const int fd = open_at(i, s.where());
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
      for (const std::string& n : notes[i]) run.note(n);
      const int fd = open_at(i, s.where());
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
    for (int fd : rewritten_)
      if (fd >= 0) ::close(fd);
    return run.status();
  }

 private:
  // The text of source i: its plain form when it was read by its layout.
  int open_at(std::size_t i, const std::string& where) const {
    if (i < rewritten_.size() && rewritten_[i] >= 0) {
      const int fd = ::dup(rewritten_[i]);
      if (fd >= 0) ::lseek(fd, 0, SEEK_SET);
      return fd;
    }
    return open_text_source(where);
  }

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
  std::string chart_, type_, chart_dir_;
  bool auto_ = false;
  std::vector<int> rewritten_;  // plain forms of the texts read by their layout (-1: none)
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
      job.bars_judged_before = true;
      if (file_size(textfd) == 0) {
        run.note(s.name + ": no prices in it; nothing stored");
        run.skipped();
        linereader_close(textfd);
        continue;
      }
      // A file mostly of bars that break the bar rules is not InvestorLink's.
      const Result checked = check_investorlink(textfd, textname);
      if (checked.status == Status::kRefused) {
        run.mostly_broken(s.name, "an InvestorLink file", "lines", checked.bar_check);
        linereader_close(textfd);
        continue;
      }
      if (convert_text(run, textfd, job, s.name, clock) && !run.dry_run())
        run.bars_broken(s.name, checked.bar_check);
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
