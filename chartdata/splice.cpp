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

// True when `f` (not read yet) is an old chart with yymmdd dates.  The
// first bytes are read with pread, so the stream neither moves nor drops
// the block it would otherwise have to read twice.
bool is_old_chart(std::FILE* f) {
  unsigned char head[kHeaderSize + kBarSize];
  ssize_t got;
  do {
    got = ::pread(fileno(f), head, sizeof head, 0);
  } while (got < 0 && errno == EINTR);
  return got > 0 && old_chart_head(head, static_cast<std::size_t>(got));
}

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

// Appending in place: the chart (locked, open for update, `size` bytes,
// `bars` whole bars, the last dated before range.first) gets the new bars
// after its last whole bar and the header date, exactly the bytes the
// splice would have written, and loses a trailing partial record.  The
// step writes into memory first, so that an abandoned store writes
// nothing.  On any failure the chart is put back byte for byte.
//   1 appended, 0 failed, -1 abandoned by the step (chart as before).
int append_in_place(int fd, off_t size, off_t bars, const SpliceRange& range,
                    const NewBarsStep& write_new_bars, const SpliceOptions& options) {
  char* mem = nullptr;
  std::size_t mem_size = 0;
  File out(::open_memstream(&mem, &mem_size));
  if (!out) return 0;
  std::unique_ptr<char, decltype(&std::free)> owned(nullptr, &std::free);
  int r;
  try {
    r = write_new_bars ? write_new_bars(out.get()) : 1;
  } catch (...) {
    r = 0;
  }
  const bool abandoned = r <= 0;
  if (r > 0) r = std::fflush(out.get()) == 0 && !std::ferror(out.get());
  out.reset();  // mem and mem_size are final now
  owned.reset(mem);
  if (abandoned) return -1;
  if (r <= 0) return 0;

  const off_t end = static_cast<off_t>(kHeaderSize) + bars * static_cast<off_t>(kBarSize);
  const off_t new_end = end + static_cast<off_t>(mem_size);
  std::int32_t date = 0;
  const bool write_date = options.header_date ? options.header_date(range.last, &date)
                                              : default_header_date(range.last, &date);
  // What the steps overwrite, to be put back on failure: the header date
  // and a trailing partial record.
  unsigned char old_date[4];
  unsigned char partial[kBarSize];
  const std::size_t partial_len = static_cast<std::size_t>(size - end);
  if (!pread_all(fd, old_date, sizeof old_date, kHeaderDateOffset) ||
      (partial_len > 0 && !pread_all(fd, partial, partial_len, end)))
    return 0;
  bool ok = mem_size == 0 || pwrite_all(fd, mem, mem_size, end);
  if (ok && write_date) {
    unsigned char field[4];
    put_le32(field, static_cast<std::uint32_t>(date));
    ok = pwrite_all(fd, field, sizeof field, kHeaderDateOffset);
  }
  if (ok && size > new_end) ok = ::ftruncate(fd, new_end) == 0;
  if (ok) ok = DurableBatch::flush_written(fd) != 0;
  if (ok) return 1;
  const int err = errno;
  // Back to the old bytes: the old length, the old date, the partial record.
  (void)!::ftruncate(fd, size);
  (void)!::pwrite(fd, old_date, sizeof old_date, kHeaderDateOffset);
  if (partial_len > 0) (void)!::pwrite(fd, partial, partial_len, end);
  errno = err;
  return 0;
}

}  // namespace

int store_splice(std::string& target, SpliceRange& range, const NewBarsStep& write_new_bars,
                 const SpliceOptions& options) {
  SharedBuffers buffers;
  if (target.empty()) return 0;
  // Held from reading the old bars until the new version is in place.
  ChartLock lock(target);
  if (!lock.held()) return 0;

  const std::string real = resolve_target(target);
  File old;
  struct stat st {};  // of the old chart, when there is one
  std::size_t old_size = 0;
  if (exist(target.c_str())) {
    old.reset(std::fopen(real.c_str(), "rb"));
    if (!old || fstat(fileno(old.get()), &st) != 0 || !S_ISREG(st.st_mode)) {
      diskfull(target.c_str());
      return 0;
    }
    old_size = static_cast<std::size_t>(st.st_size);
    const bool upgrade = options.upgrade_target && is_old_chart(old.get());
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
        int fd;
        do {
          fd = ::open(real.c_str(), O_RDWR | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) {
          diskfull(target.c_str());
          return 0;
        }
        const int r = append_in_place(fd, static_cast<off_t>(old_size), bars, range, write_new_bars, options);
        const bool closed = ::close(fd) == 0;
        if (r < 0) return 0;  // abandoned: no fault of the disk, as in the rewrite
        if (!closed || !r) {
          diskfull(nullptr);
          return 0;
        }
        return 1;
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
      r = write_new_bars ? write_new_bars(tmp) : 1;
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
