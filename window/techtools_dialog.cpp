// The F9 command: asks for TechTools files and their target charts,
// converts each (techtools_convert) and shows the progress and the ending.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "chartdata/chartfile.h"
#include "convert/techtools.h"
#include "screen/keys.h"
#include "screen/screen.h"
#include "widgets/filechooser.h"
#include "widgets/prompt.h"
#include "window/commands.h"
#include "window/globals.h"
#include "window/target_prompt.h"

namespace {

constexpr const char* kTechTitle = "   TECHTOOLS TO MORVA File Conversion";
constexpr const char* kTechPrompt = "Enter a TECHTOOL filename (or`.!'name or ESCape):";
constexpr const char* kTargetText = "       Enter a target filename (or ESCape):";
constexpr const char* kSameName = "Use a name which differs from the source name.";

// Progress on screen: the date of the 1st, 6th, 11th ... bar at row 2,
// column 0; ESC waiting at the keyboard stops the conversion.
class ScreenListener : public TechToolsListener {
 public:
  void bar_written(long count, const BarRecord& bar) override {
    if (count % 5 != 1) return;
    char buf[40];
    ftos(bar.date, buf, 6, 0);
    const int row = scr_srow(), col = scr_scol();
    putsn(buf, 2, 0, -1);
    scr_rowcol(row, col);
  }
  bool stop_requested() override { return scr_csts() == kKeyEsc; }
};

}  // namespace

int techsub(int fd) {
  TargetPrompt tp;
  tp.source = exclambuf;
  tp.prompt = kTargetText;
  for (;;) {
    if (ask_target_name(tp) != kTargetAccepted) {
      ::close(fd);
      return 0;
    }
    // The typed name may reach the source through another spelling
    // ("./x", a link): converting a file onto itself would replace it.
    if (same_file_as(tp.name, fd) || std::strcmp(tp.name, firstname) == 0) {
      msg(kSameName, title, 1);
      continue;
    }
    break;
  }

  scr_rowcol(2, 0);
  scr_clrl();
  scr_rowcol(6, 0);
  ScreenListener listener;
  const Result r = techtools_convert(TechToolsRequest{fd, tp.name}, listener);
  ::close(fd);

  if (r.ok()) {
    std::snprintf(savenm, sizeof savenm, "%s", tp.name);
    // Said (records sorted in), and left on the screen until a key is pressed.
    if (!r.message.empty()) msg(r.message.c_str(), title, 1);
    // Bars stored as the vendor wrote them although they break the bar rules.
    if (const std::string bars = bar_check_line(r.bar_check); !bars.empty()) msg(bars.c_str(), title, 1);
    return 1;
  }
  // A target that cannot be made is told by the disk-full line.
  if (r.message.starts_with(kDiskFullLine))
    diskfull(tp.name);
  else
    msg(r.message.c_str(), title, 1);
  return 0;
}

int do_techtools() {
  title = kTechTitle;
  const int fd = dir_on_1stname(kTechPrompt, firstname, false, sizeof firstname);
  if (fd <= 0) return 0;
  int stored = 0;
  for (;;) {
    const int src = do_all(exclambuf, &exclamfile, fd);
    if (src <= 0) break;
    // After a list only the chart of its last entry counts.
    if (exclamfile) savenm[0] = '\0';
    stored = techsub(src);
    if (!exclamfile) break;
  }
  return stored;
}
