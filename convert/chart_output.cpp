#include "convert/chart_output.h"

#include <unistd.h>

#include "window/commands.h"
#include "window/globals.h"
#include "window/target_prompt.h"
#include "screen/screen.h"
#include "widgets/prompt.h"

int refuse_source_as_target(const char* target, int fd) {
  if (!same_file_as(target, fd)) return 0;
  msg(kSameNameMessage, title, 1);
  return 1;
}

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

bool ScreenChartProgress::stop_requested() { return scr_csts() == 27; }

int write_new_chart(int fd, const char* target, const ChartPass& pass) {
  if (refuse_source_as_target(target, fd)) return kNewChartAskAgain;
  SafeReplace out(target);
  if (!out.ok()) {
    msg(kCannotOpenMessage, title, 1);
    return kNewChartAskAgain;
  }
  ScreenChartProgress screen;
  std::FILE* src = fdopen(fd, "rb");
  if (!src) {
    close(fd);
    msg(kNotChartMessage, title, 1);
    return kNewChartFailed;
  }
  ChartPassStatus status = pass(src, out, screen);
  std::fclose(src);
  if (status == kPassNotChart) {
    msg(kNotChartMessage, title, 1);
    return kNewChartFailed;
  }
  if (status == kPassOutOfRange) {
    msg(kOutOfRangeMessage, title, 1);
    return kNewChartFailed;
  }
  if (status != kPassWritten || !out.commit()) {
    msg(kUnableToWriteMessage, title, 1);
    return kNewChartFailed;
  }
  return kNewChartStored;
}
