// Text to chart for batch runs: the F2 dialogue's decisions taken from the
// job instead of the keyboard, over the same core steps.
#include "tools/morva-convert/batch_text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "chartdata/linereader.h"
#include "convert/symbol_names.h"
#include "convert/text_layout.h"

namespace {

bool order_has(const FormatSettings& f, char letter) {
  return std::memchr(f.order, letter, sizeof f.order) != nullptr;
}

std::string file_part(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string order_text(const FormatSettings& f) {
  std::string s(f.order, 12);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// The first two dates are read as the window reads them; their messages
// have no place in a batch run.
class QuietReport : public TextReport {};

Result refused(Status status, const BatchTextJob& job, const std::string& why) {
  Result r;
  r.status = status;
  r.message = (job.shown.empty() ? job.textname : job.shown) + ": " + why;
  return r;
}

}  // namespace

std::string list_chart_name(const std::string& textname) {
  const std::string base = file_part(textname);
  std::size_t n = base.find('.');
  if (n == std::string::npos) n = base.size();
  return base.substr(0, std::min<std::size_t>(n, 43));
}

namespace {

std::string order_said(const BatchTextJob& job) {
  return "the order " + order_text(job.format) + (job.order_from.empty() ? "" : " (" + job.order_from + ")");
}

}  // namespace

Result batch_text_decide(int fd, const BatchTextJob& job, BatchTextPlan& plan, TimeOfDayDates& clock,
                         StoreReport* report) {
  plan = BatchTextPlan{};
  const FormatSettings& f = job.format;
  const char* dot = std::strchr(job.textname.c_str(), '.');
  if (dot && std::strcmp(dot, ".EXE") == 0)
    return refused(Status::kNothing, job, "a .EXE file is a program, not prices; unpack it first");

  const bool in_list = !job.listname.empty();
  const bool symbols = order_has(f, 'S');
  std::string& name = plan.name;
  if (symbols) {
    if (!first_symbol(fd, f, name))
      return refused(Status::kNothing, job, "no line holds a symbol in the S column of " + order_said(job));
  } else if (in_list) {
    name = list_chart_name(job.textname);
  } else {
    if (job.chart.empty())
      return refused(Status::kRefused, job, "give --chart NAME (" + order_said(job) + " has no S column)");
    name = job.chart;
  }

  plan.type = job.type;
  // No date at all is told before anything else: the type question would
  // only hide that the settings do not fit the text.  A look that moves no
  // time-of-day date: the plan's reading gives the same dates as the window's.
  QuietReport quiet;
  std::int32_t dates[2] = {0, 0};
  int count = 0;
  TimeOfDayDates look = clock;
  first_two_dates(fd, f, symbols && !name.empty(), dates, &count, quiet, look);
  linereader_seek(fd, 0);
  std::int32_t name_date = 0;
  if (count == 0 && !parse_date(job.textname.c_str(), f.datecode, &name_date, look))
    return refused(Status::kRefused, job,
                   "no line holds a date in the date format " + date_format_option_text(f.datecode) +
                       (f.datecode == 0 ? " (or yyyy-mm-dd)" : "") + " with " + order_said(job) +
                       ", nor does its name; give --date-format and --order" + (job.detected ? "" : ", or --auto"));

  // The whole text, planned by the core: each chart found on disk or new,
  // a new chart's type from its own dates, else the job's.
  TextStoreParams params;
  params.format = f;
  params.textname = job.textname;
  params.volume_factor = volume_factor(in_list, job.listname.c_str());
  params.chart_type = job.type;
  params.decimal_comma = job.decimal_comma;
  params.chart_dir = job.chart_dir;
  Result planned;
  {
    StoreReport none;
    LineReader src(fd);
    planned = plan_text(src, name, params, clock, report ? *report : none, plan.charts);
  }
  linereader_seek(fd, 0);
  if (!planned.ok())
    return refused(Status::kRefused, job,
                   planned.message + "; give --type daily, weekly, monthly or numbered" +
                       (job.times_of_day ? " (its lines carry times of day: give --type daily to store the "
                                           "last line of each day)"
                                         : ""));
  for (const ChartPlan& c : plan.charts.charts)
    if (!c.bars.empty() && !c.exists && c.type) {
      plan.type = c.type;
      break;
    }

  const std::string& firstname_now = in_list ? job.listname : job.textname;
  if (name == firstname_now)
    return refused(Status::kRefused, job, "the chart would have the source's own name; give another --chart");
  Result r;
  r.status = Status::kDone;
  return r;
}

Result batch_text_to_chart(int fd, const BatchTextJob& job, StoreReport& report, TimeOfDayDates& clock,
                           std::string* last_path) {
  BatchTextPlan plan;
  if (Result r = batch_text_decide(fd, job, plan, clock, &report); !r.ok()) return r;
  return batch_text_store(fd, job, plan, report, clock, last_path);
}

Result batch_text_store(int, const BatchTextJob&, const BatchTextPlan& plan, StoreReport& report,
                        TimeOfDayDates&, std::string* last_path) {
  // sendto_morva's work, on the bars the plan read.
  std::string name;
  const Result r = store_plan(plan.charts, name, report);
  if (last_path) *last_path = name;
  return r;
}

void batch_text_scan(int fd, const BatchTextJob& job, const BatchTextPlan& plan, BatchTextScan& scan,
                     TimeOfDayDates clock) {
  TextReport quiet;
  LineParser parser(job.format, job.textname, volume_factor(!job.listname.empty(), job.listname.c_str()),
                    quiet, clock, job.decimal_comma);
  linereader_seek(fd, 0);
  {
    LineReader src(fd);
    std::string name = plan.name;
    std::string_view line;
    ParsedLine p;
    long number = 0;
    bool again = false;  // the next line is the one given back
    for (;;) {
      const std::string sym = name;
      std::string next;
      // The lines of one run, as the plan read them.
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
      }
      if (next.empty()) break;
      name = next;
    }
  }
  linereader_seek(fd, 0);
  for (const ChartPlan& c : plan.charts.charts)
    if (!c.bars.empty()) scan.run(c);
}
