#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kitweaver/byte_order.h"
#include "pack/aiff_writer.h"
#include "pack/drum_metadata.h"
#include "pack/layout.h"
#include "pack/replace_all.h"
#include "pack_support.h"
#include "slice_fixtures.h"

namespace kitweaver {
namespace {

using testing::list_of;

// A record whose slice is already rendered, `frames` frames of `value`.
std::unique_ptr<SampleRecord> rendered_record(std::int32_t frames, std::int16_t value = 7,
                                              const std::string& path = "/kit/a.wav") {
  auto record = std::make_unique<SampleRecord>();
  record->path = path;
  record->resampled.reset(new std::int16_t[static_cast<std::size_t>(frames) + 1]);
  for (std::int32_t i = 0; i < frames; ++i) record->resampled[i] = value;
  record->resampled_bytes = 2 * frames;
  return record;
}

std::unique_ptr<SampleRecord> unrendered_record(const std::string& path = "/kit/x.wav") {
  auto record = std::make_unique<SampleRecord>();
  record->path = path;
  return record;
}

PackJob job_with(std::vector<std::unique_ptr<SampleRecord>> records, bool po33 = false,
                 double seconds = 12.0) {
  PackJob job;
  job.device = po33 ? Device::kPo33 : Device::kOp1;
  job.max_pack_seconds = seconds;
  for (auto& r : records) job.samples[static_cast<std::size_t>(job.sample_count++)] = std::move(r);
  return job;
}

std::vector<std::unique_ptr<SampleRecord>> records_of(std::initializer_list<std::int32_t> frames) {
  std::vector<std::unique_ptr<SampleRecord>> out;
  for (std::int32_t f : frames) out.push_back(rendered_record(f));
  return out;
}

std::uint16_t frame_bytes(const PackBuffer& pack, std::int64_t frame) {
  return load_be16(pack.bytes.get() + 2 * frame);
}

TEST(Layout, OpSlicesEachStartOnThePreviousLastFrame) {
  PackJob job = job_with(records_of({1000, 2000, 500}));
  job.samples[1]->resampled[0] = 1;
  job.samples[2]->resampled[0] = -2;
  PackBuffer pack = lay_out_pack(job);
  ASSERT_EQ(pack.frames, 529200);
  EXPECT_EQ(job.samples[0]->pack_start, 0);
  EXPECT_EQ(job.samples[1]->pack_start, 999);
  EXPECT_EQ(job.samples[2]->pack_start, 2998);
  EXPECT_EQ(job.samples[0]->pack_end, 999);
  EXPECT_EQ(job.samples[1]->pack_end, 2998);
  EXPECT_EQ(job.samples[2]->pack_end, 3497);
  EXPECT_EQ(pack.bytes[2 * 999], 0x00);  // value 1, high byte first
  EXPECT_EQ(pack.bytes[2 * 999 + 1], 0x01);
  EXPECT_EQ(pack.bytes[2 * 2998], 0xFF);  // value -2
  EXPECT_EQ(pack.bytes[2 * 2998 + 1], 0xFE);
  EXPECT_EQ(frame_bytes(pack, 3497), 7);
  for (std::int64_t i = 3498; i < pack.frames; ++i) ASSERT_EQ(frame_bytes(pack, i), 0) << i;
}

TEST(Layout, Po33OpensWithTheToneAndPausesBeforeEachSlice) {
  auto records = records_of({1000});
  records.push_back(unrendered_record());
  records.push_back(rendered_record(2000));
  PackJob job = job_with(std::move(records), true, 5.0);
  job.last_resample_rate = 44100.0;
  PackBuffer pack = lay_out_pack(job);
  ASSERT_EQ(pack.frames, 220500);
  EXPECT_EQ(job.samples[0]->pack_start, 17640);
  EXPECT_EQ(job.samples[0]->pack_end, 18639);
  EXPECT_EQ(job.samples[1]->pack_start, 18639);  // unrendered: no room, no pause
  EXPECT_EQ(job.samples[1]->pack_end, 18639);
  EXPECT_EQ(job.samples[2]->pack_start, 27459);
  EXPECT_EQ(job.samples[2]->pack_end, 29458);
  for (std::int64_t i = 0; i < 8820; ++i) {
    bool even = static_cast<std::int64_t>(static_cast<double>(i) / 100.22727272727273) % 2 == 0;
    ASSERT_EQ(pack.bytes[2 * i], even ? 0x5C : 0xA4) << i;
    ASSERT_EQ(pack.bytes[2 * i + 1], even ? 0x80 : 0x7F) << i;
  }
  EXPECT_EQ(pack.bytes[2 * 100], 0x5C);
  EXPECT_EQ(pack.bytes[2 * 101], 0xA4);
  EXPECT_EQ(pack.bytes[2 * 200], 0xA4);
  EXPECT_EQ(pack.bytes[2 * 201], 0x5C);
  for (std::int64_t i = 8820; i < 17640; ++i) ASSERT_EQ(frame_bytes(pack, i), 0) << i;
  for (std::int64_t i = 18640; i < 27459; ++i) ASSERT_EQ(frame_bytes(pack, i), 0) << i;
}

TEST(Layout, NothingRenderedLeavesOnlyTheFlatTone) {
  std::vector<std::unique_ptr<SampleRecord>> records;
  records.push_back(unrendered_record());
  PackJob job = job_with(std::move(records), true, 3.0);
  PackBuffer pack = lay_out_pack(job);
  for (std::int64_t i = 0; i < 8820; ++i) ASSERT_EQ(frame_bytes(pack, i), 0x5C80) << i;
  for (std::int64_t i = 8820; i < pack.frames; ++i) ASSERT_EQ(frame_bytes(pack, i), 0) << i;
  EXPECT_EQ(job.samples[0]->pack_start, 8820);
  EXPECT_EQ(job.samples[0]->pack_end, 8820);
}

TEST(Layout, FramesOutsideThePackAreNotWritten) {
  // A slice of zero frames takes no room: it starts and ends where the
  // next one starts, never before frame 0. A slice longer than the pack
  // runs past its end, and writes nothing outside it.
  PackJob job = job_with(records_of({0, 3, 200}), false, 0.002);
  job.max_pack_seconds = 2.0 / 441;  // a 200-frame pack
  PackBuffer pack = lay_out_pack(job);
  ASSERT_EQ(pack.frames, 200);
  EXPECT_EQ(job.samples[0]->pack_start, 0);
  EXPECT_EQ(job.samples[0]->pack_end, 0);
  EXPECT_EQ(job.samples[1]->pack_start, 0);
  EXPECT_EQ(job.samples[1]->pack_end, 2);
  EXPECT_EQ(job.samples[2]->pack_end, 201);
  EXPECT_EQ(frame_bytes(pack, 0), 7);
  EXPECT_EQ(frame_bytes(pack, 199), 7);
}

TEST(ReplaceAll, ReplacesEveryNonOverlappingOccurrenceOnce) {
  struct Case {
    const char* source;
    const char* pattern;
    const char* replacement;
    const char* expected;
  };
  const Case cases[] = {
      {"abc", "x", "y", "abc"},
      {"XXabXX", "XX", "1", "1ab1"},
      {"XXXX", "XX", "-", "--"},
      {"aaa", "aa", "b", "ba"},
      {"aaaa", "aa", "b", "bb"},
      {"a.b.c", ".", "", "abc"},
      {"abab", "a", "aa", "aabaab"},
      {"", "x", "y", ""},
      {"key YY07, YY17", "YY07", "-123", "key -123, YY17"},
  };
  for (const Case& c : cases) {
    std::string source = c.source;
    std::optional<std::string> result = replace_all(source, c.pattern, c.replacement);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(*result, c.expected) << c.source << " / " << c.pattern;
    EXPECT_EQ(source, c.source);
  }
  EXPECT_EQ(*replace_all("abc", "", "z"), "abc");
  // Enough occurrences to grow the occurrence list several times.
  std::string many;
  for (int i = 0; i < 700; ++i) many += "<>.";
  std::string expected;
  for (int i = 0; i < 700; ++i) expected += "[]].";
  EXPECT_EQ(*replace_all(many, "<>", "[]]"), expected);
}

TEST(Metadata, TemplateIsFixed) {
  const std::string_view kDrumTemplate = drum_template(TextForm::kSpaced);
  EXPECT_EQ(kDrumTemplate.size(), 1293u);
  EXPECT_EQ(kDrumTemplate.substr(0, 22), "op-1{ \"drum_version\" :");
  EXPECT_NE(kDrumTemplate.find("\"end\" :  [ YY00, YY01,"), std::string::npos);
  EXPECT_NE(kDrumTemplate.find("\"pitch\" : [ ZZ00,"), std::string::npos);
  EXPECT_EQ(kDrumTemplate.find('\n'), std::string::npos);
  EXPECT_EQ(kDrumTemplate.substr(kDrumTemplate.size() - 8), "8192 ] }");
}

// The metadata of a job, with every record at `pitch` unless given.
std::string metadata_of(const PackJob& job, const KeyMap& keys = KeyMap{}) {
  std::optional<std::string> text = build_drum_metadata(job, keys);
  EXPECT_TRUE(text.has_value());
  return text.value_or("");
}

PackJob named_job(std::vector<std::string> paths) {
  std::vector<std::unique_ptr<SampleRecord>> records;
  std::int32_t start = 0;
  for (const std::string& p : paths) {
    auto r = rendered_record(10, 7, p);
    r->pack_start = start;
    r->pack_end = start + 9;
    start += 9;
    records.push_back(std::move(r));
  }
  return job_with(std::move(records));
}

TEST(Metadata, OneFileIsRepeatedReversedAndDetunedOverTheKeys) {
  PackJob job = named_job({"/kit/a.wav"});
  std::string text = metadata_of(job);
  std::vector<std::int64_t> pitch = list_of(text, "pitch");
  std::vector<std::int64_t> reverse = list_of(text, "reverse");
  const int detune[24] = {0, 0, -3, 3, -3, 3, -4, 4, -4, 4, -5, 5, -5, 5, -6, 6, -6, 6, -7, 7, -7, 7, -8, 8};
  const bool reversed[24] = {0, 1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0};
  for (int k = 0; k < 24; ++k) {
    EXPECT_EQ(pitch[static_cast<std::size_t>(k)], detune[k] * 512) << k;
    EXPECT_EQ(reverse[static_cast<std::size_t>(k)], reversed[k] ? 24576 : 8192) << k;
  }
  EXPECT_EQ(list_of(text, "start"), std::vector<std::int64_t>(24, 0));
  EXPECT_EQ(list_of(text, "end"), std::vector<std::int64_t>(24, 36522));  // frame 9
  EXPECT_EQ(list_of(text, "playmode"), std::vector<std::int64_t>(24, 8192));
  EXPECT_EQ(list_of(text, "volume"), std::vector<std::int64_t>(24, 8192));
}

TEST(Metadata, LoopFilesAreDetunedByOctavesAndFifths) {
  PackJob job = named_job({"/kit/pad Loop.wav"});
  job.samples[0]->pitch_semitones = -5;
  std::vector<std::int64_t> pitch = list_of(metadata_of(job), "pitch");
  const int detune[24] = {0,   0,  -12, 12,  -12, 12,  -24, 24,  -24, 24,  -5,  7,
                          -5,  7,  -17, 19,  -17, 19,  -29, 31,  -29, 31,  -41, 43};
  for (int k = 0; k < 24; ++k) EXPECT_EQ(pitch[static_cast<std::size_t>(k)], (detune[k] - 5) * 512) << k;
  EXPECT_EQ(pitch[3], 3584);

  PackJob plain = named_job({"/kit/pad.wav"});
  plain.samples[0]->pitch_semitones = -5;
  EXPECT_EQ(list_of(metadata_of(plain), "pitch")[3], -1024);
  EXPECT_NE(metadata_of(plain).find(", -1024, "), std::string::npos);
}

TEST(Metadata, ThreeTwelveAndTwentyFourFiles) {
  PackJob three = named_job({"/k/a.wav", "/k/b.wav", "/k/c.wav"});
  std::string text = metadata_of(three);
  std::vector<std::int64_t> start = list_of(text, "start");
  std::vector<std::int64_t> pitch = list_of(text, "pitch");
  std::vector<std::int64_t> reverse = list_of(text, "reverse");
  const int detune[8] = {0, 0, -3, 3, -3, 3, -4, 4};
  const bool reversed[8] = {0, 1, 0, 0, 1, 1, 0, 0};
  const std::int64_t starts[3] = {0, 36522, 73044};  // frames 0, 9 and 18: ceil(f x 2147483646 / 529200)
  for (std::size_t k = 0; k < 24; ++k) {
    EXPECT_EQ(start[k], starts[k % 3]) << k;
    EXPECT_EQ(pitch[k], detune[k / 3] * 512) << k;
    EXPECT_EQ(reverse[k], reversed[k / 3] ? 24576 : 8192) << k;
  }

  std::vector<std::string> paths;
  for (int i = 0; i < 24; ++i) paths.push_back("/k/" + std::to_string(i) + ".wav");
  for (std::size_t n : {12u, 17u, 24u}) {
    PackJob job = named_job(std::vector<std::string>(paths.begin(), paths.begin() + static_cast<std::ptrdiff_t>(n)));
    text = metadata_of(job);
    EXPECT_EQ(list_of(text, "pitch"), std::vector<std::int64_t>(24, 0)) << n;
    reverse = list_of(text, "reverse");
    start = list_of(text, "start");
    for (std::size_t k = 0; k < 24; ++k) {
      EXPECT_EQ(reverse[k], k < n ? 8192 : 24576) << n << " " << k;
      // Key k plays slot k mod n, whose slices follow one another.
      EXPECT_EQ(start[k], start[k % n]) << n << " " << k;
      if (k > 0 && k < n) {
        EXPECT_GT(start[k], start[k - 1]) << n << " " << k;
      }
    }
  }
}

// Positions on the devices' scale: 2147483646 is 12 s (529200 frames) of a
// mono pack and 20 s (882000) of a stereo one; a frame is written rounded
// up, and read back rounded, to itself.
TEST(Metadata, PositionsAreOnTheDevicesScale) {
  struct Case {
    std::int64_t frame, scale, position;
  };
  const Case cases[] = {
      {0, kMonoScaleFrames, 0},
      {3968, kMonoScaleFrames, 16102070},  // 16094208 at 4056 per frame
      {17197, kMonoScaleFrames, 69785103},
      {529199, kMonoScaleFrames, 2147479589},  // the last frame of a 12 s pack
      {529200, kMonoScaleFrames, 2147483646},
      {1763999, kMonoScaleFrames, 7158274763},  // the last frame of a 40 s PO-33 pack
      {1764000, kMonoScaleFrames, 7158278820},
      {-1, kMonoScaleFrames, -4057},  // a first slice of no frames ends before frame 0
      {44100, kStereoScaleFrames, 107374183},
      {882000, kStereoScaleFrames, 2147483646},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(position_of_frame(c.frame, c.scale), c.position) << c.frame;
    EXPECT_EQ(frame_of_position(c.position, c.scale), c.frame) << c.frame;
  }
  for (std::int64_t frame = 0; frame < 2 * kStereoScaleFrames; frame += 997) {
    for (std::int64_t scale : {kMonoScaleFrames, kStereoScaleFrames}) {
      ASSERT_EQ(frame_of_position(position_of_frame(frame, scale), scale), frame) << frame;
    }
  }
  // Any stored number is read without overflow.
  EXPECT_EQ(frame_of_position(INT64_MAX, kMonoScaleFrames), 2272896695160000LL);

  // The pack's metadata prints every position in full.
  PackJob job = named_job({"/k/a.wav"});
  job.samples[0]->pack_start = 1763999;
  job.samples[0]->pack_end = 529199;
  std::string text = metadata_of(job);
  EXPECT_EQ(list_of(text, "start")[0], 7158274763);
  EXPECT_EQ(list_of(text, "end")[0], 2147479589);
  EXPECT_NE(text.find("[ 7158274763, "), std::string::npos);
}

TEST(Metadata, PlayModeWordsAreExact) {
  struct Case {
    const char* path;
    std::int32_t mode;
  };
  const Case cases[] = {
      {"/k/Kick Oneshot.wav", 20480},     {"/k/Kick Oneshot hard.wav", 20480},
      {"/k/Kick OneShot.wav", 20480},     {"/k/Kick OneShot hard.wav", 8192},
      {"/k/Kick ONESHOT.wav", 20480},     {"/k/Kick oneshot.wav", 20480},
      {"/k/Kick oneShot.wav", 8192},      {"/k/Oneshot.wav", 8192},
      {"/k/Kick Oneshots.wav", 8192},     {"/k/Pad Loop.wav", 24576},
      {"/k/Pad LOOP 2.wav", 24576},       {"/k/Pad loop.wav", 24576},
      {"/k/Pad Looped.wav", 8192},        {"/k/Pad Oneshot Loop.wav", 20480},
      {"/k/my Loop kit/pad.wav", 24576},
  };
  for (const Case& c : cases) EXPECT_EQ(play_mode_of(c.path), c.mode) << c.path;

  // A directory named with a loop word makes every file a loop file, for the
  // play mode and the detune alike.
  PackJob job = named_job({"/k/my Loop kit/a.wav"});
  std::string text = metadata_of(job);
  EXPECT_EQ(list_of(text, "playmode"), std::vector<std::int64_t>(24, 24576));
  EXPECT_EQ(list_of(text, "pitch")[2], -12 * 512);
}

TEST(Metadata, FillsTheTemplateInPlaceAndNothingElse) {
  PackJob job = named_job({"/k/a.wav", "/k/b Oneshot.wav"});
  job.samples[1]->pitch_semitones = -3;
  std::string expected(drum_template(TextForm::kSpaced));
  std::string text = metadata_of(job);
  const char* families[] = {"start", "end", "pitch", "reverse", "playmode"};
  const char* letters[] = {"XX", "YY", "ZZ", "VV", "WW"};
  for (int f = 0; f < 5; ++f) {
    std::vector<std::int64_t> values = list_of(text, families[f]);
    for (int k = 0; k < 24; ++k) {
      char name[5];
      std::snprintf(name, sizeof name, "%s%02d", letters[f], k);
      expected.replace(expected.find(name), 4, std::to_string(values[static_cast<std::size_t>(k)]));
    }
  }
  EXPECT_EQ(text, expected);
}

TEST(Aiff, HeaderFollowsTheChunkTable) {
  for (auto [seconds, frames, ssnd] : {std::tuple{12.0, 529200u, 1058408u}, std::tuple{5.0, 220500u, 441008u}}) {
    std::string text(1293, 'm');
    PackBuffer pack;
    pack.frames = static_cast<std::int32_t>(frames);
    std::vector<std::uint8_t> header = pack_header_bytes(pack, text);
    const std::uint8_t* h = header.data();
    EXPECT_EQ(std::string(h, h + 4), "FORM");
    EXPECT_EQ(std::string(h + 8, h + 16), "AIFFCOMM");
    EXPECT_EQ(load_be32(h + 16), 18u);
    EXPECT_EQ(load_be16(h + 20), 1u);
    EXPECT_EQ(load_be32(h + 22), frames);
    EXPECT_EQ(load_be16(h + 26), 16u);
    const std::uint8_t rate[10] = {0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::vector<std::uint8_t>(h + 28, h + 38), std::vector<std::uint8_t>(rate, rate + 10));
    EXPECT_EQ(std::string(h + 38, h + 42), "APPL");
    EXPECT_EQ(load_be32(h + 42), 1296u);  // 1293 rounded up to a multiple of 4
    EXPECT_EQ(std::string(h + 46 + 1293, h + 46 + 1296), "   ");
    EXPECT_EQ(std::string(h + 46 + 1296, h + 50 + 1296), "SSND");
    EXPECT_EQ(load_be32(h + 50 + 1296), ssnd);
    EXPECT_EQ(load_be32(h + 54 + 1296), 0u);
    EXPECT_EQ(load_be32(h + 58 + 1296), 0u);
    ASSERT_EQ(header.size(), 62u + 1296);
    EXPECT_EQ(load_be32(h + 4), 56 + 1296 + 2 * frames);
  }
  PackBuffer hundred;
  hundred.frames = 100;
  std::vector<std::uint8_t> exact = pack_header_bytes(hundred, std::string(1296, 'm'));
  EXPECT_EQ(load_be32(exact.data() + 42), 1296u);
  EXPECT_EQ(exact.size(), 62u + 1296);
}

}  // namespace
}  // namespace kitweaver
