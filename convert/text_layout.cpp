// Layout detection of text price files, and reading a text by its layout.
#include "convert/text_layout.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "chartdata/bar_checks.h"
#include "chartdata/encodings.h"
#include "chartdata/linereader.h"
#include "convert/text_to_chart.h"

namespace {

bool digit(char c) { return c >= '0' && c <= '9'; }
bool letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

constexpr std::size_t kMaxLines = 500;  // lines looked at

// ---- Tables ---------------------------------------------------------------------

// Bodies that are not prices: what a file begins with (lower case, after
// blanks), or what it holds near its start, and what it is.
struct NotPrices {
  const char* begins;  // "" when `holds` decides
  const char* holds;   // "" when `begins` decides
  const char* what;
};
const NotPrices kNotPrices[] = {
    {"<!doctype html", "", "an HTML page"},
    {"<html", "", "an HTML page"},
    {"<?xml", "", "an XML document"},
    {"{", "\"note\"", "a JSON message (a note of the data service, often a call limit)"},
    {"{", "\"information\"", "a JSON message (a note of the data service, often a call limit)"},
    {"{", "\"error", "a JSON error message"},
    {"{", "\"code\"", "a JSON error message"},
    {"{", "", "a JSON document"},
    {"[", "", "a JSON document"},
    {"no data", "", "the words \"No data\""},
    {"", "exceeded the daily hits limit", "a message of the data service: the daily hits limit was exceeded"},
    {"", "too many requests", "a message of the data service: too many requests"},
    {"", "access denied", "a message of the data service: access denied"},
};

// Column names: lower case ASCII letters only, so that marks ("Close*",
// "<DATE>", "Vol."), accents in UTF-8, Latin-1 or cp1250 (their bytes are
// dropped) and blanks do not matter: "Adj Close**" -> "adjclose",
// "Clôture" -> "clture".
std::string name_key(std::string_view field) {
  std::string key;
  for (char c : field)
    if (letter(c)) key += lower(c);
  return key;
}

// Roles by column name.  'D' date, 'd' a date or a time (by its values), 'T'
// time, 'O' 'H' 'L' 'C' 'V' 'I' 'S', 'P' a price read as the close when no
// close is named, 'v' tick volume (a volume when no share count is named),
// 'W' money turnover (a volume only when no share count is named), 'U' a
// count of shares that wins over every other volume, 'X' passed over.
struct ColumnName {
  const char* key;
  char role;
  const char* why;  // for a passed-over column
};
const ColumnName kNames[] = {
    // English
    {"date", 'D', ""}, {"day", 'D', ""}, {"tradedate", 'D', ""}, {"dtyyyymmdd", 'D', ""},
    {"datetime", 'd', ""}, {"timestamp", 'd', ""}, {"time", 'd', ""}, {"gmttime", 'd', ""},
    {"localtime", 'd', ""}, {"windowstart", 'd', ""}, {"t", 'd', ""}, {"tradetime", 'T', ""},
    {"open", 'O', ""}, {"o", 'O', ""}, {"opening", 'O', ""}, {"first", 'O', ""},
    {"high", 'H', ""}, {"h", 'H', ""}, {"max", 'H', ""}, {"low", 'L', ""}, {"l", 'L', ""}, {"min", 'L', ""},
    {"close", 'C', ""}, {"c", 'C', ""}, {"closelast", 'C', ""}, {"last", 'C', ""}, {"closeprice", 'C', ""},
    {"price", 'P', ""}, {"settle", 'C', ""},
    {"volume", 'V', ""}, {"vol", 'V', ""}, {"v", 'V', ""}, {"tickvol", 'v', ""}, {"tickvolume", 'v', ""},
    {"shares", 'U', ""}, {"turnover", 'W', "turnover"}, {"value", 'W', "turnover"},
    {"openinterest", 'I', ""}, {"openint", 'I', ""}, {"oi", 'I', ""},
    {"symbol", 'S', ""}, {"ticker", 'S', ""}, {"code", 'S', ""}, {"instrument", 'S', ""},
    {"name", 'X', "a name"}, {"per", 'X', "the period"}, {"spread", 'X', "the spread"},
    {"transactions", 'X', "a count of trades"}, {"n", 'X', "a count of trades"}, {"count", 'X', "a count of trades"},
    {"barcount", 'X', "a count of trades"}, {"trades", 'X', "a count of trades"}, {"vw", 'X', "an average price"},
    {"vwap", 'X', "an average price"}, {"wap", 'X', "an average price"}, {"average", 'X', "an average price"},
    {"change", 'X', "a change"}, {"chg", 'X', "a change"}, {"changepercent", 'X', "a change"},
    {"exdividend", 'X', "a dividend"}, {"dividend", 'X', "a dividend"}, {"dividends", 'X', "a dividend"},
    {"divcash", 'X', "a dividend"}, {"splitratio", 'X', "a split"}, {"splitfactor", 'X', "a split"},
    {"stocksplits", 'X', "a split"}, {"currency", 'X', "a currency"},
    // German
    {"datum", 'D', ""}, {"handelstag", 'D', ""}, {"zeit", 'T', ""}, {"uhrzeit", 'T', ""},
    {"erffnung", 'O', ""}, {"eroeffnung", 'O', ""}, {"eroffnung", 'O', ""}, {"erster", 'O', ""},
    {"anfang", 'O', ""}, {"hoch", 'H', ""}, {"tageshoch", 'H', ""}, {"hchst", 'H', ""}, {"hoechst", 'H', ""},
    {"tief", 'L', ""}, {"tagestief", 'L', ""}, {"tiefst", 'L', ""}, {"schluss", 'C', ""},
    {"schlusskurs", 'C', ""}, {"letzter", 'C', ""}, {"schlu", 'C', ""}, {"kurs", 'P', ""},
    {"volumen", 'V', ""}, {"stcke", 'U', ""}, {"stck", 'U', ""}, {"stueck", 'U', ""}, {"stuecke", 'U', ""},
    {"umsatz", 'W', "turnover"}, {"umsatzineur", 'W', "turnover"}, {"vernderung", 'X', "a change"},
    {"veraenderung", 'X', "a change"}, {"waehrung", 'X', "a currency"}, {"whrung", 'X', "a currency"},
    // French
    {"ouverture", 'O', ""}, {"ouv", 'O', ""}, {"haut", 'H', ""}, {"plushaut", 'H', ""}, {"bas", 'L', ""},
    {"plusbas", 'L', ""}, {"clture", 'C', ""}, {"cloture", 'C', ""}, {"dernier", 'C', ""},
    {"heure", 'T', ""}, {"capitaux", 'W', "turnover"}, {"nombredetransactions", 'X', "a count of trades"},
    {"variation", 'X', "a change"}, {"var", 'X', "a change"}, {"devise", 'X', "a currency"},
    // Spanish
    {"fecha", 'D', ""}, {"apertura", 'O', ""}, {"mximo", 'H', ""}, {"maximo", 'H', ""}, {"mnimo", 'L', ""},
    {"minimo", 'L', ""}, {"cierre", 'C', ""}, {"ltimo", 'P', ""}, {"ultimo", 'P', ""}, {"hora", 'T', ""},
    // Italian
    {"data", 'D', ""}, {"massimo", 'H', ""}, {"chiusura", 'C', ""}, {"prezzo", 'P', ""},
    {"volumi", 'V', ""}, {"ora", 'T', ""}, {"variazione", 'X', "a change"},
    // Dutch
    {"openen", 'O', ""}, {"openingskoers", 'O', ""}, {"hoog", 'H', ""}, {"laag", 'L', ""}, {"slot", 'C', ""},
    {"slotkoers", 'C', ""}, {"sluiting", 'C', ""}, {"koers", 'P', ""}, {"tijd", 'T', ""},
    // Polish (cp1250 and UTF-8 letters dropped alike)
    {"otwarcie", 'O', ""}, {"najwyszy", 'H', ""}, {"najwyzszy", 'H', ""}, {"najniszy", 'L', ""},
    {"najnizszy", 'L', ""}, {"zamknicie", 'C', ""}, {"zamkniecie", 'C', ""}, {"wolumen", 'V', ""},
    {"kurs", 'P', ""}, {"czas", 'T', ""}, {"zmiana", 'X', "a change"},
};
// Name beginnings that pass a column over whatever follows: adjusted values
// and the indicators of charting sites.
const ColumnName kNameStarts[] = {
    {"adj", 'X', "adjusted"},   {"adjusted", 'X', "adjusted"}, {"bereinigt", 'X', "adjusted"},
    {"ajust", 'X', "adjusted"}, {"ma", 'X', "an indicator"},     {"ema", 'X', "an indicator"},
    {"sma", 'X', "an indicator"}, {"rsi", 'X', "an indicator"}, {"macd", 'X', "an indicator"},
    {"signal", 'X', "an indicator"}, {"histogram", 'X', "an indicator"}, {"plot", 'X', "an indicator"},
    {"basis", 'X', "an indicator"}, {"upper", 'X', "an indicator"}, {"lower", 'X', "an indicator"},
    {"atr", 'X', "an indicator"}, {"bollinger", 'X', "an indicator"}, {"stoch", 'X', "an indicator"},
    {"volumema", 'X', "an indicator"}, {"change", 'X', "a change"}, {"var", 'X', "a change"},
};

const ColumnName* name_role(const std::string& key) {
  if (key.empty()) return nullptr;
  for (const ColumnName& n : kNames)
    if (key == n.key) return &n;
  // Volume with a unit or a currency after it ("Volume EUR", "Vol.(Mio)"):
  // the money turnover when it names a currency.
  for (const ColumnName& n : kNameStarts)
    if (key.compare(0, std::strlen(n.key), n.key) == 0 &&
        (std::strlen(n.key) >= 3 || key.size() > std::strlen(n.key) + 1))
      return &n;
  return nullptr;
}

// Month names, three or more letters of several languages, lower case.
struct MonthName {
  const char* name;
  int month;
};
const MonthName kMonths[] = {
    {"jan", 1}, {"feb", 2}, {"mar", 3}, {"apr", 4}, {"may", 5}, {"jun", 6}, {"jul", 7}, {"aug", 8},
    {"sep", 9}, {"oct", 10}, {"nov", 11}, {"dec", 12},
    {"mrz", 3}, {"mai", 5}, {"okt", 10}, {"dez", 12},                 // German
    {"janv", 1}, {"fevr", 2}, {"avr", 4}, {"juil", 7}, {"aout", 8},  // French
    {"ene", 1}, {"abr", 4}, {"ago", 8}, {"dic", 12},                  // Spanish, Italian
    {"gen", 1}, {"mag", 5}, {"giu", 6}, {"lug", 7}, {"set", 9}, {"ott", 10},
    {"mei", 5}, {"mrt", 3},                                            // Dutch
};
// The month of the letters at p (at least three), and their count.
int month_at(std::string_view s, std::size_t p, std::size_t* len) {
  std::size_t e = p;
  while (e < s.size() && letter(s[e])) ++e;
  if (e - p < 3) return 0;
  char word[16] = {};
  const std::size_t n = std::min<std::size_t>(e - p, 15);
  for (std::size_t i = 0; i < n; ++i) word[i] = lower(s[p + i]);
  int best = 0;
  std::size_t best_len = 0;
  for (const MonthName& m : kMonths) {
    const std::size_t k = std::strlen(m.name);
    if (k <= n && std::strncmp(word, m.name, k) == 0 && k > best_len) {
      best = m.month;
      best_len = k;
    }
  }
  *len = e - p;
  return best;
}

// Missing values.
const char* const kMissing[] = {"", "n/a", "na", "-", "--", "null", "none", "nan", "#n/a", "."};

// Currency signs and codes written before or after a number.
const char* const kCurrency[] = {"$", "\xe2\x82\xac", "\xc2\xa3", "\xc2\xa5", "\x80", "\xa3",  // $ € £ ¥, € £ in cp1252
                                 "usd", "eur", "gbp", "chf", "pln", "jpy", "cad", "aud", "z\xc5\x82", "zl"};

// ---- Lines and fields ---------------------------------------------------------------

struct Line {
  std::string_view text;
  std::size_t number;  // from 0
};

std::vector<Line> head_lines(std::string_view head, bool cut) {
  std::vector<Line> lines;
  std::size_t at = 0, number = 0;
  while (at < head.size() && lines.size() < kMaxLines) {
    std::size_t nl = head.find('\n', at);
    if (nl == std::string_view::npos) {
      if (cut) break;
      nl = head.size();
    }
    std::string_view line = head.substr(at, nl - at);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    if (!line.empty()) lines.push_back({line, number});
    ++number;
    at = nl + 1;
  }
  return lines;
}

std::string_view trim(std::string_view f) {
  while (!f.empty() && (blank(f.front()) || f.front() == '"' || f.front() == '\'')) f.remove_prefix(1);
  while (!f.empty() && (blank(f.back()) || f.back() == '"' || f.back() == '\'')) f.remove_suffix(1);
  return f;
}

// Fields of a line, trimmed of blanks and quotes; a separator inside
// double quotes belongs to its field.  A blank separator takes a run of
// blanks (and tabs) as one.
void split(std::string_view line, char sep, std::vector<std::string_view>& out) {
  out.clear();
  const std::size_t n = line.size();
  std::size_t i = 0;
  if (sep == ' ') {
    while (i < n) {
      while (i < n && (line[i] == ' ' || line[i] == '\t')) ++i;
      if (i >= n) break;
      std::size_t end = i;
      while (end < n && line[end] != ' ' && line[end] != '\t') ++end;
      out.push_back(trim(line.substr(i, end - i)));
      i = end;
    }
    return;
  }
  for (;;) {
    std::size_t end = i;
    bool quoted = false;
    while (end < n && (quoted || line[end] != sep)) {
      if (line[end] == '"') quoted = !quoted;
      ++end;
    }
    out.push_back(trim(line.substr(i, end - i)));
    if (end >= n) break;
    i = end + 1;
  }
}

std::size_t count_outside_quotes(std::string_view line, char c) {
  std::size_t k = 0;
  bool quoted = false;
  for (char x : line) {
    if (x == '"') quoted = !quoted;
    else if (x == c && !quoted) ++k;
  }
  return k;
}

std::size_t digit_count(std::string_view s) {
  return static_cast<std::size_t>(std::count_if(s.begin(), s.end(), digit));
}

// The separator: the first of tab, ';', '|', ',' whose count (outside
// quotes) is the same on most lines that hold digits; else a blank.
char find_separator(const std::vector<Line>& lines, std::string* why) {
  std::vector<std::string_view> data;
  for (const Line& l : lines)
    if (digit_count(l.text) >= 4) data.push_back(l.text);
  if (data.empty())
    for (const Line& l : lines) data.push_back(l.text);
  if (data.size() > 60) data.erase(data.begin(), data.end() - 60);
  for (char c : {'\t', ';', '|', ','}) {
    if (data.empty()) break;
    std::size_t counts[64] = {};
    for (std::string_view t : data) counts[std::min<std::size_t>(count_outside_quotes(t, c), 63)]++;
    const std::size_t mode = static_cast<std::size_t>(std::max_element(counts + 1, counts + 63) - counts);
    if (counts[mode] * 5 >= data.size() * 4) {
      *why = "separator '" + std::string(c == '\t' ? "tab" : std::string(1, c)) + "': " + std::to_string(mode) +
             " on " + std::to_string(counts[mode]) + " of " + std::to_string(data.size()) + " lines";
      return c;
    }
  }
  *why = "separator: blanks";
  return ' ';
}

// ---- Dates ----------------------------------------------------------------------------

std::size_t digits_at(std::string_view s, std::size_t i) {
  std::size_t k = i;
  while (k < s.size() && digit(s[k])) ++k;
  return k - i;
}
long number_at(std::string_view s, std::size_t i, std::size_t n) {
  long v = 0;
  for (std::size_t k = 0; k < n && k < 18; ++k) v = v * 10 + (s[i + k] - '0');
  return v;
}

// A time of day at p: h:mm, hh:mm:ss, hhmmss after a blank, with fractions.
bool time_at(std::string_view s, std::size_t p) {
  const std::size_t a = digits_at(s, p);
  if (a >= 1 && a <= 2 && p + a < s.size() && s[p + a] == ':' && digits_at(s, p + a + 1) == 2) return true;
  return a == 6 || a == 4;
}

// What follows a date: nothing, or a time (after a blank or 'T'), a zone.
bool date_end_ok(std::string_view s, std::size_t p, bool* time) {
  if (p >= s.size()) return true;
  if (s[p] == 'T' || s[p] == ' ' || s[p] == ',' || s[p] == '_') {
    std::size_t q = p + 1;
    while (q < s.size() && s[q] == ' ') ++q;
    if (q < s.size() && time_at(s, q)) {
      *time = true;
      return true;
    }
    return q >= s.size();
  }
  return false;
}

struct DateGuess {
  DateShape shape = DateShape::kNone;
  long a = 0, b = 0;   // day-or-month fields of kDayFirst/kMonthFirst
  bool time = false;
};

// The shape of a date field, without deciding day or month first (a..b).
DateGuess classify_date(std::string_view v) {
  DateGuess g;
  const std::size_t a = digits_at(v, 0);
  if (a == 0) {
    // Apr 09, 2020 / April 9 2020
    std::size_t len = 0;
    if (month_at(v, 0, &len) == 0) return g;
    std::size_t p = len;
    while (p < v.size() && (v[p] == ' ' || v[p] == '.' || v[p] == '-')) ++p;
    const std::size_t d = digits_at(v, p);
    if (d < 1 || d > 2) return g;
    p += d;
    while (p < v.size() && (v[p] == ',' || v[p] == ' ' || v[p] == '-')) ++p;
    const std::size_t y = digits_at(v, p);
    if (y != 4 && y != 2) return g;
    if (date_end_ok(v, p + y, &g.time)) g.shape = DateShape::kMonthNameFirst;
    return g;
  }
  if (a == 4 && v.size() > 5 && (v[4] == '-' || v[4] == '/' || v[4] == '.')) {
    const std::size_t b = digits_at(v, 5);
    if (b >= 1 && b <= 2 && 5 + b < v.size() && v[5 + b] == v[4]) {
      const std::size_t c = digits_at(v, 6 + b);
      if (c >= 1 && c <= 2) {
        std::size_t p = 6 + b + c;
        bool ok = date_end_ok(v, p, &g.time);
        // A zone right after a time: 2024-01-02T14:30:00Z, +01:00.
        if (!ok && p < v.size() && v[p] == 'T') ok = true, g.time = true;
        if (ok) g.shape = v[4] == '.' ? DateShape::kYmdDot : DateShape::kIso;
      }
    }
    return g;
  }
  if (a == 8 && date_end_ok(v, 8, &g.time)) {
    g.shape = DateShape::kYmd8;
    return g;
  }
  if (a == 6 && v.size() == 6) {
    g.shape = DateShape::kYmd6;
    return g;
  }
  if (a >= 9 && a <= 19) {
    std::size_t p = a;
    if (p < v.size() && v[p] == '.') p += 1 + digits_at(v, p + 1);
    if (p == v.size()) g.shape = DateShape::kUnix;
    return g;
  }
  if (a <= 2 && a < v.size()) {
    const char sep = v[a];
    if (sep == '.' || sep == '/' || sep == '-') {
      const std::size_t b = digits_at(v, a + 1);
      if (b >= 1 && b <= 2 && a + 1 + b < v.size() && v[a + 1 + b] == sep) {
        const std::size_t c = digits_at(v, a + 2 + b);
        if ((c == 2 || c == 4) && date_end_ok(v, a + 2 + b + c, &g.time)) {
          g.shape = DateShape::kDayFirst;  // or month first: decided by the file
          g.a = number_at(v, 0, a);
          g.b = number_at(v, a + 1, b);
        }
        return g;
      }
    }
    // 09-Apr-2020, 9 Apr 2020, 31dec92
    std::size_t k = a;
    while (k < v.size() && (v[k] == ' ' || v[k] == '-' || v[k] == '.')) ++k;
    std::size_t len = 0;
    if (month_at(v, k, &len) > 0) {
      std::size_t y = k + len;
      while (y < v.size() && (v[y] == ' ' || v[y] == '-' || v[y] == '.' || v[y] == ',')) ++y;
      const std::size_t c = digits_at(v, y);
      if ((c == 2 || c == 4) && date_end_ok(v, y + c, &g.time)) g.shape = DateShape::kDayMonthName;
    }
  }
  return g;
}

int widen(long y, std::size_t digits) {
  return digits == 2 ? widen_two_digit_year(static_cast<int>(y), calendar_year()) : static_cast<int>(y);
}

// Days since 1970-01-01 -> yyyymmdd (proleptic Gregorian).
std::int32_t civil_from_days(long long z) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long long y = yoe + era * 400;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  const long long d = doy - (153 * mp + 2) / 5 + 1;
  const long long m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
  if (y < 1000 || y > 2999) return 0;
  return static_cast<std::int32_t>(y * 10000 + m * 100 + d);
}

// The date of a field in the layout's shape; 0 when it is none.
std::int32_t read_date(std::string_view v, DateShape shape, bool day_first) {
  long y = 0, m = 0, d = 0;
  const std::size_t a = digits_at(v, 0);
  bool time = false;
  switch (shape) {
    case DateShape::kIso:
    case DateShape::kYmdDot: {
      if (a != 4 || v.size() < 8) return 0;
      const std::size_t b = digits_at(v, 5);
      if (b < 1 || b > 2 || 5 + b >= v.size() || v[5 + b] != v[4]) return 0;
      const std::size_t c = digits_at(v, 6 + b);
      if (c < 1 || c > 2) return 0;
      y = number_at(v, 0, 4);
      m = number_at(v, 5, b);
      d = number_at(v, 6 + b, c);
      const std::size_t p = 6 + b + c;
      if (!date_end_ok(v, p, &time) && !(p < v.size() && v[p] == 'T')) return 0;
      break;
    }
    case DateShape::kYmd8:
      if (a != 8 || !date_end_ok(v, 8, &time)) return 0;
      y = number_at(v, 0, 4), m = number_at(v, 4, 2), d = number_at(v, 6, 2);
      break;
    case DateShape::kYmd6:
      if (a != 6 || v.size() != 6) return 0;
      y = widen(number_at(v, 0, 2), 2), m = number_at(v, 2, 2), d = number_at(v, 4, 2);
      break;
    case DateShape::kDayFirst:
    case DateShape::kMonthFirst: {
      if (a < 1 || a > 2 || a >= v.size()) return 0;
      const char sep = v[a];
      if (sep != '.' && sep != '/' && sep != '-') return 0;
      const std::size_t b = digits_at(v, a + 1);
      if (b < 1 || b > 2 || a + 1 + b >= v.size() || v[a + 1 + b] != sep) return 0;
      const std::size_t c = digits_at(v, a + 2 + b);
      if ((c != 2 && c != 4) || !date_end_ok(v, a + 2 + b + c, &time)) return 0;
      const long p = number_at(v, 0, a), q = number_at(v, a + 1, b);
      d = day_first ? p : q;
      m = day_first ? q : p;
      y = widen(number_at(v, a + 2 + b, c), c);
      break;
    }
    case DateShape::kMonthNameFirst: {
      std::size_t len = 0;
      m = month_at(v, 0, &len);
      std::size_t p = len;
      while (p < v.size() && (v[p] == ' ' || v[p] == '.' || v[p] == '-')) ++p;
      const std::size_t dd = digits_at(v, p);
      if (dd < 1 || dd > 2) return 0;
      d = number_at(v, p, dd);
      p += dd;
      while (p < v.size() && (v[p] == ',' || v[p] == ' ' || v[p] == '-')) ++p;
      const std::size_t yy = digits_at(v, p);
      if ((yy != 4 && yy != 2) || !date_end_ok(v, p + yy, &time)) return 0;
      y = widen(number_at(v, p, yy), yy);
      break;
    }
    case DateShape::kDayMonthName: {
      if (a < 1 || a > 2) return 0;
      d = number_at(v, 0, a);
      std::size_t k = a;
      while (k < v.size() && (v[k] == ' ' || v[k] == '-' || v[k] == '.')) ++k;
      std::size_t len = 0;
      m = month_at(v, k, &len);
      std::size_t p = k + len;
      while (p < v.size() && (v[p] == ' ' || v[p] == '-' || v[p] == '.' || v[p] == ',')) ++p;
      const std::size_t yy = digits_at(v, p);
      if ((yy != 4 && yy != 2) || !date_end_ok(v, p + yy, &time)) return 0;
      y = widen(number_at(v, p, yy), yy);
      break;
    }
    case DateShape::kUnix: {
      if (a < 9 || a > 19) return 0;
      std::size_t p = a;
      if (p < v.size() && v[p] == '.') p += 1 + digits_at(v, p + 1);
      if (p != v.size()) return 0;
      long long t = 0;
      for (std::size_t i = 0; i < a; ++i) t = t * 10 + (v[i] - '0');
      // Seconds (9-11 digits), milliseconds, microseconds, nanoseconds.
      const long long scale = a <= 11 ? 1 : a <= 14 ? 1000 : a <= 17 ? 1000000 : 1000000000;
      return civil_from_days((t / scale) / 86400);
    }
    case DateShape::kNone: return 0;
  }
  if (y < 1000 || y > 2999) return 0;
  const long ymd = y * 10000 + m * 100 + d;
  return is_calendar_date(static_cast<int>(ymd)) ? static_cast<std::int32_t>(ymd) : 0;
}

const char* shape_name(DateShape s, bool day_first, char mark, bool two_digit) {
  switch (s) {
    case DateShape::kIso: return "ISO";
    case DateShape::kYmd8: return "yyyymmdd";
    case DateShape::kYmdDot: return "yyyy.mm.dd";
    case DateShape::kYmd6: return "yymmdd";
    case DateShape::kMonthNameFirst: return "Mon dd, yyyy";
    case DateShape::kDayMonthName: return "dd-Mon-yy";
    case DateShape::kUnix: return "unix time";
    case DateShape::kDayFirst:
    case DateShape::kMonthFirst: {
      static thread_local char buf[16];
      const char* y = two_digit ? "yy" : "yyyy";
      if (day_first)
        std::snprintf(buf, sizeof buf, "dd%cmm%c%s", mark, mark, y);
      else
        std::snprintf(buf, sizeof buf, "mm%cdd%c%s", mark, mark, y);
      return buf;
    }
    case DateShape::kNone: break;
  }
  return "none";
}

// ---- Numbers ----------------------------------------------------------------------------

bool is_missing(std::string_view f) {
  if (f.size() > 5) return false;
  char low[8] = {};
  for (std::size_t i = 0; i < f.size(); ++i) low[i] = lower(f[i]);
  for (const char* m : kMissing)
    if (std::strcmp(low, m) == 0) return true;
  return false;
}

bool strip_word(std::string_view& f, std::string_view w, bool front) {
  if (f.size() < w.size()) return false;
  const std::string_view part = front ? f.substr(0, w.size()) : f.substr(f.size() - w.size());
  for (std::size_t i = 0; i < w.size(); ++i)
    if (lower(part[i]) != w[i]) return false;
  if (front) f.remove_prefix(w.size()); else f.remove_suffix(w.size());
  while (!f.empty() && blank(f.front())) f.remove_prefix(1);
  while (!f.empty() && blank(f.back())) f.remove_suffix(1);
  return true;
}

// Takes currency signs and codes, a '%' and a sign around them off a field.
bool strip_marks(std::string_view& f, bool* neg, bool* currency) {
  *neg = false;
  *currency = false;
  // The common field: a digit (or a sign or point) first and a digit last.
  if (!f.empty() && (digit(f.front()) || ((f.front() == '-' || f.front() == '.') && f.size() > 1 && (digit(f[1]) || f[1] == '.'))) &&
      digit(f.back()))
    return true;
  if (!f.empty() && (f.front() == '-' || f.front() == '+') && f.size() > 1 && !digit(f[1]) && f[1] != '.') {
    *neg = f.front() == '-';
    f.remove_prefix(1);
  }
  bool any = false;
  if (!f.empty() && !digit(f.front()))
    for (const char* c : kCurrency)
      if (lower(f.front()) == c[0] && strip_word(f, c, true)) {
        any = true;
        break;
      }
  if (!f.empty() && !digit(f.back()))
    for (const char* c : kCurrency) {
      const std::size_t k = std::strlen(c);
      if (lower(f.back()) == c[k - 1] && strip_word(f, c, false)) {
        any = true;
        break;
      }
    }
  if (!f.empty() && f.back() == '%') f.remove_suffix(1);
  *currency = any;
  return true;
}

struct NumberMarks {
  long comma_dec = 0, dot_dec = 0, comma_thou = 0, dot_thou = 0, comma3 = 0, dot3 = 0, apos = 0;
  long currency = 0, suffix = 0, percent = 0, missing = 0;
};

// The marks of one number: what its ',' and '.' can be.
void look_at_number(std::string_view f, NumberMarks& m) {
  if (f.find('%') != std::string_view::npos) ++m.percent;
  bool neg, cur;
  strip_marks(f, &neg, &cur);
  if (cur) ++m.currency;
  if (!f.empty() && (lower(f.back()) == 'k' || lower(f.back()) == 'm' || lower(f.back()) == 'b')) {
    ++m.suffix;
    f.remove_suffix(1);
  }
  const std::size_t commas = static_cast<std::size_t>(std::count(f.begin(), f.end(), ','));
  const std::size_t dots = static_cast<std::size_t>(std::count(f.begin(), f.end(), '.'));
  if (f.find('\'') != std::string_view::npos) ++m.apos;
  const std::size_t lc = f.rfind(','), ld = f.rfind('.');
  if (commas && dots) {
    if (lc > ld) ++m.comma_dec, ++m.dot_thou; else ++m.dot_dec, ++m.comma_thou;
    return;
  }
  if (commas > 1) ++m.comma_thou;
  if (dots > 1) ++m.dot_thou;
  if (commas == 1) (digits_at(f, lc + 1) == 3 && lc + 4 == f.size() && lc > 0 && lc <= 3) ? ++m.comma3 : ++m.comma_dec;
  if (dots == 1) (digits_at(f, ld + 1) == 3 && ld + 4 == f.size() && ld > 0 && ld <= 3) ? ++m.dot3 : ++m.dot_dec;
}

// The plain decimal of a field under the layout's number shape into out
// ("1234.5", "-0.25", "32940000"); false for a field that is not a number.
// `volume`: K, M and B multiply.
bool plain_number(std::string_view f, const TextLayout& l, bool volume, char* out, std::size_t cap) {
  bool neg, cur;
  strip_marks(f, &neg, &cur);
  double mult = 1;
  if (!f.empty() && volume) {
    const char s = lower(f.back());
    if (s == 'k' || s == 'm' || s == 'b') {
      mult = s == 'k' ? 1e3 : s == 'm' ? 1e6 : 1e9;
      f.remove_suffix(1);
    }
  }
  char buf[64];
  std::size_t n = 0;
  if (neg) buf[n++] = '-';
  std::size_t group = 0;
  bool seen_digit = false, seen_dec = false, grouped = false, odd = false;
  for (std::size_t i = 0; i < f.size(); ++i) {
    const char c = f[i];
    if (n + 2 >= sizeof buf) return false;
    if (digit(c)) {
      buf[n++] = c;
      seen_digit = true;
      ++group;
    } else if (c == l.decimal && !seen_dec) {
      if (grouped && group != 3) return false;
      buf[n++] = '.';
      seen_dec = true;
    } else if (l.thousands && c == l.thousands && !seen_dec && seen_digit &&
               (grouped ? group == 3 : group <= 3) && i + 1 < f.size() && digit(f[i + 1])) {
      grouped = true;
      group = 0;
    } else if ((c == 'e' || c == 'E' || c == '+' || c == '-') && seen_digit) {
      buf[n++] = c;  // an exponent; whether it is whole is judged below
      odd = true;
    } else {
      return false;
    }
  }
  if (grouped && !seen_dec && group != 3) return false;
  buf[n] = '\0';
  double v = 0;
  // Digits and one point fit a float whatever they say; an exponent, a
  // suffix or very many digits are judged whole.
  const bool plain = mult == 1 && n < 30 && !odd;
  if (!seen_digit) return false;
  if (!plain && !whole_number(buf, &v)) return false;
  if (mult != 1) {
    v *= mult;
    if (!(std::fabs(v) < 2147483648.0)) return false;
    std::snprintf(out, cap, "%.0f", std::trunc(v));
    return true;
  }
  if (n + 1 > cap) return false;
  std::memcpy(out, buf, n + 1);
  return true;
}

}  // namespace

std::string separator_option_text(char sep) {
  switch (sep) {
    case ',': return "comma";
    case '\t': return "tab";
    case ' ': return "space";
    default: return std::string("'") + sep + "'";
  }
}

namespace {
const char* const kCodeNames[] = {"yyyymmdd", "ddmonyy", "mm/dd/yy", "yymmdd", "dd.mm.yyyy"};
}

std::string date_format_option_text(int code) {
  return code >= 0 && code <= 4 ? kCodeNames[code] : "yyyymmdd";
}

std::string TextLayout::summary() const {
  std::string s = "date=" + date_name;
  if (!shown.empty()) s += " order=" + shown;
  s += " sep=";
  s += sep == '\t' ? std::string("tab") : sep == ' ' ? std::string("space") : std::string(1, sep);
  s += header ? " header=yes" : " header=no";
  if (decimal_comma) s += " decimal=comma";
  if (thousands) s += std::string(" thousands=") + (thousands == ' ' ? std::string("space") : std::string(1, thousands));
  if (times) s += " time=ignored";
  if (utf16) s += utf16 == 1 ? " encoding=UTF-16LE" : " encoding=UTF-16BE";
  if (bom && !utf16) s += " bom=yes";
  if (close_only) s += " close-only";
  return s;
}

const char* plain_order(const TextLayout& layout) { return layout.col_symbol >= 0 ? "SDOHLCVI" : "DOHLCVI"; }

// ---- Reading by the layout ---------------------------------------------------------------

void ShapeReader::read(std::string_view line, ShapedLine& out) {
  out.kind = ShapedKind::kNotData;
  out.missing_volume = false;
  out.symbol = {};
  if (!dated_ && line.size() >= 3 && std::memcmp(line.data(), "\xef\xbb\xbf", 3) == 0) line.remove_prefix(3);
  while (!line.empty() && (line.back() == '\r' || blank(line.back()))) line.remove_suffix(1);
  split(line, l_.sep, fields_);
  auto field = [&](int c) { return c >= 0 && static_cast<std::size_t>(c) < fields_.size() ? fields_[c] : std::string_view(); };
  if (l_.col_symbol >= 0) out.symbol = field(l_.col_symbol);
  const std::int32_t date = read_date(field(l_.col_date), l_.date_shape, l_.date_shape == DateShape::kDayFirst);
  if (date == 0) {
    // Before the first bar: titles and headers.  After it: a bad date,
    // unless the line is empty.
    if (!dated_ || line.empty()) return;
    out.kind = ShapedKind::kBadDate;
    return;
  }
  dated_ = true;
  out.date = date;
  for (int k = 0; k < 4; ++k) {
    const int c = l_.close_only ? l_.col_price[3] : l_.col_price[k];
    std::string_view f = field(c);
    if (c < 0) {
      std::memcpy(out.text[k], "0", 2);  // a price the layout does not read (a given order)
      continue;
    }
    if (is_missing(f)) {
      out.kind = ShapedKind::kMissingPrice;
      return;
    }
    if (!plain_number(f, l_, false, out.text[k], sizeof out.text[k])) {
      out.kind = ShapedKind::kBadNumber;
      return;
    }
  }
  for (int k = 0; k < 2; ++k) {
    const int c = k == 0 ? l_.col_volume : l_.col_openint;
    std::string_view f = field(c);
    if (c < 0) {
      std::memcpy(out.text[4 + k], "0", 2);
      continue;
    }
    if (is_missing(f)) {
      std::memcpy(out.text[4 + k], "0", 2);
      out.missing_volume = k == 0;
      continue;
    }
    if (!plain_number(f, l_, true, out.text[4 + k], sizeof out.text[4 + k])) {
      out.kind = ShapedKind::kBadNumber;
      return;
    }
  }
  out.kind = ShapedKind::kBar;
}

std::size_t ShapeReader::plain_line(std::string_view line, char* out, std::size_t cap, ShapedLine& s) {
  read(line, s);
  std::size_t n = 0;
  auto put = [&](std::string_view t) {
    const std::size_t k = std::min(t.size(), cap - n);
    std::memcpy(out + n, t.data(), k);
    n += k;
  };
  if (s.kind == ShapedKind::kNotData) {
    // Before the first bar a header that every reader passes over; an
    // empty line after it.
    if (!dated_) put(l_.col_symbol >= 0 ? "Symbol,Date,Open,High,Low,Close,Volume,OpenInt" : "Date,Open,High,Low,Close,Volume,OpenInt");
    return n;
  }
  if (l_.col_symbol >= 0) {
    // The symbol as written, without the separator of the plain form.
    for (char c : s.symbol.substr(0, 40))
      if (c != ',' && n < cap) out[n++] = c;
    put(",");
  }
  if (s.kind == ShapedKind::kBadDate) {
    put("bad date,x");
    return n;
  }
  char date[8];
  for (int i = 7, d = static_cast<int>(s.date); i >= 0; --i, d /= 10) date[i] = static_cast<char>('0' + d % 10);
  put(std::string_view(date, 8));
  if (s.kind != ShapedKind::kBar) {
    put(",not a number");  // skipped and counted by the line parser
    return n;
  }
  for (int k = 0; k < 6; ++k) {
    put(",");
    put(s.text[k]);
  }
  return n;
}

namespace {

// UTF-16 text (after its byte-order mark) as UTF-8.
void utf16_to_utf8(std::string_view in, bool big, std::string& out) {
  out.clear();
  out.reserve(in.size() / 2 + 16);
  for (std::size_t i = 0; i + 1 < in.size(); i += 2) {
    unsigned u = big ? (static_cast<unsigned char>(in[i]) << 8) | static_cast<unsigned char>(in[i + 1])
                     : (static_cast<unsigned char>(in[i + 1]) << 8) | static_cast<unsigned char>(in[i]);
    if (u >= 0xd800 && u <= 0xdfff) u = '?';  // a pair: never part of a price or a column name
    if (u < 0x80) {
      out += static_cast<char>(u);
    } else if (u < 0x800) {
      out += static_cast<char>(0xc0 | (u >> 6));
      out += static_cast<char>(0x80 | (u & 0x3f));
    } else {
      out += static_cast<char>(0xe0 | (u >> 12));
      out += static_cast<char>(0x80 | ((u >> 6) & 0x3f));
      out += static_cast<char>(0x80 | (u & 0x3f));
    }
  }
}

bool read_all(int fd, std::string& out) {
  out.clear();
  char buf[1 << 16];
  off_t at = 0;
  for (;;) {
    const ssize_t r = ::pread(fd, buf, sizeof buf, at);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return false;
    if (r == 0) return true;
    out.append(buf, static_cast<std::size_t>(r));
    at += r;
  }
}

bool write_all(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

}  // namespace

bool rewrite_text(int in, const TextLayout& layout, int out, RewriteTally& tally) {
  ShapeReader reader(layout);
  ShapedLine s;
  std::string block;
  block.reserve(1 << 17);
  char line_out[512];
  auto one = [&](std::string_view line) {
    ++tally.lines;
    const std::size_t n = reader.plain_line(line, line_out, sizeof line_out - 1, s);
    switch (s.kind) {
      case ShapedKind::kBar:
        ++tally.bars;
        if (s.missing_volume) ++tally.missing_volume;
        break;
      case ShapedKind::kMissingPrice: ++tally.missing_price; break;
      case ShapedKind::kBadNumber: ++tally.bad_number; break;
      case ShapedKind::kBadDate: ++tally.bad_date; break;
      case ShapedKind::kNotData: break;
    }
    block.append(line_out, n);
    block += '\n';
  };
  auto flush = [&](bool force) {
    if (block.size() < (1 << 16) && !force) return true;
    const bool ok = write_all(out, block.data(), block.size());
    block.clear();
    return ok;
  };
  if (layout.utf16) {
    std::string raw, text;
    if (!read_all(in, raw)) return false;
    utf16_to_utf8(std::string_view(raw).substr(2), layout.utf16 == 2, text);
    std::size_t at = 0;
    while (at < text.size()) {
      std::size_t nl = text.find('\n', at);
      if (nl == std::string::npos) nl = text.size();
      one(std::string_view(text).substr(at, nl - at));
      at = nl + 1;
      if (!flush(false)) return false;
    }
    return flush(true);
  }
  if (::lseek(in, 0, SEEK_SET) < 0) return false;
  LineReader src(in);
  std::string_view line;
  while (src.next(line, 4096)) {
    one(line);
    if (!flush(false)) return false;
  }
  return flush(true);
}

// ---- Detection ---------------------------------------------------------------------------

namespace {

enum class Kind { kEmpty, kDate, kTime, kNumber, kText };

Kind kind_of(std::string_view f, char sep) {
  if (f.empty() || is_missing(f)) return Kind::kEmpty;
  const DateGuess g = classify_date(f);
  // Eight digits are a date only when they name a day (a volume often has eight).
  if (g.shape != DateShape::kNone && g.shape != DateShape::kUnix && g.shape != DateShape::kYmd6 &&
      (g.shape != DateShape::kYmd8 || read_date(f, g.shape, false) != 0))
    return Kind::kDate;
  if (time_at(f, 0) && f.find(':') != std::string_view::npos) return Kind::kTime;
  bool neg, cur;
  std::string_view n = f;
  strip_marks(n, &neg, &cur);
  if (!n.empty() && (lower(n.back()) == 'k' || lower(n.back()) == 'm' || lower(n.back()) == 'b')) n.remove_suffix(1);
  bool num = !n.empty();
  for (char c : n)
    if (!digit(c) && c != '.' && c != ',' && c != '\'' && c != '-' && c != '+' && c != 'e' && c != 'E' &&
        !(c == ' ' && sep != ' '))
      num = false;
  if (num && digit_count(n) > 0) return Kind::kNumber;
  return Kind::kText;
}

std::string letters(const TextLayout& l) {
  std::string s;
  for (const LayoutColumn& c : l.columns) s += c.role;
  while (!s.empty() && (s.back() == '-' || s.back() == 'T')) s.pop_back();
  return s;
}

// The order that reads the columns: the roles with '-' for a passed-over
// column, as --order takes it ('M').
std::string order_option(const TextLayout& l) {
  std::string s = letters(l);
  for (char& c : s)
    if (c == '-' || c == 'T') c = 'M';
  return s;
}

}  // namespace

TextLayout detect_layout(std::string_view head_in, const LayoutHints& hints, std::string_view whole) {
  TextLayout out;
  // Encoding.
  std::string decoded;
  std::string_view head = head_in;
  if (head.size() >= 4 && (std::memcmp(head.data(), "\xff\xfe\0\0", 4) == 0 ||
                           std::memcmp(head.data(), "\0\0\xfe\xff", 4) == 0)) {
    out.problem = "it is written in UTF-32, which the converter does not read; save it as UTF-8";
    return out;
  }
  if (head.size() >= 2 && (static_cast<unsigned char>(head[0]) == 0xff && static_cast<unsigned char>(head[1]) == 0xfe)) {
    out.utf16 = 1;
  } else if (head.size() >= 2 && static_cast<unsigned char>(head[0]) == 0xfe &&
             static_cast<unsigned char>(head[1]) == 0xff) {
    out.utf16 = 2;
  }
  if (out.utf16) {
    utf16_to_utf8(head.substr(2), out.utf16 == 2, decoded);
    head = decoded;
    out.evidence.push_back(std::string("encoding: UTF-16 ") + (out.utf16 == 1 ? "little" : "big") +
                           " endian (byte-order mark)");
  } else if (head.size() >= 3 && std::memcmp(head.data(), "\xef\xbb\xbf", 3) == 0) {
    out.bom = true;
    head.remove_prefix(3);
    out.evidence.push_back("encoding: UTF-8 with a byte-order mark");
  }
  if (head.find('\0') != std::string_view::npos) {
    out.problem = "it holds NUL bytes: not a text in UTF-8, Latin-1, cp1250 or UTF-16 with a byte-order mark; "
                  "save it as UTF-8";
    return out;
  }
  // Bodies that are not prices.
  {
    std::size_t p = 0;
    while (p < head.size() && (blank(head[p]) || head[p] == '\n')) ++p;
    std::string low;
    for (std::size_t i = p; i < head.size() && low.size() < 2048; ++i) low += lower(head[i]);
    for (const NotPrices& n : kNotPrices) {
      const bool begins = !*n.begins || low.compare(0, std::strlen(n.begins), n.begins) == 0;
      const bool holds = !*n.holds || low.find(n.holds) != std::string::npos;
      if (begins && holds && (*n.begins || digit_count(low.substr(0, 200)) < 8 || low.size() < 400)) {
        std::string first = std::string(head.substr(p, std::min<std::size_t>(60, head.find('\n', p) - p)));
        out.problem = "it holds " + std::string(n.what) + ", not prices (it begins \"" + first + "\"); nothing stored";
        return out;
      }
    }
  }
  const bool cut = head_in.size() >= kLayoutBytes;
  const std::vector<Line> lines = head_lines(head, cut);
  if (lines.empty()) {
    out.problem = "no lines to look at";
    return out;
  }
  std::string why;
  out.sep = hints.sep ? hints.sep : find_separator(lines, &why);
  if (!hints.sep) out.evidence.push_back(why);

  // The first data line: a date and at least one number.
  std::vector<std::vector<std::string_view>> fields(lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i) split(lines[i].text, out.sep, fields[i]);
  std::size_t first_data = lines.size();
  for (std::size_t i = 0; i < lines.size() && first_data == lines.size(); ++i) {
    bool date = false, number = false;
    for (std::string_view f : fields[i]) {
      const Kind k = kind_of(f, out.sep);
      if (k == Kind::kDate || (i > 0 && classify_date(f).shape == DateShape::kUnix)) date = true;  // unix under a header
      else if (k == Kind::kNumber) number = true;
    }
    if (date && (number || fields[i].size() >= 2)) first_data = i;
  }
  if (first_data == lines.size()) {
    // A header alone, or lines of numbers without a date.
    bool names = false;
    for (std::string_view f : fields[0]) names = names || name_role(name_key(f));
    out.problem = (names || digit_count(lines[0].text) == 0) && lines.size() == 1
                      ? "no line of prices after the header"
                  : names ? "no Date column in the header that holds dates the converter reads; give --order and "
                            "--date-format"
                          : "no date that the converter reads in its first lines; give --order and --date-format";
    return out;
  }
  const std::size_t ncols = fields[first_data].size();
  out.columns.resize(ncols);

  // Data kinds of the columns over the data lines.
  std::vector<int> kinds(ncols, -1);  // Kind of most lines
  {
    std::vector<std::array<int, 5>> count(ncols, {0, 0, 0, 0, 0});
    for (std::size_t i = first_data; i < lines.size(); ++i)
      for (std::size_t c = 0; c < ncols && c < fields[i].size(); ++c)
        ++count[c][static_cast<int>(kind_of(fields[i][c], out.sep))];
    for (std::size_t c = 0; c < ncols; ++c) {
      int most = 1;
      for (int k = 1; k < 5; ++k)
        if (count[c][k] > count[c][most]) most = k;
      kinds[c] = count[c][most] > 0 ? most : 0;
    }
  }
  auto is_unix_col = [&](std::size_t c) {
    for (std::size_t i = first_data; i < lines.size(); ++i)
      if (c >= fields[i].size() || classify_date(fields[i][c]).shape != DateShape::kUnix) return false;
    return true;
  };

  // Header lines: the lines before the first data line with names.
  std::vector<std::size_t> header_lines;
  for (std::size_t i = 0; i < first_data; ++i) {
    int known = 0;
    for (std::string_view f : fields[i]) known += name_role(name_key(f)) != nullptr;
    if (known >= 1 && fields[i].size() >= 2) header_lines.push_back(i);
  }
  out.header = !header_lines.empty();
  // Roles: the first header name whose role fits the column's values.
  char volume_rank = 0;  // U > V > v > W
  auto rank = [](char r) { return r == 'U' ? 4 : r == 'V' ? 3 : r == 'v' ? 2 : r == 'W' ? 1 : 0; };
  std::vector<char> raw(ncols, 0);
  for (std::size_t c = 0; c < ncols; ++c) {
    LayoutColumn& col = out.columns[c];
    const Kind k = static_cast<Kind>(kinds[c]);
    for (std::size_t h : header_lines) {
      if (c >= fields[h].size()) continue;
      const std::string_view name = fields[h][c];
      const ColumnName* n = name_role(name_key(name));
      if (col.name.empty() && !name.empty()) col.name = std::string(name);
      if (!n) continue;
      char r = n->role;
      if (r == 'd') r = k == Kind::kTime ? 'T' : (k == Kind::kDate || is_unix_col(c)) ? 'D' : 0;
      else if (r == 'D') r = (k == Kind::kDate || is_unix_col(c)) ? 'D' : k == Kind::kTime ? 'T' : 0;
      else if (r == 'T') r = k == Kind::kTime || k == Kind::kEmpty ? 'T' : k == Kind::kDate ? 'D' : 0;
      else if (r == 'S') r = k == Kind::kText ? 'S' : 0;
      else if (r != 'X') r = (k == Kind::kNumber || k == Kind::kEmpty) ? r : 0;
      if (!r) continue;
      col.name = std::string(name);
      raw[c] = r;
      if (r == 'X') col.why = n->why;
      break;
    }
    if (!raw[c]) col.why = col.name.empty() ? "" : "not known";
    volume_rank = std::max<char>(volume_rank, static_cast<char>(rank(raw[c])));
  }
  // Headerless: the roles by the settings' order over the columns, a time
  // of day after the date passed over.
  if (!out.header) {
    std::string order = hints.order.empty() ? std::string("DOHLCVI") : hints.order;
    std::size_t place = 0;
    for (std::size_t c = 0; c < ncols; ++c) {
      const Kind k = static_cast<Kind>(kinds[c]);
      if (k == Kind::kTime && c > 0 && raw[c - 1] == 'D') {
        raw[c] = 'T';
        continue;
      }
      while (place < order.size() && order[place] == ' ') ++place;
      if (place >= order.size()) break;
      char r = order[place++];
      if (r == 'M') r = 'X';
      raw[c] = r;
    }
    out.evidence.push_back("no header: the columns read by the order " + order);
  }

  // One column per role; the volume of the best rank.
  bool have_close = false;
  for (char r : raw) have_close = have_close || r == 'C';
  std::string used;
  for (std::size_t c = 0; c < ncols; ++c) {
    LayoutColumn& col = out.columns[c];
    char r = raw[c];
    if (r == 'P') r = have_close ? 'X' : 'C';
    if (rank(r)) {
      if (rank(r) != volume_rank || used.find('V') != std::string::npos) {
        col.why = r == 'W' ? "turnover" : "another volume";
        r = 'X';
      } else {
        r = 'V';
      }
    }
    if (r == 'X' || r == 0) r = '-';
    if (r != '-' && r != 'T' && used.find(r) != std::string::npos) {
      col.why = "a second one";
      r = '-';
    }
    if (r == 'T') out.times = true;
    if (r == 'S' && static_cast<Kind>(kinds[c]) != Kind::kText) r = '-';
    col.role = r;
    used += r;
    const int ic = static_cast<int>(c);
    switch (r) {
      case 'D': out.col_date = ic; break;
      case 'S': out.col_symbol = ic; break;
      case 'O': out.col_price[0] = ic; break;
      case 'H': out.col_price[1] = ic; break;
      case 'L': out.col_price[2] = ic; break;
      case 'C': out.col_price[3] = ic; break;
      case 'V': out.col_volume = ic; break;
      case 'I': out.col_openint = ic; break;
      default: break;
    }
  }
  // A real volume of zeros (currency pairs) beside a tick volume: the tick volume.
  if (out.col_volume >= 0) {
    bool zeros = true;
    for (std::size_t i = first_data; i < lines.size() && zeros; ++i) {
      const std::size_t c = static_cast<std::size_t>(out.col_volume);
      if (c < fields[i].size())
        for (char ch : fields[i][c])
          if (digit(ch) && ch != '0') zeros = false;
    }
    for (std::size_t c = 0; c < ncols && zeros; ++c)
      if (raw[c] == 'v' && out.columns[c].role == '-') {
        out.columns[static_cast<std::size_t>(out.col_volume)].role = '-';
        out.columns[static_cast<std::size_t>(out.col_volume)].why = "0 on every line: the tick volume taken";
        out.columns[c].role = 'V';
        out.columns[c].why.clear();
        out.col_volume = static_cast<int>(c);
        break;
      }
  }
  if (out.col_date < 0) {
    // No column named as a date: the first column of dates.
    for (std::size_t c = 0; c < ncols && out.col_date < 0; ++c)
      if (static_cast<Kind>(kinds[c]) == Kind::kDate && out.columns[c].role == '-') {
        out.col_date = static_cast<int>(c);
        out.columns[c].role = 'D';
      }
  }
  if (out.col_date < 0) {
    out.problem = out.header ? "no Date column in the header; give --order" : "no date column; give --order";
    return out;
  }
  for (std::size_t c = 0; c < ncols; ++c) {
    const LayoutColumn& col = out.columns[c];
    std::string e = "column " + std::to_string(c + 1) + (col.name.empty() ? "" : " '" + col.name + "'") + ": ";
    e += col.role == '-' ? "passed over" + (col.why.empty() ? std::string() : " (" + col.why + ")")
         : col.role == 'T' ? std::string("time of day (not read)")
                           : std::string("read as ") + col.role;
    out.evidence.push_back(e);
  }

  // Prices: all four, the close alone, or a refusal naming what is missing.
  const bool in_header = out.header;
  {
    const char* names[] = {"Open", "High", "Low", "Close"};
    std::string missing, unplaced;
    for (int k = 0; k < 4; ++k)
      if (out.col_price[k] < 0) missing += std::string(missing.empty() ? "" : ", ") + names[k];
    for (const LayoutColumn& c : out.columns)
      if (c.role == '-' && c.why == "not known") unplaced += std::string(unplaced.empty() ? "" : ", ") + "'" + c.name + "'";
    if (out.col_price[3] >= 0 && out.col_price[0] < 0 && out.col_price[1] < 0 && out.col_price[2] < 0 &&
        unplaced.empty()) {
      out.close_only = true;
      out.evidence.push_back("close only: stored as open = high = low = close");
    } else if (!missing.empty() && in_header) {
      out.problem = "no " + missing + " column" + (unplaced.empty() ? "" : "; the columns " + unplaced + " are not known") +
                    "; give --order with the letters of the columns it holds (as read now: " + order_option(out) +
                    ", M for a column passed over)";
      return out;
    }
  }

  // The date shape, day or month first decided by every date of the head
  // (and of the whole file when the head cannot).
  {
    DateShape shape = DateShape::kNone;
    long max_a = 0, max_b = 0;
    char mark = '/';
    bool two = false;
    std::string example;
    for (std::size_t i = first_data; i < lines.size(); ++i) {
      if (static_cast<std::size_t>(out.col_date) >= fields[i].size()) continue;
      const std::string_view f = fields[i][out.col_date];
      const DateGuess g = classify_date(f);
      if (g.shape == DateShape::kNone) continue;
      if (shape == DateShape::kNone) {
        shape = g.shape;
        example = std::string(f);
        const std::size_t a = digits_at(f, 0);
        if (shape == DateShape::kDayFirst) {
          mark = f[a];
          two = digits_at(f, a + 2 + digits_at(f, a + 1)) == 2;
        }
      }
      if (g.shape != shape) continue;
      out.times = out.times || g.time;
      max_a = std::max(max_a, g.a);
      max_b = std::max(max_b, g.b);
    }
    if (shape == DateShape::kDayFirst && max_a <= 12 && max_b <= 12 && !whole.empty()) {
      // The rest of the file decides.
      std::size_t at = 0;
      std::vector<std::string_view> f;
      while (at < whole.size() && max_a <= 12 && max_b <= 12) {
        std::size_t nl = whole.find('\n', at);
        if (nl == std::string_view::npos) nl = whole.size();
        split(whole.substr(at, nl - at), out.sep, f);
        at = nl + 1;
        if (static_cast<std::size_t>(out.col_date) >= f.size()) continue;
        const DateGuess g = classify_date(f[out.col_date]);
        if (g.shape != DateShape::kDayFirst) continue;
        max_a = std::max(max_a, g.a);
        max_b = std::max(max_b, g.b);
      }
    }
    bool day_first = true;
    if (shape == DateShape::kDayFirst) {
      if (hints.datecode == 2) day_first = false;
      else if (hints.datecode == 4) day_first = true;
      else if (max_a > 12 && max_b <= 12) day_first = true;
      else if (max_a <= 12 && max_b <= 12 && mark == '.') day_first = true;  // 02.01.2024 is written day first
      else if (max_b > 12 && max_a <= 12) day_first = false;
      else {
        out.problem = "dates such as " + example +
                      " may be day or month first (no day above 12 in the whole file); give "
                      "--date-format mm/dd/yy or --date-format dd.mm.yyyy";
        return out;
      }
      if (!day_first) shape = DateShape::kMonthFirst;
      out.evidence.push_back(std::string("dates: ") + (day_first ? "day" : "month") + " first (" +
                             std::to_string(day_first ? max_a : max_b) + " seen in the " +
                             (day_first ? "first" : "second") + " place)");
    }
    out.date_shape = shape;
    out.date_name = shape_name(shape, day_first, mark, two);
    // The date code of the settings that reads the same dates, where one does.
    int code = -1;
    switch (shape) {
      case DateShape::kIso: case DateShape::kYmd8: code = 0; break;
      case DateShape::kYmd6: code = 3; break;
      case DateShape::kDayMonthName: code = 1; break;
      case DateShape::kDayFirst: code = two && mark != '.' ? -1 : 4; break;
      case DateShape::kMonthFirst: code = mark == '/' ? 2 : -1; break;
      default: break;
    }
    if (hints.datecode >= 0) {
      out.datecode = hints.datecode;
    } else if (code >= 0) {
      out.datecode = code;
    } else {
      out.datecode = 0;
      out.rewrite = true;
      out.rewrite_why += std::string(out.rewrite_why.empty() ? "" : ", ") + out.date_name + " dates";
    }
    if (shape == DateShape::kYmd8 && out.times && out.sep != ' ') {
      out.rewrite = true;  // 20240102 170000: the settings would read the time into the date
      out.rewrite_why += std::string(out.rewrite_why.empty() ? "" : ", ") + "a time after the date";
    }
  }

  // Numbers: the decimal mark and a thousands separator, from every price
  // and volume of the head.
  NumberMarks marks;
  for (std::size_t i = first_data; i < lines.size(); ++i)
    for (int c : {out.col_price[0], out.col_price[1], out.col_price[2], out.col_price[3], out.col_volume}) {
      if (c < 0 || static_cast<std::size_t>(c) >= fields[i].size()) continue;
      if (is_missing(fields[i][c])) {
        ++marks.missing;
        continue;
      }
      look_at_number(fields[i][c], marks);
    }
  long price_comma3 = 0;
  for (std::size_t i = first_data; i < lines.size(); ++i)
    for (int k = 0; k < 4; ++k) {
      const int c = out.col_price[k];
      if (c < 0 || static_cast<std::size_t>(c) >= fields[i].size()) continue;
      NumberMarks m;
      look_at_number(fields[i][c], m);
      price_comma3 += m.comma3;
    }
  if (marks.comma_dec + marks.dot_thou > marks.dot_dec + marks.comma_thou ||
      (marks.dot_dec + marks.comma_thou == 0 && price_comma3 > 0 && marks.dot3 == 0)) {
    out.decimal = ',';
    if (marks.dot_thou || marks.dot3) out.thousands = '.';
  } else {
    out.decimal = '.';
    if (marks.comma_thou || (marks.comma3 && out.sep != ',')) out.thousands = ',';
    else if (marks.comma3 && out.sep == ',') out.thousands = ',';  // quoted "4,943"
  }
  if (marks.apos && !out.thousands) out.thousands = '\'';
  out.decimal_comma = out.decimal == ',';
  if (out.decimal_comma && out.sep == ',') {
    out.problem = "its numbers have decimal commas and its separator is ','";
    return out;
  }
  std::string numbers = std::string("numbers: decimal ") + (out.decimal == ',' ? "comma" : "point");
  if (out.thousands) numbers += std::string(", thousands separator '") + out.thousands + "'";
  if (marks.currency) numbers += ", currency signs";
  if (marks.suffix) numbers += ", K/M/B suffixes";
  if (marks.percent) numbers += ", % signs";
  if (marks.missing) numbers += ", " + std::to_string(marks.missing) + " missing values";
  out.evidence.push_back(numbers);
  auto need = [&](bool b, const char* what) {
    if (!b) return;
    out.rewrite = true;
    out.rewrite_why += std::string(out.rewrite_why.empty() ? "" : ", ") + what;
  };
  need(out.thousands != 0, "thousands separators");
  need(marks.currency > 0, "currency signs");
  need(marks.suffix > 0, "K/M/B suffixes");
  need(marks.percent > 0, "% signs");
  need(marks.missing > 0, "missing values");
  need(out.close_only, "a close only");
  need(out.utf16 != 0, "UTF-16");
  need(header_lines.size() > 1 || (out.header && header_lines[0] != 0) || (!out.header && first_data > 0) ||
           lines[0].number != 0,
       "lines before the header");
  // A column of text between the read columns (the settings' field walk
  // would take the next number for it), and a symbol not in front.
  for (std::size_t c = 0; c < ncols; ++c)
    if (out.columns[c].role == '-' && static_cast<Kind>(kinds[c]) != Kind::kNumber &&
        static_cast<Kind>(kinds[c]) != Kind::kEmpty && static_cast<Kind>(kinds[c]) != Kind::kTime) {
      need(true, "a column of text");
      break;
    }
  for (std::size_t i = first_data; i < lines.size() && !out.rewrite; ++i)
    if (fields[i].size() != ncols) need(true, "lines of other lengths");
    else if (lines[i].text.find('"') != std::string_view::npos) need(true, "quoted fields");
  if (!in_header && out.col_price[0] < 0 && out.col_price[3] < 0) {
    out.problem = "no header and no price column in the order " + hints.order + "; give --order";
    return out;
  }

  out.shown = letters(out);
  out.order = order_option(out);
  if (!out.header) out.order.clear(), out.shown.clear();
  if (out.order.size() > 12 && !out.rewrite) need(true, "more than 12 columns");
  if (out.rewrite) out.evidence.push_back("read by the converter itself: " + out.rewrite_why);

  // The first bars as they would be stored, and the bar rules over the
  // bars of the head: a layout whose bars break them is wrong.
  ShapeReader reader(out);
  ShapedLine s;
  BarTally tally;
  // A price the layout does not read, or a column of zeros (an export of a
  // chart that has no open), is judged as the other prices say.
  bool given[4];
  for (int k = 0; k < 4; ++k) {
    given[k] = out.col_price[k] >= 0;
    if (!given[k] || out.close_only) continue;
    bool zeros = true;
    std::size_t seen = 0;
    std::vector<std::string_view> fv;
    for (std::size_t i = first_data; i < lines.size() && zeros; ++i) {
      split(lines[i].text, out.sep, fv);
      const std::size_t c = static_cast<std::size_t>(out.col_price[k]);
      if (c >= fv.size()) continue;
      ++seen;
      for (char ch : fv[c])
        if (digit(ch) && ch != '0') zeros = false;
    }
    if (zeros && seen > 0) {
      given[k] = false;
      out.evidence.push_back("column '" + out.columns[static_cast<std::size_t>(out.col_price[k])].name +
                             "': 0 on every line, not judged by the bar rules");
    }
  }
  for (int k = 0; k < 4; ++k) out.judged[k] = given[k];
  bool high_bad = false, low_bad = false, open_bad = false, close_bad = false, volume_price = false;
  long volume_decimals = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i + 1 == lines.size() && cut) break;
    reader.read(lines[i].text, s);
    if (s.kind != ShapedKind::kBar) continue;
    BarRecord b;
    b.date = s.date;
    b.open = read_price(s.text[0]);
    b.high = read_price(s.text[1]);
    b.low = read_price(s.text[2]);
    b.close = read_price(s.text[3]);
    b.volume = static_cast<std::int32_t>(read_integer(s.text[4]));
    b.openint = static_cast<std::int32_t>(read_integer(s.text[5]));
    BarRecord judged = b;
    if (!given[0]) judged.open = given[3] ? b.close : given[1] ? b.high : b.low;
    if (!given[3]) judged.close = judged.open;
    if (!given[1]) judged.high = std::max(judged.open, judged.close);
    if (!given[2]) judged.low = std::min(judged.open, judged.close);
    const unsigned f = tally.add(judged);
    if (f & (kBarOutsideRange | kBarHighBelowLow)) {
      if (b.high < std::max(b.open, b.close) || b.high < b.low) high_bad = true;
      if (b.low > std::min(b.open, b.close) || b.high < b.low) low_bad = true;
    }
    if (f & kBarNotPositive) {
      if (!(b.open > 0)) open_bad = true;
      if (!(b.high > 0)) high_bad = true;
      if (!(b.low > 0)) low_bad = true;
      if (!(b.close > 0)) close_bad = true;
    }
    if (out.col_volume >= 0 && std::strchr(s.text[4], '.') == nullptr) {
      // the volume text of the field itself: decimals with a price's size
      const std::size_t vc = static_cast<std::size_t>(out.col_volume);
      std::vector<std::string_view> fv;
      split(lines[i].text, out.sep, fv);
      if (vc < fv.size()) {
        const std::string_view v = fv[vc];
        const std::size_t dot = v.find(out.decimal);
        if (dot != std::string_view::npos && v.size() - dot - 1 >= 1 && v.size() - dot - 1 <= 4 &&
            !(v.size() >= 2 && v.substr(v.size() - 2) == ".0") && b.volume >= b.low - 1 && b.volume <= b.high + 1)
          ++volume_decimals;
      }
    }
    if (out.first_bars.size() < 3) out.first_bars.push_back(b);
  }
  out.checked = tally.checked();
  out.broken = tally.broken();
  if (out.checked >= 3 && volume_decimals * 2 > static_cast<long>(out.checked)) volume_price = true;
  const bool too_many = out.broken >= 3 || (out.broken > 0 && out.broken * 10 >= out.checked);
  if (too_many || volume_price) {
    std::string suspects;
    auto add = [&](bool b, int col, const char* what) {
      if (!b || col < 0) return;
      const LayoutColumn& c = out.columns[static_cast<std::size_t>(col)];
      suspects += std::string(suspects.empty() ? "" : ", ") + (c.name.empty() ? "column " + std::to_string(col + 1) : "'" + c.name + "'") +
                  " read as " + what;
    };
    add(open_bad, out.col_price[0], "open");
    add(high_bad, out.col_price[1], "high");
    add(low_bad, out.col_price[2], "low");
    add(close_bad, out.col_price[3], "close");
    add(volume_price, out.col_volume, "volume (it holds prices)");
    out.problem = "its columns do not read as prices: " +
                  (too_many ? std::to_string(out.broken) + " of the first " + std::to_string(out.checked) +
                                  " bars break the bar rules (" + tally.summary() + ")"
                            : std::string("the volume column holds prices")) +
                  (suspects.empty() ? std::string() : "; suspect columns: " + suspects) +
                  "; give --order (the columns as read: " + order_option(out) + ")";
    out.evidence.push_back(out.problem);
    return out;
  }
  out.ok = true;
  return out;
}

TextLayout detect_layout(int fd, const LayoutHints& hints) {
  std::string head(kLayoutBytes, '\0');
  std::size_t got = 0;
  while (got < head.size()) {
    const ssize_t r = ::pread(fd, head.data() + got, head.size() - got, static_cast<off_t>(got));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += static_cast<std::size_t>(r);
  }
  head.resize(got);
  TextLayout l = detect_layout(head, hints);
  // Day or month first that the start cannot decide: the whole file.
  if (!l.ok && got == kLayoutBytes && l.problem.find("day or month first") != std::string::npos) {
    std::string all;
    if (read_all(fd, all)) {
      std::string text;
      if (l.utf16) {
        utf16_to_utf8(std::string_view(all).substr(2), l.utf16 == 2, text);
        all.swap(text);
      }
      return detect_layout(head, hints, all);
    }
  }
  return l;
}
