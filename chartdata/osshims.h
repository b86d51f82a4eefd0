// The DOS library calls the program was written against, on Linux.  None of
// them runs a shell: paths with blanks, quotes or ';' are plain paths.
#pragma once

#include <cstddef>
#include <string>

// Drives do not exist: setdrive does nothing, getdrive is always 'A' (65).
void setdrive(char drive);
int getdrive();

// 1 when the path exists (access F_OK), else 0.
int exist(const char* path);

// Current directory without its leading slash, at most 126 characters, into
// buf (at least 127 bytes).  1 on success; 0 with buf empty when the
// directory cannot be read.  The drive is ignored.
int getdir(char drive, char* buf);

// Creates every missing directory along path, one level at a time, at most
// eight '/'-separated fields (seven levels of an absolute path, eight of a
// relative one); stops at an empty field.  A level that still does not
// exist afterwards is reported on standard output as
// "\nVery odd. Still doesn't exist: %s" and ends the work.
void sys_mkdir(const char* path);

// Lower-cases A-Z in place (no locale).
void tolowerstr(char* s);

// DOS-order memory helpers: fill len bytes with the low byte of value;
// copy len bytes from src to dst.  Both return their buffer.
void* _setmem(void* buf, int len, int value);
void* _move(int len, const void* src, void* dst);

// Home directory: the user database entry of the login name, else $HOME;
// nullptr when neither is known.  (The login name wins over $HOME when the
// process has one, so tests that need a private home should also run
// without a login session or not depend on this.)
const char* gethomedir();

// The start directory in the home `home`, the one place where the setup
// file is read and written: home + "/morva" when it fits the 24 characters
// of the start-directory name (made when missing); for a longer home, that
// name cut to 24 characters when the folder exists and lies in the home
// (earlier versions made it), else the home itself, however long.
// `is_dir` tells whether a folder exists.
std::string start_dir_in_home(const std::string& home, bool (*is_dir)(const std::string&));
// start_dir_in_home for the home of gethomedir() and the folders on disk;
// "" without a home.
std::string home_start_dir();

// Finds a product file; `name` begins with '/'.  Tries home + "/morva" +
// name (name alone without a home), then each component of $PATH followed
// by name, stopping at an empty component.  Copies the first existing path
// into dst (at least kSearchPathMax bytes) and returns 1; 0 when none.
inline constexpr std::size_t kSearchPathMax = 512;
int searchPATH(char* dst, const char* name);
