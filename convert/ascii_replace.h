// The replacement of a text file by the chart stored from it (a list of
// names whose own name begins with "ASCII" asks for it).
#pragma once

// Replaces the text file `textname` by the chart `chartname` that was just
// stored from it, only when that chart exists and is a complete chart file
// (header and at least one whole bar).  The text file gets a copy of the
// chart, whole or not at all; the chart stays where it was stored.
// Returns 1 when replaced.
int ascii_replace(const char* textname, const char* chartname);
