// Shared pieces of the fuzz targets: a private working folder per process,
// files made from the input bytes, a reader that splits the input into
// parts, and checks that abort (so libFuzzer, or the regression test that
// replays the corpora, reports them) when a promise is broken.
//
// Every target is a namespace with run(data, size); the libFuzzer entry
// point is added unless MORVA_FUZZ_NO_ENTRY is defined (the regression test
// includes the targets and calls run() directly).
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "chartdata/bar.h"
#include "screen/headless.h"

#define FUZZ_CHECK(cond)                                                              \
  do {                                                                                \
    if (!(cond)) {                                                                    \
      std::fprintf(stderr, "%s:%d: promise broken: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                   \
    }                                                                                 \
  } while (0)

namespace fuzzsup {

using Bytes = std::vector<unsigned char>;

// Removes everything below `path` (never following symbolic links); the
// folder itself stays when `keep_top`.
inline void remove_below(const std::string& path, bool keep_top) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    chmod(path.c_str(), 0700);
    if (DIR* d = opendir(path.c_str())) {
      std::vector<std::string> names;
      while (dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
          names.emplace_back(e->d_name);
      }
      closedir(d);
      for (const auto& n : names) remove_below(path + "/" + n, false);
    }
    if (!keep_top) rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

// The process's private folder under /tmp, made on first use, removed at
// exit.  The name lives in a plain array: the exit handler runs after the
// destructors of statics made before it was registered.
inline std::string workdir() {
  static char dir[32] = "";
  if (!dir[0]) {
    char tmpl[] = "/tmp/morva-fuzz-XXXXXX";
    if (!mkdtemp(tmpl)) std::abort();
    std::memcpy(dir, tmpl, sizeof tmpl);
    std::atexit([] { remove_below(dir, false); });
  }
  return dir;
}

// An empty folder `name` inside the private folder, emptied anew each call.
inline std::string fresh_dir(const char* name) {
  std::string dir = workdir() + "/" + name;
  remove_below(dir, false);
  mkdir(dir.c_str(), 0700);
  return dir;
}

inline bool write_bytes(const std::string& path, const void* p, std::size_t n) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return false;
  const char* at = static_cast<const char*>(p);
  while (n > 0) {
    ssize_t w = ::write(fd, at, n);
    if (w <= 0) {
      ::close(fd);
      return false;
    }
    at += w;
    n -= static_cast<std::size_t>(w);
  }
  return ::close(fd) == 0;
}

inline Bytes read_bytes(const std::string& path) {
  Bytes out;
  int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return out;
  unsigned char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    out.insert(out.end(), buf, buf + n);
  }
  ::close(fd);
  return out;
}

inline bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// Names in a folder, without ".", ".." and the charts' lock file.
inline std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0 &&
          std::strcmp(e->d_name, ".morva.lock") != 0)  // the charts' lock file
        names.emplace_back(e->d_name);
    closedir(d);
  }
  return names;
}

// True when a file of that name is a temporary file left behind, or a
// hidden file, which no conversion may make: every temporary name begins
// with '.' (or is the splice's "tmpmorva.gph"), and no chart name does.
inline bool is_temp_name(const std::string& name) {
  return name == "tmpmorva.gph" || (!name.empty() && name[0] == '.');
}

// No temporary file left anywhere below `dir`.
inline bool no_temp_left(const std::string& dir) {
  for (const auto& n : names_in(dir)) {
    if (is_temp_name(n)) return false;
    struct stat st;
    std::string p = dir + "/" + n;
    if (lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && !no_temp_left(p)) return false;
  }
  return true;
}

// A chart as the store writes it: a whole header and whole bars.
inline bool whole_chart(const Bytes& b) {
  return b.size() >= kHeaderSize && (b.size() - kHeaderSize) % kBarSize == 0;
}

inline std::vector<BarRecord> bars_of(const Bytes& b) {
  std::vector<BarRecord> out;
  for (std::size_t at = kHeaderSize; at + kBarSize <= b.size(); at += kBarSize)
    out.push_back(decode_bar(b.data() + at));
  return out;
}

// Splits the input into parts: reads single bytes and byte runs from the
// front; the rest of the input is left for the caller.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : p_(data), n_(size) {}
  std::uint8_t byte() {
    if (n_ == 0) return 0;
    --n_;
    return *p_++;
  }
  // A part that ends at the first occurrence of `mark` (not included) or
  // at the end of the input.
  std::string_view until(std::string_view mark) {
    std::string_view all(reinterpret_cast<const char*>(p_), n_);
    std::size_t at = all.find(mark);
    std::size_t take = at == std::string_view::npos ? n_ : at;
    std::size_t skip = at == std::string_view::npos ? n_ : at + mark.size();
    std::string_view part = all.substr(0, take);
    p_ += skip;
    n_ -= skip;
    return part;
  }
  std::string_view rest() {
    std::string_view all(reinterpret_cast<const char*>(p_), n_);
    p_ += n_;
    n_ = 0;
    return all;
  }
  std::size_t left() const { return n_; }

 private:
  const std::uint8_t* p_;
  std::size_t n_;
};

// The in-memory screen, started once; every target may draw.
inline void screen_once() {
  static bool started = false;
  if (!started) {
    headless_start();
    started = true;
  }
}

}  // namespace fuzzsup

#ifdef MORVA_FUZZ_NO_ENTRY
#define MORVA_FUZZ_ENTRY(ns)
#else
#define MORVA_FUZZ_ENTRY(ns)                                                      \
  extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { \
    return ns::run(data, size);                                                   \
  }
#endif
