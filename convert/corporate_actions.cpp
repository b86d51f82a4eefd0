#include "convert/corporate_actions.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include "chartdata/safe_replace.h"
#include "convert/adjust.h"
#include "convert/chart_check.h"
#include "convert/chart_output.h"
#include "convert/text_to_chart.h"

namespace {

enum Column { kSymbol, kDate, kSplit, kDividend, kNone };

// Header names of the columns, letters only and lower case.
constexpr std::pair<const char*, Column> kColumnNames[] = {
    {"symbol", kSymbol},     {"ticker", kSymbol},        {"code", kSymbol},         {"stock", kSymbol},
    {"date", kDate},         {"exdate", kDate},          {"exdividenddate", kDate}, {"effectivedate", kDate},
    {"day", kDate},          {"datum", kDate},           {"split", kSplit},         {"splits", kSplit},
    {"ratio", kSplit},       {"splitratio", kSplit},     {"stocksplits", kSplit},   {"splitfactor", kSplit},
    {"dividend", kDividend}, {"dividends", kDividend},   {"amount", kDividend},     {"cashamount", kDividend},
    {"dividende", kDividend}, {"value", kDividend},
};

// Date codes of the text reader tried in turn: yyyymmdd (and ISO),
// dd.mm.yyyy, 31dec24.
constexpr int kDateCodes[] = {0, 4, 1};

std::string key_of(const std::string& field) {
  std::string k;
  for (char c : field)
    if (std::isalpha(static_cast<unsigned char>(c))) k += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return k;
}

std::vector<std::string> fields_of(const std::string& line, char sep) {
  std::vector<std::string> out;
  std::string cur;
  auto push = [&] {
    std::size_t a = cur.find_first_not_of(" \t\""), b = cur.find_last_not_of(" \t\"");
    out.push_back(a == std::string::npos ? "" : cur.substr(a, b - a + 1));
    cur.clear();
  };
  for (char c : line) {
    if (c == sep) push();
    else cur += c;
  }
  push();
  return out;
}

bool read_date(const std::string& text, std::int32_t* date) {
  TimeOfDayDates clock;
  for (int code : kDateCodes) {
    bool synthetic = false;
    if (parse_date(text.c_str(), code, date, clock, &synthetic) && !synthetic) return true;
  }
  return false;
}

// A number in either decimal notation (a decimal comma where the field
// has no point).
bool read_number(std::string text, double* v) {
  if (text.find('.') == std::string::npos) std::replace(text.begin(), text.end(), ',', '.');
  char* end = nullptr;
  *v = std::strtod(text.c_str(), &end);
  return !text.empty() && end && *end == '\0' && std::isfinite(*v);
}

// A split as N:M, or one number x as x:1 (below 1: 1:(1/x)).
bool read_split(const std::string& text, int* n, int* m) {
  if (parse_split(text, n, m)) return true;
  double x = 0;
  if (!read_number(text, &x) || !(x > 0) || x == 1) return false;
  for (int d = 1; d <= 10; ++d) {
    const double up = x * d, down = d / x;
    if (std::fabs(up - std::nearbyint(up)) < 1e-6 && up < 1e6) {
      *n = static_cast<int>(std::nearbyint(up)), *m = d;
      return true;
    }
    if (std::fabs(down - std::nearbyint(down)) < 1e-6 && down < 1e6) {
      *n = d, *m = static_cast<int>(std::nearbyint(down));
      return true;
    }
  }
  return false;
}

std::string dir_part(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string base_part(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void make_dirs(const std::string& dir) {
  std::size_t at = 0;
  while ((at = dir.find('/', at + 1)) != std::string::npos) ::mkdir(dir.substr(0, at).c_str(), 0777);
  ::mkdir(dir.c_str(), 0777);
}

}  // namespace

std::string CorporateAction::text() const {
  if (split) return "split " + std::to_string(n) + ":" + std::to_string(m);
  char buf[48];
  std::snprintf(buf, sizeof buf, "dividend %.10g", amount);
  return buf;
}

ActionFile read_actions(const std::string& text) {
  ActionFile out;
  std::istringstream in(text);
  std::string line;
  long no = 0;
  char sep = 0;
  int col[4] = {0, 1, -1, -1};  // symbol, date, split, dividend; -1: none
  bool by_shape = true;         // no header: the value's shape tells its kind
  while (std::getline(in, line)) {
    ++no;
    if (no == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (!sep) {
      for (char c : {'\t', ';', '|', ','})
        if (line.find(c) != std::string::npos) {
          sep = c;
          break;
        }
      if (!sep) sep = ',';
      const std::vector<std::string> names = fields_of(line, sep);
      if (std::none_of(line.begin(), line.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        col[0] = col[1] = col[2] = col[3] = -1;
        for (std::size_t i = 0; i < names.size(); ++i)
          for (auto [name, c] : kColumnNames)
            if (key_of(names[i]) == name && col[c] < 0) col[c] = static_cast<int>(i);
        by_shape = false;
        if (col[kSymbol] < 0 || col[kDate] < 0 || (col[kSplit] < 0 && col[kDividend] < 0)) {
          out.problems.push_back("line " + std::to_string(no) +
                                 ": the header names no symbol, date, and split or dividend column");
          return out;
        }
        continue;
      }
    }
    const std::vector<std::string> f = fields_of(line, sep);
    auto field = [&](int c) { return c >= 0 && c < static_cast<int>(f.size()) ? f[c] : std::string(); };
    CorporateAction a;
    a.line = no;
    a.symbol = field(col[kSymbol]);
    const std::string date = field(col[kDate]);
    if (a.symbol.empty()) {
      out.problems.push_back("line " + std::to_string(no) + ": no symbol");
      continue;
    }
    if (!read_date(date, &a.date)) {
      out.problems.push_back("line " + std::to_string(no) + ": '" + date + "' is not a date");
      continue;
    }
    std::vector<std::pair<Column, std::string>> values;
    if (by_shape) {
      const std::string v = field(2);
      values.push_back({v.find_first_of(":/") != std::string::npos || v.find("for") != std::string::npos ? kSplit
                                                                                                          : kDividend,
                        v});
    } else {
      for (Column c : {kSplit, kDividend})
        if (col[c] >= 0) values.push_back({c, field(col[c])});
    }
    bool any = false;
    for (const auto& [kind, v] : values) {
      if (v.empty()) continue;
      CorporateAction x = a;
      x.split = kind == kSplit;
      double amount = 0;
      if (x.split ? !read_split(v, &x.n, &x.m) : !read_number(v, &amount) || amount < 0) {
        out.problems.push_back("line " + std::to_string(no) + ": '" + v + "' is not a " +
                               (x.split ? "split ratio such as 4:1" : "dividend amount"));
        any = true;
        continue;
      }
      if (!x.split && amount == 0) continue;
      x.amount = amount;
      out.actions.push_back(x);
      any = true;
    }
    if (!any) out.problems.push_back("line " + std::to_string(no) + ": no split or dividend");
  }
  return out;
}

SymbolCharts charts_by_symbol(const std::string& root) {
  std::vector<std::string> files, unlisted;
  list_charts(root, files, unlisted);
  SymbolCharts out;
  for (const std::string& f : files) {
    std::string name = base_part(f);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    out[name].push_back(f);
    if (const std::size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0)
      out[name.substr(0, dot)].push_back(f);
  }
  return out;
}

std::vector<std::string> charts_of_symbol(const SymbolCharts& charts, const std::string& symbol) {
  std::string key = symbol;
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::vector<std::string> found;
  const auto it = charts.find(key);
  if (it == charts.end()) return found;
  for (const std::string& c : it->second) {
    if (std::find(found.begin(), found.end(), c) != found.end()) continue;
    unsigned char head[kHeaderSize];
    const int fd = ::open(c.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    const ssize_t got = ::pread(fd, head, sizeof head, 0);
    ::close(fd);
    if (got > 0 && looks_like_chart(head, static_cast<std::size_t>(got))) found.push_back(c);
  }
  return found;
}

std::vector<JournalEntry> read_journal(const std::string& path) {
  std::vector<JournalEntry> out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> f;
    std::size_t at = 0, tab;
    while ((tab = line.find('\t', at)) != std::string::npos) {
      f.push_back(line.substr(at, tab - at));
      at = tab + 1;
    }
    f.push_back(line.substr(at));
    if (f.size() < 6) continue;
    out.push_back({f[0], f[1], f[2], static_cast<std::int32_t>(std::atol(f[3].c_str())), f[4], f[5]});
  }
  return out;
}

int write_journal(const std::string& path, const std::vector<JournalEntry>& entries) {
  std::string text = "# run\tchart\taction\tex-date\tstate\tchart hash after the run\n";
  for (const JournalEntry& e : entries)
    text += e.run + '\t' + e.chart + '\t' + e.action + '\t' + std::to_string(e.date) + '\t' + e.state + '\t' +
            e.hash + '\n';
  return replace_file(path, {reinterpret_cast<const unsigned char*>(text.data()), text.size()},
                      SafeReplace::Locking::kNone);
}

namespace {
std::string action_key(const std::string& chart, const std::string& action, std::int32_t date) {
  return chart + '\t' + action + '\t' + std::to_string(date);
}
}  // namespace

AppliedActions::AppliedActions(const std::vector<JournalEntry>& journal) {
  for (const JournalEntry& e : journal) add(e);
}

void AppliedActions::add(const JournalEntry& e) {
  if (e.state == "applied") runs_[action_key(e.chart, e.action, e.date)] = e.run;
}

bool AppliedActions::has(const std::string& chart, const CorporateAction& action, std::string* run) const {
  const auto it = runs_.find(action_key(chart, action.text(), action.date));
  if (it == runs_.end()) return false;
  if (run) *run = it->second;
  return true;
}

std::string new_run_id() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d%02d%02dT%02d%02d%02d-%ld", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<long>(::getpid()));
  return buf;
}

std::string bytes_hash(std::span<const unsigned char> bytes) {
  // FNV-1a over 64-bit words (little-endian), then the bytes left over.
  std::uint64_t h = 1469598103934665603ull;
  std::size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    std::uint64_t w = 0;
    for (int k = 7; k >= 0; --k) w = w << 8 | bytes[i + static_cast<std::size_t>(k)];
    h = (h ^ w) * 1099511628211ull;
  }
  for (; i < bytes.size(); ++i) h = (h ^ bytes[i]) * 1099511628211ull;
  h ^= bytes.size();
  char buf[24];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
  return buf;
}

std::string undo_copy_name(const std::string& chart, const std::string& run) {
  return dir_part(chart) + "/" + kUndoFolder + "/" + run + "/" + base_part(chart);
}

Result apply_chart_actions(const std::string& chart, std::span<const CorporateAction> actions,
                           const std::string& run, std::string& hash) {
  Result r;
  SafeReplace out(chart);  // the chart's lock from here on
  if (!out.ok()) return pass_ending(Status::kFailed, kUnableToWriteMessage);
  ChartImage image;
  std::vector<unsigned char> buffer;
  if (chart_not_loaded(chart, image, buffer, nullptr, r)) return r;
  // The factors, all from the chart as stored.
  std::vector<AdjustRequest> steps;
  for (const CorporateAction& a : actions) {
    if (a.split) {
      steps.push_back(split_request(a.n, a.m, a.date));
      continue;
    }
    AdjustRequest d;
    const Result f = dividend_request(a.amount, a.date, image.bars, d);
    if (!f.ok()) {
      r.status = Status::kRefused;
      r.message = a.text() + " before " + std::to_string(a.date) + ": " + f.message;
      return r;
    }
    steps.push_back(d);
  }
  // The bars that change are written over their records in the bytes read;
  // the others (and a record cut short at the end) stay byte for byte.
  const std::size_t size = kHeaderSize + image.bars.size() * kBarSize + image.trailing;
  for (std::size_t i = 0; i < image.bars.size(); ++i) {
    const BarRecord& b = image.bars[i];
    double price = 1, volume = 1;
    for (const AdjustRequest& s : steps)
      if (s.changes(b.date)) price *= s.price_factor, volume *= s.volume_factor;
    if (price == 1 && volume == 1) continue;
    if (!scale_fits(b, price, volume)) {
      r = pass_ending(Status::kRefused, kOutOfRangeMessage);
      r.last = b.date;
      return r;
    }
    encode_bar(scale_bar(b, price, volume), buffer.data() + kHeaderSize + i * kBarSize);
    ++r.count;
  }
  const std::span<const unsigned char> bytes(buffer.data(), size);
  // The chart as it was stays under a second name: the rename of the new
  // chart leaves the old file untouched, so a link keeps it without a copy.
  const std::string copy = undo_copy_name(chart, run);
  const std::string real = resolve_target(chart);
  std::vector<unsigned char> before;
  int linked = ::link(real.c_str(), copy.c_str());
  if (linked != 0 && errno == ENOENT) {  // the run's folder is made with its first chart
    make_dirs(dir_part(copy));
    linked = ::link(real.c_str(), copy.c_str());
  }
  if (linked != 0 && errno == EEXIST) {
    ::unlink(copy.c_str());
    linked = ::link(real.c_str(), copy.c_str());
  }
  if (linked != 0) {  // no second name for the old file here: a copy of its bytes
    ChartImage old;
    std::vector<unsigned char> again;
    if (!load_chart(chart, old, again).empty()) return pass_ending(Status::kFailed, kUnableToWriteMessage);
    before = chart_image_bytes(old);
    before.insert(before.end(), again.data() + before.size(), again.data() + before.size() + old.trailing);
  }
  if (linked != 0 && !replace_file(copy, before, SafeReplace::Locking::kNone))
    return pass_ending(Status::kFailed, kUnableToWriteMessage);
  if (!out.write(bytes.data(), bytes.size()) || !out.commit()) {
    ::unlink(copy.c_str());
    return pass_ending(Status::kFailed, kUnableToWriteMessage);
  }
  hash = bytes_hash(bytes);
  r.status = Status::kDone;
  return r;
}

Result undo_chart_actions(const std::string& chart, const std::string& run, const std::string& hash) {
  Result r;
  r.status = Status::kRefused;
  const std::string copy = undo_copy_name(chart, run);
  std::ifstream in(copy, std::ios::binary);
  if (!in) {
    r.message = "its copy from before the run (" + copy + ") is missing";
    return r;
  }
  const std::vector<unsigned char> before((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  SafeReplace out(chart);  // the chart's lock from here on
  if (!out.ok()) return pass_ending(Status::kFailed, kUnableToWriteMessage);
  std::ifstream now_in(chart, std::ios::binary);
  const std::vector<unsigned char> now((std::istreambuf_iterator<char>(now_in)), std::istreambuf_iterator<char>());
  if (bytes_hash(now) != hash) {
    r.message = "it changed after the run; it was left as it is";
    return r;
  }
  if (!out.write(before.data(), before.size()) || !out.commit())
    return pass_ending(Status::kFailed, kUnableToWriteMessage);
  r.status = Status::kDone;
  return r;
}
