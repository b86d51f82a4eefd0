#include "convert/index_file.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "chartdata/encodings.h"
#include "chartdata/osshims.h"

namespace {

// Pieces are read as through a 20-byte line buffer: at most 19 characters,
// a line feed ends a piece and is part of it.
constexpr std::size_t kPieceMax = 19;
// A piece of this many characters or fewer holds no value.
constexpr std::size_t kPieceIgnored = 7;
// Dates above eight digits cannot come from a chart; lines with them adjust
// nothing (and dton would have to count through millions of years).
constexpr std::int64_t kLargestDate = 99999999;

// Reads one piece: its text up to the first NUL, as a C string would hold it.
bool parse_piece(std::string_view piece, IndexLine& out) {
  if (auto nul = piece.find('\0'); nul != std::string_view::npos) piece = piece.substr(0, nul);
  if (piece.size() <= kPieceIgnored) return false;
  std::string text(piece);  // NUL-terminated for the number readers

  char yy[3] = {text[0], text[1], 0};
  int year = Y2000_99to1999(std::atoi(yy));
  std::int64_t mmdd = 0;
  for (std::size_t i = 2; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    mmdd = mmdd * 10 + (text[i] - '0');  // at most 17 digits: no overflow
  out.date = std::int64_t(year) * 10000 + mmdd;

  float v = static_cast<float>(std::strtod(text.c_str() + 6, nullptr));
  // "nan", "inf" or a value beyond the float range would spoil every price
  // it touches; such a value counts as not a number, which is 0.
  out.value = std::isfinite(v) ? v : 0.0f;
  return true;
}

}  // namespace

std::vector<IndexLine> parse_index_text(std::string_view text) {
  std::vector<IndexLine> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t len = std::min(kPieceMax, text.size() - pos);
    if (auto nl = text.substr(pos, len).find('\n'); nl != std::string_view::npos) len = nl + 1;
    IndexLine line;
    if (parse_piece(text.substr(pos, len), line)) lines.push_back(line);
    pos += len;
  }
  return lines;
}

IndexFile::IndexFile(std::string_view text) {
  std::int64_t prev = 0;
  for (const IndexLine& line : parse_index_text(text)) {
    std::int64_t d = line.date;
    // Only a pair with P < D can hold a bar strictly between them.
    if (prev < d && d <= kLargestDate && prev >= 0) {
      std::int32_t to_day = dton(static_cast<std::int32_t>(d));
      std::int32_t span = to_day - dton(static_cast<std::int32_t>(prev));
      // An impossible month-and-day (such as 1051) can put D's day number
      // at or before P's; dividing by that span would put infinities or
      // sign-flipped ramps into the prices, so such a pair adjusts nothing.
      if (span > 0) {
        Step s{static_cast<std::int32_t>(prev), static_cast<std::int32_t>(d), to_day, span,
               line.value};
        if (!steps_.empty() && s.from < steps_.back().to) disjoint_ = false;
        steps_.push_back(s);
      }
    }
    prev = d;
  }
}

IndexFile IndexFile::load(FILE* stream) {
  if (!stream) return IndexFile();
  std::string text;
  std::rewind(stream);
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, stream)) > 0) text.append(buf, n);
  std::clearerr(stream);
  return IndexFile(text);
}

void IndexFile::adjust(BarRecord& bar, const Step& s) const {
  std::int32_t distance = s.to_day - dton(bar.date);
  float a = static_cast<float>(double(s.value) * (1.0 - 0.9 * distance / s.span));
  bar.open = bar.open + a;
  bar.high = bar.high + a;
  bar.low = bar.low + a;
  bar.close = bar.close + a;
}

void IndexFile::apply(BarRecord& bar) const {
  if (steps_.empty()) return;
  if (disjoint_) {
    // Ascending, non-overlapping ranges: at most one can hold the bar, the
    // first whose end lies after the bar's date.
    auto it = std::upper_bound(steps_.begin(), steps_.end(), bar.date,
                               [](std::int32_t date, const Step& s) { return date < s.to; });
    if (it != steps_.end() && it->from < bar.date) adjust(bar, *it);
    return;
  }
  // Lines out of order: every matching pair adjusts, in file order.
  for (const Step& s : steps_)
    if (s.from < bar.date && bar.date < s.to) adjust(bar, s);
}

void apply_idx_values(BarRecord& bar, FILE* stream) {
  if (!stream) return;
  IndexFile::load(stream).apply(bar);
}

std::string index_file_name(std::string_view chartname, bool make_dir) {
  std::string dir, file;
  if (auto slash = chartname.rfind('/'); slash != std::string_view::npos) {
    dir = std::string(chartname.substr(0, slash + 1)) + "idx";
    file = chartname.substr(slash + 1);
  } else if (auto colon = chartname.rfind(':'); colon != std::string_view::npos) {
    dir = std::string(chartname.substr(0, colon + 1)) + "idx";
    file = chartname.substr(colon + 1);
  } else {
    dir = "idx";
    file = chartname;
  }
  if (make_dir) sys_mkdir(dir.c_str());
  return dir + "/" + file;
}

void convert_nm_to_idx(char* dest, const char* chartname) {
  std::string name = index_file_name(chartname);
  std::memcpy(dest, name.c_str(), name.size() + 1);
}
