#include "chartdata/safe_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <random>

#include "chartdata/faults.h"

std::string dir_of(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string resolve_target(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char buf[PATH_MAX];
    if (realpath(path.c_str(), buf) != nullptr) return buf;
  }
  return path;
}

void copy_mode(int fd, const std::string& like) {
  struct stat st;
  if (stat(like.c_str(), &st) == 0) {
    (void)fchmod(fd, st.st_mode & 07777);
    return;
  }
  mode_t mask = umask(0);
  umask(mask);
  (void)fchmod(fd, 0666 & ~mask);
}

namespace {

// Creates a new file with a random name in `dir`; never opens an existing
// entry.  Returns the descriptor (or -1) and sets `name`.
int create_unique(const std::string& dir, std::string& name) {
  static std::minstd_rand rng{std::random_device{}()};
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string suffix;
    for (int i = 0; i < 8; ++i) suffix += kChars[rng() % (sizeof kChars - 1)];
    name = dir + "/.morva-" + suffix + ".tmp";
    int fd = checked_create(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// A file without a name can be linked into place through /proc/self/fd.
bool unnamed_files_usable() {
  static const bool usable = ::access("/proc/self/fd", X_OK) == 0;
  return usable;
}

// The file system offers no O_TMPFILE (as opposed to a failed creation).
bool unnamed_unsupported(int err) { return err == EOPNOTSUPP || err == EISDIR || err == EINVAL; }

}  // namespace

SafeReplace::SafeReplace(std::string target) : target_(std::move(target)) {
  real_ = resolve_target(target_);
  int fd = -1;
  // A new file: written without a name, so that creating it costs no
  // name of its own in the directory, and linked under its name at commit
  // (with the mode any new file gets, 0666 less the umask).
  struct stat st;
  if (::lstat(real_.c_str(), &st) != 0 && errno == ENOENT && unnamed_files_usable()) {
    fd = checked_create(dir_of(real_).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd >= 0) {
      unnamed_ = true;
    } else if (!unnamed_unsupported(errno)) {
      failed_ = true;
      return;
    }
  }
  if (fd < 0) {
    fd = create_unique(dir_of(real_), temp_);
    if (fd < 0) {
      temp_.clear();
      failed_ = true;
      return;
    }
    copy_mode(fd, real_);
  }
  f_ = fdopen(fd, "wb");
  if (f_ == nullptr) {
    ::close(fd);
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_.clear();
    failed_ = true;
    return;
  }
  // A whole chart of a few thousand bars goes out in one write.
  constexpr std::size_t kBuffer = 64 * 1024;
  buf_.reset(new char[kBuffer]);
  std::setvbuf(f_, buf_.get(), _IOFBF, kBuffer);
}

SafeReplace::~SafeReplace() { discard(); }

bool SafeReplace::ok() const { return f_ != nullptr && !failed_ && !done_; }

std::FILE* SafeReplace::stream() { return done_ ? nullptr : f_; }

int SafeReplace::write(const void* p, std::size_t n) {
  if (!ok()) return 0;
  if (!checked_write(f_, p, n)) {
    failed_ = true;
    return 0;
  }
  return 1;
}

int SafeReplace::commit() {
  if (!ok()) {
    discard();
    return 0;
  }
  bool good = std::fflush(f_) == 0 && !std::ferror(f_);
  if (unnamed_) {
    // Everything written has reached the system: the file gets its name.
    // A name that appeared meanwhile is not replaced: the commit fails.
    const std::string self = "/proc/self/fd/" + std::to_string(fileno(f_));
    good = good && checked_link(self.c_str(), real_.c_str());
    std::fclose(f_);
    f_ = nullptr;
    if (!good) {
      failed_ = true;
      discard();
      return 0;
    }
    done_ = true;
    return 1;
  }
  good = (std::fclose(f_) == 0) && good;
  f_ = nullptr;
  if (!good || !checked_rename(temp_.c_str(), real_.c_str())) {
    failed_ = true;
    discard();
    return 0;
  }
  done_ = true;
  temp_.clear();
  return 1;
}

void SafeReplace::discard() {
  if (f_ != nullptr) {
    std::fclose(f_);
    f_ = nullptr;
  }
  if (!done_ && !temp_.empty()) {
    ::unlink(temp_.c_str());
    temp_.clear();
  }
  if (!done_) failed_ = true;
}

int replace_file(const std::string& path, std::span<const unsigned char> bytes) {
  SafeReplace out(path);
  if (!out.write(bytes.data(), bytes.size())) return 0;
  return out.commit();
}
