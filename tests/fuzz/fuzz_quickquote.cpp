// Quick-quote files through the record reader and the import into charts.
//
// Input: byte 0 chooses the update date; the rest is the quote file.  The
// import runs in a private folder that already holds the chart "ibm" with
// two bars.  Promises checked: every chart the import writes lies in that
// folder under a plain name and is a whole daily chart in ascending date
// order holding a bar of the update date; "ibm" keeps its other bars; the
// quote file itself is never written; no temporary file is left.
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <set>
#include <string>

#include "chartdata/chartfile.h"
#include "chartdata/linereader.h"
#include "convert/quickquote.h"
#include "fuzz_support.h"

namespace fuzz_quickquote {

using namespace fuzzsup;

struct Record : QuickQuoteListener {
  std::set<std::string> stored;
  void chart_done(const std::string& name, bool ok) override {
    if (ok) stored.insert(name);
  }
};

inline Bytes ibm_chart() {
  Bytes b(kHeaderSize + 2 * kBarSize);
  const char type[2] = {'D', '\n'};
  make_header(b.data(), type, 19990104);
  BarRecord bar;
  bar.date = 19990104;
  bar.close = 10;
  encode_bar(bar, b.data() + kHeaderSize);
  bar.date = 19990105;
  bar.close = 11;
  encode_bar(bar, b.data() + kHeaderSize + kBarSize);
  return b;
}

inline int run(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  static const std::int32_t kDates[] = {19990105, 19990101, 20000229, 19990110};
  const std::int32_t update = kDates[in.byte() % 4];
  const std::string_view quotes = in.rest();

  const std::string dir = fresh_dir("qq");
  char cwd[4096];
  FUZZ_CHECK(getcwd(cwd, sizeof cwd) != nullptr);
  FUZZ_CHECK(chdir(dir.c_str()) == 0);
  write_bytes("quotes.txt", quotes.data(), quotes.size());
  const Bytes ibm = ibm_chart();
  write_bytes("ibm", ibm.data(), ibm.size());

  int fd = ::open("quotes.txt", O_RDONLY);
  FUZZ_CHECK(fd >= 0);
  Record rec;
  std::string first;
  if (first_quote_name(fd, &first)) {
    FUZZ_CHECK(first.find('/') == std::string::npos);
    quickquote_import(QuoteRequest{fd, update, first}, rec);
  }
  linereader_close(fd);

  FUZZ_CHECK(read_bytes("quotes.txt") == Bytes(quotes.begin(), quotes.end()));
  FUZZ_CHECK(no_temp_left("."));
  for (const std::string& name : names_in(".")) {
    if (name == "quotes.txt") continue;
    FUZZ_CHECK(name.find('/') == std::string::npos);
    const Bytes chart = read_bytes(name);
    if (name == "ibm" && !rec.stored.count("ibm")) {
      FUZZ_CHECK(chart == ibm);
      continue;
    }
    // A name the import wrote to: stored, or "_" as the fallback.
    FUZZ_CHECK(whole_chart(chart));
    const auto bars = bars_of(chart);
    bool has_update = false;
    for (std::size_t i = 0; i < bars.size(); ++i) {
      if (i > 0) FUZZ_CHECK(bars[i - 1].date < bars[i].date);
      has_update = has_update || bars[i].date == update;
    }
    FUZZ_CHECK(has_update);
    if (name == "ibm") {
      for (std::int32_t d : {19990104, 19990105}) {
        if (d == update) continue;
        bool kept = false;
        for (const auto& b : bars) kept = kept || b.date == d;
        FUZZ_CHECK(kept);
      }
    }
  }
  FUZZ_CHECK(chdir(cwd) == 0);
  return 0;
}

}  // namespace fuzz_quickquote

MORVA_FUZZ_ENTRY(fuzz_quickquote)
