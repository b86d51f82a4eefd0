#include "converter/globals.h"

#include <cstring>

FormatSettings ff;
char tt[14][20];
char firstname[44] = "";
char exclamfile = 0;
char savenm[81] = "";
int fptextsrc = -1;
char get_the_symbol[22] = "";

void set_builtin_format() {
  std::memset(&ff, 0, sizeof ff);
  ff.datecode = 0;
  std::memcpy(ff.order, "DOHLCVI     ", 12);
  ff.sep = ',';
  std::memcpy(ff.startdate, "19600101", 8);
  ff.direction = 0;
}
