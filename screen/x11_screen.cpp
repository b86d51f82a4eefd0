// The X11 backend: the one window, its graphics context, fonts, colours,
// images and events.  Every Xlib call of the program is in this file.
#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <sys/select.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "screen/backend.h"
#include "screen/screen.h"

namespace {

Display* display = nullptr;
int screen = 0;
Window win = 0;
GC gc1 = nullptr;
XEvent event;
XFontStruct* font = nullptr;
Colormap cmap = 0;

// Everything the window selects; the key readers leave the buttons queued.
constexpr long OurMasks = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                          PointerMotionMask | ExposureMask | VisibilityChangeMask |
                          ResizeRedirectMask | FocusChangeMask;
static_assert(OurMasks == 0x25804f);
static_assert(sizeof(XEvent) <= sizeof(ScreenEvent::raw));

long x_mask(unsigned mask) {
  long m = 0;
  if (mask & EV_KEYPRESS) m |= KeyPressMask;
  if (mask & EV_KEYRELEASE) m |= KeyReleaseMask;
  if (mask & EV_BUTTONPRESS) m |= ButtonPressMask;
  if (mask & EV_BUTTONRELEASE) m |= ButtonReleaseMask;
  if (mask & EV_MOTION) m |= PointerMotionMask;
  if (mask & EV_EXPOSE) m |= ExposureMask;
  if (mask & EV_VISIBILITY) m |= VisibilityChangeMask;
  if (mask & EV_RESIZE) m |= ResizeRedirectMask;
  if (mask & EV_FOCUS) m |= FocusChangeMask;
  return m;
}

unsigned kind_of(int type) {
  switch (type) {
    case KeyPress: return EV_KEYPRESS;
    case KeyRelease: return EV_KEYRELEASE;
    case ButtonPress: return EV_BUTTONPRESS;
    case ButtonRelease: return EV_BUTTONRELEASE;
    case MotionNotify: return EV_MOTION;
    case Expose: return EV_EXPOSE;
    case VisibilityNotify: return EV_VISIBILITY;
    case ResizeRequest: return EV_RESIZE;
    case FocusIn:
    case FocusOut: return EV_FOCUS;
    default: return 0;
  }
}

void convert(const XEvent& xe, ScreenEvent& ev) {
  ev = ScreenEvent{};
  std::memcpy(ev.raw, &xe, sizeof xe);
  ev.kind = kind_of(xe.type);
  switch (xe.type) {
    case KeyPress:
    case KeyRelease: {
      XKeyEvent key = xe.xkey;
      ev.keysym = static_cast<unsigned>(XLookupKeysym(&key, 0));
      char buf[8];
      KeySym ks = NoSymbol;
      XLookupString(&key, buf, sizeof buf, &ks, nullptr);
      ev.lookup_keysym = static_cast<unsigned>(ks);
      ev.state = key.state;
      ev.x = key.x;
      ev.y = key.y;
      break;
    }
    case ButtonPress:
    case ButtonRelease:
      ev.button = static_cast<int>(xe.xbutton.button);
      ev.state = xe.xbutton.state;
      ev.x = xe.xbutton.x;
      ev.y = xe.xbutton.y;
      break;
    case MotionNotify:
      ev.state = xe.xmotion.state;
      ev.x = xe.xmotion.x;
      ev.y = xe.xmotion.y;
      break;
    default:
      break;
  }
}

struct Search {
  Window window;
  long mask;
  bool found;
};

// Matches nothing, so that XCheckIfEvent only looks at the whole queue.
Bool look_for(Display*, XEvent* xe, XPointer arg) {
  auto* s = reinterpret_cast<Search*>(arg);
  if (xe->xany.window == s->window) {
    XEvent copy = *xe;
    const unsigned k = kind_of(copy.type);
    const long m = x_mask(k);
    if (m & s->mask) s->found = true;
  }
  return False;
}

class X11Backend final : public ScreenBackend {
 public:
  unsigned long fg_now = 0, bg_now = 0;
  bool fg_set = false, bg_set = false;

  void set_fg(unsigned long p) {
    if (!fg_set || p != fg_now) {
      XSetForeground(display, gc1, p);
      fg_now = p;
      fg_set = true;
    }
  }
  void set_bg(unsigned long p) {
    if (!bg_set || p != bg_now) {
      XSetBackground(display, gc1, p);
      bg_now = p;
      bg_set = true;
    }
  }

  void draw_text(int x, int, int baseline, const char* s, int n, unsigned long fg,
                 unsigned long bg) override {
    if (!display || n <= 0) return;
    set_fg(fg);
    set_bg(bg);
    XDrawImageString(display, win, gc1, x, baseline, s, n);
  }
  void clear_window() override {
    if (display) XClearWindow(display, win);
  }
  bool read_pixels(int x, int y, int w, int h, std::vector<unsigned long>& out) override {
    if (!display || w <= 0 || h <= 0) return false;
    out.assign(static_cast<std::size_t>(w) * h, 0);
    // Only the part inside the window can be read.
    const int x0 = std::max(x, 0), y0 = std::max(y, 0);
    const int x1 = std::min(x + w, scrwidth), y1 = std::min(y + h, scrheight);
    if (x1 <= x0 || y1 <= y0) return true;
    XImage* img = XGetImage(display, win, x0, y0, static_cast<unsigned>(x1 - x0),
                            static_cast<unsigned>(y1 - y0), AllPlanes, ZPixmap);
    if (!img) return false;
    for (int j = y0; j < y1; ++j)
      for (int i = x0; i < x1; ++i)
        out[static_cast<std::size_t>(j - y) * w + (i - x)] = XGetPixel(img, i - x0, j - y0);
    XDestroyImage(img);
    return true;
  }
  void write_pixels(int x, int y, int w, int h, const std::vector<unsigned long>& px) override {
    if (!display || w <= 0 || h <= 0 || px.size() < static_cast<std::size_t>(w) * h) return;
    Visual* visual = DefaultVisual(display, screen);
    const int depth = DefaultDepth(display, screen);
    XImage* img = XCreateImage(display, visual, static_cast<unsigned>(depth), ZPixmap, 0, nullptr,
                               static_cast<unsigned>(w), static_cast<unsigned>(h), 32, 0);
    if (!img) return;
    img->data = static_cast<char*>(std::malloc(static_cast<std::size_t>(img->bytes_per_line) * h));
    if (!img->data) {
      XDestroyImage(img);
      return;
    }
    for (int j = 0; j < h; ++j)
      for (int i = 0; i < w; ++i) XPutPixel(img, i, j, px[static_cast<std::size_t>(j) * w + i]);
    XPutImage(display, win, gc1, img, 0, 0, x, y, static_cast<unsigned>(w), static_cast<unsigned>(h));
    XDestroyImage(img);
  }
  void draw_points(const Point* pts, int n, unsigned long pixel) override {
    if (!display || n <= 0) return;
    std::vector<XPoint> xp(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) xp[static_cast<std::size_t>(i)] = {pts[i].x, pts[i].y};
    set_fg(pixel);
    XDrawPoints(display, win, gc1, xp.data(), n, CoordModeOrigin);
  }
  void draw_line(int x1, int y1, int x2, int y2, unsigned long pixel) override {
    if (!display) return;
    set_fg(pixel);
    XDrawLine(display, win, gc1, x1, y1, x2, y2);
  }
  void flush() override {
    if (display) XFlush(display);
  }

  bool next_event(unsigned mask, bool wait, ScreenEvent& ev) override {
    if (!display) return false;
    const long m = x_mask(mask);
    if (wait) {
      XWindowEvent(display, win, m, &event);
    } else if (!XCheckWindowEvent(display, win, m, &event)) {
      return false;
    }
    convert(event, ev);
    return true;
  }
  bool pending(unsigned mask) override {
    if (!display) return false;
    Search s{win, x_mask(mask), false};
    XEvent scratch;
    XCheckIfEvent(display, &scratch, look_for, reinterpret_cast<XPointer>(&s));
    return s.found;
  }
  void put_back(const ScreenEvent& ev) override {
    if (!display) return;
    XEvent xe;
    std::memcpy(&xe, ev.raw, sizeof xe);
    XPutBackEvent(display, &xe);
  }

  bool lookup_colour(const char* name, Rgb16& rgb) override {
    XColor exact{}, screen_def{};
    if (!XLookupColor(display, cmap, name, &exact, &screen_def)) return false;
    rgb = {screen_def.red, screen_def.green, screen_def.blue};
    return true;
  }
  bool alloc_colour(Rgb16& rgb, unsigned long& pixel) override {
    XColor c{};
    c.red = rgb.red;
    c.green = rgb.green;
    c.blue = rgb.blue;
    c.flags = DoRed | DoGreen | DoBlue;
    const bool ok = XAllocColor(display, cmap, &c) != 0;
    pixel = c.pixel;
    rgb = {c.red, c.green, c.blue};
    return ok;
  }
  bool parse_colour(const char* spec, Rgb16& rgb) override {
    XColor c{};
    if (!XParseColor(display, cmap, spec, &c)) return false;
    rgb = {c.red, c.green, c.blue};
    return true;
  }
  unsigned long white_pixel() override { return WhitePixel(display, screen); }
  unsigned long black_pixel() override { return BlackPixel(display, screen); }

  void move_resize(int x, int y, int w, int h) override {
    if (!display) return;
    XMoveResizeWindow(display, win, x, y, static_cast<unsigned>(w), static_cast<unsigned>(h));
    XFlush(display);
  }
  void sleep_us(long us) override {
    timeval tv{us / 1000000L, us % 1000000L};
    select(0, nullptr, nullptr, nullptr, &tv);
  }
  void close() override {
    if (!display) return;
    if (font) XFreeFont(display, font);
    font = nullptr;
    if (gc1) XFreeGC(display, gc1);
    gc1 = nullptr;
    XCloseDisplay(display);
    display = nullptr;
    screen_set_backend(nullptr);
  }
};

X11Backend x11;

// X protocol errors: only recorded here, inside Xlib; the message and the
// re-placing of the window follow at the next library call.
int handler(Display*, XErrorEvent*) {
  screen_note_error();
  return 0;
}

[[noreturn]] void quit(int status) {
  std::fflush(stdout);
  std::exit(status);
}

}  // namespace

void scr_setup(const char* title) {
  display = XOpenDisplay(nullptr);
  if (!display) {
    std::printf("Can't connect to server.\n");
    quit(0);
  }
  screen = DefaultScreen(display);
  const int width = DisplayWidth(display, screen);

  const ScreenGeometry* g = &screen_geometry_for(width, false);
  font = XLoadQueryFont(display, g->font);
  if (!font) {
    std::printf("\nCan't find font named: %s. So, try another one.", g->font);
    std::fflush(stdout);
    g = &screen_geometry_for(width, true);
    font = XLoadQueryFont(display, g->font);
    if (!font) {
      std::printf("\nAlso can't find font: %s in /usr/X11/lib/X11/fonts/*. So, quitting.", g->font);
      XCloseDisplay(display);
      display = nullptr;
      quit(3);
    }
  }
  screen_apply_geometry(*g);

  cmap = DefaultColormap(display, screen);
  if (cmap == None) {
    std::printf("Could not allocate the colour map.\n");
    XCloseDisplay(display);
    display = nullptr;
    quit(1);
  }

  scr_attr = 7;
  colour_seg[BRIGHT * 256 + 7] = WhitePixel(display, screen);
  colour_seg[BRIGHT * 256 + 0] = BlackPixel(display, screen);

  win = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0,
                            static_cast<unsigned>(scrwidth), static_cast<unsigned>(scrheight), 1,
                            WhitePixel(display, screen), BlackPixel(display, screen));
  XSetWindowAttributes attrs{};
  attrs.backing_store = WhenMapped;
  XChangeWindowAttributes(display, win, CWBackingStore, &attrs);
  XSelectInput(display, win, OurMasks);

  gc1 = XCreateGC(display, win, 0, nullptr);
  XSetFont(display, gc1, font->fid);
  XSetForeground(display, gc1, colour_seg[BRIGHT * 256 + (scr_attr & 15)]);
  XSetBackground(display, gc1, colour_seg[DARK * 256 + ((scr_attr >> 4) & 7)]);
  XSetLineAttributes(display, gc1, 1, LineSolid, CapRound, JoinRound);
  x11.fg_set = x11.bg_set = false;

  XSetStandardProperties(display, win, title, title, None, nullptr, 0, nullptr);
  // The process id lets a test driver find this window.
  const long pid = static_cast<long>(getpid());
  XChangeProperty(display, win, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(&pid), 1);
  XMapWindow(display, win);
  do {
    XWindowEvent(display, win, OurMasks, &event);
  } while (event.type != Expose);

  screen_set_backend(&x11);
  scr_mode = 'P';
  scr_setmode(80);
  load_colour_map();
  XSetErrorHandler(handler);
}

void screen_x11_provoke_error() {
  if (!display) return;
  XFreePixmap(display, static_cast<Pixmap>(win) + 0x7777);  // no such pixmap
  XSync(display, False);
}
