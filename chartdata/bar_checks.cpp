#include "chartdata/bar_checks.h"

#include <cmath>
#include <utility>

std::vector<BadBar> find_bad_bars(std::span<const BarRecord> bars) {
  std::vector<BadBar> out;
  for (std::size_t i = 0; i < bars.size(); ++i) {
    const BarRecord& b = bars[i];
    unsigned f = 0;
    if (i > 0 && b.date < bars[i - 1].date) f |= kBarBackwards;
    if (i > 0 && b.date == bars[i - 1].date) f |= kBarRepeated;
    if (!std::isfinite(b.open) || !std::isfinite(b.high) || !std::isfinite(b.low) || !std::isfinite(b.close))
      f |= kBarNotNumber;
    else if (b.high < b.low)
      f |= kBarHighBelowLow;
    if (f) out.push_back({i, f});
  }
  return out;
}

std::string bar_fault_text(unsigned faults) {
  std::string out;
  for (auto [bit, text] :
       {std::pair{kBarBackwards, "out of order"}, std::pair{kBarRepeated, "same date as the bar before"},
        std::pair{kBarNotNumber, "price not a number"}, std::pair{kBarHighBelowLow, "high below low"}})
    if (faults & bit) out += (out.empty() ? "" : ", ") + std::string(text);
  return out;
}
