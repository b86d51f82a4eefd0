#include "convert/investorlink.h"

#include <sys/mman.h>
#include <unistd.h>
#include <zip.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "chartdata/faults.h"
#include "chartdata/linereader.h"
#include "convert/text_to_chart.h"

FormatSettings investorlink_format() {
  FormatSettings f{};
  f.direction = 0;
  f.datecode = 3;
  f.sep = ',';
  std::memcpy(f.order, "SOHLCVI     ", sizeof f.order);
  f.nul1 = 0;
  std::memcpy(f.startdate, "19600101", sizeof f.startdate);
  f.nul2 = 0;
  return f;
}

int is_zip_name(const char* name) {
  const char* dot = std::strrchr(name, '.');
  return dot && std::strcmp(dot, ".ZIP") == 0;
}

std::string investor_text_name(const std::string& archive) {
  if (!is_zip_name(archive.c_str())) return archive;
  std::string stem = archive.substr(0, archive.size() - 4);
  if (!stem.empty() && stem.back() == 'F') return stem.substr(0, stem.size() - 1) + ".CSF";
  if (!stem.empty() && stem.back() == 'S') return stem.substr(0, stem.size() - 1) + ".STK";
  return stem;
}

PrivateTemp::PrivateTemp(const std::string& stem) {
  std::string base = stem;
  const std::size_t slash = base.rfind('/');
  if (slash != std::string::npos) base = base.substr(slash + 1);
  if (base.empty()) base = "morva";
  // In memory: no name in any folder, gone with its last descriptor
  // whatever ends the program.
  fd_ = ::memfd_create(base.c_str(), MFD_CLOEXEC);
  if (fd_ >= 0) path_ = "/proc/self/fd/" + std::to_string(fd_);
}

PrivateTemp::~PrivateTemp() {
  if (fd_ >= 0) ::close(fd_);
}

int PrivateTemp::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

namespace {

// The members of the archive's text: "*.[SC][TS][KF]", a name (with its folders) ending in '.' and
// one of S/C, T/S, K/F, in capitals.
bool member_wanted(const char* name) {
  const std::size_t n = std::strlen(name);
  return n >= 4 && name[n - 4] == '.' && std::strchr("SC", name[n - 3]) && std::strchr("TS", name[n - 2]) &&
         std::strchr("KF", name[n - 1]) && name[n - 3] && name[n - 2] && name[n - 1];
}

struct ZipCloser {
  void operator()(zip_t* z) const { zip_discard(z); }
};
struct ZipFileCloser {
  void operator()(zip_file_t* f) const { zip_fclose(f); }
};

// All members together may unpack to at most this much text.
constexpr zip_uint64_t kMaxUnpacked = zip_uint64_t{1} << 30;

}  // namespace

int unpack_members(const std::string& archive, int out_fd, std::string* why) {
  int err = 0;
  std::unique_ptr<zip_t, ZipCloser> z(zip_open(archive.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &err));
  if (!z) {
    zip_error_t e;
    zip_error_init_with_code(&e, err);
    if (why) *why = std::string("it is not a ZIP archive that can be read (") + zip_error_strerror(&e) + ")";
    zip_error_fini(&e);
    return -1;
  }
  const zip_int64_t count = zip_get_num_entries(z.get(), 0);
  int found = 0;
  zip_uint64_t total = 0;
  std::vector<char> buf(1 << 16);
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(z.get(), static_cast<zip_uint64_t>(i), 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME)) {
      if (why) *why = "member " + std::to_string(i + 1) + " cannot be read";
      return -1;
    }
    if (!member_wanted(st.name)) continue;
    if (!(st.valid & ZIP_STAT_SIZE) || st.size > kMaxUnpacked - total) {
      if (why) *why = std::string(st.name) + " unpacks to more than 1 GiB of text";
      return -1;
    }
    std::unique_ptr<zip_file_t, ZipFileCloser> f(zip_fopen_index(z.get(), static_cast<zip_uint64_t>(i), 0));
    if (!f) {
      if (why) *why = std::string(st.name) + " cannot be unpacked (" + zip_strerror(z.get()) + ")";
      return -1;
    }
    zip_uint64_t got = 0;
    for (;;) {
      const zip_int64_t n = zip_fread(f.get(), buf.data(), buf.size());
      if (n < 0) {
        if (why) *why = std::string(st.name) + " is damaged (" + zip_file_strerror(f.get()) + ")";
        return -1;
      }
      if (n == 0) break;
      got += static_cast<zip_uint64_t>(n);
      if (got > st.size) break;
      if (!checked_write_fd(out_fd, buf.data(), static_cast<std::size_t>(n))) {
        if (why) *why = std::string("its text could not be kept, Disk full? (") + std::strerror(errno) + ")";
        return -1;
      }
    }
    if (got != st.size) {
      if (why) *why = std::string(st.name) + " holds " + std::to_string(got) + " bytes, the archive says " +
                      std::to_string(st.size);
      return -1;
    }
    total += got;
    ++found;
  }
  return found > 0 ? 1 : 0;
}

Result unpack_investorlink(const std::string& archive, PrivateTemp& text) {
  Result r;
  std::string why;
  const int rc = unpack_members(archive, text.fd(), &why);
  const off_t unpacked = ::lseek(text.fd(), 0, SEEK_END);
  if (rc < 0) {
    r.status = Status::kFailed;
    r.message = " The archive could not be unpacked: " + why + ". Nothing was stored.";
  } else if (rc == 0 || unpacked <= 0) {
    r.status = Status::kNothing;
    r.message = " The archive holds no .STK or .CSF file. Nothing was stored.";
  } else {
    r.status = Status::kDone;
  }
  ::lseek(text.fd(), 0, SEEK_SET);
  return r;
}

Result check_investorlink(int fd, const std::string& textname) {
  Result r;
  r.status = Status::kDone;
  const off_t start = ::lseek(fd, 0, SEEK_CUR);
  if (start < 0) return r;
  {
    LineReader src(fd);
    TextReport quiet;
    TimeOfDayDates clock;
    LineParser parser(investorlink_format(), textname, 1, quiet, clock);
    std::string chart;
    ParsedLine p;
    std::string_view line;
    long number = 0;
    while (src.next(line)) {
      ++number;
      parser.parse(line, chart, p);
      if (p.kind == LineKind::kSymbolChange) {
        chart = p.symbol;
        parser.parse(line, chart, p);
      }
      if (p.kind == LineKind::kBar) r.bar_check.add(p.bar, chart, number);
    }
  }
  linereader_seek(fd, start);
  if (r.bar_check.mostly_broken()) {
    r.status = Status::kRefused;
    r.message = mostly_broken_line("Not an InvestorLink file", "lines", r.bar_check);
  }
  return r;
}
