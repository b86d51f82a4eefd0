// Existing chart bytes through every reader of charts: the upgrade of
// two-digit-year charts, the store splice, the weekly and monthly fold, the
// numbered compression, the adjustment by a constant and chart to text.
//
// Input: byte 0 and 1 choose the parameters (new bars, fold kind, count,
// operator); bytes 2-5 the first new date; the rest is the chart file.
// Promises checked against results computed here from the file layout:
//  - the upgrade widens the date of every whole record of an old chart and
//    changes nothing else; any other file is left byte for byte;
//  - the splice keeps the header (or makes one for a file shorter than a
//    header), the leading bars before the first new date, the new bars and
//    the later old bars after the last new date, whole records only;
//    an old chart is spliced through its upgrade;
//  - every command leaves its source byte for byte as it was and writes
//    whole charts (a header and whole bars) or nothing;
//  - no temporary file is left behind.
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "chartdata/chartfile.h"
#include "chartdata/splice.h"
#include "convert/adjust.h"
#include "convert/chart_to_text.h"
#include "convert/compress.h"
#include "convert/weekly_monthly.h"
#include "fuzz_support.h"

namespace fuzz_chart_bytes {

using namespace fuzzsup;

inline std::int32_t date_at(const Bytes& b, std::size_t at) {
  return static_cast<std::int32_t>(get_le32(b.data() + at));
}

// The upgrade of an old chart, from the layout: the dates of whole records
// widened, everything else (partial tail included) kept.  Old: '/' at byte
// 77, type D, W, M or ? and a line feed, a first date of yymmdd form.
inline bool is_old(const Bytes& in) {
  if (in.size() < kHeaderSize + kBarSize || in[kHeaderUpgradeMark] != '/') return false;
  const unsigned char type = in[kHeaderTypeOffset];
  if (std::string("DWM?").find(static_cast<char>(type)) == std::string::npos || type == 0 ||
      in[kHeaderTypeOffset + 1] != '\n')
    return false;
  const std::int32_t first = date_at(in, kHeaderSize);
  return !(first < 101 || first > 991231 || first / 100 % 100 < 1 || first / 100 % 100 > 12 ||
           first % 100 < 1 || first % 100 > 31);
}

inline Bytes expected_upgrade(const Bytes& in) {
  Bytes out = in;
  if (!is_old(in)) return out;
  for (std::size_t at = kHeaderSize; at + kBarSize <= in.size(); at += kBarSize) {
    std::int32_t d = date_at(in, at);
    if (d <= 991231) d += d >= 11231 ? 19000000 : 20000000;
    put_le32(out.data() + at, static_cast<std::uint32_t>(d));
  }
  return out;
}

// The splice, from the layout: header, leading bars scanned up to the first
// date at or after `first` (one bar dated exactly `first` is dropped),
// the new bars, then the remaining old bars dated after `last`.  A chart
// that is not read through an upgrade (`may_append`) and whose last whole
// bar is dated before `first` gets the new bars after all its whole bars
// (appended in place: even out-of-order bars before them stay).
inline Bytes expected_splice(const Bytes& old, const std::vector<BarRecord>& bars,
                             std::int32_t first, std::int32_t last, char type, bool may_append) {
  Bytes out;
  std::size_t at = kHeaderSize;
  if (old.size() < kHeaderSize) {
    out.assign(kHeaderSize, ' ');
    out[0] = 0;
    out[kHeaderUpgradeMark] = '/';
    out[109] = 0;
    out[kHeaderTypeOffset] = static_cast<unsigned char>(type);
    out[kHeaderTypeOffset + 1] = '\n';
    put_le32(out.data() + kHeaderDateOffset, static_cast<std::uint32_t>(first));
    at = old.size();  // no old bars
  } else {
    out.assign(old.begin(), old.begin() + kHeaderSize);
    const std::size_t whole = (old.size() - kHeaderSize) / kBarSize;
    const bool append =
        may_append && (whole == 0 || date_at(old, kHeaderSize + (whole - 1) * kBarSize) < first);
    for (; at + kBarSize <= old.size(); at += kBarSize) {
      if (append) {
        out.insert(out.end(), old.begin() + at, old.begin() + at + kBarSize);
        continue;
      }
      std::int32_t d = date_at(old, at);
      if (d == first) {
        at += kBarSize;
        break;
      }
      if (d > first) break;
      out.insert(out.end(), old.begin() + at, old.begin() + at + kBarSize);
    }
  }
  for (const BarRecord& b : bars) {
    unsigned char rec[kBarSize];
    encode_bar(b, rec);
    out.insert(out.end(), rec, rec + kBarSize);
  }
  std::int32_t end = bars.empty() ? first : last;
  for (; at + kBarSize <= old.size(); at += kBarSize)
    if (date_at(old, at) > end) out.insert(out.end(), old.begin() + at, old.begin() + at + kBarSize);
  if (end >= 101 && end <= 99999999) put_le32(out.data() + kHeaderDateOffset, static_cast<std::uint32_t>(end));
  return out;
}

inline int open_ro(const std::string& path) { return ::open(path.c_str(), O_RDONLY); }

inline int run(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const std::uint8_t p0 = in.byte(), p1 = in.byte();
  std::int32_t first = static_cast<std::int32_t>(in.byte() | in.byte() << 8 | in.byte() << 16 |
                                                 static_cast<std::uint32_t>(in.byte()) << 24);
  if (p0 & 0x80) first = 19990000 + first % 10000;  // now and then a plausible date
  const std::string_view chart = in.rest();
  const Bytes original(chart.begin(), chart.end());
  const std::string dir = fresh_dir("chart");
  const std::string path = dir + "/c.M";

  // 1. The upgrade.
  write_bytes(path, original.data(), original.size());
  Y2000_upgrade(path.c_str());
  const Bytes upgraded = read_bytes(path);
  FUZZ_CHECK(upgraded == expected_upgrade(original));

  // 2. The splice of a few new bars, into the upgraded and into the old
  // chart.
  std::vector<BarRecord> bars;
  const int nbars = p0 % 4;
  for (int i = 0; i < nbars; ++i) {
    const std::int64_t date = std::int64_t(first) + i * (1 + (p1 & 3));
    if (date > INT32_MAX) break;
    BarRecord b;
    b.date = static_cast<std::int32_t>(date);
    b.open = b.high = b.low = b.close = static_cast<float>(i);
    b.volume = i;
    bars.push_back(b);
  }
  const std::int32_t last = bars.empty() ? first : bars.back().date;
  auto splice = [&](const std::string& target) {
    SpliceRange range{'D', first, first};
    std::string name = target;
    return store_splice(name, range, [&](std::FILE* tmp) {
      for (const BarRecord& b : bars)
        if (!write_bar(tmp, b)) return 0;
      if (!bars.empty()) range.last = last;
      return 1;
    });
  };
  // A file that does not start as a chart does (byte 0 is 0, a line feed
  // after the type letter) is refused and left as it is.
  auto chart_like = [](const Bytes& b) {
    return b.empty() || (b[0] == 0 && (b.size() < kHeaderSize || b[kHeaderTypeOffset + 1] == '\n'));
  };
  if (!chart_like(upgraded)) {
    FUZZ_CHECK(splice(path) == 0);
    FUZZ_CHECK(read_bytes(path) == upgraded);
  } else {
    // The splice reads a chart that still looks old through a widened copy.
    FUZZ_CHECK(splice(path) == 1);
    const Bytes spliced = read_bytes(path);
    FUZZ_CHECK(spliced == expected_splice(expected_upgrade(upgraded), bars, first, last, 'D', !is_old(upgraded)));
    const std::string old_path = dir + "/old.M";
    write_bytes(old_path, original.data(), original.size());
    FUZZ_CHECK(splice(old_path) == 1);
    FUZZ_CHECK(read_bytes(old_path) == expected_splice(upgraded, bars, first, last, 'D', !is_old(original)));
  }
  FUZZ_CHECK(no_temp_left(dir));

  // 3. The commands that read a chart and write another, on the original
  // bytes: the source stays, the target is a whole chart or absent.
  const std::string src = dir + "/src.M";
  write_bytes(src, original.data(), original.size());
  ChartPassProgress quiet;
  IndexFile idx("990105 1.25\n990301 -2\n");
  {
    const std::string target = dir + "/fold.W";
    const FoldKind kind = (p1 & 4) ? FoldKind::kMonthly : FoldKind::kWeekly;
    Result r = fold_chart(open_ro(src), {kind, (p1 & 8) ? idx : IndexFile(), target}, quiet);
    if (r.status == Status::kDone) {
      Bytes out = read_bytes(target);
      FUZZ_CHECK(whole_chart(out));
      auto got = bars_of(out);
      for (std::size_t i = 1; i < got.size(); ++i) FUZZ_CHECK(got[i - 1].date < got[i].date);
    } else {
      FUZZ_CHECK(!exists(target));
    }
  }
  {
    const std::string target = dir + "/num.N";
    const int n = 1 + (p1 >> 4);
    Result r = compress_chart(open_ro(src), {n, target}, quiet);
    if (r.ok()) {
      Bytes out = read_bytes(target);
      FUZZ_CHECK(whole_chart(out));
      const std::size_t whole = original.size() >= kHeaderSize ? (original.size() - kHeaderSize) / kBarSize : 0;
      FUZZ_CHECK(bars_of(out).size() == (whole + n - 1) / n);
    } else {
      FUZZ_CHECK(!exists(target));
    }
  }
  {
    const std::string target = dir + "/adj.M";
    static const char kOps[] = "+-*/";
    const float k = (p1 & 0x40) ? 0.5f : 3.0f;
    Result r = adjust_chart(open_ro(src), {kOps[p1 & 3], k, (p1 & 8) ? idx : IndexFile(), target}, quiet);
    if (r.ok()) {
      Bytes out = read_bytes(target);
      FUZZ_CHECK(whole_chart(out));
      FUZZ_CHECK(std::equal(out.begin(), out.begin() + kHeaderSize, original.begin()));
      auto a = bars_of(out), b = bars_of(original);
      FUZZ_CHECK(a.size() == b.size());
      for (std::size_t i = 0; i < a.size(); ++i) FUZZ_CHECK(a[i].date == b[i].date);
    } else {
      FUZZ_CHECK(!exists(target));
    }
  }
  {
    const std::string target = dir + "/out.txt";
    FormatSettings f{};
    f.datecode = static_cast<char>(p0 % 4);
    std::memcpy(f.order, (p0 & 0x10) ? "SDOHLCVIM   " : "DOHLCVI     ", 12);
    f.sep = (p0 & 0x20) ? ' ' : ',';
    std::memcpy(f.startdate, (p0 & 0x40) ? "00000000" : "19600101", 8);
    int fd = open_ro(src);
    ChartTextReport report;
    if (::lseek(fd, kHeaderSize, SEEK_SET) == static_cast<off_t>(kHeaderSize)) {
      const Result result = chart_to_text(fd, target, f, "c.M", report);
      if (result.ok()) {
        FUZZ_CHECK(exists(target));
        FUZZ_CHECK(result.count >= 0 && result.passed_over >= 0);
      }
    }
    ::close(fd);
  }
  FUZZ_CHECK(read_bytes(src) == original);
  FUZZ_CHECK(no_temp_left(dir));
  return 0;
}

}  // namespace fuzz_chart_bytes

MORVA_FUZZ_ENTRY(fuzz_chart_bytes)
