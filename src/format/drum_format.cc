#include "format/drum_format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "format/json_scanner.h"

namespace kitweaver {
namespace {

// |value| as an unsigned number (the most negative one included).
std::uint64_t magnitude(std::int64_t value) {
  return value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
}

std::int64_t with_sign(std::uint64_t magnitude, bool negative) {
  const auto value = static_cast<std::int64_t>(magnitude);
  return negative ? -value : value;
}

// One member of a template: a plain value, a list of `items`
// (comma-separated) repeated `repeat` times, or a key list.
struct Member {
  std::string_view name;
  std::string_view items;
  int repeat = 0;  // 0: `items` is a plain value
  bool keys = false;
  KeyList list = KeyList::kStart;
  bool wide = false;  // two spaces after the colon, in the spaced form
};

constexpr Member keys(KeyList list, bool wide) { return {key_list_name(list), "", 1, true, list, wide}; }

constexpr Member kSpacedMembers[] = {
    {"drum_version", "3"},
    {"dyna_env", "0,8192,0,0,0,0,0,0", 1},
    {"editable", "true"},
    keys(KeyList::kEnd, true),
    {"fx_active", "false"},
    {"fx_params", "8000", 8},
    {"fx_type", "\"delay\""},
    {"lfo_active", "false"},
    {"lfo_params", "0", 8},
    {"lfo_type", "\"tremolo\""},
    {"name", "\"user99\""},
    {"octave", "0"},
    keys(KeyList::kPitch, false),
    keys(KeyList::kPlayMode, true),
    keys(KeyList::kReverse, true),
    keys(KeyList::kStart, true),
    {"type", "\"drum\""},
    {"volume", "8192", 24, false, KeyList::kStart, true},
};

// The save time is one fixed number, so that two runs give the same bytes.
constexpr Member kCompactMembers[] = {
    {"attack", "0", 24},
    {"drum_version", "2"},
    {"dyna_env", "0,8192,0,0,0,0,0,0", 1},
    keys(KeyList::kEnd, false),
    {"fx_active", "false"},
    {"fx_params", "8000", 8},
    {"fx_type", "\"delay\""},
    {"lfo_active", "false"},
    {"lfo_params", "0", 8},
    {"lfo_type", "\"tremolo\""},
    {"mtime", "1796688000"},
    {"name", "\"user99\""},
    {"octave", "0"},
    {"pan", "16384", 24},
    {"pan_ab", "false", 24},
    keys(KeyList::kPitch, false),
    keys(KeyList::kPlayMode, false),
    keys(KeyList::kReverse, false),
    keys(KeyList::kStart, false),
    {"stereo", "true"},
    {"type", "\"drum\""},
    {"volume", "8192", 24},
};

template <std::size_t N>
std::string template_text(const Member (&members)[N], bool spaced) {
  const std::string_view between = spaced ? ", " : ",";
  std::string text = "op-1{";
  if (spaced) text += " ";
  for (std::size_t m = 0; m < N; ++m) {
    const Member& member = members[m];
    if (m > 0) text += between;
    text += "\"" + std::string(member.name) + "\"" + (spaced ? (member.wide ? " :  " : " : ") : ":");
    if (member.repeat == 0) {
      text += member.items;
      continue;
    }
    std::vector<std::string> items;
    if (member.keys) {
      for (int key = 0; key < kSlotCount; ++key) {
        const std::string_view letters = kKeyListPlaceholders[static_cast<std::size_t>(member.list)];
        items.push_back(std::string(letters) + static_cast<char>('0' + key / 10) + static_cast<char>('0' + key % 10));
      }
    } else {
      for (int r = 0; r < member.repeat; ++r) {
        for (std::size_t at = 0; at <= member.items.size();) {
          const std::size_t comma = std::min(member.items.find(',', at), member.items.size());
          items.emplace_back(member.items.substr(at, comma - at));
          at = comma + 1;
        }
      }
    }
    text += spaced ? "[ " : "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (i > 0) text += between;
      text += items[i];
    }
    text += spaced ? " ]" : "]";
  }
  text += spaced ? " }" : "}";
  return text;
}

}  // namespace

std::string_view drum_template(TextForm form) {
  static const std::string spaced = template_text(kSpacedMembers, true);
  static const std::string compact = template_text(kCompactMembers, false);
  return form == TextForm::kSpaced ? spaced : compact;
}

std::int64_t position_of_frame(std::int64_t frame, std::int64_t scale_frames) {
  // frame = whole x scale_frames + rest, so the product splits into two
  // parts that each fit in 64 bits.
  const auto scale = static_cast<std::uint64_t>(scale_frames);
  const std::uint64_t f = magnitude(frame);
  const std::uint64_t whole = f / scale, rest = f % scale;
  const std::uint64_t full = static_cast<std::uint64_t>(kFullScalePosition);
  const std::uint64_t product = rest * full;
  // Up for a frame after 0, down (towards 0) for one before it: the ceiling
  // either way.
  const std::uint64_t part = frame < 0 ? product / scale : (product + scale - 1) / scale;
  return with_sign(whole * full + part, frame < 0);
}

std::int64_t frame_of_position(std::int64_t position, std::int64_t scale_frames) {
  const auto scale = static_cast<std::uint64_t>(scale_frames);
  const auto full = static_cast<std::uint64_t>(kFullScalePosition);
  const std::uint64_t p = magnitude(position);
  const std::uint64_t whole = p / full, rest = p % full;
  // kFullScalePosition is even: a half rounds away from zero.
  return with_sign(whole * scale + (rest * scale + full / 2) / full, position < 0);
}

bool at_older_scale(const std::array<std::int64_t, 24>& starts, const std::array<std::int64_t, 24>& ends) {
  bool any = false;
  for (const auto* list : {&starts, &ends}) {
    for (std::int64_t position : *list) {
      if (position == 0) continue;
      if (position % kOlderPositionScale != 0) return false;
      any = true;
    }
  }
  return any;
}

std::string read_drum_lists(std::string_view text, DrumLists* lists) {
  // Whether each list was found holding 24 numbers, where it was last named.
  std::array<bool, kKeyListCount> whole{};
  auto member = [&](std::string_view name, JsonScanner& scan) {
    for (std::size_t f = 0; f < kKeyListCount; ++f) {
      if (name != kKeyListNames[f]) continue;
      const std::size_t at = scan.at;
      whole[f] = scan.numbers(&lists->spans[f]);
      if (whole[f]) return true;
      scan.at = at;
      return scan.value();
    }
    return scan.value();
  };
  JsonScanner rest{text};
  if (!scan_object(text, member, &lists->end, true)) return "metadata not valid JSON";
  rest.at = lists->end;
  if (!rest.at_end()) return "metadata not valid JSON";
  for (std::size_t f = 0; f < kKeyListCount; ++f) {
    const std::string quoted = "the \"" + std::string(kKeyListNames[f]) + "\" list";
    if (!whole[f]) return quoted + " does not hold 24 numbers";
    for (std::size_t k = 0; k < kSlotCount; ++k) {
      const auto [from, to] = lists->spans[f][k];
      const std::string_view item = text.substr(from, to - from);
      std::int64_t value = 0;
      const auto [stop, error] = std::from_chars(item.data(), item.data() + item.size(), value);
      if (error != std::errc() || stop != item.data() + item.size()) {
        // A fraction, an exponent or a number past 64 bits: its whole part,
        // while that is a value.
        const double number = std::strtod(std::string(item).c_str(), nullptr);
        if (!std::isfinite(number)) return "metadata not valid JSON";
        if (!(std::fabs(number) < 9.2e18)) return quoted + " holds a number out of range";
        value = static_cast<std::int64_t>(number);
      }
      lists->values[f][k] = value;
    }
  }
  return "";
}

bool is_drum_text(std::string_view text) {
  bool drum = false;
  auto member = [&drum](std::string_view name, JsonScanner& scan) {
    if (name != "type") return scan.value();
    std::string_view type;
    const std::size_t at = scan.at;
    drum = scan.string(&type) && type == "drum";
    if (drum) return true;
    scan.at = at;
    return scan.value();
  };
  std::size_t end = 0;
  return scan_object(text, member, &end) && drum;
}

}  // namespace kitweaver
