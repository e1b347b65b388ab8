// Every format Kitweaver reads: float WAV, AIFF and AIFC copies of a kit give
// the original's lines and pack byte for byte, in the default renderer and
// with --hq.
#include <gtest/gtest.h>

#include <cstdlib>
#include <span>

#include "test_support.h"

namespace kitweaver {
namespace {

using testing::TempDir;
using wav::Bytes;

// A 2-second PO-33 folder, so that every slice is shortened; noise in every
// bit of every sample.
constexpr char kFolder[] = "kit PO-33.2";

struct Recording {
  const char* name;
  std::uint16_t channels;
  std::uint32_t rate;
  std::uint16_t bits;
  double seconds;
};

wav::WavShape noise(const Recording& r) {
  wav::WavShape shape;
  shape.channels = r.channels;
  shape.sample_rate = r.rate;
  shape.bits_per_sample = r.bits;
  shape.data.resize(static_cast<std::size_t>(r.seconds * r.rate) * r.channels * (r.bits / 8));
  std::uint32_t state = r.rate + r.bits;
  for (std::uint8_t& byte : shape.data) byte = static_cast<std::uint8_t>((state = state * 1664525u + 1013904223u) >> 24);
  return shape;
}

const Recording kKit16[] = {{"kick.wav", 1, 44100, 16, 0.7}, {"snare Oneshot.wav", 2, 48000, 16, 0.5},
                            {"pad Chord,Cmaj7.wav", 1, 22050, 16, 0.6}, {"wide.wav", 3, 32000, 16, 0.4},
                            {"crunch Loop.wav", 1, 11025, 8, 0.5}};
const Recording kKit24[] = {{"deep.wav", 2, 96000, 24, 0.8}, {"thin.wav", 1, 44100, 24, 0.5},
                            {"tri Chord,Am.wav", 3, 48000, 24, 0.4}};

// The same samples as AIFC "sowt": little-endian as in the WAV file, but
// 8-bit samples signed.
Bytes sowt_copy(const wav::WavShape& original) {
  wav::AiffShape shape;
  shape.aifc = true;
  shape.compression = "sowt";
  shape.channels = original.channels;
  shape.bits = original.bits_per_sample;
  shape.sample_rate = original.sample_rate;
  shape.data = original.data;
  if (shape.bits == 8) {
    for (std::uint8_t& byte : shape.data) byte ^= 0x80;
  }
  return wav::aiff_bytes(shape);
}

// kitweaver's lines (naming the folder KIT) and pack, with --hq or not.
std::pair<std::string, Bytes> build(const TempDir& dir, bool hq) {
  testing::RunResult run = testing::run_program(hq ? std::vector<std::string>{"--hq", dir.path}
                                                    : std::vector<std::string>{dir.path});
  EXPECT_EQ(run.status, 0) << run.out;
  for (std::size_t at; (at = run.out.find(dir.path)) != std::string::npos;) run.out.replace(at, dir.path.size(), "KIT");
  Bytes pack = testing::read_bytes(dir.file("samplepack.aif"));
  std::filesystem::remove(dir.file("samplepack.aif"));
  return {run.out, pack};
}

// Copies written by sox (float WAV with a fact chunk, AIFF with a comment
// chunk first, AIFC "NONE", "fl32" and "fl64") or by the test ("sowt"). Each
// keeps the original's file names, so that the folders list their files in
// the same order. Outside CI a missing sox skips its rows; in CI it fails.
// A Windows build, which can't run sox, takes the rows that need none.
TEST(Formats, FloatAndAiffCopiesGiveTheOriginalsPack) {
  struct Row {
    const char* what;
    bool kit24;
    const char* sox;  // the output's options; null: AIFC "sowt"
  };
  const Row rows[] = {
      {"float copy of a 16-bit kit (8 bits and 3 channels too)", false, "-e floating-point -b 32 -t wav"},
      {"AIFF copy of a 16-bit kit", false, "-t aiff"},
      {"AIFC copy of a 16-bit kit", false, "-t aifc"},
      {"float AIFC copy of a 16-bit kit", false, "-e floating-point -b 32 -t aifc"},
      {"AIFC sowt copy of a 16-bit kit", false, nullptr},
      {"float copy of a 24-bit kit", true, "-e floating-point -b 32 -t wav"},
      {"64-bit float AIFC copy of a 24-bit kit", true, "-e floating-point -b 64 -t aifc"},
      {"AIFF copy of a 24-bit kit", true, "-t aiff"},
      {"AIFC sowt copy of a 24-bit kit", true, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    if (row.sox != nullptr && !testing::kHostTools) continue;  // sox is the build machine's program
    TempDir original(kFolder), copy(kFolder);
    for (const Recording& r : row.kit24 ? std::span<const Recording>(kKit24) : std::span<const Recording>(kKit16)) {
      const wav::WavShape shape = noise(r);
      original.write(r.name, wav::wav_bytes(shape));
      if (row.sox == nullptr) {
        copy.write(r.name, sowt_copy(shape));
      } else if (!testing::command_output("sox -D '" + original.file(r.name) + "' " + row.sox + " '" + copy.file(r.name) + "'") ||
                 !std::filesystem::exists(copy.file(r.name))) {
        if (std::getenv("CI") != nullptr) FAIL() << "sox is missing";
        GTEST_SKIP() << "sox is not installed";
      }
    }
    ASSERT_EQ(testing::listing_order(copy.path), testing::listing_order(original.path));
    for (bool hq : {false, true}) {
      const auto expected = build(original, hq);
      const auto built = build(copy, hq);
      EXPECT_EQ(built.first, expected.first) << (hq ? "--hq" : "");
      EXPECT_TRUE(!expected.second.empty() && built.second == expected.second) << (hq ? "--hq: " : "") << "the packs differ";
    }
  }
}

}  // namespace
}  // namespace kitweaver
