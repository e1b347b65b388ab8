// Reading the drum metadata text as JSON without a JSON library: a walk that
// only finds where things are. The key editor finds the values it rewrites
// with it, and the intake tells a drum pack from a recording.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <string_view>
#include <utility>

#include "kitweaver/records.h"

namespace kitweaver {

// Nesting deeper than any metadata text has is refused, so hostile text
// can't exhaust the stack.
inline constexpr int kDeepest = 32;

// A walk over JSON text that only finds where things are.
struct JsonScanner {
  std::string_view text;
  std::size_t at = 0;
  int depth = 0;

  void skip_space() {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r')) ++at;
  }
  bool take(char c) {
    skip_space();
    if (at >= text.size() || text[at] != c) return false;
    ++at;
    return true;
  }
  // A string: its contents as written.
  bool string(std::string_view* contents) {
    skip_space();
    if (at >= text.size() || text[at] != '"') return false;
    const std::size_t start = ++at;
    while (at < text.size() && text[at] != '"') at += text[at] == '\\' ? 2 : 1;
    if (at >= text.size()) return false;
    *contents = text.substr(start, at - start);
    ++at;
    return true;
  }
  // Any value, nested ones too.
  bool value() {
    skip_space();
    if (at >= text.size()) return false;
    if (text[at] == '"') {
      std::string_view ignored;
      return string(&ignored);
    }
    if (text[at] == '[' || text[at] == '{') {
      if (++depth > kDeepest) return false;
      const char close = text[at] == '[' ? ']' : '}';
      ++at;
      if (!take(close)) {
        do {
          if (close == '}') {
            std::string_view name;
            if (!string(&name) || !take(':')) return false;
          }
          if (!value()) return false;
        } while (take(','));
        if (!take(close)) return false;
      }
      --depth;
      return true;
    }
    const std::size_t start = at;
    while (at < text.size() && std::strchr(",]} \t\n\r", text[at]) == nullptr) ++at;
    return at > start;
  }
  // A list of 24 numbers: where each is.
  bool numbers(std::array<std::pair<std::size_t, std::size_t>, kSlotCount>* items) {
    if (!take('[')) return false;
    for (std::size_t k = 0; k < kSlotCount; ++k) {
      if (k > 0 && !take(',')) return false;
      skip_space();
      const std::size_t start = at;
      if (!value() || at == start || text[start] == '"' || text[start] == '[' || text[start] == '{') return false;
      (*items)[k] = {start, at};
    }
    return take(']');
  }
};

// Walks the members of the object at the start of `text`, calling
// `member(name, scan)` for each with `scan` before its value, which `member`
// reads (false refuses the text). Names are as written, escapes and all.
// False when the text does not open with an object the walk can read; else
// `*end` is where the object ends.
template <typename Member>
bool scan_object(std::string_view text, Member member, std::size_t* end) {
  JsonScanner scan{text};
  if (!scan.take('{')) return false;
  if (!scan.take('}')) {
    do {
      std::string_view name;
      if (!scan.string(&name) || !scan.take(':') || !member(name, scan)) return false;
    } while (scan.take(','));
    if (!scan.take('}')) return false;
  }
  *end = scan.at;
  return true;
}

}  // namespace kitweaver
