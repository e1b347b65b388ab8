// Every format Kitweaver reads: float WAV, AIFF and AIFC copies of a kit give
// the original's lines and pack byte for byte, in the default renderer and
// with --hq, whether the tests or sox wrote them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "test_support.h"

namespace kitweaver {
namespace {

using testing::run_program;
using testing::TempDir;
using wav::Bytes;

// A recording as integer samples of 8, 16 or 24 bits, interleaved.
struct Recording {
  std::string name;
  std::uint16_t channels;
  std::uint32_t rate;
  std::uint16_t bits;
  std::vector<std::int32_t> samples;
};

// A decaying tone with noise on every channel, from one end of the range to
// the other.
Recording recording(const std::string& name, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
                    double seconds) {
  Recording r{name, channels, rate, bits, {}};
  const double full = std::ldexp(1.0, bits - 1);
  std::uint32_t noise = rate + bits;
  const auto frames = static_cast<std::size_t>(seconds * rate);
  for (std::size_t i = 0; i < frames; ++i) {
    for (std::uint16_t c = 0; c < channels; ++c) {
      noise = noise * 1664525u + 1013904223u;
      const double tone = std::sin(0.05 * static_cast<double>(i) * (c + 1)) * std::exp(-3.0 * static_cast<double>(i) / static_cast<double>(frames));
      const double v = std::round(full * (1.2 * tone + 0.1 * (static_cast<double>(noise >> 8) / 8388608.0 - 1.0)));
      r.samples.push_back(static_cast<std::int32_t>(std::clamp(v, -full, full - 1)));
    }
  }
  return r;
}

enum class Copy { kPcmWav, kFloatWav, kAiff, kAifcSowt, kAifcFloat64 };

// Integer samples in `width` bytes; 8-bit WAV samples are unsigned.
Bytes integer_bytes(const Recording& r, bool big_endian, bool unsigned_bytes) {
  const int width = r.bits / 8;
  Bytes out;
  for (std::int32_t s : r.samples) {
    const auto v = static_cast<std::uint32_t>(width == 1 && unsigned_bytes ? s + 128 : s);
    for (int b = 0; b < width; ++b) out.push_back(static_cast<std::uint8_t>(v >> (8 * (big_endian ? width - 1 - b : b))));
  }
  return out;
}

// The same samples as floats: s / 2^(bits - 1), exactly.
Bytes float_bytes(const Recording& r, int bits, bool big_endian) {
  std::vector<double> values;
  for (std::int32_t s : r.samples) values.push_back(std::ldexp(s, 1 - r.bits));
  return wav::float_samples(values, bits, big_endian);
}

Bytes stored(const Recording& r, Copy copy) {
  if (copy == Copy::kPcmWav || copy == Copy::kFloatWav) {
    wav::WavShape shape;
    shape.channels = r.channels;
    shape.sample_rate = r.rate;
    shape.bits_per_sample = copy == Copy::kFloatWav ? 32 : r.bits;
    shape.format_tag = copy == Copy::kFloatWav ? 3 : 1;
    shape.data = copy == Copy::kFloatWav ? float_bytes(r, 32, false) : integer_bytes(r, false, true);
    return wav::wav_bytes(shape);
  }
  wav::AiffShape shape;
  shape.channels = r.channels;
  shape.sample_rate = r.rate;
  shape.bits = r.bits;
  shape.aifc = copy != Copy::kAiff;
  if (copy == Copy::kAifcFloat64) {
    shape.compression = "fl64";
    shape.bits = 64;
    shape.data = float_bytes(r, 64, true);
  } else {
    shape.compression = "sowt";
    shape.data = integer_bytes(r, copy == Copy::kAiff, false);
  }
  return wav::aiff_bytes(shape);
}

// A 2-second PO-33 kit, so that every slice is shortened.
constexpr char kFolder[] = "kit PO-33.2";

const std::vector<Recording>& kit16() {
  static const std::vector<Recording> kit = {
      recording("kick.wav", 1, 44100, 16, 0.7),           recording("snare Oneshot.wav", 2, 48000, 16, 0.5),
      recording("pad Chord,Cmaj7.wav", 1, 22050, 16, 0.6), recording("wide.wav", 3, 32000, 16, 0.4),
      recording("crunch Loop.wav", 1, 11025, 8, 0.5)};
  return kit;
}

const std::vector<Recording>& kit24() {
  static const std::vector<Recording> kit = {recording("deep.wav", 2, 96000, 24, 0.8),
                                             recording("thin.wav", 1, 44100, 24, 0.5),
                                             recording("tri Chord,Am.wav", 3, 48000, 24, 0.4)};
  return kit;
}

struct Built {
  testing::RunResult run;
  Bytes pack;
};

// Runs kitweaver (with --hq or not) on the folder; its lines name the
// folder as `as_folder` does, so that two folders' lines compare.
Built build(const TempDir& dir, bool hq, const std::string& as_folder) {
  Built b;
  b.run = run_program(hq ? std::vector<std::string>{"--hq", dir.path} : std::vector<std::string>{dir.path});
  for (std::size_t at; (at = b.run.out.find(dir.path)) != std::string::npos;) b.run.out.replace(at, dir.path.size(), as_folder);
  b.pack = testing::read_bytes(dir.file("samplepack.aif"));
  std::filesystem::remove(dir.file("samplepack.aif"));
  return b;
}

// Every copy keeps the original's file names, extensions and all, so that
// each folder lists its files in the same order (the intake goes by what a
// file holds, not by its name).
void expect_same_kit(const TempDir& original, const TempDir& copy, const char* what) {
  ASSERT_EQ(testing::listing_order(copy.path), testing::listing_order(original.path)) << what;
  for (bool hq : {false, true}) {
    const Built expected = build(original, hq, "KIT");
    const Built built = build(copy, hq, "KIT");
    EXPECT_EQ(built.run.status, 0) << what;
    EXPECT_EQ(built.run.out, expected.run.out) << what << (hq ? " --hq" : "");
    EXPECT_FALSE(expected.pack.empty()) << what;
    EXPECT_TRUE(built.pack == expected.pack) << what << (hq ? " --hq" : "") << ": the packs differ";
  }
}

TEST(Formats, FloatAndAiffCopiesGiveTheOriginalsPack) {
  struct Row {
    const char* what;
    const std::vector<Recording>& kit;
    Copy copy;
  };
  const Row rows[] = {
      {"float copy of a 16-bit kit (8-bit and 3 channels too)", kit16(), Copy::kFloatWav},
      {"AIFF copy of a 16-bit kit", kit16(), Copy::kAiff},
      {"AIFC sowt copy of a 16-bit kit", kit16(), Copy::kAifcSowt},
      {"float copy of a 24-bit kit", kit24(), Copy::kFloatWav},
      {"64-bit float AIFC copy of a 24-bit kit", kit24(), Copy::kAifcFloat64},
      {"AIFF copy of a 24-bit kit", kit24(), Copy::kAiff},
  };
  for (const Row& row : rows) {
    TempDir original(kFolder), copy(kFolder);
    for (const Recording& r : row.kit) {
      original.write(r.name, stored(r, Copy::kPcmWav));
      copy.write(r.name, stored(r, row.copy));
    }
    expect_same_kit(original, copy, row.what);
  }
}

// What sox writes from a 16-bit kit: float WAV (tag 3 with a fact chunk),
// AIFF (a comment chunk first), AIFC "NONE" and "fl32". Outside CI a missing
// sox skips the test; in CI it fails it.
TEST(Interop, RecordingsSoxWritesGiveTheOriginalsPack) {
  const struct {
    const char* what;
    const char* options;  // of the output file
  } rows[] = {
      {"float WAV", "-e floating-point -b 32 -t wav"},
      {"AIFF", "-t aiff"},
      {"AIFC", "-t aifc"},
      {"float AIFC", "-e floating-point -b 32 -t aifc"},
  };
  TempDir original(kFolder);
  for (const Recording& r : kit16()) original.write(r.name, stored(r, Copy::kPcmWav));
  for (const auto& row : rows) {
    TempDir copy(kFolder);
    for (const Recording& r : kit16()) {
      const std::string command = "sox -D '" + original.file(r.name) + "' " + row.options + " '" + copy.file(r.name) + "'";
      if (!testing::command_output(command) || !std::filesystem::exists(copy.file(r.name))) {
        if (std::getenv("CI") != nullptr) FAIL() << "sox is missing";
        GTEST_SKIP() << "sox is not installed";
      }
    }
    expect_same_kit(original, copy, row.what);
  }
}

}  // namespace
}  // namespace kitweaver
