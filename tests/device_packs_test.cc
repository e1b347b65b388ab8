// Packs as the devices and other tools write them (device_packs.h): each
// opens with the frames a device plays, its warnings, a --set that changes
// one value and keeps every other byte, and --rescale.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

#include "device_packs.h"
#include "format/pack_chunks.h"
#include "intake/wav_reader.h"
#include "test_support.h"
#include "viewer/pack_reader.h"

namespace kitweaver {
namespace {

using testing::DevicePack;
using testing::KeyLists;
using testing::TempDir;

struct Expected {
  std::vector<std::string> warnings;
  std::string set;                          // a --set on one key
  std::function<void(KeyLists&)> edit;      // what it changes
};

const std::map<std::string, Expected>& expectations() {
  static const std::map<std::string, Expected> table = {
      {"OP-1 field, stereo",
       {{}, "1:pitch=+1,end=294000", [](KeyLists& v) { v[testing::kPitchList][1] = 512; }}},
      {"OP-1, sampled", {{}, "23:mode=loop", [](KeyLists& v) { v[testing::kModeList][23] = kPlayLoop; }}},
      {"drum utility",
       {{"keys 2, 5, 8, 11: end past the sound's end, at frame 120000 of 100000; played up to the end"},
        "0:direction=reversed",
        [](KeyLists& v) { v[testing::kReverseList][0] = kReversed; }}},
      {"OP-Z, edited", {{}, "5:start=300000,pitch=-2", [](KeyLists& v) { v[testing::kPitchList][5] = -1024; }}},
      {"Kitweaver 1.0",
       {{"positions are written at 4056 per frame, as older tools wrote them: a device plays the last slice 258 "
         "frames early (kitweaver-inspect --rescale rewrites them)"},
        "0:pitch=+1",
        [](KeyLists& v) { v[testing::kPitchList][0] = 512; }}},
  };
  return table;
}

TEST(DevicePacks, OpenEditAndRescaleAsTheDevicesWriteThem) {
  for (const DevicePack& shape : testing::device_packs()) {
    SCOPED_TRACE(shape.name);
    const Expected& expected = expectations().at(shape.name);
    TempDir dir("packs");
    const wav::Bytes bytes = testing::device_pack_bytes(shape, shape.lists);
    dir.write("pack.aif", bytes);

    inspect::Pack pack;
    ASSERT_EQ(inspect::read_pack(bytes, &pack), "");
    EXPECT_EQ(pack.channels, shape.channels);
    EXPECT_EQ(pack.held_frames(), shape.frames);
    EXPECT_EQ(pack.scale_frames, shape.channels == 2 ? 882000 : 529200);
    for (std::size_t k = 0; k < 24; ++k) {
      EXPECT_EQ(pack.keys[k].start_frame, shape.start_frames[k]) << k;
      EXPECT_EQ(pack.keys[k].end_frame, shape.end_frames[k]) << k;
      EXPECT_EQ(pack.keys[k].reverse, shape.lists[testing::kReverseList][k]) << k;
      EXPECT_EQ(pack.keys[k].play_mode, shape.lists[testing::kModeList][k]) << k;
    }
    EXPECT_EQ(pack.warnings, expected.warnings);

    // One --set: the value it names, and every other byte as it was.
    const testing::RunResult set = testing::run_program(
        {"--set", expected.set, "-o", dir.file("set.aif"), dir.file("pack.aif")}, KITWEAVER_INSPECT_BINARY);
    EXPECT_EQ(set.status, 0);
    KeyLists edited = shape.lists;
    expected.edit(edited);
    EXPECT_EQ(testing::read_bytes(dir.file("set.aif")), testing::device_pack_bytes(shape, edited));

    // --rescale rewrites only a pack at 4056 per frame, and only its positions.
    const testing::RunResult rescale =
        testing::run_program({"--rescale", "-o", dir.file("rescaled.aif"), dir.file("pack.aif")}, KITWEAVER_INSPECT_BINARY);
    EXPECT_EQ(rescale.status, 0);
    if (pack.scale != inspect::PositionScale::kOlder) {
      EXPECT_EQ(rescale.out, dir.file("pack.aif") + ": positions already on the devices' scale; left as it is\n");
      EXPECT_FALSE(std::filesystem::exists(dir.file("rescaled.aif")));
      continue;
    }
    EXPECT_EQ(rescale.out, "Wrote " + dir.file("rescaled.aif") +
                               ": positions rescaled from 4056 per frame to the devices' scale\n");
    KeyLists rescaled = shape.lists;
    for (auto list : {testing::kStartList, testing::kEndList}) {
      for (std::int64_t& position : rescaled[list]) position = position_of_frame(position / 4056, kMonoScaleFrames);
    }
    const wav::Bytes out = testing::read_bytes(dir.file("rescaled.aif"));
    EXPECT_EQ(out, testing::device_pack_bytes(shape, rescaled));
    inspect::Pack again;
    ASSERT_EQ(inspect::read_pack(out, &again), "");
    EXPECT_TRUE(again.warnings.empty());
    EXPECT_EQ(again.keys[5].end_frame, 529194);  // the last slice's end, where Kitweaver 1.0 put it
  }
}

// A stereo kit of 20 s is heard, taken out and drawn in stereo.
TEST(DevicePacks, StereoKitIsAuditionedAndExtractedInStereo) {
  const DevicePack field = testing::device_packs().front();
  ASSERT_EQ(field.channels, 2);
  TempDir dir("field");
  dir.write("pack.aif", testing::device_pack_bytes(field, field.lists));
  const std::string pack = dir.file("pack.aif");
  ASSERT_EQ(testing::run_program({pack, "--audition", dir.file("heard.wav"), "--keys", "0", "--svg", dir.file("pack.svg")},
                                 KITWEAVER_INSPECT_BINARY).status, 0);
  ASSERT_EQ(testing::run_program({pack, "--extract", dir.file("slices"), "--raw"}, KITWEAVER_INSPECT_BINARY).status, 0);
  // Key 0 plays frames 0 to 147000 forwards at its own pitch: left and
  // right as stored. Its slice taken out stops before frame 147000, where
  // the next slice starts.
  for (const auto& [wav, frames] : {std::pair{dir.file("heard.wav"), 147001u},
                                    std::pair{dir.file("slices/01 keys 0 6 12 18.wav"), 147000u}}) {
    SCOPED_TRACE(wav);
    const wav::Bytes bytes = testing::read_bytes(wav);
    WavLayout layout;
    ByteSource source{bytes.data(), bytes.size()};
    ASSERT_EQ(read_wav_header(source, &layout), WavVerdict::kAccepted);
    EXPECT_EQ(layout.channels, 2);
    ASSERT_EQ(layout.data_bytes, 4 * frames);
    for (std::uint32_t i : {0u, 1u, 99999u, frames - 1}) {
      for (int c = 0; c < 2; ++c) {
        EXPECT_EQ(static_cast<std::int16_t>(load_le16(bytes.data() + layout.data_offset + 4 * i + 2 * c)),
                  testing::device_sample(i, c)) << i << " " << c;
      }
    }
  }
  const wav::Bytes svg = testing::read_bytes(dir.file("pack.svg"));
  const std::string picture(svg.begin(), svg.end());
  std::size_t slices = 0;
  for (std::size_t at = picture.find("class=\"slice\""); at != std::string::npos; at = picture.find("class=\"slice\"", at + 1)) {
    ++slices;
  }
  EXPECT_EQ(slices, 6u);
  // A lane for each channel, each with its own waveform.
  EXPECT_NE(picture.find("<path class=\"wave\" data-channel=\"0\" d=\"M20 90.8V"), std::string::npos);
  EXPECT_NE(picture.find("<path class=\"wave\" data-channel=\"1\" d=\"M20 190.8V"), std::string::npos);
  EXPECT_EQ(picture.find("data-channel=\"2\""), std::string::npos);
}

// Slices laid end to end share a frame: each taken out stops before the next
// one's first, the last runs to its end, and an empty one is not written.
TEST(DevicePacks, ExtractedSlicesStopBeforeTheNextOne) {
  const std::map<std::string, std::vector<std::uint32_t>> frames_of = {
      {"drum utility", {39999, 40001, 20000}},  // 0-39998, 39999-79999, 80000-99999; keys 12-23 empty
      {"OP-1, sampled", {132300, 132300, 132300, 132300}},
  };
  for (const DevicePack& shape : testing::device_packs()) {
    if (frames_of.count(shape.name) == 0) continue;
    SCOPED_TRACE(shape.name);
    TempDir dir("packs");
    dir.write("pack.aif", testing::device_pack_bytes(shape, shape.lists));
    ASSERT_EQ(testing::run_program({dir.file("pack.aif"), "--extract", dir.file("out"), "--raw"}, KITWEAVER_INSPECT_BINARY).status, 0);
    std::vector<std::uint32_t> frames;
    for (const std::string& name : testing::listing_order(dir.file("out"))) {
      const wav::Bytes bytes = testing::read_bytes(dir.file("out") + kPathSeparator + name);
      WavLayout layout;
      ByteSource source{bytes.data(), bytes.size()};
      ASSERT_EQ(read_wav_header(source, &layout), WavVerdict::kAccepted);
      frames.push_back(static_cast<std::uint32_t>(layout.data_bytes / 2));
    }
    std::sort(frames.begin(), frames.end(), std::greater<>());
    std::vector<std::uint32_t> expected = frames_of.at(shape.name);
    std::sort(expected.begin(), expected.end(), std::greater<>());
    EXPECT_EQ(frames, expected);
  }
}

// The one reading of a pack's chunks, on every shape the devices and other
// tools write: the common chunk's frames, where the sound and the text are,
// and whether the text is a drum patch.
TEST(DevicePacks, OneReadingFindsEveryChunk) {
  for (const testing::DevicePack& shape : testing::device_packs()) {
    SCOPED_TRACE(shape.name);
    const wav::Bytes bytes = testing::device_pack_bytes(shape, shape.lists);
    ByteSource source;
    source.bytes = bytes.data();
    source.size = bytes.size();
    PackChunks chunks;
    ASSERT_TRUE(read_pack_chunks(source, &chunks));
    EXPECT_EQ(chunks.aifc, shape.aifc);
    EXPECT_EQ(chunks.comm.channels, static_cast<std::uint32_t>(shape.channels));
    EXPECT_EQ(chunks.comm.frames, shape.frames);
    EXPECT_EQ(chunks.comm.whole_hz, 44100u);
    EXPECT_EQ(chunks.sound_held, 2u * static_cast<std::uint32_t>(shape.channels) * shape.frames + shape.ssnd_extra);
    ASSERT_TRUE(chunks.have_text);
    EXPECT_TRUE(chunks.drum);
    // The text stands at its offset, up to its first zero byte.
    const std::string text = shape.text(shape.lists);
    EXPECT_EQ(chunks.text, text.substr(0, text.find('\0')));
    EXPECT_EQ(std::string(bytes.begin() + static_cast<std::ptrdiff_t>(chunks.text_at),
                          bytes.begin() + static_cast<std::ptrdiff_t>(chunks.text_end)),
              chunks.text);
    EXPECT_EQ(std::string(bytes.begin() + static_cast<std::ptrdiff_t>(chunks.text_at) - 4,
                          bytes.begin() + static_cast<std::ptrdiff_t>(chunks.text_at)),
              "op-1");
  }
}

}  // namespace
}  // namespace kitweaver
