// The in-memory screen for tests: the whole screen library runs without a
// display.  Text lands in the shadow text and in a pixel buffer; keys and
// clicks come from a queue that the test fills beforehand.
//
//   headless_start();                  // 640-pixel screen: 30 rows of 79
//   headless_push_key(211);            // F2
//   headless_push_keys("ibm.txt\r");   // each character as its key
//   ... run the code under test ...
//   EXPECT_EQ(headless_row(0).substr(0, 5), "Enter");
//
// A read that would wait on an empty queue gets ESC instead, so a test never
// hangs; headless_starved() counts those.
#pragma once

#include <string>
#include <string_view>

// Sets the geometry as the set-up would on an X screen `screen_width`
// pixels wide (the first font of its row, or the fallback), builds the
// colour table, calls scr_setmode(80) and mousereset(), empties the event
// queue, and forgets held modifiers, areas and the saved image.
void headless_start(int screen_width = 640, bool fallback_font = false);

// One key that decodes to the DOS key code (modifier presses and releases
// around it where the code needs them).
void headless_push_key(unsigned char dos_code);
// Each character of text as its key ('\r' and '\n' are Enter, '\x1b' ESC).
void headless_push_keys(std::string_view text);
// A key by symbol with modifier bits (MOD_SHIFT, MOD_CONTROL, MOD_ALT,
// MOD_NUMLOCK of screen/backend.h): the modifier keys are pressed, the key
// pressed and released, the modifiers released.
void headless_push_keysym(unsigned keysym, unsigned modifiers = 0);
// Only the press, or only the release, of a key (modifier bits in the
// event's state only; no modifier keys around it).
void headless_push_key_press(unsigned keysym, unsigned modifiers = 0);
void headless_push_key_release(unsigned keysym, unsigned modifiers = 0);
// A press and release of a mouse button over the middle of a cell.
void headless_push_click(int row, int col, int button = 1);
// Only the press; the button stays down.
void headless_push_button_press(int row, int col, int button = 1);
// The pointer moves over the middle of a cell.
void headless_push_motion(int row, int col);
// A window manager asks for another size.
void headless_push_resize();

// The shadow text: one row (79 characters), or the whole grid with a line
// feed after each row.
std::string headless_row(int row);
std::string headless_screen();

// Reads that found the queue empty and got ESC.
int headless_starved();
// Events still queued.
int headless_queued();
// Microseconds the library asked to sleep (the in-memory screen never sleeps).
long headless_slept_us();
// The pixel at (x, y) of the window (0 outside it).
unsigned long headless_pixel(int x, int y);
// Where the window was last placed by resize_settings(): x, y, w, h.
struct HeadlessPlacement {
  int x = 0, y = 0, w = 0, h = 0, count = 0;
};
HeadlessPlacement headless_placement();
// Records an X-style protocol error, as the X11 backend's handler would.
void headless_raise_error();
// Colour names the in-memory colour database lacks from the next
// headless_start on (a null-terminated list; null for none).
void headless_set_missing_colours(const char* const* names);

// Modifier flags as the key readers track them (bit 0 left shift, 1 right
// shift, 2 left ctrl, 3 right ctrl, 4 left alt, 5 right alt, 6 caps, 7 num).
int screen_modifier_flags();
void screen_reset_input();
