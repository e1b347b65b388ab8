#include "pack/drum_metadata.h"

#include <array>
#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "kitweaver/name_text.h"
#include "pack/replace_all.h"

namespace kitweaver {

namespace {

constexpr std::array<std::string_view, 7> kOneShotWords = {
    " Oneshot ", " Oneshot.", " OneShot.", " ONESHOT ", " ONESHOT.", " oneshot ", " oneshot."};
constexpr std::array<std::string_view, 6> kLoopWords = {" Loop ", " Loop.", " LOOP ",
                                                        " LOOP.", " loop ", " loop."};

template <std::size_t N>
bool has_any(std::string_view path, const std::array<std::string_view, N>& words) {
  for (std::string_view word : words) {
    if (contains(path, word)) return true;
  }
  return false;
}

// Detune in semitones for repetition number f >= 2 (see the README's table).
std::int32_t repetition_detune(std::int32_t f, bool loop) {
  const std::int32_t g = (f - 2) / 4;
  const bool up = f % 2 == 1;
  if (!loop) return up ? 3 + g : -(3 + g);
  if (g <= 1) return up ? 12 * (g + 1) : -12 * (g + 1);
  return up ? 12 * (g - 2) + 7 : -(12 * (g - 2) + 5);
}

// Records repeat over the keys: the first round as they are, the second
// reversed, then detuned down and up, forwards and reversed in turn.
KeyPlay repetition_key(const PackJob& job, std::int32_t key) {
  const std::int32_t n = job.sample_count;
  const SampleRecord& record = *job.samples[static_cast<std::size_t>(key % n)];
  const std::int32_t f = key / n;
  const bool loop = has_loop_word(record.path);
  KeyPlay play;
  play.slot = key % n;
  play.pitch = (std::int64_t{record.pitch_semitones} + (f < 2 ? 0 : repetition_detune(f, loop))) * kPitchScale;
  play.reverse = (f == 1 || (f >= 2 && (f / 2) % 2 == 0)) ? kReversed : kForwards;
  play.play_mode = play_mode_of(record.path);
  return play;
}

KeyPlay chromatic_key(const PackJob& job, const KeyMap& keys, std::int32_t key) {
  const auto k = static_cast<std::size_t>(key);
  KeyPlay play;
  play.slot = keys.key_slots[k];
  play.pitch = std::int64_t{keys.key_pitches[k]} * kPitchScale;
  play.reverse = kForwards;
  play.play_mode = play_mode_of(job.samples[0]->path);
  return play;
}

// A source kit's key, its slot's correction added.
KeyPlay given_key(const PackJob& job, const KeyMap& keys, std::int32_t key) {
  const GivenKey& given = keys.given[static_cast<std::size_t>(key)];
  KeyPlay play;
  play.empty = given.slot < 0;
  play.slot = play.empty ? 0 : given.slot;
  if (!play.empty) {
    play.pitch = given.pitch + std::int64_t{job.samples[static_cast<std::size_t>(given.slot)]->pitch_semitones} *
                                   kPitchScale;
  }
  play.reverse = given.reverse;
  play.play_mode = given.play_mode;
  play.pan = given.pan;
  return play;
}

// The field's pan list: 0 to 32768 around its centre, 16384.
constexpr std::int64_t kPanCentre = 16384;

std::string pan_list(const std::array<KeyPlay, kSlotCount>& plays) {
  std::string list = "\"pan\":[";
  for (std::size_t key = 0; key < plays.size(); ++key) {
    if (key > 0) list += ",";
    const double pan = kPanCentre + plays[key].pan * kPanCentre;
    list += std::to_string(static_cast<std::int64_t>(std::lround(pan)));
  }
  return list + "]";
}

}  // namespace

bool has_one_shot_word(std::string_view path) { return has_any(path, kOneShotWords); }
bool has_loop_word(std::string_view path) { return has_any(path, kLoopWords); }

std::int32_t play_mode_of(std::string_view path) {
  if (has_one_shot_word(path)) return kPlayOneShot;
  if (has_loop_word(path)) return kPlayLoop;
  return kPlayPlain;
}

std::array<KeyPlay, kSlotCount> key_plays(const PackJob& job, const KeyMap& keys) {
  std::array<KeyPlay, kSlotCount> plays;
  for (std::int32_t key = 0; key < kSlotCount; ++key) {
    KeyPlay& play = plays[static_cast<std::size_t>(key)];
    play = keys.given_in_use ? given_key(job, keys, key)
           : keys.in_use     ? chromatic_key(job, keys, key)
                             : repetition_key(job, key);
  }
  return plays;
}

std::optional<std::string> build_drum_metadata(const PackJob& job, const KeyMap& keys) {
  const std::array<KeyPlay, kSlotCount> plays = key_plays(job, keys);

  // Families in this order, each key 0 to 23: start, end, pitch, reverse,
  // play mode.
  auto value_of = [&job](const KeyPlay& play, KeyList list) -> std::int64_t {
    const SampleRecord& record = *job.samples[static_cast<std::size_t>(play.slot)];
    switch (list) {
      case KeyList::kStart: return play.empty ? 0 : position_of_frame(record.pack_start, scale_frames_of(job.device));
      case KeyList::kEnd: return play.empty ? 0 : position_of_frame(record.pack_end, scale_frames_of(job.device));
      case KeyList::kPitch: return play.pitch;
      case KeyList::kReverse: return play.reverse;
      case KeyList::kPlayMode: return play.play_mode;
    }
    return 0;
  };
  std::optional<std::string> text = std::string(drum_template(device_facts(job.device).text));
  for (std::size_t f = 0; f < kKeyListCount; ++f) {
    const std::string_view letters = kKeyListPlaceholders[f];
    for (std::int32_t key = 0; key < kSlotCount && text; ++key) {
      // Two letters and the key number in two digits: "XX07".
      const char name[6] = {letters[0], letters[1], static_cast<char>('0' + key / 10),
                            static_cast<char>('0' + key % 10), '\0', '\0'};
      char value[32] = {};
      std::snprintf(value, sizeof value, "%" PRId64,
                    value_of(plays[static_cast<std::size_t>(key)], static_cast<KeyList>(f)));
      text = replace_all(*text, name, value);
    }
  }
  // The field's form holds a pan per key, which a source kit's keys carry;
  // the template's are all the centre.
  if (text && device_facts(job.device).text == TextForm::kCompactPadded) {
    std::array<KeyPlay, kSlotCount> centred{};
    text = replace_all(*text, pan_list(centred), pan_list(plays));
  }
  return text;
}

}  // namespace kitweaver
