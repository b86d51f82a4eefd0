// Lists of names: a list file worked through by do_all, the same names as
// files in the directory listing (list table and cells), and the first name
// typed into the source prompt.
//
// Input: byte 0 chooses which names exist as files (bit i: line i), byte 1
// the keys of the listing; the rest is the list file.  Names are kept to
// the private folder: an input holding '/' is not used.  Promises checked:
// do_all opens the listed files in order and stops at the first line that
// names no file, a folder, an empty line or a '^' line, and closes every
// descriptor it opened; the listing shows every name of the folder once,
// cut to its cell, with the full name behind it; a name picked in the
// listing is a name of the folder; the prompt opens exactly the typed
// file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "chartdata/linereader.h"
#include "window/commands.h"
#include "window/globals.h"
#include "screen/headless.h"
#include "screen/screen.h"
#include "widgets/dirlist.h"
#include "widgets/filechooser.h"
#include "fuzz_support.h"

namespace fuzz_names {

using namespace fuzzsup;

// The lines of the list as mygts reads them into a name buffer.
inline constexpr int kNameBudget = static_cast<int>(kNameSize) - 1;
inline std::vector<std::string> list_lines(std::string_view text) {
  std::vector<std::string> lines;
  std::string cur;
  int budget = kNameBudget;
  bool any = false;
  for (char c : text) {
    any = true;
    if (c == '\r') {
      if (--budget <= 0) {
        lines.push_back(cur.c_str());
        cur.clear();
        budget = kNameBudget;
        any = false;
      }
      continue;
    }
    if (c == '\n') {
      lines.push_back(cur.c_str());
      cur.clear();
      budget = kNameBudget;
      any = false;
      continue;
    }
    cur += c;
    if (--budget <= 0) {
      lines.push_back(cur.c_str());
      cur.clear();
      budget = kNameBudget;
      any = false;
    }
  }
  if (any && !cur.empty()) lines.push_back(cur.c_str());
  return lines;
}

inline int open_fds() {
  int n = 0;
  for (const auto& name : names_in("/proc/self/fd")) (void)name, ++n;
  return n;
}

inline int run(const std::uint8_t* data, std::size_t size) {
  screen_once();
  Input in(data, size);
  const std::uint8_t which = in.byte();
  const std::uint8_t keys = in.byte();
  const std::string_view list = in.rest();
  if (list.find('/') != std::string_view::npos) return 0;

  const std::string dir = fresh_dir("n");
  char cwd[4096];
  FUZZ_CHECK(getcwd(cwd, sizeof cwd) != nullptr);
  FUZZ_CHECK(chdir(dir.c_str()) == 0);
  write_bytes("list!", list.data(), list.size());

  const std::vector<std::string> lines = list_lines(list);
  std::set<std::string> files = {"list!"};
  for (std::size_t i = 0; i < lines.size() && i < 8; ++i) {
    const std::string& name = lines[i];
    if (name.empty() || name == "." || name == ".." || !(which >> i & 1)) continue;
    if (files.count(name)) continue;
    // Every second file an old chart, so that opening it upgrades it.
    Bytes chart(kHeaderSize + kBarSize, ' ');
    chart[kHeaderUpgradeMark] = '/';
    put_le32(chart.data() + kHeaderSize, 990105);
    if (write_bytes(name, chart.data(), (i & 1) ? chart.size() : 3)) files.insert(name);
  }

  // 1. The list worked through.
  headless_start();
  const int fds_before = open_fds();
  std::snprintf(firstname, sizeof firstname, "list!");
  int fd = ::open("list!", O_RDONLY);
  FUZZ_CHECK(fd > 0);
  std::size_t k = 0;
  for (;;) {
    char namebuf[kNameSize];
    int entry = do_all(namebuf, &exclamfile, fd);
    FUZZ_CHECK(exclamfile == 1);
    if (!entry) break;
    FUZZ_CHECK(k < lines.size());
    FUZZ_CHECK(namebuf == lines[k]);
    FUZZ_CHECK(files.count(lines[k]) || lines[k] == "list!");
    ::close(entry);
    ++k;
  }
  // It stopped at the first line that opens no file.
  if (k < lines.size()) {
    const std::string& stop = lines[k];
    struct stat st;
    FUZZ_CHECK(stop.empty() || stop[0] == '^' || stat(stop.c_str(), &st) != 0 || S_ISDIR(st.st_mode));
  }
  FUZZ_CHECK(open_fds() == fds_before);

  // 2. The listing of the folder.
  std::vector<std::string> listed = list_names("*");
  FUZZ_CHECK(!listed.empty() && listed[0] == "../");
  std::set<std::string> seen(listed.begin() + 1, listed.end());
  FUZZ_CHECK(seen.size() + 1 == listed.size());
  for (const std::string& f : files)
    if (f[0] != '.') FUZZ_CHECK(seen.count(f));
  static char* table[kDirTableEntries];
  static char caption[kDirRowChars] = "Directory";
  table[0] = caption;
  FUZZ_CHECK(::dir("*", table, 5, 100) == 1);
  for (int row = 1; row < kDirTableEntries && table[row] && table[row][0]; ++row) {
    FUZZ_CHECK(std::strlen(table[row]) < static_cast<std::size_t>(kDirRowChars));
    for (int cell = 0; cell < 5; ++cell) {
      const std::string& full = listed_name(row, cell);
      if (full.empty()) continue;
      FUZZ_CHECK(full == "../" || seen.count(full) || seen.count(full.substr(0, full.size() - 1)));
    }
  }

  // 3. The listing window with a few keys, and the source prompt.
  static const unsigned char kKeys[] = {31, 28, 13, 27, 'l', 30, 203, 29};
  headless_start();
  headless_push_key(kKeys[keys % 8]);
  headless_push_key(kKeys[(keys >> 3) % 8]);
  char pattern[48] = "*";
  if (openselected(pattern, "Directory", 5, 4, 22, 79, 0) == 13) {
    // The pattern holds the name as far as it fits; the pick is whole.
    FUZZ_CHECK(exists(last_chosen()));
  }
  FUZZ_CHECK(chdir(dir.c_str()) == 0);

  // Typed: printable names without '|' (which ends the field) that are no
  // directory command.
  if (!lines.empty() && lines[0].size() <= 21 && lines[0].rfind("CD", 0) != 0 &&
      std::all_of(lines[0].begin(), lines[0].end(),
                  [](char c) { return c > ' ' && c < 127 && c != '|'; })) {
    headless_start();
    headless_push_keys(lines[0] + "\r");
    char name[44] = "";
    int got = dir_on_1stname("Enter a name:", name);
    if (files.count(lines[0])) {
      FUZZ_CHECK(got > 0);
      FUZZ_CHECK(lines[0] == name);
    }
    if (got > 0) ::close(got);
  }
  FUZZ_CHECK(open_fds() == fds_before);
  FUZZ_CHECK(chdir(cwd) == 0);
  return 0;
}

}  // namespace fuzz_names

MORVA_FUZZ_ENTRY(fuzz_names)
