#include "slice/chord_tags.h"

#include <array>
#include <cstdio>
#include <string>

#include "kitweaver/name_text.h"

namespace kitweaver {
namespace {

// Semitones above C of the note letters A to G.
constexpr std::array<std::int32_t, 7> kLetterSemitones = {9, 11, 0, 2, 4, 5, 7};

struct ChordShape {
  std::string_view name;
  std::int32_t note_count;
  std::array<std::int32_t, 4> intervals;
};

// Names are matched exactly; "dimmaj7" is tried last and anywhere in the name.
constexpr std::array<ChordShape, 17> kChordShapes = {{
    {"", 3, {0, 4, 7, 0}},
    {"maj", 3, {0, 4, 7, 0}},
    {"maj6", 4, {0, 4, 7, 9}},
    {"dom7", 4, {0, 4, 7, 10}},
    {"maj7", 4, {0, 4, 7, 11}},
    {"aug", 3, {0, 4, 8, 0}},
    {"aug7", 4, {0, 4, 8, 10}},
    {"maj7+", 4, {0, 4, 8, 11}},
    {"dom9", 4, {0, 4, 10, 2}},
    {"min", 3, {0, 3, 7, 0}},
    {"m", 3, {0, 3, 7, 0}},
    {"min6", 4, {0, 3, 7, 9}},
    {"min7", 4, {0, 3, 7, 10}},
    {"minmaj7", 4, {0, 3, 7, 11}},
    {"dim", 3, {0, 3, 6, 0}},
    {"dim7", 4, {0, 3, 6, 9}},
    {"m7b5", 4, {0, 3, 6, 10}},
}};
constexpr ChordShape kDimMaj7 = {"dimmaj7", 4, {0, 3, 6, 11}};

// " ChordSemitones,4,7": up to three offsets, read from the end of the stem
// backwards; every comma counts, the tag's own too.
ChordNotes decode_semitone_list(std::string_view stem) {
  ChordNotes chord;
  std::size_t end = stem.size();
  for (std::size_t comma = find_last_in(stem, ',', 1, end); comma != end && chord.note_count < 4;
       comma = find_last_in(stem, ',', 1, end)) {
    chord.semitones[static_cast<std::size_t>(chord.note_count++)] =
        read_leading_int(stem.substr(comma + 1, end - comma - 1));
    end = comma;  // the next number, further left, stops here
  }
  return chord;
}

const ChordShape* find_shape(std::string_view name) {
  for (const ChordShape& shape : kChordShapes) {
    if (shape.name == name) return &shape;
  }
  return contains(name, kDimMaj7.name) ? &kDimMaj7 : nullptr;
}

// " Chord,[transposition,]<letter>[b|#]<name>": the letter follows the
// stem's last comma. A missing letter (nothing after that comma) is an
// invalid letter, and a missing name is the empty name.
ChordNotes decode_chord_name(std::string_view stem) {
  std::size_t comma = find_last_in(stem, ',', 1, stem.size());
  const bool found = comma != stem.size();
  if (!found) comma = 0;

  const std::size_t letter_at = comma + 1;
  const char letter = letter_at < stem.size() ? stem[letter_at] : '\0';
  if (letter != '\0') {
    std::printf("\tNote %c\n", letter);
  } else {
    std::printf("\tNote \n");
  }
  std::int64_t root = letter >= 'A' && letter <= 'G' ? kLetterSemitones[static_cast<std::size_t>(letter - 'A')] : 0;

  if (found) {
    std::size_t before = find_last_in(stem, ',', 1, comma);
    if (before != comma) root += read_leading_int(stem.substr(before + 1, comma - before - 1));
  }
  root = ((root % 12) + 12) % 12;

  std::size_t name_at = comma + 2;
  const char accidental = name_at < stem.size() ? stem[name_at] : '\0';
  if (accidental == 'b') {
    std::printf("\tFlat\n");
    root = root == 0 ? 11 : root - 1;
    ++name_at;
  } else if (accidental == '#') {
    std::printf("\tSharp\n");
    root = root == 11 ? 0 : root + 1;
    ++name_at;
  }
  std::string name(name_at < stem.size() ? stem.substr(name_at) : std::string_view());
  std::printf("\tChord %s\n", name.c_str());

  ChordNotes chord;
  const ChordShape* shape = find_shape(name);
  if (shape == nullptr) return chord;
  chord.note_count = shape->note_count;
  for (std::size_t i = 0; i < static_cast<std::size_t>(shape->note_count); ++i) {
    chord.semitones[i] = static_cast<std::int32_t>((root + shape->intervals[i]) % 12);
  }
  return chord;
}

}  // namespace

ChordNotes decode_chord_tags(std::string_view path) {
  const std::string_view stem = path.substr(0, stem_length(path));
  if (contains(path, " ChordSemitones,") || contains(path, " chordsemitones,")) {
    return decode_semitone_list(stem);
  }
  if (contains(path, " Chord,") || contains(path, " chord,")) return decode_chord_name(stem);
  return ChordNotes{};
}

}  // namespace kitweaver
