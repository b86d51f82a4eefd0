// The main menu's entry points of the text commands that live in files of
// their own: chart to text and the InvestorLink import.
#include "window/commands.h"
#include "convert/investorlink.h"
#include "window/text_screen.h"

int generalRT(int fd) { return chart_to_text_dialogue(fd); }

int investorlink() { return investorlink_dialogue(); }
