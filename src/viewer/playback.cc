#include "viewer/playback.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>

#include "pack/drum_metadata.h"
#include "slice/sinc_resampler.h"

namespace kitweaver::inspect {
namespace {

// Changes of speed beyond eight octaves either way are played at eight.
constexpr double kMostSemitones = 96.0;

// Plays `frames` 2^(semitones/12) times as fast, through the band-limited
// resampler kitweaver --hq renders with, rounded to 16 bits without dither.
std::string play_faster(const Frames& frames, double semitones, Frames* out) {
  const double ratio = std::exp2(-std::clamp(semitones, -kMostSemitones, kMostSemitones) / 12.0);
  std::vector<Sample> values(frames.size());
  std::transform(frames.begin(), frames.end(), values.begin(),
                 [](std::int16_t v) { return static_cast<Sample>(v) * Sample{1.0 / 32768.0}; });
  std::vector<Sample> resampled;
  // The pack's 44.1 kHz frames, heard at 44.1 kHz x ratio.
  if (!resample_all(values, kPackRate, kPackRate * ratio, &resampled)) return "resampling failed";
  out->resize(resampled.size());
  std::transform(resampled.begin(), resampled.end(), out->begin(), [](Sample v) { return to_pcm16(v); });
  return "";
}

const char* play_mode_word(std::int64_t play_mode) {
  if (play_mode == kPlayOneShot) return " Oneshot";
  if (play_mode == kPlayLoop) return " Loop";
  return "";
}

}  // namespace

std::string parse_key_list(std::string_view text, std::vector<int>* keys) {
  const std::string malformed = "key list \"" + std::string(text) + "\" is malformed (use numbers and ranges, as in 0,3,7-9)";
  auto number = [](std::string_view digits, int* value) {
    const char* end = digits.data() + digits.size();
    const auto [stop, error] = std::from_chars(digits.data(), end, *value);
    return !digits.empty() && error == std::errc() && stop == end;
  };
  keys->clear();
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t comma = std::min(text.find(',', at), text.size());
    const std::string_view item = text.substr(at, comma - at);
    const std::size_t dash = item.find('-');
    int first = 0, last = 0;
    if (dash == std::string_view::npos) {
      if (!number(item, &first)) return malformed;
      last = first;
    } else if (!number(item.substr(0, dash), &first) || !number(item.substr(dash + 1), &last) || last < first) {
      return malformed;
    }
    if (first < 0 || last >= kSlotCount) {
      return "key list \"" + std::string(text) + "\" names a key out of range (keys are 0 to 23)";
    }
    for (int key = first; key <= last; ++key) keys->push_back(key);
    at = comma + 1;
  }
  return "";
}

Frames slice_frames(const Pack& pack, const KeyRow& row) {
  const std::int64_t start = row.start_raw / kPositionScale;
  const std::int64_t end = row.end_raw / kPositionScale;  // the reader keeps it inside the sound
  if (end < start) return {};
  return Frames(pack.samples.begin() + start, pack.samples.begin() + end + 1);
}

std::string key_sound(const Pack& pack, const KeyRow& row, Frames* sound) {
  Frames frames = slice_frames(pack, row);
  if (row.reverse == kReversed) std::reverse(frames.begin(), frames.end());
  if (row.pitch_raw == 0 || frames.empty()) {
    *sound = std::move(frames);
    return "";
  }
  return play_faster(frames, row.pitch_semitones(), sound);
}

std::string audition(const Pack& pack, const std::vector<int>& keys, Frames* sound) {
  sound->clear();
  for (std::size_t i = 0; i < keys.size(); ++i) {
    Frames key;
    const std::string error = key_sound(pack, pack.keys[static_cast<std::size_t>(keys[i])], &key);
    if (!error.empty()) return "key " + std::to_string(keys[i]) + ": " + error;
    if (i > 0) sound->insert(sound->end(), kAuditionGapFrames, 0);
    sound->insert(sound->end(), key.begin(), key.end());
  }
  return "";
}

std::string extract_slices(const Pack& pack, bool raw, std::vector<ExtractedSlice>* slices) {
  slices->clear();
  for (int slice = 1; slice <= pack.slice_count; ++slice) {
    std::vector<int> keys;
    for (int k = 0; k < kSlotCount; ++k) {
      if (pack.keys[static_cast<std::size_t>(k)].slice == slice) keys.push_back(k);
    }
    const auto forwards = std::find_if(keys.begin(), keys.end(), [&pack](int k) {
      return pack.keys[static_cast<std::size_t>(k)].reverse != kReversed;
    });
    const KeyRow& voice = pack.keys[static_cast<std::size_t>(forwards != keys.end() ? *forwards : keys.front())];

    ExtractedSlice out;
    char number[16];
    std::snprintf(number, sizeof number, "%02d", slice);
    out.name = std::string(number) + " keys";
    for (int k : keys) out.name += " " + std::to_string(k);
    out.name += std::string(play_mode_word(voice.play_mode)) + ".wav";
    if (raw) {
      out.frames = slice_frames(pack, voice);
    } else if (std::string error = key_sound(pack, voice, &out.frames); !error.empty()) {
      return "slice " + std::to_string(slice) + ": " + error;
    }
    slices->push_back(std::move(out));
  }
  return "";
}

}  // namespace kitweaver::inspect
