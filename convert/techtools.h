// TechTools import (F9): packed 16-byte TechTools price records become a new
// daily chart, one source file per chart.
//
// TechTools file: a 16-byte header (bytes 0-1: signed 16-bit price type of
// every price in the file) and 16-byte records, little-endian:
//   0  u16 date serial, days after 30 December 1899
//   2  u16 open, 4 high, 6 low, 8 close: price codes (PriceToDouble)
//   10 24-bit volume, 13 24-bit open interest
// A record cut short at the end of the file is ignored.
//
// The chart is built whole in a temporary file beside the target and only
// then renamed over it: an existing chart of that name is replaced, never
// merged, and stays byte for byte as it was when the conversion fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "chartdata/bar.h"

inline constexpr std::size_t kTechHeaderSize = 16;
inline constexpr std::size_t kTechRecordSize = 16;
// dton(18991230): serial 0 is 30 December 1899.
inline constexpr int kTechBaseDate = 18991230;

// One TechTools record decoded into a bar with a full yyyymmdd date.
BarRecord techtools_bar(int price_type, const unsigned char rec[kTechRecordSize]);

// What the conversion tells its dialogue.
class TechToolsListener {
 public:
  virtual ~TechToolsListener() = default;
  // After each bar written; `count` counts the bars written so far (1 for
  // the first).
  virtual void bar_written(long count, const BarRecord& bar) { (void)count, (void)bar; }
  // Polled after each bar: true stops the conversion after this bar (the
  // bars so far still form the chart).
  virtual bool stop_requested() { return false; }
};

enum class TechResult : int {
  kStored = 1,        // the chart now holds every complete record
  kStopped = 2,       // stopped on request; the bars so far form the chart
  kNotTechTools = 3,  // source shorter than its 16-byte header; nothing written
  kReadError = 4,     // the source could not be read; target unchanged
  kCreateFailed = 5,  // the temporary chart could not be made; target unchanged
  kWriteFailed = 6,   // a write or the final rename failed; target unchanged
};

struct TechOutcome {
  TechResult result = TechResult::kWriteFailed;
  long bars = 0;          // bars in the new chart
  long out_of_order = 0;  // records dated before an earlier record: sorted into place
  long same_date = 0;     // records whose date another (later) record also has: one bar per date
  std::int32_t first_date = 0, last_date = 0;  // of the bars written (0 when none)
  bool stored() const { return result == TechResult::kStored || result == TechResult::kStopped; }
};

// Converts the TechTools file open on `srcfd` (read from its current
// position, which should be its start) into the chart `target`.  The chart
// gets type 'D', full eight-digit dates, and the date of its last bar in
// the header date field (0 for a chart without bars).  The records are
// sorted by date with one bar per date (the later record of a date wins,
// as in the text conversion), so no day is lost to a record out of order;
// both are counted.  Does not close srcfd.
// Sorts `bars` by date, keeping the file order within a date, then keeps
// the last bar of each date.  Counts what was moved and merged into `out`.
void order_tech_bars(std::vector<BarRecord>& bars, TechOutcome& out);

TechOutcome techtools_convert(int srcfd, const std::string& target, TechToolsListener& listener);

// Dialogue: asks for the target name of the open TechTools file `fd` (its
// name in exclambuf), converts it and reports on screen.  Closes fd.  On
// success the chart's name is in savenm and 1 is returned; 0 on ESC or
// failure.
int techsub(int fd);
