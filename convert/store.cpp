// Store core: symbol runs of a text into charts, through the store splice.
// No screen.
#include "convert/store.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "chartdata/chartfile.h"
#include "chartdata/faults.h"
#include "chartdata/osshims.h"
#include "chartdata/safe_replace.h"
#include "chartdata/splice.h"
#include "convert/symbol_names.h"

void order_run(std::vector<RunBar>& bars) {
  auto by_date = [](const RunBar& a, const RunBar& b) { return a.bar.date < b.bar.date; };
  if (!std::is_sorted(bars.begin(), bars.end(), by_date))
    std::stable_sort(bars.begin(), bars.end(), by_date);
  std::size_t w = 0;
  for (std::size_t i = 0; i < bars.size(); ++i) {
    if (w > 0 && bars[w - 1].bar.date == bars[i].bar.date && !bars[i].synthetic &&
        !bars[w - 1].synthetic)
      bars[w - 1] = bars[i];  // the later line of a date wins
    else
      bars[w++] = bars[i];
  }
  bars.resize(w);
}

std::string refused_chart_name(const std::string& name, const std::string& path) {
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7f) return "its name holds control characters";
  // A folder part the user gave must exist: the bars are never diverted to
  // another name ("_") for it.
  if (name.find('/') != std::string::npos) {
    struct stat st;
    const std::string dir = dir_of(path);
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return "its folder " + dir + " does not exist";
  }
  return {};
}

std::string printable_name(const std::string& name) {
  std::string out = name;
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  return out;
}

std::string chart_path(const std::string& dir, const std::string& name) {
  std::string file = (name.empty() || name == "." || name == "..") ? std::string("_") : name;
  if (file[0] == '/' || dir.empty()) return file;
  return dir + "/" + file;
}

int DirectoryCache::ensure(const std::string& dir) {
  if (dir.empty() || known_.count(dir)) return 1;
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    sys_mkdir(dir.c_str());
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return 0;
  }
  known_.insert(dir);
  return 1;
}

namespace {

// The name itself is fine: its folder exists and takes files, and its last
// part is a valid file name.
bool name_can_be_made(const std::string& path, const std::string& dir) {
  const std::size_t slash = path.rfind('/');
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  struct stat st;
  return !base.empty() && base.size() <= 255 && ::stat(dir.c_str(), &st) == 0 &&
         S_ISDIR(st.st_mode) && ::access(dir.c_str(), W_OK) == 0;
}

}  // namespace

int store_run(std::string& path, const std::vector<RunBar>& bars, char chart_type,
              const std::string& home) {
  if (bars.empty()) return 1;
  SpliceRange range{chart_type, bars.front().bar.date, 0};
  const std::int32_t last = bars.back().bar.date;
  // A new chart is written whole: its header (type, first date, with the
  // last date at offset 118 as a store leaves it) and its bars, through one
  // replacement, the same bytes the splice would make from an empty chart.
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT) {
    std::vector<unsigned char> bytes(kHeaderSize + bars.size() * kBarSize);
    const char type[2] = {chart_type, '\n'};
    make_header(bytes.data(), type, range.first);
    if (last >= 101 && last <= 99999999)
      put_le32(bytes.data() + kHeaderDateOffset, static_cast<std::uint32_t>(last));
    for (std::size_t i = 0; i < bars.size(); ++i)
      encode_bar(bars[i].bar, bytes.data() + kHeaderSize + i * kBarSize);
    SafeReplace out(path);
    if (out.lock_failed()) return 0;  // busy: said so, nothing written
    const bool made = out.stream() != nullptr;
    // Under the lock the chart may have been made meanwhile by another
    // program: then it is merged like any chart.
    if (made && ::lstat(path.c_str(), &st) == 0) {
      out.discard();
      return store_run(path, bars, chart_type, home);
    }
    if (made && out.write(bytes.data(), bytes.size()) && out.commit()) return 1;
    // A chart that cannot be made under its name is stored as "_" in the
    // same directory, merged like any chart (an earlier "_" keeps its bars).
    // A failure of the disk (no temporary file, a short write, the rename)
    // is no reason to divert the bars: the store fails, with the disk-full
    // line when not even the temporary file could be made.
    if (name_can_be_made(path, dir_of(path))) {
      if (!made) diskfull(nullptr);
      return 0;
    }
    path = home.empty() || home == "." ? std::string("_") : home + "/_";
  }
  SpliceOptions options;
  options.fallback_name = false;
  const int ok = store_splice(
      path, range,
      [&](std::FILE* tmp) {
        // Encoded in blocks: one checked write per block, not per bar.
        constexpr std::size_t kBlock = 256;
        unsigned char buf[kBlock * kBarSize];
        std::size_t k = 0;
        for (const RunBar& rb : bars) {
          encode_bar(rb.bar, buf + k * kBarSize);
          if (++k == kBlock) {
            if (!checked_write(tmp, buf, k * kBarSize)) return 0;
            k = 0;
          }
        }
        if (k && !checked_write(tmp, buf, k * kBarSize)) return 0;
        range.last = last;
        return 1;
      },
      options);
  return ok;
}

namespace {

std::string file_part(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

Result store_text(LineReader& src, std::string& name, const TextStoreParams& params,
                  TimeOfDayDates& clock, StoreReport& report) {
  LineParser parser(params.format, params.textname, params.volume_factor, report, clock,
                    params.decimal_comma);
  DirectoryCache dirs;
  std::vector<RunBar> bars;
  std::string next;
  std::string last_path;
  Result result;
  bool refused_any = false;
  // How the run ended: the last chart stored (1) or not (0).
  auto ending = [&](int stored) {
    result.passed_over = parser.skipped();
    result.early = parser.early();
    if (refused_any) {
      result.status = Status::kRefused;  // said when it happened
    } else if (!stored) {
      result.status = Status::kFailed;
      result.message = kStoreWriteError;
    } else if (result.count == 0) {
      result.status = Status::kNothing;
      result.message = kStoreNoBar;
    } else {
      result.status = Status::kDone;
    }
    return result;
  };
  for (;;) {
    const std::string cursym = name;
    std::string dir = (!name.empty() && name[0] == '/') ? std::string() : storage_dir(params.textname, name);
    report.chart_dir(dir);
    // A directory that cannot be made: the chart goes to the current one.
    if (!dirs.ensure(dir)) dir.clear();
    std::string path = chart_path(dir, name);
    const std::string why = refused_chart_name(name, path);
    bars.clear();
    save28r(bars, cursym, src, parser, next, report);
    if (!why.empty()) {
      // Its lines are read and passed over; nothing is stored under it.
      refused_any = true;
      report.name_refused(name, why);
      if (next.empty()) {
        name = last_path;
        return ending(0);
      }
      name = next;
      continue;
    }
    order_run(bars);
    const int stored = store_run(path, bars, params.chart_type, dir);
    if (stored && !bars.empty()) {
      ++result.count;
      result.bars += static_cast<long>(bars.size());
      for (const RunBar& b : bars) result.checked.add(b.bar);
      if (result.first == 0) result.first = bars.front().bar.date;
      result.last = bars.back().bar.date;
    }
    report.chart_done(file_part(path), stored);
    if (!stored || next.empty()) {
      name = path;
      return ending(stored);
    }
    last_path = path;
    if (report.stop_between_charts()) {
      // The next symbol was not stored; the caller keeps the last chart stored.
      name = last_path;
      result.stopped = true;
      return ending(stored);
    }
    name = next;
  }
}
