// Geometry, mode, colour table and error reporting of the screen library:
// the parts of the display set-up that do not depend on which backend
// draws.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "screen/backend.h"
#include "screen/headless.h"
#include "screen/screen.h"

int maxrow = 30;
int maxcol = 79;
int scrwidth = 632, scrheight = 450;
int pixelsperrow = 15, pixelspercol = 8;
char scr_mode = 'P';
signed char scr_attr = 7;
unsigned int HPXC = 0, VPXC = 0;
unsigned long colour_seg[1280];

namespace {

ScreenBackend* g_backend = nullptr;
ScreenErrorReporter g_reporter = nullptr;
bool g_error_pending = false;
bool g_reporting = false;

struct GeometryRow {
  int screen_width;  // 0: any other width
  ScreenGeometry first, fallback;
};

// Font and window size by the width of the X screen.  maxcol is 79 in
// every row; the cell size follows from the window size and maxrow.
constexpr GeometryRow kGeometry[] = {
    {640,
     {"-*-lucidatypewriter-medium-r-*-*-14-100-100-100-m-80-*", 30, 632, 450},
     {"-*-lucidatypewriter-*-*-*-*-12-120-75-75-m-70-*", 33, 560, 429}},
    {800,
     {"-*-lucidatypewriter-bold-r-*-*-17-120-100-100-m-100-*", 30, 790, 540},
     {"-*-lucidatypewriter-*-*-*-*-14-140-75-75-m-90-*", 36, 720, 540}},
    {1024,
     {"-*-lucidatypewriter-bold-r-*-*-20-140-*-*-m-120-*", 31, 960, 682},
     {"-*-lucidatypewriter-*-*-*-*-19-190-75-75-m-110-*", 33, 880, 693}},
    {1280,
     {"-*-lucidatypewriter-*-*-*-*-24-240-75-75-m-140-*", 38, 1120, 950},
     {"-*-lucidatypewriter-bold-r-*-*-26-190-100-100-m-159-*", 35, 1272, 945}},
    {1600,
     {"-*-lucidatypewriter-bold-r-*-*-34-*-*-*-*", 31, 1580, 1116},
     {"-*-helvetica-bold-r-*-*-34-240-*-*-*", 31, 1580, 1116}},
    {0,
     {"-*-lucidatypewriter-medium-r-*-*-14-100-100-100-m-80-*", 30, 632, 450},
     {"-*-*-*-*-*-*-12-*-*-*-m-*-*", 33, 560, 429}},
};

// The 16 colours, looked up by name in the colour database.
constexpr const char* kColourNames[16] = {
    "black",   "cyan",          "aquamarine", "SkyBlue",     "DodgerBlue", "LightSalmon",
    "Orange",  "tomato",        "Violet",     "PaleVioletRed", "thistle",  "GreenYellow",
    "yellow",  "pale goldenrod", "bisque",    "white"};

}  // namespace

void screen_set_backend(ScreenBackend* backend) { g_backend = backend; }
ScreenBackend* screen_backend() { return g_backend; }

const ScreenGeometry& screen_geometry_for(int screen_width, bool fallback) {
  for (const auto& row : kGeometry) {
    if (row.screen_width == screen_width || row.screen_width == 0)
      return fallback ? row.fallback : row.first;
  }
  return kGeometry[0].first;  // not reached: the last row matches any width
}

void screen_apply_geometry(const ScreenGeometry& g) {
  maxcol = 79;
  maxrow = g.maxrow;
  scrwidth = g.width;
  scrheight = g.height;
}

void screen_set_error_reporter(ScreenErrorReporter reporter) { g_reporter = reporter; }

void screen_note_error() { g_error_pending = true; }

void screen_service_errors() {
  if (!g_error_pending || g_reporting) return;
  g_error_pending = false;
  g_reporting = true;
  static const char kMessage[] = "Minor Xwindow error. Is the screen centred? ... attempt to re-centre.";
  if (g_reporter)
    g_reporter(kMessage);
  else
    std::fprintf(stderr, "%s\n", kMessage);
  resize_settings();
  g_reporting = false;
}

// ---- Mode --------------------------------------------------------------

char* VirtualChars = nullptr;
void screen_reset_position();  // text.cpp

void scr_setmode(int mode) {
  screen_reset_position();
  if (mode != 80) {
    Xclosedis();
    std::exit(9);
  }
  pixelsperrow = static_cast<int>(static_cast<unsigned>(scrheight) / static_cast<unsigned>(maxrow));
  pixelspercol = static_cast<int>(static_cast<unsigned>(scrwidth) / static_cast<unsigned>(maxcol));
  scr_mode = 80;
  std::free(VirtualChars);
  const std::size_t cells = static_cast<std::size_t>(maxcol) * static_cast<std::size_t>(maxrow);
  VirtualChars = static_cast<char*>(std::malloc(cells + 1));
  if (VirtualChars) {
    std::memset(VirtualChars, ' ', cells);
    VirtualChars[cells] = '\0';
  }
  scr_clr();
}

void resize_settings(int, int) {
  if (!g_backend) return;
  g_backend->move_resize(pixelspercol / 2, 2 * pixelsperrow - pixelsperrow / 4, scrwidth, scrheight);
}

void Xclosedis() {
  if (g_backend) g_backend->close();
}

// ---- Colour table --------------------------------------------------------

namespace {

// Allocates the colour `factor_num / factor_den` of `from` (each 16-bit
// value scaled with integer division) through a "rgb:" colour text.
bool next_shade(ScreenBackend& b, Rgb16& from, int shift_only, unsigned long& pixel) {
  auto scale = [&](unsigned short v) -> unsigned {
    return shift_only ? static_cast<unsigned>(v) >> 1 : static_cast<unsigned>(v) * 8u / 10u;
  };
  char spec[40];
  std::snprintf(spec, sizeof spec, "rgb:%04x/%04x/%04x", scale(from.red), scale(from.green),
                scale(from.blue));
  Rgb16 parsed;
  if (!b.parse_colour(spec, parsed)) return false;
  b.alloc_colour(parsed, pixel);
  from = parsed;
  return true;
}

}  // namespace

void load_colour_map() {
  if (!g_backend) return;
  ScreenBackend& b = *g_backend;
  for (int i = 0; i < 16; ++i) {
    const char* name = kColourNames[i];
    unsigned long* bright = &colour_seg[BRIGHT * 256 + i];
    unsigned long* medium = &colour_seg[MEDIUM * 256 + i];
    unsigned long* dull = &colour_seg[DULL * 256 + i];
    unsigned long* dark = &colour_seg[DARK * 256 + i];
    Rgb16 rgb;
    if (!b.lookup_colour(name, rgb)) {
      std::printf("\nXLookupColor failed: %s. So, using white instead.", name);
      *bright = *medium = *dull = *dark = b.white_pixel();
      continue;
    }
    unsigned long pixel = 0;
    b.alloc_colour(rgb, pixel);
    *bright = pixel;
    if (!next_shade(b, rgb, 0, pixel)) {
      std::printf("\nXLookupColor failed: %s. So, using BRIGHT for all segments instead.", name);
      *medium = *dull = *dark = *bright;
      continue;
    }
    *medium = pixel;
    if (!next_shade(b, rgb, 0, pixel)) {
      std::printf("\nXLookupColor failed: %s. So, using MEDIUM for DULL & DARK segments instead.",
                  name);
      *dull = *dark = *medium;
      continue;
    }
    *dull = pixel;
    if (!next_shade(b, rgb, 1, pixel)) {
      std::printf("\nXLookupColor failed: %s. So, using DULL for DARK segment instead.", name);
      *dark = *dull;
      continue;
    }
    *dark = pixel;
  }
  std::fflush(stdout);
}

char srchcolour(unsigned long pixel, short* out) {
  for (int shade = BRIGHT; shade <= DARK; ++shade) {
    for (int c = 0; c < 16; ++c) {
      if (colour_seg[shade * 256 + c] == pixel) {
        if (out) *out = static_cast<short>((shade << 8) | c);
        return static_cast<char>(c);
      }
    }
  }
  return 16;
}

// Programs linked without the X11 backend (tests of start-up code) get the
// in-memory screen; the X11 backend's scr_setup takes precedence.
__attribute__((weak)) void scr_setup(const char*) { headless_start(640); }
