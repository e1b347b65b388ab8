#include "pack/layout.h"

#include <cmath>

#include "kitweaver/byte_order.h"

namespace kitweaver {
namespace {

// Half-period of the tone in frames at the pack rate; the last planned rate
// tunes it.
constexpr double kToneHalfPeriod = kPackRate / 440.0;
static_assert(kToneHalfPeriod == 100.22727272727273);

void write_marker_tone(const PackJob& job, PackBuffer& pack) {
  const double half_period = job.last_resample_rate / kPackRate * kToneHalfPeriod;
  for (std::int32_t i = 0; i < kPo33GapFrames && i < pack.frames; ++i) {
    std::int64_t q = half_period == 0.0 ? 0 : static_cast<std::int64_t>(i / half_period);
    auto value = static_cast<std::uint16_t>(q % 2 == 0 ? kToneEven : kToneOdd);
    store_le16(pack.bytes.get() + 2 * i, value);
  }
}

}  // namespace

std::int32_t pack_frame_count(const PackJob& job) {
  return static_cast<std::int32_t>(job.max_pack_seconds * kPackRate);
}

PackBuffer lay_out_pack(PackJob& job) {
  PackBuffer pack;
  const DeviceFacts& device = device_facts(job.device);
  const bool po33 = job.device == Device::kPo33;
  pack.frames = pack_frame_count(job);
  pack.channels = device.channels;
  pack.container = device.container;
  // The pack's sound is a megabyte or more, written once.
  pack.bytes.reset(allocate_large_buffer(pack.size()));
  if (!pack.bytes) return pack;

  std::int64_t position = 0;
  if (po33) {
    write_marker_tone(job, pack);
    position = kPo33GapFrames;
  }
  for (std::int32_t slot = 0; slot < job.sample_count; ++slot) {
    SampleRecord& record = *job.samples[static_cast<std::size_t>(slot)];
    record.pack_start = static_cast<std::int32_t>(position);
    if (!record.resampled || record.resampled_bytes == 0) {
      // An unrendered slice, or one of no frames, takes no room and no
      // pause: its start and end are the write position, never before it.
      record.pack_end = record.pack_start;
      continue;
    }
    if (po33) {
      position += kPo33GapFrames;
      record.pack_start = static_cast<std::int32_t>(position);
    }
    const std::int64_t frames = record.resampled_bytes / 2;
    // Each frame's samples, left then right, in the container's byte order.
    auto store = [little = pack.container == Container::kAifcSowt](std::uint8_t* p, std::int16_t sample) {
      if (little) {
        store_le16(p, static_cast<std::uint16_t>(sample));
      } else {
        store_be16(p, static_cast<std::uint16_t>(sample));
      }
    };
    const std::int16_t* right = record.resampled_right ? record.resampled_right.get() : record.resampled.get();
    for (std::int64_t k = 0; k < frames; ++k) {
      std::int64_t frame = position + k;
      if (frame < 0 || frame >= pack.frames) continue;
      const auto at = static_cast<std::size_t>(k);
      std::uint8_t* out = pack.bytes.get() + 2 * pack.channels * frame;
      store(out, record.resampled[at]);
      if (pack.channels == 2) store(out + 2, right[at]);
    }
    // The next slice begins on this slice's last frame.
    position += frames - 1;
    record.pack_end = static_cast<std::int32_t>(position);
  }
  return pack;
}

}  // namespace kitweaver
