#include "window/target_prompt.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "window/commands.h"
#include "screen/keys.h"
#include "screen/screen.h"
#include "widgets/filechooser.h"
#include "widgets/prompt.h"
#include "widgets/title.h"

namespace {

constexpr int kNameRow = 4, kNameCol = 52, kNameLen = 21;
constexpr int kPatternSize = 48;

// The listing behind F9: a picked file becomes the default name, as its
// whole path (a pick too long for the name is refused, never cut);
// nothing picked clears the default.
void pick_default(TargetPrompt& tp) {
  char pattern[kPatternSize] = "*";
  int row = scr_srow();
  tp.picked[0] = 0;
  if (openselected(pattern, kDirectoryCaption, row + 1, 4, row + 18, 79, 0) != kKeyEnter) return;
  std::string full = last_chosen();
  char cwd[4096];
  if (!full.empty() && full[0] != '/' && ::getcwd(cwd, sizeof cwd)) full = std::string(cwd) + "/" + full;
  if (full.size() >= sizeof tp.picked) {
    msg("That name is too long to use here.", title, 1);
    return;
  }
  std::snprintf(tp.picked, sizeof tp.picked, "%s", full.c_str());
}

}  // namespace

int ask_target_name_once(TargetPrompt& tp) {
  scr_scrup(0, 2, 0, 9, 79);
  scr_rowcol(2, 0);
  putss("Source: ");
  putss(tp.source);
  putss(" Ready to store new file.\r\n\n");
  putss(tp.prompt);
  putsn("(Press F9 for a directory listing)", 6, 27, -1);
  // The default from the last pick stands in the field, so the user sees
  // what an empty answer stores.
  static char field[sizeof tp.name];
  field[0] = 0;
  int key = edit_name_field(kNameRow, kNameCol, kNameLen, field, sizeof field, tp.picked);
  if (key == kKeyEsc) return kTargetEscape;
  if (!expand_home(field, sizeof field)) {
    msg("That name is too long to use here.", title, 1);
    return kTargetAgain;
  }
  if (chdrive(key, field) || key == kKeyF9) {
    field[0] = 0;
    pick_default(tp);
    return kTargetAgain;
  }
  const char* name = field[0] ? field : tp.picked;
  if (!name[0]) return kTargetAgain;  // nothing typed and no default: ask again
  if (not_differ(name, tp.source)) return kTargetAgain;
  std::snprintf(tp.name, sizeof tp.name, "%s", name);
  // The hint goes with the field.
  scr_rowcol(6, 27);
  scr_clrl();
  return kTargetAccepted;
}

int ask_target_name(TargetPrompt& tp) {
  for (;;) {
    int r = ask_target_name_once(tp);
    if (r != kTargetAgain) return r;
  }
}
