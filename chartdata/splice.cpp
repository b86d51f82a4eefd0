#include "chartdata/splice.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "chartdata/chartfile.h"
#include "chartdata/encodings.h"
#include "chartdata/faults.h"
#include "chartdata/osshims.h"
#include "chartdata/safe_replace.h"

namespace {

// A scratch copy of an old chart with every date widened to eight digits,
// positioned at its start; nullptr when it cannot be made.
std::FILE* widened_copy(std::FILE* old) {
  std::FILE* copy = std::tmpfile();
  if (copy == nullptr) return nullptr;
  unsigned char block[kHeaderSize + 128 * kBarSize];
  std::size_t got = std::fread(block, 1, kHeaderSize, old);
  bool ok = got == kHeaderSize && checked_write(copy, block, kHeaderSize);
  while (ok) {
    got = std::fread(block, 1, 128 * kBarSize, old);
    for (std::size_t i = 0; i + kBarSize <= got; i += kBarSize) {
      std::int32_t d = static_cast<std::int32_t>(get_le32(block + i));
      put_le32(block + i, static_cast<std::uint32_t>(Y2000_add_century_date(d)));
    }
    if (got > 0) ok = checked_write(copy, block, got);
    if (got < 128 * kBarSize) break;
  }
  if (!ok || std::ferror(old) || std::fflush(copy) != 0) {
    std::fclose(copy);
    return nullptr;
  }
  std::rewind(copy);
  return copy;
}

bool default_header_date(std::int32_t last, std::int32_t* date) {
  if (last < 101 || last > 99999999) return false;
  *date = last;
  return true;
}

// Stream buffers of the old chart and the new file, each large enough for
// a whole chart of usual size (up to 1 MB): it is read in one call and
// written in one.  Kept from one splice to the next, so no splice allocates
// them again.  A splice started by a step of another (none does so today)
// leaves them to the outer one and its streams keep buffers of their own.
struct SharedBuffers {
  static constexpr std::size_t kMinBuffer = 64 * 1024, kMaxBuffer = 1024 * 1024;
  static std::vector<char>& buffer(int which, std::size_t want) {
    static std::vector<char> buffers[2];
    std::vector<char>& b = buffers[which];
    want = std::clamp(want, kMinBuffer, kMaxBuffer);
    if (b.size() < want) b.resize(want);
    return b;
  }
  static int& depth() {
    static int d = 0;
    return d;
  }
  SharedBuffers() { ++depth(); }
  ~SharedBuffers() { --depth(); }
  bool shared() const { return depth() == 1; }
};

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f != nullptr) std::fclose(f);
  }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool pread_all(int fd, void* p, std::size_t n, off_t at) {
  auto* c = static_cast<unsigned char*>(p);
  while (n > 0) {
    const ssize_t got = ::pread(fd, c, n, at);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    c += got;
    n -= static_cast<std::size_t>(got);
    at += got;
  }
  return true;
}

bool pwrite_all(int fd, const void* p, std::size_t n, off_t at) {
  if (::lseek(fd, at, SEEK_SET) != at) return false;
  return checked_write_fd(fd, p, n) != 0;
}

// The step's bars, written into memory: 1 done, 0 failed, -1 abandoned
// by the step.
int bars_into_memory(const NewBarsStep& write_new_bars, std::string& bytes) {
  char* mem = nullptr;
  std::size_t mem_size = 0;
  File out(::open_memstream(&mem, &mem_size));
  if (!out) return 0;
  int r;
  try {
    r = write_new_bars ? write_new_bars(out.get()) : 1;
  } catch (...) {
    r = 0;
  }
  const bool abandoned = r <= 0;
  if (r > 0) r = std::fflush(out.get()) == 0 && !std::ferror(out.get());
  out.reset();  // mem and mem_size are final now
  std::unique_ptr<char, decltype(&std::free)> owned(mem, &std::free);
  if (abandoned) return -1;
  if (r <= 0) return 0;
  bytes.assign(mem, mem_size);
  return 1;
}

// Appending in place goes up to this many new bytes: they go out in one
// write of at most a page, which a kill does not cut in two; longer runs
// of new bars take the temporary file.
constexpr std::size_t kAppendLimit = 4096;

// Appending in place: the chart (locked, open for update, `size` bytes,
// `bars` whole bars, the last dated before range.first) gets the new bars
// (`bytes`, at most kAppendLimit) after its last whole bar in one write
// and loses a trailing partial record.  Then, once the bars are on the
// disk, the header date: in an open DurableBatch after the run's one
// flush (the batch takes the descriptor and the lock), else here between
// two flushes.  On any failure the chart is put back byte for byte.
//   1 appended, 0 failed (fd closed either way).
int append_in_place(int fd, off_t size, off_t bars, const std::string& bytes, const SpliceRange& range,
                    const SpliceOptions& options, ChartLock& lock, const std::string& real,
                    const std::string& shown) {
  const off_t end = static_cast<off_t>(kHeaderSize) + bars * static_cast<off_t>(kBarSize);
  const off_t new_end = end + static_cast<off_t>(bytes.size());
  std::int32_t date = 0;
  const bool write_date = options.header_date ? options.header_date(range.last, &date)
                                              : default_header_date(range.last, &date);
  DurableBatch::Append a;
  a.fd = fd;
  a.real = real;
  a.shown = shown;
  a.old_size = size;
  a.write_date = write_date;
  a.date = date;
  // What the steps overwrite, to be put back on failure: the header date
  // and a trailing partial record.
  a.tail.resize(static_cast<std::size_t>(size - end));
  bool ok = pread_all(fd, a.old_date, sizeof a.old_date, kHeaderDateOffset) &&
            (a.tail.empty() || pread_all(fd, a.tail.data(), a.tail.size(), end));
  if (!ok) {
    ::close(fd);
    return 0;
  }
  // The trailing partial record lies where the new bars go: its bytes
  // count from `end`, so the undo puts them back at old_size - tail.
  ok = bytes.empty() || pwrite_all(fd, bytes.data(), bytes.size(), end);
  if (ok && size > new_end) ok = ::ftruncate(fd, new_end) == 0;
  if (ok && DurableBatch::active()) {
    a.lock = std::move(lock);
    DurableBatch::add_append(std::move(a));
    return 1;
  }
  if (ok) ok = checked_sync(fd, SyncKind::kData) != 0;
  if (ok && write_date) {
    unsigned char field[4];
    put_le32(field, static_cast<std::uint32_t>(date));
    ok = pwrite_all(fd, field, sizeof field, kHeaderDateOffset) && checked_sync(fd, SyncKind::kData) != 0;
  }
  const int err = errno;
  if (!ok) {
    // Back to the old bytes: the old length, the old date, the partial record.
    (void)!::ftruncate(fd, size);
    (void)!::pwrite(fd, a.old_date, sizeof a.old_date, kHeaderDateOffset);
    if (!a.tail.empty()) (void)!::pwrite(fd, a.tail.data(), a.tail.size(), end);
  }
  if (::close(fd) != 0) ok = false;
  errno = err;
  return ok ? 1 : 0;
}

}  // namespace

int store_splice(std::string& target, SpliceRange& range, const NewBarsStep& write_new_bars,
                 const SpliceOptions& options) {
  SharedBuffers buffers;
  if (target.empty()) return 0;
  // Held from reading the old bars until the new version is in place.
  ChartLock lock(target);
  if (!lock.held()) return 0;

  // Special files and links first (nothing opened); whether the file is a
  // chart is seen from its first bytes below.
  if (!target_usable(target, false)) return 0;
  const std::string real = resolve_target(target);
  File old;
  struct stat st {};  // of the old chart, when there is one
  std::size_t old_size = 0;
  NewBarsStep step = write_new_bars;
  std::string appended;  // the new bars, when they were written into memory
  if (exist(target.c_str())) {
    const int rfd = open_regular_for_reading(real);
    if (rfd >= 0) old.reset(::fdopen(rfd, "rb"));
    if (!old) {
      if (rfd >= 0) ::close(rfd);
      diskfull(target.c_str());
      return 0;
    }
    if (fstat(fileno(old.get()), &st) != 0 || !S_ISREG(st.st_mode)) {
      diskfull(target.c_str());
      return 0;
    }
    old_size = static_cast<std::size_t>(st.st_size);
    unsigned char head[kHeaderSize + kBarSize];
    ssize_t got;
    do {
      got = ::pread(fileno(old.get()), head, sizeof head, 0);
    } while (got < 0 && errno == EINTR);
    if (got > 0 && !chart_head_ok(head, static_cast<std::size_t>(got))) {
      tell_refused(target, kNotAChart);
      return 0;
    }
    const bool upgrade = options.upgrade_target && got > 0 && old_chart_head(head, static_cast<std::size_t>(got));
    // Every new bar after the last stored one (the nightly case): the new
    // bars are appended and the header date updated in place.
    if (!upgrade && old_size >= kHeaderSize) {
      const off_t bars = static_cast<off_t>((old_size - kHeaderSize) / kBarSize);
      unsigned char last[4];
      bool after = bars == 0;
      if (!after && pread_all(fileno(old.get()), last, sizeof last,
                              static_cast<off_t>(kHeaderSize) + (bars - 1) * static_cast<off_t>(kBarSize)))
        after = static_cast<std::int32_t>(get_le32(last)) < range.first;
      if (after) {
        const int got = bars_into_memory(write_new_bars, appended);
        if (got < 0) return 0;  // abandoned: no fault of the disk, as in the rewrite
        if (got == 0) {
          diskfull(nullptr);
          return 0;
        }
        int fd = -1;
        if (appended.size() <= kAppendLimit) {
          do {
            fd = ::open(real.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
          } while (fd < 0 && errno == EINTR);
          // A chart this user may not write (another user's, in a shared
          // folder) is replaced whole instead.
          if (fd < 0 && errno != EACCES && errno != EPERM && errno != EROFS) {
            diskfull(target.c_str());
            return 0;
          }
        }
        if (fd >= 0) {
          if (!append_in_place(fd, static_cast<off_t>(old_size), bars, appended, range, options, lock, real,
                               target)) {
            diskfull(nullptr);
            return 0;
          }
          return 1;
        }
        // More than one write can carry, or a chart this user may not
        // write: the temporary file, with the bars already made.
        step = [&appended](std::FILE* tmp) {
          return appended.empty() ? 1 : checked_write(tmp, appended.data(), appended.size());
        };
      }
    }
    if (buffers.shared()) {
      // One byte more than the chart, so that one read also finds its end.
      std::vector<char>& ob = SharedBuffers::buffer(0, old_size + 1);
      std::setvbuf(old.get(), ob.data(), _IOFBF, ob.size());
    }
    if (upgrade) {
      // Read the old chart through a copy with widened dates: the stored
      // result has eight-digit dates throughout, and the target itself is
      // touched only by the final rename.
      old.reset(widened_copy(old.get()));
      if (!old) {
        diskfull(nullptr);
        return 0;
      }
    }
  }

  // The new version, written beside the chart under the same lock.
  auto out = std::make_unique<SafeReplace>(target);
  if (!out->ok() && !old && !out->lock_failed()) {
    diskfull(target.c_str());
    // A chart that cannot be made under its name is built anew as "_", and
    // replaces any earlier "_" only once it is complete.
    if (!options.fallback_name) return 0;
    target.assign(1, '_');
    out = std::make_unique<SafeReplace>(target);
  }
  if (!out->ok()) {
    if (!out->lock_failed()) diskfull(nullptr);
    return 0;
  }
  std::FILE* tmp = out->stream();
  if (buffers.shared()) {
    std::vector<char>& tb = SharedBuffers::buffer(1, old_size + SharedBuffers::kMinBuffer);
    std::setvbuf(tmp, tb.data(), _IOFBF, tb.size());
  }

  int r = old ? cpyoldtmpstart(old.get(), tmp, range.first) : -1;
  if (r < 0) {
    // No old chart, or one shorter than its header: start from a new header.
    old.reset();
    unsigned char header[kHeaderSize];
    const char type[2] = {range.type, '\n'};
    make_header(header, type, range.first);
    r = checked_write(tmp, header, sizeof header);
  }
  if (r > 0) {
    try {
      r = step ? step(tmp) : 1;
    } catch (...) {
      r = 0;
    }
  }
  if (r > 0 && old) r = cpyoldtmpend(old.get(), tmp, range.last);
  if (r > 0) {
    std::int32_t date = 0;
    bool write_date = options.header_date ? options.header_date(range.last, &date)
                                          : default_header_date(range.last, &date);
    if (write_date) {
      unsigned char field[4];
      put_le32(field, static_cast<std::uint32_t>(date));
      r = std::fseek(tmp, kHeaderDateOffset, SEEK_SET) == 0 && checked_write(tmp, field, sizeof field);
    }
  }
  old.reset();
  if (r > 0 && out->commit()) return 1;
  out->discard();
  return 0;
}
