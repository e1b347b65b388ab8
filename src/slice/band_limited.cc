#include "slice/band_limited.h"

#include <algorithm>
#include <array>
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

// The two channels of two-channel frames apart, each as a mono recording of
// that channel decodes.
template <SampleType kType>
void decode_sides(const std::uint8_t* raw, std::size_t count, Sample* left, Sample* right) {
  constexpr int kWidth = kSampleWidth<kType>;
  Sample* sides[kSides] = {left, right};
  for (std::size_t k = 0; k < count; ++k) {
    for (std::size_t side = 0; side < kSides; ++side) {
      const std::uint8_t* p = raw + (2 * k + side) * kWidth;
      if constexpr (kFloatSample<kType>) {
        sides[side][k] = static_cast<Sample>(sample_float<kType>(p));
      } else {
        sides[side][k] = static_cast<Sample>(sample_integer<kType>(p)) * static_cast<Sample>(kIntegerScale<kType>);
      }
    }
  }
}

// A sample type without a decoding is silence. With two sides, the two
// channels go to values[0] and values[1]; with one, their mean to values[0].
void decode_block(const std::uint8_t* raw, std::size_t count, std::int32_t channels, SampleType type, int sides,
                  std::array<std::vector<Sample>, kSides>& values) {
  const bool decoded = with_sample_type(type, [&](auto t) {
    if (sides == 2) {
      decode_sides<decltype(t)::value>(raw, count, values[0].data(), values[1].data());
    } else {
      decode_frames<decltype(t)::value>(raw, count, channels, values[0].data());
    }
  });
  if (!decoded) {
    for (int side = 0; side < sides; ++side) {
      std::fill(values[static_cast<std::size_t>(side)].begin(), values[static_cast<std::size_t>(side)].begin() +
                static_cast<std::ptrdiff_t>(count), Sample{0});
    }
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
                        RenderBuffers* buffers, bool stereo) {
  const int sides = sides_of(record, stereo);
  std::array<std::unique_ptr<std::int16_t[]>, kSides> slices;
  std::array<std::unique_ptr<double[]>, kSides> mixes;
  std::array<Output, kSides> outs;
  for (std::size_t side = 0; side < static_cast<std::size_t>(sides); ++side) {
    slices[side] = zeroed<std::int16_t>(frames);
    if (chord.note_count > 1) mixes[side] = zeroed<double>(frames);
    if (!slices[side] || (chord.note_count > 1 && !mixes[side])) return 0;  // out of memory: left unrendered
    outs[side] = Output{chord.note_count > 1 ? nullptr : slices[side].get(), mixes[side].get()};
  }

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
  bool started = frames > 0 && channels > 0 && width > 0;
  for (std::size_t side = 0; side < static_cast<std::size_t>(sides) && started; ++side) {
    started = start_resampler(use.band_limited[side], record.sample_rate, rates, wanted, notes);
  }
  if (started) {
    const std::int64_t in_file = record.data_present / frame_bytes;
    const auto bytes = static_cast<std::uint64_t>(std::min(promised_frames(record), in_file)) *
                       static_cast<std::uint64_t>(frame_bytes);
    restart_source_stream(use.stream, record, frame_bytes, bytes);
    for (std::size_t side = 0; side < static_cast<std::size_t>(sides); ++side) use.samples[side].resize(kDecodeFrames);
    std::int64_t done[kSides][4] = {};
    // Every side's resampler makes the same frames at the same time.
    const SincResampler& first = use.band_limited[0];
    auto take_all = [&] {
      for (std::size_t side = 0; side < static_cast<std::size_t>(sides); ++side) {
        for (int j = 0; j < notes; ++j) {
          const NoteChain& note = use.band_limited[side].notes[static_cast<std::size_t>(j)];
          take(note, done[side][j], outs[side]);
          done[side][j] += static_cast<std::int64_t>(note.made.size());
        }
      }
    };
    const std::uint8_t* raw = nullptr;
    while (!resampler_done(first)) {
      const std::size_t count = next_frames(use.stream, &raw);
      if (count == 0) break;
      for (std::size_t at = 0; at < count && !resampler_done(first); at += kDecodeFrames) {
        const std::size_t n = std::min(kDecodeFrames, count - at);
        decode_block(raw + at * static_cast<std::size_t>(frame_bytes), n, channels, type, sides, use.samples);
        for (std::size_t side = 0; side < static_cast<std::size_t>(sides); ++side) {
          push_source(use.band_limited[side], use.samples[side].data(), n);
        }
        take_all();
      }
    }
    if (use.stream.error != 0) return use.stream.error;
    if (!resampler_done(first)) {
      for (std::size_t side = 0; side < static_cast<std::size_t>(sides); ++side) end_source(use.band_limited[side]);
      take_all();
    }
  }
  for (std::size_t side = 0; side < static_cast<std::size_t>(sides); ++side) {
    if (!mixes[side]) continue;
    for (std::int32_t i = 0; i < frames; ++i) slices[side][i] = to_pcm16(mixes[side][i] / chord.note_count);
  }
  record.resampled = std::move(slices[0]);
  record.resampled_right = std::move(slices[1]);
  record.resampled_bytes = 2 * frames;
  return 0;
}

}  // namespace kitweaver
