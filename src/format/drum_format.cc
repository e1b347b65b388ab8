#include "format/drum_format.h"

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

}  // namespace

std::int64_t scale_frames_for(std::int64_t channels) { return channels >= 2 ? kStereoScaleFrames : kMonoScaleFrames; }

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
