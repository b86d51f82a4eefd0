#include "chartdata/chartfile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "chartdata/encodings.h"
#include "chartdata/faults.h"
#include "chartdata/safe_replace.h"

const char* const kDiskFullLine =
    "\r\nDisk full or disk error or filename wrong? Maybe run scandisk or fsck.\r\n";

namespace {

constexpr std::size_t kCopyRecords = 128;  // records per block of the copies

// Until a program installs its own reporter: the line and the name on
// standard error, so that no failed creation goes unsaid.
void stderr_diskfull(const char* name) {
  std::fprintf(stderr, "Disk full or disk error or filename wrong? Maybe run scandisk or fsck.\n");
  if (name != nullptr) std::fprintf(stderr, "%s\n", name);
}

std::int32_t record_date(const unsigned char* rec) {
  return static_cast<std::int32_t>(get_le32(rec));
}

}  // namespace

DiskFullReporter diskfull_reporter = stderr_diskfull;

void diskfull(const char* name) {
  if (diskfull_reporter != nullptr) diskfull_reporter(name);
}

void make_header(unsigned char out[kHeaderSize], const char type[2], std::int32_t date) {
  std::memset(out, ' ', kHeaderSize);
  out[0] = 0;
  out[kHeaderUpgradeMark] = '/';
  out[109] = 0;
  out[kHeaderTypeOffset] = static_cast<unsigned char>(type[0]);
  out[kHeaderTypeOffset + 1] = static_cast<unsigned char>(type[1]);
  put_le32(out + kHeaderDateOffset, static_cast<std::uint32_t>(date));
}

int creatmorva(const char* path, char type, std::int32_t first) {
  unsigned char header[kHeaderSize];
  const char letter[2] = {type, '\n'};
  make_header(header, letter, first);
  SafeReplace out(path);
  if (out.write(header, sizeof header) && out.commit()) return 1;
  diskfull(path);
  return 0;
}

int cpyoldtmpstart(std::FILE* old, std::FILE* tmp, std::int32_t first) {
  unsigned char header[kHeaderSize];
  std::size_t got = std::fread(header, 1, sizeof header, old);
  if (got < sizeof header) {
    // An unreadable chart must not be taken for an empty one.
    return std::ferror(old) ? 0 : -1;
  }
  if (!checked_write(tmp, header, sizeof header)) return 0;

  // Records are read a block at a time; the stream is put back to just
  // after the record that ended the copy, as if they had been read one by
  // one.
  unsigned char block[kCopyRecords * kBarSize];
  for (;;) {
    got = std::fread(block, 1, sizeof block, old);
    const std::size_t records = got / kBarSize;
    for (std::size_t i = 0; i < records; ++i) {
      const std::int32_t date = record_date(block + i * kBarSize);
      if (date < first) continue;
      // A record dated `first` is replaced by the new bars (passed over);
      // a later one is left for the trailing copy.
      const std::size_t used = (date == first ? i + 1 : i) * kBarSize;
      if (i > 0 && !checked_write(tmp, block, i * kBarSize)) return 0;
      if (used < got && std::fseek(old, -static_cast<long>(got - used), SEEK_CUR) != 0) return 0;
      return 1;
    }
    if (records > 0 && !checked_write(tmp, block, records * kBarSize)) return 0;
    if (got < sizeof block) return std::ferror(old) ? 0 : 1;  // the end (a partial record is not a bar)
  }
}

int cpyoldtmpend(std::FILE* old, std::FILE* tmp, std::int32_t last) {
  unsigned char block[kCopyRecords * kBarSize];
  for (;;) {
    const std::size_t got = std::fread(block, 1, sizeof block, old);
    const std::size_t records = got / kBarSize;
    // The records dated after `last`, moved together at the front.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < records; ++i) {
      const unsigned char* rec = block + i * kBarSize;
      if (record_date(rec) <= last) continue;
      if (kept != i) std::memmove(block + kept * kBarSize, rec, kBarSize);
      ++kept;
    }
    if (kept > 0 && !checked_write(tmp, block, kept * kBarSize)) return 0;
    if (got < sizeof block) return std::ferror(old) ? 0 : 1;
  }
}

int unlink_rename(const char* path, const char* from) {
  // rename() replaces the old file in one step; deleting it first would
  // lose the chart whenever the rename then failed.
  return checked_rename(from, resolve_target(path).c_str());
}

void adddotM(char* buf, const char* source) {
  std::size_t len = 0;
  while (len < 21 && source[len] != '\0') ++len;
  std::memcpy(buf, source, len);
  buf[len] = '\0';
  // Only a '.' of the file-name part is an extension: "./ibm" stays a path.
  char* name = std::strrchr(buf, '/');
  name = name ? name + 1 : buf;
  if (char* dot = std::strrchr(name, '.')) *dot = '_';
  std::memcpy(buf + len, ".M", 3);
}

namespace {

// Widens in place the dates of records [lo, hi) of the records that start
// at offset `first`; false when a read or a write fell short.
bool widen_records(std::FILE* f, long first, long lo, long hi, unsigned char* block) {
  const long at = first + lo * static_cast<long>(kBarSize);
  const std::size_t n = static_cast<std::size_t>(hi - lo) * kBarSize;
  if (std::fseek(f, at, SEEK_SET) != 0 || std::fread(block, 1, n, f) != n) return false;
  for (std::size_t i = 0; i < n; i += kBarSize)
    put_le32(block + i, static_cast<std::uint32_t>(Y2000_add_century_date(record_date(block + i))));
  return std::fseek(f, at, SEEK_SET) == 0 && checked_write(f, block, n) && std::fflush(f) == 0;
}

}  // namespace

void Y2000_add_century(std::FILE* stream) {
  const long remembered = std::ftell(stream);
  if (remembered < 0) return;
  const long first = remembered - static_cast<long>(kBarSize);
  // Back to front, the first record on its own and last: an upgrade cut
  // short leaves the first record in its old form, so the chart still
  // reads as old and the next upgrade finishes the work (widening a date
  // that is already widened changes nothing).
  if (first >= 0 && std::fseek(stream, 0, SEEK_END) == 0) {
    const long end = std::ftell(stream);
    const long records = end > first ? (end - first) / static_cast<long>(kBarSize) : 0;
    unsigned char block[kCopyRecords * kBarSize];
    bool ok = true;
    for (long hi = records; ok && hi > 1;) {
      const long lo = std::max(1L, hi - static_cast<long>(kCopyRecords));
      ok = widen_records(stream, first, lo, hi, block);
      hi = lo;
    }
    if (ok && records > 0) widen_records(stream, first, 0, 1, block);
  }
  std::clearerr(stream);
  std::fseek(stream, remembered, SEEK_SET);
}

namespace {

// Copies the rest of `in` into `out` with every complete record's date
// widened; trailing bytes of a partial record are copied unchanged.
bool copy_widened(std::FILE* in, SafeReplace& out) {
  unsigned char block[kCopyRecords * kBarSize];
  for (;;) {
    std::size_t got = std::fread(block, 1, sizeof block, in);
    std::size_t records = got / kBarSize;
    for (std::size_t i = 0; i < records; ++i) {
      unsigned char* rec = block + i * kBarSize;
      put_le32(rec, static_cast<std::uint32_t>(Y2000_add_century_date(record_date(rec))));
    }
    if (got > 0 && !out.write(block, got)) return false;
    if (got < sizeof block) return !std::ferror(in);
  }
}

}  // namespace

bool old_chart_head(const unsigned char* head, std::size_t got) {
  if (got < kHeaderSize + kBarSize || head[kHeaderUpgradeMark] != '/') return false;
  const unsigned char type = head[kHeaderTypeOffset];
  if ((type != 'D' && type != 'W' && type != 'M' && type != '?') || head[kHeaderTypeOffset + 1] != '\n')
    return false;
  const std::int32_t d = record_date(head + kHeaderSize);
  const int month = d / 100 % 100, day = d % 100;
  return d >= 0 && d <= 991231 && month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

int Y2000_upgrade(const char* path) {
  std::FILE* f = fopen_regular(path);
  if (f == nullptr) return 0;
  unsigned char head[kHeaderSize + kBarSize];
  std::size_t got = std::fread(head, 1, sizeof head, f);
  if (!old_chart_head(head, got)) {
    std::fclose(f);
    return 1;
  }
  // An old chart: read again under its lock, as another program may be
  // writing (or upgrading) it.
  std::fclose(f);
  ChartLock lock(path);
  if (!lock.held()) return 0;
  f = fopen_regular(path);
  if (f == nullptr) return 0;
  got = std::fread(head, 1, sizeof head, f);
  if (got != sizeof head || head[kHeaderUpgradeMark] != '/' || record_date(head + kHeaderSize) > 991231) {
    std::fclose(f);
    return 1;
  }
  // Read-only charts stay as they are, as an update-mode open would fail.
  if (access(path, W_OK) != 0) {
    std::fclose(f);
    return 0;
  }

  const std::string real = resolve_target(path);
  if (access(dir_of(real).c_str(), W_OK) != 0) {
    // No temporary file can be made beside the chart: widen in place.
    std::fclose(f);
    f = std::fopen(path, "r+b");
    if (f == nullptr) return 0;
    if (std::fseek(f, kHeaderSize + kBarSize, SEEK_SET) == 0) Y2000_add_century(f);
    return std::fclose(f) == 0 ? 1 : 0;
  }

  // Build the widened chart beside the old one and swap it in whole, so an
  // interrupted upgrade never leaves a chart with both date forms.
  SafeReplace out(path);
  bool ok = out.write(head, kHeaderSize) && std::fseek(f, kHeaderSize, SEEK_SET) == 0 &&
            copy_widened(f, out);
  std::fclose(f);
  return ok && out.commit() ? 1 : 0;
}

int write_bar(std::FILE* out, const BarRecord& b) {
  unsigned char rec[kBarSize];
  encode_bar(b, rec);
  return checked_write(out, rec, sizeof rec);
}

bool BarBlocks::fill() {
  if (end_) return false;
  const std::size_t got = std::fread(block_, 1, sizeof block_, in_);
  if (got < sizeof block_) end_ = true;  // the end, or a read error (ferror tells)
  pos_ = 0;
  len_ = got / kBarSize * kBarSize;
  return len_ > 0;
}

int read_bar(std::FILE* in, BarRecord* b) {
  unsigned char rec[kBarSize];
  if (std::fread(rec, 1, sizeof rec, in) != sizeof rec) return 0;
  *b = decode_bar(rec);
  return 1;
}

const char* chart_type_word(unsigned char type) {
  switch (type) {
    case 'D': return "daily";
    case 'W': return "weekly";
    case 'M': return "monthly";
    case 'N': return "numbered";
    default: return nullptr;
  }
}
