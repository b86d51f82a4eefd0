// The dialogues DAYWK and DAYMONTH: ask for the weekly or monthly target,
// fold the source into it with the progress on screen, and show how it
// ended.
#include <unistd.h>

#include <cstdio>

#include "convert/weekly_monthly.h"
#include "window/chart_output.h"
#include "window/commands.h"
#include "window/globals.h"
#include "window/summary.h"
#include "window/target_prompt.h"

namespace {

constexpr const char* kWeeklyPrompt = "       Enter a MORVA WEEKLY filename (or ESCape):";
constexpr const char* kMonthlyPrompt = "      Enter a MORVA MONTHLY filename (or ESCape):";

int fold_dialogue(int fd, FILE* idx, FoldKind kind) {
  TargetPrompt tp;
  tp.source = exclambuf;
  tp.prompt = kind == FoldKind::kWeekly ? kWeeklyPrompt : kMonthlyPrompt;
  for (;;) {
    if (ask_target_name(tp) != kTargetAccepted) {
      close(fd);
      return 27;
    }
    // Another spelling of the source ("./x", a link) would fold the chart
    // into itself.
    if (!refuse_source_as_target(tp.name, fd)) break;
  }
  ScreenChartProgress screen;
  FoldRequest request{kind, IndexFile::load(idx), tp.name};
  Result r = fold_chart(fd, request, screen);
  summary_add_chart(r, tp.name);
  if (!r.ok()) {
    show_result(r);
    return 0;
  }
  std::snprintf(savenm, sizeof savenm, "%s", tp.name);
  return 1;
}

}  // namespace

int DAYWK(int fd, FILE* idx) { return fold_dialogue(fd, idx, FoldKind::kWeekly); }
int DAYMONTH(int fd, FILE* idx) { return fold_dialogue(fd, idx, FoldKind::kMonthly); }
