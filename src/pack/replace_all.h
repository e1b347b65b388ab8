// Placeholder substitution for the metadata template.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kitweaver {

// A new text in which every non-overlapping occurrence of `pattern`, found
// left to right, is replaced by `replacement`. The replacement is never
// searched again. An empty pattern gives a copy of the source. Returns
// nothing when memory runs out; the inputs are never changed.
std::optional<std::string> replace_all(std::string_view source, std::string_view pattern,
                                       std::string_view replacement);

}  // namespace kitweaver
