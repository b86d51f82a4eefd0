// Reads a generated 10 MB price text line by line with mygts and reports the
// lines, bytes and time.  Run it under `strace -c -e trace=read` to count
// the read() calls the buffered reader makes.
//
//   bench_linereader [megabytes]    (default 10)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "chartdata/linereader.h"

namespace {

bool make_text(const std::string& path, long bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  long written = 0;
  int date = 19600101;
  char line[128];
  for (long i = 0; written < bytes; ++i) {
    int n = std::snprintf(line, sizeof line, "%d,%.2f,%.2f,%.2f,%.2f,%ld,%ld\r\n", date + static_cast<int>(i % 28),
                          100 + (i % 97) * 0.25, 101 + (i % 89) * 0.25, 99 + (i % 83) * 0.25,
                          100 + (i % 79) * 0.25, 100000 + i % 7919, i % 1000);
    if (std::fwrite(line, 1, static_cast<std::size_t>(n), f) != static_cast<std::size_t>(n)) break;
    written += n;
  }
  return std::fclose(f) == 0 && written >= bytes;
}

}  // namespace

int main(int argc, char** argv) {
  long megabytes = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 10;
  if (megabytes <= 0) megabytes = 10;
  char dir[] = "/tmp/bench-linereader-XXXXXX";
  if (mkdtemp(dir) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string path = std::string(dir) + "/prices.txt";
  if (!make_text(path, megabytes * 1024 * 1024)) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return 1;
  }

  const auto start = std::chrono::steady_clock::now();
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) {
    std::perror(path.c_str());
    return 1;
  }
  char buf[255];
  long lines = 0, chars = 0;
  while (mygts(buf, sizeof buf, fd) != nullptr) {
    ++lines;
    for (const char* p = buf; *p; ++p) ++chars;
  }
  linereader_close(fd);
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();

  struct stat st {};
  stat(path.c_str(), &st);
  unlink(path.c_str());
  rmdir(dir);
  std::printf("%ld lines, %ld characters of %lld bytes in %.1f ms\n", lines, chars,
              static_cast<long long>(st.st_size), ms);
  return 0;
}
