// show: a chart's header and bars as text, with the faults a conversion
// would trip over.  Reads only; an old chart is shown as it is stored.
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <iostream>

#include "chartdata/bar_checks.h"
#include "chartdata/chartfile.h"
#include "chartdata/safe_replace.h"
#include "cli.h"

namespace mc {

namespace {

const char* type_name(unsigned char t) { return chart_type_word(t); }

std::vector<std::string> problems_of(const unsigned char* header, const std::vector<BarRecord>& bars,
                                     std::size_t trailing) {
  std::vector<std::string> out;
  const unsigned char type = header[kHeaderTypeOffset];
  if (!type_name(type)) {
    char buf[80];
    std::snprintf(buf, sizeof buf, "the header's chart type (byte 116) is %d, not D, W, M or N", type);
    out.push_back(buf);
  }
  if (header[kHeaderTypeOffset + 1] != '\n') out.push_back("byte 117 of the header is not a line feed");
  if (trailing) out.push_back(std::to_string(trailing) + " bytes after the last whole bar (a bar cut short)");
  if (!bars.empty() && header[kHeaderUpgradeMark] == '/' && bars.front().date <= 991231)
    out.push_back(
        "dates of two-digit years (yymmdd): the chart is widened to yyyymmdd when a "
        "conversion next opens it");
  long backwards = 0, shown = 0, bad_prices = 0, high_low = 0, outside = 0, not_positive = 0, negative = 0,
       not_calendar = 0;
  for (const BadBar& bad : find_bad_bars(bars)) {
    const std::size_t i = bad.index;
    if (bad.faults & (kBarBackwards | kBarRepeated)) {
      ++backwards;
      if (shown < 5) {
        ++shown;
        out.push_back("bar " + std::to_string(i + 1) + " (" + std::to_string(bars[i].date) +
                      ") is not after bar " + std::to_string(i) + " (" + std::to_string(bars[i - 1].date) +
                      ")");
      }
    }
    if (bad.faults & kBarNotNumber) ++bad_prices;
    if (bad.faults & kBarHighBelowLow) ++high_low;
    if (bad.faults & kBarOutsideRange) ++outside;
    if (bad.faults & kBarNotPositive) ++not_positive;
    if (bad.faults & kBarNegativeCount) ++negative;
    if (bad.faults & kBarNotCalendar) ++not_calendar;
  }
  if (backwards > shown)
    out.push_back(std::to_string(backwards - shown) + " more bars are not after the bar before them");
  if (bad_prices) out.push_back(std::to_string(bad_prices) + " bars hold a price that is not a number");
  if (high_low) out.push_back(std::to_string(high_low) + " bars have a high below their low");
  if (outside) out.push_back(std::to_string(outside) + " bars have an open or close outside their high and low");
  if (not_positive) out.push_back(std::to_string(not_positive) + " bars have a price of 0 or less");
  if (negative) out.push_back(std::to_string(negative) + " bars have a negative volume or open interest");
  if (not_calendar) out.push_back(std::to_string(not_calendar) + " bars have a date that is no calendar day");
  return out;
}

class Show : public Command {
 public:
  Show(CLI::App& parent, CommonOptions& common) : common_(common) {
    app =
        parent.add_subcommand("show", "Print a chart's header and bars as text, and what looks wrong in it");
    app->add_option("CHART", chart_, "The chart")->type_name("CHART")->required();
    app->add_option("--first", first_, "Print only the first N bars")->type_name("N");
    app->add_option("--last", last_, "Print only the last N bars")->type_name("N");
    add_location_options(app, common);
  }

  int run() override {
    Run run(common_);
    if (!run.prepare(false)) return run.status();
    if (first_ < 0 || last_ < 0) throw UsageError{"--first and --last take a number of bars, 0 or more"};
    unsigned char header[kHeaderSize];
    std::vector<BarRecord> bars;
    std::size_t trailing = 0;
    std::FILE* probe = fopen_regular(chart_);
    if (!probe)
      throw FileProblem{"cannot read " + absolute_here(chart_) + ": " +
                        (errno == EINVAL ? "it is not a regular file" : std::strerror(errno))};
    std::fclose(probe);
    if (!read_chart(chart_, header, bars, &trailing))
      throw FileProblem{chart_ + " is not a chart: it is shorter than a chart header"};

    const unsigned char type = header[kHeaderTypeOffset];
    const std::int32_t hdate = static_cast<std::int32_t>(get_le32(header + kHeaderDateOffset));
    std::cout << "chart:       " << chart_ << '\n';
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

    const std::vector<std::string> problems = problems_of(header, bars, trailing);
    std::cout << '\n';
    if (problems.empty()) {
      std::cout << "problems:    none\n";
      return kOk;
    }
    std::cout << "problems:\n";
    for (const std::string& p : problems) std::cout << "  " << p << '\n';
    return kSkipped;
  }

 private:
  CommonOptions& common_;
  std::string chart_;
  long first_ = 0, last_ = 0;
};

}  // namespace

std::unique_ptr<Command> add_show(CLI::App& app, CommonOptions& common) {
  return std::make_unique<Show>(app, common);
}

}  // namespace mc
