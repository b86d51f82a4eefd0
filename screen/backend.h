// The seam under the screen library.  Everything a real display does for
// the text screen goes through this small interface: draw a run of text in
// two colours, clear the window, read and write pixel rectangles, draw
// points and lines, and hand over window events.  Position, attribute,
// shadow text, screen areas and key decoding live above it (screen/*.cpp)
// and behave the same on the X11 window and on the in-memory screen used
// by tests.
#pragma once

#include <cstdint>
#include <vector>

// Event kinds, usable as a mask.
enum ScreenEventKind : unsigned {
  EV_KEYPRESS = 1u << 0,
  EV_KEYRELEASE = 1u << 1,
  EV_BUTTONPRESS = 1u << 2,
  EV_BUTTONRELEASE = 1u << 3,
  EV_MOTION = 1u << 4,
  EV_EXPOSE = 1u << 5,
  EV_VISIBILITY = 1u << 6,
  EV_RESIZE = 1u << 7,  // a window manager asked for another size
  EV_FOCUS = 1u << 8,
};

// What the key readers take: everything but the buttons, which stay queued
// for the mouse calls.
constexpr unsigned KEY_READ_MASK = EV_KEYPRESS | EV_KEYRELEASE | EV_MOTION | EV_EXPOSE |
                                   EV_VISIBILITY | EV_RESIZE | EV_FOCUS;
// What the mouse calls take: everything selected on the window.
constexpr unsigned ALL_EVENTS_MASK = KEY_READ_MASK | EV_BUTTONPRESS | EV_BUTTONRELEASE;

// Modifier bits of an event's state (the X protocol's values).
enum : unsigned {
  MOD_SHIFT = 1u << 0,
  MOD_LOCK = 1u << 1,
  MOD_CONTROL = 1u << 2,
  MOD_ALT = 1u << 3,      // Mod1
  MOD_NUMLOCK = 1u << 4,  // Mod2
};

struct ScreenEvent {
  unsigned kind = 0;            // one ScreenEventKind
  unsigned keysym = 0;          // key events: the key's unshifted symbol
  unsigned lookup_keysym = 0;   // key events: the symbol with Shift/Num Lock applied
  unsigned state = 0;           // modifier bits when the event happened
  int button = 0;               // button events: 1 left, 2 middle, 3 right, 4/5 wheel
  int x = 0, y = 0;             // pointer position in window pixels
  alignas(8) unsigned char raw[192] = {};  // the backend's own copy, for putting it back
};

struct Rgb16 {
  unsigned short red = 0, green = 0, blue = 0;
};

class ScreenBackend {
 public:
  virtual ~ScreenBackend() = default;

  // Text: n characters starting at pixel x, in a cell row whose top is
  // y_top and whose baseline is at `baseline`; each character's box is
  // painted in bg, the glyph in fg.  Clipped at the window's edges.
  virtual void draw_text(int x, int y_top, int baseline, const char* s, int n,
                         unsigned long fg, unsigned long bg) = 0;
  // The whole window to its background (black).
  virtual void clear_window() = 0;
  // Pixel rectangles.  read_pixels fills w*h values row-major; pixels
  // outside the window read as 0.  Returns false when nothing could be read.
  virtual bool read_pixels(int x, int y, int w, int h, std::vector<unsigned long>& out) = 0;
  virtual void write_pixels(int x, int y, int w, int h, const std::vector<unsigned long>& px) = 0;
  struct Point {
    short x, y;
  };
  virtual void draw_points(const Point* pts, int n, unsigned long pixel) = 0;
  virtual void draw_line(int x1, int y1, int x2, int y2, unsigned long pixel) = 0;
  virtual void flush() = 0;

  // Events of the window.  With wait, blocks until an event of the mask
  // arrives; without, returns false when none of the mask is queued.  The
  // first queued event that matches the mask is taken, as X does.
  virtual bool next_event(unsigned mask, bool wait, ScreenEvent& ev) = 0;
  virtual bool pending(unsigned mask) = 0;
  virtual void put_back(const ScreenEvent& ev) = 0;

  // Colours: look a name up in the colour database, allocate a colour
  // (rgb is updated to the values actually allocated), parse a colour text.
  virtual bool lookup_colour(const char* name, Rgb16& rgb) = 0;
  virtual bool alloc_colour(Rgb16& rgb, unsigned long& pixel) = 0;
  virtual bool parse_colour(const char* spec, Rgb16& rgb) = 0;
  virtual unsigned long white_pixel() = 0;
  virtual unsigned long black_pixel() = 0;

  virtual void move_resize(int x, int y, int w, int h) = 0;
  virtual void sleep_us(long microseconds) = 0;
  virtual void close() = 0;
};

// The backend in use; null before set-up.  The screen library does not own it.
void screen_set_backend(ScreenBackend* backend);
ScreenBackend* screen_backend();

// One row of the font and geometry table.
struct ScreenGeometry {
  const char* font;
  int maxrow;
  int width, height;
};
// The first font and geometry for an X screen `screen_width` pixels wide, or
// the fallback of that row.
const ScreenGeometry& screen_geometry_for(int screen_width, bool fallback);

// Sets maxrow, maxcol, scrwidth, scrheight from a geometry row.
void screen_apply_geometry(const ScreenGeometry& g);

// Called by a backend when an X protocol error was reported; the message
// and the re-placing of the window happen at the next library call, after
// the failing request has returned.
void screen_note_error();
// Shows a recorded error (if any) and puts the window back.
void screen_service_errors();

// Writes the shadow text to the file named by MORVA_SHADOW_DUMP, if set.
// Called just before the library blocks for input.
void screen_dump_shadow();

// For tests of the X11 backend: sends a request the server refuses and
// waits for the error (the error handler records it).
void screen_x11_provoke_error();
