// Symbols taken from text lines, made usable as chart file names, and the
// storage directory a chart of a given text file lives in.
//
// A symbol is lower-cased, passed through illegal_dos and then
// fix_hypermart_names, and cut to kMaxSymbol characters.  The text-to-chart
// conversion and the quick-quote import both name their charts this way.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

inline constexpr std::size_t kMaxSymbol = 21;  // longest symbol / chart name from a line

// Makes a device name usable and tames dots and blanks, in place:
//  - a name that is exactly "CON", "PRN", "AUX", "COM1", "COM2" or "prn"
//    (compared with case) gets "_" appended (the buffer must have room for
//    one more character; those names are at most 4 long, so 6 bytes do);
//  - a name with more than one '.' has its first '.' turned into '`';
//  - at the first blank: a blank in the first place becomes '`', a blank
//    anywhere else ends the name.
void illegal_dos(char* name);

// In place: '/' becomes '-', blanks are removed, letters are lower-cased.
// A name beginning with '7' or '8' loses that digit and is cut after the
// run of letters that followed it ("8xyz12" gives "xyz", "72" gives "").
void fix_hypermart_names(char* name);

// The chart name of a symbol field: the text up to `sep` (or its end),
// lower-cased, then illegal_dos and fix_hypermart_names, cut to kMaxSymbol
// characters.  A leading '.' becomes '_', so that no chart is hidden or can
// be taken for a temporary file (".DJI" gives "_dji").  Used for every
// symbol of a text, so that the first symbol and the symbols of later lines
// compare equal when they are the same.
std::string symbol_to_name(std::string_view field, char sep);

// The storage directory of a chart, from the text file's name and the
// chart name:
//  - the extension (the text after the first '.' of the file's own name,
//    the part after its last '/') is "prn": "stk_" + first letter of chart;
//  - any other extension: its first three characters, "_", first letter;
//  - no '.' at all: the first letter of the chart name alone.
// The text name is compared in lower case.  "quotes.csv" + "ibm" gives
// "csv_i", "991231.STK" + "ibm" gives "stk_i", "prices" + "ibm" gives "i".
std::string storage_dir(std::string_view textname, std::string_view chartname);
