// What the dialogues that write a new chart from a source chart share
// (adjustment by a constant, numbered chart, weekly and monthly chart): the
// messages, the refusal of a target that is the source itself, the progress
// line, and the writing of the new chart with its messages.
#pragma once

#include <cstdio>
#include <functional>

#include "chartdata/safe_replace.h"
#include "convert/weekly_monthly.h"  // ChartPassProgress

inline constexpr const char* kSameNameMessage = "Use a name which differs from the source name.";
inline constexpr const char* kCannotOpenMessage =
    "Disk full or disk error or filename wrong? Maybe run scandisk or fsck.\r\n";
inline constexpr const char* kUnableToWriteMessage = " Unable to write to disk. Disk full?";
inline constexpr const char* kOutOfRangeMessage =
    " A result is too large for a MORVA chart; nothing was stored.";
inline constexpr const char* kNotChartMessage =
    " The source is shorter than a MORVA chart header; nothing was stored.";

// 1, after showing kSameNameMessage, when `target` is the chart open as `fd`
// under another spelling ("./x", a link): writing it would rewrite the source.
int refuse_source_as_target(const char* target, int fd);

// The screen while a pass runs.  Made, it clears row 2 and leaves the cursor
// at row 6; progress() shows the close with three decimals on row 2 (the
// cursor stays where it was) and ESC asks the pass to stop.
struct ScreenChartProgress : ChartPassProgress {
  ScreenChartProgress();
  void progress(float close) override;
  bool stop_requested() override;
};

enum ChartPassStatus : int {
  kPassWritten,   // `out` holds the whole new chart, ready to commit
  kPassNotChart,  // the source is shorter than a chart header
  kPassFailed,    // a read or a write failed
  kPassOutOfRange,  // a result does not fit a chart; nothing is stored
};

// One pass from the source stream into the replacement of the target.
using ChartPass =
    std::function<ChartPassStatus(std::FILE* source, SafeReplace& out, ChartPassProgress& progress)>;

enum NewChartResult : int {
  kNewChartFailed = 0,    // a message was shown; the source is closed
  kNewChartStored = 1,    // the target holds the new chart; the source is closed
  kNewChartAskAgain = 2,  // the name was refused (message shown); the source is still open
};

// Writes the new chart `target` from the chart open as `fd` by `pass`.  A
// target that is the source, or that cannot be made (kCannotOpenMessage),
// gives kNewChartAskAgain.  Otherwise the source is read from its start and
// closed; the target is replaced only when the pass wrote it completely,
// else kNotChartMessage or kUnableToWriteMessage is shown and the target is
// left as it was.
int write_new_chart(int fd, const char* target, const ChartPass& pass);
