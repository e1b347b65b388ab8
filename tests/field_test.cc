// OP-1 field kits (--field): each side of a stereo recording rendered as a
// mono recording of that channel would be, mono recordings alike on both
// sides, and the file as the field writes its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "test_support.h"
#include "viewer/pack_reader.h"

namespace kitweaver {
namespace {

using testing::TempDir;

// A recording of `frames` frames whose channel c is `value(i, c)`.
template <typename Value>
wav::Bytes recording(int channels, int bits, std::uint32_t rate, std::size_t frames, Value value) {
  wav::WavShape shape;
  shape.channels = static_cast<std::uint16_t>(channels);
  shape.bits_per_sample = static_cast<std::uint16_t>(bits);
  shape.sample_rate = rate;
  for (std::size_t i = 0; i < frames; ++i) {
    for (int c = 0; c < channels; ++c) {
      const std::int32_t v = value(i, c);
      for (int b = 0; b < bits / 8; ++b) shape.data.push_back(static_cast<std::uint8_t>(v >> (8 * b + 32 - bits)));
    }
  }
  return wav::wav_bytes(shape);
}

// A 32-bit value of channel c at frame i: a tone on the left, a slower one
// with a ramp on the right.
std::int32_t stereo_value(std::size_t i, int c) {
  const double t = static_cast<double>(i);
  const double v = c == 0 ? 0.6 * std::sin(t * 0.031) : 0.4 * std::sin(t * 0.0071) + 0.2 * (static_cast<double>(i % 777) / 777.0);
  return static_cast<std::int32_t>(std::lround(v * 2147483647.0));
}

struct Recording {
  const char* name;
  int bits;
  std::uint32_t rate;
  std::size_t frames;
};

// 23 s in all, so every slice is shortened to fit 20 s; a chord among them.
const Recording kRecordings[] = {
    {"a.wav", 16, 44100, 9 * 44100},
    {"b Chord,Cmaj.wav", 24, 48000, 8 * 48000},
    {"c.wav", 16, 44100, 6 * 44100},
};

// The field kit of a folder, read back.
inspect::Pack field_kit(const TempDir& dir, bool hq) {
  std::vector<std::string> args = {"--field", dir.path};
  if (hq) args.insert(args.begin(), "--hq");
  EXPECT_EQ(testing::run_program(args).status, 0);
  inspect::Pack pack;
  EXPECT_EQ(inspect::read_pack(testing::read_bytes(dir.file("samplepack.aif")), &pack), "");
  return pack;
}

std::vector<std::int16_t> side(const inspect::Pack& pack, std::size_t c) {
  std::vector<std::int16_t> values;
  for (std::size_t i = c; i < pack.samples.size(); i += 2) values.push_back(pack.samples[i]);
  return values;
}

TEST(Field, EachSideIsTheKitOfThatChannelAlone) {
  // The stereo recordings, and copies holding only their left or their
  // right channel as mono files of the same names.
  TempDir stereo("stereo"), left("left"), right("right");
  for (const Recording& r : kRecordings) {
    stereo.write(r.name, recording(2, r.bits, r.rate, r.frames, stereo_value));
    left.write(r.name, recording(1, r.bits, r.rate, r.frames, [](std::size_t i, int) { return stereo_value(i, 0); }));
    right.write(r.name, recording(1, r.bits, r.rate, r.frames, [](std::size_t i, int) { return stereo_value(i, 1); }));
  }
  for (bool hq : {false, true}) {
    SCOPED_TRACE(hq ? "--hq" : "default");
    const inspect::Pack kit = field_kit(stereo, hq), lefts = field_kit(left, hq), rights = field_kit(right, hq);
    ASSERT_EQ(kit.channels, 2);
    EXPECT_LT(kit.keys[0].end_frame - kit.keys[0].start_frame, 9 * 44100 - 1000);  // shortened
    EXPECT_EQ(side(kit, 0), side(lefts, 0));
    EXPECT_EQ(side(kit, 1), side(rights, 0));
    EXPECT_NE(side(kit, 0), side(kit, 1));
    EXPECT_EQ(side(lefts, 0), side(lefts, 1));  // a mono recording plays alike on both sides
    for (std::size_t k = 0; k < 24; ++k) {
      EXPECT_EQ(kit.keys[k].start_raw, lefts.keys[k].start_raw) << k;
      EXPECT_EQ(kit.keys[k].end_raw, lefts.keys[k].end_raw) << k;
      EXPECT_EQ(kit.keys[k].pitch_raw, lefts.keys[k].pitch_raw) << k;
    }
  }
}

TEST(Field, MonoRecordingsThatFitGiveTheOp1KitsSlices) {
  TempDir dir("kit");
  dir.write("a.wav", testing::mono16(30000));
  dir.write("b.wav", testing::sine16(50000, 330.0));
  ASSERT_EQ(testing::run_program({dir.path}).status, 0);
  inspect::Pack op1;
  ASSERT_EQ(inspect::read_pack(testing::read_bytes(dir.file("samplepack.aif")), &op1), "");
  const inspect::Pack field = field_kit(dir, false);
  const std::vector<std::int16_t> left = side(field, 0);
  EXPECT_EQ(left, side(field, 1));
  ASSERT_EQ(left.size(), 882000u);
  EXPECT_TRUE(std::equal(op1.samples.begin(), op1.samples.end(), left.begin()));
  EXPECT_TRUE(std::all_of(left.begin() + 529200, left.end(), [](std::int16_t v) { return v == 0; }));
  for (std::size_t k = 0; k < 24; ++k) {
    EXPECT_EQ(field.keys[k].start_frame, op1.keys[k].start_frame) << k;
    EXPECT_EQ(field.keys[k].end_frame, op1.keys[k].end_frame) << k;
  }
}

// The file of a kit of one recording of ten frames, 1 to 10.
TEST(Field, FileIsWrittenAsTheFieldWritesItsOwn) {
  TempDir dir("kit");
  dir.write("a.wav", recording(1, 16, 44100, 10, [](std::size_t i, int) { return static_cast<std::int32_t>(i + 1) << 16; }));
  ASSERT_EQ(testing::run_program({"--field", dir.path}).status, 0);
  const wav::Bytes pack = testing::read_bytes(dir.file("samplepack.aif"));
  const std::string text =
      "op-1{\"attack\":[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0],\"drum_version\":2,"
      "\"dyna_env\":[0,8192,0,0,0,0,0,0],"
      "\"end\":[21914,21914,21914,21914,21914,21914,21914,21914,21914,21914,21914,21914,21914,21914,21914,21914,"
      "21914,21914,21914,21914,21914,21914,21914,21914],"  // frame 9 on the 20 s scale
      "\"fx_active\":false,\"fx_params\":[8000,8000,8000,8000,8000,8000,8000,8000],\"fx_type\":\"delay\","
      "\"lfo_active\":false,\"lfo_params\":[0,0,0,0,0,0,0,0],\"lfo_type\":\"tremolo\",\"mtime\":1796688000,"
      "\"name\":\"user99\",\"octave\":0,"
      "\"pan\":[16384,16384,16384,16384,16384,16384,16384,16384,16384,16384,16384,16384,16384,16384,16384,16384,"
      "16384,16384,16384,16384,16384,16384,16384,16384],"
      "\"pan_ab\":[false,false,false,false,false,false,false,false,false,false,false,false,false,false,false,false,"
      "false,false,false,false,false,false,false,false],"
      "\"pitch\":[0,0,-1536,1536,-1536,1536,-2048,2048,-2048,2048,-2560,2560,-2560,2560,-3072,3072,-3072,3072,"
      "-3584,3584,-3584,3584,-4096,4096],"
      "\"playmode\":[8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,"
      "8192,8192,8192,8192,8192,8192],"
      "\"reverse\":[8192,24576,8192,8192,24576,24576,8192,8192,24576,24576,8192,8192,24576,24576,8192,8192,24576,"
      "24576,8192,8192,24576,24576,8192,8192],"
      "\"start\":[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0],\"stereo\":true,\"type\":\"drum\","
      "\"volume\":[8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,8192,"
      "8192,8192,8192,8192,8192]}\n";
  wav::Bytes expected = {
      'F', 'O', 'R', 'M', 0x00, 0x35, 0xE5, 0xB4,  // 3532212: the file's length - 8
      'A', 'I', 'F', 'C',
      'F', 'V', 'E', 'R', 0, 0, 0, 4, 0xA2, 0x80, 0x51, 0x40,  // AIFC version 1
      'C', 'O', 'M', 'M', 0, 0, 0, 64,
      0x00, 0x02,                                  // two channels
      0x00, 0x0D, 0x75, 0x50,                      // 882000 frames: 20 s
      0x00, 0x10,                                  // 16 bits
      0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0,    // 44100 Hz
      's', 'o', 'w', 't', 41};                     // little-endian, and its name
  const std::string name = "Signed integer (little-endian) linear PCM";
  expected.insert(expected.end(), name.begin(), name.end());
  expected.insert(expected.end(), {'A', 'P', 'P', 'L', 0x00, 0x00, 0x10, 0x04});  // 4100
  expected.insert(expected.end(), text.begin(), text.end());
  expected.resize(expected.size() + 4100 - text.size(), ' ');  // spaces up to 4096 bytes after "op-1"
  expected.insert(expected.end(), {'S', 'S', 'N', 'D', 0x00, 0x35, 0xD5, 0x48, 0, 0, 0, 0, 0, 0, 0, 0});  // 4 x 882000 + 8
  for (std::uint8_t v = 1; v <= 10; ++v) expected.insert(expected.end(), {v, 0, v, 0});  // left, right
  expected.resize(3532220, 0);
  EXPECT_EQ(pack, expected);
}

}  // namespace
}  // namespace kitweaver
