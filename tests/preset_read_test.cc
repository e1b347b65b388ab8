// OP-XY presets read back by kitweaver-inspect: the table, the pads played
// and taken out, and a line for each problem the device would meet.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "format/opxy_preset.h"
#include "format/wav_file.h"
#include "preset_support.h"
#include "test_support.h"

namespace kitweaver {
namespace {

using testing::hand_preset;
using testing::pad_sample;
using testing::write_hand_preset;

using wav::Bytes;


std::vector<std::string> warnings_of(const std::string& out) {
  std::vector<std::string> lines;
  for (std::size_t at = out.find("warning: "); at != std::string::npos; at = out.find("warning: ", at + 1)) {
    lines.push_back(out.substr(at + 9, out.find('\n', at) - at - 9));
  }
  return lines;
}

TEST(InspectPreset, ReadsTheDevicesPresetAndPlaysItsPads) {
  testing::TempDir dir("hand.preset");
  write_hand_preset(dir, hand_preset());
  testing::RunResult r = testing::run_program({dir.path}, KITWEAVER_INSPECT_BINARY);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.substr(0, r.out.find('\n', r.out.find("\n  4 ") + 1) + 1),
            "OP-XY drum preset \"hand\", 23 regions\n\n"
            "pad  note  sample                    framecount  file frames       start         end  play mode  reverse  "
            "transpose   tune  gain   pan\n"
            "  0    53  pad 0.wav                        100          100           -         100  gate       no              +0     +0     -    +0\n"
            "  1    54  pad 1.wav                        110          110           -         110  oneshot    no              +0     +0     -    +0\n"
            "  2    55  pad 2.wav                        120          120           -         120  group      yes             +0     +0     -    +0\n"
            "  3    56  pad 3.wav                        130          130           -         130  loop       no              +0     +0     7    +0\n"
            "  4    57  pad 4.wav                        140          140           -         140  gate       no              +0     +0     -    +0\n");
  EXPECT_NE(r.out.find("\n  5    58  pad 5.wav                        150          150          20         150  oneshot"), std::string::npos);
  EXPECT_EQ(r.out.find("\n  7 "), std::string::npos);
  EXPECT_TRUE(warnings_of(r.out).empty()) << r.out;

  r = testing::run_program({dir.file("patch.json"), "--json"}, KITWEAVER_INSPECT_BINARY);
  ASSERT_EQ(r.status, 0);
  const nlohmann::json doc = nlohmann::json::parse(r.out);
  ASSERT_EQ(doc["regions"].size(), 23u);
  EXPECT_EQ(doc["regions"][5], nlohmann::json::parse(R"({"pad":5,"note":58,"lokey":58,"sample":"pad 5.wav","framecount":150,
      "file_frames":150,"start":20,"end":150,"play_mode":"oneshot","reverse":false,"transpose":0,"tune":0,"gain":null,
      "pan":0,"fade_in":0,"fade_out":0})"));
  EXPECT_EQ(doc["regions"][3]["gain"], 7);

  // Pad 5 from its trim, then pad 2 (stereo) reversed; pad 7 is silence.
  const std::string heard = dir.root + "/heard.wav";
  r = testing::run_program({dir.path, "--audition", heard, "--keys", "5,2,7"}, KITWEAVER_INSPECT_BINARY);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out, heard + ": pads 5 2 7, 0.506 s\n");
  const Bytes bytes = testing::read_bytes(heard);
  ASSERT_EQ(bytes.size(), 44u + 4 * (130 + 11025 + 120 + 11025));
  EXPECT_EQ(load_le16(bytes.data() + 22), 2);
  auto sample = [&](std::size_t frame, int channel) {
    return static_cast<std::int16_t>(load_le16(bytes.data() + 44 + 4 * frame + 2 * static_cast<std::size_t>(channel)));
  };
  EXPECT_EQ(sample(0, 0), 5020);
  EXPECT_EQ(sample(0, 1), 5020);  // a mono sample on both sides
  EXPECT_EQ(sample(129, 0), 5149);
  EXPECT_EQ(sample(130, 0), 0);
  EXPECT_EQ(sample(130 + 11025, 0), 2119);
  EXPECT_EQ(sample(130 + 11025, 1), -2119);
  EXPECT_EQ(sample(130 + 11025 + 119, 0), 2000);
}

TEST(InspectPreset, EachProblemTheDeviceWouldMeetGetsItsLine) {
  const std::string two_more =
      R"(,{"fade.in":0,"fade.out":0,"framecount":170,"hikey":60,"lokey":60,"pan":0,"pitch.keycenter":60,"playmode":"gate","reverse":false,"sample":"pad 7.wav","sample.end":170,"transpose":0,"tune":0})"
      R"(,{"fade.in":0,"fade.out":0,"framecount":100,"hikey":53,"lokey":53,"pan":0,"pitch.keycenter":60,"playmode":"gate","reverse":false,"sample":"pad 0.wav","sample.end":100,"transpose":0,"tune":0}])";
  struct Case {
    const char* folder;
    std::vector<std::pair<std::string, std::string>> edits;  // in patch.json
    std::vector<std::pair<std::string, Bytes>> files;       // written over the samples; empty bytes: removed
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"mode.preset", {{R"("group","reverse":false,"sample":"pad 6.wav")", R"("stretch","reverse":false,"sample":"pad 6.wav")"}}, {},
       {"pad 6: play mode \"stretch\" is not gate, oneshot, group or loop; the device plays it as oneshot"}},
      {"count.preset", {{R"("framecount":190)", R"("framecount":191)"}}, {}, {"pad 9: framecount 191 is not the file's 190 frames"}},
      {"end.preset", {{R"("framecount":190)", R"("framecount":180)"}}, {{"pad 9.wav", pad_sample(9, 180)}},
       {"pad 9: sample.end 190 is past the file's end (180 frames)"}},
      {"missing.preset", {}, {{"pad 9.wav", {}}}, {"pad 9: sample \"pad 9.wav\" is missing"}},
      {"name\xC3\xBC.preset", {{"pad 9.wav", "pad_9.wav"}}, {{"pad_9.wav", pad_sample(9, 190)}},
       {"preset name \"name\xC3\xBC\" has characters the device refuses", "pad 9: sample \"pad_9.wav\" has characters the device refuses"}},
      {"outside.preset", {{R"("hikey":62,"lokey":62)", R"("hikey":80,"lokey":80)"}}, {},
       {"pad 27: hikey 80 is outside 53 to 76; the device has no such pad"}},
      {"twice.preset", {{R"("hikey":62,"lokey":62)", R"("hikey":61,"lokey":61)"}}, {},
       {"pad 8: a second region on the pad; the device plays one"}},
      {"long.preset", {{R"("framecount":190)", R"("framecount":926100)"}, {R"("sample.end":190)", R"("sample.end":926100)"}},
       {{"pad 9.wav", pad_sample(9, 926100)}}, {"pad 9: sample \"pad 9.wav\" is 21.000 s long; the device plays 20 s at most"}},
      {"many.preset", {{"}],", "}" + two_more + ","}}, {{"pad 7.wav", pad_sample(7, 170)}},
       {"pad 0: a second region on the pad; the device plays one", "25 regions; the device plays 24 at most"}},
  };
  for (const Case& c : cases) {
#ifdef _WIN32
    // The tests' folders are made through std::filesystem, which takes no
    // UTF-8 name on Windows; the programs' own names are tested elsewhere.
    if (std::string(c.folder).find('\xC3') != std::string::npos) continue;
#endif
    testing::TempDir dir(c.folder);
    std::string json = hand_preset();
    for (const auto& [from, to] : c.edits) {
      for (std::size_t at = json.find(from); at != std::string::npos; at = json.find(from, at + to.size())) json.replace(at, from.size(), to);
    }
    write_hand_preset(dir, json);
    for (const auto& [name, bytes] : c.files) {
      if (bytes.empty()) std::filesystem::remove(dir.file(name));
      else dir.write(name, bytes);
    }
    const testing::RunResult r = testing::run_program({dir.path}, KITWEAVER_INSPECT_BINARY);
    EXPECT_EQ(r.status, 0) << c.folder;
    EXPECT_EQ(warnings_of(r.out), c.lines) << c.folder << "\n" << r.out;
  }

  // A patch.json that is no drum preset opens nothing.
  testing::TempDir dir("bad.preset");
  const std::pair<std::string, std::string> refused[] = {
      {"{\"type\":\"drum\",", ": not JSON"}, {R"({"type":"synth","regions":[]})", ": not an OP-XY drum preset (its type is \"synth\")"}};
  for (const auto& [text, line] : refused) {
    dir.write("patch.json", Bytes(text.begin(), text.end()));
    for (const std::string& path : {dir.path, dir.file("patch.json")}) {
      const testing::RunResult r = testing::run_program({path}, KITWEAVER_INSPECT_BINARY, -1, true);
      EXPECT_EQ(r.status, 1) << text;
      EXPECT_EQ(r.err, "kitweaver-inspect: " + dir.file("patch.json") + line + "\n") << text;
      EXPECT_EQ(r.out, "") << text;
    }
  }
}

}  // namespace
}  // namespace kitweaver
