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
#include <string>
#include <string_view>
#include <utility>

#include "format/devices.h"

namespace kitweaver {

inline constexpr std::int64_t kFullScalePosition = 2147483646;
inline constexpr std::int64_t kOlderPositionScale = 4056;

// Pitch is semitones times 512; direction and play mode are the values
// Kitweaver writes (devices write others too, which are read as numbers).
inline constexpr std::int32_t kPitchScale = 512;
inline constexpr std::int32_t kForwards = 8192;
inline constexpr std::int32_t kReversed = 24576;
inline constexpr std::int32_t kPlayOneShot = 20480;
inline constexpr std::int32_t kPlayLoop = 24576;
inline constexpr std::int32_t kPlayPlain = 8192;
// The most a key is pitched, either way: eight octaves.
inline constexpr double kMostPitchSemitones = 96.0;

// The five lists of per-key values, each of 24 numbers, by their names in
// the text, and the placeholder letters of each in the templates (two
// letters and the key number, "XX07"). Listed in the order the writer
// fills them.
enum class KeyList { kStart, kEnd, kPitch, kReverse, kPlayMode };
inline constexpr std::size_t kKeyListCount = 5;
inline constexpr std::array<std::string_view, kKeyListCount> kKeyListNames = {"start", "end", "pitch", "reverse",
                                                                             "playmode"};
inline constexpr std::array<std::string_view, kKeyListCount> kKeyListPlaceholders = {"XX", "YY", "ZZ", "VV", "WW"};
constexpr std::string_view key_list_name(KeyList list) { return kKeyListNames[static_cast<std::size_t>(list)]; }

// The words for the stored values Kitweaver writes.
struct ValueWord {
  std::int32_t value;
  std::string_view word;
};
inline constexpr std::array<ValueWord, 2> kDirectionWords = {{{kForwards, "forwards"}, {kReversed, "reversed"}}};
inline constexpr std::array<ValueWord, 3> kPlayModeWords = {
    {{kPlayPlain, "plain"}, {kPlayOneShot, "one-shot"}, {kPlayLoop, "loop"}}};

// The word of a stored value, or the number itself for one of no word.
template <std::size_t N>
std::string word_of(const std::array<ValueWord, N>& words, std::int64_t value) {
  for (const ValueWord& w : words) {
    if (w.value == value) return std::string(w.word);
  }
  return std::to_string(value);
}

// The stored value of a word; false for a word of no value.
template <std::size_t N>
bool value_of(const std::array<ValueWord, N>& words, std::string_view word, std::int32_t* value) {
  for (const ValueWord& w : words) {
    if (w.word == word) {
      *value = w.value;
      return true;
    }
  }
  return false;
}

// The metadata text a device's form starts from: the signature, then the
// drum patch, its key lists holding placeholders ("XX00" to "WW23").
//
// The spaced form (the OP-1/OP-Z and the PO-33): one line of 1,293
// characters, `"name" : value` for each of 18 members, two spaces after the
// colon before the lists of "end", "playmode", "reverse", "start" and
// "volume", lists as "[ a, b ]", members separated by ", ", in braces with
// a space inside each.
// The compact form (the OP-1 field): the field's own members too (attack,
// a save time, pan, pan_ab, stereo), no space anywhere, 1,439 characters.
// Both hold the members in alphabetical order, with the same fixed values.
std::string_view drum_template(TextForm form);

// ceil(frame x kFullScalePosition / scale_frames), exactly, for |frame| up
// to 2^40: the position a pack stores for `frame`.
std::int64_t position_of_frame(std::int64_t frame, std::int64_t scale_frames);

// round(position x scale_frames / kFullScalePosition), halves away from
// zero, exactly, for any position: the frame a device plays for it.
std::int64_t frame_of_position(std::int64_t position, std::int64_t scale_frames);

// Whether a pack's positions are at 4056 per frame: every non-zero start
// and end is a multiple of it, and there is at least one.
bool at_older_scale(const std::array<std::int64_t, 24>& starts, const std::array<std::int64_t, 24>& ends);

// The key lists of a metadata text, read as JSON: each list's 24 numbers,
// and where each stands in the text (for the key editor, which rewrites
// them in place). A fraction counts as its whole part.
struct DrumLists {
  using Span = std::pair<std::size_t, std::size_t>;  // [first byte, past the last)
  std::array<std::array<std::int64_t, kSlotCount>, kKeyListCount> values{};
  std::array<std::array<Span, kSlotCount>, kKeyListCount> spans{};
  std::size_t end = 0;  // just past the object's closing brace
  std::array<std::int64_t, kSlotCount>& of(KeyList list) { return values[static_cast<std::size_t>(list)]; }
  const std::array<std::int64_t, kSlotCount>& of(KeyList list) const { return values[static_cast<std::size_t>(list)]; }
};

// Reads the text (what follows the "op-1" signature, up to its first zero
// byte): JSON of one object, then only white space, whose five key lists
// each hold 24 numbers; of a name given twice the last counts, and names
// are compared as written. Returns an empty text, or the line saying what
// is wrong: "metadata not valid JSON", "the \"start\" list does not hold 24
// numbers", "the \"start\" list holds a number out of range".
std::string read_drum_lists(std::string_view text, DrumLists* lists);

// Whether a metadata text (what follows the "op-1" signature) describes a
// drum patch: a JSON object whose "type" member (the last one of that name)
// is the string "drum", whatever the spacing. Names and values are compared
// as written, escapes and all.
bool is_drum_text(std::string_view text);

}  // namespace kitweaver
