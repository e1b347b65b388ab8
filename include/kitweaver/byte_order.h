// Byte-order helpers: WAV numbers are little-endian, AIFF numbers big-endian.
// Built from shifts only, so they are independent of the host's order.
#pragma once

#include <cmath>
#include <cstdint>

namespace kitweaver {

inline std::uint16_t load_le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t load_le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline std::uint16_t load_be16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

inline std::uint32_t load_be32(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

inline std::uint64_t load_le64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(load_le32(p)) | (static_cast<std::uint64_t>(load_le32(p + 4)) << 32);
}

inline std::uint64_t load_be64(const std::uint8_t* p) {
  return (static_cast<std::uint64_t>(load_be32(p)) << 32) | static_cast<std::uint64_t>(load_be32(p + 4));
}

inline void store_be16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}

inline void store_be32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

inline void store_le16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

inline void store_le32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

// An 80-bit IEEE 754 extended number (sign, 15-bit exponent, 64-bit
// mantissa with explicit integer bit), as AIFF stores sample rates.
inline double decode_extended80(const std::uint8_t* p) {
  const int sign = (p[0] & 0x80) != 0 ? -1 : 1;
  const int exponent = ((p[0] & 0x7F) << 8) | p[1];
  std::uint64_t mantissa = 0;
  for (int i = 2; i < 10; ++i) mantissa = (mantissa << 8) | p[i];
  if (exponent == 0 && mantissa == 0) return 0.0;
  if (exponent == 0x7FFF) return NAN;
  return sign * std::ldexp(static_cast<double>(mantissa), exponent - 16383 - 63);
}

// Stores a finite `value` as an 80-bit extended number, exactly (its 53
// mantissa bits fit in 64): 44100 is 40 0E AC 44 00 00 00 00 00 00.
inline void encode_extended80(std::uint8_t* p, double value) {
  for (int i = 0; i < 10; ++i) p[i] = 0;
  if (value == 0.0) return;
  int exponent = 0;
  const double fraction = std::frexp(std::fabs(value), &exponent);  // in [0.5, 1)
  const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 64));
  const auto biased = static_cast<std::uint16_t>(exponent - 1 + 16383);
  store_be16(p, static_cast<std::uint16_t>(biased | (value < 0 ? 0x8000 : 0)));
  store_be32(p + 2, static_cast<std::uint32_t>(mantissa >> 32));
  store_be32(p + 6, static_cast<std::uint32_t>(mantissa));
}

}  // namespace kitweaver
