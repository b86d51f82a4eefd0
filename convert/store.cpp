// Store core: symbol runs of a text into charts, through the store splice.
// No screen.
#include "convert/store.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <unordered_map>

#include "chartdata/chartfile.h"
#include "chartdata/faults.h"
#include "chartdata/osshims.h"
#include "chartdata/safe_replace.h"
#include "chartdata/splice.h"
#include "convert/symbol_names.h"

std::size_t order_run(std::vector<RunBar>& bars) {
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
  const std::size_t replaced = bars.size() - w;
  bars.resize(w);
  return replaced;
}

char chart_type_from_dates(const std::vector<RunBar>& bars) {
  long steps = 0, daily = 0;
  std::int32_t prev = 0;
  bool have = false;
  for (const RunBar& b : bars) {
    if (b.synthetic) continue;  // a time of day tells nothing of the spacing
    if (have) {
      if (b.bar.date == prev) continue;
      const std::int64_t step = std::int64_t(b.bar.date) - prev;
      ++steps;
      if (step >= 1 && step <= 4) ++daily;
    }
    prev = b.bar.date;
    have = true;
  }
  return steps > 0 && 2 * daily > steps ? 'D' : 0;
}

namespace {

std::string lowered(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

}  // namespace

void ChartLookup::list_dir(const std::string& dir) {
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  while (const dirent* e = ::readdir(d)) {
    if (e->d_name[0] == '.') continue;
    if (e->d_type != DT_REG && e->d_type != DT_UNKNOWN) continue;
    files_.emplace_back(lowered(e->d_name), dir + "/" + e->d_name);
  }
  ::closedir(d);
}

void ChartLookup::list() {
  listed_ = true;
  std::vector<std::string> dirs;
  if (DIR* d = ::opendir(".")) {
    while (const dirent* e = ::readdir(d)) {
      if (e->d_name[0] == '.') continue;
      if (e->d_type != DT_DIR && e->d_type != DT_UNKNOWN) continue;
      struct stat st;
      if (e->d_type == DT_UNKNOWN && (::stat(e->d_name, &st) != 0 || !S_ISDIR(st.st_mode))) continue;
      dirs.emplace_back(e->d_name);
    }
    ::closedir(d);
  }
  // A folder of new charts outside the data directory is looked in too.
  if (!extra_.empty() && std::find(dirs.begin(), dirs.end(), extra_) == dirs.end()) dirs.push_back(extra_);
  std::sort(dirs.begin(), dirs.end());
  for (const std::string& dir : dirs) list_dir(dir);
  std::sort(files_.begin(), files_.end());
}

std::vector<std::string> ChartLookup::find(const std::string& name) {
  if (!listed_) list();
  std::vector<std::string> found;
  const std::string key = lowered(name);
  auto it = std::lower_bound(files_.begin(), files_.end(), std::make_pair(key, std::string()));
  for (; it != files_.end() && it->first == key; ++it) {
    // A chart is a header and whole bars; a text or other file of the same
    // name is not taken for one.
    struct stat st;
    if (::stat(it->second.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    const auto size = static_cast<std::size_t>(st.st_size);
    if (size < kHeaderSize || (size - kHeaderSize) % kBarSize != 0) continue;
    found.push_back(it->second);
  }
  return found;
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

namespace {

// The symbol as the text writes it, for telling two symbols apart: blanks
// and quotes around it dropped, letters in upper case.
std::string source_key(const std::string& field) {
  std::size_t a = 0, b = field.size();
  while (a < b && (field[a] == ' ' || field[a] == '\t' || field[a] == '"' || field[a] == '\'')) ++a;
  while (b > a && (field[b - 1] == ' ' || field[b - 1] == '\t' || field[b - 1] == '"' || field[b - 1] == '\'')) --b;
  std::string key = field.substr(a, b - a);
  for (char& c : key)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return key;
}

bool has_symbol_column(const FormatSettings& f) {
  return std::find(std::begin(f.order), std::end(f.order), 'S') != std::end(f.order);
}

}  // namespace

Result plan_text(LineReader& src, const std::string& first, const TextStoreParams& params,
                 TimeOfDayDates& clock, StoreReport& report, TextPlan& plan) {
  plan.charts.clear();
  LineParser parser(params.format, params.textname, params.volume_factor, report, clock,
                    params.decimal_comma);
  const bool symbols = has_symbol_column(params.format);
  std::unordered_map<std::string, std::size_t> index;
  std::vector<std::string> clash;  // per chart: another symbol making its name
  // Per chart: the dates of its lines before the start date, which tell the
  // spacing of its dates as well as the bars do.
  std::vector<std::vector<RunBar>> early;
  std::string name = first;
  std::string_view line;
  ParsedLine p;
  // Every run of lines of one symbol joins the bars of that symbol's chart,
  // wherever in the text it stands.
  for (;;) {
    const auto [at, fresh] = index.try_emplace(name, plan.charts.size());
    if (fresh) {
      plan.charts.emplace_back();
      plan.charts.back().name = name;
      plan.charts.back().source = symbols ? std::string() : name;
      clash.emplace_back();
      early.emplace_back();
    }
    const std::size_t k = at->second;
    std::vector<RunBar>& bars = plan.charts[k].bars;
    const std::string sym = name;
    std::string next;
    bool sourced = !symbols;
    std::string run_field;  // the symbol field of the run's last bar
    int count = 0;
    while (src.next(line)) {
      parser.parse(line, sym, p);
      if (p.kind == LineKind::kSymbolChange) {
        next = p.symbol;
        src.unread();
        break;
      }
      if (p.kind == LineKind::kEarly) early[k].push_back({p.bar, p.synthetic});
      if (p.kind != LineKind::kBar) continue;
      // Two symbols may make one name and so one run ("AAPL" and "AAPL
      // 240119C00150000"): each line's field is compared, a few bytes.
      if (symbols && (!sourced || parser.source_symbol() != run_field)) {
        sourced = true;
        run_field = parser.source_symbol();
        std::string& source = plan.charts[k].source;
        if (source.empty())
          source = run_field;
        else if (clash[k].empty() && source_key(run_field) != source_key(source))
          clash[k] = run_field;
      }
      bars.push_back({p.bar, p.synthetic});
      if (++count % 10 == 0) report.progress(p.bar);
    }
    if (next.empty()) break;
    name = next;
  }
  plan.skipped = parser.skipped();
  plan.early = parser.early();

  ChartLookup lookup(params.chart_dir);
  std::vector<std::size_t> undecided;
  char text_type = 0;  // the type the dates of the text's other new charts show
  for (std::size_t k = 0; k < plan.charts.size(); ++k) {
    ChartPlan& c = plan.charts[k];
    if (c.bars.empty()) continue;
    c.duplicates = static_cast<long>(order_run(c.bars));
    if (!clash[k].empty())
      c.refused = "the symbols " + printable_name(c.source) + " and " + printable_name(clash[k]) +
                  " both make the chart name " + printable_name(c.name) + "; neither is stored";
    const bool plain = !c.name.empty() && c.name.find('/') == std::string::npos;
    if (c.name.empty() || c.name[0] != '/')
      c.dir = plain && !params.chart_dir.empty() ? params.chart_dir : storage_dir(params.textname, c.name);
    c.path = chart_path(c.dir, c.name);
    struct stat st;
    c.exists = ::lstat(c.path.c_str(), &st) == 0;
    if (!c.exists && plain) {
      // The chart may live in another storage folder, or under other letters.
      const std::vector<std::string> found = lookup.find(c.name);
      if (found.size() == 1) {
        c.path = found[0];
        c.dir = dir_of(c.path);
        c.exists = true;
      } else if (found.size() > 1 && c.refused.empty()) {
        c.refused = std::to_string(found.size()) + " charts of that name were found:";
        for (const std::string& f : found) c.refused += " " + printable_name(f);
        c.refused += "; keep one of them";
      }
    }
    if (c.refused.empty()) c.refused = refused_chart_name(c.name, c.path);
    if (c.exists || !c.refused.empty()) continue;
    if (early[k].empty()) {
      c.type = chart_type_from_dates(c.bars);
    } else {
      std::vector<RunBar> all = early[k];
      all.insert(all.end(), c.bars.begin(), c.bars.end());
      order_run(all);
      c.type = chart_type_from_dates(all);
    }
    if (c.type)
      text_type = c.type;
    else
      undecided.push_back(k);
  }
  Result r;
  r.status = Status::kDone;
  if (undecided.empty()) return r;
  char type = text_type ? text_type : params.chart_type;
  if (!type) {
    std::vector<std::string> names;
    for (std::size_t k : undecided) names.push_back(plan.charts[k].path);
    type = report.new_chart_type(names);
    if (!type) {
      r.status = Status::kRefused;
      r.stopped = true;
      r.message = std::string("the dates of the new chart") + (names.size() > 1 ? "s" : "");
      for (std::size_t i = 0; i < names.size() && i < 3; ++i) r.message += (i ? ", " : " ") + names[i];
      if (names.size() > 3) r.message += " and " + std::to_string(names.size() - 3) + " more";
      r.message += " do not show a daily chart";
      return r;
    }
  }
  for (std::size_t k : undecided) plan.charts[k].type = type;
  return r;
}

Result store_plan(const TextPlan& plan, std::string& name, StoreReport& report) {
  DirectoryCache dirs;
  Result result;
  bool refused_any = false;
  std::string last_written;
  std::size_t left = 0;
  for (const ChartPlan& c : plan.charts) left += c.bars.empty() ? 0 : 1;
  // How the run ended: the last chart stored (1) or not (0).
  auto ending = [&](int stored) {
    name = last_written;
    result.passed_over += plan.skipped;
    result.early = plan.early;
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
  for (const ChartPlan& c : plan.charts) {
    // A symbol without a bar (a heading word, a line of dashes) makes no chart.
    if (c.bars.empty()) continue;
    --left;
    if (!c.refused.empty()) {
      refused_any = true;
      ++result.failed;
      report.name_refused(c.name, c.refused);
      continue;
    }
    report.chart_start(c);
    report.chart_dir(c.dir);
    std::string dir = c.dir, path = c.path;
    // A directory that cannot be made: the chart goes to the current one.
    if (!c.exists && !dirs.ensure(dir)) {
      dir.clear();
      path = chart_path(dir, c.name);
    }
    const int stored = store_run(path, c.bars, c.type ? c.type : 'D', dir);
    if (stored) {
      ++result.count;
      result.passed_over += c.duplicates;
      result.repeated += c.duplicates;
      result.bars += static_cast<long>(c.bars.size());
      for (const RunBar& b : c.bars) result.bar_check.add(b.bar);
      if (result.first == 0 || c.bars.front().bar.date < result.first) result.first = c.bars.front().bar.date;
      result.last = std::max(result.last, c.bars.back().bar.date);
      last_written = path;
    }
    report.chart_done(file_part(path), stored);
    if (!stored) return ending(0);
    if (left > 0 && report.stop_between_charts()) {
      // The next symbols are not stored; the caller keeps the last chart stored.
      result.stopped = true;
      return ending(1);
    }
  }
  return ending(1);
}

Result store_text(LineReader& src, std::string& name, const TextStoreParams& params,
                  TimeOfDayDates& clock, StoreReport& report) {
  TextPlan plan;
  Result r = plan_text(src, name, params, clock, report, plan);
  if (!r.ok()) return r;
  return store_plan(plan, name, report);
}
