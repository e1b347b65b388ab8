// What one stored sample is worth: the one place where the renderers (the
// scatter, the band-limited one and the literal reference) turn a
// recording's bytes into values, whatever its container wrote.
//
// The scatter takes a 16-bit value: the upper 16 bits of an integer sample
// (an 8-bit one times 256), and of a float x the value floor(x x 32768),
// rounded toward negative infinity as those bits are, clamped to 16 bits,
// NaN as 0. So a float holding a 16-bit sample s exactly (s / 32768) gives s,
// and one holding a 24-bit sample s (s / 2^23) gives the upper 16 bits of s.
// The band-limited renderer takes the full value: an integer sample over
// 2^(bits - 1), a float clamped to [-1, 1] (NaN as 0), which for the same
// copies is again the integer's value exactly.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "kitweaver/byte_order.h"
#include "kitweaver/records.h"

namespace kitweaver {

// Every layout of a stored sample the renderers decode; kNone is silence.
enum class SampleType {
  kNone,
  kUnsigned8,  // WAV
  kSigned8,    // AIFF and AIFC
  kLittle16,
  kLittle24,
  kLittle32,
  kBig16,
  kBig24,
  kBig32,
  kFloatLittle32,
  kFloatLittle64,
  kFloatBig32,
  kFloatBig64,
};

inline SampleType sample_type_of(const SampleRecord& record) {
  const SampleEncoding& e = record.encoding;
  switch (record.bits_per_sample / 8) {
    case 1: return e.floating ? SampleType::kNone : e.signed_bytes ? SampleType::kSigned8 : SampleType::kUnsigned8;
    case 2: return e.floating ? SampleType::kNone : e.big_endian ? SampleType::kBig16 : SampleType::kLittle16;
    case 3: return e.floating ? SampleType::kNone : e.big_endian ? SampleType::kBig24 : SampleType::kLittle24;
    case 4:
      if (e.floating) return e.big_endian ? SampleType::kFloatBig32 : SampleType::kFloatLittle32;
      return e.big_endian ? SampleType::kBig32 : SampleType::kLittle32;
    case 8:
      if (!e.floating) return SampleType::kNone;
      return e.big_endian ? SampleType::kFloatBig64 : SampleType::kFloatLittle64;
    default: return SampleType::kNone;
  }
}

template <SampleType T>
inline constexpr bool kFloatSample = T == SampleType::kFloatLittle32 || T == SampleType::kFloatLittle64 ||
                                     T == SampleType::kFloatBig32 || T == SampleType::kFloatBig64;

// Bytes of one stored sample.
template <SampleType T>
inline constexpr int kSampleWidth = T == SampleType::kUnsigned8 || T == SampleType::kSigned8 ? 1
                                    : T == SampleType::kLittle16 || T == SampleType::kBig16 ? 2
                                    : T == SampleType::kLittle24 || T == SampleType::kBig24 ? 3
                                    : T == SampleType::kFloatLittle64 || T == SampleType::kFloatBig64 ? 8
                                                                                                       : 4;

// An integer sample as a signed integer of its width.
template <SampleType T>
std::int32_t sample_integer(const std::uint8_t* p) {
  if constexpr (T == SampleType::kUnsigned8) {
    return p[0] - 128;
  } else if constexpr (T == SampleType::kSigned8) {
    return static_cast<std::int8_t>(p[0]);
  } else if constexpr (T == SampleType::kLittle16) {
    return static_cast<std::int16_t>(load_le16(p));
  } else if constexpr (T == SampleType::kBig16) {
    return static_cast<std::int16_t>(load_be16(p));
  } else if constexpr (T == SampleType::kLittle24) {
    // One word load; its top byte is the next sample's, or the stream's slack.
    return static_cast<std::int32_t>(load_le32(p) << 8) >> 8;
  } else if constexpr (T == SampleType::kBig24) {
    return static_cast<std::int32_t>(load_be32(p)) >> 8;
  } else if constexpr (T == SampleType::kLittle32) {
    return static_cast<std::int32_t>(load_le32(p));
  } else {
    static_assert(T == SampleType::kBig32);
    return static_cast<std::int32_t>(load_be32(p));
  }
}

// 1 / 2^(bits - 1): an integer sample's full value is the integer times it.
template <SampleType T>
inline constexpr double kIntegerScale = 1.0 / static_cast<double>(std::int64_t{1} << (8 * kSampleWidth<T> - 1));

// The IEEE 754 number of a bit pattern.
template <typename Float, typename Bits>
Float from_bits(Bits bits) {
  static_assert(sizeof(Float) == sizeof(Bits));
  Float x;
  std::memcpy(&x, &bits, sizeof x);
  return x;
}

// A float sample as stored.
template <SampleType T>
double stored_float_bits(const std::uint8_t* p) {
  double x;
  if constexpr (T == SampleType::kFloatLittle32) {
    x = from_bits<float>(load_le32(p));
  } else if constexpr (T == SampleType::kFloatBig32) {
    x = from_bits<float>(load_be32(p));
  } else if constexpr (T == SampleType::kFloatLittle64) {
    x = from_bits<double>(load_le64(p));
  } else {
    static_assert(T == SampleType::kFloatBig64);
    x = from_bits<double>(load_be64(p));
  }
  return x;
}

// A float sample's full value, within [-1, 1]; NaN is 0.
template <SampleType T>
double sample_float(const std::uint8_t* p) {
  const double x = stored_float_bits<T>(p);
  if (x >= -1.0 && x <= 1.0) return x;
  return x < -1.0 ? -1.0 : x > 1.0 ? 1.0 : 0.0;
}

// The scatter's value of a sample: its upper 16 bits.
template <SampleType T>
int sample16(const std::uint8_t* p) {
  if constexpr (kFloatSample<T>) {
    const double scaled = stored_float_bits<T>(p) * 32768.0;
    if (scaled > -32768.0 && scaled < 32767.0) {
      const int whole = static_cast<int>(scaled);  // toward zero, then down
      return whole - (static_cast<double>(whole) > scaled ? 1 : 0);
    }
    return scaled >= 32767.0 ? 32767 : scaled <= -32768.0 ? -32768 : 0;  // 0: not a number
  } else if constexpr (kSampleWidth<T> == 1) {
    return sample_integer<T>(p) * 256;
  } else if constexpr (T == SampleType::kLittle16 || T == SampleType::kLittle24 || T == SampleType::kLittle32) {
    return static_cast<std::int16_t>(load_le16(p + kSampleWidth<T> - 2));
  } else {
    return static_cast<std::int16_t>(load_be16(p));
  }
}

// Calls `decode(std::integral_constant<SampleType, T>{})` for `type`; false
// (without a call) for kNone.
template <typename Decode>
bool with_sample_type(SampleType type, Decode&& decode) {
  using enum SampleType;
  switch (type) {
    case kUnsigned8: decode(std::integral_constant<SampleType, kUnsigned8>{}); return true;
    case kSigned8: decode(std::integral_constant<SampleType, kSigned8>{}); return true;
    case kLittle16: decode(std::integral_constant<SampleType, kLittle16>{}); return true;
    case kLittle24: decode(std::integral_constant<SampleType, kLittle24>{}); return true;
    case kLittle32: decode(std::integral_constant<SampleType, kLittle32>{}); return true;
    case kBig16: decode(std::integral_constant<SampleType, kBig16>{}); return true;
    case kBig24: decode(std::integral_constant<SampleType, kBig24>{}); return true;
    case kBig32: decode(std::integral_constant<SampleType, kBig32>{}); return true;
    case kFloatLittle32: decode(std::integral_constant<SampleType, kFloatLittle32>{}); return true;
    case kFloatLittle64: decode(std::integral_constant<SampleType, kFloatLittle64>{}); return true;
    case kFloatBig32: decode(std::integral_constant<SampleType, kFloatBig32>{}); return true;
    case kFloatBig64: decode(std::integral_constant<SampleType, kFloatBig64>{}); return true;
    case kNone: return false;
  }
  return false;
}

// sample16 for a type known only at run time; 0 for kNone.
inline int sample16(const std::uint8_t* p, SampleType type) {
  int value = 0;
  with_sample_type(type, [&](auto t) { value = sample16<decltype(t)::value>(p); });
  return value;
}

}  // namespace kitweaver
