// Pack audio layout: every rendered slice laid one after another into one
// 44.1 kHz 16-bit buffer of the pack's length: mono and big-endian, or, for
// an OP-1 field kit, stereo (left, right) and little-endian, as the field's
// own packs hold their sound.
#pragma once

#include <cstdint>
#include <memory>

#include "format/devices.h"
#include "kitweaver/records.h"
#include "system/files.h"

namespace kitweaver {

struct FreeBytes {
  void operator()(std::uint8_t* bytes) const { release_large_buffer(bytes); }
};

// The pack's sound as the device's container holds it: its frames, the
// channels interleaved, in the container's byte order.
struct PackBuffer {
  std::unique_ptr<std::uint8_t[], FreeBytes> bytes;  // size() bytes; null if memory ran out
  std::int32_t frames = 0;
  std::int32_t channels = 1;
  Container container = Container::kAiff;
  std::size_t size() const { return 2 * static_cast<std::size_t>(channels) * static_cast<std::size_t>(frames); }
};

// max_pack_seconds x kPackRate, truncated: 529200 for 12 s.
std::int32_t pack_frame_count(const PackJob& job);

// Builds the pack buffer and sets pack_start and pack_end of every record.
// Frames that would fall outside the buffer are not written.
PackBuffer lay_out_pack(PackJob& job);

}  // namespace kitweaver
