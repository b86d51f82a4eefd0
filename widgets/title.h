// The heading of the current action.  msg() shows its question on row 0 and
// then draws this text there again.
#pragma once

extern const char* title;
