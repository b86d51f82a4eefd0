#include "convert/weekly_monthly.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <unistd.h>

#include "chartdata/chartfile.h"
#include "chartdata/encodings.h"
#include "chartdata/splice.h"

namespace {

constexpr std::int32_t kVolumeCeiling = 10000000;

std::int32_t clamp32(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

int month_of(std::int32_t date) { return (date % 10000) / 100; }
// The year and month together: a gap of whole years between two bars of
// the same month number still starts a new month.
int year_month_of(std::int32_t date) { return date / 100; }

// One group being built.  Volume and open interest are summed in 64 bits
// and clamped when the group is closed, so a sum past the 32-bit range
// saturates instead of wrapping to a negative volume.
struct Group {
  BarRecord bar;
  std::int64_t volume = 0;
  std::int64_t openint = 0;
  int first_day = 0;    // day number of the first bar (weekly)
  int first_month = 0;  // year and month of the first bar (monthly)

  void start(const BarRecord& b) {
    bar = b;
    volume = b.volume;
    openint = b.openint;
    first_day = dton(b.date);
    first_month = year_month_of(b.date);
  }
  void take(const BarRecord& b) {
    if (b.high > bar.high) bar.high = b.high;
    if (b.low < bar.low) bar.low = b.low;
    volume += b.volume;
    openint += b.openint;
    bar.close = b.close;
    bar.date = b.date;
  }
  bool ends_before(const BarRecord& b, FoldKind kind, bool already_weekly) const {
    if (kind == FoldKind::kMonthly) return year_month_of(b.date) != first_month;
    if (already_weekly) return true;
    int day = dton(b.date);
    return (day + 4) % 7 == 0 || day - first_day > 6;
  }
  BarRecord closed(FoldKind kind) const {
    BarRecord out = bar;
    out.volume = clamp32(volume);
    out.openint = clamp32(openint);
    out.date = kind == FoldKind::kWeekly ? weekly_group_date(out.date)
                                         : monthly_group_date(out.date);
    return out;
  }
};

// Adds a group that landed on the date of the group before it into that
// one: a chart holds one bar per date.
void merge_into(BarRecord& prev, const BarRecord& next) {
  if (next.high > prev.high) prev.high = next.high;
  if (next.low < prev.low) prev.low = next.low;
  prev.close = next.close;
  prev.volume = clamp32(std::int64_t(prev.volume) + next.volume);
  prev.openint = clamp32(std::int64_t(prev.openint) + next.openint);
}

struct FoldOutcome {
  std::vector<BarRecord> groups;
  bool any = false;            // a bar with volume >= 0 was found
  std::int32_t first_date = 0;
  bool stopped = false;
};

// The pass over the source.  `next(bar)` yields the source bars in order
// and returns false at the end.
template <class Next>
FoldOutcome fold_pass(Next&& next, FoldKind kind, bool already_weekly, const IndexFile& idx,
                      ChartPassProgress* progress) {
  FoldOutcome out;
  BarRecord cur;
  do {
    if (!next(cur)) return out;
  } while (cur.volume < 0);
  out.any = true;
  idx.apply(cur);
  out.first_date = cur.date;

  bool end = false;
  while (true) {
    Group g;
    cur.volume = normalise_volume(cur.volume);
    g.start(cur);
    BarRecord last_read = cur;
    while (true) {
      if (!next(cur)) {
        end = true;
        break;
      }
      idx.apply(cur);
      cur.volume = normalise_volume(cur.volume);
      last_read = cur;
      if (g.ends_before(cur, kind, already_weekly)) break;
      g.take(cur);
    }
    BarRecord done = g.closed(kind);
    if (!out.groups.empty() && out.groups.back().date == done.date)
      merge_into(out.groups.back(), done);
    else
      out.groups.push_back(done);
    if (progress) progress->progress(last_read.close);
    if (end) break;
    if (progress && progress->stop_requested()) {
      out.stopped = true;
      break;
    }
  }
  return out;
}

}  // namespace

std::int32_t normalise_volume(std::int32_t volume) {
  while (volume > kVolumeCeiling) volume /= 1000;
  return volume;
}

std::int32_t weekly_group_date(std::int32_t date) {
  int n = dton(date);
  int r = ((n % 7) + 7) % 7;  // 0 Friday, 1 Saturday, 2 Sunday, 3 Monday .. 6 Thursday
  if (r == 0) return date;
  return ntod(r <= 2 ? n - r : n - r + 7);
}

std::int32_t monthly_group_date(std::int32_t date) {
  int month = month_of(date);
  if (month < 1 || month > 12) return date;  // no last day to move to
  if (date % 100 > 30) return date;
  return date / 100 * 100 + lastday[month - 1];
}

std::vector<BarRecord> fold_bars(std::span<const BarRecord> bars, FoldKind kind,
                                 bool already_weekly, const IndexFile& idx,
                                 ChartPassProgress* progress, bool* stopped) {
  std::size_t i = 0;
  auto next = [&](BarRecord& b) {
    if (i == bars.size()) return false;
    b = bars[i++];
    return true;
  };
  FoldOutcome out = fold_pass(next, kind, already_weekly, idx, progress);
  if (stopped) *stopped = out.stopped;
  return std::move(out.groups);
}

Result fold_chart(int source_fd, const FoldRequest& request, ChartPassProgress& progress) {
  std::FILE* src = fdopen(source_fd, "rb");
  if (!src) {
    if (source_fd >= 0) close(source_fd);
    return pass_ending(Status::kNothing, kUnableToWriteMessage);
  }
  const FoldKind kind = request.kind;
  unsigned char header[kHeaderSize];
  bool whole_header = std::fread(header, 1, kHeaderSize, src) == kHeaderSize;
  FoldOutcome pass;
  if (whole_header) {
    bool already_weekly = kind == FoldKind::kWeekly && header[kHeaderTypeOffset] == 'W';
    BarBlocks bars(src);
    auto next = [&](BarRecord& b) { return bars.next(&b); };
    pass = fold_pass(next, kind, already_weekly, request.index, &progress);
  }
  bool read_error = std::ferror(src) != 0;
  std::fclose(src);
  Result result = pass_ending(Status::kFailed, kUnableToWriteMessage);
  result.stopped = pass.stopped;
  if (read_error) return result;  // a source that cannot be read to its end is not folded at all
  if (!pass.any) {
    result.status = Status::kNothing;
    return result;
  }
  // The splice needs the new bars in ascending order of date.
  for (std::size_t i = 1; i < pass.groups.size(); ++i) {
    if (pass.groups[i].date <= pass.groups[i - 1].date) {
      result.status = Status::kRefused;
      result.message = kUnsortedMessage;
      return result;
    }
  }

  SpliceRange range;
  range.type = request.kind == FoldKind::kWeekly ? 'W' : 'M';
  // The range starts at the first bar taken, or earlier when that bar's
  // group is dated before it (a weekend bar goes back to its Friday, the
  // 29th of February to the 28th), so that the old bar of that date is
  // replaced rather than kept beside the new one.
  range.first = std::min(pass.first_date, pass.groups.front().date);
  range.last = pass.groups.back().date;
  result.first = range.first;
  result.last = range.last;

  std::string name = request.target;
  SpliceOptions options;
  options.fallback_name = false;  // a target that cannot be made ends the command
  int ok = store_splice(
      name, range,
      [&](std::FILE* tmp) {
        for (const BarRecord& b : pass.groups)
          if (!write_bar(tmp, b)) return 0;
        range.last = result.last;
        return 1;
      },
      options);
  if (!ok) return result;
  result.status = Status::kDone;
  result.message.clear();
  result.count = static_cast<long>(pass.groups.size());
  return result;
}
