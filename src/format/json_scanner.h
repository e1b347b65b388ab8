// Reading the drum metadata text as JSON without a JSON library: a walk that
// finds where things are. The pack reader reads the key lists with it (and
// where each number stands, which the key editor rewrites), and the intake
// tells a drum pack from a recording. A strict walk takes only JSON itself
// (its literals, numbers and escapes); a lenient one, which tells a drum
// pack, takes any word where a value stands.
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
  bool strict = false;

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
    while (at < text.size() && text[at] != '"') {
      if (strict && static_cast<unsigned char>(text[at]) < 0x20) return false;
      if (text[at] != '\\') {
        ++at;
        continue;
      }
      if (strict && !escape(at + 1)) return false;
      at += 2;
    }
    if (at >= text.size()) return false;
    *contents = text.substr(start, at - start);
    ++at;
    return true;
  }
  // An escape after a backslash at `i`: one of JSON's letters, or u and
  // four hex digits.
  bool escape(std::size_t i) const {
    if (i >= text.size()) return false;
    if (std::strchr("\"\\/bfnrt", text[i]) != nullptr && text[i] != '\0') return true;
    if (text[i] != 'u' || i + 4 >= text.size()) return false;
    for (std::size_t k = i + 1; k <= i + 4; ++k) {
      if (std::strchr("0123456789abcdefABCDEF", text[k]) == nullptr || text[k] == '\0') return false;
    }
    return true;
  }
  // Whether `word` is a JSON literal or number.
  static bool json_scalar(std::string_view word) {
    if (word == "true" || word == "false" || word == "null") return true;
    std::size_t i = 0;
    auto digits = [&] {
      const std::size_t from = i;
      while (i < word.size() && word[i] >= '0' && word[i] <= '9') ++i;
      return i > from;
    };
    if (i < word.size() && word[i] == '-') ++i;
    if (i < word.size() && word[i] == '0') {
      ++i;
    } else if (!digits()) {
      return false;
    }
    if (i < word.size() && word[i] == '.') {
      ++i;
      if (!digits()) return false;
    }
    if (i < word.size() && (word[i] == 'e' || word[i] == 'E')) {
      ++i;
      if (i < word.size() && (word[i] == '+' || word[i] == '-')) ++i;
      if (!digits()) return false;
    }
    return i == word.size();
  }
  // Whether nothing but white space is left.
  bool at_end() {
    skip_space();
    return at == text.size();
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
    return at > start && (!strict || json_scalar(text.substr(start, at - start)));
  }
  // A list of 24 numbers: where each is.
  bool numbers(std::array<std::pair<std::size_t, std::size_t>, kSlotCount>* items) {
    if (!take('[')) return false;
    for (std::size_t k = 0; k < kSlotCount; ++k) {
      if (k > 0 && !take(',')) return false;
      skip_space();
      const std::size_t start = at;
      if (!value() || at == start || text[start] == '"' || text[start] == '[' || text[start] == '{' ||
          text[start] == 't' || text[start] == 'f' || text[start] == 'n') {
        return false;
      }
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
bool scan_object(std::string_view text, Member member, std::size_t* end, bool strict = false) {
  JsonScanner scan{text};
  scan.strict = strict;
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
