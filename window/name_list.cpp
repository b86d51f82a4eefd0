#include "window/name_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "chartdata/chartfile.h"
#include "chartdata/linereader.h"
#include "convert/ascii_replace.h"
#include "screen/keys.h"
#include "screen/screen.h"
#include "widgets/prompt.h"
#include "widgets/title.h"
#include "window/globals.h"

int do_all(char* namebuf, char* listflag, int fd, bool charts) {
  if (!std::strchr(firstname, '!')) {
    *listflag = 0;
    std::snprintf(namebuf, kNameSize, "%s", firstname);
    return fd;
  }
  *listflag = 1;
  if (scr_csts() != kKeyEsc && mygts(namebuf, kNameSize, fd) && namebuf[0] && namebuf[0] != '^') {
    struct stat st{};
    if (!(::stat(namebuf, &st) == 0 && S_ISDIR(st.st_mode))) {
      if (charts) Y2000_upgrade(namebuf);
      int entry = ::open(namebuf, O_RDONLY);
      if (entry > 0) return entry;
      if (entry == 0) ::close(entry);
    }
  }
  linereader_close(fd);
  namebuf[0] = 0;
  return 0;
}

int not_differ(const char* target, const char* source) {
  if (std::strcmp(target, source) != 0) return 0;
  msg("Use a name which differs from the source name.", title, 1);
  return 1;
}

bool ascii_list(const char* listname) {
  return std::strncmp(listname, "ASCII", 5) == 0 || std::strncmp(listname, "ascii", 5) == 0;
}

void replace_ascii_entry(const char* textname, const char* chartname, bool stored_alone) {
  putss("\r\nErasing the ASCII file and replacing it with the MORVA format.");
  if (!stored_alone || !ascii_replace(textname, chartname))
    putss("\r\nThe ASCII file stays: no complete chart was stored from it alone.");
}
