// Storing the bars of a text into chart files: one chart per symbol run,
// each in the storage directory its text file's extension and its first
// letter choose, merged with the bars the chart already holds.
//
// How a run is merged: its bars are put in ascending date order with one bar
// per date (a later line for the same date replaces an earlier one), and
// they replace the stored bars dated from the run's first to its last
// date.  Stored bars outside that range stay.  So the replaced range is
// bounded by the bars actually written: lines skipped by the start date, a
// run that writes no bar (its chart is left untouched) and descending or
// mixed lines never cost a stored bar.  Bars with time-of-day dates (several
// lines share one synthetic date) are all kept, in text order.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "chartdata/linereader.h"
#include "convert/format.h"
#include "convert/result.h"
#include "convert/text_to_chart.h"

struct TextStoreParams {
  FormatSettings format{};   // field order, separator, date code, start date
  std::string textname;      // text file's name: extension -> directory, fallback date
  int volume_factor = 1;     // 100 for "ASCII" lists
  char chart_type = 'D';     // type letter of charts created here
  bool decimal_comma = false;  // ',' in a line is a decimal point
};

// What the store tells its caller, beyond the line messages of TextReport.
class StoreReport : public TextReport {
 public:
  // A chart is about to be stored into directory `dir` ("" = current).
  virtual void chart_dir(const std::string&) {}
  // The chart `chart` (name without directory) was stored (ok 1) or its
  // store failed and it was left as it was (ok 0).
  virtual void chart_done(const std::string&, int) {}
  // The chart `name` was not stored: `why` says what is wrong with its name
  // (control characters, a folder that does not exist).  Its lines are
  // passed over and the run goes on with the next symbol.
  virtual void name_refused(const std::string& name, const std::string& why) { (void)name, (void)why; }
  // Asked between two charts: true stops the run (ESC).
  virtual bool stop_between_charts() { return false; }
};

// Why `name` (stored as `path`) cannot name a chart: it holds control
// characters, or it has a folder part that does not exist.  "" when it can.
std::string refused_chart_name(const std::string& name, const std::string& path);
// `name` with every control character shown as '?', for messages.
std::string printable_name(const std::string& name);

// Puts a run's bars into ascending date order, one bar per date, keeping
// the last bar of each date; bars with synthetic (time-of-day) dates are
// all kept, in text order.
void order_run(std::vector<RunBar>& bars);

// The path a chart is stored under: storage directory + "/" + name, or the
// name itself when it is absolute.  Names that cannot name a file ("", "."
// and "..") become "_".
std::string chart_path(const std::string& dir, const std::string& name);

// Creates the storage directory when missing (one level at a time) and
// remembers the directories known to exist.  Returns 1 when it exists.
class DirectoryCache {
 public:
  int ensure(const std::string& dir);

 private:
  std::set<std::string> known_;
};

// Merges the ordered bars of one run into the chart at `path` through the
// store splice; a chart that does not exist yet is written whole.  A name
// that cannot be made (its folder is missing, say) becomes "_" in `home`
// (the storage directory; "" = the current one).  A new chart gets the type
// letter `chart_type`.  A run without bars leaves the chart as it is.  1
// when stored (or nothing to store), 0 when the store failed; the chart is
// then byte for byte as it was.
int store_run(std::string& path, const std::vector<RunBar>& bars, char chart_type,
              const std::string& home = "");

// The messages of the store's endings, as the window shows them.
inline constexpr const char* kStoreWriteError = " Unable to write to disk. Disk full?";
inline constexpr const char* kStoreNoBar =
    " No bar was stored: no line had a usable date (from the start date on) and values.";

// The whole store of a text (sendto_morva's work): reads the lines of `src`
// from its current position, the first chart being `name`; with a symbol
// column every change of symbol starts the next chart.  Time-of-day dates
// come from `clock`.  On return `name` holds the last chart's path
// (directory, "/", name); also when the caller stopped the run between two
// charts, so that it never names a chart that was not stored.  The result:
//   kDone     charts were stored (count: the charts that received bars;
//             stopped: the caller stopped the run between two charts);
//   kNothing  every chart was stored, but no line gave a bar (kStoreNoBar);
//   kRefused  a chart's name was refused (report.name_refused said so);
//   kFailed   the last chart could not be stored (kStoreWriteError); it is
//             byte for byte as it was.
// In every ending: bars (the bars stored), passed_over (lines with no usable
// date or values), early (lines before the start date) and checked (the
// value rules over the bars stored).
Result store_text(LineReader& src, std::string& name, const TextStoreParams& params,
                  TimeOfDayDates& clock, StoreReport& report);
