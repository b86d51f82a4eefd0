// TechTools files through the import core.
//
// Input: the TechTools file.  Promises checked against the file layout:
// the chart is a daily chart whose bars are the whole records in file
// order, each dated 30 December 1899 plus its serial, a record not later
// than the bar before it dropped and counted; volumes and open interests
// are the 24-bit fields; the header date is the last bar's date; a file
// shorter than its header writes nothing; an existing chart is replaced
// whole; no temporary file is left.
#include <array>
#include <map>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "convert/techtools.h"
#include "fuzz_support.h"

namespace fuzz_techtools {

using namespace fuzzsup;

// yyyymmdd of 30 December 1899 plus `serial` days.
inline std::int32_t serial_date(unsigned serial) {
  using namespace std::chrono;
  const sys_days base = year{1899} / December / 30;
  const year_month_day ymd{base + days{serial}};
  return static_cast<int>(ymd.year()) * 10000 + static_cast<int>(unsigned(ymd.month())) * 100 +
         static_cast<int>(unsigned(ymd.day()));
}

inline int run(const std::uint8_t* data, std::size_t size) {
  const std::string dir = fresh_dir("tech");
  const std::string src = dir + "/prices.dat";
  const std::string target = dir + "/t.M";
  write_bytes(src, data, size);
  // An existing chart of that name: replaced whole, never merged.
  static const auto kOld = [] {
    std::array<unsigned char, kHeaderSize + kBarSize> b{};
    b[kHeaderTypeOffset] = 'D';
    b[kHeaderTypeOffset + 1] = '\n';
    b[kHeaderSize] = 1;
    return b;
  }();
  write_bytes(target, kOld.data(), kOld.size());

  int fd = ::open(src.c_str(), O_RDONLY);
  FUZZ_CHECK(fd >= 0);
  struct Sorted : TechToolsListener {
    long same_date = 0;
    void sorted(long, long same) override { same_date = same; }
  } listener;
  const Result r = techtools_convert(TechToolsRequest{fd, target}, listener);
  ::close(fd);
  const Bytes out = read_bytes(target);
  FUZZ_CHECK(no_temp_left(dir));
  if (size < kTechHeaderSize) {
    FUZZ_CHECK(r.status == Status::kRefused);
    FUZZ_CHECK(out == Bytes(kOld.begin(), kOld.end()));
    return 0;
  }
  // A file mostly of impossible bars is no TechTools file: nothing written.
  if (r.status == Status::kRefused) {
    FUZZ_CHECK(r.bar_check.mostly_broken());
    FUZZ_CHECK(out == Bytes(kOld.begin(), kOld.end()));
    return 0;
  }
  FUZZ_CHECK(r.status == Status::kDone);
  FUZZ_CHECK(whole_chart(out));
  FUZZ_CHECK(out[kHeaderTypeOffset] == 'D' && out[kHeaderTypeOffset + 1] == '\n');
  const auto bars = bars_of(out);
  FUZZ_CHECK(static_cast<long>(bars.size()) == r.count);

  // Every date of the file once, ascending, with the last record of that date.
  std::map<std::int32_t, const std::uint8_t*> last_of_date;
  long records = 0;
  for (std::size_t at = kTechHeaderSize; at + kTechRecordSize <= size; at += kTechRecordSize, ++records)
    last_of_date[serial_date(data[at] | data[at + 1] << 8)] = data + at;
  FUZZ_CHECK(bars.size() == last_of_date.size());
  std::size_t k = 0;
  for (const auto& [date, rec] : last_of_date) {
    FUZZ_CHECK(bars[k].date == date);
    FUZZ_CHECK(bars[k].volume == (rec[10] | rec[11] << 8 | rec[12] << 16));
    FUZZ_CHECK(bars[k].openint == (rec[13] | rec[14] << 8 | rec[15] << 16));
    ++k;
  }
  FUZZ_CHECK(records - static_cast<long>(bars.size()) == listener.same_date);
  const std::int32_t header_date = static_cast<std::int32_t>(get_le32(out.data() + kHeaderDateOffset));
  FUZZ_CHECK(header_date == (bars.empty() ? 0 : bars.back().date));
  return 0;
}

}  // namespace fuzz_techtools

MORVA_FUZZ_ENTRY(fuzz_techtools)
