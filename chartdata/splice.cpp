#include "chartdata/splice.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <vector>

#include "chartdata/chartfile.h"
#include "chartdata/encodings.h"
#include "chartdata/faults.h"
#include "chartdata/globals.h"
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

// Everything the splice opened or created, undone unless it succeeded.
struct SpliceState {
  // Stream buffers of the old chart and the temporary file, each large
  // enough for a whole chart of usual size (up to 1 MB): it is read in one
  // call and written in one.  Kept from one splice to the next, so no
  // splice allocates them again.
  static constexpr std::size_t kMinBuffer = 64 * 1024, kMaxBuffer = 1024 * 1024;
  static std::vector<char>& buffer(int which, std::size_t want) {
    static std::vector<char> buffers[2];
    std::vector<char>& b = buffers[which];
    want = std::clamp(want, kMinBuffer, kMaxBuffer);
    if (b.size() < want) b.resize(want);
    return b;
  }
  // A splice started by a step of another (none does so today) leaves the
  // buffers to the outer one and its streams get buffers of their own.
  static int& depth() {
    static int d = 0;
    return d;
  }
  SpliceState() { ++depth(); }
  bool shares_buffers() const { return depth() == 1; }
  std::FILE* old = nullptr;
  std::FILE* tmp = nullptr;
  std::string tmp_name;
  std::string created;  // a target this splice created, removed on failure
  bool replaced = false;

  ~SpliceState() {
    --depth();
    if (old != nullptr) std::fclose(old);
    if (tmp != nullptr) std::fclose(tmp);
    if (!replaced) {
      if (!tmp_name.empty()) ::unlink(tmp_name.c_str());
      if (!created.empty()) ::unlink(created.c_str());
    }
  }
};

}  // namespace

int store_splice(std::string& target, const NewBarsStep& write_new_bars) {
  return store_splice(target, write_new_bars, SpliceOptions{});
}

int store_splice(std::string& target, const NewBarsStep& write_new_bars,
                 const SpliceOptions& options) {
  SpliceState s;
  if (target.empty()) return 0;

  // The chart to read from; `fresh` when the old content is not to be kept.
  bool fresh = false;
  std::size_t old_size = 0;
  if (!exist(target.c_str())) {
    if (creatmorva(target.c_str())) {
      s.created = resolve_target(target);
    } else {
      if (!options.fallback_name) return 0;
      // The fallback chart "_" is built anew for these bars, and replaces
      // any earlier "_" only once it is complete.
      target.assign(1, '_');
      fresh = true;
    }
  }

  const std::string real = resolve_target(target);
  struct stat st;  // of the old chart, when there is one
  if (!fresh) {
    s.old = std::fopen(real.c_str(), "rb");
    if (s.old == nullptr || fstat(fileno(s.old), &st) != 0 || !S_ISREG(st.st_mode)) {
      diskfull(target.c_str());
      return 0;
    }
    // One byte more than the chart, so that one read also finds its end.
    old_size = static_cast<std::size_t>(st.st_size);
    if (s.shares_buffers()) {
      std::vector<char>& ob = SpliceState::buffer(0, old_size + 1);
      std::setvbuf(s.old, ob.data(), _IOFBF, ob.size());
    }
    if (options.upgrade_target && is_old_chart(s.old)) {
      // Read the old chart through a copy with widened dates: the stored
      // result has eight-digit dates throughout, and the target itself is
      // touched only by the final rename.
      std::FILE* copy = widened_copy(s.old);
      std::fclose(s.old);
      s.old = copy;
      if (s.old == nullptr) {
        diskfull(nullptr);
        return 0;
      }
    }
  }

  // The temporary file sits beside the chart so that the final rename stays
  // on one file system.  It is always a new file: an entry of that name
  // (even a symbolic link) is removed, never written through.
  const std::string dir = dir_of(real);
  s.tmp_name = dir == "." ? std::string(kSpliceTempName) : dir + "/" + kSpliceTempName;
  constexpr int kCreate = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  int fd = checked_create(s.tmp_name.c_str(), kCreate, 0666);
  if (fd < 0 && errno == EEXIST) {  // left over from an earlier run
    ::unlink(s.tmp_name.c_str());
    fd = checked_create(s.tmp_name.c_str(), kCreate, 0666);
  }
  if (fd < 0) {
    s.tmp_name.clear();  // nothing of ours to remove
    diskfull(nullptr);
    return 0;
  }
  // The chart's own permission bits (known from the open chart), or those
  // of a new file.
  if (!fresh)
    (void)fchmod(fd, st.st_mode & 07777);
  else
    copy_mode(fd, real);
  s.tmp = fdopen(fd, "wb");
  if (s.tmp == nullptr) {
    ::close(fd);
    return 0;
  }
  if (s.shares_buffers()) {
    std::vector<char>& tb = SpliceState::buffer(1, old_size + SpliceState::kMinBuffer);
    std::setvbuf(s.tmp, tb.data(), _IOFBF, tb.size());
  }

  int r = s.old != nullptr ? cpyoldtmpstart(s.old, s.tmp) : -1;
  if (r < 0) {
    // No old chart, or one shorter than its header: start from a new header.
    if (s.old != nullptr) {
      std::fclose(s.old);
      s.old = nullptr;
    }
    unsigned char header[kHeaderSize];
    make_header(header, typechart, longsdate);
    r = checked_write(s.tmp, header, sizeof header);
  }
  if (r > 0) {
    try {
      r = write_new_bars ? write_new_bars(s.tmp) : 1;
    } catch (...) {
      r = 0;
    }
  }
  if (r > 0 && s.old != nullptr) r = cpyoldtmpend(s.old, s.tmp);
  if (r > 0) {
    std::int32_t date = 0;
    bool write_date = options.header_date ? options.header_date(longedate, &date)
                                          : default_header_date(longedate, &date);
    if (write_date) {
      unsigned char field[4];
      put_le32(field, static_cast<std::uint32_t>(date));
      r = std::fseek(s.tmp, kHeaderDateOffset, SEEK_SET) == 0 &&
          checked_write(s.tmp, field, sizeof field);
    }
  }
  if (r > 0) r = std::fflush(s.tmp) == 0 && !std::ferror(s.tmp);
  int closed = std::fclose(s.tmp);
  s.tmp = nullptr;
  if (r > 0 && closed != 0) r = 0;
  if (s.old != nullptr) {
    std::fclose(s.old);
    s.old = nullptr;
  }
  if (r > 0 && checked_rename(s.tmp_name.c_str(), real.c_str())) {
    s.replaced = true;
    return 1;
  }
  return 0;
}
