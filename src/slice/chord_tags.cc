#include "slice/chord_tags.h"

namespace kitweaver {

ChordNotes decode_chord_tags(std::string_view /*path*/) { return ChordNotes{}; }

}  // namespace kitweaver
