// The help file "m.hlp" through the page search and the help viewer.
//
// Input: byte 0 the page asked for, byte 1 the number of screens, bytes
// 2-5 the keys pressed in the viewer; the rest is the help file.  Promises
// checked: the page search returns 0 or the offset of a marker whose
// number is the page; the viewer draws within the screen and comes back
// once the keys are used up (the in-memory screen answers ESC then).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "screen/headless.h"
#include "screen/screen.h"
#include "setup/environment.h"
#include "widgets/help.h"
#include "fuzz_support.h"

namespace fuzz_help {

using namespace fuzzsup;

inline int run(const std::uint8_t* data, std::size_t size) {
  screen_once();
  Input in(data, size);
  const int page = in.byte() % 40;
  const int npages = in.byte() % 6;
  unsigned char keys[4];
  for (auto& k : keys) k = in.byte();
  const std::string_view text = in.rest();

  const std::string dir = fresh_dir("h");
  FUZZ_CHECK(dir.size() < sizeof startsubdir);
  std::snprintf(startsubdir, sizeof startsubdir, "%s", dir.c_str());
  setenv("HOME", dir.c_str(), 1);
  const std::string path = dir + "/m.hlp";
  write_bytes(path, text.data(), text.size());

  std::FILE* f = std::fopen(path.c_str(), "rb");
  FUZZ_CHECK(f != nullptr);
  const long at = find_pagenum(page, f);
  std::fclose(f);
  FUZZ_CHECK(at >= 0 && static_cast<std::size_t>(at) <= text.size());
  if (at > 0) {
    const unsigned char c = static_cast<unsigned char>(text[static_cast<std::size_t>(at)]);
    FUZZ_CHECK(c == '#' || c == 0xFF);
    std::string digits(text.substr(static_cast<std::size_t>(at) + 1, 7));
    digits = digits.substr(0, digits.find('\n'));
    FUZZ_CHECK(std::atoi(digits.c_str()) == page);
  }

  headless_start();
  for (unsigned char k : keys) {
    // PgUp, PgDn, Enter, ESC, F10 and letters.
    static const unsigned char kKeys[] = {202, 203, 13, 27, 219, 'a', 30, 31};
    headless_push_key(kKeys[k % 8]);
  }
  new_instructions(page, npages);
  for (int r = 0; r < maxrow; ++r) FUZZ_CHECK(headless_row(r).size() <= 79);
  return 0;
}

}  // namespace fuzz_help

MORVA_FUZZ_ENTRY(fuzz_help)
