#include "convert/compress.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <unistd.h>

#include "chartdata/chartfile.h"
#include "chartdata/encodings.h"
#include "convert/chart_output.h"
#include "window/commands.h"
#include "window/globals.h"
#include "window/target_prompt.h"
#include "screen/screen.h"
#include "widgets/prompt.h"

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

CompressResult compress_stream(std::FILE* source, int n, SafeReplace& out,
                               ChartPassProgress& progress) {
  CompressResult result;
  if (n < 1) {
    result.status = kCompressBadCount;
    return result;
  }
  unsigned char header[kHeaderSize];
  if (std::fread(header, 1, kHeaderSize, source) != kHeaderSize) {
    result.status = kCompressNotChart;
    return result;
  }
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
        ++result.bars;
        return true;
      },
      &progress, &result.stopped);
  result.status = written && !std::ferror(source) ? kCompressWritten : kCompressFailed;
  return result;
}

CompressResult compress_chart(int source_fd, int n, const std::string& target,
                              ChartPassProgress& progress) {
  CompressResult result;
  std::FILE* src = fdopen(source_fd, "rb");
  if (!src) {
    if (source_fd >= 0) close(source_fd);
    result.status = kCompressNotChart;
    return result;
  }
  if (n < 1) {
    std::fclose(src);
    result.status = kCompressBadCount;
    return result;
  }
  SafeReplace out(target);
  if (!out.ok()) {
    std::fclose(src);
    return result;
  }
  result = compress_stream(src, n, out, progress);
  std::fclose(src);
  if (result.status == kCompressWritten && !out.commit()) result.status = kCompressFailed;
  return result;
}

// ---- The dialogue COMPRESSs -------------------------------------------------

namespace {

constexpr const char* kCountQuestion =
    "How many calendar days should be compressed into each bar? ->";
constexpr const char* kCompressPrompt = "       Enter a `compressed' filename (or ESCape):";

}  // namespace

int COMPRESSs(int fd) {
  TargetPrompt tp;
  tp.source = exclambuf;
  tp.prompt = kCompressPrompt;
  for (;;) {
    scr_scrup(0, 2, 0, 9, 79);
    putsn(kCountQuestion, 2, 0, -1);
    char count[5] = "";
    int key = fgts(nullptr, 'n', 2, 61, 4, count, 'n', 'y');
    if (key == 27) {
      close(fd);
      return 27;
    }
    // 0, text that is no number, and a negative count (which would put no
    // bar into a group) end the command without output.
    int n = std::atoi(count);
    if (n <= 0) {
      close(fd);
      return 0;
    }
    int r = ask_target_name_once(tp);
    if (r == kTargetEscape) {
      close(fd);
      return 27;
    }
    if (r == kTargetAgain) continue;
    int w = write_new_chart(fd, tp.name, [&](std::FILE* src, SafeReplace& out, ChartPassProgress& screen) {
      CompressResult res = compress_stream(src, n, out, screen);
      return res.status == kCompressWritten    ? kPassWritten
             : res.status == kCompressNotChart ? kPassNotChart
                                               : kPassFailed;
    });
    if (w == kNewChartAskAgain) continue;
    if (w != kNewChartStored) return 0;
    std::snprintf(savenm, sizeof savenm, "%s", tp.name);
    return 1;
  }
}
