// Menu-bar windows and pop-up lists, drawn in text cells with 3-D borders
// in pixels.  See widgets/menu.h for the screen areas in use.
#include "widgets/menu.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "screen/backend.h"
#include "screen/keys.h"
#include "screen/screen.h"
#include "setup/environment.h"

MenuWindow* windowfunc_isactive = nullptr;
int popline = 0;
int voffset = 0;
int maxvoffset = 0;
int toprow = 0, leftcol = 0;
int hsz = 0;
int barlgth = 0;
int startofhighlite = 0;
int detectscrollr = 0;
int detectscrolld = 0;
int color0 = 7;
int color0short = 0x107;
int updnactive = 0;

namespace {

// Pointer tracking of the open pop-up.
int scrollUP_on_leftclick = 0;
int scrollDN_on_leftclick = 0;
int last_wordwas = -1;

// The open pop-up (valid while popmenu waits for keys).
WordList cur_lines = nullptr;
int cur_shown = 0;
int cur_columns = 1;
int cur_count = 0;
bool cur_standalone = false;

constexpr int kUpMark = 1;
constexpr int kDownMark = 2;

int cell_w() { return HPXC ? static_cast<int>(HPXC) : (pixelspercol > 0 ? pixelspercol : 8); }
int cell_h() { return VPXC ? static_cast<int>(VPXC) : (pixelsperrow > 0 ? pixelsperrow : 15); }
int last_row() { return maxrow - 1; }

// The text attribute of colour index c: c on the dark shade of (c & 7).
signed char attr_of(int c) {
  return static_cast<signed char>(0x80 | ((c & 7) << 4) | (c & 15));
}
// Colour numbers of one colour index in its shades.
int light_of(int c) { return c & 15; }             // BRIGHT
int dull_of(int c) { return 0x300 | (c & 15); }    // DULL
int dark_of(int c) { return 0x400 | (c & 7); }     // the text background

void flush_screen() {
  if (ScreenBackend* b = screen_backend()) b->flush();
}

// A horizontal or vertical pixel line, skipped when it lies off the window.
void hline(int x1, int x2, int y, int c) {
  if (y < 0 || y >= scrheight || x2 < 0) return;
  line(std::max(x1, 0), y, x2, y, c);
}
void vline(int x, int y1, int y2, int c) {
  if (x < 0 || x >= scrwidth || y2 < 0) return;
  line(x, std::max(y1, 0), x, y2, c);
}

// A raised frame: `nl` light lines at the top and left, `nd` dull lines at
// the bottom and right, the outermost lines on the given rectangle.
void raised_frame(int x0, int y0, int x1, int y1, int light, int dull, int nl, int nd) {
  for (int k = 0; k < nl; ++k) {
    hline(x0 + k, x1 - k, y0 + k, light);
    vline(x0 + k, y0 + k, y1 - k, light);
  }
  for (int k = 0; k < nd; ++k) {
    hline(x0 + k, x1 - k, y1 - k, dull);
    vline(x1 - k, y0 + k, y1 - k, dull);
  }
}

// Number of lines of a word list (elements 1... up to a null or empty text)
// and the length of the longest.
int count_lines(WordList lines, int* longest) {
  int n = 0, l = 0;
  if (lines) {
    while (lines[n + 1] && lines[n + 1][0]) {
      l = std::max(l, static_cast<int>(std::strlen(lines[n + 1])));
      ++n;
    }
  }
  if (longest) *longest = l;
  return n;
}

int count_words(const MenuWindow* w) {
  int n = 0;
  while (n < 6 && w->words[n] && w->words[n][0]) ++n;
  return n;
}

int word_len(const MenuWindow* w, int i) {
  return static_cast<int>(std::strlen(w->words[i][0]));
}

// Column of menu-bar word i.
int word_col(const MenuWindow* w, int i) {
  int c = w->left + 5;
  for (int k = 0; k < i; ++k) c += word_len(w, k) + 2;
  return c;
}

// The highlighted cell of the open pop-up: its row, column and width.  A
// pop-up that runs by itself shows its first line as a title bar, whose
// highlight starts one column later and is one narrower.
void cell_extent(int* row, int* col, int* len) {
  *row = toprow + 1 + popline;
  *col = startofhighlite;
  *len = barlgth;
  // In a list of several cells the last column of a cell is the blank
  // between names: the highlight leaves it, so it never touches the next.
  if (cur_columns > 1) *len -= 1;
  if (cur_standalone && voffset == 0 && popline == 0) {
    *col += 1;
    *len -= 1;
  }
}

void highlight_cell(bool on) {
  int r, c, l;
  cell_extent(&r, &c, &l);
  if (l <= 0) return;
  if (on)
    highlightword(r, c, l, color0);
  else
    unhighlightword(r, c, l, color0);
}

// Column of the scroll marks and their rows.
int mark_col() { return detectscrollr + 2; }
int up_mark_row() { return toprow + 1; }
int down_mark_row() { return detectscrolld; }

void toggle_mark(int which) {
  int r = which == kUpMark ? up_mark_row() : down_mark_row();
  scr_inverse_atr(r, mark_col(), 1, color0short);
}

void put_out_marks() {
  if (updnactive & kUpMark) toggle_mark(kUpMark);
  if (updnactive & kDownMark) toggle_mark(kDownMark);
  updnactive = 0;
}

// Copies the highlighted cell (barlgth + 1 characters of the current line
// from the cell's offset) into `result`, at most kResultTextMax characters.
void copy_cell(char* result) {
  if (!result) return;
  result[0] = '\0';
  int idx = voffset + popline;
  if (!cur_lines || idx < 0 || idx >= cur_count) return;
  const char* text = cur_lines[idx + 1];
  int off = startofhighlite - leftcol - 2;
  int avail = static_cast<int>(std::strlen(text));
  if (off < 0 || off >= avail) return;
  int n = std::min({barlgth + 1, avail - off, static_cast<int>(kResultTextMax)});
  std::memcpy(result, text + off, static_cast<std::size_t>(n));
  result[n] = '\0';
}

void redraw() {
  display_menu_text(cur_lines, leftcol, hsz, toprow, 1, cur_shown, voffset, maxvoffset);
}

int scroll_step() { return std::max(cur_shown - 2, 1); }

// The last cell of line `idx` that is not blank (0 for a one-cell line).
int last_filled_cell(int idx) {
  if (cur_columns <= 1 || !cur_lines || idx < 0 || idx >= cur_count) return 0;
  const char* text = cur_lines[idx + 1];
  const int step = barlgth + 1;
  const int len = static_cast<int>(std::strlen(text));
  int last = 0;
  for (int cell = 0; cell < cur_columns && step > 0 && cell * step < len; ++cell)
    for (int k = cell * step; k < std::min(len, (cell + 1) * step); ++k)
      if (text[k] != ' ') last = cell;
  return last;
}

}  // namespace

// ---- Highlight bar ---------------------------------------------------------

void highlightword(int row, int col, int length, int colour) {
  if (col > 0 && length < maxcol - 2) {
    col -= 1;
    length += 2;
  }
  scr_inverse_atr(row, col, length, (colour & 15) | 0x100);
  // Raised border: the top line above the cells and the first pixel row,
  // two left pixel columns; the bottom on the cells' last pixel row (which
  // the inversion leaves alone) and the row below, one right pixel column.
  const int cw = cell_w(), ch = cell_h();
  const int x0 = col * cw, x1 = (col + length) * cw - 1;
  const int y0 = row * ch, y1 = y0 + ch - 1;
  hline(x0, x1, y0 - 1, light_of(colour));
  hline(x0, x1, y0, light_of(colour));
  vline(x0, y0 - 1, y1 + 1, light_of(colour));
  vline(x0 + 1, y0 - 1, y1 + 1, light_of(colour));
  hline(x0, x1, y1, dull_of(colour));
  hline(x0, x1, y1 + 1, dull_of(colour));
  vline(x1, y0 - 1, y1 + 1, dull_of(colour));
  flush_screen();
}

void unhighlightword(int row, int col, int length, int colour) {
  if (col > 0 && length < maxcol - 2) {
    col -= 1;
    length += 2;
  }
  scr_inverse_atr(row, col, length, (colour & 15) | 0x100);
  // The second inversion turns the border lines inside the cells back into
  // background; the lines outside the inverted pixel rows are painted over.
  const int cw = cell_w(), ch = cell_h();
  const int x0 = col * cw, x1 = (col + length) * cw - 1;
  const int y0 = row * ch, y1 = y0 + ch - 1;
  hline(x0, x1, y0 - 1, dark_of(colour));
  hline(x0, x1, y1, dark_of(colour));
  hline(x0, x1, y1 + 1, dark_of(colour));
  flush_screen();
}

// ---- Minus button and title bar -------------------------------------------

void minus_button(int raised, int x, int y, int colour) {
  const int cw = cell_w(), ch = cell_h();
  const int s = std::max(std::min(2 * cw, ch) - 2, 6);  // side of the square
  const int face = dull_of(colour);
  const int light = light_of(colour);
  const int black = 0x100;  // BRIGHT black
  for (int k = 0; k < s; ++k) hline(x, x + s - 1, y + k, face);
  hline(x, x + s - 1, y, light);
  vline(x, y, y + s - 1, light);
  hline(x, x + s - 1, y + s - 1, black);
  vline(x + s - 1, y, y + s - 1, black);
  // The minus sign: a flat rectangle in the middle.
  const int mx0 = x + s / 4, mx1 = x + s - 1 - s / 4;
  const int my0 = y + s / 2 - 2, my1 = y + s / 2 + 1;
  const int tl = raised ? light : black;
  const int br = raised ? black : light;
  hline(mx0, mx1, my0, tl);
  vline(mx0, my0, my1, tl);
  hline(mx0, mx1, my1, br);
  vline(mx1, my0, my1, br);
  flush_screen();
}

void Xbar(const char* text, int row, int col, int width, int colour) {
  if (!text) text = "";
  if (width > 0) {
    char blanks[128];
    int n = std::min(width, static_cast<int>(sizeof blanks) - 1);
    std::memset(blanks, ' ', static_cast<std::size_t>(n));
    blanks[n] = '\0';
    putsn(blanks, row, col, n);
  }
  putsn(text, row, col, -1);
  int len = static_cast<int>(std::strlen(text));
  set_scr_area(1, row, col, row, col + std::max(len, 1) - 1);
  set_scr_area(0, row, std::max(col - 2, 0), row, std::max(col - 1, 0));
  const int cw = cell_w(), ch = cell_h();
  minus_button(1, std::max(col - 2, 0) * cw + 1, row * ch + 1, colour);
}

// ---- Screen image ------------------------------------------------------------

int fake_pg(int restore) {
  if (restore)
    Xfetch();
  else
    Xsave();
  return 1;
}

// ---- Menu-bar hit test -----------------------------------------------------

int which_word_is_being_pointed(MenuWindow* w, int column) {
  const int n = count_words(w);
  if (n == 0) {
    w->curword = 0;
    return 5;
  }
  int offset = 5;
  for (int i = 0; i < n; ++i) {
    const int len = word_len(w, i);
    if (i == n - 1 || (column >= w->left + offset - 1 && column <= w->left + offset + len)) {
      w->curword = static_cast<unsigned char>(i);
      return offset;
    }
    offset += len + 2;
  }
  return offset;  // not reached
}

// ---- Drawing the pop-up box -------------------------------------------------

void display_menu_text(WordList lines, int left, int width, int top, int /*rowheight*/,
                       int visible, int first, int maxvoff) {
  if (!lines || visible <= 0) return;
  const int right = detectscrollr + 2;  // the scroll-mark column
  if (first == 0) scr_scrup(0, top + 1, left, top + visible, std::min(right, maxcol - 1));

  // The 3-D border, in the middle of the margin cells around the lines and
  // marks, so that neither a highlight bar nor a lit mark touches it.
  const int cw = cell_w(), ch = cell_h();
  const int x0 = left * cw + cw / 2 - 1;
  const int x1 = (right + 1) * cw + cw / 2;  // right of the scroll marks
  const int y0 = top * ch + ch / 2;
  const int y1 = (top + visible + 1) * ch + ch / 2 - 2;
  raised_frame(x0, y0, x1, y1, light_of(color0), dull_of(color0), 2, 2);
  raised_frame(x0 + 3, y0 + 3, x1 - 3, y1 - 3, dull_of(color0), light_of(color0), 1, 1);

  // The lines, each padded to the longest so a scrolled line never keeps
  // the tail of the one it replaces.
  const int textw = std::max(width - 4, 0);
  char buf[256];
  const int cap = static_cast<int>(sizeof buf) - 3;
  for (int j = 0; j < visible; ++j) {
    const char* text = lines[first + j + 1];
    if (!text) break;
    if (cur_standalone && first == 0 && j == 0) {
      Xbar(text, top + 1, left + 2, textw, color0);
      continue;
    }
    int len = std::min(static_cast<int>(std::strlen(text)), cap);
    int padded = std::min(std::max(len, textw), cap);
    buf[0] = ' ';
    std::memcpy(buf + 1, text, static_cast<std::size_t>(len));
    std::memset(buf + 1 + len, ' ', static_cast<std::size_t>(padded - len + 1));
    buf[padded + 2] = '\0';
    putsn(buf, top + 1 + j, left + 1, padded + 2);
  }

  // Scroll marks: "^" when lines lie above, "Y" when lines lie below.
  putsn(first > 0 ? "^" : " ", top + 1, right, 1);
  putsn(first < maxvoff ? "Y" : " ", top + visible, right, 1);
  if (updnactive & kUpMark) toggle_mark(kUpMark);
  if (updnactive & kDownMark) toggle_mark(kDownMark);
  flush_screen();
}

// ---- Pointer motion ------------------------------------------------------------

int mouse_mover_poparea(int y, int x) {
  const int r = y / cell_h();
  const int c = x / cell_w();
  if (inside_scr_area(3, r, c) && voffset > 0) {
    if (updnactive & kDownMark) {
      toggle_mark(kDownMark);
      updnactive &= ~kDownMark;
    }
    if (!(updnactive & kUpMark)) {
      toggle_mark(kUpMark);
      updnactive |= kUpMark;
    }
    scrollUP_on_leftclick = 1;
    scrollDN_on_leftclick = 0;
    return 0;
  }
  if (inside_scr_area(4, r, c) && voffset < maxvoffset) {
    if (updnactive & kUpMark) {
      toggle_mark(kUpMark);
      updnactive &= ~kUpMark;
    }
    if (!(updnactive & kDownMark)) {
      toggle_mark(kDownMark);
      updnactive |= kDownMark;
    }
    scrollDN_on_leftclick = 1;
    scrollUP_on_leftclick = 0;
    return 0;
  }
  if (inside_scr_area(2, r, c)) {
    // Back over the lines: a click now chooses, it does not scroll.
    put_out_marks();
    scrollUP_on_leftclick = scrollDN_on_leftclick = 0;
    const int line_no = r - toprow - 1;
    const int step = barlgth + 1;
    int cell = step > 0 ? (c - leftcol - 1) / step : 0;
    cell = std::clamp(cell, 0, std::max(cur_columns - 1, 0));
    const int start = leftcol + 2 + step * cell;
    if (line_no >= 0 && line_no < cur_shown && (line_no != popline || start != startofhighlite)) {
      highlight_cell(false);
      popline = line_no;
      startofhighlite = start;
      highlight_cell(true);
    }
    return 0;
  }
  if (windowfunc_isactive && inside_scr_area(1, r, c)) {
    MenuWindow probe = *windowfunc_isactive;
    which_word_is_being_pointed(&probe, c);
    if (probe.curword != last_wordwas) {
      last_wordwas = probe.curword;
      return kKeyClick;
    }
  }
  return 0;
}

// ---- Pop-up list ------------------------------------------------------------

int popmenu(WordList lines, int top, int left, int bottom, int acceptkeys, char* result,
            int columns, int save) {
  if (columns <= 0) columns = 1;
  toprow = top;
  leftcol = left;
  color0 = color[0];
  // A colour of 128 or more has no shade in the colour table: its low four
  // bits are drawn in the bright shade.
  color0short = 0x100 | (color0 & 15);
  const signed char saved_attr = scr_attr;
  scr_attr = attr_of(color0);
  unset_scr_area(5);
  if (save) fake_pg(0);

  int longest = 0;
  const int n = count_lines(lines, &longest);
  hsz = longest + 4;
  if (popline >= n - 1) popline = 0;

  const int m = std::min(maxrow - 1, bottom);
  const int rows = m - top - 1;
  const int shown = std::max(std::min(n, rows), 0);
  maxvoffset = n - rows;
  if (save) {
    voffset = 0;
  } else if (voffset >= maxvoffset) {
    voffset = std::max(maxvoffset - 1, 0);
  }
  if (voffset < 0) voffset = 0;
  // A highlight left from a taller list must stay inside this box.
  if (popline >= shown || popline < 0) popline = 0;

  barlgth = (hsz - 2) / columns - 1 - (columns == 1 ? 1 : 0);
  detectscrolld = top + shown;
  detectscrollr = hsz + left - 3 - (columns > 1 ? 1 : 0);
  startofhighlite = left + 2;

  cur_lines = lines;
  cur_shown = shown;
  cur_columns = columns;
  cur_count = n;
  cur_standalone = (windowfunc_isactive == nullptr);
  updnactive = 0;
  scrollUP_on_leftclick = scrollDN_on_leftclick = 0;
  last_wordwas = windowfunc_isactive ? windowfunc_isactive->curword : -1;

  int key = kKeyEsc;
  if (shown <= 0) {
    // No room for a single line (or no lines): nothing can be chosen.
    if (result) result[0] = '\0';
  } else {
    scr_scrup(0, top + 1, left, top + shown, std::min(detectscrollr + 2, maxcol - 1));
    redraw();
    mouse_set_motionfunction(mouse_mover_poparea);
    set_scr_area(2, top + 1, left + 1, top + shown, detectscrollr + 1);
    set_scr_area(3, up_mark_row(), mark_col(), up_mark_row(), mark_col());
    set_scr_area(4, down_mark_row(), mark_col(), down_mark_row(), mark_col());
    const bool own_area6 = cur_standalone;
    if (own_area6) set_scr_area(6, 0, 0, last_row(), 79);

    for (;;) {
      highlight_cell(true);
      key = scr_getc(1);
      highlight_cell(false);
      if (key != kKeyEnter) scrollUP_on_leftclick = scrollDN_on_leftclick = 0;
      if (key == kKeyEnter) {
        if (scrollDN_on_leftclick || scrollUP_on_leftclick) {
          // Scroll one line at a time while the left button stays down.
          const bool down = scrollDN_on_leftclick != 0;
          for (;;) {
            if (down ? voffset >= maxvoffset : voffset <= 0) break;
            voffset += down ? 1 : -1;
            redraw();
            timedely(2);
            int r = 0, c = 0;
            if (mouse_button_where(0, &r, &c) != 1) break;
          }
          if (down ? voffset >= maxvoffset : voffset <= 0) {
            put_out_marks();
            scrollUP_on_leftclick = scrollDN_on_leftclick = 0;
            redraw();
          }
          continue;
        }
        copy_cell(result);
        break;
      }
      if (key == kKeyUp || key == '8') {
        if (popline > 0) {
          --popline;
        } else if (voffset > 0) {
          --voffset;
          redraw();
        }
        continue;
      }
      if (key == kKeyDown || key == ' ' || key == '2') {
        if (popline < shown - 1) {
          ++popline;
        } else if (voffset < maxvoffset) {
          ++voffset;
          redraw();
        }
        continue;
      }
      if (key == kKeyPgUp) {
        voffset = std::max(voffset - scroll_step(), 0);
        redraw();
        if (voffset == 0) popline = 0;
        continue;
      }
      if (key == kKeyPgDn) {
        voffset = std::max(std::min(voffset + scroll_step(), maxvoffset), 0);
        redraw();
        if (voffset == maxvoffset) popline = shown - 1;
        continue;
      }
      if (key == kKeyHome) {
        // The first entry: first line, first cell.
        voffset = 0;
        popline = 0;
        startofhighlite = left + 2;
        redraw();
        continue;
      }
      if (key == kKeyEnd) {
        // The last entry: last line, its last cell that holds a name.
        voffset = std::max(maxvoffset, 0);
        popline = shown - 1;
        startofhighlite = left + 2 + (barlgth + 1) * last_filled_cell(n - 1);
        redraw();
        continue;
      }
      if (key == kKeyRight) {
        if (columns == 1) break;
        if (startofhighlite + (barlgth + 1) <= left + 2 + (columns - 1) * (barlgth + 1))
          startofhighlite += barlgth + 1;
        continue;
      }
      if (key == kKeyLeft) {
        if (columns == 1) break;
        if (startofhighlite > left + 2) startofhighlite -= barlgth + 1;
        continue;
      }
      if (key == kKeyDel) {
        copy_cell(result);
        break;
      }
      if (key == kKeyEsc || key == kKeyClick) {
        popline = 0;
        break;
      }
      if (acceptkeys) {
        if (key >= 'A' && key <= 'Z') key += 'a' - 'A';
        break;
      }
    }

    if (key == kKeyEnter) key = columns == 1 ? voffset + popline : kKeyEnter;

    mouse_set_motionfunction(nullptr);
    put_out_marks();
    unset_scr_area(2);
    unset_scr_area(3);
    unset_scr_area(4);
    if (own_area6) unset_scr_area(6);
  }
  if (save) fake_pg(1);
  scr_attr = saved_attr;
  set_scr_area(5, top, leftcol, last_row(), 79);
  cur_lines = nullptr;
  return key;
}

// ---- Menu window ------------------------------------------------------------

int windows(MenuWindow* w) {
  const int colour = w->colour;
  scr_attr = attr_of(colour);
  windowfunc_isactive = w;

  // Title row.
  const int width = std::clamp(w->right - w->left + 1, 0, 80);
  char rowbuf[96];
  std::memset(rowbuf, ' ', sizeof rowbuf);
  const char* t = w->title ? w->title : "";
  int tlen = static_cast<int>(std::strlen(t));
  int toff;
  if (tlen < 55) {
    toff = 24;
  } else if (tlen <= 76) {
    toff = 78 - tlen;
  } else {
    toff = 2;
    tlen = 73;
  }
  for (int i = 0; i < tlen && toff + i < width; ++i) rowbuf[toff + i] = t[i];
  rowbuf[width] = '\0';
  putsn(rowbuf, w->top, w->left, width);

  // Menu bar: three blanks, then two blanks and each word.
  const int nwords = count_words(w);
  std::memset(rowbuf, ' ', sizeof rowbuf);
  int pos = 3;
  for (int i = 0; i < nwords; ++i) {
    pos += 2;
    const char* word = w->words[i][0];
    for (int k = 0; word[k] && pos < width; ++k) rowbuf[pos++] = word[k];
  }
  rowbuf[width] = '\0';
  putsn(rowbuf, w->top + 1, w->left, width);
  if (nwords > 0) set_scr_area(1, w->top + 1, w->left + 4, w->top + 1, w->left + pos - 1);
  set_scr_area(0, w->top, w->left, w->top + 1, w->left + 1);
  set_scr_area(6, 0, 0, last_row(), 79);

  // Body and frame.
  if (w->bottom >= w->top + 2)
    scr_scrup(0, w->top + 2, w->left, std::min<int>(w->bottom, last_row()), w->right);
  {
    const int cw = cell_w(), ch = cell_h();
    const int x0 = w->left * cw, x1 = std::min((w->right + 1) * cw, scrwidth) - 1;
    const int y0 = w->top * ch, y1 = std::min((w->bottom + 1) * ch, scrheight) - 1;
    raised_frame(x0, y0, x1, y1, light_of(colour), dull_of(colour), 2, 0);
    raised_frame(x0 + 2, y0 + 2, x1, y1, dull_of(colour), dull_of(colour), 0, 2);
    raised_frame(x0 + 3, y0 + 3, x1 - 3, y1 - 3, dull_of(colour), light_of(colour), 1, 1);
    // The top lines run in the title row's pixels: the title is drawn
    // again over them, so they stop at its cells and no line crosses the
    // letters at any font size.
    const int shown = std::min(tlen, width - toff);
    if (shown > 0) putsn(t, w->top, w->left + toff, shown);
  }
  const int cw = cell_w();
  const int ch = cell_h();
  const int button_x = w->left * cw + 3;
  const int button_y = w->top * ch + std::max((2 * ch - std::min(2 * cw, ch) + 2) / 2, 3);
  minus_button(1, button_x, button_y, colour);

  if (nwords == 0) {
    windowfunc_isactive = nullptr;
    w->result[0] = '\0';
    return kKeyEnter;
  }
  if (w->curword >= nwords) w->curword = 0;

  auto word_on = [&](bool on) {
    const int i = w->curword;
    if (on)
      highlightword(w->top + 1, word_col(w, i), word_len(w, i), colour);
    else
      unhighlightword(w->top + 1, word_col(w, i), word_len(w, i), colour);
  };
  word_on(true);

  for (;;) {
    const int i = w->curword;
    int result;
    if (count_lines(w->words[i], nullptr) > 0) {
      result = popmenu(w->words[i], w->top + 2, word_col(w, i) - 1, w->bottom, 1, w->result,
                       w->columns, w->result[kResultSaveFlag]);
    } else {
      w->result[0] = '\0';
      result = kKeyEnter;
    }
    if (result == kKeyLeft || result == kKeyRight) {
      const int next = i + (result == kKeyRight ? 1 : -1);
      if (next >= 0 && next < nwords) {
        word_on(false);
        w->curword = static_cast<unsigned char>(next);
        word_on(true);
      }
      continue;
    }
    if (result == kKeyClick) {
      int r = 0, c = 0;
      mouse_button_where(0, &r, &c);
      if (inside_scr_area(1, r, c)) {
        word_on(false);
        which_word_is_being_pointed(w, c);
        word_on(true);
        continue;
      }
      if (inside_scr_area(0, r, c) || inside_scr_area(6, r, c)) {
        minus_button(0, button_x, button_y, colour);
        word_on(false);
        windowfunc_isactive = nullptr;
        return static_cast<unsigned char>(w->result[kResultCloseCode]);
      }
      continue;
    }
    word_on(false);
    windowfunc_isactive = nullptr;
    return result;
  }
}
