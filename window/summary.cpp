#include "window/summary.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "screen/screen.h"
#include "widgets/prompt.h"
#include "window/format_settings.h"
#include "window/globals.h"

namespace {

RunSummary g_summary;

constexpr std::size_t kWidth = 79;

std::string plural(long n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string current_folder() {
  char buf[4096];
  return ::getcwd(buf, sizeof buf) ? std::string(buf) : std::string();
}

// Cuts `path` from the left to `room` characters ("..." in front).
std::string fit_path(const std::string& path, std::size_t room) {
  if (path.size() <= room || room < 4) return path;
  return "..." + path.substr(path.size() - (room - 3));
}

// Words of `text` in lines of at most kWidth characters.
void wrap_into(std::vector<std::string>& out, const std::string& text) {
  std::string line;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find(' ', pos);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.size() + 1 + word.size() > kWidth) {
      out.push_back(line);
      line.clear();
    }
    if (!line.empty()) line += ' ';
    line += word.substr(0, kWidth);
  }
  if (!line.empty()) out.push_back(line);
}

}  // namespace

RunSummary& run_summary() { return g_summary; }

void summary_begin(bool to_text, bool chart_pass) {
  g_summary = RunSummary{};
  g_summary.to_text = to_text || chart_pass;
  g_summary.chart_pass = chart_pass;
  g_summary.folder = current_folder();
}

void summary_add_store(const Result& r, const std::string& written) {
  ++g_summary.files;
  g_summary.cancelled = false;
  g_summary.bars += r.bars;
  g_summary.skipped += r.passed_over;
  g_summary.early += r.early;
  g_summary.charts += r.count;
  const long broken = static_cast<long>(r.bar_check.broken());
  if (broken > 0 && g_summary.faults.empty()) g_summary.faults = r.bar_check.summary();
  g_summary.broken += broken;
  if (r.bars > 0) g_summary.written = written;
}

void summary_add_text(const Result& r, const std::string& written) {
  ++g_summary.files;
  g_summary.cancelled = false;
  if (!r.ok()) return;
  g_summary.lines += r.count;
  g_summary.written = written;
}

void summary_add_chart(const Result& r, const std::string& written) { summary_add_text(r, written); }

void summary_cancel() {
  if (g_summary.files == 0) g_summary.cancelled = true;
}

void summary_refuse(const std::string& why) {
  ++g_summary.files;
  g_summary.cancelled = false;
  g_summary.why = why;
}

bool summary_stored(const RunSummary& s) { return s.to_text ? s.lines > 0 || !s.written.empty() : s.bars > 0; }

std::string shown_path(const std::string& path, const std::string& folder) {
  std::string full = path;
  if (!full.empty() && full[0] != '/' && !folder.empty()) {
    std::string rel = full;
    while (rel.compare(0, 2, "./") == 0) rel.erase(0, 2);
    full = folder == "/" ? "/" + rel : folder + "/" + rel;
  }
  return home_as_tilde(full);
}

std::vector<std::string> summary_lines(const RunSummary& s) {
  std::vector<std::string> out;
  if (s.cancelled) return out;
  std::string head;
  if (s.to_text) {
    if (s.written.empty()) return out;
    head = s.chart_pass ? plural(s.lines, "bar", "bars") + " written to "
                        : plural(s.lines, "line", "lines") + " written to ";
    out.push_back(head + fit_path(shown_path(s.written, s.folder), kWidth - head.size()));
    return out;
  }
  std::string skipped = plural(s.skipped, "line", "lines") + " skipped";
  if (s.early > 0) skipped += ", " + std::to_string(s.early) + " before the start date";
  skipped += ".";
  if (s.bars > 0) {
    head = plural(s.bars, "bar", "bars") + " stored in ";
    if (s.charts > 1) head += std::to_string(s.charts) + " charts, the last ";
    const std::string tail = "; " + skipped;
    std::string path = shown_path(s.written, s.folder);
    if (head.size() + path.size() + tail.size() <= kWidth) {
      out.push_back(head + path + tail);
    } else {
      out.push_back(head + fit_path(path, kWidth - head.size()));
      out.push_back(skipped);
    }
  } else if (!s.why.empty()) {
    wrap_into(out, s.why);
  } else {
    out.push_back("No bar stored in " + fit_path(shown_path(".", s.folder), 40) + "; " + skipped);
  }
  if (s.broken > kFewBrokenBars) {
    // Two lines at most: the count, the faults and the first bars.
    std::vector<std::string> warning;
    wrap_into(warning, "Check the field order against the file: " + s.faults);
    if (warning.size() > 2) {
      warning.resize(2);
      warning[1] = warning[1].substr(0, kWidth - 3) + "...";
    }
    out.insert(out.end(), warning.begin(), warning.end());
  }
  return out;
}

void show_run_end() {
  const RunSummary& s = g_summary;
  const char* word = (s.cancelled || summary_stored(s)) ? " Finished." : " Nothing was stored.";
  int row = scr_srow(), col = scr_scol();
  const int len = static_cast<int>(std::string(word).size());
  // On the title row (after a question), or too near the right edge for
  // the word: on the next row.
  if (row == 0 || col > 79 - len) {
    row = row + 1 < maxrow ? row + 1 : row;
    scr_rowcol(row, 0);
  }
  putss(word);
  const std::vector<std::string> lines = summary_lines(s);
  int r = scr_srow() + 1;
  const int last = maxrow - 2;
  // The lines and the key prompt fit below: the rows above move up when
  // the word sits near the bottom.
  const int need = static_cast<int>(lines.size()) + 1;
  if (r + need > last + 1) {
    const int shift = r + need - (last + 1);
    scr_scrup(shift, 1, 0, last, 79);
    r -= shift;
  }
  for (const std::string& l : lines) {
    putsn(l.c_str(), r, 0, -1);
    scr_clrl();
    ++r;
  }
  putsn("Press a key.", r, 0, -1);
  scr_clrl();
  scr_getc(1);
}

std::string no_date_reason() {
  const int code = static_cast<unsigned char>(ff.datecode) <= 3 ? ff.datecode : 0;
  const std::string format(items[1 + code] + 11, 8);
  std::string sep = ff.sep == ' ' ? "a blank" : std::string("'") + ff.sep + "'";
  std::string fmt = format;
  while (!fmt.empty() && fmt.back() == ' ') fmt.pop_back();
  return "No line has a date in the format " + fmt + " (<" + std::to_string(code) +
         ">) with " + sep + " between the fields, nor has the file's name: set them in F2.";
}
