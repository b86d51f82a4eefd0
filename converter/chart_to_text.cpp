// Chart-to-text core: field texts, lines, the whole text file.  No screen.
#include "converter/chart_to_text.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "chartdata/safe_replace.h"
#include "converter/text_sort.h"
#include "converter/text_to_chart.h"

std::string ftos_text(double value, int width, int precision) {
  char work[512];
  std::snprintf(work, sizeof work, "%*.*f", width, precision, value);
  const char* dot = std::strchr(work, '.');
  const std::size_t d = dot ? static_cast<std::size_t>(dot - work) : std::strlen(work);
  std::size_t len = static_cast<std::size_t>(width + precision + 1);
  if (d > len) len = d;
  std::string s(work, std::min(len, std::strlen(work)));
  if (s.size() < len) s.insert(0, len - s.size(), ' ');
  return s;
}

namespace {

// A number in 2 places with a blank in the first place made '0'.
std::string two(int v, bool zero_fill) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%2d", v);
  if (zero_fill && buf[0] == ' ') buf[0] = '0';
  return buf;
}

std::string drop_leading_blanks(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  return s.substr(i);
}

}  // namespace

std::string date_text(std::int32_t date, int code) {
  const int year = date / 10000, month = (date % 10000) / 100, day = date % 100;
  char buf[32];
  switch (code) {
    case 0:
      std::snprintf(buf, sizeof buf, "%4d", year);
      return buf + two(month, true) + two(day, true);
    case 1: {
      // A month outside 1..12 (a numbered chart's serial) has no name.
      std::string name = (month >= 1 && month <= 12) ? std::string(Mcal + 3 * (month - 1), 3) : "???";
      return two(day, false) + name + two(year % 100, false);
    }
    case 2:
      return two(month, true) + "/" + two(day, true) + "/" + two(year % 100, true);
    case 3:
      return two(year % 100, true) + two(month, true) + two(day, true);
    default:
      return "";
  }
}

void insertdate(char* text, std::int32_t date) {
  std::strcat(text, date_text(date, ff.datecode).c_str());
}

bool bar_line(const BarRecord& bar, long counter, const FormatSettings& f,
              const std::string& chartname, std::string& line) {
  line.clear();
  if (bar.date < start_date_of(f)) return false;
  for (int place = 0; place < 12; ++place) {
    std::string field;
    switch (f.order[place]) {
      case 'S': field = chartname; break;
      case 'D': field = date_text(bar.date, f.datecode); break;
      case 'O': field = ftos_text(bar.open, 6, 3).substr(0, 10); break;
      case 'H': field = ftos_text(bar.high, 6, 3).substr(0, 10); break;
      case 'L': field = ftos_text(bar.low, 6, 3).substr(0, 10); break;
      case 'C': field = ftos_text(bar.close, 6, 3).substr(0, 10); break;
      case 'V': field = ftos_text(bar.volume, 9, 0).substr(0, 10); break;
      case 'I': field = ftos_text(bar.openint, 9, 0).substr(0, 10); break;
      case 'M':
        if (place == 0)
          field = ftos_text(static_cast<double>(counter), 2, 0);
        else if (place == 2)
          field = std::string(1, static_cast<char>('1' + (counter - 1) % 5));
        else
          field = "0";
        break;
      default:
        continue;  // no field, no column
    }
    line += drop_leading_blanks(field);
    line += f.sep;
  }
  if (!line.empty()) line.back() = ' ';
  return true;
}

std::size_t line_width(std::size_t first_length, int datecode) {
  return datecode == 0 ? first_length * 7 / 5 : first_length + 1;
}

namespace {

// Bars of a chart read in blocks; a short record ends the reading.
class BarReader {
 public:
  explicit BarReader(int fd) : fd_(fd) {}
  bool next(BarRecord& b) {
    if (pos_ + kBarSize > len_) {
      std::memmove(buf_, buf_ + pos_, len_ - pos_);
      len_ -= pos_;
      pos_ = 0;
      while (len_ < kBarSize) {
        ssize_t got = ::read(fd_, buf_ + len_, sizeof buf_ - len_);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        len_ += static_cast<std::size_t>(got);
      }
    }
    b = decode_bar(buf_ + pos_);
    pos_ += kBarSize;
    return true;
  }

 private:
  int fd_;
  unsigned char buf_[kBarSize * 512];
  std::size_t pos_ = 0, len_ = 0;
};

}  // namespace

int chart_to_text(int fd, const std::string& textpath, const FormatSettings& f,
                  const std::string& chartname, ChartTextReport& report, ChartTextResult* result) {
  SafeReplace out(textpath);
  return chart_to_text(fd, out, f, chartname, report, result);
}

int chart_to_text(int fd, SafeReplace& out, const FormatSettings& f, const std::string& chartname,
                  ChartTextReport& report, ChartTextResult* result) {
  ChartTextResult local;
  ChartTextResult& r = result ? *result : local;
  r = ChartTextResult{};
  if (!out.ok()) {
    r.write_failed = true;
    return 0;
  }
  // With yyyymmdd dates first the lines are kept for the sort at the end.
  const bool sorting = f.datecode == 0 && f.order[0] == 'D';
  std::vector<std::string> records;
  std::size_t width = 0;
  bool first = true;
  BarRecord bar;
  BarReader bars(fd);
  std::string line, rec;
  while (bars.next(bar)) {
    ++r.bars;
    report.bar_read(r.bars, bar);
    if (bar_line(bar, r.bars, f, chartname, line)) {
      if (first) {
        width = line_width(line.size(), f.datecode);
        first = false;
      }
      rec = line;
      if (rec.size() < width) rec.append(width - rec.size(), ' ');
      rec += '\n';
      if (!out.write(rec.data(), rec.size())) {
        r.write_failed = true;
        break;
      }
      ++r.lines;
      if (sorting) records.push_back(rec);
      report.line(line);
    }
    if (report.stop()) break;
  }
  if (r.write_failed) return 0;
  if (sorting && records.size() > 1) {
    std::vector<std::string> sorted = records;
    sort_records(sorted);
    if (sorted != records) {
      // Same records, same total size: written again over the first ones.
      std::FILE* s = out.stream();
      if (std::fseek(s, 0, SEEK_SET) != 0) {
        r.write_failed = true;
        return 0;
      }
      for (const std::string& x : sorted)
        if (!out.write(x.data(), x.size())) {
          r.write_failed = true;
          return 0;
        }
    }
    r.sorted = true;
  }
  if (!out.commit()) {
    r.write_failed = true;
    return 0;
  }
  return 1;
}

std::string list_text_name(const char* chartname) {
  std::string name(chartname, strnlen(chartname, 21));
  const std::size_t slash = name.rfind('/');
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) name[dot] = '_';
  return name + ".T";
}
