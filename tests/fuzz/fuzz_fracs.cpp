// Quote prices in eighths and sixteenths (fracs), the numeric fields of
// quote lines, price and volume numbers and every date code, on one text.
//
// Promises checked: nothing reads past the text; "W.e/" is W + e/8 and
// "W/ss" is W + ss/16 for plain digits; a quote field is at most 19
// characters of digits, signs, points and slashes; an accepted date is a
// yyyymmdd date of years 1000-2999.
#include <cmath>
#include <string>

#include "chartdata/encodings.h"
#include "convert/quickquote.h"
#include "convert/text_to_chart.h"
#include "fuzz_support.h"

namespace fuzz_fracs {

inline bool all_digits(const std::string& s, std::size_t from, std::size_t to) {
  if (from >= to) return false;
  for (std::size_t i = from; i < to; ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

inline void check_known_forms(const std::string& t, float got) {
  const std::size_t n = t.size();
  if (n < 3 || n > 9) return;
  // "W.e/": whole part, point, one digit of eighths, slash.
  if (t[n - 1] == '/' && t[n - 3] == '.' && all_digits(t, 0, n - 3) && all_digits(t, n - 2, n - 1)) {
    double want = std::stod(t.substr(0, n - 3)) + (t[n - 2] - '0') / 8.0;
    FUZZ_CHECK(std::fabs(got - want) <= 1e-6 * (1 + want));
  }
  // "W/ss": whole part, slash, two digits of sixteenths.
  if (n >= 4 && t[n - 3] == '/' && all_digits(t, 0, n - 3) && all_digits(t, n - 2, n)) {
    double want = std::stod(t.substr(0, n - 3)) + std::stod(t.substr(n - 2)) / 16.0;
    FUZZ_CHECK(std::fabs(got - want) <= 1e-6 * (1 + want));
  }
}

inline int run(const std::uint8_t* data, std::size_t size) {
  // As a C string: the parsers see text up to its first NUL.
  std::string text(reinterpret_cast<const char*>(data), size);
  text = text.c_str();
  float v = fracs(text.c_str());
  check_known_forms(text, v);
  (void)read_price(text.c_str());
  (void)read_integer(text.c_str());
  for (std::size_t col : {0u, 1u, 22u, 42u, 54u, 66u, 300u}) {
    std::string field = quote_field(text.c_str(), col);
    FUZZ_CHECK(field.size() <= kQuoteFieldMax);
    FUZZ_CHECK(field.find_first_not_of("0123456789+-./") == std::string::npos);
    (void)fracs(field.c_str());
  }
  for (int code = -1; code <= 5; ++code) {
    std::int32_t date = 0;
    bool synthetic = false;
    TimeOfDayDates clock;
    if (parse_date(text.c_str(), code, &date, clock, &synthetic) && !synthetic) {
      FUZZ_CHECK(code >= 0 && code <= 4);  // 4: day first (dd.mm.yyyy)
      FUZZ_CHECK(date >= 10000101 && date <= 29999931);
    }
  }
  return 0;
}

}  // namespace fuzz_fracs

MORVA_FUZZ_ENTRY(fuzz_fracs)
