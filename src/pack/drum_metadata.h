// The drum-patch metadata: a fixed template filled with each key's slice,
// pitch, direction and play mode.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "kitweaver/records.h"

namespace kitweaver {

// Start and end are pack frames times this; pitch is semitones times 512.
inline constexpr std::int64_t kPositionScale = 4056;
inline constexpr std::int32_t kPitchScale = 512;
inline constexpr std::int32_t kForwards = 8192;
inline constexpr std::int32_t kReversed = 24576;
inline constexpr std::int32_t kPlayOneShot = 20480;
inline constexpr std::int32_t kPlayLoop = 24576;
inline constexpr std::int32_t kPlayPlain = 8192;

// The template, 1,293 characters, no line break.
extern const std::string_view kDrumTemplate;

// Whether a metadata text (what follows the "op-1" signature) describes a
// drum patch: a JSON object whose "type" member (the last one of that name)
// is the string "drum", whatever the spacing. Names and values are compared
// as written, escapes and all.
bool is_drum_text(std::string_view text);

bool has_one_shot_word(std::string_view path);
bool has_loop_word(std::string_view path);

// Play mode from a path's words: one-shot wins over loop.
std::int32_t play_mode_of(std::string_view path);

// Fills the template for the 24 keys from the records' positions and pitches
// (repetition assignment) or from `keys` when it is in use. Nothing when
// memory runs out.
std::optional<std::string> build_drum_metadata(const PackJob& job, const KeyMap& keys);

}  // namespace kitweaver
