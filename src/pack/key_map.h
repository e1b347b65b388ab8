// Chromatic key map: recordings of one instrument at different notes, each
// on the key of its note, the keys between them filled from the nearest one.
#pragma once

#include <cstdint>
#include <string_view>

#include "kitweaver/records.h"

namespace kitweaver {

// Note 0 plays on key 7.
inline constexpr std::int32_t kChromaticKeyOffset = 7;

// The note number a chromatic-tagged path names (after the stem's last
// comma); false when the path has no tag or no such comma.
bool chromatic_note_of(std::string_view path, std::int32_t* note);

// Places every chromatic-tagged record on its key, fills the other keys and
// prints the allocation and pitch tables. Leaves `keys.in_use` clear when no
// record is tagged.
void build_key_map(PackJob& job, KeyMap& keys);

}  // namespace kitweaver
