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
#include "convert/result.h"

inline constexpr std::size_t kTechHeaderSize = 16;
inline constexpr std::size_t kTechRecordSize = 16;
// dton(18991230): serial 0 is 30 December 1899.
inline constexpr int kTechBaseDate = 18991230;

// The messages of the endings other than kDone.  A target that cannot be
// made gets the disk-full line (kDiskFullLine) followed by its name.
inline constexpr const char* kTechTooShort = " Not a TECHTOOLS file: shorter than its 16-byte header.";
inline constexpr const char* kTechReadFailed = " Unable to read the source file. Nothing was stored.";
inline constexpr const char* kTechWriteFailed = " Unable to write to disk. Disk full?";

// One TechTools record decoded into a bar with a full yyyymmdd date.
BarRecord techtools_bar(int price_type, const unsigned char rec[kTechRecordSize]);

// What the conversion tells its dialogue.
class TechToolsListener {
 public:
  virtual ~TechToolsListener() = default;
  // After each bar read; `count` counts the bars so far (1 for the first).
  virtual void bar_written(long count, const BarRecord& bar) { (void)count, (void)bar; }
  // Polled after each bar: true stops the conversion after this bar (the
  // bars so far still form the chart).
  virtual bool stop_requested() { return false; }
  // Once, before the chart is written, when records had to be put in date
  // order: records dated before an earlier record, and records whose date
  // a later record also has (one bar per date).
  virtual void sorted(long out_of_order, long same_date) { (void)out_of_order, (void)same_date; }
};

// How many records order_tech_bars moved and merged.
struct TechOrder {
  long out_of_order = 0;  // dated before an earlier record: sorted into place
  long same_date = 0;     // another (later) record has the same date: one bar per date
};

// Sorts `bars` by date, keeping the file order within a date, then keeps
// the last bar of each date (as the text conversion does).
TechOrder order_tech_bars(std::vector<BarRecord>& bars);

struct TechToolsRequest {
  int source = -1;     // the TechTools file, read from its current position (its start)
  std::string target;  // the chart to write (replaced whole)
};

// Converts the TechTools file into the chart `target`: type 'D', full
// eight-digit dates in date order with one bar per date, and the date of
// its last bar in the header date field (0 for a chart without bars).
// Does not close the source.  The Result:
//   kDone     the chart holds the records (count bars, first/last dates;
//             `stopped` when a stop request ended it early); passed_over
//             counts the records sorted in or merged, and the message then
//             says so (" Sorted by date: ...")
//             bar_check: the records checked by the bar rules, as stored
//   kRefused  the source is shorter than its header (kTechTooShort), or
//             more than half its records break the bar rules (bar_check
//             says which; the message " Not a TECHTOOLS file: ...")
//   kFailed   a read (kTechReadFailed), the making of the target
//             (kDiskFullLine + name) or a write or the rename
//             (kTechWriteFailed) failed; the target is as it was
Result techtools_convert(const TechToolsRequest& request, TechToolsListener& listener);
