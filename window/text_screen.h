// The text conversions' messages on the conversion screen: bad dates and
// skipped early lines on row 1, progress and chart names at the cursor.
#pragma once

#include <string>

#include "convert/store.h"

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
  long refused = 0;  // charts refused for their names
  bool stop_between_charts() override;

};

// Tells the reports that row 1 was cleared, so the next message is drawn.
void row1_cleared();
