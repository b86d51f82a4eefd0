// The one way a file is written: whole-file replacement under the file's
// lock, durable before it is reported.
//
//   SafeReplace out(path);
//   if (!out.ok() || !out.write(data, n) || !out.commit()) -> failed, `path`
//   is byte for byte as it was and no temporary file is left behind.
//
// The new content goes to a temporary file in the target's own directory,
// created exclusively (never through an existing symbolic link) under a
// name unique to the run, ".morva-XXXXXXXX.tmp", that no chart can have.
// For a target that does not exist yet it has no name at all (O_TMPFILE
// where the file system offers it) and is linked under the target's name
// at commit.  A target that is a symbolic link keeps the link: the file it
// names is replaced.  An existing target's permission bits are carried
// over to the new file; a new file gets 0666 less the umask.
//
// Exclusive writing: a SafeReplace holds the target's ChartLock from its
// construction until the new file is in place, so a writer that reads the
// old content after constructing it works on the newest version.
//
// Durability: commit() flushes the data before the rename and the directory
// after it.  While a DurableBatch is open, the flushes of many files are
// shared: commit() leaves the finished temporary file (and its lock) with
// the batch, and DurableBatch::publish() flushes once, renames all, and
// flushes the directories once.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <span>
#include <string>

// ---- Exclusive writing -----------------------------------------------------------
//
// A chart's lock is an flock on the chart's folder itself (the folder,
// opened read-only): every writer of a folder shares it whatever user or
// umask made the folder or its files, and nobody can delete or replace it
// under a holder.  Locks of one process nest: taking a folder this process
// already holds succeeds at once.  A second writer waits for it, up to
// g_lock_wait_ms, showing its progress through lock_reporter, and then
// gives up with the chart busy; a folder that cannot be opened for the
// lock is refused (nothing is written) rather than written unlocked.
// Before a writer waits it publishes what its DurableBatch holds, so that
// two runs never wait for each other.
//
// The first time a writer of this process holds a folder, it removes the
// temporary files ".morva-*.tmp" there that no live run owns: a temporary
// file is locked (flock) from before it gets its name until it is closed,
// and a closed one (a finished chart waiting for its batch) lies in a
// folder whose lock its run holds.

// How long a writer waits for a chart another program is writing (30 s).
extern int g_lock_wait_ms;

struct LockReporter {
  // Still waiting for `name` after `seconds` whole seconds (called once a
  // second).
  void (*waiting)(const char* name, int seconds);
  // `name` stayed busy for the whole wait, or its lock could not be taken
  // (`busy` false: its folder cannot be opened, say); nothing was written
  // to it.
  void (*failed)(const char* name, bool busy);
  // `name` is not a file this program may replace (`why` says what it is);
  // nothing was written to it.  nullptr: standard error.
  void (*refused)(const char* name, const char* why) = nullptr;
};
// The default writes to standard error; the window installs its reporter
// (at the screen cursor), the batch tool its own.
extern LockReporter lock_reporter;

class ChartLock {
 public:
  // kRead: a reader's lock (it removes no leftovers and waits like a
  // writer, so that it never sees a chart half-way through a store).
  enum class Mode { kWrite, kRead };
  ChartLock() = default;
  // Takes the lock of the folder of the file `path` names (a symbolic
  // link resolved).
  explicit ChartLock(const std::string& path, Mode mode = Mode::kWrite);
  ~ChartLock() { release(); }
  ChartLock(ChartLock&& o) noexcept { *this = std::move(o); }
  ChartLock& operator=(ChartLock&& o) noexcept;
  ChartLock(const ChartLock&) = delete;
  ChartLock& operator=(const ChartLock&) = delete;

  bool held() const { return held_; }
  // The wait ran out (as opposed to a failure to lock at all).
  bool busy() const { return busy_; }
  void release();

  // The chart: its folder and a hash of its name.
  struct Key {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t at = 0;
    auto operator<=>(const Key&) const = default;
  };
  const Key& key() const { return key_; }
  // A lock of this process's table (false for a path whose folder does
  // not exist: nothing to lock there).
  bool counted() const { return held_ && counted_; }

 private:
  bool wait_for(const std::string& path, int fd);
  Key key_{};
  bool held_ = false;
  bool counted_ = false;
  bool busy_ = false;
};

// The data directory of a run (set by the programs): a run as root
// follows a symbolic link only to a file inside it.  Empty: any file.
extern std::string g_link_root;

// Why `path` may not be written (empty when it may): a device, FIFO,
// socket or folder, a symbolic link to anything but a regular file, for a
// root run a link to a file outside g_link_root, and,
// with `chart`, an existing file that is not a chart (neither empty nor
// starting with a chart header).  Nothing is opened that could block.
std::string target_refusal(const std::string& path, bool chart);
// target_refusal, and when the target is refused, tells lock_reporter.
bool target_usable(const std::string& path, bool chart);
// The first `got` bytes of a file (up to a header) start as a chart does;
// what target_refusal says of those that do not; and the telling.
bool chart_head_ok(const unsigned char* head, std::size_t got);
extern const char* const kNotAChart;
void tell_refused(const std::string& path, const char* why);

// Opens a chart (or any file read whole) for reading: only a regular
// file, opened without blocking (a FIFO or device is refused).  The
// descriptor, or -1 with errno set (EINVAL for a file that is not regular).
int open_regular_for_reading(const std::string& path);
// The same as a stream ("rb"); nullptr when it cannot be opened.
std::FILE* fopen_regular(const std::string& path);

// ---- Durability ------------------------------------------------------------------

// Shares the flushes of many writes: while one is open, SafeReplace::commit
// leaves its finished file with the batch, and appends in place only note
// their file system.  publish() (or the destructor) then flushes the data
// of every file system written (syncfs), renames every pending file into
// place, flushes the file systems again for the directories, and releases
// the locks.  A chart this process locks again while it is pending is
// published first, so a run always reads what it wrote; so is everything
// pending when this process would have to wait for a lock, and when the
// oldest pending file has waited for more than kBatchHoldMs, so that other
// programs are not kept from a folder for long.  Batches nest: an inner
// one leaves everything to the outermost.
inline constexpr int kBatchHoldMs = 2000;

class DurableBatch {
 public:
  DurableBatch();
  ~DurableBatch();
  DurableBatch(const DurableBatch&) = delete;
  DurableBatch& operator=(const DurableBatch&) = delete;

  // Publishes what is pending.  The number of charts that failed (each
  // reported through diskfull); 0 when everything is on the disk.  An
  // inner batch returns 0 and leaves the work to the outermost.
  int publish();
  // True while a batch is open in this process.
  static bool active();
  // Notes that `fd` (a file written in place) is to be flushed by the
  // batch; without a batch it is flushed now.  1 on success.
  static int flush_written(int fd);

  // New bars appended in place whose header date is still to be written.
  struct Append {
    int fd = -1;             // the chart, open for writing (the batch closes it)
    std::string real, shown;
    off_t old_size = 0;      // the chart's length before the bars
    std::string tail;        // the partial record the bars overwrote
    unsigned char old_date[4] = {};  // the header date before
    bool write_date = false;
    std::int32_t date = 0;   // the header date to write
    ChartLock lock;
  };
  // Hands an append to the open batch: after the one flush of the run's
  // data the batch writes the header date (so that the date never runs
  // ahead of the bars on the disk), then flushes again.  When the data
  // flush or the date fails, the chart is cut back to its old bytes and
  // counted as failed.
  static void add_append(Append&& a);

 private:
  bool outer_ = false;
};

class SafeReplace {
 public:
  enum class Locking { kChart, kNone, kChartFile };
  // kNone for files that are not charts (texts, setup files): no lock.
  // kChartFile: locked, and an existing target that is not a chart is
  // refused (see target_refusal).  Every mode refuses special files.
  explicit SafeReplace(std::string target, Locking locking = Locking::kChart);
  ~SafeReplace();  // removes the temporary file unless committed
  SafeReplace(const SafeReplace&) = delete;
  SafeReplace& operator=(const SafeReplace&) = delete;

  // The temporary file is open and no write has failed.
  bool ok() const;
  // The target's lock could not be had, or the target was refused:
  // nothing was created, and the reason was told.
  bool lock_failed() const { return lock_failed_; }
  // The stream of the temporary file (nullptr when it could not be made).
  // Direct writes are allowed; commit() still catches a stream error.
  std::FILE* stream();
  // Checked write; 1 when all n bytes were written.  A failed write makes
  // ok() false and commit() refuse.
  int write(const void* p, std::size_t n);
  // Flushes and closes the temporary file, flushes it to the disk and
  // renames it over the target, then flushes the directory (or leaves all
  // that to the open DurableBatch).  1 on success; 0 otherwise (target
  // unchanged, temporary removed).
  int commit();
  // Abandons the new content now (the destructor does the same).
  void discard();

  const std::string& target() const { return target_; }
  // Name of the temporary file; "" while it has none (a new file).
  const std::string& temp_path() const { return temp_; }

 private:
  std::string target_;   // name as given
  std::string real_;     // file actually replaced (link resolved)
  std::string temp_;
  ChartLock lock_;
  bool lock_failed_ = false;
  std::unique_ptr<char[]> buf_;  // the stream's buffer: large writes, few calls
  std::FILE* f_ = nullptr;
  bool failed_ = false;
  bool done_ = false;
  bool unnamed_ = false;  // O_TMPFILE: linked under the target's name at commit
};

// Replaces `path` by `bytes` through SafeReplace; 1 on success.
int replace_file(const std::string& path, std::span<const unsigned char> bytes,
                 SafeReplace::Locking locking = SafeReplace::Locking::kChart);

// Temporary-file helpers shared with the store splice.
// Directory part of `path` ("." when none), without a trailing slash
// (except for "/").
std::string dir_of(const std::string& path);
// The file a path finally names: `path` itself unless it is a symbolic
// link that resolves.
std::string resolve_target(const std::string& path);
// Creates a new file with a name unique to the run, DIR/.morva-XXXXXXXX.tmp,
// never opening an existing entry; the descriptor (or -1) and its name.
int create_temp_in(const std::string& dir, std::string& name);
// True when the last part of `path` is a name create_temp_in makes.
bool is_temp_file_name(const std::string& path);
// Gives the descriptor's file the permission bits of `like` when that file
// exists, else 0666 less the umask.
void copy_mode(int fd, const std::string& like);
