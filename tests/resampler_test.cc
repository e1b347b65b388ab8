#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "slice/resampler.h"
#include "slice/resampler_reference.h"
#include "slice_fixtures.h"
#include "wav_builder.h"

namespace kitweaver {
namespace {

using testing::le16_bytes;
using testing::make_record;
using testing::rendered;

ChordNotes notes(std::initializer_list<std::int32_t> offsets) {
  ChordNotes chord;
  chord.note_count = static_cast<std::int32_t>(offsets.size());
  std::size_t i = 0;
  for (std::int32_t n : offsets) chord.semitones[i++] = n;
  return chord;
}

std::vector<std::int16_t> ramp(int frames) {
  std::vector<std::int16_t> s(static_cast<std::size_t>(frames));
  for (int i = 0; i < frames; ++i) s[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(i * 7 - 900);
  return s;
}

TEST(Resampler, SameRateIsTheIdentity) {
  std::vector<std::int16_t> source = ramp(300);
  auto record = make_record(le16_bytes(source), 1, 16, 44100);
  render_slice(*record, 44100.0, 300, ChordNotes{});
  EXPECT_EQ(rendered(*record), source);
  EXPECT_EQ(record->resampled_bytes, 600);
}

TEST(Resampler, HalfRateWeighsNeighbours121) {
  std::vector<std::int16_t> source = ramp(200);
  for (std::size_t i = 0; i < source.size(); i += 3) source[i] = static_cast<std::int16_t>(-source[i]);
  auto record = make_record(le16_bytes(source), 1, 16, 44100);
  render_slice(*record, 22050.0, 100, ChordNotes{});
  std::vector<std::int16_t> out = rendered(*record);
  EXPECT_EQ(out[0], static_cast<std::int16_t>((source[0] + source[1]) / 2.0));
  for (std::size_t i = 1; i < 99; ++i) {
    double mean = (32.0 * source[2 * i - 1] + 64.0 * source[2 * i] + 32.0 * source[2 * i + 1]) / 128.0;
    EXPECT_EQ(out[i], static_cast<std::int16_t>(mean)) << i;
  }
}

TEST(Resampler, DecodesEveryDepthAndChannelLayout) {
  auto value = [](std::vector<std::uint8_t> bytes, int channels, int bits, SampleEncoding encoding = {}) {
    auto record = make_record(bytes, channels, bits, 8000);
    record->encoding = encoding;
    return source_frame_value(source_view(*record), 0);
  };
  EXPECT_EQ(value({128}, 1, 8), 0.0);
  EXPECT_EQ(value({0}, 1, 8), -32768.0);
  EXPECT_EQ(value({255}, 1, 8), 32512.0);
  EXPECT_EQ(value({0, 255}, 2, 8), -128.0);
  EXPECT_EQ(value({0x34, 0x12}, 1, 16), 0x1234);
  EXPECT_EQ(value({0x12, 0x34, 0x56}, 1, 24), 22068.0);
  EXPECT_EQ(value({0x00, 0x00, 0x80}, 1, 24), -32768.0);
  EXPECT_EQ(value({0xFF, 0x00, 0x00, 0x80}, 1, 32), -32768.0);
  EXPECT_EQ(value({0x99, 0x88, 0x34, 0x12}, 1, 32), 0x1234);
  EXPECT_EQ(value(le16_bytes({1000, -1001}), 2, 16), -0.5);
  EXPECT_EQ(value({0, 0x10, 0, 0, 0x20, 0}, 2, 24), (0x10 + 0x20) * 0.5);
  EXPECT_EQ(value(le16_bytes({100, 200, 301}), 3, 16), 601.0 / 3);
  EXPECT_EQ(value(le16_bytes({4, 4, 4, 4, 4, 4, -6}), 7, 16), 18.0 / 7);
  // A frame cut short by the end of the data is silence.
  EXPECT_EQ(value({0x10, 0x20, 0x30}, 2, 16), 0.0);

  // AIFF: big-endian, 8-bit samples signed; AIFC "sowt": little-endian, signed.
  const SampleEncoding big{true, true, false}, sowt{false, true, false};
  EXPECT_EQ(value({0x12, 0x34}, 1, 16, big), 0x1234);
  EXPECT_EQ(value({0x56, 0x34, 0x12}, 1, 24, big), 0x5634);
  EXPECT_EQ(value({0x80, 0x00, 0x00}, 1, 24, big), -32768.0);
  EXPECT_EQ(value({0x12, 0x34, 0x88, 0x99}, 1, 32, big), 0x1234);
  EXPECT_EQ(value({0x80, 0x7F}, 2, 8, big), -128.0);
  EXPECT_EQ(value({0x00}, 1, 8, sowt), 0.0);
  EXPECT_EQ(value({0x7F}, 1, 8, sowt), 32512.0);

  // Float: floor(x x 32768), clamped, NaN as 0; so s / 32768 gives s, and a
  // 24-bit sample s / 2^23 gives s's upper 16 bits.
  const SampleEncoding float_le{false, false, true}, float_be{true, true, true};
  auto f32 = [&](double x, SampleEncoding e = {false, false, true}) { return value(wav::float_samples({x}, 32, e.big_endian), 1, 32, e); };
  auto f64 = [&](double x) { return value(wav::float_samples({x}, 64, true), 1, 64, float_be); };
  EXPECT_EQ(f32(0.5), 16384.0);
  EXPECT_EQ(f32(-12345 / 32768.0), -12345.0);
  EXPECT_EQ(f32(-1234567 / 8388608.0, float_be), -1234567 >> 8);
  EXPECT_EQ(f32(-1.0), -32768.0);
  EXPECT_EQ(f32(1.0), 32767.0);
  EXPECT_EQ(f32(-1e-9), -1.0);
  EXPECT_EQ(f32(std::numeric_limits<double>::quiet_NaN()), 0.0);
  EXPECT_EQ(f64(0.25), 8192.0);
  EXPECT_EQ(f64(1e300), 32767.0);
  EXPECT_EQ(f64(-std::numeric_limits<double>::infinity()), -32768.0);
  EXPECT_EQ(value(wav::float_samples({0.5, -0.25}, 64), 2, 64, float_le), (16384.0 - 8192.0) * 0.5);
  // Float of another width is silence.
  EXPECT_EQ(value({0, 0, 0x40}, 1, 24, float_le), 0.0);
}

TEST(Resampler, StereoMeanTruncatesTowardZero) {
  std::vector<std::int16_t> frames;
  for (int i = 0; i < 20; ++i) {
    frames.push_back(1000);
    frames.push_back(-1001);
  }
  auto record = make_record(le16_bytes(frames), 2, 16, 44100);
  render_slice(*record, 44100.0, 20, ChordNotes{});
  EXPECT_EQ(rendered(*record), std::vector<std::int16_t>(20, 0));
}

TEST(Resampler, MissingDataIsSilenceOfThePlannedLength) {
  // Header promises 100 frames, the file holds 10.
  std::vector<std::int16_t> source(10, 5000);
  auto record = make_record(le16_bytes(source), 1, 16, 44100, 200);
  render_slice(*record, 44100.0, 100, ChordNotes{});
  std::vector<std::int16_t> out = rendered(*record);
  ASSERT_EQ(out.size(), 100u);
  for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(out[i], 5000) << i;
  for (std::size_t i = 10; i < 100; ++i) EXPECT_EQ(out[i], 0) << i;

  auto single = make_record(le16_bytes({1234}), 1, 16, 44100);
  render_slice(*single, 44100.0, 4, ChordNotes{});
  EXPECT_EQ(rendered(*single), std::vector<std::int16_t>(4, 0));

  auto empty = make_record(le16_bytes(ramp(50)), 1, 16, 44100);
  render_slice(*empty, 44100.0, 0, ChordNotes{});
  EXPECT_NE(empty->resampled, nullptr);
  EXPECT_EQ(empty->resampled_bytes, 0);
}

TEST(Resampler, PositiveChordOffsetsSoundHigher) {
  EXPECT_EQ(stretch_ratio(0), 1.0);
  EXPECT_EQ(stretch_ratio(4), 0.7937);
  EXPECT_EQ(stretch_ratio(7), 0.667420455);
  EXPECT_EQ(stretch_ratio(12), 0.5);
  EXPECT_EQ(stretch_ratio(13), 0.943875 / 2);
  EXPECT_EQ(stretch_ratio(-12), 2.0);
  EXPECT_EQ(stretch_ratio(-1), 2 * 0.529731818);
  EXPECT_EQ(stretch_ratio(-13), 4 * 0.529731818);
  EXPECT_EQ(stretch_ratio(std::numeric_limits<std::int32_t>::max()), 0.0);
  EXPECT_TRUE(std::isinf(stretch_ratio(std::numeric_limits<std::int32_t>::min())));

  // A copy an octave up is half as long: it fills the first half only, and
  // the second half holds the recording alone, divided by the note count.
  std::vector<std::int16_t> flat(400, 1000);
  auto up = make_record(le16_bytes(flat), 1, 16, 44100);
  render_slice(*up, 44100.0, 400, notes({0, 12}));
  std::vector<std::int16_t> out = rendered(*up);
  EXPECT_EQ(out[10], 1000);
  EXPECT_EQ(out[190], 1000);
  EXPECT_EQ(out[210], 500);
  EXPECT_EQ(out[390], 500);

  // An octave down is twice as long: the whole slice holds the first half of
  // the source, each frame played twice.
  std::vector<std::int16_t> source = ramp(400);
  auto down = make_record(le16_bytes(source), 1, 16, 44100);
  render_slice(*down, 44100.0, 400, notes({-12}));
  out = rendered(*down);
  for (std::size_t i = 2; i < 398; i += 2) {
    EXPECT_NEAR(out[i], source[i / 2], 7) << i;
  }
}

TEST(Resampler, ExtremeOffsetsAndRatesStayDefined) {
  auto record = make_record(le16_bytes(ramp(100)), 1, 16, 44100);
  render_slice(*record, 44100.0, 100,
               notes({std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(),
                      600, -600}));
  ASSERT_NE(record->resampled, nullptr);
  // Offsets far up squeeze the whole source onto frame 0; far down, only
  // position 0 lands inside the slice; the infinite stretch lands nowhere.
  double sum = 0;
  std::vector<std::int16_t> source = ramp(100);
  for (std::size_t k = 0; k < 99; ++k) sum += 64.0 * source[k];
  sum += 32.0 * source[99] - 32.0 * source[0];
  std::vector<std::int16_t> out = rendered(*record);
  double squeezed = sum / (64.0 * 99);
  EXPECT_EQ(out[0], static_cast<std::int16_t>((squeezed + squeezed + source[0]) / 4));
  for (std::size_t i = 1; i < out.size(); ++i) EXPECT_EQ(out[i], 0) << i;
}

}  // namespace
}  // namespace kitweaver
