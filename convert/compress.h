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
#include "convert/weekly_monthly.h"  // ChartPassProgress

// Groups of `n` bars (the last one may be shorter): open of the first bar,
// the extreme high and low, close of the last, volumes and open interests
// summed as stored (sums past the 32-bit range saturate), dated ntod(k).
// `n` must be at least 1.
std::vector<BarRecord> compress_bars(std::span<const BarRecord> bars, int n);

enum CompressStatus : int {
  kCompressWritten = 1,  // the target holds the numbered chart
  kCompressNotChart,     // the source is shorter than a chart header; target unchanged
  kCompressBadCount,     // n below 1; nothing done
  kCompressFailed,       // a write or the final rename failed; target unchanged
};

struct CompressResult {
  int status = kCompressFailed;
  long bars = 0;         // bars written
  bool stopped = false;  // ended early by the progress (ESC); still written
};

// Reads the chart `source` from its start and writes the numbered chart into
// `out` (a replacement of the target that is not yet committed).  The caller
// commits `out` when the status is kCompressWritten.
CompressResult compress_stream(std::FILE* source, int n, SafeReplace& out,
                               ChartPassProgress& progress);

// The whole command without the dialogue: compresses the chart open as
// `source_fd` (always closed) into `target`, which is replaced only when
// complete.
CompressResult compress_chart(int source_fd, int n, const std::string& target,
                              ChartPassProgress& progress);
