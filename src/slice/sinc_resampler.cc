#include "slice/sinc_resampler.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

namespace kitweaver {
namespace {

constexpr double kPi = 3.141592653589793;

// Kaiser's window for kStopbandDb: its shape, and the taps a transition band
// of `width` (a fraction of the input rate) takes: (A - 7.95) / (14.36 width).
constexpr double kKaiserBeta = 0.1102 * (kStopbandDb - 8.7);
double kaiser_span(double width) { return (kStopbandDb - 7.95) / (14.357 * width); }

// The window at t, for a filter reaching from -half to +half.
double kaiser(double t, double half) {
  static const double kScale = 1.0 / bessel_i0(kKaiserBeta);
  const double r = t / half;
  if (!(r > -1.0 && r < 1.0)) return 0.0;
  return bessel_i0(kKaiserBeta * std::sqrt(1.0 - r * r)) * kScale;
}

// sin(pi u) / (pi u).
double sinc(double u) { return u == 0.0 ? 1.0 : sin_pi(u) / (kPi * u); }

// Four samples side by side. Operations act lane by lane, each exactly as on
// one sample, whether the target has vector instructions or not.
using Lanes = Sample __attribute__((vector_size(4 * sizeof(Sample))));
Lanes load(const Sample* p) {
  Lanes v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
void store(Sample* p, Lanes v) { std::memcpy(p, &v, sizeof v); }
Lanes splat(Sample x) { return Lanes{x, x, x, x}; }

// A note's stream is halved while it is at least this many times its rate.
constexpr double kHalvingRatio = 2.8;

// Once the consumed front of a stage's input is this long, it is let go.
constexpr std::size_t kTrimFrames = 4096;

void drop_front(SampleRun& run, std::size_t count) { run.begin += std::min(count, run.size()); }

// Appends `count` zeros: the silence before or after the signal.
void append_zeros(SampleRun& run, std::size_t count) { std::fill_n(extend(run, count), count, Sample{0}); }

// ---- Half-band stages ----

// Pairs of taps for a half-band stage flat to `pass` (a fraction of its
// input rate, below 1/4) and stopped from 1/2 - pass. The odd taps are
// scaled so that the gain at 0 Hz is exactly 1.
std::vector<Sample> design_half_band(double pass) {
  const double width = 0.5 - 2.0 * pass;
  const int pairs = std::max(1, static_cast<int>(std::ceil(kaiser_span(width) / 4.0)));
  std::vector<double> h(static_cast<std::size_t>(pairs));
  double sum = 0;
  for (int i = 1; i <= pairs; ++i) {
    const double n = 2.0 * i - 1.0;
    const double ideal = ((i & 1) != 0 ? 1.0 : -1.0) / (kPi * n);
    h[static_cast<std::size_t>(i - 1)] = ideal * kaiser(n, 2.0 * pairs);
    sum += h[static_cast<std::size_t>(i - 1)];
  }
  std::vector<Sample> taps(h.size());
  for (std::size_t i = 0; i < h.size(); ++i) taps[i] = static_cast<Sample>(h[i] * (0.25 / sum));
  return taps;
}

void start_half_band(HalfBandStage& stage, std::vector<Sample> taps) {
  const auto pairs = static_cast<std::size_t>(taps.size());
  stage.taps = std::move(taps);
  // The pairs before the signal are silence.
  stage.even.clear();
  stage.odd.clear();
  append_zeros(stage.even, pairs);
  append_zeros(stage.odd, pairs);
  stage.first_pair = -static_cast<std::int64_t>(pairs);
  stage.received = 0;
  stage.next = 0;
}

void half_band_push(HalfBandStage& stage, const Sample* values, std::size_t count) {
  std::size_t i = 0;
  if (count > 0 && (stage.received & 1) != 0) *extend(stage.odd, 1) = values[i++];
  const std::size_t pairs = (count - i) / 2;
  const bool single = ((count - i) & 1) != 0;
  Sample* even = extend(stage.even, pairs + (single ? 1 : 0));
  Sample* odd = extend(stage.odd, pairs);
  for (std::size_t p = 0; p < pairs; ++p) {
    even[p] = values[i + 2 * p];
    odd[p] = values[i + 2 * p + 1];
  }
  if (single) even[pairs] = values[count - 1];
  stage.received += static_cast<std::int64_t>(count);
}

// Output frame m: e[m] / 2 + the sum over i of h(2i - 1) (o[m - i] + o[m + i - 1]),
// with e and o the even and odd input frames. Sixteen frames at a time, in
// four vectors, each lane summed in the same order as a frame alone.
void half_band_run(const HalfBandStage& stage, std::int64_t from, std::int64_t to, Sample* out) {
  const auto pairs = static_cast<std::int64_t>(stage.taps.size());
  const Sample* h = stage.taps.data();
  const Sample* e = stage.even.values() + (from - stage.first_pair);
  const Sample* o = stage.odd.values() + (from - stage.first_pair);
  const std::int64_t count = to - from;
  const Lanes half = splat(0.5f);
  std::int64_t j = 0;
  for (; j + 16 <= count; j += 16) {
    Lanes a = half * load(e + j), b = half * load(e + j + 4), c = half * load(e + j + 8), d = half * load(e + j + 12);
    for (std::int64_t i = 1; i <= pairs; ++i) {
      const Lanes tap = splat(h[i - 1]);
      const Sample* left = o + j - i;
      const Sample* right = o + j + i - 1;
      a += tap * (load(left) + load(right));
      b += tap * (load(left + 4) + load(right + 4));
      c += tap * (load(left + 8) + load(right + 8));
      d += tap * (load(left + 12) + load(right + 12));
    }
    store(out + j, a);
    store(out + j + 4, b);
    store(out + j + 8, c);
    store(out + j + 12, d);
  }
  for (; j < count; ++j) {
    Sample acc = Sample{0.5} * e[j];
    for (std::int64_t i = 1; i <= pairs; ++i) acc += h[i - 1] * (o[j - i] + o[j + i - 1]);
    out[j] = acc;
  }
}

// Makes every output frame the input received so far allows (with `ending`,
// every one up to the end of the input, the rest taken as silence), at most
// `limit`; appends them to `out`.
void half_band_make(HalfBandStage& stage, bool ending, std::int64_t limit, SampleRun& out) {
  const auto pairs = static_cast<std::int64_t>(stage.taps.size());
  // Output m needs odd frames up to pair m + pairs - 1.
  std::int64_t end = stage.first_pair + static_cast<std::int64_t>(stage.odd.size()) - pairs + 1;
  if (ending) {
    end = (stage.received + 1) / 2;
    const std::int64_t need = end - 1 + pairs - stage.first_pair;
    for (SampleRun* plane : {&stage.even, &stage.odd}) {
      const auto size = static_cast<std::int64_t>(plane->size());
      if (size < need) append_zeros(*plane, static_cast<std::size_t>(need - size));
    }
  }
  if (end - stage.next > limit) end = stage.next + std::max<std::int64_t>(limit, 0);
  if (end > stage.next) {
    half_band_run(stage, stage.next, end, extend(out, static_cast<std::size_t>(end - stage.next)));
    stage.next = end;
  }
  const auto spent = static_cast<std::size_t>(std::max<std::int64_t>(0, stage.next - pairs - stage.first_pair));
  if (spent >= kTrimFrames) {
    drop_front(stage.even, spent);
    drop_front(stage.odd, spent);
    stage.first_pair += static_cast<std::int64_t>(spent);
  }
}

// ---- Fractional stages ----

// The phase table of a low-pass filter flat to `pass` and stopped from
// `stop` (fractions of the input rate): row p holds, for k = 0 .. taps - 1,
// the filter at p / kPhases + taps / 2 - 1 - k input frames, each row scaled
// to a gain of exactly 1 at 0 Hz. The filter is even, so it is evaluated once
// at every multiple of 1 / kPhases from 0 to taps / 2. A stage that already
// holds the same design keeps it.
void design_fractional(FractionalStage& stage, double pass, double stop) {
  if (stage.pass == pass && stage.stop == stop && !stage.table.empty()) return;
  const int taps = 4 * std::max(1, static_cast<int>(std::ceil(kaiser_span(stop - pass) / 4.0)));
  const double cutoff = pass + stop;  // twice the cut-off frequency
  const double half = taps / 2.0;
  const std::size_t grid_size = static_cast<std::size_t>(taps / 2) * kPhases + 1;
  std::vector<double> grid(grid_size);
  for (std::size_t j = 0; j < grid_size; ++j) {
    const double t = static_cast<double>(j) / kPhases;
    grid[j] = cutoff * sinc(cutoff * t) * kaiser(t, half);
  }
  stage.pass = pass;
  stage.stop = stop;
  stage.taps = taps;
  stage.table.assign(static_cast<std::size_t>(kPhases + 1) * static_cast<std::size_t>(taps), Sample{0});
  std::vector<double> row(static_cast<std::size_t>(taps));
  for (int p = 0; p <= kPhases; ++p) {
    double sum = 0;
    for (int k = 0; k < taps; ++k) {
      // t = p / kPhases + half - 1 - k, in steps of 1 / kPhases.
      const std::int64_t j = std::abs(static_cast<std::int64_t>(p) + (taps / 2 - 1 - k) * std::int64_t{kPhases});
      row[static_cast<std::size_t>(k)] = static_cast<std::size_t>(j) < grid_size ? grid[static_cast<std::size_t>(j)] : 0.0;
      sum += row[static_cast<std::size_t>(k)];
    }
    Sample* out = stage.table.data() + static_cast<std::size_t>(p) * static_cast<std::size_t>(taps);
    for (int k = 0; k < taps; ++k) out[k] = static_cast<Sample>(row[static_cast<std::size_t>(k)] / sum);
  }
}

void start_fractional(FractionalStage& stage, double step) {
  stage.step = step;
  // Output 0 reads input frames 1 - taps / 2 to taps / 2; those before 0 are silence.
  const int before = stage.taps / 2 - 1;
  stage.input.clear();
  append_zeros(stage.input, static_cast<std::size_t>(before));
  stage.first = -before;
  stage.received = 0;
  stage.next = 0;
}

void fractional_push(FractionalStage& stage, const Sample* values, std::size_t count) {
  std::copy_n(values, count, extend(stage.input, count));
  stage.received += static_cast<std::int64_t>(count);
}

// Output frame i lies at input frame i x step, between two rows of the
// table, whose outputs are interpolated. Each row's output is kept as four
// partial sums (sum l takes the taps k = l mod 4); the sums are interpolated
// and then added in a fixed order. Two frames are made at once, so that four
// sums run side by side.
struct FrameTaps {
  const Sample* row;   // the row below the phase; the one above follows it
  const Sample* input; // the input under tap 0
  Sample weight;       // of the row above
};

Sample finish_frame(Lanes below, Lanes above, Sample weight) {
  const Lanes y = below + splat(weight) * (above - below);
  return (y[0] + y[1]) + (y[2] + y[3]);
}

FrameTaps frame_taps(const FractionalStage& stage, std::int64_t i, std::int64_t first_tap) {
  const double x = static_cast<double>(i) * stage.step;
  const auto base = static_cast<std::int64_t>(x);
  const double u = (x - static_cast<double>(base)) * kPhases;
  const auto p = static_cast<int>(u);
  return {stage.table.data() + static_cast<std::size_t>(p) * static_cast<std::size_t>(stage.taps),
          stage.input.values() + (base - first_tap), static_cast<Sample>(u - p)};
}

void fractional_run(const FractionalStage& stage, std::int64_t from, std::int64_t to, Sample* out) {
  const int taps = stage.taps;
  const std::int64_t first_tap = stage.first + (taps / 2 - 1);  // of output frame 0
  std::int64_t i = from;
  for (; i + 2 <= to; i += 2) {
    const FrameTaps f = frame_taps(stage, i, first_tap), g = frame_taps(stage, i + 1, first_tap);
    Lanes fa = splat(0.0f), fb = fa, ga = fa, gb = fa;
    for (int k = 0; k < taps; k += 4) {
      const Lanes fx = load(f.input + k), gx = load(g.input + k);
      fa += load(f.row + k) * fx;
      fb += load(f.row + taps + k) * fx;
      ga += load(g.row + k) * gx;
      gb += load(g.row + taps + k) * gx;
    }
    out[i - from] = finish_frame(fa, fb, f.weight);
    out[i + 1 - from] = finish_frame(ga, gb, g.weight);
  }
  for (; i < to; ++i) {
    const FrameTaps f = frame_taps(stage, i, first_tap);
    Lanes fa = splat(0.0f), fb = fa;
    for (int k = 0; k < taps; k += 4) {
      const Lanes fx = load(f.input + k);
      fa += load(f.row + k) * fx;
      fb += load(f.row + taps + k) * fx;
    }
    out[i - from] = finish_frame(fa, fb, f.weight);
  }
}

void fractional_make(FractionalStage& stage, bool ending, std::int64_t limit, SampleRun& out) {
  const std::int64_t half = stage.taps / 2;
  const auto held = [&stage] { return stage.first + static_cast<std::int64_t>(stage.input.size()); };
  // Output i needs input frames up to floor(i step) + half; the first output
  // that can't be made yet is found by stepping down from an estimate.
  std::int64_t end = 0;
  if (ending) {
    end = static_cast<std::int64_t>(std::ceil(static_cast<double>(stage.received) / stage.step));
    while (end > 0 && !(static_cast<double>(end - 1) * stage.step < static_cast<double>(stage.received))) --end;
    while (static_cast<double>(end) * stage.step < static_cast<double>(stage.received)) ++end;
  } else {
    end = static_cast<std::int64_t>(static_cast<double>(held() - half) / stage.step) + 1;
    while (end > 0 && static_cast<std::int64_t>(static_cast<double>(end - 1) * stage.step) + half >= held()) --end;
    while (static_cast<std::int64_t>(static_cast<double>(end) * stage.step) + half < held()) ++end;
  }
  if (end - stage.next > limit) end = stage.next + std::max<std::int64_t>(limit, 0);
  if (end > stage.next) {
    if (ending) {
      const std::int64_t need = static_cast<std::int64_t>(static_cast<double>(end - 1) * stage.step) + half + 1;
      if (need > held()) append_zeros(stage.input, static_cast<std::size_t>(need - held()));
    }
    fractional_run(stage, stage.next, end, extend(out, static_cast<std::size_t>(end - stage.next)));
    stage.next = end;
  }
  const std::int64_t spent =
      static_cast<std::int64_t>(static_cast<double>(stage.next) * stage.step) - half + 1 - stage.first;
  if (spent >= static_cast<std::int64_t>(kTrimFrames)) {
    drop_front(stage.input, static_cast<std::size_t>(spent));
    stage.first += spent;
  }
}

// ---- Notes ----

// How far each stage of a note may run ahead of what the note still wants:
// the last half-band stage reads 2 pairs-of-taps frames beyond its output.
std::int64_t fractional_limit(const NoteChain& note) {
  if (!note.last_half) return note.wanted;
  const auto ahead = 2 * static_cast<std::int64_t>(note.half.taps.size()) + 2;
  return std::max<std::int64_t>(0, 2 * (note.half.next + note.wanted) + ahead - note.resample.next);
}

// Runs a note's own stages on `values`, its level's newest output; the
// note's new frames land in note.made.
void run_note(NoteChain& note, const Sample* values, std::size_t count, bool ending) {
  note.made.clear();
  if (note.wanted <= 0) return;
  const Sample* in = values;
  std::size_t in_count = count;
  if (note.fractional) {
    fractional_push(note.resample, in, in_count);
    note.between.clear();
    fractional_make(note.resample, ending, fractional_limit(note), note.between);
    in = note.between.values();
    in_count = note.between.size();
  }
  if (note.last_half) {
    half_band_push(note.half, in, in_count);
    half_band_make(note.half, ending, note.wanted, note.made);
  } else {
    const std::size_t kept = std::min<std::size_t>(in_count, static_cast<std::size_t>(note.wanted));
    std::copy_n(in, kept, extend(note.made, kept));
  }
  note.wanted -= static_cast<std::int64_t>(note.made.size());
}

void set_up_note(NoteChain& note, double source_rate, double rate) {
  note.level = 0;
  note.fractional = false;
  note.last_half = false;
  note.made.clear();
  note.copy = rate == source_rate;
  if (note.copy) return;
  // Halve while the stream stays at 2.8 T or above: the fractional stage
  // then takes the fewest taps (they grow as R / T above 1.9 T, and as
  // R / (R - 0.9 T) below it).
  double level_rate = source_rate;
  while (level_rate >= kHalvingRatio * rate) {
    level_rate *= 0.5;
    ++note.level;
  }
  double pass = kPassEdge * rate, stop = 0;
  double to = 2.0 * rate;
  if (level_rate >= 2.0 * kStopEdge * rate) {
    // What it makes between 0.55 T and 1.45 T, the last stage removes; when
    // it upsamples, the images of the passband must go too.
    stop = std::min(to - kStopEdge * rate, level_rate - pass);
  } else {
    // A source below 1.1 T: its own band, its images removed.
    pass = kPassEdge * level_rate;
    stop = kStopEdge * level_rate;
    if (stop <= kPassEdge * rate) to = rate;
  }
  note.fractional = level_rate != to;
  if (note.fractional) {
    design_fractional(note.resample, pass / level_rate, stop / level_rate);
    start_fractional(note.resample, level_rate / to);
  }
  note.last_half = to != rate;
  if (note.last_half) start_half_band(note.half, design_half_band(kPassEdge / 2.0));
}

}  // namespace

double sin_pi(double x) {
  // To [-1, 1), then to [-1/2, 1/2] by sin(pi (1 - r)) = sin(pi r).
  double r = x - 2.0 * std::floor(x * 0.5 + 0.5);
  if (r > 0.5) r = 1.0 - r;
  if (r < -0.5) r = -1.0 - r;
  const double s = kPi * r;
  const double s2 = s * s;
  double term = s, sum = s;
  for (int k = 1; k <= 12; ++k) {
    term = term * -s2 / static_cast<double>((2 * k) * (2 * k + 1));
    sum += term;
  }
  return sum;
}

Sample* extend(SampleRun& run, std::size_t count) {
  if (run.end + count > run.capacity) {
    const std::size_t live = run.size();
    if (live + count <= run.capacity / 2) {
      std::copy_n(run.values(), live, run.data.get());
    } else {
      const std::size_t capacity = std::max<std::size_t>(2 * (live + count), 1024);
      std::unique_ptr<Sample[]> grown(new Sample[capacity]);  // not zeroed: every sample is written before it is read
      std::copy_n(run.values(), live, grown.get());
      run.data = std::move(grown);
      run.capacity = capacity;
    }
    run.begin = 0;
    run.end = live;
  }
  Sample* at = run.data.get() + run.end;
  run.end += count;
  return at;
}

double bessel_i0(double x) {
  // The sum over k of ((x / 2)^k / k!)^2. Up to the window's largest argument
  // the terms fall below the sum's last bit before k = 64; 1 / k^2 is taken
  // from a table, as a division costs more than the rest of a term.
  constexpr int kTerms = 64;
  static const std::array<double, kTerms> kInverseSquares = [] {
    std::array<double, kTerms> inverse{};
    for (int k = 1; k < kTerms; ++k) inverse[static_cast<std::size_t>(k)] = 1.0 / static_cast<double>(k * k);
    return inverse;
  }();
  const double q = x * x * 0.25;
  double term = 1.0, sum = 1.0;
  for (int k = 1; k < kTerms && term > sum * 1e-17; ++k) {
    term = term * q * kInverseSquares[static_cast<std::size_t>(k)];
    sum += term;
  }
  return sum;
}

bool start_resampler(SincResampler& resampler, double source_rate, const double* rates, const std::int64_t* wanted,
                     int count) {
  if (!(source_rate > 0 && source_rate <= std::numeric_limits<double>::max())) return false;
  resampler.source_rate = source_rate;
  // Notes keep their phase tables from one slot to the next: the next slot
  // often asks for the same designs.
  resampler.notes.resize(static_cast<std::size_t>(count));
  int levels = 0;
  for (int j = 0; j < count; ++j) {
    if (!(rates[j] > 0 && rates[j] <= std::numeric_limits<double>::max())) return false;
    NoteChain& note = resampler.notes[static_cast<std::size_t>(j)];
    set_up_note(note, source_rate, rates[j]);
    note.wanted = wanted[j];
    levels = std::max(levels, note.level);
  }
  // Level k keeps the band of the highest note that reads it or a deeper level.
  resampler.levels.resize(static_cast<std::size_t>(levels));
  resampler.level_out.resize(static_cast<std::size_t>(levels) + 1);
  double level_rate = source_rate;
  for (int k = 1; k <= levels; ++k) {
    double highest = 0;
    for (int j = 0; j < count; ++j) {
      if (resampler.notes[static_cast<std::size_t>(j)].level >= k) highest = std::max(highest, rates[j]);
    }
    start_half_band(resampler.levels[static_cast<std::size_t>(k - 1)], design_half_band(kStopEdge * highest / level_rate));
    level_rate *= 0.5;
  }
  return true;
}

namespace {

void run_source(SincResampler& resampler, const Sample* values, std::size_t count, bool ending) {
  // The deepest level a note that still wants frames reads.
  int deepest = -1;
  for (const NoteChain& note : resampler.notes) {
    if (note.wanted > 0) deepest = std::max(deepest, note.level);
  }
  for (int k = 1; k <= deepest; ++k) {
    HalfBandStage& stage = resampler.levels[static_cast<std::size_t>(k - 1)];
    const SampleRun& in = resampler.level_out[static_cast<std::size_t>(k - 1)];
    half_band_push(stage, k == 1 ? values : in.values(), k == 1 ? count : in.size());
    SampleRun& out = resampler.level_out[static_cast<std::size_t>(k)];
    out.clear();
    half_band_make(stage, ending, std::numeric_limits<std::int64_t>::max(), out);
  }
  for (NoteChain& note : resampler.notes) {
    if (note.level == 0) {
      run_note(note, values, count, ending);
    } else {
      const SampleRun& in = resampler.level_out[static_cast<std::size_t>(note.level)];
      run_note(note, in.values(), in.size(), ending);
    }
  }
}

}  // namespace

void push_source(SincResampler& resampler, const Sample* values, std::size_t count) {
  run_source(resampler, values, count, false);
}

void end_source(SincResampler& resampler) { run_source(resampler, nullptr, 0, true); }

bool resampler_done(const SincResampler& resampler) {
  return std::all_of(resampler.notes.begin(), resampler.notes.end(), [](const NoteChain& n) { return n.wanted <= 0; });
}

bool resample_all(const std::vector<Sample>& in, double from, double to, std::vector<Sample>* out) {
  SincResampler resampler;
  const std::int64_t unlimited = std::numeric_limits<std::int64_t>::max() / 4;
  if (!start_resampler(resampler, from, &to, &unlimited, 1)) return false;
  out->clear();
  constexpr std::size_t kBlock = 4096;
  for (std::size_t at = 0; at < in.size(); at += kBlock) {
    push_source(resampler, in.data() + at, std::min(kBlock, in.size() - at));
    const SampleRun& made = resampler.notes[0].made;
    out->insert(out->end(), made.values(), made.values() + made.size());
  }
  end_source(resampler);
  const SampleRun& made = resampler.notes[0].made;
  out->insert(out->end(), made.values(), made.values() + made.size());
  return true;
}

}  // namespace kitweaver
