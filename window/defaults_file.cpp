// The converter defaults "morvautl.dat": the format settings carried from
// one run to the next.  Opened at start-up and held open until the first
// save, which writes the settings (when asked) and closes it for good.
#include "window/defaults_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "chartdata/safe_replace.h"
#include "window/banner.h"
#include "setup/environment.h"
#include "widgets/prompt.h"

namespace {

int defaults_fd = -1;       // open from start-up until saved
std::string defaults_path;  // where it was opened

std::vector<unsigned char> read_all(int fd) {
  std::vector<unsigned char> out;
  unsigned char buf[4096];
  if (::lseek(fd, 0, SEEK_SET) < 0) return out;
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.insert(out.end(), buf, buf + n);
  }
  return out;
}

}  // namespace

int defaults_file_open() { return defaults_fd >= 0 ? 1 : 0; }

int loadsave_defaults(int mode, int save) {
  if (mode == 0) {
    if (defaults_fd >= 0) return 1;  // already open: loaded once per run
    defaults_path = std::string(startsubdir) + "/" + kDefaultsFileName;
    int fd = ::open(defaults_path.c_str(), O_RDWR);
    if (fd >= 0) {
      std::vector<unsigned char> bytes = read_all(fd);
      decode_defaults(bytes, ff);
      defaults_fd = fd;
      return 1;
    }
    // Create it only when there is no file of that name: a file that
    // exists but cannot be opened is left alone.
    fd = ::open(defaults_path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
    if (fd >= 0) {
      defaults_fd = fd;
      return 1;
    }
    std::string line = defaults_path + " Unable to write to disk. Disk full?";
    msg(line.c_str(), kBanner, 1);
    return 0;
  }

  if (defaults_fd < 0) return 0;
  int ok = 1;
  if (save) {
    // The settings replace the first 25 bytes; anything after them stays.
    std::vector<unsigned char> bytes = read_all(defaults_fd);
    if (bytes.size() < sizeof(FormatSettings)) bytes.resize(sizeof(FormatSettings));
    std::memcpy(bytes.data(), &ff, sizeof(FormatSettings));
    if (!replace_file(defaults_path, bytes, SafeReplace::Locking::kNone)) {
      // A directory that takes no new files may still let the file itself
      // be rewritten in place.
      ssize_t n = ::pwrite(defaults_fd, &ff, sizeof(FormatSettings), 0);
      ok = (n == static_cast<ssize_t>(sizeof(FormatSettings))) ? 1 : 0;
    }
  }
  ::close(defaults_fd);
  defaults_fd = -1;
  return ok;
}
