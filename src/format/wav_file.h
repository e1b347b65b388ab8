// Writing 16-bit 44.1 kHz PCM WAV files, as the OP-XY writes its samples
// and as kitweaver-inspect writes what it plays and takes out (all numbers
// little-endian):
//
//   0   "RIFF", the file's length - 8, "WAVE"
//   12  "fmt ", 16: format 1 (PCM), channels, 44100, byte rate, block
//       align, 16 bits
//   36  with a unity note: "smpl", 36: manufacturer, product, sample
//       period, MIDI unity note (60), pitch fraction, SMPTE format and
//       offset, loop count, sampler data; every field 0 but the note
//       then "data", its size, the frames, channels interleaved (a pad byte
//       after an odd size, which 16-bit frames never have)
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kitweaver {

inline constexpr std::uint32_t kUnityNote = 60;

std::vector<std::uint8_t> wav_file_bytes(const std::int16_t* samples, std::size_t frames, int channels,
                                         bool unity_note);

}  // namespace kitweaver
