// Synthesizes the example kits in examples/: short drum sounds and tones,
// written as 16-bit mono 44.1 kHz WAV files. Deterministic: the same bytes on
// every run. Usage: make_examples OUTPUT_DIR
#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "wav_builder.h"

namespace {

constexpr double kRate = 44100.0;
constexpr double kTwoPi = 6.283185307179586;

struct Noise {
  std::uint32_t state = 12345;
  double next() {
    state = state * 1664525u + 1013904223u;
    return static_cast<double>(state >> 8) / 8388608.0 - 1.0;
  }
};

using Signal = std::vector<double>;

Signal blank(double seconds) { return Signal(static_cast<std::size_t>(seconds * kRate), 0.0); }

double decay(std::size_t i, double seconds) {
  return std::exp(-static_cast<double>(i) / (seconds * kRate));
}

// A sine whose pitch falls from `from` to `to` Hz.
Signal sweep(double seconds, double from, double to, double fall, double amp_decay) {
  Signal s = blank(seconds);
  double phase = 0.0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    double f = to + (from - to) * decay(i, fall);
    phase += kTwoPi * f / kRate;
    s[i] = std::sin(phase) * decay(i, amp_decay);
  }
  return s;
}

Signal noise_burst(double seconds, double amp_decay, double brightness, std::uint32_t seed) {
  Signal s = blank(seconds);
  Noise noise{seed};
  double low = 0.0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    double n = noise.next();
    low += (n - low) * (1.0 - brightness);
    s[i] = (n - low) * decay(i, amp_decay);
  }
  return s;
}

// A plucked-string-like tone with a few harmonics.
Signal tone(double seconds, double hz, double amp_decay) {
  Signal s = blank(seconds);
  for (std::size_t i = 0; i < s.size(); ++i) {
    double t = static_cast<double>(i) / kRate;
    double v = std::sin(kTwoPi * hz * t) + 0.3 * std::sin(kTwoPi * 2 * hz * t) +
               0.1 * std::sin(kTwoPi * 3 * hz * t);
    double attack = std::min(1.0, static_cast<double>(i) / 200.0);
    s[i] = 0.7 * v * attack * decay(i, amp_decay);
  }
  return s;
}

Signal mix(const Signal& a, const Signal& b, double gain_b) {
  Signal s = a;
  for (std::size_t i = 0; i < s.size() && i < b.size(); ++i) s[i] += gain_b * b[i];
  return s;
}

bool save(const std::string& dir, const std::string& name, const Signal& s) {
  std::vector<std::int16_t> samples(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    double v = std::max(-1.0, std::min(1.0, s[i] * 0.8));
    samples[i] = static_cast<std::int16_t>(std::lround(v * 32767.0));
  }
  kitweaver::wav::WavShape shape;
  shape.data = kitweaver::wav::pcm16(samples);
  std::string path = dir + "/" + name;
  if (!kitweaver::wav::write_file(path, kitweaver::wav::wav_bytes(shape))) {
    std::fprintf(stderr, "could not write %s\n", path.c_str());
    return false;
  }
  return true;
}

std::string folder(const std::string& root, const std::string& name) {
  std::string dir = root + "/" + name;
  mkdir(dir.c_str(), 0777);
  return dir;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_examples OUTPUT_DIR\n");
    return 2;
  }
  std::string root = argv[1];
  mkdir(root.c_str(), 0777);
  bool ok = true;

  std::string kit = folder(root, "demo kit");
  ok &= save(kit, "01 Kick Oneshot.wav", sweep(0.45, 160.0, 48.0, 0.03, 0.12));
  ok &= save(kit, "02 Snare.wav",
             mix(noise_burst(0.3, 0.07, 0.3, 7), sweep(0.3, 240.0, 180.0, 0.02, 0.05), 0.6));
  ok &= save(kit, "03 Closed Hat.wav", noise_burst(0.09, 0.015, 0.05, 11));
  ok &= save(kit, "04 Open Hat.wav", noise_burst(0.35, 0.12, 0.05, 13));
  Signal clap = noise_burst(0.3, 0.08, 0.4, 17);
  for (std::size_t i = 0; i < clap.size(); ++i) {
    double t = static_cast<double>(i) / kRate;
    if (t < 0.03 && std::fmod(t, 0.01) > 0.004) clap[i] *= 0.2;
  }
  ok &= save(kit, "05 Clap.wav", clap);
  ok &= save(kit, "06 Tom.wav", sweep(0.4, 180.0, 110.0, 0.08, 0.12));
  ok &= save(kit, "07 Bell.wav", tone(0.6, 523.25, 0.25));

  std::string po = folder(root, "pocket kit PO-33.8");
  ok &= save(po, "Kick.wav", sweep(0.4, 150.0, 50.0, 0.03, 0.1));
  ok &= save(po, "Snare.wav", mix(noise_burst(0.3, 0.06, 0.3, 23), sweep(0.3, 220.0, 170.0, 0.02, 0.05), 0.5));
  ok &= save(po, "Hat.wav", noise_burst(0.1, 0.02, 0.05, 29));

  std::string chords = folder(root, "chords");
  ok &= save(chords, "Keys Chord,Cmaj.wav", tone(1.0, 261.63, 0.5));
  ok &= save(chords, "Keys Chord,Amin7.wav", tone(1.0, 261.63, 0.5));
  ok &= save(chords, "Pad ChordSemitones,7,12.wav", tone(1.0, 261.63, 0.8));

  std::string chromatic = folder(root, "chromatic");
  ok &= save(chromatic, "Keys ChromaticMultiSample,0.wav", tone(0.6, 261.63, 0.3));
  ok &= save(chromatic, "Keys ChromaticMultiSample,5.wav", tone(0.6, 349.23, 0.3));
  ok &= save(chromatic, "Keys ChromaticMultiSample,12.wav", tone(0.6, 523.25, 0.3));
  return ok ? 0 : 1;
}
