// A read-only pass over a quick-quote file that finds what the import will
// store: the charts in the order it reaches them and the bar of each run.
// Batch runs use it for a dry run, to know which charts to keep copies of,
// and to name the records that give no bar.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "chartdata/bar.h"

struct QuoteRun {
  std::string name;      // chart name (in the current directory)
  BarRecord bar;         // the bar the import stores: the run's last record
  long records = 0;      // records of the run
  bool refused = false;  // the chart would be the quote file itself or the splice's temporary file
};

struct QuoteScan {
  std::vector<QuoteRun> runs;
  std::vector<off_t> unnamed;  // positions of records whose symbol makes no chart name
  std::vector<off_t> unstorable;  // records with a value a chart cannot hold
  long records = 0;
};

// Reads the quote file open as fd from its start, grouping records into
// runs as the import does (a run ends where a record names another
// chart).  Leaves fd at its start.
QuoteScan scan_quotes(int fd, std::int32_t update_date);

// The update date as the window's date field takes it: blanks around the
// digits allowed, the number widened from yymmdd.  0 when it is no date
// (letters, 0, not a calendar date).
std::int32_t parse_update_date(const std::string& text);
