#include "tools/morva-convert/batch_backup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "chartdata/safe_replace.h"

namespace {

// Copies the whole of `from` into the new file `fd`; true when complete.
bool copy_into(int from, int fd) {
  std::vector<char> buf(1 << 16);
  for (;;) {
    ssize_t n = ::read(from, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(fd, buf.data() + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return false;
      done += w;
    }
  }
}

}  // namespace

BatchBackups::~BatchBackups() {
  for (const auto& [path, temp] : pending_) ::unlink(temp.c_str());
}

int BatchBackups::prepare(const std::string& path) {
  if (seen_.count(path)) return pending_.count(path) ? 1 : 2;
  // The copy and the store it guards happen under one hold of the
  // chart's lock, so that no other run's store falls between them.
  ChartLock lock(path);
  if (!lock.held()) return 0;
  const std::string real = resolve_target(path);
  struct stat st {};
  if (::stat(real.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    seen_[path] = true;
    return 2;
  }
  const int from = open_regular_for_reading(real);
  if (from < 0) return 0;
  // The copy is made under a temporary name of the one write path.
  std::string temp;
  const int fd = create_temp_in(dir_of(path), temp);
  if (fd < 0) {
    ::close(from);
    return 0;
  }
  ::fchmod(fd, st.st_mode & 07777);
  const bool ok = copy_into(from, fd);
  ::close(from);
  const bool closed = ::close(fd) == 0;
  if (!ok || !closed) {
    ::unlink(temp.c_str());
    return 0;
  }
  pending_[path] = temp;
  locks_[path] = std::move(lock);
  seen_[path] = true;
  return 1;
}

int BatchBackups::settle(const std::string& path, bool replaced) {
  auto it = pending_.find(path);
  if (it == pending_.end()) return 1;
  const std::string temp = it->second;
  pending_.erase(it);
  // Released when the copy has its name (or is gone).
  const ChartLock lock = std::move(locks_[path]);
  locks_.erase(path);
  if (!replaced) {
    ::unlink(temp.c_str());
    // A later replacement of the same file in this run may still need it.
    seen_.erase(path);
    return 1;
  }
  if (::rename(temp.c_str(), backup_name(path).c_str()) != 0) {
    ::unlink(temp.c_str());
    return 0;
  }
  ++made_;
  return 1;
}
