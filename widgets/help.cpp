// The help viewer: pages of "m.hlp" in a full-screen window, one screen at a
// time, with PgUp back, Esc or F10 out and any other key on.
#include "widgets/help.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "chartdata/osshims.h"
#include "screen/keys.h"
#include "screen/screen.h"
#include "setup/environment.h"
#include "widgets/menu.h"
#include "widgets/prompt.h"

namespace {

const char* const rmissing = "M.HLP is missing. Replace the MORVA disk and press a key or ESCape.";
const char* const insmenu[] = {"HELP", nullptr};
MenuWindow inswin;

constexpr int kEndByte = 0xFF;

// Closes the help file when the viewer leaves by any path.
struct HelpFile {
  FILE* f = nullptr;
  ~HelpFile() {
    if (f) std::fclose(f);
  }
};

void fill_window() {
  inswin = MenuWindow{};
  inswin.top = 0;
  inswin.left = 0;
  inswin.right = 79;
  const int rows = (VPX > 0 && VPXC > 0) ? VPX / static_cast<int>(VPXC) : maxrow;
  // To the last row, so that the prompt on the row above it stays clear
  // of the frame's bottom lines.
  inswin.bottom = static_cast<short>(rows - 1);
  inswin.title = "";
  inswin.curword = 0;
  inswin.columns = 1;
  inswin.colour = color[0];
  inswin.words[0] = insmenu;
  inswin.result[kResultCloseCode] = kKeyEsc;
  inswin.result[kResultSaveFlag] = 1;
}

int g_help_page = 1;

// The help file, at the first of help_file_places() that opens.  Opened by
// path, so the working directory stays untouched.
FILE* open_help() {
  for (const std::string& place : help_file_places())
    if (FILE* f = std::fopen(place.c_str(), "rb")) return f;
  return nullptr;
}

// Skips the digits of a page marker; returns the character after them
// (EOF at the end of the file), which is left unread.
int skip_marker_digits(FILE* f) {
  int c;
  while ((c = std::getc(f)) != EOF && std::isdigit(c)) {
  }
  if (c != EOF) std::ungetc(c, f);
  return c;
}

// Draws one screen of page text from the current file position.  Returns
// true when the text ended at a '#' (the page marker of the next page),
// false when the screen filled up first or the file ended.
bool draw_page_text(FILE* f, bool* at_eof) {
  *at_eof = false;
  int linecount = 3;
  int col = 2;
  int count = 1;
  char text[128];
  int tlen = 0;
  auto flush_line = [&] {
    if (tlen > 0) putsn(text, linecount, col, tlen);
    tlen = 0;
  };
  auto append = [&](char ch) {
    if (tlen < static_cast<int>(sizeof text) - 1) text[tlen++] = ch;
  };
  while (linecount < maxrow - 2) {
    const int c = std::getc(f);
    if (c == EOF) {
      flush_line();
      *at_eof = true;
      return false;
    }
    if (c == '#') {
      flush_line();
      return true;
    }
    if (c == '\n') {
      flush_line();
      ++linecount;
      col = 1;
      count = 1;
      continue;
    }
    if (c == '\r') continue;
    if (c == '\t') {
      if (count < 79)
        for (int k = 0; k < 5; ++k) append(' ');
      count += 4;
      continue;
    }
    ++count;
    if (count <= 79) append(c < 32 ? ' ' : static_cast<char>(c));
  }
  flush_line();
  return false;
}

}  // namespace

std::vector<std::string> help_file_places() {
  std::vector<std::string> places;
  places.push_back(startsubdir[0] ? std::string(startsubdir) + "/m.hlp" : "m.hlp");
  char exe[4096];
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) {
    std::string dir(exe, static_cast<std::size_t>(n));
    dir.erase(dir.rfind('/') == std::string::npos ? 0 : dir.rfind('/'));
    places.push_back(dir + "/m.hlp");
    const std::size_t up = dir.rfind('/');
    if (up != std::string::npos) places.push_back(dir.substr(0, up) + "/share/morva/m.hlp");
  }
  char found[kSearchPathMax] = {};
  if (searchPATH(found, "/m.hlp")) places.emplace_back(found);
  return places;
}

void set_help_page(int page) { g_help_page = page; }
int help_page() { return g_help_page; }

void help_here() {
  const int row = scr_srow(), col = scr_scol();
  fake_pg(0);
  new_instructions(g_help_page, 12);
  fake_pg(1);
  scr_rowcol(row, col);
}

long find_pagenum(int page, FILE* file) {
  if (!file) return 0;
  for (;;) {
    int c;
    while ((c = std::getc(file)) != EOF && c != '#' && c != kEndByte) {
    }
    if (c == EOF) return 0;
    const long pos = std::ftell(file) - 1;
    char rest[8];
    if (!std::fgets(rest, sizeof rest, file)) return 0;
    if (std::atoi(rest) == page) return pos;
  }
}

void new_instructions(int page, int npages) {
  if (npages <= 0) npages = 1;  // one screen, as for a single page
  for (;;) {
    fill_window();
    HelpFile hf;
    hf.f = open_help();
    FILE* f = hf.f;

    std::vector<long> positions(static_cast<std::size_t>(npages), 0L);
    positions[0] = find_pagenum(page, f);
    if (tmode != scr_mode) {
      scr_setmode(tmode);
      colour(color[0]);
    }
    scr_cursoff();

    if (!f) {
      const char key = msg(rmissing, "", 1);
      if (key == kKeyEsc) return;
      continue;  // the user may have made the file available: try again
    }

    int idx = 0;
    bool seek = true;
    long marker = positions[0];
    int after = 0;  // character after the digits of the next page's marker
    for (;;) {
      if (seek) {
        // To the marker of the current index, past its '#' and digits.
        std::clearerr(f);
        std::fseek(f, positions[static_cast<std::size_t>(idx)], SEEK_SET);
        int c;
        while ((c = std::getc(f)) != EOF && c != '#') {
        }
        marker = std::ftell(f) - 1;
        if (c == '#') skip_marker_digits(f);
        seek = false;
      }

      scr_clr();
      windows(&inswin);
      scr_attr = static_cast<signed char>(0x80 | ((color[0] & 7) << 4) | (color[0] & 15));
      scr_rowcol(3, 2);
      positions[static_cast<std::size_t>(idx)] = marker;

      bool at_eof = false;
      bool ended_at_marker = draw_page_text(f, &at_eof);
      if (!ended_at_marker && !at_eof) {
        // The screen filled up: the rest of this page is not shown.
        int c;
        while ((c = std::getc(f)) != EOF && c != '#') {
        }
        at_eof = (c == EOF);
        ended_at_marker = (c == '#');
      }
      if (ended_at_marker) {
        marker = std::ftell(f) - 1;
        after = skip_marker_digits(f);
      } else {
        after = EOF;  // the file ended inside the page: the help ends too
      }

      putsn(" Press a key to continue or PgUp or ESCape ", maxrow - 2, 2, -1);
      const int key = scr_getc(1);
      if (key == kKeyPgUp) {
        if (idx > 0) --idx;
        seek = true;
        continue;
      }
      if (key == kKeyEsc || key == kKeyF10) break;
      if (after == kEndByte || after == EOF) break;
      ++idx;
      if (idx >= npages) break;
      chkbreak();
      // The file is at the first character of the next page's text.
    }
    scr_curson();
    return;
  }
}
