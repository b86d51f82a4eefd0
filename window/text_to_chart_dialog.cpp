// Text-to-chart dialogue: the conversion screen over the core of
// convert/text_to_chart.cpp and the store of convert/store.cpp.
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
    scr_scrup(0, 1, 0, 5, 79);  // the title row, drawn again by msg, stays
    row1_cleared();
    const char* text = nullptr;
    char type = 0;
    switch (key) {
      case 'w': text = createrw; type = 'W'; break;
      case 'd': text = create; type = 'D'; break;
      case 'm': text = createrm; type = 'M'; break;
      case 'n': text = creatern; type = 'N'; break;
      case kKeyEsc: summary_cancel(); return 0;
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
  if (getthedate(textname, &start->first)) return 1;
  summary_refuse(no_date_reason());
  return 0;
}

int generalTR(int fd, char* textname) {
  const char* dot = std::strchr(textname, '.');
  if (dot && std::strcmp(dot, ".EXE") == 0) {
    if (dot - textname == 7)
      msg("Uncompress file by typing full filename at DOS prompt or use RUN in Windos", title, 1);
    return finish(fd, 0);
  }
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
  SpliceRange start;  // the chart type is '?' until decided
  if (!what_type(fd, textname, &start)) return finish(fd, 0);
  if (std::strcmp(name, firstname) == 0) {
    not_differ(name, firstname);
    summary_refuse("The chart's name must differ from the text's name.");
    return finish(fd, 0);
  }
  const Result r = sendto_morva(name, textname, fd, start.type);
  summary_add_store(r, name);
  // A refused name was said when it happened; a run that stored nothing
  // does not end like one that did.
  if (!r.message.empty()) msg(r.message.c_str(), title, 1);
  if (r.status == Status::kRefused || r.status == Status::kFailed) return finish(fd, 0);
  // savenm names a chart only when one was written.
  if (r.status == Status::kDone) std::snprintf(savenm, sizeof savenm, "%s", name);
  return finish(fd, 1);
}
