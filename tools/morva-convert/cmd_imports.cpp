// techtools and quickquote: vendor files into charts.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <optional>

#include "chartdata/chartfile.h"
#include "chartdata/linereader.h"
#include "cli.h"
#include "tools/morva-convert/batch_lines.h"
#include "tools/morva-convert/batch_quotes.h"
#include "convert/quickquote.h"
#include "convert/techtools.h"

namespace mc {

namespace {

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

bool same_file(const std::string& a, const std::string& b) {
  struct stat x {
  }, y{};
  if (::stat(a.c_str(), &x) != 0 || ::stat(b.c_str(), &y) != 0) return false;
  return x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

// The bars a TechTools file gives, in date order as the conversion
// writes them, and how many records were sorted in or merged.
struct TechRead {
  bool header = false;
  std::vector<BarRecord> bars;
  TechOrder order;
};

TechRead read_techtools(const std::string& path) {
  TechRead out;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return out;
  unsigned char head[kTechHeaderSize], rec[kTechRecordSize];
  if (std::fread(head, 1, sizeof head, f) == sizeof head) {
    out.header = true;
    const int type = static_cast<std::int16_t>(head[0] | head[1] << 8);
    while (std::fread(rec, 1, sizeof rec, f) == sizeof rec) out.bars.push_back(techtools_bar(type, rec));
    out.order = order_tech_bars(out.bars);
  }
  std::fclose(f);
  return out;
}

class TechProgress : public TechToolsListener {
 public:
  TechProgress(Progress& bar, long total) : bar_(bar), total_(total) {}
  void bar_written(long count, const BarRecord&) override {
    if (total_ > 0 && count % 64 == 0) bar_.show(static_cast<double>(count) / static_cast<double>(total_));
  }
  void sorted(long out_of_order, long same_date) override { order = {out_of_order, same_date}; }

  TechOrder order;  // the records the conversion sorted in or merged

 private:
  Progress& bar_;
  long total_;
};

// ---- techtools ---------------------------------------------------------------

class TechTools : public Command {
 public:
  TechTools(CLI::App& parent, CommonOptions& common) : common_(common) {
    app = parent.add_subcommand("techtools", "Convert TechTools price files into new daily charts");
    app->add_option("SOURCE", sources_, "TechTools files; a name holding '!' is a list of names")
        ->type_name("FILE")
        ->required();
    app->add_option("--to,-o", to_,
                    "Chart to write (replaced whole); with several sources or a list, a directory that "
                    "receives charts named after the sources (without extension)")
        ->type_name("NAME")
        ->required();
    add_errors_option(app, common);
    add_writing_options(app, common);
    add_location_options(app, common);
  }

  int run() override {
    Run run(common_);
    if (!run.prepare(false)) return run.status();
    const std::vector<Source> sources = expand_sources(sources_, true, true);
    bool several = sources.size() > 1;
    for (const Source& s : sources) several = several || !s.list.empty();
    std::vector<std::string> targets;
    for (const Source& s : sources) {
      std::string file = base_name(s.name);
      file = file.substr(0, file.find('.'));
      const std::string target = target_for(to_, file, several);
      if (target == s.name || target == s.firstname() || same_file(target, s.where()))
        throw UsageError{"the chart " + target + " would be the source itself; give another --to"};
      targets.push_back(target);
    }
    if (!run.open_log()) return run.status();

    for (std::size_t i = 0; i < sources.size(); ++i) {
      if (interrupted()) break;
      const Source& s = sources[i];
      const std::string& target = targets[i];
      const TechRead read = read_techtools(s.where());
      if (run.dry_run()) {
        if (!read.header) {
          run.failed(s.name + " is not a TechTools file: it is shorter than its 16-byte header");
          continue;
        }
        std::cout << target << ": " << read.bars.size() << " daily bars from " << s.name;
        if (!read.bars.empty())
          std::cout << ", " << read.bars.front().date << " to " << read.bars.back().date;
        std::cout << (exists(target) ? " (replaces the file)" : " (new chart)") << '\n';
        print_bars(read.bars, kDryRunBars);
        if (read.order.out_of_order || read.order.same_date)
          std::cout << s.name << ": would be sorted by date (" << read.order.out_of_order
                    << " records out of order, " << read.order.same_date << " of a repeated date)\n";
        continue;
      }
      const int fd = open_text_source(s.where());
      if (fd < 0) {
        run.failed("cannot open " + s.where());
        continue;
      }
      if (!run.keep(target)) {
        ::close(fd);
        continue;
      }
      Progress bar(base_name(s.name), common_.quiet);
      TechProgress progress(bar, static_cast<long>(read.bars.size()));
      const Result r = techtools_convert(TechToolsRequest{fd, target}, progress);
      ::close(fd);
      bar.done();
      run.kept(target, r.ok());
      const TechOrder& o = progress.order;
      if (r.ok()) {
        run.note(s.name + ": " + std::to_string(r.count) + " daily bars written to " + target +
                 (o.out_of_order || o.same_date
                      ? ", sorted by date (" + std::to_string(o.out_of_order) + " records out of order, " +
                            std::to_string(o.same_date) + " of a repeated date)"
                      : std::string()));
        run.bars_broken(s.name, r.bar_check);
      } else if (r.status == Status::kRefused && r.bar_check.mostly_broken())
        run.mostly_broken(s.name, "a TechTools file", "records", r.bar_check);
      else if (r.status == Status::kRefused)
        run.failed(s.name + " is not a TechTools file: it is shorter than its 16-byte header");
      else if (r.message == kTechReadFailed)
        run.failed("cannot read " + s.where() + "; nothing stored");
      else if (r.message.starts_with(kDiskFullLine))
        run.failed("cannot create " + target);
      else
        run.failed("cannot write " + target + "; it was left as it was");
    }
    return run.status();
  }

 private:
  CommonOptions& common_;
  std::vector<std::string> sources_;
  std::string to_;
};

// ---- quickquote -----------------------------------------------------------------

class QuoteListener : public QuickQuoteListener {
 public:
  QuoteListener(Run& run, Progress& bar, int fd) : run_(run), bar_(bar), fd_(fd), size_(file_size(fd)) {}
  void progress(float) override { show(); }
  void record_read() override { ++records; }
  void chart_done(const std::string& name, bool ok) override {
    run_.kept(name, ok);
    show();
    if (!ok) {
      bar_.done();
      run_.failed("cannot store " + name + "; the chart was left as it was");
    }
  }
  void chart_refused(const std::string& name) override {
    bar_.done();
    complain("skipped the chart " + name + ": it would be the quote file itself");
    run_.skipped();
  }
  bool stop_requested() override { return interrupted(); }

  long records = 0;  // records read

 private:
  void show() {
    if (size_ > 0) bar_.show(static_cast<double>(linereader_tell(fd_)) / static_cast<double>(size_));
  }
  Run& run_;
  Progress& bar_;
  int fd_;
  long long size_;
};

class QuickQuote : public Command {
 public:
  QuickQuote(CLI::App& parent, CommonOptions& common) : common_(common) {
    app = parent.add_subcommand(
        "quickquote",
        "Add one day's bar per symbol from Telerate quick-quote files (long format) to the charts "
        "named after the symbols");
    app->add_option("SOURCE", sources_, "Quote files; a name holding '!' is a list of names")
        ->type_name("FILE")
        ->required();
    app->add_option("--date,-d", date_, "The date the quotes are for, YYMMDD")
        ->type_name("YYMMDD")
        ->required();
    add_errors_option(app, common);
    add_writing_options(app, common);
    add_location_options(app, common);
  }

  int run() override {
    Run run(common_);
    if (!run.prepare(false)) return run.status();
    const std::int32_t date = parse_update_date(date_);
    if (date == 0) throw UsageError{"--date '" + date_ + "': give the date as YYMMDD or YYYYMMDD, e.g. 991231"};
    const std::vector<Source> sources = expand_sources(sources_, true, true);
    for (const Source& s : sources) {
      const int fd = ::open(s.where().c_str(), O_RDONLY);
      if (fd < 0) throw FileProblem{"cannot read " + s.where() + ": " + std::strerror(errno)};
      std::string first;
      const int found = first_quote_name(fd, &first);
      linereader_close(fd);
      if (!found) throw FileProblem{s.name + ": no quotes in it"};
      if (first == s.name || same_file(first, s.where()))
        throw UsageError{s.name + ": its first chart " + first + " would be the quote file itself"};
    }
    if (!run.open_log()) return run.status();

    for (const Source& s : sources) {
      if (interrupted()) break;
      const int fd = open_text_source(s.where());
      if (fd < 0) {
        run.failed("cannot open " + s.where());
        continue;
      }
      const QuoteScan scan = scan_quotes(fd, date);
      if (!scan.unnamed.empty() || !scan.unstorable.empty()) {
        run.skipped(static_cast<long>(scan.unnamed.size() + scan.unstorable.size()));
        if (run.logging()) {
          LineLocator where(fd);
          for (off_t pos : scan.unnamed) {
            const long line = where.line_at(pos);
            run.log(s.name, line, "record skipped: its symbol makes no chart name", where.text_of(line));
          }
          for (off_t pos : scan.unstorable) {
            const long line = where.line_at(pos);
            run.log(s.name, line, "record skipped: a value a chart cannot hold", where.text_of(line));
          }
        }
      }
      if (run.dry_run()) {
        for (const QuoteRun& q : scan.runs) {
          std::cout << q.name << ": " << q.records << " record" << (q.records == 1 ? "" : "s")
                    << (q.refused        ? " (skipped: the chart would be the quote file)"
                        : exists(q.name) ? " (merged into the chart)"
                                         : " (new daily chart)")
                    << '\n';
          if (!q.refused) print_bars({q.bar}, 1);
        }
        linereader_close(fd);
        continue;
      }
      bool copies = true;
      for (const QuoteRun& q : scan.runs)
        if (!q.refused && !run.keep(q.name)) copies = false;
      if (!copies) {
        linereader_close(fd);
        continue;
      }
      std::string first;
      first_quote_name(fd, &first);
      Progress bar(base_name(s.name), common_.quiet);
      QuoteListener listener(run, bar, fd);
      const Result r = quickquote_import(QuoteRequest{fd, date, first}, listener);
      linereader_close(fd);
      bar.done();
      if (r.status == Status::kRefused) {
        run.mostly_broken(s.name, "a quick-quote file", "quotes", r.bar_check);
        continue;
      }
      run.note(s.name + ": " + std::to_string(r.count) + " charts updated for " + std::to_string(date) +
               " from " + std::to_string(listener.records) + " records" +
               (r.failed ? ", " + std::to_string(r.failed) + " failed" : std::string()) +
               (r.passed_over ? ", " + std::to_string(r.passed_over) + " records skipped" : std::string()));
      run.bars_broken(s.name, r.bar_check);
    }
    return run.status();
  }

 private:
  CommonOptions& common_;
  std::vector<std::string> sources_;
  std::string date_;
};

}  // namespace

std::unique_ptr<Command> add_techtools(CLI::App& app, CommonOptions& common) {
  return std::make_unique<TechTools>(app, common);
}
std::unique_ptr<Command> add_quickquote(CLI::App& app, CommonOptions& common) {
  return std::make_unique<QuickQuote>(app, common);
}

}  // namespace mc
