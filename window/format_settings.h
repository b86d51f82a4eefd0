// The text-format settings menu: date notation, field order, separator,
// first date and direction of the F2 conversion, kept in the global `ff`.
#pragma once

// Menu lines in screen order; itemX holds the "[X]" forms of lines 1-4, 7, 8.
inline constexpr int kFormatItems = 11;
extern const char* items[kFormatItems];
extern const char* itemX[kFormatItems];

// The settings summary that `title` points at while a conversion runs
// (80 bytes, blank-filled, NUL at 79).
extern char format_title[80];

// Screen positions of the editable fields.
inline constexpr int kOrderRow = 7, kOrderCol = 66;
inline constexpr int kSepRow = 13, kSepCol = 68;
inline constexpr int kDateRow = 14, kDateCol = 48;
inline constexpr int kF2Row = 16;

// Draws the static menu; returns the row below the F2 line (17).
int formatmenu();

// Runs the menu until F2 (returns 1, screen cleared) or ESC (returns 0).
// Every key other than F2 and ESC sets *changed to 1.
int format_choices(int* changed);

// Removes the highlight of a field before it is edited.
void special_highlight(int row, int col, int len, int colour);

// Pure helpers (no screen), used by the menu and by tests.
// Upper-cases the 12 field letters and blanks everything that is not a letter.
void clean_field_order(char order[12]);
// The separator for a typed character: a digit gives a blank.
char separator_from_key(char c);
// Replaces every non-digit of the 8-character start date by '0'.
void clean_start_date(char date[8]);
// A start date typed short is the first day of its year or month:
// "2001" gives 20010101, "200105" 20010501 (blanks at the end filled).
void complete_start_date(char date[8]);
// Builds the settings summary into `out` (80 bytes) from `ff`.
void build_format_title(char out[80]);
