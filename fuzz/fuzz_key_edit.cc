// Fuzz target: changing keys of hostile packs. Input: one byte n, then n
// bytes of a --set text, then the pack. Whatever the pack, an edit is either
// refused or its result reads back with exactly the values it asked for (a
// start or end given in frames: that frame) and every other value as it
// was; --rescale's edits likewise.
#include <cstdint>
#include <string>
#include <vector>

#include "viewer/key_edit.h"
#include "viewer/pack_reader.h"

namespace {

using kitweaver::inspect::KeyEdit;
using kitweaver::KeyList;
using kitweaver::inspect::KeyRow;

std::int64_t& field_of(KeyRow& row, KeyList field) {
  switch (field) {
    case KeyList::kPitch: return row.pitch_raw;
    case KeyList::kReverse: return row.reverse;
    case KeyList::kPlayMode: return row.play_mode;
    case KeyList::kStart: return row.start_raw;
    case KeyList::kEnd: return row.end_raw;
  }
  return row.pitch_raw;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size < 1u + data[0]) return 0;
  const std::string set(reinterpret_cast<const char*>(data + 1), data[0]);
  const std::vector<std::uint8_t> bytes(data + 1 + data[0], data + size);
  std::vector<KeyEdit> edits;
  if (!kitweaver::inspect::parse_key_edits(set, &edits).empty()) return 0;
  kitweaver::inspect::Pack pack;
  if (!kitweaver::inspect::read_pack(bytes, &pack).empty()) return 0;
  if (!kitweaver::inspect::check_key_edits(pack, edits).empty()) return 0;
  const std::vector<KeyEdit> rescaling = kitweaver::inspect::rescale_edits(pack);
  if (!rescaling.empty()) edits = rescaling;
  std::vector<std::uint8_t> out;
  if (!kitweaver::inspect::apply_key_edits(bytes, pack, edits, &out).empty()) return 0;

  kitweaver::inspect::Pack changed;
  if (!kitweaver::inspect::read_pack(out, &changed).empty()) __builtin_trap();
  for (std::size_t k = 0; k < pack.keys.size(); ++k) {
    KeyRow want = pack.keys[k];
    std::int64_t want_frames[2] = {-1, -1};  // start and end given in frames
    for (const KeyEdit& edit : edits) {
      if (!edit.keys[k]) continue;
      const bool start = edit.field == KeyList::kStart;
      if (edit.frame) {
        want_frames[start ? 0 : 1] = *edit.frame;
        continue;
      }
      if (start || edit.field == KeyList::kEnd) want_frames[start ? 0 : 1] = -1;
      // A step (pitch+= and pitch-=) adds to what the edits before left.
      field_of(want, edit.field) = edit.relative ? field_of(want, edit.field) + edit.raw : edit.raw;
    }
    const KeyRow& got = changed.keys[k];
    const bool start_ok = want_frames[0] >= 0 ? got.start_frame == want_frames[0] : got.start_raw == want.start_raw;
    const bool end_ok = want_frames[1] >= 0 ? got.end_frame == want_frames[1] : got.end_raw == want.end_raw;
    if (!start_ok || !end_ok || got.pitch_raw != want.pitch_raw || got.reverse != want.reverse ||
        got.play_mode != want.play_mode) {
      __builtin_trap();
    }
  }
  if (changed.samples != pack.samples) __builtin_trap();
  return 0;
}
