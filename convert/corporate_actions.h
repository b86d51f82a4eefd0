// Corporate actions applied to the charts of a data directory: a CSV of
// splits and dividends by symbol and ex-date, each chart changed once per
// run through the one write path, the chart before the run kept for an
// undo, and a journal beside the charts that records what was applied so
// that no action is applied twice.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "convert/result.h"

struct CorporateAction {
  std::string symbol;
  std::int32_t date = 0;  // the ex-date: bars dated before it change
  bool split = false;
  int n = 1, m = 1;       // a split N:M
  double amount = 0;      // a dividend
  long line = 0;          // line of the actions file
  // "split 4:1" or "dividend 0.82": how the journal and the log name it.
  std::string text() const;
};

struct ActionFile {
  std::vector<CorporateAction> actions;
  std::vector<std::string> problems;  // "line 4: ..." for lines passed over
};
// The actions of a file's text.  Columns by their header names (symbol or
// ticker, date or ex-date, split or ratio, dividend or amount; a table), or
// without a header symbol, date, value (a value of the form N:M a split,
// a number a dividend).  Dates as the text reader reads them: yyyymmdd,
// yyyy-mm-dd, dd.mm.yyyy, 31dec24.  A split given as one number x is x:1
// (0.1 is 1:10).
ActionFile read_actions(const std::string& text);

// The charts of a data directory by the symbols they may stand for: the
// file name, and the file name without its extension, in lower case.
using SymbolCharts = std::map<std::string, std::vector<std::string>>;
SymbolCharts charts_by_symbol(const std::string& root);
// The charts of `symbol` (any case): only files that are charts.
std::vector<std::string> charts_of_symbol(const SymbolCharts& charts, const std::string& symbol);

// ---- The journal ------------------------------------------------------------

inline constexpr const char* kJournalName = ".morva-actions";
inline constexpr const char* kUndoFolder = ".morva-undo";

struct JournalEntry {
  std::string run;     // the run's id
  std::string chart;   // the chart's path from the data directory
  std::string action;  // CorporateAction::text()
  std::int32_t date = 0;
  std::string state;   // "applied" or "undone"
  std::string hash;    // the chart's bytes after the run (hex)
};
std::vector<JournalEntry> read_journal(const std::string& path);
// Replaces the journal whole; 1 on success.
int write_journal(const std::string& path, const std::vector<JournalEntry>& entries);
// The actions a journal holds as applied (and not undone), by chart.
class AppliedActions {
 public:
  explicit AppliedActions(const std::vector<JournalEntry>& journal);
  void add(const JournalEntry& e);
  // True when `action` is applied to `chart`; `run` names the run.
  bool has(const std::string& chart, const CorporateAction& action, std::string* run = nullptr) const;

 private:
  std::map<std::string, std::string> runs_;  // chart, action and date -> run
};

// A run id unique to this run: the time (UTC) and the process.
std::string new_run_id();
// A hash of a chart's bytes, to tell whether it changed since a run.
std::string bytes_hash(std::span<const unsigned char> bytes);
// Where the run `run` keeps the chart `chart` as it was before it.
std::string undo_copy_name(const std::string& chart, const std::string& run);

// Applies `actions` (all of one chart, any order) to the chart `chart` in
// one rewrite under its lock: each bar dated before an action's ex-date is
// scaled by that action (a dividend's factor taken from the close before
// its ex-date as stored), the chart as it was kept as undo_copy_name(chart,
// run).  kDone (`hash`: of the new bytes), kRefused (not a chart, no bar
// before a dividend's date, a factor outside 0-1, a result that does not
// fit: the message says so; nothing changed), kFailed.
Result apply_chart_actions(const std::string& chart, std::span<const CorporateAction> actions,
                           const std::string& run, std::string& hash);

// Gives the chart `chart` back its bytes from before the run `run`, when it
// still holds what that run wrote (`hash`).  kDone, kRefused (changed since
// the run, or no copy: the message says so), kFailed.
Result undo_chart_actions(const std::string& chart, const std::string& run, const std::string& hash);
