// Bars a chart should not hold, as `show` lists them and `plot` marks
// them: a date not after the bar before (out of order, or the same date
// twice), a price that is not a finite number, a high below the low.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "chartdata/bar.h"

enum BarFault : unsigned {
  kBarBackwards = 1,     // dated before the bar before it
  kBarRepeated = 2,      // dated the same as the bar before it
  kBarNotNumber = 4,     // open, high, low or close is NaN or infinite
  kBarHighBelowLow = 8,  // finite prices, high < low
};

struct BadBar {
  std::size_t index = 0;  // from 0, in file order
  unsigned faults = 0;    // BarFault bits
};

// Every bad bar, in file order.
std::vector<BadBar> find_bad_bars(std::span<const BarRecord> bars);

// The faults of a bad bar in words: "out of order", "same date as the bar
// before", "price not a number", "high below low", joined by ", ".
std::string bar_fault_text(unsigned faults);
