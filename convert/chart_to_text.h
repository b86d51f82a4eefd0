// Chart to text: the bars of a chart written as a text file, one line per
// bar, laid out by the format settings (field order, separator, date
// format, start date).  When the dates are yyyymmdd in the first column,
// the finished text is sorted into date order.
//
// The core (chart_to_text and the line helpers) reads the chart and writes
// the text through a whole-file replacement: the text file changes only
// when the new one is complete, so a failed write leaves it as it was.
#pragma once

#include <cstdint>
#include <string>

#include "chartdata/bar.h"
#include "convert/format.h"
#include "convert/result.h"

// ftos's text with a buffer: "%*.*f", then right-aligned and cut to
// width + precision + 1 characters (or to the integer part when longer).
std::string ftos_text(double value, int width, int precision);

// The date yyyymmdd in date-format `code` (empty for an unknown code).
std::string date_text(std::int32_t date, int code);

// The line of one bar (without padding or line end): the field texts in
// field order, leading blanks dropped, each followed by the separator, the
// last separator made a blank.  `counter` is the bar's number from 1;
// `chartname` the text of an S field.  Returns false (no line) for a bar
// dated before the start date.
bool bar_line(const BarRecord& bar, long counter, const FormatSettings& f,
              const std::string& chartname, std::string& line);

// The line width the first line fixes: length * 7 / 5 with date code 0,
// length + 1 otherwise.
std::size_t line_width(std::size_t first_length, int datecode);

class ChartTextReport {
 public:
  virtual ~ChartTextReport() = default;
  // A line was written (for the display).
  virtual void line(const std::string&) {}
  // Every bar read, with its number from 1.
  virtual void bar_read(long, const BarRecord&) {}
  // Asked after each bar: true stops the writing (ESC); what was written stays.
  virtual bool stop() { return false; }
};

// What the window shows when the text could not be written.
inline constexpr const char* kTextWriteError = " Unable to write to disk. Disk full?";

// Writes the bars of the chart open in fd (positioned after its header) as
// the text file `textpath`.  The result:
//   kDone    the text file was written (count: its lines; passed_over: the
//            bars left out by the start date; stopped: report.stop() ended
//            the writing, what was written stands);
//   kFailed  it could not be made or a write failed (kTextWriteError): the
//            file is as it was before (count: the lines that were written).
Result chart_to_text(int fd, const std::string& textpath, const FormatSettings& f,
                     const std::string& chartname, ChartTextReport& report);
// The same into a replacement the caller has already made (and checked).
class SafeReplace;
Result chart_to_text(int fd, SafeReplace& out, const FormatSettings& f, const std::string& chartname,
                     ChartTextReport& report);
// Whether a finished text of `lines` lines was sorted into date order:
// with yyyymmdd dates in the first column and at least two lines.
bool text_sorted(const FormatSettings& f, long lines);

// CSV for spreadsheets and data-frame libraries: the header line
// kCsvHeader, then one line a bar: an ISO date (the number itself when it
// is no calendar date), the prices as the shortest decimals that read back
// as the stored floats, volume and open interest, separated by ',' and
// ended by a line feed.  Bars dated before `start` are left out.  The
// result as chart_to_text's.
extern const char* const kCsvHeader;
void csv_line(const BarRecord& bar, std::string& line);
Result chart_to_csv(int fd, SafeReplace& out, std::int32_t start, ChartTextReport& report);

// The text name of a chart in a list: its first 21 characters, the last '.'
// of the file-name part made '_', then ".T" ("ibm.M" gives "ibm_M.T").
std::string list_text_name(const char* chartname);
