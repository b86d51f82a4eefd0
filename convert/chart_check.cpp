#include "convert/chart_check.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

#include <strings.h>

#include "chartdata/bar_checks.h"
#include "chartdata/chartfile.h"
#include "chartdata/encodings.h"
#include "chartdata/safe_replace.h"

namespace {

struct KindInfo {
  CheckKind kind;
  const char* name;
  const char* group;
  bool mechanical;
};

constexpr KindInfo kKinds[kCheckKinds] = {
    {CheckKind::kPartialRecord, "partial-record", "structure", true},
    {CheckKind::kHeaderDate, "header-date", "structure", true},
    {CheckKind::kUnknownType, "unknown-type", "structure", false},
    {CheckKind::kSixDigitDates, "six-digit-dates", "structure", true},
    {CheckKind::kNotChart, "not-a-chart", "structure", false},
    {CheckKind::kDuplicateDate, "duplicate-date", "order", true},
    {CheckKind::kOutOfOrder, "out-of-order", "order", true},
    {CheckKind::kNotCalendar, "not-a-calendar-date", "order", false},
    {CheckKind::kWeekend, "weekend", "order", false},
    {CheckKind::kNotNumber, "not-a-number", "values", false},
    {CheckKind::kNotPositive, "not-positive", "values", false},
    {CheckKind::kOutsideRange, "outside-high-low", "values", false},
    {CheckKind::kHighBelowLow, "high-below-low", "values", false},
    {CheckKind::kNegativeCount, "negative-count", "values", false},
    {CheckKind::kBigMove, "big-move", "suspicious", false},
    {CheckKind::kUnitJump, "unit-jump", "suspicious", false},
    {CheckKind::kSplit, "split", "suspicious", false},
    {CheckKind::kPlaceholder, "placeholder", "suspicious", false},
    {CheckKind::kMissingDay, "missing-day", "suspicious", false},
    {CheckKind::kExtraDay, "extra-day", "suspicious", false},
};

// The value faults of a bar and the kind each is reported as.
constexpr std::pair<unsigned, CheckKind> kValueKinds[] = {
    {kBarNotCalendar, CheckKind::kNotCalendar},   {kBarNotNumber, CheckKind::kNotNumber},
    {kBarNotPositive, CheckKind::kNotPositive},   {kBarOutsideRange, CheckKind::kOutsideRange},
    {kBarHighBelowLow, CheckKind::kHighBelowLow}, {kBarNegativeCount, CheckKind::kNegativeCount},
};

// Split ratios: the factor by which the close jumps, and the N:M that
// adjusts the bars before it (prices x M/N).
struct SplitRatio {
  double factor;
  int n, m;
};
constexpr SplitRatio kSplitRatios[] = {
    {1 / 2.0, 2, 1}, {1 / 3.0, 3, 1}, {1 / 4.0, 4, 1}, {1 / 5.0, 5, 1}, {1 / 10.0, 10, 1}, {2 / 3.0, 3, 2},
    {2.0, 1, 2},     {3.0, 1, 3},     {4.0, 1, 4},     {5.0, 1, 5},     {10.0, 1, 10},     {1.5, 2, 3},
};

// Names the program keeps beside the charts that are no charts.
constexpr const char* kOwnFiles[] = {"setup.mrv", "morvautl.dat", "tmpmorva.gph"};

std::string price(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

bool placeholder(const BarRecord& b) {
  return b.volume == 0 && b.open == b.high && b.high == b.low && b.low == b.close;
}

// 0 Sunday .. 6 Saturday.
int weekday(std::int32_t date) {
  static constexpr int t[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  int y = date / 10000;
  const int m = date / 100 % 100, d = date % 100;
  if (m < 3) --y;
  return (y + y / 4 - y / 100 + y / 400 + t[m - 1] + d) % 7;
}

bool old_image(const ChartImage& c) {
  if (c.bars.empty()) return false;
  unsigned char head[kHeaderSize + kBarSize];
  std::memcpy(head, c.header, kHeaderSize);
  encode_bar(c.bars.front(), head + kHeaderSize);
  return old_chart_head(head, sizeof head);
}

std::int32_t header_date(const ChartImage& c) {
  return static_cast<std::int32_t>(get_le32(c.header + kHeaderDateOffset));
}

// The split ratio the close ratio `r` is near, or nullptr.
const SplitRatio* near_split(double r, double tolerance) {
  for (const SplitRatio& s : kSplitRatios)
    if (std::fabs(r / s.factor - 1) < tolerance) return &s;
  return nullptr;
}

double mean_volume(std::span<const BarRecord> bars) {
  double sum = 0;
  for (const BarRecord& b : bars) sum += b.volume;
  return bars.empty() ? 0 : sum / static_cast<double>(bars.size());
}

// Whether the jump into bar i by factor q lasts (the closes of the next
// bars stay near the new level) and the volume moves the other way.
bool lasting_split(std::span<const BarRecord> bars, std::size_t i, double q, int span) {
  const std::size_t n = bars.size();
  const std::size_t after = std::min<std::size_t>(static_cast<std::size_t>(span), n - i);
  const std::size_t before = std::min<std::size_t>(static_cast<std::size_t>(span), i);
  if (after < 2 || before < 1) return false;
  const double base = bars[i - 1].close, lq = std::log(q), band = std::fabs(lq) / 3;
  for (std::size_t j = i; j < i + after; ++j) {
    const double c = bars[j].close;
    if (!(c > 0) || !std::isfinite(c) || std::fabs(std::log(c / base) - lq) > band) return false;
  }
  const double vb = mean_volume(bars.subspan(i - before, before)), va = mean_volume(bars.subspan(i, after));
  if (!(vb > 0) || !(va > 0)) return false;
  const double lv = std::log(va / vb);
  return lv * lq < 0 && std::fabs(lv) >= std::fabs(lq) / 2;
}

}  // namespace

const char* check_kind_name(CheckKind kind) { return kKinds[static_cast<int>(kind)].name; }
const char* check_kind_group(CheckKind kind) { return kKinds[static_cast<int>(kind)].group; }
bool check_kind_mechanical(CheckKind kind) { return kKinds[static_cast<int>(kind)].mechanical; }

bool looks_like_chart(const unsigned char* bytes, std::size_t n) {
  return n >= kHeaderSize && bytes[0] == 0 && bytes[kHeaderTypeOffset + 1] == '\n';
}

bool chart_from_bytes(std::span<const unsigned char> bytes, ChartImage& image) {
  image.bars.clear();
  image.trailing = 0;
  if (!looks_like_chart(bytes.data(), bytes.size())) return false;
  std::memcpy(image.header, bytes.data(), kHeaderSize);
  const std::size_t n = (bytes.size() - kHeaderSize) / kBarSize;
  image.bars.resize(n);
  for (std::size_t i = 0; i < n; ++i) image.bars[i] = decode_bar(bytes.data() + kHeaderSize + i * kBarSize);
  image.trailing = (bytes.size() - kHeaderSize) % kBarSize;
  return true;
}

std::string load_chart(const std::string& path, ChartImage& image, std::vector<unsigned char>& buffer,
                       bool* unreadable) {
  if (unreadable) *unreadable = false;
  auto failed = [&](int err) {
    if (unreadable) *unreadable = true;
    return std::string(std::strerror(err));
  };
  // A folder, FIFO or device is said before any open that could block.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return failed(errno);
  if (S_ISDIR(st.st_mode)) return "it is a folder";
  if (!S_ISREG(st.st_mode)) return "it is not a chart";
  // Read under the chart's lock: never a chart half-way through a store.
  ChartLock reading(path, ChartLock::Mode::kRead);
  if (!reading.held()) return failed(EAGAIN);
  const int fd = open_regular_for_reading(path);
  if (fd < 0) return failed(errno);
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    return failed(err);
  }
  if (S_ISDIR(st.st_mode)) {
    ::close(fd);
    return "it is a folder";
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return "it is not a chart";
  }
  // The size known, the file is read in as few calls as it takes; a file
  // that grows meanwhile is read to its end.
  buffer.resize(static_cast<std::size_t>(st.st_size) + 1);
  std::size_t got = 0;
  for (;;) {
    if (got == buffer.size()) buffer.resize(buffer.size() * 2);
    const ssize_t r = ::read(fd, buffer.data() + got, buffer.size() - got);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      const int err = errno;
      ::close(fd);
      return failed(err);
    }
    if (r == 0) break;
    got += static_cast<std::size_t>(r);
  }
  ::close(fd);
  if (!chart_from_bytes({buffer.data(), got}, image)) return "it is not a chart";
  return "";
}

bool chart_not_loaded(const std::string& path, ChartImage& image, std::vector<unsigned char>& buffer,
                      const char* unreadable_message, Result& ending) {
  bool unreadable = false;
  const std::string why = load_chart(path, image, buffer, &unreadable);
  if (why.empty()) return false;
  ending.status = unreadable ? Status::kFailed : Status::kRefused;
  ending.message = unreadable && unreadable_message ? std::string(unreadable_message) : why;
  return true;
}

std::vector<unsigned char> chart_image_bytes(const ChartImage& image) {
  std::vector<unsigned char> out(kHeaderSize + image.bars.size() * kBarSize);
  std::memcpy(out.data(), image.header, kHeaderSize);
  for (std::size_t i = 0; i < image.bars.size(); ++i) encode_bar(image.bars[i], out.data() + kHeaderSize + i * kBarSize);
  return out;
}

std::vector<Finding> check_chart(const ChartImage& c, const std::string& chart, const CheckLimits& limits,
                                 const std::vector<std::int32_t>* reference) {
  std::vector<Finding> out;
  const std::vector<BarRecord>& bars = c.bars;
  const std::size_t n = bars.size();
  const unsigned char type = c.header[kHeaderTypeOffset];
  const std::string repair = "repair " + chart;
  auto add = [&](CheckKind k, long bar, std::int32_t date, std::string detail, std::string fix = "") {
    out.push_back({k, bar, date, std::move(detail), std::move(fix)});
  };

  // ---- structure
  if (c.trailing)
    add(CheckKind::kPartialRecord, static_cast<long>(n) + 1, 0,
        std::to_string(c.trailing) + " bytes after the last whole bar (a record cut short)", repair);
  if (!std::strchr("DWMN?", type) || type == 0) {
    add(CheckKind::kUnknownType, 0, 0, "byte 116 holds " + std::to_string(type) + ", not D, W, M or N");
  }
  const bool old = old_image(c);
  if (old)
    add(CheckKind::kSixDigitDates, 0, bars.front().date,
        "dates of two-digit years (yymmdd), to be widened to yyyymmdd", repair);
  if (n > 0 && type != 'N' && !old) {
    const std::int32_t last = bars.back().date;
    const std::int32_t h = header_date(c);
    if (h != last)
      add(CheckKind::kHeaderDate, 0, h,
          "header date " + std::to_string(h) + (h > last ? " is after" : " is before") + " the last bar's date " +
              std::to_string(last),
          repair);
  }

  // ---- order and values, bar by bar; the value faults of each bar are
  // kept for the price checks
  std::vector<unsigned char> sound(n);
  std::size_t first_real = n, last_real = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const BarRecord& b = bars[i];
    const long no = static_cast<long>(i) + 1;
    if (i > 0 && b.date <= bars[i - 1].date) {
      if (b.date < bars[i - 1].date)
        add(CheckKind::kOutOfOrder, no, b.date,
            "is not after bar " + std::to_string(i) + " (" + std::to_string(bars[i - 1].date) + "): dated before it",
            repair);
      else
        add(CheckKind::kDuplicateDate, no, b.date, "is not after bar " + std::to_string(i) + ": the same date",
            repair);
    }
    unsigned f = bar_value_faults(b);
    // Short dates: in an old chart they are widened first; in any other
    // dated chart they are no calendar day (numbered charts count bars).
    if (b.date < 10000000 && type != 'N' &&
        !(old && b.date >= 0 && b.date <= 991231 && is_calendar_date(Y2000_add_century_date(b.date))))
      f |= kBarNotCalendar;
    sound[i] = f == 0 && !placeholder(b);
    if (f)
      for (auto [bit, kind] : kValueKinds)
        if (f & bit) {
          std::string d = bar_fault_text(bit);
          if (bit != kBarNotCalendar)
            d += ": open " + price(b.open) + " high " + price(b.high) + " low " + price(b.low) + " close " +
                 price(b.close) + (bit == kBarNegativeCount ? " volume " + std::to_string(b.volume) +
                                                                  " open interest " + std::to_string(b.openint)
                                                            : "");
          add(kind, no, b.date, std::move(d));
        }
    if (type == 'D' && b.date >= 10000000 && !(f & kBarNotCalendar)) {
      const int wd = weekday(b.date);
      if (wd == 0 || wd == 6) add(CheckKind::kWeekend, no, b.date, wd == 0 ? "a Sunday" : "a Saturday");
    }
    if (!placeholder(b)) {
      first_real = std::min(first_real, i);
      last_real = i;
    }
  }

  // ---- suspicious
  const double unit_lo = 100 * (1 - limits.unit_tolerance), unit_hi = 100 * (1 + limits.unit_tolerance);
  const double lo_move = 1 - limits.max_move, hi_move = 1 + limits.max_move;
  // Ratios nearer 1 than every split ratio (2/3 and 3/2 the nearest).
  const double inner_lo = (2 / 3.0) * (1 + limits.split_tolerance), inner_hi = 1.5 * (1 - limits.split_tolerance);
  for (std::size_t i = 1; i < n; ++i) {
    const BarRecord &a = bars[i - 1], &b = bars[i];
    const long no = static_cast<long>(i) + 1;
    if (placeholder(b) && i > first_real && i < last_real)
      add(CheckKind::kPlaceholder, no, b.date,
          "open = high = low = close = " + price(b.close) + " and volume 0 between real bars");
    if (!sound[i - 1] || !sound[i]) continue;
    const double r = static_cast<double>(b.close) / a.close;
    // Most pairs of bars move little: nothing to look at.
    if (r > lo_move && r < hi_move && r > inner_lo && r < inner_hi && r < unit_lo && r * unit_lo > 1) continue;
    const std::string move = "close " + price(a.close) + " to " + price(b.close);
    if ((r > unit_lo && r < unit_hi) || (r * unit_hi > 1 && r * unit_lo < 1)) {
      add(CheckKind::kUnitJump, no, b.date, move + " (x" + price(r) + ": a change of units?)");
      continue;
    }
    if (const SplitRatio* s = near_split(r, limits.split_tolerance);
        s && lasting_split(bars, i, s->factor, limits.split_bars)) {
      const std::string ratio = std::to_string(s->n) + ":" + std::to_string(s->m);
      add(CheckKind::kSplit, no, b.date,
          move + " and lasting, volume the other way: a " + ratio + " split not adjusted?",
          "adjust --split " + ratio + " --before " + std::to_string(b.date) + " --in-place " + chart);
      continue;
    }
    if (std::fabs(r - 1) > limits.max_move)
      add(CheckKind::kBigMove, no, b.date, move + " (" + price((r - 1) * 100) + " %)");
  }

  // ---- against the reference: the days both charts span
  if (reference && n > 0 && !reference->empty()) {
    std::vector<std::int32_t> own;
    own.reserve(n);
    for (const BarRecord& b : bars) own.push_back(b.date);
    std::sort(own.begin(), own.end());
    own.erase(std::unique(own.begin(), own.end()), own.end());
    const std::int32_t lo = std::max(own.front(), reference->front());
    const std::int32_t hi = std::min(own.back(), reference->back());
    std::size_t i = 0, j = 0;
    while (i < own.size() || j < reference->size()) {
      const std::int32_t x = i < own.size() ? own[i] : INT32_MAX;
      const std::int32_t y = j < reference->size() ? (*reference)[j] : INT32_MAX;
      if (x == y) {
        ++i, ++j;
      } else if (x < y) {
        if (x >= lo && x <= hi) add(CheckKind::kExtraDay, 0, x, "a day the reference chart does not have");
        ++i;
      } else {
        if (y >= lo && y <= hi) add(CheckKind::kMissingDay, 0, y, "a day the reference chart has and this one not");
        ++j;
      }
    }
  }
  std::stable_sort(out.begin(), out.end(), [](const Finding& x, const Finding& y) { return x.bar < y.bar; });
  return out;
}

void list_charts(const std::string& root, std::vector<std::string>& charts, std::vector<std::string>& others) {
  struct stat st {};
  if (::stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    charts.push_back(root);
    return;
  }
  DIR* d = ::opendir(root.c_str());
  if (!d) {
    others.push_back(root);
    return;
  }
  std::vector<std::string> dirs, files;
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name.empty() || name[0] == '.') continue;
    const std::string path = root == "." ? name : (root.back() == '/' ? root + name : root + "/" + name);
    // The kind of entry from the listing itself where the file system says
    // it; a link or an unknown kind is looked up.
    bool dir = e->d_type == DT_DIR;
    if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
      struct stat s {};
      if (::stat(path.c_str(), &s) != 0) {
        others.push_back(path);
        continue;
      }
      dir = S_ISDIR(s.st_mode);
    }
    if (dir) {
      if (name != "idx") dirs.push_back(path);
      continue;
    }
    bool own = name.size() > 4 && name.compare(name.size() - 4, 4, ".bak") == 0;
    for (const char* f : kOwnFiles) own = own || strcasecmp(name.c_str(), f) == 0;
    if (!own) files.push_back(path);
  }
  ::closedir(d);
  std::sort(dirs.begin(), dirs.end());
  std::sort(files.begin(), files.end());
  for (const std::string& sub : dirs) list_charts(sub, charts, others);
  charts.insert(charts.end(), files.begin(), files.end());
}

RepairPlan plan_repair(const ChartImage& image) {
  RepairPlan plan;
  plan.result = image;
  ChartImage& c = plan.result;
  std::vector<BarRecord>& bars = c.bars;
  if (old_image(c)) {
    long widened = 0;
    for (BarRecord& b : bars)
      if (b.date <= 991231) {
        b.date = Y2000_add_century_date(b.date);
        ++widened;
      }
    plan.fixes.push_back("widened " + std::to_string(widened) + " dates of two-digit years to yyyymmdd");
  }
  if (c.trailing) {
    plan.fixes.push_back("dropped the " + std::to_string(c.trailing) + " bytes of a record cut short after bar " +
                         std::to_string(bars.size()));
    c.trailing = 0;
  }
  long backwards = 0;
  for (std::size_t i = 1; i < bars.size(); ++i) backwards += bars[i].date < bars[i - 1].date;
  if (backwards) {
    std::stable_sort(bars.begin(), bars.end(), [](const BarRecord& a, const BarRecord& b) { return a.date < b.date; });
    plan.fixes.push_back("sorted the bars by date (" + std::to_string(backwards) +
                         (backwards == 1 ? " was" : " were") + " out of order)");
  }
  // One bar per date: of the records of one date the later one stays (the
  // sort is stable, so file order holds within a date).
  std::size_t kept = 0;
  for (std::size_t i = 0; i < bars.size(); ++i) {
    if (kept > 0 && bars[kept - 1].date == bars[i].date)
      bars[kept - 1] = bars[i];
    else
      bars[kept++] = bars[i];
  }
  if (kept < bars.size()) {
    const std::size_t dropped = bars.size() - kept;
    plan.fixes.push_back("dropped " + std::to_string(dropped) + (dropped == 1 ? " earlier bar" : " earlier bars") +
                         " of repeated dates (the later record of each date stays)");
    bars.resize(kept);
  }
  if (!bars.empty() && c.header[kHeaderTypeOffset] != 'N' && header_date(c) != bars.back().date) {
    plan.fixes.push_back("header date " + std::to_string(header_date(c)) + " set to the last bar's date " +
                         std::to_string(bars.back().date));
    put_le32(c.header + kHeaderDateOffset, static_cast<std::uint32_t>(bars.back().date));
  }
  return plan;
}

Result repair_chart(const std::string& path, bool dry_run, std::vector<std::string>& fixes) {
  Result r;
  fixes.clear();
  std::optional<SafeReplace> out;
  // Under the chart's lock the chart read is the newest version.
  if (!dry_run) {
    out.emplace(path);
    if (!out->ok()) return r;  // kFailed
  }
  ChartImage image;
  std::vector<unsigned char> buffer;
  bool unreadable = false;
  const std::string why = load_chart(path, image, buffer, &unreadable);
  if (!why.empty()) {
    r.status = unreadable ? Status::kFailed : Status::kRefused;
    r.message = why;
    return r;
  }
  RepairPlan plan = plan_repair(image);
  fixes = plan.fixes;
  r.count = static_cast<long>(fixes.size());
  if (!plan.changed()) {
    r.status = Status::kNothing;
    return r;
  }
  if (dry_run) {
    r.status = Status::kDone;
    return r;
  }
  const std::vector<unsigned char> bytes = chart_image_bytes(plan.result);
  if (!out->write(bytes.data(), bytes.size()) || !out->commit()) return r;
  r.status = Status::kDone;
  return r;
}
