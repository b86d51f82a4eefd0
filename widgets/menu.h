// Menu-bar windows and pop-up lists.
//
// `windows` draws a framed window whose second row is a bar of words and
// drops the pop-up list of the current word under it; `popmenu` shows a
// framed, scrollable list of lines (one or several cells per line) and lets
// the user choose with keys or the mouse.
//
// Screen areas (screen/screen.h) used while these run:
//   0 the minus button, two cells left of a title bar
//   1 the menu-bar words (or a title bar's text)
//   2 the visible lines of the open pop-up
//   3 the up-scroll mark  4 the down-scroll mark
//   5 (left set on return) from the pop-up's top-left to the bottom right
//   6 the whole screen
//
// Types: windows returns int (the 16-bit result widened).
#pragma once

// A word list: element 0 is the word shown on the menu bar, elements 1...
// are the lines of its pop-up, ended by a null pointer or an empty text.
using WordList = const char* const*;

// Byte offsets inside MenuWindow::result.
enum : int {
  kResultTextMax = 91,   // the chosen cell: at most 91 characters and a NUL
  kResultCloseCode = 92, // key windows() returns for a click on the minus
                         // button or outside the pop-up and the menu bar
  kResultSaveFlag = 93,  // non-zero: popmenu saves and restores the screen
};

struct MenuWindow {
  short top = 0;            // top row of the window
  short left = 0;           // left column
  short bottom = 0;         // bottom row
  short right = 0;          // right column
  const char* title = "";   // shown in the window's first row
  unsigned char curword = 0;  // index of the current menu-bar word, kept between calls
  unsigned char columns = 1;  // cells per pop-up line (1 for plain lists)
  unsigned char colour = 7;   // colour index of the window
  WordList words[7] = {};   // at most 6 word lists, ended by a null slot
  char result[96] = {};     // chosen cell text; bytes 92 and 93 see above
};

// The menu window whose pop-up is open; null while popmenu runs by itself.
extern MenuWindow* windowfunc_isactive;

// Pop-up state that outlives each call: the highlighted line within the
// visible rows, and the index of the first visible line.
extern int popline;
extern int voffset;

// Set by each popmenu call (read by the pointer-motion handler and tests).
extern int maxvoffset;      // lines minus visible rows
extern int toprow, leftcol; // the box's top row and left column
extern int hsz;             // box width: longest line + 4
extern int barlgth;         // highlight bar width (one cell minus 1)
extern int startofhighlite; // column where the highlight starts
extern int detectscrollr;   // scroll marks sit in column detectscrollr + 2
extern int detectscrolld;   // last visible row
extern int color0;          // menu colour index (color[0])
extern int color0short;     // menu colour as a colour number
extern int updnactive;      // bit 0 up mark lit, bit 1 down mark lit

// Draws the window and runs the pop-up of the current word.  Returns the
// pop-up's result (a line index, Enter after a choice in a several-column
// list, a key), or result[kResultCloseCode] for the minus button or a
// click elsewhere.
int windows(MenuWindow* w);

// Runs a pop-up list.  `lines` is a word list (element 0 is not shown).
// Rows from `top` (frame) to `bottom` limit the box; `left` is its left
// column.  With `acceptkeys`, keys without a meaning in the list are
// returned in lower case.  `result` (may be null) receives the text of the
// chosen cell.  `columns` <= 0 counts as 1.  `save` non-zero saves the
// screen image before and restores it after.
// Returns voffset + popline after Enter in a one-column list, kKeyEnter
// after Enter in a several-column list, otherwise the key: Esc, a click,
// Right/Left (one column only), Del (the cell copied to `result`), or another key in
// lower case when `acceptkeys` is set.
int popmenu(WordList lines, int top, int left, int bottom, int acceptkeys, char* result,
            int columns, int save);

// Highlight bar with a raised border, and its removal.
void highlightword(int row, int col, int length, int colour);
void unhighlightword(int row, int col, int length, int colour);

// A title bar of `width` cells at (row, col) with a minus button in the
// two cells left of it; sets areas 0 and 1.
void Xbar(const char* text, int row, int col, int width, int colour);
// Draws the minus button at pixel (x, y), raised (1) or pressed (0).
void minus_button(int raised, int x, int y, int colour);

// Sets w->curword to the menu-bar word at `column` and returns its offset
// from the window's left column.
int which_word_is_being_pointed(MenuWindow* w, int column);

// restore == 0 saves the whole window image, 1 draws it back.  Returns 1.
int fake_pg(int restore);

// Draws the pop-up box and its visible lines (rowheight is unused: one
// text row per line).
void display_menu_text(WordList lines, int left, int width, int top, int rowheight,
                       int visible, int first, int maxvoff);

// The pointer-motion handler installed while a pop-up waits for keys.
// A non-zero result reaches the key reader as a key code.
int mouse_mover_poparea(int y, int x);
