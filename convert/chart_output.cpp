#include "convert/chart_output.h"

#include <sys/stat.h>
#include <unistd.h>

bool same_file_as(const char* name, int fd) {
  struct stat a{}, b{};
  if (::stat(name, &a) != 0 || ::fstat(fd, &b) != 0) return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

Result open_new_chart(int fd, const std::string& target, std::optional<SafeReplace>& out) {
  if (same_file_as(target.c_str(), fd)) return pass_ending(Status::kRefused, kSameNameMessage);
  out.emplace(target, SafeReplace::Locking::kChartFile);
  if (!out->ok()) {
    out.reset();
    return pass_ending(Status::kFailed, kCannotOpenMessage);
  }
  return pass_ending(Status::kDone);
}

Result write_new_chart(int fd, SafeReplace& out, const ChartPass& pass,
                       ChartPassProgress& progress) {
  std::FILE* src = fdopen(fd, "rb");
  if (!src) {
    close(fd);
    return pass_ending(Status::kRefused, kNotChartMessage);
  }
  Result r = pass(src, out, progress);
  std::fclose(src);
  if (r.ok() && !out.commit()) {
    r.status = Status::kFailed;
    r.message = kUnableToWriteMessage;
  }
  return r;
}

Result write_new_chart(int fd, const std::string& target, const ChartPass& pass,
                       ChartPassProgress& progress) {
  std::optional<SafeReplace> out;
  Result opened = open_new_chart(fd, target, out);
  if (!opened.ok()) {
    close(fd);
    return opened;
  }
  return write_new_chart(fd, *out, pass, progress);
}
