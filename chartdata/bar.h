// Chart file records: the 128-byte chart header and the 28-byte bar record,
// both little-endian on disk.  Encoded and decoded field by field so the
// layout never depends on the compiler's struct packing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

inline constexpr std::size_t kHeaderSize = 128;
inline constexpr std::size_t kBarSize = 28;
inline constexpr std::size_t kHeaderTypeOffset = 116;  // type letter, then '\n'
inline constexpr std::size_t kHeaderDateOffset = 118;  // int32 yyyymmdd
inline constexpr std::size_t kHeaderUpgradeMark = 77;  // '/' in charts that may hold yymmdd dates

struct BarRecord {
  std::int32_t date = 0;  // yyyymmdd (numbered charts: ntod(k); old files: yymmdd)
  float open = 0, high = 0, low = 0, close = 0;
  std::int32_t volume = 0;
  std::int32_t openint = 0;
};

inline void put_le32(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}
inline std::uint32_t get_le32(const unsigned char* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}
inline void put_lef32(unsigned char* p, float f) {
  std::uint32_t v;
  std::memcpy(&v, &f, 4);
  put_le32(p, v);
}
inline float get_lef32(const unsigned char* p) {
  std::uint32_t v = get_le32(p);
  float f;
  std::memcpy(&f, &v, 4);
  return f;
}

inline void encode_bar(const BarRecord& b, unsigned char* out) {
  put_le32(out + 0, static_cast<std::uint32_t>(b.date));
  put_lef32(out + 4, b.open);
  put_lef32(out + 8, b.high);
  put_lef32(out + 12, b.low);
  put_lef32(out + 16, b.close);
  put_le32(out + 20, static_cast<std::uint32_t>(b.volume));
  put_le32(out + 24, static_cast<std::uint32_t>(b.openint));
}
inline BarRecord decode_bar(const unsigned char* in) {
  BarRecord b;
  b.date = static_cast<std::int32_t>(get_le32(in + 0));
  b.open = get_lef32(in + 4);
  b.high = get_lef32(in + 8);
  b.low = get_lef32(in + 12);
  b.close = get_lef32(in + 16);
  b.volume = static_cast<std::int32_t>(get_le32(in + 20));
  b.openint = static_cast<std::int32_t>(get_le32(in + 24));
  return b;
}
