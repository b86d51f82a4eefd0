#include "convert/adjust.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "chartdata/chartfile.h"
#include "convert/chart_check.h"
#include <cstring>

namespace {

bool usable(const AdjustRequest& r) {
  if (r.op == kScaleOp)
    return r.price_factor > 0 && std::isfinite(r.price_factor) && r.volume_factor > 0 &&
           std::isfinite(r.volume_factor);
  return (r.op == '+' || r.op == '-' || r.op == '*' || r.op == '/') && r.k != 0.0f && std::isfinite(r.k);
}

std::int32_t held_volume(double v) {
  constexpr double lo = std::numeric_limits<std::int32_t>::min();
  constexpr double hi = std::numeric_limits<std::int32_t>::max();
  if (!(v >= lo)) return std::numeric_limits<std::int32_t>::min();
  if (!(v <= hi)) return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(v);
}

double scaled_volume(std::int32_t volume, double factor) {
  return volume < 0 ? volume : std::nearbyint(double(volume) * factor);
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
  // A split by a large constant can leave the 32-bit range; the volume is
  // held at its edge rather than wrapped into a meaningless value.
  return held_volume(adjusted_volume(volume, op, k));
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
  if (!usable(request)) return pass_ending(Status::kRefused);
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
    if (!adjust_request_fits(b, request)) {
      result.status = Status::kRefused;
      result.message = kOutOfRangeMessage;
      result.last = b.date;
      return result;
    }
    unsigned char rec[kBarSize];
    encode_bar(adjust_request_bar(b, request), rec);
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

BarRecord scale_bar(const BarRecord& in, double price, double volume) {
  BarRecord out = in;
  out.volume = held_volume(scaled_volume(in.volume, volume));
  out.open = static_cast<float>(in.open * price);
  out.high = static_cast<float>(in.high * price);
  out.low = static_cast<float>(in.low * price);
  out.close = static_cast<float>(in.close * price);
  return out;
}

bool scale_fits(const BarRecord& in, double price, double volume) {
  const BarRecord out = scale_bar(in, price, volume);
  const double v = scaled_volume(in.volume, volume);
  auto kept = [](float before, float after) { return !std::isfinite(before) || std::isfinite(after); };
  return kept(in.open, out.open) && kept(in.high, out.high) && kept(in.low, out.low) &&
         kept(in.close, out.close) && v >= std::numeric_limits<std::int32_t>::min() &&
         v <= std::numeric_limits<std::int32_t>::max();
}

AdjustRequest split_request(int n, int m, std::int32_t before) {
  AdjustRequest r;
  r.op = kScaleOp;
  r.price_factor = double(m) / double(n);
  r.volume_factor = double(n) / double(m);
  r.until = before - 1;
  return r;
}

Result dividend_request(double amount, std::int32_t before, std::span<const BarRecord> bars,
                        AdjustRequest& request) {
  Result r;
  r.status = Status::kRefused;
  const BarRecord* last = nullptr;
  for (const BarRecord& b : bars)
    if (b.date < before && (!last || b.date >= last->date)) last = &b;
  if (!last) {
    r.message = "no bar is dated before " + std::to_string(before);
    return r;
  }
  const double factor = 1 - amount / double(last->close);
  if (!(factor > 0 && factor < 1)) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "the dividend %g against the close %g of %d gives the factor %g, not between 0 and 1",
                  amount, double(last->close), last->date, factor);
    r.message = buf;
    return r;
  }
  request.op = kScaleOp;
  request.price_factor = factor;
  request.volume_factor = 1;
  request.until = before - 1;
  r.status = Status::kDone;
  r.last = last->date;
  return r;
}

bool parse_split(const std::string& text, int* n, int* m) {
  static constexpr const char* kBetween[] = {":", "/", "-for-", " for ", "for"};
  for (const char* sep : kBetween) {
    const std::size_t at = text.find(sep);
    if (at == std::string::npos) continue;
    const std::string a = text.substr(0, at), b = text.substr(at + std::strlen(sep));
    auto whole = [](const std::string& t, int* v) {
      if (t.empty() || t.size() > 6 || t.find_first_not_of("0123456789") != std::string::npos) return false;
      *v = std::atoi(t.c_str());
      return *v >= 1;
    };
    return whole(a, n) && whole(b, m) && *n != *m;
  }
  return false;
}

BarRecord adjust_request_bar(const BarRecord& in, const AdjustRequest& request) {
  if (!request.changes(in.date)) return in;
  if (request.op == kScaleOp) return scale_bar(in, request.price_factor, request.volume_factor);
  return adjust_bar(in, request.op, request.k);
}

bool adjust_request_fits(const BarRecord& in, const AdjustRequest& request) {
  if (!request.changes(in.date)) return true;
  if (request.op == kScaleOp) return scale_fits(in, request.price_factor, request.volume_factor);
  return adjust_fits(in, request.op, request.k);
}

Result adjust_in_place(const std::string& path, AdjustRequest request, double dividend) {
  Result r;
  SafeReplace out(path);  // the chart's lock from here on
  if (!out.ok()) return pass_ending(Status::kFailed, kUnableToWriteMessage);
  ChartImage image;
  std::vector<unsigned char> buffer;
  if (chart_not_loaded(path, image, buffer, kUnableToWriteMessage, r)) {
    if (r.status == Status::kRefused) r.message = kNotChartMessage;
    return r;
  }
  if (dividend > 0) {
    const Result d = dividend_request(dividend, request.until + 1, image.bars, request);
    if (!d.ok()) return d;
  }
  if (!usable(request)) return pass_ending(Status::kRefused);
  for (BarRecord& b : image.bars) {
    request.index.apply(b);
    if (!adjust_request_fits(b, request)) {
      r = pass_ending(Status::kRefused, kOutOfRangeMessage);
      r.last = b.date;
      return r;
    }
    if (request.changes(b.date)) ++r.count;
    b = adjust_request_bar(b, request);
  }
  const std::vector<unsigned char> bytes = chart_image_bytes(image);
  // A record cut short at the end stays as it was: adjusting is no repair.
  bool written = out.write(bytes.data(), bytes.size());
  if (written && image.trailing)
    written = out.write(buffer.data() + bytes.size(), image.trailing);
  if (!written || !out.commit()) return pass_ending(Status::kFailed, kUnableToWriteMessage);
  r.status = Status::kDone;
  return r;
}
