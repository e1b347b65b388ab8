#include "slice/resampler.h"

#include <algorithm>
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

// The fast scatter. Positions j = 0, 1, 2 ... stand for X = j / 64, and
// position j belongs to source frame k = round(X) = (j + 32) / 64. Its output
// frame is round(m(j)) with m(j) = ((Q / S) * X) * ratio, evaluated exactly as
// the literal walk does. Since every factor is positive, m is monotonic in j,
// so the positions of one output frame form one run, and within it the
// positions of one source frame form one sub-run of at most 64 positions.
// Each sub-run is added as value x count. That equals the literal repeated
// addition bit for bit when the frame value is a multiple of 1/2 (one or two
// channels): every product and partial sum is then a multiple of 1/2 below
// 2^52 in magnitude (at most 64 positions of |value| <= 32768 per frame, and
// fewer than 2^31 frames in any file), so no addition ever rounds. A value of
// three or more channels is a quotient, so there the additions are repeated
// in the literal order. Positions past the data read from the file are
// silence: they only add hits, which matters for the output frame they start
// in; every later frame would add exactly +0.0 to the mix, so the walk stops.
namespace {

// Frame decoders for the scatter. The fixed ones inline the common layouts;
// they must give exactly what source_frame_value gives for a frame inside the
// data.
template <int kChannels, int kWidth>
struct FixedLayout {
  const std::uint8_t* pcm;
  double operator()(std::int64_t k) const {
    const std::uint8_t* frame = pcm + k * kChannels * kWidth;
    if constexpr (kChannels == 1) {
      return sample_value(frame, kWidth);
    } else {
      return (sample_value(frame, kWidth) + sample_value(frame + kWidth, kWidth)) * 0.5;
    }
  }
};

struct AnyLayout {
  const SourceView* source;
  double operator()(std::int64_t k) const { return source_frame_value(*source, k); }
};

template <typename Decode>
void scatter(const SourceView& source, Decode decode, bool exact_products, double rate_ratio, double ratio,
             std::int64_t frames, double* mix) {
  const std::int64_t positions = 64 * (source.frame_count - 1);
  auto mapped = [rate_ratio, ratio](std::int64_t j) {
    return (rate_ratio * (static_cast<double>(j) * kScatterStep)) * ratio;
  };
  const double per_position = rate_ratio * ratio * kScatterStep;

  std::int64_t cached_frame = -1;
  double cached_value = 0.0;
  std::int64_t j = 0;
  while (j < positions) {
    const double first = std::round(mapped(j));
    if (!(first < static_cast<double>(frames))) break;  // and so is every later position
    const auto i = static_cast<std::int64_t>(first);

    // End of output frame i: the first position whose mapped value reaches
    // i + 0.5. Estimated, then settled with the exact expression.
    const double threshold = static_cast<double>(i) + 0.5;
    const double estimate = std::ceil(threshold / per_position);
    std::int64_t end = estimate < static_cast<double>(positions) ? static_cast<std::int64_t>(estimate) : positions;
    end = std::max(end, j + 1);
    while (end > j + 1 && mapped(end - 1) >= threshold) --end;
    while (end < positions && mapped(end) < threshold) ++end;

    double sum = 0.0;
    std::int64_t hits = 0;
    bool past_data = false;
    std::int64_t k = (j + 32) / 64;
    while (j < end) {
      if (k >= source.frames_in_data) {
        hits += end - j;
        j = end;
        past_data = true;
        break;
      }
      const std::int64_t run_end = std::min(end, 64 * k + 32);
      const std::int64_t count = run_end - j;
      if (k != cached_frame) {
        cached_value = decode(k);
        cached_frame = k;
      }
      if (exact_products) {
        sum += cached_value * static_cast<double>(count);
      } else {
        for (std::int64_t c = 0; c < count; ++c) sum += cached_value;
      }
      hits += count;
      j = run_end;
      if (j == 64 * k + 32) ++k;
    }
    mix[i] += sum / static_cast<double>(hits);
    if (past_data) break;
  }
}

template <int kChannels>
void scatter_channels(const SourceView& source, double rate_ratio, double ratio, std::int64_t frames,
                      double* mix) {
  switch (source.bytes_per_sample) {
    case 1: return scatter(source, FixedLayout<kChannels, 1>{source.pcm}, true, rate_ratio, ratio, frames, mix);
    case 2: return scatter(source, FixedLayout<kChannels, 2>{source.pcm}, true, rate_ratio, ratio, frames, mix);
    case 3: return scatter(source, FixedLayout<kChannels, 3>{source.pcm}, true, rate_ratio, ratio, frames, mix);
    case 4: return scatter(source, FixedLayout<kChannels, 4>{source.pcm}, true, rate_ratio, ratio, frames, mix);
    default: return scatter(source, AnyLayout{&source}, true, rate_ratio, ratio, frames, mix);
  }
}

}  // namespace

void add_note_average(const SourceView& source, double rate_ratio, double ratio, std::int64_t frames,
                      double* mix) {
  if (!std::isfinite(ratio) || source.frame_count < 2 || frames <= 0) return;
  if (source.channels == 1) return scatter_channels<1>(source, rate_ratio, ratio, frames, mix);
  if (source.channels == 2) return scatter_channels<2>(source, rate_ratio, ratio, frames, mix);
  scatter(source, AnyLayout{&source}, false, rate_ratio, ratio, frames, mix);
}

bool attach_mix(SampleRecord& record, const double* mix, std::int64_t frames, std::int32_t note_count) {
  auto output = zeroed<std::int16_t>(frames);
  if (!output) return false;
  // Divided by the full note count, also where a copy has ended.
  for (std::int64_t i = 0; i < frames; ++i) output[i] = static_cast<std::int16_t>(mix[i] / note_count);
  record.resampled = std::move(output);
  record.resampled_bytes = static_cast<std::int32_t>(2 * frames);
  return true;
}

std::unique_ptr<double[]> zeroed_mix(std::int64_t frames) { return zeroed<double>(frames); }

void render_slice(SampleRecord& record, double rate, std::int32_t frames, const ChordNotes& chord) {
  auto mix = zeroed<double>(frames);
  if (!mix) return;
  const SourceView source = source_view(record);
  const double rate_ratio = rate / record.sample_rate;
  for (std::int32_t j = 0; j < chord.note_count; ++j) {
    const double ratio = stretch_ratio(chord.semitones[static_cast<std::size_t>(j)]);
    add_note_average(source, rate_ratio, ratio, frames, mix.get());
  }
  attach_mix(record, mix.get(), frames, chord.note_count);
}

}  // namespace kitweaver
