#include "convert/adjust.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "chartdata/chartfile.h"

namespace {

bool usable(char op, float k) {
  return (op == '+' || op == '-' || op == '*' || op == '/') && k != 0.0f && std::isfinite(k);
}

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

Result adjust_stream(const AdjustRequest& request, std::FILE* source, SafeReplace& out,
                     ChartPassProgress& progress) {
  const char op = request.op;
  const float k = request.k;
  if (!usable(op, k)) return pass_ending(Status::kRefused);
  unsigned char header[kHeaderSize];
  if (std::fread(header, 1, kHeaderSize, source) != kHeaderSize)
    return pass_ending(Status::kRefused, kNotChartMessage);
  Result result = pass_ending(Status::kFailed, kUnableToWriteMessage);
  if (!out.write(header, kHeaderSize)) return result;
  BarRecord b;
  BarBlocks bars(source);
  while (bars.next(&b)) {
    request.index.apply(b);
    // A result the chart cannot hold (a price beyond the float range, a
    // volume beyond 32 bits) is never stored as another value: the whole
    // adjustment is refused and the target stays as it was.
    if (!adjust_fits(b, op, k)) {
      result.status = Status::kRefused;
      result.message = kOutOfRangeMessage;
      result.last = b.date;
      return result;
    }
    unsigned char rec[kBarSize];
    encode_bar(adjust_bar(b, op, k), rec);
    if (!out.write(rec, kBarSize)) return result;
    if (++result.count % 5 == 0) progress.progress(b.close);
    if (progress.stop_requested()) {
      result.stopped = true;
      break;
    }
  }
  if (!std::ferror(source)) {
    result.status = Status::kDone;
    result.message.clear();
  }
  return result;
}

Result adjust_chart(int source_fd, const AdjustRequest& request, ChartPassProgress& progress) {
  return write_new_chart(
      source_fd, request.target,
      [&](std::FILE* src, SafeReplace& out, ChartPassProgress& shown) {
        return adjust_stream(request, src, out, shown);
      },
      progress);
}
