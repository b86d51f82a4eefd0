// The DOS-style screen: a grid of text cells in 16 colours of four shades,
// DOS key codes from the keyboard, mouse clicks tested against screen areas,
// and timing.  One module-level state; nothing to pass around.
//
// Everything here sits above a small backend (screen/backend.h): the real
// X11 window (screen/x11_*.cpp) or an in-memory one for tests
// (screen/headless.h).  No Xlib type appears in this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// ---- Geometry and mode -------------------------------------------------
extern int maxrow;            // text rows of the grid
extern int maxcol;            // always 79
extern int scrwidth, scrheight;        // window size in pixels
extern int pixelsperrow, pixelspercol; // one text cell in pixels
extern char scr_mode;         // 'P' (80) is the only mode
extern signed char scr_attr;  // bits 0-3 foreground, 4-6 background, 7 set
extern unsigned int HPXC, VPXC;        // cell size used by the mouse calls

// Colour table: entry shade*256 + colour, shades 1 BRIGHT .. 4 DARK.
enum { BRIGHT = 1, MEDIUM = 2, DULL = 3, DARK = 4 };
extern unsigned long colour_seg[1280];

// Opens the display and the window titled `title`; ends the process on the
// start-up failures (messages on standard output, exit status 0, 1, 3, 9).
void scr_setup(const char* title);
void scr_setmode(int mode);
void load_colour_map();
char srchcolour(unsigned long pixel, short* out);
void resize_settings(int width = 0, int height = 0);
void Xclosedis();

// X protocol errors are recorded while the failing call runs; afterwards the
// library shows "Minor Xwindow error. ..." through this reporter (the
// widgets set it to their one-line question) and re-places the window.
// Without a reporter the message goes to standard error.
using ScreenErrorReporter = void (*)(const char* message);
void screen_set_error_reporter(ScreenErrorReporter reporter);

// ---- Text cells ----------------------------------------------------------
void scr_rowcol(int row, int col);
int scr_srow();
int scr_scol();
void scr_cursoff();
void scr_curson();
void colour(unsigned a);

void putsn(const char* text, int row, int col, int n);
char* ftos(double value, char* buf, signed char width, signed char precision);

void scr_clrl();
void scr_cls();
void scr_clr();
void scr_scrup(int n, int top, int left, int bottom, int right);
void scr_scrdn(int n, int top, int left, int bottom, int right);

// ---- Pixels, lines, highlighting, screen images ------------------------
// A rectangle of pixels read back from the window: `left`, `top` its
// place in the window, pixel values row-major.
struct ScreenImage {
  int left = 0, top = 0, width = 0, height = 0;
  std::vector<unsigned long> pixels;
  unsigned long at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};
void setpixeg(int x, int y, int colournumber);
void setpixeg_array(const char* flags, signed char len, int x, int y, short colournumber);
void line(int x1, int y1, int x2, int y2, int colournumber);
char getpixeg(const ScreenImage* image, int x, int y);
ScreenImage* imageRect(int top, int left, int bottom, int right);
void freeImage(ScreenImage* image);
unsigned short full_getpixeg_rect(int top, int left, int bottom, int right, int x, int y);
void scr_inverse_atr(int row, int col, int count, int colournumber);
void scr_ch_atr(int row, int col, int count, int colournumber);
// Xsave keeps one copy of the whole window (pixels and shadow text);
// Xfetch puts it back.
void Xsave();
void Xfetch();
// A copy of the whole window that its owner keeps: a pop-up that closes
// puts back what was under it, pixels and shadow text alike.
struct ScreenSnapshot {
  std::unique_ptr<ScreenImage> image;
  std::vector<char> text;
};
ScreenSnapshot save_screen();
void restore_screen(const ScreenSnapshot& saved);

// Read-back of the shadow text: copies `count` characters from (row, col)
// into buf and NUL-terminates it (cells outside the grid read as nothing).
// Used by tests.
void scr_readtext(int row, int col, int count, char* buf);
// The shadow text itself: maxrow * maxcol characters, row-major.
extern char* VirtualChars;

// ---- Keyboard ------------------------------------------------------------
unsigned char scr_ci();
unsigned char scr_csts();
unsigned char scr_cst();
unsigned char scr_getc(int mode);
// Looks a key up by its unshifted key symbol (the keys' tables are by
// symbol, so every keycode set of the server gives the same codes); with
// Control or Alt held, F1-F10 become 190-199 or 180-189 and Alt+letter
// 230-253 for the letters of the Alt table.  1 and *code when mapped.
int pcio_lookup(int keycode, int* code);
short getshift(int mask);
int chkbreak();

// ---- Mouse and screen areas --------------------------------------------
extern int mousepresent;
int mousereset();
void mouse_show(int flag);
void mouse_area(int top, int left, int bottom, int right);
void mouse_cursor(int row, int col);
int check_button_event(char wait, int* y, int* x);
int mouse_button_where(char wait, int* row, int* col);
void set_scr_area(int idx, int top, int left, int bottom, int right);
void unset_scr_area(int idx);
int inside_scr_area(int idx, int row, int col);
using MotionFunction = int (*)(int y, int x);
MotionFunction mouse_set_motionfunction(MotionFunction f);

// ---- Timing and sound ----------------------------------------------------
void timedely(int ticks);
void tone(int freq, int dur);
void toner(int freq, int dur);
