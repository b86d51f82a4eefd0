// The main menu and the dispatch of its choices to the commands, the list of
// names that a command can work through, the hand-off of a stored chart to
// the charting program, and the orderly end of the program.
#include "window/main_menu.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "chartdata/chartfile.h"
#include "chartdata/linereader.h"
#include "chartdata/safe_replace.h"
#include "window/banner.h"
#include "window/commands.h"
#include "window/defaults_file.h"
#include "window/format_settings.h"
#include "window/globals.h"
#include "window/name_list.h"
#include "window/summary.h"
#include "convert/index_file.h"
#include "screen/keys.h"
#include "screen/screen.h"
#include "setup/setup.h"
#include "widgets/filechooser.h"
#include "widgets/help.h"
#include "widgets/menu.h"
#include "widgets/prompt.h"
#include "widgets/title.h"

const char* xmenu[14] = {
    "FILE",
    "<F2> = convert between TEXT (ASCII) and MORVA formats",
    "<F3> = convert a MORVA DAILY to a MORVA WEEKLY or MONTHLY chart",
    "<F4> = COMPRESS a MORVA to a NUMBERED chart",
    "<F5> = + - x or / a MORVA chart by a constant (for splits/dividends)",
    "<F6> = convert CSI qmaster files to MORVA format (not Y2K tested)",
    "<F7> = convert TELEMET DIF files to MORVA format (not Y2K tested)",
    "<F8> = access STARQUOTE to update MORVA files with one day of prices",
    "<F9> = convert TECHTOOLS files to MORVA format (not Y2K tested)",
    " <B> = access BLOOMBERG to update MORVA files",
    " <T> = convert TELERATE-Quickquote-long to MORVA (not Y2K tested)",
    " <I> = use data e-mailed from InvestorLink (sample files: samples/)",
    " ESC = Exit      <F1> = Help",
    nullptr,
};

const char* prompt[2] = {
    " Enter a MORVA filename (or `.!' name or ESCape):",
    "               Enter a TEXT filename (or ESCape):",
};

namespace {

// What the menu window returns for a click on its minus button or outside
// the list: a value that selects nothing, so a stray click never starts a
// command or ends the program.
constexpr unsigned char kMenuCloseCode = 0xFE;

const char* const kHandoffQuestion = "Do you want to graph this new file now? (y/n)->";
const char* const kHandoffFile = "tmpmorva";

int handoff_mode = 0;  // started with an argument
int defaults_changed = 0;

MenuWindow mainwin;

// The menus run in the pixel mode 'P', the only mode this screen has; a
// setup naming another mode (the charting program's own) keeps 'P' here.
void to_menu_mode(bool clear) {
  if (scr_mode != 'P')
    scr_setmode(80);
  else if (clear)
    scr_clr();
}

bool field_order_has_symbol() {
  for (char c : ff.order)
    if (c == 'S') return true;
  return false;
}

// Closes the list of names of an abandoned run.
void end_list(int listfd) {
  if (exclamfile && listfd > 0) linereader_close(listfd);
}

// The hand-off question; 'y' ends the program and hands `savenm` over.
void handoff_question() {
  if (!handoff_mode || !savenm[0]) return;
  if (msg(kHandoffQuestion, "", 1) == 'y') {
    mouse_show(0);
    endmorvautl(1, savenm, defaults_changed);
  }
}

void wait_key() { scr_getc(1); }

// Each command starts on a cleared screen under a title bar that names it
// (the menu's line); its own prompts then come below.
void start_command(int g) {
  colour(color[0]);
  // The help page of each command.
  switch (g) {
    case kChoiceTextChart: set_help_page(3); break;
    case kChoiceWeekMonth: set_help_page(6); break;
    case kChoiceCompress: case kChoiceArith: set_help_page(8); break;
    case kChoiceTechtools: case kChoiceQuickquote: case kChoiceInvestor: set_help_page(9); break;
    default: set_help_page(1); break;
  }
  to_menu_mode(true);
  title = xmenu[g - 10];
  draw_title_row(title);
  scr_rowcol(1, 0);
}

// Text <-> chart (F2): loops on the settings menu until ESC.
void text_chart_loop() {
  mouse_show(1);
  for (;;) {
    if (!format_choices(&defaults_changed)) {
      mouse_show(0);
      return;
    }
    set_help_page(3);
    if (ff.direction == 1) {
      int fd = dir_on_1stname(prompt[0], firstname, true, sizeof firstname);
      if (!fd) continue;
      summary_begin(true);
      for (;;) {
        int src = do_all(exclambuf, &exclamfile, fd, true);
        if (!src) break;
        if (!generalRT(src)) {
          end_list(fd);
          break;
        }
        if (!exclamfile) break;
      }
      // What was written, unless the user left at the first question.
      if (run_summary().files > 0 && !run_summary().cancelled) show_run_end();
      continue;
    }

    int fd = dir_on_1stname(prompt[1], firstname, false, sizeof firstname);
    if (!fd) continue;
    const bool ascii = ascii_list(firstname);
    summary_begin(false);
    bool closing = false;
    for (;;) {
      int src = do_all(exclambuf, &exclamfile, fd);
      if (!src) {
        closing = true;
        break;
      }
      // savenm is emptied for the call so that we know whether this entry
      // stored a chart; the previous name comes back when it did not.
      char before[sizeof savenm];
      std::memcpy(before, savenm, sizeof savenm);
      if (exclamfile && ascii) savenm[0] = 0;
      int r = generalTR(src, exclambuf);
      bool stored_now = savenm[0] != 0;
      if (exclamfile && ascii && !stored_now) std::memcpy(savenm, before, sizeof savenm);
      if (!r) {
        show_run_end();
        end_list(fd);
        break;
      }
      if (!exclamfile) {
        closing = true;
        break;
      }
      if (ascii) replace_ascii_entry(exclambuf, savenm, stored_now && !field_order_has_symbol());
    }
    if (!closing) continue;
    show_run_end();
    if (exclamfile) continue;
    if (handoff_mode && savenm[0] && !field_order_has_symbol()) {
      if (msg(kHandoffQuestion, "", 1) == 'y') {
        mouse_show(0);
        endmorvautl(1, savenm, defaults_changed);
      }
    }
  }
}

// Opens the index file of the chart now processed; null when it is absent.
FILE* open_index() {
  char name[sizeof exclambuf + 8];
  convert_nm_to_idx(name, exclambuf);
  return std::fopen(name, "r");
}

// Weekly / monthly (12), numbered (13), adjustment (14).
void chart_to_chart(int code) {
  title = xmenu[1 + (code - kChoiceTextChart)];
  int fd = dir_on_1stname(prompt[0], firstname, true, sizeof firstname);
  if (!fd) return;
  summary_begin(false, true);
  // What was written, once a chart was (or failed to be).
  auto say_end = [] {
    if (run_summary().files > 0) show_run_end();
  };
  for (;;) {
    int src = do_all(exclambuf, &exclamfile, fd, true);
    if (!src) {
      if (exclamfile) {
        say_end();
        return;
      }
      break;
    }
    if (code == kChoiceWeekMonth) {
      tone(320, 2);
      putsn("To <W>eekly or <M>onthly? ->", 2, 13, -1);
      scr_curson();
      int key = std::tolower(scr_getc(1));
      if (key == 'm' || key == 'w') {
        tone(1024, 1);
        FILE* idx = open_index();
        if (key == 'm')
          DAYMONTH(src, idx);
        else
          DAYWK(src, idx);
        if (idx) std::fclose(idx);
      } else {
        ::close(src);  // nothing is done with this file
      }
    } else if (code == kChoiceCompress) {
      COMPRESSs(src);
    } else {
      FILE* idx = open_index();
      addsubmultdiv(src, idx);
      if (idx) std::fclose(idx);
    }
    if (!exclamfile) break;
  }
  say_end();
  handoff_question();
}

void sibling_tool(const char* name, const char* message) {
  runMORVAxx(name);
  putss(message);
  wait_key();
}

}  // namespace

int choice_code(unsigned char f, bool on_line) {
  // A line index and a key code can be the same number (Tab is 9, the
  // line of <T>): which one it is comes from how the menu was left.
  if (on_line) return f <= 11 ? f + 11 : kChoiceNone;
  if (f >= kKeyF2 && f <= kKeyF9) return f - kKeyF2 + kChoiceTextChart;
  switch (f) {
    case 'b': case 'B': return kChoiceBloomberg;
    case 't': case 'T': return kChoiceQuickquote;
    case 'i': case 'I': return kChoiceInvestor;
    case kKeyEsc: return kChoiceExit;
    default: return kChoiceNone;  // F1, F10, clicks outside the list, other keys
  }
}

unsigned char firstmenu(bool* on_line) {
  popline = 0;
  to_menu_mode(true);
  colour(color[0]);
  mainwin = MenuWindow{};
  mainwin.top = 0;
  mainwin.left = 0;
  mainwin.bottom = static_cast<short>(maxrow - 1);
  mainwin.right = 79;
  mainwin.title = kBanner;
  mainwin.curword = 0;
  mainwin.columns = 1;
  mainwin.colour = color[0];
  mainwin.words[0] = xmenu;
  mainwin.words[1] = nullptr;
  mainwin.result[kResultCloseCode] = static_cast<char>(kMenuCloseCode);
  mainwin.result[kResultSaveFlag] = 0;
  const auto f = static_cast<unsigned char>(windows(&mainwin));
  // Enter or a click on a line copies the line's text into the result;
  // a key leaves it empty.
  if (on_line) *on_line = mainwin.result[0] != '\0' && f <= 11;
  return f;
}

void runMORVAxx(const char* name) {
  save_exe_mrv(exemrv, startsubdir, startdisk);
  scr_curson();
  std::string tool = startsubdir;
  const char* n = name;
  if (*n == '\\') ++n;
  tool += "/";
  tool += n;
  int fd = ::open(tool.c_str(), O_RDONLY);
  if (fd >= 0) {
    ::close(fd);
    loadsave_defaults(1, 1);
  }
}

void endmorvautl(int handoff, const char* name, int changed) {
  mousereset();
  scr_curson();
  loadsave_defaults(1, changed);
  std::string failed;
  if (handoff) {
    std::string path = std::string(startsubdir) + "/" + kHandoffFile;
    if (!replace_file(path,
                      std::span<const unsigned char>(reinterpret_cast<const unsigned char*>(name),
                                                     std::strlen(name)),
                      SafeReplace::Locking::kNone))
      failed = path;
  }
  Xclosedis();
  // The window is gone: the terminal is where the user can still read that
  // the chart to graph could not be handed over (an old file stays whole).
  if (!failed.empty()) std::printf("\nCan't write: %s to disk:\n", failed.c_str());
  std::exit(0);
}

void main_loop(int handoff) {
  handoff_mode = handoff;
  for (;;) {
    bool on_line = false;
    unsigned char f = firstmenu(&on_line);
    int g = choice_code(f, on_line);
    if (!on_line && f == kKeyF1) {
      // The help from its first page, the main menu's.
      set_help_page(1);
      fake_pg(0);
      new_instructions(1, 12);
      fake_pg(1);
      continue;
    }
    if (g == kChoiceNone) continue;
    if (g == kChoiceExit) {
      if (!handoff_mode) to_menu_mode(false);
      endmorvautl(0, savenm, defaults_changed);
    }
    start_command(g);
    mouse_area(3, 2, 16, 77);
    mouse_cursor(16, 2);
    switch (g) {
      case kChoiceTextChart:
        text_chart_loop();
        break;
      case kChoiceWeekMonth:
      case kChoiceCompress:
      case kChoiceArith:
        chart_to_chart(g);
        break;
      case kChoiceCSI:
        sibling_tool("\\MORVACSI.EXE",
                     "\r\nCannot execute MORVACSI.EXE. Try: MORVACSI <enter> from DOS");
        break;
      case kChoiceTelemet:
        sibling_tool("\\MORVATEL.EXE",
                     "\r\nCannot execute MORVATEL.EXE. Try: MORVATEL <enter> from DOS");
        break;
      case kChoiceStarquote:
        sibling_tool("\\MORVASQ.EXE",
                     "\r\nCannot execute MORVASQ.EXE. Try: MORVASQ <enter> from DOS");
        break;
      case kChoiceTechtools:
        do_techtools();
        handoff_question();
        break;
      case kChoiceBloomberg:
        putss("\r\nIn MSwindows, execute MORVABL.EXE from its own shortcut icon.");
        wait_key();
        break;
      case kChoiceQuickquote:
        do_quickquote();
        handoff_question();
        break;
      case kChoiceInvestor:
        investorlink();
        break;
      default:
        break;
    }
  }
}
