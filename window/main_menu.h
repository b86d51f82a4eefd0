// The main menu, its dispatch to the commands, and the end of the program.
#pragma once

// The main-menu group: "FILE", twelve lines, null.
extern const char* xmenu[14];
// File-chooser prompts: [0] for chart files, [1] for text files.
extern const char* prompt[2];

// Choice codes of the main loop.
enum ChoiceCode : int {
  kChoiceTextChart = 11, kChoiceWeekMonth = 12, kChoiceCompress = 13, kChoiceArith = 14,
  kChoiceCSI = 15, kChoiceTelemet = 16, kChoiceStarquote = 17, kChoiceTechtools = 18,
  kChoiceBloomberg = 19, kChoiceQuickquote = 20, kChoiceInvestor = 21, kChoiceExit = 22,
  kChoiceNone = 0,
};

// Maps the main menu's result to a choice code.  `on_line`: f is the index
// of the line chosen with Enter or the mouse; otherwise f is a key (lower-
// case letter or key code), and only the menu's own keys (F2-F9, B, T, I,
// ESC) choose.  kChoiceNone for anything without a meaning.
int choice_code(unsigned char f, bool on_line);

// Shows the main menu and returns the widget's result; *on_line (when
// given) tells whether it is a chosen line rather than a key.
unsigned char firstmenu(bool* on_line = nullptr);

// Runs the main loop until the program ends.  `handoff` is 1 when the
// program was started with an argument.
[[noreturn]] void main_loop(int handoff);

// Prepares a sibling tool: writes "exe.mrv", saves the defaults when the
// tool exists.  `name` is the tool's name with a leading backslash.
void runMORVAxx(const char* name);

// Ends the program: defaults saved when `changed`, "tmpmorva" written with
// `name` in the start directory when `handoff`, display closed, exit 0.
[[noreturn]] void endmorvautl(int handoff, const char* name, int changed);

