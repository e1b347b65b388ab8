// The kit the user means: --sort takes the recordings in name order, --trim
// leaves out the silence at their ends before the plan, --slice cuts each
// recording at its hits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "format/drum_format.h"
#include "intake/wav_reader.h"
#include "test_support.h"
#include "viewer/pack_reader.h"

namespace kitweaver {
namespace {

using testing::TempDir;
using testing::run_program;

TEST(Sort, NamesInTheOrderFileManagersShow) {
  const std::vector<std::string> expected = {"01 Kick.wav", "1 kick.wav", "2 Snare.wav", "02b.wav", "10 Tom.wav",
                                             "100.wav", "a.wav", "B.wav", "b2.wav", "b10.wav", "c.wav"};
  std::vector<std::string> names = expected;
  std::reverse(names.begin(), names.end());
  std::swap(names[2], names[7]);
  std::sort(names.begin(), names.end(), comes_before_by_name);
  EXPECT_EQ(names, expected);

  // The run takes them, and prints them, in that order.
  TempDir dir("kit");
  for (const std::string& name : names) dir.write(name, testing::mono16(100));
  const testing::RunResult r = run_program({"--sort", dir.path});
  ASSERT_EQ(r.status, 0) << r.out;
  std::size_t at = 0;
  for (const std::string& name : expected) {
    at = r.out.find("[" + dir.file(name) + "]\n", at);
    EXPECT_NE(at, std::string::npos) << name << "\n" << r.out;
  }
}

// `lead` and `tail` frames of silence (samples below 1/1000 of full scale)
// around `sound` frames of a tone, in every channel.
wav::Bytes padded(std::size_t lead, std::size_t sound, std::size_t tail, std::uint16_t channels, std::uint16_t bits) {
  wav::WavShape shape;
  shape.channels = channels;
  shape.bits_per_sample = bits;
  const std::int32_t quiet = bits == 16 ? 32 : 32 * 256;  // 0.00098 of full scale
  for (std::size_t f = 0; f < lead + sound + tail; ++f) {
    const bool sounding = f >= lead && f < lead + sound;
    for (std::uint16_t c = 0; c < channels; ++c) {
      // In a stereo file the sound starts on the right alone.
      const bool side = channels == 1 || c == 1 || f != lead;
      const std::int32_t v = sounding && side ? (bits == 16 ? 9000 : 9000 * 256) : (f % 2 ? quiet : -quiet);
      for (int b = 0; b < bits / 8; ++b) shape.data.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
    }
  }
  return wav::wav_bytes(shape);
}

TEST(Trim, SilenceAtTheEndsIsLeftOut) {
  struct Case {
    const char* what;
    wav::Bytes bytes;
    std::int64_t frames;  // kept
    const char* line;
  };
  const Case cases[] = {
      {"mono", padded(4410, 1000, 8820, 1, 16), 1000, "\ttrimmed 0.10s at the start, 0.20s at the end\n"},
      {"stereo", padded(22050, 2000, 441, 2, 16), 2000, "\ttrimmed 0.50s at the start, 0.01s at the end\n"},
      {"24-bit", padded(441, 3000, 44100, 1, 24), 3000, "\ttrimmed 0.01s at the start, 1.00s at the end\n"},
      // The frame kept plans as none: 1 / 44100 s at 44100 Hz is
      // 0.99999999999999989 frames, truncated.
      {"silent", padded(0, 0, 44100, 1, 16), 0, "\ttrimmed 0.00s at the start, 1.00s at the end\n"
                                                "\tsilent throughout: one frame kept\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir("kit");
    dir.write("a.wav", c.bytes);
    const testing::RunResult r = run_program({"--trim", dir.path});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(c.line), std::string::npos) << r.out;
    inspect::Pack pack;
    ASSERT_EQ(inspect::read_pack(testing::read_bytes(dir.file("samplepack.aif")), &pack), "");
    EXPECT_EQ(pack.keys[0].frame_count(), c.frames);
    if (c.frames > 1) {
      EXPECT_EQ(pack.samples[1], 9000);
    }
  }

  // Two recordings of 7 s, 3 s of each silence: shortened as they are, not
  // once trimmed.
  TempDir kit("kit");
  kit.write("a.wav", padded(44100 * 2, 44100 * 4, 44100, 1, 16));
  kit.write("b.wav", padded(44100, 44100 * 4, 44100 * 2, 1, 16));
  const testing::RunResult plain = run_program({kit.path});
  EXPECT_NE(plain.out.find("\tlength 7.00s, resampling to 37083Hz, pitching down 3 semitones\n"), std::string::npos)
      << plain.out;
  const testing::RunResult trimmed = run_program({"--trim", kit.path});
  EXPECT_NE(trimmed.out.find("\tlength 4.00s, resampling to 44100Hz, pitching down 0 semitones\n"), std::string::npos)
      << trimmed.out;
  // Found a buffer at a time from each end, to the frame.
  inspect::Pack pack;
  ASSERT_EQ(inspect::read_pack(testing::read_bytes(kit.file("samplepack.aif")), &pack), "");
  EXPECT_EQ(pack.keys[0].frame_count(), 44100 * 4);
  EXPECT_EQ(pack.keys[1].frame_count(), 44100 * 4);
}

// Bursts of a decaying 200 Hz tone starting every `spacing` frames, the
// first at frame 0, each 40% of the spacing long.
wav::Bytes bursts(int count, std::size_t spacing) {
  std::vector<std::int16_t> samples(static_cast<std::size_t>(count) * spacing);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const std::size_t t = i % spacing;
    if (t >= spacing * 2 / 5) continue;
    const double envelope = 1.0 - static_cast<double>(t) / static_cast<double>(spacing);
    samples[i] = static_cast<std::int16_t>(std::lround(12000.0 * envelope * std::sin(2 * 3.141592653589793 * 200.0 * static_cast<double>(t) / 44100.0 + 0.5)));
  }
  wav::WavShape shape;
  shape.data = wav::pcm16(samples);
  return wav::wav_bytes(shape);
}

// Each hit a recording of its own, named PATH#N, its recording's tags but a
// chromatic one kept; past the 24th, named in the left-out line.
TEST(Slice, EachHitIsARecording) {
  TempDir dir("kit");
  dir.write("a Loop.wav", bursts(3, 22050));
  dir.write("b ChromaticMultiSample,3.wav", bursts(23, 4410));
  const testing::RunResult r = run_program({"--sort", "--slice", dir.path});
  ASSERT_EQ(r.status, 0) << r.out;
  for (const std::string& line :
       {"[" + dir.file("a Loop.wav") + "] cut into 3 hits, at 0.000s, 0.500s, 1.000s\n",
        "[" + dir.file("b ChromaticMultiSample,3.wav") + "] :: its chromatic tag is ignored for its hits\n",
        "Left out, a kit holds 24 recordings: [" + dir.file("b ChromaticMultiSample,3.wav") + "#22], [" +
            dir.file("b ChromaticMultiSample,3.wav") + "#23]\n",
        "[" + dir.file("a Loop.wav") + "#2]\n\tlength 0.50s, resampling to 44100Hz, pitching down 0 semitones\n"}) {
    EXPECT_NE(r.out.find(line), std::string::npos) << line << r.out;
  }
  inspect::Pack pack;
  ASSERT_EQ(inspect::read_pack(testing::read_bytes(dir.file("samplepack.aif")), &pack), "");
  EXPECT_EQ(pack.slice_count, 24);
  EXPECT_EQ(pack.keys[0].frame_count(), 22050);
  EXPECT_EQ(pack.keys[1].play_mode, kPlayLoop);
  EXPECT_EQ(pack.keys[3].frame_count(), 4410);
  EXPECT_EQ(pack.keys[3].play_mode, kPlayPlain);
  EXPECT_EQ(pack.keys[3].pitch_raw, 0);  // no chromatic key map

  // Silence before the first onset belongs to the first hit, which starts
  // at frame 0; --trim leaves it out.
  TempDir late("late");
  wav::Bytes quiet_first = bursts(3, 11025);
  std::fill(quiet_first.begin() + 44, quiet_first.begin() + 44 + 2 * 11025, 0);
  late.write("c.wav", quiet_first);
  for (const bool trim : {false, true}) {
    std::vector<std::string> args = {"--slice", late.path};
    if (trim) args.insert(args.begin(), "--trim");
    const testing::RunResult cut = run_program(args);
    EXPECT_NE(cut.out.find("[" + late.file("c.wav") + "] cut into 2 hits, at 0.000s, 0.500s\n"), std::string::npos)
        << cut.out;
    const std::string first = "[" + late.file("c.wav") + "#1]\n\tlength " + (trim ? "0.10s" : "0.50s");
    EXPECT_NE(cut.out.find(first), std::string::npos) << cut.out;
    EXPECT_EQ(cut.out.find("\ttrimmed 0.25s at the start") != std::string::npos, trim) << cut.out;
  }
}

}  // namespace
}  // namespace kitweaver
