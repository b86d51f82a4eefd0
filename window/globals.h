// State shared by the conversions, the main menu and the settings menu.
#pragma once

#include "chartdata/globals.h"
#include "convert/format.h"
#include "widgets/title.h"  // title: heading that msg() redraws on row 0

extern FormatSettings ff;
extern char firstname[44];       // the name picked in the file chooser
extern char exclamfile;          // 1 while a list of names is worked through
extern char savenm[81];          // the chart stored last
extern int fptextsrc;            // descriptor of the text being read
extern char get_the_symbol[22];  // next symbol of a multi-symbol text

// Built-in format settings: code 0, "DOHLCVI", ',', "19600101", text to chart.
void set_builtin_format();
