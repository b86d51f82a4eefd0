// The dialogue COMPRESSs: asks for the bars per group and the target, then
// writes the numbered chart with the progress on screen.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "convert/compress.h"
#include "screen/keys.h"
#include "screen/screen.h"
#include "widgets/prompt.h"
#include "window/chart_output.h"
#include "window/commands.h"
#include "window/globals.h"
#include "window/target_prompt.h"

namespace {

constexpr const char* kCountQuestion =
    "How many calendar days should be compressed into each bar? ->";
constexpr const char* kCompressPrompt = "       Enter a `compressed' filename (or ESCape):";

}  // namespace

int COMPRESSs(int fd) {
  TargetPrompt tp;
  tp.source = exclambuf;
  tp.prompt = kCompressPrompt;
  for (;;) {
    scr_scrup(0, 2, 0, 9, 79);
    putsn(kCountQuestion, 2, 0, -1);
    char count[5] = "";
    int key = fgts(nullptr, 'n', 2, 61, 4, count, 'n', 'y');
    if (key == kKeyEsc) {
      close(fd);
      return 27;
    }
    // 0, text that is no number, and a negative count (which would put no
    // bar into a group) end the command without output.
    CompressRequest request{std::atoi(count), ""};
    if (request.count <= 0) {
      close(fd);
      return 0;
    }
    int r = ask_target_name_once(tp);
    if (r == kTargetEscape) {
      close(fd);
      return 27;
    }
    if (r == kTargetAgain) continue;
    request.target = tp.name;
    std::optional<Result> w = write_new_chart_shown(
        fd, tp.name, [&](std::FILE* src, SafeReplace& out, ChartPassProgress& screen) {
          return compress_stream(request, src, out, screen);
        });
    if (!w) continue;
    if (!w->ok()) return 0;
    std::snprintf(savenm, sizeof savenm, "%s", tp.name);
    return 1;
  }
}
