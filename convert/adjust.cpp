#include "convert/adjust.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <limits>
#include <unistd.h>

#include "chartdata/chartfile.h"
#include "convert/chart_output.h"
#include "window/commands.h"
#include "window/globals.h"
#include "window/target_prompt.h"
#include "screen/screen.h"
#include "setup/environment.h"
#include "widgets/prompt.h"

namespace {

bool is_operator(char op) { return op == '+' || op == '-' || op == '*' || op == '/'; }

std::string strip_trailing_slashes(std::string s) {
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

}  // namespace

float doop(float price, char op, double k) {
  switch (op) {
    case '+': return static_cast<float>(price + k);
    case '-': return static_cast<float>(price - k);
    case '*': return static_cast<float>(price * k);
    case '/': return static_cast<float>(price / k);
    default: return price;
  }
}

namespace {

// The adjusted volume before it is held to 32 bits, rounded to the nearest
// whole number: 1000 * 0.1 is 10000, not 9999 (0.1 as a float is slightly
// more than a tenth).
double adjusted_volume(std::int32_t volume, char op, float k) {
  if (volume < 0) return volume;
  if (op == '/') return std::nearbyint(double(volume) * k);
  if (op == '*') return std::nearbyint(double(volume) / k);
  return volume;
}

}  // namespace

bool adjust_fits(const BarRecord& in, char op, float k) {
  const BarRecord out = adjust_bar(in, op, k);
  const double v = adjusted_volume(in.volume, op, k);
  // A price the source already held as nan or inf is not the adjustment's doing.
  auto kept = [](float before, float after) { return !std::isfinite(before) || std::isfinite(after); };
  return kept(in.open, out.open) && kept(in.high, out.high) && kept(in.low, out.low) &&
         kept(in.close, out.close) && v >= std::numeric_limits<std::int32_t>::min() &&
         v <= std::numeric_limits<std::int32_t>::max();
}

std::int32_t adjust_volume(std::int32_t volume, char op, float k) {
  const double v = adjusted_volume(volume, op, k);
  // A split by a large constant can leave the 32-bit range; the volume is
  // held at its edge rather than wrapped into a meaningless value.
  constexpr double lo = std::numeric_limits<std::int32_t>::min();
  constexpr double hi = std::numeric_limits<std::int32_t>::max();
  if (!(v >= lo)) return std::numeric_limits<std::int32_t>::min();
  if (!(v <= hi)) return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(v);
}

BarRecord adjust_bar(const BarRecord& in, char op, float k) {
  BarRecord out = in;  // date and open interest unchanged
  out.volume = adjust_volume(in.volume, op, k);
  // Bars with a negative volume get their own prices with the operator
  // applied, like every other bar.
  out.open = doop(in.open, op, k);
  out.high = doop(in.high, op, k);
  out.low = doop(in.low, op, k);
  out.close = doop(in.close, op, k);
  return out;
}

int parse_constant(const char* text, float* k) {
  float v = static_cast<float>(std::strtod(text, nullptr));
  if (v == 0.0f || !std::isfinite(v)) return 0;
  *k = v;
  return 1;
}

std::string name_from_data_dir(const std::string& cwd, const std::string& datadir,
                               const std::string& name) {
  if (!name.empty() && name[0] == '/') return name;
  std::string here = strip_trailing_slashes(cwd);
  std::string data = strip_trailing_slashes(datadir);
  if (data.empty()) return (here == "/" ? "" : here) + "/" + name;  // no data directory known
  if (here == data) return name;
  std::string under = data == "/" ? data : data + "/";
  if (here.compare(0, under.size(), under) == 0) return here.substr(under.size()) + "/" + name;
  return (here == "/" ? "" : here) + "/" + name;
}

AdjustResult adjust_stream(std::FILE* source, const IndexFile& idx, char op, float k,
                           SafeReplace& out, ChartPassProgress& progress) {
  AdjustResult result;
  if (!is_operator(op) || k == 0.0f || !std::isfinite(k)) {
    result.status = kAdjustBadInput;
    return result;
  }
  unsigned char header[kHeaderSize];
  if (std::fread(header, 1, kHeaderSize, source) != kHeaderSize) {
    result.status = kAdjustNotChart;
    return result;
  }
  if (!out.write(header, kHeaderSize)) return result;
  BarRecord b;
  BarBlocks bars(source);
  while (bars.next(&b)) {
    idx.apply(b);
    // A result the chart cannot hold (a price beyond the float range, a
    // volume beyond 32 bits) is never stored as another value: the whole
    // adjustment is refused and the target stays as it was.
    if (!adjust_fits(b, op, k)) {
      result.status = kAdjustOutOfRange;
      result.bad_date = b.date;
      return result;
    }
    unsigned char rec[kBarSize];
    encode_bar(adjust_bar(b, op, k), rec);
    if (!out.write(rec, kBarSize)) return result;
    if (++result.bars % 5 == 0) progress.progress(b.close);
    if (progress.stop_requested()) {
      result.stopped = true;
      break;
    }
  }
  result.status = std::ferror(source) ? kAdjustFailed : kAdjustWritten;
  return result;
}

AdjustResult adjust_chart(int source_fd, const IndexFile& idx, char op, float k,
                          const std::string& target, ChartPassProgress& progress) {
  AdjustResult result;
  std::FILE* src = fdopen(source_fd, "rb");
  if (!src) {
    if (source_fd >= 0) close(source_fd);
    result.status = kAdjustNotChart;
    return result;
  }
  if (!is_operator(op) || k == 0.0f || !std::isfinite(k)) {
    std::fclose(src);
    result.status = kAdjustBadInput;
    return result;
  }
  SafeReplace out(target);
  if (!out.ok()) {
    std::fclose(src);
    return result;
  }
  result = adjust_stream(src, idx, op, k, out, progress);
  std::fclose(src);
  if (result.status == kAdjustWritten && !out.commit()) result.status = kAdjustFailed;
  return result;
}

// ---- The dialogue addsubmultdiv ----------------------------------------------

namespace {

constexpr const char* kOperatorQuestion =
    "Do you want to add + subtract - multiply * or divide / the file? ->";
constexpr const char* kConstantQuestion =
    "Enter the size of constant with which you want to do this operation->";
constexpr const char* kTargetText = "       Enter a target filename (or ESCape):";

std::string working_dir() {
  char buf[4096];
  return ::getcwd(buf, sizeof buf) ? std::string(buf) : std::string();
}

}  // namespace

int addsubmultdiv(int fd, FILE* idx) {
  scr_scrup(0, 2, 0, 9, 79);
  char op = 0;
  while (!op) {
    putsn(kOperatorQuestion, 2, 0, -1);
    int key = scr_getc(1);
    if (key == 27) {
      close(fd);
      return 27;
    }
    if (key == '+' || key == '-' || key == '*' || key == '/') op = static_cast<char>(key);
  }
  putsn(kConstantQuestion, 2, 0, -1);
  char text[7] = "";
  if (fgts(nullptr, 'n', 2, 69, 6, text, 'n', 'y') == 27) {
    close(fd);
    return 27;
  }
  float k = 0;
  if (!parse_constant(text, &k)) {
    close(fd);
    return 0;
  }

  scr_scrup(0, 2, 0, 9, 79);
  char name[22];
  for (;;) {
    scr_rowcol(2, 0);
    putss("Source: ");
    putss(exclambuf);
    putss(" Ready to store new file.\r\n\n");
    putss(kTargetText);
    putsn("The current working subdirectory is: ", 6, 7, -1);
    putss(working_dir().c_str());
    name[0] = 0;
    if (fgts(nullptr, 'a', 4, 45, 21, name, 'n', 'y') == 27) {
      close(fd);
      return 27;
    }
    if (not_differ(name, exclambuf)) continue;
    // No name typed is a name that cannot be opened: the same message.
    if (!name[0]) {
      msg(kCannotOpenMessage, title, 1);
      continue;
    }
    int r = write_new_chart(fd, name, [&](std::FILE* src, SafeReplace& out, ChartPassProgress& screen) {
      IndexFile index = IndexFile::load(idx);
      AdjustResult res = adjust_stream(src, index, op, k, out, screen);
      return res.status == kAdjustWritten      ? kPassWritten
             : res.status == kAdjustNotChart   ? kPassNotChart
             : res.status == kAdjustOutOfRange ? kPassOutOfRange
                                               : kPassFailed;
    });
    if (r == kNewChartAskAgain) continue;
    if (r != kNewChartStored) return 0;
    // The charting program opens charts relative to the data directory it
    // started in; a name that does not fit leaves nothing to hand over.
    std::string saved = name_from_data_dir(working_dir(), origdatasubdir, name);
    if (saved.size() < sizeof savenm)
      std::snprintf(savenm, sizeof savenm, "%s", saved.c_str());
    else
      savenm[0] = 0;
    return 1;
  }
}
