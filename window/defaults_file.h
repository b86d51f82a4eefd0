// The converter defaults file "morvautl.dat" in the start directory: the 25
// bytes of the format settings `ff` (an older 23-byte layout is read too).
// It is opened at start-up and stays open until the first save closes it;
// later saves do nothing.
#pragma once

#include "convert/format.h"
#include "window/globals.h"

// mode 0: open (or create) and load over `ff`; shows
// "<path> Unable to write to disk. Disk full?" when neither works.
// mode != 0: when open, write `ff` (only when `save` is non-zero) and close.
// Returns 1 on success, 0 on failure or when there was nothing to do.
int loadsave_defaults(int mode, int save);

// 1 while the defaults file is open (loaded and not yet saved).
int defaults_file_open();
