// The settings menu of the F2 conversion: the user describes the layout of
// a text price file (date notation, field order, separator, first date) and
// the direction of the conversion.
#include "window/format_settings.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "window/globals.h"
#include "screen/keys.h"
#include "screen/screen.h"
#include "setup/environment.h"
#include "widgets/help.h"
#include "widgets/menu.h"
#include "widgets/prompt.h"

const char* items[kFormatItems] = {
    "\r\n Choose a date format that matches your text file.\r\n"
    "     (Hint: Press the corresponding number keys <0>,<1>...<8>).\r\n",
    " <0> [ ]   19991231     \r\n",
    " <1> [ ]   31dec92  or  31 Dec 92 or 31-Dec-00 which is Yahoo format\r\n",
    " <2> [ ]   12/31/92  or 23:00:00 (Compuserve, Dow Jones, Telerate-intraday...)\r\n",
    " <3> [ ]   921231       \r\n",
    " <4>       Enter the order of the numbers in the file. Currently->DOHLCVI     \r\n",
    "     S=Symbol D=Date O=Open H=High L=Low C=Close V=Volume I=Open-Int.\r\n"
    "     M = skip this column (a Yahoo file with Adj Close: DOHLCMV)\r\n",
    " <5> [ ] Convert TEXT to MORVA\r\n",
    " <6> [ ] Convert MORVA to TEXT\r\n\n",
    " <7> What will separate the numbers? A space or a comma? Currently-> \r\n",
    " <8> Start at which date? (yyyymmdd) Currently->19600101  (Usually: 19600101)\r\n\n",
};

const char* itemX[kFormatItems] = {
    nullptr,
    " <0> [X]   19991231     \r\n",
    " <1> [X]   31dec92  or  31 Dec 92 or 31-Dec-00 which is Yahoo format\r\n",
    " <2> [X]   12/31/92  or 23:00:00 (Compuserve, Dow Jones, Telerate-intraday...)\r\n",
    " <3> [X]   921231       \r\n",
    nullptr,
    nullptr,
    " <5> [X] Convert TEXT to MORVA\r\n",
    " <6> [X] Convert MORVA to TEXT\r\n\n",
    nullptr,
    nullptr,
};

char format_title[80];

namespace {

// The date-format code as an index into the four date lines; a code out of
// range (a damaged defaults file) shows as the first line.
int date_index() {
  int code = static_cast<unsigned char>(ff.datecode);
  return code <= 3 ? code : 0;
}
int direction_index() { return ff.direction == 1 ? 1 : 0; }

void highlight_fields() {
  highlightword(kOrderRow, kOrderCol + 1, 10, color[0]);
  highlightword(kDateRow, kDateCol + 1, 6, color[0]);
}

}  // namespace

void clean_field_order(char order[12]) {
  for (int i = 0; i < 12; ++i) {
    unsigned char c = static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(order[i])));
    order[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c) : ' ';
  }
}

char separator_from_key(char c) {
  return (c >= '0' && c <= '9') ? ' ' : c;
}

void complete_start_date(char date[8]) {
  static const char kFirstDay[] = "00000101";
  int end = 8;
  while (end > 0 && (date[end - 1] == ' ' || date[end - 1] == '\0')) --end;
  if (end == 0) return;  // nothing typed: cleaned to zeros as before
  for (int i = end; i < 8; ++i) date[i] = kFirstDay[i];
}

void clean_start_date(char date[8]) {
  for (int i = 0; i < 8; ++i)
    if (date[i] < '0' || date[i] > '9') date[i] = '0';
}

void build_format_title(char out[80]) {
  std::string s = " Using this format: ";
  s.append(items[1 + date_index()] + 11, 8);
  s.push_back(ff.sep ? ff.sep : ' ');
  for (int i = 0; i < 12 && ff.order[i]; ++i) s.push_back(ff.order[i]);
  s.append(7, ' ');
  s.append(items[7 + direction_index()] + 9, 21);
  std::memset(out, ' ', 80);
  std::memcpy(out, s.data(), std::min<std::size_t>(s.size(), 79));
  out[79] = 0;
}

void special_highlight(int row, int col, int len, int colour) {
  unhighlightword(row, col, len, static_cast<signed char>(colour));
}

int formatmenu() {
  scr_clr();
  for (int i = 0; i < kFormatItems; ++i) putsn(items[i], -1, -1, -1);
  const char* f2line = ff.direction == 1 ? "<F2> to start converting a MORVA file using the above settings."
                                         : "<F2> to start converting a TEXT file using the above settings.";
  putsn(f2line, -1, -1, -1);
  putsn("\r\n ", -1, -1, -1);
  // Drawn like the title row: the bar in the menu colour, the text dark on
  // it, to the line's last character.
  scr_inverse_atr(kF2Row, 0, static_cast<int>(std::strlen(f2line)), title_colour());
  putsn("Examples: InvestorLink: 991231 SOHLCVI, DowJones: 12/31/92 DHLCV,               ", 22, 0,
        -1);
  putsn("Compuserve stocks: 12/31/92 DVHLC, Compuserve commodities: 921231 DOHLCVI     ", 23, 0,
        -1);
  // The last line is kept within the 79 columns of a row.
  static const char kLast[] =
      "Warner or Telemet: 12/31/92 SDHLCV. If you need help, send a printout of data.";
  putsn(kLast, 24, 0, static_cast<int>(std::min<std::size_t>(std::strlen(kLast), 79)));
  return kF2Row + 1;
}

int format_choices(int* changed) {
  for (;;) {
    formatmenu();
    build_format_title(format_title);
    title = format_title;
    // Row 0, as on every command screen: the settings and the folder.
    draw_title_row(title);

    putsn(itemX[1 + date_index()], 3 + date_index(), 0, -1);
    char shown[12];  // an order read from an older file may end early
    for (int i = 0; i < 12; ++i) shown[i] = ff.order[i] ? ff.order[i] : ' ';
    putsn(shown, kOrderRow, kOrderCol, 12);
    putsn(itemX[7 + direction_index()], 10 + direction_index(), 0, -1);
    putsn(&ff.sep, kSepRow, kSepCol, 1);
    putsn(ff.startdate, kDateRow, kDateCol, 8);
    highlight_fields();

    scr_rowcol(17, 2);
    scr_curson();
    set_help_page(2);
    int key = scr_getc(1);
    switch (key) {
      case kKeyEsc:
        return 0;
      case kKeyF1:
        // Help changes nothing.
        help_here();
        continue;
      case kKeyF2:
        scr_clr();
        return 1;
      case '0': case '1': case '2': case '3':
        ff.datecode = static_cast<char>(key - '0');
        break;
      case '4': {
        special_highlight(kOrderRow, kOrderCol + 1, 10, color[0]);
        char buf[13];
        std::memcpy(buf, ff.order, 12);
        buf[12] = 0;
        fgts(nullptr, 'a', kOrderRow, kOrderCol, 12, buf, 'y', 'n');
        clean_field_order(buf);
        std::memcpy(ff.order, buf, 12);
        ff.nul1 = 0;
        highlightword(kOrderRow, kOrderCol + 1, 10, color[0]);
        break;
      }
      case '5':
        ff.direction = 0;
        break;
      case '6':
        ff.direction = 1;
        break;
      case '7': {
        char buf[2] = {0, 0};
        int end = fgts(nullptr, 'a', kSepRow, kSepCol, 1, buf, 'y', 'n');
        if (end != kKeyEsc && buf[0] != 0) ff.sep = separator_from_key(buf[0]);
        break;
      }
      case '8': {
        special_highlight(kDateRow, kDateCol + 1, 6, color[0]);
        char buf[9];
        std::memcpy(buf, ff.startdate, 8);
        buf[8] = 0;
        fgts(nullptr, 'n', kDateRow, kDateCol, 8, buf, 'y', 'n');
        complete_start_date(buf);
        clean_start_date(buf);
        std::memcpy(ff.startdate, buf, 8);
        ff.nul2 = 0;
        highlightword(kDateRow, kDateCol + 1, 6, color[0]);
        break;
      }
      default:
        break;
    }
    *changed = 1;
  }
}
