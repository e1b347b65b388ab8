// The sound of --hq: generated signals through whole runs, measured on the
// slices as the pack stores them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <complex>
#include <functional>
#include <limits>

#include "pack/drum_metadata.h"
#include "slice/band_limited.h"
#include "test_support.h"
#include "viewer/pack_reader.h"
#include "viewer/playback.h"

namespace kitweaver {
namespace {

using testing::run_program;
using testing::TempDir;
using Signal = std::function<double(double)>;  // value at a time in seconds, within [-1, 1]

// A WAV file of `seconds` of `signal`, every channel the same.
wav::Bytes signal_wav(const Signal& signal, double seconds, std::uint32_t rate, std::uint16_t bits,
                      std::uint16_t channels) {
  const auto frames = static_cast<std::size_t>(seconds * rate);
  const std::size_t width = bits / 8;
  wav::WavShape shape;
  shape.sample_rate = rate;
  shape.bits_per_sample = bits;
  shape.channels = channels;
  shape.data.reserve(frames * channels * width);
  const double full = std::ldexp(1.0, bits - 1);
  for (std::size_t i = 0; i < frames; ++i) {
    const double v = std::clamp(std::round(signal(static_cast<double>(i) / rate) * full), -full, full - 1);
    const auto bits_of = static_cast<std::uint32_t>(static_cast<std::int32_t>(v));
    for (std::uint16_t c = 0; c < channels; ++c) {
      for (std::size_t b = 0; b < width; ++b) shape.data.push_back(static_cast<std::uint8_t>(bits_of >> (8 * b)));
    }
  }
  return wav::wav_bytes(shape);
}

Signal sine(double hz, double amplitude = 0.5) {
  return [=](double t) { return amplitude * std::sin(2 * std::numbers::pi * hz * t); };
}

// 20 Hz to 22 kHz, exponentially, over `seconds`.
constexpr double kSweepFrom = 20.0, kSweepTo = 22000.0;
double sweep_hz(double t, double seconds) { return kSweepFrom * std::pow(kSweepTo / kSweepFrom, t / seconds); }
Signal sweep(double seconds) {
  const double k = std::log(kSweepTo / kSweepFrom);
  return [=](double t) { return 0.5 * std::sin(2 * std::numbers::pi * kSweepFrom * seconds / k * (std::exp(k * t / seconds) - 1)); };
}

// Level in dBFS of the samples whose index `keep` accepts.
template <typename Keep>
double level(const std::vector<double>& samples, Keep keep) {
  double power = 0;
  std::size_t count = 0;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    if (!keep(i)) continue;
    power += samples[i] * samples[i];
    ++count;
  }
  return count == 0 || power == 0 ? -std::numeric_limits<double>::infinity() : 10 * std::log10(power / static_cast<double>(count));
}

// The run's pack taken apart: each file's slice (key = its slot) as values
// in [-1, 1), and the run's output.
struct Rendered {
  testing::RunResult run;
  wav::Bytes pack;
  std::vector<std::vector<double>> slices;  // in slot order
};

Rendered render(const TempDir& dir, bool hq) {
  Rendered r;
  r.run = run_program(hq ? std::vector<std::string>{"--hq", dir.path} : std::vector<std::string>{dir.path});
  r.pack = testing::read_bytes(dir.file("samplepack.aif"));
  inspect::Pack pack;
  if (!inspect::read_pack(r.pack, &pack).empty()) return r;
  for (int key = 0; key < kSlotCount && pack.keys[static_cast<std::size_t>(key)].reverse != kReversed; ++key) {
    const inspect::Sound slice = inspect::slice_sound(pack, pack.keys[static_cast<std::size_t>(key)]);
    std::vector<double> values(slice.samples.size());
    std::transform(slice.samples.begin(), slice.samples.end(), values.begin(), [](std::int16_t s) { return s / 32768.0; });
    r.slices.push_back(std::move(values));
  }
  return r;
}

// The slot of a file, from the order of the run's lines.
std::size_t slot_of(const Rendered& r, const TempDir& dir, const std::string& name) {
  std::size_t slot = 0;
  const std::size_t at = r.run.out.find("[" + dir.file(name) + "]\n");
  for (std::size_t p = r.run.out.find("]\n\t"); p < at; p = r.run.out.find("]\n\t", p + 1)) ++slot;
  return slot;
}

// The level of every frequency of the first 2^n values, in dBFS as a tone
// (a sine of amplitude 0.5 shows as -9.0), from a Blackman-Harris windowed
// spectrum; bin k is k x rate / 2^n Hz.
std::vector<double> spectrum_db(const std::vector<double>& values, std::size_t n) {
  std::vector<std::complex<double>> x(n);
  double window_sum = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double w = 2 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n);
    const double weight = 0.35875 - 0.48829 * std::cos(w) + 0.14128 * std::cos(2 * w) - 0.01168 * std::cos(3 * w);
    x[i] = values[i] * weight;
    window_sum += weight;
  }
  for (std::size_t i = 1, j = 0; i < n; ++i) {  // bit-reversed order, then butterflies
    std::size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(x[i], x[j]);
  }
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const std::complex<double> step = std::polar(1.0, -2 * std::numbers::pi / static_cast<double>(len));
    for (std::size_t i = 0; i < n; i += len) {
      std::complex<double> turn = 1;
      for (std::size_t k = 0; k < len / 2; ++k, turn *= step) {
        const std::complex<double> a = x[i + k], b = x[i + k + len / 2] * turn;
        x[i + k] = a + b;
        x[i + k + len / 2] = a - b;
      }
    }
  }
  std::vector<double> db(n / 2);
  for (std::size_t k = 0; k < n / 2; ++k) db[k] = 20 * std::log10(std::sqrt(2.0) * std::abs(x[k]) / window_sum + 1e-300);
  return db;
}

// A sine's level in dBFS.
double sine_dbfs(double amplitude) { return 20 * std::log10(amplitude / std::sqrt(2.0)); }

struct QualityCase {
  const char* what;
  std::string folder;
  std::vector<std::pair<std::string, wav::Bytes>> files;
  std::function<void(const TempDir&, const Rendered& hq, const Rendered& plain)> holds;
};

// The figures of --hq: nothing above 1.1 x the new Nyquist frequency within
// 100 dB of full scale, the band up to 0.88 x Nyquist within 0.1 dB,
// frequencies within 0.5%, and chord copies that add no tone of their own.
TEST(BandLimited, QualityOfGeneratedSignals) {
  std::vector<QualityCase> cases;

  // 24 files of 2 s, 16-bit mono 44.1 kHz: 4x, 11025 Hz, Nyquist 5512.5 Hz.
  QualityCase sweep_kit{"sweep at 4x",
                        "sweep",
                        {{"a sweep.wav", signal_wav(sweep(2.0), 2.0, 44100, 16, 1)},
                         {"a edge.wav", signal_wav(sine(4851), 2.0, 44100, 16, 1)}},
                        {}};
  for (int i = 0; i < 22; ++i) {
    sweep_kit.files.push_back({"b" + std::to_string(10 + i) + ".wav", signal_wav(sine(100 + 10 * i), 2.0, 44100, 16, 1)});
  }
  sweep_kit.holds = [](const TempDir& dir, const Rendered& hq, const Rendered&) {
    EXPECT_NE(hq.run.out.find("resampling to 11025Hz"), std::string::npos);
    const std::vector<double>& slice = hq.slices[slot_of(hq, dir, "a sweep.wav")];
    const double nyquist = 11025 / 2.0;
    const std::size_t ends = 11025 / 50;  // 20 ms
    auto hz = [&](std::size_t i) { return sweep_hz(static_cast<double>(i) / 11025, 2.0); };
    auto inside = [&](std::size_t i) { return i >= ends && i + ends < slice.size(); };
    std::vector<double> source(slice.size());
    for (std::size_t i = 0; i < source.size(); ++i) source[i] = sweep(2.0)(static_cast<double>(i) / 11025);
    auto in_band = [&](std::size_t i) { return inside(i) && hz(i) < 0.8 * nyquist; };
    EXPECT_LE(level(slice, [&](std::size_t i) { return inside(i) && hz(i) > 1.1 * nyquist; }), -100.0);
    EXPECT_NEAR(level(slice, in_band), level(source, in_band), 0.1);
    // 4851 Hz is 0.88 x Nyquist: the edge of the passband.
    const std::vector<double>& edge = hq.slices[slot_of(hq, dir, "a edge.wav")];
    EXPECT_NEAR(level(edge, [&](std::size_t i) { return i >= ends && i + ends < edge.size(); }), sine_dbfs(0.5), 0.1);
  };
  cases.push_back(std::move(sweep_kit));

  // 24-bit stereo 96 kHz at 16x: a PO-33 pack of 1 s (0.4 s of sound
  // after its three gaps) with two files of 3.1 s, R = 15.5, is planned at
  // 2756 Hz (Nyquist 1378 Hz).
  cases.push_back({"tones at 16x", "tones PO-33.1",
                   {{"a in band.wav", signal_wav(sine(1000), 3.1, 96000, 24, 2)},
                    {"b above.wav", signal_wav(sine(3000), 3.1, 96000, 24, 2)}},
                   [](const TempDir& dir, const Rendered& hq, const Rendered&) {
                     EXPECT_NE(hq.run.out.find("resampling to 2756Hz"), std::string::npos);
                     const std::vector<double>& tone = hq.slices[slot_of(hq, dir, "a in band.wav")];
                     const std::vector<double>& above = hq.slices[slot_of(hq, dir, "b above.wav")];
                     const std::size_t ends = 2756 / 50;
                     std::size_t crossings = 0;
                     for (std::size_t i = ends + 1; i + ends < tone.size(); ++i) crossings += (tone[i - 1] < 0) != (tone[i] < 0);
                     const double seconds = static_cast<double>(tone.size() - 2 * ends - 1) / 2756.25;
                     EXPECT_NEAR(static_cast<double>(crossings) / 2.0 / seconds, 1000.0, 5.0);
                     auto inside = [&](std::size_t i) { return i >= ends && i + ends < above.size(); };
                     EXPECT_NEAR(level(tone, inside), sine_dbfs(0.5), 0.1);
                     EXPECT_LE(level(above, inside), -100.0);
                   }});

  // No compression: the recording is C, copies 4 and 7 semitones up make E
  // and G. While all three sound, nothing else comes within 90 dB of them.
  cases.push_back({"Chord,Cmaj on a sine", "chord",
                   {{"Sine Chord,Cmaj.wav", signal_wav(sine(440), 1.0, 44100, 16, 1)}},
                   [](const TempDir&, const Rendered& hq, const Rendered&) {
                     constexpr std::size_t kPoints = 16384;
                     ASSERT_GE(hq.slices.at(0).size(), kPoints);
                     const std::vector<double> db = spectrum_db(hq.slices[0], kPoints);
                     double weakest = std::numeric_limits<double>::infinity();
                     std::vector<bool> near_note(db.size());
                     for (double hz : {440.0, 440.0 / stretch_ratio(4), 440.0 / stretch_ratio(7)}) {
                       const auto bin = static_cast<std::size_t>(std::lround(hz * kPoints / 44100));
                       weakest = std::min(weakest, *std::max_element(db.begin() + bin - 2, db.begin() + bin + 3));
                       for (std::size_t k = bin - 8; k <= bin + 8; ++k) near_note[k] = true;
                     }
                     double loudest_other = -1000;
                     for (std::size_t k = 1; k < db.size(); ++k) {
                       if (!near_note[k]) loudest_other = std::max(loudest_other, db[k]);
                     }
                     EXPECT_LT(loudest_other, weakest - 90.0);
                   }});

  // Upsampling: a 9 kHz tone at 22.05 kHz in a kit that fits is resampled
  // 2x, to 44.1 kHz; its image would lie at 13.05 kHz.
  cases.push_back({"a tone upsampled 2x", "up",
                   {{"tone.wav", signal_wav(sine(9000), 1.0, 22050, 16, 1)}},
                   [](const TempDir&, const Rendered& hq, const Rendered&) {
                     constexpr std::size_t kPoints = 32768;
                     ASSERT_GE(hq.slices.at(0).size(), kPoints);
                     const std::vector<double> db = spectrum_db(hq.slices[0], kPoints);
                     const std::vector<double>& slice = hq.slices[0];
                     EXPECT_NEAR(level(slice, [&](std::size_t i) { return i >= 882 && i + 882 < slice.size(); }),
                                 sine_dbfs(0.5), 0.1);
                     const auto from = static_cast<std::size_t>(11600.0 * kPoints / 44100);
                     EXPECT_LE(*std::max_element(db.begin() + from, db.end()), -100.0);
                   }});

  // Rates far from the pack's: a header of 1 Hz is upsampled 44100 times, in
  // time proportional to the frames written. A 16-bit mono 44.1 kHz file
  // that needs no compression is its own slice in either renderer.
  cases.push_back({"extreme rates, and no change at all", "plain",
                   {{"a one hertz.wav", signal_wav(sine(0.1), 4.0, 1, 16, 1)},
                    {"b.wav", signal_wav(sine(440), 1.0, 44100, 16, 1)}},
                   [](const TempDir& dir, const Rendered& hq, const Rendered& plain) {
                     EXPECT_EQ(hq.slices[slot_of(hq, dir, "b.wav")], plain.slices[slot_of(plain, dir, "b.wav")]);
                     const std::vector<double>& slow = hq.slices[slot_of(hq, dir, "a one hertz.wav")];
                     EXPECT_EQ(slow.size(), 4u * 44100);
                     // Four frames, 0 to 0.48, band-limited: nothing overshoots far.
                     EXPECT_LT(*std::max_element(slow.begin(), slow.end()), 0.6);
                     std::string lines = hq.run.out;
                     lines.erase(lines.find("High-quality resampling\n"), 24);
                     EXPECT_EQ(lines, plain.run.out);
                   }});

  for (const QualityCase& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir(c.folder);
    for (const auto& [name, bytes] : c.files) dir.write(name, bytes);
    const Rendered plain = render(dir, false);
    const Rendered hq = render(dir, true);
    ASSERT_EQ(hq.run.status, 0) << hq.run.out;
    ASSERT_EQ(hq.slices.size(), c.files.size() < 12 ? c.files.size() : 24u) << hq.run.out;
    c.holds(dir, hq, plain);
  }
}

// The --hq slices of a kit that takes every path of the resampler (several
// halvings, fractional stages down and up, a chord, a copy) are the same
// bit for bit in every build: this digest holds in the optimised and the
// sanitizer builds alike, on Linux and on Windows, and the page compares its
// own pack with this program's. The slices are taken in their files' order
// by name, whatever order the folder lists them in. Every input is made from
// integers, so no library's sine enters it. A change to the resampler that
// changes its output changes the digest, on purpose.
TEST(BandLimited, SameBytesInEveryBuild) {
  TempDir dir("every path PO-33.2");
  const char* const names[] = {"a noise 96k.wav", "b ramp Chord,Cmaj7.wav", "c ramp 8k.wav"};
  dir.write(names[0], testing::stereo24_noise(96000 * 6));
  dir.write(names[1], testing::mono16(44100));
  dir.write(names[2], testing::mono16(8000, 8000));
  const Rendered hq = render(dir, true);
  ASSERT_EQ(hq.run.status, 0) << hq.run.out;
  std::uint64_t digest = 14695981039346656037u;  // FNV-1a, 64 bits, over the 16-bit frames
  for (const char* name : names) {
    for (double value : hq.slices[slot_of(hq, dir, name)]) {
      const auto frame = static_cast<std::uint16_t>(std::lround(value * 32768.0));
      digest = (digest ^ (frame & 0xFFu)) * 1099511628211u;
      digest = (digest ^ (frame >> 8)) * 1099511628211u;
    }
  }
  EXPECT_EQ(digest, 16937151808145050765u) << hq.run.out;
}

}  // namespace
}  // namespace kitweaver
