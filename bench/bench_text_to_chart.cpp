// Benchmark: converts a multi-symbol text file into charts through the
// text-to-chart core and the store, as F2 does with order SDOHLCVI, ',' and
// yyyymmdd dates, and reports the time.  The charts are written into a
// fresh temporary folder, which is removed afterwards.
//
//   bench/gen_text.sh /tmp/bench-prices.txt
//   build/bench/bench_text_to_chart /tmp/bench-prices.txt [FOLDER]
//
// The charts go to a new folder under FOLDER (default /tmp).
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "chartdata/chartfile.h"
#include "chartdata/globals.h"
#include "chartdata/linereader.h"
#include "converter/globals.h"
#include "converter/store.h"
#include "converter/text_to_chart.h"

namespace {

struct CountingReport : StoreReport {
  long charts = 0, failed = 0, bad = 0;
  void chart_done(const std::string&, int ok) override {
    ++charts;
    if (!ok) ++failed;
  }
  void bad_date() override { ++bad; }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s TEXTFILE [FOLDER]   (make one with bench/gen_text.sh)\n",
                 argv[0]);
    return 2;
  }
  std::string text = std::filesystem::absolute(argv[1]).string();
  std::string tmpl = std::string(argc > 2 ? argv[2] : "/tmp") + "/morva-bench-XXXXXX";
  if (!mkdtemp(tmpl.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string work = tmpl.c_str();
  if (chdir(work.c_str()) != 0) return 1;
  diskfull_reporter = [](const char* name) {
    std::fprintf(stderr, "disk full or file error: %s\n", name ? name : "(temporary file)");
  };

  set_builtin_format();
  std::memcpy(ff.order, "SDOHLCVI    ", 12);

  const auto t0 = std::chrono::steady_clock::now();
  int fd = ::open(text.c_str(), O_RDONLY);
  if (fd < 0) {
    std::perror(text.c_str());
    return 1;
  }
  std::string name;
  CountingReport report;
  int ok = 0;
  if (first_symbol(fd, ff, name)) {
    TextStoreParams p;
    p.format = ff;
    p.textname = "prices.csv";
    p.chart_type = 'D';
    TextSource src(fd);
    ok = store_text(src, name, p, report);
  }
  linereader_close(fd);
  const auto t1 = std::chrono::steady_clock::now();
  const double secs = std::chrono::duration<double>(t1 - t0).count();

  std::uintmax_t bytes = 0;
  long files = 0;
  for (auto& e : std::filesystem::recursive_directory_iterator(work))
    if (e.is_regular_file()) {
      bytes += e.file_size();
      ++files;
    }
  std::printf("charts stored: %ld (failed %ld), chart files: %ld, chart bytes: %ju, bad lines: %ld\n",
              report.charts, report.failed, files, bytes, report.bad);
  std::printf("result %d, time %.3f s\n", ok, secs);
  std::filesystem::remove_all(work);
  return ok ? 0 : 1;
}
