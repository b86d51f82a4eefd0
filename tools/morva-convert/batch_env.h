// The files a batch run shares with the window, read without changing them:
// the start directory, the data directory named by "setup.mrv", and the
// format settings saved in "morvautl.dat".  Nothing here writes a file,
// creates a directory or reads the launcher's hand-off file.
#pragma once

#include <string>

#include "convert/format.h"

// The start directory as the window finds it without a hand-off file: the
// current directory when it holds an executable "xmorva" ("/" and at most 23
// characters of its path), else the home directory cut to 17 characters
// followed by "/morva", else "".
std::string batch_start_dir();

// Reads the data directory out of "setup.mrv" in `start_dir` (bytes 26-49,
// up to the first NUL).  1 when the setup file was read (`data_dir` may
// then be empty), 0 when there is none.
int batch_setup_data_dir(const std::string& start_dir, std::string& data_dir);

// Where the window would work for this data directory: the directory itself
// when it exists, else the home directory, "/" and its last component (cut
// to 24 characters) when that exists.  "" when neither exists.
std::string batch_existing_data_dir(const std::string& data_dir);

// Loads "morvautl.dat" of `start_dir` over `f` (which holds the built-in
// settings on entry), accepting the older 23-byte layout as the window
// does.  1 when the file was read, 0 when there is none (f unchanged).
int batch_load_defaults(const std::string& start_dir, FormatSettings& f);

// Parsers of the format options; each returns 1 and stores the value, or 0
// for text that does not describe one.
//   order: up to 12 of the letters S D O H L C V I M in either case; stored
//          upper case and blank padded.
//   separator: one character ("space", "tab" and "comma" name the blank,
//          the tab and ','); a digit becomes a blank, as in the menu.
//   date format: 0-4 or yyyymmdd (also iso, yyyy-mm-dd), ddmonyy, mm/dd/yy,
//          yymmdd, dd.mm.yyyy.
//   start date: eight digits yyyymmdd.
int parse_order_option(const std::string& text, char order[12]);
int parse_separator_option(const std::string& text, char* sep);
int parse_date_format_option(const std::string& text, char* code);
int parse_start_option(const std::string& text, char startdate[8]);

// Chart type letter for a --type value: D W M N (either case) or daily,
// weekly, monthly, numbered.  0 for anything else.
char parse_chart_type(const std::string& text);
