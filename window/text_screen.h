// The text conversions' dialogues and their messages on the conversion
// screen: bad dates and skipped early lines on row 1, progress and chart
// names at the cursor.  (generalTR and generalRT, the main menu's entry
// points, are in window/commands.h.)
#pragma once

#include <cstdint>
#include <string>

#include "chartdata/splice.h"
#include "convert/result.h"
#include "convert/store.h"

// Reads lines of the text open in fd until the first usable symbol and
// leaves it, as a chart name, in `name` (at least 22 bytes), fd at the
// start of its line; the name is left unchanged when there is none.
// Returns 1 when a symbol was found.
int get_1st_name(char* name, const FormatSettings& f, int fd);
// Decides the chart type and the first date of the text open in fd
// (start->type, start->first), asking for the type when the first two
// dates do not show a daily chart; 0 on ESC or when no first date can be
// found.  Leaves fd at its start.
int what_type(int fd, char* textname, SpliceRange* start);
// Parses a date in the current date format; shows " Bad date format. So,
// skip this line." at row 1, column 7 when it is bad.  1 when valid.
int getthedate(const char* text, std::int32_t* date);
// Stores the text open in fd (from its position) into `name` (kNameSize
// bytes) and the charts of further symbols, new charts of type
// `chart_type`, showing the directory at row 2, column 41 and each chart's
// name at the cursor; ESC waiting between two charts stops the run.  The
// result is store_text's (its message not shown yet); `name` then holds
// the last chart's path.
Result sendto_morva(char* name, char* textname, int fd, char chart_type);
// Converts the chart open in fd; 0 when the user escaped from the name
// prompt, 1 otherwise.  fd is closed.
int chart_to_text_dialogue(int fd);
// Appends the date in the current date format (ff) to text.
void insertdate(char* text, std::int32_t date);

// " Bad date format. So, skip this line." at row 1, column 7, rest of the
// row cleared.
void show_bad_date();

// The screen side of the text-to-chart core and the store.  A message
// already standing on row 1 is not drawn again for every further line
// (a long text of bad lines would otherwise redraw it a million times);
// the screen looks the same either way.  Row-1 messages leave the cursor
// where it was, so progress and chart names stay on the chart's row.
class ScreenTextReport : public StoreReport {
 public:
  void bad_date() override;
  void bad_name_date() override;
  void bad_value() override;
  void early_date() override;
  void early_dates_done() override;
  void progress(const BarRecord& bar) override;
  void chart_dir(const std::string& dir) override;
  void chart_done(const std::string& chart, int ok) override;
  void name_refused(const std::string& name, const std::string& why) override;
  bool stop_between_charts() override;

};

// Tells the reports that row 1 was cleared, so the next message is drawn.
void row1_cleared();
