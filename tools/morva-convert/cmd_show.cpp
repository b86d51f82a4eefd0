// show: charts' headers and bars as text, with what the chart check finds
// in them.  Reads only; an old chart is shown as it is stored.
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <iostream>

#include <algorithm>

#include "chartdata/bar_checks.h"
#include "convert/chart_check.h"
#include "chartdata/chartfile.h"
#include "chartdata/safe_replace.h"
#include "cli.h"

namespace mc {

namespace {

const char* type_name(unsigned char t) { return chart_type_word(t); }

// The findings of the chart check in words, at most kShown of each kind.
std::vector<std::string> problems_of(const ChartImage& image, const std::string& chart) {
  constexpr long kShown = 5;
  std::vector<std::string> out;
  long seen[kCheckKinds] = {};
  const std::vector<Finding> findings = check_chart(image, chart, CheckLimits{});
  for (const Finding& f : findings) {
    const int k = static_cast<int>(f.kind);
    if (++seen[k] > kShown) continue;
    std::string line = f.bar ? "bar " + std::to_string(f.bar) + " (" + std::to_string(f.date) + ") " : "";
    line += f.detail + " [" + check_kind_name(f.kind) + "]";
    out.push_back(line);
  }
  for (int k = 0; k < kCheckKinds; ++k)
    if (seen[k] > kShown)
      out.push_back(std::to_string(seen[k] - kShown) + " more [" + check_kind_name(static_cast<CheckKind>(k)) +
                    "]");
  if (!findings.empty())
    out.push_back("morva-convert check " + chart + " lists them all with the commands that mend them");
  return out;
}

class Show : public Command {
 public:
  Show(CLI::App& parent, CommonOptions& common) : common_(common) {
    app =
        parent.add_subcommand("show", "Print a chart's header and bars as text, and what looks wrong in it");
    app->add_option("CHART", charts_, "The charts")->type_name("CHART")->required();
    app->add_option("--first", first_, "Print only the first N bars")->type_name("N");
    app->add_option("--last", last_, "Print only the last N bars")->type_name("N");
    add_location_options(app, common);
  }

  int run() override {
    Run run(common_);
    if (!run.prepare(false)) return run.status();
    if (first_ < 0 || last_ < 0) throw UsageError{"--first and --last take a number of bars, 0 or more"};
    int status = kOk;
    for (std::size_t i = 0; i < charts_.size(); ++i) {
      if (interrupted()) break;
      if (i) std::cout << '\n';
      const int s = show(charts_[i]);
      if (s == kFileFailure && charts_.size() == 1) return s;
      status = std::max(status, s);
    }
    return status;
  }

 private:
  // One chart; a file that is no chart is refused as one, never read as bars.
  int show(const std::string& chart) {
    ChartImage image;
    std::vector<unsigned char> buffer;
    bool unreadable = false;
    const std::string why = load_chart(chart, image, buffer, &unreadable);
    if (unreadable) {
      const std::string message = "cannot read " + absolute_here(chart) + ": " + why;
      if (charts_.size() == 1) throw FileProblem{message};
      complain(message);
      return kFileFailure;
    }
    if (!why.empty()) {
      const std::string message = chart + " is not a chart: " +
                                  (why == "it is not a chart" ? std::string("no chart header at its start") : why);
      if (charts_.size() == 1) throw FileProblem{message};
      complain(message);
      return kFileFailure;
    }
    const std::vector<BarRecord>& bars = image.bars;
    const std::size_t trailing = image.trailing;
    const unsigned char* header = image.header;
    const unsigned char type = header[kHeaderTypeOffset];
    const std::int32_t hdate = static_cast<std::int32_t>(get_le32(header + kHeaderDateOffset));
    std::cout << "chart:       " << chart << '\n';
    std::cout << "size:        " << kHeaderSize + bars.size() * kBarSize + trailing << " bytes: header "
              << kHeaderSize << ", " << bars.size() << " bars of " << kBarSize;
    if (trailing) std::cout << ", " << trailing << " bytes more";
    std::cout << '\n';
    const char* tn = type_name(type);
    std::cout << "type:        ";
    if (tn)
      std::cout << static_cast<char>(type) << " (" << tn << ")\n";
    else
      std::cout << "byte " << static_cast<int>(type) << " (unknown)\n";
    std::cout << "header date: " << hdate << '\n';
    if (!bars.empty())
      std::cout << "dates:       " << bars.front().date << " to " << bars.back().date << '\n';

    std::size_t from = 0, to = bars.size();
    if (first_ > 0 || last_ > 0) {
      to = first_ > 0 ? std::min<std::size_t>(bars.size(), static_cast<std::size_t>(first_)) : 0;
      from = last_ > 0 && static_cast<std::size_t>(last_) < bars.size()
                 ? bars.size() - static_cast<std::size_t>(last_)
                 : 0;
      if (first_ > 0 && last_ == 0) from = 0;
    }
    if (!bars.empty()) {
      std::cout << '\n' << "     bar " << bar_heading() << '\n';
      char num[24];
      auto line = [&](std::size_t i) {
        std::snprintf(num, sizeof num, "%8zu ", i + 1);
        std::cout << num << bar_text(bars[i]) << '\n';
      };
      if (first_ > 0 && last_ > 0 && from > to) {
        for (std::size_t i = 0; i < to; ++i) line(i);
        std::cout << "     ...\n";
        for (std::size_t i = from; i < bars.size(); ++i) line(i);
      } else if (first_ > 0 && last_ > 0) {
        for (std::size_t i = 0; i < bars.size(); ++i) line(i);
      } else if (last_ > 0) {
        for (std::size_t i = from; i < bars.size(); ++i) line(i);
      } else {
        for (std::size_t i = 0; i < to; ++i) line(i);
      }
    }

    const std::vector<std::string> problems = problems_of(image, chart);
    std::cout << '\n';
    if (problems.empty()) {
      std::cout << "problems:    none\n";
      return kOk;
    }
    std::cout << "problems:\n";
    for (const std::string& p : problems) std::cout << "  " << p << '\n';
    return kSkipped;
  }

  CommonOptions& common_;
  std::vector<std::string> charts_;
  long first_ = 0, last_ = 0;
};

}  // namespace

std::unique_ptr<Command> add_show(CLI::App& app, CommonOptions& common) {
  return std::make_unique<Show>(app, common);
}

}  // namespace mc
