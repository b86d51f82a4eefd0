// Adjustment of a chart by a constant (F5): every price has a constant
// added, subtracted, multiplied or divided; for * and / the volume goes the
// opposite way, as a share split needs.  The new chart keeps the source's
// header, dates, open interests and bar count.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "chartdata/bar.h"
#include "chartdata/safe_replace.h"
#include "convert/index_file.h"
#include "convert/chart_output.h"
#include "convert/result.h"

// One price with one operator ('+', '-', '*', '/'), computed in double and
// rounded to float; any other operator gives the price back.
float doop(float price, char op, double k);

// The volume after the operator: '/' multiplies by k, '*' divides by k,
// rounded to the nearest whole number and held inside the 32-bit range;
// '+' and '-' and negative volumes keep it.
std::int32_t adjust_volume(std::int32_t volume, char op, float k);

// One output bar from a source bar whose index adjustment is already done.
BarRecord adjust_bar(const BarRecord& in, char op, float k);
// True when the adjusted bar holds exactly what was computed: finite prices
// and a volume inside 32 bits.
bool adjust_fits(const BarRecord& in, char op, float k);

// The typed constant: 1 with *k set when it is a usable number (not zero,
// finite as a float); 0 otherwise (letters, empty, 0, 0.0).
int parse_constant(const char* text, float* k);

// The name under which the charting program finds a chart saved as `name`
// while the working directory is `cwd` (absolute): relative to the start-up
// data directory `datadir` when the chart lies at or below it, else the
// absolute path.
std::string name_from_data_dir(const std::string& cwd, const std::string& datadir,
                               const std::string& name);

// One bar scaled: prices x `price` (in double, rounded to float), volume x
// `volume` rounded to the nearest whole number and held inside 32 bits (a
// negative volume is kept).  Date and open interest unchanged.
BarRecord scale_bar(const BarRecord& in, double price, double volume);
// True when the scaled bar holds exactly what was computed.
bool scale_fits(const BarRecord& in, double price, double volume);

// The operator of a split or dividend: prices and volumes scaled by the
// request's factors.
inline constexpr char kScaleOp = 'S';

// What an adjustment needs: the operator ('+', '-', '*', '/', or kScaleOp
// with its two factors), the constant (not zero, finite), the source's
// index file, the target, and the dates of the bars it changes (the index
// file applies to every bar; bars outside the dates are kept as they are).
struct AdjustRequest {
  char op = 0;
  float k = 0;
  IndexFile index;
  std::string target;
  std::int32_t from = INT32_MIN, until = INT32_MAX;  // both included
  double price_factor = 1, volume_factor = 1;       // kScaleOp
  bool changes(std::int32_t date) const { return date >= from && date <= until; }
};

// A split N:M (N old shares become M new ones; 1:10 is a reverse split):
// prices before the ex-date x M/N, volumes x N/M.
AdjustRequest split_request(int n, int m, std::int32_t before);
// A dividend: prices before the ex-date `before` x (1 - amount / the close of
// the last bar dated before it), volumes unchanged.  kRefused with a
// message when no bar lies before the date or the factor is not between 0
// and 1; else kDone and `request` holds the factor (`last`: the date of
// the close taken).
Result dividend_request(double amount, std::int32_t before, std::span<const BarRecord> bars,
                        AdjustRequest& request);
// Parses "N:M" (also "N/M" and "N-for-M"), both whole numbers from 1.
bool parse_split(const std::string& text, int* n, int* m);

// One source bar (index already applied) through the request: the
// adjusted bar, or the bar itself when its date is outside the request's.
BarRecord adjust_request_bar(const BarRecord& in, const AdjustRequest& request);
bool adjust_request_fits(const BarRecord& in, const AdjustRequest& request);

// Reads the chart `source` from its start, applies the index and the
// operator to every bar and writes the new chart into `out`, the
// replacement of the target (not yet committed; the caller commits it when
// the pass is kDone).  Progress shows the close (after the index, before
// the operator) after every 5th bar.
//   kDone     `out` holds the adjusted chart: count bars, stopped after ESC
//   kRefused  operator or constant not usable (nothing done); a source
//             shorter than a chart header (kNotChartMessage); a bar whose
//             result does not fit a chart (kOutOfRangeMessage, `last` is
//             its date)
//   kFailed   a read or a write failed (kUnableToWriteMessage)
Result adjust_stream(const AdjustRequest& request, std::FILE* source, SafeReplace& out,
                     ChartPassProgress& progress);

// The whole command without the dialogue; `source_fd` is always closed and
// `request.target` replaced only when complete; the endings of
// open_new_chart and write_new_chart.
Result adjust_chart(int source_fd, const AdjustRequest& request, ChartPassProgress& progress);

// The chart `path` adjusted in place: under its lock it is read whole, every
// bar goes through the index and the request, and the result replaces it
// through the one write path.  A dividend request (`dividend` > 0) takes
// its factor from the bars read under the lock.  kDone (count: the bars
// changed), kRefused (not a chart, a result that does not fit, a dividend
// that cannot be applied: the message says so), kFailed (the chart is as
// it was).
Result adjust_in_place(const std::string& path, AdjustRequest request, double dividend = 0);
