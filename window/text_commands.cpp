// The main menu's entry point of chart to text, whose dialogue lives in
// chart_to_text_dialog.cpp.
#include "window/commands.h"
#include "window/text_screen.h"

int generalRT(int fd) { return chart_to_text_dialogue(fd); }
