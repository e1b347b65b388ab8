#include "slice/resampler.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

#include "slice/sample_decoding.h"

namespace kitweaver {

// How the scatter is computed without visiting every position.
//
// Positions j = 0, 1, 2 ... stand for X = j / 64, and position j belongs to
// source frame k = round(X) = (j + 32) / 64. Its output frame is round(m(j))
// with m(j) = ((Q / S) * X) * ratio, evaluated exactly as the literal walk
// does. Every factor is positive, so m is monotonic in j: the positions of
// one output frame form one run, found by estimating its end and settling it
// with m itself, and within a run the positions of one source frame form one
// sub-run of at most 64 positions.
//
// With one or two channels a frame's value is a multiple of 1/2, so the sum
// over a run is kept exactly as an integer in halves: a count times a value
// for the partial frames at the run's ends, and 64 times a difference of
// running sums for the whole frames between them. The literal walk's double
// additions are exact too (multiples of 1/2 below 2^53: at most 64 positions
// of |value| <= 32768 per frame, fewer than 2^31 frames in any file), so the
// one division, sum / hits, rounds the same. A value of three or more
// channels is a quotient; there the additions are repeated in the literal
// order. A mapping that is a power of two (Q = S / 2^n, octave chord notes)
// is exact, so its runs end at computed positions; Q = S with a ratio of 1
// maps every frame onto itself.
//
// The source is read front to back once per pass. Notes whose ratios do not
// increase share a pass: for every output frame the note with the larger
// ratio finishes it first, so the mix receives the notes' averages in note
// order, as the literal walk adds them. A note with a larger ratio than the
// one before it starts the next pass, which reads the file again.
//
// Positions past the data read from the file are silence: they only add
// hits, which matters for the output frame they start in; every later frame
// would add exactly +0.0, so the note ends there.
namespace {

// Frame counts past this are not meaningful for any slice the planner can
// accept (at most 640 s of source); it keeps every position exact in double.
constexpr double kMaxSourceFrames = 70368744177664.0;  // 2^46

// Frames decoded at a time, so that their running sums stay in the cache.
constexpr std::size_t kDecodeFrames = 4096;

// The averages of one output frame, one per side.
template <int kSideCount>
using Averages = std::array<double, kSideCount>;

// Decoded frames [first, first + count) of one or two channels, on each of
// `kSideCount` sides (one side, or the two channels apart): running sums of
// twice each frame's value, prefix[side][0] = 0.
template <int kSideCount>
struct PrefixBlock {
  static constexpr bool kRunningSums = true;
  std::int64_t first = 0;
  std::int64_t count = 0;
  std::array<const std::int64_t*, kSideCount> prefix{};
  std::int64_t twice_value(std::size_t side, std::int64_t k) const {
    return prefix[side][k - first + 1] - prefix[side][k - first];
  }
  Averages<kSideCount> value(std::int64_t k) const {
    Averages<kSideCount> values;
    for (std::size_t side = 0; side < kSideCount; ++side) values[side] = static_cast<double>(twice_value(side, k)) * 0.5;
    return values;
  }
};

template <int kChannels, SampleType kType>
void decode_prefix(const std::uint8_t* raw, std::size_t count, std::int64_t* prefix) {
  constexpr int kWidth = kSampleWidth<kType>;
  std::int64_t sum = 0;
  prefix[0] = 0;
  for (std::size_t k = 0; k < count; ++k) {
    const std::uint8_t* frame = raw + k * kChannels * kWidth;
    if constexpr (kChannels == 1) {
      sum += 2 * sample16<kType>(frame);
    } else {
      sum += sample16<kType>(frame) + sample16<kType>(frame + kWidth);
    }
    prefix[k + 1] = sum;
  }
}

// The two channels of two-channel frames apart, each as a mono recording of
// that channel decodes.
template <SampleType kType>
void decode_sides(const std::uint8_t* raw, std::size_t count, std::int64_t* left, std::int64_t* right) {
  constexpr int kWidth = kSampleWidth<kType>;
  std::int64_t sums[kSides] = {};
  left[0] = right[0] = 0;
  for (std::size_t k = 0; k < count; ++k) {
    const std::uint8_t* frame = raw + k * 2 * kWidth;
    sums[0] += 2 * sample16<kType>(frame);
    sums[1] += 2 * sample16<kType>(frame + kWidth);
    left[k + 1] = sums[0];
    right[k + 1] = sums[1];
  }
}

// A sample type without a decoding is silence.
template <int kChannels>
void decode_prefix(SampleType type, const std::uint8_t* raw, std::size_t count, std::int64_t* prefix) {
  const bool decoded = with_sample_type(type, [&](auto t) { decode_prefix<kChannels, decltype(t)::value>(raw, count, prefix); });
  if (!decoded) std::fill(prefix, prefix + count + 1, 0);
}

void decode_sides(SampleType type, const std::uint8_t* raw, std::size_t count, std::int64_t* left, std::int64_t* right) {
  const bool decoded = with_sample_type(type, [&](auto t) { decode_sides<decltype(t)::value>(raw, count, left, right); });
  if (!decoded) {
    std::fill(left, left + count + 1, 0);
    std::fill(right, right + count + 1, 0);
  }
}

// Decoded frames of three or more channels: the mean of their samples.
struct ValueBlock {
  static constexpr bool kRunningSums = false;
  std::int64_t first = 0;
  std::int64_t count = 0;
  const double* values = nullptr;
};

void decode_values(std::int32_t channels, std::int32_t width, SampleType type, const std::uint8_t* raw,
                   std::size_t count, double* values) {
  for (std::size_t k = 0; k < count; ++k) {
    const std::uint8_t* frame = raw + k * static_cast<std::size_t>(channels * width);
    double sum = 0.0;
    for (std::int32_t c = 0; c < channels; ++c) sum += sample16(frame + c * width, type);
    values[k] = sum / channels;
  }
}

// Sums over runs of positions, [from, to) within one block, on every side.
template <int kSideCount>
struct IntegerSum {
  using Block = PrefixBlock<kSideCount>;
  std::array<std::int64_t, kSideCount> halves{};  // twice the sum of the values

  void add(const Block& block, std::int64_t from, std::int64_t to) {
    const std::int64_t ka = (from + 32) >> 6;
    const std::int64_t kb = (to - 1 + 32) >> 6;
    for (std::size_t side = 0; side < kSideCount; ++side) {
      if (ka == kb) {
        halves[side] += (to - from) * block.twice_value(side, ka);
        continue;
      }
      const std::int64_t* prefix = block.prefix[side];
      halves[side] += (64 * ka + 32 - from) * block.twice_value(side, ka) +
                      64 * (prefix[kb - block.first] - prefix[ka + 1 - block.first]) +
                      (to - (64 * kb - 32)) * block.twice_value(side, kb);
    }
  }
  Averages<kSideCount> average(std::int64_t hits) const {
    Averages<kSideCount> values;
    for (std::size_t side = 0; side < kSideCount; ++side) {
      values[side] = static_cast<double>(halves[side]) / static_cast<double>(2 * hits);
    }
    return values;
  }
};

struct RepeatedSum {
  using Block = ValueBlock;
  double sum = 0.0;

  void add(const ValueBlock& block, std::int64_t from, std::int64_t to) {
    for (std::int64_t j = from; j < to;) {
      const std::int64_t k = (j + 32) >> 6;
      const std::int64_t run_end = std::min(to, 64 * k + 32);
      const double value = block.values[k - block.first];
      for (; j < run_end; ++j) sum += value;
    }
  }
  Averages<1> average(std::int64_t hits) const { return {sum / static_cast<double>(hits)}; }
};

// Where averages go, on each side: into the mix of a chord, or straight into
// the slice of a single note (whose mix would be the average itself,
// divided by 1).
template <int kSideCount>
struct MixSink {
  std::array<double*, kSideCount> mix{};
  void put(std::int64_t i, const Averages<kSideCount>& average) const {
    for (std::size_t side = 0; side < kSideCount; ++side) mix[side][i] += average[side];
  }
};
template <int kSideCount>
struct SliceSink {
  std::array<std::int16_t*, kSideCount> slice{};
  void put(std::int64_t i, const Averages<kSideCount>& average) const {
    for (std::size_t side = 0; side < kSideCount; ++side) slice[side][i] = static_cast<std::int16_t>(average[side]);
  }
};

bool is_power_of_two(double x, int* exponent) {
  return std::isfinite(x) && x > 0 && std::frexp(x, exponent) == 0.5;
}

// Round half away from zero, for 0 <= m < 2^62.
std::int64_t round_position(double m) {
  auto t = static_cast<std::int64_t>(m);
  if (m - static_cast<double>(t) >= 0.5) ++t;
  return t;
}

// The scatter of one chord note, carried from one block of frames to the next.
template <typename Sum>
struct NoteWalk {
  double rate_ratio = 0;
  double ratio = 0;
  double positions_per_frame = 0;  // 1 / (rate_ratio x ratio / 64), for estimates
  int end_shift = -1;              // >= 0: the run of frame i ends at (2i + 1) << end_shift
  bool consecutive = false;        // every run's frame follows the one before
  bool identity = false;           // every source frame is its own output frame

  std::int64_t position = 0;       // next position to add
  std::int64_t frame = 0;          // output frame of the current run
  std::int64_t end = 0;            // first position past the current run
  std::int64_t hits = 0;
  Sum sum;
  bool in_run = false;
  bool done = false;

  double mapped(std::int64_t j) const {
    return (rate_ratio * (static_cast<double>(j) * kScatterStep)) * ratio;
  }
};

template <typename Sum>
NoteWalk<Sum> start_walk(double rate_ratio, double ratio, std::int64_t positions) {
  NoteWalk<Sum> walk;
  walk.rate_ratio = rate_ratio;
  walk.ratio = ratio;
  walk.positions_per_frame = 1.0 / (rate_ratio * ratio * kScatterStep);
  walk.done = positions == 0;
  int a = 0, b = 0;
  if (is_power_of_two(rate_ratio, &a) && is_power_of_two(ratio, &b)) {
    // Both are 2^(a - 1) and 2^(b - 1), so m(j) = j x 2^(a + b - 8) exactly,
    // and m reaches i + 1/2 at j = (2i + 1) x 2^(7 - a - b).
    const int shift = 7 - a - b;
    if (shift >= 0 && shift <= 20) walk.end_shift = shift;
  }
  // While a position moves m by less than 1/2, the first position past the
  // run of frame i (where m reaches i + 1/2) rounds to i + 1: no frame is
  // skipped.
  walk.consecutive = rate_ratio * ratio <= 16.0;
  walk.identity = rate_ratio == 1.0 && ratio == 1.0;
  return walk;
}

// Opens the run of the output frame that position `walk.position` lands on;
// ends the walk when that frame is past the slice.
template <typename Sum>
bool open_run(NoteWalk<Sum>& walk, std::int64_t positions, std::int64_t frames) {
  std::int64_t i;
  if (walk.consecutive && walk.position > 0) {
    i = walk.frame + 1;
    if (i >= frames) {
      walk.done = true;
      return false;
    }
  } else {
    const double m = walk.mapped(walk.position);
    if (!(m < static_cast<double>(frames) - 0.5)) {  // rounds to `frames` or more, or is not a number
      walk.done = true;
      return false;
    }
    i = round_position(m);
  }
  std::int64_t end;
  if (walk.end_shift >= 0) {
    end = std::min((2 * i + 1) << walk.end_shift, positions);
  } else {
    const double threshold = static_cast<double>(i) + 0.5;
    const double estimate = threshold * walk.positions_per_frame;
    end = estimate < static_cast<double>(positions) ? static_cast<std::int64_t>(estimate) : positions;
    end = std::max(end, walk.position + 1);
    while (end > walk.position + 1 && walk.mapped(end - 1) >= threshold) --end;
    while (end < positions && walk.mapped(end) < threshold) ++end;
  }
  walk.frame = i;
  walk.end = end;
  walk.hits = 0;
  walk.sum = Sum{};
  walk.in_run = true;
  return true;
}

// Adds the positions that belong to `block`'s frames, emitting every run
// that ends among them.
template <typename Sum, typename Block, typename Sink>
void advance(NoteWalk<Sum>& walk, const Block& block, std::int64_t positions, std::int64_t frames,
             const Sink& sink) {
  if (walk.done) return;
  if constexpr (Block::kRunningSums) {
    if (walk.identity) {
      const std::int64_t stop = std::min({block.first + block.count, positions / 64 + 1, frames});
      for (std::int64_t k = block.first; k < stop; ++k) sink.put(k, block.value(k));
      walk.done = stop < block.first + block.count;
      return;
    }
  }
  const std::int64_t limit = std::min(64 * (block.first + block.count) - 32, positions);
  while (!walk.done) {
    if (!walk.in_run) {
      if (walk.position >= positions) {
        walk.done = true;
        return;
      }
      if (walk.position >= limit || !open_run(walk, positions, frames)) return;
    }
    const std::int64_t stop = std::min(walk.end, limit);
    if (stop > walk.position) {
      walk.sum.add(block, walk.position, stop);
      walk.hits += stop - walk.position;
      walk.position = stop;
    }
    if (walk.position < walk.end) return;  // the run goes on in the next block
    sink.put(walk.frame, walk.sum.average(walk.hits));
    walk.in_run = false;
  }
}

// The data ended before the positions did: the rest of the current run is
// silence, and so is everything after it.
template <typename Sum, typename Sink>
void finish(NoteWalk<Sum>& walk, std::int64_t positions, std::int64_t frames, const Sink& sink) {
  if (walk.done || walk.identity) return;
  if (!walk.in_run && (walk.position >= positions || !open_run(walk, positions, frames))) return;
  walk.hits += walk.end - walk.position;
  sink.put(walk.frame, walk.sum.average(walk.hits));
  walk.done = true;
}

struct Source {
  int sides = 1;                 // two: the channels of a two-channel recording apart
  std::int32_t channels = 0;
  std::int32_t width = 0;        // bytes per sample
  SampleType type = SampleType::kNone;
  std::int32_t frame_bytes = 0;
  std::int64_t positions = 0;    // 64 x (promised frames - 1)
  std::uint64_t bytes = 0;       // bytes of the frames any position belongs to
};

Source describe_source(const SampleRecord& record, int sides) {
  Source source;
  source.sides = sides;
  source.channels = record.channels;
  source.width = record.bits_per_sample / 8;
  source.type = sample_type_of(record);
  source.frame_bytes = source.channels * source.width;
  const std::int64_t promised = promised_frames(record);
  source.positions = promised >= 2 ? 64 * (promised - 1) : 0;
  const std::int64_t in_file = record.data_present / source.frame_bytes;
  source.bytes = static_cast<std::uint64_t>(std::min(promised, in_file)) * static_cast<std::uint64_t>(source.frame_bytes);
  return source;
}

// One read of the source for the notes of `walks`, in their order; each
// walk sums every side of `source` at once.
template <typename Sum, typename Sink>
int run_pass(const SampleRecord& record, const Source& source, std::vector<NoteWalk<Sum>>& walks,
             std::int64_t frames, RenderBuffers& buffers, const Sink& sink) {
  constexpr bool kIntegers = Sum::Block::kRunningSums;
  if constexpr (kIntegers) {
    for (int side = 0; side < source.sides; ++side) buffers.sums[static_cast<std::size_t>(side)].resize(kDecodeFrames + 1);
  } else {
    buffers.values.resize(kDecodeFrames + 1);
  }
  SourceStream& stream = buffers.stream;
  restart_source_stream(stream, record, source.frame_bytes, source.bytes);
  auto all_done = [&walks] {
    return std::all_of(walks.begin(), walks.end(), [](const NoteWalk<Sum>& w) { return w.done; });
  };

  std::int64_t first = 0;
  const std::uint8_t* raw = nullptr;
  while (!all_done()) {
    const std::size_t count = next_frames(stream, &raw);
    if (count == 0) break;
    for (std::size_t at = 0; at < count && !all_done(); at += kDecodeFrames) {
      const std::size_t n = std::min(kDecodeFrames, count - at);
      const std::uint8_t* bytes = raw + at * static_cast<std::size_t>(source.frame_bytes);
      typename Sum::Block block;
      block.first = first;
      block.count = static_cast<std::int64_t>(n);
      if constexpr (kIntegers) {
        if (source.sides == 2) {
          decode_sides(source.type, bytes, n, buffers.sums[0].data(), buffers.sums[1].data());
        } else if (source.channels == 1) {
          decode_prefix<1>(source.type, bytes, n, buffers.sums[0].data());
        } else {
          decode_prefix<2>(source.type, bytes, n, buffers.sums[0].data());
        }
        for (std::size_t side = 0; side < block.prefix.size(); ++side) block.prefix[side] = buffers.sums[side].data();
      } else {
        decode_values(source.channels, source.width, source.type, bytes, n, buffers.values.data());
        block.values = buffers.values.data();
      }
      for (NoteWalk<Sum>& walk : walks) advance(walk, block, source.positions, frames, sink);
      first += static_cast<std::int64_t>(n);
    }
  }
  if (stream.error != 0) return stream.error;
  for (NoteWalk<Sum>& walk : walks) finish(walk, source.positions, frames, sink);
  return 0;
}

template <typename Sum, typename Sink>
int scatter_notes(const SampleRecord& record, const Source& source, double rate, std::int64_t frames,
                  const ChordNotes& chord, RenderBuffers& buffers, const Sink& sink) {
  const double rate_ratio = rate / record.sample_rate;
  std::vector<NoteWalk<Sum>> pass;
  for (std::int32_t n = 0; n < chord.note_count; ++n) {
    const double ratio = stretch_ratio(chord.semitones[static_cast<std::size_t>(n)]);
    if (!std::isfinite(ratio)) continue;  // an endless stretch lands nowhere
    if (!pass.empty() && ratio > pass.back().ratio) {
      if (int error = run_pass(record, source, pass, frames, buffers, sink)) return error;
      pass.clear();
    }
    pass.push_back(start_walk<Sum>(rate_ratio, ratio, source.positions));
  }
  return pass.empty() ? 0 : run_pass(record, source, pass, frames, buffers, sink);
}

// The scatter on `kSideCount` sides: one (the recording's channels
// averaged) or two (a two-channel recording's channels apart).
template <int kSideCount, template <int> class Sink>
int scatter(const SampleRecord& record, double rate, std::int64_t frames, const ChordNotes& chord,
            RenderBuffers* buffers, const Sink<kSideCount>& sink) {
  if (frames <= 0 || record.channels <= 0 || record.bits_per_sample / 8 < 1) return 0;
  RenderBuffers own;
  RenderBuffers& use = buffers != nullptr ? *buffers : own;
  const Source source = describe_source(record, kSideCount);
  if constexpr (kSideCount == 2) {
    return scatter_notes<IntegerSum<2>>(record, source, rate, frames, chord, use, sink);
  } else {
    if (record.channels <= 2) return scatter_notes<IntegerSum<1>>(record, source, rate, frames, chord, use, sink);
    return scatter_notes<RepeatedSum>(record, source, rate, frames, chord, use, sink);
  }
}

}  // namespace

double stretch_ratio(std::int32_t semitones) {
  // semitones = 12 * octaves + step, step in 0..11.
  const std::int64_t n = semitones;
  const std::int64_t octaves = n >= 0 ? n / 12 : -((11 - n) / 12);
  const std::int64_t step = n - 12 * octaves;
  return std::ldexp(kSemitoneRatios[static_cast<std::size_t>(12 - step)], static_cast<int>(-octaves));
}

std::int64_t promised_frames(const SampleRecord& record) {
  const double promised =
      std::trunc(static_cast<double>(record.data_bytes) / record.byte_rate * record.sample_rate);
  return static_cast<std::int64_t>(std::min(promised, kMaxSourceFrames));
}

int sides_of(const SampleRecord& record, bool stereo) { return stereo && record.channels == 2 ? 2 : 1; }

int mix_notes(const SampleRecord& record, double rate, std::int64_t frames, const ChordNotes& chord, double* mix,
              RenderBuffers* buffers, double* mix_right) {
  if (mix_right != nullptr) return scatter<2>(record, rate, frames, chord, buffers, MixSink<2>{{mix, mix_right}});
  return scatter<1>(record, rate, frames, chord, buffers, MixSink<1>{{mix}});
}

std::unique_ptr<std::int16_t[]> slice_of_mix(const double* mix, std::int64_t frames, std::int32_t note_count) {
  auto output = zeroed<std::int16_t>(frames);
  if (!output) return output;
  // Divided by the full note count, also where a copy has ended.
  for (std::int64_t i = 0; i < frames; ++i) output[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(mix[i] / note_count);
  return output;
}

bool attach_mix(SampleRecord& record, const double* mix, std::int64_t frames, std::int32_t note_count) {
  auto output = slice_of_mix(mix, frames, note_count);
  if (!output) return false;
  record.resampled = std::move(output);
  record.resampled_bytes = static_cast<std::int32_t>(2 * frames);
  return true;
}

int render_slice(SampleRecord& record, double rate, std::int32_t frames, const ChordNotes& chord,
                 RenderBuffers* buffers, bool stereo) {
  const int sides = sides_of(record, stereo);
  std::array<std::unique_ptr<std::int16_t[]>, kSides> slices;
  if (chord.note_count == 1) {
    for (std::size_t side = 0; side < static_cast<std::size_t>(sides); ++side) {
      slices[side] = zeroed<std::int16_t>(frames);
      if (!slices[side]) return 0;
    }
    const int error = sides == 2 ? scatter<2>(record, rate, frames, chord, buffers,
                                              SliceSink<2>{{slices[0].get(), slices[1].get()}})
                                 : scatter<1>(record, rate, frames, chord, buffers, SliceSink<1>{{slices[0].get()}});
    if (error != 0) return error;
  } else {
    std::array<std::unique_ptr<double[]>, kSides> mixes;
    for (std::size_t side = 0; side < static_cast<std::size_t>(sides); ++side) {
      mixes[side] = zeroed<double>(frames);
      if (!mixes[side]) return 0;
    }
    if (int error = mix_notes(record, rate, frames, chord, mixes[0].get(), buffers, mixes[1].get())) return error;
    for (std::size_t side = 0; side < static_cast<std::size_t>(sides); ++side) {
      slices[side] = slice_of_mix(mixes[side].get(), frames, chord.note_count);
      if (!slices[side]) return 0;
    }
  }
  record.resampled = std::move(slices[0]);
  record.resampled_right = std::move(slices[1]);
  record.resampled_bytes = 2 * frames;
  return 0;
}

}  // namespace kitweaver
