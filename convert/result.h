// What every conversion of the core returns: how it ended, what it wrote,
// and the message the caller shows for it.  The core never shows anything
// itself; the window draws the message in its rows, the batch tool prints it.
#pragma once

#include <cstdint>
#include <string>

#include "chartdata/bar_checks.h"

enum class Status {
  kDone,     // the target holds the result (when stopped: what was written so far)
  kNothing,  // the source held nothing to convert; nothing was written
  kRefused,  // the request or the source is not usable; nothing was written
  kFailed,   // a read, a write or the final rename failed; the target is as it was
};

struct Result {
  Status status = Status::kFailed;
  std::string message;        // what to show for this ending; "" for nothing
  long count = 0;             // bars, groups, lines or charts written
  bool stopped = false;       // ended early on request (ESC); what was written stands
  std::int32_t first = 0;     // first date written (when the command reports one)
  std::int32_t last = 0;      // last date written, or the bar that did not fit
  long passed_over = 0;       // records or lines skipped or moved into place
  long failed = 0;            // charts (or items) that could not be written; the others stand
  long bars = 0;              // bars stored, where count counts charts (text to chart)
  long early = 0;             // lines before the start date, left out as asked
  BarTally checked;           // the value rules over the bars stored
  bool ok() const { return status == Status::kDone; }
};
