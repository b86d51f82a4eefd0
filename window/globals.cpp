#include "window/globals.h"

#include <cstring>

FormatSettings ff;
char firstname[44] = "";
char exclamfile = 0;
char savenm[81] = "";
int fptextsrc = -1;
char get_the_symbol[22] = "";

void set_builtin_format() { ff = builtin_format(); }
