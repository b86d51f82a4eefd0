#include "window/screen_reporters.h"

#include "chartdata/chartfile.h"
#include "chartdata/safe_replace.h"
#include "screen/backend.h"
#include "screen/screen.h"

namespace {

// The disk-full line, then the name, at the screen cursor; the rest of the
// line is cleared.
void screen_diskfull(const char* name) {
  putsn(kDiskFullLine, -1, -1, -1);
  if (name != nullptr) putsn(name, -1, -1, -1);
  scr_clrl();
}

// At the screen cursor: the waiting line once, then a dot a second.
void screen_lock_waiting(const char* name, int seconds) {
  if (seconds == 1) {
    putsn("\r\nWaiting for ", -1, -1, -1);
    putsn(name, -1, -1, -1);
    putsn(", another program is writing it ", -1, -1, -1);
  } else {
    putsn(".", -1, -1, -1);
  }
  // Shown now: the program waits without reading keys.
  if (ScreenBackend* b = screen_backend()) b->flush();
  screen_dump_shadow();
}

void screen_lock_failed(const char* name, bool busy) {
  putsn(busy ? "\r\nChart busy (another program is writing it), nothing written: "
             : "\r\nCannot lock the chart, nothing written: ",
        -1, -1, -1);
  putsn(name, -1, -1, -1);
  scr_clrl();
}

void screen_refused(const char* name, const char* why) {
  putsn("\r\nNot replaced, ", -1, -1, -1);
  putsn(why, -1, -1, -1);
  putsn(": ", -1, -1, -1);
  putsn(name, -1, -1, -1);
  scr_clrl();
}

}  // namespace

void install_screen_reporters() {
  diskfull_reporter = screen_diskfull;
  lock_reporter = {screen_lock_waiting, screen_lock_failed, screen_refused};
}
