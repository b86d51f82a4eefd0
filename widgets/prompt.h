// The one-line editor, the top-row question and a few one-line helpers.
//
// Key codes are the DOS-style codes named in screen/keys.h (kKeyClick is
// a click on an active screen area other than 2..5).
//
// Types: fgts returns int (the key code, 0..255).  msg returns char: the
// key's low byte turned to lower case; compare it as (unsigned char) for
// codes above 127.
#pragma once

#include <cstdio>
#include <string>

// Edits the field of `len` cells at (row, col) in place; `buf` holds at
// least len + 1 characters.  Typing overwrites from the first cell; a
// field that shows an old value (terminate other than 'y', text in `buf`)
// is cleared by the first printable key, unless Home, End, an arrow or
// Backspace came first.
//   source    ignored (null or stdin): keys come from the keyboard
//   cls       'a' letters, punctuation and the numeric characters;
//             anything else ('n'): digits, '.', '-', '+' and blank only
//   arrows    'y': Left/Right move inside the field; otherwise they end
//             the edit (29 Left at index 0, for example)
//   Home and End move to the first cell and after the field's text, in
//   every field.
//   terminate 'y': a NUL is stored after the text when the edit ends (at
//             the cursor index when that lies further right)
// Returns the key that ended the edit.  A "<" marks the cell after the
// field while editing.
int fgts(FILE* source, char cls, int row, int col, int len, char* buf, char arrows,
         char terminate);

// The name field: `width` cells at (row, col) that scroll over a name of up
// to size - 1 characters, so a path of any length can be typed; a key that
// would make it longer sounds the error tone (a name is never cut).  The
// name starts empty; `shown` (may be null), the default that Enter in the
// empty field takes, is drawn in the field (its end when it is long) until
// the first character is typed.  Typing goes over the text from the
// cursor; Backspace, Home and End edit as in fgts.  Arrows, Enter, Esc and
// the function keys end the edit.  `buf` (size bytes) receives the name.
// Returns the key that ended the edit.
int edit_name_field(int row, int col, int width, char* buf, std::size_t size,
                    const char* shown = nullptr);

// Blinks an underline (a block while Num Lock is held) at the current text
// position until a key or click is waiting.  The arguments are not used.
void dotblink(int, int, int);

// Shows `question` on row 0 and waits for a key.  wait != 0: the key is
// read and consumed; wait == 0: the call returns once a key is waiting and
// leaves it for the next read.  Afterwards row 0 shows `title` (the global
// heading or "") highlighted in the title colours.  Returns the key in
// lower case.
char msg(const char* question, const char* title, int wait);

// Shows a message of the screen library (an X error) as a question with
// an empty title that returns as soon as a key is waiting and leaves the
// key for the program.  Install it at start-up with
// screen_set_error_reporter(report_screen_error).
void report_screen_error(const char* message);

// The colour number that highlights the title row: color[0] + 256, or, for
// a setup colour of 128 or more, BRIGHT of its low four bits.
int title_colour();
// Highlights the 80 cells of row 0 in the title colours.
void highlight_title_row();

// The 79 characters row 0 shows for the heading `text` in the folder
// `folder`: the heading from column 0 and the folder (the home as "~")
// at the right end; a heading too long for both is cut, and a long
// folder keeps its end, so the folder's own name is always seen.
std::string title_row_text(const char* text, const std::string& folder);
// Row 0 of a command screen: title_row_text of `text` in the working
// folder, highlighted in the title colours.  An empty text clears the row
// without a folder.
void draw_title_row(const char* text);
// `path` with the home directory shown as "~".
std::string home_as_tilde(const std::string& path);

// Moves the text position to row 4, column 50 (where name prompts start).
void drive();
// Print `text` at the current text position.
void puuts(const char* text);
void putss(const char* text);
// Always 1.
int upsize();
