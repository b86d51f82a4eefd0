// Entry points of the commands that the main menu dispatches to, and the
// helpers of the main loop that every command shares.  Each command lives in
// its own file: the dialogue (these functions) over a core that does the file
// work.
#pragma once

#include <cstdio>

#include "window/name_list.h"  // do_all and not_differ, which every command uses

// Text <-> chart (F2).
int generalTR(int fd, char* textname);   // text file -> charts; 1 when stored
int generalRT(int fd);                   // chart -> text file; 0 on ESC at the name
// InvestorLink ZIP import (I).
int investorlink();
// Weekly / monthly (F3), numbered (F4), adjustment (F5).
int DAYWK(int fd, FILE* idx);
int DAYMONTH(int fd, FILE* idx);
int COMPRESSs(int fd);
int addsubmultdiv(int fd, FILE* idx);
// Vendor imports (F9, T).
int do_techtools();
void do_quickquote();
// Asks for the target chart of the open TechTools file `fd` (its name in
// exclambuf), converts it and reports on screen.  Closes fd.  On success the
// chart's name is in savenm and 1 is returned; 0 on ESC or failure.
int techsub(int fd);
// Asks for the update date of the open quote file `fd` (its name in
// exclambuf) and imports it.  Sets the format settings' field order to
// "SCVOHL" and the separator to a blank.  Closes fd.  Non-zero after a
// completed import; savenm then names the chart stored last.
int quickquotesub(int fd);
