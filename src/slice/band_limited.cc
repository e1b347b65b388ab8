#include "slice/band_limited.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

#include "kitweaver/byte_order.h"

namespace kitweaver {
namespace {

// Frames decoded at a time, and produced by one call of the resampler.
constexpr std::size_t kDecodeFrames = 4096;
constexpr std::size_t kProducedFrames = 4096;

// SOXR_HQ is libsoxr's 20-bit quality: its stopband lies some 120 dB down,
// below the quietest step a 16-bit slice can hold (-96 dBFS), with at most
// 0.01 dB of ripple up to 91% of the new Nyquist frequency. Its 24- and 28-bit
// qualities take longer and change no 16-bit sample.
constexpr unsigned long kQuality = SOXR_HQ;

struct SoxrDelete {
  void operator()(soxr_t resampler) const { soxr_delete(resampler); }
};
using Resampler = std::unique_ptr<std::remove_pointer_t<soxr_t>, SoxrDelete>;

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

// Decodes `count` frames into their channels' average, as T. One and two
// channels add integers and scale once; every scale is a power of two, so
// into double both are exact. libsoxr's 20-bit engine works in single
// precision, so what it resamples is decoded into float: converting doubles
// would round the same and cost a pass more.
template <typename T, int kWidth>
void decode_frames(const std::uint8_t* raw, std::size_t count, std::int32_t channels, T* values) {
  constexpr T kScale = static_cast<T>(kSampleScale<kWidth>);
  if (channels == 1) {
    for (std::size_t k = 0; k < count; ++k) values[k] = static_cast<T>(sample_integer<kWidth>(raw + k * kWidth)) * kScale;
  } else if (channels == 2) {
    for (std::size_t k = 0; k < count; ++k) {
      const std::uint8_t* frame = raw + k * 2 * kWidth;
      const std::int64_t sum = std::int64_t{sample_integer<kWidth>(frame)} + sample_integer<kWidth>(frame + kWidth);
      values[k] = static_cast<T>(sum) * (kScale * T{0.5});
    }
  } else {
    for (std::size_t k = 0; k < count; ++k) {
      const std::uint8_t* frame = raw + k * static_cast<std::size_t>(channels) * kWidth;
      double sum = 0.0;
      for (std::int32_t c = 0; c < channels; ++c) sum += sample_integer<kWidth>(frame + c * kWidth) * kSampleScale<kWidth>;
      values[k] = static_cast<T>(sum / channels);
    }
  }
}

template <typename T>
void decode_block(const std::uint8_t* raw, std::size_t count, std::int32_t channels, std::int32_t width, T* values) {
  switch (width) {
    case 1: return decode_frames<T, 1>(raw, count, channels, values);
    case 2: return decode_frames<T, 2>(raw, count, channels, values);
    case 3: return decode_frames<T, 3>(raw, count, channels, values);
    case 4: return decode_frames<T, 4>(raw, count, channels, values);
    default: std::fill(values, values + count, T{0}); return;
  }
}

std::int16_t to_sample(double value) {
  const double scaled = std::round(value * 32768.0);
  if (!(scaled > -32768.0)) return -32768;  // also not a number
  return scaled >= 32767.0 ? std::int16_t{32767} : static_cast<std::int16_t>(scaled);
}

// Where a note's frames go: straight into the slice of a single note, or
// added into the mix of a chord.
struct Output {
  std::int16_t* slice = nullptr;
  double* mix = nullptr;
  std::int64_t frames = 0;

  void put(std::int64_t i, double value) const {
    if (slice != nullptr) {
      slice[i] = to_sample(value);
    } else {
      mix[i] += value;
    }
  }
};

struct Note {
  Resampler resampler;  // null: the note is the decoded source itself
  std::int64_t next = 0;  // its next output frame
  bool done = false;      // it has filled the slice
};

template <typename T>
void take(Note& note, const T* values, std::size_t count, const Output& out) {
  const auto room = static_cast<std::size_t>(out.frames - note.next);
  const std::size_t used = std::min(count, room);
  for (std::size_t i = 0; i < used; ++i) out.put(note.next + static_cast<std::int64_t>(i), values[i]);
  note.next += static_cast<std::int64_t>(used);
  note.done = note.next >= out.frames;
}

// Hands `count` source frames to the note's resampler (none: the source has
// ended) and takes what it produces. False when libsoxr fails.
bool feed(Note& note, const float* in, std::size_t count, std::vector<float>& produced, const Output& out) {
  produced.resize(kProducedFrames);
  std::size_t at = 0;
  for (;;) {
    std::size_t used = 0, made = 0;
    const bool ending = count == 0;
    if (soxr_process(note.resampler.get(), ending ? nullptr : in + at, count - at, ending ? nullptr : &used,
                     produced.data(), produced.size(), &made) != nullptr) {
      return false;
    }
    at += used;
    take(note, produced.data(), made, out);
    if (note.done || (ending && made == 0) || (!ending && at == count && made < produced.size())) return true;
  }
}

// The notes of a chord, in order; an endless stretch lands nowhere and has
// none. False when libsoxr won't take a rate.
bool make_notes(const SampleRecord& record, double rate, const ChordNotes& chord, std::vector<Note>* notes) {
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(kQuality, 0);
  const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);  // the slots already share the cores
  const double source_rate = record.sample_rate;
  for (std::int32_t n = 0; n < chord.note_count; ++n) {
    const double ratio = stretch_ratio(chord.semitones[static_cast<std::size_t>(n)]);
    if (!std::isfinite(ratio)) continue;
    const double note_rate = rate * ratio;
    Note note;
    if (note_rate != source_rate) {
      if (!(note_rate / source_rate <= kMostUpsampling)) return false;
      soxr_error_t error = nullptr;
      note.resampler.reset(soxr_create(source_rate, note_rate, 1, &error, &io, &quality, &runtime));
      if (error != nullptr || note.resampler == nullptr) return false;
    }
    notes->push_back(std::move(note));
  }
  return true;
}

}  // namespace

int render_band_limited(SampleRecord& record, double rate, std::int32_t frames, const ChordNotes& chord,
                        const StreamSettings& settings, RenderBuffers* buffers) {
  std::vector<Note> notes;
  if (!make_notes(record, rate, chord, &notes)) return kBandLimitRefused;
  auto slice = zeroed<std::int16_t>(frames);
  std::unique_ptr<double[]> mix;
  if (chord.note_count > 1) mix = zeroed<double>(frames);
  if (!slice || (chord.note_count > 1 && !mix)) return 0;  // out of memory: left unrendered
  const Output out{chord.note_count > 1 ? nullptr : slice.get(), mix.get(), frames};

  const std::int32_t channels = record.channels;
  const std::int32_t width = record.bits_per_sample / 8;
  const std::int32_t frame_bytes = channels * width;
  if (frames > 0 && channels > 0 && width > 0) {
    RenderBuffers own;
    RenderBuffers& use = buffers != nullptr ? *buffers : own;
    const std::int64_t in_file = record.data_present / frame_bytes;
    const auto bytes = static_cast<std::uint64_t>(std::min(promised_frames(record), in_file)) *
                       static_cast<std::uint64_t>(frame_bytes);
    restart_source_stream(use.stream, record, frame_bytes, bytes, settings);
    const bool any_copy = std::any_of(notes.begin(), notes.end(), [](const Note& n) { return !n.resampler; });
    const bool any_resampled = std::any_of(notes.begin(), notes.end(), [](const Note& n) { return !!n.resampler; });
    use.values.resize(kDecodeFrames);
    use.samples.resize(kDecodeFrames);
    auto all_done = [&notes] { return std::all_of(notes.begin(), notes.end(), [](const Note& n) { return n.done; }); };
    const std::uint8_t* raw = nullptr;
    while (!all_done()) {
      const std::size_t count = next_frames(use.stream, &raw);
      if (count == 0) break;
      for (std::size_t at = 0; at < count && !all_done(); at += kDecodeFrames) {
        const std::size_t n = std::min(kDecodeFrames, count - at);
        const std::uint8_t* block = raw + at * static_cast<std::size_t>(frame_bytes);
        if (any_copy) decode_block(block, n, channels, width, use.values.data());
        if (any_resampled) decode_block(block, n, channels, width, use.samples.data());
        for (Note& note : notes) {
          if (note.done) continue;
          if (!note.resampler) {
            take(note, use.values.data(), n, out);
          } else if (!feed(note, use.samples.data(), n, use.resampled, out)) {
            return kBandLimitRefused;
          }
        }
      }
    }
    if (use.stream.error != 0) return use.stream.error;
    for (Note& note : notes) {
      if (note.resampler && !note.done && !feed(note, nullptr, 0, use.resampled, out)) return kBandLimitRefused;
    }
  }
  if (mix) {
    for (std::int64_t i = 0; i < frames; ++i) slice[i] = to_sample(mix[i] / chord.note_count);
  }
  record.resampled = std::move(slice);
  record.resampled_bytes = 2 * frames;
  return 0;
}

}  // namespace kitweaver
