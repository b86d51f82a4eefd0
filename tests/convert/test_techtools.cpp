// TechTools conversion core: record decoding, the chart bytes written, and
// that a failed conversion leaves an existing chart exactly as it was.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "chartdata/chartfile.h"
#include "chartdata/faults.h"
#include "convert/techtools.h"
#include "support/chart_files.h"
#include "support/tempdir.h"

namespace {

// ---- Expected bytes, built here by hand -------------------------------------

struct TechRec {
  unsigned serial, open, high, low, close;
  std::uint32_t volume, openint;  // 24-bit
};

Bytes tech_file(int price_type, const std::vector<TechRec>& recs) {
  Bytes b;
  le16(b, static_cast<unsigned>(price_type) & 0xFFFF);
  for (int i = 0; i < 14; ++i) b.push_back(0xEE);  // not read
  for (const TechRec& r : recs) {
    le16(b, r.serial);
    le16(b, r.open);
    le16(b, r.high);
    le16(b, r.low);
    le16(b, r.close);
    for (int i = 0; i < 3; ++i) b.push_back(static_cast<unsigned char>(r.volume >> (8 * i)));
    for (int i = 0; i < 3; ++i) b.push_back(static_cast<unsigned char>(r.openint >> (8 * i)));
  }
  return b;
}

// Stops after `n` bars (never when n is 0) and notes what was sorted in.
class StopAfter : public TechToolsListener {
 public:
  explicit StopAfter(long n) : n_(n) {}
  void bar_written(long count, const BarRecord&) override { last_ = count; }
  bool stop_requested() override { return n_ > 0 && last_ >= n_; }
  void sorted(long out_of_order, long same_date) override { order = {out_of_order, same_date}; }
  long last_ = 0;
  TechOrder order;

 private:
  long n_;
};

class TechToolsCore : public ::testing::Test {
 protected:
  void SetUp() override {
    faults_reset();
  }
  void TearDown() override {
    faults_reset();
  }

  // Converts `source` bytes into dir/chart.
  Result convert(const Bytes& source, TechToolsListener& l) {
    const std::string src = dir_.file("prices.tt");
    EXPECT_TRUE(write_file(src, source));
    const int fd = ::open(src.c_str(), O_RDONLY);
    EXPECT_GT(fd, 0);
    Result r = techtools_convert(TechToolsRequest{fd, target()}, l);
    ::close(fd);
    return r;
  }
  Result convert(const Bytes& source) { return convert(source, rec_); }
  std::string target() const { return dir_.file("chart"); }

  TempDir dir_{"morva-techtools"};
  QuietDiskFull quiet_;
  StopAfter rec_{0};
};

}  // namespace

TEST(TechToolsBar, SerialDatesComeOutAsFullCalendarDates) {
  struct Case {
    unsigned serial;
    std::int32_t date;
  };
  const Case cases[] = {
      {0, 18991230},     {1, 18991231},     {36525, 19991231}, {36526, 20000101},
      {36585, 20000229}, {36586, 20000301}, {65535, 20790604},
  };
  for (const Case& c : cases) {
    Bytes rec = tech_file(0, {{c.serial, 1, 1, 1, 1, 0, 0}});
    const BarRecord b = techtools_bar(0, rec.data() + kTechHeaderSize);
    EXPECT_EQ(b.date, c.date) << "serial " << c.serial;
  }
}

TEST(TechToolsBar, EachPriceFieldDecodesByThePriceType) {
  struct Case {
    int type;
    unsigned code;
    float price;
  };
  const Case cases[] = {
      {-3, 1237, 123.875f}, {-5, 9916, 99.5f}, {0, 65535, 65535.0f},
      {2, 12345, 123.45f},  {100, 7, 700.0f},  {7, 100, 0.0f},
  };
  for (const Case& c : cases) {
    // The code sits in a different field each time; the other fields hold 0.
    for (int field = 0; field < 4; ++field) {
      unsigned codes[4] = {0, 0, 0, 0};
      codes[field] = c.code;
      Bytes rec = tech_file(c.type, {{36526, codes[0], codes[1], codes[2], codes[3], 0, 0}});
      const BarRecord b = techtools_bar(c.type, rec.data() + kTechHeaderSize);
      const float got[4] = {b.open, b.high, b.low, b.close};
      for (int i = 0; i < 4; ++i)
        EXPECT_FLOAT_EQ(got[i], i == field ? c.price : 0.0f)
            << "type " << c.type << " code " << c.code << " field " << field << " read " << i;
    }
  }
}

TEST_F(TechToolsCore, HeaderOnlyFileGivesAnEmptyChartThatCountsAsStored) {
  const Result r = convert(tech_file(-3, {}));
  EXPECT_EQ(r.status, Status::kDone);
  EXPECT_FALSE(r.stopped);
  EXPECT_EQ(r.count, 0);
  EXPECT_EQ(read_file(target()), chart_header(0));
}

TEST_F(TechToolsCore, ChartHoldsEveryRecordInOrderWithTheLastDateInItsHeader) {
  const Bytes src = tech_file(-3, {
                                      {36525, 1230, 1237, 1221, 1234, 0x0F4240, 12},
                                      {36526, 1234, 1240, 1230, 1237, 500, 0},
                                      {36529, 1, 2, 3, 4, 0xFFFFFF, 0x010203},
                                  });
  const Result r = convert(src);
  ASSERT_EQ(r.status, Status::kDone);
  EXPECT_EQ(r.count, 3);
  EXPECT_EQ(r.first, 19991231);
  EXPECT_EQ(r.last, 20000104);
  EXPECT_EQ(r.message, "");

  Bytes want = chart_header(20000104);
  put_bar(want, 19991231, 123.0f, 123.875f, 122.125f, 123.5f, 1000000, 12);
  put_bar(want, 20000101, 123.5f, 124.0f, 123.0f, 123.875f, 500, 0);
  put_bar(want, 20000104, 0.125f, 0.25f, 0.375f, 0.5f, 16777215, 0x010203);
  EXPECT_EQ(read_file(target()), want);
}

TEST_F(TechToolsCore, PartialLastRecordIsIgnored) {
  Bytes src = tech_file(0, {{36526, 10, 11, 9, 10, 100, 0}});
  for (int i = 0; i < 15; ++i) src.push_back(0x11);
  const Result r = convert(src);
  ASSERT_EQ(r.status, Status::kDone);
  EXPECT_EQ(read_file(target()).size(), 128u + 28u);
}

TEST_F(TechToolsCore, ManyRecordsAcrossReadBlocksAreAllConverted) {
  std::vector<TechRec> recs;
  for (unsigned i = 0; i < 2500; ++i) recs.push_back({30000 + i, i, i + 2, i, i + 1, i * 7, i});
  const Result r = convert(tech_file(0, recs));
  ASSERT_EQ(r.status, Status::kDone);
  const Bytes chart = read_file(target());
  ASSERT_EQ(chart.size(), 128u + 2500u * 28u);
  // Spot-check the last bar's close and volume.
  const unsigned char* last = chart.data() + 128 + 2499 * 28;
  float close;
  std::uint32_t raw = std::uint32_t(last[16]) | std::uint32_t(last[17]) << 8 |
                      std::uint32_t(last[18]) << 16 | std::uint32_t(last[19]) << 24;
  std::memcpy(&close, &raw, 4);
  EXPECT_FLOAT_EQ(close, 2500.0f);
  EXPECT_EQ(last[20] | last[21] << 8 | last[22] << 16, 2499 * 7);
}

TEST_F(TechToolsCore, RecordsOutOfDateOrderAreSortedInOneBarPerDate) {
  const Result r = convert(tech_file(0, {
                                                 {36530, 1, 1, 1, 1, 0, 0},
                                                 {36529, 2, 2, 2, 2, 0, 0},
                                                 {36530, 3, 3, 3, 3, 0, 0},
                                                 {36531, 4, 4, 4, 4, 0, 0},
                                             }));
  ASSERT_EQ(r.status, Status::kDone);
  EXPECT_EQ(r.count, 3);
  EXPECT_EQ(rec_.order.out_of_order, 1);
  EXPECT_EQ(rec_.order.same_date, 1);
  EXPECT_EQ(r.passed_over, 2);
  EXPECT_EQ(r.message, " Sorted by date: 1 records out of order, 1 of a repeated date.");
  Bytes want = chart_header(20000106);
  put_bar(want, 20000104, 2, 2, 2, 2, 0, 0);
  put_bar(want, 20000105, 3, 3, 3, 3, 0, 0);  // the later record of the date
  put_bar(want, 20000106, 4, 4, 4, 4, 0, 0);
  EXPECT_EQ(read_file(target()), want);
}

TEST_F(TechToolsCore, ExistingChartIsReplacedNotMerged) {
  Bytes old = chart_header(19990101);
  put_bar(old, 19990101, 5, 5, 5, 5, 5, 5);
  put_bar(old, 20000101, 6, 6, 6, 6, 6, 6);
  ASSERT_TRUE(write_file(target(), old));
  ASSERT_EQ(convert(tech_file(0, {{36527, 7, 7, 7, 7, 7, 7}})).status, Status::kDone);
  Bytes want = chart_header(20000102);
  put_bar(want, 20000102, 7, 7, 7, 7, 7, 7);
  EXPECT_EQ(read_file(target()), want);
}

TEST_F(TechToolsCore, StopRequestKeepsTheBarsSoFarAsTheChart) {
  StopAfter stop(2);
  const Result r = convert(tech_file(0, {
                                                 {36526, 1, 1, 1, 1, 0, 0},
                                                 {36527, 2, 2, 2, 2, 0, 0},
                                                 {36528, 3, 3, 3, 3, 0, 0},
                                             }),
                                stop);
  EXPECT_EQ(r.status, Status::kDone);
  EXPECT_TRUE(r.stopped);
  Bytes want = chart_header(20000102);
  put_bar(want, 20000101, 1, 1, 1, 1, 0, 0);
  put_bar(want, 20000102, 2, 2, 2, 2, 0, 0);
  EXPECT_EQ(read_file(target()), want);
}

TEST_F(TechToolsCore, FailuresLeaveTheExistingChartByteForByte) {
  Bytes old = chart_header(19990101);
  put_bar(old, 19990101, 5, 5, 5, 5, 5, 5);
  const Bytes src = tech_file(0, {{36526, 1, 1, 1, 1, 0, 0}, {36527, 2, 2, 2, 2, 0, 0}});
  struct Case {
    const char* what;
    FaultPlan plan;
    std::string message;
  };
  const std::string cannot_create = kDiskFullLine + target();
  const Case cases[] = {
      {"header write", FaultPlan{.fail_write = 1}, kTechWriteFailed},
      {"bar write", FaultPlan{.fail_write = 2}, kTechWriteFailed},
      {"header date write", FaultPlan{.fail_write = 3}, kTechWriteFailed},
      {"temporary file", FaultPlan{.fail_create = 1}, cannot_create},
      {"rename", FaultPlan{.fail_rename = 1}, kTechWriteFailed},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(write_file(target(), old));
    g_faults = c.plan;
    const Result r = convert(src);
    faults_reset();
    EXPECT_EQ(r.status, Status::kFailed) << c.what;
    EXPECT_EQ(r.message, c.message) << c.what;
    EXPECT_EQ(read_file(target()), old) << c.what;
    EXPECT_EQ(list_dir(dir_.path()), (std::vector<std::string>{"chart", "prices.tt"})) << c.what;
  }
}

TEST_F(TechToolsCore, FailedConversionCreatesNoNewChart) {
  g_faults.fail_write = 2;
  EXPECT_EQ(convert(tech_file(0, {{36526, 1, 1, 1, 1, 0, 0}})).message, kTechWriteFailed);
  EXPECT_FALSE(file_exists(target()));
}

TEST_F(TechToolsCore, SourceShorterThanItsHeaderIsRefused) {
  Bytes old = chart_header(19990101);
  ASSERT_TRUE(write_file(target(), old));
  for (std::size_t n : {0u, 1u, 15u}) {
    const Result r = convert(Bytes(n, 0x01));
    EXPECT_EQ(r.status, Status::kRefused) << n;
    EXPECT_EQ(r.message, kTechTooShort) << n;
    EXPECT_EQ(read_file(target()), old) << n;
  }
}

TEST_F(TechToolsCore, TargetInAMissingFolderCannotBeCreated) {
  const std::string src = dir_.file("prices.tt");
  ASSERT_TRUE(write_file(src, tech_file(0, {{36526, 1, 1, 1, 1, 0, 0}})));
  const int fd = ::open(src.c_str(), O_RDONLY);
  TechToolsListener quiet;
  const Result r = techtools_convert(TechToolsRequest{fd, dir_.file("no/such/chart")}, quiet);
  ::close(fd);
  EXPECT_EQ(r.status, Status::kFailed);
  EXPECT_EQ(r.message, kDiskFullLine + dir_.file("no/such/chart"));
}
