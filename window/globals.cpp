#include "window/globals.h"

#include <cstring>

FormatSettings ff;
char firstname[kNameSize] = "";
char exclambuf[kNameSize] = "";
char exclamfile = 0;
char savenm[kNameSize] = "";
char get_the_symbol[22] = "";
TimeOfDayDates time_of_day;

void set_builtin_format() { ff = builtin_format(); }
