// Adjustment of a chart by a constant (F5): every price has a constant
// added, subtracted, multiplied or divided; for * and / the volume goes the
// opposite way, as a share split needs.  The new chart keeps the source's
// header, dates, open interests and bar count.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

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

// What an adjustment needs: the operator ('+', '-', '*', '/'), the constant
// (not zero, finite), the source's index file and the target.
struct AdjustRequest {
  char op = 0;
  float k = 0;
  IndexFile index;
  std::string target;
};

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
