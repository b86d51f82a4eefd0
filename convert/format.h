// The format settings of a text: how its lines are laid out.
#pragma once

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

// Built-in format settings: code 0, "DOHLCVI", ',', "19600101", text to chart.
FormatSettings builtin_format();
