#include "viewer/playback.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>

#include "format/drum_format.h"
#include "slice/sinc_resampler.h"

namespace kitweaver::inspect {
namespace {


const char* play_mode_word(std::int64_t play_mode) {
  if (play_mode == kPlayOneShot) return " Oneshot";
  if (play_mode == kPlayLoop) return " Loop";
  return "";
}

}  // namespace

std::string play_faster(const Sound& sound, double semitones, Sound* out) {
  const double ratio = std::exp2(-std::clamp(semitones, -kMostPitchSemitones, kMostPitchSemitones) / 12.0);
  const auto channels = static_cast<std::size_t>(sound.channels);
  out->channels = sound.channels;
  out->samples.clear();
  for (std::size_t c = 0; c < channels; ++c) {
    std::vector<Sample> values(sound.frames());
    for (std::size_t i = 0; i < values.size(); ++i) {
      values[i] = static_cast<Sample>(sound.samples[i * channels + c]) * Sample{1.0 / 32768.0};
    }
    std::vector<Sample> resampled;
    // The pack's 44.1 kHz frames, heard at 44.1 kHz x ratio.
    if (!resample_all(values, kPackRate, kPackRate * ratio, &resampled)) return "resampling failed";
    if (c == 0) out->samples.resize(resampled.size() * channels);
    for (std::size_t i = 0; i < resampled.size() && i * channels + c < out->samples.size(); ++i) {
      out->samples[i * channels + c] = to_pcm16(resampled[i]);
    }
  }
  return "";
}

void reverse_frames(Sound* sound) {
  const auto channels = static_cast<std::ptrdiff_t>(sound->channels);
  std::reverse(sound->samples.begin(), sound->samples.end());
  // Reversing the samples reversed the channels within each frame too.
  for (auto frame = sound->samples.begin(); frame != sound->samples.end(); frame += channels) {
    std::reverse(frame, frame + channels);
  }
}

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

Sound slice_sound(const Pack& pack, const KeyRow& row) {
  Sound sound;
  sound.channels = std::max(1, pack.channels);
  // The reader keeps both frames inside the sound.
  const auto channels = static_cast<std::ptrdiff_t>(sound.channels);
  const auto from = pack.samples.begin() + static_cast<std::ptrdiff_t>(row.start_frame) * channels;
  sound.samples.assign(from, from + static_cast<std::ptrdiff_t>(row.frame_count()) * channels);
  return sound;
}

std::string key_sound(const Pack& pack, const KeyRow& row, Sound* sound) {
  Sound slice = slice_sound(pack, row);
  if (row.reverse == kReversed) reverse_frames(&slice);
  if (row.pitch_raw == 0 || slice.samples.empty()) {
    *sound = std::move(slice);
    return "";
  }
  return play_faster(slice, row.pitch_semitones(), sound);
}

std::string audition(const Pack& pack, const std::vector<int>& keys, Sound* sound) {
  sound->channels = std::max(1, pack.channels);
  sound->samples.clear();
  for (std::size_t i = 0; i < keys.size(); ++i) {
    Sound key;
    const std::string error = key_sound(pack, pack.keys[static_cast<std::size_t>(keys[i])], &key);
    if (!error.empty()) return "key " + std::to_string(keys[i]) + ": " + error;
    if (i > 0) sound->samples.insert(sound->samples.end(), kAuditionGapFrames * static_cast<std::size_t>(sound->channels), 0);
    sound->samples.insert(sound->samples.end(), key.samples.begin(), key.samples.end());
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
    KeyRow voice = pack.keys[static_cast<std::size_t>(forwards != keys.end() ? *forwards : keys.front())];
    // A slice's end is its last frame. Where the next slice starts on it
    // (as a Kitweaver pack lays slices out, and the devices' round
    // positions), that frame is the next slice's first: the slice taken
    // out stops before it.
    const bool shares_end = std::any_of(pack.keys.begin(), pack.keys.end(), [&voice](const KeyRow& other) {
      return other.slice != voice.slice && other.frame_count() > 0 && other.start_frame == voice.end_frame &&
             other.start_frame > voice.start_frame;
    });
    if (shares_end && voice.frame_count() > 0) --voice.end_frame;
    if (voice.frame_count() == 0) continue;

    ExtractedSlice out;
    char number[16];
    std::snprintf(number, sizeof number, "%02d", slice);
    out.name = std::string(number) + " keys";
    for (int k : keys) out.name += " " + std::to_string(k);
    out.name += std::string(play_mode_word(voice.play_mode)) + ".wav";
    if (raw) {
      out.sound = slice_sound(pack, voice);
    } else if (std::string error = key_sound(pack, voice, &out.sound); !error.empty()) {
      return "slice " + std::to_string(slice) + ": " + error;
    }
    if (out.sound.frames() == 0) continue;  // too short to last a frame at its pitch
    slices->push_back(std::move(out));
  }
  return "";
}

}  // namespace kitweaver::inspect
