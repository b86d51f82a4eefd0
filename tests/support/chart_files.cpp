#include "support/chart_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fcntl.h>

#include "chartdata/faults.h"

void le16(Bytes& b, unsigned v) {
  b.push_back(static_cast<unsigned char>(v));
  b.push_back(static_cast<unsigned char>(v >> 8));
}

void le32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

void lef(Bytes& b, float f) {
  std::uint32_t v;
  std::memcpy(&v, &f, 4);
  le32(b, v);
}

Bytes chart_header(std::int32_t date, char type) {
  Bytes h(128, ' ');
  h[0] = 0;
  h[77] = '/';
  h[109] = 0;
  h[116] = static_cast<unsigned char>(type);
  h[117] = '\n';
  Bytes d;
  le32(d, static_cast<std::uint32_t>(date));
  std::copy(d.begin(), d.end(), h.begin() + 118);
  return h;
}

void put_bar(Bytes& b, std::int32_t date, float o, float h, float l, float c, std::int32_t v,
             std::int32_t oi) {
  le32(b, static_cast<std::uint32_t>(date));
  lef(b, o);
  lef(b, h);
  lef(b, l);
  lef(b, c);
  le32(b, static_cast<std::uint32_t>(v));
  le32(b, static_cast<std::uint32_t>(oi));
}

std::int32_t le32_at(const Bytes& b, std::size_t at) {
  return static_cast<std::int32_t>(std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 |
                                   std::uint32_t(b[at + 2]) << 16 | std::uint32_t(b[at + 3]) << 24);
}

float f32_at(const Bytes& b, std::size_t at) {
  const std::uint32_t v = static_cast<std::uint32_t>(le32_at(b, at));
  float f;
  std::memcpy(&f, &v, 4);
  return f;
}

BarRecord bar(std::int32_t date, float o, float h, float l, float c, std::int32_t v,
              std::int32_t oi) {
  BarRecord b;
  b.date = date;
  b.open = o;
  b.high = h;
  b.low = l;
  b.close = c;
  b.volume = v;
  b.openint = oi;
  return b;
}

Bytes chart_bytes(char type, std::int32_t hdr_date, const std::vector<BarRecord>& bars) {
  Bytes out(kHeaderSize);
  const char t[2] = {type, '\n'};
  make_header(out.data(), t, hdr_date);
  for (const BarRecord& b : bars) {
    unsigned char rec[kBarSize];
    encode_bar(b, rec);
    out.insert(out.end(), rec, rec + kBarSize);
  }
  return out;
}

int open_chart(const TempDir& tmp, const std::string& name, const Bytes& bytes) {
  std::string path = tmp.file(name);
  EXPECT_TRUE(write_file(path, bytes));
  return open(path.c_str(), O_RDONLY);
}

ChartFolderTest::ChartFolderTest() { faults_reset(); }
ChartFolderTest::~ChartFolderTest() { faults_reset(); }

void expect_bars(const std::vector<BarRecord>& got, const std::vector<BarRecord>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(got[i].date, want[i].date);
    EXPECT_EQ(got[i].open, want[i].open);
    EXPECT_EQ(got[i].high, want[i].high);
    EXPECT_EQ(got[i].low, want[i].low);
    EXPECT_EQ(got[i].close, want[i].close);
    EXPECT_EQ(got[i].volume, want[i].volume);
    EXPECT_EQ(got[i].openint, want[i].openint);
  }
}

QuietDiskFull::QuietDiskFull() : old_(diskfull_reporter) { diskfull_reporter = [](const char*) {}; }
QuietDiskFull::~QuietDiskFull() { diskfull_reporter = old_; }
