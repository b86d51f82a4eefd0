#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <sys/stat.h>

#include "chartdata/encodings.h"
#include "convert/index_file.h"
#include "support/tempdir.h"

namespace {

BarRecord bar_at(std::int32_t date, float price = 1.0f) {
  BarRecord b;
  b.date = date;
  b.open = b.high = b.low = b.close = price;
  b.volume = 1234;
  b.openint = 77;
  return b;
}

// A plain re-reading of the file for one bar, the way the stream was read
// before the index was kept in memory: fgets into a 20-byte buffer, pieces
// of 7 characters or fewer skipped, the ramp between consecutive dates.
void reference_apply(BarRecord& bar, FILE* f) {
  std::rewind(f);
  char buf[20];
  long long prev = 0;
  while (std::fgets(buf, sizeof buf, f)) {
    if (std::strlen(buf) <= 7) continue;
    char yy[3] = {buf[0], buf[1], 0};
    long long year = Y2000_99to1999(std::atoi(yy));
    long long mmdd = 0;
    for (int i = 2; buf[i] >= '0' && buf[i] <= '9'; ++i) mmdd = mmdd * 10 + (buf[i] - '0');
    long long d = year * 10000 + mmdd;
    float v = static_cast<float>(std::atof(buf + 6));
    if (!std::isfinite(v)) v = 0;
    if (prev < bar.date && bar.date < d && d <= 99999999) {
      int span = dton(int(d)) - dton(int(prev));
      int distance = dton(int(d)) - dton(bar.date);
      if (span > 0) {
        float a = static_cast<float>(double(v) * (1.0 - 0.9 * distance / span));
        bar.open += a;
        bar.high += a;
        bar.low += a;
        bar.close += a;
      }
    }
    prev = d;
  }
}

bool same_bits(const BarRecord& a, const BarRecord& b) {
  unsigned char x[kBarSize], y[kBarSize];
  encode_bar(a, x);
  encode_bar(b, y);
  return std::memcmp(x, y, kBarSize) == 0;
}

TEST(IndexRamp, TwoLineExample) {
  IndexFile idx("990101 10\n990111 20\n");
  struct Case {
    std::int32_t date;
    double raise;  // expected rise of every price
    double tolerance;
  };
  const Case cases[] = {
      {19990106, 11.0, 0.0},       // 5 of 10 days before the later line: 20 * 0.55
      {19990111, 0.0, 0.0},        // on an index date: untouched
      {19990112, 0.0, 0.0},        // after the last line: untouched
      {19990101, 0.0, 0.0},        // on the first date
      {19990110, 20 * 0.91, 1e-5}, // the day before the later date: nearly the whole value
      {19990102, 20 * 0.1 + 20 * 0.9 / 10, 1e-5},
  };
  for (const Case& c : cases) {
    BarRecord b = bar_at(c.date);
    idx.apply(b);
    SCOPED_TRACE(c.date);
    EXPECT_NEAR(b.open, 1.0 + c.raise, c.tolerance + 1e-6);
    EXPECT_EQ(b.open, b.high);
    EXPECT_EQ(b.open, b.low);
    EXPECT_EQ(b.open, b.close);
    EXPECT_EQ(b.volume, 1234);
    EXPECT_EQ(b.openint, 77);
    EXPECT_EQ(b.date, c.date);
  }
}

TEST(IndexRamp, BeforeFirstLineTakesNearlyWholeValue) {
  IndexFile idx("990101 10\n990111 20\n");
  BarRecord b = bar_at(19981231);
  idx.apply(b);
  // span is the whole day number of 1 January 1999 (about 730,000 days)
  double span = dton(19990101);
  float a = static_cast<float>(10.0 * (1.0 - 0.9 * 1 / span));
  EXPECT_EQ(b.close, 1.0f + a);
  EXPECT_LT(b.close, 11.0f);
  EXPECT_GT(b.close, 10.9999f);
}

TEST(IndexParse, PiecesAndValues) {
  struct Case {
    const char* text;
    std::vector<IndexLine> lines;
  };
  const Case cases[] = {
      {"990105 1.25\n", {{19990105, 1.25f}}},
      {"0001051.5\n", {{20001051, 1.5f}}},  // no blank: mmdd runs on to 1051
      {"200105 2\n210105 3\n500105 4\n", {{20200105, 2.f}, {20210105, 3.f}, {19500105, 4.f}}},  // the window
      {"990105\n\n9901 3\n", {}},            // pieces of 7 characters or fewer
      {"990105 \n", {{19990105, 0.f}}},      // 8 characters: a value of 0
      {"990105 abc\n", {{19990105, 0.f}}},   // not a number
      {"990105 nan\n990106 inf\n990107 1e60\n", {{19990105, 0.f}, {19990106, 0.f}, {19990107, 0.f}}},
      {"990105 10          990111 5\n", {{19990105, 10.f}, {19990111, 5.f}}},  // 19 + 9
      {"990105 -2.5\r\n", {{19990105, -2.5f}}},
      {"990105 7", {{19990105, 7.f}}},       // last line without a line feed
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto got = parse_index_text(c.text);
    ASSERT_EQ(got.size(), c.lines.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].date, c.lines[i].date);
      EXPECT_EQ(got[i].value, c.lines[i].value);
    }
  }
}

TEST(IndexParse, NulInsideAPieceEndsItsText) {
  std::string text("990105 1.5\n99", 13);
  text += std::string("01\0 9999\n", 9);  // "9901" then NUL: a 4-character piece
  text += "990201 4\n";
  auto got = parse_index_text(text);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1].date, 19990201);
}

TEST(IndexApply, OutOfOrderAndImpossibleDatesGiveNoInfinities) {
  // 1100 is no month and day: its day number equals that of 31 October, so
  // the span between the two lines is 0 days; 1050 lies between them.
  IndexFile idx("001031 5\n001100 3\n");
  BarRecord b = bar_at(20001050);
  idx.apply(b);
  EXPECT_TRUE(std::isfinite(b.open));
  EXPECT_EQ(b.open, 1.0f);
}

// The in-memory index must give exactly what re-reading the file for every
// bar gives, for ascending files, shuffled files and files with junk pieces.
TEST(IndexApply, MemoryMatchesRereadingForEveryBar) {
  TempDir tmp;
  std::mt19937 rng(7);
  for (int round = 0; round < 40; ++round) {
    std::string text;
    int lines = 1 + int(rng() % 30);
    int date = 19980101;
    for (int i = 0; i < lines; ++i) {
      date = ntod(dton(date) + 1 + int(rng() % 60));
      char line[64];
      int yymmdd = date % 1000000;
      switch (rng() % 9) {
        case 0: std::snprintf(line, sizeof line, "%06d\n", yymmdd); break;       // no value
        case 1: std::snprintf(line, sizeof line, "%06d %s\n", yymmdd, "x"); break;
        case 2: std::snprintf(line, sizeof line, "%06d %.3f                 7\n", yymmdd,
                              (int(rng() % 2000) - 1000) / 100.0); break;        // long line
        default:
          std::snprintf(line, sizeof line, "%06d %.2f\n", yymmdd, (int(rng() % 4000) - 2000) / 100.0);
      }
      text += line;
    }
    if (round % 3 == 1) {  // out of order: swap whole lines around
      std::vector<std::string> parts;
      std::size_t pos = 0;
      while (pos < text.size()) {
        auto nl = text.find('\n', pos);
        parts.push_back(text.substr(pos, nl - pos + 1));
        pos = nl + 1;
      }
      std::shuffle(parts.begin(), parts.end(), rng);
      text.clear();
      for (auto& p : parts) text += p;
    }
    std::string path = tmp.file("idx" + std::to_string(round));
    ASSERT_TRUE(write_text(path, text));
    FILE* f = std::fopen(path.c_str(), "r");
    ASSERT_NE(f, nullptr);
    IndexFile idx = IndexFile::load(f);
    for (int d = dton(19971201); d < dton(date) + 10; d += 1 + int(rng() % 3)) {
      BarRecord want = bar_at(ntod(d), 50.0f + float(rng() % 100) / 8);
      want.high += 1;
      want.low -= 1;
      BarRecord mem = want, reread = want;
      reference_apply(want, f);
      idx.apply(mem);
      apply_idx_values(reread, f);
      ASSERT_TRUE(same_bits(mem, want)) << "round " << round << " date " << want.date;
      ASSERT_TRUE(same_bits(reread, want)) << "round " << round << " date " << want.date;
    }
    std::fclose(f);
  }
}

TEST(IndexApply, NoStreamLeavesBarAlone) {
  BarRecord b = bar_at(19990106, 3.5f);
  BarRecord before = b;
  apply_idx_values(b, nullptr);
  EXPECT_TRUE(same_bits(b, before));
  EXPECT_TRUE(IndexFile::load(nullptr).empty());
}

bool is_dir(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(IndexName, BesideTheChartAndDirectoryCreated) {
  TempDir tmp;
  ScopedChdir in(tmp.path());
  tmp.mkdirs("data");
  struct Case {
    const char* chart;
    const char* index;
    const char* dir;
  };
  const Case cases[] = {
      {"data/abc.M", "data/idx/abc.M", "data/idx"},
      {"abc.M", "idx/abc.M", "idx"},
      {"C:abc.M", "C:idx/abc.M", "C:idx"},
      {"deep/er/x.M", "deep/er/idx/x.M", "deep/er/idx"},  // missing parents too
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chart);
    char buf[64];
    convert_nm_to_idx(buf, c.chart);
    EXPECT_STREQ(buf, c.index);
    EXPECT_TRUE(is_dir(tmp.file(c.dir)));
  }
  std::string abs = tmp.file("data/q.M");
  EXPECT_EQ(index_file_name(abs), tmp.file("data/idx/q.M"));
}

}  // namespace
