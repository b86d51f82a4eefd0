// Compression into a numbered chart (F4): every N consecutive bars of a
// chart become one bar dated by its serial number ntod(k): 0, 101, 102, ...
// The target is a new chart with the source's header, typed 'N'.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "chartdata/bar.h"
#include "chartdata/safe_replace.h"
#include "convert/chart_output.h"
#include "convert/result.h"

// Groups of `n` bars (the last one may be shorter): open of the first bar,
// the extreme high and low, close of the last, volumes and open interests
// summed as stored (sums past the 32-bit range saturate), dated ntod(k).
// `n` must be at least 1.
std::vector<BarRecord> compress_bars(std::span<const BarRecord> bars, int n);

// What a compression needs: the bars per group and the target.
struct CompressRequest {
  int count = 0;
  std::string target;
};

// Reads the chart `source` from its start and writes the numbered chart into
// `out`, the replacement of the target (not yet committed; the caller
// commits it when the pass is kDone).
//   kDone     `out` holds the numbered chart: count bars, stopped after ESC
//   kRefused  a count below 1 (nothing done), or a source shorter than a
//             chart header (kNotChartMessage)
//   kFailed   a read or a write failed (kUnableToWriteMessage)
Result compress_stream(const CompressRequest& request, std::FILE* source, SafeReplace& out,
                       ChartPassProgress& progress);

// The whole command without the dialogue: compresses the chart open as
// `source_fd` (always closed) into `request.target`, which is replaced only
// when complete; the endings of open_new_chart and write_new_chart.
Result compress_chart(int source_fd, const CompressRequest& request, ChartPassProgress& progress);
