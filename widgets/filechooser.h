// The file-name prompts that every command uses, the directory commands that
// can be typed into them, and the directory listing behind F9.
//
// The name field sits at row 4, column 52, 21 cells wide.  Typed names are
// opened as files with open(2); nothing is ever passed to a shell.
#pragma once

#include <cstddef>
#include <string>

// The word shown on the listing window's menu bar.
inline constexpr const char* kDirectoryCaption = "Directory";

// Source prompt: prints `title` highlighted on row 0, "Ready to convert a
// file." on row 2, `prompt` on row 4 and the F9 hint on row 6, then edits the
// name field until a file opens.  F9 or "DIR"/"CD ..." open the listing; an
// empty field takes the name last picked there.  With `charts`, an old
// chart is brought to four-digit years before it is opened; other sources
// (texts, archives, quote files) are never changed.
// The field scrolls over a name of up to size - 1 characters; a leading
// "~/" is the home.  Returns an open read-only descriptor (> 0) with the
// name in `name` (`size` bytes), or 0 on ESC or when the file cannot be
// opened ("File is missing.2" shown).
int dir_on_1stname(const char* prompt, char* name, bool charts = false, std::size_t size = 44);

// Target prompt: the same field without the heading.  A name picked in the
// listing becomes its whole path.  Returns 1 when the named file exists
// (opened and closed again), -1 when it does not exist or cannot be
// opened, 0 on ESC.  `name` holds `size` bytes.
int dir_on_2ndname(char* name, std::size_t size = 44);

// A leading "~/" of `name` (`size` bytes) made the home directory; false
// (the name unchanged) when the result would not fit.
bool expand_home(char* name, std::size_t size);

// Carries out a directory command typed into a name field (compared exactly,
// upper case):
//   "X:"           select drive X (no effect on Linux); datadisk = getdrive()
//   "DIR"          nothing to do here; the caller opens the listing
//   "CD.." "CD/x"  change the working directory to the text after "CD"
//   "CD path"      change the working directory to the text after "CD "
// Returns 1 when `name` was such a command, else 0.  `key` is not used.  A
// failed directory change is ignored.
int chdrive(int key, char* name);

// The five-column directory listing in a menu window over rows top..bottom,
// columns left..right.  `pattern` (at least 48 bytes) holds the glob pattern
// on entry ("*"; several patterns may be separated by blanks).  A letter or
// digit narrows the listing to names starting with it (either case), F1
// shows help page 4, choosing a directory enters it and updates datasubdir,
// "../ EXIT" (offered below the setup's data directory) goes up.
// The listing walks folders only while it is open: it ends in the folder
// (and data directory) it started in.  Its title names the folder shown;
// its frame is as tall as its rows.
// Returns kKeyEnter with the chosen file name in `pattern` and its path
// from the starting folder in last_chosen(), or kKeyEsc / kKeyClick with
// `pattern` emptied when the user left the listing (Esc also when nothing
// can be listed).
int openselected(char* pattern, const char* caption, int top, int left, int bottom, int right,
                 int save);
// The path of the file last chosen in the listing, from the folder the
// listing started in (a name there, a path below it, else a whole path).
const std::string& last_chosen();
