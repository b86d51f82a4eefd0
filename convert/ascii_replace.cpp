#include "convert/ascii_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <vector>

#include "chartdata/bar.h"
#include "chartdata/safe_replace.h"

namespace {

// True when a chart of `size` bytes is whole: a header and at least one
// complete bar.
bool complete_chart_size(std::size_t size) {
  return size >= kHeaderSize + kBarSize && (size - kHeaderSize) % kBarSize == 0;
}

}  // namespace

int ascii_replace(const char* textname, const char* chartname) {
  if (!textname[0] || !chartname[0] || std::strcmp(textname, chartname) == 0) return 0;
  // The chart as its last writer (this run included) left it.
  ChartLock lock(chartname);
  if (!lock.held()) return 0;
  struct stat st{};
  if (::stat(chartname, &st) != 0 || !S_ISREG(st.st_mode) ||
      !complete_chart_size(static_cast<std::size_t>(st.st_size)))
    return 0;
  int fd = ::open(chartname, O_RDONLY);
  if (fd < 0) return 0;
  std::vector<unsigned char> bytes;
  unsigned char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return 0;
    }
    if (n == 0) break;
    bytes.insert(bytes.end(), buf, buf + n);
  }
  ::close(fd);
  if (!complete_chart_size(bytes.size())) return 0;
  // The text file is replaced whole by a copy of the chart, or not at all;
  // the chart stays where the conversion stored it.
  return replace_file(textname, bytes);
}
