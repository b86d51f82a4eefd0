// The checks of a whole chart: its structure (size, header, dates of two
// digits), the order of its dates, the values of its bars (the rules of
// chartdata/bar_checks.h) and what looks suspicious in its prices (large
// moves, unit jumps, splits never adjusted, placeholder bars, days missing
// against a reference chart).  `show`, `check` and `repair` of the batch
// tool all ask this one module; the mechanical fixes of `repair` are
// decided here too.  No screen, no globals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "chartdata/bar.h"
#include "convert/result.h"

enum class CheckKind {
  // structure
  kPartialRecord,   // the size is not 128 + 28 n
  kHeaderDate,      // the header date is not the last bar's date
  kUnknownType,     // byte 116 is no chart type letter
  kSixDigitDates,   // yymmdd dates still to be widened
  kNotChart,        // a file among the charts that is no chart
  // order
  kDuplicateDate,   // the same date as the bar before
  kOutOfOrder,      // dated before the bar before
  kNotCalendar,     // no calendar day
  kWeekend,         // a Saturday or Sunday in a daily chart
  // values
  kNotNumber,       // a price NaN or infinite
  kNotPositive,     // a price of 0 or less
  kOutsideRange,    // open or close outside low-high
  kHighBelowLow,    // high below low
  kNegativeCount,   // volume or open interest below 0
  // suspicious
  kBigMove,         // close to close beyond the move limit
  kUnitJump,        // a jump by a factor near 100
  kSplit,           // a lasting jump near a split ratio, volume the other way
  kPlaceholder,     // O = H = L = C, volume 0, between real bars
  kMissingDay,      // the reference has the day, the chart not
  kExtraDay,        // the chart has the day, the reference not
};
inline constexpr int kCheckKinds = static_cast<int>(CheckKind::kExtraDay) + 1;

// The kind's word in reports ("partial-record", "weekend", "split", ...)
// and its group ("structure", "order", "values", "suspicious").
const char* check_kind_name(CheckKind kind);
const char* check_kind_group(CheckKind kind);
// True for the kinds `repair` mends.
bool check_kind_mechanical(CheckKind kind);

struct Finding {
  CheckKind kind{};
  long bar = 0;            // 1-based bar number; 0 for the chart as a whole
  std::int32_t date = 0;   // the bar's date (0 when none)
  std::string detail;      // what was found, in words
  std::string fix;         // the command arguments that mend it ("" when none)
};

// Thresholds of the suspicious kinds.
struct CheckLimits {
  double max_move = 0.40;         // a close-to-close move beyond this fraction
  double unit_tolerance = 0.15;   // a ratio within this fraction of 100 or 1/100
  double split_tolerance = 0.08;  // a ratio within this fraction of a split ratio
  int split_bars = 5;             // bars the new level must last (and volumes compared)
};

// A chart file as stored.
struct ChartImage {
  unsigned char header[kHeaderSize] = {};
  std::vector<BarRecord> bars;
  std::size_t trailing = 0;  // bytes of a record cut short at the end
};

// True when `bytes` (the start of a file, `n` bytes) is a chart: a whole
// header whose byte 0 is 0 and whose byte 117 is a line feed.  A text, a
// picture or an archive never is.
bool looks_like_chart(const unsigned char* bytes, std::size_t n);

// Reads the file `path` whole into `image`.  "" when it is a chart; else
// why not: "it is a folder", "it is not a chart", or the system's reason it
// cannot be read (then `unreadable` is set).  `buffer` is reused between calls.
std::string load_chart(const std::string& path, ChartImage& image, std::vector<unsigned char>& buffer,
                       bool* unreadable = nullptr);
// load_chart for a command that rewrites the chart it reads: false when
// `image` holds it; true with `ending` set otherwise (kFailed with
// `unreadable_message` for a file that could not be read, or the system's
// reason when it is null; kRefused with the reason for one that is no
// chart).
bool chart_not_loaded(const std::string& path, ChartImage& image, std::vector<unsigned char>& buffer,
                      const char* unreadable_message, Result& ending);
// The same from bytes in memory.
bool chart_from_bytes(std::span<const unsigned char> bytes, ChartImage& image);
// The bytes of an image (header and bars; the cut record left out).
std::vector<unsigned char> chart_image_bytes(const ChartImage& image);

// Every finding of one chart, in order of kind then bar.  `chart` names it
// in the printed fix commands.  With `reference` (the dates of a reference
// chart, ascending) the days between the chart's first and last date that
// one has and the other not are found too.
std::vector<Finding> check_chart(const ChartImage& image, const std::string& chart, const CheckLimits& limits,
                                 const std::vector<std::int32_t>* reference = nullptr);

// The files below `root` that may be charts, in name order, each folder's
// subfolders before its files, recursively; folders whose name begins with
// '.' and index folders ("idx") are passed over, and so are the program's
// own files beside the charts (dot files, NAME.bak, setup.mrv,
// morvautl.dat).  Whether a file is a chart is told when it is read
// (load_chart).  `root` may be a file itself.  Folders that cannot be
// listed go to `unlisted`.
void list_charts(const std::string& root, std::vector<std::string>& charts, std::vector<std::string>& unlisted);

// ---- Mechanical repairs -------------------------------------------------------

struct RepairPlan {
  std::vector<std::string> fixes;  // one line per fix, in words
  ChartImage result;               // the chart after the fixes
  bool changed() const { return !fixes.empty(); }
};
// The fixes of `image`: widen six-digit dates, drop a cut-short record, one
// bar per date (the later record wins), sort by date, header date = last
// bar's date.  Values are never touched.
RepairPlan plan_repair(const ChartImage& image);

// Repairs the chart `path` in place under its lock through the one write
// path: reads it after the lock is held, plans, writes, commits.  kDone
// (count: fixes made; `fixes` lists them), kNothing (nothing to mend),
// kRefused (not a chart), kFailed (read, write or rename failed; the chart
// is as it was).  With `dry_run` only the plan is made.
Result repair_chart(const std::string& path, bool dry_run, std::vector<std::string>& fixes);
