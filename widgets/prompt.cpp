// The fixed-field line editor, the top-row question and one-line helpers.
#include "widgets/prompt.h"

#include <cctype>
#include <cstring>

#include "screen/keys.h"
#include "screen/screen.h"
#include "setup/environment.h"

namespace {


int cell_w() { return HPXC ? static_cast<int>(HPXC) : (pixelspercol > 0 ? pixelspercol : 8); }
int cell_h() { return VPXC ? static_cast<int>(VPXC) : (pixelsperrow > 0 ? pixelsperrow : 15); }

bool numeric_char(int k) {
  return (k >= '0' && k <= '9') || k == '.' || k == '-' || k == '+' || k == ' ';
}
// Letters and punctuation of the C locale (7-bit only).
bool text_char(int k) {
  return k > 32 && k < 127 && (std::isalpha(k) || std::ispunct(k));
}

// The attribute of the title row: the first setup colour on its dark shade.
signed char title_attr() {
  const int c = color[0];
  return static_cast<signed char>(0x80 | ((c & 7) << 4) | (c & 15));
}

// One pass of the blinking cursor's line(s) at cell (r, c) in `colournumber`.
void cursor_lines(int r, int c, int colournumber, bool block) {
  const int cw = cell_w(), ch = cell_h();
  const int x = cw * c;
  const int y = ch * r + ch - 1;
  line(x, y, x + cw - 1, y, colournumber);
  if (block) {
    for (int k = 1; k <= ch / 7; ++k) line(x, y - k, x + cw - 1, y - k, colournumber);
  }
}

}  // namespace

// ---- Title colours ------------------------------------------------------------

int title_colour() {
  const int c = color[0];
  // A colour of 128 or more has no shade of its own in the colour table;
  // its low four bits are used as a bright colour.
  return c < 128 ? c + 256 : 0x100 | (c & 15);
}

void highlight_title_row() { scr_inverse_atr(0, 0, 80, title_colour()); }

// ---- Blinking cursor --------------------------------------------------------

namespace {

// A click that the blinking cursor saw while it waited.  The key reader
// reports a press once and takes the release on the next poll, so the
// editor must act on the press that stopped the blinking, not ask again.
struct SeenClick {
  int button = 0, row = 0, col = 0;
};
SeenClick seen_click;

// scr_getc(0) that remembers where a pressed button is.
bool input_waiting() {
  int r = 0, c = 0;
  if (const int b = mouse_button_where(0, &r, &c)) {
    seen_click = {b, r, c};
    return true;
  }
  return scr_cst() != 0;
}

}  // namespace

void dotblink(int, int, int) {
  const int r = scr_srow(), c = scr_scol();
  seen_click = {};
  for (;;) {
    if (input_waiting()) return;
    // Erase to the cell's own background so the cell looks untouched.
    const int background = 0x400 | ((scr_attr >> 4) & 7);
    const bool block = getshift(32) != 0;
    cursor_lines(r, c, color[0], block);
    const bool waiting = input_waiting();
    if (!waiting) timedely(2);
    cursor_lines(r, c, background, block);
    if (waiting || input_waiting()) return;
    timedely(2);
  }
}

// ---- Line editor ----------------------------------------------------------------

int fgts(FILE* /*source*/, char cls, int row, int col, int len, char* buf, char arrows,
         char terminate) {
  if (len < 0) len = 0;
  putsn("<", row, col + len, 1);
  scr_rowcol(row, col);
  mouse_cursor(row + 1, col);
  mouse_show(1);
  int idx = 0;
  // Where the field's text ends: a field kept as it is (no NUL) starts
  // with its text; a field cut at the end starts empty.
  int text_end = 0;
  if (terminate != 'y')
    for (int i = 0; i < len; ++i)
      if (buf[i] != ' ' && buf[i] != '\0') text_end = i + 1;
  int key = 0;
  for (;;) {
    scr_rowcol(row, col + idx);
    dotblink(0, 0, 0);
    int mr = seen_click.row, mc = seen_click.col;
    int button = seen_click.button;
    seen_click = {};
    if (!button) button = mouse_button_where(0, &mr, &mc);
    if (button == 0) {
      key = scr_getc(1);
    } else if (inside_scr_area(0, mr, mc)) {
      key = kKeyEsc;
    } else if (inside_scr_area(5, mr, mc)) {
      scr_inverse_atr(row, col, len, color[0]);
      key = scr_getc(1);
    } else {
      key = scr_getc(1);
    }

    if (key == kKeyClick) continue;
    if (key == '|') break;
    if (numeric_char(key)) {
      if (idx >= len) {
        toner(640, 2);
      } else {
        const char ch = static_cast<char>(key);
        buf[idx] = ch;
        putsn(&ch, row, col + idx, 1);
        ++idx;
        if (idx > text_end) text_end = idx;
      }
      continue;
    }
    if (text_char(key)) {
      if (cls == 'a' && idx < len) {
        const char ch = static_cast<char>(key);
        buf[idx] = ch;
        putsn(&ch, row, col + idx, 1);
        ++idx;
        if (idx > text_end) text_end = idx;
      } else {
        toner(640, 2);
      }
      continue;
    }
    if (key == kKeyBackspace) {
      if (idx > 0) {
        --idx;
        buf[idx] = ' ';
        putsn(" ", row, col + idx, 1);
        if (idx + 1 == text_end) text_end = idx;
      }
      continue;
    }
    if (key == kKeyHome) {
      idx = 0;
      continue;
    }
    if (key == kKeyEnd) {
      idx = text_end < len ? text_end : len;
      continue;
    }
    if (key == kKeyLeft && arrows == 'y' && idx > 0) {
      --idx;
      continue;
    }
    if (key == kKeyRight && arrows == 'y' && idx < len) {
      ++idx;
      continue;
    }
    break;  // Enter, Esc, function keys, arrows that leave the field, ...
  }
  mouse_show(0);
  scr_cursoff();
  putsn(" ", row, col + len, 1);
  scr_rowcol(row, col);
  // The text typed stays whole when the cursor was moved back into it.
  if (terminate == 'y') buf[idx > text_end ? idx : text_end] = '\0';
  return key;
}

// ---- Question -----------------------------------------------------------------

char msg(const char* question, const char* title, int wait) {
  if (!question) question = "";
  if (!title) title = "";
  const int saved_row = scr_srow(), saved_col = scr_scol();
  const signed char saved_attr = scr_attr;

  // The question is drawn in the menu colour, on which the title
  // highlight below works.
  scr_attr = title_attr();
  scr_rowcol(0, 0);
  scr_clrl();
  putsn(question, 0, 0, -1);
  while (scr_csts()) {
  }
  tone(320, 2);
  scr_curson();

  int key;
  if (wait) {
    key = scr_getc(1);
    tone(1024, 1);
  } else {
    scr_rowcol(saved_row, saved_col);
    while ((key = scr_cst()) == 0) timedely(1);
  }

  scr_cursoff();
  scr_rowcol(0, 0);
  scr_clrl();
  putsn(title, 0, 0, -1);
  highlight_title_row();
  scr_attr = saved_attr;
  if (!wait) scr_rowcol(saved_row, saved_col);
  if (key >= 'A' && key <= 'Z') key += 'a' - 'A';
  return static_cast<char>(key);
}

void report_screen_error(const char* message) { msg(message, "", 0); }

// ---- One-line helpers -----------------------------------------------------------

void drive() { scr_rowcol(4, 50); }

void puuts(const char* text) { putsn(text ? text : "", -1, -1, -1); }

void putss(const char* text) { putsn(text ? text : "", -1, -1, -1); }

int upsize() { return 1; }
