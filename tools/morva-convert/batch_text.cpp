// Text to chart for batch runs: the F2 dialogue's decisions taken from the
// job instead of the keyboard, over the same core steps.
#include "tools/morva-convert/batch_text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "chartdata/globals.h"
#include "chartdata/linereader.h"
#include "convert/symbol_names.h"

namespace {

bool order_has(const FormatSettings& f, char letter) {
  return std::memchr(f.order, letter, sizeof f.order) != nullptr;
}

std::string file_part(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The first two dates are read as the window reads them; their messages
// have no place in a batch run.
class QuietReport : public TextReport {};

}  // namespace

std::string list_chart_name(const std::string& textname) {
  const std::string base = file_part(textname);
  std::size_t n = base.find('.');
  if (n == std::string::npos) n = base.size();
  return base.substr(0, std::min<std::size_t>(n, 43));
}

BatchTextStatus batch_text_decide(int fd, const BatchTextJob& job, BatchTextPlan& plan) {
  plan = BatchTextPlan{};
  const FormatSettings& f = job.format;
  const char* dot = std::strchr(job.textname.c_str(), '.');
  if (dot && std::strcmp(dot, ".EXE") == 0) return BatchTextStatus::kExecutable;

  fptextsrc = fd;
  get_the_symbol[0] = '\0';
  const bool in_list = !job.listname.empty();
  std::string& name = plan.name;
  if (order_has(f, 'S')) {
    if (!first_symbol(fd, f, name)) return BatchTextStatus::kNoSymbol;
    std::snprintf(get_the_symbol, sizeof get_the_symbol, "%s", name.c_str());
  } else if (in_list) {
    name = list_chart_name(job.textname);
  } else {
    if (job.chart.empty()) return BatchTextStatus::kNoChartName;
    name = job.chart;
  }

  // The chart type: daily when the first two dates lie 1 to 4 apart, else
  // the one the job gives (the window asks for it).
  typechart[0] = '?';
  typechart[1] = '\n';
  longsdate = 0;
  QuietReport quiet;
  std::int32_t dates[2] = {0, 0};
  int count = 0;
  first_two_dates(fd, f, get_the_symbol[0] != '\0', dates, &count, quiet);
  if (count == 2 && dates[1] - dates[0] >= 1 && dates[1] - dates[0] <= 4) {
    plan.type = 'D';
    plan.type_from_dates = true;
  } else {
    plan.type = job.type;
  }
  linereader_seek(fd, 0);
  // No date at all is told before the chart type: the type question would
  // only hide that the settings do not fit the text.
  std::int32_t name_date = 0;
  if (count == 0 && !parse_date(job.textname.c_str(), f.datecode, &name_date))
    return BatchTextStatus::kNoDate;
  if (!plan.type) return BatchTextStatus::kNeedType;
  typechart[0] = plan.type;
  longsdate = count >= 1 ? dates[0] : name_date;

  const std::string& firstname_now = in_list ? job.listname : job.textname;
  if (name == firstname_now) return BatchTextStatus::kSameName;
  return BatchTextStatus::kStored;
}

BatchTextStatus batch_text_to_chart(int fd, const BatchTextJob& job, StoreReport& report,
                                    BatchTextResult& result) {
  result = BatchTextResult{};
  BatchTextPlan plan;
  if (BatchTextStatus s = batch_text_decide(fd, job, plan); s != BatchTextStatus::kStored) {
    result.status = s;
    return s;
  }
  result.type = plan.type;
  result.type_from_dates = plan.type_from_dates;
  // sendto_morva's work.
  TextStoreParams params;
  params.format = job.format;
  params.textname = job.textname;
  params.volume_factor = volume_factor(!job.listname.empty(), job.listname.c_str());
  params.chart_type = plan.type;
  params.decimal_comma = job.decimal_comma;
  std::string name = plan.name;
  TextSource src(fd);
  const long written_before = report.charts_written;
  const int ok = store_text(src, name, params, report);
  get_the_symbol[0] = '\0';
  result.last_path = name;
  result.charts_written = report.charts_written - written_before;
  result.status = ok ? BatchTextStatus::kStored : BatchTextStatus::kStoreFailed;
  return result.status;
}

void batch_text_scan(int fd, const BatchTextJob& job, const BatchTextPlan& plan, BatchTextScan& scan) {
  const int saved_tentimes = tentimes, saved_date = telerate_date;
  const BarRecord saved_bb = bb;
  TextReport quiet;
  LineParser parser(job.format, job.textname, volume_factor(!job.listname.empty(), job.listname.c_str()),
                    quiet, job.decimal_comma);
  linereader_seek(fd, 0);
  {
    TextSource src(fd);
    std::string name = plan.name;
    std::vector<RunBar> bars;
    std::string_view line;
    ParsedLine p;
    long number = 0;
    bool again = false;  // the next line is the one given back
    for (;;) {
      const std::string sym = name;
      std::string dir = (!name.empty() && name[0] == '/') ? std::string() : storage_dir(job.textname, name);
      const std::string path = chart_path(dir, name);
      bars.clear();
      std::string next;
      // The lines of one run, as save28r reads them.
      while (src.next(line)) {
        if (!again) ++number;
        again = false;
        parser.parse(line, sym, p);
        if (p.kind == LineKind::kSymbolChange) {
          next = p.symbol;
          src.unread();
          again = true;
          break;
        }
        scan.line(number, line, p);
        if (p.kind == LineKind::kBar) bars.push_back({p.bar, p.synthetic});
      }
      order_run(bars);
      scan.run(path, bars);
      if (next.empty()) break;
      name = next;
    }
  }
  linereader_seek(fd, 0);
  tentimes = saved_tentimes;
  telerate_date = saved_date;
  bb = saved_bb;
}
