// What the window shows when a chart cannot be created or is locked by
// another program: the lower layers report through hooks, and these fill
// them with the window's own lines at the screen cursor.
#pragma once

// Installs the disk-full reporter and the chart-lock reporter of the
// window.  Called once at start-up, before any chart is touched.
void install_screen_reporters();
