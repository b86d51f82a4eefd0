#include "chartdata/bar_checks.h"

#include <cmath>
#include <utility>

#include "chartdata/encodings.h"

namespace {

constexpr std::pair<unsigned, const char*> kWords[] = {
    {kBarBackwards, "out of order"},
    {kBarRepeated, "same date as the bar before"},
    {kBarNotNumber, "price not a number"},
    {kBarHighBelowLow, "high below low"},
    {kBarOutsideRange, "open or close outside high-low"},
    {kBarNotPositive, "price of 0 or less"},
    {kBarNegativeCount, "negative volume or open interest"},
    {kBarNotCalendar, "not a calendar date"},
};

}  // namespace

unsigned bar_value_faults(const BarRecord& b) {
  unsigned f = 0;
  if (!std::isfinite(b.open) || !std::isfinite(b.high) || !std::isfinite(b.low) || !std::isfinite(b.close)) {
    f |= kBarNotNumber;
  } else {
    if (b.high < b.low) f |= kBarHighBelowLow;
    if (b.open > b.high || b.close > b.high || b.open < b.low || b.close < b.low) f |= kBarOutsideRange;
    if (b.open <= 0 || b.high <= 0 || b.low <= 0 || b.close <= 0) f |= kBarNotPositive;
  }
  if (b.volume < 0 || b.openint < 0) f |= kBarNegativeCount;
  if (b.date >= 10000000 && !is_calendar_date(b.date)) f |= kBarNotCalendar;
  return f;
}

std::vector<BadBar> find_bad_bars(std::span<const BarRecord> bars) {
  std::vector<BadBar> out;
  for (std::size_t i = 0; i < bars.size(); ++i) {
    const BarRecord& b = bars[i];
    unsigned f = bar_value_faults(b);
    if (i > 0 && b.date < bars[i - 1].date) f |= kBarBackwards;
    if (i > 0 && b.date == bars[i - 1].date) f |= kBarRepeated;
    if (f) out.push_back({i, f});
  }
  return out;
}

std::string bar_fault_text(unsigned faults) {
  std::string out;
  for (auto [bit, text] : kWords)
    if (faults & bit) out += (out.empty() ? "" : ", ") + std::string(text);
  return out;
}

unsigned BarTally::add(const BarRecord& b) { return add(b, {}, 0); }

unsigned BarTally::add(const BarRecord& b, std::string_view chart, long at) {
  ++checked_;
  const unsigned f = bar_value_faults(b);
  if (!f) return 0;
  ++broken_;
  for (unsigned i = 0; i < 8; ++i)
    if (f & (1u << i)) ++per_bit_[i];
  if (first_.size() < kKept) first_.push_back({b.date, f, std::string(chart), at});
  return f;
}

std::size_t BarTally::with(BarFault f) const {
  for (unsigned i = 0; i < 8; ++i)
    if (f == (1u << i)) return per_bit_[i];
  return 0;
}

std::string BarTally::summary() const {
  if (!broken_) return {};
  std::string out = std::to_string(broken_) + (broken_ == 1 ? " bar breaks" : " bars break") + " the bar rules (";
  bool any = false;
  for (auto [bit, text] : kWords) {
    const std::size_t n = with(static_cast<BarFault>(bit));
    if (!n) continue;
    out += (any ? ", " : "") + std::to_string(n) + " " + text;
    any = true;
  }
  out += "); first:";
  for (std::size_t i = 0; i < first_.size(); ++i)
    out += (i ? ", " : " ") + (first_[i].chart.empty() ? "" : first_[i].chart + " ") +
           std::to_string(first_[i].date) + " " + bar_fault_text(first_[i].faults);
  return out;
}
