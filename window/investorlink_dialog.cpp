// The I command: asks for an InvestorLink archive (or its unpacked text),
// unpacks it (unpack_investorlink) and converts the text with the
// text-to-chart dialogue under InvestorLink's layout.
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

#include "convert/investorlink.h"
#include "screen/screen.h"
#include "widgets/filechooser.h"
#include "widgets/prompt.h"
#include "widgets/title.h"
#include "window/commands.h"
#include "window/globals.h"

namespace {

// The heading of the command's messages: first the command, then the
// unpack command, then the temporary file's path.
char ttt[200];

const char* const kArchivePrompt = "   Enter an InvestorLink '.ZIP' file (or ESCape):";

}  // namespace

int investorlink() {
  mouse_show(1);
  ff = investorlink_format();
  std::snprintf(ttt, sizeof ttt, "%s", "CONVERT      InvestorLink e-mailed file: ");
  title = ttt;
  int fd = dir_on_1stname(kArchivePrompt, firstname, false, sizeof firstname);
  if (fd <= 0) return 0;
  ttt[0] = '\0';

  int textfd = fd;
  std::string textname = firstname;
  const char* failure = nullptr;  // what went wrong before the conversion
  std::optional<PrivateTemp> tmp;  // removed when this function returns
  Result unpacked;
  if (is_zip_name(firstname)) {
    ::close(fd);
    const std::string archive = firstname;
    textname = investor_text_name(archive);
    std::snprintf(firstname, sizeof firstname, "%s", textname.c_str());
    std::snprintf(ttt, sizeof ttt, "Unpacking %s", archive.c_str());
    tmp.emplace(textname);
    textfd = -1;
    if (tmp->ok()) {
      unpacked = unpack_investorlink(archive, *tmp);
      if (!unpacked.ok()) failure = unpacked.message.c_str();
      std::snprintf(ttt, sizeof ttt, "%s", textname.c_str());
      textfd = tmp->release();
    }
  }
  if (textfd <= 0) {
    putss(" Cannot process the file.");
  } else if (failure) {
    ::close(textfd);
    putsn(failure, 1, 0, -1);
  } else if (const Result checked = check_investorlink(textfd, firstname); !checked.ok()) {
    ::close(textfd);
    putsn(checked.message.c_str(), 1, 0, -1);
  } else {
    std::snprintf(exclambuf, sizeof exclambuf, "%s", firstname);
    const std::string before = savenm;
    savenm[0] = '\0';
    const int ok = generalTR(textfd, firstname);
    const bool stored = savenm[0] != '\0';
    if (!stored) std::snprintf(savenm, sizeof savenm, "%s", before.c_str());
    putss(ok && stored ? " Finished." : " Nothing was stored.");
    // Under it: bars stored as the file gave them although they break the
    // bar rules.
    if (const std::string bars = bar_check_line(checked.bar_check); stored && !bars.empty()) {
      putss("\r\n");
      putss(bars.c_str());
    }
  }
  scr_getc(1);
  ttt[0] = '\0';
  return 1;
}
