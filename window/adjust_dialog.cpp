// The dialogue addsubmultdiv: asks for the operator, the constant and the
// target, then writes the adjusted chart with the progress on screen.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "convert/adjust.h"
#include "screen/keys.h"
#include "screen/screen.h"
#include "setup/environment.h"
#include "widgets/prompt.h"
#include "window/chart_output.h"
#include "window/commands.h"
#include "window/globals.h"

namespace {

constexpr const char* kOperatorQuestion =
    "Do you want to add + subtract - multiply * or divide / the file? ->";
constexpr const char* kConstantQuestion =
    "Enter the size of constant with which you want to do this operation->";
constexpr const char* kTargetText = "       Enter a target filename (or ESCape):";

std::string working_dir() {
  char buf[4096];
  return ::getcwd(buf, sizeof buf) ? std::string(buf) : std::string();
}

}  // namespace

int addsubmultdiv(int fd, FILE* idx) {
  scr_scrup(0, 2, 0, 9, 79);
  AdjustRequest request;
  while (!request.op) {
    putsn(kOperatorQuestion, 2, 0, -1);
    int key = scr_getc(1);
    if (key == kKeyEsc) {
      close(fd);
      return 27;
    }
    if (key == '+' || key == '-' || key == '*' || key == '/') request.op = static_cast<char>(key);
  }
  putsn(kConstantQuestion, 2, 0, -1);
  char text[7] = "";
  if (fgts(nullptr, 'n', 2, 69, 6, text, 'n', 'y') == kKeyEsc) {
    close(fd);
    return 27;
  }
  if (!parse_constant(text, &request.k)) {
    close(fd);
    return 0;
  }

  scr_scrup(0, 2, 0, 9, 79);
  char name[kNameSize];
  for (;;) {
    scr_rowcol(2, 0);
    putss("Source: ");
    putss(exclambuf);
    putss(" Ready to store new file.\r\n\n");
    putss(kTargetText);
    putsn("The current working subdirectory is: ", 6, 7, -1);
    putss(working_dir().c_str());
    name[0] = 0;
    if (edit_name_field(4, 45, 21, name, sizeof name) == kKeyEsc) {
      close(fd);
      return 27;
    }
    if (not_differ(name, exclambuf)) continue;
    // No name typed is a name that cannot be opened: the same message.
    if (!name[0]) {
      msg(kCannotOpenMessage, title, 1);
      continue;
    }
    request.target = name;
    std::optional<Result> r = write_new_chart_shown(
        fd, name, [&](std::FILE* src, SafeReplace& out, ChartPassProgress& screen) {
          request.index = IndexFile::load(idx);
          return adjust_stream(request, src, out, screen);
        });
    if (!r) continue;
    if (!r->ok()) return 0;
    // The charting program opens charts relative to the data directory it
    // started in; a name that does not fit leaves nothing to hand over.
    std::string saved = name_from_data_dir(working_dir(), origdatasubdir, name);
    if (saved.size() < sizeof savenm)
      std::snprintf(savenm, sizeof savenm, "%s", saved.c_str());
    else
      savenm[0] = 0;
    return 1;
  }
}
