#include "chartdata/faults.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

FaultPlan g_faults;
bool g_flush_to_disk = true;

void faults_reset() { g_faults = FaultPlan{}; }

namespace {

bool hit(int& counter, int fail_at) {
  ++counter;
  return fail_at > 0 && counter == fail_at;
}

}  // namespace

int checked_write(std::FILE* f, const void* p, std::size_t n) {
  if (f == nullptr) {
    errno = EBADF;
    return 0;
  }
  if (hit(g_faults.writes, g_faults.fail_write)) {
    errno = ENOSPC;
    return 0;
  }
  if (n == 0) return std::ferror(f) ? 0 : 1;
  if (std::fwrite(p, 1, n, f) != n) return 0;
  return std::ferror(f) ? 0 : 1;
}

int checked_write_fd(int fd, const void* p, std::size_t n) {
  if (hit(g_faults.writes, g_faults.fail_write)) {
    errno = ENOSPC;
    return 0;
  }
  const char* at = static_cast<const char*>(p);
  while (n > 0) {
    ssize_t got = ::write(fd, at, n);
    if (got < 0) {
      if (errno == EINTR) continue;
      return 0;
    }
    if (got == 0) {
      errno = ENOSPC;
      return 0;
    }
    at += got;
    n -= static_cast<std::size_t>(got);
  }
  return 1;
}

int checked_create(const char* path, int flags, mode_t mode) {
  if (hit(g_faults.creates, g_faults.fail_create)) {
    errno = EIO;
    return -1;
  }
  int fd;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

int checked_rename(const char* from, const char* to) {
  if (hit(g_faults.renames, g_faults.fail_rename)) {
    errno = EIO;
    return 0;
  }
  return std::rename(from, to) == 0 ? 1 : 0;
}

int checked_link(const char* from, const char* to) {
  if (hit(g_faults.renames, g_faults.fail_rename)) {
    errno = EIO;
    return 0;
  }
  return ::linkat(AT_FDCWD, from, AT_FDCWD, to, AT_SYMLINK_FOLLOW) == 0 ? 1 : 0;
}

int checked_sync(int fd, SyncKind kind) {
  if (hit(g_faults.flushes, g_faults.fail_flush)) {
    errno = EIO;
    return 0;
  }
  if (!g_flush_to_disk) return 1;
  int r;
  do {
    r = kind == SyncKind::kData ? ::fdatasync(fd) : kind == SyncKind::kFile ? ::fsync(fd) : ::syncfs(fd);
  } while (r != 0 && errno == EINTR);
  return r == 0 ? 1 : 0;
}

int checked_lock(int fd, off_t) {
  if (hit(g_faults.locks, g_faults.fail_lock)) {
    errno = ENOLCK;
    return 0;
  }
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return 1;
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) errno = EAGAIN;
    return 0;
  }
}
