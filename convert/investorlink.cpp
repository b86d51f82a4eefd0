#include "convert/investorlink.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "window/commands.h"
#include "window/globals.h"
#include "screen/screen.h"
#include "widgets/filechooser.h"
#include "widgets/prompt.h"
#include "widgets/title.h"

extern char** environ;

namespace {

// The heading of the command's messages: first the command, then the
// unpack command, then the temporary file's path.
char ttt[200];

const char* const kArchivePrompt = "   Enter an InvestorLink '.ZIP' file (or ESCape):";

}  // namespace

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

void set_investorlink_format() { ff = investorlink_format(); }

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

int investorlink_dialogue() {
  mouse_show(1);
  set_investorlink_format();
  std::snprintf(ttt, sizeof ttt, "%s", "CONVERT      InvestorLink e-mailed file: ");
  title = ttt;
  int fd = dir_on_1stname(kArchivePrompt, firstname);
  if (fd <= 0) return 0;
  ttt[0] = '\0';

  int textfd = fd;
  std::string textname = firstname;
  const char* failure = nullptr;  // what went wrong before the conversion
  std::optional<PrivateTemp> tmp;  // removed when this function returns
  if (is_zip_name(firstname)) {
    ::close(fd);
    const std::string archive = firstname;
    textname = investor_text_name(archive);
    std::snprintf(firstname, sizeof firstname, "%s", textname.c_str());
    std::snprintf(ttt, sizeof ttt, "unzip -p %s \"*.[SC][TS][KF]\"", archive.c_str());
    tmp.emplace(textname);
    textfd = -1;
    if (tmp->ok()) {
      // Status 1 is unzip's "done, with warnings": what it unpacked is used.
      const int rc = unzip_members(archive, tmp->fd());
      const off_t unpacked = ::lseek(tmp->fd(), 0, SEEK_END);
      // Status 11: no member matched.
      if (rc == 11 || ((rc == 0 || rc == 1) && unpacked <= 0))
        failure = " The archive holds no .STK or .CSF file. Nothing was stored.";
      else if (rc < 0 || rc > 1)
        failure = " unzip could not unpack the archive. Nothing was stored.";
      std::snprintf(ttt, sizeof ttt, "%s", tmp->path().c_str());
      textfd = tmp->release();
      ::lseek(textfd, 0, SEEK_SET);
    }
  }
  if (textfd <= 0) {
    putss(" Cannot process the file.");
  } else if (failure) {
    ::close(textfd);
    putsn(failure, 1, 0, -1);
  } else {
    std::snprintf(exclambuf, sizeof exclambuf, "%s", firstname);
    const std::string before = savenm;
    savenm[0] = '\0';
    const int ok = generalTR(textfd, firstname);
    const bool stored = savenm[0] != '\0';
    if (!stored) std::snprintf(savenm, sizeof savenm, "%s", before.c_str());
    putss(ok && stored ? " Finished." : " Nothing was stored.");
  }
  scr_getc(1);
  ttt[0] = '\0';
  return 1;
}
