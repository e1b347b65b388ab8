// The drum-patch metadata: a fixed template filled with each key's slice,
// pitch, direction and play mode.
#pragma once

#include <array>
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

// What one key plays, by the repetition assignment (the records repeated
// over the keys: as they are, reversed, then detuned), the chromatic key
// map when it is in use, or a source kit's keys: the slot, the pitch in
// stored units (semitones x 512, the slot's own correction included), the
// direction and the play mode, as stored values, and the pan (-1 to 1). An
// empty key (a source kit's key that played nothing) plays nothing.
struct KeyPlay {
  bool empty = false;
  std::int32_t slot = 0;
  std::int64_t pitch = 0;
  std::int32_t reverse = kForwards;
  std::int32_t play_mode = kPlayPlain;
  double pan = 0.0;
};
std::array<KeyPlay, kSlotCount> key_plays(const PackJob& job, const KeyMap& keys);

// Fills the device's template (format/drum_format.h; the field's for a field
// kit, its positions on the stereo scale) for the 24 keys from the records' positions and pitches
// (repetition assignment) or from `keys` when it is in use. Nothing when
// memory runs out.
std::optional<std::string> build_drum_metadata(const PackJob& job, const KeyMap& keys);

}  // namespace kitweaver
