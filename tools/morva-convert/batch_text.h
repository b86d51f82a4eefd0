// Text to chart without a screen: what the window's F2 conversion does for
// one text file once its questions are answered (the chart name, and the
// type of new charts whose dates do not decide it), for batch runs.
//
// It is the same sequence of core steps as the dialogue: first symbol,
// then the core's plan_text and store_plan (store_text), so the charts come
// out byte for byte as the window stores them.  A separate read-only pass
// logs the skipped lines (--errors) and shows a dry run's lines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "convert/format.h"
#include "convert/result.h"
#include "convert/store.h"
#include "convert/text_to_chart.h"

struct BatchTextJob {
  FormatSettings format{};
  std::string textname;  // the text's name as given: extension -> directory, fallback date
  std::string listname;  // name of the list being worked through ("" outside a list)
  std::string chart;     // chart name when the order has no S column, outside a list
  char type = 0;         // chart type when the dates do not decide it; 0: none given
  bool decimal_comma = false;  // ',' in a line is a decimal point
  std::string shown;           // the name messages give ("" = textname)
  bool detected = false;       // the layout was detected: a refusal does not suggest --auto
  bool times_of_day = false;   // the layout holds times of day: the type refusal says what to do
  std::string chart_dir;       // folder of new charts ("" = the storage directory)
  std::string order_from;      // where the order came from, for messages ("" = not said)
  bool judged[4] = {true, true, true, true};  // prices the bar rules judge (open, high, low, close)
  std::string original;  // the file as written, when the text is its plain form ("" otherwise)
  bool bars_judged_before = false;  // an import checked the bars already: the store does not say it again
};

// The decisions taken before anything is stored: the chart name (first
// symbol, list rule or the job's name), the refusals, and the core's plan
// of the whole text (plan_text: where each chart goes, the type of each new
// one).  Reads the text open in fd (time-of-day dates from `clock`; the
// lines' reports to `report`, when given) and leaves fd at its start.  The
// result:
//   kDone     ready to store, as `plan` says;
//   kRefused  the job does not fit the text: no chart name given, no chart
//             type given where a new chart's dates do not decide it, no date
//             in the date format, or the chart would have the source's own
//             name;
//   kNothing  the text holds nothing to convert: a ".EXE" name, or no line
//             with a usable symbol in the S column.
// The message of a refusal is the line to print ("NAME: why ...").
struct BatchTextPlan {
  std::string name;  // first chart's name
  char type = 0;     // the type of the first new chart (the job's when none)
  TextPlan charts;   // every chart of the text
};
Result batch_text_decide(int fd, const BatchTextJob& job, BatchTextPlan& plan, TimeOfDayDates& clock,
                         StoreReport* report = nullptr);

// Stores the charts of the plan (store_plan); its result.  Does not close
// fd.  *last_path receives the path of the last chart written (the
// window's savenm).
Result batch_text_store(int fd, const BatchTextJob& job, const BatchTextPlan& plan, StoreReport& report,
                        TimeOfDayDates& clock, std::string* last_path);
// Converts the text open in fd (at its start) as the window does once its
// questions are answered: batch_text_decide, then batch_text_store.  The
// decision's result when it refused, else the store's.
Result batch_text_to_chart(int fd, const BatchTextJob& job, StoreReport& report, TimeOfDayDates& clock,
                           std::string* last_path);

// A look at a text without storing: every line with its number (a line of
// more than 254 characters counts as the several lines the converter reads
// it as) and what it gave, and every chart with the path it would be
// stored under and its bars in the order they would be stored.
class BatchTextScan {
 public:
  virtual ~BatchTextScan() = default;
  virtual void line(long /*number*/, std::string_view /*text*/, const ParsedLine& /*what*/) {}
  virtual void run(const ChartPlan& /*chart*/) {}
};

// Reads the text open in fd from its start, after the plan, line by line
// as the store did, without writing or creating anything, then shows the
// plan's charts that have bars.  Time-of-day
// dates come from `clock`, a copy: a store that follows gives the same
// dates.  Leaves fd at its start.
void batch_text_scan(int fd, const BatchTextJob& job, const BatchTextPlan& plan, BatchTextScan& scan,
                     TimeOfDayDates clock);

// The chart name a list entry gets when the order has no S column: the
// file's own name (after its last '/') up to its first '.', at most 43
// characters.
std::string list_chart_name(const std::string& textname);
