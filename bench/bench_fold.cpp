// Folds a 700,000-bar daily chart to weekly bars with a 100-line index file
// and reports the time the whole conversion takes (read, index, fold,
// splice into a new target, rename).
//
//   bench_fold [bars] [index lines] [runs]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "chartdata/bar.h"
#include "chartdata/chartfile.h"
#include "chartdata/encodings.h"
#include "converter/weekly_monthly.h"

int main(int argc, char** argv) {
  long bars = argc > 1 ? std::atol(argv[1]) : 700000;
  int lines = argc > 2 ? std::atoi(argv[2]) : 100;
  int runs = argc > 3 ? std::atoi(argv[3]) : 5;

  char dir[] = "/tmp/bench_fold.XXXXXX";
  if (!mkdtemp(dir)) return 1;
  if (chdir(dir) != 0) return 1;

  // The daily chart: weekdays from 4 January 1960 on.
  std::vector<unsigned char> chart(kHeaderSize);
  const char daily[2] = {'D', '\n'};
  make_header(chart.data(), daily, 19600104);
  int day = dton(19600104);
  for (long i = 0; i < bars; ++i) {
    while ((day + 4) % 7 == 5 || (day + 4) % 7 == 6) ++day;  // skip Saturday and Sunday
    BarRecord b;
    b.date = ntod(day++);
    b.open = 100 + (i % 97) * 0.25f;
    b.high = b.open + 2;
    b.low = b.open - 2;
    b.close = b.open + 0.5f;
    b.volume = 1000 + int(i % 5000) * 7000;
    b.openint = int(i % 300);
    unsigned char rec[kBarSize];
    encode_bar(b, rec);
    chart.insert(chart.end(), rec, rec + kBarSize);
  }
  FILE* f = std::fopen("daily.M", "wb");
  if (!f || std::fwrite(chart.data(), 1, chart.size(), f) != chart.size()) return 1;
  std::fclose(f);

  // The index file: lines spread over 1960-2020 (two-digit years).
  std::string text;
  int d0 = dton(19600201), d1 = dton(20201201);
  for (int i = 0; i < lines; ++i) {
    int date = ntod(d0 + int((long long)(d1 - d0) * i / (lines > 1 ? lines - 1 : 1)));
    char line[40];
    std::snprintf(line, sizeof line, "%06d %.2f\n", date % 1000000, 0.5 + i * 0.01);
    text += line;
  }
  f = std::fopen("daily.idx", "w");
  if (!f) return 1;
  std::fputs(text.c_str(), f);
  std::fclose(f);

  double best = 1e9, total = 0;
  long groups = 0;
  for (int r = 0; r < runs; ++r) {
    unlink("weekly.M");
    auto t0 = std::chrono::steady_clock::now();
    FILE* idxf = std::fopen("daily.idx", "r");
    IndexFile idx = IndexFile::load(idxf);
    std::fclose(idxf);
    int fd = open("daily.M", O_RDONLY);
    ChartPassProgress quiet;
    FoldResult res = fold_chart(fd, FoldKind::kWeekly, idx, "weekly.M", quiet);
    auto t1 = std::chrono::steady_clock::now();
    if (res.status != kFoldStored) {
      std::fprintf(stderr, "fold failed: status %d\n", res.status);
      return 1;
    }
    groups = res.groups;
    double s = std::chrono::duration<double>(t1 - t0).count();
    best = s < best ? s : best;
    total += s;
  }
  std::printf("weekly fold of %ld daily bars (%d index lines) into %ld weekly bars: best %.3f s, mean %.3f s over %d runs\n",
              bars, lines, groups, best, total / runs, runs);
  unlink("weekly.M");
  unlink("daily.M");
  unlink("daily.idx");
  if (chdir("/") == 0) rmdir(dir);
  return 0;
}
