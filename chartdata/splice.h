// The store splice: the one way bars are added to a chart.
//
//   std::string target = "csv_i/ibm.M";
//   SpliceRange range{'D', first_new_date};
//   int ok = store_splice(target, range, [&](std::FILE* tmp) {
//     for (const BarRecord& b : bars) if (!write_bar(tmp, b)) return 0;
//     range.last = bars.back().date;
//     return 1;
//   });
//
// The range says what the new bars replace: stored bars dated from
// range.first to range.last go, those before and after stay.  range.type is
// the type letter a chart made here gets in its header.
//
// Steps:
//  0. The chart's lock (ChartLock) is taken and held until the new version
//     is in place; a busy chart fails the store with nothing written.
//  1. An old chart (yymmdd dates, see Y2000_upgrade) is read through a
//     copy with its dates widened, so the stored chart has eight-digit
//     dates throughout; the target itself changes only by the final
//     rename.
//  2. Append in place: when the chart holds its header and every stored
//     whole bar is dated before range.first (so every new bar comes after
//     the last one), the step writes into memory.  Up to one page of new
//     bytes (a few nights of bars) goes after the last whole bar in one
//     write, a trailing partial record cut off; the header date (step 7)
//     follows once the bars are on the disk (in an open DurableBatch,
//     after the run's one flush), so a kill leaves the old chart or the
//     new bars, and the date never runs ahead of them.  On any failure the
//     chart is put back byte for byte.  More new bytes, or a chart this
//     user may not write, go through step 3 with the bars already made.
//     A target that exists and is not a chart, or is not a regular file
//     (or a link to one), is refused first (target_refusal).
//  3. Otherwise the new version is written through SafeReplace (a
//     temporary file with a name unique to the run beside the chart).  A
//     missing target starts from a new header (range.type, range.first); when
//     its file cannot be made, the name becomes "_" (in the current
//     directory) and a new chart is built under that name; an earlier "_"
//     is replaced only when the new one is complete.  A target that exists
//     but cannot be opened, or is not a regular file, fails the splice.
//  4. cpyoldtmpstart copies the header and the bars dated before
//     range.first.  A target shorter than 128 bytes gets a new header (as
//     creatmorva would write it) and no old bars.
//  5. The step writes the new bars.  It may rely on: `tmp` is open for
//     writing, positioned just after the leading copy (header + old bars
//     before range.first); range.first is the first date it may write; it
//     must write in ascending date order, all dates >= range.first, and set
//     range.last to the last date written (or leave it when it wrote
//     nothing).  It returns non-zero on success, 0 to abandon the store.
//     It should write through write_bar or checked_write.
//  6. cpyoldtmpend appends the old bars dated after range.last.
//  7. The header date at offset 118 becomes range.last when
//     101 <= range.last <= 99999999 (or by SpliceOptions::header_date).
//  8. Every write is checked, the new file is flushed to the disk and
//     renamed over the target (or left to the open DurableBatch).
// Returns 1 when the target was replaced.  On any failure returns 0, the
// target is byte for byte as before and no temporary file is left.
// `target` holds the name that was (or would have been) written: "_" after
// the fallback.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

using NewBarsStep = std::function<int(std::FILE* tmp)>;

// The chart type of a chart the store creates and the dates of the bars it
// adds.
struct SpliceRange {
  char type = '?';         // 'D', 'W', 'M', 'N' (or '?') for a new header
  std::int32_t first = 0;  // first date of the new bars; a new header records it
  std::int32_t last = 0;   // last date written: the step sets it
};

struct SpliceOptions {
  bool upgrade_target = true;  // step 1: widen the dates of an old chart
  bool fallback_name = true;   // "_" when the target cannot be created
  // Header date rule of step 7: return true and set *date to have *date
  // written at offset 118; empty = 101 <= last <= 99999999 writes last.
  std::function<bool(std::int32_t last, std::int32_t* date)> header_date;
};

int store_splice(std::string& target, SpliceRange& range, const NewBarsStep& write_new_bars,
                 const SpliceOptions& options = {});
