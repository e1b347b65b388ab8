// Reading numbers and stems out of directory and file names.
//
// Used by the mode detection (directory name), the chord tags and the
// chromatic key map (file names). Every read is bounded by an explicit end, so
// no scan can leave the text it was given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

namespace kitweaver {

// A leading decimal integer of `text`: white space skipped, an optional sign,
// digits up to the first other character; no digits gives 0. Values beyond the
// signed 32-bit range saturate at its limits.
inline std::int32_t read_leading_int(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulate up to one past the limit; anything further saturates.
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > kLimit) value = kLimit;
  }
  if (negative) return static_cast<std::int32_t>(-value);
  return static_cast<std::int32_t>(value < kLimit ? value : kLimit - 1);
}

// Length of a path's stem: the text before its last ".", where the first
// character is never taken as the separator. A path with no "." after its
// first character has an empty stem.
inline std::size_t stem_length(std::string_view path) {
  for (std::size_t i = path.size(); i > 1; --i) {
    if (path[i - 1] == '.') return i - 1;
  }
  return 0;
}

// Position of the last `c` in text[first, end), or `end` when there is none
// (also when first >= end). Callers pass first = 1 so that the first character
// of a stem is never examined.
inline std::size_t find_last_in(std::string_view text, char c, std::size_t first, std::size_t end) {
  for (std::size_t i = end; i > first; --i) {
    if (text[i - 1] == c) return i - 1;
  }
  return end;
}

inline bool contains(std::string_view text, std::string_view word) {
  return text.find(word) != std::string_view::npos;
}

}  // namespace kitweaver
