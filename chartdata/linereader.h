// Line and field readers for text sources read through plain descriptors.
//
// One set of line rules (mygts's): with a budget of n, at most n - 1
// characters are stored; a carriage return is not stored but uses up one
// unit of the budget; a line feed ends the line and is not stored; when the
// budget runs out mid-line, the rest is the next line; a NUL ends the text
// of its line.  LineReader implements them over a block buffer; mygts and
// go_back_a_line are thin wrappers for callers that work on a bare
// descriptor.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string_view>
#include <vector>

// The usual budget: at most 254 characters a line.
inline constexpr int kLineBudget = 255;

// The lines of a descriptor from its current position, read in blocks with
// no system call per line.  The owner reads only through it while it lives;
// when it goes (or at sync()), the descriptor is left just after the last
// line consumed, at the start of a line that was given back, so mygts and
// go_back_a_line carry on from there.  A line can be given back once so
// that the next read returns it again.
class LineReader {
 public:
  static constexpr std::size_t kBlock = 64 * 1024;
  explicit LineReader(int fd, std::size_t block = kBlock);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // The next line under `budget` (n of mygts); false when the file has
  // ended (or a read failed) before any character was stored.  The view
  // stays valid until the next call.
  bool next(std::string_view& line, int budget = kLineBudget);
  // The line read last is returned again by the next call.
  void unread() { again_ = have_; }
  int fd() const { return fd_; }
  bool seekable() const { return seekable_; }
  // Offset just after the last line consumed (at the start of a line given
  // back); meaningful for seekable files.
  off_t tell() const;
  // Leaves the descriptor's own position at tell().
  void sync();

  // For mygts: true when `pos` lies in the block read last; the reader then
  // goes on from there, the descriptor's own position being `pos`.
  bool resume(off_t pos);

 private:
  bool fill();
  int fd_;
  bool again_ = false;
  bool have_ = false;
  bool eof_ = false;
  bool seekable_ = true;
  off_t base_ = 0;    // file offset of block_[0]
  off_t kernel_ = 0;  // the descriptor's own position, as far as known
  std::vector<char> block_;
  std::size_t pos_ = 0, len_ = 0;
  std::size_t line_start_ = 0;  // block offset of the line read last
  off_t line_base_ = 0;         // file offset of that line
  std::vector<char> buf_;       // a line taken byte by byte
  std::string_view line_;
};

// Reads one line of at most n - 1 stored characters into buf (the rules
// above).  Returns buf, or nullptr when the file has ended (or a read
// failed) before any character was stored.  n <= 1 stores "" and reads
// nothing.  After every call the descriptor's own position (lseek) is just
// after the last byte consumed, so callers may mix in lseek/read/close; a
// block read ahead is kept per descriptor and dropped when the position or
// the file (device, inode, size, mtime) no longer match it.  Callers should
// still call linereader_release(fd) (or linereader_close) when done.
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
