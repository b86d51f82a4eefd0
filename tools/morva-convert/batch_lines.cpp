#include "tools/morva-convert/batch_lines.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

LineLocator::LineLocator(int fd) : fd_(fd) {
  std::vector<char> buf(1 << 16);
  off_t at = 0;
  for (;;) {
    const ssize_t n = ::pread(fd, buf.data(), buf.size(), at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return;
    if (n == 0) break;
    for (ssize_t i = 0; i < n; ++i)
      if (buf[static_cast<std::size_t>(i)] == '\n') feeds_.push_back(at + i);
    at += n;
  }
  size_ = at;
  ok_ = true;
}

long LineLocator::line_at(off_t pos) const {
  return 1 + static_cast<long>(std::lower_bound(feeds_.begin(), feeds_.end(), pos) - feeds_.begin());
}

std::string LineLocator::text_of(long n, std::size_t max) const {
  if (n < 1 || static_cast<std::size_t>(n) > feeds_.size() + 1) return {};
  const off_t from = n == 1 ? 0 : feeds_[static_cast<std::size_t>(n - 2)] + 1;
  const off_t to =
      static_cast<std::size_t>(n) <= feeds_.size() ? feeds_[static_cast<std::size_t>(n - 1)] : size_;
  std::string raw(static_cast<std::size_t>(std::min<off_t>(to - from, static_cast<off_t>(max) + 64)), '\0');
  std::size_t got = 0;
  while (got < raw.size()) {
    const ssize_t r = ::pread(fd_, raw.data() + got, raw.size() - got, from + static_cast<off_t>(got));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += static_cast<std::size_t>(r);
  }
  raw.resize(got);
  std::string out;
  for (char c : raw) {
    if (c == '\r') continue;
    if (out.size() == max) break;
    out += c;
  }
  return out;
}
