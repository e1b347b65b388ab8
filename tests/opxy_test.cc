// OP-XY presets (--device op-xy): the files in the device's own form, the
// kit playing as the OP-1 kit of the same folder plays, stereo sides, a
// recording too long for one sample, and where a preset may go.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "format/opxy_preset.h"
#include "format/wav_file.h"
#include "preset_support.h"
#include "test_support.h"

namespace kitweaver {
namespace {

using testing::regions_of;
using testing::wav_samples;

using testing::TempDir;
namespace fs = std::filesystem;

TEST(Opxy, FilesInTheDevicesForm) {
  // A WAV of two stereo frames, field by field.
  const std::int16_t samples[] = {1, -2, 0x1234, -32768};
  const wav::Bytes stereo = wav_file_bytes(samples, 2, 2, true);
  const wav::Bytes expected = {
      'R', 'I', 'F', 'F', 88, 0, 0, 0, 'W', 'A', 'V', 'E',           // container, 96 - 8
      'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0,                    // PCM, 2 channels
      0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0,               // 44100 Hz, 176400 bytes/s, block 4, 16 bits
      's', 'm', 'p', 'l', 36, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // manufacturer, product, period
      60, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // unity note 60, the rest 0
      'd', 'a', 't', 'a', 8, 0, 0, 0, 1, 0, 0xFE, 0xFF, 0x34, 0x12, 0x00, 0x80};
  EXPECT_EQ(stereo, expected);
  const wav::Bytes mono = wav_file_bytes(samples, 1, 1, false);
  EXPECT_EQ(mono.size(), 46u);
  EXPECT_EQ(std::string(mono.begin() + 36, mono.begin() + 40), "data");

  // Names: each character the device refuses (a UTF-8 character, not a
  // byte) is one "-"; names alike but for case get a number.
  const std::vector<std::string> names = sample_file_names({"Kick", "kick", "Snare_01", "Drüm 🥁", "KICK", "a.b"});
  EXPECT_EQ(names, (std::vector<std::string>{"Kick.wav", "kick 2.wav", "Snare-01.wav", "Dr-m -.wav", "KICK 3.wav",
                                             "a-b.wav"}));

  // patch.json: compact, sorted, "\n" at its end, no name.
  PresetRegion region;
  region.pad = 1;
  region.hikey = region.lokey = 54;
  region.sample = "kick 2.wav";
  region.framecount = region.sample_end = 4410;
  region.playmode = "oneshot";
  region.reverse = true;
  region.transpose = -3;
  const std::string text = preset_json({region});
  const std::string tail =
      R"("octave":0,"platform":"OP-XY","regions":[{"fade.in":0,"fade.out":0,"framecount":4410,"hikey":54,)"
      R"("lokey":54,"pan":0,"pitch.keycenter":60,"playmode":"oneshot","reverse":true,"sample":"kick 2.wav",)"
      R"("sample.end":4410,"transpose":-3,"tune":0}],"type":"drum","version":4})"
      "\n";
  ASSERT_GE(text.size(), tail.size());
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
  EXPECT_EQ(text.rfind(R"({"engine":{"bendrange":13653,"highpass":0,)", 0), 0u);

  // A preset written by hand in the device's form reads back, in any order.
  std::vector<PresetRegion> read;
  EXPECT_EQ(read_preset_json(R"({"regions":[{"hikey":60,"sample":"a.wav","gain":7,"sample.start":100,)"
                             R"("framecount":900,"sample.end":800,"playmode":"group","tune":-20}],"type":"drum"})",
                             &read),
            "");
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0].pad, 7);
  EXPECT_EQ(read[0].gain, 7);
  EXPECT_EQ(read[0].sample_start, 100);
  EXPECT_EQ(read[0].playmode, "group");
  EXPECT_EQ(read_preset_json("{", &read), "not JSON");
  EXPECT_EQ(read_preset_json(R"({"type":"synth","regions":[]})", &read), "not an OP-XY drum preset (its type is \"synth\")");
}

// Each key plays as the OP-1 kit of the same folder plays it: its pitch
// less the slot's correction for 12 s (the OP-XY's samples need none here),
// its direction and its play mode.
TEST(Opxy, KitPlaysAsTheOp1KitOfTheFolder) {
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, wav::Bytes>> files;
    int correction;  // of every slot in the OP-1 kit
  };
  const Case cases[] = {
      {"chords, loops, one-shots",
       {{"Pad Loop.wav", testing::sine16(22050, 220)}, {"Keys Chord,Cmaj.wav", testing::sine16(22050, 330)},
        {"Kick Oneshot.wav", testing::sine16(4410, 60)}},
       0},
      {"a chromatic set", {{"Keys ChromaticMultiSample,0.wav", testing::sine16(8820, 262)},
                           {"Keys ChromaticMultiSample,7.wav", testing::sine16(8820, 392)}}, 0},
      // 15 s: the OP-1 kit is shortened 4 semitones, the OP-XY kit not.
      {"more than 12 s", {{"a.wav", testing::mono16(44100 * 5)}, {"b.wav", testing::mono16(44100 * 5)},
                          {"c.wav", testing::mono16(44100 * 5)}}, -4},
  };
  const std::map<std::string, std::string> words = {{"plain", "gate"}, {"one-shot", "oneshot"}, {"loop", "loop"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir("kit");
    for (const auto& [name, bytes] : c.files) dir.write(name, bytes);
    ASSERT_EQ(testing::run_program({"--device", "op-xy", dir.path}).status, 0);
    ASSERT_EQ(testing::run_program({dir.path}).status, 0);
    const testing::RunResult inspected =
        testing::run_program({"--json", dir.file("samplepack.aif")}, KITWEAVER_INSPECT_BINARY);
    const nlohmann::json op1 = nlohmann::json::parse(inspected.out);
    const std::map<int, nlohmann::json> pads = regions_of(dir.file("kit.preset"));
    ASSERT_EQ(pads.size(), 24u);
    for (int k = 0; k < 24; ++k) {
      const nlohmann::json& key = op1["keys"][static_cast<std::size_t>(k)];
      const nlohmann::json& region = pads.at(k);
      EXPECT_EQ(region["transpose"].get<int>(), std::lround(key["pitch_semitones"].get<double>()) - c.correction) << k;
      EXPECT_EQ(region["reverse"].get<bool>(), key["direction"] == "reversed") << k;
      EXPECT_EQ(region["playmode"], words.at(key["play_mode"])) << k;
      EXPECT_EQ(region["framecount"], region["sample.end"]);
      const std::vector<std::int16_t> sound = wav_samples(dir.file("kit.preset") + kPathSeparator +
                                                          region["sample"].get<std::string>());
      EXPECT_EQ(static_cast<std::int64_t>(sound.size()), region["framecount"].get<std::int64_t>()) << k;
    }
  }
}

// Each side of a stereo recording is the sample of that side's channel
// alone, by default and with --hq; a recording of 30 s is shortened to fit
// 20 s, and its keys carry the correction.
TEST(Opxy, StereoSidesAndALongRecording) {
  TempDir both("both"), left("left"), right("right");
  wav::WavShape shape, one;
  shape.channels = 2;
  for (int i = 0; i < 20000; ++i) {
    const auto l = static_cast<std::int16_t>((i * 37) % 20000 - 10000);
    const auto r = static_cast<std::int16_t>((i * 91) % 16000 - 8000);
    for (std::int16_t v : {l, r}) {
      shape.data.push_back(static_cast<std::uint8_t>(v));
      shape.data.push_back(static_cast<std::uint8_t>(v >> 8));
    }
  }
  both.write("s.wav", wav::wav_bytes(shape));
  for (int side = 0; side < 2; ++side) {
    one.data.clear();
    for (std::size_t i = 0; i < shape.data.size(); i += 4) {
      one.data.push_back(shape.data[i + 2 * static_cast<std::size_t>(side)]);
      one.data.push_back(shape.data[i + 2 * static_cast<std::size_t>(side) + 1]);
    }
    (side == 0 ? left : right).write("s.wav", wav::wav_bytes(one));
  }
  for (bool hq : {false, true}) {
    std::vector<std::vector<std::int16_t>> sounds;
    for (const TempDir* dir : {&both, &left, &right}) {
      std::vector<std::string> args = {"--device", "op-xy", dir->path};
      if (hq) args.insert(args.begin(), "--hq");
      ASSERT_EQ(testing::run_program(args).status, 0);
      sounds.push_back(wav_samples(dir->file(fs::path(dir->path).filename().string() + ".preset") +
                                   kPathSeparator + "s.wav"));
    }
    ASSERT_EQ(sounds[0].size(), 2 * sounds[1].size());
    for (std::size_t i = 0; i < sounds[1].size(); ++i) {
      ASSERT_EQ(sounds[0][2 * i], sounds[1][i]) << hq << " " << i;
      ASSERT_EQ(sounds[0][2 * i + 1], sounds[2][i]) << hq << " " << i;
    }
  }

  // 30 s into 20 s: a factor of 2/3, C#4, 8 semitones down.
  TempDir long_kit("long");
  long_kit.write("take.wav", testing::mono16(44100 * 30));
  const testing::RunResult run = testing::run_program({"--device", "op-xy", long_kit.path});
  EXPECT_NE(run.out.find("\tlength 30.00s, resampling to 27781Hz, pitching down 8 semitones\n"), std::string::npos)
      << run.out;
  const std::map<int, nlohmann::json> pads = regions_of(long_kit.file("long.preset"));
  EXPECT_EQ(pads.at(0)["transpose"], -8);
  EXPECT_EQ(pads.at(0)["framecount"], 833437);  // 30 s at 4434.92 / 16 x 44100 / 440 Hz
  EXPECT_EQ(pads.at(1)["transpose"], -8);       // reversed
  EXPECT_EQ(pads.at(2)["transpose"], -11);      // detuned 3 down
}

// Where a preset goes: into the recordings' folder, into a folder -o names,
// or to a path ending in .preset; any other target is refused, and so is an
// existing one that is no drum preset. A preset is replaced whole, the
// files it no longer holds named.
TEST(Opxy, WhereAPresetGoes) {
  TempDir kit("my kit!");
  kit.write("kick.wav", testing::mono16(441));
  kit.write("snare.wav", testing::mono16(441));
  TempDir out("out");
  testing::write_file(out.file("file.txt"), {'x'});
  fs::create_directories(out.file("other.preset"));
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string last_line;
  };
  const std::string preset = kit.file("my kit-.preset");
  const Case cases[] = {
      {{"--device", "op-xy", kit.path}, 0, "Wrote " + preset},
      {{"--device", "op-xy", "-o", out.path, kit.path}, 0, "Wrote " + out.file("my kit-.preset")},
      {{"--device", "op-xy", "-o", out.file("named.preset"), kit.path}, 0, "Wrote " + out.file("named.preset")},
      {{"--device", "op-xy", "-o", out.file("file.txt"), kit.path}, 1,
       "Could not write [" + out.file("file.txt") + "]: an OP-XY preset goes into a folder, or to a path ending in .preset"},
      {{"--device", "op-xy", "-o", out.file("other.preset"), kit.path}, 1,
       "Could not write [" + out.file("other.preset") + "]: not an OP-XY drum preset"},
      {{"--device", "xy", kit.path}, 2, "Unknown device [xy]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[c.args.size() - 2]);
    const testing::RunResult run = testing::run_program(c.args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.out.find(c.last_line + "\n"), std::string::npos) << run.out;
  }
  EXPECT_EQ(testing::entry_set(preset), (std::set<std::string>{"kick.wav", "snare.wav", "patch.json"}));
  // Again without the snare: the earlier preset gives way whole.
  fs::remove(kit.file("snare.wav"));
  const testing::RunResult again = testing::run_program({"--device", "op-xy", kit.path});
  EXPECT_NE(again.out.find("Removed [" + preset + kPathSeparator + "snare.wav]\nWrote " + preset + "\n"),
            std::string::npos)
      << again.out;
  EXPECT_EQ(testing::entry_set(preset), (std::set<std::string>{"kick.wav", "patch.json"}));
  EXPECT_EQ(testing::entry_set(kit.root), (std::set<std::string>{"my kit!"}));
  EXPECT_EQ(testing::run_program({"--device", "op-xy", kit.path + " PO-33.4"}).status, 2);
}

}  // namespace
}  // namespace kitweaver
