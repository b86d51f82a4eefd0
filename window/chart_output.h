// The screen side of the dialogues that write a new chart from a source
// chart (adjustment by a constant, numbered chart, weekly and monthly
// chart): the progress line, the refusal of a target that is the source,
// and the messages of the endings, shown under the command's title.
#pragma once

#include <optional>

#include "convert/chart_output.h"
#include "convert/result.h"

// The screen while a pass runs.  Made, it clears row 2 and leaves the cursor
// at row 6; progress() shows the close with three decimals on row 2 (the
// cursor stays where it was) and ESC asks the pass to stop.
struct ScreenChartProgress : ChartPassProgress {
  ScreenChartProgress();
  void progress(float close) override;
  bool stop_requested() override;
};

// Shows the message of an ending (nothing when it has none).
void show_result(const Result& r);

// 1, after showing kSameNameMessage, when `target` is the chart open as `fd`
// under another spelling ("./x", a link): writing it would rewrite the source.
int refuse_source_as_target(const char* target, int fd);

// Writes the new chart `target` from the chart open as `fd` by `pass`,
// drawing its progress, and shows the message of every ending but kDone.
// Nothing (the source still open, so another name may be asked) when the
// target was refused before the source was read; otherwise the source is
// closed and the result tells whether the target holds the new chart.
std::optional<Result> write_new_chart_shown(int fd, const char* target, const ChartPass& pass);
