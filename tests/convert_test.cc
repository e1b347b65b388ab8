// Kits made from other kits: a drum pack or an OP-XY preset as the source,
// any device's kit out, each key keeping its slice, pitch, direction and
// play mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "format/drum_format.h"
#include "preset_support.h"
#include "test_support.h"
#include "viewer/pack_reader.h"

namespace kitweaver {
namespace {

using testing::TempDir;
using testing::run_program;
namespace fs = std::filesystem;

inspect::Pack pack_at(const std::string& path) {
  inspect::Pack pack;
  EXPECT_EQ(inspect::read_pack(testing::read_bytes(path), &pack), "") << path;
  return pack;
}

// A key's frames as the pack holds them, from start to end, one channel.
std::vector<std::int16_t> key_frames(const inspect::Pack& pack, const inspect::KeyRow& row) {
  const auto from = pack.samples.begin() + row.start_frame;
  return {from, from + row.frame_count()};
}

// An OP-1 pack made from a folder, taken to the OP-XY: every key's pitch,
// direction and play mode, and samples equal to the pack's slices; taken
// back to the OP-1, the very pack.
TEST(Convert, AnOp1PackThroughTheOpxyAndBack) {
  TempDir dir("kit");
  dir.write("a Oneshot.wav", testing::sine16(3000, 220));
  dir.write("b Loop.wav", testing::sine16(5000, 330));
  dir.write("c.wav", testing::sine16(7001, 440));
  ASSERT_EQ(run_program({dir.path}).status, 0);
  const std::string original = dir.file("samplepack.aif");
  const inspect::Pack pack = pack_at(original);

  const testing::RunResult to_xy = run_program({"--device", "op-xy", original});
  ASSERT_EQ(to_xy.status, 0) << to_xy.out;
  EXPECT_NE(to_xy.out.find("3 slices of [" + original + "] on 24 keys\n"), std::string::npos) << to_xy.out;
  EXPECT_NE(to_xy.out.find("Wrote " + dir.file("samplepack.preset") + "\n"), std::string::npos);
  const std::map<int, nlohmann::json> pads = testing::regions_of(dir.file("samplepack.preset"));
  ASSERT_EQ(pads.size(), 24u);
  const std::map<std::int64_t, std::string> words = {{kPlayPlain, "gate"}, {kPlayOneShot, "oneshot"}, {kPlayLoop, "loop"}};
  for (int k = 0; k < 24; ++k) {
    const inspect::KeyRow& row = pack.keys[static_cast<std::size_t>(k)];
    const nlohmann::json& region = pads.at(k);
    EXPECT_EQ(region["transpose"].get<std::int64_t>() * kPitchScale, row.pitch_raw) << k;
    EXPECT_EQ(region["tune"], 0) << k;
    EXPECT_EQ(region["reverse"].get<bool>(), row.reverse == kReversed) << k;
    EXPECT_EQ(region["playmode"], words.at(row.play_mode)) << k;
    const std::vector<std::int16_t> sample =
        testing::wav_samples(dir.file("samplepack.preset") + kPathSeparator + region["sample"].get<std::string>());
    EXPECT_EQ(sample, key_frames(pack, row)) << k;
  }

  const testing::RunResult back = run_program({dir.file("samplepack.preset")});
  ASSERT_EQ(back.status, 0) << back.out;
  EXPECT_EQ(testing::read_bytes(dir.file("samplepack op-1.aif")), testing::read_bytes(original));
}

// A field kit of 15 s taken to the OP-1's 12 s: the plan's lines, and each
// key's pitch its source pitch plus the correction of 4 semitones down.
TEST(Convert, AFieldKitShortenedForTheOp1) {
  TempDir dir("long");
  wav::WavShape stereo;
  stereo.channels = 2;
  for (int i = 0; i < 44100 * 8; ++i) {
    for (int c = 0; c < 2; ++c) stereo.data.insert(stereo.data.end(), {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(c)});
  }
  dir.write("a.wav", wav::wav_bytes(stereo));
  stereo.data.resize(stereo.data.size() * 7 / 8);
  dir.write("b.wav", wav::wav_bytes(stereo));
  ASSERT_EQ(run_program({"--field", dir.path}).status, 0);
  const inspect::Pack field = pack_at(dir.file("samplepack.aif"));
  const testing::RunResult r = run_program({"-o", dir.file("op1.aif"), dir.file("samplepack.aif")});
  ASSERT_EQ(r.status, 0) << r.out;
  for (const std::string& line : {std::string("\tlength 8.00s, resampling to 35002Hz, pitching down 4 semitones\n"),
                                  std::string("\tlength 7.00s, resampling to 35002Hz, pitching down 4 semitones\n")}) {
    EXPECT_NE(r.out.find(line), std::string::npos) << r.out;
  }
  const inspect::Pack op1 = pack_at(dir.file("op1.aif"));
  EXPECT_EQ(op1.channels, 1);
  for (std::size_t k = 0; k < 24; ++k) {
    EXPECT_EQ(op1.keys[k].pitch_raw, field.keys[k].pitch_raw - 4 * kPitchScale) << k;
    EXPECT_EQ(op1.keys[k].reverse, field.keys[k].reverse) << k;
  }
}

// The hand-written preset (pad 7 empty, pad 2 stereo and reversed, pad 3
// with a gain, pad 5 trimmed to frames 20 to 150, pad 9 "group") with pad 4
// at -2 semitones and 50 cents and pad 6 panned to 50, taken to the OP-1
// and to the field.
TEST(Convert, AHandWrittenPresetToTheOp1AndTheField) {
  TempDir dir("hand.preset");
  std::string json = testing::hand_preset();
  const std::string pad_4 = R"("sample":"pad 4.wav","sample.end":140,"transpose":0,"tune":0)";
  const std::string pad_6 = R"("pan":0,"pitch.keycenter":60,"playmode":"group","reverse":false,"sample":"pad 6.wav")";
  ASSERT_NE(json.find(pad_4), std::string::npos);
  json.replace(json.find(pad_4), pad_4.size(), R"("sample":"pad 4.wav","sample.end":140,"transpose":-2,"tune":50)");
  ASSERT_NE(json.find(pad_6), std::string::npos);
  json.replace(json.find(pad_6), pad_6.size(), std::string(pad_6).replace(6, 1, "50"));
  testing::write_hand_preset(dir, json);

  const testing::RunResult r = run_program({"-o", dir.root + kPathSeparator + "op1.aif", dir.path});
  ASSERT_EQ(r.status, 0) << r.out;
  for (const char* line : {"Key 9: play mode group plays as one-shot, with no mute group\n",
                           "Key 6: pan 50 is not carried: an OP-1 pack has none\n", "Key 3: gain 7 is not carried\n",
                           "23 slices of ["}) {
    EXPECT_NE(r.out.find(line), std::string::npos) << line << r.out;
  }
  const inspect::Pack op1 = pack_at(dir.root + kPathSeparator + "op1.aif");
  struct Expected {
    std::size_t key;
    std::int64_t pitch, reverse, play_mode, frames;
    std::int16_t first;  // the slice's first sample
  };
  // Pad 2's 120 frames plan as 119: the plan's length, 120 / 44100 s at
  // 44100 Hz, comes to 119.99999999999999 frames, truncated.
  const Expected expected[] = {
      {0, 0, kForwards, kPlayPlain, 100, 0},       {1, 0, kForwards, kPlayOneShot, 110, 1000},
      {2, 0, kReversed, kPlayOneShot, 119, 0},     {4, -768, kForwards, kPlayPlain, 140, 4000},
      {5, 0, kForwards, kPlayOneShot, 130, 5020},  {9, 0, kForwards, kPlayOneShot, 190, 9000},
      {11, 0, kForwards, kPlayLoop, 210, 11000},
  };
  for (const Expected& e : expected) {
    const inspect::KeyRow& row = op1.keys[e.key];
    EXPECT_EQ(row.pitch_raw, e.pitch) << e.key;
    EXPECT_EQ(row.reverse, e.reverse) << e.key;
    EXPECT_EQ(row.play_mode, e.play_mode) << e.key;
    EXPECT_EQ(row.frame_count(), e.frames) << e.key;
    EXPECT_EQ(op1.samples[static_cast<std::size_t>(row.start_frame)], e.first) << e.key;
  }
  EXPECT_EQ(op1.keys[7].start_raw, 0);
  EXPECT_EQ(op1.keys[7].end_raw, 0);

  ASSERT_EQ(run_program({"--device", "field", "-o", dir.root + kPathSeparator + "field.aif", dir.path}).status, 0);
  const inspect::Pack field = pack_at(dir.root + kPathSeparator + "field.aif");
  const nlohmann::json text = nlohmann::json::parse(field.chunks.text);
  EXPECT_EQ(text["pan"][6], 24576);
  EXPECT_EQ(text["pan"][5], 16384);
  // The stereo sample keeps its sides on the field: left and right apart.
  const auto at = static_cast<std::size_t>(field.keys[2].start_frame) * 2;
  EXPECT_EQ(field.samples[at], 2000);
  EXPECT_EQ(field.samples[at + 1], -2000);
}

// A source that makes no kit gets one line and leaves nothing written.
TEST(Convert, SourcesThatMakeNoKit) {
  TempDir kit("kit"), po33("po PO-33.3");
  kit.write("a.wav", testing::sine16(3000, 220));
  po33.write("a.wav", testing::sine16(3000, 220));
  ASSERT_EQ(run_program({kit.path}).status, 0);
  ASSERT_EQ(run_program({po33.path}).status, 0);
  // A pack whose pitch list holds 23 numbers (the text keeps its length).
  wav::Bytes short_list = testing::read_bytes(kit.file("samplepack.aif"));
  const std::string spaced(short_list.begin(), short_list.end());
  const std::size_t pitch = spaced.find("\"pitch\" : [ 0, ");
  ASSERT_NE(pitch, std::string::npos);
  std::fill_n(short_list.begin() + static_cast<std::ptrdiff_t>(pitch + 12), 3, ' ');
  kit.write("short.aif", short_list);
  TempDir missing("missing.preset"), not_json("bad.preset");
  testing::write_hand_preset(missing, testing::hand_preset());
  fs::remove(missing.file("pad 4.wav"));
  not_json.write("patch.json", {'{'});

  struct Case {
    std::vector<std::string> args;
    int status;
    std::string line;
  };
  const Case cases[] = {
      {{kit.file("short.aif")}, 1, "Could not read [" + kit.file("short.aif") + "]: the \"pitch\" list does not hold 24 numbers\n"},
      {{missing.path}, 1, "Could not read [" + missing.path + "]: pad 4: sample \"pad 4.wav\" is missing\n"},
      {{not_json.path}, 1, "Could not read [" + not_json.file("patch.json") + "]: not JSON\n"},
      {{po33.file("samplepack.aif")}, 2,
       "[" + po33.file("samplepack.aif") + "] is a PO-33 pack, played into the device and never loaded: no kit is made from it\n"},
      {{"-o", kit.file("samplepack.aif"), kit.file("samplepack.aif")}, 1,
       "Could not write [" + kit.file("samplepack.aif") + "]: it is the source\n"},
  };
  auto entries = [&] {
    return std::vector<std::set<std::string>>{testing::entry_set(kit.path), testing::entry_set(po33.path),
                                              testing::entry_set(missing.root), testing::entry_set(not_json.root)};
  };
  const auto before = entries();
  for (const Case& c : cases) {
    const testing::RunResult r = run_program(c.args);
    EXPECT_EQ(r.status, c.status) << r.out;
    EXPECT_NE(r.out.find(c.line), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Wrote"), std::string::npos) << r.out;
    EXPECT_EQ(entries(), before);
  }
}

}  // namespace
}  // namespace kitweaver
