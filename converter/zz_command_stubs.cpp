// Stand-ins for commands that are not part of this build yet: each shows a
// short note and returns to the menu.  They are weak, so a real command
// linked into the program takes their place.  (The file name sorts last in
// the library so that the linker meets the real commands first.)
#include <unistd.h>

#include "converter/commands.h"
#include "widgets/prompt.h"
#include "widgets/title.h"

namespace {
int not_built(int fd) {
  if (fd > 0) ::close(fd);
  msg("This command is not available in this build.", title, 1);
  return 0;
}
}  // namespace

__attribute__((weak)) int generalTR(int fd, char*) { return not_built(fd); }
__attribute__((weak)) int generalRT(int fd) { return not_built(fd); }
__attribute__((weak)) int investorlink() { return not_built(0); }
__attribute__((weak)) int DAYWK(int fd, FILE*) { return not_built(fd); }
__attribute__((weak)) int DAYMONTH(int fd, FILE*) { return not_built(fd); }
__attribute__((weak)) int COMPRESSs(int fd) { return not_built(fd); }
__attribute__((weak)) int addsubmultdiv(int fd, FILE*) { return not_built(fd); }
__attribute__((weak)) int do_techtools() { return not_built(0); }
__attribute__((weak)) void do_quickquote() { not_built(0); }

// The shared target-name prompt, until its own file is part of the build:
// behaves as if the user escaped, so nothing is written.
#include "converter/target_prompt.h"
__attribute__((weak)) int ask_target_name(TargetPrompt&) { return kTargetEscape; }
__attribute__((weak)) int ask_target_name_once(TargetPrompt&) { return kTargetEscape; }
