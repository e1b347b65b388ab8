// Recordings of drum-shaped hits at known times, written sample by sample,
// for the onset detector's tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace kitweaver::testing {

enum class Hit { kick, snare, hat, cymbal, tone, hum, hiss };

struct HitAt {
  Hit hit;
  double ms;           // where it starts
  double gain = 0.8;   // its peak, about
};

struct OnsetKit {
  std::string name;
  std::int32_t rate;
  std::vector<HitAt> hits;
  std::vector<double> onsets_ms;  // the onsets the detector should report
};

// A fixed-seed generator: white noise in [-1, 1).
struct Noise {
  std::uint32_t state = 0x9E3779B9u;
  double next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return static_cast<double>(state) / 2147483648.0 - 1.0;
  }
};

inline constexpr double kTwoPi = 6.283185307179586;

// Adds `hit` into `out` from frame `start`: its tail runs on over whatever
// is there.
inline void add_hit(std::vector<double>& out, const HitAt& hit, std::int32_t rate, Noise& noise) {
  const double seconds[] = {0.4, 0.3, 0.03, 2.5, 1.5, 1.5, 3.0};
  const auto start = static_cast<std::int64_t>(hit.ms * rate / 1000.0 + 0.5);
  const auto frames = static_cast<std::int64_t>(seconds[static_cast<int>(hit.hit)] * rate);
  const auto end = static_cast<std::size_t>(start + frames);
  if (out.size() < end) out.resize(end);
  double phase = 0.0;
  double last_noise = 0.0;
  for (std::int64_t n = 0; n < frames; ++n) {
    const double t = static_cast<double>(n) / rate;
    const double white = noise.next();
    const double bright = (white - last_noise) * 0.5;  // high-passed
    last_noise = white;
    double value = 0.0;
    switch (hit.hit) {
      case Hit::kick:  // a sine falling from 160 Hz to 50 Hz
        value = std::sin(phase) * std::exp(-t / 0.15);
        phase += kTwoPi * (50.0 + 110.0 * std::exp(-t / 0.025)) / rate;
        break;
      case Hit::snare:  // a tone and noise
        value = 0.5 * std::sin(kTwoPi * 185.0 * t) * std::exp(-t / 0.04) +
                0.5 * white * std::exp(-t / 0.08);
        break;
      case Hit::hat: value = bright * std::exp(-t / 0.008); break;
      case Hit::cymbal: value = 0.75 * bright * std::exp(-t / 0.7); break;
      case Hit::tone: value = std::sin(kTwoPi * 220.0 * t); break;
      case Hit::hum: value = std::sin(kTwoPi * 55.0 * t); break;
      case Hit::hiss: value = white; break;
    }
    out[static_cast<std::size_t>(start + n)] += hit.gain * value;
  }
}

inline std::vector<double> render_kit(const OnsetKit& kit) {
  std::vector<double> out;
  Noise noise;
  for (const HitAt& hit : kit.hits) add_hit(out, hit, kit.rate, noise);
  return out;
}

constexpr double kGhost = 0.08;  // 20 dB below the main hits

// clang-format off
inline const std::vector<OnsetKit> kOnsetKits = {
    {"a drum machine's hits back to back", 44100,
     {{Hit::kick, 0}, {Hit::hat, 125}, {Hit::snare, 250}, {Hit::hat, 375}, {Hit::kick, 500}, {Hit::kick, 625},
      {Hit::snare, 750}, {Hit::hat, 875}, {Hit::kick, 1000}, {Hit::snare, 1125}},
     {125, 250, 375, 500, 625, 750, 875, 1000, 1125}},
    {"hits separated by silence", 44100,
     {{Hit::kick, 200}, {Hit::snare, 1000}, {Hit::hat, 1600}, {Hit::kick, 2200}, {Hit::snare, 2800, kGhost}},
     {200, 1000, 1600, 2200, 2800}},
    {"ghost notes between the main hits", 48000,
     {{Hit::snare, 0}, {Hit::snare, 250, kGhost}, {Hit::snare, 500}, {Hit::hat, 700, kGhost},
      {Hit::kick, 900}, {Hit::kick, 1350, kGhost}, {Hit::snare, 1700}},
     {250, 500, 700, 900, 1350, 1700}},
    {"a long decay, and hits over its tail", 44100,
     {{Hit::cymbal, 0}, {Hit::hat, 1200}, {Hit::kick, 2000}},
     {1200, 2000}},
    {"a drum loop", 96000,
     {{Hit::kick, 0}, {Hit::hat, 0}, {Hit::hat, 125}, {Hit::snare, 250}, {Hit::hat, 250}, {Hit::hat, 375},
      {Hit::kick, 500}, {Hit::hat, 500}, {Hit::kick, 625}, {Hit::hat, 625}, {Hit::snare, 750},
      {Hit::hat, 750}, {Hit::hat, 875}, {Hit::hat, 937.5, kGhost * 4}},
     {125, 250, 375, 500, 625, 750, 875, 937.5}},
    {"two rises within 30 ms", 44100,
     {{Hit::kick, 100}, {Hit::snare, 120}, {Hit::snare, 500}, {Hit::hat, 525}},
     {100, 500}},
    {"a sustained tone", 44100, {{Hit::tone, 0, 0.5}, {Hit::hum, 0, 0.3}}, {}},
    {"a tone after silence", 48000, {{Hit::hum, 300, 0.5}, {Hit::kick, 2000}}, {300, 2000}},
    {"a decay alone", 96000, {{Hit::cymbal, 0}}, {}},
    {"hits over a noise floor", 44100,
     {{Hit::hiss, 0, 0.01}, {Hit::kick, 1000}, {Hit::snare, 2000, kGhost}},
     {1000, 2000}},
};
// clang-format on

}  // namespace kitweaver::testing
