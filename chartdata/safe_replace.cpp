#include "chartdata/safe_replace.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "chartdata/chartfile.h"
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

int create_temp_in(const std::string& dir, std::string& name) {
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

bool is_temp_file_name(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return path.compare(slash == std::string::npos ? 0 : slash + 1, 7, ".morva-") == 0;
}

// ---- Locks -------------------------------------------------------------------------

int g_lock_wait_ms = 30000;

namespace {

// Until a program installs its own reporter: standard error, one line when
// the wait begins and one when it fails.
void default_lock_waiting(const char* name, int seconds) {
  if (seconds == 1) std::fprintf(stderr, "Waiting for %s, another program is writing it\n", name);
}

void default_lock_failed(const char* name, bool busy) {
  std::fprintf(stderr, "%s%s\n",
               busy ? "Chart busy (another program is writing it), nothing written: "
                    : "Cannot lock the chart, nothing written: ",
               name);
}

// The lock file of each directory while this process holds a lock in it
// (closed with the last one), and how many holders each lock has.
struct LockFile {
  int fd = -1;
  int users = 0;
  int pending = 0;     // locks held for a batch's pending files
  bool whole = false;  // this process holds the whole file (all its charts)
};
std::map<std::pair<dev_t, ino_t>, LockFile>& lock_files() {
  static std::map<std::pair<dev_t, ino_t>, LockFile> files;
  return files;
}
void drop_lock_file(std::pair<dev_t, ino_t> dir) {
  auto it = lock_files().find(dir);
  if (it == lock_files().end() || it->second.users > 0) return;
  if (it->second.fd >= 0) ::close(it->second.fd);
  lock_files().erase(it);
}
std::map<ChartLock::Key, int>& held_locks() {
  static std::map<ChartLock::Key, int> held;
  return held;
}
// The descriptors of charts locked in place (their folder takes no lock file).
std::map<ChartLock::Key, int>& in_place_fds() {
  static std::map<ChartLock::Key, int> fds;
  return fds;
}

// An injected lock failure for the in-place lock (counted like checked_lock).
bool hit_lock_fault() {
  ++g_faults.locks;
  if (g_faults.fail_lock > 0 && g_faults.locks == g_faults.fail_lock) {
    errno = ENOLCK;
    return true;
  }
  return false;
}

// The byte of the lock file that stands for a chart name (FNV-1a, kept
// well inside the range of off_t).
off_t lock_byte(const std::string& base) {
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : base) h = (h ^ c) * 1099511628211ull;
  return static_cast<off_t>(h >> 2);
}

void sleep_ms(int ms) {
  timespec ts{ms / 1000, (ms % 1000) * 1000000L};
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

}  // namespace

LockReporter lock_reporter = {default_lock_waiting, default_lock_failed};

namespace {
bool batch_holds(const ChartLock::Key& key);
void batch_publish_for_relock();
}  // namespace

ChartLock::ChartLock(const std::string& path) {
  const std::string real = resolve_target(path);
  const std::string dir = dir_of(real);
  const std::size_t slash = real.rfind('/');
  const std::string base = slash == std::string::npos ? real : real.substr(slash + 1);
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    // No folder, so no chart to write and none another program could be
    // writing: nothing to lock, and the write itself fails as it would.
    held_ = true;
    counted_ = false;
    return;
  }
  Key key{st.st_dev, st.st_ino, lock_byte(base)};
  // A chart this run wrote and has not published yet: published now, so
  // that the new writer reads it.
  if (batch_holds(key)) batch_publish_for_relock();
  auto& held = held_locks();
  if (auto it = held.find(key); it != held.end()) {
    ++it->second;
    key_ = key;
    held_ = true;
    counted_ = true;
    return;
  }
  const std::pair<dev_t, ino_t> dir_id{st.st_dev, st.st_ino};
  LockFile& file = lock_files()[dir_id];
  if (file.fd < 0) {
    const std::string name = dir + "/.morva.lock";
    int fd;
    do {
      fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      const int err = errno;
      drop_lock_file(dir_id);
      // A folder that takes no new file: a chart there can only change in
      // place, keeping its inode, so the chart itself is locked (flock).
      if (err == EACCES || err == EROFS || err == EPERM) {
        lock_in_place(path, real);
        return;
      }
      if (lock_reporter.failed) lock_reporter.failed(path.c_str(), false);
      return;
    }
    // Out of the low numbers a program's own files take.
    const int high = ::fcntl(fd, F_DUPFD_CLOEXEC, 200);
    if (high >= 0) {
      ::close(fd);
      fd = high;
    }
    file.fd = fd;
  }
  const int fd = file.fd;
  if (!file.whole && !wait_for(path, [&] { return checked_lock(fd, key.at) != 0; })) {
    drop_lock_file(dir_id);
    return;
  }
  ++lock_files()[dir_id].users;
  held[key] = 1;
  key_ = key;
  held_ = true;
  counted_ = true;
}

bool ChartLock::wait_for(const std::string& path, const std::function<bool()>& try_lock) {
  constexpr int kStepMs = 20;
  int waited = 0;
  while (!try_lock()) {
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      if (lock_reporter.failed) lock_reporter.failed(path.c_str(), false);
      return false;
    }
    if (waited >= g_lock_wait_ms) {
      busy_ = true;
      if (lock_reporter.failed) lock_reporter.failed(path.c_str(), true);
      return false;
    }
    const int step = std::min(kStepMs, g_lock_wait_ms - waited);
    sleep_ms(step);
    const int before = waited / 1000;
    waited += step;
    if (waited / 1000 > before && lock_reporter.waiting) lock_reporter.waiting(path.c_str(), waited / 1000);
  }
  return true;
}

void ChartLock::lock_in_place(const std::string& path, const std::string& real) {
  struct stat st;
  if (::stat(real.c_str(), &st) != 0) {
    // No chart, and no folder to make one in: nothing can be written.
    held_ = true;
    counted_ = false;
    return;
  }
  const Key key{st.st_dev, st.st_ino, -1};
  auto& held = held_locks();
  if (auto it = held.find(key); it != held.end()) {
    ++it->second;
    key_ = key;
    held_ = counted_ = true;
    return;
  }
  const int fd = ::open(real.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || !wait_for(path, [&] {
        if (hit_lock_fault()) return false;
        return ::flock(fd, LOCK_EX | LOCK_NB) == 0;
      })) {
    if (fd >= 0) ::close(fd);
    else if (lock_reporter.failed) lock_reporter.failed(path.c_str(), false);
    return;
  }
  held[key] = 1;
  in_place_fds()[key] = fd;
  key_ = key;
  held_ = counted_ = true;
}

ChartLock& ChartLock::operator=(ChartLock&& o) noexcept {
  if (this != &o) {
    release();
    key_ = o.key_;
    held_ = o.held_;
    counted_ = o.counted_;
    busy_ = o.busy_;
    o.held_ = false;
  }
  return *this;
}

void ChartLock::release() {
  if (!held_) return;
  held_ = false;
  if (!counted_) return;
  auto& held = held_locks();
  auto it = held.find(key_);
  if (it == held.end() || --it->second > 0) return;
  held.erase(it);
  if (key_.at < 0) {  // a chart locked in place: its descriptor goes
    auto f = in_place_fds().find(key_);
    if (f != in_place_fds().end()) {
      ::close(f->second);
      in_place_fds().erase(f);
    }
    return;
  }
  auto f = lock_files().find({key_.dev, key_.ino});
  if (f == lock_files().end() || f->second.fd < 0) return;
  if (!f->second.whole) {  // (a whole-file lock goes with the descriptor)
    struct flock fl {};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = key_.at;
    fl.l_len = 1;
    (void)::fcntl(f->second.fd, F_OFD_SETLK, &fl);
  }
  --f->second.users;
  drop_lock_file({key_.dev, key_.ino});
}

// ---- Durable batches ---------------------------------------------------------------

namespace {

// A batch holding many pending files in one folder takes the folder's
// whole lock file instead of one byte each: the kernel checks every new
// lock against all the locks held on the file, so thousands of held bytes
// would make each lock slow.  Taken only when no other program holds a
// chart there; the folder's charts then wait for the batch's publication.
void note_pending_lock(const ChartLock& lock) {
  if (!lock.counted() || lock.key().at < 0) return;
  auto it = lock_files().find({lock.key().dev, lock.key().ino});
  if (it == lock_files().end() || it->second.whole || ++it->second.pending < 32) return;
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 0;
  if (::fcntl(it->second.fd, F_OFD_SETLK, &fl) == 0) it->second.whole = true;
}

}  // namespace

namespace {

struct PendingFile {
  std::string temp, real, shown;
  ChartLock lock;
};

struct BatchState {
  int depth = 0;
  std::vector<PendingFile> pending;
  std::set<ChartLock::Key> keys;
  std::map<dev_t, int> file_systems;  // a descriptor on each file system written
  std::vector<int> files;             // the files written, while they are few
  bool many = false;                  // more than kFewFiles: flushed by syncfs
};
BatchState& batch() {
  static BatchState b;
  return b;
}

// Up to this many files a batch flushes each file and folder on its own
// (syncfs would wait for every other program's writes to the file system
// too); beyond it, one syncfs per file system for the data and one for the
// folders.  Either way the number of flushes does not grow with the charts.
constexpr std::size_t kFewFiles = 8;

bool flush_dir(const std::string& dir);

// Remembers `fd` (a file written) for the batch's flush.
void note_file_system(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return;
  BatchState& b = batch();
  if (!b.many) {
    if (b.files.size() < kFewFiles) {
      const int dup = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
      if (dup >= 0) b.files.push_back(dup);
      b.many = dup < 0;
    } else {
      b.many = true;
    }
  }
  auto& fs = b.file_systems;
  if (fs.count(st.st_dev)) return;
  const int dup = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (dup >= 0) fs[st.st_dev] = dup;
}

bool flush_file_systems() {
  bool ok = true;
  for (auto& [dev, fd] : batch().file_systems) ok = checked_sync(fd, SyncKind::kFileSystem) && ok;
  return ok;
}

// The data of every file written.
bool flush_data() {
  BatchState& b = batch();
  if (b.many) return flush_file_systems();
  bool ok = true;
  for (int fd : b.files) ok = checked_sync(fd, SyncKind::kData) && ok;
  return ok;
}

// The folders of the renamed files.
bool flush_folders() {
  BatchState& b = batch();
  if (b.many) return flush_file_systems();
  std::set<std::string> dirs;
  for (const PendingFile& p : b.pending) dirs.insert(dir_of(p.real));
  bool ok = true;
  for (const std::string& d : dirs) ok = flush_dir(d) && ok;
  return ok;
}

// Flushes, renames and flushes again; the number of charts that failed.
int publish_pending() {
  BatchState& b = batch();
  int failed = 0;
  if (!b.pending.empty() || !b.file_systems.empty()) {
    const bool data = flush_data();
    for (PendingFile& p : b.pending) {
      if (data && checked_rename(p.temp.c_str(), p.real.c_str())) continue;
      ::unlink(p.temp.c_str());
      diskfull(p.shown.c_str());
      ++failed;
    }
    // The renames are on the disk: the directories' flush.
    if (!b.pending.empty() && failed < static_cast<int>(b.pending.size()) && !flush_folders() &&
        failed == 0) {
      diskfull(b.pending.front().shown.c_str());
      failed = 1;
    }
    if (!data && b.pending.empty()) {
      diskfull(nullptr);
      failed = 1;
    }
  }
  b.pending.clear();  // releases the locks
  b.keys.clear();
  for (auto& [dev, fd] : b.file_systems) ::close(fd);
  b.file_systems.clear();
  for (int fd : b.files) ::close(fd);
  b.files.clear();
  b.many = false;
  return failed;
}

int g_relock_failures = 0;  // failures of publications forced by a relock

bool batch_holds(const ChartLock::Key& key) { return batch().depth > 0 && batch().keys.count(key); }
void batch_publish_for_relock() { g_relock_failures += publish_pending(); }

}  // namespace

DurableBatch::DurableBatch() { outer_ = batch().depth++ == 0; }

DurableBatch::~DurableBatch() {
  if (outer_) (void)publish();
  --batch().depth;
}

int DurableBatch::publish() {
  if (!outer_) return 0;
  const int failed = publish_pending() + g_relock_failures;
  g_relock_failures = 0;
  return failed;
}

bool DurableBatch::active() { return batch().depth > 0; }

int DurableBatch::flush_written(int fd) {
  if (active()) {
    note_file_system(fd);
    return 1;
  }
  return checked_sync(fd, SyncKind::kData);
}

namespace {

// Flushes the directory `dir` (after a rename into it).
bool flush_dir(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = checked_sync(fd, SyncKind::kFile);
  ::close(fd);
  return ok;
}

// A file without a name can be linked into place through /proc/self/fd.
bool unnamed_files_usable() {
  static const bool usable = ::access("/proc/self/fd", X_OK) == 0;
  return usable;
}

// The file system offers no O_TMPFILE (as opposed to a failed creation).
bool unnamed_unsupported(int err) { return err == EOPNOTSUPP || err == EISDIR || err == EINVAL; }

}  // namespace

SafeReplace::SafeReplace(std::string target, Locking locking) : target_(std::move(target)) {
  real_ = resolve_target(target_);
  if (locking == Locking::kChart) {
    lock_ = ChartLock(real_);
    if (!lock_.held()) {
      lock_failed_ = true;
      failed_ = true;
      return;
    }
  }
  int fd = -1;
  // A new file: written without a name, so that creating it costs no
  // name of its own in the directory, and linked under its name at commit
  // (with the mode any new file gets, 0666 less the umask).
  struct stat st;
  // (In a batch the file keeps a name until it is published.)
  if (!DurableBatch::active() && ::lstat(real_.c_str(), &st) != 0 && errno == ENOENT &&
      unnamed_files_usable()) {
    fd = checked_create(dir_of(real_).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd >= 0) {
      unnamed_ = true;
    } else if (!unnamed_unsupported(errno)) {
      failed_ = true;
      return;
    }
  }
  if (fd < 0) {
    fd = create_temp_in(dir_of(real_), temp_);
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
    // Everything written is on the disk: the file gets its name.  A name
    // that appeared meanwhile is not replaced: the commit fails.
    const std::string self = "/proc/self/fd/" + std::to_string(fileno(f_));
    good = good && checked_sync(fileno(f_), SyncKind::kData) && checked_link(self.c_str(), real_.c_str());
    std::fclose(f_);
    f_ = nullptr;
    if (!good) {
      failed_ = true;
      discard();
      return 0;
    }
    done_ = true;
    lock_.release();
    // The new name on the disk too; the file is in place whatever this says.
    return flush_dir(dir_of(real_)) ? 1 : 0;
  }
  if (DurableBatch::active()) {
    if (good) note_file_system(fileno(f_));
    good = (std::fclose(f_) == 0) && good;
    f_ = nullptr;
    if (!good) {
      failed_ = true;
      discard();
      return 0;
    }
    BatchState& b = batch();
    if (lock_.counted()) b.keys.insert(lock_.key());
    b.pending.push_back(PendingFile{temp_, real_, target_, std::move(lock_)});
    done_ = true;
    temp_.clear();
    note_pending_lock(b.pending.back().lock);
    return 1;
  }
  good = good && checked_sync(fileno(f_), SyncKind::kData);
  good = (std::fclose(f_) == 0) && good;
  f_ = nullptr;
  if (!good || !checked_rename(temp_.c_str(), real_.c_str())) {
    failed_ = true;
    discard();
    return 0;
  }
  done_ = true;
  temp_.clear();
  lock_.release();
  return flush_dir(dir_of(real_)) ? 1 : 0;
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
  lock_.release();
}

int replace_file(const std::string& path, std::span<const unsigned char> bytes,
                 SafeReplace::Locking locking) {
  SafeReplace out(path, locking);
  if (!out.write(bytes.data(), bytes.size())) return 0;
  return out.commit();
}
