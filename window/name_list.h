// The list of names that every command can work through: a chosen name
// holding '!' is a file that lists the names of other files, one a line.
// Also the check every command makes before it creates its target, and the
// replacement of each text of an "ASCII" list by its chart.
#pragma once

// The next source file.  `namebuf` (kNameSize bytes) receives its name, `*listflag` is set to 1 while a list is worked through, `fd`
// is the descriptor the file chooser returned for `firstname`.  Without a
// '!' in `firstname` that one file is the source and `fd` comes back.
// Otherwise the next line of the list names it; ESC waiting, the end of the
// list, an empty line, a line beginning with '^' or an entry that cannot be
// opened end the list: it is closed, `namebuf` emptied, and 0 returned.
// With `charts`, an old chart among them is brought to four-digit years
// first.  Each returned descriptor is closed by the command that reads it.
int do_all(char* namebuf, char* listflag, int fd, bool charts = false);

// 1 after "Use a name which differs from the source name." (the key that
// ends the message is waited for) when the two names are equal byte for
// byte; else 0.
int not_differ(const char* target, const char* source);

// A list whose own name begins with "ASCII" or "ascii": each text in it is
// replaced by the chart stored from it.
bool ascii_list(const char* listname);

// Says that the text `textname` is being replaced and replaces it by the
// chart `chartname`; when `stored_alone` is false (no chart was stored
// from this text alone) or the chart is not whole, says that it stays.
void replace_ascii_entry(const char* textname, const char* chartname, bool stored_alone);
