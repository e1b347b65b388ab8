// The drum-patch metadata: a fixed template filled with each key's slice,
// pitch, direction and play mode.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "format/drum_format.h"
#include "kitweaver/records.h"

namespace kitweaver {

bool has_one_shot_word(std::string_view path);
bool has_loop_word(std::string_view path);

// Play mode from a path's words: one-shot wins over loop.
std::int32_t play_mode_of(std::string_view path);

// Fills the device's template (format/drum_format.h; the field's for a field
// kit, its positions on the stereo scale) for the 24 keys from the records' positions and pitches
// (repetition assignment) or from `keys` when it is in use. Nothing when
// memory runs out.
std::optional<std::string> build_drum_metadata(const PackJob& job, const KeyMap& keys);

}  // namespace kitweaver
