// Layout detection of text price files.
#include "convert/text_layout.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "convert/text_to_chart.h"

namespace {

bool digit(char c) { return c >= '0' && c <= '9'; }
bool letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

constexpr std::size_t kMaxLines = 500;  // lines looked at

// The lines of the head: carriage returns dropped, empty lines passed over;
// a last line cut by the 64 KB limit is left out.
std::vector<std::string_view> head_lines(std::string_view head, bool cut) {
  std::vector<std::string_view> lines;
  std::size_t at = 0;
  while (at < head.size() && lines.size() < kMaxLines) {
    std::size_t nl = head.find('\n', at);
    if (nl == std::string_view::npos) {
      if (cut) break;
      nl = head.size();
    }
    std::string_view line = head.substr(at, nl - at);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    if (!line.empty() && line.find('\0') == std::string_view::npos) lines.push_back(line);
    at = nl + 1;
  }
  return lines;
}

// Fields of a line, trimmed of blanks and quotes.  A blank separator takes
// a run of blanks (and tabs) as one.
std::vector<std::string_view> split(std::string_view line, char sep) {
  std::vector<std::string_view> out;
  auto trim = [](std::string_view f) {
    while (!f.empty() && (f.front() == ' ' || f.front() == '"' || f.front() == '\t')) f.remove_prefix(1);
    while (!f.empty() && (f.back() == ' ' || f.back() == '"' || f.back() == '\t')) f.remove_suffix(1);
    return f;
  };
  std::size_t i = 0;
  const std::size_t n = line.size();
  if (sep == ' ') {
    while (i < n) {
      while (i < n && (line[i] == ' ' || line[i] == '\t')) ++i;
      if (i >= n) break;
      std::size_t end = i;
      while (end < n && line[end] != ' ' && line[end] != '\t') ++end;
      out.push_back(trim(line.substr(i, end - i)));
      i = end;
    }
    return out;
  }
  for (;;) {
    std::size_t end = line.find(sep, i);
    if (end == std::string_view::npos) end = n;
    out.push_back(trim(line.substr(i, end - i)));
    if (end >= n) break;
    i = end + 1;
  }
  return out;
}

// The separator: the first of tab, ';', '|', ',' that every line holds
// equally often; else the one whose least count is largest; else a blank.
char find_separator(const std::vector<std::string_view>& lines) {
  const char candidates[] = {'\t', ';', '|', ','};
  char best = 0;
  std::size_t best_min = 0;
  const std::size_t look = std::min<std::size_t>(lines.size(), 50);
  for (char c : candidates) {
    std::size_t lo = static_cast<std::size_t>(-1), hi = 0;
    for (std::size_t i = 0; i < look; ++i) {
      const auto k = static_cast<std::size_t>(std::count(lines[i].begin(), lines[i].end(), c));
      lo = std::min(lo, k);
      hi = std::max(hi, k);
    }
    if (look == 0 || lo == 0) continue;
    if (lo == hi) return c;
    if (lo > best_min) {
      best_min = lo;
      best = c;
    }
  }
  return best ? best : ' ';
}

// Column names: lower case letters only ("Adj Close" -> "adjclose").
std::string name_key(std::string_view field) {
  std::string key;
  for (char c : field)
    if (letter(c)) key += lower(c);
  return key;
}

// The field letter a column name stands for: S D O H L C V I, 'T' for a
// time, 'M' for a column to skip, 0 for an unknown name.
char letter_of(const std::string& key) {
  static const struct {
    const char* name;
    char letter;
  } names[] = {
      {"date", 'D'},         {"datetime", 'D'},    {"timestamp", 'D'}, {"day", 'D'},
      {"tradedate", 'D'},    {"dtyyyymmdd", 'D'},  {"time", 'T'},      {"tradetime", 'T'},
      {"open", 'O'},         {"o", 'O'},           {"high", 'H'},      {"h", 'H'},
      {"low", 'L'},          {"l", 'L'},           {"close", 'C'},     {"c", 'C'},
      {"last", 'C'},         {"adjclose", 'M'},    {"adjustedclose", 'M'},
      {"volume", 'V'},       {"vol", 'V'},         {"v", 'V'},         {"openinterest", 'I'},
      {"openint", 'I'},      {"oi", 'I'},          {"symbol", 'S'},    {"ticker", 'S'},
      // German and French downloads ("Eroffnung" and "Cloture" lose their accents here).
      {"datum", 'D'},        {"zeit", 'T'},        {"erffnung", 'O'},  {"eroeffnung", 'O'},
      {"hoch", 'H'},         {"tief", 'L'},        {"schluss", 'C'},   {"schlusskurs", 'C'},
      {"volumen", 'V'},      {"ouverture", 'O'},   {"plushaut", 'H'},  {"plusbas", 'L'},
      {"clture", 'C'},       {"heure", 'T'},
  };
  for (const auto& n : names)
    if (key == n.name) return n.letter;
  return 0;
}

bool numeric_start(std::string_view f) {
  return !f.empty() && (digit(f[0]) || f[0] == '-' || f[0] == '+' || f[0] == '.');
}

// ---- Dates -------------------------------------------------------------------

enum class DateKind { kNone, kIso, kNumber8, kNumber6, kMonthName, kThreeParts };

struct DateSeen {
  DateKind kind = DateKind::kNone;
  long first = 0, second = 0;  // kThreeParts: the first two numbers
  char sep = 0;                // kThreeParts: the character between them
  std::size_t year_digits = 0;  // kThreeParts: 2 or 4
  bool time = false;           // a time of day follows
};

std::size_t digits_at(std::string_view s, std::size_t i) {
  std::size_t k = i;
  while (k < s.size() && digit(s[k])) ++k;
  return k - i;
}

long number_at(std::string_view s, std::size_t i, std::size_t n) {
  long v = 0;
  for (std::size_t k = 0; k < n; ++k) v = v * 10 + (s[i + k] - '0');
  return v;
}

DateSeen classify_date(std::string_view v) {
  DateSeen d;
  const std::size_t a = digits_at(v, 0);
  auto rest_has_time = [&](std::size_t from) { return v.find(':', from) != std::string_view::npos; };
  if (a == 4 && v.size() > 5 && (v[4] == '-' || v[4] == '/')) {
    const std::size_t b = digits_at(v, 5);
    if (b >= 1 && b <= 2 && 5 + b < v.size() && v[5 + b] == v[4]) {
      const std::size_t c = digits_at(v, 6 + b);
      if (c >= 1 && c <= 2) {
        d.kind = DateKind::kIso;
        d.time = rest_has_time(6 + b + c);
      }
    }
    return d;
  }
  if ((a == 8 || a == 6) && (a == v.size() || !letter(v[a]))) {
    d.kind = a == 8 ? DateKind::kNumber8 : DateKind::kNumber6;
    d.time = rest_has_time(a);
    return d;
  }
  if (a >= 1 && a <= 2 && a < v.size()) {
    const char sep = v[a];
    if (sep == '.' || sep == '/' || sep == '-') {
      const std::size_t b = digits_at(v, a + 1);
      if (b >= 1 && b <= 2 && a + 1 + b < v.size() && v[a + 1 + b] == sep) {
        const std::size_t c = digits_at(v, a + 2 + b);
        if (c == 2 || c == 4) {
          d.kind = DateKind::kThreeParts;
          d.first = number_at(v, 0, a);
          d.second = number_at(v, a + 1, b);
          d.sep = sep;
          d.year_digits = c;
          d.time = rest_has_time(a + 2 + b + c);
        }
        return d;
      }
    }
    // 31dec92, 2 Jan 2024, 02-Jan-24
    std::size_t k = a;
    while (k < v.size() && (v[k] == ' ' || v[k] == '-')) ++k;
    if (k + 3 <= v.size() && letter(v[k]) && letter(v[k + 1]) && letter(v[k + 2])) {
      char month[4] = {lower(v[k]), lower(v[k + 1]), lower(v[k + 2]), 0};
      if (search(month) > 0) {
        std::size_t y = k + 3;
        while (y < v.size() && (v[y] == ' ' || v[y] == '-')) ++y;
        const std::size_t c = digits_at(v, y);
        if (c == 2 || c == 4) {
          d.kind = DateKind::kMonthName;
          d.time = rest_has_time(y + c);
        }
      }
    }
  }
  return d;
}

const char* const kCodeNames[] = {"yyyymmdd", "ddmonyy", "mm/dd/yy", "yymmdd", "dd.mm.yyyy"};

}  // namespace

std::string separator_option_text(char sep) {
  switch (sep) {
    case ',': return "comma";
    case '\t': return "tab";
    case ' ': return "space";
    default: return std::string("'") + sep + "'";
  }
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
  if (times) s += " time=ignored";
  return s;
}

TextLayout detect_layout(std::string_view head, const LayoutHints& hints) {
  TextLayout out;
  const bool cut = head.size() >= kLayoutBytes;
  const std::vector<std::string_view> lines = head_lines(head, cut);
  if (lines.empty()) {
    out.problem = "no lines to look at";
    return out;
  }
  out.sep = hints.sep ? hints.sep : find_separator(lines);
  out.header = is_header_line(lines[0], out.sep);
  const std::size_t first_data = out.header ? 1 : 0;
  if (first_data >= lines.size()) {
    out.problem = "no line of prices after the header";
    return out;
  }
  const std::vector<std::string_view> first = split(lines[first_data], out.sep);

  // Columns: letters from the header's names.
  std::size_t date_col = static_cast<std::size_t>(-1);
  if (out.header) {
    const std::vector<std::string_view> names = split(lines[0], out.sep);
    std::string used;
    std::string order, shown;
    for (std::size_t i = 0; i < names.size(); ++i) {
      char c = letter_of(name_key(names[i]));
      if (c != 0 && c != 'M' && c != 'T' && used.find(c) != std::string::npos) c = 0;  // a second one
      if (c == 'T') {
        out.times = true;
        c = 'M';
      }
      const bool numeric = i < first.size() && numeric_start(first[i]);
      if (c == 0) c = numeric ? 'M' : ' ';  // a text column is passed over by the field walk
      if (c == 'M' && !numeric) c = ' ';
      if (c == ' ') continue;
      if (c == 'D') date_col = i;
      used += c;
      order += c;
      shown += c == 'M' ? '-' : c;
    }
    while (!order.empty() && order.back() == 'M') {
      order.pop_back();
      shown.pop_back();
    }
    if (order.size() > 12) {
      out.problem = "more than 12 columns to read; give --order";
      return out;
    }
    if (date_col == static_cast<std::size_t>(-1)) {
      out.problem = "no Date column in the header; give --order";
      return out;
    }
    out.order = order;
    out.shown = shown;
  } else {
    for (std::size_t i = 0; i < first.size(); ++i)
      if (classify_date(first[i]).kind != DateKind::kNone) {
        date_col = i;
        break;
      }
  }

  // The dates of the data lines.
  DateKind kind = DateKind::kNone;
  long max_first = 0, max_second = 0;
  char three_sep = 0;
  std::string year = "yyyy";
  std::string example;
  for (std::size_t l = first_data; l < lines.size() && date_col != static_cast<std::size_t>(-1); ++l) {
    const std::vector<std::string_view> fields = split(lines[l], out.sep);
    if (date_col >= fields.size()) continue;
    const DateSeen d = classify_date(fields[date_col]);
    if (d.kind == DateKind::kNone) continue;
    if (kind == DateKind::kNone) {
      kind = d.kind;
      example = std::string(fields[date_col]);
    }
    if (d.kind != kind) continue;
    out.times = out.times || d.time;
    if (d.kind == DateKind::kThreeParts) {
      max_first = std::max(max_first, d.first);
      max_second = std::max(max_second, d.second);
      three_sep = d.sep;
      if (d.year_digits == 2) year = "yy";
    }
    // Decimal comma: a number with a comma in a column other than the date.
    if (out.sep != ',' && !out.decimal_comma)
      for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i == date_col) continue;
        const std::string_view f = fields[i];
        const std::size_t comma = f.find(',');
        if (comma != std::string_view::npos && comma > 0 && digit(f[comma - 1]) && comma + 1 < f.size() &&
            digit(f[comma + 1]) && numeric_start(f))
          out.decimal_comma = true;
      }
  }

  if (hints.datecode >= 0) {
    out.datecode = hints.datecode;
    out.date_name = kind == DateKind::kIso && hints.datecode == 0 ? "ISO" : kCodeNames[hints.datecode % 5];
  } else {
    switch (kind) {
      case DateKind::kNone:
        out.problem = "no date that the converter reads in its first lines; give --order and --date-format";
        return out;
      case DateKind::kIso:
        out.datecode = 0;
        out.date_name = "ISO";
        break;
      case DateKind::kNumber8:
        out.datecode = 0;
        out.date_name = "yyyymmdd";
        break;
      case DateKind::kNumber6:
        out.datecode = 3;
        out.date_name = "yymmdd";
        break;
      case DateKind::kMonthName:
        out.datecode = 1;
        out.date_name = "dd-Mon-yy";
        break;
      case DateKind::kThreeParts: {
        const bool day_first = max_first > 12 && max_second <= 12;
        const bool month_first = max_second > 12 && max_first <= 12;
        if (!day_first && !month_first) {
          out.problem = "dates such as " + example +
                        " may be day or month first (no day above 12 in the first lines); give "
                        "--date-format mm/dd/yy or --date-format dd.mm.yyyy";
          return out;
        }
        if (day_first) {
          out.datecode = 4;
          out.date_name = std::string("dd") + three_sep + "mm" + three_sep + year;
        } else if (three_sep == '/') {
          out.datecode = 2;
          out.date_name = "mm/dd/" + year;
        } else {
          out.problem = "dates such as " + example + " are month first with '" + three_sep +
                        "', which no date format reads";
          return out;
        }
        break;
      }
    }
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
  return detect_layout(head, hints);
}
