// Pictures of charts: a price pane (candlesticks, OHLC bars or a close line
// over the range of each pixel column, by the room there is), a volume pane
// below it, a date axis (a bar-number axis for numbered charts), a price
// axis (linear or logarithmic) and a title.  Bad bars are marked.  Written
// as PNG, SVG or PDF with Cairo; the file is replaced only when complete.
//
// lay_out() decides everything but the pixels (panes, scale, ticks, title),
// so that what a picture shows can be checked without reading it back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "chartdata/bar.h"
#include "chartdata/bar_checks.h"

namespace plot {

enum class Format { kPng, kSvg, kPdf };

// The format a file name's extension names (.png, .svg or .pdf, any case);
// false when it names none.
bool format_of_name(const std::string& name, Format* format);
// "png", "svg", "pdf".
const char* extension_of(Format format);

struct Chart {
  std::string name;          // shown in the title
  unsigned char type = 'D';  // header byte 116: D, W, M, N (or anything else)
  std::vector<BarRecord> bars;
};

// Reads a chart file: its type and its bars (a partial last record is left
// out).  The yymmdd dates of an old chart are widened as the upgrade widens
// them, in memory only: the file is not changed.  "" on success, else why
// it could not be read.
// A chart of more than kMaxBars bars is refused (it would not fit a
// picture's work in memory and time); a file that is not a regular file
// too.  Read under the chart's lock.
inline constexpr std::size_t kMaxBars = 2'000'000;
std::string read_chart(const std::string& path, Chart& chart);

struct Options {
  int width = 1200, height = 700;  // pixels (points for SVG and PDF)
  bool log = false;                // logarithmic price axis
  // Bars shown: dates from..to (yyyymmdd; bar numbers in a numbered chart);
  // 0 = open end.
  std::int64_t from = 0, to = 0;
  // Asked while the picture is written (SIGINT, SIGTERM): true stops it,
  // and nothing is written.
  bool (*stop)() = nullptr;
};

struct Rect {
  double x = 0, y = 0, w = 0, h = 0;
};

enum class Style { kCandles, kBars, kLine };

struct Tick {
  double at = 0;  // x (time axis) or y (price axis) in pixels
  std::string label;
};

struct Layout {
  Rect price;   // the price pane: `hi` at its top edge, `lo` at its bottom edge
  Rect volume;  // the volume pane; h == 0 when the bars hold no volume
  double hi = 0, lo = 0;
  bool log = false;  // the price axis is logarithmic
  Style style = Style::kLine;
  std::vector<std::size_t> shown;  // indexes of the bars drawn, left to right
  double slot = 0;                 // pixels per bar
  std::vector<Tick> time_ticks, price_ticks;
  std::string title;
  std::vector<BadBar> bad;         // bad bars of the whole chart
  std::vector<std::string> notes;  // what was drawn other than asked
};

// The picture's plan.  An empty `shown` means no bar lies in the range.
Layout lay_out(const Chart& chart, const Options& options);

// The y of a price in the price pane.
double price_y(const Layout& layout, double price);

// Draws the chart into `path`, replacing it only when the picture is
// complete.  "" on success, else why not.
std::string draw(const Chart& chart, const Layout& layout, const Options& options, Format format,
                 const std::string& path);

}  // namespace plot
