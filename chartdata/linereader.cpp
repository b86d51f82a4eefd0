#include "chartdata/linereader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <unordered_map>

// ---- LineReader -------------------------------------------------------------

LineReader::LineReader(int fd, std::size_t block) : fd_(fd), block_(std::max<std::size_t>(block, 1)) {
  const off_t at = ::lseek(fd, 0, SEEK_CUR);
  seekable_ = at >= 0;
  base_ = seekable_ ? at : 0;
  kernel_ = base_;
}

LineReader::~LineReader() { sync(); }

off_t LineReader::tell() const { return again_ ? line_base_ : base_ + static_cast<off_t>(pos_); }

void LineReader::sync() {
  if (!seekable_) return;
  const off_t at = tell();
  if (kernel_ == at) return;
  kernel_ = ::lseek(fd_, at, SEEK_SET) == at ? at : -1;
}

bool LineReader::resume(off_t pos) {
  if (!seekable_ || pos < base_ || pos > base_ + static_cast<off_t>(len_)) return false;
  pos_ = static_cast<std::size_t>(pos - base_);
  kernel_ = pos;
  again_ = have_ = eof_ = false;
  return true;
}

// Called when every byte of the block is consumed: reads the next block.
bool LineReader::fill() {
  if (eof_) return false;
  base_ += static_cast<off_t>(pos_);
  std::memmove(block_.data(), block_.data() + pos_, len_ - pos_);
  len_ -= pos_;
  pos_ = 0;
  const off_t end = base_ + static_cast<off_t>(len_);
  if (seekable_ && kernel_ != end) {
    kernel_ = ::lseek(fd_, end, SEEK_SET) == end ? end : -1;
    if (kernel_ < 0) {
      eof_ = true;
      return false;
    }
  }
  for (;;) {
    const ssize_t got = ::read(fd_, block_.data() + len_, block_.size() - len_);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      eof_ = true;
      return false;
    }
    len_ += static_cast<std::size_t>(got);
    kernel_ += got;
    return true;
  }
}

bool LineReader::next(std::string_view& line, int budget) {
  if (again_) {
    again_ = false;
    line = line_;
    return true;
  }
  line_base_ = base_ + static_cast<off_t>(pos_);
  have_ = true;
  if (budget <= 1) {
    line_ = {};
    line = line_;
    return true;
  }
  // Common case: a whole line without carriage returns in the block, short
  // enough that its line feed is read within the budget.
  const std::size_t max_chars = static_cast<std::size_t>(budget) - 2;
  {
    const char* p = block_.data() + pos_;
    const std::size_t look = std::min(len_ - pos_, max_chars + 1);
    const char* nl = static_cast<const char*>(std::memchr(p, '\n', look));
    if (nl && !std::memchr(p, '\r', static_cast<std::size_t>(nl - p))) {
      const char* nul = static_cast<const char*>(std::memchr(p, '\0', static_cast<std::size_t>(nl - p)));
      line_ = std::string_view(p, static_cast<std::size_t>((nul ? nul : nl) - p));
      pos_ += static_cast<std::size_t>(nl - p) + 1;
      line = line_;
      return true;
    }
  }
  // Byte by byte, counting the budget.
  if (buf_.size() < static_cast<std::size_t>(budget)) buf_.resize(static_cast<std::size_t>(budget));
  int left = budget - 1;
  std::size_t stored = 0;
  for (;;) {
    if (pos_ == len_ && !fill()) {
      if (stored == 0) {
        have_ = false;
        return false;
      }
      break;
    }
    const char c = block_[pos_++];
    if (c == '\r') {
      if (--left <= 0) break;
      continue;
    }
    if (c == '\n') break;
    buf_[stored++] = c;
    if (--left <= 0) break;
  }
  const char* nul = static_cast<const char*>(std::memchr(buf_.data(), '\0', stored));
  line_ = std::string_view(buf_.data(), nul ? static_cast<std::size_t>(nul - buf_.data()) : stored);
  line = line_;
  return true;
}

// ---- Descriptor-level wrappers ------------------------------------------------

namespace {

constexpr int kBackScanLimit = 256;  // bytes go_back_a_line examines at most

// mygts's reader of a descriptor and the identity of the file it read.
struct CachedReader {
  std::unique_ptr<LineReader> reader;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  timespec mtime{};
  bool same_file(const struct stat& st) const {
    return dev == st.st_dev && ino == st.st_ino && size == st.st_size &&
           mtime.tv_sec == st.st_mtim.tv_sec && mtime.tv_nsec == st.st_mtim.tv_nsec;
  }
};

std::unordered_map<int, CachedReader> g_readers;

char pass[512];  // result of the last piece() call

// The reader of fd, ready to go on from the descriptor's own position.
LineReader& reader_for(int fd) {
  CachedReader& c = g_readers[fd];
  const off_t pos = ::lseek(fd, 0, SEEK_CUR);
  if (pos < 0) {
    // A pipe: the block holds data already taken from it.
    if (!c.reader || c.reader->seekable()) c.reader = std::make_unique<LineReader>(fd);
    return *c.reader;
  }
  struct stat st;
  const bool known = ::fstat(fd, &st) == 0;
  if (c.reader && known && c.same_file(st) && c.reader->resume(pos)) return *c.reader;
  // Another file behind this descriptor, a changed file or a position
  // outside the block: start afresh.
  c.reader = std::make_unique<LineReader>(fd);
  c.dev = known ? st.st_dev : 0;
  c.ino = known ? st.st_ino : 0;
  c.size = known ? st.st_size : 0;
  c.mtime = known ? st.st_mtim : timespec{};
  return *c.reader;
}

}  // namespace

char* mygts(char* buf, int n, int fd) {
  if (n <= 1) {
    if (n > 0) buf[0] = '\0';
    return buf;
  }
  LineReader& in = reader_for(fd);
  std::string_view line;
  const bool got = in.next(line, n);
  in.sync();
  if (!got) {
    buf[0] = '\0';
    return nullptr;
  }
  std::memcpy(buf, line.data(), line.size());
  buf[line.size()] = '\0';
  return buf;
}

void go_back_a_line(int fd) {
  const off_t pos = ::lseek(fd, 0, SEEK_CUR);
  if (pos < 0) return;  // a pipe cannot move back
  // The bytes the scan may examine: from pos - 2 back to pos - 257.
  unsigned char window[kBackScanLimit + 2];
  const off_t lo = std::max<off_t>(0, pos - static_cast<off_t>(sizeof window));
  ssize_t got;
  do {
    got = ::pread(fd, window, static_cast<std::size_t>(pos - lo), lo);
  } while (got < 0 && errno == EINTR);
  auto at = [&](off_t p) { return p - lo < got ? static_cast<int>(window[p - lo]) : -1; };
  off_t p = pos;
  for (int examined = 0; examined < kBackScanLimit;) {
    if (p < 2) {  // the move would pass the start of the file
      p = 0;
      break;
    }
    p -= 2;
    const int c = at(p);
    if (c < 0) break;
    ++p;
    ++examined;
    if (c == '\n') break;
  }
  ::lseek(fd, p, SEEK_SET);
}

const char* piece(const char* text, char sep, int n) {
  pass[0] = '\0';
  if (n <= 0 || text == nullptr) return pass;
  int field = 1;
  const char* p = text;
  while (field < n) {
    const char* s = std::strchr(p, sep);
    if (sep == '\0' || s == nullptr) return pass;  // fewer than n fields
    p = s + 1;
    ++field;
  }
  std::size_t len = 0;
  while (p[len] != '\0' && p[len] != sep && len < sizeof pass - 1) ++len;
  std::memcpy(pass, p, len);
  pass[len] = '\0';
  return pass;
}

off_t linereader_tell(int fd) { return ::lseek(fd, 0, SEEK_CUR); }

void linereader_seek(int fd, off_t pos) { ::lseek(fd, pos, SEEK_SET); }

void linereader_release(int fd) { g_readers.erase(fd); }

int linereader_close(int fd) {
  linereader_release(fd);
  return ::close(fd);
}
