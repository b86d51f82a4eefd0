// Quick-quote import: the record reader and the loop over charts through
// the store splice.
#include "convert/quickquote.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "chartdata/chartfile.h"
#include "chartdata/encodings.h"
#include "chartdata/linereader.h"
#include "chartdata/osshims.h"
#include "chartdata/safe_replace.h"
#include "chartdata/splice.h"
#include "convert/symbol_names.h"
#include "convert/text_to_chart.h"

namespace {

bool numeric_start(char c) { return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'; }
bool numeric_part(char c) { return numeric_start(c) || c == '/'; }

// The symbol of a record's first line: the text up to the first blank.
std::string_view raw_symbol(const char* line) {
  const char* blank = std::strchr(line, ' ');
  return blank ? std::string_view(line, static_cast<std::size_t>(blank - line))
               : std::string_view(line);
}

// A separator line: its symbol begins with 20 dashes.
bool dash_line(std::string_view symbol) {
  if (symbol.size() < 20) return false;
  for (std::size_t i = 0; i < 20; ++i)
    if (symbol[i] != '-') return false;
  return true;
}

// Lines that are not records.
bool skipped_line(const char* line) { return quote_between_records(line); }


std::int32_t to_int32(const std::string& text) {
  const long long v = std::strtoll(text.c_str(), nullptr, 10);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(v);
}

// The next line of the quote file into `buf` (kQuoteLineSize bytes), with
// the line rules of mygts; false at the end of the file.
bool next_quote_line(QuoteImport& imp, char* buf) {
  std::string_view line;
  if (!imp.source->next(line, kQuoteLineSize - 1)) return false;
  ++imp.line;
  std::memcpy(buf, line.data(), line.size());  // at most 254 characters
  buf[line.size()] = '\0';
  return true;
}

// Reads the four lines after a record's first one into line3 (its third)
// and `other`; false when the file ended before the third.
bool rest_of_record(QuoteImport& imp, char* line3, char* other) {
  const bool has2 = next_quote_line(imp, other);
  const bool has3 = has2 && next_quote_line(imp, line3);
  if (has3 && next_quote_line(imp, other)) next_quote_line(imp, other);
  return has3;
}

// True when writing the chart `name` would replace the quote file itself or
// clash with a temporary file of the write path.
bool refused_name(QuoteImport& s, const std::string& name) {
  if (is_temp_file_name(name)) return true;
  struct stat a;
  if (::stat(name.c_str(), &a) != 0) return false;
  if (!s.have_source_id) {
    struct stat b;
    if (::fstat(s.source->fd(), &b) != 0) return false;
    // Kept for the import's other charts (the descriptor stays the same).
    s.have_source_id = true;
    s.source_dev = b.st_dev;
    s.source_ino = b.st_ino;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
  }
  return a.st_dev == s.source_dev && a.st_ino == s.source_ino;
}

// The chart's name itself can be made: its folder exists and takes new
// files.  Only then is a failed creation a fault of the disk.
bool name_can_be_made(const std::string& name) {
  const std::string dir = dir_of(name);
  struct stat st;
  return name.size() <= 255 && ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
         ::access(dir.c_str(), W_OK) == 0;
}

}  // namespace

std::string quote_chart_name(const char* line) {
  if (quote_record_without_symbol(line)) return {};
  std::string name = symbol_to_name(line, ' ');
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7f) return {};  // never a chart name with control bytes
  return name;
}

bool quote_between_records(const char* line) {
  if (line[std::strspn(line, " ")] == '\0') return true;
  const std::string_view s = raw_symbol(line);
  return !s.empty() && dash_line(s);
}

bool quote_record_without_symbol(const char* line) {
  return line[0] == ' ' && !quote_between_records(line);
}

std::string quote_field(const char* line, std::size_t col) {
  const std::size_t len = std::strlen(line);
  if (col >= len) return {};
  const char* p = line + col;
  while (*p && !numeric_start(*p)) ++p;
  std::string out;
  while (*p && numeric_part(*p) && out.size() < kQuoteFieldMax) out += *p++;
  return out;
}

namespace {

// The number of the field at col is a whole number: it is not preceded by
// a word and it ends at a blank or at the end of the line ("1e39" and
// "nan 10" are none).  A field that holds no number is empty, as before.
bool quote_field_whole(const char* line, std::size_t col) {
  const std::size_t len = std::strlen(line);
  if (col >= len) return true;
  const char* p = line + col;
  while (*p == ' ' || *p == '\t') ++p;
  const char* word = p;
  while (*p && !numeric_start(*p)) ++p;
  if (!*p) return true;        // no number: an empty field
  if (p != word) return false;  // a word before the number
  while (*p && numeric_part(*p)) ++p;
  return *p == '\0' || *p == ' ' || *p == '\t' || *p == '\r';
}

}  // namespace

QuoteRecord parse_quote(const char* line1, const char* line3) {
  QuoteRecord r;
  bool whole = true;
  if (line1) whole = quote_field_whole(line1, 22) && quote_field_whole(line1, 66);
  if (line3) whole = whole && quote_field_whole(line3, 42) && quote_field_whole(line3, 54) && quote_field_whole(line3, 66);
  if (line1) {
    r.name = quote_chart_name(line1);
    r.close = fracs(quote_field(line1, 22).c_str());
    const std::string vol = quote_field(line1, 66);
    errno = 0;
    const long long v = std::strtoll(vol.c_str(), nullptr, 10);
    r.storable = errno != ERANGE && v >= INT32_MIN && v <= INT32_MAX;
    r.volume = to_int32(vol);
  }
  if (line3) {
    r.open = fracs(quote_field(line3, 42).c_str());
    r.high = fracs(quote_field(line3, 54).c_str());
    r.low = fracs(quote_field(line3, 66).c_str());
  }
  r.storable = r.storable && whole && std::isfinite(r.open) && std::isfinite(r.high) && std::isfinite(r.low) &&
               std::isfinite(r.close);
  return r;
}

std::int32_t widen_update_date(long typed) {
  // yymmdd (the year widened) or yyyymmdd (the year kept whole).
  const bool full = typed >= 10000000 && typed <= 29991231;
  if (typed <= 0 || (typed > 991231 && !full)) return 0;
  const int yy = static_cast<int>(typed / 10000);
  const int month = static_cast<int>(typed / 100 % 100);
  const int day = static_cast<int>(typed % 100);
  const int year = full ? yy : Y2000_99to1999(yy);
  if (month < 1 || month > 12 || day < 1) return 0;
  const int* table = is_leap_year(year) ? day_table2 : day_table1;
  if (day > table[month]) return 0;
  return year * 10000 + month * 100 + day;
}

int first_quote_name(int fd, std::string* name) {
  char line[kQuoteLineSize], other[kQuoteLineSize];
  // Records without a symbol before the first named one are read again by
  // the import, which counts them.
  off_t first = -1;
  for (;;) {
    const off_t start = linereader_tell(fd);
    if (!mygts(line, kQuoteLineSize - 1, fd)) {
      if (first >= 0) {
        // Only records without a symbol: nothing to store, but they are
        // counted as skipped.
        linereader_seek(fd, first);
        name->clear();
        return 1;
      }
      return 0;
    }
    if (skipped_line(line)) continue;
    if (quote_record_without_symbol(line)) {
      if (first < 0) first = start;
      for (int i = 0; i < 4 && mygts(other, kQuoteLineSize - 1, fd); ++i) {
      }
      continue;
    }
    *name = quote_chart_name(line);
    linereader_seek(fd, first >= 0 ? first : start);
    return 1;
  }
}

namespace {

// A record that gives no bar: counted and told.
void skip_record(QuoteImport& s) {
  ++s.records_skipped;
  s.listener->record_skipped();
}

}  // namespace

Status save_qq_28(QuoteImport& s, std::FILE* tmp, const char* name) {
  char line1[kQuoteLineSize], line3[kQuoteLineSize], other[kQuoteLineSize];
  long count = 0, unstorable = 0;
  long bar_line = 0;  // the first line of the record the bar comes from
  BarRecord bar;
  for (;;) {
    if (!next_quote_line(s, line1)) {
      s.next_chart.clear();
      break;
    }
    if (skipped_line(line1)) continue;
    if (quote_record_without_symbol(line1)) {
      rest_of_record(s, line3, other);
      s.listener->record_read();
      skip_record(s);
      continue;
    }
    s.line_of_record = s.line;
    const std::string sym = quote_chart_name(line1);
    if (!sym.empty() && sym != name) {
      // The next chart starts here; its first record is read again.
      s.next_chart = sym;
      s.source->unread();
      --s.line;
      break;
    }
    // Lines 2 to 5; a record cut short by the end of the file keeps 0 in
    // the fields it lacks.
    const bool has3 = rest_of_record(s, line3, other);
    s.listener->record_read();
    // A symbol that makes no usable name ("7", "72") gives no bar.
    if (sym.empty()) {
      skip_record(s);
      continue;
    }
    const QuoteRecord q = parse_quote(line1, has3 ? line3 : nullptr);
    // A value the chart cannot hold as written: the record is skipped, not
    // stored as another number.
    if (!q.storable) {
      skip_record(s);
      ++unstorable;
      continue;
    }
    bar_line = s.line_of_record;
    bar.date = s.update_date;
    bar.open = q.open;
    bar.high = q.high;
    bar.low = q.low;
    bar.close = q.close;
    bar.volume = q.volume;
    bar.openint = 0;
    ++count;
    if (count % 10 == 0) s.listener->progress(bar.close);
  }
  // The bar this run stores, checked by the bar rules.
  if (count > 0 && s.check != nullptr) s.check->add(bar, name, bar_line);
  // Every record of the run skipped for its values: nothing to store.
  if (count == 0 && unstorable > 0 && tmp != nullptr) return Status::kNothing;
  if (count == 0 || tmp == nullptr) return Status::kDone;
  // One bar per date: the run's last record stands for the day.
  if (!write_bar(tmp, bar)) return Status::kFailed;
  s.range.last = bar.date;
  return Status::kDone;
}

int send_quickq_tomorva(QuoteImport& s, char* name) {
  int all_ok = 1;
  for (;;) {
    std::string target = name;
    if (target.empty()) {
      // Records whose symbol makes no name: passed over.
      save_qq_28(s, nullptr, name);
    } else if (refused_name(s, target)) {
      save_qq_28(s, nullptr, name);
      s.listener->chart_refused(target);
    } else {
      // New charts are daily; every bar of a run has the update date.
      s.range = SpliceRange{'D', s.update_date, s.update_date};
      bool ran = false, nothing = false;
      // A full disk is no reason to divert the bars to "_": that chart
      // fails and is reported; "_" stands in only for a name that cannot be
      // made.
      SpliceOptions options;
      // (Only a chart that does not exist yet may need it.)
      options.fallback_name = !exist(target.c_str()) && !name_can_be_made(target);
      const int stored = store_splice(
          target, s.range,
          [&](std::FILE* tmp) {
            ran = true;
            const Status step = save_qq_28(s, tmp, name);
            // No record of the run could be stored: the chart is not touched.
            nothing = step == Status::kNothing;
            return step == Status::kDone ? 1 : 0;
          },
          options);
      // When the splice failed before it got to the records, they are still
      // passed over so that the next chart starts at its own records.
      if (!ran) save_qq_28(s, nullptr, name);
      // A run whose records were all skipped (counted and reported as such)
      // leaves the chart as it was and is no chart done.
      if (!nothing) {
        if (stored) {
          ++s.charts_stored;
        } else {
          ++s.charts_failed;
          all_ok = 0;
        }
        s.listener->chart_done(target, stored != 0);
      }
      std::snprintf(name, kMaxSymbol + 1, "%s", target.c_str());
    }
    if (s.next_chart.empty()) break;
    // A stop request between charts: the next chart's name stays in next_chart.
    if (s.listener->stop_requested()) {
      s.stopped = true;
      break;
    }
    std::snprintf(name, kMaxSymbol + 1, "%s", s.next_chart.c_str());
    s.next_chart.clear();
  }
  return all_ok;
}

namespace {

// The bars the import would store, one per run, checked by the bar rules
// in a pass over the whole file that writes nothing; the reading position
// is put back.  Nothing is checked when the file cannot be read again
// (not seekable).
BarTally check_quotes(const QuoteRequest& request) {
  BarTally check;
  const off_t start = ::lseek(request.source, 0, SEEK_CUR);
  if (start < 0) return check;
  // From the start of the file, so that the line numbers are the file's;
  // the lines before the first record are passed over as between records.
  linereader_seek(request.source, 0);
  {
    LineReader source(request.source);
    QuickQuoteListener quiet;
    QuoteImport pass;
    pass.source = &source;
    pass.update_date = request.update_date;
    pass.listener = &quiet;
    pass.check = &check;
    std::string name = request.first_name;
    for (;;) {
      save_qq_28(pass, nullptr, name.c_str());
      if (pass.next_chart.empty()) break;
      name = pass.next_chart;
      pass.next_chart.clear();
    }
  }
  linereader_seek(request.source, start);
  return check;
}

}  // namespace

Result quickquote_import(const QuoteRequest& request, QuickQuoteListener& listener) {
  BarTally check = check_quotes(request);
  if (check.mostly_broken()) {
    Result r;
    r.status = Status::kRefused;
    r.message = mostly_broken_line("Not a QUICK-QUOTE file", "quotes", check);
    r.bar_check = std::move(check);
    return r;
  }
  LineReader source(request.source);
  QuoteImport imp;
  imp.update_date = request.update_date;
  imp.listener = &listener;
  imp.source = &source;
  char name[kMaxSymbol + 1];
  std::snprintf(name, sizeof name, "%s", request.first_name.c_str());
  // The charts reach the disk together before success is told.
  DurableBatch durable;
  const int all_ok = send_quickq_tomorva(imp, name);
  const int unflushed = durable.publish();
  if (unflushed > 0) {
    imp.charts_failed += unflushed;
    imp.charts_stored = std::max(0L, imp.charts_stored - unflushed);
  }
  Result r;
  r.count = imp.charts_stored;
  r.failed = imp.charts_failed;
  r.passed_over = imp.records_skipped;
  r.stopped = imp.stopped;
  r.bar_check = std::move(check);
  if (imp.charts_failed > 0) {
    r.status = Status::kFailed;
    r.message = kQuoteWriteFailed;
    return r;
  }
  r.status = all_ok && imp.charts_stored > 0 ? Status::kDone : Status::kNothing;
  if (imp.records_skipped > 0)
    r.message = " " + std::to_string(imp.records_skipped) +
                " record(s) skipped (no usable symbol, or a value a chart cannot hold);"
                " the others were stored.";
  return r;
}
