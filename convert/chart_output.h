// What the commands that write a new chart from a source chart share
// (adjustment by a constant, numbered chart, weekly and monthly chart): the
// messages of their endings, the progress interface of a pass, the check
// that a target is not the source itself, and the writing of a new chart
// through one pass over the source.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "chartdata/safe_replace.h"
#include "convert/result.h"

inline constexpr const char* kSameNameMessage = "Use a name which differs from the source name.";
inline constexpr const char* kCannotOpenMessage =
    "Disk full or disk error or filename wrong? Maybe run scandisk or fsck.\r\n";
inline constexpr const char* kUnableToWriteMessage = " Unable to write to disk. Disk full?";
inline constexpr const char* kOutOfRangeMessage =
    " A result is too large for a MORVA chart; nothing was stored.";
inline constexpr const char* kNotChartMessage =
    " The source is shorter than a MORVA chart header; nothing was stored.";
inline constexpr const char* kUnsortedMessage =
    " The source's dates go backwards; nothing was stored. Sort the chart first.";

// An ending that reports no counts: its status and message.
inline Result pass_ending(Status status, const char* message = "") {
  Result r;
  r.status = status;
  r.message = message;
  return r;
}

// Progress of one pass over a source chart, shared by the fold, compression
// and adjustment cores.  The window draws it on screen, the batch tool
// shows how far the reader is; tests and benchmarks use the defaults.
struct ChartPassProgress {
  virtual ~ChartPassProgress() = default;
  // A group or bar was written; `close` is the price the window shows.
  virtual void progress(float /*close*/) {}
  // Asked after each written group or bar: true stops the pass there (ESC).
  // What was written so far is kept.
  virtual bool stop_requested() { return false; }
};

// True when `name` is the file open as `fd` under another spelling ("./x",
// a link): writing that target would rewrite the source itself.
bool same_file_as(const char* name, int fd);

// One pass from the source stream (at its start) into the replacement of
// the target.  kDone when `out` holds the whole new chart, ready to commit;
// otherwise the ending with its message, and `out` is abandoned.
using ChartPass =
    std::function<Result(std::FILE* source, SafeReplace& out, ChartPassProgress& progress)>;

// The first step of writing the new chart `target` from the chart open as
// `fd`: kRefused (kSameNameMessage) when the target is the source under
// another spelling, kFailed (kCannotOpenMessage) when its replacement cannot
// be made; kDone with `out` holding the replacement.  The source stays open
// whatever the ending, so the caller may ask for another name.
Result open_new_chart(int fd, const std::string& target, std::optional<SafeReplace>& out);

// The second step: runs `pass` over the source and commits `out` when the
// pass wrote it completely.  The source is always closed.  kDone: the target
// holds the new chart (count and stopped as the pass gave them).  Otherwise
// the target is as it was and the message says why: kNotChartMessage,
// kOutOfRangeMessage, or kUnableToWriteMessage for a failed read, write or
// rename.
Result write_new_chart(int fd, SafeReplace& out, const ChartPass& pass,
                       ChartPassProgress& progress);

// Both steps, for a caller that asks for no other name: the source is
// always closed.
Result write_new_chart(int fd, const std::string& target, const ChartPass& pass,
                       ChartPassProgress& progress);
