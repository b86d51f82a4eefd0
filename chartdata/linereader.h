// Line and field readers for text sources read through plain descriptors.
//
// mygts reads through a block buffer kept per descriptor, but behaves as if
// it read one byte at a time: after every call the descriptor's own file
// position (lseek) is just after the last byte consumed, so callers may mix
// in lseek/read/close.  A buffer is dropped when the descriptor's position
// or file (device, inode, size, mtime) no longer match it; callers should
// still call linereader_release(fd) (or linereader_close) when done.
#pragma once

#include <sys/types.h>

// Reads one line of at most n - 1 stored characters into buf.  A carriage
// return is not stored but uses up one unit of the budget; a line feed ends
// the line and is not stored; when the budget runs out mid-line, the rest
// is the next line.  Returns buf, or nullptr when the file has ended (or a
// read failed) before any character was stored.  n <= 1 stores "" and
// reads nothing.
char* mygts(char* buf, int n, int fd);

// Moves the position back to the start of the line read last, examining
// at most 256 bytes backwards (a longer line leaves the position inside
// it); never before the start of the file.
void go_back_a_line(int fd);

// The n-th field (from 1) of text split at every `sep`, at most 511
// characters, in a static buffer that the next call overwrites; "" when n
// <= 0 or the text has fewer fields.
const char* piece(const char* text, char sep, int n);

// Logical reading position (same as lseek(fd, 0, SEEK_CUR)); -1 on error.
off_t linereader_tell(int fd);
// Sets the reading position (absolute).
void linereader_seek(int fd, off_t pos);
// Forgets the buffer of fd.
void linereader_release(int fd);
// linereader_release + close; the result of close.
int linereader_close(int fd);
