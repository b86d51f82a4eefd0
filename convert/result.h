// What every conversion of the core returns: how it ended, what it wrote,
// and the message the caller shows for it.  The core never shows anything
// itself; the window draws the message in its rows, the batch tool prints it.
#pragma once

#include <cstdint>
#include <string>

#include "chartdata/bar_checks.h"

enum class Status {
  kDone,     // the target holds the result (when stopped: what was written so far)
  kNothing,  // the source held nothing to convert; nothing was written
  kRefused,  // the request or the source is not usable; nothing was written
  kFailed,   // a read, a write or the final rename failed; the target is as it was
};

struct Result {
  Status status = Status::kFailed;
  std::string message;        // what to show for this ending; "" for nothing
  long count = 0;             // bars, groups, lines or charts written
  bool stopped = false;       // ended early on request (ESC); what was written stands
  std::int32_t first = 0;     // first date written (when the command reports one)
  std::int32_t last = 0;      // last date written, or the bar that did not fit
  long passed_over = 0;       // records or lines skipped or moved into place
  long failed = 0;            // charts (or items) that could not be written; the others stand
  long bars = 0;              // bars stored, where count counts charts (text to chart)
  long early = 0;             // lines before the start date, left out as asked
  long repeated = 0;          // lines whose date a later line gave again (in passed_over)
  // The bars stored, checked by the bar rules (the source's values are
  // kept), or why an import refused its source.
  BarTally bar_check;
  bool ok() const { return status == Status::kDone; }
};

// One row for the bar rules of an import's bars: " 2 bars break the bar
// rules; first: ibm 20000101 high below low." (the first rule the first
// of them breaks, to fit the row); "" when none does.
inline std::string bar_check_line(const BarTally& t) {
  if (t.broken() == 0) return {};
  const BarTally::Example& e = t.first().front();
  return " " + std::to_string(t.broken()) + (t.broken() == 1 ? " bar breaks" : " bars break") +
         " the bar rules; first: " + (e.chart.empty() ? "" : e.chart + " ") + std::to_string(e.date) + " " +
         bar_fault_text(e.faults & (~e.faults + 1)) + ".";
}

// The refusal of a source whose bars mostly break the bar rules, in the
// words of the import: " Not a TECHTOOLS file: 5 of its 8 records break the
// bar rules."
inline std::string mostly_broken_line(const std::string& not_a, const char* units, const BarTally& t) {
  return " " + not_a + ": " + std::to_string(t.broken()) + " of its " + std::to_string(t.checked()) + " " +
         units + " break the bar rules.";
}
