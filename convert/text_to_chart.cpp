// Text-to-chart core: dates, the field walk, lines into bars.  No screen.
#include "convert/text_to_chart.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "chartdata/bar_checks.h"
#include "chartdata/encodings.h"
#include "chartdata/linereader.h"
#include "convert/symbol_names.h"

namespace {

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_numeric(char c) { return is_digit(c) || c == '+' || c == '-' || c == '.'; }
char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The value of a plain decimal (digits, an optional point, digits) whose
// digits make a whole number up to 2^53 with at most 22 decimals: that
// number and the power of ten are both exact doubles, so one division
// rounds exactly as strtod does.  False (nothing set) for any other form,
// an exponent among them.
bool short_decimal(const char* q, double* v) {
  static const double kTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  std::uint64_t m = 0;  // 19 digits at most are kept exact
  int digits = 0, decimals = 0;
  const char* p = q;
  for (; is_digit(*p); ++p, ++digits) m = m * 10 + static_cast<unsigned>(*p - '0');
  if (*p == '.')
    for (++p; is_digit(*p); ++p, ++digits, ++decimals) m = m * 10 + static_cast<unsigned>(*p - '0');
  if (digits == 0 || digits > 19 || decimals > 22 || m > (std::uint64_t(1) << 53) || *p == 'e' ||
      *p == 'E')
    return false;
  *v = static_cast<double>(m) / kTen[decimals];
  return true;
}

// strtod's value of text; the common decimal forms go through from_chars,
// which rounds exactly as strtod does, the rare ones through strtod itself.
double read_double(const char* text) {
  const char* p = text;
  while (is_space(*p)) ++p;
  bool neg = false;
  const char* q = p;
  if (*q == '+' || *q == '-') {
    neg = *q == '-';
    ++q;
  }
  if (!is_digit(*q) && *q != '.') return std::strtod(text, nullptr);  // inf, nan or nothing
  if (q[0] == '0' && (q[1] == 'x' || q[1] == 'X')) return std::strtod(text, nullptr);
  if (double v; short_decimal(q, &v)) return neg ? -v : v;
  const char* end = q;
  while (is_digit(*end) || *end == '.' || *end == 'e' || *end == 'E' ||
         ((*end == '+' || *end == '-') && (end[-1] == 'e' || end[-1] == 'E')))
    ++end;
  double v = 0;
  auto r = std::from_chars(q, end, v, std::chars_format::general);
  if (r.ec == std::errc::invalid_argument) return neg ? -0.0 : 0.0;
  if (r.ec != std::errc()) return std::strtod(text, nullptr);  // out of range: strtod's value
  return neg ? -v : v;
}

// The leading decimal integer as atoi reads it, saturated.
std::int64_t read_int(const char* p) {
  while (is_space(*p)) ++p;
  bool neg = false;
  if (*p == '+' || *p == '-') neg = *p++ == '-';
  std::int64_t v = 0;
  const std::int64_t cap = std::int64_t(1) << 40;
  while (is_digit(*p)) {
    if (v < cap) v = v * 10 + (*p - '0');
    ++p;
  }
  return neg ? -v : v;
}

// read_int of a field of `n` characters as the field walk cuts it (atoi's
// digits after an optional sign).
std::int64_t read_plain_int(const char* p, std::size_t n) {
  const char* const end = p + n;
  bool neg = false;
  if (p < end && (*p == '+' || *p == '-')) neg = *p++ == '-';
  std::int64_t v = 0;
  const std::int64_t cap = std::int64_t(1) << 40;
  for (; p < end && is_digit(*p); ++p)
    if (v < cap) v = v * 10 + (*p - '0');
  return neg ? -v : v;
}

std::int32_t clamp32(std::int64_t v) {
  if (v > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (v < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(v);
}

const char* skip_digits(const char* p) {
  while (is_digit(*p)) ++p;
  return p;
}

// Validation shared by the calendar codes.
// A date is a day of the calendar: month 1..12 and a day of that month.
int finish_date(long year, long month, long day, std::int32_t* date) {
  if (year < 1000 || year > 2999 || day < 1 || day > 31 || month < 1 || month > 12) return 0;
  const long ymd = year * 10000 + month * 100 + day;
  if (!is_calendar_date(static_cast<int>(ymd))) return 0;
  *date = static_cast<std::int32_t>(ymd);
  return 1;
}

// Splits a yyyymmdd-like number as codes 0 and 3 do.
void split_number(double v, long* year, long* month, long* day) {
  *year = static_cast<long>(v / 10000);
  double rest = v - static_cast<double>(*year) * 10000;
  *month = static_cast<long>(rest) / 100;
  *day = static_cast<long>(rest - static_cast<double>(*month) * 100);
}

int date_code0_value(double v, std::int32_t* date) {
  if (!(v >= 10000000.0) || !(v < 30000000.0)) return 0;  // below the range, or a year past 2999
  long y, m, d;
  split_number(v, &y, &m, &d);
  return finish_date(y, m, d, date);
}

// An ISO date, yyyy-mm-dd or yyyy/mm/dd (month and day of one or two
// digits), after leading blanks; what follows it (a time such as
// "T16:00:00" or " 16:00") is not read, a further digit makes it bad.
// The same validation as the number form.
int date_iso(const char* text, std::int32_t* date) {
  const char* p = text;
  while (is_space(*p)) ++p;
  for (int i = 0; i < 4; ++i)
    if (!is_digit(p[i])) return 0;
  const char sep = p[4];
  if (sep != '-' && sep != '/') return 0;
  const long year = (p[0] - '0') * 1000L + (p[1] - '0') * 100 + (p[2] - '0') * 10 + (p[3] - '0');
  p += 5;
  long part[2] = {0, 0};
  for (int k = 0; k < 2; ++k) {
    if (!is_digit(*p)) return 0;
    part[k] = *p++ - '0';
    if (is_digit(*p)) part[k] = part[k] * 10 + (*p++ - '0');
    if (k == 0 && *p++ != sep) return 0;
  }
  if (is_digit(*p)) return 0;
  return finish_date(year, part[0], part[1], date);
}

// Code 0: a yyyymmdd number; a text that is not one may be an ISO date.
int date_code0(const char* text, std::int32_t* date) {
  return date_code0_value(read_double(text), date) || date_iso(text, date);
}

// Code 4: day first, dd.mm.yyyy with '.', '/' or '-' between the parts (the
// same one twice), day and month of one or two digits, a year of four
// digits or two (widened); what follows (a time) is not read.
int date_code4(const char* text, std::int32_t* date) {
  const char* p = text;
  while (*p && !is_digit(*p)) ++p;
  long part[3] = {0, 0, 0};
  char sep = 0;
  for (int k = 0; k < 3; ++k) {
    int digits = 0;
    for (; is_digit(*p) && digits < 4; ++p, ++digits) part[k] = part[k] * 10 + (*p - '0');
    if (is_digit(*p)) return 0;
    if (k < 2) {
      if (digits == 0 || digits > 2) return 0;
      if (k == 0) sep = *p;
      if ((sep != '.' && sep != '/' && sep != '-') || *p != sep) return 0;
      ++p;
    } else if (digits != 2 && digits != 4) {
      return 0;
    }
  }
  const long year = part[2] < 100 ? Y2000_99to1999(static_cast<int>(part[2])) : part[2];
  if (part[1] > 12) return 0;
  return finish_date(year, part[1], part[0], date);
}

int date_code1(char* text, std::int32_t* date) {
  long day = static_cast<long>(read_int(text));
  char* p = text;
  while (is_digit(*p) || *p == ' ' || *p == '-') ++p;
  int month = search(p);
  for (int i = 0; i < 3 && *p; ++i) ++p;
  while (*p == '0' || *p == ' ' || *p == '-') ++p;
  std::int64_t yy = read_int(p);
  if (yy > 100000 || yy < -100000) return 0;
  long year = Y2000_99to1999(static_cast<int>(yy));
  return finish_date(year, month, day, date);
}

int date_code2(const char* text, std::int32_t* date, TimeOfDayDates& clock, bool* synthetic) {
  char buf[28];
  std::size_t n = 0;
  while (n < 27 && text[n]) {
    buf[n] = text[n];
    ++n;
  }
  buf[n] = '\0';
  const char* p = buf;
  while (*p && !is_digit(*p)) ++p;
  if (!*p) return 0;
  std::int64_t month = read_int(p);
  p = skip_digits(p);
  if (*p != '/' && *p != '\\' && *p != ':') return 0;
  ++p;
  std::int64_t day = read_int(p);
  // read_int may pass blanks and a sign; the day's digits end where they end
  while (is_space(*p)) ++p;
  if (*p == '+' || *p == '-') ++p;
  p = skip_digits(p);
  if (*p == ':') {
    ++clock.tentimes;
    if (clock.tentimes % 30 == 0) ++clock.telerate_date;
    *date = ntod(clock.telerate_date);
    if (synthetic) *synthetic = true;
    return 1;
  }
  if (*p != '/' && *p != '\\') return 0;
  if (p[1] == '\0' || p[2] == '\0' || !is_digit(p[2])) return 0;
  ++p;
  while (*p == '0') ++p;
  std::int64_t yy = read_int(p);
  if (yy < 0 || yy > 100000) return 0;
  // A four-digit year is kept whole; years of three digits fail the range.
  long year = Y2000_99to1999(static_cast<int>(yy));
  if (month > 99 || day > 99) return 0;
  return finish_date(year, static_cast<long>(month), static_cast<long>(day), date);
}

int date_code3(const char* text, std::int32_t* date) {
  const char* p = text;
  while (*p && !is_digit(*p)) ++p;
  if (!*p) return 0;
  while (*p == '0') ++p;
  double v = read_double(p);
  if (!(v >= 101.0) || !(v < 30000000.0)) return 0;  // too small, or a year past 2999
  long yy, m, d;
  split_number(v, &yy, &m, &d);
  return finish_date(Y2000_99to1999(static_cast<int>(yy)), m, d, date);
}

}  // namespace

// ---- Pure helpers ----------------------------------------------------------

const char* finddigit(const char* text) {
  for (const char* p = text; *p; ++p)
    if (is_numeric(*p) || *p == '\n') return p;
  return nullptr;
}

int search(char* text) {
  for (int i = 0; i < 3 && text[i]; ++i) text[i] = lower(text[i]);
  if (!text[0] || !text[1] || !text[2]) return 0;
  for (int m = 0; m < 12; ++m)
    if (std::strncmp(text, Mcal + 3 * m, 3) == 0) return m + 1;
  return 0;
}

int parse_date(const char* text, int code, std::int32_t* date, TimeOfDayDates& clock,
               bool* synthetic) {
  if (synthetic) *synthetic = false;
  switch (code) {
    case 0:
      return date_code0(text, date);
    case 1: {
      // search() lowers the month name in place; work on a copy.
      std::string copy(text);
      return date_code1(copy.data(), date);
    }
    case 2:
      return date_code2(text, date, clock, synthetic);
    case 3:
      return date_code3(text, date);
    case 4:
      return date_code4(text, date);
    default:
      return 0;
  }
}

bool is_header_line(std::string_view line, char sep) {
  if (line.size() >= 3 && line.compare(0, 3, "\xef\xbb\xbf") == 0) line.remove_prefix(3);
  bool any = false;
  std::size_t i = 0;
  const std::size_t n = line.size();
  while (i < n) {
    std::size_t end = i;
    while (end < n && line[end] != sep) ++end;
    // The field's first character after blanks, quotes and '<'.
    std::size_t k = i;
    while (k < end && (is_space(line[k]) || line[k] == '"' || line[k] == '\'' || line[k] == '<')) ++k;
    if (k < end) {
      const char c = lower(line[k]);
      if (c < 'a' || c > 'z') return false;
      any = true;
    }
    for (std::size_t j = k; j < end; ++j)
      if (is_digit(line[j])) return false;
    i = end + 1;
  }
  return any;
}

float read_price(const char* text) { return static_cast<float>(read_double(text)); }

bool whole_number(const char* text, double* value, bool integer) {
  const char* p = text;
  while (is_space(*p) || *p == '"') ++p;
  const char* const start = p;
  if (*p == '+' || *p == '-') ++p;
  int digits = 0;
  for (; is_digit(*p); ++p) ++digits;
  if (*p == '.')
    for (++p; is_digit(*p); ++p) ++digits;
  if (digits == 0) return false;
  if (*p == 'e' || *p == 'E') {
    const char* e = p + 1;
    if (*e == '+' || *e == '-') ++e;
    if (!is_digit(*e)) return false;
    while (is_digit(*e)) ++e;
    p = e;
  }
  const char* const end = p;
  // The fraction forms: "12 1/2" and "12'16" are read up to the fraction.
  if (*p == ' ' && is_digit(p[1])) {
    const char* q = p + 1;
    while (is_digit(*q)) ++q;
    if (*q == '/' && is_digit(q[1])) {
      for (++q; is_digit(*q); ++q) {
      }
      p = q;
    }
  } else if (*p == '\'' && is_digit(p[1])) {
    for (++p; is_digit(*p); ++p) {
    }
  }
  while (is_space(*p) || *p == '"') ++p;
  if (*p != '\0') return false;
  if (end - start > 64) return false;  // hundreds of digits are no price
  char buf[72];
  std::memcpy(buf, start, static_cast<std::size_t>(end - start));
  buf[end - start] = '\0';
  const double v = read_double(buf);
  if (!std::isfinite(v)) return false;
  if (integer) {
    if (!(v >= -2147483648.0 && v < 2147483648.0)) return false;
  } else {
    const float f = static_cast<float>(v);
    if (!std::isfinite(f) || (f == 0.0f && v != 0.0)) return false;  // beyond a float, or lost below it
  }
  if (value) *value = v;
  return true;
}

std::int64_t read_integer(const char* text) { return clamp32(read_int(text)); }

int volume_factor(bool list_active, const char* listname) {
  if (list_active && listname &&
      (std::strncmp(listname, "ASCII", 5) == 0 || std::strncmp(listname, "ascii", 5) == 0))
    return 100;
  return 1;
}

std::int32_t start_date_of(const FormatSettings& f) {
  char buf[9];
  std::memcpy(buf, f.startdate, 8);
  buf[8] = '\0';
  return clamp32(read_int(buf));
}

int slot_of(char letter, int place) {
  switch (letter) {
    case 'S': return 0;
    case 'D': return 4;
    case 'O': return 5;
    case 'H': return 6;
    case 'L': return 7;
    case 'C': return 8;
    case 'V': return 9;
    case 'I': return 10;
    case 'M': return place == 0 ? 12 : place == 2 ? 13 : 11;
    default: return -1;
  }
}

// ---- The field walk -----------------------------------------------------------

namespace {

// Character classes of the field walk, one table lookup per character.
struct WalkClasses {
  bool starts[256] = {};  // a digit, sign, point or line feed: where a field starts
  bool inside[256] = {};  // a digit, sign, point or ':': what a field holds
  WalkClasses() {
    for (int c = 0; c < 256; ++c) {
      const bool numeric = is_numeric(static_cast<char>(c));
      starts[c] = numeric || c == '\n';
      inside[c] = numeric || c == ':';
    }
  }
};
const WalkClasses kWalk;

}  // namespace

int walk_fields(std::string_view line, const FormatSettings& f, const std::string* cursym,
                FieldSlots& out, std::size_t* symbol_end) {
  for (auto& s : out.slot) s[0] = '\0';
  out.symbol.clear();
  out.bad_field = false;
  const char sep = f.sep;
  const std::size_t n = line.size();
  const unsigned char* text = reinterpret_cast<const unsigned char*>(line.data());
  std::size_t pos = 0;
  // The column right after the symbol may hold a word ("MSFT US 19990104"):
  // it is passed over, so the date is the number that follows it.
  bool after_symbol = false;
  for (int place = 0; place < 12; ++place) {
    const char letter = f.order[place];
    const int slot = slot_of(letter, place);
    if (slot < 0) continue;
    if (letter == 'S') {
      std::size_t end = pos;
      while (end < n && line[end] != sep) ++end;
      const std::string_view field = line.substr(pos, end - pos);
      if (!out.have_last || out.last_sep != sep || field != out.last_field) {
        out.last_field.assign(field);
        out.last_name = symbol_to_name(field, sep);
        out.last_sep = sep;
        out.have_last = true;
      }
      out.symbol = out.last_name;
      const std::size_t k = std::min<std::size_t>(out.symbol.size(), kFieldMax);
      std::memcpy(out.slot[0], out.symbol.data(), k);
      out.slot[0][k] = '\0';
      if (symbol_end) *symbol_end = end;
      if (cursym && out.symbol != *cursym) return 1;
      if (end >= n) return 0;
      pos = end + 1;
      after_symbol = true;
      continue;
    }
    // The field's number: text before it in the same column is passed over;
    // a separator met first ends an empty (or text-only) column.
    bool text_seen = false, word_seen = false;
    for (; pos < n && !kWalk.starts[text[pos]]; ++pos) {
      const char c = line[pos];
      if (c == sep && (sep != ' ' || text_seen)) {
        if (!(after_symbol && text_seen)) break;
        after_symbol = text_seen = false;  // the word after the symbol
        continue;
      }
      if (c != ' ' && c != '\t') text_seen = true;
      // Quotes and currency signs may stand before a number; other text
      // in its column ("nan(", "0x") makes the number no number.
      if (c != ' ' && c != '\t' && c != '"' && c != '\'' && c != '$' && text[pos] < 0x80) word_seen = true;
    }
    after_symbol = false;
    const bool no_number = pos >= n || (line[pos] == sep && !kWalk.starts[text[pos]]);
    if (no_number && text_seen && slot >= 5 && slot <= 10) out.bad_field = true;
    if (!no_number && word_seen && sep != ' ' && slot >= 5 && slot <= 10) out.bad_field = true;
    if (pos >= n) return 0;
    if (no_number) {
      ++pos;
      continue;
    }
    std::size_t end = pos;
    if (letter == 'D' && f.datecode != 0) end = std::min(n, pos + 6);
    while (end < n && kWalk.inside[text[end]]) ++end;
    if (end < n && line[end] != sep)
      while (end < n && line[end] != sep) ++end;
    const std::size_t len = std::min<std::size_t>(end - pos, kFieldMax);
    if (end - pos > kFieldMax && slot >= 5 && slot <= 10) {
      // Cut: not read whole, unless only blanks are lost.
      std::size_t last = end;
      while (last > pos && (line[last - 1] == ' ' || line[last - 1] == '\t')) --last;
      if (last - pos > kFieldMax) out.bad_field = true;
    }
    std::memcpy(out.slot[slot], line.data() + pos, len);
    out.slot[slot][len] = '\0';
    pos = end;
    if (pos < n && line[pos] == sep) ++pos;
  }
  return 0;
}

// ---- Lines into bars ------------------------------------------------------------

LineParser::LineParser(const FormatSettings& f, std::string textname, int volume_factor,
                       TextReport& report, TimeOfDayDates& clock, bool decimal_comma)
    : f_(f), textname_(std::move(textname)), factor_(volume_factor), report_(report), clock_(clock),
      decimal_comma_(decimal_comma && f.sep != ',') {
  for (int i = 0; i < 12; ++i) {
    if (f_.order[i] == 'S') has_s_ = true;
    if (f_.order[i] == 'D') has_d_ = true;
    place_slot_[i] = static_cast<signed char>(slot_of(f_.order[i], i));
  }
  start_ = start_date_of(f_);
  plain_ok_ = has_d_ && f_.datecode == 0;
  for (int i = 0; i < 12; ++i) {
    if (place_slot_[i] >= 5 && place_slot_[i] <= 10) wants_value_ = true;
    if (place_slot_[i] >= 5 && place_slot_[i] <= 8) named_[place_slot_[i] - 5] = names_price_ = true;
  }
}

namespace {

// Equal byte strings, for the few characters of a symbol.
bool same_text(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) return false;
  return true;
}

}  // namespace

bool LineParser::parse_plain(std::string_view line, const std::string& cursym, std::int32_t* date,
                             BarRecord& bar) const {
  static const double kTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,
                                1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19};
  const char sep = f_.sep;
  const std::size_t n = line.size();
  if (n >= kLineBudget) return false;
  // The line with a NUL after it, which ends every run of digits or field
  // characters (a line itself holds no NUL: the reader ends it there).
  unsigned char text[kLineBudget + 1];
  std::memcpy(text, line.data(), n);
  text[n] = 0;
  double number[9] = {};         // slots 4 to 8: date and prices; 0 when absent
  std::int64_t integer[2] = {};  // slots 9 and 10: volume and open interest
  bool have_date = false;
  std::size_t pos = 0;
  for (int place = 0; place < 12; ++place) {
    const int slot = place_slot_[place];
    if (slot < 0) continue;
    if (slot == 0) {
      // The symbol: the name the walk made last, and the chart's own.
      std::size_t end = pos;
      while (end < n && line[end] != sep) ++end;
      if (!slots_.have_last || slots_.last_sep != sep ||
          !same_text(line.substr(pos, end - pos), slots_.last_field) ||
          !same_text(slots_.last_name, cursym))
        return false;
      if (end >= n) return false;
      pos = end + 1;
      continue;
    }
    // Blanks before the number; anything else (an empty column, text) is
    // the field walk's to judge.
    while (pos < n && text[pos] == ' ') ++pos;
    if (pos >= n || !kWalk.starts[text[pos]]) return false;
    // One pass over the field: its digits as read_double and read_int take
    // them from the slot, then the rest of its run.
    const unsigned char* p = text + pos;
    bool neg = false;
    if (*p == '+' || *p == '-') neg = *p++ == '-';
    const unsigned char* const first = p;
    std::uint64_t m = 0;
    for (unsigned d; (d = *p - unsigned('0')) <= 9; ++p) m = m * 10 + d;
    const std::size_t whole = static_cast<std::size_t>(p - first);
    const std::uint64_t whole_value = m;
    std::size_t decimals = 0;
    if (*p == '.') {
      const unsigned char* const frac = ++p;
      for (unsigned d; (d = *p - unsigned('0')) <= 9; ++p) m = m * 10 + d;
      decimals = static_cast<std::size_t>(p - frac);
    } else if (*p == '-' && slot == 4 && whole == 4 && first == text + pos) {
      // An ISO date yyyy-mm-dd: the number yyyymmdd, which the date check
      // below splits and validates as the field walk's reading does.
      std::int32_t iso = 0;
      if (!date_iso(reinterpret_cast<const char*>(first), &iso)) return false;
      m = static_cast<std::uint64_t>(iso);
      while (*p == '-' || is_digit(static_cast<char>(*p))) ++p;
    }
    const unsigned char* const number_end = p;
    while (kWalk.inside[*p]) ++p;  // the NUL after the line ends it
    // More than the number in its run ("9-9", "5:30"): the walk judges it.
    if (p != number_end && slot != 4) return false;
    const std::size_t end = static_cast<std::size_t>(p - text);
    if ((end < n && text[end] != static_cast<unsigned char>(sep)) ||
        end - pos > static_cast<std::size_t>(kFieldMax))
      return false;
    if (slot >= 4 && slot <= 8) {
      // A plain decimal of at most 19 characters: exact digits and an exact
      // power of ten, so one division rounds as strtod does.
      if (whole + decimals == 0 || m > (std::uint64_t(1) << 53)) return false;
      const double x = static_cast<double>(m) / kTen[decimals];
      number[slot] = neg ? -x : x;
      if (slot == 4) have_date = true;
    } else if (slot == 9 || slot == 10) {
      if (whole + decimals == 0) return false;  // "+." or ".": no number; the walk judges it
      const std::int64_t v = whole <= 12 ? static_cast<std::int64_t>(whole_value)
                                         : read_plain_int(reinterpret_cast<const char*>(first), whole);
      integer[slot - 9] = neg ? -v : v;
      const std::int64_t stored = slot == 9 ? integer[0] * factor_ : integer[1];
      if (stored != clamp32(stored)) return false;
    }
    pos = end;
    if (pos < n) ++pos;  // the separator
  }
  if (!have_date || !date_code0_value(number[4], date)) return false;
  bar.open = static_cast<float>(number[5]);
  bar.high = static_cast<float>(number[6]);
  bar.low = static_cast<float>(number[7]);
  bar.close = static_cast<float>(number[8]);
  bar.volume = clamp32(integer[0] * factor_);
  bar.openint = clamp32(integer[1]);
  return true;
}

bool LineParser::date_of(const FieldSlots& s, std::int32_t* date, bool* synthetic) {
  if (has_d_) {
    if (parse_date(s.slot[4], f_.datecode, date, clock_, synthetic)) return true;
    report_.bad_date();
  }
  if (parse_date(textname_.c_str(), f_.datecode, date, clock_, synthetic)) return true;
  report_.bad_date();
  report_.bad_name_date();
  return false;
}

void LineParser::parse(std::string_view line, const std::string& cursym, ParsedLine& out) {
  out.synthetic = false;
  if (line.size() <= 6) {
    out.kind = LineKind::kIgnored;
    return;
  }
  // A byte-order mark before the first line is no part of it.
  if (!dated_ && line.size() >= 3 && line.compare(0, 3, "\xef\xbb\xbf") == 0) line.remove_prefix(3);
  char fixed[kLineBudget];
  if (decimal_comma_ && line.size() < sizeof fixed) {
    for (std::size_t i = 0; i < line.size(); ++i) fixed[i] = line[i] == ',' ? '.' : line[i];
    line = std::string_view(fixed, line.size());
  }
  std::int32_t date = 0;
  bool synthetic = false;
  bool bad = false;
  BarRecord b;
  if (!plain_ok_ || !parse_plain(line, cursym, &date, b)) {
    // A header never passes parse_plain: it holds no digit.
    if (!dated_ && is_header_line(line, f_.sep)) {
      out.kind = LineKind::kIgnored;
      return;
    }
    if (walk_fields(line, f_, has_s_ ? &cursym : nullptr, slots_) == 1) {
      out.kind = LineKind::kSymbolChange;
      out.symbol = slots_.symbol;
      return;
    }
    if (!date_of(slots_, &date, &synthetic)) {
      ++skipped_;
      out.kind = LineKind::kBadDate;
      return;
    }
    b.open = read_price(slots_.slot[5]);
    b.high = read_price(slots_.slot[6]);
    b.low = read_price(slots_.slot[7]);
    b.close = read_price(slots_.slot[8]);
    // Every value is read only when its whole field is a number.
    bool whole = true;
    double count[2] = {0, 0};
    for (int s = 5; s <= 10; ++s)
      if (slots_.slot[s][0] != '\0' && !whole_number(slots_.slot[s], s >= 9 ? &count[s - 9] : nullptr, s >= 9))
        whole = false;
    auto integer = [&](int s) {
      // A count written with an exponent is its value; otherwise the digits
      // before a point, as atoi reads them (12.7 is 12).
      return std::strpbrk(slots_.slot[s], "eE") ? static_cast<std::int64_t>(std::trunc(count[s - 9]))
                                                : read_int(slots_.slot[s]);
    };
    const std::int64_t volume = integer(9) * factor_;
    const std::int64_t openint = integer(10);
    b.volume = clamp32(volume);
    b.openint = clamp32(openint);
    // Stored only as written: never nan, inf or a saturated count, and a
    // line without any value is no bar of zeros.
    bool any_value = false;
    for (int s = 5; s <= 10; ++s) any_value = any_value || slots_.slot[s][0] != '\0';
    bad = slots_.bad_field || !whole || !std::isfinite(b.open) || !std::isfinite(b.high) ||
          !std::isfinite(b.low) || !std::isfinite(b.close) || volume != b.volume ||
          openint != b.openint || (wants_value_ && !any_value);
  }
  dated_ = true;
  if (date < start_) {
    skipping_ = true;
    ++early_;
    report_.early_date();
    out.kind = LineKind::kEarly;
    out.bar.date = date;  // still a date of the text, for its spacing
    out.synthetic = synthetic;
    return;
  }
  if (skipping_) {
    skipping_ = false;
    report_.early_dates_done();
  }
  if (bad) {
    ++skipped_;
    report_.bad_value();
    out.kind = LineKind::kBadValue;
    return;
  }
  b.date = date;
  out.bar = b;
  out.synthetic = synthetic;
  out.kind = LineKind::kBar;
  // The bar rules, judged on the prices the order names: a price it does
  // not name reads as 0 by design and is no fault of the text.
  if (names_price_) {
    BarRecord c = b;
    if (!named_[0]) c.open = named_[3] ? c.close : named_[1] ? c.high : c.low;
    if (!named_[3]) c.close = c.open;
    if (!named_[1]) c.high = std::max(c.open, c.close);
    if (!named_[2]) c.low = std::min(c.open, c.close);
    if (const unsigned faults = bar_value_faults(c)) report_.bar_faults(b, faults);
  }
}

// ---- Reading a text ----------------------------------------------------------------

void save28r(std::vector<RunBar>& bars, const std::string& cursym, LineReader& src,
             LineParser& parser, std::string& nextsym, TextReport& report) {
  const std::string sym = cursym;  // cursym may be nextsym itself
  ParsedLine p;
  std::string_view line;
  int count = 0;
  nextsym.clear();
  while (src.next(line)) {
    parser.parse(line, sym, p);
    if (p.kind == LineKind::kSymbolChange) {
      nextsym = p.symbol;
      src.unread();
      return;
    }
    if (p.kind != LineKind::kBar) continue;
    bars.push_back({p.bar, p.synthetic});
    if (++count % 10 == 0) report.progress(p.bar);
  }
}

// ---- Reading the first lines --------------------------------------------------------

int first_symbol(int fd, const FormatSettings& f, std::string& name) {
  int field = 0;
  for (int i = 0; i < 12; ++i)
    if (f.order[i] == 'S') {
      field = i + 1;
      break;
    }
  char buf[kLineBudget];
  while (mygts(buf, kLineBudget, fd)) {
    if (is_header_line(buf, f.sep)) continue;
    std::string sym = symbol_to_name(piece(buf, f.sep, field), f.sep);
    if (sym.compare(0, 20, "--------------------") == 0) continue;
    go_back_a_line(fd);
    name = sym;
    return 1;
  }
  return 0;
}

void first_two_dates(int fd, const FormatSettings& f, bool symbol_in_use, std::int32_t dates[2],
                     int* count, TextReport& report, TimeOfDayDates& clock) {
  *count = 0;
  bool has_d = false;
  for (int i = 0; i < 12; ++i)
    if (f.order[i] == 'D') has_d = true;
  char buf[kLineBudget];
  // The first line whose date parses.
  for (;;) {
    if (!mygts(buf, kLineBudget, fd)) return;
    const char* from = buf;
    if (symbol_in_use) {
      from = std::strchr(buf, f.sep);
      if (!from) return;
      // The date starts at the first digit after the symbol: read from the
      // separator itself, a yyyymmdd date would always be bad.
      from = finddigit(from);
      if (!from) from = "";
    }
    if (!has_d) return;
    if (parse_date(from, f.datecode, &dates[0], clock)) break;
    if (is_header_line(buf, f.sep)) continue;  // a header: no message
    report.bad_date();
  }
  *count = 1;
  if (!mygts(buf, kLineBudget, fd)) return;
  const char* from = buf;
  if (symbol_in_use) {
    from = std::strchr(buf, f.sep);
    if (!from) return;
  }
  from = finddigit(from);
  if (!from) return;
  if (!parse_date(from, f.datecode, &dates[1], clock)) {
    report.bad_date();
    return;
  }
  *count = 2;
}
