// State shared by the conversions, the main menu and the settings menu.
#pragma once

#include <cstddef>

#include "convert/format.h"
#include "convert/text_to_chart.h"
#include "widgets/title.h"  // title: heading that msg() redraws on row 0

extern FormatSettings ff;
// File names of any length the system takes.
inline constexpr std::size_t kNameSize = 4096;
extern char firstname[kNameSize];  // the name picked in the file chooser
extern char exclambuf[kNameSize];  // name of the file now being processed
extern char exclamfile;            // 1 while a list of names is worked through
extern char savenm[kNameSize];     // the chart stored last
extern char get_the_symbol[22];  // next symbol of a multi-symbol text
// The time-of-day date counters, kept for the whole run of the window.
extern TimeOfDayDates time_of_day;

// Built-in format settings: code 0, "DOHLCVI", ',', "19600101", text to chart.
void set_builtin_format();
