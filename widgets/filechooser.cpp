// File-name prompts, typed directory commands and the F9 directory listing.
// Names are opened with open(2) and directories entered with chdir(2);
// nothing typed or listed ever reaches a shell.
#include "widgets/filechooser.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "chartdata/chartfile.h"
#include "chartdata/osshims.h"
#include "screen/keys.h"
#include "screen/screen.h"
#include "setup/environment.h"
#include "widgets/dirlist.h"
#include "widgets/help.h"
#include "widgets/menu.h"
#include "widgets/prompt.h"
#include "widgets/title.h"

namespace {

constexpr int kNameRow = 4, kNameCol = 52, kNameLen = 21;
constexpr int kHintRow = 6, kHintCol = 27;
constexpr int kPatternSize = 48;

const char* const kHint = "(Press <F9> for a directory listing)";

MenuWindow winparam;

// Puts the window back as it was when the listing opened, however the
// listing ends: its frame and names never stay over the rows below.
class RestoreOnClose {
 public:
  RestoreOnClose() : saved_(save_screen()) {}
  ~RestoreOnClose() { restore_screen(saved_); }
  RestoreOnClose(const RestoreOnClose&) = delete;
  RestoreOnClose& operator=(const RestoreOnClose&) = delete;
  // Back to the screen as it was (before a smaller frame is drawn).
  void now() const { restore_screen(saved_); }

 private:
  ScreenSnapshot saved_;
};

std::string current_dir() {
  char buf[4096];
  if (!::getcwd(buf, sizeof buf)) return {};
  return buf;
}

// The listing walks folders only while it is open: however it ends, the
// program is back in the folder (and data directory) it was in, so names
// typed afterwards mean what they meant before.
class ReturnToFolder {
 public:
  ReturnToFolder() : fd_(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)), path_(current_dir()) {
    std::memcpy(datasubdir_, datasubdir, sizeof datasubdir_);
  }
  ~ReturnToFolder() {
    if (!(fd_ >= 0 && ::fchdir(fd_) == 0) && !path_.empty()) (void)::chdir(path_.c_str());
    if (fd_ >= 0) ::close(fd_);
    std::memcpy(datasubdir, datasubdir_, sizeof datasubdir_);
  }
  ReturnToFolder(const ReturnToFolder&) = delete;
  ReturnToFolder& operator=(const ReturnToFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  int fd_;
  std::string path_;
  char datasubdir_[sizeof datasubdir];
};

// The path of `name` in the folder `here`, as seen from the folder `from`:
// the bare name in `from` itself, a path below it, else the whole path.
std::string path_from(const std::string& from, const std::string& here, const std::string& name) {
  if (here == from || here.empty()) return name;
  if (!from.empty() && here.compare(0, from.size() + 1, from == "/" ? "/" : from + "/") == 0)
    return here.substr(from == "/" ? 1 : from.size() + 1) + "/" + name;
  return (here == "/" ? "" : here) + "/" + name;
}

std::string g_last_chosen;
// The listing's title: the folder it shows.
std::string g_listing_title;

// datasubdir follows the working directory: "/" and at most 23 characters.
void update_datasubdir() {
  std::string cwd = current_dir();
  if (cwd.empty()) return;
  std::memset(datasubdir, 0, sizeof datasubdir);
  std::snprintf(datasubdir, sizeof datasubdir, "/%.23s", cwd.c_str() + (cwd[0] == '/' ? 1 : 0));
}

// Opens `name` read-only as a source.  When the caller opens a chart, an
// old chart gets four-digit years first; any other file is only read.
// Directories are refused.  Returns a descriptor above 0 or -1.
int open_source(const char* name, bool chart) {
  if (!name[0]) return -1;
  struct stat st{};
  if (::stat(name, &st) == 0 && S_ISDIR(st.st_mode)) return -1;
  if (chart) Y2000_upgrade(name);
  int fd = ::open(name, O_RDONLY);
  if (fd == 0) {
    // Descriptor 0 would read as "escaped" to the callers.
    int moved = ::fcntl(fd, F_DUPFD, 1);
    ::close(fd);
    fd = moved;
  }
  return fd;
}

// Runs the listing below the name field.  Returns Enter with the chosen name
// in `chosen`, else 0.
int run_listing(char* chosen) {
  char pattern[kPatternSize] = "*";
  int row = scr_srow();
  int r = openselected(pattern, kDirectoryCaption, row + 1, 4, row + 18, 79, 0);
  if (r != kKeyEnter) return 0;
  std::snprintf(chosen, kPatternSize, "%s", pattern);
  return kKeyEnter;
}

// The shared loop of both prompts: `name` holds `size` bytes.  A name
// picked in the listing is its path from the program's folder (`target`:
// the whole path) and the default of an empty field.  Returns the key that
// ended the edit (ESC or the accepting key); `name` then holds the final
// name, a leading "~/" made the home.
int edit_name(char* name, std::size_t size, bool target) {
  // F1 in the name field: the file chooser's page.
  struct PageFour {
    int before = help_page();
    PageFour() { set_help_page(4); }
    ~PageFour() { set_help_page(before); }
  } page;
  std::string picked;
  for (;;) {
    drive();
    int key = edit_name_field(kNameRow, kNameCol, kNameLen, name, size, picked.c_str());
    if (key == kKeyEsc) return key;
    bool listing = false;
    if (chdrive(key, name)) {
      name[0] = 0;
      listing = true;
    } else if (key == kKeyF9) {
      listing = true;
    }
    if (!listing) {
      if (!name[0]) std::snprintf(name, size, "%s", picked.c_str());
      if (!expand_home(name, size)) {
        msg("That name is too long to use here.", title, 1);
        name[0] = 0;
        continue;
      }
      return key;
    }
    char chosen[kPatternSize];
    picked.clear();
    if (!run_listing(chosen)) continue;
    std::string path = last_chosen();
    if (target && !path.empty() && path[0] != '/') path = current_dir() + "/" + path;
    if (path.size() >= size) {
      // Never used cut: the pick is refused.
      msg("That name is too long to use here.", title, 1);
      continue;
    }
    picked = path;
  }
}

}  // namespace

int chdrive(int /*key*/, char* name) {
  if (name[0] >= 'A' && name[0] <= 'Z' && name[1] == ':' && name[2] == 0) {
    putsn("  ", -1, -1, -1);
    scr_rowcol(scr_srow(), scr_scol() - 4);
    setdrive(name[0]);
    datadisk = static_cast<char>(getdrive());
    return 1;
  }
  if (std::strcmp(name, "DIR") == 0) return 1;
  const char* target = nullptr;
  if (std::strncmp(name, "CD", 2) == 0 && (name[2] == '.' || name[2] == '/'))
    target = name + 2;
  else if (std::strncmp(name, "CD ", 3) == 0 && name[3])
    target = name + 3;
  if (!target) return 0;
  // A directory that cannot be entered changes nothing; the listing then
  // shows where we still are.
  if (::chdir(target) == 0) update_datasubdir();
  return 1;
}

const std::string& last_chosen() { return g_last_chosen; }

bool expand_home(char* name, std::size_t size) {
  if (std::strncmp(name, "~/", 2) != 0) return true;
  const char* home = gethomedir();
  if (!home || !home[0]) return true;
  const std::string full = std::string(home) + (name + 1);
  if (full.size() >= size) return false;
  std::memcpy(name, full.c_str(), full.size() + 1);
  return true;
}

int openselected(char* pattern, const char* caption, int top, int left, int bottom, int right,
                 int save) {
  const RestoreOnClose restore;
  const ReturnToFolder back;
  g_last_chosen.clear();
  char kept[kPatternSize];
  std::snprintf(kept, sizeof kept, "%s", pattern);

  winparam = MenuWindow{};
  winparam.top = static_cast<short>(top);
  winparam.left = static_cast<short>(left);
  winparam.bottom = static_cast<short>(bottom);
  winparam.right = static_cast<short>(right);
  winparam.title = "";
  winparam.curword = 0;
  int columns = (right - left) / kDirCellWidth;
  if (columns < 1) columns = 1;
  winparam.columns = static_cast<unsigned char>(columns);
  winparam.colour = color[0];
  winparam.words[0] = targopnX;
  winparam.words[1] = nullptr;
  winparam.result[kResultCloseCode] = kKeyEsc;
  winparam.result[kResultSaveFlag] = static_cast<char>(save);

  bool reload_kept = true;
  for (;;) {
    if (reload_kept) {
      std::snprintf(pattern, kPatternSize, "%s", kept);
      if (!targopnX[0]) targopnX[0] = static_cast<char*>(std::malloc(kDirRowChars));
      if (!targopnX[0]) {
        pattern[0] = 0;
        return kKeyEsc;
      }
      std::snprintf(targopnX[0], kDirRowChars, "%s", caption);
      reload_kept = false;
    }

    winparam.curword = 0;
    if (!dir(pattern, targopnX, columns, 3000)) {
      pattern[0] = 0;
      return kKeyEsc;
    }
    if (targopnX[1][0] == ' ') {
      // Nothing listed at all: widen to every name once, then give up.
      if (std::strcmp(pattern, "*") == 0) {
        pattern[0] = 0;
        return kKeyEsc;
      }
      std::snprintf(pattern, kPatternSize, "*");
      continue;
    }

    // The parent entry: blank at the setup's data directory (we do not
    // leave it upwards), "../ EXIT" below it.
    std::string cwd = current_dir();
    if (!cwd.empty() && origdatasubdir[0] && cwd.compare(1, std::string::npos, origdatasubdir + 1) == 0)
      std::memset(targopnX[1], ' ', 11);
    else
      std::memcpy(targopnX[1], "../ EXIT", 8);

    // The folder shown in the title; the frame as tall as its rows.
    g_listing_title = home_as_tilde(cwd);
    if (g_listing_title.size() > 50) g_listing_title = "..." + g_listing_title.substr(g_listing_title.size() - 47);
    winparam.title = g_listing_title.c_str();
    int rows = 0;
    while (rows + 1 < kDirTableEntries && targopnX[rows + 1] && targopnX[rows + 1][0]) ++rows;
    winparam.bottom = static_cast<short>(std::min(bottom, top + 3 + rows));
    restore.now();

    int r = windows(&winparam);
    if (r == kKeyEsc || r == kKeyClick) {
      pattern[0] = 0;
      return r;
    }
    if (r == kKeyF1) {
      fake_pg(0);
      new_instructions(4, 2);
      fake_pg(1);
      continue;
    }
    if (r < 128 && std::isalnum(r)) {
      std::snprintf(pattern, kPatternSize, "%c* %c*", std::toupper(r), std::tolower(r));
      continue;
    }

    // A cell was chosen.  Find which one, so that a name cut to 13
    // characters or holding blanks is returned whole.
    char cell[kDirCellWidth + 1];
    std::size_t cell_len = strnlen(winparam.result, kDirCellWidth);
    std::memcpy(cell, winparam.result, cell_len);
    cell[cell_len] = 0;
    std::string name;
    int line = voffset + popline + 1;
    int offset = startofhighlite - leftcol - 2;
    int index = barlgth + 1 > 0 ? offset / (barlgth + 1) : -1;
    if (line >= 1 && line < kDirTableEntries && targopnX[line] && index >= 0 &&
        index < columns && std::strncmp(targopnX[line] + index * kDirCellWidth, cell,
                                        std::strlen(cell)) == 0 &&
        std::strlen(cell) > 0) {
      name = listed_name(line, index);
    }
    // The cell as shown decides whether anything is there: the blanked
    // parent entry is not a choice.
    char* blank = std::strchr(cell, ' ');
    if (blank) *blank = 0;
    if (!cell[0]) {
      reload_kept = true;
      continue;
    }
    if (name.empty()) name = cell;  // could not place the cell: take its text

    if (name.find('/') != std::string::npos) {
      std::string d = name.substr(0, name.rfind('/'));
      if (d.empty()) d = "/";
      if (::chdir(d.c_str()) == 0) update_datasubdir();
      reload_kept = true;
      continue;
    }
    g_last_chosen = path_from(back.path(), current_dir(), name);
    std::snprintf(pattern, kPatternSize, "%s", name.c_str());
    return kKeyEnter;
  }
}

int dir_on_1stname(const char* prompt, char* name, bool charts, std::size_t size) {
  draw_title_row(title);
  putsn("             Ready to convert a file.     ", 2, 0, -1);
  putsn(prompt, kNameRow, 0, -1);
  putsn(kHint, kHintRow, kHintCol, -1);

  int key = edit_name(name, size, false);
  if (key == kKeyEsc) return 0;
  int fd = open_source(name, charts);
  if (fd <= 0) {
    msg("File is missing.2", title, 1);
    return 0;
  }
  scr_rowcol(kHintRow, kHintCol);
  scr_clrl();
  return fd;
}

int dir_on_2ndname(char* name, std::size_t size) {
  putsn(kHint, kHintRow, kHintCol, -1);
  int key = edit_name(name, size, true);
  // The hint goes with the field, whatever comes next on these rows.
  scr_rowcol(kHintRow, kHintCol);
  scr_clrl();
  if (key == kKeyEsc) return 0;
  // Only looked at: a chart target is upgraded by the store that writes it.
  int fd = open_source(name, false);
  if (fd <= 0) return -1;
  scr_rowcol(kHintRow, kHintCol);
  scr_clrl();
  ::close(fd);
  return 1;
}
