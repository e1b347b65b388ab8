// Kitweaver's own band-limited resampler, written for one job: a mono stream
// resampled from its rate S to one to four rates T (the notes of a chord),
// kept flat to 0.9 of each new Nyquist frequency, with everything above 1.1 of
// it held 120 dB down (a full-scale tone folds back far below half a 16-bit
// step), and rounded to 16 bits by the caller.
//
// Why this shape
// - The planner's ratios run from the decimations a long kit needs (96 kHz to
//   2756 Hz is 35 times) to the upsampling of chord copies and low-rate
//   sources (a header may declare 1 Hz). A single polyphase filter for a
//   large decimation would need hundreds of taps per output frame, so the
//   stream is first halved by half-band stages, each as short as its wide
//   transition allows (5 pairs of taps at the top), while it stays at 2.8 T or
//   above. One fractional stage then takes it to 2T exactly, with a
//   transition band about T wide (16 to 24 taps per frame), and one sharp
//   half-band stage takes 2T to T (40 pairs of taps). A source below 1.1 T is
//   interpolated with its own band kept (and below 0.82 T straight to T).
// - The halvings depend on the highest note that reads them, so the notes of
//   a chord share them; each note adds only its fractional and last stages.
// - Every filter is a Kaiser-windowed sinc, centred: output frame 0 lies on
//   source frame 0 and no delay is left in. The signal is taken as silence
//   before its first frame and after its last.
// - The same bytes on every machine. Single precision throughout the signal
//   path (16-bit output leaves it 40 dB of room), every sum in an order fixed
//   by the source: the loops keep several output frames, or several partial
//   sums of one frame, in vector lanes, and each lane's sum runs in the order
//   the scalar code would run it. The filter coefficients come from sin_pi
//   and bessel_i0 below, built from additions, multiplications, divisions and
//   square roots only, never from the C library's transcendental functions,
//   which differ in the last bit from one library to another. The build turns
//   off fused multiply-add (-ffp-contract=off).
// - Memory is a few blocks per stage and one phase table per note
//   ((kPhases + 1) x 24 floats at most where it decimates, 80 where it
//   upsamples), whatever the ratio; time is proportional to the frames read
//   and written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace kitweaver {

using Sample = float;

// The design: passband to kPassEdge and stopband from kStopEdge of the
// output rate T (0.9 and 1.1 of its Nyquist frequency), kStopbandDb down.
inline constexpr double kPassEdge = 0.45;
inline constexpr double kStopEdge = 0.55;
inline constexpr double kStopbandDb = 120.0;
// Rows of a fractional stage's phase table; a phase between two rows is
// interpolated linearly between their outputs.
inline constexpr int kPhases = 1024;

// A value in [-1, 1) as a 16-bit sample: rounded to nearest (halves away
// from zero, as std::round, without a call: the remainder of a truncation
// within 16 bits is exact) and clamped.
inline std::int16_t to_pcm16(double value) {
  const double scaled = value * 32768.0;
  if (!(scaled > -32768.0)) return -32768;  // also not a number
  if (scaled >= 32767.0) return 32767;
  auto whole = static_cast<std::int32_t>(scaled);
  const double rest = scaled - whole;
  if (rest >= 0.5) {
    ++whole;
  } else if (rest <= -0.5) {
    --whole;
  }
  return static_cast<std::int16_t>(whole);
}

// sin(pi x) and the modified Bessel function I0, in fixed arithmetic.
double sin_pi(double x);
double bessel_i0(double x);

// A run of samples that grows at its end and is let go from its front,
// without zeroing what it adds (every sample added is written at once).
struct SampleRun {
  std::unique_ptr<Sample[]> data;
  std::size_t begin = 0, end = 0, capacity = 0;

  Sample* values() const { return data.get() + begin; }
  std::size_t size() const { return end - begin; }
  void clear() { begin = end = 0; }
};

// Room for `count` more samples at the end of `run`; returns where they go.
Sample* extend(SampleRun& run, std::size_t count);

// A half-band stage: R to R/2. Output m is input frame 2m filtered; the input
// is held as even and odd frames apart, so that neighbouring outputs read
// neighbouring values.
struct HalfBandStage {
  std::vector<Sample> taps;  // h(1), h(3), ... h(2K - 1); h(0) is 1/2
  SampleRun even;            // input frame 2 (first_pair + i)
  SampleRun odd;             // input frame 2 (first_pair + i) + 1
  std::int64_t first_pair = 0;
  std::int64_t received = 0;  // input frames so far
  std::int64_t next = 0;      // the next output frame
};

// A fractional stage: R to R' through a table of the filter at kPhases + 1
// phases between two input frames.
struct FractionalStage {
  double pass = 0, stop = 0; // the design, as fractions of the input rate
  int taps = 0;              // per output frame, a multiple of 4
  std::vector<Sample> table; // row p: the taps for the phase p / kPhases
  double step = 0;           // input frames per output frame
  SampleRun input;           // input frame first + i
  std::int64_t first = 0;
  std::int64_t received = 0;
  std::int64_t next = 0;
};

// One note: from its level of the shared halvings to its rate.
struct NoteChain {
  int level = 0;             // the halvings it takes its input from
  bool copy = false;         // the rate is the source's: the source itself
  bool fractional = false;   // has a fractional stage (else the level is 2T)
  bool last_half = false;    // has the last half-band stage (else it is T)
  FractionalStage resample;
  HalfBandStage half;
  std::int64_t wanted = 0;   // output frames still wanted
  SampleRun made;            // its output from the latest block
  SampleRun between;         // the fractional stage's, on its way to the last
};

struct SincResampler {
  double source_rate = 0;
  std::vector<HalfBandStage> levels;  // levels[k] makes level k + 1
  std::vector<NoteChain> notes;
  std::vector<SampleRun> level_out;   // each level's output from the latest block
};

// Sets `resampler` up for `count` notes at `rates`, from `source_rate`, each
// note wanting at most `wanted[j]` output frames. False when a rate is not a
// positive finite number.
bool start_resampler(SincResampler& resampler, double source_rate, const double* rates, const std::int64_t* wanted,
                     int count);

// Hands the next `count` source values to every note (none, to end the
// source: the rest of every note is made from silence). Each note's new
// output is then in notes[j].made.
void push_source(SincResampler& resampler, const Sample* values, std::size_t count);
void end_source(SincResampler& resampler);

// True when every note has made all the frames it wants.
bool resampler_done(const SincResampler& resampler);

// One stream at once: `in` at `from` Hz to `to` Hz, output frame 0 on input
// frame 0, as many output frames as the input lasts. False for a rate that
// is not a positive finite number.
bool resample_all(const std::vector<Sample>& in, double from, double to, std::vector<Sample>* out);

}  // namespace kitweaver
