#include "viewer/preset_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "format/byte_source.h"
#include "intake/wav_reader.h"
#include "kitweaver/records.h"
#include "slice/sample_decoding.h"
#include "system/files.h"

namespace kitweaver::inspect {
namespace {

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

std::string pad_label(const PresetRegion& region) { return "pad " + std::to_string(region.pad); }

bool ends_with_preset(const std::string& name) {
  const std::string suffix = kOpxyPresetSuffix;
  return name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Whether the device takes the name: its characters, and "." only before
// an extension.
bool device_takes(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  const std::string extension = dot == std::string::npos ? "" : name.substr(dot + 1);
  return !stem.empty() && device_name(stem) == stem && device_name(extension) == extension;
}

// A sample named as a file beside patch.json: no folder, no "." or "..".
bool plain_file_name(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  return std::none_of(name.begin(), name.end(), [](char c) { return c == '/' || c == '\\' || c == ':'; });
}

// Reads a sample file into `pad`: an empty text, or the problem.
std::string read_sample(const std::string& path, PresetPad* pad) {
  std::vector<std::uint8_t> bytes;
  if (int error = read_whole_file(path, &bytes)) {
    return entry_exists(path) ? "cannot be read: " + error_text(error) : "is missing";
  }
  const ByteSource source{bytes.data(), bytes.size()};
  WavLayout layout;
  if (read_recording_header(source, &layout) != WavVerdict::kAccepted) {
    return "is not a recording (" + (layout.rejection.empty() ? std::string("not a WAV or AIFF file") : layout.rejection) + ")";
  }
  SampleRecord record;
  record.encoding = layout.encoding;
  record.bits_per_sample = layout.bits_per_sample;
  const auto width = static_cast<std::size_t>(layout.bits_per_sample / 8);
  const auto channels = static_cast<std::size_t>(layout.channels);
  const std::uint64_t held = std::min<std::uint64_t>(static_cast<std::uint64_t>(layout.data_bytes), layout.data_available);
  const std::size_t frames = static_cast<std::size_t>(held / (width * channels));
  pad->file_frames = static_cast<std::int64_t>(frames);
  pad->file_rate = layout.sample_rate;
  pad->sound.channels = channels == 2 ? 2 : 1;
  pad->sound.samples.assign(frames * static_cast<std::size_t>(pad->sound.channels), 0);
  const std::uint8_t* data = bytes.data() + layout.data_offset;
  const bool decoded = with_sample_type(sample_type_of(record), [&](auto type) {
    constexpr SampleType kType = decltype(type)::value;
    for (std::size_t f = 0; f < frames; ++f) {
      const std::uint8_t* frame = data + f * width * channels;
      if (channels <= 2) {
        for (std::size_t c = 0; c < channels; ++c) {
          pad->sound.samples[f * channels + c] = static_cast<std::int16_t>(sample16<kType>(frame + c * width));
        }
      } else {
        long sum = 0;
        for (std::size_t c = 0; c < channels; ++c) sum += sample16<kType>(frame + c * width);
        pad->sound.samples[f] = static_cast<std::int16_t>(sum / static_cast<long>(channels));
      }
    }
  });
  if (!decoded) return "is not a recording (its samples are of no kind Kitweaver reads)";
  pad->file_read = true;
  return "";
}

// The problems the device would meet with one region.
void check_region(const PresetPad& pad, std::vector<std::string>* problems) {
  const PresetRegion& r = pad.region;
  const std::string label = pad_label(r);
  auto problem = [&](const std::string& line) { problems->push_back(label + ": " + line); };
  if (r.hikey < kOpxyFirstNote || r.hikey >= kOpxyFirstNote + kOpxyPadCount) {
    problem("hikey " + std::to_string(r.hikey) + " is outside 53 to 76; the device has no such pad");
  }
  if (!plain_file_name(r.sample)) {
    problem("sample " + quoted(r.sample) + " is no file name beside patch.json");
    return;
  }
  if (!device_takes(r.sample)) problem("sample " + quoted(r.sample) + " has characters the device refuses");
  if (!known_play_mode(r.playmode)) {
    problem("play mode " + quoted(r.playmode) + " is not gate, oneshot, group or loop; the device plays it as oneshot");
  }
}

}  // namespace

bool names_preset(const std::string& path) {
  if (is_folder(path)) return entry_exists(join_path(path, kOpxyPatchFile)) && !is_folder(join_path(path, kOpxyPatchFile));
  return last_path_component(path) == kOpxyPatchFile;
}

std::string read_preset(const std::string& path, Preset* preset) {
  *preset = Preset{};
  const bool folder = is_folder(path);
  const std::string patch = folder ? join_path(path, kOpxyPatchFile) : path;
  preset->folder = folder ? path : folder_of(path);
  preset->name = folder_own_name(preset->folder);
  if (ends_with_preset(preset->name)) preset->name.resize(preset->name.size() - std::string(kOpxyPresetSuffix).size());
  std::vector<std::uint8_t> bytes;
  if (int error = read_whole_file(patch, &bytes)) return patch + ": cannot be read: " + error_text(error);
  std::vector<PresetRegion> regions;
  const std::string refused = read_preset_json(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), &regions);
  if (!refused.empty()) return patch + ": " + refused;

  std::vector<std::string>& problems = preset->problems;
  if (!preset->name.empty() && !device_takes(preset->name)) {
    problems.push_back("preset name " + quoted(preset->name) + " has characters the device refuses");
  }
  for (const PresetRegion& region : regions) {
    PresetPad pad;
    pad.region = region;
    preset->regions.push_back(std::move(pad));
  }
  std::stable_sort(preset->regions.begin(), preset->regions.end(),
                   [](const PresetPad& a, const PresetPad& b) { return a.region.pad < b.region.pad; });
  for (std::size_t i = 0; i < preset->regions.size(); ++i) {
    PresetPad& pad = preset->regions[i];
    const PresetRegion& r = pad.region;
    const std::string label = pad_label(r);
    check_region(pad, &problems);
    if (i > 0 && preset->regions[i - 1].region.pad == r.pad) {
      problems.push_back(label + ": a second region on the pad; the device plays one");
    }
    if (!plain_file_name(r.sample)) continue;
    if (std::string problem = read_sample(join_path(preset->folder, r.sample), &pad); !problem.empty()) {
      problems.push_back(label + ": sample " + quoted(r.sample) + " " + problem);
      continue;
    }
    const std::string file_frames = std::to_string(pad.file_frames);
    if (r.framecount != pad.file_frames) {
      problems.push_back(label + ": framecount " + std::to_string(r.framecount) + " is not the file's " + file_frames + " frames");
    }
    if (r.sample_end > pad.file_frames) {
      problems.push_back(label + ": sample.end " + std::to_string(r.sample_end) + " is past the file's end (" + file_frames + " frames)");
    }
    const double seconds = pad.file_rate > 0 ? static_cast<double>(pad.file_frames) / pad.file_rate : 0.0;
    if (seconds > kOpxyMostSampleSeconds) {
      char line[160];
      std::snprintf(line, sizeof line, ": sample %s is %.3f s long; the device plays %.0f s at most", quoted(r.sample).c_str(),
                    seconds, kOpxyMostSampleSeconds);
      problems.push_back(label + line);
    }
  }
  if (preset->regions.size() > static_cast<std::size_t>(kOpxyPadCount)) {
    problems.push_back(std::to_string(preset->regions.size()) + " regions; the device plays 24 at most");
  }
  return "";
}

const PresetPad* pad_region(const Preset& preset, int pad) {
  for (const PresetPad& region : preset.regions) {
    if (region.region.pad == pad) return &region;
  }
  return nullptr;
}

std::string region_sound(const PresetPad& pad, Sound* sound) {
  const PresetRegion& r = pad.region;
  sound->channels = pad.sound.channels;
  sound->samples.clear();
  const std::int64_t frames = pad.file_frames;
  const std::int64_t start = std::clamp<std::int64_t>(r.sample_start.value_or(0), 0, frames);
  const std::int64_t end = std::clamp<std::int64_t>(r.sample_end, start, frames);
  Sound trimmed;
  trimmed.channels = pad.sound.channels;
  const auto channels = static_cast<std::ptrdiff_t>(trimmed.channels);
  trimmed.samples.assign(pad.sound.samples.begin() + static_cast<std::ptrdiff_t>(start) * channels,
                         pad.sound.samples.begin() + static_cast<std::ptrdiff_t>(end) * channels);
  if (r.reverse) reverse_frames(&trimmed);
  double semitones = r.transpose + r.tune / 100.0;
  if (pad.file_rate > 0 && pad.file_rate != kPackRate) semitones += 12.0 * std::log2(pad.file_rate / double{kPackRate});
  if (semitones == 0.0 || trimmed.samples.empty()) {
    *sound = std::move(trimmed);
    return "";
  }
  return play_faster(trimmed, semitones, sound);
}

std::string preset_audition(const Preset& preset, const std::vector<int>& pads, Sound* sound) {
  sound->channels = 1;
  for (const PresetPad& pad : preset.regions) sound->channels = std::max(sound->channels, pad.sound.channels);
  sound->samples.clear();
  const auto channels = static_cast<std::size_t>(sound->channels);
  for (std::size_t i = 0; i < pads.size(); ++i) {
    if (i > 0) sound->samples.insert(sound->samples.end(), kAuditionGapFrames * channels, 0);
    const PresetPad* pad = pad_region(preset, pads[i]);
    if (pad == nullptr || !pad->file_read) continue;
    Sound heard;
    if (std::string error = region_sound(*pad, &heard); !error.empty()) return "pad " + std::to_string(pads[i]) + ": " + error;
    // A mono sample sounds on both sides of a stereo audition.
    for (std::size_t f = 0; f < heard.frames(); ++f) {
      for (std::size_t c = 0; c < channels; ++c) {
        sound->samples.push_back(heard.samples[f * static_cast<std::size_t>(heard.channels) + (heard.channels == 1 ? 0 : c)]);
      }
    }
  }
  return "";
}

std::string extract_pads(const Preset& preset, bool raw, std::vector<ExtractedSlice>* sounds) {
  sounds->clear();
  std::vector<std::string> stems;
  for (const PresetPad& pad : preset.regions) {
    const std::string& sample = pad.region.sample;
    const std::size_t dot = sample.rfind('.');
    stems.push_back(device_name(last_path_component(dot == std::string::npos ? sample : sample.substr(0, dot))));
    if (stems.back().empty()) stems.back() = "sample";
  }
  for (std::size_t i = 0; i < preset.regions.size(); ++i) {
    const PresetPad& pad = preset.regions[i];
    if (!pad.file_read) continue;
    ExtractedSlice out;
    char number[16];
    std::snprintf(number, sizeof number, "%02d ", std::clamp(pad.region.pad, -9, 99));
    out.name = std::string(number) + stems[i] + (i > 0 && preset.regions[i - 1].region.pad == pad.region.pad ? " " + std::to_string(i) : "") + ".wav";
    if (raw) {
      out.sound = pad.sound;
    } else if (std::string error = region_sound(pad, &out.sound); !error.empty()) {
      return "pad " + std::to_string(pad.region.pad) + ": " + error;
    }
    if (out.sound.frames() == 0) continue;
    sounds->push_back(std::move(out));
  }
  return "";
}

}  // namespace kitweaver::inspect
