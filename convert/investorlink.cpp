#include "convert/investorlink.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "chartdata/linereader.h"
#include "convert/text_to_chart.h"

extern char** environ;

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
  std::string tmpl = "/tmp/" + base + ".XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  fd_ = ::mkstemp(buf.data());  // mode 0600, never an existing file
  if (fd_ >= 0) path_ = buf.data();
}

PrivateTemp::~PrivateTemp() {
  if (fd_ >= 0) ::close(fd_);
  if (!path_.empty()) ::unlink(path_.c_str());
}

int PrivateTemp::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

int unzip_members(const std::string& archive, int out_fd) {
  const std::string arg = (!archive.empty() && archive[0] == '-') ? "./" + archive : archive;
  std::string prog = "unzip", opt = "-p", members = "*.[SC][TS][KF]";
  char* argv[] = {prog.data(), opt.data(), const_cast<char*>(arg.c_str()), members.data(), nullptr};
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, out_fd, 1);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, "unzip", &fa, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Result unpack_investorlink(const std::string& archive, PrivateTemp& text) {
  Result r;
  const int rc = unzip_members(archive, text.fd());
  const off_t unpacked = ::lseek(text.fd(), 0, SEEK_END);
  // Status 11: no member matched; status 1 is unzip's "done, with
  // warnings": what it unpacked is used.
  if (rc == 11 || ((rc == 0 || rc == 1) && unpacked <= 0)) {
    r.status = Status::kNothing;
    r.message = " The archive holds no .STK or .CSF file. Nothing was stored.";
  } else if (rc < 0 || rc > 1) {
    r.status = Status::kFailed;
    r.message = " unzip could not unpack the archive. Nothing was stored.";
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
