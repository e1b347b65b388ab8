#include "pack/replace_all.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

namespace kitweaver {
namespace {

// The occurrence list grows by a step that starts at 16 entries and triples
// after each growth, up to 1,048,576 entries at a time.
constexpr std::size_t kFirstGrowth = 16;
constexpr std::size_t kLargestGrowth = 0x100000;

}  // namespace

std::optional<std::string> replace_all(std::string_view source, std::string_view pattern,
                                       std::string_view replacement) {
  try {
    if (pattern.empty()) return std::string(source);
    std::vector<std::size_t> occurrences;
    std::size_t step = kFirstGrowth;
    for (std::size_t at = source.find(pattern); at != std::string_view::npos;
         at = source.find(pattern, at + pattern.size())) {
      if (occurrences.size() == occurrences.capacity()) {
        occurrences.reserve(occurrences.capacity() + step);
        step = std::min(3 * step, kLargestGrowth);
      }
      occurrences.push_back(at);
    }

    // One allocation at the exact final size; every byte written once.
    std::string result;
    result.resize(source.size() + occurrences.size() * replacement.size() -
                  occurrences.size() * pattern.size());
    char* out = result.data();
    std::size_t from = 0;
    for (const auto at : occurrences) {
      out = std::copy(source.begin() + static_cast<std::ptrdiff_t>(from),
                      source.begin() + static_cast<std::ptrdiff_t>(at), out);
      out = std::copy(replacement.begin(), replacement.end(), out);
      from = at + pattern.size();
    }
    std::copy(source.begin() + static_cast<std::ptrdiff_t>(from), source.end(), out);
    return result;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

}  // namespace kitweaver
