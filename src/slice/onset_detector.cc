#include "slice/onset_detector.h"

#include <algorithm>
#include <utility>

namespace kitweaver {
namespace {

// Blocks kept: the look-back, the guard and the window, the one a block
// number maps to in the ring.
constexpr std::int64_t kKeptBlocks = kLookBackBlocks + kGuardBlocks + kWindowBlocks;
// Blocks whose frames are kept: the guard and the window.
constexpr std::int64_t kSearchBlocks = kGuardBlocks + kWindowBlocks;

double magnitude(double value) { return value < 0.0 ? -value : value; }

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

// Frame `f`'s value on `measure`, from the frames kept; silence before the
// first.
double value_at(const OnsetDetector& detector, std::int64_t f, int measure) {
  const auto kept = static_cast<std::int64_t>(detector.recent.size());
  const double here = f < 0 ? 0.0 : detector.recent[static_cast<std::size_t>(f % kept)];
  if (measure == 0) return magnitude(here);
  const double before = f < 1 ? 0.0 : detector.recent[static_cast<std::size_t>((f - 1) % kept)];
  return magnitude(here - before);
}

// The first frame from `first` to before `end` whose value on `measure`
// is above `threshold`, or `first` where none is.
std::int64_t first_above(const OnsetDetector& detector, std::int64_t first, std::int64_t end, int measure,
                         double threshold) {
  for (std::int64_t f = std::max<std::int64_t>(first, 0); f < end; ++f) {
    if (value_at(detector, f, measure) > threshold) return f;
  }
  return std::max<std::int64_t>(first, 0);
}

// Listens for a rise in the window that ends with the block just completed.
void hear_window(OnsetDetector& detector) {
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
                                   ? first_above(detector, search_first, search_end, measure,
                                                 floor_peak + (new_peak - floor_peak) * 0.1)
                                   : std::max<std::int64_t>(first * detector.block_frames, 0);
    if (onset < 0 || frame < onset) onset = frame;
  }
  if (onset < 0 || onset - detector.last_onset < detector.minimum_gap) return;
  detector.last_onset = onset;
  detector.onsets.push_back(onset);
}

// Files the block just filled and listens to the window it ends.
void complete_block(OnsetDetector& detector) {
  detector.filled = 0;
  detector.blocks[static_cast<std::size_t>(detector.blocks_done % kKeptBlocks)] = detector.filling;
  detector.filling = OnsetBlock{};
  ++detector.blocks_done;
  hear_window(detector);
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
  // The frames a rise's first frame is looked for among, and the one before.
  detector.recent.assign(static_cast<std::size_t>(kSearchBlocks * detector.block_frames + 1), 0.0);
}

void feed_onsets(OnsetDetector& detector, const double* mono, std::size_t frames) {
  OnsetBlock& block = detector.filling;
  double* recent = detector.recent.data();
  const std::size_t kept = detector.recent.size();
  const auto stride = static_cast<std::size_t>(detector.stride);
  while (frames > 0) {
    // The frames that go into the block being filled, at most to its end.
    const auto filled = static_cast<std::size_t>(detector.filled);
    const std::size_t run = std::min(static_cast<std::size_t>(detector.block_frames) - filled, frames);
    const std::size_t to_wrap = std::min(run, kept - detector.recent_next);
    std::copy(mono, mono + to_wrap, recent + detector.recent_next);
    std::copy(mono + to_wrap, mono + run, recent);
    // The block's figures, from every stride-th frame of it, taken in
    // order: the same sums however the recording is fed.
    std::array<double, kOnsetMeasures> energy = block.energy;
    std::array<double, kOnsetMeasures> peak = block.peak;
    const auto take = [&](double value, double before) {
      const double level = magnitude(value);
      const double slope = magnitude(value - before);
      energy[0] += level * level;
      energy[1] += slope * slope;
      peak[0] = std::max(peak[0], level);
      peak[1] = std::max(peak[1], slope);
    };
    std::size_t i = (stride - filled % stride) % stride;
    if (i == 0) {
      take(mono[0], detector.previous);
      i = stride;
    }
    for (; i < run; i += stride) take(mono[i], mono[i - 1]);
    block.energy = energy;
    block.peak = peak;
    detector.previous = mono[run - 1];
    detector.recent_next = (detector.recent_next + run) % kept;
    detector.frames += static_cast<std::int64_t>(run);
    detector.filled += static_cast<std::int64_t>(run);
    mono += run;
    frames -= run;
    if (detector.filled == detector.block_frames) complete_block(detector);
  }
}

std::vector<std::int64_t> finish_onsets(OnsetDetector& detector) {
  // Silence after the end, until every block holding a frame of the
  // recording has begun a window that was heard. The slope is taken as
  // flat across the end: a recording cut off mid-sound is no rise.
  const std::int64_t recorded = detector.frames;
  if (recorded > 0) {
    const std::int64_t last_block = (recorded - 1) / detector.block_frames;
    const std::vector<double> silence(static_cast<std::size_t>(detector.block_frames), 0.0);
    detector.previous = 0.0;
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
