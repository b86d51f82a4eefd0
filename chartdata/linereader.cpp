#include "chartdata/linereader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <vector>

namespace {

constexpr std::size_t kBlock = 64 * 1024;
constexpr int kBackScanLimit = 256;   // bytes go_back_a_line examines at most
constexpr std::size_t kBackSlack = 1024;  // bytes kept before a position when
                                          // a block is loaded for a back-scan

// The block of a descriptor's file that was read last.  For a seekable
// file the descriptor's own position always equals the logical position
// when control is outside this module; `kernel` tracks it inside.
struct LineBuf {
  std::vector<char> data = std::vector<char>(kBlock);
  off_t start = 0;       // file offset of data[0]
  std::size_t len = 0;   // valid bytes in data
  bool pipe = false;     // not seekable: data is consumed, idx is the position
  std::size_t idx = 0;   // pipes only
  // Identity of the file the block came from.
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  timespec mtime{};
};

std::unordered_map<int, std::unique_ptr<LineBuf>> g_buffers;

bool same_file(const LineBuf& b, const struct stat& st) {
  return b.dev == st.st_dev && b.ino == st.st_ino && b.size == st.st_size &&
         b.mtime.tv_sec == st.st_mtim.tv_sec && b.mtime.tv_nsec == st.st_mtim.tv_nsec;
}

// A cursor over one descriptor for the duration of one call.
class Reader {
 public:
  explicit Reader(int fd) : fd_(fd) {
    auto& slot = g_buffers[fd];
    if (!slot) slot = std::make_unique<LineBuf>();
    b_ = slot.get();
    off_t pos = ::lseek(fd, 0, SEEK_CUR);
    if (pos < 0) {
      if (!b_->pipe) {
        b_->pipe = true;
        b_->len = 0;
        b_->idx = 0;
      }
      return;
    }
    struct stat st;
    bool known = ::fstat(fd, &st) == 0;
    if (b_->pipe || !known || !same_file(*b_, st) || pos < b_->start ||
        pos > b_->start + static_cast<off_t>(b_->len)) {
      // Another file behind this descriptor, a changed file or a position
      // outside the block: forget the block.
      b_->pipe = false;
      b_->start = pos;
      b_->len = 0;
      if (known) {
        b_->dev = st.st_dev;
        b_->ino = st.st_ino;
        b_->size = st.st_size;
        b_->mtime = st.st_mtim;
      } else {
        b_->dev = 0;
        b_->ino = 0;
      }
    }
    pos_ = pos;
    kernel_ = pos;
  }

  bool seekable() const { return !b_->pipe; }
  off_t pos() const { return pos_; }

  // Next byte, or -1 when the read does not deliver one.
  int next() {
    if (b_->pipe) {
      if (b_->idx >= b_->len) {
        ssize_t got = read_some(0);
        b_->idx = 0;
        b_->len = got > 0 ? static_cast<std::size_t>(got) : 0;
        if (got <= 0) return -1;
      }
      return static_cast<unsigned char>(b_->data[b_->idx++]);
    }
    off_t end = b_->start + static_cast<off_t>(b_->len);
    if (pos_ >= end) {
      if (!load(end)) return -1;
    }
    return static_cast<unsigned char>(b_->data[pos_++ - b_->start]);
  }

  // Byte at an absolute offset (seekable files), or -1.
  int at(off_t p) {
    if (p < b_->start || p >= b_->start + static_cast<off_t>(b_->len)) {
      off_t from = p > static_cast<off_t>(kBackSlack) ? p - static_cast<off_t>(kBackSlack) : 0;
      if (!load(from) || p >= b_->start + static_cast<off_t>(b_->len)) return -1;
    }
    return static_cast<unsigned char>(b_->data[p - b_->start]);
  }

  void set_pos(off_t p) { pos_ = p; }

  // Leaves the descriptor's position at the logical position.
  ~Reader() {
    if (!b_->pipe && kernel_ != pos_) ::lseek(fd_, pos_, SEEK_SET);
  }

 private:
  ssize_t read_some(std::size_t offset) {
    ssize_t got;
    do {
      got = ::read(fd_, b_->data.data() + offset, kBlock - offset);
    } while (got < 0 && errno == EINTR);
    return got;
  }

  // Loads the block that starts at file offset `from`; false when no byte
  // could be read there.
  bool load(off_t from) {
    if (kernel_ != from) {
      if (::lseek(fd_, from, SEEK_SET) != from) {
        kernel_ = -1;
        return false;
      }
      kernel_ = from;
    }
    b_->start = from;
    b_->len = 0;
    ssize_t got = read_some(0);
    if (got <= 0) return false;
    b_->len = static_cast<std::size_t>(got);
    kernel_ = from + got;
    return true;
  }

  int fd_;
  LineBuf* b_;
  off_t pos_ = 0;
  off_t kernel_ = 0;
};

char pass[512];  // result of the last piece() call

}  // namespace

char* mygts(char* buf, int n, int fd) {
  int budget = n - 1;
  if (budget <= 0) {
    if (n > 0) buf[0] = '\0';
    return buf;
  }
  Reader in(fd);
  int stored = 0;
  bool last_read_ok = false;
  for (;;) {
    int c = in.next();
    last_read_ok = c >= 0;
    if (!last_read_ok) break;
    if (c == '\r') {
      if (--budget <= 0) break;
      continue;
    }
    if (c == '\n') break;
    buf[stored++] = static_cast<char>(c);
    if (--budget <= 0) break;
  }
  buf[stored] = '\0';
  if (stored == 0 && !last_read_ok) return nullptr;
  return buf;
}

void go_back_a_line(int fd) {
  Reader in(fd);
  if (!in.seekable()) return;  // a pipe cannot move back
  off_t p = in.pos();
  for (int examined = 0; examined < kBackScanLimit;) {
    if (p < 2) {  // the move would pass the start of the file
      p = 0;
      break;
    }
    p -= 2;
    int c = in.at(p);
    if (c < 0) break;
    ++p;
    ++examined;
    if (c == '\n') break;
  }
  in.set_pos(p);
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

void linereader_release(int fd) { g_buffers.erase(fd); }

int linereader_close(int fd) {
  linereader_release(fd);
  return ::close(fd);
}
