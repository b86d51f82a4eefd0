// The one bar check: the rules a stored bar must keep, as `show` lists
// them, `plot` marks them, `check` reports them and every import counts
// them before it stores.  Order rules compare a bar with the bar before it;
// value rules look at one bar alone.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "chartdata/bar.h"

enum BarFault : unsigned {
  kBarBackwards = 1,       // dated before the bar before it
  kBarRepeated = 2,        // dated the same as the bar before it
  kBarNotNumber = 4,       // open, high, low or close is NaN or infinite
  kBarHighBelowLow = 8,    // finite prices, high < low
  kBarOutsideRange = 16,   // open or close above the high or below the low
  kBarNotPositive = 32,    // a finite price of 0 or less
  kBarNegativeCount = 64,  // volume or open interest below 0
  kBarNotCalendar = 128,   // an eight-digit date that is no calendar day
};

// The rules of one bar alone (every bit but the order bits).
inline constexpr unsigned kBarValueFaults =
    kBarNotNumber | kBarHighBelowLow | kBarOutsideRange | kBarNotPositive | kBarNegativeCount | kBarNotCalendar;

struct BadBar {
  std::size_t index = 0;  // from 0, in file order
  unsigned faults = 0;    // BarFault bits
};

// The value faults of one bar (kBarValueFaults bits; 0 for a sound bar).
// Six-digit dates of old charts are not judged as calendar dates.
unsigned bar_value_faults(const BarRecord& b);

// Every bad bar, in file order.
std::vector<BadBar> find_bad_bars(std::span<const BarRecord> bars);

// The faults of a bad bar in words: "out of order", "same date as the bar
// before", "price not a number", "high below low", "open or close outside
// high-low", "price of 0 or less", "negative volume or open interest",
// "not a calendar date", joined by ", ".
std::string bar_fault_text(unsigned faults);

// A count of the bars that break the value rules, kept while bars are
// stored: how many, how many of each fault, and the first few with their
// dates, for an import to say what it stored.
class BarTally {
 public:
  static constexpr std::size_t kKept = 3;
  // Checks one bar; returns its faults.
  unsigned add(const BarRecord& b);
  // The same, for an import of many charts or records: the first few name
  // the chart and where the bar's record lies in the source (a record or
  // line number from 1).
  unsigned add(const BarRecord& b, std::string_view chart, long at);
  void add(std::span<const BarRecord> bars) {
    for (const BarRecord& b : bars) add(b);
  }
  std::size_t checked() const { return checked_; }
  std::size_t broken() const { return broken_; }
  // More than half of the bars checked break the rules: the source is not
  // of the kind it was taken for (a wrong file, not a damaged one).
  bool mostly_broken() const { return broken_ * 2 > checked_; }
  // Bars with this fault bit.
  std::size_t with(BarFault f) const;
  // The first kKept broken bars: their date and faults.
  struct Example {
    std::int32_t date;
    unsigned faults;
    std::string chart;  // "" when not given
    long at = 0;        // record or line number in the source; 0 when not given
  };
  const std::vector<Example>& first() const { return first_; }
  // One line: "3 bars break the bar rules (2 high below low, 1 price of 0 or
  // less); first: 20240102 high below low, ...", each example after its
  // chart when one was given ("ibm 20240102 high below low").  Empty when
  // none did.
  std::string summary() const;

 private:
  std::size_t checked_ = 0, broken_ = 0;
  std::size_t per_bit_[8] = {};
  std::vector<Example> first_;
};
