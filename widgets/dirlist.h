// The names of a directory listing and their layout in rows of cells.
//
// Names are gathered in the process with glob(3): no shell and no temporary
// list file.  The listing starts with the parent entry "../", followed by
// every name that matches one of the blank-separated patterns, each name
// once, sorted bytewise; directories carry a trailing '/'.
#pragma once

#include <string>
#include <vector>

inline constexpr int kDirTableEntries = 600;  // caption, rows of names, end mark
inline constexpr int kDirRowChars = 80;       // one row buffer
inline constexpr int kDirCellWidth = 13;      // one name cell

// The list table of the directory window: entry 0 the caption, then rows
// of cells; the first empty or missing row ends the list.  Row buffers are
// allocated when first needed and reused by later listings.
extern char* targopnX[kDirTableEntries];

// Every name in the working directory matching one of the blank-separated
// glob patterns in `pattern`, with "../" first.
std::vector<std::string> list_names(const char* pattern);

// Lays `names` out in rows of `per_row` cells of 13 characters: at most
// 12 of a name (11 and '~' for a longer one), blank-padded into table[0..], at most `limit` names and never past
// `rows` rows; the row after the last one is emptied when it exists (the
// end mark).  Returns the number of rows written, or -1 when a row buffer
// cannot be allocated for the first row.
int columnize_names(const std::vector<std::string>& names, int per_row, char** table, int rows,
                    int limit);

// Fills targopnX-style `table` (entry 0 is left alone) with the listing of
// `pattern`.  Returns 1 when the table was filled, 0 when nothing could be
// listed.  The full names of the last listing stay available through
// listed_name().
int dir(const char* pattern, char** table, int per_row, int limit);

// The full name shown (possibly cut to 13 characters) in cell `cell` of row
// `row` (1-based, as in the table) of the last listing; empty for a padding
// cell or out of range.
const std::string& listed_name(int row, int cell);
