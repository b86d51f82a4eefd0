// The layout of a text price file found from the file itself: its encoding,
// the separator, the header lines and what each column holds, the date
// shape, the number shape (decimal mark, thousands separator, currency,
// K/M/B suffixes) and the first bars as they would be stored.  Knowledge of
// the world's files is in tables (column names in several languages, date
// and number shapes, bodies that are not prices); the detector walks them
// and keeps its evidence, so that `detect` can say why.  Nothing is
// guessed silently: when the columns cannot be placed, the dates may be
// day or month first, or the first bars break the bar rules, the layout is
// refused with the reason and the option to give.  No screen, no globals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "chartdata/bar.h"

// What the caller already knows (its explicit options), which detection
// takes as given.
struct LayoutHints {
  char sep = 0;       // 0: find it
  int datecode = -1;  // -1: find it
  std::string order;  // the order of the settings: read a file without a header by it
};

enum class DateShape {
  kNone,
  kIso,            // 2024-01-02, 2024/01/02, with a time, T, Z or an offset after it
  kYmd8,           // 20240102, with or without a time after it
  kYmdDot,         // 2024.01.02
  kYmd6,           // 240102
  kDayFirst,       // 02.01.2024, 2/1/2024, 02-01-24
  kMonthFirst,     // 01/02/2024, 1/2/2024
  kMonthNameFirst, // Apr 09, 2020
  kDayMonthName,   // 09-Apr-2020, 9 Apr 2020, 31dec92
  kUnix,           // seconds, milliseconds, microseconds or nanoseconds since 1970 (UTC)
};

// Column roles, as field letters: 'D' date, 'T' time of day (not read),
// 'O' 'H' 'L' 'C' 'V' 'I' 'S', '-' a column passed over.
struct LayoutColumn {
  std::string name;  // its header name ("" without a header)
  char role = '-';
  std::string why;   // "adjusted", "turnover", "not known", ...
};

struct TextLayout {
  bool ok = false;
  std::string problem;   // when not ok: why, naming the option to give
  char sep = ',';
  bool header = false;   // the file names its columns
  std::string order;     // field letters for the settings ("" without a header)
  std::string shown;     // the order as shown: a skipped column is '-'
  int datecode = 0;      // the date code that reads the dates
  std::string date_name; // "ISO", "yyyymmdd", "dd.mm.yyyy", ...
  bool decimal_comma = false;
  bool times = false;    // the dates carry a time of day (not read)

  // How the file is read beyond the settings.
  int utf16 = 0;             // 1 UTF-16 little endian, 2 big endian (with a byte-order mark)
  bool bom = false;          // a UTF-8 byte-order mark
  std::vector<LayoutColumn> columns;
  int col_date = -1, col_symbol = -1;
  int col_price[4] = {-1, -1, -1, -1};  // open, high, low, close
  int col_volume = -1, col_openint = -1;
  DateShape date_shape = DateShape::kNone;
  char decimal = '.';
  char thousands = 0;        // 0: none seen
  bool close_only = false;   // open = high = low = close
  // The layout needs the converter's own reading (the settings cannot say
  // it: currency signs, thousands separators, a close-only file, ...);
  // `rewrite_why` names what.
  bool rewrite = false;
  std::string rewrite_why;
  std::vector<std::string> evidence;  // why, one line each
  std::vector<BarRecord> first_bars;  // up to three, as they would be stored
  std::size_t checked = 0, broken = 0;  // the bars of the start and how many break the bar rules
  // The prices the bar rules judge: a price the layout does not read, or a
  // column of zeros (an export of a chart without opens), is not judged.
  bool judged[4] = {true, true, true, true};

  // "date=ISO order=DOHLC-V sep=, header=yes"
  std::string summary() const;
};

// At most this much of a file's start is read.
inline constexpr std::size_t kLayoutBytes = 64 * 1024;

// The layout of a text that begins with `head`.  `rest` (when not null)
// gives the whole file's lines for what its start cannot decide (day or
// month first).
TextLayout detect_layout(std::string_view head, const LayoutHints& hints, std::string_view whole = {});
// The same for the file open in fd, read from its start with pread (the
// descriptor's position does not move).
TextLayout detect_layout(int fd, const LayoutHints& hints);

// Option words of morva-convert for a separator and a date code
// ("comma", "tab", "';'", "yyyymmdd", "dd.mm.yyyy", ...).
std::string separator_option_text(char sep);
std::string date_format_option_text(int code);

// ---- Reading by the layout ----------------------------------------------------

enum class ShapedKind {
  kNotData,       // before the first bar: a title, a header line, a blank line
  kBar,
  kBadDate,       // no date in its date column
  kMissingPrice,  // a price is empty, N/A, -, null
  kBadNumber,     // a value that is not a number in the shapes read
};

struct ShapedLine {
  ShapedKind kind = ShapedKind::kNotData;
  std::int32_t date = 0;
  std::string_view symbol;
  bool missing_volume = false;
  // The values as plain decimals ("1234.5"): open high low close volume openint.
  char text[6][40] = {};
};

// Reads the lines of a text by a layout: one line at a time, no allocation.
class ShapeReader {
 public:
  explicit ShapeReader(const TextLayout& layout) : l_(layout) {}
  void read(std::string_view line, ShapedLine& out);
  // The line in the converter's plain form "[symbol,]yyyymmdd,o,h,l,c,v,i"
  // (order SDOHLCVI or DOHLCVI, separator ',', yyyymmdd dates); a line that
  // is no bar becomes a line that the line parser skips and counts the same
  // way (a header or title: an empty line).  Returns the length written.
  std::size_t plain_line(std::string_view line, char* out, std::size_t cap, ShapedLine& scratch);

 private:
  const TextLayout& l_;
  bool dated_ = false;
  std::vector<std::string_view> fields_;
};

// What rewriting a whole text found.
struct RewriteTally {
  long lines = 0, bars = 0, missing_price = 0, bad_number = 0, bad_date = 0, missing_volume = 0;
};

// Writes the text of `in` (read from its start) in the plain form of
// ShapeReader::plain_line into `out`, one line for each line of the text so
// that line numbers stay.  False when a read or a write failed.
bool rewrite_text(int in, const TextLayout& layout, int out, RewriteTally& tally);

// The field order of the plain form: "SDOHLCVI" with a symbol column, else "DOHLCVI".
const char* plain_order(const TextLayout& layout);
