// Read-only view of the window's setup and defaults files for batch runs.
#include "tools/morva-convert/batch_env.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "chartdata/osshims.h"

namespace {

// Up to `max` bytes of a file; false when it cannot be opened or read.
bool read_bytes(const std::string& path, std::vector<unsigned char>& out, std::size_t max) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  out.clear();
  unsigned char buf[4096];
  bool ok = true;
  while (out.size() < max) {
    const ssize_t n = ::read(fd, buf, std::min(sizeof buf, max - out.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    out.insert(out.end(), buf, buf + n);
  }
  ::close(fd);
  return ok;
}

bool is_dir(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

}  // namespace

std::string batch_start_dir() {
  char buf[25];
  char cwd[4096];
  if (::access("xmorva", X_OK) == 0 && ::getcwd(cwd, sizeof cwd)) {
    std::snprintf(buf, sizeof buf, "/%.23s", cwd[0] == '/' ? cwd + 1 : cwd);
    return buf;
  }
  // The window's start directory in the home.
  return home_start_dir();
}

int batch_setup_data_dir(const std::string& start_dir, std::string& data_dir) {
  std::vector<unsigned char> bytes;
  if (!read_bytes(start_dir + "/" + kSetupFileName, bytes, kSetupRecordSize)) return 0;
  // The data directory field: bytes 26-49, NUL padded; a short file holds
  // only part of it (the rest keeps the built-in empty name).
  constexpr std::size_t kFrom = kSetupDataDirOffset, kWidth = kSetupDataDirWidth;
  data_dir.clear();
  for (std::size_t i = kFrom; i < kFrom + kWidth && i < bytes.size() && bytes[i] != 0; ++i)
    data_dir += static_cast<char>(bytes[i]);
  return 1;
}

std::string batch_existing_data_dir(const std::string& data_dir) {
  if (is_dir(data_dir)) return data_dir;
  std::size_t sep = data_dir.rfind('/');
  if (sep == std::string::npos) sep = data_dir.rfind('\\');
  const char* home = gethomedir();
  if (sep == std::string::npos || !home) return "";
  char moved[25];
  std::snprintf(moved, sizeof moved, "%.24s", (std::string(home) + "/" + data_dir.substr(sep + 1)).c_str());
  return is_dir(moved) ? std::string(moved) : std::string();
}

int batch_load_defaults(const std::string& start_dir, FormatSettings& f) {
  std::vector<unsigned char> bytes;
  // 64 bytes are enough to tell the layouts apart (exactly 23 is the old one).
  if (!read_bytes(start_dir + "/" + kDefaultsFileName, bytes, 64)) return 0;
  decode_defaults(bytes, f);
  return 1;
}

int parse_order_option(const std::string& text, char order[12]) {
  if (text.empty() || text.size() > 12) return 0;
  char out[12];
  std::memset(out, ' ', sizeof out);
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (!std::strchr("SDOHLCVIM", c) || c == '\0') return 0;
    out[i] = c;
  }
  std::memcpy(order, out, sizeof out);
  return 1;
}

int parse_separator_option(const std::string& text, char* sep) {
  const std::string t = lower(text);
  char c;
  if (t == "space" || t == "blank")
    c = ' ';
  else if (t == "tab")
    c = '\t';
  else if (t == "comma")
    c = ',';
  else if (text.size() == 1)
    c = text[0];
  else
    return 0;
  if (c >= '0' && c <= '9') c = ' ';  // as the settings menu stores a typed digit
  *sep = c;
  return 1;
}

int parse_date_format_option(const std::string& text, char* code) {
  static const char* const names[5] = {"yyyymmdd", "ddmonyy", "mm/dd/yy", "yymmdd", "dd.mm.yyyy"};
  const std::string t = lower(text);
  if (t == "iso" || t == "yyyy-mm-dd") {
    *code = 0;
    return 1;
  }
  for (int i = 0; i < 5; ++i) {
    if (t == names[i] || (t.size() == 1 && t[0] == '0' + i)) {
      *code = static_cast<char>(i);
      return 1;
    }
  }
  return 0;
}

int parse_start_option(const std::string& text, char startdate[8]) {
  if (text.size() != 8) return 0;
  for (char c : text)
    if (c < '0' || c > '9') return 0;
  std::memcpy(startdate, text.data(), 8);
  return 1;
}

char parse_chart_type(const std::string& text) {
  const std::string t = lower(text);
  if (t == "d" || t == "daily") return 'D';
  if (t == "w" || t == "weekly") return 'W';
  if (t == "m" || t == "monthly") return 'M';
  if (t == "n" || t == "numbered" || t == "number") return 'N';
  return 0;
}
