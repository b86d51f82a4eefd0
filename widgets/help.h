// The help viewer: numbered pages of the help file "m.hlp".
//
// A page opens with '#' and its number in decimal digits; its text runs to
// the next '#'.  A tab shows as five blanks; a 0xFF byte right after a
// marker's digits ends the help.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Shows the help from page `page` on, at most `npages` screens, in a full
// screen window; PgUp goes back, Esc or F10 leaves.  When the file is
// missing it asks the user to make it available and retries until Esc.
// The last help screen stays on the screen.
void new_instructions(int page, int npages);

// The help page of the screen now shown (the page F1 opens in its fields
// and questions); the file chooser's name field shows its own page.
void set_help_page(int page);
int help_page();
// F1 where the screen shows a field or a question: the help from
// help_page() on, over a saved and restored screen.
void help_here();
// Where the help file is looked for, in this order: the start directory;
// the program's own folder (the folder of /proc/self/exe) and its
// share/morva install folder; the search path.
std::vector<std::string> help_file_places();

// The file offset of the marker of page `page`, or 0 with no file or no
// such page.  Reads from the stream's current position.
long find_pagenum(int page, FILE* file);
