// check and repair: a whole tree of charts audited, and its mechanical
// faults mended.  check only reads; repair writes each chart it mends
// through the one write path under the chart's lock.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>

#include "cli.h"
#include "convert/chart_check.h"

namespace mc {

namespace {

// A word for a shell: quoted when it holds anything but plain characters.
std::string shell_word(const std::string& w) {
  if (!w.empty() && w.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-.,:/+=@%") ==
                        std::string::npos)
    return w;
  std::string q = "'";
  for (char c : w) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string json_text(const std::string& s) {
  std::string o = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') o += '\\', o += static_cast<char>(c);
    else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      o += buf;
    } else o += static_cast<char>(c);
  }
  return o + "\"";
}

// The charts named (or the whole data directory), in order.
std::vector<std::string> charts_of(const std::vector<std::string>& paths, std::vector<std::string>& unlisted) {
  std::vector<std::string> charts;
  for (const std::string& p : paths.empty() ? std::vector<std::string>{"."} : paths) list_charts(p, charts, unlisted);
  return charts;
}

// A percentage option: a number above 0.
double fraction_option(const std::string& name, const std::string& text) {
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(v > 0) || v > 10000)
    throw UsageError{name + " '" + text + "': give a percentage above 0, such as 40"};
  return v / 100;
}

// ---- check ---------------------------------------------------------------------

class Check : public Command {
 public:
  Check(CLI::App& parent, CommonOptions& common) : common_(common) {
    app = parent.add_subcommand("check",
                                "Report what is wrong in charts: structure, order of dates, bar values and "
                                "suspicious prices (default: every chart of the data directory); writes nothing");
    app->add_option("PATH", paths_, "Charts or folders (folders are searched through)")->type_name("PATH");
    app->add_flag("--json", json_, "One JSON object per line for each finding, and one for the summary");
    app->add_option("--reference", reference_,
                    "A chart whose days every daily chart is compared with: days it has and the chart lacks, "
                    "and the reverse")
        ->type_name("CHART");
    app->add_option("--max-move", move_, "A close-to-close move reported beyond this percentage (40)")
        ->type_name("PERCENT");
    app->add_option("--split-tolerance", split_tol_,
                    "How near a jump must come to a split ratio, in percent (8)")
        ->type_name("PERCENT");
    app->add_option("--unit-tolerance", unit_tol_, "How near a jump must come to a factor of 100, in percent (15)")
        ->type_name("PERCENT");
    app->add_option("--split-bars", limits_.split_bars, "Bars the level after a split must last (5)")
        ->type_name("N");
    app->add_flag("--quiet,-q", common.quiet, "Only the summary");
    add_location_options(app, common);
  }

  int run() override {
    Run run(common_);
    if (!run.prepare(false)) return run.status();
    if (!move_.empty()) limits_.max_move = fraction_option("--max-move", move_);
    if (!split_tol_.empty()) limits_.split_tolerance = fraction_option("--split-tolerance", split_tol_);
    if (!unit_tol_.empty()) limits_.unit_tolerance = fraction_option("--unit-tolerance", unit_tol_);
    if (limits_.split_bars < 2 || limits_.split_bars > 1000)
      throw UsageError{"--split-bars " + std::to_string(limits_.split_bars) + ": give 2 to 1000"};
    ChartImage image;
    std::vector<unsigned char> buffer;
    std::vector<std::int32_t> ref_dates;
    if (!reference_.empty()) {
      if (const std::string why = load_chart(reference_, image, buffer); !why.empty())
        throw FileProblem{"--reference " + absolute_here(reference_) + ": " + why};
      for (const BarRecord& b : image.bars) ref_dates.push_back(b.date);
      std::sort(ref_dates.begin(), ref_dates.end());
      ref_dates.erase(std::unique(ref_dates.begin(), ref_dates.end()), ref_dates.end());
    }
    const std::string prefix =
        "morva-convert " + (common_.data_dir.empty() ? "" : "--data-dir " + shell_word(run.data_dir()) + " ");
    std::vector<std::string> unlisted;
    const std::vector<std::string> charts = charts_of(paths_, unlisted);
    for (const std::string& u : unlisted) run.failed("cannot read " + absolute_here(u));
    long counts[kCheckKinds] = {}, findings = 0, checked = 0;
    auto report = [&](const std::string& chart, const Finding& f) {
      ++counts[static_cast<int>(f.kind)];
      ++findings;
      if (common_.quiet) return;
      const std::string fix = f.fix.empty() ? "" : prefix + f.fix;
      if (json_) {
        std::cout << "{\"chart\":" << json_text(chart) << ",\"bar\":" << f.bar << ",\"date\":" << f.date
                  << ",\"kind\":\"" << check_kind_name(f.kind) << "\",\"group\":\"" << check_kind_group(f.kind)
                  << "\",\"detail\":" << json_text(f.detail);
        if (!fix.empty()) std::cout << ",\"fix\":" << json_text(fix);
        std::cout << "}\n";
        return;
      }
      std::cout << chart << ": bar " << (f.bar ? std::to_string(f.bar) : "-") << ": "
                << (f.date ? std::to_string(f.date) : "-") << ": " << check_kind_name(f.kind) << ": " << f.detail;
      if (!fix.empty()) std::cout << "; fix: " << fix;
      std::cout << '\n';
    };
    for (const std::string& chart : charts) {
      if (interrupted()) break;
      bool unreadable = false;
      const std::string why = load_chart(chart, image, buffer, &unreadable);
      if (unreadable) {
        run.failed("cannot read " + absolute_here(chart) + ": " + why);
        continue;
      }
      if (!why.empty()) {
        report(chart, {CheckKind::kNotChart, 0, 0, why, ""});
        continue;
      }
      ++checked;
      const bool compare = !ref_dates.empty() && image.header[kHeaderTypeOffset] == 'D' && chart != reference_;
      for (const Finding& f : check_chart(image, shell_word(chart), limits_, compare ? &ref_dates : nullptr))
        report(chart, f);
    }
    if (json_) {
      std::cout << "{\"summary\":{\"charts\":" << checked << ",\"findings\":" << findings << ",\"kinds\":{";
      bool first = true;
      for (int k = 0; k < kCheckKinds; ++k)
        if (counts[k]) {
          std::cout << (first ? "" : ",") << '"' << check_kind_name(static_cast<CheckKind>(k)) << "\":" << counts[k];
          first = false;
        }
      std::cout << "}}}\n";
    } else {
      std::cout << "checked " << checked << (checked == 1 ? " chart: " : " charts: ")
                << (findings ? std::to_string(findings) + (findings == 1 ? " finding" : " findings") : "no findings")
                << '\n';
      for (int k = 0; k < kCheckKinds; ++k)
        if (counts[k]) {
          const auto kind = static_cast<CheckKind>(k);
          std::cout << "  " << check_kind_group(kind) << ' ' << check_kind_name(kind) << ": " << counts[k] << '\n';
        }
    }
    if (findings) run.skipped();
    return run.status();
  }

 private:
  CommonOptions& common_;
  std::vector<std::string> paths_;
  std::string reference_, move_, split_tol_, unit_tol_;
  CheckLimits limits_;
  bool json_ = false;
};

// ---- repair ----------------------------------------------------------------------

class Repair : public Command {
 public:
  Repair(CLI::App& parent, CommonOptions& common) : common_(common) {
    app = parent.add_subcommand(
        "repair",
        "Mend what is mechanical in charts: a record cut short, the header date, repeated and out-of-order "
        "dates, two-digit years (default: every chart of the data directory); prices are never changed");
    app->add_option("PATH", paths_, "Charts or folders (folders are searched through)")->type_name("PATH");
    add_writing_options(app, common);
    add_location_options(app, common);
  }

  int run() override {
    Run run(common_);
    if (!run.prepare(false)) return run.status();
    std::vector<std::string> unlisted;
    const std::vector<std::string> charts = charts_of(paths_, unlisted);
    for (const std::string& u : unlisted) run.failed("cannot read " + absolute_here(u));
    ChartImage image;
    std::vector<unsigned char> buffer;
    long mended = 0, left = 0;
    for (const std::string& chart : charts) {
      if (interrupted()) break;
      bool unreadable = false;
      if (const std::string why = load_chart(chart, image, buffer, &unreadable); !why.empty()) {
        if (unreadable) run.failed("cannot read " + absolute_here(chart) + ": " + why);
        continue;  // a file that is no chart is left alone
      }
      // Looked at without the lock first: most charts need nothing.
      const RepairPlan plan = plan_repair(image);
      for (const Finding& f : check_chart(plan.result, chart, CheckLimits{}))
        left += !check_kind_mechanical(f.kind);
      if (!plan.changed()) continue;
      if (run.dry_run()) {
        for (const std::string& fix : plan.fixes) std::cout << chart << ": would be mended: " << fix << '\n';
        continue;
      }
      if (!run.keep(chart)) continue;
      std::vector<std::string> fixes;
      const Result r = repair_chart(chart, false, fixes);
      run.kept(chart, r.ok());
      if (r.ok()) {
        ++mended;
        for (const std::string& fix : fixes) run.note(chart + ": mended: " + fix);
      } else if (r.status != Status::kNothing) {
        run.failed("cannot mend " + absolute_here(chart) + (r.message.empty() ? "" : ": " + r.message) +
                   "; it was left as it was");
      }
    }
    if (left)
      run.note(std::to_string(left) +
               " findings about values and prices are not mended by repair; morva-convert check lists them "
               "with the command that mends each");
    if (!run.dry_run()) run.note("mended " + std::to_string(mended) + (mended == 1 ? " chart" : " charts"));
    return run.status();
  }

 private:
  CommonOptions& common_;
  std::vector<std::string> paths_;
};

}  // namespace

std::unique_ptr<Command> add_check(CLI::App& app, CommonOptions& common) {
  return std::make_unique<Check>(app, common);
}
std::unique_ptr<Command> add_repair(CLI::App& app, CommonOptions& common) {
  return std::make_unique<Repair>(app, common);
}

}  // namespace mc
