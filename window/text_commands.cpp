// The main menu's entry points of the text commands that live in files of
// their own: chart to text and the InvestorLink import.
//
// They sit in this file, whose object comes after the main menu's in the
// converter library, so that the linker, resolving the main menu's calls,
// reaches these definitions before the library's weak stand-ins for
// commands that are not built (converter/zz_command_stubs.cpp).
#include "convert/chart_to_text.h"
#include "window/commands.h"

int generalRT(int fd) { return chart_to_text_dialogue(fd); }
