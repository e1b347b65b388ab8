// Reads a drum pack (ours, another tool's or a device's) into its key table.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "kitweaver/records.h"
#include "pack/drum_metadata.h"

namespace kitweaver::inspect {

struct KeyRow {
  std::int64_t start_raw = 0;  // as stored: frame x kPositionScale
  std::int64_t end_raw = 0;
  std::int64_t pitch_raw = 0;  // semitones x kPitchScale
  std::int64_t reverse = 0;
  std::int64_t play_mode = 0;
  int slice = 0;               // keys with the same start and end share a slice, numbered from 1
  double start_frame() const { return static_cast<double>(start_raw) / static_cast<double>(kPositionScale); }
  double end_frame() const { return static_cast<double>(end_raw) / static_cast<double>(kPositionScale); }
  double pitch_semitones() const { return static_cast<double>(pitch_raw) / kPitchScale; }
};

struct Pack {
  bool aifc = false;
  bool little_endian = false;  // AIFC "sowt"
  std::int32_t channels = 0;
  std::uint32_t frames = 0;
  std::int32_t bits = 0;
  double rate = 0.0;
  bool po33 = false;           // opens with the PO-33 marker tone
  std::vector<std::int16_t> samples;  // first channel
  std::array<KeyRow, kSlotCount> keys{};
  int slice_count = 0;
  std::vector<std::string> warnings;
};

// Reads the pack in `bytes`. Returns an empty text on success, or one line
// saying what is wrong.
std::string read_pack(const std::vector<std::uint8_t>& bytes, Pack* pack);

// Names of the stored direction and play-mode values.
std::string direction_name(std::int64_t reverse);
std::string play_mode_name(std::int64_t play_mode);

}  // namespace kitweaver::inspect
