// Chart-to-text core: field texts, lines, the whole text file.  No screen.
#include "convert/chart_to_text.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "chartdata/safe_replace.h"
#include "convert/text_sort.h"
#include "convert/text_to_chart.h"

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
    case 4:  // the batch tool's day-first dates
      std::snprintf(buf, sizeof buf, "%4d", year);
      return two(day, true) + "." + two(month, true) + "." + buf;
    default:
      return "";
  }
}

namespace {

// The text "%*.*f" gives for `value` (at most 511 characters, as ftos_text's
// buffer holds); returns its length.  Finite values go through to_chars,
// which rounds exactly as printf does, without printf's cost per field.
// Digits of "%.*f" for the values of a chart: a float with up to three
// decimals, or a whole number.  Their scaled value is an exact integer
// below 2^53, so rounding it to the nearest (ties to even, as printf does on
// the exact value) gives printf's digits.  0 when the value is not such a
// number.
std::size_t exact_fixed(char* out, double value, int precision) {
  static const double kScale[] = {1, 10, 100, 1000};
  if (precision < 0 || precision > 3) return 0;
  const double scaled = value * kScale[precision];
  if (!(std::fabs(scaled) < 9.0e15)) return 0;  // also NaN and the infinities
  const bool is_float = static_cast<double>(static_cast<float>(value)) == value;
  if (!is_float && value != std::trunc(value)) return 0;  // the product may be inexact
  std::uint64_t q = static_cast<std::uint64_t>(std::fabs(std::nearbyint(scaled)));
  char tmp[32];
  char* p = tmp + sizeof tmp;
  for (int k = 0; k < precision; ++k) {
    *--p = static_cast<char>('0' + q % 10);
    q /= 10;
  }
  if (precision > 0) *--p = '.';
  do {
    *--p = static_cast<char>('0' + q % 10);
    q /= 10;
  } while (q > 0);
  if (std::signbit(value)) *--p = '-';  // "-0.000" too, as printf writes it
  const std::size_t n = static_cast<std::size_t>(tmp + sizeof tmp - p);
  std::memcpy(out, p, n);
  return n;
}

std::size_t fixed_text(char (&work)[512], double value, int width, int precision) {
  char digits[400];
  std::size_t n = width >= 0 ? exact_fixed(digits, value, precision) : 0;
  bool done = n > 0;
  if (!done && std::isfinite(value) && width >= 0 && precision >= 0 && precision <= 20) {
    const auto r = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, precision);
    if (r.ec == std::errc()) {
      n = static_cast<std::size_t>(r.ptr - digits);
      done = true;
    }
  }
  if (!done) {
    const int got = std::snprintf(work, sizeof work, "%*.*f", width, precision, value);
    return got < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(got), sizeof work - 1);
  }
  const std::size_t pad = width > 0 && static_cast<std::size_t>(width) > n ? static_cast<std::size_t>(width) - n : 0;
  const std::size_t total = std::min(pad + n, sizeof work - 1);
  std::memset(work, ' ', std::min(pad, total));
  if (total > pad) std::memcpy(work + pad, digits, total - pad);
  return total;
}

// Appends ftos_text(value, width, precision), cut to `cut` characters, with
// its leading blanks dropped: one price, volume or counter field of a line.
void append_number(std::string& line, double value, int width, int precision, std::size_t cut) {
  char work[512];
  const std::size_t total = fixed_text(work, value, width, precision);
  const char* dot = static_cast<const char*>(std::memchr(work, '.', total));
  const std::size_t d = dot ? static_cast<std::size_t>(dot - work) : total;
  std::size_t len = static_cast<std::size_t>(width + precision + 1);
  if (d > len) len = d;
  const std::size_t keep = std::min(len, total);
  const std::size_t pad = len - keep;  // ftos_text's blanks in front
  const std::size_t field = std::min(pad + keep, cut);
  std::size_t i = 0, end = field > pad ? field - pad : 0;  // the part of work kept
  while (i < end && work[i] == ' ') ++i;
  line.append(work + i, end - i);
}

// Appends date_text(date, code) with its leading blanks dropped.
void append_date(std::string& line, std::int32_t date, int code) {
  if (code == 0 && date >= 0) {
    // "%4d" of the year, then month and day in two places, zero-filled.
    char buf[16];
    char* p = buf + sizeof buf;
    std::int32_t v = date;
    for (int k = 0; k < 4; ++k) {  // day and month
      *--p = static_cast<char>('0' + v % 10);
      v /= 10;
    }
    do {
      *--p = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v > 0);
    // The year is printed at least four wide; its blanks are dropped.
    line.append(p, static_cast<std::size_t>(buf + sizeof buf - p));
    return;
  }
  const std::string text = date_text(date, code);
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  line.append(text, i, std::string::npos);
}

}  // namespace

bool bar_line(const BarRecord& bar, long counter, const FormatSettings& f,
              const std::string& chartname, std::string& line) {
  line.clear();
  if (bar.date < start_date_of(f)) return false;
  for (int place = 0; place < 12; ++place) {
    switch (f.order[place]) {
      case 'S': {
        std::size_t i = 0;
        while (i < chartname.size() && chartname[i] == ' ') ++i;
        line.append(chartname, i, std::string::npos);
        break;
      }
      case 'D': append_date(line, bar.date, f.datecode); break;
      case 'O': append_number(line, bar.open, 6, 3, 10); break;
      case 'H': append_number(line, bar.high, 6, 3, 10); break;
      case 'L': append_number(line, bar.low, 6, 3, 10); break;
      case 'C': append_number(line, bar.close, 6, 3, 10); break;
      case 'V': append_number(line, bar.volume, 9, 0, 10); break;
      case 'I': append_number(line, bar.openint, 9, 0, 10); break;
      case 'M':
        if (place == 0)
          append_number(line, static_cast<double>(counter), 2, 0, std::string::npos);
        else if (place == 2)
          line += static_cast<char>('1' + (counter - 1) % 5);
        else
          line += '0';
        break;
      default:
        continue;  // no field, no column
    }
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

Result chart_to_text(int fd, const std::string& textpath, const FormatSettings& f,
                     const std::string& chartname, ChartTextReport& report) {
  SafeReplace out(textpath, SafeReplace::Locking::kNone);
  return chart_to_text(fd, out, f, chartname, report);
}

bool text_sorted(const FormatSettings& f, long lines) {
  return f.datecode == 0 && f.order[0] == 'D' && lines > 1;
}

namespace {

// Lines on their way to the text file: collected into blocks of about 64 KB
// and handed to the replacement one block at a time.
class LineBlocks {
 public:
  explicit LineBlocks(SafeReplace& out) : out_(out) { buf_.reserve(kBlock + 512); }
  // Appends one record; false when a block could not be written.
  bool add(const std::string& rec) {
    buf_ += rec;
    ++pending_;
    return buf_.size() < kBlock || flush();
  }
  bool flush() {
    if (buf_.empty()) return true;
    if (!out_.write(buf_.data(), buf_.size())) return false;
    written_ += pending_;
    pending_ = 0;
    buf_.clear();
    return true;
  }
  long written() const { return written_; }

 private:
  static constexpr std::size_t kBlock = 64 * 1024;
  SafeReplace& out_;
  std::string buf_;
  long pending_ = 0, written_ = 0;
};

// Puts the records of the finished text (their lengths in `sizes`, from
// the start of the file) into byte order: the temporary file (open for
// reading and writing) is read back, sorted in memory and written again
// over itself.  Only needed when the
// chart's lines were not already in order.
bool sort_written(SafeReplace& out, const std::vector<std::uint32_t>& sizes) {
  std::FILE* s = out.stream();
  if (s == nullptr || std::fflush(s) != 0) return false;
  std::size_t total = 0;
  for (std::uint32_t n : sizes) total += n;
  std::string text(total, '\0');
  const int fd = fileno(s);  // open for reading too
  std::size_t got = 0;
  while (got < total) {
    const ssize_t r = ::pread(fd, text.data() + got, total - got, static_cast<off_t>(got));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += static_cast<std::size_t>(r);
  }
  if (got != total) return false;
  std::vector<std::string_view> records;
  records.reserve(sizes.size());
  std::size_t at = 0;
  for (std::uint32_t n : sizes) {
    records.emplace_back(text.data() + at, n);
    at += n;
  }
  // Byte order, a record that is a prefix of another first; equal records
  // keep their order (they are the same bytes anyway).
  std::stable_sort(records.begin(), records.end());
  if (std::fseek(s, 0, SEEK_SET) != 0) return false;
  std::string block;
  block.reserve(64 * 1024 + 512);
  for (std::string_view r : records) {
    block += r;
    if (block.size() >= 64 * 1024) {
      if (!out.write(block.data(), block.size())) return false;
      block.clear();
    }
  }
  return block.empty() || out.write(block.data(), block.size());
}

// The ending of a pass: `bars` read, `lines` written.
Result text_written(long bars, long lines, bool stopped) {
  Result r;
  r.status = Status::kDone;
  r.count = lines;
  r.passed_over = bars - lines;
  r.stopped = stopped;
  return r;
}

Result text_failed(long bars, long lines) {
  Result r = text_written(bars, lines, false);
  r.status = Status::kFailed;
  r.message = kTextWriteError;
  return r;
}

}  // namespace

Result chart_to_text(int fd, SafeReplace& out, const FormatSettings& f, const std::string& chartname,
                     ChartTextReport& report) {
  if (!out.ok()) return text_failed(0, 0);
  long bars_read = 0, lines = 0;
  bool failed = false, stopped = false;
  // With yyyymmdd dates first the finished text is sorted.  A chart's lines
  // usually come in order already; the records are only kept in memory
  // (read back from the temporary file) when one of them is out of order.
  const bool sorting = f.datecode == 0 && f.order[0] == 'D';
  std::vector<std::uint32_t> sizes;
  bool in_order = true;
  std::string previous;
  std::size_t width = 0;
  bool first = true;
  BarRecord bar;
  BarReader bars(fd);
  LineBlocks blocks(out);
  std::string line, rec;
  while (bars.next(bar)) {
    ++bars_read;
    report.bar_read(bars_read, bar);
    if (bar_line(bar, bars_read, f, chartname, line)) {
      if (first) {
        width = line_width(line.size(), f.datecode);
        first = false;
      }
      rec = line;
      if (rec.size() < width) rec.append(width - rec.size(), ' ');
      rec += '\n';
      if (!blocks.add(rec)) {
        failed = true;
        break;
      }
      ++lines;
      if (sorting) {
        sizes.push_back(static_cast<std::uint32_t>(rec.size()));
        if (in_order && !previous.empty() && compare_records(previous, rec) > 0) in_order = false;
        previous = rec;
      }
      report.line(line);
    }
    if (report.stop()) {
      stopped = true;
      break;
    }
  }
  if (failed || !blocks.flush()) return text_failed(bars_read, blocks.written());
  if (sorting && sizes.size() > 1 && !in_order && !sort_written(out, sizes))
    return text_failed(bars_read, lines);
  if (!out.commit()) return text_failed(bars_read, lines);
  return text_written(bars_read, lines, stopped);
}

// ---- CSV for other tools -------------------------------------------------------------

namespace {

// The shortest decimal that reads back (as the text reader does: a double,
// then rounded to float) as exactly `v`; nine significant digits when the
// shortest form would not.  The infinities and NaN keep a sign, so that the
// field reader takes them as a field and not as text between fields.
void csv_price(std::string& out, float v) {
  char buf[48];
  if (std::isnan(v)) {
    out += std::signbit(v) ? "-nan" : "+nan";
    return;
  }
  if (std::isinf(v)) {
    out += v < 0 ? "-inf" : "+inf";
    return;
  }
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  *r.ptr = '\0';
  if (static_cast<float>(std::strtod(buf, nullptr)) != v) {
    std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(v));
    out += buf;
    return;
  }
  out.append(buf, r.ptr);
}

void csv_int(std::string& out, std::int32_t v) {
  char buf[16];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

}  // namespace

const char* const kCsvHeader = "Date,Open,High,Low,Close,Volume,OpenInterest\n";

void csv_line(const BarRecord& bar, std::string& line) {
  line.clear();
  const std::int32_t d = bar.date;
  const int year = d / 10000, month = d / 100 % 100, day = d % 100;
  if (d > 0 && year >= 1000 && year <= 2999 && month >= 1 && day >= 1 && day <= 31) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", year, month, day);
    line += buf;
  } else {
    csv_int(line, d);  // not a calendar date: the number itself
  }
  for (float v : {bar.open, bar.high, bar.low, bar.close}) {
    line += ',';
    csv_price(line, v);
  }
  line += ',';
  csv_int(line, bar.volume);
  line += ',';
  csv_int(line, bar.openint);
  line += '\n';
}

Result chart_to_csv(int fd, SafeReplace& out, std::int32_t start, ChartTextReport& report) {
  if (!out.ok()) return text_failed(0, 0);
  long bars_read = 0, lines = 0;
  bool failed = false, stopped = false;
  LineBlocks blocks(out);
  std::string line = kCsvHeader;
  if (!blocks.add(line)) failed = true;
  BarRecord bar;
  BarReader bars(fd);
  while (!failed && bars.next(bar)) {
    ++bars_read;
    report.bar_read(bars_read, bar);
    if (bar.date >= start) {
      csv_line(bar, line);
      if (!blocks.add(line)) {
        failed = true;
        break;
      }
      ++lines;
      report.line(line);
    }
    if (report.stop()) {
      stopped = true;
      break;
    }
  }
  if (failed || !blocks.flush() || !out.commit()) return text_failed(bars_read, lines);
  return text_written(bars_read, lines, stopped);
}

std::string list_text_name(const char* chartname) {
  std::string name(chartname, strnlen(chartname, 21));
  const std::size_t slash = name.rfind('/');
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) name[dot] = '_';
  return name + ".T";
}
