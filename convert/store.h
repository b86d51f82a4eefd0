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
  // Type letter of a new chart whose own dates do not show a daily chart
  // (one date, dates further apart, times of day); 0: the report is asked.
  char chart_type = 'D';
  bool decimal_comma = false;  // ',' in a line is a decimal point
  std::string chart_dir;       // folder of new charts ("" = the storage directory)
};

// One chart of a text: every bar its symbol's lines gave, in date order,
// and where and how they are stored.
struct ChartPlan {
  std::string name;          // the chart name (from the symbol, or given)
  std::string source;        // the symbol as the text writes it
  std::string path;          // where it is stored
  std::string dir;           // its folder ("" = the current one)
  std::vector<RunBar> bars;  // ascending, one bar per date
  long duplicates = 0;       // lines whose date a later line of the chart gave again
  bool exists = false;       // merged into a chart found on disk
  char type = 0;             // type letter of a new chart
  std::string refused;       // why it is not stored ("" = it is)
};

struct TextPlan {
  std::vector<ChartPlan> charts;  // in the order their symbols first appear
  long skipped = 0;               // lines with no usable date or values
  long early = 0;                 // lines dated before the start date
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
  // Asked once per text when a new chart's dates do not decide its type and
  // the parameters give none: 'D', 'W', 'M' or 'N'; 0 stores nothing.
  // `names` lists the charts concerned.
  virtual char new_chart_type(const std::vector<std::string>& names) { (void)names; return 0; }
  // A chart is about to be stored (before chart_dir): merged into the chart
  // found at plan.path, or new there with plan.type.
  virtual void chart_start(const ChartPlan&) {}
};

// The type a chart's own dates show: 'D' when most steps between
// consecutive dates are 1 to 4 (as yyyymmdd numbers), else 0 (undecided:
// one date, dates further apart, or only time-of-day dates).  `bars` in
// ascending order.
char chart_type_from_dates(const std::vector<RunBar>& bars);

// The charts of the data directory (the current one): every file of its
// folders, listed once on the first question and found by name in any
// letter case.
class ChartLookup {
 public:
  explicit ChartLookup(std::string extra_dir = "") : extra_(std::move(extra_dir)) {}
  // The paths of the charts named `name` (any letter case), "dir/name".
  std::vector<std::string> find(const std::string& name);

 private:
  void list();
  void list_dir(const std::string& dir);
  std::string extra_;
  bool listed_ = false;
  std::vector<std::pair<std::string, std::string>> files_;  // lower-cased name, path
};

// Reads the whole text from `src` (the first chart named `name`) and
// decides for every chart where it is stored and, when it is new, its type;
// nothing is written.  A symbol whose chart name another symbol of the text
// also makes, and a name found as several charts, are refused in the plan.
// kDone, or kRefused (message set) when a needed type was not given, or
// kNothing with stopped set when the answer was ESC.
Result plan_text(LineReader& src, const std::string& name, const TextStoreParams& params,
                 TimeOfDayDates& clock, StoreReport& report, TextPlan& plan);
// Stores a plan's charts in turn (see store_text for the result); `name`
// receives the path of the last chart written.
Result store_plan(const TextPlan& plan, std::string& name, StoreReport& report);

// Why `name` (stored as `path`) cannot name a chart: it holds control
// characters, or it has a folder part that does not exist.  "" when it can.
std::string refused_chart_name(const std::string& name, const std::string& path);
// `name` with every control character shown as '?', for messages.
std::string printable_name(const std::string& name);

// Puts a run's bars into ascending date order, one bar per date, keeping
// the last bar of each date; bars with synthetic (time-of-day) dates are
// all kept, in text order.  Returns the number of bars a later one replaced.
std::size_t order_run(std::vector<RunBar>& bars);

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

// The whole store of a text (sendto_morva's work): plan_text, then
// store_plan.  The lines of `src` are read from its current position, the
// first chart being `name`; with a symbol column every symbol makes its own
// chart, its lines gathered wherever they stand in the text.  A chart that
// exists keeps its type; it is looked for in every folder of the data
// directory, in any letter case, before a new one is made.  Time-of-day
// dates come from `clock`.  On return `name` holds the path (directory,
// "/", name) of the last chart written, so that it never names a chart that
// was not stored.  The result:
//   kDone     charts were stored (count: the charts that received bars,
//             passed_over: their lines whose date a later line gave again;
//             stopped: the caller stopped the run between two charts);
//   kNothing  every chart was stored, but no line gave a bar (kStoreNoBar);
//   kRefused  a chart's name was refused (report.name_refused said so);
//   kFailed   the last chart could not be stored (kStoreWriteError); it is
//             byte for byte as it was.
// In every ending: bars (the bars stored), passed_over (lines with no usable
// date or values), early (lines before the start date) and bar_check (the
// value rules over the bars stored).
Result store_text(LineReader& src, std::string& name, const TextStoreParams& params,
                  TimeOfDayDates& clock, StoreReport& report);
