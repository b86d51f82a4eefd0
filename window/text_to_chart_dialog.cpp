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
#include "window/summary.h"
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
const char* const merging = "           Merging into the MORVA chart:";
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

char what_type() {
  for (;;) {
    const unsigned char key = static_cast<unsigned char>(msg(wcreate, title, 1));
    scr_scrup(0, 1, 0, 5, 79);  // the title row, drawn again by msg, stays
    row1_cleared();
    switch (key) {
      case 'w': return 'W';
      case 'd': return 'D';
      case 'm': return 'M';
      case 'n': return 'N';
      case kKeyEsc: summary_cancel(); return 0;
      default: break;  // any other key asks again
    }
  }
}

const char* chart_line(const ChartPlan& c) {
  if (c.exists) return merging;
  switch (c.type) {
    case 'W': return createrw;
    case 'M': return createrm;
    case 'N': return creatern;
    default: return create;
  }
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

  char name[kNameSize] = "";
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
    if (n >= sizeof name) n = sizeof name - 1;
    std::memcpy(name, base, n);
    name[n] = '\0';
    putss(name);
  } else {
    if (dir_on_2ndname(name, sizeof name) == 0) {
      msg("File is missing.1", title, 1);
      summary_cancel();
      return finish(fd, 0);
    }
  }

  scr_rowcol(2, 0);
  scr_clrl();
  if (std::strcmp(name, firstname) == 0) {
    not_differ(name, firstname);
    summary_refuse("The chart's name must differ from the text's name.");
    return finish(fd, 0);
  }
  linereader_seek(fd, 0);
  // Each chart's type is its own: a chart found on disk keeps its type, a
  // new one takes the type its dates show, or the answer to the question.
  const Result r = sendto_morva(name, textname, fd);
  if (r.stopped && r.status == Status::kRefused) return finish(fd, 0);  // ESC at the question
  summary_add_store(r, name);
  // Lines were read but none had a date the settings read: say which
  // settings, so the user knows what to change.
  const bool no_date = r.status == Status::kNothing && r.early == 0;
  if (no_date) summary_refuse(no_date_reason());
  // A refused name was said when it happened; a run that stored nothing
  // does not end like one that did.
  // A text with no date the settings read is explained by the summary.
  if (!r.message.empty() && !no_date) msg(r.message.c_str(), title, 1);
  if (r.status == Status::kDone && r.repeated > 0) {
    const std::string said = " " + std::to_string(r.repeated) +
                             (r.repeated == 1 ? " line gave a date" : " lines gave a date") +
                             " again: the later line of each date was kept.";
    msg(said.c_str(), title, 1);
  }
  if (no_date || r.status == Status::kRefused || r.status == Status::kFailed) return finish(fd, 0);
  // savenm names a chart only when one was written.
  if (r.status == Status::kDone) std::snprintf(savenm, sizeof savenm, "%s", name);
  return finish(fd, 1);
}
