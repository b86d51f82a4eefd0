// Text to chart without a screen: what the window's F2 conversion does for
// one text file once its questions are answered (the chart name, and the
// chart type when the first two dates do not decide it), for batch runs.
//
// It is the same sequence of core steps as the dialogue: first symbol,
// first two dates, then store_text, so the charts come out byte for byte as
// the window stores them.  A separate read-only pass shows what a store
// would do (for a dry run, the log of skipped lines and copies of charts).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "window/globals.h"
#include "convert/store.h"
#include "convert/text_to_chart.h"

struct BatchTextJob {
  FormatSettings format{};
  std::string textname;  // the text's name as given: extension -> directory, fallback date
  std::string listname;  // name of the list being worked through ("" outside a list)
  std::string chart;     // chart name when the order has no S column, outside a list
  char type = 0;         // chart type when the dates do not decide it; 0: none given
  bool decimal_comma = false;  // ',' in a line is a decimal point
};

enum class BatchTextStatus {
  kStored,       // every run was stored (or had no bar)
  kExecutable,   // a ".EXE" name: nothing converted
  kNoSymbol,     // the order has S but no line holds a usable symbol
  kNoChartName,  // no S column, not in a list, and no chart name given
  kNeedType,     // the first two dates do not decide the chart type and none was given
  kNoDate,       // no date in the first lines and none in the text's name
  kSameName,     // the chart name equals the source's (or the list's) name
  kStoreFailed,  // a run could not be stored; its chart is as it was
};

struct BatchTextResult {
  BatchTextStatus status = BatchTextStatus::kStoreFailed;
  char type = 0;  // chart type used for new charts
  bool type_from_dates = false;
  std::string last_path;    // path of the last chart (the window's savenm)
  long charts_written = 0;  // charts that received bars
};

// The decisions the window takes before it stores anything: the chart name
// (first symbol, list rule or the job's name), the chart type and the
// refusals.  Reads the first lines of the text open in fd and leaves fd at
// its start.  kStored here means "ready to store".
struct BatchTextPlan {
  std::string name;  // first chart's name
  char type = 0;
  bool type_from_dates = false;
};
BatchTextStatus batch_text_decide(int fd, const BatchTextJob& job, BatchTextPlan& plan);

// Converts the text open in fd (at its start) as the window does once its
// questions are answered: batch_text_decide, then the store of every symbol
// run (store_text).  Does not close fd.  Uses the module state the dialogue
// uses (fptextsrc, get_the_symbol, typechart, longsdate, longedate, bb, the
// time-of-day counters).
BatchTextStatus batch_text_to_chart(int fd, const BatchTextJob& job, StoreReport& report,
                                    BatchTextResult& result);

// A look at a text without storing: every line with its number (a line of
// more than 254 characters counts as the several lines the converter reads
// it as) and what it gave, and every run with the chart path it would be
// stored under and its bars in the order they would be stored.
class BatchTextScan {
 public:
  virtual ~BatchTextScan() = default;
  virtual void line(long /*number*/, std::string_view /*text*/, const ParsedLine& /*what*/) {}
  virtual void run(const std::string& /*path*/, const std::vector<RunBar>& /*bars*/) {}
};

// Reads the text open in fd from its start, after the plan, line by line
// as the store will, without writing or creating anything.  The time-of-day
// counters are restored afterwards, so a store that follows gives the same
// dates.  Leaves fd at its start.
void batch_text_scan(int fd, const BatchTextJob& job, const BatchTextPlan& plan, BatchTextScan& scan);

// The chart name a list entry gets when the order has no S column: the
// file's own name (after its last '/') up to its first '.', at most 43
// characters.
std::string list_chart_name(const std::string& textname);
