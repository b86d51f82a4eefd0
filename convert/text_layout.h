// The layout of a text price file found from its start: the separator, the
// column names of a header line, the date layout and a decimal comma.  It
// gives the format settings that read the file, or says why it cannot
// choose (dates such as 01/02/2024 that may be day or month first), so that
// nothing is guessed silently.  No screen, no globals.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// What the caller already knows (its explicit options), which detection
// takes as given.
struct LayoutHints {
  char sep = 0;       // 0: find it
  int datecode = -1;  // -1: find it
};

struct TextLayout {
  bool ok = false;
  std::string problem;   // when not ok: why, naming the option to give
  char sep = ',';
  bool header = false;   // the first line names the columns
  std::string order;     // field letters from the header ("" without a header)
  std::string shown;     // the order as shown: a skipped column is '-'
  int datecode = 0;      // the date code that reads the dates
  std::string date_name; // "ISO", "yyyymmdd", "dd.mm.yyyy", ...
  bool decimal_comma = false;
  bool times = false;    // the dates carry a time of day (not read)

  // "date=ISO order=DOHLC-V sep=, header=yes"
  std::string summary() const;
};

// At most this much of a file's start is read.
inline constexpr std::size_t kLayoutBytes = 64 * 1024;

// The layout of a text that begins with `head`.
TextLayout detect_layout(std::string_view head, const LayoutHints& hints);
// The same for the file open in fd, read from its start with pread (the
// descriptor's position does not move).
TextLayout detect_layout(int fd, const LayoutHints& hints);

// Option words of morva-convert for a separator and a date code
// ("comma", "tab", "';'", "yyyymmdd", "dd.mm.yyyy", ...).
std::string separator_option_text(char sep);
std::string date_format_option_text(int code);
