#include "chartdata/safe_replace.h"

#include <fcntl.h>
#include <dirent.h>
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
#include "chartdata/encodings.h"
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
// A file without a name can be linked into place through /proc/self/fd.
bool unnamed_files_usable() {
  static const bool usable = ::access("/proc/self/fd", X_OK) == 0;
  return usable;
}

// The file system offers no O_TMPFILE (as opposed to a failed creation).
bool unnamed_unsupported(int err) { return err == EOPNOTSUPP || err == EISDIR || err == EINVAL; }

std::string temp_name(const std::string& dir) {
  static std::minstd_rand rng{std::random_device{}()};
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix;
  for (int i = 0; i < 8; ++i) suffix += kChars[rng() % (sizeof kChars - 1)];
  return dir + "/.morva-" + suffix + ".tmp";
}
}  // namespace

int create_temp_in(const std::string& dir, std::string& name) {
  // Locked before it has a name, so that a cleaner (see ChartLock) never
  // takes a live temporary file for a leftover: made without a name,
  // locked, then linked under a name unique to the run.
  if (unnamed_files_usable()) {
    const int fd = checked_create(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) {
      (void)::flock(fd, LOCK_EX | LOCK_NB);
      const std::string self = "/proc/self/fd/" + std::to_string(fd);
      for (int attempt = 0; attempt < 100; ++attempt) {
        name = temp_name(dir);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return fd;
        if (errno != EEXIST) break;
      }
      const int err = errno;
      ::close(fd);
      errno = err;
      return -1;
    }
    if (!unnamed_unsupported(errno)) return -1;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = temp_name(dir);
    int fd = checked_create(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) (void)::flock(fd, LOCK_EX | LOCK_NB);
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

// The folders this process holds: the descriptor that carries the lock
// and how many holders it has.
struct Folder {
  int fd = -1;
  int users = 0;
};
using FolderId = std::pair<dev_t, ino_t>;
std::map<FolderId, Folder>& folders() {
  static std::map<FolderId, Folder> held;
  return held;
}
// Folders whose leftovers this process has removed.
std::set<FolderId>& cleaned() {
  static std::set<FolderId> done;
  return done;
}

// The number that stands for a chart name in its folder (FNV-1a).
off_t name_hash(const std::string& base) {
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : base) h = (h ^ c) * 1099511628211ull;
  return static_cast<off_t>(h >> 2);
}

void sleep_ms(int ms) {
  timespec ts{ms / 1000, (ms % 1000) * 1000000L};
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

// Removes the temporary files of the folder `dirfd` that no live run owns:
// those that can be locked (a live one is locked by its maker while open,
// and a closed one lies in a folder its run holds, which this process now
// holds itself).
void remove_leftovers(int dirfd) {
  const int fd = ::openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  DIR* d = ::fdopendir(fd);
  if (d == nullptr) {
    ::close(fd);
    return;
  }
  while (dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (!is_temp_file_name(name) || name.size() < 12 || name.compare(name.size() - 4, 4, ".tmp") != 0) continue;
    const int t = ::openat(fd, e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (t < 0) continue;
    struct stat st;
    if (::fstat(t, &st) == 0 && S_ISREG(st.st_mode) && ::flock(t, LOCK_EX | LOCK_NB) == 0)
      (void)::unlinkat(fd, e->d_name, 0);
    ::close(t);
  }
  ::closedir(d);
}

}  // namespace

LockReporter lock_reporter = {default_lock_waiting, default_lock_failed, nullptr};

namespace {
bool batch_holds(const ChartLock::Key& key);
bool batch_has_pending();
void batch_publish_for_relock();
}  // namespace

ChartLock::ChartLock(const std::string& path, Mode mode) {
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
  key_ = Key{st.st_dev, st.st_ino, name_hash(base)};
  // A chart this run wrote and has not published yet: published now, so
  // that the new writer reads it.
  if (batch_holds(key_)) batch_publish_for_relock();
  const FolderId id{st.st_dev, st.st_ino};
  if (auto it = folders().find(id); it != folders().end()) {
    ++it->second.users;
    held_ = counted_ = true;
    return;
  }
  int fd;
  do {
    fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (lock_reporter.failed) lock_reporter.failed(path.c_str(), false);
    return;
  }
  // Out of the low numbers a program's own files take.
  const int high = ::fcntl(fd, F_DUPFD_CLOEXEC, 200);
  if (high >= 0) {
    ::close(fd);
    fd = high;
  }
  if (!wait_for(path, fd)) {
    ::close(fd);
    return;
  }
  folders()[id] = Folder{fd, 1};
  held_ = counted_ = true;
  if (mode == Mode::kWrite && cleaned().insert(id).second) remove_leftovers(fd);
}

bool ChartLock::wait_for(const std::string& path, int fd) {
  constexpr int kStepMs = 20;
  int waited = 0;
  bool published = false;
  while (!checked_lock(fd, 0)) {
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      if (lock_reporter.failed) lock_reporter.failed(path.c_str(), false);
      return false;
    }
    // Whatever this run holds goes first: the other program may be
    // waiting for it.
    if (!published && batch_has_pending()) {
      published = true;
      batch_publish_for_relock();
      continue;
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
  auto it = folders().find({key_.dev, key_.ino});
  if (it == folders().end() || --it->second.users > 0) return;
  ::close(it->second.fd);  // the lock goes with the descriptor
  folders().erase(it);
}

// ---- Targets -----------------------------------------------------------------------

std::string g_link_root;

namespace {

// True when `file` (a resolved path) lies inside the folder `root`.
bool inside(const std::string& file, const std::string& root) {
  if (root == "/") return true;
  return file.size() > root.size() && file.compare(0, root.size(), root) == 0 && file[root.size()] == '/';
}

}  // namespace

std::string target_refusal(const std::string& path, bool chart) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return "";  // a new file (or none can be made)
  if (S_ISLNK(st.st_mode)) {
    struct stat to;
    if (::stat(path.c_str(), &to) != 0) return "";  // a dangling link: the link itself is replaced
    if (!S_ISREG(to.st_mode)) return "it is a link to a device, FIFO, socket or folder, not to a file";
    if (::geteuid() == 0 && !g_link_root.empty()) {
      char file[PATH_MAX], root[PATH_MAX];
      if (::realpath(path.c_str(), file) == nullptr || ::realpath(g_link_root.c_str(), root) == nullptr ||
          !inside(file, root))
        return "it is a link to a file outside the data directory (refused for root)";
    }
    st = to;
  } else if (!S_ISREG(st.st_mode)) {
    return "it is a device, FIFO, socket or folder, not a file";
  }
  if (!chart || st.st_size == 0) return "";
  const int fd = open_regular_for_reading(path);
  if (fd < 0) return "";  // unreadable: the store says so when it opens it
  unsigned char head[kHeaderSize];
  ssize_t got;
  do {
    got = ::pread(fd, head, sizeof head, 0);
  } while (got < 0 && errno == EINTR);
  ::close(fd);
  if (got <= 0 || chart_head_ok(head, static_cast<std::size_t>(got))) return "";
  return kNotAChart;
}

const char* const kNotAChart = "it is not a chart (it has no chart header)";

bool chart_head_ok(const unsigned char* head, std::size_t got) {
  // A whole header: byte 0 is 0 and a line feed follows the type letter.
  // A shorter file is taken for a cut-off chart only when it starts so.
  return got == 0 || (head[0] == 0 && (got < kHeaderSize || head[kHeaderTypeOffset + 1] == '\n'));
}

void tell_refused(const std::string& path, const char* why) {
  if (lock_reporter.refused) lock_reporter.refused(path.c_str(), why);
  else std::fprintf(stderr, "Not replaced, %s: %s\n", why, path.c_str());
}

bool target_usable(const std::string& path, bool chart) {
  const std::string why = target_refusal(path, chart);
  if (why.empty()) return true;
  tell_refused(path, why.c_str());
  return false;
}

int open_regular_for_reading(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

std::FILE* fopen_regular(const std::string& path) {
  const int fd = open_regular_for_reading(path);
  if (fd < 0) return nullptr;
  std::FILE* f = ::fdopen(fd, "rb");
  if (f == nullptr) ::close(fd);
  return f;
}

// ---- Durable batches ---------------------------------------------------------------

namespace {

struct PendingFile {
  std::string temp, real, shown;
  ChartLock lock;
};

struct BatchState {
  int depth = 0;
  std::vector<PendingFile> pending;
  std::vector<DurableBatch::Append> appends;
  long long since_ms = -1;            // when the oldest pending entry came
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

long long monotonic_ms() {
  timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Puts an appended chart back as it was: its old length and the partial
// record its bars overwrote.
void undo_append(const DurableBatch::Append& a) {
  (void)!::ftruncate(a.fd, a.old_size);
  (void)!::pwrite(a.fd, a.old_date, sizeof a.old_date, kHeaderDateOffset);
  if (!a.tail.empty())
    (void)!::pwrite(a.fd, a.tail.data(), a.tail.size(), a.old_size - static_cast<off_t>(a.tail.size()));
}

// Flushes, writes the header dates of the appends, renames and flushes
// again; the number of charts that failed.
int publish_pending() {
  BatchState& b = batch();
  int failed = 0;
  bool appended = false;
  if (!b.pending.empty() || !b.file_systems.empty() || !b.appends.empty()) {
    const bool data = flush_data();
    // The bars are on the disk: now the header dates, which may then fall
    // behind the bars after a power cut but never run ahead of them.
    for (DurableBatch::Append& a : b.appends) {
      bool ok = data;
      if (ok && a.write_date) {
        unsigned char field[4];
        put_le32(field, static_cast<std::uint32_t>(a.date));
        ok = ::lseek(a.fd, kHeaderDateOffset, SEEK_SET) == static_cast<off_t>(kHeaderDateOffset) &&
             checked_write_fd(a.fd, field, sizeof field);
        appended = appended || ok;
      }
      if (!ok) {
        undo_append(a);
        diskfull(a.shown.c_str());
        ++failed;
      }
    }
    for (PendingFile& p : b.pending) {
      if (data && checked_rename(p.temp.c_str(), p.real.c_str())) continue;
      ::unlink(p.temp.c_str());
      diskfull(p.shown.c_str());
      ++failed;
    }
    // The renames and the dates are on the disk: the directories' flush
    // (and the appended files' again).
    bool second = true;
    if (!b.pending.empty() && failed < static_cast<int>(b.pending.size() + b.appends.size()))
      second = flush_folders();
    if (appended && !b.many) {
      for (const DurableBatch::Append& a : b.appends)
        if (a.write_date) second = checked_sync(a.fd, SyncKind::kData) && second;
    } else if (appended && b.pending.empty()) {
      second = flush_file_systems() && second;
    }
    if (!second && failed == 0) {
      diskfull(!b.pending.empty() ? b.pending.front().shown.c_str() : b.appends.front().shown.c_str());
      failed = 1;
    }
    if (!data && b.pending.empty() && b.appends.empty()) {
      diskfull(nullptr);
      failed = 1;
    }
  }
  b.pending.clear();  // releases the locks
  for (DurableBatch::Append& a : b.appends) ::close(a.fd);
  b.appends.clear();
  b.keys.clear();
  b.since_ms = -1;
  for (auto& [dev, fd] : b.file_systems) ::close(fd);
  b.file_systems.clear();
  for (int fd : b.files) ::close(fd);
  b.files.clear();
  b.many = false;
  return failed;
}

int g_relock_failures = 0;  // failures of publications forced by a relock

bool batch_holds(const ChartLock::Key& key) { return batch().depth > 0 && batch().keys.count(key); }
bool batch_has_pending() { return !batch().pending.empty() || !batch().appends.empty(); }
void batch_publish_for_relock() { g_relock_failures += publish_pending(); }

// A new entry of the batch: the clock starts with the first; one that has
// waited too long has everything published.
void note_entry() {
  BatchState& b = batch();
  const long long now = monotonic_ms();
  if (b.since_ms < 0) b.since_ms = now;
  else if (now - b.since_ms > kBatchHoldMs) batch_publish_for_relock();
}

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

void DurableBatch::add_append(Append&& a) {
  BatchState& b = batch();
  note_file_system(a.fd);
  if (a.lock.counted()) b.keys.insert(a.lock.key());
  b.appends.push_back(std::move(a));
  note_entry();
}

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

}  // namespace

SafeReplace::SafeReplace(std::string target, Locking locking) : target_(std::move(target)) {
  real_ = resolve_target(target_);
  if (locking != Locking::kNone) {
    lock_ = ChartLock(real_);
    if (!lock_.held()) {
      lock_failed_ = true;
      failed_ = true;
      return;
    }
  }
  if (!target_usable(target_, locking == Locking::kChartFile)) {
    lock_.release();
    lock_failed_ = true;
    failed_ = true;
    return;
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
    note_entry();
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
