#include "convert/format.h"

#include <cstring>

FormatSettings builtin_format() {
  FormatSettings f;
  std::memset(&f, 0, sizeof f);
  f.datecode = 0;
  std::memcpy(f.order, "DOHLCVI     ", 12);
  f.sep = ',';
  std::memcpy(f.startdate, "19600101", 8);
  f.direction = 0;
  return f;
}
