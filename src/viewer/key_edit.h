// Changing keys of a drum pack (ours, a device's or another tool's): a key's
// pitch, direction, play mode, start and end are numbers in the pack's
// metadata text, so a key changes without touching a sample.
//
// Only the named keys' values in the "pitch", "reverse", "playmode",
// "start" and "end" lists are rewritten, each in place; every other byte of
// the text (other fields, their order and spacing, fields no tool here knows)
// and every other chunk stay as they are. A text padded with spaces to a
// multiple of 4 bytes, as Kitweaver writes it, is padded again to one;
// longer padding (after the text, or after the line end or zero byte that
// ends it, as the OP-1 field pads its text to 4096 bytes) takes up a change
// of the text's length, so the chunk keeps its size while the new text
// fits. Beyond that the APPL chunk's size, its pad byte and the FORM size
// follow the text's new length. A value set to what it already is (a start
// or end already stored for that frame) leaves its bytes alone, so such an
// edit gives the same file, and so does setting a value back.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kitweaver/records.h"
#include "viewer/pack_reader.h"

namespace kitweaver::inspect {

// One value set on some keys: as it is stored (pitch x kPitchScale,
// kForwards / kReversed, kPlayPlain / kPlayOneShot / kPlayLoop, a position
// as stored), or, for start and end, as a frame, which is stored by the
// position rule at the pack's own scale.
//
// A relative pitch edit (pitch+=2.5, pitch-=2.5) raises or lowers the key's
// pitch by `raw` instead of setting it; the edits apply in order, so the
// pitch is the last set one (or the stored one) plus every step after it.
struct KeyEdit {
  std::array<bool, kSlotCount> keys{};
  KeyList field = KeyList::kPitch;
  std::int64_t raw = 0;
  std::optional<std::int64_t> frame;
  bool relative = false;
};

// Reads one "KEYS:FIELD=VALUE[,FIELD=VALUE...]" (KEYS: 0 to 23, a range
// such as 12-23, or all; FIELD: pitch in semitones, direction forwards or
// reversed, mode plain, one-shot or loop, start and end in frames; also
// pitch+=STEP and pitch-=STEP, in semitones) and
// appends its edits. Returns an empty text, or the line saying what is
// wrong.
std::string parse_key_edits(std::string_view text, std::vector<KeyEdit>* edits);

// The five stored values of `key` in `from`, as edits (to set a key back to
// how another pack has it, byte for byte).
std::vector<KeyEdit> key_as_edits(const KeyRow& from, int key);

// Checks the edits, applied in order (a later one wins), against `pack`:
// every key whose start or end they set must end at or after its start, a
// frame given must lie in the pack's sound, and every key's pitch they
// change must end within -96 to +96 semitones. Returns an empty text, or
// the line saying what is wrong.
std::string check_key_edits(const Pack& pack, const std::vector<KeyEdit>& edits);

// Writes into `out` the pack `bytes`, which read_pack has read as `pack`,
// with the edits applied. Returns an empty text, or the line saying why it
// can't (no op-1 application chunk, a metadata text this reader can't place
// the values in). A file cut short after that chunk keeps its cut end.
std::string apply_key_edits(const std::vector<std::uint8_t>& bytes, const Pack& pack,
                            const std::vector<KeyEdit>& edits, std::vector<std::uint8_t>* out);

// The edits that rewrite the positions of a pack written at 4056 per frame
// in the devices' scale: each non-zero start and end, as the frame it names
// there (position / 4056). None for a pack on any other scale.
std::vector<KeyEdit> rescale_edits(const Pack& pack);

// The whole operation on files: reads the pack at `path`, checks and applies
// the edits, and writes the result to `target` through the safe writer
// (`target` may be `path`). Returns 0, kNotAPack (the file can't be read or
// is not a drum pack, or the result can't be written) or kBadEdit (an edit
// the pack can't take), with the line saying why in `*error`; on a failure
// nothing is written.
inline constexpr int kNotAPack = 1;
inline constexpr int kBadEdit = 2;
int edit_pack_file(const std::string& path, const std::vector<KeyEdit>& edits, const std::string& target,
                   std::string* error);

// --rescale on one file: reads the pack at `path` and, when its positions
// are at 4056 per frame, writes it in the devices' scale to `target` (which
// may be `path`) and sets `*rescaled`. A pack on the devices' scale is left
// alone. Returns 0 or kNotAPack, with the line saying why in `*error`.
int rescale_pack_file(const std::string& path, const std::string& target, bool* rescaled, std::string* error);

}  // namespace kitweaver::inspect
