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
// Asks the type of the new charts whose dates do not decide it:
// 'W', 'D', 'M' or 'N', or 0 on ESC.
char what_type();
// The line on row 2 before a chart's folder and name: "Creating a MORVA
// ... chart:" for a new chart, "Merging into the MORVA chart:" for one
// found on disk.
const char* chart_line(const ChartPlan& c);
// Parses a date in the current date format; shows " Bad date format. So,
// skip this line." at row 1, column 7 when it is bad.  1 when valid.
int getthedate(const char* text, std::int32_t* date);
// Stores the text open in fd (from its position) into `name` (kNameSize
// bytes) and the charts of further symbols, each merged into its chart
// wherever it is found in the data directory, or new; the type of a new
// chart whose dates do not decide it is asked (what_type).  Shows the
// directory at row 2, column 41 and each chart's name at the cursor; ESC
// waiting between two charts stops the run.  The result is store_text's
// (its message not shown yet); `name` then holds the last chart written.
Result sendto_morva(char* name, char* textname, int fd);
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
  char new_chart_type(const std::vector<std::string>& names) override;
  void chart_start(const ChartPlan& c) override;

};

// Tells the reports that row 1 was cleared, so the next message is drawn.
void row1_cleared();
