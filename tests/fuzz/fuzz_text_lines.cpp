// Text price files through the line readers, the field walk, every date
// code and the line parser.
//
// Input: byte 0 the date code, bytes 1-12 the field order, byte 13 the
// separator, byte 14 the start date choice; the rest is the text file.
// Promises checked:
//  - the block reader of the conversion yields exactly the lines of mygts;
//  - every field slot is a C string of at most 19 characters;
//  - a symbol made from a line is a plain file name: no '/', never "..",
//    at most 21 characters;
//  - a date the parser accepts is a yyyymmdd date of years 1000-2999 (or a
//    synthetic time-of-day date);
//  - the first-symbol and first-dates readers stop within the file.
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "chartdata/linereader.h"
#include "window/globals.h"
#include "convert/symbol_names.h"
#include "convert/text_to_chart.h"
#include "fuzz_support.h"

namespace fuzz_text_lines {

using namespace fuzzsup;

struct Quiet : TextReport {};

inline FormatSettings settings_from(Input& in) {
  FormatSettings f{};
  std::uint8_t code = in.byte();
  f.datecode = static_cast<char>(code < 200 ? code % 4 : code);  // now and then out of range
  static const char kLetters[] = "SDOHLCVIM XZ";
  for (int i = 0; i < 12; ++i) {
    std::uint8_t b = in.byte();
    f.order[i] = b < 240 ? kLetters[b % 12] : static_cast<char>(b);
  }
  f.nul1 = 0;
  static const char kSeps[] = ", ;\t|:/-";
  std::uint8_t s = in.byte();
  f.sep = s < 200 ? kSeps[s % 8] : static_cast<char>(s);
  static const char* const kStarts[] = {"19600101", "00000000", "20000101", "99999999",
                                        "1999x231"};
  std::memcpy(f.startdate, kStarts[in.byte() % 5], 8);
  f.nul2 = 0;
  f.direction = 0;
  return f;
}

inline void check_symbol(const std::string& sym) {
  FUZZ_CHECK(sym.size() <= kMaxSymbol);
  FUZZ_CHECK(sym.find('/') == std::string::npos);
  FUZZ_CHECK(sym.find('\0') == std::string::npos);
  FUZZ_CHECK(sym != "..");
}

inline void check_date(int ok, std::int32_t date, bool synthetic, int where = 0) {
  if (!ok || synthetic) return;
  if (date < 10000101 || date > 29999931) std::fprintf(stderr, "date %d at %d\n", date, where);
  FUZZ_CHECK(date >= 10000101 && date <= 29999931);
  FUZZ_CHECK(date % 100 >= 1 && date % 100 <= 31);
}

inline void check_slots(const FieldSlots& s) {
  for (const auto& slot : s.slot) FUZZ_CHECK(std::memchr(slot, '\0', sizeof slot) != nullptr);
  check_symbol(s.symbol);
}

inline int run(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const FormatSettings f = settings_from(in);
  const std::string_view text = in.rest();
  const std::string path = workdir() + "/lines.txt";
  if (!write_bytes(path, text.data(), text.size())) return 0;

  // 1. The block reader against mygts, line by line.
  std::vector<std::string> lines;
  {
    int a = ::open(path.c_str(), O_RDONLY);
    int b = ::open(path.c_str(), O_RDONLY);
    FUZZ_CHECK(a >= 0 && b >= 0);
    {
      LineReader src(b, 1 + size % 300);
      char buf[kLineBudget];
      std::string_view got;
      while (mygts(buf, kLineBudget, a)) {
        FUZZ_CHECK(std::strlen(buf) < kLineBudget);
        FUZZ_CHECK(src.next(got));
        FUZZ_CHECK(got == std::string_view(buf));
        lines.emplace_back(buf);
      }
      FUZZ_CHECK(!src.next(got));
    }
    linereader_close(a);
    ::close(b);
  }

  // 2. Every line through the field walk, the dates and the parser.
  Quiet quiet;
  TimeOfDayDates clock;
  LineParser parser(f, "prices.txt", 1, quiet, clock);
  std::string cursym;
  for (const std::string& line : lines) {
    FieldSlots slots;
    std::size_t symbol_end = 0;
    int changed = walk_fields(line, f, &cursym, slots, &symbol_end);
    check_slots(slots);
    if (changed) FUZZ_CHECK(slots.symbol != cursym);
    for (int code = 0; code < 4; ++code) {
      std::int32_t date = 0;
      bool synthetic = false;
      int ok = parse_date(line.c_str(), code, &date, clock, &synthetic);
      check_date(ok, date, synthetic, 10 + code);
      ok = parse_date(slots.slot[4], code, &date, clock, &synthetic);
      check_date(ok, date, synthetic, 20 + code);
    }
    ParsedLine p;
    parser.parse(line, cursym, p);
    if (p.kind == LineKind::kSymbolChange) {
      check_symbol(p.symbol);
      cursym = p.symbol;
    } else if (p.kind == LineKind::kBar) {
      check_date(1, p.bar.date, p.synthetic, 30);
    }
    std::string sym = symbol_to_name(line, f.sep);
    check_symbol(sym);
  }

  // 3. The first-lines readers over the descriptor.
  int fd = ::open(path.c_str(), O_RDONLY);
  FUZZ_CHECK(fd >= 0);
  std::string name;
  if (first_symbol(fd, f, name)) {
    check_symbol(name);
    off_t at = linereader_tell(fd);
    FUZZ_CHECK(at >= 0 && static_cast<std::size_t>(at) <= text.size());
  }
  std::int32_t dates[2] = {0, 0};
  int count = -1;
  first_two_dates(fd, f, std::memchr(f.order, 'S', 12) != nullptr, dates, &count, quiet, clock);
  FUZZ_CHECK(count >= 0 && count <= 2);
  if (f.datecode != 2)  // time-of-day dates are synthetic
    for (int i = 0; i < count; ++i) check_date(1, dates[i], false, 40 + i);
  linereader_close(fd);
  return 0;
}

}  // namespace fuzz_text_lines

MORVA_FUZZ_ENTRY(fuzz_text_lines)
