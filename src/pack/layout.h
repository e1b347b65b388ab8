// Pack audio layout: every rendered slice laid one after another into one
// 44.1 kHz 16-bit buffer of the pack's length: mono and big-endian, or, for
// an OP-1 field kit, stereo (left, right) and little-endian, as the field's
// own packs hold their sound.
#pragma once

#include <cstdint>
#include <memory>

#include "kitweaver/records.h"
#include "system/files.h"

namespace kitweaver {

// Gap before every PO-33 slice, and the length of the marker tone, in frames.
inline constexpr std::int32_t kPo33GapFrames = 8820;
// Marker tone values by half-period parity; stored low byte first.
inline constexpr std::int16_t kToneEven = -32676;
inline constexpr std::int16_t kToneOdd = 32676;

struct FreeBytes {
  void operator()(std::uint8_t* bytes) const { release_large_buffer(bytes); }
};

struct PackBuffer {
  std::unique_ptr<std::uint8_t[], FreeBytes> bytes;  // size() bytes; null if memory ran out
  std::int32_t frames = 0;
  std::int32_t channels = 1;
  std::size_t size() const { return 2 * static_cast<std::size_t>(channels) * static_cast<std::size_t>(frames); }
};

// max_pack_seconds x kPackRate, truncated: 529200 for 12 s.
std::int32_t pack_frame_count(const PackJob& job);

// Builds the pack buffer and sets pack_start and pack_end of every record.
// Frames that would fall outside the buffer are not written.
PackBuffer lay_out_pack(PackJob& job);

}  // namespace kitweaver
