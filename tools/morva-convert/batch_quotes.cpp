#include "tools/morva-convert/batch_quotes.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include "chartdata/linereader.h"
#include "chartdata/safe_replace.h"
#include "chartdata/splice.h"
#include "convert/quickquote.h"
#include "convert/symbol_names.h"

namespace {

bool same_file(const std::string& name, int fd) {
  struct stat a {
  }, b{};
  if (::stat(name.c_str(), &a) != 0 || ::fstat(fd, &b) != 0) return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

QuoteScan scan_quotes(int fd, std::int32_t update_date) {
  QuoteScan scan;
  linereader_seek(fd, 0);
  std::string first;
  if (!first_quote_name(fd, &first)) {
    linereader_seek(fd, 0);
    return scan;
  }
  std::string current = first;
  bool run_open = false;
  char line1[kQuoteLineSize], line3[kQuoteLineSize], other[kQuoteLineSize];
  for (;;) {
    const off_t start = linereader_tell(fd);
    if (!mygts(line1, kQuoteLineSize - 1, fd)) break;
    if (quote_between_records(line1)) continue;
    // A record whose first line starts with a blank has no symbol.
    const std::string sym = quote_chart_name(line1);
    if (!sym.empty() && sym != current) {
      current = sym;
      run_open = false;
    }
    const bool has2 = mygts(other, kQuoteLineSize - 1, fd) != nullptr;
    const bool has3 = has2 && mygts(line3, kQuoteLineSize - 1, fd) != nullptr;
    if (has3 && mygts(other, kQuoteLineSize - 1, fd)) mygts(other, kQuoteLineSize - 1, fd);
    ++scan.records;
    if (sym.empty()) {
      scan.unnamed.push_back(start);
      continue;
    }
    const QuoteRecord q = parse_quote(line1, has3 ? line3 : nullptr);
    if (!q.storable) {
      scan.unstorable.push_back(start);
      continue;
    }
    if (!run_open) {
      QuoteRun run;
      run.name = current;
      run.refused = is_temp_file_name(current) || same_file(current, fd);
      scan.runs.push_back(run);
      run_open = true;
    }
    QuoteRun& run = scan.runs.back();
    run.bar.date = update_date;
    run.bar.open = q.open;
    run.bar.high = q.high;
    run.bar.low = q.low;
    run.bar.close = q.close;
    run.bar.volume = q.volume;
    run.bar.openint = 0;
    ++run.records;
  }
  linereader_seek(fd, 0);
  return scan;
}

std::int32_t parse_update_date(const std::string& text) {
  const char* p = text.c_str();
  while (*p == ' ') ++p;
  if (*p < '0' || *p > '9') return 0;
  char* end = nullptr;
  const long typed = std::strtol(p, &end, 10);
  if (std::strspn(end, " ") != std::strlen(end)) return 0;
  return widen_update_date(typed);
}
