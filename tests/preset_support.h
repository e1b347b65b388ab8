// Presets for the tests: one written by hand in the OP-XY's own form, and
// the reading of a preset's patch.json and WAV files.
#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "format/wav_file.h"
#include "test_support.h"

namespace kitweaver::testing {

// A drum preset as the device writes one, by hand: 23 regions (pad 7 has
// none) in the order pads 0, 14, 21, 4, ... , pad P playing "pad P.wav" of
// 100 + 10 P frames; pad 3 adds a gain, pad 5 a trim.
inline std::string hand_preset(const std::string& pad_9_playmode = "group", std::int64_t pad_9_framecount = 190) {
  const char* modes[4] = {"gate", "oneshot", "group", "loop"};
  std::string regions;
  for (int i = 0; i < 24; ++i) {
    const int pad = i * 7 % 24;
    if (pad == 7) continue;
    const std::string frames = std::to_string(100 + 10 * pad);
    regions += std::string(regions.empty() ? "" : ",") + R"({"fade.in":0,"fade.out":0,"framecount":)" +
               (pad == 9 ? std::to_string(pad_9_framecount) : frames) + (pad == 3 ? R"(,"gain":7)" : "") +
               R"(,"hikey":)" + std::to_string(53 + pad) + R"(,"lokey":)" + std::to_string(53 + pad) +
               R"(,"pan":0,"pitch.keycenter":60,"playmode":")" + (pad == 9 ? pad_9_playmode : modes[pad % 4]) +
               R"(","reverse":)" + (pad == 2 ? "true" : "false") + R"(,"sample":"pad )" + std::to_string(pad) +
               R"(.wav","sample.end":)" + frames + (pad == 5 ? R"(,"sample.start":20)" : "") +
               R"(,"transpose":0,"tune":0})";
  }
  return std::string(R"({"engine":{},"octave":0,)") + R"("platform":"OP-XY","regions":[)" + regions + R"(],"type":"drum","version":4})" + "\n";
}


// Pad P's sample: `frames` frames of P x 1000 + the frame's index (minus
// it on the right of a stereo one).
inline wav::Bytes pad_sample(int pad, std::size_t frames, int channels = 1) {
  std::vector<std::int16_t> samples;
  for (std::size_t f = 0; f < frames; ++f) {
    for (int c = 0; c < channels; ++c) {
      samples.push_back(static_cast<std::int16_t>((c == 0 ? 1 : -1) * (pad * 1000 + static_cast<int>(f % 1000))));
    }
  }
  return wav_file_bytes(samples.data(), frames, channels, true);
}

// The hand-written preset in `dir`, with its samples (pad 2's in stereo).
inline void write_hand_preset(const testing::TempDir& dir, const std::string& json) {
  dir.write("patch.json", wav::Bytes(json.begin(), json.end()));
  for (int pad = 0; pad < 24; ++pad) {
    if (pad != 7) dir.write("pad " + std::to_string(pad) + ".wav", pad_sample(pad, 100 + 10 * static_cast<std::size_t>(pad), pad == 2 ? 2 : 1));
  }
}

inline nlohmann::json json_of(const std::string& path) {
  return nlohmann::json::parse(read_bytes(path), nullptr, false);
}

// The regions of the preset at `preset`, by pad.
inline std::map<int, nlohmann::json> regions_of(const std::string& preset) {
  std::map<int, nlohmann::json> pads;
  const nlohmann::json patch = json_of(preset + kPathSeparator + "patch.json");
  for (const auto& region : patch["regions"]) {
    pads[region["hikey"].get<int>() - 53] = region;
  }
  return pads;
}

// The samples of a 16-bit WAV file, channels interleaved, after its header.
inline std::vector<std::int16_t> wav_samples(const std::string& path) {
  const wav::Bytes bytes = read_bytes(path);
  std::vector<std::int16_t> samples;
  const std::size_t data = std::string(bytes.begin(), bytes.end()).find("data") + 8;
  for (std::size_t i = data; i + 1 < bytes.size(); i += 2) {
    samples.push_back(static_cast<std::int16_t>(bytes[i] | (bytes[i + 1] << 8)));
  }
  return samples;
}

}  // namespace kitweaver::testing
