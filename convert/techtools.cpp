// TechTools import: the conversion of one TechTools file into a new chart.
#include "convert/techtools.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <vector>

#include "chartdata/chartfile.h"
#include "chartdata/encodings.h"
#include "chartdata/safe_replace.h"

namespace {

unsigned get_le16(const unsigned char* p) { return unsigned(p[0]) | unsigned(p[1]) << 8; }

// Reads up to n bytes, retrying after interrupts and short reads; the count
// read, or -1 on a read error.
long read_fully(int fd, unsigned char* p, std::size_t n) {
  std::size_t got = 0;
  while (got < n) {
    ssize_t r = ::read(fd, p + got, n - got);
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) break;
    got += static_cast<std::size_t>(r);
  }
  return static_cast<long>(got);
}

}  // namespace

BarRecord techtools_bar(int price_type, const unsigned char rec[kTechRecordSize]) {
  static const int base = dton(kTechBaseDate);
  BarRecord b;
  b.date = ntod(base + static_cast<int>(get_le16(rec)));
  b.open = static_cast<float>(PriceToDouble(price_type, static_cast<unsigned short>(get_le16(rec + 2))));
  b.high = static_cast<float>(PriceToDouble(price_type, static_cast<unsigned short>(get_le16(rec + 4))));
  b.low = static_cast<float>(PriceToDouble(price_type, static_cast<unsigned short>(get_le16(rec + 6))));
  b.close = static_cast<float>(PriceToDouble(price_type, static_cast<unsigned short>(get_le16(rec + 8))));
  b.volume = static_cast<std::int32_t>(VolumeToDouble(rec + 10));
  b.openint = static_cast<std::int32_t>(VolumeToDouble(rec + 13));
  return b;
}

TechOrder order_tech_bars(std::vector<BarRecord>& bars) {
  TechOrder out;
  std::int32_t latest = 0;
  for (std::size_t i = 0; i < bars.size(); ++i) {
    if (i > 0 && bars[i].date < latest) ++out.out_of_order;
    if (i == 0 || bars[i].date > latest) latest = bars[i].date;
  }
  auto by_date = [](const BarRecord& a, const BarRecord& b) { return a.date < b.date; };
  if (out.out_of_order > 0) std::stable_sort(bars.begin(), bars.end(), by_date);
  std::size_t w = 0;
  for (std::size_t i = 0; i < bars.size(); ++i) {
    if (w > 0 && bars[w - 1].date == bars[i].date) {
      bars[w - 1] = bars[i];
      ++out.same_date;
    } else {
      bars[w++] = bars[i];
    }
  }
  bars.resize(w);
  return out;
}

namespace {

Result ended(Status status, std::string message) {
  Result r;
  r.status = status;
  r.message = std::move(message);
  return r;
}

}  // namespace

Result techtools_convert(const TechToolsRequest& request, TechToolsListener& listener) {
  const int srcfd = request.source;
  unsigned char header[kTechHeaderSize];
  long got = read_fully(srcfd, header, sizeof header);
  if (got < 0) return ended(Status::kFailed, kTechReadFailed);
  if (got < static_cast<long>(sizeof header)) return ended(Status::kRefused, kTechTooShort);
  const int price_type = static_cast<std::int16_t>(get_le16(header));

  // Source records are read in blocks, then put in date order (a TechTools
  // file holds at most one record per day of 65,536 days, give or take
  // repeats: the bars fit in memory), then written in one go.
  constexpr std::size_t kBlockRecords = 1024;
  std::vector<unsigned char> in(kBlockRecords * kTechRecordSize);
  std::vector<BarRecord> all;
  bool stop = false;
  while (!stop) {
    got = read_fully(srcfd, in.data(), in.size());
    if (got < 0) return ended(Status::kFailed, kTechReadFailed);
    const std::size_t records = static_cast<std::size_t>(got) / kTechRecordSize;
    for (std::size_t i = 0; i < records && !stop; ++i) {
      all.push_back(techtools_bar(price_type, in.data() + i * kTechRecordSize));
      listener.bar_written(static_cast<long>(all.size()), all.back());
      if (listener.stop_requested()) stop = true;
    }
    // A short block is the end of the file (a partial last record is ignored).
    if (static_cast<std::size_t>(got) < in.size()) break;
  }
  // The vendor's values are stored as they are, but a file whose records
  // mostly break the bar rules is no TechTools file: nothing is written.
  BarTally check;
  for (std::size_t i = 0; i < all.size(); ++i) check.add(all[i], {}, static_cast<long>(i + 1));
  if (check.mostly_broken()) {
    Result r = ended(Status::kRefused, mostly_broken_line("Not a TECHTOOLS file", "records", check));
    r.bar_check = std::move(check);
    return r;
  }

  SafeReplace chart(request.target, SafeReplace::Locking::kChartFile);
  if (!chart.ok()) return ended(Status::kFailed, kDiskFullLine + request.target);
  // The header date is filled in once the last bar is known.
  unsigned char chart_header[kHeaderSize];
  const char type[2] = {'D', '\n'};
  make_header(chart_header, type, 0);
  if (!chart.write(chart_header, sizeof chart_header)) return ended(Status::kFailed, kTechWriteFailed);

  const TechOrder order = order_tech_bars(all);
  if (order.out_of_order > 0 || order.same_date > 0) listener.sorted(order.out_of_order, order.same_date);
  std::vector<unsigned char> bars(all.size() * kBarSize);
  for (std::size_t i = 0; i < all.size(); ++i) encode_bar(all[i], bars.data() + i * kBarSize);
  if (!bars.empty() && !chart.write(bars.data(), bars.size())) return ended(Status::kFailed, kTechWriteFailed);

  Result out = ended(Status::kDone, "");
  out.count = static_cast<long>(all.size());
  out.stopped = stop;
  out.passed_over = order.out_of_order + order.same_date;
  out.bar_check = std::move(check);
  if (!all.empty()) {
    out.first = all.front().date;
    out.last = all.back().date;
  }
  unsigned char date[4];
  put_le32(date, static_cast<std::uint32_t>(out.last));
  std::FILE* f = chart.stream();
  if (std::fseek(f, static_cast<long>(kHeaderDateOffset), SEEK_SET) != 0 ||
      !chart.write(date, sizeof date) || std::fseek(f, 0, SEEK_END) != 0 || !chart.commit())
    return ended(Status::kFailed, kTechWriteFailed);
  if (out.passed_over > 0) {
    char line[80];
    std::snprintf(line, sizeof line, " Sorted by date: %ld records out of order, %ld of a repeated date.",
                  order.out_of_order, order.same_date);
    out.message = line;
  }
  return out;
}
