// Index files through the piece reader and the index applied to bars.
//
// Input: the index file.  Promise checked: the index loaded once and
// applied from memory (with its fast search for ascending files) moves
// every bar exactly as walking all consecutive pairs of lines in file
// order does; values that are not finite never reach a price; loading from
// a stream gives the same index as loading the text.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "chartdata/encodings.h"
#include "convert/index_file.h"
#include "fuzz_support.h"

namespace fuzz_index {

using namespace fuzzsup;

// Every pair P < D of consecutive lines adjusts the bars strictly between.
inline void reference_apply(const std::vector<IndexLine>& lines, BarRecord& bar) {
  std::int64_t prev = 0;
  for (const IndexLine& line : lines) {
    const std::int64_t d = line.date;
    if (prev < d && d <= 99999999 && prev >= 0) {
      const int to_day = dton(static_cast<int>(d));
      const int span = to_day - dton(static_cast<int>(prev));
      if (span > 0 && prev < bar.date && bar.date < d) {
        const int distance = to_day - dton(bar.date);
        const float a = static_cast<float>(double(line.value) * (1.0 - 0.9 * distance / span));
        bar.open += a;
        bar.high += a;
        bar.low += a;
        bar.close += a;
      }
    }
    prev = d;
  }
}

inline bool same_bits(const BarRecord& a, const BarRecord& b) {
  unsigned char x[kBarSize], y[kBarSize];
  encode_bar(a, x);
  encode_bar(b, y);
  return std::memcmp(x, y, kBarSize) == 0;
}

inline int run(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<IndexLine> lines = parse_index_text(text);
  for (const IndexLine& l : lines) FUZZ_CHECK(std::isfinite(l.value));
  const IndexFile idx(text);

  std::FILE* f = std::tmpfile();
  FUZZ_CHECK(f != nullptr);
  std::fwrite(data, 1, size, f);
  const IndexFile loaded = IndexFile::load(f);

  std::vector<std::int32_t> dates = {0, 101, 19600101, 19990105, 20000301, 99999999, -5};
  for (const IndexLine& l : lines) {
    if (l.date < 0 || l.date > 99999999) continue;
    for (int d = -1; d <= 1; ++d) dates.push_back(static_cast<std::int32_t>(l.date) + d);
  }
  if (dates.size() > 400) dates.resize(400);
  for (std::int32_t date : dates) {
    BarRecord bar;
    bar.date = date;
    bar.open = 10;
    bar.high = 12;
    bar.low = 9;
    bar.close = 11;
    BarRecord want = bar, got = bar, from_stream = bar, through_stream = bar;
    reference_apply(lines, want);
    idx.apply(got);
    loaded.apply(from_stream);
    apply_idx_values(through_stream, f);
    FUZZ_CHECK(same_bits(got, want));
    FUZZ_CHECK(same_bits(from_stream, want));
    FUZZ_CHECK(same_bits(through_stream, want));
  }
  std::fclose(f);
  return 0;
}

}  // namespace fuzz_index

MORVA_FUZZ_ENTRY(fuzz_index)
