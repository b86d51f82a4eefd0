// Directory listing for the file chooser: names gathered with glob(3) in
// the process and laid out in rows of five 13-character cells.
#include "widgets/dirlist.h"

#include <glob.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "screen/screen.h"

char* targopnX[kDirTableEntries];

namespace {

// Full names of the last listing, in cell order ("../" first).
std::vector<std::string> last_names;
int last_per_row = 5;
const std::string kNoName;

// The 13 characters a name shows in its cell: at most 12 of the name and
// a blank, so names never run into each other; a longer name shows its
// first 11 characters and '~'.  Control characters show as '?' so a cell
// never breaks the screen line.
void format_cell(char* cell, const std::string& name) {
  const int shown = kDirCellWidth - 1;
  const bool cut = static_cast<int>(name.size()) > shown;
  for (int i = 0; i < kDirCellWidth; ++i) {
    if (i < shown && i < static_cast<int>(name.size())) {
      unsigned char c = static_cast<unsigned char>(name[i]);
      cell[i] = (c < 32 || c == 127) ? '?' : static_cast<char>(c);
    } else {
      cell[i] = ' ';
    }
  }
  if (cut) cell[shown - 1] = '~';
}

}  // namespace

std::vector<std::string> list_names(const char* pattern) {
  std::vector<std::string> names;
  std::string all = pattern ? pattern : "";
  std::size_t pos = 0;
  while (pos < all.size()) {
    std::size_t end = all.find(' ', pos);
    if (end == std::string::npos) end = all.size();
    std::string word = all.substr(pos, end - pos);
    pos = end + 1;
    if (word.empty()) continue;
    glob_t g{};
    if (glob(word.c_str(), GLOB_MARK | GLOB_NOSORT, nullptr, &g) == 0) {
      for (std::size_t i = 0; i < g.gl_pathc; ++i) names.emplace_back(g.gl_pathv[i]);
    }
    globfree(&g);
  }
  // Bytewise order (std::string compares as unsigned bytes), each name once.
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  names.insert(names.begin(), "../");
  return names;
}

int columnize_names(const std::vector<std::string>& names, int per_row, char** table, int rows,
                    int limit) {
  if (per_row < 1) per_row = 1;
  if (per_row * kDirCellWidth >= kDirRowChars) per_row = (kDirRowChars - 1) / kDirCellWidth;
  int count = std::min<int>(static_cast<int>(names.size()), limit);
  int written = 0;
  std::size_t next = 0;
  while (written < rows && (written == 0 || static_cast<int>(next) < count)) {
    if (!table[written]) {
      table[written] = static_cast<char*>(std::malloc(kDirRowChars));
      if (!table[written]) {
        putsn("Out of Memory dirs", -1, -1, -1);
        timedely(24);
        break;
      }
    }
    char* row = table[written];
    for (int c = 0; c < per_row; ++c) {
      if (static_cast<int>(next) < count)
        format_cell(row + c * kDirCellWidth, names[next++]);
      else
        std::memset(row + c * kDirCellWidth, ' ', kDirCellWidth);
    }
    row[per_row * kDirCellWidth] = 0;
    ++written;
  }
  if (written == 0) return -1;
  if (written < rows && table[written]) table[written][0] = 0;
  return written;
}

int dir(const char* pattern, char** table, int per_row, int limit) {
  last_names = list_names(pattern);
  last_per_row = per_row < 1 ? 1 : per_row;
  // Entry 0 is the caption and the last entry stays free for the end mark.
  int rows = kDirTableEntries - 2;
  int cap = std::min(limit, rows * last_per_row);
  if (static_cast<int>(last_names.size()) > cap) last_names.resize(cap);
  int written = columnize_names(last_names, last_per_row, table + 1, rows + 1, cap);
  return written > 0 ? 1 : 0;
}

const std::string& listed_name(int row, int cell) {
  if (row < 1 || cell < 0 || cell >= last_per_row) return kNoName;
  std::size_t i = static_cast<std::size_t>(row - 1) * last_per_row + cell;
  return i < last_names.size() ? last_names[i] : kNoName;
}
