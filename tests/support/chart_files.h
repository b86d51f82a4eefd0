// Chart files for tests: bytes built by hand (independent of the program's
// own encoders, for comparing whole files), bytes built through the
// program's encoders, readers of stored fields, and the silent disk-full
// reporter the command tests share.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "chartdata/bar.h"
#include "chartdata/chartfile.h"
#include "support/tempdir.h"

// ---- Bytes built by hand -----------------------------------------------------

// Little-endian 16- and 32-bit values and a float's bits appended to `b`.
void le16(Bytes& b, unsigned v);
void le32(Bytes& b, std::uint32_t v);
void lef(Bytes& b, float f);

// A 128-byte chart header: spaces, byte 0 and byte 109 zero, '/' at 77, the
// chart type and '\n' at 116, the header date at 118.
Bytes chart_header(std::int32_t date, char type = 'D');

// One 28-byte bar appended to `b`.
void put_bar(Bytes& b, std::int32_t date, float o, float h, float l, float c, std::int32_t v,
             std::int32_t oi = 0);

// ---- Reading stored fields ---------------------------------------------------

std::int32_t le32_at(const Bytes& b, std::size_t at);
float f32_at(const Bytes& b, std::size_t at);

// ---- Through the program's encoders ------------------------------------------

BarRecord bar(std::int32_t date, float o, float h, float l, float c, std::int32_t v = 100,
              std::int32_t oi = 10);

// A chart made by make_header (type `type`, '\n') and encode_bar.
Bytes chart_bytes(char type, std::int32_t hdr_date, const std::vector<BarRecord>& bars);

// Writes `bytes` as tmp/name and opens it for reading.
int open_chart(const TempDir& tmp, const std::string& name, const Bytes& bytes);

// Every field of every bar equal (a failure names the bar).
void expect_bars(const std::vector<BarRecord>& got, const std::vector<BarRecord>& want);

// A test that runs in a temporary folder of its own (the working directory
// while it runs), with the injected faults cleared before and after.
class ChartFolderTest : public ::testing::Test {
 protected:
  ChartFolderTest();
  ~ChartFolderTest() override;
  // Writes `bytes` as src.M and opens it for reading.
  int source(const Bytes& bytes) const { return open_chart(tmp_, "src.M", bytes); }

  TempDir tmp_;
  ScopedChdir cd_{tmp_.path()};
};

// ---- Guards ------------------------------------------------------------------

// Silences the disk-full reporter for its lifetime.
class QuietDiskFull {
 public:
  QuietDiskFull();
  ~QuietDiskFull();
  QuietDiskFull(const QuietDiskFull&) = delete;
  QuietDiskFull& operator=(const QuietDiskFull&) = delete;

 private:
  DiskFullReporter old_;
};

