// Times the two vendor imports through their cores:
//  - a TechTools file of 65,000 daily records into a new chart;
//  - a quick-quote file of N symbols (five lines each) merged into N
//    existing charts of M bars each (one splice and rename per chart).
//
//   bench_imports [quote symbols] [bars per chart] [runs]
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "chartdata/bar.h"
#include "chartdata/chartfile.h"
#include "chartdata/encodings.h"
#include "chartdata/linereader.h"
#include "converter/quickquote.h"
#include "converter/techtools.h"

namespace {

bool write_all(const char* path, const void* p, std::size_t n) {
  FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  const bool ok = std::fwrite(p, 1, n, f) == n;
  return std::fclose(f) == 0 && ok;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

std::string symbol_of(int i) {
  std::string s = "S";
  for (int k = 0; k < 4; ++k, i /= 26) s += static_cast<char>('A' + i % 26);
  return s;
}

std::string padded(std::string line, std::size_t col, const std::string& text) {
  if (line.size() < col) line.resize(col, ' ');
  return line + text;
}

}  // namespace

int main(int argc, char** argv) {
  const int symbols = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int bars = argc > 2 ? std::atoi(argv[2]) : 1000;
  const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
  diskfull_reporter = [](const char*) {};

  char dir[] = "/tmp/bench_imports.XXXXXX";
  if (!mkdtemp(dir) || chdir(dir) != 0) return 1;

  // ---- TechTools --------------------------------------------------------
  const unsigned records = 65000;
  std::vector<unsigned char> tt(kTechHeaderSize, 0);
  tt[0] = 0xFD;  // price type -3
  tt[1] = 0xFF;
  for (unsigned i = 0; i < records; ++i) {
    const unsigned v[5] = {i + 1, 1000 + i % 500, 1010 + i % 500, 990 + i % 500, 1005 + i % 500};
    for (unsigned x : v) {
      tt.push_back(static_cast<unsigned char>(x));
      tt.push_back(static_cast<unsigned char>(x >> 8));
    }
    for (int k = 0; k < 6; ++k) tt.push_back(static_cast<unsigned char>(i >> k));
  }
  if (!write_all("prices.tt", tt.data(), tt.size())) return 1;
  double best = 1e9;
  for (int r = 0; r < runs; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    const int fd = open("prices.tt", O_RDONLY);
    TechToolsListener quiet;
    const TechOutcome out = techtools_convert(fd, "tt.M", quiet);
    close(fd);
    const double s = seconds_since(t0);
    if (out.result != TechResult::kStored) {
      std::fprintf(stderr, "TechTools import failed\n");
      return 1;
    }
    best = s < best ? s : best;
  }
  std::printf("TechTools: %u records into a new chart: best %.4f s over %d runs\n", records, best, runs);
  unlink("tt.M");
  unlink("prices.tt");

  // ---- Quick quotes -----------------------------------------------------
  std::string text(60, '-');
  text += '\n';
  for (int i = 0; i < symbols; ++i) {
    const std::string l1 = padded(padded(symbol_of(i), 22, std::to_string(10 + i % 90) + ".3/"), 66,
                                  std::to_string(1000 + i));
    const std::string l3 = padded(padded(padded("", 42, "10"), 54, "101/08"), 66, "9.5");
    text += l1 + "\n\n" + l3 + "\n\n\n";
  }
  if (!write_all("quotes.txt", text.data(), text.size())) return 1;

  std::vector<unsigned char> chart(kHeaderSize);
  const char daily[2] = {'D', '\n'};
  make_header(chart.data(), daily, 19960101);
  int day = dton(19960101);
  for (int i = 0; i < bars; ++i) {
    BarRecord b;
    b.date = ntod(day++);
    b.open = b.high = b.low = b.close = 10.0f + static_cast<float>(i % 50);
    b.volume = i;
    unsigned char rec[kBarSize];
    encode_bar(b, rec);
    chart.insert(chart.end(), rec, rec + kBarSize);
  }
  // The update date falls inside the charts, so each splice copies bars on
  // both sides of it.
  const std::int32_t update = ntod(dton(19960101) + bars / 2);

  best = 1e9;
  for (int r = 0; r < runs; ++r) {
    for (int i = 0; i < symbols; ++i) {
      std::string name = symbol_of(i);
      for (char& c : name) c = static_cast<char>(c - 'A' + 'a');
      if (!write_all(name.c_str(), chart.data(), chart.size())) return 1;
    }
    const auto t0 = std::chrono::steady_clock::now();
    const int fd = open("quotes.txt", O_RDONLY);
    std::string first;
    QuickQuoteListener quiet;
    QuoteOutcome out;
    if (first_quote_name(fd, &first)) out = quickquote_import(fd, update, first, quiet);
    linereader_close(fd);
    const double s = seconds_since(t0);
    if (out.charts_stored != symbols) {
      std::fprintf(stderr, "quick-quote import stored %ld of %d charts\n", out.charts_stored, symbols);
      return 1;
    }
    best = s < best ? s : best;
  }
  std::printf("Quick quotes: %d symbols into charts of %d bars: best %.3f s over %d runs (%.2f ms a chart)\n",
              symbols, bars, best, runs, 1000.0 * best / symbols);

  for (int i = 0; i < symbols; ++i) {
    std::string name = symbol_of(i);
    for (char& c : name) c = static_cast<char>(c - 'A' + 'a');
    unlink(name.c_str());
  }
  unlink("quotes.txt");
  if (chdir("/") == 0) rmdir(dir);
  return 0;
}
