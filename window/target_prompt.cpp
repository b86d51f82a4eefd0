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

namespace {

constexpr int kNameRow = 4, kNameCol = 52, kNameLen = 21;
constexpr int kPatternSize = 48;

const char* bare_name(const char* name) {
  const char* slash = std::strrchr(name, '/');
  return slash ? slash + 1 : name;
}

// The listing behind F9: a picked file becomes the default name, as a path
// from the directory it was picked in (the bare name when that path does
// not fit the name buffer); nothing picked clears the default.
void pick_default(TargetPrompt& tp) {
  char pattern[kPatternSize] = "*";
  int row = scr_srow();
  if (openselected(pattern, kDirectoryCaption, row + 1, 4, row + 18, 79, 0) != kKeyEnter) {
    tp.picked[0] = 0;
    return;
  }
  char cwd[4096];
  std::string full = ::getcwd(cwd, sizeof cwd) ? std::string(cwd) + "/" + pattern : "";
  if (!full.empty() && full.size() < sizeof tp.picked)
    std::snprintf(tp.picked, sizeof tp.picked, "%s", full.c_str());
  else
    std::snprintf(tp.picked, sizeof tp.picked, "%s", pattern);
  char shown[kNameLen + 1];
  std::snprintf(shown, sizeof shown, "%-21.21s", bare_name(tp.picked));
  putsn(shown, kNameRow, kNameCol, kNameLen);
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
  char field[kNameLen + 1] = "";
  if (tp.picked[0]) {
    char shown[kNameLen + 1];
    std::snprintf(shown, sizeof shown, "%-21.21s", bare_name(tp.picked));
    putsn(shown, kNameRow, kNameCol, kNameLen);
  }
  int key = fgts(nullptr, 'a', kNameRow, kNameCol, kNameLen, field, 'n', 'y');
  if (key == kKeyEsc) return kTargetEscape;
  if (chdrive(key, field) || key == kKeyF9) {
    field[0] = 0;
    pick_default(tp);
    return kTargetAgain;
  }
  const char* name = field[0] ? field : tp.picked;
  if (!name[0]) return kTargetAgain;  // nothing typed and no default: ask again
  if (not_differ(name, tp.source)) return kTargetAgain;
  std::snprintf(tp.name, sizeof tp.name, "%s", name);
  return kTargetAccepted;
}

int ask_target_name(TargetPrompt& tp) {
  for (;;) {
    int r = ask_target_name_once(tp);
    if (r != kTargetAgain) return r;
  }
}
