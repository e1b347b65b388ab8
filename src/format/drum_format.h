// The drum patch's metadata as the devices read it: the fields of the
// "op-1" text, their values and scales, and the position rule that turns a
// slice position into a pack frame and back. The writer, the intake and the
// inspector all take these facts from here.
//
// Positions. A key's "start" and "end" are positions on one fixed range,
// 0 to kFullScalePosition (0x7FFFFFFE), which the devices map onto the
// length of a full pack: 12 s (529200 frames at 44.1 kHz) for a pack of one
// channel, 20 s (882000 frames) for a stereo one. So position p is frame
// p x scale_frames / kFullScalePosition, and a frame f is written as
// ceil(f x kFullScalePosition / scale_frames): rounding up lands on f
// whether a device truncates or rounds. PO-33 packs longer than 12 s go on
// past the range on the same scale.
//
// Older writers (Kitweaver before 1.1 among them) stored frame x 4056
// (kOlderPositionScale), which the devices read 0.049% short.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace kitweaver {

inline constexpr std::int64_t kFullScalePosition = 2147483646;
inline constexpr std::int64_t kMonoScaleFrames = 529200;    // 12 s of one channel
inline constexpr std::int64_t kStereoScaleFrames = 882000;  // 20 s of two
inline constexpr std::int64_t kOlderPositionScale = 4056;

// Pitch is semitones times 512; direction and play mode are the values
// Kitweaver writes (devices write others too, which are read as numbers).
inline constexpr std::int32_t kPitchScale = 512;
inline constexpr std::int32_t kForwards = 8192;
inline constexpr std::int32_t kReversed = 24576;
inline constexpr std::int32_t kPlayOneShot = 20480;
inline constexpr std::int32_t kPlayLoop = 24576;
inline constexpr std::int32_t kPlayPlain = 8192;

// The frames the full position range stands for in a pack of `channels`
// channels.
std::int64_t scale_frames_for(std::int64_t channels);

// ceil(frame x kFullScalePosition / scale_frames), exactly, for |frame| up
// to 2^40: the position a pack stores for `frame`.
std::int64_t position_of_frame(std::int64_t frame, std::int64_t scale_frames);

// round(position x scale_frames / kFullScalePosition), halves away from
// zero, exactly, for any position: the frame a device plays for it.
std::int64_t frame_of_position(std::int64_t position, std::int64_t scale_frames);

// Whether a pack's positions are at 4056 per frame: every non-zero start
// and end is a multiple of it, and there is at least one.
bool at_older_scale(const std::array<std::int64_t, 24>& starts, const std::array<std::int64_t, 24>& ends);

// Whether a metadata text (what follows the "op-1" signature) describes a
// drum patch: a JSON object whose "type" member (the last one of that name)
// is the string "drum", whatever the spacing. Names and values are compared
// as written, escapes and all.
bool is_drum_text(std::string_view text);

}  // namespace kitweaver
