// The fixed-field line editor, the top-row question and one-line helpers.
#include "widgets/prompt.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "chartdata/osshims.h"
#include "screen/keys.h"
#include "screen/screen.h"
#include "setup/environment.h"
#include "widgets/help.h"

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

std::string home_as_tilde(const std::string& path) {
  const char* home = gethomedir();
  if (!home || !home[0] || std::strcmp(home, "/") == 0) return path;
  const std::string h = home;
  if (path == h) return "~";
  if (path.compare(0, h.size() + 1, h + "/") == 0) return "~" + path.substr(h.size());
  return path;
}

std::string title_row_text(const char* text, const std::string& folder) {
  constexpr std::size_t kRow = 79, kGap = 2, kFolderMin = 24;
  std::string head = text ? text : "";
  while (!head.empty() && head.back() == ' ') head.pop_back();
  std::string where = home_as_tilde(folder);
  if (where.empty()) return head.substr(0, kRow);
  if (head.size() + kGap + where.size() > kRow) {
    // Short of room: runs of blanks inside the heading shrink to two.
    std::string squeezed;
    for (char c : head)
      if (!(c == ' ' && squeezed.size() >= 2 && squeezed.compare(squeezed.size() - 2, 2, "  ") == 0))
        squeezed.push_back(c);
    head = squeezed;
  }
  std::size_t room = head.size() + kGap + where.size() <= kRow
                         ? where.size()
                         : std::max(kFolderMin, kRow - std::min(kRow, head.size() + kGap));
  if (room > kRow - kGap) room = kRow - kGap;
  if (where.size() > room) where = "..." + where.substr(where.size() - (room - 3));
  const std::size_t head_room = kRow - kGap - where.size();
  if (head.size() > head_room) head.resize(head_room);
  std::string row = head;
  row.append(kRow - head.size() - where.size(), ' ');
  row += where;
  return row;
}

void draw_title_row(const char* text) {
  std::string row;
  if (text && text[0]) {
    char buf[4096];
    row = title_row_text(text, ::getcwd(buf, sizeof buf) ? buf : "");
  }
  putsn(row.c_str(), 0, 0, static_cast<int>(row.size()));
  scr_clrl();
  highlight_title_row();
}

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

namespace {

// Blinks the cursor at the current text position and reads the key that
// ends the wait: a click on the minus button is ESC, a click on the
// pop-up's area highlights the field of `len` cells at (row, col) first.
int read_field_key(int row, int col, int len) {
  dotblink(0, 0, 0);
  int mr = seen_click.row, mc = seen_click.col;
  int button = seen_click.button;
  seen_click = {};
  if (!button) button = mouse_button_where(0, &mr, &mc);
  if (button == 0) return scr_getc(1);
  if (inside_scr_area(0, mr, mc)) return kKeyEsc;
  if (inside_scr_area(5, mr, mc)) scr_inverse_atr(row, col, len, color[0]);
  return scr_getc(1);
}

}  // namespace

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
  // A field that shows an old value (kept as it is, no NUL) is replaced
  // by what is typed: the first printable key clears it.  After Home, End
  // or an arrow the typing goes over the text instead.
  bool fresh = text_end > 0;
  int key = 0;
  for (;;) {
    scr_rowcol(row, col + idx);
    key = read_field_key(row, col, len);
    if (key == kKeyF1) {
      help_here();
      continue;
    }
    if (fresh && (numeric_char(key) || (cls == 'a' && text_char(key)))) {
      for (int i = 0; i < len; ++i) buf[i] = ' ';
      putsn(std::string(static_cast<std::size_t>(len), ' ').c_str(), row, col, len);
      text_end = 0;
    }
    fresh = false;

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

int edit_name_field(int row, int col, int width, char* buf, std::size_t size, const char* shown) {
  if (width < 1) width = 1;
  if (size < 1) return kKeyEsc;
  std::string text;
  std::size_t idx = 0, first = 0;
  bool showing_default = shown && shown[0];
  auto draw = [&] {
    if (idx < first) first = idx;
    if (idx >= first + static_cast<std::size_t>(width)) first = idx - static_cast<std::size_t>(width) + 1;
    std::string cells;
    if (showing_default) {
      // The default's end: a path shows its file name.
      const std::string d = shown;
      cells = d.size() > static_cast<std::size_t>(width) ? d.substr(d.size() - width) : d;
    } else {
      cells = first < text.size() ? text.substr(first, static_cast<std::size_t>(width)) : std::string();
    }
    cells.resize(static_cast<std::size_t>(width), ' ');
    putsn(cells.c_str(), row, col, width);
  };
  putsn("<", row, col + width, 1);
  draw();
  mouse_cursor(row + 1, col);
  mouse_show(1);
  int key = 0;
  for (;;) {
    scr_rowcol(row, col + static_cast<int>(idx - first));
    key = read_field_key(row, col, width);
    if (key == kKeyClick) continue;
    if (key == kKeyF1) {
      help_here();
      draw();
      continue;
    }
    if (key == '|') break;
    if (numeric_char(key) || text_char(key)) {
      if (idx >= text.size() && text.size() + 1 >= size) {
        toner(640, 2);  // the name would not fit: never cut
        continue;
      }
      showing_default = false;
      if (idx < text.size())
        text[idx] = static_cast<char>(key);
      else
        text.push_back(static_cast<char>(key));
      ++idx;
      draw();
      continue;
    }
    if (key == kKeyBackspace) {
      if (idx > 0) {
        --idx;
        if (idx + 1 == text.size())
          text.pop_back();
        else
          text[idx] = ' ';
        draw();
      }
      continue;
    }
    if (key == kKeyHome) {
      idx = 0;
      draw();
      continue;
    }
    if (key == kKeyEnd) {
      idx = text.size();
      draw();
      continue;
    }
    break;  // Enter, Esc, arrows, function keys, ...
  }
  mouse_show(0);
  scr_cursoff();
  putsn(" ", row, col + width, 1);
  scr_rowcol(row, col);
  std::memcpy(buf, text.data(), text.size());
  buf[text.size()] = '\0';
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
    // F1 shows the help of this place, then the question again.
    while ((key = scr_getc(1)) == kKeyF1) {
      help_here();
      scr_attr = title_attr();
      scr_rowcol(0, 0);
      scr_clrl();
      putsn(question, 0, 0, -1);
      scr_curson();
    }
    tone(1024, 1);
  } else {
    scr_rowcol(saved_row, saved_col);
    while ((key = scr_cst()) == 0) timedely(1);
  }

  scr_cursoff();
  scr_rowcol(0, 0);
  scr_clrl();
  draw_title_row(title);
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
