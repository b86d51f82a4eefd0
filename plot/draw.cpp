// Drawing a planned picture with Cairo into PNG, SVG or PDF.  The bytes go
// to a temporary file that replaces the target only once the picture is
// complete.
#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "chartdata/safe_replace.h"
#include "plot/chart_plot.h"

namespace plot {

namespace {

struct Rgb {
  double r, g, b;
};
// Colours that read on screen and on paper, in colour or in grey: rising
// and falling bars differ in lightness as well as in hue.
constexpr Rgb kInk{0.13, 0.13, 0.13};     // text
constexpr Rgb kFrame{0.69, 0.69, 0.69};   // pane borders
constexpr Rgb kGrid{0.92, 0.92, 0.92};    // grid lines
constexpr Rgb kUp{0.11, 0.50, 0.23};      // close at or above open
constexpr Rgb kDown{0.78, 0.16, 0.16};    // close below open
constexpr Rgb kRange{0.62, 0.70, 0.82};   // range of a pixel column
constexpr Rgb kClose{0.12, 0.23, 0.45};   // close line
constexpr Rgb kVolume{0.56, 0.64, 0.68};  // volume bars
constexpr Rgb kBad{0.85, 0.26, 0.08};     // bad-bar marks

struct SurfaceFree {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextFree {
  void operator()(cairo_t* c) const { cairo_destroy(c); }
};

// Where the picture's bytes go, and the question whether to stop.
struct Sink {
  SafeReplace* out;
  bool (*stop)();
  bool stopped = false;
};

cairo_status_t write_out(void* closure, const unsigned char* data, unsigned int length) {
  Sink* sink = static_cast<Sink*>(closure);
  if (sink->stop && sink->stop()) {
    sink->stopped = true;
    return CAIRO_STATUS_WRITE_ERROR;
  }
  return sink->out->write(data, length) ? CAIRO_STATUS_SUCCESS : CAIRO_STATUS_WRITE_ERROR;
}

void colour(cairo_t* cr, Rgb c, double alpha = 1) { cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha); }

// A filled rectangle of at least one pixel each way.
void box(cairo_t* cr, double x, double y, double w, double h) {
  cairo_rectangle(cr, x, y, std::max(w, 1.0), std::max(h, 1.0));
  cairo_fill(cr);
}

void text(cairo_t* cr, const std::string& s, double x, double y, double align) {
  cairo_text_extents_t e;
  cairo_text_extents(cr, s.c_str(), &e);
  cairo_move_to(cr, x - align * e.x_advance, y);
  cairo_show_text(cr, s.c_str());
}

std::string volume_label(double v) {
  char buf[32];
  if (v >= 1e9)
    std::snprintf(buf, sizeof buf, "%.1fG", v / 1e9);
  else if (v >= 1e6)
    std::snprintf(buf, sizeof buf, "%.1fM", v / 1e6);
  else if (v >= 1e3)
    std::snprintf(buf, sizeof buf, "%.1fk", v / 1e3);
  else
    std::snprintf(buf, sizeof buf, "%.0f", v);
  return buf;
}

bool finite_bar(const BarRecord& b) {
  return std::isfinite(b.open) && std::isfinite(b.high) && std::isfinite(b.low) && std::isfinite(b.close);
}

// Lowest and highest finite price of a bar.
bool extent(const BarRecord& b, double& lo, double& hi) {
  bool any = false;
  for (float v : {b.open, b.high, b.low, b.close})
    if (std::isfinite(v)) {
      lo = any ? std::min(lo, double(v)) : v;
      hi = any ? std::max(hi, double(v)) : v;
      any = true;
    }
  return any;
}

// Draws the bars and their volumes; returns the volume at the top of the
// volume pane.
double draw_bars(cairo_t* cr, const Chart& chart, const Layout& l, bool (*stop)()) {
  // Asked every 256 columns or bars: a signal is answered within moments.
  auto stopped = [stop](std::size_t i) { return i % 256 == 255 && stop && stop(); };
  const auto y = [&](double v) { return price_y(l, v); };
  const std::size_t n = l.shown.size();
  const double vtop = l.volume.y, vh = l.volume.h;
  double vmax = 0;
  for (std::size_t i : l.shown) vmax = std::max(vmax, double(chart.bars[i].volume));

  if (l.style == Style::kLine) {
    // One column per pixel: the range of its bars, their last close and
    // their mean volume.
    const std::size_t columns = std::max<std::size_t>(1, static_cast<std::size_t>(l.price.w));
    std::vector<double> lo(columns, NAN), hi(columns, NAN), close(columns, NAN), vol(columns, 0),
        count(columns, 0);
    for (std::size_t p = 0; p < n; ++p) {
      const BarRecord& b = chart.bars[l.shown[p]];
      const std::size_t c = std::min(columns - 1, p * columns / n);
      double blo, bhi;
      if (extent(b, blo, bhi)) {
        lo[c] = std::isnan(lo[c]) ? blo : std::min(lo[c], blo);
        hi[c] = std::isnan(hi[c]) ? bhi : std::max(hi[c], bhi);
      }
      if (std::isfinite(b.close)) close[c] = b.close;
      vol[c] += std::max(0.0, double(b.volume));
      ++count[c];
    }
    vmax = 0;
    for (std::size_t c = 0; c < columns; ++c) {
      if (count[c] > 0) vol[c] /= count[c];
      vmax = std::max(vmax, vol[c]);
    }
    if (vmax > 0 && vh > 0) {
      colour(cr, kVolume);
      for (std::size_t c = 0; c < columns && !stopped(c); ++c)
        if (vol[c] > 0) box(cr, l.price.x + c, vtop + vh - vol[c] / vmax * vh, 1, vol[c] / vmax * vh);
    }
    colour(cr, kRange);
    for (std::size_t c = 0; c < columns && !stopped(c); ++c)
      if (!std::isnan(hi[c])) box(cr, l.price.x + c, y(hi[c]), 1, y(lo[c]) - y(hi[c]));
    cairo_save(cr);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
    cairo_set_line_width(cr, 1.2);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    colour(cr, kClose);
    // Stroked a stretch at a time: a long zigzag can take Cairo seconds,
    // and a signal is answered between stretches.
    constexpr int kStretch = 256;
    bool pen = false;
    int drawn = 0;
    for (std::size_t c = 0; c < columns; ++c) {
      if (std::isnan(close[c])) continue;
      if (pen)
        cairo_line_to(cr, l.price.x + c + 0.5, y(close[c]));
      else
        cairo_move_to(cr, l.price.x + c + 0.5, y(close[c]));
      pen = true;
      if (++drawn % kStretch == 0) {
        cairo_stroke(cr);
        if (stop && stop()) break;
        cairo_move_to(cr, l.price.x + c + 0.5, y(close[c]));
      }
    }
    cairo_stroke(cr);
    cairo_restore(cr);
    return vmax;
  }

  const double body = std::max(1.0, std::floor(l.slot * 0.6));
  const double tick = std::max(1.0, std::floor(l.slot * 0.35));
  for (std::size_t p = 0; p < n && !stopped(p); ++p) {
    const BarRecord& b = chart.bars[l.shown[p]];
    const double x = std::floor(l.price.x + (static_cast<double>(p) + 0.5) * l.slot);
    if (vmax > 0 && vh > 0 && b.volume > 0) {
      colour(cr, kVolume);
      box(cr, x - std::floor(body / 2), vtop + vh - b.volume / vmax * vh, body, b.volume / vmax * vh);
    }
    double lo, hi;
    if (!extent(b, lo, hi)) continue;
    const bool whole = finite_bar(b);
    colour(cr, !whole || b.close >= b.open ? kUp : kDown);
    box(cr, x, y(hi), 1, y(lo) - y(hi));  // high to low
    if (!whole) continue;
    const double yo = y(b.open), yc = y(b.close);
    if (l.style == Style::kCandles) {
      box(cr, x - std::floor(body / 2), std::min(yo, yc), body, std::fabs(yo - yc));
    } else {
      box(cr, x - tick, std::floor(yo), tick, 1);
      box(cr, x + 1, std::floor(yc), tick, 1);
    }
  }
  return vmax;
}

void draw_picture(cairo_t* cr, const Chart& chart, const Layout& l, const Options& o) {
  const double bottom = l.volume.h > 0 ? l.volume.y + l.volume.h : l.price.y + l.price.h;
  colour(cr, {1, 1, 1});
  cairo_paint(cr);
  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  cairo_set_font_size(cr, 14);
  colour(cr, kInk);
  text(cr, l.title, l.price.x, 22, 0);

  // Bad bars among those shown: where they are.
  std::vector<double> marks;
  for (const BadBar& bad : l.bad) {
    const auto it = std::lower_bound(l.shown.begin(), l.shown.end(), bad.index);
    if (it != l.shown.end() && *it == bad.index)
      marks.push_back(l.price.x + (static_cast<double>(it - l.shown.begin()) + 0.5) * l.slot);
  }
  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, 11);
  if (!marks.empty()) {
    colour(cr, kBad);
    text(cr, std::to_string(marks.size()) + (marks.size() == 1 ? " bad bar marked" : " bad bars marked"),
         o.width - 8, 22, 1);
  }

  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  colour(cr, kGrid);
  for (const Tick& t : l.price_ticks) box(cr, l.price.x, std::floor(t.at), l.price.w, 1);
  for (const Tick& t : l.time_ticks) box(cr, std::floor(t.at), l.price.y, 1, bottom - l.price.y);
  // A band behind each bad bar, a triangle above it.
  colour(cr, kBad, 0.3);
  const double band = std::min(std::max(3.0, std::floor(l.slot)), std::floor(l.slot * 0.6) + 8);
  for (double x : marks) box(cr, std::floor(x) - std::floor(band / 2), l.price.y, band, bottom - l.price.y);

  const double vmax = l.shown.empty() ? 0 : draw_bars(cr, chart, l, o.stop);

  colour(cr, kBad);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
  for (double x : marks) {
    cairo_move_to(cr, std::floor(x) + 0.5, l.price.y - 2);
    cairo_line_to(cr, std::floor(x) + 0.5 - 4, l.price.y - 9);
    cairo_line_to(cr, std::floor(x) + 0.5 + 4, l.price.y - 9);
    cairo_close_path(cr);
    cairo_fill(cr);
  }

  // Pane borders just outside the panes, so the panes' own pixels are the
  // bars'.
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_set_line_width(cr, 1);
  colour(cr, kFrame);
  for (const Rect& r : {l.price, l.volume})
    if (r.h > 0) {
      cairo_rectangle(cr, r.x - 0.5, r.y - 0.5, r.w + 1, r.h + 1);
      cairo_stroke(cr);
    }

  // Labels.
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
  colour(cr, kInk);
  const double right = l.price.x + l.price.w + 6;
  for (const Tick& t : l.price_ticks) text(cr, t.label, right, t.at + 4, 0);
  for (const Tick& t : l.time_ticks)
    if (t.at - l.price.x >= 12 && l.price.x + l.price.w - t.at >= 12)
      text(cr, t.label, t.at, bottom + 16, 0.5);
  if (l.volume.h > 0 && vmax > 0) {
    text(cr, volume_label(vmax), right, l.volume.y + 9, 0);
    text(cr, "volume", right, l.volume.y + 23, 0);
  }
  if (l.shown.empty())
    text(cr, "no bars in this range", l.price.x + l.price.w / 2, l.price.y + l.price.h / 2, 0.5);
}

}  // namespace

std::string draw(const Chart& chart, const Layout& layout, const Options& o, Format format,
                 const std::string& path) {
  SafeReplace out(path);
  if (!out.ok()) return "cannot create it";
  Sink sink{&out, o.stop};
  std::unique_ptr<cairo_surface_t, SurfaceFree> surface;
  switch (format) {
    case Format::kPng:
      surface.reset(cairo_image_surface_create(CAIRO_FORMAT_RGB24, o.width, o.height));
      break;
    case Format::kSvg:
      surface.reset(cairo_svg_surface_create_for_stream(write_out, &sink, o.width, o.height));
      cairo_svg_surface_set_document_unit(surface.get(), CAIRO_SVG_UNIT_PX);
      break;
    case Format::kPdf:
      surface.reset(cairo_pdf_surface_create_for_stream(write_out, &sink, o.width, o.height));
      break;
  }
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
    return cairo_status_to_string(cairo_surface_status(surface.get()));
  {
    std::unique_ptr<cairo_t, ContextFree> cr(cairo_create(surface.get()));
    draw_picture(cr.get(), chart, layout, o);
    if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) return cairo_status_to_string(cairo_status(cr.get()));
  }
  if (format == Format::kPng) {
    const cairo_status_t st = cairo_surface_write_to_png_stream(surface.get(), write_out, &sink);
    if (sink.stopped) return "stopped by a signal";
    if (st != CAIRO_STATUS_SUCCESS) return cairo_status_to_string(st);
  }
  cairo_surface_finish(surface.get());
  if (sink.stopped) return "stopped by a signal";
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
    return cairo_status_to_string(cairo_surface_status(surface.get()));
  surface.reset();
  if (!out.commit()) return "cannot write it (disk full?)";
  return "";
}

}  // namespace plot
