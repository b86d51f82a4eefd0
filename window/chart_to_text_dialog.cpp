// Chart-to-text dialogue (generalRT) over the core of
// convert/chart_to_text.cpp.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "chartdata/bar.h"
#include "chartdata/chartfile.h"
#include "chartdata/osshims.h"
#include "chartdata/safe_replace.h"
#include "convert/chart_to_text.h"
#include "window/commands.h"
#include "window/globals.h"
#include "screen/keys.h"
#include "window/summary.h"
#include "window/text_screen.h"
#include "screen/screen.h"
#include "setup/environment.h"
#include "widgets/filechooser.h"
#include "widgets/prompt.h"
#include "widgets/title.h"

namespace {

const char* const kTextPrompt = "               Enter a TEXT filename (or ESCape):";

class ScreenChartTextReport : public ChartTextReport {
 public:
  static constexpr int kFirstRow = 6;
  explicit ScreenChartTextReport(bool display) : display_(display) {}
  // The lines scroll up from row 6, so the screen always shows the last
  // lines written, in file order.  The last rows of the screen are left
  // free; before the set-up has measured the window, the text grid tells
  // how many rows there are.
  void line(const std::string& text) override {
    if (!display_) return;
    int rows = VPXC > 0 ? VPX / static_cast<int>(VPXC) : 0;
    if (rows <= 7) rows = maxrow;
    const int last = rows - 3;
    int row = scr_srow();
    if (row < kFirstRow) row = kFirstRow;
    if (row > last) {
      scr_scrup(1, kFirstRow, 0, last, 79);
      row = last;
    }
    putsn(text.c_str(), row, 0, static_cast<int>(std::min<std::size_t>(text.size(), 79)));
    scr_clrl();
    scr_rowcol(row + 1, 0);
  }
  void bar_read(long n, const BarRecord& bar) override {
    if (display_ || n % 5 != 1) return;
    const int row = scr_srow(), col = scr_scol();
    ftos(bar.close, nullptr, 3, 3);
    scr_rowcol(row, col);
  }
  bool stop() override { return scr_csts() == kKeyEsc; }

 private:
  bool display_;
};

// The refusal of a name: the disk-full line, then the name, rest of the row cleared.
void refuse(const char* name) {
  msg(kDiskFullLine, title, 1);
  putss(name);
  scr_clrl();
}

}  // namespace

void insertdate(char* text, std::int32_t date) {
  std::strcat(text, date_text(date, ff.datecode).c_str());
}

int chart_to_text_dialogue(int fd) {
  ::lseek(fd, static_cast<off_t>(kHeaderSize), SEEK_SET);
  char name[kNameSize];
  for (;;) {
    scr_scrup(0, 1, 0, 9, 79);
    putsn("Source: ", 2, 0, -1);
    putss(exclambuf);
    putss(" Ready to store new file.\r\n\n");
    putss(kTextPrompt);
    drive();
    if (exclamfile) {
      std::snprintf(name, sizeof name, "%s", list_text_name(exclambuf).c_str());
      putss(name);
    } else {
      name[0] = '\0';
      if (dir_on_2ndname(name, sizeof name) == 0) {
        summary_cancel();
        ::close(fd);
        return 0;
      }
    }
    // In a list no other name can be typed: a refused name gives this
    // chart up and the list goes on.
    if (not_differ(name, firstname)) {
      if (exclamfile) break;
      continue;
    }
    if (exist(name)) {
      if (msg("File exists; overwrite? (y/n)->", title, 1) != 'y') {
        refuse(name);
        if (exclamfile) break;
        continue;
      }
    }
    // The text is written beside its name and takes the name only when it
    // is complete; a name where no file can be made is refused now.
    SafeReplace out(name, SafeReplace::Locking::kNone);  // a text
    if (!out.ok()) {
      refuse(name);
      if (exclamfile) break;
      continue;
    }
    scr_rowcol(2, 0);
    scr_clrl();
    bool display = false;
    if (!exclamfile &&
        msg("Do you want to display this TEXT file as it is created? (y/n)->", title, 1) == 'y') {
      scr_scrup(0, 5, 0, 24, 79);
      display = true;
    }
    scr_rowcol(6, 0);
    ScreenChartTextReport report(display);
    const Result result = chart_to_text(fd, out, ff, exclambuf, report);
    summary_add_text(result, name);
    if (display) {
      putsn("Press enter.", 24, 60, -1);
      scr_getc(1);
    }
    ::close(fd);
    if (!result.ok()) msg(result.message.c_str(), title, 1);
    return 1;
  }
  ::close(fd);
  return 1;
}
