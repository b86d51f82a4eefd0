#include "window/chart_output.h"

#include "screen/keys.h"
#include "screen/screen.h"
#include "widgets/prompt.h"
#include "window/globals.h"
#include "window/summary.h"

ScreenChartProgress::ScreenChartProgress() {
  scr_rowcol(2, 0);
  scr_clrl();
  scr_rowcol(6, 0);
}

void ScreenChartProgress::progress(float close) {
  int row = scr_srow(), col = scr_scol();
  scr_rowcol(2, 0);
  ftos(close, nullptr, 3, 3);
  scr_rowcol(row, col);
}

bool ScreenChartProgress::stop_requested() { return scr_csts() == kKeyEsc; }

void show_result(const Result& r) {
  if (!r.message.empty()) msg(r.message.c_str(), title, 1);
}

int refuse_source_as_target(const char* target, int fd) {
  if (!same_file_as(target, fd)) return 0;
  msg(kSameNameMessage, title, 1);
  return 1;
}

std::optional<Result> write_new_chart_shown(int fd, const char* target, const ChartPass& pass) {
  std::optional<SafeReplace> out;
  Result r = open_new_chart(fd, target, out);
  if (!r.ok()) {
    show_result(r);
    return std::nullopt;
  }
  ScreenChartProgress screen;
  r = write_new_chart(fd, *out, pass, screen);
  if (!r.ok()) show_result(r);
  summary_add_chart(r, target);
  return r;
}
