// Chart pictures: the files are what their names say, the price scale puts
// the extremes on the pane's edges (read back from the pixels), and the
// axes are labelled by span (years, months, days; bar numbers).
#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "chartdata/encodings.h"
#include "plot/chart_plot.h"
#include "support/chart_files.h"
#include "support/tempdir.h"

namespace {

// Weekdays from `first` to `last`, one bar each, prices on a gentle wave.
std::vector<BarRecord> weekday_bars(std::int32_t first, std::int32_t last) {
  std::vector<BarRecord> out;
  for (int n = dton(first); n <= dton(last); ++n) {
    const int weekday = (n + 4) % 7;  // 5 Saturday, 6 Sunday
    if (weekday == 5 || weekday == 6) continue;
    const float p = 100 + 10 * std::sin(static_cast<float>(out.size()) / 9);
    out.push_back(bar(ntod(n), p, p + 1, p - 1, p + 0.5f, 1000));
  }
  return out;
}

std::vector<std::string> labels(const std::vector<plot::Tick>& ticks) {
  std::vector<std::string> out;
  for (const plot::Tick& t : ticks) out.push_back(t.label);
  return out;
}

std::string text_of(const Bytes& b) { return std::string(b.begin(), b.end()); }

TEST(Plot, EachFormatIsACompleteFileOfTheAskedSize) {
  TempDir dir("plot-files");
  plot::Chart chart{"ibm", 'D', weekday_bars(20260105, 20260227)};
  const plot::Options o{640, 400};
  const plot::Layout l = plot::lay_out(chart, o);
  struct Case {
    const char* name;
    plot::Format format;
  };
  for (const Case& c : {Case{"a.png", plot::Format::kPng}, Case{"a.SVG", plot::Format::kSvg},
                        Case{"a.pdf", plot::Format::kPdf}}) {
    SCOPED_TRACE(c.name);
    plot::Format named;
    ASSERT_TRUE(plot::format_of_name(c.name, &named));
    EXPECT_EQ(named, c.format);
    ASSERT_EQ(plot::draw(chart, l, o, c.format, dir.file(c.name)), "");
    const Bytes b = read_file(dir.file(c.name));
    const std::string s = text_of(b);
    switch (c.format) {
      case plot::Format::kPng: {
        ASSERT_EQ(s.substr(0, 8), "\x89PNG\r\n\x1a\n");
        cairo_surface_t* png = cairo_image_surface_create_from_png(dir.file(c.name).c_str());
        EXPECT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
        EXPECT_EQ(cairo_image_surface_get_width(png), 640);
        EXPECT_EQ(cairo_image_surface_get_height(png), 400);
        cairo_surface_destroy(png);
        break;
      }
      case plot::Format::kSvg:
        EXPECT_EQ(s.rfind("<?xml", 0), 0u);
        EXPECT_NE(s.find("<svg "), std::string::npos);
        EXPECT_NE(s.find("width=\"640px\" height=\"400px\""), std::string::npos) << s.substr(0, 300);
        EXPECT_EQ(s.substr(s.find_last_not_of("\n") - 5, 6), "</svg>");
        break;
      case plot::Format::kPdf:
        EXPECT_EQ(s.rfind("%PDF-", 0), 0u);
        EXPECT_NE(s.find("/MediaBox [ 0 0 640 400 ]"), std::string::npos);
        EXPECT_EQ(s.substr(s.find_last_not_of("\n") - 4, 5), "%%EOF");
        break;
    }
  }
  for (const char* name : {"a.jpg", "png", "a.png/x", "a."}) {
    plot::Format f;
    EXPECT_FALSE(plot::format_of_name(name, &f)) << name;
  }
}

// The price pane of a PNG: rows of its coloured pixels (bars, candles, the
// range of a column; grid, frame and text are grey) and the column of the
// topmost and bottommost one.
struct Ink {
  int top = -1, bottom = -1, top_x = -1, bottom_x = -1;
};
Ink ink_in_pane(const std::string& png, const plot::Rect& pane) {
  Ink ink;
  cairo_surface_t* s = cairo_image_surface_create_from_png(png.c_str());
  EXPECT_EQ(cairo_surface_status(s), CAIRO_STATUS_SUCCESS);
  const unsigned char* data = cairo_image_surface_get_data(s);
  const int stride = cairo_image_surface_get_stride(s);
  for (int y = static_cast<int>(pane.y) - 3; y < static_cast<int>(pane.y + pane.h) + 3; ++y)
    for (int x = static_cast<int>(pane.x); x < static_cast<int>(pane.x + pane.w); ++x) {
      const unsigned char* p = data + y * stride + x * 4;  // B, G, R, unused
      if (p[0] == p[1] && p[1] == p[2]) continue;
      if (ink.top < 0) ink.top = y, ink.top_x = x;
      if (y > ink.bottom) ink.bottom = y, ink.bottom_x = x;
    }
  cairo_surface_destroy(s);
  return ink;
}

TEST(Plot, HighestHighAtThePaneTopAndLowestLowAtItsBottom) {
  TempDir dir("plot-pixels");
  struct Case {
    std::size_t bars;
    plot::Style style;
    bool log;
  };
  for (const Case& c : {Case{30, plot::Style::kCandles, false}, Case{300, plot::Style::kBars, false},
                        Case{30000, plot::Style::kLine, false}, Case{300, plot::Style::kBars, true},
                        Case{30000, plot::Style::kLine, true}}) {
    SCOPED_TRACE(std::to_string(c.bars) + (c.log ? " bars, log" : " bars"));
    plot::Chart chart{"x", 'D', {}};
    const std::size_t high_at = c.bars / 3, low_at = 2 * c.bars / 3;
    for (std::size_t i = 0; i < c.bars; ++i) {
      const float p = 50 + 5 * std::sin(static_cast<float>(i) / 7);
      chart.bars.push_back(bar(ntod(dton(19000101) + static_cast<int>(i)), p, p + 1, p - 1, p, 10));
    }
    chart.bars[high_at].high = 80;
    chart.bars[low_at].low = 20;
    const plot::Options o{900, 500, c.log};
    const plot::Layout l = plot::lay_out(chart, o);
    EXPECT_EQ(l.style, c.style);
    EXPECT_EQ(l.log, c.log);
    EXPECT_DOUBLE_EQ(l.hi, 80);
    EXPECT_DOUBLE_EQ(l.lo, 20);
    ASSERT_EQ(plot::draw(chart, l, o, plot::Format::kPng, dir.file("p.png")), "");
    const Ink ink = ink_in_pane(dir.file("p.png"), l.price);
    EXPECT_EQ(ink.top, static_cast<int>(l.price.y));
    EXPECT_EQ(ink.bottom, static_cast<int>(l.price.y + l.price.h) - 1);
    const auto x_of = [&](std::size_t i) { return l.price.x + (static_cast<double>(i) + 0.5) * l.slot; };
    EXPECT_NEAR(ink.top_x, x_of(high_at), l.slot / 2 + 1.5);
    EXPECT_NEAR(ink.bottom_x, x_of(low_at), l.slot / 2 + 1.5);
  }
}

TEST(Plot, DateAxisIsLabelledByTheSpanShown) {
  struct Case {
    std::int32_t first, last;
    char level;  // y, m or d: what a label names
    std::vector<std::string> want;
  };
  const Case cases[] = {
      // Thirty years: every second year.
      {19960102,
       20251231,
       'y',
       {"1998", "2000", "2002", "2004", "2006", "2008", "2010", "2012", "2014", "2016", "2018", "2020",
        "2022", "2024"}},
      // One year: the months.
      {20250101,
       20251231,
       'm',
       {"Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"}},
      // Two weeks: every day.
      {20260302,
       20260313,
       'd',
       {"2 Mar", "3 Mar", "4 Mar", "5 Mar", "6 Mar", "9 Mar", "10 Mar", "11 Mar", "12 Mar", "13 Mar"}},
  };
  const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first);
    const plot::Chart chart{"ibm", 'D', weekday_bars(c.first, c.last)};
    const plot::Layout l = plot::lay_out(chart, plot::Options{});
    EXPECT_EQ(labels(l.time_ticks), c.want);
    // Each label sits over the first bar of the year, month or day it names.
    for (const plot::Tick& t : l.time_ticks) {
      const auto i = static_cast<std::size_t>((t.at - l.price.x) / l.slot);
      ASSERT_LT(i, chart.bars.size());
      const std::int32_t d = chart.bars[i].date, before = i ? chart.bars[i - 1].date : 0;
      if (c.level == 'y') {
        EXPECT_EQ(t.label, std::to_string(d / 10000));
        EXPECT_NE(d / 10000, before / 10000) << d;
      } else if (c.level == 'm') {
        EXPECT_EQ(t.label, months[d / 100 % 100 - 1]);
        EXPECT_NE(d / 100, before / 100) << d;
      } else {
        EXPECT_EQ(t.label, std::to_string(d % 100) + " " + months[d / 100 % 100 - 1]);
      }
    }
    EXPECT_NE(l.title.find("ibm \u2014 daily \u2014 "), std::string::npos) << l.title;
  }
  // --from and --to choose the bars; the title gives the first and last shown.
  const plot::Chart chart{"ibm", 'D', weekday_bars(19960102, 20251231)};
  const plot::Layout l = plot::lay_out(chart, plot::Options{1200, 700, false, 20260302, 0});
  EXPECT_TRUE(l.shown.empty());
  const plot::Layout two = plot::lay_out(chart, plot::Options{1200, 700, false, 20250107, 20250120});
  EXPECT_EQ(two.shown.size(), 10u);
  EXPECT_NE(two.title.find("2025-01-07 to 2025-01-20 (10 bars)"), std::string::npos) << two.title;
}

TEST(Plot, NumberedChartHasABarNumberAxis) {
  TempDir dir("plot-numbered");
  std::vector<BarRecord> bars;
  for (int k = 0; k < 1000; ++k) bars.push_back(bar(ntod(k), 10, 11, 9, 10.5f));
  // Written as compression writes it: the header marks a chart whose dates
  // may be two-digit years, but bar numbers are never widened.
  write_file(dir.file("n"), chart_bytes('N', 20260105, bars));
  plot::Chart chart;
  chart.name = "n";
  ASSERT_EQ(plot::read_chart(dir.file("n"), chart), "");
  ASSERT_EQ(chart.type, 'N');
  EXPECT_EQ(chart.bars.back().date, ntod(999));
  const plot::Layout l = plot::lay_out(chart, plot::Options{});
  std::vector<std::string> want;
  for (int k = 0; k < 1000; k += 50) want.push_back(std::to_string(k));
  EXPECT_EQ(labels(l.time_ticks), want);
  EXPECT_NE(l.title.find("numbered \u2014 bars 0 to 999 (1,000 bars)"), std::string::npos) << l.title;
  // --from and --to are bar numbers here.
  EXPECT_EQ(plot::lay_out(chart, plot::Options{1200, 700, false, 100, 199}).shown.size(), 100u);
}

}  // namespace
