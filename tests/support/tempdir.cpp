#include "tempdir.h"

#include "chartdata/faults.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

TempDir::TempDir(std::string_view prefix) {
  std::string tmpl = "/tmp/" + std::string(prefix) + "-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  path_ = buf.data();
}

TempDir::~TempDir() { remove_tree(path_); }

std::string TempDir::file(std::string_view name) const {
  return path_ + "/" + std::string(name);
}

std::string TempDir::mkdirs(std::string_view name) const {
  std::string full = file(name);
  for (std::size_t i = path_.size() + 1; i <= full.size(); ++i) {
    if (i == full.size() || full[i] == '/') {
      ::mkdir(full.substr(0, i).c_str(), 0777);
    }
  }
  return full;
}

ScopedChdir::ScopedChdir(const std::string& dir) {
  char buf[4096];
  if (getcwd(buf, sizeof buf)) old_ = buf;
  if (chdir(dir.c_str()) != 0) {
    std::perror(dir.c_str());
    std::abort();
  }
}

ScopedChdir::~ScopedChdir() {
  if (!old_.empty() && chdir(old_.c_str()) != 0) std::perror(old_.c_str());
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  if (const char* v = std::getenv(name)) {
    had_ = true;
    old_ = v;
  }
  if (value) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

ScopedEnv::~ScopedEnv() {
  if (had_) {
    setenv(name_.c_str(), old_.c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string read_text(const std::string& path) {
  Bytes b = read_file(path);
  return std::string(b.begin(), b.end());
}

bool write_file(const std::string& path, std::span<const unsigned char> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

bool write_text(const std::string& path, std::string_view text) {
  return write_file(path, std::span(reinterpret_cast<const unsigned char*>(text.data()),
                                    text.size()));
}

bool file_exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

void remove_tree(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    // Make sure the folder can be listed and emptied even if a test took
    // its permissions away.
    ::chmod(path.c_str(), 0700);
    for (const std::string& name : list_dir(path, true)) remove_tree(path + "/" + name);
    ::rmdir(path.c_str());
  } else {
    ::unlink(path.c_str());
  }
}

std::vector<std::string> list_dir(const std::string& dir, bool with_lock_file) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (!d) return names;
  while (dirent* e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    if (!with_lock_file && std::strcmp(e->d_name, ".morva.lock") == 0) continue;
    names.emplace_back(e->d_name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

// In-process tests count the write path's flushes (and make them fail) but
// do not wait for the disk, which other work shares; the programs the
// end-to-end and batch tests start flush for real.
namespace {
const bool kFlushesCountedOnly = [] {
  g_flush_to_disk = false;
  return true;
}();
}  // namespace

extern char** environ;

int run_program(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  const int rc = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
