// The T command: asks for a quote file and the update date, imports it
// (quickquote_import) and shows the progress, the charts passed over and
// the ending.
#include <cstdio>
#include <cstring>
#include <string>

#include "chartdata/linereader.h"
#include "convert/quickquote.h"
#include "screen/keys.h"
#include "screen/screen.h"
#include "widgets/filechooser.h"
#include "widgets/prompt.h"
#include "window/commands.h"
#include "window/globals.h"

namespace {

constexpr const char* kQQTitle = "   QUICK-QUOTE TO MORVA File Conversion";
constexpr const char* kQQPrompt = "Enter QUICK-QUOTE filename (Long quote format):";

class ScreenListener : public QuickQuoteListener {
 public:
  void progress(float close) override {
    const int row = scr_srow(), col = scr_scol();
    ftos(close, nullptr, 3, 3);
    scr_rowcol(row, col);
  }
  void chart_done(const std::string& name, bool ok) override {
    if (ok) {
      last_stored = name;
      return;
    }
    note(" Not stored (chart left as it was): " + name);
  }
  void chart_refused(const std::string& name) override {
    note(" Skipped: the chart " + name + " would be the quote file itself.");
  }
  void record_skipped() override {
    note(" Skipped: a record without a usable symbol or with a value a chart cannot hold.");
  }
  bool stop_requested() override { return scr_csts() == kKeyEsc; }

  std::string last_stored;  // the chart stored last ("" when none)

 private:
  static void note(const std::string& text) {
    const int row = scr_srow(), col = scr_scol();
    scr_rowcol(1, 0);
    scr_clrl();
    putsn(text.c_str(), 1, 0, -1);
    scr_rowcol(row, col);
  }
};

void clear_rows(int top, int bottom) {
  for (int r = top; r <= bottom; ++r) {
    scr_rowcol(r, 0);
    scr_clrl();
  }
}

// Reads the update date; 0 on ESC.
std::int32_t ask_update_date() {
  for (;;) {
    char buf[10];
    std::memset(buf, 0, sizeof buf);
    putsn("Enter the date that you are updating (YYMMDD): ", 2, 0, -1);
    putsn("        ", 2, 47, 8);
    // Eight places: yyyymmdd is taken as well as yymmdd.
    const int key = fgts(nullptr, 'n', 2, 47, 8, buf, 'n', 'y');
    if (key == kKeyEsc) return 0;
    // Blanks around the digits are allowed; anything else is not a date.
    const char* p = buf;
    while (*p == ' ') ++p;
    char* end = nullptr;
    const long typed = std::strtol(p, &end, 10);
    const bool digits_only = end != p && *p >= '0' && *p <= '9' &&
                             std::strspn(end, " ") == std::strlen(end);
    if (digits_only && typed == 0) continue;
    const std::int32_t date = digits_only ? widen_update_date(typed) : 0;
    scr_rowcol(1, 0);
    scr_clrl();
    if (date != 0) return date;
    putsn(" Not a date: type the update date as YYMMDD or YYYYMMDD.", 1, 0, -1);
  }
}

}  // namespace

int quickquotesub(int fd) {
  ff.sep = ' ';
  std::memcpy(ff.order, "SCVOHL      ", sizeof ff.order);
  scr_curson();
  clear_rows(1, 9);
  putsn("Source: ", 2, 0, -1);
  puuts(exclambuf);
  puuts(" Store data to what MORVA filename?\r\n\n");
  puuts(" Enter a MORVA filename (or `.!' name or ESCape):");
  scr_rowcol(4, 50);

  std::string first;
  if (!first_quote_name(fd, &first)) {
    linereader_close(fd);
    msg(" No quotes found in the file. Nothing was stored.", title, 1);
    return 0;
  }
  scr_rowcol(2, 0);
  scr_clrl();

  const std::int32_t date = ask_update_date();
  if (date == 0) {
    linereader_close(fd);
    return 0;
  }
  if (not_differ(first.c_str(), exclambuf)) {
    linereader_close(fd);
    return 0;
  }

  ScreenListener listener;
  const Result r = quickquote_import(QuoteRequest{fd, date, first}, listener);
  linereader_close(fd);
  if (!listener.last_stored.empty()) std::snprintf(savenm, sizeof savenm, "%s", listener.last_stored.c_str());
  if (r.status == Status::kFailed || r.status == Status::kRefused) {
    msg(r.message.c_str(), kQQTitle, 1);
    return 0;
  }
  if (!r.message.empty()) msg(r.message.c_str(), kQQTitle, 1);
  // Bars stored as the quotes gave them although they break the bar rules.
  if (const std::string bars = bar_check_line(r.bar_check); !bars.empty()) msg(bars.c_str(), kQQTitle, 1);
  return 1;
}

void do_quickquote() {
  title = kQQTitle;
  const int fd = dir_on_1stname(kQQPrompt, firstname, false, sizeof firstname);
  if (fd <= 0) return;
  for (;;) {
    const int src = do_all(exclambuf, &exclamfile, fd);
    if (src <= 0) break;
    quickquotesub(src);
    if (!exclamfile) break;
  }
}
