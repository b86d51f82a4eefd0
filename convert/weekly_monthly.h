// Daily to weekly and monthly charts (F3).
//
// Folds consecutive bars of a source chart into one bar per calendar week
// or month and splices the groups into the target chart, which keeps its
// own header and the bars the new range does not cover.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "chartdata/bar.h"
#include "convert/chart_output.h"
#include "convert/index_file.h"
#include "convert/result.h"

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

// What a fold needs: the kind, the source's index file and the target.
struct FoldRequest {
  FoldKind kind = FoldKind::kWeekly;
  IndexFile index;
  std::string target;
};

// Folds the chart open as `source_fd` (read from its current position,
// which must be the start; always closed) into `request.target`.  A target
// that has to be created is typed 'W' or 'M'; its header date becomes the
// last date stored.  A target holding two-digit-year dates is upgraded
// first.  The target is replaced only when the whole splice succeeded.
//   kDone     the target holds the spliced chart: count groups, first and
//             last the stored range, stopped after ESC
//   kNothing  the source holds no bar with a volume of 0 or more
//             (kUnableToWriteMessage)
//   kRefused  the source's dates go backwards (kUnsortedMessage)
//   kFailed   the source could not be read to its end, or the target could
//             not be made or written; it is unchanged (kUnableToWriteMessage)
Result fold_chart(int source_fd, const FoldRequest& request, ChartPassProgress& progress);
