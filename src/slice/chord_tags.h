// Chords asked for by file names.
#pragma once

#include <string_view>

#include "kitweaver/records.h"

namespace kitweaver {

// The notes in which a record is rendered, read from its full path; prints
// the lines of a chord-name tag. A path without chord tags gives the single
// offset 0.
ChordNotes decode_chord_tags(std::string_view path);

}  // namespace kitweaver
