#include "slice/band_limited.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "kitweaver/byte_order.h"
#include "slice/sinc_resampler.h"

namespace kitweaver {
namespace {

// Frames decoded at a time, and handed to the resampler at once.
constexpr std::size_t kDecodeFrames = 4096;

// A little-endian sample as a signed integer of kWidth bytes, and the
// power of two that scales it into [-1, 1).
template <int kWidth>
std::int32_t sample_integer(const std::uint8_t* p) {
  if constexpr (kWidth == 1) {
    return p[0] - 128;
  } else if constexpr (kWidth == 2) {
    return static_cast<std::int16_t>(load_le16(p));
  } else if constexpr (kWidth == 3) {
    // One word load; its top byte is the next sample's, or the stream's slack.
    return static_cast<std::int32_t>(load_le32(p) << 8) >> 8;
  } else {
    return static_cast<std::int32_t>(load_le32(p));
  }
}
template <int kWidth>
constexpr double kSampleScale = 1.0 / static_cast<double>(std::int64_t{1} << (8 * kWidth - 1));

// Decodes `count` frames into their channels' average. One and two channels
// add integers and scale once; every scale is a power of two.
template <int kWidth>
void decode_frames(const std::uint8_t* raw, std::size_t count, std::int32_t channels, Sample* values) {
  constexpr auto kScale = static_cast<Sample>(kSampleScale<kWidth>);
  if (channels == 1) {
    for (std::size_t k = 0; k < count; ++k) values[k] = static_cast<Sample>(sample_integer<kWidth>(raw + k * kWidth)) * kScale;
  } else if (channels == 2) {
    for (std::size_t k = 0; k < count; ++k) {
      const std::uint8_t* frame = raw + k * 2 * kWidth;
      const std::int64_t sum = std::int64_t{sample_integer<kWidth>(frame)} + sample_integer<kWidth>(frame + kWidth);
      values[k] = static_cast<Sample>(sum) * (kScale * Sample{0.5});
    }
  } else {
    for (std::size_t k = 0; k < count; ++k) {
      const std::uint8_t* frame = raw + k * static_cast<std::size_t>(channels) * kWidth;
      double sum = 0.0;
      for (std::int32_t c = 0; c < channels; ++c) sum += sample_integer<kWidth>(frame + c * kWidth) * kSampleScale<kWidth>;
      values[k] = static_cast<Sample>(sum / channels);
    }
  }
}

void decode_block(const std::uint8_t* raw, std::size_t count, std::int32_t channels, std::int32_t width,
                  Sample* values) {
  switch (width) {
    case 1: return decode_frames<1>(raw, count, channels, values);
    case 2: return decode_frames<2>(raw, count, channels, values);
    case 3: return decode_frames<3>(raw, count, channels, values);
    case 4: return decode_frames<4>(raw, count, channels, values);
    default: std::fill(values, values + count, Sample{0}); return;
  }
}

// Where a note's frames go: straight into the slice of a single note, or
// added into the mix of a chord.
struct Output {
  std::int16_t* slice = nullptr;
  double* mix = nullptr;
};

// Puts a note's newest frames, which follow its `done` earlier ones.
void take(const NoteChain& note, std::int64_t done, const Output& out) {
  const Sample* values = note.made.values();
  const auto count = static_cast<std::int64_t>(note.made.size());
  if (out.slice != nullptr) {
    for (std::int64_t i = 0; i < count; ++i) out.slice[done + i] = to_pcm16(values[i]);
  } else {
    for (std::int64_t i = 0; i < count; ++i) out.mix[done + i] += static_cast<double>(values[i]);
  }
}

}  // namespace

int render_band_limited(SampleRecord& record, double rate, std::int32_t frames, const ChordNotes& chord,
                        RenderBuffers* buffers) {
  auto slice = zeroed<std::int16_t>(frames);
  std::unique_ptr<double[]> mix;
  if (chord.note_count > 1) mix = zeroed<double>(frames);
  if (!slice || (chord.note_count > 1 && !mix)) return 0;  // out of memory: left unrendered
  const Output out{chord.note_count > 1 ? nullptr : slice.get(), mix.get()};

  RenderBuffers own;
  RenderBuffers& use = buffers != nullptr ? *buffers : own;
  // The notes in order; a stretch that is not a number lands nowhere.
  double rates[4] = {};
  std::int64_t wanted[4] = {};
  int notes = 0;
  for (std::int32_t n = 0; n < chord.note_count; ++n) {
    const double ratio = stretch_ratio(chord.semitones[static_cast<std::size_t>(n)]);
    if (!std::isfinite(ratio)) continue;
    rates[notes] = rate * ratio;
    wanted[notes] = frames;
    ++notes;
  }
  const std::int32_t channels = record.channels;
  const std::int32_t width = record.bits_per_sample / 8;
  const std::int32_t frame_bytes = channels * width;
  SincResampler& resampler = use.band_limited;
  if (frames > 0 && channels > 0 && width > 0 &&
      start_resampler(resampler, record.sample_rate, rates, wanted, notes)) {
    const std::int64_t in_file = record.data_present / frame_bytes;
    const auto bytes = static_cast<std::uint64_t>(std::min(promised_frames(record), in_file)) *
                       static_cast<std::uint64_t>(frame_bytes);
    restart_source_stream(use.stream, record, frame_bytes, bytes);
    use.samples.resize(kDecodeFrames);
    std::int64_t done[4] = {};
    auto take_all = [&] {
      for (int j = 0; j < notes; ++j) {
        const NoteChain& note = resampler.notes[static_cast<std::size_t>(j)];
        take(note, done[j], out);
        done[j] += static_cast<std::int64_t>(note.made.size());
      }
    };
    const std::uint8_t* raw = nullptr;
    while (!resampler_done(resampler)) {
      const std::size_t count = next_frames(use.stream, &raw);
      if (count == 0) break;
      for (std::size_t at = 0; at < count && !resampler_done(resampler); at += kDecodeFrames) {
        const std::size_t n = std::min(kDecodeFrames, count - at);
        decode_block(raw + at * static_cast<std::size_t>(frame_bytes), n, channels, width, use.samples.data());
        push_source(resampler, use.samples.data(), n);
        take_all();
      }
    }
    if (use.stream.error != 0) return use.stream.error;
    if (!resampler_done(resampler)) {
      end_source(resampler);
      take_all();
    }
  }
  if (mix) {
    for (std::int32_t i = 0; i < frames; ++i) slice[i] = to_pcm16(mix[i] / chord.note_count);
  }
  record.resampled = std::move(slice);
  record.resampled_bytes = 2 * frames;
  return 0;
}

}  // namespace kitweaver
