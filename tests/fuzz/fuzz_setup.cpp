// The setup files "setup.mrv" and "setup2.mrv" through the start-up
// sequence, then the main menu drawn with the colours they hold.
//
// Input: byte 0 the length of "setup.mrv", byte 1 whether "setup2.mrv"
// exists; then the bytes of "setup.mrv", the rest is "setup2.mrv".  The
// data directory field is made a plain name (no '/', '\' or '.'), so the
// start-up creates it inside the private folder.  Promises checked for a
// whole record: the setup file is written back byte for byte, except the
// fields the start-up itself sets (room for volume 1, the data drive when
// it was 0, the line count of mode 8, the fields "setup2.mrv" replaces),
// with any bytes after the record kept; the menu draws within the screen.
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "window/main_menu.h"
#include "screen/headless.h"
#include "screen/screen.h"
#include "setup/setup.h"
#include "widgets/prompt.h"
#include "fuzz_support.h"

namespace fuzz_setup {

using namespace fuzzsup;

inline int run(const std::uint8_t* data, std::size_t size) {
  screen_once();
  Input in(data, size);
  const std::size_t len1 = in.byte();
  const bool with2 = in.byte() & 1;
  const std::string_view rest = in.rest();
  std::string s1(rest.substr(0, std::min(len1, rest.size())));
  const std::string s2(rest.substr(s1.size()));
  for (std::size_t i = 26; i < 50 && i < s1.size(); ++i)
    if (s1[i] == '/' || s1[i] == '\\' || s1[i] == '.') s1[i] = 'd';

  const std::string dir = fresh_dir("s");
  char cwd[4096];
  FUZZ_CHECK(getcwd(cwd, sizeof cwd) != nullptr);
  FUZZ_CHECK(chdir(dir.c_str()) == 0);
  setenv("HOME", dir.c_str(), 1);
  // An executable "xmorva" makes the working folder the start directory.
  write_bytes("xmorva", "", 0);
  chmod("xmorva", 0700);
  write_bytes("setup.mrv", s1.data(), s1.size());
  if (with2) write_bytes("setup2.mrv", s2.data(), s2.size());

  const int read2 = get_setup(0);
  FUZZ_CHECK(read2 == (with2 ? 1 : 0));
  const Bytes written = read_bytes(dir + "/setup.mrv");
  FUZZ_CHECK(written.size() >= static_cast<std::size_t>(kSetupRecordSize));
  if (s1.size() >= static_cast<std::size_t>(kSetupRecordSize)) {
    Bytes want(s1.begin(), s1.end());
    want[12] = 1;
    want[13] = 0;
    if (want[0] == 8) {
      want[50] = '8';
      want[51] = 0;
    }
    if (with2) {
      for (std::size_t i = 0; i < 4; ++i)
        if (14 + i < s2.size()) want[50 + i] = static_cast<unsigned char>(s2[14 + i]);
      if (s2.size() > 18) want[6] = static_cast<unsigned char>(s2[18]);
    }
    if (want[24] == 0) want[24] = 'A';
    FUZZ_CHECK(written == want);
  }

  headless_start();
  headless_push_key(27);
  (void)firstmenu();
  headless_push_key(27);
  msg("Question?", "Title", 1);
  for (int r = 0; r < maxrow; ++r) FUZZ_CHECK(headless_row(r).size() <= 79);
  FUZZ_CHECK(chdir(cwd) == 0);
  return 0;
}

}  // namespace fuzz_setup

MORVA_FUZZ_ENTRY(fuzz_setup)
