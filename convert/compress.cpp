#include "convert/compress.h"

#include <algorithm>
#include <limits>

#include "chartdata/chartfile.h"
#include "chartdata/encodings.h"

namespace {

std::int32_t clamp32(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// Folds groups of `n` bars from `next` and hands each to `emit`, which
// returns false to stop (a failed write).  Returns false when emit failed.
template <class Next, class Emit>
bool compress_pass(Next&& next, int n, Emit&& emit, ChartPassProgress* progress,
                   bool* stopped) {
  BarRecord b;
  for (int k = 0; next(b); ++k) {
    BarRecord g = b;
    std::int64_t volume = b.volume, openint = b.openint;
    for (int i = 1; i < n && next(b); ++i) {
      if (b.high > g.high) g.high = b.high;
      if (b.low < g.low) g.low = b.low;
      volume += b.volume;
      openint += b.openint;
      g.close = b.close;
    }
    g.volume = clamp32(volume);
    g.openint = clamp32(openint);
    g.date = ntod(k);
    if (!emit(g)) return false;
    if (progress) {
      progress->progress(g.close);
      if (progress->stop_requested()) {
        if (stopped) *stopped = true;
        break;
      }
    }
  }
  return true;
}

}  // namespace

std::vector<BarRecord> compress_bars(std::span<const BarRecord> bars, int n) {
  std::vector<BarRecord> out;
  if (n < 1) return out;
  std::size_t i = 0;
  compress_pass(
      [&](BarRecord& b) {
        if (i == bars.size()) return false;
        b = bars[i++];
        return true;
      },
      n,
      [&](const BarRecord& g) {
        out.push_back(g);
        return true;
      },
      nullptr, nullptr);
  return out;
}

Result compress_stream(const CompressRequest& request, std::FILE* source, SafeReplace& out,
                       ChartPassProgress& progress) {
  Result result = pass_ending(Status::kFailed, kUnableToWriteMessage);
  const int n = request.count;
  if (n < 1) return pass_ending(Status::kRefused);
  unsigned char header[kHeaderSize];
  if (std::fread(header, 1, kHeaderSize, source) != kHeaderSize)
    return pass_ending(Status::kRefused, kNotChartMessage);
  header[kHeaderTypeOffset] = 'N';
  header[kHeaderTypeOffset + 1] = '\n';
  if (!out.write(header, kHeaderSize)) return result;
  BarBlocks bars(source);
  bool written = compress_pass(
      [&](BarRecord& b) { return bars.next(&b); }, n,
      [&](const BarRecord& g) {
        unsigned char rec[kBarSize];
        encode_bar(g, rec);
        if (!out.write(rec, kBarSize)) return false;
        ++result.count;
        return true;
      },
      &progress, &result.stopped);
  if (written && !std::ferror(source)) {
    result.status = Status::kDone;
    result.message.clear();
  }
  return result;
}

Result compress_chart(int source_fd, const CompressRequest& request, ChartPassProgress& progress) {
  return write_new_chart(
      source_fd, request.target,
      [&](std::FILE* src, SafeReplace& out, ChartPassProgress& shown) {
        return compress_stream(request, src, out, shown);
      },
      progress);
}
