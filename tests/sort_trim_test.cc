// The kit the user means: --sort takes the recordings in name order, --trim
// leaves out the silence at their ends before the plan.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

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
}

}  // namespace
}  // namespace kitweaver
