// The converter defaults "morvautl.dat" through loading, the settings menu,
// and the conversions that read the settings (a text line into a bar, a
// bar into a text line), then saving.
//
// Input: the defaults file.  Promises checked: 23 bytes load as the older
// layout and any other size overwrites as many of the 25 setting bytes as
// it holds; the settings menu, the title and the line helpers work with
// any bytes in the settings; saving writes the 25 setting bytes and keeps
// every byte after them.
#include <string>

#include "convert/chart_to_text.h"
#include "window/defaults_file.h"
#include "window/format_settings.h"
#include "window/globals.h"
#include "window/text_screen.h"
#include "convert/text_to_chart.h"
#include "screen/headless.h"
#include "screen/screen.h"
#include "setup/environment.h"
#include "fuzz_support.h"

namespace fuzz_defaults {

using namespace fuzzsup;

inline Bytes settings_bytes(const FormatSettings& f) {
  const auto* p = reinterpret_cast<const unsigned char*>(&f);
  return Bytes(p, p + sizeof f);
}

inline int run(const std::uint8_t* data, std::size_t size) {
  screen_once();
  const std::string dir = fresh_dir("d");
  FUZZ_CHECK(dir.size() < sizeof startsubdir);
  std::snprintf(startsubdir, sizeof startsubdir, "%s", dir.c_str());
  const std::string path = dir + "/morvautl.dat";
  write_bytes(path, data, size);

  set_builtin_format();
  Bytes want = settings_bytes(ff);
  if (size == 23) {
    want[0] = data[0];
    for (int i = 0; i < 13; ++i) {
      want[1 + i] = data[1 + i];
      if (data[1 + i] == 0) break;
    }
    want[14] = data[14];
    want[15] = '1';
    want[16] = '9';
    std::memcpy(want.data() + 17, data + 15, 6);
    want[23] = 0;
    want[24] = data[22];
  } else {
    if (size > 0) std::memcpy(want.data(), data, std::min<std::size_t>(size, 25));
  }
  FUZZ_CHECK(loadsave_defaults(0, 0) == 1);
  FUZZ_CHECK(settings_bytes(ff) == want);

  // The settings at work: title, menu, a line into a bar and back.
  build_format_title(format_title);
  FUZZ_CHECK(format_title[79] == 0);
  headless_start();
  headless_push_keys("3");
  headless_push_key(27);
  int changed = 0;
  (void)format_choices(&changed);
  for (int r = 0; r < maxrow; ++r) FUZZ_CHECK(headless_row(r).size() <= 79);
  TextReport quiet;
  LineParser parser(ff, "19990105.txt", 1, quiet, time_of_day);
  ParsedLine p;
  parser.parse("ibm,19990105,1,2,0.5,1.5,100,7", "ibm", p);
  parser.parse("12/31/99 1 2 3 4 5", "", p);
  BarRecord bar;
  bar.date = 19990105;
  bar.close = 1.5f;
  std::string line;
  (void)bar_line(bar, 1, ff, "ibm.M", line);
  char text[200] = "x";
  insertdate(text, bar.date);

  // Saving writes the settings now in force over the first 25 bytes.
  const Bytes settings = settings_bytes(ff);
  FUZZ_CHECK(loadsave_defaults(1, 1) == 1);
  const Bytes saved = read_bytes(path);
  FUZZ_CHECK(saved.size() == std::max<std::size_t>(size, 25));
  FUZZ_CHECK(std::equal(settings.begin(), settings.end(), saved.begin()));
  if (size > 25) FUZZ_CHECK(std::equal(data + 25, data + size, saved.begin() + 25));
  FUZZ_CHECK(no_temp_left(dir));
  return 0;
}

}  // namespace fuzz_defaults

MORVA_FUZZ_ENTRY(fuzz_defaults)
