#include "slice/resampler.h"

#include <cmath>
#include <memory>
#include <new>

#include "kitweaver/byte_order.h"

namespace kitweaver {
namespace {

// Frame counts past this are not meaningful for any slice the planner can
// accept (at most 640 s of source); it keeps every position exact in double.
constexpr double kMaxSourceFrames = 70368744177664.0;  // 2^46

double sample_value(const std::uint8_t* p, std::int32_t bytes_per_sample) {
  switch (bytes_per_sample) {
    case 1:
      return (p[0] - 128) * 256;
    case 2:
      return static_cast<std::int16_t>(load_le16(p));
    case 3:
      return static_cast<std::int16_t>(load_le16(p + 1));
    case 4:
      return static_cast<std::int16_t>(load_le16(p + 2));
    default:
      return 0.0;
  }
}

template <typename T>
std::unique_ptr<T[]> zeroed(std::int64_t count) {
  return std::unique_ptr<T[]>(new (std::nothrow) T[static_cast<std::size_t>(count)]());
}

}  // namespace

double stretch_ratio(std::int32_t semitones) {
  // semitones = 12 * octaves + step, step in 0..11.
  const std::int64_t n = semitones;
  const std::int64_t octaves = n >= 0 ? n / 12 : -((11 - n) / 12);
  const std::int64_t step = n - 12 * octaves;
  return std::ldexp(kSemitoneRatios[static_cast<std::size_t>(12 - step)], static_cast<int>(-octaves));
}

SourceView source_view(const SampleRecord& record) {
  SourceView view;
  view.pcm = record.pcm.get();
  view.channels = record.channels;
  view.bytes_per_sample = record.bits_per_sample / 8;
  std::int64_t frame_size = std::int64_t{view.channels} * view.bytes_per_sample;
  view.frames_in_data = frame_size > 0 ? record.pcm_filled / frame_size : 0;
  double promised = std::trunc(static_cast<double>(record.data_bytes) / record.byte_rate *
                               record.sample_rate);
  view.frame_count = static_cast<std::int64_t>(std::min(promised, kMaxSourceFrames));
  return view;
}

double source_frame_value(const SourceView& source, std::int64_t k) {
  if (k >= source.frames_in_data) return 0.0;
  const std::int32_t width = source.bytes_per_sample;
  const std::uint8_t* frame = source.pcm + k * source.channels * width;
  if (source.channels == 1) return sample_value(frame, width);
  if (source.channels == 2) return (sample_value(frame, width) + sample_value(frame + width, width)) * 0.5;
  double sum = 0.0;
  for (std::int32_t c = 0; c < source.channels; ++c) sum += sample_value(frame + c * width, width);
  return sum / source.channels;
}

void render_slice(SampleRecord& record, double rate, std::int32_t frames, const ChordNotes& chord) {
  const std::int64_t n = frames;
  auto output = zeroed<std::int16_t>(n);
  auto mix = zeroed<double>(n);
  auto note_sum = zeroed<double>(n);
  auto note_hits = zeroed<std::int64_t>(n);
  if (!output || !mix || !note_sum || !note_hits) return;

  const SourceView source = source_view(record);
  const double rate_ratio = rate / record.sample_rate;
  const double last_position = static_cast<double>(source.frame_count - 1);
  for (std::int32_t j = 0; j < chord.note_count; ++j) {
    const double ratio = stretch_ratio(chord.semitones[static_cast<std::size_t>(j)]);
    // Scatter every 1/64 of a source frame onto the nearest output frame.
    for (double x = 0.0; x < last_position; x += kScatterStep) {
      double mapped = std::round((rate_ratio * x) * ratio);
      if (!(mapped < static_cast<double>(n))) continue;  // past the end, or not a number
      auto i = static_cast<std::int64_t>(mapped);
      note_sum[i] += source_frame_value(source, static_cast<std::int64_t>(std::round(x)));
      note_hits[i] += 1;
    }
    // Average this note into the mix and clear its buffers for the next.
    for (std::int64_t i = 0; i < n; ++i) {
      if (note_hits[i] != 0) {
        mix[i] += note_sum[i] / static_cast<double>(note_hits[i]);
        note_hits[i] = 0;
      }
      note_sum[i] = 0.0;
    }
  }
  for (std::int64_t i = 0; i < n; ++i) {
    output[i] = static_cast<std::int16_t>(mix[i] / chord.note_count);
  }
  record.resampled = std::move(output);
  record.resampled_bytes = static_cast<std::int32_t>(2 * n);
}

}  // namespace kitweaver
