// Text-to-chart dialogue: the conversion screen over the core of
// convert/text_to_chart.cpp and the store of convert/store.cpp.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "chartdata/linereader.h"
#include "window/commands.h"
#include "window/globals.h"
#include "convert/store.h"
#include "convert/symbol_names.h"
#include "convert/text_layout.h"
#include "window/text_screen.h"
#include "convert/text_to_chart.h"
#include "screen/keys.h"
#include "screen/screen.h"
#include "widgets/filechooser.h"
#include "widgets/prompt.h"
#include "widgets/title.h"

namespace {

const char* const wtstore = " Store data to what MORVA filename?\r\n\n";
const char* const morvafilename = "                          Enter a MORVA filename:";
const char* const create = "           Creating a MORVA DAILY chart:";
const char* const createrw = "           Creating a MORVA WEEKLY chart:";
const char* const createrm = "           Creating a MORVA MONTHLY chart:";
const char* const creatern = "           Creating a MORVA Number chart:";
const char* const wcreate =
    "What type of MORVA chart are you creating? \nKeep in mind that <F10> in the "
    "graph-display area can do compression,\nso choose Daily. (W)eekly, (D)aily, (M)onthly, "
    "(N)umber? ->";

bool order_has(char letter) { return std::memchr(ff.order, letter, sizeof ff.order) != nullptr; }

// The text is the conversion's to close, whatever the outcome.
int finish(int fd, int result) {
  linereader_close(fd);
  return result;
}

// The settings for one conversion, given back when it ends: the saved
// settings stay as they were.
class SettingsForThisText {
 public:
  SettingsForThisText() : saved_(ff) {}
  ~SettingsForThisText() { ff = saved_; }
  SettingsForThisText(const SettingsForThisText&) = delete;
  SettingsForThisText& operator=(const SettingsForThisText&) = delete;

 private:
  FormatSettings saved_;
};

// When the settings read no date in the text (nor in its name), the layout
// found in the file is shown in one line and the user is asked whether to
// convert with it.  "y": the text is read in its plain form under the plain
// settings and *fd becomes that form.  Otherwise nothing changes.
void offer_detected_layout(int* fd, const char* textname) {
  class Quiet : public TextReport {} quiet;
  TimeOfDayDates look = time_of_day;  // a look: the run's counters stay
  std::int32_t dates[2] = {0, 0};
  int count = 0;
  first_two_dates(*fd, ff, order_has('S'), dates, &count, quiet, look);
  linereader_seek(*fd, 0);
  std::int32_t name_date = 0;
  if (count > 0 || parse_date(textname, ff.datecode, &name_date, look)) return;
  LayoutHints hints;
  hints.order.assign(ff.order, sizeof ff.order);
  while (!hints.order.empty() && hints.order.back() == ' ') hints.order.pop_back();
  TextLayout layout = detect_layout(*fd, hints);
  if (!layout.ok) return;
  std::string question = "Found: " + layout.summary();
  if (question.size() > 79) question.resize(79);
  question += "\nThe settings read no date in this file. Convert with what was found? (y/n)->";
  if (msg(question.c_str(), title, 1) != 'y') return;
  const int plain = ::memfd_create("morva-text", MFD_CLOEXEC);
  RewriteTally tally;
  layout.rewrite = true;  // the plain form also carries decimal commas and thousands
  if (plain < 0 || !rewrite_text(*fd, layout, plain, tally)) {
    if (plain >= 0) ::close(plain);
    return;
  }
  ::lseek(plain, 0, SEEK_SET);
  linereader_close(*fd);
  *fd = plain;
  std::memset(ff.order, ' ', sizeof ff.order);
  const char* order = plain_order(layout);
  std::memcpy(ff.order, order, std::strlen(order));
  ff.sep = ',';
  ff.datecode = 0;
}

}  // namespace

int getthedate(const char* text, std::int32_t* date) {
  if (parse_date(text, ff.datecode, date, time_of_day)) return 1;
  show_bad_date();
  return 0;
}

int get_1st_name(char* name, const FormatSettings& f, int fd) {
  std::string sym;
  if (!first_symbol(fd, f, sym)) return 0;
  std::snprintf(name, kMaxSymbol + 1, "%s", sym.c_str());
  return 1;
}

int what_type(int fd, char* textname, SpliceRange* start) {
  start->first = 0;
  ScreenTextReport report;
  std::int32_t dates[2] = {0, 0};
  int count = 0;
  first_two_dates(fd, ff, get_the_symbol[0] != '\0', dates, &count, report, time_of_day);
  if (count == 2) {
    const std::int32_t diff = dates[1] - dates[0];
    if (diff >= 1 && diff <= 4) {
      start->type = 'D';
      putsn(create, 2, 0, -1);
      linereader_seek(fd, 0);
      start->first = dates[0];
      return 1;
    }
  }
  for (;;) {
    const unsigned char key = static_cast<unsigned char>(msg(wcreate, title, 1));
    scr_scrup(0, 0, 0, 5, 79);
    row1_cleared();
    const char* text = nullptr;
    char type = 0;
    switch (key) {
      case 'w': text = createrw; type = 'W'; break;
      case 'd': text = create; type = 'D'; break;
      case 'm': text = createrm; type = 'M'; break;
      case 'n': text = creatern; type = 'N'; break;
      case kKeyEsc: return 0;
      default: break;
    }
    if (!text) continue;
    putsn(text, 2, 0, -1);
    start->type = type;
    break;
  }
  linereader_seek(fd, 0);
  if (count >= 1) {
    start->first = dates[0];
    return 1;
  }
  return getthedate(textname, &start->first);
}

int generalTR(int fd, char* textname) {
  const char* dot = std::strchr(textname, '.');
  if (dot && std::strcmp(dot, ".EXE") == 0) {
    if (dot - textname == 7)
      msg("Uncompress file by typing full filename at DOS prompt or use RUN in Windos", title, 1);
    return finish(fd, 0);
  }
  SettingsForThisText settings;
  offer_detected_layout(&fd, textname);
  scr_curson();
  scr_scrup(0, 1, 0, 9, 79);
  row1_cleared();
  putsn("Source: ", 2, 0, -1);
  putss(exclambuf);
  putss(wtstore);
  putss(morvafilename);
  drive();
  get_the_symbol[0] = '\0';

  char name[81] = "";
  if (order_has('S')) {
    if (!get_1st_name(name, ff, fd)) return finish(fd, 0);  // no usable symbol line
    const std::size_t n = std::min(std::strlen(name), sizeof get_the_symbol - 1);
    std::memcpy(get_the_symbol, name, n);
    get_the_symbol[n] = '\0';
  } else if (exclamfile) {
    // The chart is named after the text file: its own name up to the first '.'.
    const char* base = std::strrchr(textname, '/');
    base = base ? base + 1 : textname;
    std::size_t n = std::strcspn(base, ".");
    if (n > 43) n = 43;
    std::memcpy(name, base, n);
    name[n] = '\0';
    putss(name);
  } else {
    if (dir_on_2ndname(name) == 0) {
      msg("File is missing.1", title, 1);
      return finish(fd, 0);
    }
  }

  scr_rowcol(2, 0);
  scr_clrl();
  SpliceRange start;  // the chart type is '?' until decided
  if (!what_type(fd, textname, &start)) return finish(fd, 0);
  if (std::strcmp(name, firstname) == 0) {
    not_differ(name, firstname);
    return finish(fd, 0);
  }
  const Result r = sendto_morva(name, textname, fd, start.type);
  // A refused name was said when it happened; a run that stored nothing
  // does not end like one that did.
  if (!r.message.empty()) msg(r.message.c_str(), title, 1);
  if (r.status == Status::kRefused || r.status == Status::kFailed) return finish(fd, 0);
  // savenm names a chart only when one was written.
  if (r.status == Status::kDone) std::snprintf(savenm, sizeof savenm, "%s", name);
  return finish(fd, 1);
}
