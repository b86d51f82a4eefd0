// Chart files: a 128-byte header followed by 28-byte bar records in
// ascending date order (layouts in chartdata/bar.h).  Creation of a new
// chart, the leading and trailing copies of the store splice, replacement
// of a chart by its rebuilt temporary file, the chart name derived from a
// text-file name, and the upgrade of old charts holding yymmdd dates.
#pragma once

#include <cstdint>
#include <cstdio>

#include "chartdata/bar.h"

// "\r\nDisk full or disk error or filename wrong? Maybe run scandisk or fsck.\r\n"
extern const char* const kDiskFullLine;

// Reports a failed creation: the disk-full line, then `name` (may be
// nullptr).  The default writes both to standard error; the window installs
// its reporter (both at the screen cursor), the batch tool and tests theirs.
using DiskFullReporter = void (*)(const char* name);
extern DiskFullReporter diskfull_reporter;
void diskfull(const char* name);

// The 128 bytes of a new chart header: blanks, byte 0 = 0, byte 77 = '/',
// byte 109 = 0, bytes 116-117 = type letter and '\n', bytes 118-121 = date.
void make_header(unsigned char out[kHeaderSize], const char type[2], std::int32_t date);

// The word for a chart's type letter ('D' daily, 'W' weekly, 'M' monthly,
// 'N' numbered); nullptr for any other byte.
const char* chart_type_word(unsigned char type);

// Creates `path` as a new, empty chart whose header holds the type letter
// `type` and the date `first` (the first date of the bars it is made for),
// replacing any file of that name only once the header is complete.  1 on
// success; else reports through diskfull(path) and returns 0 (an existing
// file is then left as it was).
int creatmorva(const char* path, char type, std::int32_t first);

// Leading copy of the store splice: copies the 128-byte header of `old`
// and its bars dated before `first` (the first new date) to `tmp`; a bar
// dated exactly `first` is dropped, a bar dated after it is left unread in
// `old`.  -1 when `old` holds fewer than 128 bytes (nothing written), 0 on
// a read or write error, 1 otherwise.
int cpyoldtmpstart(std::FILE* old, std::FILE* tmp, std::int32_t first);
// Trailing copy: appends the remaining bars of `old` dated after `last`
// (the last new date).  1 at the end of `old`, 0 on a read or write error.
int cpyoldtmpend(std::FILE* old, std::FILE* tmp, std::int32_t last);

// Moves `from` over `path` in one rename (the old `path` stays intact
// until the new file takes its place).  1 when the rename succeeded.
int unlink_rename(const char* path, const char* from);

// Chart name derived from the source name `source`: its first 21
// characters, the last '.' of the file-name part turned into '_', then ".M"
// ("ibm.txt" -> "ibm_txt.M").  buf holds at least 24 bytes.
void adddotM(char* buf, const char* source);

// True when `head` (the header and the first bar, `got` bytes read) is an
// old chart: byte 77 '/', a daily, weekly, monthly or undecided type letter
// followed by a line feed, and a first bar dated with a plausible yymmdd.
// A numbered chart ('N') never is: its serials 0, 101, 102 ... only look
// like six-digit dates.
bool old_chart_head(const unsigned char* head, std::size_t got);
// Upgrades an old chart (see old_chart_head) to eight-digit dates; any
// other file is left untouched.  The upgraded file
// replaces the old one whole.  1 when the file is now (or already was) fine
// to read, 0 when it cannot be opened for update or the upgrade failed
// (the file is then unchanged).
int Y2000_upgrade(const char* path);
// Widens in place the dates of the bar records of `stream` from the record
// that ends at the current position to the end of the file, stopping at
// the first incomplete read or write; restores the position.
void Y2000_add_century(std::FILE* stream);

// One 28-byte bar record.  write_bar: 1 when all 28 bytes were written
// (through checked_write).  read_bar: 1 for a complete record, 0 at a clean
// end of file or a partial record.
int write_bar(std::FILE* out, const BarRecord& b);
int read_bar(std::FILE* in, BarRecord* b);

// The bars of a stream read a block at a time: the same bars, in the same
// order, as read_bar gives them one call each (a partial last record ends
// the bars).  The stream is read ahead by up to one block.
class BarBlocks {
 public:
  explicit BarBlocks(std::FILE* in) : in_(in) {}
  bool next(BarRecord* b) {
    if (pos_ == len_ && !fill()) return false;
    *b = decode_bar(block_ + pos_);
    pos_ += kBarSize;
    return true;
  }

 private:
  bool fill();
  static constexpr std::size_t kRecords = 512;
  std::FILE* in_;
  std::size_t pos_ = 0, len_ = 0;
  bool end_ = false;
  unsigned char block_[kRecords * kBarSize];
};
