// Reads a drum pack (ours, another tool's or a device's) into its key table,
// with every key's slice in the frames a device plays.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "format/drum_format.h"
#include "format/pack_chunks.h"
#include "kitweaver/records.h"

namespace kitweaver::inspect {

struct KeyRow {
  std::int64_t start_raw = 0;  // as stored: positions (format/drum_format.h)
  std::int64_t end_raw = 0;
  std::int64_t pitch_raw = 0;  // semitones x kPitchScale
  std::int64_t reverse = 0;
  std::int64_t play_mode = 0;
  // Where the stored positions fall in the sound, clamped to it: the
  // device plays frames start_frame to end_frame, unless the key is empty
  // (start and end stored alike) or ends before it starts.
  std::int64_t start_frame = 0;
  std::int64_t end_frame = 0;
  int slice = 0;               // keys with the same start and end share a slice, numbered from 1
  std::int64_t frame_count() const {
    return start_raw == end_raw || end_frame < start_frame ? 0 : end_frame - start_frame + 1;
  }
  double pitch_semitones() const { return static_cast<double>(pitch_raw) / kPitchScale; }
};

// How a pack's positions are written, as kitweaver-inspect reports it.
enum class PositionScale {
  kDevice,   // the devices' scale, every slice inside the sound
  kOlder,    // 4056 per frame (older writers): the device plays them early
  kPastEnd,  // the devices' scale, some slice past the sound's end
};

struct Pack {
  bool aifc = false;
  bool little_endian = false;  // AIFC "sowt"
  std::int32_t channels = 0;
  std::uint32_t frames = 0;    // as COMM declares them
  std::int32_t bits = 0;
  double rate = 0.0;
  bool po33 = false;           // opens with the PO-33 marker tone
  std::vector<std::int16_t> samples;  // the frames the file holds, channels interleaved
  // The frames the full position range stands for: 12 s of one channel,
  // 20 s of two.
  std::int64_t scale_frames = kMonoScaleFrames;
  PositionScale scale = PositionScale::kDevice;
  std::array<KeyRow, kSlotCount> keys{};
  int slice_count = 0;
  std::vector<std::string> warnings;
  // The warning of a pack at 4056 per frame (among `warnings` too), kept
  // by itself: the page shows it beside its rescale.
  std::string scale_warning;
  // What the one reading of the file found: its chunks and the text's key
  // lists, each number where it stands (the key editor rewrites them there).
  PackChunks chunks;
  DrumLists lists;
  std::size_t held_frames() const { return channels > 0 ? samples.size() / static_cast<std::size_t>(channels) : 0; }
};

// Reads the pack in `bytes`. Returns an empty text on success, or one line
// saying what is wrong.
std::string read_pack(const std::vector<std::uint8_t>& bytes, Pack* pack);

// The same for a pack whose chunks have been read from `source`, which
// its sound is read from (only the frames COMM declares).
std::string read_pack(const ByteSource& source, const PackChunks& chunks, Pack* pack);

// The frame of the sound a device plays for a stored position, clamped to
// the sound (the reader's rule for every key).
std::int64_t frame_in_sound(const Pack& pack, std::int64_t position);

// Names of the stored direction and play-mode values: the words for the
// values Kitweaver writes, the number for any other.
std::string direction_name(std::int64_t reverse);
std::string play_mode_name(std::int64_t play_mode);
const char* scale_name(PositionScale scale);

}  // namespace kitweaver::inspect
