#include "slice/onset_detector.h"

#include <algorithm>
#include <type_traits>
#include <utility>

#include "slice/sample_decoding.h"

namespace kitweaver {
namespace {

// Blocks kept: the look-back, the guard and the window, the one a block
// number maps to in the ring.
constexpr std::int64_t kKeptBlocks = kLookBackBlocks + kGuardBlocks + kWindowBlocks;
// Blocks whose frames are kept: the guard and the window.
constexpr std::int64_t kSearchBlocks = kGuardBlocks + kWindowBlocks;

double magnitude(double value) { return std::max(value, -value); }

// Block `index`'s figures; silence before the first.
const OnsetBlock& block_at(const OnsetDetector& detector, std::int64_t index) {
  static const OnsetBlock kSilence{};
  if (index < 0) return kSilence;
  return detector.blocks[static_cast<std::size_t>(index % kKeptBlocks)];
}

// The energy of the window of kWindowBlocks blocks from `first` on
// `measure`, less its loudest block's: a click (a cut, a glitch) fills one
// block or two, a hit the whole window.
double window_energy(const OnsetDetector& detector, std::int64_t first, int measure) {
  double sum = 0.0;
  double loudest = 0.0;
  for (std::int64_t b = first; b < first + kWindowBlocks; ++b) {
    const double energy = block_at(detector, b).energy[measure];
    sum += energy;
    loudest = std::max(loudest, energy);
  }
  return sum - loudest;
}

// Where the window from block `first` is kept; the windows before the first
// one heard are silence, and were never written.
std::size_t window_slot(std::int64_t first) {
  return static_cast<std::size_t>((first + kKeptBlocks) % kKeptBlocks);
}

double peak_of(const OnsetDetector& detector, std::int64_t first, std::int64_t end, int measure) {
  double peak = 0.0;
  for (std::int64_t b = first; b < end; ++b) peak = std::max(peak, block_at(detector, b).peak[measure]);
  return peak;
}

// The frames of one call to feed: `mono(i)` is its i-th frame, the
// recording's frame `base + i`: its value, or an integer that times `unit`
// is its value. Frames before it are in the detector's `recent`, which
// keeps the latest values of the calls before.
template <typename Mono>
struct Feed {
  std::int64_t base;
  const Mono& mono;
  double unit;
  static constexpr bool kExact = std::is_integral_v<std::invoke_result_t<Mono, std::size_t>>;
  double value(std::size_t i) const {
    if constexpr (kExact) {
      return static_cast<double>(mono(i)) * unit;
    } else {
      return mono(i);
    }
  }
};

// Frame `f`'s value; silence before the first.
template <typename Mono>
double frame_value(const OnsetDetector& detector, const Feed<Mono>& feed, std::int64_t f) {
  if (f < 0) return 0.0;
  if (f >= feed.base) return feed.value(static_cast<std::size_t>(f - feed.base));
  return detector.recent[static_cast<std::size_t>(f % static_cast<std::int64_t>(detector.recent.size()))];
}

// Frame `f`'s value on `measure`.
template <typename Mono>
double value_at(const OnsetDetector& detector, const Feed<Mono>& feed, std::int64_t f, int measure) {
  const double here = frame_value(detector, feed, f);
  if (measure == 0) return magnitude(here);
  return magnitude(here - frame_value(detector, feed, f - detector.stride));
}

// The first frame from `first` to before `end` whose value on `measure`
// is above `threshold`, or `first` where none is.
template <typename Mono>
std::int64_t first_above(const OnsetDetector& detector, const Feed<Mono>& feed, std::int64_t first,
                         std::int64_t end, int measure, double threshold) {
  for (std::int64_t f = std::max<std::int64_t>(first, 0); f < end; ++f) {
    if (value_at(detector, feed, f, measure) > threshold) return f;
  }
  return std::max<std::int64_t>(first, 0);
}

// Listens for a rise in the window that ends with the block just completed.
template <typename Mono>
void hear_window(OnsetDetector& detector, const Feed<Mono>& feed) {
  const std::int64_t last = detector.blocks_done - 1;
  const std::int64_t first = last - kWindowBlocks + 1;
  const std::int64_t look_end = first - kGuardBlocks;  // the look-back ends before this block
  const std::int64_t look_first = look_end - kLookBackBlocks;
  const double floor =
      kFloorMeanSquare * static_cast<double>((kWindowBlocks - 1) * detector.block_frames / detector.stride);
  const std::int64_t search_first = look_end * detector.block_frames;
  const std::int64_t search_end = detector.blocks_done * detector.block_frames;

  std::array<double, kOnsetMeasures>& heard = detector.windows[window_slot(first)];
  for (int measure = 0; measure < kOnsetMeasures; ++measure)
    heard[measure] = window_energy(detector, first, measure);
  std::int64_t onset = -1;
  for (int measure = 0; measure < kOnsetMeasures; ++measure) {
    const double now = heard[measure];
    if (!(now > floor)) continue;
    // A rise over every window of the look-back: the latest, which is most
    // often as loud, first.
    bool rose = true;
    for (std::int64_t w = look_end - kWindowBlocks; rose && w >= look_first; --w) {
      rose = now > kRiseRatio * detector.windows[window_slot(w)][measure];
    }
    if (!rose) continue;
    const double floor_peak = peak_of(detector, look_first, look_end, measure);
    const double new_peak = peak_of(detector, first, last + 1, measure);
    const std::int64_t frame = new_peak > floor_peak
                                   ? first_above(detector, feed, search_first, search_end, measure,
                                                 floor_peak + (new_peak - floor_peak) * 0.1)
                                   : std::max<std::int64_t>(first * detector.block_frames, 0);
    if (onset < 0 || frame < onset) onset = frame;
  }
  if (onset < 0 || onset - detector.last_onset < detector.minimum_gap) return;
  detector.last_onset = onset;
  detector.onsets.push_back(onset);
}

// Files the block just filled and listens to the window it ends.
template <typename Mono>
void complete_block(OnsetDetector& detector, const Feed<Mono>& feed) {
  // The block's exact sums, if it was fed integers, as values.
  for (int measure = 0; measure < kOnsetMeasures; ++measure) {
    if (detector.exact.energy[measure] == 0 && detector.exact.peak[measure] == 0) continue;
    detector.filling.energy[measure] +=
        static_cast<double>(detector.exact.energy[measure]) * detector.exact.unit * detector.exact.unit;
    detector.filling.peak[measure] = std::max(detector.filling.peak[measure],
                                              static_cast<double>(detector.exact.peak[measure]) * detector.exact.unit);
  }
  detector.exact.energy = {};
  detector.exact.peak = {};
  detector.filled = 0;
  detector.blocks[static_cast<std::size_t>(detector.blocks_done % kKeptBlocks)] = detector.filling;
  detector.filling = OnsetBlock{};
  ++detector.blocks_done;
  hear_window(detector, feed);
}

// Feeds `count` frames, the i-th `mono(i)` (see Feed). Only the frames
// the figures are taken from are asked for (and a rise's, when one is
// heard), so a caller may decode stored frames as they are asked for; what
// is asked for, and the arithmetic on it, does not depend on how the
// recording is cut into calls. Integers are summed exactly, and a block's
// sums become values when it is complete.
template <typename Mono>
void feed_frames(OnsetDetector& detector, std::size_t count, const Mono& mono, double unit = 0.0) {
  constexpr bool kExact = Feed<Mono>::kExact;
  using Figure = std::conditional_t<kExact, std::int64_t, double>;
  const Feed<Mono> feed{detector.frames, mono, unit};
  if constexpr (kExact) detector.exact.unit = unit;
  const auto stride = static_cast<std::size_t>(detector.stride);
  std::size_t done = 0;
  while (done < count) {
    // The frames that go into the block being filled, at most to its end.
    const auto filled = static_cast<std::size_t>(detector.filled);
    const std::size_t run = std::min(static_cast<std::size_t>(detector.block_frames) - filled, count - done);
    // The block's figures, from every stride-th frame of it, taken in
    // order: the same sums however the recording is fed. The slope is the
    // difference from the figure before.
    std::array<Figure, kOnsetMeasures> energy, peak;
    Figure before;
    if constexpr (kExact) {
      energy = detector.exact.energy;
      peak = detector.exact.peak;
      before = detector.exact.before;
    } else {
      energy = detector.filling.energy;
      peak = detector.filling.peak;
      before = detector.before;
    }
    for (std::size_t i = (stride - filled % stride) % stride; i < run; i += stride) {
      const Figure value = mono(done + i);
      const Figure level = std::max(value, -value);
      const Figure difference = value - before;
      const Figure slope = std::max(difference, -difference);
      energy[0] += level * level;
      energy[1] += slope * slope;
      peak[0] = std::max(peak[0], level);
      peak[1] = std::max(peak[1], slope);
      before = value;
    }
    if constexpr (kExact) {
      detector.exact.energy = energy;
      detector.exact.peak = peak;
      detector.exact.before = before;
    } else {
      detector.filling.energy = energy;
      detector.filling.peak = peak;
      detector.before = before;
    }
    detector.frames += static_cast<std::int64_t>(run);
    detector.filled += static_cast<std::int64_t>(run);
    done += run;
    if (detector.filled == detector.block_frames) complete_block(detector, feed);
  }
  // The latest frames, for the calls after: frame n is kept at n % size.
  const std::size_t kept = detector.recent.size();
  for (std::size_t f = count - std::min(count, kept); f < count; ++f) {
    detector.recent[static_cast<std::size_t>((feed.base + static_cast<std::int64_t>(f)) %
                                             static_cast<std::int64_t>(kept))] = feed.value(f);
  }
}

}  // namespace

void start_onsets(OnsetDetector& detector, std::int32_t rate) {
  detector = OnsetDetector{};
  detector.rate = std::max<std::int32_t>(rate, 1);
  detector.block_frames = std::clamp<std::int64_t>((static_cast<std::int64_t>(detector.rate) + 500) / 1000,
                                                   kLeastBlockFrames, kMostBlockFrames);
  detector.minimum_gap =
      std::max<std::int64_t>((static_cast<std::int64_t>(detector.rate) * kMinimumGapMs + 500) / 1000, 1);
  detector.blocks.assign(static_cast<std::size_t>(kKeptBlocks), OnsetBlock{});
  detector.windows.assign(static_cast<std::size_t>(kKeptBlocks), {});
  detector.stride = std::max<std::int64_t>(detector.block_frames / kBlockFigures, 1);
  // The frames a rise's first frame is looked for among, and the stride
  // before them.
  detector.recent.assign(static_cast<std::size_t>(kSearchBlocks * detector.block_frames + detector.stride), 0.0);
}

void feed_onsets(OnsetDetector& detector, const double* mono, std::size_t frames) {
  feed_frames(detector, frames, [mono](std::size_t i) { return mono[i]; });
}

void feed_onset_frames(OnsetDetector& detector, const std::uint8_t* frames, std::size_t count, SampleType type,
                       std::int32_t channels) {
  const auto channel_count = static_cast<std::size_t>(channels);
  with_sample_type(type, [&](auto t) {
    constexpr SampleType kType = decltype(t)::value;
    constexpr std::size_t kWidth = kSampleWidth<kType>;
    const std::size_t step = kWidth * channel_count;
    if constexpr (kFloatSample<kType>) {
      const double share = 1.0 / channels;
      feed_frames(detector, count, [frames, step, channel_count, share](std::size_t i) {
        const std::uint8_t* frame = frames + i * step;
        if (channel_count == 1) return sample_float<kType>(frame);
        if (channel_count == 2) return (sample_float<kType>(frame) + sample_float<kType>(frame + kWidth)) * 0.5;
        double sum = 0.0;
        for (std::size_t c = 0; c < channel_count; ++c) sum += sample_float<kType>(frame + c * kWidth);
        return sum * share;
      });
    } else if (channels <= 2 && kSampleWidth<kType> <= 3) {
      // The integers' sum, summed and squared exactly: times `unit`, it is
      // the mean of the channels' full values (each an integer times a power
      // of two, their sum within 53 bits).
      const double unit = kIntegerScale<kType> * (channels == 1 ? 1.0 : 0.5);
      if (channels == 1) {
        feed_frames(
            detector, count,
            [frames](std::size_t i) { return std::int64_t{sample_integer<kType>(frames + i * kWidth)}; }, unit);
      } else {
        feed_frames(
            detector, count,
            [frames](std::size_t i) {
              const std::uint8_t* frame = frames + i * 2 * kWidth;
              return std::int64_t{sample_integer<kType>(frame)} + sample_integer<kType>(frame + kWidth);
            },
            unit);
      }
    } else {
      const double share = 1.0 / channels;
      feed_frames(detector, count, [frames, step, channel_count, share](std::size_t i) {
        const std::uint8_t* frame = frames + i * step;
        std::int64_t sum = 0;
        for (std::size_t c = 0; c < channel_count; ++c) sum += sample_integer<kType>(frame + c * kWidth);
        return static_cast<double>(sum) * kIntegerScale<kType> * share;
      });
    }
  });
}

std::vector<std::int64_t> finish_onsets(OnsetDetector& detector) {
  // Silence after the end, until every block holding a frame of the
  // recording has begun a window that was heard. The slope is taken as
  // flat across the end: a recording cut off mid-sound is no rise.
  const std::int64_t recorded = detector.frames;
  if (recorded > 0) {
    const std::int64_t last_block = (recorded - 1) / detector.block_frames;
    const std::vector<double> silence(static_cast<std::size_t>(detector.block_frames), 0.0);
    detector.before = 0.0;
    detector.exact.before = 0;
    while (detector.blocks_done < last_block + kWindowBlocks) {
      feed_onsets(detector, silence.data(),
                  static_cast<std::size_t>(detector.block_frames - detector.filled));
    }
  }
  std::vector<std::int64_t> onsets = std::move(detector.onsets);
  while (!onsets.empty() && onsets.back() >= recorded) onsets.pop_back();
  detector = OnsetDetector{};
  return onsets;
}

}  // namespace kitweaver
