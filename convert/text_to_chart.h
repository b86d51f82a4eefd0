// Text to chart: text price files, one bar per line, laid out as the format
// settings `ff` describe, turned into bar records.
//
// Plain file and text work (LineParser, parse_date, first_symbol,
// first_two_dates, save28r) that the window's dialogue, tests, benchmarks
// and batch tools call; it reports through TextReport and never touches the
// screen.  Storing the bars into charts is convert/store.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "chartdata/bar.h"
#include "chartdata/linereader.h"
#include "convert/format.h"

// ---- State of a run ----------------------------------------------------------

// Time-of-day dates (code 2, hh:mm:ss): every time-stamped line counts in
// tentimes; every 30th one moves telerate_date (a day number, starting at
// 14 September 1948) on by a day.  Its owner keeps one for a whole run
// (the window for its session, the batch tool for its command), so the
// dates go on from one text to the next.
struct TimeOfDayDates {
  int tentimes = 0;
  int telerate_date = 711750;  // 14 September 1948
};
// Three letters per month.
inline constexpr char Mcal[] = "janfebmaraprmayjunjulaugsepoctnovdec";

inline constexpr int kFieldMax = 19;     // characters a field slot keeps

// ---- Pure helpers ----------------------------------------------------------

// First position in `text` that holds a digit, '+', '-', '.' or a line feed;
// nullptr at the end of the text.
const char* finddigit(const char* text);
// Lower-cases the first three characters of `text` in place and returns the
// month 1..12 whose three-letter name in Mcal they spell, or 0.
int search(char* text);

// Parses a date written in date-format `code` (0 yyyymmdd, 1 31dec92,
// 2 12/31/92 or hh:mm:ss, 3 yymmdd, 4 31.12.2024) into yyyymmdd.  Code 0
// also reads ISO dates, yyyy-mm-dd and yyyy/mm/dd, with any time after
// them ignored; code 4 is day first with '.', '/' or '-' and is only
// chosen in the batch tool (the window's menu has codes 0-3).  Returns 1 when valid;
// *synthetic is set when the text was a time of day and the date is the
// next synthetic one of `clock`, which moves on.  No message.
int parse_date(const char* text, int code, std::int32_t* date, TimeOfDayDates& clock,
               bool* synthetic = nullptr);

// A header line: no digit, and every non-empty field (split at `sep`)
// begins with a letter, after blanks, quotes and '<' ("Date,Open,High,Low,
// Close,Adj Close,Volume").  Before the first date such a line is skipped
// silently.
bool is_header_line(std::string_view line, char sep);

// Reads a number as the C library's strtod does (leading white space, sign,
// decimal or hexadecimal, inf/nan), then rounds it to float: the value a
// price field holds.  An empty or non-numeric text gives 0.
float read_price(const char* text);
// The whole text (blanks and quotes around it aside) is a number: digits
// with one decimal point, an exponent with digits, or a fraction form
// ("12 1/2", "12'16", read up to the fraction), whose value fits a 32-bit
// float (a price; a number that is not 0 may not become 0) or a 32-bit
// integer (`integer`, a count).  Sets *value (when not null).
bool whole_number(const char* text, double* value, bool integer = false);
// Reads a decimal integer as atoi does (leading white space, sign, digits),
// saturating at the int32 range instead of overflowing.
std::int64_t read_integer(const char* text);

// Volume factor of a conversion: 100 when a list of names is worked through
// and its name begins with "ASCII" or "ascii", else 1.
int volume_factor(bool list_active, const char* listname);

// The first start date of the settings as a number (atoi of the 8 digits).
std::int32_t start_date_of(const FormatSettings& f);

// ---- Reporting -------------------------------------------------------------

// What the text-to-chart core tells its caller.  Every method has an empty
// default, so a batch caller overrides only what it shows.
class TextReport {
 public:
  virtual ~TextReport() = default;
  // A date did not parse (" Bad date format. So, skip this line.").
  virtual void bad_date() {}
  // Neither the line nor the file name gave a date; the line is skipped
  // (" Bad date format in the source filename too. So, skip it.").
  virtual void bad_name_date() {}
  // A line dated before the start date was skipped.
  virtual void early_date() {}
  // A line whose values cannot be stored as written was skipped.
  virtual void bad_value() {}
  // The first line after a run of early lines was kept.
  virtual void early_dates_done() {}
  // Every 10th bar of a chart, with that bar.
  virtual void progress(const BarRecord&) {}
  // A bar about to be stored breaks the bar rules (BarFault bits).
  virtual void bar_faults(const BarRecord&, unsigned) {}
};

// ---- Line parsing ----------------------------------------------------------

// One line's field texts by field letter: the slots of `tt` (S 0, D 4, O 5,
// H 6, L 7, C 8, V 9, I 10; M 12 in the first place, 13 in the third, 11
// elsewhere).  The symbol is kept whole in `symbol`.
struct FieldSlots {
  char slot[14][kFieldMax + 1] = {};
  std::string symbol;
  // The last symbol field and its name: consecutive lines of one symbol
  // make the name once.
  std::string last_field, last_name;
  char last_sep = 0;
  bool have_last = false;
  // A price, volume or open-interest column held text without a number.
  bool bad_field = false;
};

// Slot of a field letter at a place of the field order; -1 for no field.
int slot_of(char letter, int place);

// Splits one line by the field order (the field walk): a numeric field
// starts at the next digit, sign or point of its column.  Two adjacent
// separators enclose an empty field (a blank separator excepted: a run of
// blanks is one separator); a column of text without a number sets
// bad_field and stays empty, so the later fields keep their places.  Stops early when the symbol differs from `cursym` (when
// `cursym` is not null); returns 1 then, else 0.
int walk_fields(std::string_view line, const FormatSettings& f, const std::string* cursym,
                FieldSlots& out, std::size_t* symbol_end = nullptr);

enum class LineKind {
  kIgnored,       // 6 characters or fewer, or a header line before the first date
  kBar,           // a bar in `bar`
  kSymbolChange,  // a new symbol in `symbol`; the line belongs to the next chart
  kBadDate,       // no date in the line nor in the file name
  kEarly,         // dated before the start date (bar.date holds the date)
  kBadValue,      // a value the chart cannot hold as written (nan, inf, 1e40, a volume
                  // beyond 32 bits, a column of text) or no number at all: skipped
};

struct ParsedLine {
  LineKind kind = LineKind::kIgnored;
  BarRecord bar;
  bool synthetic = false;  // the date is a time-of-day date
  std::string symbol;      // kSymbolChange: the new symbol
};

// Turns lines into bars for one conversion.
class LineParser {
 public:
  // With `decimal_comma` every ',' of a line is read as a decimal point
  // (the separator is then not ',').  Time-of-day dates come from `clock`.
  LineParser(const FormatSettings& f, std::string textname, int volume_factor,
             TextReport& report, TimeOfDayDates& clock, bool decimal_comma = false);
  // Parses one line (as mygts returned it).  `cursym` is the chart's
  // symbol when the order has a symbol column.
  void parse(std::string_view line, const std::string& cursym, ParsedLine& out);
  // The symbol column of the last line parsed, as the text writes it.
  const std::string& source_symbol() const { return slots_.last_field; }
  // Lines passed over so far: no usable date or values, and dated before
  // the start date.
  long skipped() const { return skipped_; }
  long early() const { return early_; }

 private:
  bool date_of(const FieldSlots& s, std::int32_t* date, bool* synthetic);
  // The common line in one pass without the slots: fields of plain
  // decimals of at most kFieldMax characters, each ended by the separator
  // or the line's end, the chart's own symbol, a yyyymmdd date.  False
  // (nothing changed) for any other line, which then takes the field walk.
  bool parse_plain(std::string_view line, const std::string& cursym, std::int32_t* date,
                   BarRecord& bar) const;
  FormatSettings f_;
  signed char place_slot_[12] = {};  // slot_of for each place of the order
  bool plain_ok_ = false;            // the order and date code allow parse_plain
  bool wants_value_ = false;         // the order has a price, volume or open-interest column
  bool named_[4] = {};               // the order names open, high, low, close
  bool names_price_ = false;
  std::string textname_;
  int factor_;
  TextReport& report_;
  TimeOfDayDates& clock_;
  bool has_s_ = false, has_d_ = false;
  bool decimal_comma_ = false;
  bool dated_ = false;  // a line gave a date: header lines are behind
  std::int32_t start_ = 0;
  bool skipping_ = false;
  long skipped_ = 0, early_ = 0;
  FieldSlots slots_;
};

// ---- Reading a text ----------------------------------------------------------

// A text is read through chartdata's LineReader (the line rules of mygts at
// a budget of kLineBudget).

// A bar of a run and whether its date is a synthetic time-of-day date.
struct RunBar {
  BarRecord bar;
  bool synthetic = false;
};

// Reads the lines of one chart from `src` and appends the bar of every
// accepted line to `bars` (text order), until the symbol changes or the
// text ends.  `nextsym` receives the new symbol, empty at the end of the
// text; the line that changed it is given back to `src`.
void save28r(std::vector<RunBar>& bars, const std::string& cursym, LineReader& src,
             LineParser& parser, std::string& nextsym, TextReport& report);

// ---- Reading the first lines -----------------------------------------------

// The first usable symbol of the text in fd, made into a chart name; lines
// whose symbol begins with 20 dashes are passed over.  Leaves fd at the
// start of that line and returns 1; returns 0 (fd at the end) when the text
// holds no usable symbol line.
int first_symbol(int fd, const FormatSettings& f, std::string& name);

// The first two dates of the text from the current position of fd, read
// as what_type does: the first line whose date parses, then the line after
// it.  Sets *count to the number of dates found (0..2).  With a symbol
// column each date is read from the first digit, sign or point after the
// line's first separator.  Reports every failed date through
// report.bad_date().
void first_two_dates(int fd, const FormatSettings& f, bool symbol_in_use, std::int32_t dates[2],
                     int* count, TextReport& report, TimeOfDayDates& clock);
