// The plan of a picture: panes, price range, drawing style, axis ticks and
// title.  Pure arithmetic on the bars; no drawing.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "chartdata/chartfile.h"
#include "chartdata/encodings.h"
#include "chartdata/safe_replace.h"
#include "plot/chart_plot.h"

namespace plot {

namespace {

// Margins around the panes, in pixels.
constexpr double kLeft = 12, kRight = 76, kTop = 36, kBottom = 26, kGap = 8;
// Width of one character of the axis labels (11 px sans-serif), a little
// generous, and the least room between two labels.
constexpr double kCharWidth = 7, kLabelGap = 14;

const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

int year_of(std::int32_t d) { return d / 10000; }
int month_of(std::int32_t d) { return d / 100 % 100; }
int day_of(std::int32_t d) { return d % 100; }
const char* month_name(std::int32_t d) {
  const int m = month_of(d);
  return m >= 1 && m <= 12 ? kMonths[m - 1] : "?";
}

const char* type_word(unsigned char type) {
  const char* word = chart_type_word(type);
  return word ? word : "unknown type";
}

std::string iso_date(std::int32_t d) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", year_of(d), month_of(d), day_of(d));
  return buf;
}

// Bar number of a numbered chart's bar (its date is ntod(k)).
long bar_number(std::int32_t date) { return dton(date); }

// The smallest of 1, 2, 5 times a power of ten that is at least x.
double nice_step(double x) {
  if (!(x > 0)) return 1;
  const double p = std::pow(10.0, std::floor(std::log10(x)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (m * p >= x * (1 - 1e-9)) return m * p;
  return 10 * p;
}

std::string price_label(double v, double step) {
  if (std::fabs(step) >= 1e6 || std::fabs(v) >= 1e9) {  // too wide for the axis: 2.5e+09
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.3g", v);
    return buf;
  }
  int decimals = step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
  decimals = std::clamp(decimals, 0, 6);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  if (std::strcmp(buf, "-0") == 0) return "0";
  return buf;
}

// Keeps the ticks at least `room` pixels apart, the first one first.
void thin(std::vector<Tick>& ticks, double room) {
  std::vector<Tick> out;
  for (Tick& t : ticks)
    if (out.empty() || t.at - out.back().at >= room) out.push_back(std::move(t));
  ticks = std::move(out);
}

// Ticks of the time axis of a calendar chart.  The finest of these that
// leaves room between its labels: every bar (or every 2nd, 5th, ...), the
// months (every 1, 2, 3 or 6), the years (every 1, 2, 5, 10, ...).  A
// month or year tick sits on the first bar of its period; the first bar
// shown gets none, as its period may have begun before it.
std::vector<Tick> date_ticks(const Chart& chart, const Layout& l) {
  const std::size_t n = l.shown.size();
  const auto date = [&](std::size_t i) { return chart.bars[l.shown[i]].date; };
  const auto at = [&](std::size_t i) { return l.price.x + (static_cast<double>(i) + 0.5) * l.slot; };
  const std::int32_t first = date(0), last = date(n - 1);
  const double months =
      std::abs((year_of(last) * 12.0 + month_of(last)) - (year_of(first) * 12.0 + month_of(first)));
  const double years = std::abs(year_of(last) - year_of(first));
  const double days = std::abs(dton(last) - dton(first));
  // Weeks from Monday: day numbers modulo 7 are 3 on Mondays.
  const auto week = [](std::int32_t d) { return (dton(d) - 3) / 7; };
  const double width = l.price.w;

  enum Kind { kBar, kWeek, kMonth, kYear };
  struct Level {
    Kind kind;
    int step;
    double label_chars;
  };
  static const Level levels[] = {
      {kBar, 1, 6},   {kBar, 2, 6},   {kWeek, 1, 6},   {kWeek, 2, 6},    {kMonth, 1, 4}, {kMonth, 2, 4},
      {kMonth, 3, 4}, {kMonth, 6, 4}, {kYear, 1, 4},   {kYear, 2, 4},    {kYear, 5, 4},  {kYear, 10, 4},
      {kYear, 20, 4}, {kYear, 50, 4}, {kYear, 100, 4}, {kYear, 1000, 4},
  };
  const Level* pick = &levels[std::size(levels) - 1];
  for (const Level& lv : levels) {
    const double count = lv.kind == kBar    ? n / double(lv.step)
                         : lv.kind == kWeek ? days / 7 / lv.step
                                            : (lv.kind == kMonth ? months : years) / lv.step;
    if (width / std::max(count, 1.0) >= lv.label_chars * kCharWidth + kLabelGap) {
      pick = &lv;
      break;
    }
  }
  // Month labels: the month's name, the year in January.
  const double room = (pick->kind == kMonth ? 4 : pick->label_chars) * kCharWidth + kLabelGap;

  std::vector<Tick> ticks;
  char buf[32];
  for (std::size_t i = 0; i < n; ++i) {
    const std::int32_t d = date(i);
    bool tick;
    if (pick->kind == kBar) {
      tick = i % static_cast<std::size_t>(pick->step) == 0;
    } else if (i == 0) {
      tick = false;
    } else {
      const std::int32_t p = date(i - 1);
      if (pick->kind == kWeek)
        tick = week(d) != week(p) && week(d) % pick->step == 0;
      else if (pick->kind == kMonth)
        tick =
            (year_of(d) != year_of(p) || month_of(d) != month_of(p)) && (month_of(d) - 1) % pick->step == 0;
      else
        tick = year_of(d) != year_of(p) && year_of(d) % pick->step == 0;
    }
    if (!tick) continue;
    if (pick->kind == kBar || pick->kind == kWeek)
      std::snprintf(buf, sizeof buf, "%d %s", day_of(d), month_name(d));
    else if (pick->kind == kMonth && month_of(d) != 1)
      std::snprintf(buf, sizeof buf, "%s", month_name(d));
    else
      std::snprintf(buf, sizeof buf, "%d", year_of(d));
    ticks.push_back({at(i), buf});
  }
  thin(ticks, room);
  return ticks;
}

// Ticks of a numbered chart: bar numbers that are multiples of a round
// step.
std::vector<Tick> number_ticks(const Chart& chart, const Layout& l) {
  const std::size_t n = l.shown.size();
  const long last = bar_number(chart.bars[l.shown.back()].date);
  const double chars = std::max<double>(1, std::to_string(std::max(last, 0L)).size());
  const double room = chars * kCharWidth + kLabelGap;
  const long step = std::max(1L, static_cast<long>(nice_step(n * room / l.price.w)));
  std::vector<Tick> ticks;
  for (std::size_t i = 0; i < n; ++i) {
    const long k = bar_number(chart.bars[l.shown[i]].date);
    if (k % step == 0)
      ticks.push_back({l.price.x + (static_cast<double>(i) + 0.5) * l.slot, std::to_string(k)});
  }
  thin(ticks, room);
  return ticks;
}

std::vector<Tick> price_ticks(const Layout& l) {
  const double target = std::max(2.0, l.price.h / 55);
  std::vector<Tick> ticks;
  if (l.log) {
    // 1, 2 and 5 times the powers of ten, or the powers alone when they
    // are many; a range within one decade gets linear steps.
    for (const std::vector<double>& mantissas : {std::vector<double>{1, 2, 5}, std::vector<double>{1}}) {
      ticks.clear();
      for (double p = std::pow(10.0, std::floor(std::log10(l.lo))); p <= l.hi; p *= 10)
        for (double m : mantissas)
          if (m * p >= l.lo * (1 - 1e-12) && m * p <= l.hi * (1 + 1e-12))
            ticks.push_back({price_y(l, m * p), price_label(m * p, m * p)});
      if (ticks.size() <= target + 1) break;
    }
    if (ticks.size() >= 2) {
      // Over very many decades the powers alone are still too close.
      std::vector<Tick> kept;
      for (Tick& t : ticks)
        if (kept.empty() || kept.back().at - t.at >= 16) kept.push_back(std::move(t));
      return kept;
    }
    ticks.clear();
  }
  const double step = nice_step((l.hi - l.lo) / target);
  // Each tick a whole multiple of the step, so that 0 is 0.
  for (double k = std::ceil(l.lo / step - 1e-9); k * step <= l.hi + step * 1e-9; ++k)
    ticks.push_back({price_y(l, k * step), price_label(k * step, step)});
  return ticks;
}

}  // namespace

bool format_of_name(const std::string& name, Format* format) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || name.find('/', dot) != std::string::npos) return false;
  std::string ext = name.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == "png")
    *format = Format::kPng;
  else if (ext == "svg")
    *format = Format::kSvg;
  else if (ext == "pdf")
    *format = Format::kPdf;
  else
    return false;
  return true;
}

const char* extension_of(Format format) {
  switch (format) {
    case Format::kSvg:
      return "svg";
    case Format::kPdf:
      return "pdf";
    case Format::kPng:
      break;
  }
  return "png";
}

std::string read_chart(const std::string& path, Chart& chart) {
  // Under the chart's lock: never a chart half-way through a store.
  ChartLock reading(path, ChartLock::Mode::kRead);
  if (!reading.held()) return "another program kept writing it";
  std::FILE* f = fopen_regular(path);
  if (!f) return errno == EINVAL ? "it is not a regular file" : std::strerror(errno);
  struct stat st;
  if (::fstat(fileno(f), &st) == 0 && st.st_size > static_cast<off_t>(kHeaderSize + kMaxBars * kBarSize)) {
    std::fclose(f);
    return "it holds " + std::to_string((st.st_size - kHeaderSize) / kBarSize) + " bars; a picture is drawn from at most " +
           std::to_string(kMaxBars);
  }
  unsigned char header[kHeaderSize];
  if (std::fread(header, 1, kHeaderSize, f) != kHeaderSize) {
    const bool error = std::ferror(f);
    std::fclose(f);
    return error ? "a read error" : "it is shorter than a chart header";
  }
  chart.type = header[kHeaderTypeOffset];
  chart.bars.clear();
  BarBlocks blocks(f);
  BarRecord b;
  while (blocks.next(&b)) chart.bars.push_back(b);
  const bool error = std::ferror(f);
  std::fclose(f);
  if (error) return "a read error";
  // An old chart: the upgrade would widen every date from the first bar on.
  // A numbered chart's bar numbers are not dates.
  if (chart.type != 'N' && header[kHeaderUpgradeMark] == '/' && !chart.bars.empty() &&
      chart.bars.front().date <= 991231)
    for (BarRecord& bar : chart.bars) bar.date = Y2000_add_century_date(bar.date);
  return "";
}

double price_y(const Layout& l, double v) {
  if (l.log)
    return l.price.y + (std::log(l.hi) - std::log(v)) / (std::log(l.hi) - std::log(l.lo)) * l.price.h;
  return l.price.y + (l.hi - v) / (l.hi - l.lo) * l.price.h;
}

Layout lay_out(const Chart& chart, const Options& o) {
  Layout l;
  const bool numbered = chart.type == 'N';
  l.bad = find_bad_bars(chart.bars);
  for (std::size_t i = 0; i < chart.bars.size(); ++i) {
    const std::int64_t key = numbered ? bar_number(chart.bars[i].date) : chart.bars[i].date;
    if ((o.from == 0 || key >= o.from) && (o.to == 0 || key <= o.to)) l.shown.push_back(i);
  }

  // Panes.
  const double inner = std::max(20.0, o.height - kTop - kBottom);
  bool volume = false;
  for (std::size_t i : l.shown) volume = volume || chart.bars[i].volume > 0;
  l.price = {kLeft, kTop, std::max(20.0, o.width - kLeft - kRight),
             volume ? std::floor((inner - kGap) * 0.78) : inner};
  if (volume) l.volume = {l.price.x, l.price.y + l.price.h + kGap, l.price.w, inner - kGap - l.price.h};
  if (l.shown.empty()) return l;

  // Price range: every finite price of the bars shown.
  double hi = -HUGE_VAL, lo = HUGE_VAL;
  for (std::size_t i : l.shown) {
    const BarRecord& b = chart.bars[i];
    for (float v : {b.open, b.high, b.low, b.close})
      if (std::isfinite(v)) {
        hi = std::max(hi, double(v));
        lo = std::min(lo, double(v));
      }
  }
  if (hi < lo) hi = 1, lo = 0;  // no finite price at all
  l.log = o.log;
  if (l.log && lo <= 0) {
    l.log = false;
    l.notes.push_back("prices at or below 0: the price axis is linear");
  }
  if (hi == lo) {
    const double pad = std::max(std::fabs(hi) * 0.01, 0.01);
    hi += pad;
    lo = l.log ? lo / (1 + pad / hi) : lo - pad;
  }
  l.hi = hi;
  l.lo = lo;

  l.slot = l.price.w / static_cast<double>(l.shown.size());
  l.style = l.slot >= 5 ? Style::kCandles : l.slot >= 2.5 ? Style::kBars : Style::kLine;
  l.time_ticks = numbered ? number_ticks(chart, l) : date_ticks(chart, l);
  l.price_ticks = price_ticks(l);

  const BarRecord &a = chart.bars[l.shown.front()], &z = chart.bars[l.shown.back()];
  l.title = chart.name + " \u2014 " + type_word(chart.type) + " \u2014 ";
  if (numbered)
    l.title += "bars " + std::to_string(bar_number(a.date)) + " to " + std::to_string(bar_number(z.date));
  else
    l.title += iso_date(a.date) + " to " + iso_date(z.date);
  std::string count = std::to_string(l.shown.size());
  for (int at = static_cast<int>(count.size()) - 3; at > 0; at -= 3)
    count.insert(static_cast<std::size_t>(at), ",");
  l.title += " (" + count + (l.shown.size() == 1 ? " bar)" : " bars)");
  if (l.log) l.title += " \u2014 log scale";
  return l;
}

}  // namespace plot
