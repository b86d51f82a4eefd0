// TechTools import: the conversion core (techtools_convert) and the F9
// dialogue (do_techtools, techsub).
#include "convert/techtools.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <vector>

#include "chartdata/chartfile.h"
#include "chartdata/encodings.h"
#include "chartdata/safe_replace.h"
#include "window/commands.h"
#include "window/globals.h"
#include "window/target_prompt.h"
#include "screen/screen.h"
#include "widgets/filechooser.h"
#include "widgets/prompt.h"

namespace {

unsigned get_le16(const unsigned char* p) { return unsigned(p[0]) | unsigned(p[1]) << 8; }

// Reads up to n bytes, retrying after interrupts and short reads; the count
// read, or -1 on a read error.
long read_fully(int fd, unsigned char* p, std::size_t n) {
  std::size_t got = 0;
  while (got < n) {
    ssize_t r = ::read(fd, p + got, n - got);
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) break;
    got += static_cast<std::size_t>(r);
  }
  return static_cast<long>(got);
}

}  // namespace

BarRecord techtools_bar(int price_type, const unsigned char rec[kTechRecordSize]) {
  static const int base = dton(kTechBaseDate);
  BarRecord b;
  b.date = ntod(base + static_cast<int>(get_le16(rec)));
  b.open = static_cast<float>(PriceToDouble(price_type, static_cast<unsigned short>(get_le16(rec + 2))));
  b.high = static_cast<float>(PriceToDouble(price_type, static_cast<unsigned short>(get_le16(rec + 4))));
  b.low = static_cast<float>(PriceToDouble(price_type, static_cast<unsigned short>(get_le16(rec + 6))));
  b.close = static_cast<float>(PriceToDouble(price_type, static_cast<unsigned short>(get_le16(rec + 8))));
  b.volume = static_cast<std::int32_t>(VolumeToDouble(rec + 10));
  b.openint = static_cast<std::int32_t>(VolumeToDouble(rec + 13));
  return b;
}

void order_tech_bars(std::vector<BarRecord>& bars, TechOutcome& out) {
  std::int32_t latest = 0;
  for (std::size_t i = 0; i < bars.size(); ++i) {
    if (i > 0 && bars[i].date < latest) ++out.out_of_order;
    if (i == 0 || bars[i].date > latest) latest = bars[i].date;
  }
  auto by_date = [](const BarRecord& a, const BarRecord& b) { return a.date < b.date; };
  if (out.out_of_order > 0) std::stable_sort(bars.begin(), bars.end(), by_date);
  std::size_t w = 0;
  for (std::size_t i = 0; i < bars.size(); ++i) {
    if (w > 0 && bars[w - 1].date == bars[i].date) {
      bars[w - 1] = bars[i];
      ++out.same_date;
    } else {
      bars[w++] = bars[i];
    }
  }
  bars.resize(w);
}

TechOutcome techtools_convert(int srcfd, const std::string& target, TechToolsListener& listener) {
  TechOutcome out;

  unsigned char header[kTechHeaderSize];
  long got = read_fully(srcfd, header, sizeof header);
  if (got < 0) {
    out.result = TechResult::kReadError;
    return out;
  }
  if (got < static_cast<long>(sizeof header)) {
    out.result = TechResult::kNotTechTools;
    return out;
  }
  const int price_type = static_cast<std::int16_t>(get_le16(header));

  SafeReplace chart(target);
  if (!chart.ok()) {
    out.result = TechResult::kCreateFailed;
    return out;
  }
  // The header date is filled in once the last bar is known.
  unsigned char chart_header[kHeaderSize];
  const char type[2] = {'D', '\n'};
  make_header(chart_header, type, 0);
  if (!chart.write(chart_header, sizeof chart_header)) {
    out.result = TechResult::kWriteFailed;
    return out;
  }

  // Source records are read in blocks, then put in date order (a TechTools
  // file holds at most one record per day of 65,536 days, give or take
  // repeats: the bars fit in memory), then written in one go.
  constexpr std::size_t kBlockRecords = 1024;
  std::vector<unsigned char> in(kBlockRecords * kTechRecordSize);
  std::vector<BarRecord> all;
  bool stop = false;
  while (!stop) {
    got = read_fully(srcfd, in.data(), in.size());
    if (got < 0) {
      out.result = TechResult::kReadError;
      return out;
    }
    const std::size_t records = static_cast<std::size_t>(got) / kTechRecordSize;
    for (std::size_t i = 0; i < records && !stop; ++i) {
      all.push_back(techtools_bar(price_type, in.data() + i * kTechRecordSize));
      listener.bar_written(static_cast<long>(all.size()), all.back());
      if (listener.stop_requested()) stop = true;
    }
    // A short block is the end of the file (a partial last record is ignored).
    if (static_cast<std::size_t>(got) < in.size()) break;
  }
  order_tech_bars(all, out);
  std::vector<unsigned char> bars(all.size() * kBarSize);
  for (std::size_t i = 0; i < all.size(); ++i) encode_bar(all[i], bars.data() + i * kBarSize);
  if (!bars.empty() && !chart.write(bars.data(), bars.size())) {
    out.result = TechResult::kWriteFailed;
    return out;
  }
  out.bars = static_cast<long>(all.size());
  if (!all.empty()) {
    out.first_date = all.front().date;
    out.last_date = all.back().date;
  }

  unsigned char date[4];
  put_le32(date, static_cast<std::uint32_t>(out.last_date));
  std::FILE* f = chart.stream();
  if (std::fseek(f, static_cast<long>(kHeaderDateOffset), SEEK_SET) != 0 ||
      !chart.write(date, sizeof date) || std::fseek(f, 0, SEEK_END) != 0 || !chart.commit()) {
    out.result = TechResult::kWriteFailed;
    return out;
  }
  out.result = stop ? TechResult::kStopped : TechResult::kStored;
  return out;
}

// ---- Dialogue ---------------------------------------------------------------

namespace {

constexpr const char* kTechTitle = "   TECHTOOLS TO MORVA File Conversion";
constexpr const char* kTechPrompt = "Enter a TECHTOOL filename (or`.!'name or ESCape):";
constexpr const char* kTargetText = "       Enter a target filename (or ESCape):";
constexpr const char* kSameName = "Use a name which differs from the source name.";
constexpr const char* kWriteErr = " Unable to write to disk. Disk full?";

// Progress on screen: the date of the 1st, 6th, 11th ... bar at row 2,
// column 0; ESC waiting at the keyboard stops the conversion.
class ScreenListener : public TechToolsListener {
 public:
  void bar_written(long count, const BarRecord& bar) override {
    if (count % 5 != 1) return;
    char buf[40];
    ftos(bar.date, buf, 6, 0);
    const int row = scr_srow(), col = scr_scol();
    putsn(buf, 2, 0, -1);
    scr_rowcol(row, col);
  }
  bool stop_requested() override { return scr_csts() == 27; }
};

}  // namespace

int techsub(int fd) {
  TargetPrompt tp;
  tp.source = exclambuf;
  tp.prompt = kTargetText;
  for (;;) {
    if (ask_target_name(tp) != kTargetAccepted) {
      ::close(fd);
      return 0;
    }
    // The typed name may reach the source through another spelling
    // ("./x", a link): converting a file onto itself would replace it.
    if (same_file_as(tp.name, fd) || std::strcmp(tp.name, firstname) == 0) {
      msg(kSameName, title, 1);
      continue;
    }
    break;
  }
  scr_rowcol(2, 0);
  scr_clrl();
  scr_rowcol(6, 0);
  ScreenListener listener;
  const TechOutcome r = techtools_convert(fd, tp.name, listener);
  ::close(fd);

  switch (r.result) {
    case TechResult::kStored:
    case TechResult::kStopped:
      std::snprintf(savenm, sizeof savenm, "%s", tp.name);
      if (r.out_of_order > 0 || r.same_date > 0) {
        // Said, and left on the screen until a key is pressed.
        char line[80];
        std::snprintf(line, sizeof line, " Sorted by date: %ld records out of order, %ld of a repeated date.",
                      r.out_of_order, r.same_date);
        msg(line, title, 1);
      }
      return 1;
    case TechResult::kCreateFailed:
      diskfull(tp.name);
      return 0;
    case TechResult::kNotTechTools:
      msg(" Not a TECHTOOLS file: shorter than its 16-byte header.", title, 1);
      return 0;
    case TechResult::kReadError:
      msg(" Unable to read the source file. Nothing was stored.", title, 1);
      return 0;
    case TechResult::kWriteFailed:
      break;
  }
  msg(kWriteErr, title, 1);
  return 0;
}

int do_techtools() {
  title = kTechTitle;
  const int fd = dir_on_1stname(kTechPrompt, firstname);
  if (fd <= 0) return 0;
  int stored = 0;
  for (;;) {
    const int src = do_all(exclambuf, &exclamfile, fd);
    if (src <= 0) break;
    // After a list only the chart of its last entry counts.
    if (exclamfile) savenm[0] = '\0';
    stored = techsub(src);
    if (!exclamfile) break;
  }
  return stored;
}
