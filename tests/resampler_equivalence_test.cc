#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "slice/planner.h"
#include "slice/resampler.h"
#include "slice/resampler_reference.h"
#include "slice_fixtures.h"

namespace kitweaver {
namespace {

struct Case {
  int channels;
  int bits;
  int sample_rate;
  double rate;
  std::int64_t frames_in_file;
  std::int32_t declared_frames;
  std::int32_t output_frames;
  std::vector<std::int32_t> offsets;
  SampleEncoding encoding = {};
};

std::string describe(const Case& c) {
  std::string out = std::to_string(c.channels) + "ch " + std::to_string(c.bits) + "bit" +
                    (c.encoding.floating ? " float" : "") + (c.encoding.big_endian ? " big" : "") +
                    (c.encoding.signed_bytes ? " signed " : " ") +
                    std::to_string(c.sample_rate) + "Hz -> " + std::to_string(c.rate) + "Hz, " +
                    std::to_string(c.frames_in_file) + "/" + std::to_string(c.declared_frames) + " frames -> " +
                    std::to_string(c.output_frames) + ", offsets";
  for (std::int32_t o : c.offsets) out += " " + std::to_string(o);
  return out;
}

// Renders through the streaming scatter, reading the file in pieces of
// awkward sizes (a byte now and then, a frame minus one, a prime, whole
// reads), and compares with the literal walk: the mix of all notes before
// truncation, so every bit of every average counts, and the finished slice.
void expect_same(const Case& c, std::mt19937& random, bool byte_reads = true) {
  const int width = c.bits / 8;
  std::vector<std::uint8_t> pcm(static_cast<std::size_t>(c.frames_in_file * c.channels * width));
  for (std::uint8_t& b : pcm) b = static_cast<std::uint8_t>(random());
  const std::int32_t declared = c.declared_frames * c.channels * width;
  auto record = testing::make_record(pcm, c.channels, c.bits, c.sample_rate, declared);
  record->encoding = c.encoding;
  ChordNotes chord;
  chord.note_count = static_cast<std::int32_t>(c.offsets.size());
  for (std::size_t i = 0; i < c.offsets.size(); ++i) chord.semitones[i] = c.offsets[i];

  const SourceView source = source_view(*record);
  const auto n = static_cast<std::size_t>(c.output_frames);
  std::vector<double> literal(n + 1, 0.0), sum(n + 1, 0.0);
  std::vector<std::int64_t> hits(n + 1, 0);
  for (std::int32_t offset : c.offsets) {
    add_note_average_literal(source, c.rate / c.sample_rate, stretch_ratio(offset), c.output_frames,
                             literal.data(), sum.data(), hits.data());
  }
  auto reference = testing::make_record(pcm, c.channels, c.bits, c.sample_rate, declared);
  reference->encoding = c.encoding;
  render_slice_literal(*reference, c.rate, c.output_frames, chord);

  std::vector<std::size_t> read_sizes = {static_cast<std::size_t>(c.channels * width) + 1, 4099, kReadBytes};
  if (c.channels * width > 1) read_sizes.push_back(static_cast<std::size_t>(c.channels * width) - 1);
  if (byte_reads) read_sizes.push_back(1);
  for (std::size_t read_bytes : read_sizes) {
    record->source.method.sound_bytes = read_bytes;
    std::vector<double> mix(n + 1, 0.0);
    ASSERT_EQ(mix_notes(*record, c.rate, c.output_frames, chord, mix.data()), 0);
    ASSERT_EQ(std::memcmp(mix.data(), literal.data(), n * sizeof(double)), 0)
        << describe(c) << ", reads of " << read_bytes;
    ASSERT_EQ(render_slice(*record, c.rate, c.output_frames, chord), 0);
    ASSERT_EQ(testing::rendered(*record), testing::rendered(*reference))
        << describe(c) << ", reads of " << read_bytes;
  }
}

TEST(ResamplerEquivalence, FastScatterMatchesTheLiteralOneOnRandomSlices) {
  std::mt19937 random(20261207);
  std::mt19937 formats(26);  // every stored layout: byte orders, signed bytes, floats
  const int rates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000, 88200, 96000, 176400, 192000};
  for (int round = 0; round < 300; ++round) {
    Case c;
    c.channels = 1 + static_cast<int>(random() % 4);
    c.bits = 8 * (1 + static_cast<int>(random() % 4));
    c.encoding = {formats() % 2 == 0, formats() % 2 == 0, formats() % 3 == 0};
    if (c.encoding.floating) c.bits = formats() % 2 == 0 ? 32 : 64;
    c.sample_rate = round % 3 == 0 ? 8000 + static_cast<int>(random() % 184001) : rates[random() % 11];
    c.rate = note_frequency(21 + static_cast<int>(random() % 49)) * 44100.0 / 440.0;
    c.declared_frames = static_cast<std::int32_t>(random() % 2500);
    // Sources shorter than their headers say, now and then.
    c.frames_in_file = round % 4 == 0 ? static_cast<std::int64_t>(random() % (c.declared_frames + 1))
                                      : c.declared_frames;
    double planned = std::trunc(c.rate / 44100.0 * c.declared_frames / c.sample_rate * 44100.0);
    c.output_frames = static_cast<std::int32_t>(planned) + static_cast<std::int32_t>(random() % 3);
    std::size_t notes = 1 + random() % 4;
    for (std::size_t i = 0; i < notes; ++i) c.offsets.push_back(static_cast<std::int32_t>(random() % 49) - 24);
    expect_same(c, random, round % 5 == 0);
  }
}

TEST(ResamplerEquivalence, MappedValuesOnExactHalves) {
  // Q / S of 1/2, 1/4 and 2 with octave copies put many mapped values
  // exactly on i + 1/2, where rounding goes away from zero.
  // A single note at Q = S or S / 2^n is rendered by exact runs.
  std::mt19937 random(7);
  for (double q_over_s : {0.5, 0.25, 0.0625, 1.0, 2.0}) {
    for (int channels : {1, 2, 3}) {
      for (const std::vector<std::int32_t>& offsets : {std::vector<std::int32_t>{0}, {0, 12, -12, 24}}) {
        Case c{channels, 16, 44100, 44100.0 * q_over_s, 801, 801, 0, offsets};
        c.output_frames = static_cast<std::int32_t>(801 * q_over_s) + 1;
        expect_same(c, random);
      }
    }
  }
}

TEST(ResamplerEquivalence, LargeSumsStayExact) {
  // Every position of a loud 8-bit source lands on frame 0 (the copy is
  // squeezed by 2^-40): sums of -32768 over 64 positions per frame.
  std::mt19937 random(11);
  Case c{1, 8, 192000, 2756.25, 3000, 3000, 10, {480, 0}};
  expect_same(c, random);
  Case stereo{2, 24, 96000, 2756.25, 2000, 2600, 60, {300, -300, 7}};
  expect_same(stereo, random);
}

}  // namespace
}  // namespace kitweaver
