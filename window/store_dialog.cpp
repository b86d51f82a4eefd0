// The store's dialogue (sendto_morva) and the screen side of the text
// conversions' reports.
#include <cstdio>
#include <cstring>
#include <string>

#include "window/globals.h"
#include "chartdata/safe_replace.h"
#include "convert/store.h"
#include "window/text_screen.h"
#include "convert/text_to_chart.h"
#include "screen/keys.h"
#include "screen/screen.h"
#include "widgets/prompt.h"

namespace {

const char* const kBadDate = " Bad date format. So, skip this line.";
const char* const kBadName = " Bad date format in the source filename too. So, skip it.";
const char* const kEarly = "Wait while we skip over the early dates.";
const char* const kBadValue = " Bad number in this line. So, skip this line.";

// The one row-1 message the screen shows, shared by every report of a
// conversion (getthedate draws through it as well).
int g_row1_shown = 0;  // 0 none, 1 bad date, 2 bad name, 3 early, 4 bad number

void draw_row1(int what, const char* text, int col) {
  const int row = scr_srow(), colnow = scr_scol();
  if (g_row1_shown != what) {
    putsn(text, 1, col, -1);
    if (what != 3) scr_clrl();
    g_row1_shown = what;
  }
  scr_rowcol(row, colnow);
}

}  // namespace

void show_bad_date() { draw_row1(1, kBadDate, 7); }
void row1_cleared() { g_row1_shown = 0; }

void ScreenTextReport::bad_date() { draw_row1(1, kBadDate, 7); }
void ScreenTextReport::bad_name_date() { draw_row1(2, kBadName, 7); }
void ScreenTextReport::bad_value() { draw_row1(4, kBadValue, 7); }

void ScreenTextReport::early_date() {
  draw_row1(3, kEarly, 37);
  scr_csts();  // the keyboard is polled once per skipped line
}

void ScreenTextReport::early_dates_done() {
  const int row = scr_srow(), col = scr_scol();
  scr_rowcol(1, 37);
  scr_clrl();
  scr_rowcol(row, col);
  g_row1_shown = 0;
}

void ScreenTextReport::progress(const BarRecord& bar) {
  const int row = scr_srow(), col = scr_scol();
  ftos(bar.close, nullptr, 3, 3);
  scr_rowcol(row, col);
}

void ScreenTextReport::chart_dir(const std::string& dir) {
  putsn(dir.c_str(), 2, 41, -1);
  putss("/");
}

void ScreenTextReport::chart_done(const std::string& chart, int ok) {
  putss(chart.c_str());
  putss("          ");
  (void)ok;
}

void ScreenTextReport::name_refused(const std::string& name, const std::string& why) {
  const std::string text = " Not stored: the chart " + printable_name(name) + ": " + why + ".";
  msg(text.substr(0, 79).c_str(), title, 1);
}

bool ScreenTextReport::stop_between_charts() { return scr_csts() == kKeyEsc; }

char ScreenTextReport::new_chart_type(const std::vector<std::string>&) { return what_type(); }

void ScreenTextReport::chart_start(const ChartPlan& c) { putsn(chart_line(c), 2, 0, -1); }

Result sendto_morva(char* name, char* textname, int fd) {
  TextStoreParams params;
  params.format = ff;
  params.textname = textname;
  params.volume_factor = volume_factor(exclamfile != 0, firstname);
  params.chart_type = 0;  // asked when a new chart's dates do not tell
  std::string chart = name;
  ScreenTextReport report;
  Result r;
  {
    LineReader src(fd);
    // The charts of the text reach the disk together before success is told.
    DurableBatch durable;
    r = store_text(src, chart, params, time_of_day, report);
    if (durable.publish() != 0 && r.status != Status::kRefused) {
      r.status = Status::kFailed;
      r.message = kStoreWriteError;
    }
  }
  get_the_symbol[0] = '\0';
  std::snprintf(name, kNameSize, "%s", chart.c_str());
  return r;
}
