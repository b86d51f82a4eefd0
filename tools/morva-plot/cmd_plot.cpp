// plot: pictures of charts as PNG, SVG or PDF.  Reads only; every picture
// replaces its file only once it is complete.  This is the picture
// program's one subcommand; morva-convert hands its `plot` calls here.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "chartdata/safe_replace.h"
#include "tools/morva-convert/cli.h"
#include "tools/morva-convert/plot_command.h"
#include "plot/chart_plot.h"
#include "convert/chart_check.h"

namespace mc {

namespace {

bool is_dir(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// The chart type letter of a chart's header (0 when it has none).
int type_letter(const std::string& path) {
  std::FILE* f = fopen_regular(path);
  if (!f) return 0;
  const int c = std::fseek(f, static_cast<long>(kHeaderTypeOffset), SEEK_SET) == 0 ? std::fgetc(f) : 0;
  std::fclose(f);
  return c == EOF ? 0 : c;
}

// "WxH", each side 100 to 10000.
bool parse_size(const std::string& s, int* w, int* h) {
  const std::size_t x = s.find_first_of("xX");
  if (x == std::string::npos || x == 0 || x + 1 == s.size()) return false;
  const std::string a = s.substr(0, x), b = s.substr(x + 1);
  if (a.find_first_not_of("0123456789") != std::string::npos ||
      b.find_first_not_of("0123456789") != std::string::npos || a.size() > 5 || b.size() > 5)
    return false;
  *w = std::atoi(a.c_str());
  *h = std::atoi(b.c_str());
  return *w >= 100 && *h >= 100 && *w <= 10000 && *h <= 10000;
}

// A date yyyymmdd, or a bar number of a numbered chart: digits only.
bool parse_bound(const std::string& s, std::int64_t* v) {
  if (s.empty()) return true;
  if (s.size() > 9 || s.find_first_not_of("0123456789") != std::string::npos) return false;
  *v = std::atoll(s.c_str());
  return true;
}

std::string list_bad_bars(const plot::Chart& chart, const std::vector<BadBar>& bad) {
  constexpr std::size_t kListed = 10;
  std::string s;
  for (std::size_t i = 0; i < bad.size() && i < kListed; ++i) {
    const BadBar& b = bad[i];
    s += (i ? "; " : "") + std::string("bar ") + std::to_string(b.index + 1) + " (" +
         std::to_string(chart.bars[b.index].date) + ") " + bar_fault_text(b.faults);
  }
  if (bad.size() > kListed) s += "; and " + std::to_string(bad.size() - kListed) + " more";
  return s;
}

// What the chart check finds beyond the bars a picture marks (their order
// and values): the chart's structure and suspicious prices, each kind with
// its count and first bar.  "" when nothing.
std::string more_findings(const std::string& chart) {
  ChartImage image;
  std::vector<unsigned char> buffer;
  if (!load_chart(chart, image, buffer).empty()) return "";
  std::vector<std::pair<CheckKind, long>> kinds;  // kind, count
  std::vector<const Finding*> firsts;
  const std::vector<Finding> findings = check_chart(image, chart, CheckLimits{});
  for (const Finding& f : findings) {
    const std::string group = check_kind_group(f.kind);
    if (group == "order" || group == "values") continue;
    std::size_t i = 0;
    while (i < kinds.size() && kinds[i].first != f.kind) ++i;
    if (i == kinds.size()) {
      kinds.push_back({f.kind, 0});
      firsts.push_back(&f);
    }
    ++kinds[i].second;
  }
  std::string out;
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    const Finding& f = *firsts[i];
    out += (i ? ", " : "") + std::to_string(kinds[i].second) + " " + check_kind_name(kinds[i].first);
    if (f.bar) out += std::string(kinds[i].second > 1 ? " (first " : " (") + "bar " + std::to_string(f.bar) + ", " + std::to_string(f.date) + ")";
  }
  return out;
}

class Plot : public Command {
 public:
  Plot(CLI::App& parent, CommonOptions& common) : common_(common) {
    app = add_plot_options(parent, common, options_);
  }

  int run() override {
    PlotOptions& p = options_;
    // --to names the output, as in every subcommand; digits there are the
    // last date of earlier versions, which keeps working.
    bool to_was_date = false;
    if (!p.to.empty()) {
      if (p.to.find_first_not_of("0123456789") == std::string::npos) {
        if (!p.until.empty()) throw UsageError{"--to " + p.to + " and --until " + p.until + ": give --until only"};
        p.until = p.to;
        to_was_date = true;
      } else {
        if (!p.output.empty()) throw UsageError{"-o " + p.output + " and --to " + p.to + ": give one of them"};
        p.output = p.to;
      }
    }
    if (p.output.empty()) throw UsageError{"-o (or --to) is required: the picture or a directory"};
    const char* const last_word = to_was_date ? "--to " : "--until ";
    Run run(common_);
    if (!run.prepare(false)) return run.status();
    plot::Options o;
    if (!p.size.empty() && !parse_size(p.size, &o.width, &o.height))
      throw UsageError{"--size '" + p.size +
                       "': give width x height in pixels, e.g. 1200x700, each 100 to 10000"};
    if (!parse_bound(p.from, &o.from))
      throw UsageError{"--from '" + p.from + "': give a date yyyymmdd (a bar number for a numbered chart)"};
    if (!parse_bound(p.until, &o.to))
      throw UsageError{last_word + ("'" + p.until) + "': give a date yyyymmdd (a bar number for a numbered chart)"};
    if (o.from && o.to && o.from > o.to)
      throw UsageError{"--from " + p.from + " is after " + last_word + p.until};
    o.log = p.log;
    o.stop = [] { return interrupted(); };
    plot::Format named{};
    const bool has_format = !p.format.empty();
    if (has_format && !plot::format_of_name("." + p.format, &named))
      throw UsageError{"--format '" + p.format + "': use png, svg or pdf"};

    // Where each picture goes, all decided before anything is drawn.
    const bool several = p.charts.size() > 1;
    const bool into_dir = is_dir(p.output);
    if (several && !into_dir)
      throw UsageError{"-o " + p.output + ": with several charts -o must name an existing directory"};
    plot::Format single{};
    if (!into_dir) {
      if (!plot::format_of_name(p.output, &single))
        throw UsageError{"-o " + p.output +
                         ": give a name ending in .png, .svg or .pdf, or an existing directory"};
      if (has_format && single != named)
        throw UsageError{"--format " + p.format + " does not match -o " + p.output};
    }
    const std::vector<Source> sources = expand_sources(p.charts, false);
    const plot::Format format = into_dir ? (has_format ? named : plot::Format::kPng) : single;
    std::vector<std::string> targets;
    for (const Source& s : sources) {
      const std::string target = into_dir ? (p.output.back() == '/' ? p.output : p.output + "/") +
                                                base_name(s.name) + "." + plot::extension_of(format)
                                          : p.output;
      // A picture never replaces a chart, nor another picture of this run.
      for (const Source& other : sources)
        if (same_file(target, other.name))
          throw UsageError{target + " would replace the chart " + other.name};
      for (const std::string& t : targets)
        if (t == target) throw UsageError{"two charts would both be drawn to " + target};
      targets.push_back(target);
      // A calendar chart is cut by dates of eight digits; a numbered one by bar numbers.
      if (type_letter(s.name) != 'N')
        for (const std::string* bound : {&p.from, &p.until})
          if (!bound->empty() && bound->size() != 8)
            throw UsageError{(bound == &p.from ? "--from " : last_word) + *bound + ": " + s.name +
                             " is dated: give a date yyyymmdd"};
    }
    if (to_was_date) complain("--to " + p.to + " is read as --until " + p.to + ": --to names the picture now");
    for (std::size_t i = 0; i < sources.size(); ++i) {
      if (interrupted()) break;
      const Source& s = sources[i];
      const std::string& target = targets[i];
      plot::Chart chart;
      chart.name = base_name(s.name);
      const std::string why = plot::read_chart(s.name, chart);
      if (!why.empty()) {
        run.failed(why == "it is shorter than a chart header" ? s.name + " is not a chart: " + why
                   : why.rfind("it holds ", 0) == 0 ? s.name + ": " + why + "; nothing drawn"
                                                              : "cannot read " + s.name + ": " + why);
        continue;
      }
      if (interrupted()) break;
      const plot::Layout layout = plot::lay_out(chart, o);
      if (interrupted()) break;
      if (layout.shown.empty()) {
        complain(s.name + ": no bars" + (o.from || o.to ? " in the range asked" : "") + "; nothing drawn");
        run.skipped();
        continue;
      }
      if (const std::string err = plot::draw(chart, layout, o, format, target); !err.empty()) {
        run.failed("cannot write " + target + ": " + err);
        continue;
      }
      for (const std::string& note : layout.notes) complain(s.name + ": " + note);
      if (!layout.bad.empty()) {
        complain(s.name + ": " + std::to_string(layout.bad.size()) +
                 (layout.bad.size() == 1 ? " bad bar" : " bad bars") +
                 ", marked where shown: " + list_bad_bars(chart, layout.bad));
        run.skipped();
      }
      if (const std::string more = more_findings(s.name); !more.empty()) {
        complain(s.name + ": " + more + "; morva-convert check " + s.name +
                 " lists them with the commands that mend them");
        run.skipped();
      }
      run.note(target + ": " + std::to_string(layout.shown.size()) +
               (layout.shown.size() == 1 ? " bar of " : " bars of ") + s.name);
    }
    return run.status();
  }

 private:
  CommonOptions& common_;
  PlotOptions options_;
};

}  // namespace

std::unique_ptr<Command> add_plot(CLI::App& app, CommonOptions& common) {
  return std::make_unique<Plot>(app, common);
}

}  // namespace mc
