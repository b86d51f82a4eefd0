// Text cells, clearing, pixels, highlighting and screen images.  All
// drawing goes through the backend; the shadow text (VirtualChars) keeps
// the character last written to every cell.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "screen/backend.h"
#include "screen/screen.h"

namespace {

int currentrow = 0, currentcol = 0;
int currentrow16 = 0, currentcol16 = 0;

ScreenSnapshot FULLimage;           // the one image of Xsave
ScreenImage* image_full = nullptr;  // pixel-reading cache of full_getpixeg_rect

void set_position(int row, int col) {
  currentrow = row;
  currentcol = col;
  currentrow16 = 16 * row;
  currentcol16 = 16 * col;
}

void set_column(int col) {
  currentcol = col;
  currentcol16 = 16 * col;
}

// Cells from column `col` to the window's right edge.  The grid has maxcol
// columns, but a window 80 cells wide has one more: clearing paints it too,
// so no unpainted strip stays at the right edge.
int cells_to_edge(int col) {
  if (pixelspercol <= 0) return maxcol - col;
  const int px = scrwidth - col * pixelspercol;
  return std::max((px + pixelspercol - 1) / pixelspercol, maxcol - col);
}

unsigned long bright(int c) { return colour_seg[BRIGHT * 256 + (c & 15)]; }
unsigned long dark(int c) { return colour_seg[DARK * 256 + (c & 7)]; }

unsigned long text_fg() { return bright(scr_attr & 15); }
unsigned long text_bg() {
  return (scr_attr & 0x80) ? dark((scr_attr >> 4) & 7) : dark(0);
}

// A colour number: below 256 the BRIGHT shade of its low four bits, else an
// entry of the colour table.  Numbers past the table (the menus pass values
// with the high byte all ones) take the BRIGHT shade of their low four bits.
unsigned long colour_number_pixel(int c) {
  if (c < 256 || c >= 1280) return bright(c & 15);
  return colour_seg[c];
}

int baseline_of_row(int row) { return row * pixelsperrow + (8 * pixelsperrow) / 10; }

// Draws n characters at the current position (no shadow update).
void draw_at_current(const char* s, int n, unsigned long fg, unsigned long bg) {
  ScreenBackend* b = screen_backend();
  if (!b || n <= 0) return;
  const int x = (currentcol16 * pixelspercol) / 16;
  const int row = currentrow16 / 16;
  b->draw_text(x, row * pixelsperrow, baseline_of_row(row), s, n, fg, bg);
}

bool shadow_cell_ok(int row, int col) {
  return VirtualChars && row >= 0 && row < maxrow && col >= 0 && col < maxcol;
}

// Stores characters into the shadow text from the current position,
// advancing the current column and stopping at maxcol.
void store_shadow(const char* s, int n) {
  for (int i = 0; i < n && currentcol < maxcol; ++i) {
    if (shadow_cell_ok(currentrow, currentcol))
      VirtualChars[currentrow * maxcol + currentcol] = s[i];
    set_column(currentcol + 1);
  }
}

void flush() {
  if (ScreenBackend* b = screen_backend()) b->flush();
}

// Spaces over `count` cells from (row, col) in the pixel colour bg; the
// shadow text gets spaces for the cells inside the grid.
void blank_cells(int row, int col, int count, unsigned long bg) {
  ScreenBackend* b = screen_backend();
  if (count <= 0) return;
  if (b) {
    const int paint = col + count >= maxcol ? std::max(count, cells_to_edge(col)) : count;
    std::string spaces(static_cast<std::size_t>(paint), ' ');
    b->draw_text(col * pixelspercol, row * pixelsperrow, baseline_of_row(row), spaces.data(), paint,
                 text_fg(), bg);
  }
  for (int c = std::max(col, 0); c < col + count && c < maxcol; ++c)
    if (shadow_cell_ok(row, c)) VirtualChars[row * maxcol + c] = ' ';
}

}  // namespace

void screen_reset_position() { set_position(0, 0); }

void screen_reset_images() {
  FULLimage = {};
  delete image_full;
  image_full = nullptr;
}

// ---- Position and attribute --------------------------------------------

void scr_rowcol(int row, int col) { set_position(row, col); }
int scr_srow() { return currentrow; }
int scr_scol() { return currentcol; }
void scr_cursoff() {}
void scr_curson() {}

void colour(unsigned a) {
  scr_attr = static_cast<signed char>(0x80 | ((a & 7) << 4) | (a & 15));
}

// ---- Text ----------------------------------------------------------------

void putsn(const char* text, int row, int col, int n) {
  if (!text) return;
  if (row >= 0 && col >= 0) set_position(row, col);
  const int start_n = n;
  const int start_col = currentcol;
  if (n < 0) n = static_cast<int>(std::strlen(text));
  screen_service_errors();

  int call_row = currentrow;
  int call_col = currentcol;
  const char* p = text;
  const char* const end = text + n;
  while (p < end) {
    const char* q = p;
    while (q < end && *q != '\r' && *q != '\n') ++q;
    const int seg = static_cast<int>(q - p);
    if (call_row < maxrow && call_col < maxcol && seg > 0) {
      set_position(call_row, call_col);
      draw_at_current(p, seg, text_fg(), text_bg());
      store_shadow(p, seg);
    }
    // Only a carriage return or line feed inside the n characters counts:
    // the text may be a field without a terminating NUL.
    if (q < end) {
      if (*q == '\r') {
        call_col = 0;
        set_column(0);
      } else {
        ++call_row;
        if (call_row < maxrow) {
          currentrow = call_row;
          currentrow16 = 16 * call_row;
        }
      }
      ++q;
    }
    p = q;
  }
  if (start_n == 1) set_column(start_col);
}

char* ftos(double value, char* buf, signed char width, signed char precision) {
  const int w = width, pr = precision;
  // The widest text: 309 integer digits, 127 decimals, sign and point,
  // or a width of 127.
  char raw[512];
  int len = std::snprintf(raw, sizeof raw, "%*.*f", w, pr, value);
  if (len < 0) len = 0;
  if (len >= static_cast<int>(sizeof raw)) len = static_cast<int>(sizeof raw) - 1;
  const std::string work(raw, static_cast<std::size_t>(len));

  const std::size_t dot = work.find('.');
  const int d = dot == std::string::npos ? len : static_cast<int>(dot);
  int L = w + pr + 1;
  if (d > L) L = d;
  if (L < 0) L = 0;
  std::string out(static_cast<std::size_t>(L) + 1, '\0');
  std::snprintf(out.data(), out.size(), "%*.*s", L, L, work.c_str());
  out.resize(std::strlen(out.c_str()));

  if (buf) {
    std::memcpy(buf, out.c_str(), out.size() + 1);
    return buf;
  }
  screen_service_errors();
  draw_at_current(out.data(), static_cast<int>(out.size()), text_fg(), text_bg());
  if (currentrow < maxrow) store_shadow(out.data(), static_cast<int>(out.size()));
  return nullptr;
}

// ---- Clearing --------------------------------------------------------------

void scr_clrl() {
  if (currentcol >= maxcol) return;
  screen_service_errors();
  const int from = std::max(currentcol, 0);
  ScreenBackend* b = screen_backend();
  if (b) {
    const int count = cells_to_edge(from);
    std::string spaces(static_cast<std::size_t>(count), ' ');
    b->draw_text(from * pixelspercol, currentrow * pixelsperrow, baseline_of_row(currentrow),
                 spaces.data(), count, text_fg(), text_bg());
    b->flush();
  }
  if (currentrow < maxrow)
    for (int c = from; c < maxcol; ++c)
      if (shadow_cell_ok(currentrow, c)) VirtualChars[currentrow * maxcol + c] = ' ';
}

void scr_cls() {
  const int row = currentrow, col = currentcol;
  scr_clrl();
  for (int r = row + 1; r < maxrow; ++r) {
    set_position(r, 0);
    scr_clrl();
  }
  set_position(row, col);
}

void scr_clr() {
  ScreenBackend* b = screen_backend();
  if (b) b->clear_window();
  if (VirtualChars) std::memset(VirtualChars, ' ', static_cast<std::size_t>(maxrow) * maxcol);
  set_position(0, 0);
  if (b) {
    const int cols = cells_to_edge(0);
    std::string spaces(static_cast<std::size_t>(cols), ' ');
    for (int r = 0; r < maxrow; ++r)
      b->draw_text(0, r * pixelsperrow, baseline_of_row(r), spaces.data(), cols, text_fg(),
                   text_bg());
    b->flush();
  }
}

namespace {

// Moves the rows of a region by `shift` rows (negative: up), pixels and
// shadow text, and blanks the vacated rows.  Rows are already clamped.
void scroll_region(int n, bool up, int top, int left, int bottom, int right) {
  const unsigned long bg = dark((scr_attr >> 4) & 7);
  const int rows = bottom - top + 1;
  if (n <= 0 || n >= rows) {
    for (int r = top; r <= bottom; ++r) blank_cells(r, left, right - left + 1, bg);
    flush();
    return;
  }
  ScreenBackend* b = screen_backend();
  const int x = left * pixelspercol;
  const int w = right >= maxcol - 1 ? scrwidth - x
                                    : std::min((right - left + 1) * pixelspercol, scrwidth - x);
  const int keep = rows - n;
  const int src_top = up ? top + n : top;
  const int dst_top = up ? top : top + n;
  if (b && w > 0) {
    std::vector<unsigned long> px;
    if (b->read_pixels(x, src_top * pixelsperrow, w, keep * pixelsperrow, px))
      b->write_pixels(x, dst_top * pixelsperrow, w, keep * pixelsperrow, px);
  }
  if (VirtualChars) {
    const int c0 = std::max(left, 0), c1 = std::min(right, maxcol - 1);
    if (c1 >= c0) {
      std::vector<char> saved(static_cast<std::size_t>(keep) * (c1 - c0 + 1));
      for (int r = 0; r < keep; ++r)
        std::memcpy(&saved[static_cast<std::size_t>(r) * (c1 - c0 + 1)],
                    &VirtualChars[(src_top + r) * maxcol + c0], static_cast<std::size_t>(c1 - c0 + 1));
      for (int r = 0; r < keep; ++r)
        std::memcpy(&VirtualChars[(dst_top + r) * maxcol + c0],
                    &saved[static_cast<std::size_t>(r) * (c1 - c0 + 1)], static_cast<std::size_t>(c1 - c0 + 1));
    }
  }
  const int blank_top = up ? bottom - n + 1 : top;
  for (int r = blank_top; r < blank_top + n; ++r) blank_cells(r, left, right - left + 1, bg);
  flush();
}

void scroll(int n, bool up, int top, int left, int bottom, int right) {
  if (right < left) return;
  top = std::max(top, 0);
  bottom = std::min(bottom, maxrow - 1);
  left = std::max(left, 0);
  if (bottom < top) return;
  screen_service_errors();
  scroll_region(n, up, top, left, bottom, right);
}

}  // namespace

void scr_scrup(int n, int top, int left, int bottom, int right) { scroll(n, true, top, left, bottom, right); }
void scr_scrdn(int n, int top, int left, int bottom, int right) { scroll(n, false, top, left, bottom, right); }

void scr_readtext(int row, int col, int count, char* buf) {
  if (!buf) return;
  int k = 0;
  for (int i = 0; i < count; ++i)
    if (shadow_cell_ok(row, col + i)) buf[k++] = VirtualChars[row * maxcol + col + i];
  buf[k] = '\0';
}

// ---- Pixels and lines -----------------------------------------------------

void setpixeg(int x, int y, int colournumber) {
  ScreenBackend* b = screen_backend();
  if (!b) return;
  ScreenBackend::Point pt{static_cast<short>(x), static_cast<short>(y)};
  b->draw_points(&pt, 1, colour_number_pixel(colournumber));
}

void setpixeg_array(const char* flags, signed char len, int x, int y, short colournumber) {
  ScreenBackend* b = screen_backend();
  if (!b || !flags || len <= 0) return;
  ScreenBackend::Point pts[128];
  int n = 0;
  for (int k = 1; k <= len; ++k)
    if (flags[k]) pts[n++] = {static_cast<short>(x + k - 1), static_cast<short>(y)};
  if (n) b->draw_points(pts, n, colour_number_pixel(colournumber));
}

void line(int x1, int y1, int x2, int y2, int colournumber) {
  if (ScreenBackend* b = screen_backend()) b->draw_line(x1, y1, x2, y2, colour_number_pixel(colournumber));
}

// ---- Images ------------------------------------------------------------------

ScreenImage* imageRect(int top, int left, int bottom, int right) {
  ScreenBackend* b = screen_backend();
  if (!b || bottom < top || right < left) return nullptr;
  auto* img = new ScreenImage;
  img->left = left;
  img->top = top;
  img->width = right - left + 1;
  img->height = bottom - top + 1;
  if (!b->read_pixels(left, top, img->width, img->height, img->pixels)) {
    delete img;
    return nullptr;
  }
  return img;
}

void freeImage(ScreenImage* image) { delete image; }

char getpixeg(const ScreenImage* image, int x, int y) {
  if (!image || x < 0 || y < 0 || x >= image->width || y >= image->height) return 16;
  return srchcolour(image->at(x, y), nullptr);
}

unsigned short full_getpixeg_rect(int top, int left, int bottom, int right, int x, int y) {
  if (left == -1) {
    delete image_full;
    image_full = nullptr;
    return 0;
  }
  if (!image_full) image_full = imageRect(top, left, bottom, right);
  if (!image_full || x < 0 || y < 0 || x >= image_full->width || y >= image_full->height) return 0;
  short out = 0;
  if (srchcolour(image_full->at(x, y), &out) == 16) return 0;
  return static_cast<unsigned short>(out);
}

namespace {

// Recolours the pixels of `count` cells from (row, col): see
// scr_inverse_atr.  A second identical call restores the pixels.
void inverseit80(int row, int col, int count, int c) {
  if (!screen_backend() || count <= 0 || pixelsperrow <= 0 || pixelspercol <= 0) return;
  const int x0 = col * pixelspercol;
  int y0 = row * pixelsperrow;
  if (y0 > scrheight - pixelsperrow) y0 = scrheight - pixelsperrow;
  if (x0 + count * pixelspercol > scrwidth) count = (scrwidth - x0) / pixelspercol;
  if (count <= 0 || x0 < 0 || y0 < 0) return;
  std::unique_ptr<ScreenImage> img(imageRect(y0, x0, y0 + pixelsperrow - 1, x0 + count * pixelspercol - 1));
  if (!img) return;

  int fg, bg;
  int glyph = 0;  // colour number of the glyphs of a highlight below 256
  if (c >= 256) {
    fg = c & 15;
    bg = c & 7;
  } else if (c == 0x70) {
    fg = scr_attr & 15;
    bg = (scr_attr >> 4) & 7;
  } else {
    fg = c & 15;
    bg = (scr_attr >> 4) & 7;
  }
  // For c >= 256 the test is on the exact pixel of DARK (c & 7): a reverse
  // lookup would confuse it with an equal pixel earlier in the table (DARK
  // black is the BRIGHT black pixel), and the highlight would not undo.
  const unsigned long dark_bg = dark(bg);
  if (c < 256) {
    // Inverse video: the cells take the text colour, the glyphs the dark
    // shade of the background, so a text colour equal to the background
    // index (every colour below 8) never gives a solid block.  Where even
    // that is the same pixel (black), the glyphs are white, or black on
    // white.
    glyph = DARK * 256 + bg;
    if (dark_bg == bright(fg)) glyph = bright(fg) == bright(15) ? BRIGHT * 256 : BRIGHT * 256 + 15;
  }
  const int pc = pixelspercol;
  std::vector<char> setA(static_cast<std::size_t>(pc) + 1), setB(setA.size()), setC(setA.size());
  for (int i = 0; i < pixelsperrow - 1; ++i) {
    for (int cell = 0; cell < count; ++cell) {
      std::fill(setA.begin(), setA.end(), 0);
      std::fill(setB.begin(), setB.end(), 0);
      std::fill(setC.begin(), setC.end(), 0);
      for (int k = 0; k < pc; ++k) {
        const unsigned long px = img->at(cell * pc + k, i);
        if (c >= 256) {
          (px == dark_bg ? setB : setA)[k + 1] = 1;
        } else {
          // The exact background pixel: a glyph in the bright shade of
          // the background's colour index is not background.
          (px == dark_bg ? setC : setA)[k + 1] = 1;
        }
      }
      const int x = x0 + cell * pc;
      const int y = y0 + i;
      const auto len = static_cast<signed char>(std::min(pc, 127));
      if (c >= 256) {
        setpixeg_array(setB.data(), len, x, y, static_cast<short>(c));
        setpixeg_array(setA.data(), len, x, y, static_cast<short>(DARK * 256 + bg));
      } else {
        setpixeg_array(setC.data(), len, x, y, static_cast<short>(fg));
        setpixeg_array(setA.data(), len, x, y, static_cast<short>(glyph));
      }
    }
  }
  flush();
}

}  // namespace

void scr_inverse_atr(int row, int col, int count, int colournumber) {
  if (scr_mode != 'P') return;
  screen_service_errors();
  inverseit80(row, col, count, colournumber);
}

void scr_ch_atr(int row, int col, int count, int colournumber) {
  scr_inverse_atr(row, col, count, colournumber);
}

ScreenSnapshot save_screen() {
  ScreenSnapshot s;
  if (screen_backend()) s.image.reset(imageRect(0, 0, scrheight - 1, scrwidth - 1));
  if (VirtualChars)
    s.text.assign(VirtualChars, VirtualChars + static_cast<std::size_t>(maxrow) * maxcol);
  return s;
}

void restore_screen(const ScreenSnapshot& saved) {
  ScreenBackend* b = screen_backend();
  if (b && saved.image) {
    b->write_pixels(saved.image->left, saved.image->top, saved.image->width, saved.image->height,
                    saved.image->pixels);
    b->flush();
  }
  // The text only when the grid kept its size.
  if (VirtualChars && saved.text.size() == static_cast<std::size_t>(maxrow) * maxcol)
    std::memcpy(VirtualChars, saved.text.data(), saved.text.size());
}

void Xsave() { FULLimage = save_screen(); }

void Xfetch() { restore_screen(FULLimage); }

// ---- Test seam: the shadow text in a file ---------------------------------------

void screen_dump_shadow() {
  const char* path = std::getenv("MORVA_SHADOW_DUMP");
  if (!path || !*path || !VirtualChars) return;
  std::string text;
  text.reserve(static_cast<std::size_t>(maxrow) * (maxcol + 1));
  for (int r = 0; r < maxrow; ++r) {
    text.append(VirtualChars + r * maxcol, static_cast<std::size_t>(maxcol));
    text.push_back('\n');
  }
  // Polling readers call this often: write only when the screen changed.
  static std::string last, last_path;
  if (text == last && last_path == path) return;
  last = text;
  last_path = path;
  const std::string tmp = std::string(path) + ".tmp";
  if (FILE* f = std::fopen(tmp.c_str(), "wb")) {
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (std::fclose(f) == 0 && ok)
      std::rename(tmp.c_str(), path);
    else
      std::remove(tmp.c_str());
  }
}
