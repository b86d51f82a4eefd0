// Quick-quote import (T): a file of one day's quotes in the long quote
// format adds one daily bar per symbol, dated as the user types, to the
// chart named after the symbol in the current directory.
//
// A quote record is five lines; fields are looked for from fixed columns:
//   line 1: symbol from column 0 (up to the first blank), close from
//           column 22, volume from column 66
//   line 3: open from column 42, high from column 54, low from column 66
//   lines 2, 4, 5: ignored
// Lines of dashes (20 or more '-') and blank lines between records are
// skipped.  Consecutive records of one symbol form one run; every run is
// merged into its chart by the store splice, so a chart keeps one bar per
// date and a later record for the same day replaces an earlier one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include <sys/types.h>

#include "chartdata/bar.h"
#include "chartdata/bar_checks.h"
#include "chartdata/linereader.h"
#include "chartdata/splice.h"
#include "convert/result.h"

inline constexpr int kQuoteLineSize = 256;  // line buffer; at most 254 characters a line
inline constexpr std::size_t kQuoteFieldMax = 19;

// The numeric text of a field that starts at column `col`: characters that
// are not a digit, '+', '-' or '.' are skipped, then the run of digits, '+',
// '-', '.' and '/' is taken (at most 19 characters).  A column beyond the
// end of the line gives "".
std::string quote_field(const char* line, std::size_t col);

// One record as read from its five lines.
struct QuoteRecord {
  std::string name;  // chart name of the symbol
  float open = 0, high = 0, low = 0, close = 0;
  std::int32_t volume = 0;
  // False when a value cannot be stored as written: a price that is not a
  // finite float, or a volume beyond 32 bits.  Such a record is skipped.
  bool storable = true;
};
// Parses the fields of a record from its first and third lines (either may
// be null for a record cut short by the end of the file: its fields are 0).
QuoteRecord parse_quote(const char* line1, const char* line3);

// The update date as typed: yymmdd (leading zeros already dropped) widened
// to yyyymmdd by the two-digit-year window (Y2000_99to1999), or yyyymmdd
// kept whole.  0 when the number is not a calendar date.
std::int32_t widen_update_date(long typed);

// What the import tells its dialogue.
class QuickQuoteListener {
 public:
  virtual ~QuickQuoteListener() = default;
  // Every 10th record of a chart's run, with that record's close.
  virtual void progress(float close) { (void)close; }
  // After each record read (stored or skipped).
  virtual void record_read() {}
  // A run was merged into its chart (`ok`) or its chart was left unchanged.
  virtual void chart_done(const std::string& name, bool ok) { (void)name, (void)ok; }
  // A run whose chart would be the quote file itself (or the splice's
  // temporary file) is skipped.
  virtual void chart_refused(const std::string& name) { (void)name; }
  // A record without a usable symbol, or with a value a chart cannot hold
  // (a price that is not a finite float, a volume beyond 32 bits), was
  // skipped (no bar stored).
  virtual void record_skipped() {}
  // Polled between charts: true ends the import after the chart just done.
  virtual bool stop_requested() { return false; }
};

// The messages of the import's endings.
inline constexpr const char* kQuoteWriteFailed = " Unable to write to disk. Disk full?";

// Lines between records: empty or blank lines, and lines whose symbol
// starts with 20 dashes.
bool quote_between_records(const char* line);
// A record whose first line starts with a blank has no symbol: the record
// (five lines) is skipped whole, so the records after it keep their lines.
bool quote_record_without_symbol(const char* line);
// The chart name of a record's first line; "" when the record has no
// usable symbol (none, "7", control characters): such records store no bar.
std::string quote_chart_name(const char* line);

// Reads lines from `fd` until the first record line (not a dash line, not
// blank) and returns its chart name in *name, leaving the reading position
// at the start of that line.  0 when the file holds no record.
int first_quote_name(int fd, std::string* name);

// One import's state, handed down the loop over charts.
struct QuoteImport {
  LineReader* source = nullptr;  // the quote file, read in blocks
  std::int32_t update_date = 0;  // the date of every bar (yyyymmdd)
  QuickQuoteListener* listener = nullptr;
  // What the splice of the chart now stored needs: the type of a new chart
  // and the dates of its bars.
  SpliceRange range{'D', 0, 0};
  std::string next_chart;  // the chart name that ended the last run; "" at the end of the file
  long charts_stored = 0, charts_failed = 0, records_skipped = 0;
  bool stopped = false;  // ended on request before the file was used up
  // Lines read so far, and the first line of the record read last.
  long line = 0, line_of_record = 0;
  // When set, the bar of every run is checked by the bar rules.
  BarTally* check = nullptr;
  // The quote file's identity, taken once per import.
  bool have_source_id = false;
  dev_t source_dev = 0;
  ino_t source_ino = 0;
};

struct QuoteRequest {
  int source = -1;               // the quote file, at its first record (first_quote_name)
  std::int32_t update_date = 0;  // yyyymmdd
  std::string first_name;        // the chart name of the first record
};

// The import: every record from the reading position of the quote file on
// is merged into its chart with the update date.  New charts are daily
// charts whose header carries the update date.  Does not close the file;
// reads it in blocks and leaves it after the last line read.  The Result:
// count = charts stored, failed = charts left unchanged by a failed store,
// passed_over = records skipped, `stopped` on a stop request; status kDone
// when charts were stored and none failed, kFailed (kQuoteWriteFailed) when
// one failed, kNothing when no chart was stored.  Skipped records give the
// message " N record(s) skipped ..." unless a chart failed.  Before anything
// is written, the bar of every run (chart, update date, line of its
// record) is checked by the bar rules: bar_check holds the count and the
// first few; when more than half of them break the rules the file is
// refused whole (kRefused, " Not a QUICK-QUOTE file: ...").
Result quickquote_import(const QuoteRequest& request, QuickQuoteListener& listener);

// The loop over charts behind quickquote_import.  `name` (at least 22
// bytes) holds the first chart's name on entry and the last chart's name
// on return.  Positive when every chart was stored, else 0.
int send_quickq_tomorva(QuoteImport& import, char* name);
// Reads the records of the run of chart `name` and writes its bar to `tmp`
// (nothing is written when tmp is null: the run is only passed over).
// Leaves the next chart's name in import.next_chart ("" at the end of the
// file).  kDone when the bar was written completely (or there was none),
// kNothing when every record of the run was skipped for a value a chart
// cannot hold (nothing to store), kFailed when the write failed.
Status save_qq_28(QuoteImport& import, std::FILE* tmp, const char* name);
