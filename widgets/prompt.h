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

// Edits the field of `len` cells at (row, col) in place; `buf` holds at
// least len + 1 characters.  Typing overwrites from the first cell.
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

// Moves the text position to row 4, column 50 (where name prompts start).
void drive();
// Print `text` at the current text position.
void puuts(const char* text);
void putss(const char* text);
// Always 1.
int upsize();
