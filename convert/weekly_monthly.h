// Daily to weekly and monthly charts (F3).
//
// The core folds consecutive bars of a source chart into one bar per
// calendar week or month and splices the groups into the target chart, which
// keeps its own header and the bars the new range does not cover.  The
// dialogues DAYWK and DAYMONTH (declared in window/commands.h) ask for the
// target and report on screen.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "chartdata/bar.h"
#include "convert/index_file.h"

// Progress of one pass over a source chart, shared by the fold, compression
// and adjustment cores.  The dialogues draw it on screen; tests and
// benchmarks use the defaults.
struct ChartPassProgress {
  virtual ~ChartPassProgress() = default;
  // A group or bar was written; `close` is the price the dialogue shows.
  virtual void progress(float /*close*/) {}
  // Asked after each written group or bar: true stops the pass there (ESC).
  // What was written so far is kept.
  virtual bool stop_requested() { return false; }
};

enum class FoldKind { kWeekly, kMonthly };

// Divides a volume by 1000 until it is at most 10,000,000.
std::int32_t normalise_volume(std::int32_t volume);

// The date a closed group carries: weekly, the Friday of its week (Saturday
// and Sunday go back, Monday to Thursday forward); monthly, the last day of
// the month by `lastday` unless the day is 31 (a month number outside 1-12
// keeps the date).
std::int32_t weekly_group_date(std::int32_t date);
std::int32_t monthly_group_date(std::int32_t date);

// Folds `bars` as the conversion does: leading bars with negative volume are
// skipped, the index file is applied to every bar taken, volumes are
// normalised, groups are closed by week (a Monday, more than six days after
// the group's first bar, or every bar when `already_weekly`) or by month
// number.  Two groups that land on the same date are merged into one.
// `stopped` (optional) is set when progress asked to stop.
std::vector<BarRecord> fold_bars(std::span<const BarRecord> bars, FoldKind kind,
                                 bool already_weekly, const IndexFile& idx = {},
                                 ChartPassProgress* progress = nullptr, bool* stopped = nullptr);

enum FoldStatus : int {
  kFoldStored = 1,  // the target was replaced with the spliced chart
  kFoldNoBars,      // the source holds no bar with a volume of 0 or more
  kFoldUnsorted,    // the source's dates go backwards; nothing written
  kFoldFailed,      // the target could not be made or written; it is unchanged
};

struct FoldResult {
  int status = kFoldFailed;
  long groups = 0;             // groups written
  bool stopped = false;        // the pass was ended early (ESC)
  std::int32_t first = 0;      // start of the stored range
  std::int32_t last = 0;       // date of the last group
};

// Folds the chart open as `source_fd` (read from its current position,
// which must be the start; always closed) into `target`.  A target that
// has to be created gets the type 'W' or 'M'.
// The target's header date becomes the last date stored.  A target holding
// two-digit-year dates is upgraded first.  The target is replaced only when
// the whole splice succeeded.
FoldResult fold_chart(int source_fd, FoldKind kind, const IndexFile& idx,
                      const std::string& target, ChartPassProgress& progress);
