#include "convert/text_sort.h"

#include <algorithm>
#include <cstring>
#include <numeric>

int compare_records(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  const int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
  if (c != 0) return c;
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

void sort_records(std::vector<std::string>& records) {
  auto less = [](const std::string& a, const std::string& b) { return compare_records(a, b) < 0; };
  if (!std::is_sorted(records.begin(), records.end(), less))
    std::stable_sort(records.begin(), records.end(), less);
}

int bsgetone(std::FILE* stream, std::size_t size, long index, void* buffer) {
  if (std::fseek(stream, index * static_cast<long>(size), SEEK_SET) != 0) return 0;
  return std::fread(buffer, 1, size, stream) == size;
}

int bssetone(std::FILE* stream, std::size_t size, long index, const void* data) {
  if (std::fseek(stream, index * static_cast<long>(size), SEEK_SET) != 0) return 0;
  return std::fwrite(data, 1, size, stream) == size;
}

int bsortf(std::FILE* stream, long count, std::size_t size, RecordCompare compare) {
  if (count < 2 || size == 0) return 1;
  std::vector<unsigned char> all(static_cast<std::size_t>(count) * size);
  if (std::fseek(stream, 0, SEEK_SET) != 0) return 0;
  if (std::fread(all.data(), 1, all.size(), stream) != all.size()) return 0;
  std::vector<long> order(static_cast<std::size_t>(count));
  std::iota(order.begin(), order.end(), 0L);
  std::stable_sort(order.begin(), order.end(), [&](long a, long b) {
    return compare(all.data() + a * size, all.data() + b * size, size) < 0;
  });
  std::vector<unsigned char> sorted(all.size());
  for (std::size_t i = 0; i < order.size(); ++i)
    std::memcpy(sorted.data() + i * size, all.data() + order[i] * size, size);
  if (std::fseek(stream, 0, SEEK_SET) != 0) return 0;
  if (std::fwrite(sorted.data(), 1, sorted.size(), stream) != sorted.size()) return 0;
  return std::fflush(stream) == 0;
}
