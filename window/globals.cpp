#include "window/globals.h"

#include <cstring>

FormatSettings ff;
char firstname[44] = "";
char exclambuf[80] = "";
char exclamfile = 0;
char savenm[81] = "";
char get_the_symbol[22] = "";
TimeOfDayDates time_of_day;

void set_builtin_format() { ff = builtin_format(); }
