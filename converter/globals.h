// State shared by the conversions, the main menu and the settings menu.
#pragma once

#include "chartdata/globals.h"
#include "widgets/title.h"  // title: heading that msg() redraws on row 0

// The 25-byte format settings, kept in this exact layout in "morvautl.dat".
struct FormatSettings {
  char datecode;      // 0 yyyymmdd, 1 31dec92, 2 12/31/92 or hh:mm:ss, 3 yymmdd
  char order[12];     // field letters S D O H L C V I M, blank padded
  char nul1;          // ends the order string
  char sep;           // separator between fields
  char startdate[8];  // first date to convert, ASCII yyyymmdd
  char nul2;
  char direction;     // 0 text to chart, 1 chart to text
};
static_assert(sizeof(FormatSettings) == 25, "format settings are a 25-byte record");

extern FormatSettings ff;
extern char tt[14][20];          // field texts of one line, by field letter
extern char firstname[44];       // the name picked in the file chooser
extern char exclamfile;          // 1 while a list of names is worked through
extern char savenm[81];          // the chart stored last
extern int fptextsrc;            // descriptor of the text being read
extern char get_the_symbol[22];  // next symbol of a multi-symbol text

// Built-in format settings: code 0, "DOHLCVI", ',', "19600101", text to chart.
void set_builtin_format();
