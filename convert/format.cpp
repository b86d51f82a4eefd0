#include "convert/format.h"

#include <algorithm>
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

void decode_defaults(std::span<const unsigned char> bytes, FormatSettings& out) {
  auto* raw = reinterpret_cast<unsigned char*>(&out);
  if (bytes.size() == static_cast<std::size_t>(kOldDefaultsSize)) {
    // Older layout: code, 13-byte order string, separator, yymmdd + NUL,
    // direction.
    out.datecode = static_cast<char>(bytes[0]);
    for (int i = 0; i < 13; ++i) {
      raw[1 + i] = bytes[1 + i];
      if (bytes[1 + i] == 0) break;
    }
    out.sep = static_cast<char>(bytes[14]);
    out.startdate[0] = '1';
    out.startdate[1] = '9';
    std::memcpy(out.startdate + 2, bytes.data() + 15, 6);
    out.nul2 = 0;
    out.direction = static_cast<char>(bytes[22]);
    return;
  }
  std::size_t n = std::min<std::size_t>(bytes.size(), sizeof(FormatSettings));
  if (n > 0) std::memcpy(raw, bytes.data(), n);  // an empty file has no data pointer
}
