// morvautl: the converter's entry point.  Any command-line argument means
// the charting program started it and will take back a stored chart.
#include <unistd.h>

#include <csignal>

#include "chartdata/safe_replace.h"
#include "window/banner.h"
#include "window/defaults_file.h"
#include "window/globals.h"
#include "window/main_menu.h"
#include "window/screen_reporters.h"
#include "screen/screen.h"
#include "setup/setup.h"
#include "widgets/prompt.h"

int main(int argc, char** /*argv*/) {
  // A file-size limit makes a write fail (EFBIG), which the store rolls
  // back and reports, instead of killing the program part-way.
  std::signal(SIGXFSZ, SIG_IGN);
  set_builtin_format();
  scr_setup(kBanner);
  // X protocol errors are shown as a top-row message once the failing call
  // has returned.
  screen_set_error_reporter(report_screen_error);
  // A chart that cannot be created or is locked is said on the screen.
  install_screen_reporters();
  get_setup(1);
  // The data directory: a root run follows links only to files inside it.
  {
    char here[4096];
    if (::getcwd(here, sizeof here) != nullptr) g_link_root = here;
  }
  ff.datecode = 0;
  loadsave_defaults(0, 0);
  main_loop(argc > 1 ? 1 : 0);
}
