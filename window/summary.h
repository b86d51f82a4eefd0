// What the screen says when a conversion of the F2 screen has ended: " Finished."
// (or " Nothing was stored."), one line of what was stored, skipped and
// written where, a warning when many stored bars break the bar rules, and
// "Press a key." before the screen is cleared.
#pragma once

#include <string>
#include <vector>

#include "convert/result.h"

// More broken bars than this are said after a conversion: a few odd bars
// are a vendor's, many are a field order that does not match the file.
inline constexpr long kFewBrokenBars = 3;

// The outcome of one F2 run (a file, or every file of a list).
struct RunSummary {
  bool cancelled = false;  // the user left a question before anything was read
  long files = 0;          // texts or charts converted
  long bars = 0;           // bars stored (text to chart)
  long lines = 0;          // lines written (chart to text)
  long skipped = 0;        // lines with no usable date or values
  long early = 0;          // lines before the start date
  long charts = 0;         // charts that received bars
  long broken = 0;         // stored bars that break the bar rules
  std::string faults;      // the first broken bars in words (BarTally::summary)
  std::string written;     // the chart or text written last, as a path from the folder
  std::string folder;      // the folder the program worked in
  std::string why;         // why nothing was stored, when the store never ran
  bool to_text = false;    // chart to text, or (chart_pass) chart to chart
  bool chart_pass = false; // weekly, monthly, numbered, adjusted: bars written
};

// The summary of the run now on the screen.
RunSummary& run_summary();
// Starts a new run in the current folder: text to chart, chart to text,
// or (chart_pass) chart to chart.
void summary_begin(bool to_text, bool chart_pass = false);
// Adds a text-to-chart store (its Result) that wrote `written` last.
void summary_add_store(const Result& r, const std::string& written);
// Adds a chart-to-text conversion that wrote `written`.
void summary_add_text(const Result& r, const std::string& written);
// Adds a chart written from a chart (weekly, monthly, numbered,
// adjusted): its Result (count: the bars written) and its name.
void summary_add_chart(const Result& r, const std::string& written);
// The user left a question of this file: nothing read, nothing said.
void summary_cancel();
// The file was refused before any bar was read; `why` says how.
void summary_refuse(const std::string& why);

// True when the run stored (or wrote) something.
bool summary_stored(const RunSummary& s);
// The lines under " Finished." / " Nothing was stored.", each at most 79
// characters: what was stored where and skipped; then, when more than
// kFewBrokenBars bars break the bar rules, what they break.
std::vector<std::string> summary_lines(const RunSummary& s);
// `path` as the user knows it: absolute (from `folder` when relative),
// the home shown as "~".
std::string shown_path(const std::string& path, const std::string& folder);

// At the cursor: " Finished." (" Nothing was stored." when the run stored
// nothing but was not cancelled), the summary lines below it and "Press a
// key."; waits for the key.
void show_run_end();

// Why a text gave no first date under the settings of F2: its date format
// and separator named, for the summary.
std::string no_date_reason();
