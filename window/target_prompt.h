// The target-name prompt shared by the commands that write a new chart from
// a source chart (weekly, monthly, numbered) and by the TechTools import.
//
// One round: rows 2-9 are cleared; row 2 shows "Source: <source> Ready to
// store new file." and, two lines below, the caller's prompt text from
// column 0; "(Press F9 for a directory listing)" sits at row 6, column 27.
// The name is edited in a 21-cell field at row 4, column 52 that scrolls
// over a name of any length; a leading "~/" is the home.
//   - ESC ends the prompt (nothing is written by the caller).
//   - F9, or a drive or directory command typed in the field (chdrive),
//     opens the directory listing; a file picked there becomes the default
//     name (its whole path), shown in the field; picking nothing clears the
//     default.
//   - An empty field takes the default name.
//   - A name equal to the source name is refused with "Use a name which
//     differs from the source name." (not_differ).
#pragma once

#include <cstddef>

#include "convert/chart_output.h"  // same_file_as

enum TargetPromptResult : int {
  kTargetAccepted = 1,  // a name was accepted; it is in TargetPrompt::name
  kTargetAgain = 2,     // single round only: a listing was shown or the name was refused
  kTargetEscape = 27,   // ESC: the command ends without writing anything
};

struct TargetPrompt {
  const char* source = "";  // source name: shown after "Source: " and compared with the answer
  const char* prompt = "";  // prompt text printed at row 4 from column 0 (47 to 49 characters)
  char name[4096] = "";     // out: the accepted target name
  char picked[4096] = "";   // default name from the last pick; kept between rounds and calls
};

// Asks until a name is accepted (kTargetAccepted) or ESC (kTargetEscape).
int ask_target_name(TargetPrompt& tp);

// One round of the prompt: kTargetAccepted, kTargetEscape, or kTargetAgain
// after a listing or a refused name (the numbered-chart dialogue then asks
// its count again before the next round).
int ask_target_name_once(TargetPrompt& tp);
