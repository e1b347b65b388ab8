#include "slice/band_limited.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "slice/sample_decoding.h"
#include "slice/sinc_resampler.h"

namespace kitweaver {
namespace {

// Frames decoded at a time, and handed to the resampler at once.
constexpr std::size_t kDecodeFrames = 4096;

// Decodes `count` frames into their channels' average. One and two channels
// of integers add them and scale once (every scale is a power of two); float
// samples are added in double precision, which holds the sum of two exactly,
// and rounded once, so that a float copy of integer samples gives their
// values bit for bit. Three or more channels are added in double precision
// in channel order, either way.
template <SampleType kType>
void decode_frames(const std::uint8_t* raw, std::size_t count, std::int32_t channels, Sample* values) {
  constexpr int kWidth = kSampleWidth<kType>;
  auto full_value = [](const std::uint8_t* p) {
    if constexpr (kFloatSample<kType>) {
      return sample_float<kType>(p);
    } else {
      return sample_integer<kType>(p) * kIntegerScale<kType>;
    }
  };
  if (channels == 1) {
    for (std::size_t k = 0; k < count; ++k) {
      if constexpr (kFloatSample<kType>) {
        values[k] = static_cast<Sample>(full_value(raw + k * kWidth));
      } else {
        values[k] = static_cast<Sample>(sample_integer<kType>(raw + k * kWidth)) * static_cast<Sample>(kIntegerScale<kType>);
      }
    }
  } else if (channels == 2) {
    for (std::size_t k = 0; k < count; ++k) {
      const std::uint8_t* frame = raw + k * 2 * kWidth;
      if constexpr (kFloatSample<kType>) {
        values[k] = static_cast<Sample>((full_value(frame) + full_value(frame + kWidth)) * 0.5);
      } else {
        const std::int64_t sum = std::int64_t{sample_integer<kType>(frame)} + sample_integer<kType>(frame + kWidth);
        values[k] = static_cast<Sample>(sum) * (static_cast<Sample>(kIntegerScale<kType>) * Sample{0.5});
      }
    }
  } else {
    for (std::size_t k = 0; k < count; ++k) {
      const std::uint8_t* frame = raw + k * static_cast<std::size_t>(channels) * kWidth;
      double sum = 0.0;
      for (std::int32_t c = 0; c < channels; ++c) sum += full_value(frame + c * kWidth);
      values[k] = static_cast<Sample>(sum / channels);
    }
  }
}

// A sample type without a decoding is silence.
void decode_block(const std::uint8_t* raw, std::size_t count, std::int32_t channels, SampleType type,
                  Sample* values) {
  const bool decoded = with_sample_type(type, [&](auto t) { decode_frames<decltype(t)::value>(raw, count, channels, values); });
  if (!decoded) std::fill(values, values + count, Sample{0});
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
  const SampleType type = sample_type_of(record);
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
        decode_block(raw + at * static_cast<std::size_t>(frame_bytes), n, channels, type, use.samples.data());
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
