// Line numbers and texts of a file by byte position, for the messages of
// batch runs: the line readers know where they are in a file (an offset),
// a person wants "line 12".
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class LineLocator {
 public:
  // Indexes the line feeds of the file open as fd (read with pread, the
  // descriptor's position is not moved).  ok() is false when it cannot be
  // read.
  explicit LineLocator(int fd);
  bool ok() const { return ok_; }
  // The line (from 1) that holds the byte at `pos`.
  long line_at(off_t pos) const;
  // The text of line `n` without its line end (carriage returns dropped),
  // at most `max` characters.
  std::string text_of(long n, std::size_t max = 200) const;

 private:
  int fd_;
  bool ok_ = false;
  off_t size_ = 0;
  std::vector<off_t> feeds_;  // offsets of the line feeds, ascending
};
