#include "pack/key_map.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "kitweaver/name_text.h"

namespace kitweaver {
namespace {

constexpr int kLastKey = kSlotCount - 1;

// Pitches far beyond any device's range can only come from absurd note
// numbers; they are kept inside 32 bits.
std::int32_t clamp_pitch(std::int64_t pitch) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(pitch, std::numeric_limits<std::int32_t>::min(),
                                                            std::numeric_limits<std::int32_t>::max()));
}

// One pass: every placed run of keys grows by one key on each free side, all
// tests reading the tables as they were at the start of the pass. A key
// between two placed keys takes the upper one. Returns whether anything
// changed.
bool fill_pass(KeyMap& keys) {
  const KeyMap old = keys;
  bool changed = false;
  for (int m = 0; m < kSlotCount; ++m) {
    const auto k = static_cast<std::size_t>(m);
    if (old.key_slots[k] == -1) continue;
    if (m < kLastKey && old.key_slots[k + 1] == -1) {
      keys.key_slots[k + 1] = old.key_slots[k];
      keys.key_pitches[k + 1] = clamp_pitch(std::int64_t{old.key_pitches[k]} + 1);
      changed = true;
    }
    if (m > 0 && old.key_slots[k - 1] == -1) {
      keys.key_slots[k - 1] = old.key_slots[k];
      keys.key_pitches[k - 1] = clamp_pitch(std::int64_t{old.key_pitches[k]} - 1);
      changed = true;
    }
  }
  return changed;
}

void print_row(const char* title, const std::array<std::int32_t, kSlotCount>& row) {
  std::printf("%s\n\t", title);
  for (std::int32_t v : row) std::printf("[%2d]", v);
  std::printf("\n");
}

}  // namespace

bool chromatic_note_of(std::string_view path, std::int32_t* note) {
  if (!contains(path, " ChromaticMultiSample,") && !contains(path, " chromaticmultisample,")) {
    return false;
  }
  const std::size_t stem = stem_length(path);
  const std::size_t comma = find_last_in(path, ',', 1, stem);
  if (comma == stem) return false;
  *note = read_leading_int(path.substr(comma + 1, stem - comma - 1));
  return true;
}

void build_key_map(PackJob& job, KeyMap& keys) {
  keys.key_slots.fill(-1);
  keys.key_pitches.fill(0);
  keys.in_use = false;
  for (std::int32_t slot = 0; slot < job.sample_count; ++slot) {
    SampleRecord& record = *job.samples[static_cast<std::size_t>(slot)];
    std::int32_t note = 0;
    if (record.hit > 0 || !chromatic_note_of(record.path, &note)) continue;
    record.chromatic_note = note;
    // Notes beyond the keys land on the end key, re-pitched by the distance.
    const std::int64_t wanted = std::int64_t{note} + kChromaticKeyOffset;
    const std::int64_t key = std::clamp<std::int64_t>(wanted, 0, kLastKey);
    keys.key_slots[static_cast<std::size_t>(key)] = slot;
    keys.key_pitches[static_cast<std::size_t>(key)] = clamp_pitch(record.pitch_semitones + key - wanted);
    keys.in_use = true;
  }
  if (!keys.in_use) return;
  while (fill_pass(keys)) {
  }
  print_row("Sample allocation", keys.key_slots);
  print_row("Sample pitch", keys.key_pitches);
}

}  // namespace kitweaver
