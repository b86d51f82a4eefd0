// Quick-quote import: the record reader, the loop over charts through the
// store splice, and the T dialogue (do_quickquote, quickquotesub).
#include "convert/quickquote.h"

#include <sys/stat.h>
#include <unistd.h>

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
#include "window/commands.h"
#include "window/globals.h"
#include "convert/symbol_names.h"
#include "convert/text_to_chart.h"
#include "screen/screen.h"
#include "widgets/filechooser.h"
#include "widgets/prompt.h"

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

// Reads the four lines after a record's first one into line3 (its third)
// and `other`; false when the file ended before the third.
bool rest_of_record(char* line3, char* other, bool (*next)(char*)) {
  const bool has2 = next(other);
  const bool has3 = has2 && next(line3);
  if (has3 && next(other)) next(other);
  return has3;
}

std::int32_t to_int32(const std::string& text) {
  const long long v = std::strtoll(text.c_str(), nullptr, 10);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(v);
}

// State of one import, shared by send_quickq_tomorva and save_qq_28.
struct ImportState {
  QuickQuoteListener* listener = nullptr;
  QuoteOutcome* outcome = nullptr;
  // The quote file, read in blocks.
  LineReader* source = nullptr;
  // New charts are daily; every bar is dated the update date.
  SpliceRange range{'D', 0, 0};
  // The quote file's identity, taken once per import.
  bool have_source_id = false;
  dev_t source_dev = 0;
  ino_t source_ino = 0;
};
QuickQuoteListener g_quiet;
QuoteOutcome g_scratch;
ImportState g_state{&g_quiet, &g_scratch};

// The next line of the quote file into `buf` (kQuoteLineSize bytes), with
// the line rules of mygts; false at the end of the file.
bool next_quote_line(char* buf) {
  std::string_view line;
  if (!g_state.source->next(line, kQuoteLineSize - 1)) return false;
  std::memcpy(buf, line.data(), line.size());  // at most 254 characters
  buf[line.size()] = '\0';
  return true;
}

// True when writing the chart `name` would replace the quote file itself or
// clash with a temporary file of the write path.
bool refused_name(const std::string& name) {
  if (is_temp_file_name(name)) return true;
  struct stat a;
  if (::stat(name.c_str(), &a) != 0) return false;
  ImportState& s = g_state;
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

QuoteRecord parse_quote(const char* line1, const char* line3) {
  QuoteRecord r;
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
  r.storable = r.storable && std::isfinite(r.open) && std::isfinite(r.high) && std::isfinite(r.low) &&
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

int save_qq_28(std::FILE* tmp, const char* name) {
  ImportState& s = g_state;
  char line1[kQuoteLineSize], line3[kQuoteLineSize], other[kQuoteLineSize];
  long count = 0, unstorable = 0;
  BarRecord bar;
  for (;;) {
    if (!next_quote_line(line1)) {
      get_the_symbol[0] = '\0';
      break;
    }
    if (skipped_line(line1)) continue;
    if (quote_record_without_symbol(line1)) {
      rest_of_record(line3, other, next_quote_line);
      ++s.outcome->records;
      ++s.outcome->records_skipped;
      s.listener->record_skipped();
      continue;
    }
    const std::string sym = quote_chart_name(line1);
    if (!sym.empty() && sym != name) {
      // The next chart starts here; its first record is read again.
      std::snprintf(get_the_symbol, sizeof get_the_symbol, "%s", sym.c_str());
      s.source->unread();
      break;
    }
    // Lines 2 to 5; a record cut short by the end of the file keeps 0 in
    // the fields it lacks.
    const bool has3 = rest_of_record(line3, other, next_quote_line);
    ++s.outcome->records;
    // A symbol that makes no usable name ("7", "72") gives no bar.
    if (sym.empty()) {
      ++s.outcome->records_skipped;
      s.listener->record_skipped();
      continue;
    }
    const QuoteRecord q = parse_quote(line1, has3 ? line3 : nullptr);
    // A value the chart cannot hold as written: the record is skipped, not
    // stored as another number.
    if (!q.storable) {
      ++s.outcome->records_skipped;
      s.listener->record_skipped();
      ++unstorable;
      continue;
    }
    bar.date = s.range.first;
    bar.open = q.open;
    bar.high = q.high;
    bar.low = q.low;
    bar.close = q.close;
    bar.volume = q.volume;
    bar.openint = 0;
    ++count;
    if (count % 10 == 0) s.listener->progress(bar.close);
  }
  // Every record of the run skipped for its values: nothing to store.
  if (count == 0 && unstorable > 0 && tmp != nullptr) return 2;
  if (count == 0 || tmp == nullptr) return 1;
  // One bar per date: the run's last record stands for the day.
  if (!write_bar(tmp, bar)) return 0;
  s.range.last = bar.date;
  return 1;
}

namespace {

int send_charts(char* name) {
  ImportState& s = g_state;
  int all_ok = 1;
  for (;;) {
    std::string target = name;
    if (target.empty()) {
      // Records whose symbol makes no name: passed over.
      save_qq_28(nullptr, name);
    } else if (refused_name(target)) {
      save_qq_28(nullptr, name);
      ++s.outcome->charts_refused;
      s.listener->chart_refused(target);
    } else {
      bool ran = false, nothing = false;
      int step_ok = 0;
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
            step_ok = save_qq_28(tmp, name);
            // No record of the run could be stored: the chart is not touched.
            nothing = step_ok == 2;
            return nothing ? 0 : step_ok;
          },
          options);
      // When the splice failed before it got to the records, they are still
      // passed over so that the next chart starts at its own records.
      if (!ran) save_qq_28(nullptr, name);
      // A run whose records were all skipped (counted and reported as such)
      // leaves the chart as it was and is no chart done.
      if (!nothing) {
        if (stored) {
          ++s.outcome->charts_stored;
          s.outcome->last_stored = target;
        } else {
          ++s.outcome->charts_failed;
          all_ok = 0;
        }
        s.listener->chart_done(target, stored != 0);
      }
      std::snprintf(name, kMaxSymbol + 1, "%s", target.c_str());
    }
    if (get_the_symbol[0] == '\0') break;
    // ESC between charts: the next chart's name stays in get_the_symbol.
    if (s.listener->stop_requested()) {
      s.outcome->stopped = true;
      break;
    }
    std::snprintf(name, kMaxSymbol + 1, "%s", get_the_symbol);
    get_the_symbol[0] = '\0';
  }
  return all_ok;
}

}  // namespace

int send_quickq_tomorva(LineReader& src, std::int32_t update_date, char* name) {
  ImportState& s = g_state;
  const ImportState outer = s;
  s.source = &src;
  s.range = SpliceRange{'D', update_date, update_date};
  s.have_source_id = false;  // taken anew from this quote file
  get_the_symbol[0] = '\0';
  const int r = send_charts(name);
  s = outer;
  return r;
}

QuoteOutcome quickquote_import(int fd, std::int32_t update_date, const std::string& first_name,
                               QuickQuoteListener& listener) {
  QuoteOutcome out;
  const ImportState saved = g_state;
  g_state = ImportState{&listener, &out};
  char name[kMaxSymbol + 1];
  std::snprintf(name, sizeof name, "%s", first_name.c_str());
  LineReader source(fd);
  // The charts reach the disk together before success is told.
  DurableBatch durable;
  const int r = send_quickq_tomorva(source, update_date, name);
  const int unflushed = durable.publish();
  if (unflushed > 0) {
    out.charts_failed += unflushed;
    out.charts_stored = std::max(0L, static_cast<long>(out.charts_stored) - unflushed);
  }
  g_state = saved;
  out.result = r && out.charts_failed == 0 && out.charts_stored > 0 ? 1 : 0;
  return out;
}

// ---- Dialogue ---------------------------------------------------------------

namespace {

constexpr const char* kQQTitle = "   QUICK-QUOTE TO MORVA File Conversion";
constexpr const char* kQQPrompt = "Enter QUICK-QUOTE filename (Long quote format):";
constexpr const char* kWriteErr = " Unable to write to disk. Disk full?";

class ScreenListener : public QuickQuoteListener {
 public:
  void progress(float close) override {
    const int row = scr_srow(), col = scr_scol();
    ftos(close, nullptr, 3, 3);
    scr_rowcol(row, col);
  }
  void chart_done(const std::string& name, bool ok) override {
    if (ok) return;
    note(" Not stored (chart left as it was): " + name);
  }
  void chart_refused(const std::string& name) override {
    note(" Skipped: the chart " + name + " would be the quote file itself.");
  }
  void record_skipped() override {
    note(" Skipped: a record without a usable symbol or with a value a chart cannot hold.");
  }
  bool stop_requested() override { return scr_csts() == 27; }

 private:
  static void note(const std::string& text) {
    const int row = scr_srow(), col = scr_scol();
    scr_rowcol(1, 0);
    scr_clrl();
    putsn(text.c_str(), 1, 0, -1);
    scr_rowcol(row, col);
  }
};

void clear_rows(int top, int bottom) {
  for (int r = top; r <= bottom; ++r) {
    scr_rowcol(r, 0);
    scr_clrl();
  }
}

// Reads the update date; 0 on ESC.
std::int32_t ask_update_date() {
  for (;;) {
    char buf[10];
    std::memset(buf, 0, sizeof buf);
    putsn("Enter the date that you are updating (YYMMDD): ", 2, 0, -1);
    putsn("        ", 2, 47, 8);
    // Eight places: yyyymmdd is taken as well as yymmdd.
    const int key = fgts(nullptr, 'n', 2, 47, 8, buf, 'n', 'y');
    if (key == 27) return 0;
    // Blanks around the digits are allowed; anything else is not a date.
    const char* p = buf;
    while (*p == ' ') ++p;
    char* end = nullptr;
    const long typed = std::strtol(p, &end, 10);
    const bool digits_only = end != p && *p >= '0' && *p <= '9' &&
                             std::strspn(end, " ") == std::strlen(end);
    if (digits_only && typed == 0) continue;
    const std::int32_t date = digits_only ? widen_update_date(typed) : 0;
    scr_rowcol(1, 0);
    scr_clrl();
    if (date != 0) return date;
    putsn(" Not a date: type the update date as YYMMDD or YYYYMMDD.", 1, 0, -1);
  }
}

}  // namespace

int quickquotesub(int fd) {
  ff.sep = ' ';
  std::memcpy(ff.order, "SCVOHL      ", sizeof ff.order);
  scr_curson();
  clear_rows(1, 9);
  putsn("Source: ", 2, 0, -1);
  puuts(exclambuf);
  puuts(" Store data to what MORVA filename?\r\n\n");
  puuts(" Enter a MORVA filename (or `.!' name or ESCape):");
  scr_rowcol(4, 50);

  std::string first;
  if (!first_quote_name(fd, &first)) {
    linereader_close(fd);
    msg(" No quotes found in the file. Nothing was stored.", title, 1);
    return 0;
  }
  scr_rowcol(2, 0);
  scr_clrl();

  const std::int32_t date = ask_update_date();
  if (date == 0) {
    linereader_close(fd);
    return 0;
  }
  if (not_differ(first.c_str(), exclambuf)) {
    linereader_close(fd);
    return 0;
  }

  ScreenListener listener;
  const QuoteOutcome r = quickquote_import(fd, date, first, listener);
  linereader_close(fd);
  if (!r.last_stored.empty()) std::snprintf(savenm, sizeof savenm, "%s", r.last_stored.c_str());
  if (r.charts_failed > 0) {
    msg(kWriteErr, kQQTitle, 1);
    return 0;
  }
  if (r.records_skipped > 0) {
    const std::string text = " " + std::to_string(r.records_skipped) +
                             " record(s) skipped (no usable symbol, or a value a chart cannot hold);"
                             " the others were stored.";
    msg(text.c_str(), kQQTitle, 1);
  }
  return 1;
}

void do_quickquote() {
  title = kQQTitle;
  const int fd = dir_on_1stname(kQQPrompt, firstname);
  if (fd <= 0) return;
  for (;;) {
    const int src = do_all(exclambuf, &exclamfile, fd);
    if (src <= 0) break;
    quickquotesub(src);
    if (!exclamfile) break;
  }
}
