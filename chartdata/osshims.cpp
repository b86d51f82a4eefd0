#include "chartdata/osshims.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "chartdata/linereader.h"

void setdrive(char) {}

int getdrive() { return 'A'; }

int exist(const char* path) {
  return path != nullptr && access(path, F_OK) == 0 ? 1 : 0;
}

int getdir(char, char* buf) {
  buf[0] = '\0';
  std::string cwd(4096, '\0');
  while (getcwd(cwd.data(), cwd.size()) == nullptr) {
    if (errno != ERANGE || cwd.size() > (1u << 20)) return 0;
    cwd.resize(cwd.size() * 2);
  }
  const char* p = cwd.c_str();
  if (*p == '/') ++p;  // the DOS call gave the path below the drive's root
  std::size_t len = 0;
  while (len < 126 && p[len] != '\0' && p[len] != '\n' && p[len] != '\r') ++len;
  std::memcpy(buf, p, len);
  buf[len] = '\0';
  return 1;
}

void sys_mkdir(const char* path) {
  if (path == nullptr || *path == '\0' || exist(path)) return;
  std::string made;
  int field = 1;
  if (path[0] == '/') {
    made = "/";
    field = 2;
  }
  // At most eight fields: seven levels of an absolute path, eight of a
  // relative one.
  for (; field <= 8; ++field) {
    const char* part = piece(path, '/', field);
    if (*part == '\0') break;
    made += part;
    if (!exist(made.c_str())) {
      ::mkdir(made.c_str(), 0777);
      if (!exist(made.c_str())) {
        std::printf("\nVery odd. Still doesn't exist: %s", made.c_str());
        std::fflush(stdout);
        return;
      }
    }
    made += '/';
  }
}

void tolowerstr(char* s) {
  for (; *s != '\0'; ++s) {
    if (*s >= 'A' && *s <= 'Z') *s = static_cast<char>(*s - 'A' + 'a');
  }
}

void* _setmem(void* buf, int len, int value) {
  if (len > 0) std::memset(buf, value & 0xff, static_cast<std::size_t>(len));
  return buf;
}

void* _move(int len, const void* src, void* dst) {
  if (len > 0) std::memmove(dst, src, static_cast<std::size_t>(len));
  return dst;
}

const char* gethomedir() {
  if (const char* login = getlogin()) {
    if (const passwd* pw = getpwnam(login)) {
      if (pw->pw_dir != nullptr && *pw->pw_dir != '\0') return pw->pw_dir;
    }
  }
  const char* home = std::getenv("HOME");
  return home != nullptr && *home != '\0' ? home : nullptr;
}

std::string start_dir_in_home(const std::string& home, bool (*is_dir)(const std::string&)) {
  constexpr std::size_t kRoom = 24;
  const std::string whole = home + "/morva";
  if (whole.size() <= kRoom) return whole;
  // The folder earlier versions made for such a home: "/morva" cut to fit.
  const std::string cut = whole.substr(0, kRoom);
  if (cut.size() > home.size() + 1 && is_dir(cut)) return cut;
  // Otherwise the home itself, however long: the settings stay in the home.
  return home;
}

std::string home_start_dir() {
  const char* home = gethomedir();
  if (home == nullptr) return {};
  return start_dir_in_home(home, [](const std::string& dir) {
    struct stat st;
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  });
}

int searchPATH(char* dst, const char* name) {
  auto found = [dst](const std::string& candidate) {
    if (candidate.size() >= kSearchPathMax || !exist(candidate.c_str())) return false;
    std::memcpy(dst, candidate.c_str(), candidate.size() + 1);
    return true;
  };
  const char* home = gethomedir();
  if (found(home != nullptr ? std::string(home) + "/morva" + name : std::string(name))) return 1;

  const char* path = std::getenv("PATH");
  if (path == nullptr) return 0;
  // Copy PATH first: piece() keeps its result in one static buffer.
  const std::string dirs = path;
  for (int i = 1;; ++i) {
    std::string dir = piece(dirs.c_str(), ':', i);
    if (dir.empty()) return 0;  // an empty component ends the search
    if (found(dir + name)) return 1;
  }
}
