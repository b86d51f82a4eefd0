// The in-memory backend: a pixel buffer, a queue of events, and the X
// colour database's values for the 16 colour names on a 24-bit true-colour
// visual.
#include "screen/headless.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

#include "screen/backend.h"
#include "screen/keys.h"
#include "screen/keysyms.h"
#include "screen/screen.h"

void screen_reset_images();  // text.cpp

namespace {

struct NamedColour {
  const char* name;
  unsigned char r, g, b;
};
constexpr NamedColour kColourDatabase[] = {
    {"black", 0, 0, 0},         {"cyan", 0, 255, 255},          {"aquamarine", 127, 255, 212},
    {"SkyBlue", 135, 206, 235}, {"DodgerBlue", 30, 144, 255},   {"LightSalmon", 255, 160, 122},
    {"Orange", 255, 165, 0},    {"tomato", 255, 99, 71},        {"Violet", 238, 130, 238},
    {"PaleVioletRed", 219, 112, 147}, {"thistle", 216, 191, 216}, {"GreenYellow", 173, 255, 47},
    {"yellow", 255, 255, 0},    {"pale goldenrod", 238, 232, 170}, {"bisque", 255, 228, 196},
    {"white", 255, 255, 255},
};

// Colour names match without regard to case or blanks, as in X.
bool same_colour_name(const char* a, const char* b) {
  for (;;) {
    while (*a == ' ') ++a;
    while (*b == ' ') ++b;
    if (!*a || !*b) return !*a && !*b;
    if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b)))
      return false;
    ++a;
    ++b;
  }
}

class HeadlessBackend final : public ScreenBackend {
 public:
  std::vector<unsigned long> pixels;
  int width = 0, height = 0;
  std::deque<ScreenEvent> queue;
  int starved = 0;
  long slept = 0;
  HeadlessPlacement placement;
  const char* const* missing_colours = nullptr;

  void reset(int w, int h) {
    width = w;
    height = h;
    pixels.assign(static_cast<std::size_t>(w) * h, 0);
    queue.clear();
    starved = 0;
    slept = 0;
    placement = {};
  }

  bool inside(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
  void put(int x, int y, unsigned long p) {
    if (inside(x, y)) pixels[static_cast<std::size_t>(y) * width + x] = p;
  }

  void draw_text(int x, int y_top, int, const char* s, int n, unsigned long fg,
                 unsigned long bg) override {
    const int cw = pixelspercol, ch = pixelsperrow;
    for (int i = 0; i < n; ++i) {
      const int cx = x + i * cw;
      const unsigned char c = static_cast<unsigned char>(s[i]);
      for (int dy = 0; dy < ch; ++dy)
        for (int dx = 0; dx < cw; ++dx) {
          // A stand-in glyph: a pattern of pixels that depends on the
          // character, inside the cell's margins; blanks have none.
          const bool ink = c != ' ' && dy >= 2 && dy < ch - 3 && dx >= 1 && dx < cw - 1 &&
                           ((c * 7 + dx * 3 + dy * 5) % 4 == 0 || dx == cw / 2);
          put(cx + dx, y_top + dy, ink ? fg : bg);
        }
    }
  }
  void clear_window() override { std::fill(pixels.begin(), pixels.end(), black_pixel()); }
  bool read_pixels(int x, int y, int w, int h, std::vector<unsigned long>& out) override {
    if (w <= 0 || h <= 0) return false;
    out.assign(static_cast<std::size_t>(w) * h, 0);
    for (int j = 0; j < h; ++j)
      for (int i = 0; i < w; ++i)
        if (inside(x + i, y + j))
          out[static_cast<std::size_t>(j) * w + i] = pixels[static_cast<std::size_t>(y + j) * width + x + i];
    return true;
  }
  void write_pixels(int x, int y, int w, int h, const std::vector<unsigned long>& px) override {
    if (w <= 0 || h <= 0 || px.size() < static_cast<std::size_t>(w) * h) return;
    for (int j = 0; j < h; ++j)
      for (int i = 0; i < w; ++i) put(x + i, y + j, px[static_cast<std::size_t>(j) * w + i]);
  }
  void draw_points(const Point* pts, int n, unsigned long pixel) override {
    for (int i = 0; i < n; ++i) put(pts[i].x, pts[i].y, pixel);
  }
  void draw_line(int x1, int y1, int x2, int y2, unsigned long pixel) override {
    // Bresenham, both end points drawn.
    int dx = std::abs(x2 - x1), sx = x1 < x2 ? 1 : -1;
    int dy = -std::abs(y2 - y1), sy = y1 < y2 ? 1 : -1;
    int err = dx + dy;
    for (;;) {
      put(x1, y1, pixel);
      if (x1 == x2 && y1 == y2) break;
      const int e2 = 2 * err;
      if (e2 >= dy) {
        err += dy;
        x1 += sx;
      }
      if (e2 <= dx) {
        err += dx;
        y1 += sy;
      }
    }
  }
  void flush() override {}

  bool next_event(unsigned mask, bool wait, ScreenEvent& ev) override {
    for (auto it = queue.begin(); it != queue.end(); ++it) {
      if (it->kind & mask) {
        ev = *it;
        queue.erase(it);
        return true;
      }
    }
    if (!wait || !(mask & EV_KEYPRESS)) return false;
    // Nothing will ever arrive: answer ESC rather than hang the test.
    if (++starved > 100000) {
      std::fprintf(stderr, "headless screen: the code under test keeps waiting for keys\n");
      std::abort();
    }
    ev = ScreenEvent{};
    ev.kind = EV_KEYPRESS;
    ev.keysym = ev.lookup_keysym = keysym::Escape;
    return true;
  }
  bool pending(unsigned mask) override {
    return std::any_of(queue.begin(), queue.end(), [&](const ScreenEvent& e) { return (e.kind & mask) != 0; });
  }
  void put_back(const ScreenEvent& ev) override { queue.push_front(ev); }

  bool lookup_colour(const char* name, Rgb16& rgb) override {
    if (missing_colours)
      for (const char* const* m = missing_colours; *m; ++m)
        if (same_colour_name(*m, name)) return false;
    for (const auto& c : kColourDatabase) {
      if (same_colour_name(c.name, name)) {
        rgb = {static_cast<unsigned short>(c.r * 257), static_cast<unsigned short>(c.g * 257),
               static_cast<unsigned short>(c.b * 257)};
        return true;
      }
    }
    return false;
  }
  bool alloc_colour(Rgb16& rgb, unsigned long& pixel) override {
    const unsigned r = rgb.red >> 8, g = rgb.green >> 8, b = rgb.blue >> 8;
    pixel = (static_cast<unsigned long>(r) << 16) | (g << 8) | b;
    rgb = {static_cast<unsigned short>(r * 257), static_cast<unsigned short>(g * 257),
           static_cast<unsigned short>(b * 257)};
    return true;
  }
  bool parse_colour(const char* spec, Rgb16& rgb) override {
    unsigned r = 0, g = 0, b = 0;
    char tail = 0;
    if (std::sscanf(spec, "rgb:%4x/%4x/%4x%c", &r, &g, &b, &tail) != 3) return false;
    rgb = {static_cast<unsigned short>(r), static_cast<unsigned short>(g), static_cast<unsigned short>(b)};
    return true;
  }
  unsigned long white_pixel() override { return 0xffffff; }
  unsigned long black_pixel() override { return 0; }

  void move_resize(int x, int y, int w, int h) override {
    placement = {x, y, w, h, placement.count + 1};
  }
  void sleep_us(long us) override { slept += us; }
  void close() override {}
};

HeadlessBackend g_headless;

void push(const ScreenEvent& ev) { g_headless.queue.push_back(ev); }

ScreenEvent key_event(unsigned kind, unsigned ks, unsigned lookup, unsigned state) {
  ScreenEvent ev;
  ev.kind = kind;
  ev.keysym = ks;
  ev.lookup_keysym = lookup;
  ev.state = state;
  return ev;
}

// The symbol a key gives with Shift or Num Lock (a US keyboard).
unsigned shifted_symbol(unsigned ks, unsigned mods) {
  if (mods & MOD_NUMLOCK) {
    static constexpr unsigned keypad[] = {keysym::KP_Insert, keysym::KP_End,  keysym::KP_Down,
                                          keysym::KP_Next,   keysym::KP_Left, keysym::KP_Begin,
                                          keysym::KP_Right,  keysym::KP_Home, keysym::KP_Up,
                                          keysym::KP_Prior};
    for (unsigned d = 0; d < 10; ++d)
      if (keypad[d] == ks) return keysym::KP_0 + d;
    if (ks == keysym::KP_Delete) return keysym::KP_Decimal;
  }
  if (!(mods & MOD_SHIFT)) return ks;
  if (ks >= 'a' && ks <= 'z') return ks - 'a' + 'A';
  static constexpr char plain[] = "1234567890-=[];'`\\,./";
  static constexpr char shifted[] = "!@#$%^&*()_+{}:\"~|<>?";
  if (ks < 128)
    if (const char* p = std::strchr(plain, static_cast<int>(ks)); p && ks)
      return static_cast<unsigned char>(shifted[p - plain]);
  return ks;
}

struct ModifierSym {
  unsigned bit, keysym;
};
constexpr ModifierSym kModifierSyms[] = {
    {MOD_SHIFT, keysym::Shift_L}, {MOD_CONTROL, keysym::Control_L}, {MOD_ALT, keysym::Alt_L}};

void push_with_modifiers(unsigned ks, unsigned lookup, unsigned mods) {
  for (const auto& m : kModifierSyms)
    if (mods & m.bit) push(key_event(EV_KEYPRESS, m.keysym, m.keysym, mods));
  push(key_event(EV_KEYPRESS, ks, lookup, mods));
  push(key_event(EV_KEYRELEASE, ks, lookup, mods));
  for (const auto& m : kModifierSyms)
    if (mods & m.bit) push(key_event(EV_KEYRELEASE, m.keysym, m.keysym, mods));
}

struct CodeKey {
  unsigned char code;
  unsigned keysym;
  unsigned mods;
};
// DOS codes that need a key other than their character.
constexpr CodeKey kCodeKeys[] = {
    {kKeyEsc, keysym::Escape, 0},  {kKeyBackspace, keysym::BackSpace, 0}, {kKeyEnter, keysym::Return, 0},
    {kKeyTab, keysym::Tab, 0},     {kKeyRight, keysym::Right, 0},   {kKeyLeft, keysym::Left, 0},
    {kKeyUp, keysym::Up, 0},       {kKeyDown, keysym::Down, 0},     {kKeyPgUp, keysym::Prior, 0},
    {kKeyPgDn, keysym::Next, 0},   {kKeyHome, keysym::Home, 0},     {kKeyEnd, keysym::End, 0},
    {kKeyIns, keysym::Insert, 0},  {kKeyDel, keysym::Delete, 0},
    {kKeyF11, keysym::F11, 0},     {kKeyF12, keysym::F12, 0},
    {alt_key('a'), 'a', MOD_ALT},  {alt_key('b'), 'b', MOD_ALT},    {alt_key('c'), 'c', MOD_ALT},
    {alt_key('d'), 'd', MOD_ALT},  {alt_key('e'), 'e', MOD_ALT},    {alt_key('f'), 'f', MOD_ALT},
    {alt_key('g'), 'g', MOD_ALT},  {alt_key('h'), 'h', MOD_ALT},    {alt_key('r'), 'r', MOD_ALT},
    {alt_key('s'), 's', MOD_ALT},  {alt_key('u'), 'u', MOD_ALT},    {alt_key('x'), 'x', MOD_ALT},
};

}  // namespace

void headless_start(int screen_width, bool fallback_font) {
  screen_set_backend(&g_headless);
  screen_apply_geometry(screen_geometry_for(screen_width, fallback_font));
  g_headless.reset(scrwidth, scrheight);
  screen_reset_input();
  screen_reset_images();
  std::fill(std::begin(colour_seg), std::end(colour_seg), 0UL);
  scr_attr = 7;
  colour_seg[BRIGHT * 256 + 7] = g_headless.white_pixel();
  colour_seg[BRIGHT * 256 + 0] = g_headless.black_pixel();
  scr_mode = 'P';
  scr_setmode(80);
  load_colour_map();
  HPXC = static_cast<unsigned>(pixelspercol);
  VPXC = static_cast<unsigned>(pixelsperrow);
  mousereset();
}

void headless_push_keysym(unsigned ks, unsigned modifiers) {
  unsigned base = ks;
  if (base >= 'A' && base <= 'Z') base = base - 'A' + 'a';
  unsigned lookup = shifted_symbol(base, modifiers);
  if (ks >= 'A' && ks <= 'Z' && !(modifiers & MOD_SHIFT)) lookup = ks;
  push_with_modifiers(base, lookup, modifiers);
}

void headless_push_key_press(unsigned ks, unsigned modifiers) {
  push(key_event(EV_KEYPRESS, ks, shifted_symbol(ks, modifiers), modifiers));
}

void headless_push_key_release(unsigned ks, unsigned modifiers) {
  push(key_event(EV_KEYRELEASE, ks, shifted_symbol(ks, modifiers), modifiers));
}

void headless_push_key(unsigned char code) {
  for (const auto& k : kCodeKeys) {
    if (k.code == code) {
      headless_push_keysym(k.keysym, k.mods);
      return;
    }
  }
  if (code >= kKeyF1 && code <= kKeyF10) return headless_push_keysym(keysym::F1 + (code - kKeyF1), 0);
  if (code >= kKeyCtrlF1 && code < kKeyCtrlF1 + 10)
    return headless_push_keysym(keysym::F1 + (code - kKeyCtrlF1), MOD_CONTROL);
  if (code >= kKeyAltF1 && code < kKeyAltF1 + 10)
    return headless_push_keysym(keysym::F1 + (code - kKeyAltF1), MOD_ALT);
  if (code == 10) return headless_push_keysym('j', MOD_CONTROL);
  if (code >= 1 && code <= 26) return headless_push_keysym('a' + code - 1, MOD_CONTROL);
  if (code >= 'A' && code <= 'Z') return headless_push_keysym(code, MOD_SHIFT);
  if (code >= 'a' && code <= 'z') return headless_push_keysym(code, 0);
  // Any other byte: a key whose symbol's low byte is the code.
  const unsigned ks = code >= 0x20 ? code : 0xff00u | code;
  push_with_modifiers(ks, ks, 0);
}

void headless_push_keys(std::string_view text) {
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    headless_push_key(u == '\n' ? 13 : u);
  }
}

namespace {
ScreenEvent button_event(unsigned kind, int row, int col, int button) {
  ScreenEvent ev;
  ev.kind = kind;
  ev.button = button;
  ev.x = col * pixelspercol + pixelspercol / 2;
  ev.y = row * pixelsperrow + pixelsperrow / 2;
  return ev;
}
}  // namespace

void headless_push_click(int row, int col, int button) {
  push(button_event(EV_BUTTONPRESS, row, col, button));
  push(button_event(EV_BUTTONRELEASE, row, col, button));
}

void headless_push_button_press(int row, int col, int button) {
  push(button_event(EV_BUTTONPRESS, row, col, button));
}

void headless_push_motion(int row, int col) { push(button_event(EV_MOTION, row, col, 0)); }

void headless_push_resize() {
  ScreenEvent ev;
  ev.kind = EV_RESIZE;
  push(ev);
}

std::string headless_row(int row) {
  if (!VirtualChars || row < 0 || row >= maxrow) return {};
  return std::string(VirtualChars + static_cast<std::size_t>(row) * maxcol, static_cast<std::size_t>(maxcol));
}

std::string headless_screen() {
  std::string s;
  for (int r = 0; r < maxrow; ++r) {
    s += headless_row(r);
    s.push_back('\n');
  }
  return s;
}

int headless_starved() { return g_headless.starved; }
int headless_queued() { return static_cast<int>(g_headless.queue.size()); }
long headless_slept_us() { return g_headless.slept; }
unsigned long headless_pixel(int x, int y) {
  return g_headless.inside(x, y) ? g_headless.pixels[static_cast<std::size_t>(y) * g_headless.width + x] : 0;
}
HeadlessPlacement headless_placement() { return g_headless.placement; }
void headless_raise_error() { screen_note_error(); }
void headless_set_missing_colours(const char* const* names) { g_headless.missing_colours = names; }
