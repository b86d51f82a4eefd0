// Index files: a short text file of dated values that shifts the prices of
// one chart while the chart is folded to weekly or monthly bars or adjusted
// by a constant.  It lies in the subdirectory "idx" of the chart's own
// directory under the chart's file name.
//
// Each line reads yymmdd, a blank and a value ("990105 1.25").  The file is
// read in pieces of at most 19 characters (a longer line gives several
// pieces); a piece of 7 characters or fewer is ignored.  A bar dated
// strictly between two consecutive index dates P < date < D is raised by
//   a = v * (1 - 0.9 * (dton(D) - dton(date)) / (dton(D) - dton(P)))
// in open, high, low and close, where v is the later line's value and P
// starts at 0 before the first line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "chartdata/bar.h"

// Builds the index-file name of `chartname` into `dest` (room for the name
// plus five characters) and creates the index directory when it is missing:
// "data/abc.M" -> "data/idx/abc.M", "abc.M" -> "idx/abc.M", "C:abc.M" ->
// "C:idx/abc.M".
void convert_nm_to_idx(char* dest, const char* chartname);
// The same as a string; with `make_dir` false the directory is not made.
std::string index_file_name(std::string_view chartname, bool make_dir = true);

// One usable piece of an index file: its date and value.
struct IndexLine {
  std::int64_t date = 0;  // full year * 10000 + mmdd
  float value = 0;
};

// Splits index-file text into its usable pieces, in file order.
std::vector<IndexLine> parse_index_text(std::string_view text);

// An index file loaded once and applied from memory.  apply() gives exactly
// the result of reading the file again for every bar.
class IndexFile {
 public:
  IndexFile() = default;
  explicit IndexFile(std::string_view text);
  // Reads the whole stream from its start; a null stream gives an empty index.
  static IndexFile load(FILE* stream);

  bool empty() const { return steps_.empty(); }
  void apply(BarRecord& bar) const;

 private:
  // One pair of consecutive dates P < D that can adjust bars between them.
  struct Step {
    std::int32_t from, to;  // P and D
    std::int32_t to_day;    // dton(D)
    std::int32_t span;      // dton(D) - dton(P), above 0
    float value;
  };
  void adjust(BarRecord& bar, const Step& s) const;

  std::vector<Step> steps_;
  bool disjoint_ = true;  // steps ascending and non-overlapping: binary search
};

// Adjusts one bar by the index file open as `stream` (null: unchanged).  The
// stream is rewound and read on every call, so one open stream serves a
// whole conversion; the conversions themselves load it once (IndexFile).
void apply_idx_values(BarRecord& bar, FILE* stream);
